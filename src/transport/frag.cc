#include "transport/frag.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "platform/thread.h"
#include "registry/session.h"
#include "transport/codec.h"
#include "transport/rfc.h"

namespace {

constexpr long kReassemblySeconds = 30;
// Fragment offsets count 8-octet units.
constexpr uint32_t kOffsetUnit = 8;

CW_PKT MakeFragment(const CW_PKT& pkt, size_t index, size_t count, uint16_t frag_id,
                    bool rfc) {
  const size_t payload_total = pkt.length - kCwHdrLen;
  const size_t start = index * kFragPayload;
  const size_t chunk = std::min(kFragPayload, payload_total - start);

  CW_PKT frag;
  frag.msg_type = 0;
  frag.length = static_cast<uint32_t>(chunk + kCwHdrLen);
  frag.buffer.assign(chunk + kCwHdrLen, 0);
  frag.cursor = kCwHdrLen;

  CW_HDR hdr;
  hdr.SetBit(kHdrBitF, true);
  hdr.SetBit(kHdrBitL, index + 1 == count);
  hdr.frag_id = frag_id;
  hdr.frag_offset = static_cast<uint16_t>(index * (kFragPayload / kOffsetUnit));
  if (rfc) {
    capwap::EncodeRfcHeader(&hdr, frag.buffer.data());
  } else {
    CW_EncCwHdr(&hdr, frag.buffer.data());
  }

  auto from = pkt.buffer.begin() + static_cast<long>(kCwHdrLen + start);
  std::copy(from, from + static_cast<long>(chunk), frag.buffer.begin() + kCwHdrLen);
  return frag;
}

}  // namespace

