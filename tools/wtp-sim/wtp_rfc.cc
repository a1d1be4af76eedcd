// RFC 5415 framing and the RFC 5415/5416 element set of the standard WTP.
#include "wtp-sim/wtp_rfc.h"

#include <cstdarg>
#include <cstdio>

namespace capwap::sim::rfc {

namespace {

// RFC 5415 4.5.1.1 (enterprise 0) and RFC 5416 3 (enterprise 13277).
enum : uint32_t {
  kDiscoveryRequest = 1, kDiscoveryResponse, kJoinRequest, kJoinResponse,
  kConfigStatusRequest, kConfigStatusResponse, kConfigUpdateRequest, kConfigUpdateResponse,
  kWtpEventRequest, kWtpEventResponse, kChangeStateRequest, kChangeStateResponse,
  kEchoRequest, kEchoResponse, kImageDataRequest, kImageDataResponse, kResetRequest,
  kResetResponse, kPrimaryDiscoveryRequest, kPrimaryDiscoveryResponse, kDataTransferRequest,
  kDataTransferResponse, kClearConfigRequest, kClearConfigResponse, kStationConfigRequest,
  kStationConfigResponse,
  kWlanConfigRequest = 3398913, kWlanConfigResponse,
};
// The state machine shared with the product dialect dispatches on these.
constexpr bool Same(uint32_t ours, uint32_t product) { return ours == product; }
static_assert(Same(kDiscoveryResponse, kMsgDiscoveryRsp) && Same(kJoinResponse, kMsgJoinRsp) &&
              Same(kConfigStatusResponse, kMsgCfgStatusRsp) &&
              Same(kConfigUpdateRequest, kMsgCfgUpdateReq) &&
              Same(kChangeStateResponse, kMsgChgStateRsp) && Same(kEchoResponse, kMsgEchoRsp));

// RFC 5415 4.6 and RFC 5416 6.
enum : uint16_t {
  kAcDescriptor = 1, kAcIpv4List = 2, kAcIpv6List = 3, kAcName = 4, kControlIpv4 = 10,
  kControlIpv6 = 11, kCapwapTimers = 12, kDecryptionErrorPeriod = 16, kDiscoveryType = 20,
  kIdleTimeout = 23, kLocationData = 28, kLocalIpv4 = 30, kRadioAdminState = 31,
  kRadioOperState = 32, kResultCode = 33, kSessionId = 35, kStatisticsTimer = 36,
  kVendorSpecific = 37, kBoardData = 38, kWtpDescriptor = 39, kWtpFallback = 40,
  kFrameTunnelMode = 41, kMacType = 44, kWtpName = 45, kRebootStatistics = 48,
  kLocalIpv6 = 50, kEcnSupport = 53,
  kIeee80211First = 1024, kAntenna = 1025, kDsControl = 1028, kMacOperation = 1030,
  kMultiDomain = 1032, kOfdmControl = 1033, kSupportedRates = 1040, kTxPower = 1041,
  kTxPowerLevel = 1042, kWtpQos = 1045, kRadioConfiguration = 1046, kRadioInformation = 1048,
  kIeee80211Last = 2047,
};

constexpr size_t kHeaderLen = 8;      // HLEN 2, no radio MAC, no wireless information
constexpr size_t kControlLen = 8;     // type, sequence, element length, flags
constexpr size_t kMaxDatagram = 4096;
constexpr uint16_t kVariable = 0xFFFF;

struct Rule {
  uint16_t type;
  const char* name;
  uint16_t min;
  uint16_t max;
};

// Every element type a standard WTP parses, with its RFC length.
constexpr Rule kRules[] = {
    {1, "AC Descriptor", 12, kVariable}, {2, "AC IPv4 List", 4, 1024},
    {3, "AC IPv6 List", 16, 1024}, {4, "AC Name", 1, 512}, {5, "AC Name with Priority", 2, 513},
    {6, "AC Timestamp", 4, 4}, {7, "Add MAC ACL Entry", 8, kVariable},
    {8, "Add Station", 8, kVariable}, {10, "CAPWAP Control IPv4 Address", 6, 6},
    {11, "CAPWAP Control IPv6 Address", 18, 18}, {12, "CAPWAP Timers", 2, 2},
    {13, "Data Transfer Data", 5, kVariable}, {14, "Data Transfer Mode", 1, 1},
    {15, "Decryption Error Report", 3, kVariable}, {16, "Decryption Error Report Period", 3, 3},
    {17, "Delete MAC ACL Entry", 8, kVariable}, {18, "Delete Station", 8, kVariable},
    {20, "Discovery Type", 1, 1}, {21, "Duplicate IPv4 Address", 12, kVariable},
    {22, "Duplicate IPv6 Address", 24, kVariable}, {23, "Idle Timeout", 4, 4},
    {24, "Image Data", 1, kVariable}, {25, "Image Identifier", 5, kVariable},
    {26, "Image Information", 20, 20}, {27, "Initiate Download", 0, 0},
    {28, "Location Data", 1, 1024}, {29, "Maximum Message Length", 2, 2},
    {30, "CAPWAP Local IPv4 Address", 4, 4}, {31, "Radio Administrative State", 2, 2},
    {32, "Radio Operational State", 3, 3}, {33, "Result Code", 4, 4},
    {34, "Returned Message Element", 6, kVariable}, {35, "Session ID", 16, 16},
    {36, "Statistics Timer", 2, 2}, {37, "Vendor Specific Payload", 7, 2048},
    {38, "WTP Board Data", 14, kVariable}, {39, "WTP Descriptor", 33, kVariable},
    {40, "WTP Fallback", 1, 1}, {41, "WTP Frame Tunnel Mode", 1, 1}, {44, "WTP MAC Type", 1, 1},
    {45, "WTP Name", 1, 512}, {47, "WTP Radio Statistics", 20, 20},
    {48, "WTP Reboot Statistics", 15, 15}, {49, "WTP Static IP Address Information", 13, 13},
    {50, "CAPWAP Local IPv6 Address", 16, 16}, {51, "CAPWAP Transport Protocol", 1, 1},
    {52, "MTU Discovery Padding", 0, kVariable}, {53, "ECN Support", 1, 1},
    {1024, "IEEE 802.11 Add WLAN", 20, kVariable}, {1025, "IEEE 802.11 Antenna", 5, kVariable},
    {1026, "IEEE 802.11 Assigned WTP BSSID", 8, 8}, {1027, "IEEE 802.11 Delete WLAN", 2, 2},
    {1028, "IEEE 802.11 Direct Sequence Control", 8, 8},
    {1029, "IEEE 802.11 Information Element", 4, kVariable},
    {1030, "IEEE 802.11 MAC Operation", 16, 16},
    {1031, "IEEE 802.11 MIC Countermeasures", 8, 8},
    {1032, "IEEE 802.11 Multi-Domain Capability", 8, 8},
    {1033, "IEEE 802.11 OFDM Control", 8, 8}, {1034, "IEEE 802.11 Rate Set", 3, kVariable},
    {1035, "IEEE 802.11 RSNA Error Report From Station", 24, 24},
    {1036, "IEEE 802.11 Station", 14, kVariable},
    {1037, "IEEE 802.11 Station QoS Profile", 8, 8},
    {1038, "IEEE 802.11 Station Session Key", 25, kVariable},
    {1039, "IEEE 802.11 Statistics", 80, 80}, {1040, "IEEE 802.11 Supported Rates", 3, kVariable},
    {1041, "IEEE 802.11 Tx Power", 4, 4}, {1042, "IEEE 802.11 Tx Power Level", 4, kVariable},
    {1043, "IEEE 802.11 Update Station QoS", 14, 14},
    {1044, "IEEE 802.11 Update WLAN", 8, kVariable},
    {1045, "IEEE 802.11 WTP Quality of Service", 34, 34},
    {1046, "IEEE 802.11 WTP Radio Configuration", 16, 16},
    {1047, "IEEE 802.11 WTP Radio Fail Alarm Indication", 4, 4},
    {1048, "IEEE 802.11 WTP Radio Information", 5, 5},
};

const Rule* RuleOf(uint16_t type) {
  for (const Rule& rule : kRules) {
    if (rule.type == type) return &rule;
  }
  return nullptr;
}

std::string NameOf(uint16_t type) {
  const Rule* rule = RuleOf(type);
  return std::string(rule ? rule->name : "element") + " (" + std::to_string(type) + ")";
}

bool Fail(std::string* why, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool Fail(std::string* why, const char* fmt, ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  if (why) *why = buf;
  return false;
}

// RFC 5415 4.3: preamble (version 0, type 0), HLEN, RID, WBID, T F L W M K
// flags; then Fragment ID and Fragment Offset (8-octet units) with 3 reserved bits.
void PutHeader(WireWriter& w, bool keepalive) {
  w.u8(0);
  const uint32_t hlen = kHeaderLen / 4;
  const uint32_t bits = (hlen << 19) | (uint32_t{kWbidIeee80211} << 9) | (keepalive ? 1u << 3 : 0);
  w.u8(static_cast<uint8_t>(bits >> 16));
  w.u8(static_cast<uint8_t>(bits >> 8));
  w.u8(static_cast<uint8_t>(bits));
  w.u16(0);  // fragment ID
  w.u16(0);  // fragment offset 0, reserved
}

// A control message under construction: elements first, headers at Finish.
class Message {
 public:
  Message() : elements_(kMaxDatagram), w_(elements_.data(), elements_.size()) {}
  // Opens an element; its value is written through the returned writer.
  WireWriter& Open(uint16_t type) {
    Close();
    w_.u16(type);
    length_at_ = w_.Reserve16();
    open_ = true;
    return w_;
  }
  void Text(uint16_t type, const std::string& text) { Open(type).bytes(text.data(), text.size()); }
  void U8(uint16_t type, uint8_t value) { Open(type).u8(value); }
  Bytes Finish(uint32_t msg_type, uint8_t seq) {
    Close();
    Bytes out(kHeaderLen + kControlLen + w_.size());
    WireWriter w(out.data(), out.size());
    PutHeader(w, false);
    w.u32(msg_type);
    w.u8(seq);
    w.u16(static_cast<uint16_t>(3 + w_.size()));  // counts itself and the flags
    w.u8(0);
    w.bytes(w_.written());
    return out;
  }

 private:
  void Close() {
    if (!open_) return;
    w_.Patch16(length_at_, static_cast<uint16_t>(w_.size() - length_at_ - 2));
    open_ = false;
  }
  Bytes elements_;
  WireWriter w_;
  size_t length_at_ = 0;
  bool open_ = false;
};

void SubElement(WireWriter& w, uint16_t type, const std::string& text) {
  w.u16(type);
  w.u16(static_cast<uint16_t>(text.size()));
  w.bytes(text.data(), text.size());
}

// RFC 5415 4.6.40: vendor, then Model Number, Serial Number, Board ID, Base MAC.
void PutBoardData(Message& m, const WtpIdentity& id) {
  WireWriter& w = m.Open(kBoardData);
  w.u32(id.vendor_id);
  SubElement(w, 0, id.model);
  SubElement(w, 1, id.serial);
  SubElement(w, 2, id.board_id);
  w.u16(4);
  w.u16(6);
  w.bytes(id.mac.data(), id.mac.size());
}

// RFC 5415 4.6.41: radios, one encryption capability for WBID 1, then the
// hardware, active software and boot versions.
void PutWtpDescriptor(Message& m, const WtpIdentity& id) {
  WireWriter& w = m.Open(kWtpDescriptor);
  const auto radios = static_cast<uint8_t>(id.radios.size());
  w.u8(radios);
  w.u8(radios);
  w.u8(1);
  w.u8(kWbidIeee80211);
  w.u16(0);
  const std::pair<uint16_t, const std::string*> versions[] = {
      {0, &id.hw_version}, {1, &id.sw_version}, {2, &id.boot_version}};
  for (const auto& [type, text] : versions) {
    w.u32(id.vendor_id);
    SubElement(w, type, *text);
  }
}

void PutRadioInformation(Message& m, const WtpIdentity& id) {
  for (const SimRadio& radio : id.radios) {
    WireWriter& w = m.Open(kRadioInformation);
    w.u8(radio.id);
    w.u32(radio.type);
  }
}

// RFC 5416 6.2, 6.5, 6.7, 6.8, 6.9, 6.11, 6.18, 6.19, 6.20, 6.23: each radio's
// configuration as a standard WTP reports it.
void PutRadioState(Message& m, const SimRadio& radio) {
  static constexpr uint8_t kRates24[] = {0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24};
  static constexpr uint8_t kRates5[] = {0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c};
  WireWriter* w = &m.Open(kAntenna);
  w->u8(radio.id);
  w->u8(1);  // diversity enabled
  w->u8(0);  // sectorized left
  w->u8(1);  // one antenna
  w->u8(1);  // internal
  if (radio.FiveGhz()) {
    w = &m.Open(kOfdmControl);
    w->u8(radio.id);
    w->u8(0);
    w->u8(radio.channel);
    w->u8(0x02);
    w->u32(0);
  } else {
    w = &m.Open(kDsControl);
    w->u8(radio.id);
    w->u8(0);
    w->u8(radio.channel);
    w->u8(1);
    w->u32(0);
  }
  w = &m.Open(kMacOperation);
  w->u8(radio.id);
  w->u8(0);
  w->u16(2347);  // RTS threshold
  w->u8(7);      // short retry
  w->u8(4);      // long retry
  w->u16(2346);  // fragmentation threshold
  w->u32(512);   // Tx MSDU lifetime
  w->u32(512);   // Rx MSDU lifetime
  w = &m.Open(kMultiDomain);
  w->u8(radio.id);
  w->u8(0);
  w->u16(radio.FiveGhz() ? 36 : 1);  // first channel
  w->u16(radio.FiveGhz() ? 8 : 11);  // channels
  w->u16(radio.tx_power);
  w = &m.Open(kSupportedRates);
  w->u8(radio.id);
  w->bytes(radio.FiveGhz() ? kRates5 : kRates24, 8);
  w = &m.Open(kTxPower);
  w->u8(radio.id);
  w->u8(0);
  w->u16(radio.tx_power);
  w = &m.Open(kTxPowerLevel);
  w->u8(radio.id);
  w->u8(2);
  w->u16(radio.tx_power);
  w->u16(static_cast<uint16_t>(radio.tx_power / 2));
  w = &m.Open(kRadioConfiguration);
  w->u8(radio.id);
  w->u8(1);   // short preamble
  w->u8(16);  // BSSIDs
  w->u8(1);   // DTIM period
  w->bytes(radio.bssid.data(), radio.bssid.size());
  w->u16(100);  // beacon period
  w->bytes("US ", 3);
  w->u8(0);
  w = &m.Open(kRadioInformation);
  w->u8(radio.id);
  w->u32(radio.type);
}

bool ReadHeader(ByteView datagram, size_t* hlen, uint32_t* bits, std::string* why) {
  WireReader r(datagram);
  uint8_t preamble = 0, b1 = 0, b2 = 0, b3 = 0;
  if (!r.u8(preamble) || !r.u8(b1) || !r.u8(b2) || !r.u8(b3)) {
    return Fail(why, "datagram of %zu octets, shorter than a header", datagram.size());
  }
  if (preamble != 0) return Fail(why, "preamble %02x (version 0, type 0 expected)", preamble);
  *bits = (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
  *hlen = 4 * ((*bits >> 19) & 0x1F);
  if (*hlen < kHeaderLen || *hlen > datagram.size()) {
    return Fail(why, "HLEN %zu words for a datagram of %zu octets", *hlen / 4, datagram.size());
  }
  return true;
}

constexpr uint32_t kBitT = 1u << 8, kBitF = 1u << 7, kBitL = 1u << 6, kBitK = 1u << 3;
constexpr size_t kMaxMessage = 65535;

// Values a WTP relies on, beyond the length.
bool CheckValue(const CwElement& e, std::string* why) {
  WireReader r(e.value);
  switch (e.type) {
    case kAcDescriptor: {
      uint16_t stations = 0, limit = 0, active = 0, max = 0;
      uint8_t security = 0, rmac = 0, reserved = 0, dtls = 0;
      r.u16(stations), r.u16(limit), r.u16(active), r.u16(max);
      r.u8(security), r.u8(rmac), r.u8(reserved), r.u8(dtls);
      if (stations > limit || active > max) {
        return Fail(why, "AC Descriptor: stations %u of %u, WTPs %u of %u", stations, limit,
                    active, max);
      }
      if (rmac != 1 && rmac != 2) return Fail(why, "AC Descriptor: R-MAC field %u", rmac);
      bool hardware = false, software = false;
      while (r.remaining() > 0) {
        uint32_t vendor = 0;
        uint16_t type = 0, length = 0;
        if (!r.u32(vendor) || !r.u16(type) || !r.u16(length) || !r.skip(length)) {
          return Fail(why, "AC Descriptor: sub-element runs past the element");
        }
        if (type != 4 && type != 5) return Fail(why, "AC Descriptor: sub-element type %u", type);
        (type == 4 ? hardware : software) = true;
      }
      if (!hardware || !software) return Fail(why, "AC Descriptor without both versions");
      return true;
    }
    case kControlIpv4: {
      uint32_t address = 0;
      r.u32(address);
      if (address == 0) return Fail(why, "CAPWAP Control IPv4 Address 0.0.0.0");
      return true;
    }
    case kAntenna:
      if (e.value.size() != 4u + e.value[3]) {
        return Fail(why, "%s of %zu octets for %u antennas (4 + count)", NameOf(e.type).c_str(),
                    e.value.size(), e.value[3]);
      }
      return true;
    case kTxPowerLevel:
      if (e.value.size() != 2u + 2u * e.value[1]) {
        return Fail(why, "%s of %zu octets for %u levels (2 + 2 per level)",
                    NameOf(e.type).c_str(), e.value.size(), e.value[1]);
      }
      return true;
    default:
      return true;
  }
}

std::string HexOf(ByteView bytes) {
  std::string text;
  char octet[3];
  for (uint8_t b : bytes) {
    snprintf(octet, sizeof octet, "%02x", b);
    text += octet;
  }
  return text;
}

size_t Count(const ControlMessage& msg, uint16_t type) {
  size_t n = 0;
  for (const CwElement& e : msg.list) n += e.type == type;
  return n;
}

}  // namespace

Bytes BuildDiscoveryRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  m.U8(kDiscoveryType, 1);  // static configuration
  PutBoardData(m, id);
  PutWtpDescriptor(m, id);
  m.U8(kFrameTunnelMode, 0x04);  // IEEE 802.3 frames
  m.U8(kMacType, 0);             // local MAC
  PutRadioInformation(m, id);
  return m.Finish(kDiscoveryRequest, seq);
}

Bytes BuildJoinRequest(const WtpIdentity& id, uint8_t seq, const LocalAddress& local) {
  Message m;
  m.Text(kLocationData, id.location);
  PutBoardData(m, id);
  PutWtpDescriptor(m, id);
  m.Text(kWtpName, id.name);
  m.Open(kSessionId).bytes(id.session_id.data(), id.session_id.size());
  m.U8(kFrameTunnelMode, 0x04);
  m.U8(kMacType, 0);
  PutRadioInformation(m, id);
  m.U8(kEcnSupport, 0);  // limited
  if (local.ipv6) {
    m.Open(kLocalIpv6).bytes(local.octets.data(), 16);
  } else {
    m.Open(kLocalIpv4).bytes(local.octets.data(), 4);
  }
  return m.Finish(kJoinRequest, seq);
}

Bytes BuildConfigStatusRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  m.Text(kAcName, id.ac_name.empty() ? std::string("ac") : id.ac_name);
  for (const SimRadio& radio : id.radios) {
    WireWriter& w = m.Open(kRadioAdminState);
    w.u8(radio.id);
    w.u8(1);  // enabled
  }
  m.Open(kStatisticsTimer).u16(120);
  m.Open(kRebootStatistics).zeros(15);
  for (const SimRadio& radio : id.radios) PutRadioState(m, radio);
  return m.Finish(kConfigStatusRequest, seq);
}

Bytes BuildChangeStateRequest(const WtpIdentity& id, uint8_t seq) {
  Message m;
  for (const SimRadio& radio : id.radios) {
    WireWriter& w = m.Open(kRadioOperState);
    w.u8(radio.id);
    w.u8(2);  // enabled
    w.u8(0);  // normal
  }
  m.Open(kResultCode).u32(0);
  return m.Finish(kChangeStateRequest, seq);
}

Bytes BuildEchoRequest(uint8_t seq) { return Message().Finish(kEchoRequest, seq); }

Bytes BuildResponse(uint32_t msg_type, uint8_t seq, uint32_t result_code) {
  Message m;
  m.Open(kResultCode).u32(result_code);
  return m.Finish(msg_type, seq);
}

// RFC 5415 4.4.1: the Message Element Length of a keepalive counts the octets
// after the CAPWAP header, itself included.
Bytes BuildKeepalive(const SessionId& session_id) {
  Bytes out(kHeaderLen + 2 + 4 + session_id.size());
  WireWriter w(out.data(), out.size());
  PutHeader(w, true);
  w.u16(static_cast<uint16_t>(out.size() - kHeaderLen));
  w.u16(kSessionId);
  w.u16(static_cast<uint16_t>(session_id.size()));
  w.bytes(session_id.data(), session_id.size());
  return out;
}

bool DecodeKeepalive(ByteView datagram, SessionId* session_id, std::string* why) {
  size_t hlen = 0;
  uint32_t bits = 0;
  if (!ReadHeader(datagram, &hlen, &bits, why)) return false;
  if ((bits & kBitK) == 0 || (bits & kBitF) != 0) {
    return Fail(why, "keepalive header bits %06x (K set, F clear expected)", bits);
  }
  WireReader r(datagram.subspan(hlen));
  uint16_t total = 0, type = 0, length = 0;
  r.u16(total);
  r.u16(type);
  r.u16(length);
  r.bytes(session_id->data(), session_id->size());
  if (!r.done() || total != datagram.size() - hlen || type != kSessionId || length != 16) {
    return Fail(why, "keepalive of %zu octets: length field %u, element %u of %u octets",
                datagram.size(), total, type, length);
  }
  return true;
}

bool PeekTypeSeq(ByteView datagram, uint32_t* msg_type, uint8_t* seq) {
  WireReader r(datagram);
  return r.skip(kHeaderLen) && r.u32(*msg_type) && r.u8(*seq);
}

bool ParseStandardControl(ByteView datagram, ControlMessage* out, std::string* why) {
  *out = ControlMessage{};
  size_t hlen = 0;
  uint32_t bits = 0;
  if (!ReadHeader(datagram, &hlen, &bits, why)) return false;
  const uint32_t wbid = (bits >> 9) & 0x1F;
  if (wbid > kWbidIeee80211) return Fail(why, "header WBID %u", wbid);
  if (bits & (kBitT | kBitF | kBitK)) {
    return Fail(why, "header bits %06x: T, F or K set on a control message", bits);
  }
  WireReader r(datagram.subspan(hlen));
  uint16_t length = 0;
  if (!r.u32(out->ctl.msg_type) || !r.u8(out->ctl.seq) || !r.u16(length) ||
      !r.u8(out->ctl.flags)) {
    return Fail(why, "control header cut short");
  }
  // Counts from the octet after the sequence number: itself, flags, elements.
  if (length != r.remaining() + 3) {
    return Fail(why, "type %u: Message Element Length %u, expected %zu (3 + %zu)",
                out->ctl.msg_type, length, r.remaining() + 3, r.remaining());
  }
  out->ctl.elem_len = static_cast<uint16_t>(r.remaining());
  out->elements = datagram.subspan(hlen + kControlLen);
  while (r.remaining() > 0) {
    uint16_t type = 0, len = 0;
    CwElement e;
    if (!r.u16(type) || !r.u16(len) || !r.view(len, e.value)) {
      return Fail(why, "type %u: element %zu runs past the message", out->ctl.msg_type,
                  out->list.size() + 1);
    }
    e.type = type;
    const Rule* rule = RuleOf(type);
    if (!rule) return Fail(why, "type %u: unknown element %u", out->ctl.msg_type, type);
    if (type >= kIeee80211First && type <= kIeee80211Last && wbid != kWbidIeee80211) {
      return Fail(why, "type %u: %s under WBID %u", out->ctl.msg_type, rule->name, wbid);
    }
    if (len < rule->min || len > rule->max) {
      const std::string limit = rule->max == rule->min ? std::to_string(rule->min)
                                : rule->max == kVariable ? std::to_string(rule->min) + " or more"
                                : std::to_string(rule->min) + " to " + std::to_string(rule->max);
      return Fail(why, "type %u: %s of %u octets (RFC: %s)", out->ctl.msg_type,
                  NameOf(type).c_str(), len, limit.c_str());
    }
    std::string detail;
    if (!CheckValue(e, &detail)) {
      return Fail(why, "type %u: %s", out->ctl.msg_type, detail.c_str());
    }
    out->list.push_back(e);
  }
  return true;
}

bool CheckStandardMandatory(const ControlMessage& msg, size_t radios, bool ipv6,
                            std::string* why) {
  std::vector<uint16_t> required;
  std::string name;
  switch (msg.ctl.msg_type) {
    case kDiscoveryResponse:  // RFC 5415 5.2, RFC 5416 2.2
      name = "Discovery Response";
      required = {kAcDescriptor, kAcName, kRadioInformation, ipv6 ? kControlIpv6 : kControlIpv4};
      break;
    case kJoinResponse:  // RFC 5415 6.2, RFC 5416 2.2
      name = "Join Response";
      required = {kResultCode, kAcDescriptor, kAcName, kRadioInformation, kEcnSupport,
                  ipv6 ? kControlIpv6 : kControlIpv4, ipv6 ? kLocalIpv6 : kLocalIpv4};
      break;
    case kConfigStatusResponse:  // RFC 5415 8.3
      name = "Configuration Status Response";
      required = {kCapwapTimers, kDecryptionErrorPeriod, kIdleTimeout, kWtpFallback,
                  ipv6 ? kAcIpv6List : kAcIpv4List};
      break;
    default:  // no mandatory element (Echo, Change State, Configuration Update)
      return true;
  }
  for (uint16_t type : required) {
    if (Count(msg, type) == 0) return Fail(why, "%s lacks %s", name.c_str(), NameOf(type).c_str());
  }
  if (msg.ctl.msg_type == kConfigStatusResponse && Count(msg, kDecryptionErrorPeriod) < radios) {
    return Fail(why, "%s has %zu %s for %zu radios", name.c_str(),
                Count(msg, kDecryptionErrorPeriod), NameOf(kDecryptionErrorPeriod).c_str(),
                radios);
  }
  return true;
}

bool CheckOwnVendorPayloads(const ControlMessage& msg, uint32_t own_vendor, std::string* why) {
  for (const CwElement& e : msg.list) {
    if (e.type != kVendorSpecific) continue;
    WireReader r(e.value);
    uint32_t vendor = 0;
    uint16_t element_id = 0;
    r.u32(vendor);
    r.u16(element_id);
    if (vendor == own_vendor) {
      return Fail(why, "type %u: Vendor Specific Payload of this WTP's vendor %u, element %u, "
                  "which it does not define (%zu octets: %s)",
                  msg.ctl.msg_type, vendor, element_id, e.value.size(), HexOf(e.value).c_str());
    }
  }
  return true;
}

void StandardReassembler::Clear() {
  active_ = false;
  total_ = 0;
  header_.clear();
  parts_.clear();
}

StandardReassembler::Result StandardReassembler::Add(ByteView datagram, Bytes* message,
                                                     std::string* why) {
  size_t hlen = 0;
  uint32_t bits = 0;
  if (!ReadHeader(datagram, &hlen, &bits, why)) return Result::kRejected;
  if ((bits & kBitF) == 0) return Result::kWhole;
  WireReader r(datagram.subspan(4));
  uint16_t id = 0, offset_field = 0;
  r.u16(id);
  r.u16(offset_field);
  const size_t offset = static_cast<size_t>(offset_field >> 3) * 8;
  const ByteView payload = datagram.subspan(hlen);
  if (!active_ || id != id_) {
    Clear();
    active_ = true;
    id_ = id;
  }
  if (payload.empty() || offset + payload.size() > kMaxMessage ||
      ((bits & kBitL) == 0 && payload.size() % 8 != 0)) {
    Clear();
    Fail(why, "fragment %u at offset %zu with %zu octets", id, offset, payload.size());
    return Result::kRejected;
  }
  if (offset == 0) {
    header_.assign(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(hlen));
    header_[3] = static_cast<uint8_t>(header_[3] & ~(kBitF | kBitL));
    std::fill(header_.begin() + 4, header_.begin() + 8, uint8_t{0});
  }
  if (bits & kBitL) total_ = offset + payload.size();
  parts_[offset] = Bytes(payload.begin(), payload.end());
  if (total_ == 0 || header_.empty()) return Result::kHeld;
  size_t next = 0;
  for (const auto& [at, part] : parts_) {
    if (at > next) return Result::kHeld;
    if (at < next) {
      Clear();
      Fail(why, "fragment %u overlaps at offset %zu", id, at);
      return Result::kRejected;
    }
    next += part.size();
  }
  if (next != total_) return Result::kHeld;
  *message = header_;
  for (const auto& [at, part] : parts_) message->insert(message->end(), part.begin(), part.end());
  Clear();
  return Result::kComplete;
}

}  // namespace capwap::sim::rfc
