// The WMAC requests handled by the channel itself: AP deletion, AP groups,
// the AC capability question, the AP status report and discovered-AP
// window, and the relay of 802.11 management frames on the data channel.
#include <cerrno>
#include <cstring>
#include <optional>

#include "config/ap_persist.h"
#include "config/ap_group.h"
#include "diag/debug.h"
#include "export/cloud.h"
#include "platform/lib.h"
#include "platform/timer.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/sockets.h"

using capwap::ByteView;
using capwap::HostReader;

namespace {

// The group number N of types 32-35 (first payload word), or none when the
// payload cannot hold it.
std::optional<uint32_t> GroupNumberOf(const IpcHead& head, const uint8_t* payload) {
  HostReader r(IpcPayload(head, payload));
  uint32_t group = 0;
  if (!r.u32(group)) {
    CwDebug(kDbgError, ZLOG_ERR, " AP group message %u without a group number.",
            head.msg_type);
    return std::nullopt;
  }
  return group;
}

bool GroupInRange(std::optional<uint32_t> group) { return group && *group < kApGroupSlots; }

}  // namespace

int AC_IPC_CleanWTP(const IpcHead& head, const uint8_t* /*payload*/) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, "Failed to find AP when sending clean WTP message.");
    return 1;
  }
  if (wtp->state != kStateIdle) {
    CwDebug(kDbgError, ZLOG_ERR, "CLEAN AP(%s:%d) IN WRONG STATE %d ", wtp->name.c_str(),
            static_cast<int>(wtp->apid), static_cast<int>(wtp->state));
    return 1;
  }
  // Leaves every index, deletes the cw_ap, mark and by-MAC records, releases
  // the APID and the block. WMAC asked for it, so it is not told back.
  FreeWtpAtWmacRequest(wtp);
  return 0;
}

int AC_IPC_ProcAddApGroup(const IpcHead& head, const uint8_t* payload) {
  std::optional<uint32_t> group = GroupNumberOf(head, payload);
  if (!GroupInRange(group)) return 1;
  if (ApGroupGet(*group)) return 0;
  return ApGroupCreate(*group) ? 0 : 1;
}

// Group 1 is every AP's group from creation on, and the one whose settings
// the Configuration Status Response carries: it is never deleted.
int AC_IPC_ProcDelApGroup(const IpcHead& head, const uint8_t* payload) {
  std::optional<uint32_t> group = GroupNumberOf(head, payload);
  if (!GroupInRange(group)) return 1;
  if (*group == kDefaultApGroup) {
    CwDebug(kDbgError, ZLOG_ERR, " AP group %u cannot be deleted.", *group);
    return 1;
  }
  ApGroupDelete(*group);
  return 0;
}

int AC_IPC_ProcAddApToGroup(const IpcHead& head, const uint8_t* payload) {
  std::optional<uint32_t> group_id = GroupNumberOf(head, payload);
  if (!GroupInRange(group_id)) return 1;
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) return 0;
  wtp->group_id = *group_id;
  // A group WMAC names before creating it has no settings to hand down.
  const CW_APGROUP* found = ApGroupGet(*group_id);
  const CW_APGROUP none;
  const CW_APGROUP& group = found ? *found : none;
  wtp->group_ac.v4 = group.controlled_ac_v4;
  wtp->group_ac.v6 = group.controlled_ac_v6;
  wtp->group_ac.ipv4 = group.controlled_ac_ipv4;
  wtp->group_ac.ipv6 = group.controlled_ac_ipv6;
  if (wtp->state == kStateRun && !group.ac_hostname.empty()) {
    std::array<uint8_t, kAcHostNameElemSize> host_name{};
    CwRefItem item;
    AC_Enc_AcHostNameElem(group, item, host_name);
    CW_AC_SndCfgUpdReqItem(wtp, kItemVendorPayload, item.Item());
  }
  CW_WTP_Mark_Store(wtp);
  StoreWtp(wtp);
  return 0;
}

int AC_IPC_ProcRemApToGroup(const IpcHead& head, const uint8_t* payload) {
  std::optional<uint32_t> group_id = GroupNumberOf(head, payload);
  if (!GroupInRange(group_id)) return 1;
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) return 0;
  wtp->group_ac = {};
  return 0;
}

int ProcGetAcCap(const IpcHead& /*head*/, const uint8_t* /*payload*/) {
  return WMAC_AC_IPC_GetACcap();
}

