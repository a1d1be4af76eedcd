// The standard access point's side of the wire: RFC 5415 headers and control
// messages with the IEEE 802.11 binding of RFC 5416, written and checked here
// from the RFCs alone (the product codec is not used), so that a standard WTP
// run against the controller is an independent check of its standard mode.
//
// Builders return the whole datagram. ParseStandardControl accepts only what
// a strict standard WTP can parse; CheckStandardMandatory then requires the
// elements the RFCs make mandatory in each message the AC sends. Both return
// false with the reason in *why.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "wtp-sim/wtp_messages.h"

namespace capwap::sim::rfc {

// Not the platform's vendor: an enterprise number the controller does not own.
inline constexpr uint32_t kStandardVendorId = 12345;
inline constexpr uint8_t kWbidIeee80211 = 1;

// The WTP's CAPWAP Local IPv4 (4 octets) or IPv6 (16 octets) address.
struct LocalAddress {
  bool ipv6 = false;
  std::array<uint8_t, 16> octets{};
};

Bytes BuildDiscoveryRequest(const WtpIdentity& id, uint8_t seq);
Bytes BuildJoinRequest(const WtpIdentity& id, uint8_t seq, const LocalAddress& local);
Bytes BuildConfigStatusRequest(const WtpIdentity& id, uint8_t seq);
Bytes BuildChangeStateRequest(const WtpIdentity& id, uint8_t seq);
// No elements: the AC knows the session by the WTP's endpoint.
Bytes BuildEchoRequest(uint8_t seq);
// Result Code only.
Bytes BuildResponse(uint32_t msg_type, uint8_t seq, uint32_t result_code);
// K bit, then the length of what follows the header (22), Session ID.
Bytes BuildKeepalive(const SessionId& session_id);
bool DecodeKeepalive(ByteView datagram, SessionId* session_id, std::string* why);

// Message type and sequence number of a datagram built here.
bool PeekTypeSeq(ByteView datagram, uint32_t* msg_type, uint8_t* seq);

// Header (version 0, HLEN, WBID 0 or 1, no T, F or K bit on a control
// message), Message Element Length counting the 3 octets after the sequence
// number, and every element of a type the RFCs define, in its RFC length
// (802.11 elements only under WBID 1). Fills out->ctl.msg_type, seq and
// elem_len (element octets) and out->list; views point into `datagram`.
bool ParseStandardControl(ByteView datagram, ControlMessage* out, std::string* why);
// The elements RFC 5415/5416 require in this message from the AC, with the
// values a WTP relies on (AC Descriptor counts, a control address).
bool CheckStandardMandatory(const ControlMessage& msg, size_t radios, bool ipv6,
                            std::string* why);
// No Vendor Specific Payload under the WTP's own vendor identifier: this WTP
// defines no vendor elements, so it could not parse one (other vendors'
// payloads are ignored).
bool CheckOwnVendorPayloads(const ControlMessage& msg, uint32_t own_vendor, std::string* why);
// RFC 5415 4.6.35: Failure - Unrecognized Message Element.
inline constexpr uint32_t kResultUnrecognizedElement = 21;

// Fragments of one control message in the RFC placement (Fragment ID, offset
// in 8-octet units, L bit on the last one). A new Fragment ID starts over.
class StandardReassembler {
 public:
  enum class Result { kWhole, kHeld, kComplete, kRejected };
  // kWhole: not a fragment. kComplete: *message holds the reassembled
  // datagram (the first fragment's header without F and L).
  Result Add(ByteView datagram, Bytes* message, std::string* why);
  void Clear();

 private:
  bool active_ = false;
  uint16_t id_ = 0;
  size_t total_ = 0;  // payload octets, once the last fragment arrived
  Bytes header_;
  std::map<size_t, Bytes> parts_;  // by offset in octets
};

}  // namespace capwap::sim::rfc
