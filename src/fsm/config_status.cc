// The Configuration Status exchange: request decode and handling, and the
// response with the AP's start-up configuration.
#include "fsm/config_status.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "config/ap_group.h"
#include "config/model_catalogue.h"
#include "diag/bug.h"
#include "diag/debug.h"
#include "export/cloud.h"
#include "platform/identity.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"
#include "relay/side_channels.h"
#include "relay/vap_enc.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/radio_elements.h"
#include "transport/recv.h"
#include "transport/rfc.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;
namespace vendor_elem = capwap::vendor_elem;

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::WireWriter;

namespace {

constexpr long kCfgIpcWaitSeconds = 10;

constexpr size_t kHostNameLen = 32;

// --- Decoding the request -------------------------------------------------

enum class ElemResult { kOk, kNoMemory };

// A value too short for the fields of its record is skipped: only the cases
// listed for this exchange (no elements, an element past the end, memory)
// make the request undecodable.
ElemResult DecodeRadioElement(CfgStatusReqInfo* info, const capwap::RadioElementCodec& row,
                              ByteView value) {
  std::array<uint8_t, capwap::kRadioRecordMax> buffer{};
  const std::span<uint8_t> record = std::span(buffer).first(row.record_size);
  if (!capwap::RadioFromWire(row, value, record)) {
    CwDebug(kDbgError, ZLOG_INFO, " Config Request element %u of %zu bytes skipped.\n",
            static_cast<unsigned>(row.element), value.size());
    return ElemResult::kOk;
  }
  const uint8_t radio_id = record[0];
  if (radio_id < 1 || radio_id > 4) {
    CwDebug(kDbgError, ZLOG_INFO, " Config Request element %u of radio %u ignored.\n",
            static_cast<unsigned>(row.element), static_cast<unsigned>(radio_id));
    return ElemResult::kOk;
  }
  if (RdBindSetSub(info->rdbind, radio_id, row.rdbind_tlv, record) != 0) {
    return ElemResult::kNoMemory;
  }
  return ElemResult::kOk;
}

// A payload whose sub-elements cannot be walked keeps what its handlers
// took before the fault; the rest of that payload is skipped.
ElemResult DecodeVendorPayload(CfgStatusReqInfo* info, ByteView value) {
  if (CW_AC_DecVendorElem(info, value) == 0) return ElemResult::kOk;
  if (info->no_memory) return ElemResult::kNoMemory;
  CwDebug(kDbgError, ZLOG_INFO,
          " Malformed Vendor Specific Payload in Config Request skipped.\n");
  return ElemResult::kOk;
}

// Fixed lengths of the standard elements read only for their length.
constexpr size_t kStatisticsTimerLen = 2;
constexpr size_t kRebootStatisticsLen = 15;

// A standard WTP's element: 802.11 elements and the Radio Administrative
// State in their RFC form; the rest checked and let go.
ElemResult DecodeRfcElement(CfgStatusReqInfo* info, const CwElement& e) {
  const capwap::RadioElementCodec* row = capwap::RfcRadioElementFor(e.type);
  if (row && (row->uses & capwap::kRadioInStatusRequest)) {
    return DecodeRadioElement(info, *row, e.value);
  }
  size_t expected = 0;
  switch (e.type) {
    case elem::kAcName:
      info->ac_name.assign(e.value.begin(), e.value.end());
      return ElemResult::kOk;
    case elem::kStatisticsTimer:
      expected = kStatisticsTimerLen;
      break;
    case elem::kWtpRebootStatistics:
      expected = kRebootStatisticsLen;
      break;
    case elem::kVendorSpecificPayload: {
      uint32_t vendor_id = 0;
      uint16_t element_id = 0;
      ByteView data;
      if (!capwap::ReadRfcVendorPayload(e.value, &vendor_id, &element_id, &data)) expected = 6;
      break;
    }
    default:
      break;
  }
  if (expected != 0 && e.value.size() != expected) {
    CwDebug(kDbgError, ZLOG_INFO, " Config Request element %u of %zu bytes skipped.\n",
            static_cast<unsigned>(e.type), e.value.size());
  }
  return ElemResult::kOk;
}

ElemResult DecodeElement(CfgStatusReqInfo* info, const CwElement& e) {
  const capwap::RadioElementCodec* row = capwap::RadioElementFor(e.type);
  if (row && (row->uses & capwap::kRadioInStatusRequest)) {
    return DecodeRadioElement(info, *row, e.value);
  }
  if (e.type == elem::kVendorSpecificPayload) return DecodeVendorPayload(info, e.value);
  if (e.type == elem::kAcName) {
    info->ac_name.assign(e.value.begin(), e.value.end());
  }
  return ElemResult::kOk;
}

// --- Building the response --------------------------------------------------

template <typename Body>
bool PutElement(CW_PKT& pkt, uint16_t type, Body body) {
  CwElementWriter e(pkt, type);
  body(e.w());
  return e.ok();
}

// The AP's own setting when it is set, else the group's (when that is).
template <typename T, typename Set>
const T* OwnElseGroup(const T& own, const T& group, Set is_set) {
  if (is_set(own)) return &own;
  if (is_set(group)) return &group;
  return nullptr;
}

bool PutSessionBasics(CW_PKT& pkt, const CW_WTPCB& wtp) {
  bool ok = PutElement(pkt, elem::kCapwapTimers, [&](WireWriter& w) {
    w.u8(static_cast<uint8_t>(wtp.discovery_interval));
    w.u8(static_cast<uint8_t>(wtp.echo_interval));
  });
  ok &= PutElement(pkt, elem::kLocationData, [&](WireWriter& w) { w.bytes(ByteView(wtp.location)); });
  ok &= PutElement(pkt, elem::kStatisticsTimer, [&](WireWriter& w) { w.u16(wtp.stats_interval); });
  if (wtp.capability & kCapMesh) {
    ok &= PutElement(pkt, elem::kMeshRole, [&](WireWriter& w) {
      w.u8(wtp.mesh_role);
      w.u8(wtp.mesh_id);
      w.u8(wtp.mesh_data_path);
    });
  }
  ok &= PutElement(pkt, elem::kWtpStaticIpAddressInformation, [&](WireWriter& w) {
    w.u32(wtp.static_ip.addr);
    w.u32(wtp.static_ip.mask);
    w.u32(wtp.static_ip.gateway);
    w.u8(static_cast<uint8_t>(wtp.static_ip.is_static));
  });
  return ok;
}

bool PutLanSettings(CW_PKT& pkt, const CW_WTPCB& wtp, const CW_APGROUP& group) {
  bool ok = true;
  using LanIp = decltype(wtp.lan_ip);
  const LanIp group_ip{group.lan_ip.addr, group.lan_ip.prefixlen};
  if (const LanIp* ip = OwnElseGroup<LanIp>(wtp.lan_ip, group_ip,
                                            [](const LanIp& v) { return v.addr && v.prefixlen; })) {
    ok &= PutElement(pkt, elem::kLanIp, [&](WireWriter& w) {
      w.u32(ip->addr);
      w.u32(ip->prefixlen);
    });
  }
  using Dhcp = decltype(wtp.lan_dhcp);
  const Dhcp group_dhcp{group.lan_dhcp.low, group.lan_dhcp.high, group.lan_dhcp.lease};
  if (const Dhcp* dhcp = OwnElseGroup<Dhcp>(wtp.lan_dhcp, group_dhcp,
                                            [](const Dhcp& v) { return v.low && v.high; })) {
    ok &= PutElement(pkt, elem::kLanDhcp, [&](WireWriter& w) {
      w.u32(dhcp->low);
      w.u32(dhcp->high);
      w.u32(dhcp->lease);
    });
  }
  using N2n = decltype(wtp.n2n);
  const N2n group_n2n{group.n2n.addr, group.n2n.port};
  if (const N2n* n2n = OwnElseGroup<N2n>(wtp.n2n, group_n2n,
                                         [](const N2n& v) { return v.addr && v.port; })) {
    ok &= PutElement(pkt, elem::kN2nServer, [&](WireWriter& w) {
      w.u32(n2n->addr);
      w.u16(n2n->port);
    });
  }
  return ok;
}

bool PutCloudAndNames(CW_PKT& pkt, const CW_WTPCB& wtp, const CwCfgRespSources& src) {
  bool ok = PutElement(pkt, elem::kCloudServer, [&](WireWriter& w) {
    HostReader r(ByteView(src.cloud).subspan(128, 2));
    uint16_t port = 0;
    r.u16(port);
    w.bytes(ByteView(src.cloud).first(128));
    w.u16(port);
  });
  for (const auto* dns : {&wtp.dns, &src.group->dns}) {
    ok &= PutElement(pkt, elem::kDnsServers, [&](WireWriter& w) {
      for (uint32_t server : *dns) w.u32(server);
    });
  }
  if (!src.group->ac_hostname.empty()) {
    ok &= PutElement(pkt, elem::kVendorSpecificPayload, [&](WireWriter& w) {
      w.u32(src.oid);
      w.u16(vendor_elem::kAcHostName);
      w.u16(kHostNameLen);
      w.fixed_str(src.group->ac_hostname, kHostNameLen);
    });
  }
  if (wtp.remote.family == 0) {
    ok &= PutElement(pkt, elem::kCapwapLocalIpv4Address, [&](WireWriter& w) { w.u32(wtp.remote.Ipv4()); });
  }
  ok &= PutElement(pkt, elem::kIdleTimeout, [&](WireWriter& w) { w.u32(wtp.rdbind.idle_timeout); });
  if (wtp.led_quiet) {
    ok &= PutElement(pkt, elem::kLedMode, [&](WireWriter& w) { w.u8(wtp.led_quiet); });
  }
  return ok;
}

bool PutRadiosAndPeers(CW_PKT& pkt, const CW_WTPCB& wtp, const CwCfgRespSources& src) {
  bool ok = EncodeRdBindElems(pkt, wtp.rdbind, wtp.board_vendor_id) == 0;
  if (src.antenna_switch) {
    ok &= PutElement(pkt, elem::kAntennaType,
                     [&](WireWriter& w) { w.u8(wtp.antenna_external ? 1 : 0); });
  }
  for (const Bytes* block : {&wtp.wrrm_block, &wtp.wids_block}) {
    if (!block->empty()) ok &= PktAppendRaw(pkt, *block) == 0;
  }
  if (wtp.vap_profile && wtp.master_status != 0) {
    ok &= (wtp.capability & kCapRuntimeVap)
              ? CAPWAP_ENC_VapMsgIE(pkt, *wtp.vap_profile, wtp.board_vendor_id) == 0
              : CAPWAP_ENC_VapMsgBackupAc(pkt, *wtp.vap_profile) == 0;
  }
  ok &= PutElement(pkt, elem::kRetransmitInterval,
                   [&](WireWriter& w) { w.u8(static_cast<uint8_t>(wtp.retrans_interval)); });
  return ok;
}

// Steps 4 to 9 of a decoded request.
int EnterConfig(CW_WTPCB* wtp, CW_RCVPKT* rcv, CfgStatusReqInfo& info) {
  wtp->join_timer.Cancel();
  wtp->last_rcv_seq = rcv->seq;
  for (const RadioBindingRadio& radio : info.rdbind.radios) {
    const auto& config = radio.sub[12];  // WTP Radio Configuration
    if (!config || config->size() < 10 || radio.radio_id < 1 || radio.radio_id > 4) continue;
    auto& row = wtp->bssid_table[radio.radio_id - 1];
    row.radio_id = static_cast<uint8_t>(radio.radio_id);
    std::copy_n(config->begin() + 4, row.bssid.size(), row.bssid.begin());
  }
  CwDebug(kDbgEvent, ZLOG_INFO,
          " Notify WMAC Radio Binding parameters from Config Status Request for Ap %d. \n",
          static_cast<int>(wtp->apid));
  wtp->rdbind_notify_result =
      static_cast<uint32_t>(WMAC_AC_IPC_NotifyRdBind(wtp->apid, info.rdbind, 0));
  CW_FreeRdBind(&info.rdbind);

  wtp->wait_rdbind = 1;
  wtp->wait_wrrm = 1;
  wtp->wait_wids = 1;
  WIDS_Ac_Ipc_GetCfg(capwapm, wtp->apid);

  wtp->state = kStateConfig;
  StoreWtp(wtp);
  CwDebug(kDbgFsm, ZLOG_INFO, " FSM switched to Config State.\n");

  if (!ArmSessionTimer(wtp, wtp->cfg_ipc_timer, kCfgIpcWaitSeconds, CW_AC_IPCTimerHandler,
                       "IPC")) {
    return 1;
  }
  return 0;
}

}  // namespace

