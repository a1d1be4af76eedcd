// The per-WTP control send path: responses go out at once, requests wait in
// a ring of 2048 and are sent one at a time, the head retransmitted with
// back-off until its response is matched or the budget is spent.
#pragma once

#include "registry/wtpcb.h"
#include "transport/types.h"

struct thread;

// Takes ownership of pkt in every case. 0 / 1.
int CW_AC_SendCtlMsg(CwPktPtr pkt, CW_WTPCB* wtp);
// Transmits one message now (fragmenting when large). 0 / 1.
int CW_AC_DirectSnd(CW_PKT* pkt, CW_WTPCB* wtp);
int CW_AC_PktEnque(CwPktPtr pkt, CW_WTPCB* wtp);
// The head's response arrived: release it, send the next. 0 / 1.
int CW_AC_PktDeque(CW_WTPCB* wtp);
int CW_AC_RetransMsg(CW_WTPCB* wtp);
int CW_SetAcRetransTimer(CW_WTPCB* wtp);
int CW_AC_RetransTimerHandler(thread* t);
// Releases every queued packet and zeroes the indexes.
void CW_FreeSndQue(CW_SNDQUE* queue);
// The wait before the next transmission for interval I and count n (seconds).
long RetransWaitSeconds(uint16_t interval, uint32_t transmissions);
