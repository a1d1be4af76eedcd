// APM events and the command socket, both served on the event loop.
//
// APM connections go through the IPC layer: each wake-up appends what
// arrived to the connection's buffer and every whole event is taken from it,
// so an event may arrive in pieces and several may arrive in one read. A
// length beyond kApmPayloadMax ends the connection (it could never be
// buffered); the listener stays.
#include "export/apm.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/ap_persist.h"
#include "diag/debug.h"
#include "fsm/reset.h"
#include "platform/ipc.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/policy.h"
#include "relay/wlan_cfg.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::HostWriter;

namespace {

constexpr const char* kApmPath = "/tmp/apm_ac_address";
constexpr const char* kCmdPath = "/tmp/wlancfg_capwap_addr";
constexpr size_t kMacLen = 6;
constexpr size_t kModelMax = 31;     // 32-byte model fields
constexpr size_t kMacTextLen = 17;   // "xx:xx:xx:xx:xx:xx"

// The fewest payload bytes each event type reads; shorter events are dropped.
constexpr size_t kMinJoined = 30;           // MAC at 24
constexpr size_t kMinProfile = 128;         // the relayed profile fields
constexpr size_t kMinReset = 20;            // MAC at 8, sub-type at 16
constexpr size_t kMinUpgrade = 202 + kUrlImageMd5Len;  // MD5 text at 202
constexpr size_t kMinAcl = kMacLen;
constexpr size_t kMinRadio = 76;
constexpr size_t kMinTraffic = 20;          // uplink at 16
constexpr size_t kUpgradePathAt = 42;
constexpr size_t kUpgradeMd5At = 202;

// A Station Configuration Request of operation 3: the first limit is the
// downlink, the second the uplink, traffic type 0 (the event names none).
int SendStationTraffic(CW_WTPCB* wtp, const std::array<uint8_t, 6>& station, uint32_t downlink,
                       uint32_t uplink) {
  CwStaTrafficRecord record;
  record.mac = station;
  record.first = downlink;
  record.second = uplink;
  return CW_AC_SndStaCfgReq(wtp, kStaOpTraffic, WmacRecordEncode(record));
}

struct ApmState {
  ApmActions actions = ApmDefaultActions();
  int cmd_fd = -1;
};

ApmState& State() {
  static ApmState state;
  return state;
}

using Mac = std::array<uint8_t, kMacLen>;

Mac MacAt(ByteView payload, size_t offset) {
  Mac mac{};
  HostReader r(payload);
  r.skip(offset);
  r.bytes(mac.data(), mac.size());
  return mac;
}

uint32_t U32At(ByteView payload, size_t offset) {
  HostReader r(payload);
  uint32_t v = 0;
  r.skip(offset);
  r.u32(v);
  return v;
}

// A fixed-size text field of the payload, cut at its first NUL or at the
// field's end: these fields need not be terminated.
std::string FieldText(ByteView payload, size_t offset, size_t width) {
  ByteView field = payload.subspan(offset, width);
  const auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), end);
}

bool Holds(uint32_t type, ByteView payload, size_t need) {
  if (payload.size() >= need) return true;
  CwDebug(kDbgError, ZLOG_ERR, " APM event %u carries %zu bytes, %zu needed; dropped.\n", type,
          payload.size(), need);
  return false;
}

CW_WTPCB* RunningAp(const Mac& mac) {
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac);
  return wtp && wtp->state == kStateRun ? wtp : nullptr;
}

// --- Event actions -------------------------------------------------------------

int ApJoined(ByteView p) {
  const Mac m = MacAt(p, 24);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "%s aucApMac:%02x%02x.%02x%02x.%02x%02x\n",
          "CW_CMD_Set_ApJoin", m[0], m[1], m[2], m[3], m[4], m[5]);
  return 0;
}