int CW_AC_DecCfgReq(CfgStatusReqInfo* info, ByteView elements, bool rfc) {
  if (!info) return 1;
  if (elements.size() < 4) {
    CwDebug(kDbgError, ZLOG_ERR, " Illegal Config Request frame received.\n");
    return 1;
  }
  capwap::VendorDecodeScope<CfgStatusReqInfo> scope(info);
  CwElementWalk walk(elements);
  for (const CwElement& e : walk) {
    if ((rfc ? DecodeRfcElement(info, e) : DecodeElement(info, e)) == ElemResult::kNoMemory) {
      CwDebug(kDbgError, ZLOG_ERR, " No memory to decode Config Request frame.\n");
      return 1;
    }
  }
  if (!walk.complete()) {
    CwDebug(kDbgError, ZLOG_ERR, " Illegal Config Request frame received .\n");
    return 1;
  }
  info->rdbind.radio_count = RdBindRadioCount(info->rdbind);
  return 0;
}

int CW_AC_CfgReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  if (wtp->state != kStateJoin && wtp->state != kStateImage) {
    CwDebug(kDbgError, ZLOG_ERR, " Receiving Config Request frame under wrong state %s.\n",
            capwap::MacText(wtp->mac).data());
    return 1;
  }
  CwDebug(kDbgPacket, ZLOG_INFO, " Receiving Config Request frame from AP %s.\n",
          capwap::MacText(wtp->mac).data());
  CfgStatusReqInfo info;
  if (CW_AC_DecCfgReq(&info, rcv->Elements(), wtp->rfc) != 0) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to decode Config Status Request frame since illegal frame format.\n");
    CW_FreeRdBind(&info.rdbind);
    __CW_AC_HandleTunnelDown(wtp, "CW_AC_CfgReqHandler", __LINE__);
    return 1;
  }
  return EnterConfig(wtp, rcv, info);
}

