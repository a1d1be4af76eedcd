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
#include "transport/recv.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;
namespace vendor_elem = capwap::vendor_elem;

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::HostWriter;
using capwap::WireReader;
using capwap::WireWriter;

namespace {

constexpr long kCfgIpcWaitSeconds = 10;

constexpr size_t kHostNameLen = 32;

// --- Decoding the request -------------------------------------------------

// Reads one element value into the radio's sub-record layout (host order).
// False when the value is shorter than the fields it must hold.
using RecordFn = bool (*)(WireReader& r, HostWriter& w);

bool AntennaRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0, diversity = 0, combiner = 0;
  if (!r.u8(radio) || !r.u8(diversity) || !r.u8(combiner)) return false;
  ByteView rest = r.rest();
  w.u8(radio);
  w.u8(diversity);
  w.u8(0);
  w.u8(combiner);
  w.bytes(rest.first(std::min<size_t>(rest.size(), w.remaining())));  // count, selections
  return true;
}

// radio, reserved, two bytes, u32 (Direct Sequence and OFDM Control).
bool FourBytesAndWordRecord(WireReader& r, HostWriter& w) {
  uint8_t b[4];
  uint32_t word = 0;
  if (!r.bytes(b, sizeof b) || !r.u32(word)) return false;
  w.bytes(b, sizeof b);
  w.u32(word);
  return true;
}

bool MultiDomainRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0, reserved = 0;
  uint16_t first = 0, count = 0, max_power = 0;
  if (!r.u8(radio) || !r.u8(reserved) || !r.u16(first) || !r.u16(count) || !r.u16(max_power)) {
    return false;
  }
  w.u8(radio);
  w.u8(reserved);
  w.u16(first);
  w.u16(count);
  w.u16(max_power);
  return true;
}

// radio, then up to 8 rate bytes.
bool RatesRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0;
  if (!r.u8(radio)) return false;
  ByteView rates = r.rest();
  w.u8(radio);
  w.bytes(rates.first(std::min<size_t>(rates.size(), w.remaining())));
  return true;
}

bool TxPowerRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0, reserved = 0;
  uint16_t power = 0;
  if (!r.u8(radio) || !r.u8(reserved) || !r.u16(power)) return false;
  w.u8(radio);
  w.u8(reserved);
  w.u16(power);
  return true;
}

// radio, n, n level bytes; the record keeps the first 8.
bool TxPowerLevelRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0, n = 0;
  ByteView levels;
  if (!r.u8(radio) || !r.u8(n) || !r.view(n, levels)) return false;
  const size_t kept = std::min<size_t>(n, w.remaining() - 2);
  w.u8(radio);
  w.u8(static_cast<uint8_t>(kept));
  w.bytes(levels.first(kept));
  return true;
}

struct QosSet {
  uint8_t a = 0;
  uint16_t b = 0, c = 0;
  uint8_t d = 0;
  uint16_t e = 0, f = 0;
};

bool ReadQosSet(WireReader& r, QosSet& s) {
  return r.u8(s.a) && r.u16(s.b) && r.u16(s.c) && r.u8(s.d) && r.u16(s.e) && r.u16(s.f);
}

void WriteQosEntry(HostWriter& w, const QosSet& s) {
  w.u16(s.a);
  w.u16(s.b);
  w.u16(s.c);
  w.u16(s.d);
  w.u16(s.e);
  w.u16(s.f);
}

// radio, tagging policy, per queue two parameter sets; the record holds the
// first sets as a table of four 12-byte entries at 2, the second at 50.
bool QosRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0, tagging = 0;
  QosSet sets[4][2];
  if (!r.u8(radio) || !r.u8(tagging)) return false;
  for (auto& queue : sets) {
    if (!ReadQosSet(r, queue[0]) || !ReadQosSet(r, queue[1])) return false;
  }
  w.u8(radio);
  w.u8(tagging);
  for (const auto& queue : sets) WriteQosEntry(w, queue[0]);
  for (const auto& queue : sets) WriteQosEntry(w, queue[1]);
  return true;
}

bool RadioConfigRecord(WireReader& r, HostWriter& w) {
  uint8_t head[10];  // radio, preamble, BSSIDs, DTIM, BSSID
  uint16_t beacon = 0;
  uint8_t country[4];
  if (!r.bytes(head, sizeof head) || !r.u16(beacon) || !r.bytes(country, sizeof country)) {
    return false;
  }
  w.bytes(head, sizeof head);
  w.u16(beacon);
  w.bytes(country, sizeof country);
  return true;
}

// radio, and the radio type bytes kept as received.
bool RadioInfoRecord(WireReader& r, HostWriter& w) {
  uint8_t info[5];
  if (!r.bytes(info, sizeof info)) return false;
  w.bytes(info, sizeof info);
  return true;
}

// radio, u32; the record keeps the word at offset 4.
bool RadioWordRecord(WireReader& r, HostWriter& w) {
  uint8_t radio = 0;
  uint32_t word = 0;
  if (!r.u8(radio) || !r.u32(word)) return false;
  w.u8(radio);
  w.seek(4);
  w.u32(word);
  return true;
}

