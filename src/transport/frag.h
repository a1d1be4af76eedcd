// Fragmentation of outgoing control messages (1409 octets or more become
// 1400-octet pieces) and per-WTP reassembly of incoming fragments.
#pragma once

#include <cstdint>
#include <vector>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct thread;

inline constexpr size_t kFragPayload = 1400;
inline constexpr size_t kFragThreshold = 1409;
inline constexpr uint16_t kMaxHeldFragments = 51;

// Splits pkt (a whole datagram) into fragment datagrams; empty on failure.
std::vector<CW_PKT> CW_FragPkt(const CW_PKT& pkt, uint16_t frag_id);

// Reassembly result codes.
enum : int { CW_FRAG_REJECTED = 1, CW_FRAG_HELD = 2, CW_FRAG_COMPLETE = 3 };
// Takes the fragment in rcv (its buffer moves into the reassembly state when
// held). On CW_FRAG_COMPLETE rcv holds the reassembled message.
int AC_HandleFragPkt(CW_WTPCB* wtp, CW_RCVPKT* rcv, const CW_HDR& hdr);
// 0 accept / 1 reject.
int CW_VerifyFragPkt(CW_FRAGINFO* info, const CW_RCVPKT* rcv, const CW_HDR& hdr);
void CW_InsertFragNode(CW_FRAGINFO* info, CW_FRAGNODE node);
int CW_AssembleFrag(CW_FRAGINFO* info, CW_RCVPKT* rcv);
// Releases the held fragments and resets the counters (not the rejected ID
// and not the timer).
void CW_ClearFragInfo(CW_FRAGINFO* info);
int CW_AC_FragTimerHandler(thread* t);