CwCfgRespSources CfgRespSourcesOf(const CW_WTPCB& wtp) {
  CwCfgRespSources src;
  src.group = ApGroupGet(wtp.group_id);
  agent_cloud_server_get(src.cloud.data());
  src.antenna_switch = CW_isSupportAntTypeSW(wtp.model);
  src.oid = g_uiOid;
  return src;
}

int BuildCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp, const CwCfgRespSources& sources) {
  if (!sources.group) {
    CwDebug(kDbgError, ZLOG_ERR, " AP group %u of AP %s is missing.\n", wtp.group_id,
            wtp.name.c_str());
    return 0;
  }
  bool ok = PutSessionBasics(pkt, wtp);
  ok &= PutLanSettings(pkt, wtp, *sources.group);
  ok &= PutCloudAndNames(pkt, wtp, sources);
  ok &= PutRadiosAndPeers(pkt, wtp, sources);
  return ok ? 0 : 1;
}

int BuildRfcCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp) {
  bool ok = PutElement(pkt, elem::kCapwapTimers, [&](WireWriter& w) {
    w.u8(static_cast<uint8_t>(wtp.discovery_interval));
    w.u8(static_cast<uint8_t>(wtp.echo_interval));
  });
  ok &= PutElement(pkt, elem::kIdleTimeout, [&](WireWriter& w) { w.u32(wtp.rdbind.idle_timeout); });
  ok &= capwap::PutRfcWtpFallback(pkt) && capwap::PutRfcAcList(pkt, wtp.local);
  ok &= PutElement(pkt, elem::kWtpStaticIpAddressInformation, [&](WireWriter& w) {
    w.u32(wtp.static_ip.addr);
    w.u32(wtp.static_ip.mask);
    w.u32(wtp.static_ip.gateway);
    w.u8(static_cast<uint8_t>(wtp.static_ip.is_static));
  });
  ok &= EncodeRdBindElemsRfc(pkt, wtp.rdbind, wtp.radio_types) == 0;
  return ok ? 0 : 1;
}