int Profile(uint32_t type, ByteView p) {
  const Mac mac = MacAt(p, 0);
  uint32_t apid = 0;  // an all-zero MAC is no particular AP
  if (mac != Mac{}) {
    const CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac);
    if (!wtp) {
      CwDebug(kDbgEvent, ZLOG_DEBUG, " APM profile for unknown AP %s dropped.\n",
              capwap::MacText(mac).data());
      return 1;
    }
    apid = wtp->apid;
  }
  uint8_t record[kWmacProfileRecordSize];
  if (!WmacProfileRecordFromApm(p, apid, record)) return 1;
  return type == kApmProfileCreate ? WMAC_AC_IPC_NotifyApmApInfo(record)
                                   : WMAC_AC_IPC_UpdateApmApInfo(record);
}

int Reset(ByteView p) {
  if (U32At(p, 16) != kApmReset) return 0;
  CW_WTPCB* wtp = RunningAp(MacAt(p, 8));
  return wtp ? CW_AC_SndResetReq(wtp) : 0;
}

int Upgrade(ByteView p) {
  if (U32At(p, 16) != kApmUpgrade) return 0;
  CW_WTPCB* wtp = RunningAp(MacAt(p, 8));
  if (!wtp) return 0;
  if (CwDebugOn(kDbgEvent)) {
    // Terminated copies for the log; the element carries the fields as sent.
    CwDebug(kDbgEvent, ZLOG_DEBUG, "aucFilePath:%s\n",
            FieldText(p, kUpgradePathAt, kUrlImagePathLen).c_str());
    CwDebug(kDbgEvent, ZLOG_DEBUG, "image md5 vlaue:%s\n",
            FieldText(p, kUpgradeMd5At, kUrlImageMd5Len).c_str());
  }
  std::array<uint8_t, kUrlImageValueSize> value{};
  HostWriter w(value.data(), value.size());
  w.bytes(p.subspan(kUpgradePathAt, kUrlImagePathLen));  // @0, 128: path
  w.bytes(p.subspan(kUpgradeMd5At, kUrlImageMd5Len));    // @128, 33: MD5 text
  if (SendUrlImageElement(wtp, value) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, "CW_AC_PktMalloc ERROR !");
    return 1;
  }
  return 0;
}

int AclRules(ByteView p) {
  CW_WTPCB* wtp = RunningAp(MacAt(p, 0));
  if (!wtp) return 0;
  CwDebug(kDbgEvent, ZLOG_DEBUG, "set acl rule to ap id %d\n", static_cast<int>(wtp->apid));
  const ApmActions& actions = State().actions;
  if (!actions.acl_rules) {
    CwDebug(kDbgError, ZLOG_ERR, " ACL rules for AP %u: no ACL sender.\n", wtp->apid);
    return 1;
  }
  return actions.acl_rules(wtp, p.subspan(kMacLen));
}

int RadioConfig(ByteView p) {
  const Mac m = MacAt(p, 0);
  const CW_WTPCB* wtp = CW_AC_GetWTPByMac(m);
  if (!wtp) {
    CwDebug(kDbgEvent, ZLOG_DEBUG, "Not find AP[%02x:%02x:%02x:%02x:%02x:%02x]\n", m[0], m[1],
            m[2], m[3], m[4], m[5]);
    return 1;
  }
  uint8_t record[kWmacProfileRecordSize];
  if (!WmacRadioRecordFromApm(p, wtp->apid, record)) return 1;
  return WMAC_AC_IPC_SetApRadioInfo(record);
}

int StationTraffic(ByteView p) {
  CW_WTPCB* wtp = RunningAp(MacAt(p, 0));
  if (!wtp) return 0;
  const uint32_t down = U32At(p, 12);
  const uint32_t up = U32At(p, 16);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "set acl rule to ap id %d up %d down %d\n",
          static_cast<int>(wtp->apid), static_cast<int>(up), static_cast<int>(down));
  const ApmActions& actions = State().actions;
  if (!actions.station_traffic) {
    CwDebug(kDbgError, ZLOG_ERR, " Station limits for AP %u: no station sender.\n",
            wtp->apid);
    return 1;
  }
  return actions.station_traffic(wtp, MacAt(p, 6), down, up);
}