struct RadioElement {
  uint16_t elem;
  uint16_t tlv;  // the sub-record kind it fills
  RecordFn fn;
};
constexpr RadioElement kRadioElements[] = {
    {1025, 1, AntennaRecord},        {1028, 2, FourBytesAndWordRecord},
    {1032, 4, MultiDomainRecord},    {1033, 5, FourBytesAndWordRecord},
    {1034, 6, RatesRecord},          {1040, 7, RatesRecord},
    {1041, 8, TxPowerRecord},        {1042, 9, TxPowerLevelRecord},
    {1045, 13, QosRecord},           {1046, 12, RadioConfigRecord},
    {1048, 11, RadioInfoRecord},     {1049, 19, RadioWordRecord},
};

const RadioElement* RadioElementOf(uint16_t elem) {
  for (const RadioElement& row : kRadioElements) {
    if (row.elem == elem) return &row;
  }
  return nullptr;
}

enum class ElemResult { kOk, kNoMemory };

// A value too short for the fields of its record is skipped: only the cases
// listed for this exchange (no elements, an element past the end, memory)
// make the request undecodable.
ElemResult DecodeRadioElement(CW_CFG_STATUS_REQ_INFO* info, const RadioElement& row,
                              ByteView value) {
  const CW_RDBIND_TLV* tlv = CW_RdBindTlvByType(row.tlv);
  std::array<uint8_t, 98> record{};
  WireReader r(value);
  HostWriter w(record.data(), tlv->size);
  if (!row.fn(r, w)) {
    CwDebug(CW_DBG_ERROR, ZLOG_INFO, " Config Request element %u of %zu bytes skipped.\n",
            static_cast<unsigned>(row.elem), value.size());
    return ElemResult::kOk;
  }
  const uint8_t radio_id = record[0];
  if (radio_id < 1 || radio_id > 4) {
    CwDebug(CW_DBG_ERROR, ZLOG_INFO, " Config Request element %u of radio %u ignored.\n",
            static_cast<unsigned>(row.elem), static_cast<unsigned>(radio_id));
    return ElemResult::kOk;
  }
  if (CW_RdBindSetSub(info->rdbind, radio_id, row.tlv, ByteView(record).first(tlv->size)) != 0) {
    return ElemResult::kNoMemory;
  }
  return ElemResult::kOk;
}

// A payload whose sub-elements cannot be walked keeps what its handlers
// took before the fault; the rest of that payload is skipped.
ElemResult DecodeVendorPayload(CW_CFG_STATUS_REQ_INFO* info, ByteView value) {
  if (CW_AC_DecVendorElem(info, value) == 0) return ElemResult::kOk;
  if (info->no_memory) return ElemResult::kNoMemory;
  CwDebug(CW_DBG_ERROR, ZLOG_INFO,
          " Malformed Vendor Specific Payload in Config Request skipped.\n");
  return ElemResult::kOk;
}

ElemResult DecodeElement(CW_CFG_STATUS_REQ_INFO* info, const CwElement& e) {
  if (const RadioElement* row = RadioElementOf(e.type)) {
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
  if (wtp.capability & CW_CAP_MESH) {
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
  bool ok = CW_AC_EncRdBindElems(pkt, wtp.rdbind, wtp.board_vendor_id) == 0;
  if (src.antenna_switch) {
    ok &= PutElement(pkt, elem::kAntennaType,
                     [&](WireWriter& w) { w.u8(wtp.antenna_external ? 1 : 0); });
  }
  for (const Bytes* block : {&wtp.wrrm_block, &wtp.wids_block}) {
    if (!block->empty()) ok &= CW_PktAppendRaw(pkt, *block) == 0;
  }
  if (wtp.vap_profile && wtp.master_status != 0) {
    ok &= (wtp.capability & CW_CAP_RUNTIME_VAP)
              ? CAPWAP_ENC_VapMsgIE(pkt, *wtp.vap_profile, wtp.board_vendor_id) == 0
              : CAPWAP_ENC_VapMsgBackupAc(pkt, *wtp.vap_profile) == 0;
  }
  ok &= PutElement(pkt, elem::kRetransmitInterval,
                   [&](WireWriter& w) { w.u8(static_cast<uint8_t>(wtp.retrans_interval)); });
  return ok;
}

// Steps 4 to 9 of a decoded request.
int EnterConfig(CW_WTPCB* wtp, CW_RCVPKT* rcv, CW_CFG_STATUS_REQ_INFO& info) {
  wtp->join_timer.Cancel();
  wtp->last_rcv_seq = rcv->seq;
  for (const CW_RDBIND_RADIO& radio : info.rdbind.radios) {
    const auto& config = radio.sub[12];  // WTP Radio Configuration
    if (!config || config->size() < 10 || radio.radio_id < 1 || radio.radio_id > 4) continue;
    auto& row = wtp->bssid_table[radio.radio_id - 1];
    row.radio_id = static_cast<uint8_t>(radio.radio_id);
    std::copy_n(config->begin() + 4, row.bssid.size(), row.bssid.begin());
  }
  CwDebug(CW_DBG_EVENT, ZLOG_INFO,
          " Notify WMAC Radio Binding parameters from Config Status Request for Ap %d. \n",
          static_cast<int>(wtp->apid));
  wtp->rdbind_notify_result =
      static_cast<uint32_t>(WMAC_AC_IPC_NotifyRdBind(wtp->apid, info.rdbind, 0));
  CW_FreeRdBind(&info.rdbind);

  wtp->wait_rdbind = 1;
  wtp->wait_wrrm = 1;
  wtp->wait_wids = 1;
  WIDS_Ac_Ipc_GetCfg(capwapm, wtp->apid);

  wtp->state = CW_STATE_CONFIG;
  CW_AC_StoreWTP(wtp);
  CwDebug(CW_DBG_FSM, ZLOG_INFO, " FSM switched to Config State.\n");

  if (!ArmSessionTimer(wtp, wtp->cfg_ipc_timer, kCfgIpcWaitSeconds, CW_AC_IPCTimerHandler,
                       "IPC")) {
    return 1;
  }
  return 0;
}

}  // namespace

int CW_AC_DecCfgReq(CW_CFG_STATUS_REQ_INFO* info, ByteView elements) {
  if (!info) return 1;
  if (elements.size() < 4) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Illegal Config Request frame received.\n");
    return 1;
  }
  capwap::VendorDecodeScope<CW_CFG_STATUS_REQ_INFO> scope(info);
  CwElementWalk walk(elements);
  for (const CwElement& e : walk) {
    if (DecodeElement(info, e) == ElemResult::kNoMemory) {
      CwDebug(CW_DBG_ERROR, ZLOG_ERR, " No memory to decode Config Request frame.\n");
      return 1;
    }
  }
  if (!walk.complete()) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Illegal Config Request frame received .\n");
    return 1;
  }
  info->rdbind.radio_count = CW_RdBindRadioCount(info->rdbind);
  return 0;
}

