// The WMAC channel: the IPC listener on "/tmp/cw_ac_addr", the framing of
// IpcHead messages, the dispatcher of incoming messages, and the sender of
// every outgoing notification with its record layout.
//
// Return convention: 0 handed to the framework (sent, queued, or failed and
// logged), 1 when no event master is set or memory ran out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/bytes.h"
#include "registry/wtpcb.h"

struct lib_globals;
struct thread;

// The header of every WMAC IPC message: seven host-order u32 words.
struct IpcHead {
  uint32_t reserved = 0;
  uint32_t kind = 0;         // 1 on every notification the AC sends
  uint32_t msg_type = 0;
  uint32_t wtp_id = 0;
  uint32_t param = 0;        // type 14: item kind; type 111: snooping argument
  uint32_t payload_len = 0;
  uint32_t frame_param = 0;  // type 28: RID bits 24-28, WBID 16-20, T bit 8
};
inline constexpr size_t kIpcHeadSize = 28;
// The payload a handler was given (empty when null).
inline capwap::ByteView IpcPayload(const IpcHead& head, const uint8_t* payload) {
  return payload ? capwap::ByteView(payload, head.payload_len) : capwap::ByteView{};
}
void IpcHeadEncode(const IpcHead& head, uint8_t out[kIpcHeadSize]);
bool IpcHeadDecode(capwap::ByteView bytes, IpcHead* head);

// Outgoing message types.
enum : uint32_t {
  WMAC_MSG_CREATE_AP = 0,
  WMAC_MSG_DELETE_AP = 1,
  WMAC_MSG_RDBIND = 3,
  WMAC_MSG_DEL_STA = 8,
  WMAC_MSG_RADIO_STATE = 11,
  WMAC_MSG_TUNNEL_STATE = 12,
  WMAC_MSG_BAND_STEER = 23,
  WMAC_MSG_STA_IP = 24,
  WMAC_MSG_SET_BSSID = 30,
  WMAC_MSG_AP_NAME = 31,
  WMAC_MSG_STA_SCAN_RPT = 38,
  WMAC_MSG_AC_CAP = 43,
  WMAC_MSG_MEDIA_RPT = 58,
  WMAC_MSG_WIRELESS_CON = 59,
  WMAC_MSG_AP_INFO = 63,
  WMAC_MSG_APM_AP_INFO = 64,
  WMAC_MSG_APM_AP_INFO_UPDATE = 65,
  WMAC_MSG_AP_RADIO_INFO = 66,
  WMAC_MSG_WAPI = 71,
  WMAC_MSG_WAPI_CLIENT = 73,
  WMAC_MSG_STA_SYNC = 89,
  WMAC_MSG_DEL_SPEC_STA = 93,
  WMAC_MSG_AUTO_CHL = 94,
  WMAC_MSG_DNS_INFO = 97,
  WMAC_MSG_MESH_INFO = 112,
  WMAC_MSG_AP_SN = 115,
};

// Create-AP record (type 0), 72 bytes.
struct WmacCreateApRecord {
  std::string model;  // 32 bytes
  std::string name;   // 33 bytes, NUL-terminated
  std::array<uint8_t, 6> mac{};
  uint8_t auto_created = 0;
};
inline constexpr size_t kWmacCreateApSize = 72;
void WmacCreateApEncode(const WmacCreateApRecord& rec, uint8_t out[kWmacCreateApSize]);

// AP information record (type 63), 176 bytes.
struct WmacApInfoRecord {
  uint32_t apid = 0;
  std::string serial;       // @36, 32 bytes
  std::string sw_version;   // @68, 64 bytes
  std::array<uint8_t, 6> mac{};  // @132
  std::string hw_version;   // @138, 31 bytes
  uint32_t vendor_id = 0;   // @172
};
inline constexpr size_t kWmacApInfoSize = 176;
void WmacApInfoEncode(const WmacApInfoRecord& rec, uint8_t out[kWmacApInfoSize]);
// The AP information record of a WTP (fields as reported at Join).
WmacApInfoRecord WmacApInfoOf(const CW_WTPCB& wtp);

