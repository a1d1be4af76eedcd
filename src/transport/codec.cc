// CAPWAP transport and control headers, the element walk, the WTP Board Data
// and WTP Descriptor decoders and the element writers of outgoing packets.
#include "transport/codec.h"

#include <algorithm>
#include <new>

#include "diag/bug.h"
#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "transport/elements.h"
#include "transport/rfc.h"

namespace {

constexpr uint16_t kFragOffsetMask = 0x1FFF;
constexpr int kReservedShift = 13;
constexpr size_t kMaxElemValue = 0xFFFF;

struct MsgName {
  uint32_t type;
  const char* name;
};

constexpr MsgName kMsgNames[] = {
    {kMsgDiscoveryReq, "Discovery Request"},
    {kMsgDiscoveryRsp, "Discovery Response"},
    {kMsgJoinReq, "Join Request"},
    {kMsgJoinRsp, "Join Response"},
    {kMsgCfgStatusReq, "Configuration Status Request"},
    {kMsgCfgStatusRsp, "Configuration Status Response"},
    {kMsgCfgUpdateReq, "Configuration Update Request"},
    {kMsgCfgUpdateRsp, "Configuration Update Response"},
    {kMsgWtpEventReq, "WTP Event Request"},
    {kMsgWtpEventRsp, "WTP Event Response"},
    {kMsgChgStateReq, "Change State Event Request"},
    {kMsgChgStateRsp, "Change State Event Response"},
    {kMsgEchoReq, "Echo Request"},
    {kMsgEchoRsp, "Echo Response"},
    {kMsgImageDataReq, "Image Data Request"},
    {kMsgImageDataRsp, "Image Data Response"},
    {kMsgResetReq, "Reset Request"},
    {kMsgResetRsp, "Reset Response"},
    {kMsgPrimaryDiscReq, "Primary Discovery Request"},
    {kMsgDataTransferReq, "Data Transfer Request"},
    {kMsgDataTransferRsp, "Data Transfer Response"},
    {kMsgStaCfgReq, "Station Configuration Request"},
    {kMsgStaCfgRsp, "Station Configuration Response"},
    {kMsgWlanCfgReq, "IEEE 802.11 WLAN Configuration Request"},
    {kMsgWlanCfgRsp, "IEEE 802.11 WLAN Configuration Response"},
};

// Board Data sub-element types.
enum : uint16_t {
  kBdModel = 0,
  kBdSerial = 1,
  kBdBoardId = 2,
  kBdBoardRev = 3,
  kBdBaseMac = 4,
};

// Copies a value into a fixed field: zero-filled first, clipped to the field.
template <typename T, size_t N>
void CopyClipped(std::array<T, N>& field, capwap::ByteView value) {
  field.fill(0);
  std::copy_n(value.begin(), std::min(value.size(), N), reinterpret_cast<uint8_t*>(field.data()));
}

// Lower-cases the whole field; the field need not be NUL-terminated.
void LowerField(std::array<char, 32>& field) {
  for (char& c : field) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

// Reads one type/length header and the value it announces. False (reader
// failed) when either does not fit.
bool ReadSubElement(capwap::WireReader& r, uint16_t& type, capwap::ByteView& value) {
  uint16_t length = 0;
  return r.u16(type) && r.u16(length) && r.view(length, value);
}

}  // namespace

const char* MsgTypeName(uint32_t msg_type) {
  for (const MsgName& entry : kMsgNames) {
    if (entry.type == msg_type) return entry.name;
  }
  return "Unknown";
}

// --- Headers ------------------------------------------------------------

void CW_DEC_CWHdr(CW_HDR* hdr, const uint8_t* octets) {
  capwap::WireReader r(octets, kCwHdrLen);
  uint16_t last_word = 0;
  r.u32(hdr->word0);
  r.u16(hdr->frag_id);
  r.u16(last_word);
  hdr->frag_offset = last_word & kFragOffsetMask;
  hdr->reserved3 = static_cast<uint8_t>(last_word >> kReservedShift);
}

int CW_CheckCWHdr(const CW_HDR* hdr) {
  if (hdr == nullptr) return 1;
  if (hdr->Version() != 0 || hdr->Type() != 0 || hdr->Hlen() != 2) return 1;
  return 0;
}

void CW_DEC_CWCtlHdr(CW_CTLHDR* ctl, const uint8_t* octets) {
  capwap::WireReader r(octets, kCwCtlHdrLen);
  r.u32(ctl->msg_type);
  r.u8(ctl->seq);
  r.u16(ctl->elem_len);
  r.u8(ctl->flags);
}

void CW_EncCwHdr(CW_HDR* hdr, uint8_t* out) {
  hdr->SetHlen(2);
  const uint16_t last_word = static_cast<uint16_t>(((hdr->reserved3 & 0x7u) << kReservedShift) |
                                                   (hdr->frag_offset & kFragOffsetMask));
  capwap::WireWriter w(out, kCwHdrLen);
  w.u32(hdr->word0);
  w.u16(hdr->frag_id);
  w.u16(last_word);
}

void CW_EncCwCtlHdr(const CW_CTLHDR* ctl, uint8_t* out) {
  capwap::WireWriter w(out, kCwCtlHdrLen);
  w.u32(ctl->msg_type);
  w.u8(ctl->seq);
  w.u16(ctl->elem_len);
  w.u8(0);
}

// --- Element walk -------------------------------------------------------

CwElementWalk::iterator::iterator(CwElementWalk* walk, bool at_end)
    : walk_(walk), at_end_(at_end) {
  if (!at_end_) Load();
}

CwElementWalk::iterator& CwElementWalk::iterator::operator++() {
  Load();
  return *this;
}

void CwElementWalk::iterator::Load() {
  CwElementWalk& walk = *walk_;
  if (walk.failed_ || walk.pos_ >= walk.data_.size()) {
    at_end_ = true;
    return;
  }
  capwap::WireReader r(walk.data_.subspan(walk.pos_));
  const WalkPolicy& policy = walk.policy_;
  CwElement next;
  uint16_t length = 0;
  bool ok = r.remaining() >= policy.min_left && r.u16(next.type) && r.u16(length);
  if (ok && policy.fixed_step != 0 && next.type == policy.fixed_step_type) {
    ok = r.view(policy.fixed_step, next.value);
  } else if (ok) {
    ok = r.view(length, next.value);
  }
  if (!ok) {
    walk.failed_ = true;
    at_end_ = true;
    return;
  }
  walk.pos_ += r.pos();
  current_ = next;
}

namespace capwap {

bool ReadResultCode(ByteView value, uint32_t* result_code) {
  return WireReader(value).u32(*result_code);
}

bool DecodeResultOnly(ByteView elements, uint32_t* result_code) {
  *result_code = 0;
  CwElementWalk walk(elements, {.min_left = kResponseElemMin});
  for (const CwElement& e : walk) {
    if (e.type == elem::kResultCode && !ReadResultCode(e.value, result_code)) return false;
  }
  return walk.complete();
}

}  // namespace capwap

// --- WTP Board Data and WTP Descriptor ----------------------------------

int CW_DEC_IE_WtpBD(WtpBoardData* out, const uint8_t* value, size_t length) {
  *out = WtpBoardData{};
  if (value == nullptr) return 1;
  capwap::WireReader r(value, length);
  if (!r.u32(out->vendor_id)) return 1;
  // A foreign vendor is a standard WTP's when the standard dialect is served.
  if (!vendor_isvalid(out->vendor_id) && !capwap::RfcCompatOn()) {
    CwDebug(kDbgError, ZLOG_INFO, " Reported vendor ID %x is illegal.\n", out->vendor_id);
    return 1;
  }
  bool have_model = false;
  bool have_mac = false;
  while (r.remaining() > 0) {
    uint16_t type = 0;
    capwap::ByteView sub;
    if (!ReadSubElement(r, type, sub)) return 1;
    switch (type) {
      case kBdModel:
        CopyClipped(out->model, sub);
        LowerField(out->model);
        have_model = true;
        break;
      case kBdSerial:
        CopyClipped(out->serial, sub);
        break;
      case kBdBoardId:
        CopyClipped(out->board_id, sub);
        break;
      case kBdBoardRev:
        CopyClipped(out->board_rev, sub);
        break;
      case kBdBaseMac:
        CopyClipped(out->base_mac, sub);
        have_mac = true;
        break;
      default:
        break;
    }
  }
  return have_model && have_mac ? 0 : 1;
}

int CW_DEC_IE_WtpDesc(WtpDescriptor* out, const uint8_t* value, size_t length) {
  *out = WtpDescriptor{};
  if (value == nullptr) return 1;
  capwap::WireReader r(value, length);
  // Counts, then the single encryption sub-element (WBID, capabilities).
  r.u8(out->max_radios);
  r.u8(out->radios_in_use);
  r.u8(out->num_encrypt);
  r.u8(out->encrypt_wbid);
  r.u16(out->encrypt_caps);
  if (!r.ok()) return 1;
  while (r.remaining() > 0) {
    uint32_t vendor_id = 0;
    uint16_t type = 0;
    capwap::ByteView sub;
    if (!r.u32(vendor_id) || !ReadSubElement(r, type, sub)) return 1;
    switch (type) {
      case 0:
        CopyClipped(out->hw_version, sub);
        break;
      case 1:
        CopyClipped(out->sw_version, sub);
        break;
      case 2:
        CopyClipped(out->boot_version, sub);
        break;
      case 3:
        CopyClipped(out->other_version, sub);
        break;
      default:
        break;
    }
  }
  return 0;
}

// --- Building messages --------------------------------------------------

CwPktPtr CW_AC_PktMalloc(size_t size) {
  if (capwap::ShouldFail(capwap::FailFamily::kPacketAlloc)) return nullptr;
  try {
    auto pkt = std::make_unique<CW_PKT>();
    pkt->buffer.assign(size, 0);
    return pkt;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int CW_AC_PktRemalloc(CW_PKT* pkt) {
  if (pkt == nullptr || pkt->cursor > pkt->buffer.size()) return 1;
  if (pkt->cursor == pkt->buffer.size()) return 0;  // built in a buffer of its exact size
  try {
    capwap::Bytes exact(pkt->buffer.begin(),
                        pkt->buffer.begin() + static_cast<std::ptrdiff_t>(pkt->cursor));
    pkt->buffer.swap(exact);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

namespace {

// The room an element value may take at the packet's cursor: what is left
// after the element header, and never more than a 16-bit length can say.
std::span<uint8_t> ElementBodySpan(CW_PKT& pkt) {
  const size_t size = pkt.buffer.size();
  if (pkt.cursor > size || size - pkt.cursor < kCwElemHeaderLen) return {};
  const size_t room = std::min(size - pkt.cursor - kCwElemHeaderLen, kMaxElemValue);
  return std::span<uint8_t>(pkt.buffer.data() + pkt.cursor + kCwElemHeaderLen, room);
}

bool HasElementHeaderRoom(const CW_PKT& pkt) {
  return pkt.cursor <= pkt.buffer.size() && pkt.buffer.size() - pkt.cursor >= kCwElemHeaderLen;
}

}  // namespace

CwElementWriter::CwElementWriter(CW_PKT& pkt, uint16_t type)
    : pkt_(pkt), type_(type), body_(ElementBodySpan(pkt)) {
  // No room even for the header: fail the body now so ok() says so.
  if (!HasElementHeaderRoom(pkt_)) body_.u8(0);
}

CwElementWriter::~CwElementWriter() {
  if (!body_.ok()) {
    // Wipe what the body wrote so the packet reads as before the element.
    if (HasElementHeaderRoom(pkt_)) {
      const size_t written = kCwElemHeaderLen + body_.size();
      std::fill_n(pkt_.buffer.begin() + static_cast<std::ptrdiff_t>(pkt_.cursor), written, 0);
    }
    CAPWAP_BUG("element %u (%s) does not fit in the packet", static_cast<unsigned>(type_),
           capwap::elem::Name(type_));
    return;
  }
  const size_t value_len = body_.size();
  capwap::WireWriter header(pkt_.buffer.data() + pkt_.cursor, kCwElemHeaderLen);
  header.u16(type_);
  header.u16(static_cast<uint16_t>(value_len));
  pkt_.cursor += kCwElemHeaderLen + value_len;
  pkt_.length += static_cast<uint32_t>(kCwElemHeaderLen + value_len);
}

int PktAppendRaw(CW_PKT& pkt, capwap::ByteView bytes) {
  if (pkt.cursor > pkt.buffer.size() || bytes.size() > pkt.buffer.size() - pkt.cursor) {
    CAPWAP_BUG("%zu raw octets do not fit in the packet", bytes.size());
    return 1;
  }
  capwap::WireWriter w(pkt.buffer.data() + pkt.cursor, bytes.size());
  w.bytes(bytes);
  pkt.cursor += bytes.size();
  pkt.length += static_cast<uint32_t>(bytes.size());
  return 0;
}

void FinishCtlMsg(CW_PKT& pkt, uint32_t msg_type, uint8_t seq) {
  if (pkt.buffer.size() < kCwHeadersLen) {
    CAPWAP_BUG("packet buffer has no room for the CAPWAP headers");
    return;
  }
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, pkt.buffer.data());
  CW_CTLHDR ctl;
  ctl.msg_type = msg_type;
  ctl.seq = seq;
  ctl.elem_len = static_cast<uint16_t>(pkt.length);
  CW_EncCwCtlHdr(&ctl, pkt.buffer.data() + kCwHdrLen);
  pkt.length += kCwHeadersLen;
  pkt.msg_type = msg_type;
  pkt.seq = seq;
}