std::vector<CW_PKT> CW_FragPkt(const CW_PKT& pkt, uint16_t frag_id, bool rfc) {
  std::vector<CW_PKT> fragments;
  if (pkt.length <= kCwHdrLen || pkt.length > pkt.buffer.size()) return fragments;
  const size_t payload_total = pkt.length - kCwHdrLen;
  const size_t count = (payload_total + kFragPayload - 1) / kFragPayload;
  try {
    fragments.reserve(count);
    for (size_t k = 0; k < count; ++k) {
      if (capwap::ShouldFail(capwap::FailFamily::kPacketAlloc)) return {};
      fragments.push_back(MakeFragment(pkt, k, count, frag_id, rfc));
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return fragments;
}

namespace {

uint32_t StartOf(const CW_FRAGNODE& node) { return uint32_t{node.offset} * kOffsetUnit; }
uint32_t EndOf(const CW_FRAGNODE& node) { return StartOf(node) + node.payload_len; }

bool SameFragment(const CW_FRAGNODE& held, const CW_RCVPKT* rcv, const CW_HDR& hdr) {
  const size_t payload = rcv->length - kCwHdrLen;
  return held.payload_len == payload && held.last == (hdr.L() ? 1 : 0) &&
         std::equal(held.datagram.begin() + kCwHdrLen, held.datagram.end(),
                    rcv->buffer.begin() + kCwHdrLen);
}

}  // namespace

// A fragment's ID only tells it apart from other messages: the caller has
// already dropped an incomplete message of another ID. The ID of a message
// just completed is not refused either: a WTP whose request went unanswered
// retransmits it, possibly under the same ID, and the receive path answers
// a repeated request.
int CW_VerifyFragPkt(CW_FRAGINFO* info, const CW_RCVPKT* rcv, const CW_HDR& hdr) {
  if (hdr.frag_id == info->rejected_frag_id) return kFragIgnore;
  const uint32_t payload = rcv->length - kCwHdrLen;
  const uint32_t start = uint32_t{hdr.frag_offset} * kOffsetUnit;
  const uint32_t end = start + payload;
  // Offsets count 8-octet units, so only the last fragment may end between two.
  if (payload == 0 || (!hdr.L() && payload % kOffsetUnit != 0)) return kFragRefuse;

  auto& held = info->fragments;
  auto next = std::find_if(held.begin(), held.end(),
                           [start](const CW_FRAGNODE& n) { return StartOf(n) >= start; });
  if (next != held.end() && StartOf(*next) == start) {
    return SameFragment(*next, rcv, hdr) ? kFragIgnore : kFragRefuse;
  }
  if (next != held.end() && StartOf(*next) < end) return kFragRefuse;
  if (next != held.begin() && EndOf(*std::prev(next)) > start) return kFragRefuse;
  // One end only, and nothing beyond it.
  if (hdr.L() && (next != held.end() || info->expected != 0)) return kFragRefuse;
  if (info->expected != 0 && end > info->expected) return kFragRefuse;

  if (held.size() >= kMaxHeldFragments) {
    info->rejected_frag_id = hdr.frag_id;
    return kFragRefuse;
  }
  return kFragAccept;
}

void CW_InsertFragNode(CW_FRAGINFO* info, CW_FRAGNODE node) {
  // Fragments mostly arrive in order, so the walk starts at the highest offset.
  auto pos = info->fragments.end();
  while (pos != info->fragments.begin()) {
    auto prev = std::prev(pos);
    if (prev->offset < node.offset) break;
    pos = prev;
  }
  ++info->inserted;
  if (!info->in_progress) {
    info->cur_frag_id = node.frag_id;
    info->in_progress = 1;
  }
  info->received += node.payload_len;
  if (node.last) info->expected = EndOf(node);
  info->fragments.insert(pos, std::move(node));
}

int CW_AssembleFrag(CW_FRAGINFO* info, CW_RCVPKT* rcv) {
  size_t total = kCwHdrLen;
  for (const CW_FRAGNODE& node : info->fragments) total += node.datagram.size() - kCwHdrLen;

  capwap::Bytes message;
  try {
    message.reserve(total);
  } catch (const std::bad_alloc&) {
    return kFragRejected;
  }
  message.resize(kCwHdrLen, 0);
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, message.data());
  for (const CW_FRAGNODE& node : info->fragments) {
    message.insert(message.end(), node.datagram.begin() + kCwHdrLen, node.datagram.end());
  }
  rcv->buffer = std::move(message);
  rcv->length = static_cast<uint32_t>(rcv->buffer.size());
  return kFragComplete;
}

void CW_ClearFragInfo(CW_FRAGINFO* info) {
  info->fragments.clear();
  info->in_progress = 0;
  info->cur_frag_id = 0;
  info->received = 0;
  info->expected = 0;
  info->inserted = 0;
}

int CW_AC_FragTimerHandler(thread* t) {
  auto* wtp = static_cast<CW_WTPCB*>(THREAD_ARG(t));
  if (wtp) CW_ClearFragInfo(&wtp->frag);
  return 0;
}

namespace {

// Armed by the second fragment a message holds.
bool StartReassemblyTimer(CW_WTPCB* wtp) {
  return wtp->frag.timer.Start(capwap::DaemonLoop(), kReassemblySeconds, CW_AC_FragTimerHandler, wtp);
}

CW_FRAGNODE MakeFragNode(CW_RCVPKT* rcv, const CW_HDR& hdr) {
  CW_FRAGNODE node;
  node.frag_id = hdr.frag_id;
  node.offset = hdr.frag_offset;
  node.payload_len = static_cast<uint16_t>(rcv->length - kCwHdrLen);
  node.last = hdr.L() ? 1 : 0;
  rcv->buffer.resize(rcv->length);
  node.datagram = std::move(rcv->buffer);
  rcv->buffer = capwap::Bytes();
  rcv->length = 0;
  return node;
}

// A WTP that gave up on a message (a lost fragment) sends it again, or the
// next one, under a new ID; waiting for the old one would block both.
void DropStaleMessage(CW_WTPCB* wtp, uint16_t new_frag_id) {
  CW_FRAGINFO& info = wtp->frag;
  CwDebug(kDbgPacket, ZLOG_DEBUG,
          " AP %s incomplete fragmented message %u dropped for fragment ID %u.\n",
          wtp->name.c_str(), static_cast<unsigned>(info.cur_frag_id),
          static_cast<unsigned>(new_frag_id));
  CW_ClearFragInfo(&info);
  info.timer.Cancel();
}

void CompleteReassembly(CW_FRAGINFO* info) {
  info->expected = 0;
  info->received = 0;
  info->in_progress = 0;
  info->inserted = 0;
  info->rejected_frag_id = 0xFFFFFFFF;
  info->timer.Cancel();
}

}  // namespace

int AC_HandleFragPkt(CW_WTPCB* wtp, CW_RCVPKT* rcv, const CW_HDR& hdr) {
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to find AP when frame reassemble.\n");
    return kFragRejected;
  }
  if (rcv->length < kCwHdrLen || rcv->length > rcv->buffer.size()) return kFragRejected;
  CW_FRAGINFO& info = wtp->frag;
  if (info.in_progress && hdr.frag_id != info.cur_frag_id && hdr.frag_id != info.rejected_frag_id) {
    DropStaleMessage(wtp, hdr.frag_id);
  }
  switch (CW_VerifyFragPkt(&info, rcv, hdr)) {
    case kFragIgnore:
      CwDebug(kDbgPacket, ZLOG_DEBUG, " AP %s fragment ID %u offset %u ignored (repeat).\n",
              wtp->name.c_str(), static_cast<unsigned>(hdr.frag_id),
              static_cast<unsigned>(hdr.frag_offset));
      rcv->buffer = capwap::Bytes();
      rcv->length = 0;
      return kFragHeld;
    case kFragRefuse:
      CwDebug(kDbgError, ZLOG_INFO,
              " AP %s fragment ID %u offset %u (%u octets) refused, message dropped.\n",
              wtp->name.c_str(), static_cast<unsigned>(hdr.frag_id),
              static_cast<unsigned>(hdr.frag_offset),
              static_cast<unsigned>(rcv->length - kCwHdrLen));
      return kFragRejected;
    default:
      break;
  }
  if (!info.fragments.empty() && !info.timer.Running() && !StartReassemblyTimer(wtp)) {
    return kFragRejected;
  }
  CW_InsertFragNode(&info, MakeFragNode(rcv, hdr));
  // Held fragments never overlap and none reaches past the end, so the
  // octet count equals the end only when every octet is there.
  if (info.expected == 0 || info.received != info.expected) return kFragHeld;

  if (CW_AssembleFrag(&info, rcv) != kFragComplete) return kFragRejected;
  CompleteReassembly(&info);
  return kFragComplete;
}
