// Builders of the simulated AP's messages and the checks of what the AC
// sends back, all through the project's codec.
#include "wtp-sim/wtp_messages.h"
#include "transport/monitor.h"

#include <md5.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace capwap::sim {

namespace {

// Room for the largest control message a 16-bit element length allows.
constexpr size_t kMaxMessage = kCwHeadersLen + 0xFFFF;
// Largest station-scan padding that still fits one vendor element.
constexpr size_t kMaxPadding = 60000;
// A vendor the AC registers no element handlers for: it skips the element.
constexpr uint32_t kForeignVendorId = 0xFFFFFF00;
constexpr uint16_t kForeignPadding = 1;
constexpr size_t kKeepaliveLen = 30;

constexpr uint8_t kDiscoveryTypeStatic = 1;
constexpr uint8_t kFrameTunnel8023 = 0x04;
constexpr uint8_t kMacTypeLocal = 0;
constexpr uint8_t kWbidIeee80211 = 1;
constexpr uint8_t kRadioEnabled = 1;
constexpr uint8_t kCauseNormal = 0;
constexpr uint16_t kDescHardware = 0;
constexpr uint16_t kDescSoftware = 1;
constexpr uint16_t kDescBoot = 2;

// A message under construction in a CW_PKT of its own (not the daemon's
// packet allocator: the simulator shares the process with the daemon in
// tests and must not consume its injected failures).
class Message {
 public:
  explicit Message(size_t capacity = kCwPktBufSize) { pkt_.buffer.assign(capacity, 0); }
  CW_PKT& pkt() { return pkt_; }
  Bytes Finish(uint32_t msg_type, uint8_t seq) {
    FinishCtlMsg(pkt_, msg_type, seq);
    pkt_.buffer.resize(pkt_.length);
    return std::move(pkt_.buffer);
  }

