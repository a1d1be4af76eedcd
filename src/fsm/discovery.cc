#include "fsm/discovery.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "export/cloud.h"
#include "platform/nsm.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sockets.h"

namespace elem = capwap::elem;
namespace vendor_elem = capwap::vendor_elem;

namespace {

constexpr uint8_t kDefaultPriority = 4;
// The local address of a datagram that was sent to the broadcast address.
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFF;

// --- Decoding ---------------------------------------------------------------

void DecodeBoardData(CW_DISC_REQ_INFO* info, capwap::ByteView value) {
  WtpBoardData board;
  if (CW_DEC_IE_WtpBD(&board, value.data(), value.size()) != 0) return;
  info->board = board;
  info->have_board = true;
}

void DecodeDescriptor(CW_DISC_REQ_INFO* info, capwap::ByteView value) {
  WtpDescriptor descriptor;
  if (CW_DEC_IE_WtpDesc(&descriptor, value.data(), value.size()) != 0) return;
  info->descriptor = descriptor;
  info->have_descriptor = true;
}

void TakeFirstByte(capwap::ByteView value, uint8_t& out) {
  capwap::WireReader(value).u8(out);
}

// 1 when the element makes the whole request undecodable.
int DecodeElement(CW_DISC_REQ_INFO* info, const CwElement& e) {
  switch (e.type) {
    case elem::kDiscoveryType:
      TakeFirstByte(e.value, info->discovery_type);
      break;
    case elem::kVendorSpecificPayload:
      // A standard WTP's payloads (vendor, element ID, data) are not read.
      if (info->dialect != capwap::Dialect::kStandard) {
        CW_AC_DecDiscVendorElem(info, e.value.data(), e.value.size());
      }
      break;
    case elem::kWtpBoardData:
      DecodeBoardData(info, e.value);
      break;
    case elem::kWtpDescriptor:
      DecodeDescriptor(info, e.value);
      break;
    case elem::kWtpFrameTunnelMode:
      TakeFirstByte(e.value, info->frame_tunnel_mode);
      break;
    case elem::kWtpMacType:
      TakeFirstByte(e.value, info->mac_type);
      break;
    case elem::kWtpCapabilities:
      capwap::WireReader(e.value).u16(info->workmode);
      break;
    case elem::kIeee80211WtpRadioInformation:
      return CW_Dec11IERdInfo(info->radios, e.value);
    default:
      break;
  }
  return 0;
}

// --- Validation -------------------------------------------------------------

// The admission limits: APs between Join and Run, and APs online.
bool CapacityLeft() {
  if (g_uiCwConcurrentWTPS >= g_uiCwMaxConcurrentWTPS) {
    CwDebug(kDbgError, ZLOG_ERR,
            " [Discovery state] The current concurrency AP number %d has reached the maximum %d, "
            "Discovery request temporarily rejected.\n",
            static_cast<int>(g_uiCwConcurrentWTPS), static_cast<int>(g_uiCwMaxConcurrentWTPS));
    return false;
  }
  return !capwap::OnlineLimitReached();
}

// Refusal of an AP that has a record; 0 when it may be answered.
int CheckConfiguredAp(CW_WTPCB* wtp, const CW_DISC_REQ_INFO& info, const std::string& model) {
  if (wtp->state != kStateIdle) {
    CwDebug(kDbgError, ZLOG_ERR, " Receiving Discovery request under wrong state.\n");
    return 1;
  }
  if (wtp->discovered == 0) wtp->discovered = 1;
  if (!ModelsCompatible(wtp->model, model)) {
    CwDebug(kDbgError, ZLOG_ERR,
            " WTP model doesn't match. Configed model is %s, but real model is %s.\n",
            wtp->model.c_str(), model.c_str());
    return 1;
  }
  wtp->board_vendor_id = info.board.vendor_id;
  return 0;
}

// A standard WTP: admitted under the generic model, without the vendor
// profile's firmware and MAC rules.
int ProcStandardDiscReq(const CW_DISC_REQ_INFO& info, DiscoveryResp& resp) {
  const auto& mac = info.board.base_mac;
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac);
  if (!wtp && !g_bCwAutoApEnabled) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Reject Discovery Request since can't find AP config with MAC addr %s .\n",
            capwap::MacText(mac).data());
    return 0;
  }
  if (wtp) {
    if (CheckConfiguredAp(wtp, info, capwap::kStandardApModel) != 0) return 1;
    resp.priority = wtp->priority;
  }
  CW_AC_SndDiscResp(wtp, resp, info.board.vendor_id);
  return 0;
}

