// The standard dialect's switch, framing and the message parts it shares
// between exchanges.
#include "transport/rfc.h"

#include <algorithm>
#include <string>

#include "platform/identity.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/radio_elements.h"

namespace elem = capwap::elem;

namespace capwap {
namespace {

bool rfc_compat_on = false;

constexpr uint16_t kFragOffsetMask = 0x1FFF;
constexpr int kFragOffsetShift = 3;
constexpr uint8_t kReservedMask = 0x7;

// AC Descriptor fields of the standard dialect.
constexpr uint8_t kRmacNotSupported = 2;
constexpr uint8_t kDtlsPolicyClearData = 0x02;
constexpr uint16_t kAcInfoHardware = 4;
constexpr uint16_t kAcInfoSoftware = 5;
constexpr uint16_t kNoStationLimit = 0xFFFF;

constexpr uint8_t kEcnLimited = 0;
constexpr uint8_t kFallbackEnabled = 1;
constexpr uint16_t kCtlHeaderElemLenAt = kCwHdrLen + 5;

// The text of a fixed field, or `fallback` when the field is empty.
template <size_t N>
std::string TextOr(const std::array<char, N>& field, const std::string& fallback) {
  std::string text = FieldText(field);
  return text.empty() ? fallback : text;
}

// The address a WTP's request arrived on, as four octets (IPv4, held as a
// host-order word) or sixteen (IPv6, network order).
void PutAddress(WireWriter& w, const CW_ADDR& local) {
  if (local.family == 0) {
    w.u32(local.Ipv4());
  } else {
    w.bytes(local.addr.data(), local.addr.size());
  }
}

}  // namespace

bool RfcCompatOn() { return rfc_compat_on; }
void SetRfcCompatFlag(bool on) { rfc_compat_on = on; }

bool IsStandardVendor(uint32_t vendor_id) {
  return rfc_compat_on && vendor_isvalid(vendor_id) == 0;
}

Dialect RequestDialect(ByteView elements) {
  if (!rfc_compat_on) return Dialect::kProduct;
  uint32_t vendor_id = 0;
  bool have_vendor = false;
  bool product_marker = false;
  CwElementWalk walk(elements);
  for (const CwElement& e : walk) {
    if (e.type == elem::kWtpBoardData && !have_vendor) {
      have_vendor = WireReader(e.value).u32(vendor_id);
    }
    if (e.type == elem::kWtpCapabilities) product_marker = true;
  }
  if (!have_vendor || !IsStandardVendor(vendor_id)) return Dialect::kProduct;
  return product_marker ? Dialect::kMixed : Dialect::kStandard;
}

// --- Framing ---------------------------------------------------------------

void EncodeRfcHeader(CW_HDR* hdr, uint8_t* out) {
  hdr->SetHlen(2);
  hdr->SetWbid(kWbidIeee80211);
  const uint16_t last_word = static_cast<uint16_t>(
      ((hdr->frag_offset & kFragOffsetMask) << kFragOffsetShift) | (hdr->reserved3 & kReservedMask));
  WireWriter w(out, kCwHdrLen);
  w.u32(hdr->word0);
  w.u16(hdr->frag_id);
  w.u16(last_word);
}

void DecodeRfcHeader(CW_HDR* hdr, const uint8_t* octets) {
  WireReader r(octets, kCwHdrLen);
  uint16_t last_word = 0;
  r.u32(hdr->word0);
  r.u16(hdr->frag_id);
  r.u16(last_word);
  hdr->frag_offset = static_cast<uint16_t>(last_word >> kFragOffsetShift);
  hdr->reserved3 = static_cast<uint8_t>(last_word & kReservedMask);
}

void RfcFrameCtlMsg(CW_PKT& pkt) {
  if (pkt.buffer.size() < kCwHeadersLen || pkt.length < kCwHeadersLen) return;
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, pkt.buffer.data());
  EncodeRfcHeader(&hdr, pkt.buffer.data());
  const auto elem_len = static_cast<uint16_t>(pkt.length - kCwHeadersLen + kRfcElemLenExtra);
  WireWriter(pkt.buffer.data() + kCtlHeaderElemLenAt, 2).u16(elem_len);
}

bool RfcSendable(const CW_PKT& pkt) {
  if (!IsRequest(pkt.msg_type) || pkt.msg_type == kMsgResetReq) return true;
  if (pkt.msg_type != kMsgCfgUpdateReq) return false;
  if (pkt.length < kCwHeadersLen || pkt.length > pkt.buffer.size()) return false;
  CwElementWalk walk(ByteView(pkt.buffer.data() + kCwHeadersLen, pkt.length - kCwHeadersLen));
  size_t count = 0;
  for (const CwElement& e : walk) {
    ++count;
    switch (e.type) {
      case elem::kAcNameWithPriority:
      case elem::kAcTimestamp:
      case elem::kAddMacAclEntry:
      case elem::kCapwapTimers:
      case elem::kDeleteMacAclEntry:
      case elem::kIdleTimeout:
      case elem::kLocationData:
      case elem::kStatisticsTimer:
      case elem::kWtpFallback:
      case elem::kWtpName:
      case elem::kWtpStaticIpAddressInformation:
        continue;
      default:
        if (RfcRadioElementFor(e.type) == nullptr) return false;
    }
  }
  return walk.complete() && count != 0;  // an empty update changes nothing
}