 private:
  CW_PKT pkt_;
};

void PutText(CW_PKT& pkt, uint16_t type, const std::string& text) {
  CwElementWriter e(pkt, type);
  e.w().bytes(text.data(), text.size());
}

void PutU8(CW_PKT& pkt, uint16_t type, uint8_t value) {
  CwElementWriter e(pkt, type);
  e.w().u8(value);
}

void PutSessionId(CW_PKT& pkt, const SessionId& session_id) {
  CwElementWriter e(pkt, elem::kSessionId);
  e.w().bytes(session_id.data(), session_id.size());
}

void SubText(WireWriter& w, uint16_t type, const std::string& text) {
  w.u16(type);
  w.u16(static_cast<uint16_t>(text.size()));
  w.bytes(text.data(), text.size());
}

void PutBoardData(CW_PKT& pkt, const WtpIdentity& id) {
  CwElementWriter e(pkt, elem::kWtpBoardData);
  WireWriter& w = e.w();
  w.u32(id.vendor_id);
  SubText(w, 0, id.model);
  SubText(w, 1, id.serial);
  SubText(w, 2, id.board_id);
  w.u16(4);
  w.u16(static_cast<uint16_t>(id.mac.size()));
  w.bytes(id.mac.data(), id.mac.size());
}

void DescriptorSub(WireWriter& w, uint32_t vendor, uint16_t type, const std::string& text) {
  w.u32(vendor);
  SubText(w, type, text);
}

void PutDescriptor(CW_PKT& pkt, const WtpIdentity& id) {
  CwElementWriter e(pkt, elem::kWtpDescriptor);
  WireWriter& w = e.w();
  const auto radios = static_cast<uint8_t>(id.radios.size());
  w.u8(radios);  // maximum radios
  w.u8(radios);  // radios in use
  w.u8(1);       // one encryption sub-element
  w.u8(kWbidIeee80211);
  w.u16(0);      // encryption capabilities
  DescriptorSub(w, id.vendor_id, kDescHardware, id.hw_version);
  DescriptorSub(w, id.vendor_id, kDescSoftware, id.sw_version);
  DescriptorSub(w, id.vendor_id, kDescBoot, id.boot_version);
}

void PutRadioInfo(CW_PKT& pkt, const SimRadio& radio) {
  CwElementWriter e(pkt, elem::kIeee80211WtpRadioInformation);
  e.w().u8(radio.id);
  e.w().u32(radio.type);
}

void PutRadioInfos(CW_PKT& pkt, const WtpIdentity& id) {
  for (const SimRadio& radio : id.radios) PutRadioInfo(pkt, radio);
}

void PutRadioConfig(CW_PKT& pkt, const SimRadio& radio) {
  CwElementWriter e(pkt, elem::kIeee80211WtpRadioConfiguration);
  WireWriter& w = e.w();
  w.u8(radio.id);
  w.u8(1);    // short preamble
  w.u8(16);   // number of BSSIDs
  w.u8(1);    // DTIM period
  w.bytes(radio.bssid.data(), radio.bssid.size());
  w.u16(100);  // beacon period
  w.fixed_str("US ", 4);
}

void PutChannelControl(CW_PKT& pkt, const SimRadio& radio) {
  if (radio.FiveGhz()) {
    CwElementWriter e(pkt, elem::kIeee80211OfdmControl);
    WireWriter& w = e.w();
    w.u8(radio.id);
    w.u8(0);
    w.u8(radio.channel);
    w.u8(0x02);  // band support
    w.u32(0);    // TI threshold
    return;
  }
  CwElementWriter e(pkt, elem::kIeee80211DirectSequenceControl);
  WireWriter& w = e.w();
  w.u8(radio.id);
  w.u8(0);
  w.u8(radio.channel);
  w.u8(1);   // current CCA: energy detect
  w.u32(0);  // energy detect threshold
}

void PutTxPower(CW_PKT& pkt, const SimRadio& radio) {
  CwElementWriter e(pkt, elem::kIeee80211TxPower);
  e.w().u8(radio.id);
  e.w().u8(0);
  e.w().u16(radio.tx_power);
}

void PutSupportedRates(CW_PKT& pkt, const SimRadio& radio) {
  static constexpr uint8_t kRates24[] = {0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24};
  static constexpr uint8_t kRates5[] = {0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c};
  CwElementWriter e(pkt, elem::kIeee80211SupportedRates);
  e.w().u8(radio.id);
  e.w().bytes(radio.FiveGhz() ? kRates5 : kRates24, 8);
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

bool Fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

std::string TextOf(ByteView value) {
  size_t len = 0;
  while (len < value.size() && value[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(value.data()), len);
}

// The sub-elements of an Image Identifier value after its vendor identifier.
bool DecodeImageIdentifier(ByteView value, JoinResponseInfo* out, std::string* why) {
  WireReader r(value);
  uint32_t vendor = 0;
  if (!r.u32(vendor)) return Fail(why, "Image Identifier without vendor identifier");
  while (r.remaining() > 0) {
    uint16_t type = 0;
    uint16_t length = 0;
    ByteView sub;
    if (!r.u16(type) || !r.u16(length) || !r.view(length, sub)) {
      return Fail(why, "Image Identifier sub-element runs past the element");
    }
    if (type == 0) out->image_model = TextOf(sub);
    if (type == 1) out->image_version = TextOf(sub);
    if (type == 2) out->image_name = TextOf(sub);
  }
  return true;
}

bool CheckLength(const CwElement& e, size_t expected, const char* name, std::string* why) {
  if (e.value.size() == expected) return true;
  return Fail(why, Format("%s of length %zu, expected %zu", name, e.value.size(), expected));
}

// The element at a fixed position must be of this type and length.
bool Expect(const CwElement& e, uint16_t type, size_t length, const char* name,
            std::string* why) {
  if (e.type != type) return Fail(why, Format("element %u where the %s belongs", e.type, name));
  return CheckLength(e, length, name, why);
}

}  // namespace

bool DecodeUpgradeImage(ByteView value, JoinResponseInfo* out, std::string* why) {
  if (!DecodeImageIdentifier(value, out, why)) return false;
  out->has_image = true;
  out->image_identifier.assign(value.begin(), value.end());
  return true;
}

std::vector<SimRadio> DefaultRadios(const Mac& mac, int count) {
  static constexpr struct {
    uint32_t type;
    uint8_t channel;
  } kPlan[] = {
      {kRadioTypeB | kRadioTypeG | kRadioTypeN, 6},
      {kRadioTypeA | kRadioTypeN, 36},
      {kRadioTypeA | kRadioTypeN, 149},
      {kRadioTypeB | kRadioTypeG | kRadioTypeN, 11},
  };
  std::vector<SimRadio> radios;
  for (int i = 0; i < count && i < 4; ++i) {
    SimRadio radio;
    radio.id = static_cast<uint8_t>(i + 1);
    radio.type = kPlan[i].type;
    radio.channel = kPlan[i].channel;
    radio.bssid = mac;
    radio.bssid[0] |= 0x02;  // locally administered
    radio.bssid[5] = static_cast<uint8_t>(mac[5] + 0x10 * radio.id);
    radios.push_back(radio);
  }
  return radios;
}

std::string MacText(const Mac& mac) {
  char buf[18];
  snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  return buf;
}

bool ParseMac(const std::string& text, Mac* out) {
  std::string hex;
  for (char c : text) {
    if (c == ':' || c == '-' || c == '.') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    hex.push_back(c);
  }
  if (hex.size() != 12) return false;
  for (size_t i = 0; i < 6; ++i) {
    (*out)[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  }
  return true;
}

// --- Builders --------------------------------------------------------------

Bytes BuildDiscoveryRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  CW_PKT& pkt = m.pkt();
  PutU8(pkt, elem::kDiscoveryType, kDiscoveryTypeStatic);
  PutBoardData(pkt, id);
  PutDescriptor(pkt, id);
  PutU8(pkt, elem::kWtpFrameTunnelMode, kFrameTunnel8023);
  PutU8(pkt, elem::kWtpMacType, kMacTypeLocal);
  PutRadioInfos(pkt, id);
  return m.Finish(kMsgDiscoveryReq, seq);
}

Bytes BuildJoinRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  CW_PKT& pkt = m.pkt();
  PutText(pkt, elem::kLocationData, id.location);
  PutBoardData(pkt, id);
  PutDescriptor(pkt, id);
  PutText(pkt, elem::kWtpName, id.name);
  PutSessionId(pkt, id.session_id);
  PutU8(pkt, elem::kWtpFrameTunnelMode, kFrameTunnel8023);
  PutU8(pkt, elem::kWtpMacType, kMacTypeLocal);
  {
    CwElementWriter e(pkt, elem::kVendorSpecificPayload);
    WireWriter& w = e.w();
    w.u32(id.vendor_id);
    w.u16(vendor_elem::kMasterStatus);
    w.u16(4);
    w.u32(id.master_status);
    w.u16(vendor_elem::kCapabilities);
    w.u16(2);
    w.u16(id.capability_bits);
  }
  PutRadioInfos(pkt, id);
  return m.Finish(kMsgJoinReq, seq);
}

Bytes BuildConfigStatusRequest(const WtpIdentity& id, uint8_t seq, size_t padding) {
  Message m(kMaxMessage);
  CW_PKT& pkt = m.pkt();
  PutText(pkt, elem::kAcName, id.ac_name);
  for (const SimRadio& radio : id.radios) {
    PutRadioInfo(pkt, radio);
    PutRadioConfig(pkt, radio);
    PutChannelControl(pkt, radio);
    PutTxPower(pkt, radio);
    PutSupportedRates(pkt, radio);
  }
  if (padding > 0) {
    const size_t n = std::min(padding, kMaxPadding);
    CwElementWriter e(pkt, elem::kVendorSpecificPayload);
    WireWriter& w = e.w();
    w.u32(kForeignVendorId);
    w.u16(kForeignPadding);
    w.u16(static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) w.u8(static_cast<uint8_t>(i * 7));
  }
  return m.Finish(kMsgCfgStatusReq, seq);
}

Bytes BuildChangeStateRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  CW_PKT& pkt = m.pkt();
  for (const SimRadio& radio : id.radios) {
    CwElementWriter e(pkt, elem::kRadioOperationalState);
    e.w().u8(radio.id);
    e.w().u8(kRadioEnabled);
    e.w().u8(kCauseNormal);
  }
  {
    CwElementWriter e(pkt, elem::kResultCode);
    e.w().u32(0);
  }
  return m.Finish(kMsgChgStateReq, seq);
}

