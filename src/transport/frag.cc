#include "transport/frag.h"

#include <algorithm>
#include <iterator>

#include "daemon/debug.h"
#include "platform/thread.h"
#include "registry/session.h"
#include "transport/codec.h"

namespace {

constexpr long kReassemblySeconds = 30;
// Fragment offsets count 8-octet units.
constexpr uint16_t kOffsetUnit = 8;

CW_PKT MakeFragment(const CW_PKT& pkt, size_t index, size_t count, uint16_t frag_id) {
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
  CW_EncCwHdr(&hdr, frag.buffer.data());

  auto from = pkt.buffer.begin() + static_cast<long>(kCwHdrLen + start);
  std::copy(from, from + static_cast<long>(chunk), frag.buffer.begin() + kCwHdrLen);
  return frag;
}

}  // namespace

std::vector<CW_PKT> CW_FragPkt(const CW_PKT& pkt, uint16_t frag_id) {
  std::vector<CW_PKT> fragments;
  if (pkt.length <= kCwHdrLen || pkt.length > pkt.buffer.size()) return fragments;
  const size_t payload_total = pkt.length - kCwHdrLen;
  const size_t count = (payload_total + kFragPayload - 1) / kFragPayload;
  fragments.reserve(count);
  for (size_t k = 0; k < count; ++k) fragments.push_back(MakeFragment(pkt, k, count, frag_id));
  return fragments;
}

int CW_VerifyFragPkt(CW_FRAGINFO* info, const CW_RCVPKT* /*rcv*/, const CW_HDR& hdr) {
  if (!info->in_progress) return 0;
  if (hdr.frag_id == info->last_done_frag_id) return 1;
  if (hdr.frag_id == info->rejected_frag_id) return 1;
  if (hdr.frag_id == info->cur_frag_id) {
    if (info->fragments.size() < kMaxHeldFragments) return 0;
    info->rejected_frag_id = hdr.frag_id;
    return 1;
  }
  // A fragment of another message while one is incomplete.
  return 1;
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
  info->received = static_cast<uint16_t>(info->received + node.payload_len);
  if (node.last) {
    info->expected = static_cast<uint16_t>(node.offset * kOffsetUnit + node.payload_len);
  }
  info->fragments.insert(pos, std::move(node));
}

int CW_AssembleFrag(CW_FRAGINFO* info, CW_RCVPKT* rcv) {
  size_t total = kCwHdrLen;
  for (const CW_FRAGNODE& node : info->fragments) total += node.datagram.size() - kCwHdrLen;

  capwap::Bytes message;
  message.reserve(total);
  message.resize(kCwHdrLen, 0);
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, message.data());
  for (const CW_FRAGNODE& node : info->fragments) {
    message.insert(message.end(), node.datagram.begin() + kCwHdrLen, node.datagram.end());
  }
  rcv->buffer = std::move(message);
  rcv->length = static_cast<uint32_t>(rcv->buffer.size());
  return CW_FRAG_COMPLETE;
}

void CW_ClearFragInfo(CW_FRAGINFO* info) {
  info->fragments.clear();
  info->in_progress = 0;
  info->cur_frag_id = 0;
  info->last_done_frag_id = 0;
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

// Arms the reassembly timer when the second fragment of a message arrives.
bool StartReassemblyTimer(CW_WTPCB* wtp) {
  CW_FRAGINFO& info = wtp->frag;
  if (info.timer.Running()) {
    CW_ClearFragInfo(&info);
    info.timer.Cancel();
  }
  return info.timer.Start(CW_Master(), kReassemblySeconds, CW_AC_FragTimerHandler, wtp);
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

void CompleteReassembly(CW_FRAGINFO* info) {
  info->last_done_frag_id = info->cur_frag_id;
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
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to find AP when frame reassemble.\n");
    return CW_FRAG_REJECTED;
  }
  if (rcv->length < kCwHdrLen || rcv->length > rcv->buffer.size()) return CW_FRAG_REJECTED;
  CW_FRAGINFO& info = wtp->frag;
  if (CW_VerifyFragPkt(&info, rcv, hdr) != 0) return CW_FRAG_REJECTED;
  if (info.inserted == 1 && !StartReassemblyTimer(wtp)) return CW_FRAG_REJECTED;

  CW_InsertFragNode(&info, MakeFragNode(rcv, hdr));
  if (info.received != info.expected) return CW_FRAG_HELD;

  if (CW_AssembleFrag(&info, rcv) != CW_FRAG_COMPLETE) return CW_FRAG_REJECTED;
  CompleteReassembly(&info);
  return CW_FRAG_COMPLETE;
}
