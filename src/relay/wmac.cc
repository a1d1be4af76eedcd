// The WMAC channel: listener, framing of incoming messages, the dispatch
// table of incoming types, and the sender of outgoing notifications.
#include "relay/wmac.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>

#include "diag/bug.h"
#include "diag/debug.h"
#include "platform/ipc.h"
#include "platform/lib.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::HostWriter;

namespace {

constexpr const char* kWmacListenPath = "/tmp/cw_ac_addr";
constexpr const char* kWmacPeerPath = "/tmp/wmac_ac_addr";

// Types from kTypeReadLimit on are refused before their payload is read;
// types from kDispatchLimit on are read whole and ignored.
constexpr uint32_t kTypeReadLimit = 116;
constexpr uint32_t kDispatchLimit = 115;
// The longest payload a WMAC message may announce. The largest records are
// an Add-WLAN (about 5.6 KiB plus its address list) and a radio binding list
// (16 KiB); a longer length is a corrupt header.
constexpr uint32_t kMaxPayload = 64 * 1024;
static_assert(kIpcHeadSize + kMaxPayload <= kIpcReceiveLimit,
              "a whole message must fit in a connection's receive buffer");

enum class RowLog : uint8_t { kNone, kText, kWapiLen, kTrafficWord };

// One incoming type of the catalogue and its receiving line.
struct IpcTypeRow {
  bool known = false;
  RowLog log = RowLog::kNone;
  const char* text = nullptr;
};
using IpcTypeTable = std::array<IpcTypeRow, kDispatchLimit>;

consteval IpcTypeTable BuildTypeTable() {
  IpcTypeTable t{};
  auto text = [&t](WmacIn::Type type, const char* line) { t[type] = IpcTypeRow{true, RowLog::kText, line}; };
  text(WmacIn::kDelWtp, " [IPC] Receiving DEL-WTP from WMAC. ");
  text(WmacIn::kSetRdBind, " [IPC] Receiving SET-RDBIND from WMAC. ");
  text(WmacIn::kGetRdBind, " [IPC] Receiving GET-RDBIND from WMAC. ");
  text(WmacIn::kAddWlan, " [IPC] Receiving ADD-WLAN from WMAC. ");
  text(WmacIn::kDelWlan, " [IPC] Receiving DEL-WLAN from WMAC. ");
  text(WmacIn::kUpdateWlan, " [IPC] Receiving UPDATE-WLAN from WMAC. ");
  text(WmacIn::kAddSta, " [IPC] Receiving ADD-STA from WMAC. ");
  text(WmacIn::kDelSta, " [IPC] Receiving DEL-STA from WMAC. ");
  text(WmacIn::kCfgUpdateReq, " [IPC] Receiving CFG-UPDATE-REQ from WMAC. ");
  text(WmacIn::kIpVlan, " [IPC] Receiving IP-based vlan from WMAC. ");
  t[WmacIn::kWapi] = IpcTypeRow{true, RowLog::kWapiLen, nullptr};
  t[WmacIn::kStaTraffic] = IpcTypeRow{true, RowLog::kTrafficWord, nullptr};
  for (WmacIn::Type type :
       {WmacIn::kPwrScan, WmacIn::kWrrmScan, WmacIn::kWlanSniffer, WmacIn::kBlockChannel,
        WmacIn::kWidsCfg, WmacIn::kUpdWidsCfg, WmacIn::kUpdWidsCfg2, WmacIn::kManageFrame,
        WmacIn::kAddApGroup, WmacIn::kDelApGroup, WmacIn::kAddApToGroup,
        WmacIn::kRemApFromGroup, WmacIn::kWidthCfg, WmacIn::kBandSteer, WmacIn::kGetAcCap,
        WmacIn::kNormalCollect, WmacIn::kRtCollect, WmacIn::kRoamingSignal,
        WmacIn::kClientSignal, WmacIn::kReceiveSignal, WmacIn::kUserIsolation,
        WmacIn::kEnvMonitor, WmacIn::kRfidTrack, WmacIn::kAclRule, WmacIn::kWlanAcl,
        WmacIn::kDpiServer, WmacIn::kApStatusReq, WmacIn::kGtkUpdate, WmacIn::kStaSync,
        WmacIn::kDot11v, WmacIn::kDnsInfo, WmacIn::kL2Acl, WmacIn::kL2Acl2,
        WmacIn::kDhcpSnooping, WmacIn::kVlanIsolate, WmacIn::kPortalDomain}) {
    t[type] = IpcTypeRow{true, RowLog::kNone, nullptr};
  }
  for (uint32_t ignored : {78, 79, 80, 86, 87}) t[ignored] = IpcTypeRow{true, RowLog::kNone, nullptr};
  return t;
}
constexpr IpcTypeTable kTypeTable = BuildTypeTable();

// The channel's state: the event master for sending, the cached connection
// to WMAC and the handlers installed by the relay modules.
struct WmacChannel {
  lib_globals* zg = nullptr;
  int wmac_fd = -1;
  std::array<WmacRoute, kDispatchLimit> routes{};
};

WmacChannel& Channel() {
  static WmacChannel channel;
  return channel;
}

void LogReceipt(const IpcTypeRow& row, const IpcHead& head, const uint8_t* payload) {
  switch (row.log) {
    case RowLog::kNone:
      return;
    case RowLog::kText:
      CwDebug(kDbgPacket, ZLOG_INFO, "%s", row.text);
      return;
    case RowLog::kWapiLen:
      CwDebug(kDbgEvent, ZLOG_INFO, "%s::AC capwap recv ASU wapi data len :%d",
              "AC_ProcIPCPkt", static_cast<int>(head.payload_len));
      return;
    case RowLog::kTrafficWord: {
      HostReader r(IpcPayload(head, payload));
      uint32_t word5 = 0;
      if (!r.skip(20) || !r.u32(word5)) word5 = 0;
      CwDebug(kDbgPacket, ZLOG_INFO,
              " [IPC] Receiving AC_IPC_SEND_TRAFFIC_STA from WMAC. %d",
              static_cast<int>(word5));
      return;
    }
  }
}

// Dispatches every whole message waiting on the connection; an unfinished
// one stays buffered for the next wake-up. False when the stream announces a
// payload no WMAC message has: it is corrupt, and the connection must go.
bool TakeMessages(lib_globals* ctx, int fd) {
  for (;;) {
    ByteView pending = IPC_Received(ctx, fd);
    IpcHead head;
    if (!IpcHeadDecode(pending, &head)) return true;
    if (head.msg_type >= kTypeReadLimit) {
      CwDebug(kDbgError, ZLOG_ERR, "too big msg type");
      IPC_Consume(ctx, fd, kIpcHeadSize);
      continue;
    }
    if (head.payload_len > kMaxPayload) {
      CwDebug(kDbgError, ZLOG_ERR,
              " WMAC message type %u announces %u payload bytes (at most %u): connection %d "
              "closed.",
              head.msg_type, head.payload_len, kMaxPayload, fd);
      return false;
    }
    size_t whole = kIpcHeadSize + head.payload_len;
    if (pending.size() < whole) return true;
    // A copy: the handler may send, and the buffer is the layer's.
    Bytes payload(pending.begin() + kIpcHeadSize, pending.begin() + static_cast<long>(whole));
    IPC_Consume(ctx, fd, whole);
    AC_ProcIPCPkt(head, payload.empty() ? nullptr : payload.data());
  }
}

// The end of a connection: what it left unfinished is dropped, with a line.
void LogUnfinished(lib_globals* ctx, int fd) {
  ByteView rest = IPC_Received(ctx, fd);
  if (rest.size() >= kIpcHeadSize) {
    CwDebug(kDbgError, ZLOG_ERR, "recv msg iLen %d",
            static_cast<int>(rest.size() - kIpcHeadSize));
  } else if (!rest.empty()) {
    CwDebug(kDbgError, ZLOG_ERR, " WMAC connection %d ended inside a header (%zu bytes).",
            fd, rest.size());
  }
}

}  // namespace