// --- APM connections ---------------------------------------------------------------

// Takes every whole event from the connection's buffer. False when one
// announces more than an event may hold.
bool TakeEvents(lib_globals* ctx, int fd) {
  for (;;) {
    HostReader r(IPC_Received(ctx, fd));
    uint32_t type = 0;
    uint32_t length = 0;
    if (!r.u32(type) || !r.u32(length)) return true;
    if (length > kApmPayloadMax) {
      CwDebug(kDbgError, ZLOG_ERR, " APM event %u announces %u bytes; connection closed.\n",
              type, length);
      return false;
    }
    ByteView payload;
    if (!r.view(length, payload)) return true;
    // The event's own copy: acting on it may use the IPC layer.
    const Bytes event(payload.begin(), payload.end());
    IPC_Consume(ctx, fd, kApmHeadSize + length);
    Capwap_Apm_EventCallBack(type, event.data(), length);
  }
}

int ApmRead(thread* t) {
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  const int fd = THREAD_FD(t);
  if (!ctx) {
    close(fd);
    return 0;
  }
  // Re-armed before reading, so no early return can deafen the connection.
  const bool armed = ctx->master && thread_add_read(ctx->master.get(), ApmRead, ctx, fd);
  const IpcReceive received = IPC_Receive(ctx, fd);
  // Events that arrived whole are served even when the peer then closed.
  const bool sane = received != IpcReceive::kOverflow && TakeEvents(ctx, fd);
  if (received == IpcReceive::kOpen && sane && armed) return 0;
  IPC_CloseConnection(ctx, fd);
  return 0;
}

// --- Command socket -------------------------------------------------------------------

bool NameAcceptable(const std::string& name) {
  // As the command line lets names through: one token of 1-32 printable
  // characters. Anything else would be written into the configuration text.
  return !name.empty() && name.size() <= kWtpNameMax &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isgraph(static_cast<unsigned char>(c)) != 0;
         });
}

std::optional<std::string> ItemName(const CmdLine& cmd, size_t index) {
  if (index >= cmd.items.size()) return std::nullopt;
  auto name = CmdItemText(cmd.items[index], kWtpNameMax);
  if (!name || !NameAcceptable(*name)) {
    CwDebug(kDbgError, ZLOG_ERR, " Command 0x%08x: the AP name is not acceptable.\n",
            cmd.code);
    return std::nullopt;
  }
  return name;
}

std::optional<std::string> ItemModel(const CmdLine& cmd, size_t index) {
  if (index >= cmd.items.size()) return std::nullopt;
  auto model = CmdItemText(cmd.items[index], kModelMax);
  if (!model || model->empty()) return std::nullopt;
  for (char& c : *model) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return model;
}

