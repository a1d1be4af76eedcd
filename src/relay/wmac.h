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
// The AP a WMAC request names, or null after the caller's missing-AP line.
CW_WTPCB* FindWtp(const IpcHead& head, const char* missing_line);
// The same for a request only a running AP takes: null, quietly, when the
// AP is not in Run.
CW_WTPCB* FindRunningWtp(const IpcHead& head, const char* missing_line);
// Hands the payload of a request only a running AP takes to `send`; 1 when
// there is no such AP.
int SendToRunningWtp(const IpcHead& head, const uint8_t* payload, const char* missing_line,
                     int (*send)(CW_WTPCB*, capwap::ByteView));
void IpcHeadEncode(const IpcHead& head, uint8_t out[kIpcHeadSize]);
bool IpcHeadDecode(capwap::ByteView bytes, IpcHead* head);

// Outgoing message types.
namespace WmacMsg {
enum : uint32_t {
  kCreateAp = 0,
  kDeleteAp = 1,
  kRdBind = 3,
  kDelSta = 8,
  kRadioState = 11,
  kTunnelState = 12,
  kBandSteer = 23,
  kStaIp = 24,
  kSetBssid = 30,
  kApName = 31,
  kStaScanRpt = 38,
  kAcCap = 43,
  kMediaRpt = 58,
  kWirelessCon = 59,
  kApInfo = 63,
  kApmApInfo = 64,
  kApmApInfoUpdate = 65,
  kApRadioInfo = 66,
  kWapi = 71,
  kWapiClient = 73,
  kStaSync = 89,
  kDelSpecSta = 93,
  kAutoChl = 94,
  kDnsInfo = 97,
  kMeshInfo = 112,
  kApSn = 115,
};
}  // namespace WmacMsg

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
void TunnelRecordEncode(const TunnelRecord& rec, uint8_t out[kTunnelRecordSize]);
bool TunnelRecordDecode(capwap::ByteView bytes, TunnelRecord* rec);

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
// EncodeRdBindTlv of relay/radio_binding.h).
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
namespace WmacIn {
enum Type : uint32_t {
  kDelWtp = 1, kSetRdBind = 2, kGetRdBind = 3, kAddWlan = 4,
  kDelWlan = 5, kUpdateWlan = 6, kAddSta = 7, kDelSta = 8,
  kCfgUpdateReq = 14, kPwrScan = 15, kWrrmScan = 16,
  kWlanSniffer = 20, kBlockChannel = 21, kWidsCfg = 25,
  kUpdWidsCfg = 26, kUpdWidsCfg2 = 27, kManageFrame = 28,
  kAddApGroup = 32, kDelApGroup = 33, kAddApToGroup = 34,
  kRemApFromGroup = 35, kWidthCfg = 36, kBandSteer = 40,
  kGetAcCap = 43, kNormalCollect = 44, kRtCollect = 45,
  kRoamingSignal = 52, kClientSignal = 53, kReceiveSignal = 54,
  kUserIsolation = 61, kEnvMonitor = 62, kRfidTrack = 67,
  kAclRule = 68, kWlanAcl = 69, kWapi = 72, kDpiServer = 75,
  kApStatusReq = 76, kIpVlan = 84, kGtkUpdate = 88,
  kStaSync = 89, kDot11v = 92, kStaTraffic = 96, kDnsInfo = 97,
  kL2Acl = 109, kL2Acl2 = 110, kDhcpSnooping = 111,
  kVlanIsolate = 113, kPortalDomain = 114,
};
}  // namespace WmacIn

// Handler of an incoming message type.
using WmacIpcHandler = int (*)(const IpcHead& head, const uint8_t* payload);
// One route of a module's table; `needs_wtp`: the handler runs only when
// the header names an existing WTP.
struct WmacRoute {
  WmacIn::Type type;
  WmacIpcHandler handler;
  bool needs_wtp = false;
};
// Installs a module's routes (start-up and test fixtures). A type outside
// the catalogue or one that already has a handler is refused with an error
// line; 1 when any route was refused, 0 otherwise.
int InstallIpcRoutes(std::span<const WmacRoute> routes);
void ResetIpcHandlers();

// Handlers owned by the channel (WMAC types 1, 28, 32-35, 43, 76); each
// returns 0, or 1 when the message is dropped.
int AC_IPC_CleanWTP(const IpcHead& head, const uint8_t* payload);
int AC_IPC_Send_ManagePkt(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcAddApGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcDelApGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcAddApToGroup(const IpcHead& head, const uint8_t* payload);
int AC_IPC_ProcRemApToGroup(const IpcHead& head, const uint8_t* payload);
int ProcGetAcCap(const IpcHead& head, const uint8_t* payload);
int ProcApStatusReq(const IpcHead& head, const uint8_t* payload);
// Installs the handlers above (start-up). 0, or 1 when a route was refused.
int RegisterWmacChannelHandlers();
// Closes the discovered-AP window (type 76) at once and cancels its timer.
void AutoApWindowClose();

// Builds and sends one message to "/tmp/wmac_ac_addr".
int WMAC_AC_IPC_Send(uint32_t wtp_id, uint32_t msg_type, const void* payload, size_t length);
// Forgets the cached WMAC connection (its context closes it) and the event
// master, and cancels the discovered-AP window timer (tests).
void WmacIpcReset();

// --- Outgoing notifications --------------------------------------------
int WMAC_AC_IPC_CreateAP(uint32_t apid, const WmacCreateApRecord& rec);
int WMAC_AC_IPC_DeleteAP(uint32_t apid);
int WMAC_AC_IPC_NotifyRdBind(uint32_t apid, const RadioBinding& rdbind, int flags);
int WMAC_AC_IPC_NotifyDelSta(uint32_t apid, const uint8_t record[7]);
int WMAC_AC_IPC_NotifyRadioState(uint32_t apid, const std::array<uint8_t, 12>& states);
int WMAC_AC_IPC_NotifyTunnelState(const TunnelRecord& rec);
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
