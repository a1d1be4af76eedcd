// Discovery: decode of a Discovery Request, the admission decision and the
// Discovery Response that describes the controller. Discovery creates no
// state; a refused AP gets no answer, only a debug line.
//
// Return convention: 0 success, 1 failure (see each function for what a
// failure means to the dispatcher).
#pragma once

#include <array>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/acinfo.h"
#include "registry/wtpcb.h"
#include "transport/rfc.h"
#include "transport/types.h"

// One IEEE 802.11 WTP Radio Information element: radio ID and the radio
// type bytes as received.
struct DiscRadioInfo {
  uint8_t radio_id = 0;
  std::array<uint8_t, 4> radio_type{};
};
inline constexpr int kDiscRadioSlots = 4;  // radio IDs 1-4

struct CW_DISC_REQ_INFO {
  uint8_t discovery_type = 0;
  uint8_t frame_tunnel_mode = 0;
  uint8_t mac_type = 0;
  WtpBoardData board;
  WtpDescriptor descriptor;
  std::array<DiscRadioInfo, kDiscRadioSlots> radios{};  // radio r in radios[r - 1]
  std::array<uint8_t, 32> vendor_data63{};  // first 32 bytes of vendor sub-element 63
  uint16_t workmode = 0;                    // bit value 2 = mesh, else fit
  bool have_board = false;
  bool have_descriptor = false;
  capwap::Dialect dialect = capwap::Dialect::kProduct;
};
inline constexpr uint16_t kWorkModeMesh = 2;

// Where and how to answer one request.
struct DiscoveryResp {
  CW_ADDR remote;        // the requesting AP
  CW_ADDR local;         // where its request arrived
  uint8_t seq = 0;       // the request's sequence number
  uint8_t priority = 4;  // the AP's priority, 4 for an AP without record
  bool rfc = false;      // answer in the standard dialect
  std::array<uint32_t, 4> radio_types{};  // a standard WTP's radios by radio ID
};

// Entry from the dispatcher (wtp, bound to the sender, is not used). 0 when
// the request was handled or refused, 1 when it could not be decoded.
int CW_AC_DiscReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);

// Pure decode of the message elements into a zeroed *info. 0 when WTP Board
// Data and WTP Descriptor were both present and well formed, 1 otherwise.
int CW_AC_DecDiscReq(CW_DISC_REQ_INFO* info, const CW_RCVPKT* rcv);
// Copies vendor sub-element 63 of one Vendor Specific Payload value into
// info. 1 when the value is malformed (callers skip the element anyway).
int CW_AC_DecDiscVendorElem(CW_DISC_REQ_INFO* info, const uint8_t* value, size_t length);
// Stores one Radio Information value in its slot. 1 when the value is
// shorter than 5 bytes or the radio ID is 0 or above 4.
int CW_Dec11IERdInfo(std::array<DiscRadioInfo, kDiscRadioSlots>& slots,
                     capwap::ByteView value);

// The validation chain; 0 when a response was sent (or refused for lack of
// a packet), 1 when the AP is refused.
int CW_AC_ProcDiscReq(const CW_DISC_REQ_INFO* info, const CW_RCVPKT* rcv);
// Builds and sends the Discovery Response directly (not through a queue);
// wtp may be null. 1 only when no packet could be taken.
int CW_AC_SndDiscResp(CW_WTPCB* wtp, const DiscoveryResp& resp, uint32_t vendor_id);
// Pure builder: the four elements and both headers into a new packet, the
// controller described by `ac`. 0, or 1 when the packet overflowed (our bug).
int FillDiscResp(CW_PKT& pkt, const capwap::AcGlobalInfo& ac, uint32_t vendor_id,
                       uint8_t priority, uint8_t seq);

// Pure builder of the standard dialect's response: AC Descriptor, AC Name,
// the WTP's radios as 802.11 WTP Radio Information, and the CAPWAP Control
// address = `local` (where the request arrived). 0, or 1 on overflow.
int FillRfcDiscResp(CW_PKT& pkt, const DiscoveryResp& resp);

// A request that arrived as a broadcast carries 255.255.255.255 as its
// local address: take the receiving interface's address instead.
void FillBroadcastLocal(CW_ADDR& local);
