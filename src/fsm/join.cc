#include "fsm/join.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "registry/session.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sockets.h"

namespace elem = capwap::elem;

namespace {

constexpr uint8_t kTransportUdp = 2;
constexpr uint16_t kImageFieldSize = 32;
constexpr uint32_t kAnyApid = 0xFFFFFFFF;

// --- Decoding ---------------------------------------------------------------

template <size_t N, typename T>
void CopyClipped(std::array<T, N>& field, capwap::ByteView value, size_t cap = N) {
  field.fill(0);
  capwap::WireReader(value).bytes_clipped(field.data(), cap, value.size());
}

// Radio IDs outside the record's four slots are ignored, not refused.
void DecodeRadioInfo(CW_JOIN_REQ_INFO* info, capwap::ByteView value) {
  capwap::WireReader r(value);
  JoinRadioInfo radio;
  if (!r.u8(radio.radio_id) || !r.bytes(radio.radio_type.data(), radio.radio_type.size()) ||
      radio.radio_id == 0 || radio.radio_id > kJoinRadioSlots) {
    CwDebug(kDbgError, ZLOG_INFO, " Radio Information of radio %d ignored in Join Request.\n",
            value.empty() ? 0 : value[0]);
    return;
  }
  info->radios[radio.radio_id - 1] = radio;
}

// Join refuses only elements that run past the datagram and bad board data
// or descriptors. A vendor payload whose sub-elements cannot be walked keeps
// what its handlers took before the fault, and the rest of it is skipped.
void DecodeVendorPayload(CW_JOIN_REQ_INFO* info, capwap::ByteView value) {
  if (info->dialect == capwap::Dialect::kStandard) {
    // The standard layout (vendor, element ID, data): nothing read here.
    uint32_t vendor_id = 0;
    uint16_t element_id = 0;
    capwap::ByteView data;
    if (!capwap::ReadRfcVendorPayload(value, &vendor_id, &element_id, &data)) {
      CwDebug(kDbgError, ZLOG_INFO, " Short Vendor Specific Payload in Join Request skipped.\n");
    }
    return;
  }
  capwap::VendorDecodeScope<CW_JOIN_REQ_INFO> scope(info);
  if (CW_AC_DecVendorElem(info, value) != 0) {
    CwDebug(kDbgError, ZLOG_INFO,
            " Malformed Vendor Specific Payload in Join Request skipped.\n");
  }
}

// False, after a debug line, for a value shorter than the field it fills:
// the element is then skipped.
bool FixedValueFits(const CwElement& e, size_t size) {
  if (e.value.size() >= size) return true;
  CwDebug(kDbgError, ZLOG_INFO, " Join Request element %u of %zu bytes skipped.\n",
          static_cast<unsigned>(e.type), e.value.size());
  return false;
}

// A debug line for a standard element of the wrong length (it is skipped).
void CheckStandardLength(const CwElement& e) {
  const size_t expected = e.type == elem::kEcnSupport              ? 1
                          : e.type == elem::kCapwapLocalIpv4Address ? 4
                                                                     : 16;
  if (e.value.size() == expected) return;
  CwDebug(kDbgError, ZLOG_INFO, " Join Request element %u of %zu bytes skipped.\n",
          static_cast<unsigned>(e.type), e.value.size());
}

// 1 when the element makes the whole request undecodable.
int DecodeElement(CW_JOIN_REQ_INFO* info, const CwElement& e) {
  switch (e.type) {
    case elem::kLocationData:
      CopyClipped(info->location, e.value);
      break;
    case elem::kSessionId:
      CopyClipped(info->session_id, e.value);
      break;
    case elem::kVendorSpecificPayload:
      DecodeVendorPayload(info, e.value);
      break;
    case elem::kWtpBoardData:
      return CW_DEC_IE_WtpBD(&info->board, e.value.data(), e.value.size());
    case elem::kWtpDescriptor:
      return CW_DEC_IE_WtpDesc(&info->descriptor, e.value.data(), e.value.size());
    case elem::kWtpFrameTunnelMode:
      if (FixedValueFits(e, 1)) capwap::WireReader(e.value).u8(info->frame_tunnel_mode);
      break;
    case elem::kWtpMacType:
      if (FixedValueFits(e, 1)) capwap::WireReader(e.value).u8(info->mac_type);
      break;
    case elem::kWtpName:
      CopyClipped(info->wtp_name, e.value, info->wtp_name.size() - 1);
      break;
    case elem::kWtpCapabilities:
      if (FixedValueFits(e, 2)) capwap::WireReader(e.value).u16(info->capability);
      break;
    case elem::kIeee80211WtpRadioInformation:
      DecodeRadioInfo(info, e.value);
      break;
    case elem::kEcnSupport:
    case elem::kCapwapLocalIpv4Address:
    case elem::kCapwapLocalIpv6Address:
      // A standard WTP's own items, not kept: only their lengths are checked.
      if (info->dialect == capwap::Dialect::kStandard) CheckStandardLength(e);
      break;
    default:
      break;
  }
  return 0;
}

// --- Admission ----------------------------------------------------------------

// The admission limits: APs between Join and Run, and APs online.
bool CapacityLeft() {
  if (g_uiCwConcurrentWTPS >= g_uiCwMaxConcurrentWTPS) {
    CwDebug(kDbgEvent, ZLOG_INFO,
            " [Join state] The current concurrency AP number %d has reached the maximum %d, Join "
            "request temporarily rejected.\n",
            static_cast<int>(g_uiCwConcurrentWTPS), static_cast<int>(g_uiCwMaxConcurrentWTPS));
    return false;
  }
  return !capwap::OnlineLimitReached();
}

// The 802.11 radio types the request reported, by radio ID.
std::array<uint32_t, 4> RadioTypes(const CW_JOIN_REQ_INFO& info) {
  std::array<uint32_t, 4> types{};
  for (const JoinRadioInfo& radio : info.radios) {
    if (radio.radio_id == 0) continue;
    capwap::WireReader(radio.radio_type.data(), radio.radio_type.size()).u32(types[radio.radio_id - 1]);
  }
  return types;
}

// The record of the reporting AP: found by its base MAC or made by automatic
// admission. Null when there is none; *result is then the handler's result.
CW_WTPCB* BindRecord(const CW_JOIN_REQ_INFO& info, int* result) {
  const auto& mac = info.board.base_mac;
  if (CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac)) return wtp;
  if (!g_bCwAutoApEnabled) {
    CwDebug(kDbgError, ZLOG_INFO,
            " Can't match the AP config, and auto ap feature is disabled.\n");
    *result = 0;
    return nullptr;
  }
  CwDebug(kDbgEvent, ZLOG_INFO, " Creating AP with MAC address %02x-%02x-%02x-%02x-%02x-%02x.\n",
          mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  std::string model = FieldText(info.board.model);
  if (info.dialect == capwap::Dialect::kStandard) {
    model = capwap::kStandardApModel;
    EnsureStandardApModel(model, RadioTypes(info));
  }
  CW_WTPCB* wtp = CW_AC_CreateWTP(model, kAnyApid, "", 1);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to create AP with MAC address %02x-%02x-%02x-%02x-%02x-%02x.\n", mac[0],
            mac[1], mac[2], mac[3], mac[4], mac[5]);
    *result = 1;
    return nullptr;
  }
  wtp->board_vendor_id = info.board.vendor_id;
  wtp->mac = mac;
  CW_AC_AddWTPByMac(mac, wtp);
  return wtp;
}