int CW_AC_FillCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp) {
  if (wtp.rfc) return BuildRfcCfgResp(pkt, wtp);
  return BuildCfgResp(pkt, wtp, CfgRespSourcesOf(wtp));
}

int CW_AC_SndCfgResp(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to allocate packet for Config Status Response of AP %s.\n",
            wtp->name.c_str());
    return 1;
  }
  if (CW_AC_FillCfgResp(*pkt, *wtp) != 0) {
    CAPWAP_BUG("Config Status Response of AP %s overflowed", wtp->name.c_str());
  }
  CW_FreeRdBind(&wtp->rdbind);
  FinishCtlMsg(*pkt, kMsgCfgStatusRsp, CW_AC_GetSeqNum(wtp, kMsgCfgStatusRsp));
  CwDebug(kDbgPacket, ZLOG_INFO, " Sending Config Status Response frame to AP %s.\n",
          capwap::MacText(wtp->mac).data());
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

CfgStatusReqInfo* CfgReqOf(void* context) {
  return capwap::VendorDecodeScope<CfgStatusReqInfo>::Target(context);
}

void CfgStatusRegister() {
  SetMsgHandler(kMsgCfgStatusReq, CW_AC_CfgReqHandler);
  SetCfgRespSender(CW_AC_SndCfgResp);
}
