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

// Handler of an incoming message type.
using WmacIpcHandler = int (*)(const IpcHead& head, const uint8_t* payload);
// Installs the handler of an incoming type (relay modules register theirs at
// start-up); null removes it.
void AC_SetIpcHandler(uint32_t msg_type, WmacIpcHandler handler);
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
// Installs the handlers above in the dispatch table (start-up).
void WMAC_RegisterChannelHandlers();
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
int WMAC_AC_IPC_NotifySetBssid(const uint8_t record[8], uint32_t apid);
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