// No command sets an AP's serial number, so the record follows what the AP
// reports; the serial index is re-entered with the session.
void UpdateSerial(CW_WTPCB* wtp, const WtpBoardData& board) {
  std::string reported = FieldText(board.serial);
  if (wtp->serial == reported) return;
  CW_AC_DelWtpFromSn(wtp);
  wtp->serial = std::move(reported);
}

void EnterSession(CW_WTPCB* wtp, const CW_JOIN_REQ_INFO& info, const CW_RCVPKT& rcv) {
  wtp->local = rcv.local;
  wtp->descriptor = info.descriptor;
  wtp->location = info.location;
  CW_AC_AddWTPBySESSID(info.session_id, wtp);
  CW_AC_AddWTPByIP(rcv.remote, wtp);
  CW_AC_AddWtpFromSn(wtp);
  wtp->master_status = info.master_status;
  wtp->capability = info.capability;
  wtp->rfc = info.dialect == capwap::Dialect::kStandard;
  wtp->radio_types = wtp->rfc ? RadioTypes(info) : std::array<uint32_t, 4>{};
}

// After a successful response: counted, Join, stored, supervised.
int EnterJoinState(CW_WTPCB* wtp, int sent) {
  if (wtp->concurrency_flag == 0) {
    ++g_uiCwConcurrentWTPS;
    wtp->concurrency_flag = 1;
  }
  wtp->state = kStateJoin;
  StoreWtp(wtp);
  CwDebug(kDbgFsm, ZLOG_INFO, " FSM switched to Join State. \n");
  if (!ArmSessionTimer(wtp, wtp->join_timer, kJoinWaitSeconds, CW_AC_ImgCfgTimerHandler,
                       "join-wait")) {
    return 1;
  }
  return sent;
}