// --- Response elements --------------------------------------------------------
bool PutPriority(CW_PKT& pkt, uint32_t vendor_id, uint8_t priority) {
  CwElementWriter e(pkt, elem::kVendorSpecificPayload);
  capwap::WireWriter& w = e.w();
  w.u32(vendor_id);
  w.u16(vendor_elem::kPriority);
  w.u16(1);
  w.u8(priority);
  return e.ok();
}

}  // namespace

// --- Decoding ---------------------------------------------------------------

int CW_Dec11IERdInfo(std::array<DiscRadioInfo, kDiscRadioSlots>& slots,
                     capwap::ByteView value) {
  capwap::WireReader r(value);
  DiscRadioInfo radio;
  if (!r.u8(radio.radio_id) || !r.bytes(radio.radio_type.data(), radio.radio_type.size())) {
    return 1;
  }
  if (radio.radio_id == 0 || radio.radio_id > kDiscRadioSlots) return 1;
  slots[radio.radio_id - 1] = radio;
  return 0;
}

int CW_AC_DecDiscVendorElem(CW_DISC_REQ_INFO* info, const uint8_t* value, size_t length) {
  capwap::WireReader r(value, value ? length : 0);
  if (!r.skip(4)) return 1;  // vendor identifier
  while (r.remaining() > 0) {
    uint16_t type = 0;
    uint16_t sub_length = 0;
    capwap::ByteView sub;
    if (!r.u16(type) || !r.u16(sub_length) || !r.view(sub_length, sub)) return 1;
    if (type != vendor_elem::kDiscoveryData) continue;
    info->vendor_data63.fill(0);
    capwap::WireReader(sub).bytes_clipped(info->vendor_data63.data(), info->vendor_data63.size(),
                                          sub.size());
  }
  return 0;
}

int CW_AC_DecDiscReq(CW_DISC_REQ_INFO* info, const CW_RCVPKT* rcv) {
  *info = CW_DISC_REQ_INFO{};
  if (rcv->length > rcv->buffer.size()) return 1;
  info->dialect = capwap::RequestDialect(rcv->Elements());
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (DecodeElement(info, e) != 0) return 1;
  }
  if (!walk.complete()) return 1;
  return info->have_board && info->have_descriptor ? 0 : 1;
}

// --- Handling ---------------------------------------------------------------

void FillBroadcastLocal(CW_ADDR& local) {
  const in_addr_t address = if_getifaddress_byifindex(capwapm, static_cast<int>(local.ifindex));
  if (address == 0) return;
  local.local_ipv4 = ntohl(address);
  local.SetIpv4(ntohl(address));
}

int CW_AC_DiscReqHandler(CW_WTPCB* /*wtp*/, CW_RCVPKT* rcv) {
  if (!rcv) return 1;
  if (CwDebugOn(kDbgPacket)) {
    CwDebug(kDbgPacket, ZLOG_INFO, " Receiving Discovery Request from AP %s.\n",
            capwap::AddrText(rcv->remote).c_str());
  }
  CW_DISC_REQ_INFO info;
  if (CW_AC_DecDiscReq(&info, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Discovery Request frame.\n");
    return 1;
  }
  if (info.dialect == capwap::Dialect::kMixed) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Discovery Request from %s mixes standard and product markers, refused.\n",
            capwap::AddrText(rcv->remote).c_str());
    return 1;
  }
  // Published before admission: refused APs are of interest too.
  if (g_bCwAutoAptoCloud == 1) PubAutoAptoCloud(info.board, *rcv, info.workmode);
  if (!CapacityLeft()) return 0;
  if (rcv->local.family == 0 && rcv->local.Ipv4() == kBroadcastAddress) {
    FillBroadcastLocal(rcv->local);
  }
  CW_AC_ProcDiscReq(&info, rcv);
  return 0;
}

