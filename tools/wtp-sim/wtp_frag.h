// Fragmentation of the simulated AP's large control messages and
// reassembly of fragmented messages from the AC. Offsets sit in the low 13
// bits of the transport header's last word, as the codec writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "transport/types.h"

namespace capwap::sim {

inline constexpr size_t kSimFragPayload = 1400;
inline constexpr size_t kSimFragThreshold = 1409;
inline constexpr size_t kSimMaxFragments = 51;

// The datagram alone when shorter than 1409 octets; otherwise fragments of
// 1400 payload octets (F set, L on the last, offsets in 8-octet units).
std::vector<Bytes> FragmentDatagram(ByteView datagram, uint16_t frag_id);

// Faults put on the first transmission of a fragmented request, to exercise
// the AC's reassembly: fragment `drop` is left out; fragment `dup_from` is
// sent a second time in place of fragment `dup_into`. -1: none.
struct FragmentFaults {
  int drop = -1;
  int dup_from = -1;
  int dup_into = -1;
};
// The fragments as they go out under `faults` (indexes beyond the message
// are ignored).
std::vector<Bytes> ApplyFragmentFaults(std::vector<Bytes> fragments, const FragmentFaults& faults);

// One message at a time: a fragment of another ID abandons the one being
// collected (the AC retransmits a fragmented request under a new ID).
class Reassembler {
 public:
  enum class Result { kHeld, kComplete, kRejected };

  // `datagram` is one whole fragment whose decoded header is `hdr`. On
  // kComplete *message holds the reassembled datagram with a fresh 8-octet
  // header; on kRejected *why says why and the state is cleared.
  Result Add(const CW_HDR& hdr, ByteView datagram, Bytes* message, std::string* why);
  void Clear();
  bool InProgress() const { return active_; }
  size_t held() const { return pieces_.size(); }

 private:
  struct Piece {
    uint16_t offset = 0;  // 8-octet units
    Bytes payload;
    bool last = false;
  };
  bool Assemble(Bytes* message, std::string* why);

  bool active_ = false;
  uint16_t id_ = 0;
  std::vector<Piece> pieces_;  // ascending offset
};

}  // namespace capwap::sim