// --- Response elements --------------------------------------------------------

bool PutResultCode(CW_PKT& pkt, uint32_t result) {
  CwElementWriter e(pkt, elem::kResultCode);
  e.w().u32(result);
  return e.ok();
}
bool PutTransportProtocol(CW_PKT& pkt) {
  CwElementWriter e(pkt, elem::kCapwapTransportProtocol);
  e.w().u8(kTransportUdp);
  return e.ok();
}

bool PutImageIdentifier(CW_PKT& pkt, const CW_WTPCB& wtp) {
  const ImageRecord* image = CW_AC_NeedUpdateImage(wtp.descriptor, wtp.model, wtp.board_vendor_id);
  if (!image) return true;
  CwDebug(kDbgEvent, ZLOG_INFO, "CW_AC_FillJoinResp::NeedUpdateImage\n");
  std::array<uint8_t, kImageIdentifierSize> value{};
  CW_AC_GetImageId(*image, value, wtp.model, wtp.board_vendor_id);
  CwElementWriter e(pkt, elem::kImageIdentifier);
  e.w().bytes(value.data(), value.size());
  return e.ok();
}

const ImageRecord* FindImage(std::string_view model, uint32_t vendor_id) {
  for (const ImageVendor& entry : g_aucImgDb) {
    if (entry.vendor_id == 0 || entry.vendor_id != vendor_id) continue;
    for (const ImageRecord& record : entry.records) {
      if (!record.model.empty() && record.model == model) return &record;
    }
  }
  return nullptr;
}

}  // namespace

// --- Decoding ---------------------------------------------------------------

CW_JOIN_REQ_INFO* JoinVendorContext(void* ctx) {
  return capwap::VendorDecodeScope<CW_JOIN_REQ_INFO>::Target(ctx);
}

int CW_AC_DecJoinReq(CW_JOIN_REQ_INFO* info, const CW_RCVPKT* rcv) {
  *info = CW_JOIN_REQ_INFO{};
  if (rcv->length > rcv->buffer.size()) return 1;
  info->dialect = capwap::RequestDialect(rcv->Elements());
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (DecodeElement(info, e) != 0) return 1;
  }
  return walk.complete() ? 0 : 1;
}

// --- Handling ---------------------------------------------------------------

int CW_AC_JoinReqHandler(CW_WTPCB* bound, CW_RCVPKT* rcv) {
  if (!rcv) return 1;
  if (CwDebugOn(kDbgPacket)) {
    CwDebug(kDbgPacket, ZLOG_INFO, " Receiving Join Request from AP %s.\n",
            capwap::AddrText(rcv->remote).c_str());
  }
  if (!CapacityLeft()) return 0;
  if (bound && bound->state != kStateIdle) {
    CwDebug(kDbgError, ZLOG_ERR, " Receiving Join Request under wrong state,%d.\n",
            static_cast<int>(bound->state));
    return 1;
  }
  CW_JOIN_REQ_INFO info;
  if (CW_AC_DecJoinReq(&info, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Join Request frame.\n");
    return 1;
  }

  if (info.dialect == capwap::Dialect::kMixed) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Join Request from %s mixes standard and product markers, refused.\n",
            capwap::AddrText(rcv->remote).c_str());
    return 1;
  }
  JoinResp resp;
  resp.dest = rcv->remote;
  resp.seq = rcv->seq;
  resp.rfc = info.dialect == capwap::Dialect::kStandard;
  if (CW_WTPCB* holder = CW_AC_GetWTPBySESSID(info.session_id)) {
    CwDebug(kDbgError, ZLOG_ERR, " Session ID is in use, so Join Request rejected.\n");
    resp.result = kJoinResultSessionInUse;
    resp.priority = holder->priority;
    return CW_AC_SndJoinResp(holder, resp);
  }

  int refusal = 0;
  CW_WTPCB* wtp = BindRecord(info, &refusal);
  if (!wtp) return refusal;
  UpdateSerial(wtp, info.board);
  if (wtp->state != kStateIdle) {
    CwDebug(kDbgError, ZLOG_ERR, " Receiving Join Request under wrong state .\n");
    return 1;
  }
  EnterSession(wtp, info, *rcv);
  resp.priority = wtp->priority;
  wtp->last_rcv_seq = rcv->seq;
  return EnterJoinState(wtp, CW_AC_SndJoinResp(wtp, resp));
}