CW_WTPCB* FindWtp(const IpcHead& head, const char* missing_line) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) CwDebug(kDbgError, ZLOG_ERR, "%s", missing_line);
  return wtp;
}

CW_WTPCB* FindRunningWtp(const IpcHead& head, const char* missing_line) {
  CW_WTPCB* wtp = FindWtp(head, missing_line);
  return wtp && wtp->state == kStateRun ? wtp : nullptr;
}

int SendToRunningWtp(const IpcHead& head, const uint8_t* payload, const char* missing_line,
                     int (*send)(CW_WTPCB*, capwap::ByteView)) {
  CW_WTPCB* wtp = FindRunningWtp(head, missing_line);
  return wtp ? send(wtp, IpcPayload(head, payload)) : 1;
}

void WMAC_AC_IPC_SetZg(lib_globals* ctx) { Channel().zg = ctx; }

int AC_IPCInit() { return IPC_TcpSocketInit(capwapm, kWmacListenPath, AC_RcvIPCPkt); }

int AC_RcvIPCPkt(thread* t) {
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  int fd = THREAD_FD(t);
  if (!ctx) {
    close(fd);
    return 0;
  }
  // Re-armed before reading, so no early return can deafen the connection.
  bool armed = ctx->master && thread_add_read(ctx->master.get(), AC_RcvIPCPkt, ctx, fd);
  IpcReceive received = IPC_Receive(ctx, fd);
  // Messages that arrived whole are served even when the peer then closed.
  bool sane = received != IpcReceive::kOverflow && TakeMessages(ctx, fd);
  if (received == IpcReceive::kOpen && sane && armed) return 0;
  if (received == IpcReceive::kClosed) {
    LogUnfinished(ctx, fd);
    CwDebug(kDbgError, ZLOG_ERR, "client close to server");
  } else if (!armed) {
    CwDebug(kDbgError, ZLOG_ERR, " WMAC connection %d cannot be re-armed, closed.", fd);
  }
  IPC_CloseConnection(ctx, fd);
  return 0;
}

