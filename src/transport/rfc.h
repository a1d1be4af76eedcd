// The standard (RFC 5415/5416) dialect served beside this system's own when
// the `capwap rfc-compat` switch is on: which WTPs speak it, the header and
// element framing it needs, and the builders of the message parts that
// differ from this system's forms.
//
// A WTP speaks the standard dialect when the switch is on and its WTP Board
// Data vendor identifier is not one of the platform's (`vendor_id`,
// `vendor_ids`). The choice is made from each Discovery and Join Request and
// kept on the control block for the session.
//
// Standard framing: the control header's Message Element Length counts the
// three octets after the sequence number as well; the transport header
// carries WBID 1 (IEEE 802.11); a fragment offset sits in the high 13 bits
// of octets 6-7 and the 3 reserved bits in the low ones.
//
// Return convention: bool, true done / accepted.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/bytes.h"
#include "transport/types.h"

namespace capwap {

// --- The switch ------------------------------------------------------------
bool RfcCompatOn();
void SetRfcCompatFlag(bool on);

// True when a Board Data vendor identifier marks a standard WTP: the switch
// is on and the identifier is not the platform's.
bool IsStandardVendor(uint32_t vendor_id);

// The dialect a Discovery or Join Request speaks, from its WTP Board Data
// vendor identifier. A standard WTP that also carries this system's own WTP
// Capabilities element (198) sends both dialects' markers: kMixed.
enum class Dialect : uint8_t { kProduct, kStandard, kMixed };
Dialect RequestDialect(ByteView elements);

// The generic model a standard WTP is admitted under (not in the catalogue).
inline constexpr char kStandardApModel[] = "standard-ap";

// --- Framing ---------------------------------------------------------------
inline constexpr uint8_t kWbidIeee80211 = 1;
// The control header's Message Element Length counts these octets too.
inline constexpr uint16_t kRfcElemLenExtra = 3;
// The standard keepalive's length field counts itself: 2 + 4 + 16.
inline constexpr uint16_t kRfcKeepaliveElemLen = 22;

// Octets 0-7 in the standard placement (HLEN 2, WBID 1 forced).
void EncodeRfcHeader(CW_HDR* hdr, uint8_t* out);
// Octets 0-7 read in the standard placement (the caller guarantees 8).
void DecodeRfcHeader(CW_HDR* hdr, const uint8_t* octets);
// Turns a finished control message (both headers encoded) into the standard
// framing: WBID 1 and the element length plus 3. Applied once per message.
void RfcFrameCtlMsg(CW_PKT& pkt);

// False for a finished message a standard WTP cannot parse: a request of
// this system's own (WLAN and station settings, images, data transfer), or a
// Configuration Update Request that is empty or holds an element without a
// standard form here (the product's own numbers, vendor payloads).
// Responses pass.
bool RfcSendable(const CW_PKT& pkt);

// --- Message parts ----------------------------------------------------------
// The AC Descriptor of the standard dialect: R-MAC 2 (no Radio MAC Address
// field in the header: a header with one is refused), the DTLS policy's
// clear-data-channel bit,
// active WTPs at most max WTPs (never 0), stations at most the limit, and
// only the hardware and software versions under the controller's vendor.
bool PutRfcAcDescriptor(CW_PKT& pkt);
// AC Name, never empty (the controller's model when no name is set).
bool PutRfcAcName(CW_PKT& pkt);
// CAPWAP Control IPv4 (10) or IPv6 (11) Address: the address the WTP's
// request arrived on, with the WTP count.
bool PutRfcControlAddress(CW_PKT& pkt, const CW_ADDR& local);
// CAPWAP Local IPv4 (30) or IPv6 (50) Address: the same address.
bool PutRfcLocalAddress(CW_PKT& pkt, const CW_ADDR& local);
// IEEE 802.11 WTP Radio Information (1048) for each radio the WTP reported
// (radio ID 1-4 and its 32-bit type; a zero type is left out).
bool PutRfcRadioInfo(CW_PKT& pkt, std::span<const uint32_t, 4> radio_types);
// ECN Support (53): limited.
bool PutRfcEcnSupport(CW_PKT& pkt);

// WTP Fallback (40): enabled.
bool PutRfcWtpFallback(CW_PKT& pkt);
// AC IPv4 List (2) or AC IPv6 List (3) holding the one local address.
bool PutRfcAcList(CW_PKT& pkt, const CW_ADDR& local);

// The Echo Response of a standard WTP: no elements, the request's sequence
// number, standard framing.
CwPktPtr BuildRfcEchoResp(uint8_t seq);
// The standard data keepalive (30 octets, length field 22, WBID 1).
std::array<uint8_t, 30> BuildRfcKeepAlive(const std::array<uint8_t, 16>& session_id);

// A Vendor Specific Payload in the standard layout (vendor identifier, u16
// element ID, data): false when shorter than 6 octets.
bool ReadRfcVendorPayload(ByteView value, uint32_t* vendor_id, uint16_t* element_id,
                          ByteView* data);

}  // namespace capwap