// Tunnel-state record (type 12), 52 bytes.
inline constexpr size_t kTunnelRecordSize = 52;
void TunnelRecordEncode(const CW_TUNNEL_RECORD& rec, uint8_t out[kTunnelRecordSize]);
bool TunnelRecordDecode(capwap::ByteView bytes, CW_TUNNEL_RECORD* rec);

// Profile record (types 64, 65) and radio record (type 66), 204 bytes each.
inline constexpr size_t kWmacProfileRecordSize = 204;
// Builds the profile record from an APM profile payload (128 bytes) and the
// AP ID found by its MAC; the radio record from an APM radio payload (76
// bytes). False (out untouched) when the payload is too short.
bool WmacProfileRecordFromApm(capwap::ByteView apm_payload, uint32_t apid,
                              uint8_t out[kWmacProfileRecordSize]);
bool WmacRadioRecordFromApm(capwap::ByteView apm_payload, uint32_t apid,
                            uint8_t out[kWmacProfileRecordSize]);

// --- Fixed-size payloads -------------------------------------------------
// Each record lists its fields once, at their offsets in host order; the
// same list reads and writes it. Decode is false (out untouched) when the
// payload is shorter than the record; octets past the record are not read.
inline bool WmacPad(capwap::HostReader& r, size_t n) { return r.skip(n); }
inline bool WmacPad(capwap::HostWriter& w, size_t n) { return w.zeros(n); }

template <class R>
bool WmacRecordDecode(capwap::ByteView in, R* out) {
  capwap::HostReader r(in);
  R rec;
  if (!R::Fields(r, rec)) return false;
  *out = rec;
  return true;
}
template <class R>
std::array<uint8_t, R::kSize> WmacRecordEncode(const R& rec) {
  std::array<uint8_t, R::kSize> out{};
  capwap::HostWriter w(out.data(), out.size());
  R::Fields(w, rec);
  return out;
}

// Set-BSSID notification (type 30).
struct WmacSetBssidRecord {
  static constexpr size_t kSize = 8;
  uint8_t radio_id = 0;
  uint8_t wlan_id = 0;
  std::array<uint8_t, 6> bssid{};
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {  // @0 @1 @2
    return io.u8(r.radio_id) && io.u8(r.wlan_id) && io.bytes(r.bssid.data(), 6);
  }
};
// Band steering (type 40).
struct WmacBandSteerRecord {
  static constexpr size_t kSize = 12;
  uint8_t byte0 = 0, byte1 = 0;
  uint32_t word4 = 0, word8 = 0;
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.byte0) && io.u8(r.byte1) && WmacPad(io, 2) && io.u32(r.word4) &&  // @0 @1 @4
           io.u32(r.word8);                                                           // @8
  }
};
// Signal thresholds (types 52, 53, 54).
struct WmacSignalRecord {
  static constexpr size_t kSize = 4;
  uint8_t byte0 = 0;
  uint16_t threshold = 0;
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.byte0) && WmacPad(io, 1) && io.u16(r.threshold);  // @0 @2
  }
};
// Environment monitor (type 62).
struct WmacEnvMonitorRecord {
  static constexpr size_t kSize = 40;
  uint8_t byte0 = 0;
  uint32_t word4 = 0, word8 = 0, word36 = 0;
  std::array<uint8_t, 23> data{};
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.byte0) && WmacPad(io, 3) && io.u32(r.word4) && io.u32(r.word8) &&  // @0 @4 @8
           io.bytes(r.data.data(), r.data.size()) && WmacPad(io, 1) &&               // @12, 23
           io.u32(r.word36);                                                          // @36
  }
};
// DPI server (type 75).
struct WmacDpiServerRecord {
  static constexpr size_t kSize = 8;
  uint32_t word0 = 0, word4 = 0;
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u32(r.word0) && io.u32(r.word4);  // @0 @4
  }
};
// RFID tracking (type 67): this head, then `count` 8-byte entries (u16, MAC).
struct WmacRfidHead {
  static constexpr size_t kSize = 32;
  uint8_t byte0 = 0, byte1 = 0;
  std::array<uint32_t, 6> words{};
  uint32_t count = 0;
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    bool ok = io.u8(r.byte0) && io.u8(r.byte1) && WmacPad(io, 2);  // @0 @1
    for (auto& word : r.words) ok = ok && io.u32(word);           // @4 to @24
    return ok && io.u32(r.count);                                 // @28
  }
};

