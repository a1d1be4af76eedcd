// Fragmentation of outgoing control messages (1409 octets or more become
// 1400-octet pieces) and per-WTP reassembly of incoming fragments.
//
// Reassembly places each fragment by its offset, one message at a time: a
// fragment of another ID replaces an incomplete message, a repeat of a held
// fragment is ignored, and fragments that overlap or contradict the held
// ones drop the message. A message is complete when its octets from offset 0
// to the end of the fragment with the L bit are all held.
#pragma once

#include <cstdint>
#include <vector>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct thread;

inline constexpr size_t kFragPayload = 1400;
inline constexpr size_t kFragThreshold = 1409;
inline constexpr uint16_t kMaxHeldFragments = 51;

// Splits pkt (a whole datagram) into fragment datagrams; empty on failure
// (memory short, or the kPacketAlloc failure injected).
std::vector<CW_PKT> CW_FragPkt(const CW_PKT& pkt, uint16_t frag_id, bool rfc = false);

// Reassembly result codes.
enum : int { kFragRejected = 1, kFragHeld = 2, kFragComplete = 3 };
// Takes the fragment in rcv: on kFragHeld its buffer has moved into the
// reassembly state, or was released when the fragment is dropped on its own
// (a repeat). On kFragRejected the caller clears the state. On
// kFragComplete rcv holds the reassembled message.
int AC_HandleFragPkt(CW_WTPCB* wtp, CW_RCVPKT* rcv, const CW_HDR& hdr);

// CW_VerifyFragPkt verdicts on a fragment of the message being collected.
enum : int {
  kFragAccept = 0,  // insert it
  kFragRefuse = 1,  // malformed, overlapping, inconsistent or over the limit: drop the message
  kFragIgnore = 2,  // a repeat of a held fragment, or of a refused message: drop it alone
};
// rcv->length must lie within rcv->buffer and be at least the header.
int CW_VerifyFragPkt(CW_FRAGINFO* info, const CW_RCVPKT* rcv, const CW_HDR& hdr);
void CW_InsertFragNode(CW_FRAGINFO* info, CW_FRAGNODE node);
// kFragComplete, or kFragRejected when memory is short.
int CW_AssembleFrag(CW_FRAGINFO* info, CW_RCVPKT* rcv);
// Releases the held fragments and resets the counters (not the rejected ID
// and not the timer).
void CW_ClearFragInfo(CW_FRAGINFO* info);
int CW_AC_FragTimerHandler(thread* t);
