// The simulated AP's side of the wire: who the AP says it is, the messages it
// builds, and the checks it applies to what the AC sends. Pure functions over
// bytes; the state machine (wtp_sim.h) decides when each is used.
//
// Builders return the whole datagram (transport and control headers first).
// Decoders return false and set *why when the input is malformed; they never
// read outside their input.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/types.h"

namespace capwap::sim {

inline constexpr uint32_t kSimVendorId = 41414;

// IEEE 802.11 radio type bits of the Radio Information element.
enum : uint32_t { kRadioTypeB = 1, kRadioTypeA = 2, kRadioTypeG = 4, kRadioTypeN = 8 };

// Image Data types.
enum : uint8_t { kImageDataMore = 1, kImageDataEof = 2 };

using Mac = std::array<uint8_t, 6>;
using SessionId = std::array<uint8_t, 16>;

struct SimRadio {
  uint8_t id = 1;
  uint32_t type = kRadioTypeB | kRadioTypeG | kRadioTypeN;
  uint8_t channel = 6;
  uint16_t tx_power = 20;  // dBm
  Mac bssid{};
  bool FiveGhz() const { return (type & kRadioTypeA) != 0; }
};

// Everything the AP reports about itself.
struct WtpIdentity {
  std::string name = "simap-1";
  Mac mac{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};
  std::string model = "ia-210";
  std::string serial = "SIM000001";
  std::string board_id = "sim";
  uint32_t vendor_id = kSimVendorId;
  std::string hw_version = "A1";
  std::string sw_version = "1.0.0";
  std::string boot_version = "1.0";
  std::string location = "lab";
  std::string ac_name;          // AC Name reported in Configuration Status
  uint32_t master_status = 1;   // 1: counted AP, 0: virtual AP
  uint16_t capability_bits = 0;
  SessionId session_id{};
  std::vector<SimRadio> radios;
  // A standard RFC 5415/5416 WTP (wtp_rfc.h) instead of the product dialect.
  bool rfc = false;
};

// Two radios: 2.4 GHz b/g/n on channel 6 and 5 GHz a/n on channel 36, each
// with a BSSID derived from the base MAC.
std::vector<SimRadio> DefaultRadios(const Mac& mac, int count = 2);
std::string MacText(const Mac& mac);
// "02:00:00:00:01:01" or "0200-0000-0101"; false when malformed.
bool ParseMac(const std::string& text, Mac* out);

// --- Builders (AP -> AC) -------------------------------------------------
Bytes BuildDiscoveryRequest(const WtpIdentity& id, uint8_t seq);
Bytes BuildJoinRequest(const WtpIdentity& id, uint8_t seq);
// `padding` octets in a vendor element of a vendor the AC does not know
// make the request large (fragmented) without changing what it says.
Bytes BuildConfigStatusRequest(const WtpIdentity& id, uint8_t seq, size_t padding = 0);
Bytes BuildChangeStateRequest(const WtpIdentity& id, uint8_t seq);
Bytes BuildEchoRequest(const WtpIdentity& id, uint8_t seq);
// Session ID and radio statistics; `padding` octets of station-scan report
// make the request as large as a load test wants (fragmented when big).
// Radio statistics, a channel report per radio and an intrusion summary,
// `padding` octets of station scan, then `extra` (whole elements) as given.
Bytes BuildEventRequest(const WtpIdentity& id, uint8_t seq, size_t padding, ByteView extra = {});
// Image Identifier value as the Join Response gave it, Initiate Download.
Bytes BuildImageDataRequest(uint8_t seq, ByteView image_identifier);
// Data Transfer Request carrying one Data Transfer Data element: `type` 1
// (data) or 2 (end of data), mode 1 (crash data), then the chunk.
Bytes BuildDataTransferRequest(uint8_t seq, uint8_t type, ByteView chunk);
// Core-dump monitor chunk: CAPWAP headers with message type 177 and the chunk
// number as sequence number, process index and total size (u32 each), data.
Bytes BuildCoreChunk(uint8_t chunk_no, uint32_t process, uint32_t total, ByteView data);
// Octet `i` of the crash data and core dumps the simulator uploads.
inline uint8_t DumpOctet(size_t i) { return static_cast<uint8_t>(i * 7 + i / 251); }
// Keepalive: K bit, element length 20, Session ID (30 octets).
Bytes BuildKeepalive(const SessionId& session_id);

// A response to an AC request: Result Code, then `extra` (already encoded
// elements, written only when the result is 0).
Bytes BuildResponse(uint32_t msg_type, uint8_t seq, uint32_t result_code, ByteView extra = {});
// Assigned WTP BSSID elements for the Add WLAN elements of a WLAN
// Configuration Request (radio's BSSID with the WLAN ID added to its last octet).
Bytes AssignedBssidElements(const WtpIdentity& id, ByteView request_elements);

// --- Received datagrams --------------------------------------------------

// A control datagram that passed the generic checks.
struct ControlMessage {
  CW_HDR hdr;
  CW_CTLHDR ctl;
  ByteView elements;
  std::vector<CwElement> list;  // every element, in order
  const CwElement* Find(uint16_t type) const;
};

// Header accepted, control header present, element length equal to what
// follows, and every element fits. Views point into `datagram`.
bool ParseControl(ByteView datagram, ControlMessage* out, std::string* why);

struct DiscoveryResponseInfo {
  uint8_t priority = 0;
  uint32_t vendor_id = 0;
};
// Exactly AC Descriptor 156, AC Name 32, control IPv4 address 6, vendor
// payload 9 with element 128 and a priority byte 1-7.
bool DecodeDiscoveryResponse(const ControlMessage& msg, DiscoveryResponseInfo* out,
                             std::string* why);

struct JoinResponseInfo {
  uint32_t result_code = 0;
  bool has_image = false;
  Bytes image_identifier;   // the 112-octet value, vendor identifier first
  std::string image_model;
  std::string image_version;
  std::string image_name;
};
// Result Code first; on result 0 the AC Descriptor, AC Name, a control
// address and the transport protocol with their lengths, and an optional
// Image Identifier of 112 octets.
bool DecodeJoinResponse(const ControlMessage& msg, JoinResponseInfo* out, std::string* why);
// The Image Identifier value of a Configuration Update telling a running AP to
// upgrade, into the image fields of `out`.
bool DecodeUpgradeImage(ByteView value, JoinResponseInfo* out, std::string* why);

// The CAPWAP Timers element, when present and 2 octets long.
struct CapwapTimers {
  uint8_t discovery = 0;
  uint8_t echo = 0;
};
std::optional<CapwapTimers> FindCapwapTimers(const ControlMessage& msg);

// First Result Code element (4 octets); nullopt when absent or malformed.
std::optional<uint32_t> FindResultCode(const ControlMessage& msg);

struct ImageBlock {
  uint8_t data_type = 0;
  ByteView data;
  bool has_info = false;
  uint32_t size = 0;
  std::array<uint8_t, 16> md5{};
};
// An Image Data Request of the AC: Image Data (type octet and data), and on
// the last block Image Information (size, MD5).
bool DecodeImageBlock(const ControlMessage& msg, ImageBlock* out, std::string* why);

// A data-channel keepalive: K bit, length 20, Session ID of 16 octets.
bool DecodeKeepalive(ByteView datagram, SessionId* session_id, std::string* why);

// MD5 of the bytes.
std::array<uint8_t, 16> Md5Of(ByteView data);

}  // namespace capwap::sim
