// CAPWAP header and message-element codec: transport and control headers,
// the acceptance test for received headers, the checked element walk, the
// shared WTP Board Data and WTP Descriptor decoders, packet element writing,
// the vendor element registry and payload scrambling.
//
// Return convention: 0 success / accepted, 1 failure / rejected.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/bytes.h"
#include "transport/types.h"

// --- Message types ------------------------------------------------------
enum : uint32_t {
  kMsgDiscoveryReq = 1,
  kMsgDiscoveryRsp = 2,
  kMsgJoinReq = 3,
  kMsgJoinRsp = 4,
  kMsgCfgStatusReq = 5,
  kMsgCfgStatusRsp = 6,
  kMsgCfgUpdateReq = 7,
  kMsgCfgUpdateRsp = 8,
  kMsgWtpEventReq = 9,
  kMsgWtpEventRsp = 10,
  kMsgChgStateReq = 11,
  kMsgChgStateRsp = 12,
  kMsgEchoReq = 13,
  kMsgEchoRsp = 14,
  kMsgImageDataReq = 15,
  kMsgImageDataRsp = 16,
  kMsgResetReq = 17,
  kMsgResetRsp = 18,
  kMsgPrimaryDiscReq = 19,
  kMsgDataTransferReq = 21,
  kMsgDataTransferRsp = 22,
  kMsgStaCfgReq = 25,
  kMsgStaCfgRsp = 26,
  kMsgWlanCfgReq = 3398913,  // 0x33DD01
  kMsgWlanCfgRsp = 3398914,  // 0x33DD02
};
// Printable name of a message type ("Discovery Request"; "Unknown" otherwise).
const char* MsgTypeName(uint32_t msg_type);
inline bool IsRequest(uint32_t msg_type) { return (msg_type & 1u) != 0; }

// --- Headers ------------------------------------------------------------
// Decodes octets 0-7; no checking. The caller guarantees 8 octets.
void CW_DEC_CWHdr(CW_HDR* hdr, const uint8_t* octets);
// 0 accepted; 1 when absent, version != 0, type != 0 or HLEN != 2.
int CW_CheckCWHdr(const CW_HDR* hdr);
// Decodes octets 8-15 of a control datagram (the caller guarantees 8 octets).
void CW_DEC_CWCtlHdr(CW_CTLHDR* ctl, const uint8_t* octets);
// Sets HLEN 2 in hdr, then writes 8 octets (fragment offset in the low 13
// bits of octets 6-7, the reserved bits in the high 3).
void CW_EncCwHdr(CW_HDR* hdr, uint8_t* out);
// Writes 8 octets, flags 0.
void CW_EncCwCtlHdr(const CW_CTLHDR* ctl, uint8_t* out);

// --- Element walk -------------------------------------------------------
inline constexpr size_t kCwElemHeaderLen = 4;
struct CwElement {
  uint16_t type = 0;
  capwap::ByteView value;
};
// How a walk treats the input. An element is only read when at least
// `min_left` octets remain; an element of `fixed_step_type` (when
// fixed_step is not 0) spans fixed_step octets whatever its stated length.
struct WalkPolicy {
  size_t min_left = kCwElemHeaderLen;
  uint16_t fixed_step_type = 0;
  size_t fixed_step = 0;
};
// Iterates {type, value} over 16-bit type/length elements. The walk stops
// at the first element that the policy refuses or whose header or value does
// not fit; complete() then reports false. Usage:
//   CwElementWalk walk(rcv.Elements());
//   for (const CwElement& e : walk) { ... }
//   if (!walk.complete()) -> malformed
class CwElementWalk {
 public:
  explicit CwElementWalk(capwap::ByteView elements, WalkPolicy policy = {})
      : data_(elements), policy_(policy) {}
  class iterator {
   public:
    iterator(CwElementWalk* walk, bool at_end);
    const CwElement& operator*() const { return current_; }
    const CwElement* operator->() const { return &current_; }
    iterator& operator++();
    bool operator!=(const iterator& other) const { return at_end_ != other.at_end_; }

   private:
    void Load();
    CwElementWalk* walk_;
    bool at_end_;
    CwElement current_;
  };
  iterator begin() { return iterator(this, false); }
  iterator end() { return iterator(this, true); }
  // True when every element fitted and the walk consumed all the input.
  bool complete() const { return failed_ == false && pos_ == data_.size(); }
  bool failed() const { return failed_; }

 private:
  friend class iterator;
  capwap::ByteView data_;
  WalkPolicy policy_;
  size_t pos_ = 0;
  bool failed_ = false;
};

namespace capwap {
// Station, Reset and WLAN Configuration Responses read an element only when
// its header and a 4-octet value can still follow.
inline constexpr size_t kResponseElemMin = 8;
// A Result Code value (u32); false when it is short.
bool ReadResultCode(ByteView value, uint32_t* result_code);
// The Result Code of a response whose other elements are not read, walked
// with kResponseElemMin; false when the walk or the value is refused.
bool DecodeResultOnly(ByteView elements, uint32_t* result_code);
}  // namespace capwap