std::optional<uint32_t> ItemApid(const CmdLine& cmd, size_t index) {
  if (index >= cmd.items.size()) return std::nullopt;
  auto text = CmdItemText(cmd.items[index], 2);
  if (!text || text->empty() ||
      !std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const uint32_t apid = static_cast<uint32_t>(std::stoul(*text));
  if (apid < 1 || apid > kMaxApId) return std::nullopt;
  return apid;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Exactly 17 characters: six pairs of hexadecimal digits, each pair followed
// by one separator character (none after the last).
std::optional<Mac> MacFromText(const std::string& text) {
  if (text.size() != kMacTextLen) return std::nullopt;
  Mac mac{};
  for (size_t i = 0; i < kMacLen; ++i) {
    const int hi = HexDigit(text[3 * i]);
    const int lo = HexDigit(text[3 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    mac[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return mac;
}

int CreateApWithId(const CmdLine& cmd) {
  const auto name = ItemName(cmd, 0);
  const auto model = ItemModel(cmd, 1);
  const auto apid = ItemApid(cmd, 2);
  if (!name || !model || !apid) return 1;
  const bool name_used = CW_AC_GetWTPByNAME(*name) != nullptr;
  const bool id_used = CW_AC_GetWTPByID(*apid) != nullptr;
  if (name_used && id_used) {
    CwDebug(kDbgPacket, ZLOG_INFO, " The AP already exists. \n");
    return 1;
  }
  if (name_used || id_used) {
    CwDebug(kDbgPacket, ZLOG_INFO, " Illegal input to create AP: duplicate AP name or ID\n");
    return 1;
  }
  return CW_AC_CreateWTP(*model, *apid, *name, 0) ? 0 : 1;
}

int CreateAp(const CmdLine& cmd) {
  const auto name = ItemName(cmd, 0);
  const auto model = ItemModel(cmd, 1);
  if (!name || !model) return 1;
  if (CW_AC_GetWTPByNAME(*name)) {
    CwDebug(kDbgPacket, ZLOG_INFO, " The AP already exists...\n");
    return 1;
  }
  return CW_AC_CreateWTP(*model, 0xFFFFFFFFu, *name, 0) ? 0 : 1;
}

int BindMac(const CmdLine& cmd) {
  const auto name = ItemName(cmd, 0);
  if (!name || cmd.items.size() < 2) return 1;
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(*name);
  const auto text = CmdItemText(cmd.items[1], kMacTextLen);
  const auto mac = text ? MacFromText(*text) : std::nullopt;
  if (!wtp || !mac || *mac == Mac{} || ((*mac)[0] & 1)) {
    CwDebug(kDbgError, ZLOG_ERR, " Command 0x%08x: no such AP or no unicast MAC.\n",
            cmd.code);
    return 1;
  }
  switch (ApBindMac(*wtp, *mac)) {
    case MacBind::kInUse:
      CwDebug(kDbgError, ZLOG_ERR, " The MAC %s is bound to another AP.\n", text->c_str());
      return 1;
    case MacBind::kNotIdle:
      CwDebug(kDbgError, ZLOG_ERR, " AP %s is not idle; its MAC stays.\n", name->c_str());
      return 1;
    case MacBind::kBound:
      break;
  }
  WMAC_AC_IPC_NotifyApInfo(WmacApInfoOf(*wtp));
  return 0;
}

}  // namespace

// --- APM -------------------------------------------------------------------------

Bytes ApmEventEncode(uint32_t type, ByteView payload) {
  Bytes out(kApmHeadSize + payload.size());
  HostWriter w(out.data(), out.size());
  w.u32(type);                                   // @0
  w.u32(static_cast<uint32_t>(payload.size()));  // @4
  w.bytes(payload);                              // @8
  return out;
}

int AC_ApmIpcSocketInit() { return IPC_TcpSocketInit(capwapm, kApmPath, ApmRead); }

int Capwap_Apm_EventCallBack(uint32_t type, const uint8_t* payload, uint32_t length) {
  const ByteView p = payload ? ByteView(payload, length) : ByteView();
  switch (type) {
    case kApmApJoined:
      return Holds(type, p, kMinJoined) ? ApJoined(p) : 1;
    case kApmProfileCreate:
    case kApmProfileUpdate:
      return Holds(type, p, kMinProfile) ? Profile(type, p) : 1;
    case kApmReset:
      return Holds(type, p, kMinReset) ? Reset(p) : 1;
    case kApmUpgrade:
      return Holds(type, p, kMinUpgrade) ? Upgrade(p) : 1;
    case kApmAclRules:
      return Holds(type, p, kMinAcl) ? AclRules(p) : 1;
    case kApmRadioConfig:
      return Holds(type, p, kMinRadio) ? RadioConfig(p) : 1;
    case kApmStationTraffic:
      return Holds(type, p, kMinTraffic) ? StationTraffic(p) : 1;
    default:  // 0-5 and 11 carry nothing to act on; 15 and above are unknown
      return 0;
  }
}

ApmActions ApmDefaultActions() {
  ApmActions actions;
  actions.acl_rules = AC_IPC_SndAclRule;
  actions.station_traffic = SendStationTraffic;
  return actions;
}

void ApmSetActions(const ApmActions& actions) { State().actions = actions; }

// --- Command socket ---------------------------------------------------------------

std::optional<CmdLine> CmdLineDecode(ByteView datagram) {
  HostReader r(datagram);
  CmdLine cmd;
  if (!r.u32(cmd.code) || !r.skip(2)) return std::nullopt;
  for (int i = 0; i < 3; ++i) {
    // Item header: four bytes of the sender's, then the item length (u16).
    uint16_t length = 0;
    ByteView item;
    if (!r.skip(kCmdItemHeadSize - 2) || !r.u16(length) || !r.view(length, item)) break;
    cmd.items.push_back(item);
  }
  return cmd;
}

Bytes CmdLineEncode(uint32_t code, const std::vector<Bytes>& items) {
  size_t size = 6;
  for (const Bytes& item : items) size += kCmdItemHeadSize + item.size();
  Bytes out(size);
  HostWriter w(out.data(), out.size());
  w.u32(code);  // @0
  w.zeros(2);   // @4
  for (const Bytes& item : items) {
    w.zeros(kCmdItemHeadSize - 2);
    w.u16(static_cast<uint16_t>(item.size()));
    w.bytes(item);
  }
  return out;
}

std::optional<std::string> CmdItemText(ByteView item, size_t max) {
  const auto end = std::find(item.begin(), item.end(), uint8_t{0});
  if (end == item.end()) return std::nullopt;
  const size_t length = static_cast<size_t>(end - item.begin());
  if (length > max) return std::nullopt;
  return std::string(item.begin(), end);
}

int Capwap_Init_CmdSock() {
  const std::string path = capwap::RootPath(kCmdPath);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    printf("cannot bind\n");
    return 1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    printf("cannot create the socket\n");
    return 1;
  }
  capwap::MakeParentDirs(path);
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    printf("cannot bind\n");
    close(fd);
    unlink(path.c_str());
    return 1;
  }
  State().cmd_fd = fd;
  if (capwapm && capwapm->master) {
    thread_add_read(capwapm->master.get(), Capwap_CmdLine_Recv, capwapm, fd);
  }
  return 0;
}

int Capwap_CmdLine_Recv(thread* t) {
  const int fd = THREAD_FD(t);
  thread_add_read(t->master, Capwap_CmdLine_Recv, THREAD_ARG(t), fd);
  uint8_t buf[kCmdLineMax];
  // A longer datagram is cut to its first 512 bytes; items must lie inside.
  const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n >= 0) Capwap_Analysis_CmdLine(buf, static_cast<size_t>(n));
  return 0;
}

int Capwap_Analysis_CmdLine(const uint8_t* datagram, size_t length) {
  const auto cmd = CmdLineDecode(ByteView(datagram, datagram ? length : 0));
  if (!cmd || cmd->code >> 16 != kCmdFamily) return 0;
  switch (cmd->code) {
    case kCmdCreateApWithId:
      return CreateApWithId(*cmd);
    case kCmdCreateAp:
      return CreateAp(*cmd);
    case kCmdBindMac:
      return BindMac(*cmd);
    default:  // kCmdApName and the rest: nothing to do
      return 0;
  }
}

void ApmReset() {
  ApmState& st = State();
  if (st.cmd_fd >= 0) {
    if (capwapm && capwapm->master) thread_cancel_fd(capwapm->master.get(), st.cmd_fd);
    close(st.cmd_fd);
    unlink(capwap::RootPath(kCmdPath).c_str());
  }
  st = ApmState{};
}
