// The control receive path: read a datagram, check its headers, reassemble,
// bind it to its WTP (also after a NAT change), apply the request sequence
// window and response matching, and dispatch by message type.
#pragma once

#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct thread;

// Read handlers of the control sockets (re-register first).
int AC_RcvIP4Pkt(thread* t);
int AC_RcvIP6Pkt(thread* t);

// AC_HandlePkt result codes besides handler results.
enum : int { kPktDropped = 1, kPktHeld = 2, kPktReassembled = 3, kPktFragRejected = 5 };
int AC_HandlePkt(CW_RCVPKT* rcv);

// The WTP of an Echo Request's Session ID (null when none), moved to the
// datagram's source endpoint when it came from another one.
CW_WTPCB* CW_AC_EchoSessProc(CW_RCVPKT* rcv);
CW_WTPCB* CW_AC_EvtReqSessProc(CW_RCVPKT* rcv, CW_WTPCB* wtp_by_endpoint);
int AC_MsgPreHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_PreHdlReqMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_PreHdlRspMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv);

// Message handlers: (wtp or null, received message) -> 0 success.
using CwMsgHandler = int (*)(CW_WTPCB* wtp, CW_RCVPKT* rcv);
CwMsgHandler AC_GetMsgHandler(uint32_t msg_type);
// Installs the handler of a message type (exchange modules register theirs at
// start-up); a null handler removes it.
void SetMsgHandler(uint32_t msg_type, CwMsgHandler handler);
namespace capwap {
void ResetMsgHandlers();
}  // namespace capwap
int AC_ProcMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv);