Bytes BuildEchoRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  PutSessionId(m.pkt(), id.session_id);
  return m.Finish(kMsgEchoReq, seq);
}

Bytes BuildEventRequest(const WtpIdentity& id, uint8_t seq, size_t padding, ByteView extra) {
  Message m(kMaxMessage);
  CW_PKT& pkt = m.pkt();
  PutSessionId(pkt, id.session_id);
  for (const SimRadio& radio : id.radios) {
    CwElementWriter e(pkt, elem::kWtpRadioStatistics);
    WireWriter& w = e.w();
    w.u8(radio.id);
    w.u8(0);  // last failure type
    w.zeros(16);  // eight failure and change counters
    w.u16(static_cast<uint16_t>(-95));  // noise floor
  }
  {
    // What a running AP reports each period: a channel report per radio
    // (radio, channel, utilisation %) and an empty intrusion summary.
    CwElementWriter e(pkt, elem::kVendorSpecificPayload);
    WireWriter& w = e.w();
    w.u32(id.vendor_id);
    for (const SimRadio& radio : id.radios) {
      w.u16(vendor_elem::kChannelReport);
      w.u16(3);
      w.u8(radio.id);
      w.u8(radio.channel);
      w.u8(20);
    }
    w.u16(vendor_elem::kWidsReportA);
    w.u16(4);
    w.u32(0);
  }
  if (padding > 0) {
    const size_t n = std::min(padding, kMaxPadding);
    CwElementWriter e(pkt, elem::kVendorSpecificPayload);
    WireWriter& w = e.w();
    w.u32(id.vendor_id);
    w.u16(vendor_elem::kStationScan);
    w.u16(static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) w.u8(static_cast<uint8_t>(i));
  }
  if (!extra.empty()) PktAppendRaw(pkt, extra);
  return m.Finish(kMsgWtpEventReq, seq);
}

