#include "transport/sendq.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "diag/debug.h"
#include "platform/lib.h"
#include "platform/nsm.h"
#include "platform/thread.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/rfc.h"
#include "transport/sockets.h"

namespace {

constexpr uint32_t kDefaultMaxRetrans = 9;

CW_PKT* QueueHead(CW_WTPCB* wtp) { return wtp->sndq.ring[wtp->sndq.head].get(); }

// Records the index of the interface that owns the WTP's local IPv4 address,
// so replies leave through the interface the WTP reached us on.
void ResolveLocalInterface(CW_WTPCB* wtp) {
  if (wtp->local.ifindex != 0 || wtp->local.family != 0) return;
  int ifindex = if_lookup_by_ipv4_address(capwapm, htonl(wtp->local.local_ipv4));
  if (ifindex <= 0) {
    CwDebug(kDbgError, ZLOG_ERR, "apid %d error, device not has ip %x\n", wtp->apid,
            wtp->local.local_ipv4);
    return;
  }
  wtp->local.ifindex = static_cast<uint32_t>(ifindex);
}

// The first transmission of a request scrambles its buffer in place, so a
// retransmission must send the held octets as they are.
bool BufferAlreadyScrambled(const CW_PKT* pkt, const CW_WTPCB* wtp) {
  return IsRequest(pkt->msg_type) && pkt->msg_type != kMsgEchoReq &&
         wtp->sndq.tx_count != 0;
}

void SendDatagram(const SendDesc& desc, const CW_PKT* pkt, CW_WTPCB* wtp, uint8_t* octets,
                  size_t length, int scramble) {
  if (CW_SockSndMsg(&desc, octets, length, scramble) != 0) {
    int saved = errno;
    CwDebug(kDbgError, ZLOG_ERR, "Send ctrl pkt %d to ap %s 0x%x:%d error %s\n",
            static_cast<int>(pkt->msg_type), wtp->name.c_str(), wtp->remote.Ipv4(),
            wtp->remote.port, strerror(saved));
  }
}

}  // namespace

long RetransWaitSeconds(uint16_t interval, uint32_t transmissions) {
  const long cap = (interval >= 3 && interval < 64) ? interval / 2 : 32;
  if (interval < 3 || transmissions < 4) {
    // 2^(n+1) passes every possible cap long before the shift could overflow.
    if (transmissions >= 16) return cap;
    return std::min(1L << (transmissions + 1), cap);
  }
  return interval;
}

int CW_AC_DirectSnd(CW_PKT* pkt, CW_WTPCB* wtp) {
  if (!pkt || !wtp) return 1;
  if (pkt->length > pkt->buffer.size()) return 1;

  std::vector<CW_PKT> fragments;
  if (pkt->length >= kFragThreshold) {
    uint16_t frag_id = CW_AC_GetSeqNum(wtp, pkt->msg_type);
    fragments = CW_FragPkt(*pkt, frag_id, wtp->rfc);
    if (fragments.empty()) {
      CwDebug(kDbgError, ZLOG_ERR, "Fragment ctrl pkt %d (%u octets) to ap %s failed\n",
              static_cast<int>(pkt->msg_type), pkt->length, wtp->name.c_str());
      return 1;
    }
  }
  ResolveLocalInterface(wtp);

  SendDesc desc;
  desc.fd = wtp->remote.family == 1 ? g_iAC_IP6SockId : g_iAC_IP4SockId;
  desc.remote = wtp->remote;
  desc.local = wtp->local;

  if (fragments.empty()) {
    int scramble = g_ucNeedEncrypt && !BufferAlreadyScrambled(pkt, wtp);
    SendDatagram(desc, pkt, wtp, pkt->buffer.data(), pkt->length, scramble);
    return 0;
  }
  // Fragments are fresh copies of the held message on every transmission,
  // so each of them is scrambled whenever scrambling is on. They go out back
  // to back: the loop must not stall, and the at most 24 fragments of a
  // message fit the socket's send buffer. A fragment the network or the
  // WTP drops is recovered like any loss, by retransmission.
  for (CW_PKT& fragment : fragments) {
    SendDatagram(desc, pkt, wtp, fragment.buffer.data(), fragment.length, g_ucNeedEncrypt);
  }
  return 0;
}