int AC_ProcIPCPkt(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (head.msg_type >= kDispatchLimit) return 0;
  const IpcTypeRow& row = kTypeTable[head.msg_type];
  if (!row.known) return 0;
  LogReceipt(row, head, payload);
  const WmacRoute& route = Channel().routes[head.msg_type];
  if (route.handler && (wtp || !route.needs_wtp)) route.handler(head, payload);
  return 0;
}

int InstallIpcRoutes(std::span<const WmacRoute> routes) {
  int refused = 0;
  for (const WmacRoute& route : routes) {
    const uint32_t type = route.type;
    if (type >= kDispatchLimit || !kTypeTable[type].known || !route.handler) {
      CAPWAP_BUG("WMAC route for unknown message type %u refused", type);
    } else if (Channel().routes[type].handler) {
      CAPWAP_BUG("WMAC message type %u already has a handler; second route refused", type);
    } else {
      Channel().routes[type] = route;
      continue;
    }
    refused = 1;
  }
  return refused;
}

void ResetIpcHandlers() { Channel().routes.fill(WmacRoute{}); }

int WMAC_AC_IPC_Send(uint32_t wtp_id, uint32_t msg_type, const void* payload, size_t length) {
  WmacChannel& channel = Channel();
  if (!channel.zg) {
    printf("not set ipc zg\n");
    fflush(stdout);
    return 1;
  }
  if (length > UINT32_MAX - kIpcHeadSize || (length && !payload)) return 1;
  Bytes message;
  try {
    message.assign(kIpcHeadSize + length, 0);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  IpcHead head;
  head.kind = 1;
  head.msg_type = msg_type;
  head.wtp_id = wtp_id;
  head.payload_len = static_cast<uint32_t>(length);
  IpcHeadEncode(head, message.data());
  HostWriter body(message.data() + kIpcHeadSize, length);
  body.bytes(payload, length);
  if (IPC_TcpSocketSend(channel.zg, &channel.wmac_fd, kWmacPeerPath, message.data(),
                        message.size()) < 0) {
    perror("WMAC_AC_IPC_CwMessProc:");
  }
  return 0;
}

void WmacIpcReset() {
  WmacChannel& channel = Channel();
  // Only forgotten: the connection belongs to the IPC layer of the context
  // it was made on, which closes it when it stops (and may be gone already).
  channel.wmac_fd = -1;
  channel.zg = nullptr;
  AutoApWindowClose();
}

// --- Outgoing notifications --------------------------------------------

namespace {

// Sends a record of a fixed size: the given bytes, cut or zero-padded.
int SendFixed(uint32_t wtp_id, uint32_t msg_type, const uint8_t* data, size_t have,
              size_t fixed) {
  std::array<uint8_t, 256> record{};
  size_t used = std::min(have, fixed);
  HostWriter w(record.data(), fixed);
  if (data && used) w.bytes(data, used);
  return WMAC_AC_IPC_Send(wtp_id, msg_type, record.data(), fixed);
}

int SendText(uint32_t wtp_id, uint32_t msg_type, const std::string& text, size_t field,
             size_t max_chars) {
  std::array<uint8_t, 64> record{};
  HostWriter w(record.data(), field);
  w.fixed_str(std::string_view(text).substr(0, max_chars), field);
  return WMAC_AC_IPC_Send(wtp_id, msg_type, record.data(), field);
}

}  // namespace

int WMAC_AC_IPC_CreateAP(uint32_t apid, const WmacCreateApRecord& rec) {
  uint8_t record[kWmacCreateApSize];
  WmacCreateApEncode(rec, record);
  return WMAC_AC_IPC_Send(apid, WmacMsg::kCreateAp, record, sizeof record);
}

int WMAC_AC_IPC_DeleteAP(uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kDeleteAp, nullptr, 0);
}