// --- Shared element decoders -------------------------------------------
// WTP Board Data (38): vendor must pass vendor_isvalid (any vendor while the
// standard dialect is served); model (lower-cased)
// and base MAC required. 0 / 1.
int CW_DEC_IE_WtpBD(WtpBoardData* out, const uint8_t* value, size_t length);
// WTP Descriptor (39). 0 / 1.
int CW_DEC_IE_WtpDesc(WtpDescriptor* out, const uint8_t* value, size_t length);

// --- Building messages --------------------------------------------------
// A new packet: zeroed 32768-byte buffer (or `size` bytes, for a message whose
// size is known and small), cursor at 16, length 0; none when memory is short
// (or the kPacketAlloc failure is injected).
CwPktPtr CW_AC_PktMalloc(size_t size = kCwPktBufSize);
// Shrinks the buffer to exactly cursor bytes. 0 / 1.
int CW_AC_PktRemalloc(CW_PKT* pkt);

// Writes one element at the packet's cursor. Usage:
//   { CwElementWriter e(pkt, 33); e.w().u32(result); }  // length patched at scope end
// The element's length is what the body wrote; the packet's cursor and
// length advance by 4 + length. A body that overflows marks the packet bad
// (ok() false) and nothing is committed.
class CwElementWriter {
 public:
  CwElementWriter(CW_PKT& pkt, uint16_t type);
  ~CwElementWriter();
  CwElementWriter(const CwElementWriter&) = delete;
  CwElementWriter& operator=(const CwElementWriter&) = delete;
  capwap::WireWriter& w() { return body_; }
  bool ok() const { return body_.ok(); }

 private:
  CW_PKT& pkt_;
  uint16_t type_;
  capwap::WireWriter body_;
};
// Writes raw bytes at the cursor (already-encoded element lists). 0 / 1.
int PktAppendRaw(CW_PKT& pkt, capwap::ByteView bytes);
// Steps 2-4 of building a control message: encodes the transport header and
// the control header (element length = pkt.length), adds 16 to the length,
// stores type and sequence number in the packet.
void FinishCtlMsg(CW_PKT& pkt, uint32_t msg_type, uint8_t seq);

// --- Vendor element registry -------------------------------------------
inline constexpr int kMaxVendors = 128;
inline constexpr int kMaxVendorElems = 512;
// Handler: (context, cursor, element ID, length). The cursor points at the
// sub-element's value; the handler consumes it by advancing the reader.
// 0 success, 1 failure (allocation).
using CwVendorElemFunc = int (*)(void* context, capwap::WireReader& cursor, uint16_t elem_id,
                                 uint16_t length);
extern uint32_t g_aulVendorIdx[kMaxVendors];
extern uint16_t g_ausVendorElemIdx[kMaxVendorElems];  // shared by all vendors
extern CwVendorElemFunc g_apfVendorElemProcFunc[kMaxVendors][kMaxVendorElems];
// First free slot for the vendor; -1 when none is free.
int RegVendorId(uint32_t vendor_id);
// Registers a handler for (vendor slot, element ID); -1 when no element slot.
int RegVendorElem(int vendor_slot, uint16_t elem_id, CwVendorElemFunc func);
// The handler for a vendor element, or null (with the unsupported-element
// debug line when the element is known but has no handler).
CwVendorElemFunc CW_AC_Get_VendorProcFunc(uint32_t vendor_id, uint16_t elem_id);
// Walks one Vendor Specific Payload value through the registry with
// `context`: the vendor identifier (u32), then sub-elements of type u16 and
// length u16. Each registered sub-element's handler is called with the
// cursor at its value and consumes it; unsupported ones are skipped by their
// length. 0 / 1 (1 when a header or value runs past the end or a handler fails).
int CW_AC_DecVendorElem(void* context, capwap::ByteView value);
// The record a Vendor Specific Payload of one message type is being walked
// into, for the handlers that fill it: set for the scope's life, restored
// after (walks may nest).
namespace capwap {
template <typename Record>
class VendorDecodeScope {
 public:
  explicit VendorDecodeScope(Record* record) : saved_(Active()) { Active() = record; }
  ~VendorDecodeScope() { Active() = saved_; }
  VendorDecodeScope(const VendorDecodeScope&) = delete;
  VendorDecodeScope& operator=(const VendorDecodeScope&) = delete;
  // The active record when `context` is it; null otherwise.
  static Record* Target(void* context) {
    return context != nullptr && context == Active() ? Active() : nullptr;
  }

 private:
  static Record*& Active() {
    static Record* active = nullptr;
    return active;
  }
  Record* saved_;
};
}  // namespace capwap
// Empties the registry (start-up and tests).
void VendorRegistryReset();

// --- Scrambling ---------------------------------------------------------
// XOR with the 94-character key; the same call scrambles and descrambles.
// 0 done, 1 when the buffer is absent, the length 0 or the key absent.
int CW_Encrypt(uint8_t* buffer, size_t length, const char* key);
extern const char kCwScrambleKey[];  // 94 printable ASCII characters
extern uint8_t g_ucNeedEncrypt;      // scramble IPv4 control and keepalives