// --- Response -----------------------------------------------------------------

// The sequence number comes from the response context: the request's, which
// a successful Join also stores as the record's last received one. A refusal
// answered through another AP's record leaves that record untouched.
int CW_AC_FillJoinResp(CW_PKT& pkt, const CW_WTPCB& wtp, const JoinResp& resp) {
  bool ok = PutResultCode(pkt, resp.result);
  if (resp.rfc) {
    if (ok && resp.result == kJoinResultSuccess) {
      ok = capwap::PutRfcAcDescriptor(pkt) && capwap::PutRfcAcName(pkt) &&
           capwap::PutRfcRadioInfo(pkt, wtp.radio_types) && capwap::PutRfcEcnSupport(pkt) &&
           capwap::PutRfcControlAddress(pkt, wtp.local) &&
           capwap::PutRfcLocalAddress(pkt, wtp.local);
    }
    if (!ok) return 1;
    FinishCtlMsg(pkt, kMsgJoinRsp, resp.seq);
    capwap::RfcFrameCtlMsg(pkt);
    return 0;
  }
  if (ok && resp.result == kJoinResultSuccess) {
    const capwap::AcGlobalInfo& ac = g_stCW_AC_GlobalInfo;
    ok = capwap::PutAcDescriptor(pkt, ac, wtp.board_vendor_id) && capwap::PutAcName(pkt, ac) &&
         capwap::PutAcControlAddress(pkt, ac, wtp.local.family != 0) && PutTransportProtocol(pkt) &&
         PutImageIdentifier(pkt, wtp);
  }
  if (!ok) return 1;
  FinishCtlMsg(pkt, kMsgJoinRsp, resp.seq);
  return 0;
}

int CW_AC_SndJoinResp(CW_WTPCB* wtp, const JoinResp& resp) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) return 1;
  if (CW_AC_FillJoinResp(*pkt, *wtp, resp) != 0) return 1;
  SendDesc desc;
  desc.fd = resp.dest.family != 0 ? g_iAC_IP6SockId : g_iAC_IP4SockId;
  desc.remote = resp.dest;
  desc.local = wtp->local;
  const auto& m = wtp->mac;
  CwDebug(kDbgPacket, ZLOG_INFO, " Sending Join Response to AP %s.\n",
          capwap::MacText(m).data());
  const int sent = CW_SockSndMsg(&desc, pkt->buffer.data(), pkt->length, g_ucNeedEncrypt);
  if (sent != 0) {
    const int saved = errno;
    CwDebug(kDbgError, ZLOG_ERR,
            "Send Join Response to AP %s 0x%x:%d error %s\n", capwap::MacText(m).data(),
            resp.dest.Ipv4(), resp.dest.port, strerror(saved));
  }
  return sent;
}

// --- Images -------------------------------------------------------------------

void CW_AC_Is_NeedSameApimageUpdate(std::string_view model, std::array<char, 32>& out) {
  SetFieldText(out, model);
}

const ImageRecord* CW_AC_NeedUpdateImage(const WtpDescriptor& descriptor,
                                       std::string_view model, uint32_t vendor_id) {
  std::array<char, 32> key{};
  CW_AC_Is_NeedSameApimageUpdate(model, key);
  const ImageRecord* image = FindImage(FieldText(key), vendor_id);
  if (!image) return nullptr;
  const std::string reported = FieldText(descriptor.sw_version);
  if (image->version.compare(0, reported.size(), reported) == 0) return nullptr;
  if (image->auto_upgrade != 1) return nullptr;
  return image;
}

int CW_AC_GetImageId(const ImageRecord& record, std::array<uint8_t, kImageIdentifierSize>& out,
                     std::string_view model, uint32_t vendor_id) {
  capwap::WireWriter w(out.data(), out.size());
  w.u32(vendor_id);
  const std::pair<uint16_t, std::string_view> fields[] = {
      {0, model}, {1, record.version}, {2, record.name}};
  for (const auto& [type, text] : fields) {
    w.u16(type);
    w.u16(kImageFieldSize);
    w.fixed_str(text, kImageFieldSize);
  }
  return w.ok() ? 0 : 1;
}