int WMAC_AC_IPC_NotifyRdBind(uint32_t apid, const RadioBinding& rdbind, int /*flags*/) {
  Bytes buffer;
  try {
    buffer.assign(kWmacRdBindBufSize, 0);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  size_t used = EncodeRdBindTlv(rdbind, buffer);
  return WMAC_AC_IPC_Send(apid, WmacMsg::kRdBind, buffer.data(), used);
}

int WMAC_AC_IPC_NotifyDelSta(uint32_t apid, const uint8_t record[7]) {
  return SendFixed(apid, WmacMsg::kDelSta, record, 7, 7);
}

int WMAC_AC_IPC_NotifyRadioState(uint32_t apid, const std::array<uint8_t, 12>& states) {
  return SendFixed(apid, WmacMsg::kRadioState, states.data(), states.size(), 12);
}

int WMAC_AC_IPC_NotifyTunnelState(const TunnelRecord& rec) {
  uint8_t record[kTunnelRecordSize];
  TunnelRecordEncode(rec, record);
  return WMAC_AC_IPC_Send(rec.apid, WmacMsg::kTunnelState, record, sizeof record);
}

int WMAC_AC_IPC_NotifyBandSteer(const uint8_t* record, size_t length, uint32_t apid) {
  return SendFixed(apid, WmacMsg::kBandSteer, record, length, 40);
}

int WMAC_AC_IPC_NotifySatIp(uint32_t apid, const uint8_t record[24]) {
  return SendFixed(apid, WmacMsg::kStaIp, record, 24, 24);
}

int WMAC_AC_IPC_NotifySetBssid(const uint8_t record[8], uint32_t apid) {
  return SendFixed(apid, WmacMsg::kSetBssid, record, 8, 8);
}

int WMAC_AC_IPC_NotifyApName(uint32_t apid, const std::string& name) {
  return SendText(apid, WmacMsg::kApName, name, 33, 32);
}

int WMAC_AC_IPC_NotifyStaScanRpt(const uint8_t* data, size_t length, uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kStaScanRpt, data, length);
}