Bytes BuildImageDataRequest(uint8_t seq, ByteView image_identifier) {
  Message m;
  CW_PKT& pkt = m.pkt();
  {
    CwElementWriter e(pkt, elem::kImageIdentifier);
    e.w().bytes(image_identifier);
  }
  { CwElementWriter e(pkt, elem::kInitiateDownload); }
  return m.Finish(kMsgImageDataReq, seq);
}

Bytes BuildDataTransferRequest(uint8_t seq, uint8_t type, ByteView chunk) {
  Message m;
  {
    CwElementWriter e(m.pkt(), elem::kDataTransferData);
    WireWriter& w = e.w();
    w.u8(type);
    w.u8(1);  // crash data
    w.u16(static_cast<uint16_t>(chunk.size()));
    w.bytes(chunk.data(), chunk.size());
  }
  return m.Finish(kMsgDataTransferReq, seq);
}

Bytes BuildCoreChunk(uint8_t chunk_no, uint32_t process, uint32_t total, ByteView data) {
  Bytes body(8 + data.size());
  WireWriter w(body.data(), body.size());
  w.u32(process);
  w.u32(total);
  w.bytes(data.data(), data.size());
  Message m(kCwHeadersLen + body.size());
  PktAppendRaw(m.pkt(), body);
  return m.Finish(kMonCoreMsgType, chunk_no);
}

Bytes BuildKeepalive(const SessionId& session_id) {
  Bytes out(kKeepaliveLen, 0);
  CW_HDR hdr;
  hdr.SetBit(kHdrBitK, true);
  CW_EncCwHdr(&hdr, out.data());
  WireWriter w(out.data() + kCwHdrLen, out.size() - kCwHdrLen);
  w.u16(20);
  w.u16(elem::kSessionId);
  w.u16(static_cast<uint16_t>(session_id.size()));
  w.bytes(session_id.data(), session_id.size());
  return out;
}

Bytes BuildResponse(uint32_t msg_type, uint8_t seq, uint32_t result_code, ByteView extra) {
  Message m;
  CW_PKT& pkt = m.pkt();
  {
    CwElementWriter e(pkt, elem::kResultCode);
    e.w().u32(result_code);
  }
  if (result_code == 0 && !extra.empty()) PktAppendRaw(pkt, extra);
  return m.Finish(msg_type, seq);
}