int CW_AC_CfgReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  if (wtp->state != CW_STATE_JOIN && wtp->state != CW_STATE_IMAGE) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Receiving Config Request frame under wrong state %s.\n",
            capwap::MacText(wtp->mac).data());
    return 1;
  }
  CwDebug(CW_DBG_PACKET, ZLOG_INFO, " Receiving Config Request frame from AP %s.\n",
          capwap::MacText(wtp->mac).data());
  CW_CFG_STATUS_REQ_INFO info;
  if (CW_AC_DecCfgReq(&info, rcv->Elements()) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR,
            " Failed to decode Config Status Request frame since illegal frame format.\n");
    CW_FreeRdBind(&info.rdbind);
    __CW_AC_HandleTunnelDown(wtp, "CW_AC_CfgReqHandler", __LINE__);
    return 1;
  }
  return EnterConfig(wtp, rcv, info);
}

CwCfgRespSources CW_AC_CfgRespSourcesOf(const CW_WTPCB& wtp) {
  CwCfgRespSources src;
  src.group = ApGroupGet(wtp.group_id);
  agent_cloud_server_get(src.cloud.data());
  src.antenna_switch = CW_isSupportAntTypeSW(wtp.model);
  src.oid = g_uiOid;
  return src;
}

int CW_AC_BuildCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp, const CwCfgRespSources& sources) {
  if (!sources.group) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " AP group %u of AP %s is missing.\n", wtp.group_id,
            wtp.name.c_str());
    return 0;
  }
  bool ok = PutSessionBasics(pkt, wtp);
  ok &= PutLanSettings(pkt, wtp, *sources.group);
  ok &= PutCloudAndNames(pkt, wtp, sources);
  ok &= PutRadiosAndPeers(pkt, wtp, sources);
  return ok ? 0 : 1;
}

int CW_AC_FillCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp) {
  return CW_AC_BuildCfgResp(pkt, wtp, CW_AC_CfgRespSourcesOf(wtp));
}

int CW_AC_SndCfgResp(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR,
            " Failed to allocate packet for Config Status Response of AP %s.\n",
            wtp->name.c_str());
    return 1;
  }
  if (CW_AC_FillCfgResp(*pkt, *wtp) != 0) {
    CW_BUG("Config Status Response of AP %s overflowed", wtp->name.c_str());
  }
  CW_FreeRdBind(&wtp->rdbind);
  CW_FinishCtlMsg(*pkt, CW_MSG_CFG_STATUS_RSP, CW_AC_GetSeqNum(wtp, CW_MSG_CFG_STATUS_RSP));
  CwDebug(CW_DBG_PACKET, ZLOG_INFO, " Sending Config Status Response frame to AP %s.\n",
          capwap::MacText(wtp->mac).data());
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

CW_CFG_STATUS_REQ_INFO* CW_CfgReqOf(void* context) {
  return capwap::VendorDecodeScope<CW_CFG_STATUS_REQ_INFO>::Target(context);
}

void CW_CfgStatusRegister() {
  AC_SetMsgHandler(CW_MSG_CFG_STATUS_REQ, CW_AC_CfgReqHandler);
  CW_SetCfgRespSender(CW_AC_SndCfgResp);
}