// --- Message parts ----------------------------------------------------------

bool PutRfcAcDescriptor(CW_PKT& pkt) {
  const AcGlobalInfo& ac = g_stCW_AC_GlobalInfo;
  const auto max_wtps = static_cast<uint16_t>(std::clamp<uint32_t>(get_max_apcnt(), 1, 0xFFFF));
  const auto active = static_cast<uint16_t>(std::min<uint32_t>(g_uiCwApCount, max_wtps));
  const uint16_t limit = ac.limit != 0 ? ac.limit : kNoStationLimit;
  CwElementWriter e(pkt, elem::kAcDescriptor);
  WireWriter& w = e.w();
  w.u16(std::min(ac.stations, limit));
  w.u16(limit);
  w.u16(active);
  w.u16(max_wtps);
  w.u8(ac.security);
  w.u8(kRmacNotSupported);
  w.u8(0);
  w.u8(kDtlsPolicyClearData);
  const std::string versions[] = {TextOr(ac.hw_version, company_info.model),
                                  TextOr(ac.sw_version, company_info.version)};
  for (uint16_t type : {kAcInfoHardware, kAcInfoSoftware}) {
    const std::string& text = versions[type - kAcInfoHardware];
    w.u32(g_uiOid);
    w.u16(type);
    w.u16(static_cast<uint16_t>(text.size()));
    w.bytes(text.data(), text.size());
  }
  return e.ok();
}

bool PutRfcAcName(CW_PKT& pkt) {
  const std::string name = TextOr(g_stCW_AC_GlobalInfo.ac_name, company_info.model);
  CwElementWriter e(pkt, elem::kAcName);
  e.w().bytes(name.data(), name.size());
  if (name.empty()) e.w().bytes("AC", 2);
  return e.ok();
}

bool PutRfcControlAddress(CW_PKT& pkt, const CW_ADDR& local) {
  CwElementWriter e(pkt, local.family == 0 ? elem::kCapwapControlIpv4Address
                                           : elem::kCapwapControlIpv6Address);
  PutAddress(e.w(), local);
  e.w().u16(static_cast<uint16_t>(std::min<uint32_t>(g_uiCwApCount, 0xFFFF)));
  return e.ok();
}

bool PutRfcLocalAddress(CW_PKT& pkt, const CW_ADDR& local) {
  CwElementWriter e(pkt, local.family == 0 ? elem::kCapwapLocalIpv4Address
                                           : elem::kCapwapLocalIpv6Address);
  PutAddress(e.w(), local);
  return e.ok();
}

bool PutRfcRadioInfo(CW_PKT& pkt, std::span<const uint32_t, 4> radio_types) {
  bool ok = true;
  for (size_t i = 0; i < radio_types.size(); ++i) {
    if (radio_types[i] == 0) continue;
    CwElementWriter e(pkt, elem::kIeee80211WtpRadioInformation);
    e.w().u8(static_cast<uint8_t>(i + 1));
    e.w().u32(radio_types[i]);
    ok = ok && e.ok();
  }
  return ok;
}

bool PutRfcEcnSupport(CW_PKT& pkt) {
  CwElementWriter e(pkt, elem::kEcnSupport);
  e.w().u8(kEcnLimited);
  return e.ok();
}

bool PutRfcWtpFallback(CW_PKT& pkt) {
  CwElementWriter e(pkt, elem::kWtpFallback);
  e.w().u8(kFallbackEnabled);
  return e.ok();
}

bool PutRfcAcList(CW_PKT& pkt, const CW_ADDR& local) {
  CwElementWriter e(pkt, local.family == 0 ? elem::kAcIpv4List : elem::kAcIpv6List);
  PutAddress(e.w(), local);
  return e.ok();
}

CwPktPtr BuildRfcEchoResp(uint8_t seq) {
  CwPktPtr pkt = CW_AC_PktMalloc(kCwHeadersLen);
  if (!pkt) return nullptr;
  FinishCtlMsg(*pkt, kMsgEchoRsp, seq);
  RfcFrameCtlMsg(*pkt);
  return pkt;
}

std::array<uint8_t, 30> BuildRfcKeepAlive(const std::array<uint8_t, 16>& session_id) {
  std::array<uint8_t, 30> out{};
  CW_HDR hdr;
  hdr.SetBit(kHdrBitK, true);
  EncodeRfcHeader(&hdr, out.data());
  WireWriter w(out.data() + kCwHdrLen, out.size() - kCwHdrLen);
  w.u16(kRfcKeepaliveElemLen);                        // @8, counts itself
  w.u16(elem::kSessionId);                            // @10
  w.u16(static_cast<uint16_t>(session_id.size()));    // @12
  w.bytes(session_id.data(), session_id.size());      // @14
  return out;
}

bool ReadRfcVendorPayload(ByteView value, uint32_t* vendor_id, uint16_t* element_id,
                          ByteView* data) {
  WireReader r(value);
  if (!r.u32(*vendor_id) || !r.u16(*element_id)) return false;
  *data = value.subspan(r.pos());
  return true;
}

}  // namespace capwap