int CW_AC_SendCtlMsg(CwPktPtr pkt, CW_WTPCB* wtp) {
  if (!pkt) return 1;
  if (wtp && wtp->rfc) {
    if (!capwap::RfcSendable(*pkt)) {
      CwDebug(kDbgEvent, ZLOG_INFO, " %s without a standard form not sent to AP %s.\n",
              MsgTypeName(pkt->msg_type), wtp->name.c_str());
      return 1;
    }
    capwap::RfcFrameCtlMsg(*pkt);
  }
  if (CW_AC_PktRemalloc(pkt.get()) != 0) return 1;
  if (IsRequest(pkt->msg_type)) return CW_AC_PktEnque(std::move(pkt), wtp);
  return CW_AC_DirectSnd(pkt.get(), wtp);
}

int CW_AC_PktEnque(CwPktPtr pkt, CW_WTPCB* wtp) {
  if (!pkt || !wtp) return 1;
  CW_SNDQUE& queue = wtp->sndq;
  if (queue.count >= kSndQueSize) return 1;
  queue.ring[queue.tail] = std::move(pkt);
  queue.tail = (queue.tail + 1) % kSndQueSize;
  ++queue.count;
  if (queue.count == 1) {
    CW_AC_RetransMsg(wtp);
    CW_SetAcRetransTimer(wtp);
  }
  return 0;
}

int CW_AC_RetransMsg(CW_WTPCB* wtp) {
  CW_SNDQUE& queue = wtp->sndq;
  if (queue.count == 0) return 0;
  if (queue.head >= kSndQueSize || !queue.ring[queue.head]) {
    CwDebug(kDbgError, ZLOG_ERR, " Invalid sending queue position when retransmition.\n");
    return 1;
  }
  // A transmission that failed before reaching the socket (the message
  // could not be fragmented) still spends one of the budget: otherwise a
  // request that can never go out would be retried for ever instead of
  // ending the session when the budget is spent.
  int result = CW_AC_DirectSnd(QueueHead(wtp), wtp);
  ++queue.tx_count;
  return result;
}

int CW_AC_PktDeque(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  CW_SNDQUE& queue = wtp->sndq;
  if (queue.count == 0) return 0;
  queue.ring[queue.head].reset();
  --queue.count;
  queue.tx_count = 0;
  if (queue.count > 0) {
    queue.head = (queue.head + 1) % kSndQueSize;
    CW_AC_RetransMsg(wtp);
    wtp->retrans_timer.Cancel();
    CW_SetAcRetransTimer(wtp);
  } else {
    queue.head = 0;
    queue.tail = 0;
    wtp->retrans_timer.Cancel();
  }
  return 0;
}

int CW_SetAcRetransTimer(CW_WTPCB* wtp) {
  long wait = RetransWaitSeconds(wtp->retrans_interval, wtp->sndq.tx_count);
  return wtp->retrans_timer.Start(capwap::DaemonLoop(), wait, CW_AC_RetransTimerHandler, wtp) ? 0 : 1;
}

int CW_AC_RetransTimerHandler(thread* t) {
  auto* wtp = static_cast<CW_WTPCB*>(THREAD_ARG(t));
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to find AP when retrasmit timer expired.\n");
    return 0;
  }
  if (wtp->max_retrans == 0) wtp->max_retrans = kDefaultMaxRetrans;
  if (wtp->sndq.count == 0) return 0;
  // A maximum lowered below the transmissions already made also ends it.
  if (wtp->sndq.tx_count < wtp->max_retrans) {
    CW_AC_RetransMsg(wtp);
    CW_SetAcRetransTimer(wtp);
    return 0;
  }
  CwDebug(kDbgError, ZLOG_INFO,
          " AP ID %d MAC %s Retransmission failed, so turn CAPWAP tunnel down.\n", wtp->apid,
          capwap::MacText(wtp->mac).data());
  __CW_AC_HandleTunnelDown(wtp, "CW_AC_RetransTimerHandler", 94);
  return 0;
}

void CW_FreeSndQue(CW_SNDQUE* queue) {
  for (uint32_t i = 0; i < queue->count; ++i) {
    queue->ring[(queue->head + i) % kSndQueSize].reset();
  }
  queue->head = 0;
  queue->tail = 0;
  queue->count = 0;
  queue->tx_count = 0;
}
