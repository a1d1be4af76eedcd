// Join: decode of a Join Request, the admission of the AP into a session
// (a configured record or a new automatic one), the Join Response, and the
// firmware decision that may send the AP to Image Data first.
//
// Return convention: 0 success, 1 failure unless stated otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/bytes.h"
#include "registry/acinfo.h"
#include "config/images.h"
#include "registry/wtpcb.h"
#include "transport/rfc.h"
#include "transport/types.h"

// One IEEE 802.11 WTP Radio Information element.
struct JoinRadioInfo {
  uint8_t radio_id = 0;
  std::array<uint8_t, 4> radio_type{};
};
inline constexpr int kJoinRadioSlots = 4;  // radio IDs 1-4

struct CW_JOIN_REQ_INFO {
  std::array<uint8_t, 32> location{};  // longer values are cut to 32 bytes
  WtpBoardData board;
  WtpDescriptor descriptor;
  std::array<char, 33> wtp_name{};     // at most 32 characters, NUL-terminated
  std::array<uint8_t, 16> session_id{};
  uint8_t frame_tunnel_mode = 0;
  uint8_t mac_type = 0;
  uint16_t capability = 0;             // bit value 2 = mesh
  uint32_t master_status = 0;          // 0 = virtual AP
  std::array<JoinRadioInfo, kJoinRadioSlots> radios{};  // radio r in radios[r - 1]
  capwap::Dialect dialect = capwap::Dialect::kProduct;
};

// Where and what to answer.
struct JoinResp {
  CW_ADDR dest;             // the requesting AP
  uint32_t result = 0;      // 0 success, 6 session ID in use
  uint8_t seq = 0;          // the request's sequence number
  uint8_t priority = 4;
  bool rfc = false;         // answer in the standard dialect
};
enum : uint32_t { kJoinResultSuccess = 0, kJoinResultSessionInUse = 6 };

inline constexpr size_t kImageIdentifierSize = 112;
inline constexpr uint32_t kJoinWaitSeconds = 6;

// Entry from the dispatcher (wtp: the AP bound to the sender, or null).
// 0 when handled or refused silently; 1 on a decode error, a wrong state, a
// failed creation or a failed timer; otherwise the result of sending.
int CW_AC_JoinReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);

// Pure decode into a zeroed *info. 1 when an element header or value runs
// past the datagram, or the WTP Board Data or WTP Descriptor decoder fails.
// Malformed vendor sub-elements and values too short for their field are
// skipped with a debug line.
int CW_AC_DecJoinReq(CW_JOIN_REQ_INFO* info, const CW_RCVPKT* rcv);

// Builds and sends the Join Response directly to resp.dest, from the
// record's local address. 0 sent, 1 when no packet could be taken or the
// send failed.
int CW_AC_SndJoinResp(CW_WTPCB* wtp, const JoinResp& resp);
// Pure builder of the Join Response into a new packet (elements and both
// headers). Reads the record, the controller information and the image
// table. 0, or 1 when the packet overflowed (our bug).
int CW_AC_FillJoinResp(CW_PKT& pkt, const CW_WTPCB& wtp, const JoinResp& resp);

// The image record the AP must install, or null: the first record of the
// AP's vendor for `model`, when its version does not begin with the AP's
// software version and its automatic-upgrade flag is 1. The pointer stays
// valid until the image table changes.
const ImageRecord* CW_AC_NeedUpdateImage(const WtpDescriptor& descriptor,
                                       std::string_view model, uint32_t vendor_id);
// The Image Identifier value: vendor identifier, then model, version and
// image name as sub-elements 0, 1, 2 of 32 NUL-padded bytes each. 0.
int CW_AC_GetImageId(const ImageRecord& record, std::array<uint8_t, kImageIdentifierSize>& out,
                     std::string_view model, uint32_t vendor_id);
// The image-table key of a model: its own name, NUL padded to 32 bytes.
void CW_AC_Is_NeedSameApimageUpdate(std::string_view model, std::array<char, 32>& out);

// The vendor handlers of elements 127 (master status) and 198 (capability
// bits) are shared by every message that carries a Vendor Specific Payload;
// only a Join record has those fields. This returns `ctx` as the Join record
// when CW_AC_DecJoinReq is walking a payload into it, else null.
CW_JOIN_REQ_INFO* JoinVendorContext(void* ctx);