int CW_AC_ProcDiscReq(const CW_DISC_REQ_INFO* info, const CW_RCVPKT* rcv) {
  DiscoveryResp resp;
  resp.remote = rcv->remote;
  resp.local = rcv->local;
  resp.seq = rcv->seq;
  resp.priority = kDefaultPriority;
  resp.rfc = info->dialect == capwap::Dialect::kStandard;
  for (const DiscRadioInfo& radio : info->radios) {
    if (radio.radio_id == 0) continue;
    capwap::WireReader(radio.radio_type.data(), radio.radio_type.size())
        .u32(resp.radio_types[radio.radio_id - 1]);
  }
  if (resp.rfc) return ProcStandardDiscReq(*info, resp);

  const std::string model = FieldText(info->board.model);
  const auto& mac = info->board.base_mac;
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac);
  if (!wtp) {
    if (!g_bCwAutoApEnabled) {
      CwDebug(kDbgError, ZLOG_ERR,
              " Reject Discovery Request since can't find AP config with MAC addr %s .\n",
              capwap::MacText(mac).data());
      return 0;
    }
    if (!CW_AC_IsValidWTPModel(model)) {
      CwDebug(kDbgError, ZLOG_ERR, " Invalid AP model %s from Discovery Request.\n",
              model.c_str());
      return 1;
    }
  } else {
    if (CheckConfiguredAp(wtp, *info, model) != 0) return 1;
    resp.priority = wtp->priority;
  }
  if (!CW_AC_CheckAPVersion(info->descriptor.hw_version.data(), model)) {
    CwDebug(kDbgError, ZLOG_ERR, " Firmware version doesn't match.\n");
    return 1;
  }
  if (!CW_AC_CheckAPMac(&mac, model)) {
    CwDebug(kDbgError, ZLOG_ERR, " AP MAC [%x:%x:%x:%x:%x:%x] software not compatible.\n",
            mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return 1;
  }
  CW_AC_SndDiscResp(wtp, resp, info->board.vendor_id);
  return 0;
}

// --- Response -----------------------------------------------------------------

int FillDiscResp(CW_PKT& pkt, const capwap::AcGlobalInfo& ac, uint32_t vendor_id,
                       uint8_t priority, uint8_t seq) {
  const bool ok = capwap::PutAcDescriptor(pkt, ac, vendor_id) && capwap::PutAcName(pkt, ac) &&
                  capwap::PutAcControlAddress(pkt, ac, ac.family == 1) && PutPriority(pkt, vendor_id, priority);
  if (!ok) return 1;
  FinishCtlMsg(pkt, kMsgDiscoveryRsp, seq);
  return 0;
}

int FillRfcDiscResp(CW_PKT& pkt, const DiscoveryResp& resp) {
  const bool ok = capwap::PutRfcAcDescriptor(pkt) && capwap::PutRfcAcName(pkt) &&
                  capwap::PutRfcRadioInfo(pkt, resp.radio_types) &&
                  capwap::PutRfcControlAddress(pkt, resp.local);
  if (!ok) return 1;
  FinishCtlMsg(pkt, kMsgDiscoveryRsp, resp.seq);
  capwap::RfcFrameCtlMsg(pkt);
  return 0;
}

int CW_AC_SndDiscResp(CW_WTPCB* /*wtp*/, const DiscoveryResp& resp, uint32_t vendor_id) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) return 1;
  g_stCW_AC_GlobalInfo.active_wtps = static_cast<uint16_t>(g_uiCwApCount);
  const int overflow = resp.rfc ? FillRfcDiscResp(*pkt, resp)
                                : FillDiscResp(*pkt, g_stCW_AC_GlobalInfo, vendor_id,
                                               resp.priority, resp.seq);
  if (overflow != 0) return 0;
  SendDesc desc;
  desc.fd = resp.remote.family != 0 ? g_iAC_IP6SockId : g_iAC_IP4SockId;
  desc.remote = resp.remote;
  desc.local = resp.local;
  if (CwDebugOn(kDbgPacket)) {
    CwDebug(kDbgPacket, ZLOG_INFO, " Send Discovery Response to AP %s.\n",
            capwap::AddrText(resp.remote).c_str());
  }
  if (CW_SockSndMsg(&desc, pkt->buffer.data(), pkt->length, g_ucNeedEncrypt) == 1) {
    const int saved = errno;
    CwDebug(kDbgError, ZLOG_ERR, "Send discover response pkt to 0x%x:%d error %s\n",
            resp.remote.Ipv4(), resp.remote.port, strerror(saved));
  }
  return 0;
}