int WMAC_AC_IPC_GetACcap() {
  uint8_t cap[4];
  HostWriter w(cap, sizeof cap);
  w.u32(31);
  return WMAC_AC_IPC_Send(0, WmacMsg::kAcCap, cap, sizeof cap);
}

int WMAC_AC_IPC_NotifyMediaRpt(const uint8_t* data, size_t length, uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kMediaRpt, data, length);
}

int WMAC_AC_IPC_WirelessCON(const uint8_t* data, size_t length, uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kWirelessCon, data, length);
}

int WMAC_AC_IPC_NotifyApInfo(const WmacApInfoRecord& rec) {
  uint8_t record[kWmacApInfoSize];
  WmacApInfoEncode(rec, record);
  return WMAC_AC_IPC_Send(rec.apid, WmacMsg::kApInfo, record, sizeof record);
}

namespace {

uint32_t RecordWord0(const uint8_t record[kWmacProfileRecordSize]) {
  HostReader r(record, kWmacProfileRecordSize);
  uint32_t word = 0;
  r.u32(word);
  return word;
}

}  // namespace

int WMAC_AC_IPC_NotifyApmApInfo(const uint8_t record[kWmacProfileRecordSize]) {
  return WMAC_AC_IPC_Send(RecordWord0(record), WmacMsg::kApmApInfo, record,
                          kWmacProfileRecordSize);
}

int WMAC_AC_IPC_UpdateApmApInfo(const uint8_t record[kWmacProfileRecordSize]) {
  return WMAC_AC_IPC_Send(RecordWord0(record), WmacMsg::kApmApInfoUpdate, record,
                          kWmacProfileRecordSize);
}

int WMAC_AC_IPC_SetApRadioInfo(const uint8_t record[kWmacProfileRecordSize]) {
  return WMAC_AC_IPC_Send(RecordWord0(record), WmacMsg::kApRadioInfo, record,
                          kWmacProfileRecordSize);
}

int WMAC_AC_IPC_NotifySendWapiMsg(const uint8_t* data, size_t length) {
  return WMAC_AC_IPC_Send(0, WmacMsg::kWapi, data, length);
}

int WMAC_AC_IPC_NotifyWapiClientInfo(const uint8_t* record, size_t length, uint32_t apid) {
  return SendFixed(apid, WmacMsg::kWapiClient, record, length, 12);
}

int WMAC_AC_IPC_NotifyStaSync(const uint8_t* data, size_t length, uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kStaSync, data, length);
}

int WMAC_AC_IPC_NotifyDelSpecSta(uint32_t apid, const uint8_t record[24]) {
  return SendFixed(apid, WmacMsg::kDelSpecSta, record, 24, 24);
}

int WMAC_AC_IPC_ReportAutoChl(uint32_t apid, const uint8_t record[8]) {
  return SendFixed(apid, WmacMsg::kAutoChl, record, 8, 8);
}

int WMAC_AC_IPC_NotifyDnsInfo(const uint8_t* data, size_t length, uint32_t apid) {
  return WMAC_AC_IPC_Send(apid, WmacMsg::kDnsInfo, data, length);
}

int WMAC_AC_IPC_NotifyMeshInfo(uint32_t apid, const uint8_t mesh[3]) {
  return SendFixed(apid, WmacMsg::kMeshInfo, mesh, 3, 3);
}

int WMAC_AC_IPC_NotifyApSn(uint32_t apid, const std::string& serial) {
  return SendText(apid, WmacMsg::kApSn, serial, 32, 32);
}