Bytes AssignedBssidElements(const WtpIdentity& id, ByteView request_elements) {
  Bytes out;
  CwElementWalk walk(request_elements);
  for (const CwElement& e : walk) {
    if (e.type != elem::kIeee80211AddWlan || e.value.size() < 2) continue;
    const uint8_t radio_id = e.value[0];
    const uint8_t wlan_id = e.value[1];
    Mac bssid = id.mac;
    for (const SimRadio& radio : id.radios) {
      if (radio.id == radio_id) bssid = radio.bssid;
    }
    bssid[5] = static_cast<uint8_t>(bssid[5] + wlan_id);
    uint8_t element[12];
    WireWriter w(element, sizeof element);
    w.u16(elem::kIeee80211AssignedWtpBssid);
    w.u16(8);
    w.u8(radio_id);
    w.u8(wlan_id);
    w.bytes(bssid.data(), bssid.size());
    out.insert(out.end(), element, element + sizeof element);
  }
  return out;
}

// --- Received datagrams ----------------------------------------------------

const CwElement* ControlMessage::Find(uint16_t type) const {
  for (const CwElement& e : list) {
    if (e.type == type) return &e;
  }
  return nullptr;
}

bool ParseControl(ByteView datagram, ControlMessage* out, std::string* why) {
  *out = ControlMessage{};
  if (datagram.size() < kCwHeadersLen) {
    return Fail(why, Format("short datagram of %zu octets", datagram.size()));
  }
  CW_DEC_CWHdr(&out->hdr, datagram.data());
  if (CW_CheckCWHdr(&out->hdr) != 0) {
    return Fail(why, Format("illegal CAPWAP header %08x", out->hdr.word0));
  }
  if (out->hdr.F() || out->hdr.K()) {
    return Fail(why, "fragment or keepalive bit on a control message");
  }
  CW_DEC_CWCtlHdr(&out->ctl, datagram.data() + kCwHdrLen);
  const size_t follows = datagram.size() - kCwHeadersLen;
  if (out->ctl.elem_len != follows) {
    return Fail(why, Format("element length %u but %zu octets follow", out->ctl.elem_len, follows));
  }
  out->elements = datagram.subspan(kCwHeadersLen);
  CwElementWalk walk(out->elements);
  for (const CwElement& e : walk) out->list.push_back(e);
  if (!walk.complete()) {
    return Fail(why, Format("%s: element %zu runs past the message",
                            MsgTypeName(out->ctl.msg_type), out->list.size() + 1));
  }
  return true;
}

bool DecodeDiscoveryResponse(const ControlMessage& msg, DiscoveryResponseInfo* out,
                             std::string* why) {
  const auto& l = msg.list;
  if (l.size() != 4) return Fail(why, Format("Discovery Response with %zu elements", l.size()));
  if (!Expect(l[0], elem::kAcDescriptor, 156, "AC Descriptor", why)) return false;
  if (!Expect(l[1], elem::kAcName, 32, "AC Name", why)) return false;
  // The AC describes its control address as IPv4 also to IPv6 APs.
  if (!Expect(l[2], elem::kCapwapControlIpv4Address, 6, "control IPv4 address", why)) return false;
  if (!Expect(l[3], elem::kVendorSpecificPayload, 9, "vendor payload", why)) return false;
  WireReader r(l[3].value);
  uint16_t elem_id = 0;
  uint16_t length = 0;
  r.u32(out->vendor_id);
  r.u16(elem_id);
  r.u16(length);
  r.u8(out->priority);
  if (elem_id != vendor_elem::kPriority || length != 1) {
    return Fail(why, Format("vendor element %u of length %u instead of the priority", elem_id,
                            length));
  }
  if (out->priority < 1 || out->priority > 7) {
    return Fail(why, Format("priority %u out of range", out->priority));
  }
  return true;
}

