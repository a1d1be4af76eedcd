// Splitting and reassembly of control messages on the simulated AP.
#include "wtp-sim/wtp_frag.h"

#include <algorithm>

#include "transport/codec.h"

namespace capwap::sim {

std::vector<Bytes> FragmentDatagram(ByteView datagram, uint16_t frag_id) {
  std::vector<Bytes> out;
  if (datagram.size() < kSimFragThreshold) {
    out.emplace_back(datagram.begin(), datagram.end());
    return out;
  }
  const ByteView payload = datagram.subspan(kCwHdrLen);
  for (size_t pos = 0; pos < payload.size(); pos += kSimFragPayload) {
    const size_t chunk = std::min(kSimFragPayload, payload.size() - pos);
    Bytes fragment(kCwHdrLen + chunk, 0);
    CW_HDR hdr;
    hdr.SetBit(kHdrBitF, true);
    hdr.SetBit(kHdrBitL, pos + chunk == payload.size());
    hdr.frag_id = frag_id;
    hdr.frag_offset = static_cast<uint16_t>(pos / 8);
    CW_EncCwHdr(&hdr, fragment.data());
    std::copy_n(payload.begin() + static_cast<std::ptrdiff_t>(pos), chunk,
                fragment.begin() + kCwHdrLen);
    out.push_back(std::move(fragment));
  }
  return out;
}

std::vector<Bytes> ApplyFragmentFaults(std::vector<Bytes> fragments, const FragmentFaults& faults) {
  const auto in_range = [&](int index) {
    return index >= 0 && static_cast<size_t>(index) < fragments.size();
  };
  if (in_range(faults.dup_from) && in_range(faults.dup_into)) {
    const Bytes repeated = fragments[static_cast<size_t>(faults.dup_from)];
    fragments[static_cast<size_t>(faults.dup_into)] = repeated;
  }
  if (in_range(faults.drop)) fragments.erase(fragments.begin() + faults.drop);
  return fragments;
}

void Reassembler::Clear() {
  active_ = false;
  id_ = 0;
  pieces_.clear();
}

Reassembler::Result Reassembler::Add(const CW_HDR& hdr, ByteView datagram, Bytes* message,
                                     std::string* why) {
  if (datagram.size() <= kCwHdrLen) {
    Clear();
    *why = "empty fragment";
    return Result::kRejected;
  }
  if (active_ && hdr.frag_id != id_) Clear();
  if (!active_) {
    active_ = true;
    id_ = hdr.frag_id;
  }
  auto at = std::lower_bound(pieces_.begin(), pieces_.end(), hdr.frag_offset,
                             [](const Piece& p, uint16_t offset) { return p.offset < offset; });
  if (at != pieces_.end() && at->offset == hdr.frag_offset) return Result::kHeld;  // repeat
  if (pieces_.size() >= kSimMaxFragments) {
    Clear();
    *why = "more than 51 fragments in one message";
    return Result::kRejected;
  }
  Piece piece;
  piece.offset = hdr.frag_offset;
  piece.payload.assign(datagram.begin() + kCwHdrLen, datagram.end());
  piece.last = hdr.L();
  pieces_.insert(at, std::move(piece));
  return Assemble(message, why) ? Result::kComplete
                                : (active_ ? Result::kHeld : Result::kRejected);
}

// True when the pieces cover the message from offset 0 to the last
// fragment without gaps; false while waiting (or, with the state cleared,
// when the pieces overlap).
bool Reassembler::Assemble(Bytes* message, std::string* why) {
  if (pieces_.empty() || !pieces_.back().last) return false;
  size_t pos = 0;
  for (const Piece& p : pieces_) {
    const size_t start = size_t{p.offset} * 8;
    if (start > pos) return false;  // a gap: more to come
    if (start < pos) {
      Clear();
      *why = "overlapping fragments";
      return false;
    }
    pos += p.payload.size();
  }
  message->assign(kCwHdrLen, 0);
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, message->data());
  for (const Piece& p : pieces_) message->insert(message->end(), p.payload.begin(), p.payload.end());
  Clear();
  return true;
}

}  // namespace capwap::sim