// --- AP status report and discovered-AP window (type 76) ----------------

namespace {

capwap::Timer& AutoApWindowTimer() {
  static capwap::Timer timer;
  return timer;
}

int AutoApWindowExpired(thread* /*t*/) {
  g_bCwAutoAptoCloud = 0;
  return 0;
}

// Without a 4-byte window length WMAC asks for the status of every AP.
void AC_Report_AP_status(const IpcHead& head) {
  if (head.payload_len != 4) AC_Report_ALL_AP_Status();
}

void AC_AutoAp_Enable(const IpcHead& head, const uint8_t* payload) {
  if (head.payload_len != 4) return;
  HostReader r(IpcPayload(head, payload));
  uint32_t seconds = 0;
  if (!r.u32(seconds)) return;
  thread_master* master = capwapm && capwapm->master ? capwapm->master.get() : nullptr;
  g_bCwAutoAptoCloud = 1;
  if (!AutoApWindowTimer().Start(master, static_cast<long>(seconds), AutoApWindowExpired,
                                 nullptr)) {
    // A window that could never close would publish every discovery.
    g_bCwAutoAptoCloud = 0;
    CwDebug(kDbgError, ZLOG_ERR, " Discovered-AP window timer could not be created.");
    return;
  }
  CwDebug(kDbgEvent, ZLOG_INFO, "Start to send auto-ap to cloud in %d seconds",
          static_cast<int>(seconds));
}

}  // namespace

int ProcApStatusReq(const IpcHead& head, const uint8_t* payload) {
  AC_Report_AP_status(head);
  AC_AutoAp_Enable(head, payload);
  return 0;
}

void AutoApWindowClose() {
  AutoApWindowTimer().Cancel();
  g_bCwAutoAptoCloud = 0;
}

// --- Management frame relay (type 28) ------------------------------------

namespace {

// The 8-octet CAPWAP data header of a relayed frame: RID, WBID and T from
// the header's frame parameter.
void EncodeFrameHeader(uint32_t frame_param, uint8_t out[kCwHdrLen]) {
  CW_HDR hdr;
  hdr.SetRid((frame_param >> 24) & 0x1F);
  hdr.SetWbid((frame_param >> 16) & 0x1F);
  hdr.SetBit(kHdrBitT, ((frame_param >> 8) & 1) != 0);
  CW_EncCwHdr(&hdr, out);
}

}  // namespace

int AC_IPC_Send_ManagePkt(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to find AP entry when sending management frame to AP.");
    return 1;
  }
  ByteView frame = IpcPayload(head, payload);
  capwap::Bytes datagram(kCwHdrLen + frame.size(), 0);
  EncodeFrameHeader(head.frame_param, datagram.data());
  capwap::HostWriter body(datagram.data() + kCwHdrLen, frame.size());
  body.bytes(frame);

  SendDesc desc;
  desc.remote = wtp->data_end;
  desc.local = wtp->local;
  int failed;
  if (wtp->data_end.family == 1) {
    desc.fd = g_iAC_DataSock6Id;
    failed = CW_Sock6Snd(&desc, datagram.data(), datagram.size());
  } else {
    desc.fd = g_iAC_DataSockId;
    failed = CW_SockSnd(&desc, datagram.data(), datagram.size(), g_ucNeedEncrypt);
  }
  if (failed) {
    CwDebug(kDbgError, ZLOG_ERR, "Send mange frame msg to 0x%x:%d error %s",
            wtp->data_end.Ipv4(), wtp->data_end.port, strerror(errno));
  }
  return failed ? 1 : 0;
}

int RegisterWmacChannelHandlers() {
  static constexpr WmacRoute kRoutes[] = {
      {WmacIn::kDelWtp, AC_IPC_CleanWTP},
      {WmacIn::kManageFrame, AC_IPC_Send_ManagePkt},
      {WmacIn::kAddApGroup, AC_IPC_ProcAddApGroup},
      {WmacIn::kDelApGroup, AC_IPC_ProcDelApGroup},
      {WmacIn::kAddApToGroup, AC_IPC_ProcAddApToGroup},
      {WmacIn::kRemApFromGroup, AC_IPC_ProcRemApToGroup},
      {WmacIn::kGetAcCap, ProcGetAcCap},
      {WmacIn::kApStatusReq, ProcApStatusReq},
  };
  return InstallIpcRoutes(kRoutes);
}