bool DecodeJoinResponse(const ControlMessage& msg, JoinResponseInfo* out, std::string* why) {
  *out = JoinResponseInfo{};
  if (msg.list.empty() || msg.list[0].type != elem::kResultCode) {
    return Fail(why, "Join Response does not start with a Result Code");
  }
  if (!CheckLength(msg.list[0], 4, "Result Code", why)) return false;
  WireReader(msg.list[0].value).u32(out->result_code);
  if (out->result_code != 0) return true;
  bool descriptor = false, name = false, address = false, transport = false;
  for (const CwElement& e : msg.list) {
    switch (e.type) {
      case elem::kAcDescriptor:
        if (!CheckLength(e, 156, "AC Descriptor", why)) return false;
        descriptor = true;
        break;
      case elem::kAcName:
        if (!CheckLength(e, 32, "AC Name", why)) return false;
        name = true;
        break;
      case elem::kCapwapControlIpv4Address:
        if (!CheckLength(e, 6, "control IPv4 address", why)) return false;
        address = true;
        break;
      case elem::kCapwapControlIpv6Address:
        if (!CheckLength(e, 18, "control IPv6 address", why)) return false;
        address = true;
        break;
      case elem::kCapwapTransportProtocol:
        if (!CheckLength(e, 1, "transport protocol", why)) return false;
        transport = true;
        break;
      case elem::kImageIdentifier:
        if (!CheckLength(e, 112, "Image Identifier", why)) return false;
        if (!DecodeImageIdentifier(e.value, out, why)) return false;
        out->image_identifier.assign(e.value.begin(), e.value.end());
        out->has_image = true;
        break;
      default:
        break;
    }
  }
  if (!descriptor || !name || !address || !transport) {
    return Fail(why, Format("Join Response lacks%s%s%s%s", descriptor ? "" : " AC Descriptor",
                            name ? "" : " AC Name", address ? "" : " control address",
                            transport ? "" : " transport protocol"));
  }
  return true;
}

std::optional<CapwapTimers> FindCapwapTimers(const ControlMessage& msg) {
  const CwElement* e = msg.Find(elem::kCapwapTimers);
  if (!e || e->value.size() != 2) return std::nullopt;
  return CapwapTimers{e->value[0], e->value[1]};
}

std::optional<uint32_t> FindResultCode(const ControlMessage& msg) {
  const CwElement* e = msg.Find(elem::kResultCode);
  if (!e || e->value.size() != 4) return std::nullopt;
  uint32_t code = 0;
  WireReader(e->value).u32(code);
  return code;
}

bool DecodeImageBlock(const ControlMessage& msg, ImageBlock* out, std::string* why) {
  *out = ImageBlock{};
  const CwElement* data = msg.Find(elem::kImageData);
  if (!data || data->value.empty()) return Fail(why, "Image Data Request without Image Data");
  out->data_type = data->value[0];
  out->data = data->value.subspan(1);
  if (out->data_type != kImageDataMore && out->data_type != kImageDataEof) {
    return Fail(why, Format("image data type %u", out->data_type));
  }
  if (const CwElement* info = msg.Find(elem::kImageInformation)) {
    if (!CheckLength(*info, 20, "Image Information", why)) return false;
    WireReader r(info->value);
    r.u32(out->size);
    r.bytes(out->md5.data(), out->md5.size());
    out->has_info = true;
  }
  if (out->data_type == kImageDataEof && !out->has_info) {
    return Fail(why, "last image block without Image Information");
  }
  return true;
}

bool DecodeKeepalive(ByteView datagram, SessionId* session_id, std::string* why) {
  if (datagram.size() != kKeepaliveLen) {
    return Fail(why, Format("keepalive of %zu octets", datagram.size()));
  }
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, datagram.data());
  if (CW_CheckCWHdr(&hdr) != 0 || !hdr.K()) {
    return Fail(why, Format("keepalive header %08x", hdr.word0));
  }
  WireReader r(datagram.subspan(kCwHdrLen));
  uint16_t total = 0, type = 0, length = 0;
  r.u16(total);
  r.u16(type);
  r.u16(length);
  r.bytes(session_id->data(), session_id->size());
  if (!r.ok() || total != 20 || type != elem::kSessionId || length != 16) {
    return Fail(why, Format("keepalive element length %u type %u length %u", total, type, length));
  }
  return true;
}

std::array<uint8_t, 16> Md5Of(ByteView data) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data.data(), data.size());
  std::array<uint8_t, 16> digest{};
  MD5Final(digest.data(), &ctx);
  return digest;
}

}  // namespace capwap::sim