// Buffer size of notification 3, the radio-binding TLV list (encoded by
// CW_EncRdBindTlv of relay/radio_binding.h).
inline constexpr size_t kWmacRdBindBufSize = 16384;

// --- Channel -------------------------------------------------------------
// Stores the event master (the framework context) used for sending.
void WMAC_AC_IPC_SetZg(lib_globals* ctx);
// Opens the listener "/tmp/cw_ac_addr". 0 / non-zero.
int AC_IPCInit();
// Read handler of one WMAC connection.
int AC_RcvIPCPkt(thread* t);
// Dispatches one message; always 0. payload may be null (length 0).
int AC_ProcIPCPkt(const IpcHead& head, const uint8_t* payload);

// Incoming message types (WMAC to AC). Types 78, 79, 80, 86 and 87 are
// accepted and ignored; 109 and 110 reach their handler only for an
// existing WTP.
enum WmacIn : uint32_t {
  WMAC_IN_DEL_WTP = 1, WMAC_IN_SET_RDBIND = 2, WMAC_IN_GET_RDBIND = 3, WMAC_IN_ADD_WLAN = 4,
  WMAC_IN_DEL_WLAN = 5, WMAC_IN_UPDATE_WLAN = 6, WMAC_IN_ADD_STA = 7, WMAC_IN_DEL_STA = 8,
  WMAC_IN_CFG_UPDATE_REQ = 14, WMAC_IN_PWR_SCAN = 15, WMAC_IN_WRRM_SCAN = 16,
  WMAC_IN_WLAN_SNIFFER = 20, WMAC_IN_BLOCK_CHANNEL = 21, WMAC_IN_WIDS_CFG = 25,
  WMAC_IN_UPD_WIDS_CFG = 26, WMAC_IN_UPD_WIDS_CFG_2 = 27, WMAC_IN_MANAGE_FRAME = 28,
  WMAC_IN_ADD_AP_GROUP = 32, WMAC_IN_DEL_AP_GROUP = 33, WMAC_IN_ADD_AP_TO_GROUP = 34,
  WMAC_IN_REM_AP_FROM_GROUP = 35, WMAC_IN_WIDTH_CFG = 36, WMAC_IN_BAND_STEER = 40,
  WMAC_IN_GET_AC_CAP = 43, WMAC_IN_NORMAL_COLLECT = 44, WMAC_IN_RT_COLLECT = 45,
  WMAC_IN_ROAMING_SIGNAL = 52, WMAC_IN_CLIENT_SIGNAL = 53, WMAC_IN_RECEIVE_SIGNAL = 54,
  WMAC_IN_USER_ISOLATION = 61, WMAC_IN_ENV_MONITOR = 62, WMAC_IN_RFID_TRACK = 67,
  WMAC_IN_ACL_RULE = 68, WMAC_IN_WLAN_ACL = 69, WMAC_IN_WAPI = 72, WMAC_IN_DPI_SERVER = 75,
  WMAC_IN_AP_STATUS_REQ = 76, WMAC_IN_IP_VLAN = 84, WMAC_IN_GTK_UPDATE = 88,
  WMAC_IN_STA_SYNC = 89, WMAC_IN_DOT11V = 92, WMAC_IN_STA_TRAFFIC = 96, WMAC_IN_DNS_INFO = 97,
  WMAC_IN_L2_ACL = 109, WMAC_IN_L2_ACL_2 = 110, WMAC_IN_DHCP_SNOOPING = 111,
  WMAC_IN_VLAN_ISOLATE = 113, WMAC_IN_PORTAL_DOMAIN = 114,
};

// Handler of an incoming message type.
using WmacIpcHandler = int (*)(const IpcHead& head, const uint8_t* payload);
// One route of a module's table; `needs_wtp`: the handler runs only when
// the header names an existing WTP.
struct WmacRoute {
  WmacIn type;
  WmacIpcHandler handler;
  bool needs_wtp = false;
};
// Installs a module's routes (start-up and test fixtures). A type outside
// the catalogue or one that already has a handler is refused with an error
// line; 1 when any route was refused, 0 otherwise.
int AC_InstallIpcRoutes(std::span<const WmacRoute> routes);
void AC_ResetIpcHandlers();

// Handlers owned by the channel (WMAC types 1, 28, 32-35, 43, 76); each
// returns 0, or 1 when the message is dropped.
int AC_IPC_CleanWTP(const IpcHead& head, const uint8_t* payload);
int AC_IPC_Send_ManagePkt(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcAddApGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcDelApGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcAddApToGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcRemApToGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcGetACcap(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcApStatusReq(const IpcHead& head, const uint8_t* payload);
// Installs the handlers above (start-up). 0, or 1 when a route was refused.
int WMAC_RegisterChannelHandlers();
// Closes the discovered-AP window (type 76) at once and cancels its timer.
void AC_AutoApWindowClose();

// Builds and sends one message to "/tmp/wmac_ac_addr".
int WMAC_AC_IPC_Send(uint32_t wtp_id, uint32_t msg_type, const void* payload, size_t length);
// Forgets the cached WMAC connection (its context closes it) and the event
// master, and cancels the discovered-AP window timer (tests).
void WMAC_AC_IPC_Reset();

// --- Outgoing notifications --------------------------------------------
int WMAC_AC_IPC_CreateAP(uint32_t apid, const WmacCreateApRecord& rec);
int WMAC_AC_IPC_DeleteAP(uint32_t apid);
int WMAC_AC_IPC_NotifyRdBind(uint32_t apid, const CW_RDBIND& rdbind, int flags);
int WMAC_AC_IPC_NotifyDelSta(uint32_t apid, const uint8_t record[7]);
int WMAC_AC_IPC_NotifyRadioState(uint32_t apid, const std::array<uint8_t, 12>& states);
int WMAC_AC_IPC_NotifyTunnelState(const CW_TUNNEL_RECORD& rec);
int WMAC_AC_IPC_NotifyBandSteer(const uint8_t* record, size_t length, uint32_t apid);
int WMAC_AC_IPC_NotifySatIp(uint32_t apid, const uint8_t record[24]);
int WMAC_AC_IPC_NotifySetBssid(const uint8_t record[8], uint32_t apid);  // WmacSetBssidRecord
int WMAC_AC_IPC_NotifyApName(uint32_t apid, const std::string& name);
int WMAC_AC_IPC_NotifyStaScanRpt(const uint8_t* data, size_t length, uint32_t apid);
int WMAC_AC_IPC_GetACcap();
int WMAC_AC_IPC_NotifyMediaRpt(const uint8_t* data, size_t length, uint32_t apid);
int WMAC_AC_IPC_WirelessCON(const uint8_t* data, size_t length, uint32_t apid);
int WMAC_AC_IPC_NotifyApInfo(const WmacApInfoRecord& rec);
int WMAC_AC_IPC_NotifyApmApInfo(const uint8_t record[kWmacProfileRecordSize]);
int WMAC_AC_IPC_UpdateApmApInfo(const uint8_t record[kWmacProfileRecordSize]);
int WMAC_AC_IPC_SetApRadioInfo(const uint8_t record[kWmacProfileRecordSize]);
int WMAC_AC_IPC_NotifySendWapiMsg(const uint8_t* data, size_t length);
int WMAC_AC_IPC_NotifyWapiClientInfo(const uint8_t* record, size_t length, uint32_t apid);
int WMAC_AC_IPC_NotifyStaSync(const uint8_t* data, size_t length, uint32_t apid);
int WMAC_AC_IPC_NotifyDelSpecSta(uint32_t apid, const uint8_t record[24]);
int WMAC_AC_IPC_ReportAutoChl(uint32_t apid, const uint8_t record[8]);
int WMAC_AC_IPC_NotifyDnsInfo(const uint8_t* data, size_t length, uint32_t apid);
int WMAC_AC_IPC_NotifyMeshInfo(uint32_t apid, const uint8_t mesh[3]);
int WMAC_AC_IPC_NotifyApSn(uint32_t apid, const std::string& serial);
