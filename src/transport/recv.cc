#include "transport/recv.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "diag/debug.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/frag.h"
#include "transport/rfc.h"
#include "transport/sendq.h"
#include "transport/sockets.h"

namespace elem = capwap::elem;

namespace {

constexpr size_t kSessionIdLen = 16;
constexpr size_t kIp6ControlLen = 1024;

// --- Handler table --------------------------------------------------------

// Slots 1-26 hold the base message types; the two IEEE 802.11 WLAN
// Configuration types take the last two.
constexpr size_t kWlanCfgReqSlot = 27;
constexpr size_t kWlanCfgRspSlot = 28;
std::array<CwMsgHandler, 29> msg_handlers{};

int HandlerSlot(uint32_t msg_type) {
  if (msg_type >= 1 && msg_type <= 26) return static_cast<int>(msg_type);
  if (msg_type == kMsgWlanCfgReq) return kWlanCfgReqSlot;
  if (msg_type == kMsgWlanCfgRsp) return kWlanCfgRspSlot;
  return -1;
}

bool IsKnownMsgType(uint32_t msg_type) { return HandlerSlot(msg_type) >= 0; }

// --- Diagnostics helpers --------------------------------------------------

void LogPreHandlerError(const CW_WTPCB* wtp, const CW_RCVPKT* rcv) {
  char text[64];
  WriteAddrText(rcv->remote, text, sizeof text);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Receiving ctrl pkt pre handler error type %d from src ip %s port %d\n",
            static_cast<int>(rcv->msg_type), text, rcv->remote.port);
    return;
  }
  CwDebug(kDbgError, ZLOG_ERR,
          " Receiving ctrl pkt pre handler error type %d from APID %d MAC %s src ip %s port %d\n",
          static_cast<int>(rcv->msg_type), wtp->apid, capwap::MacText(wtp->mac).data(), text,
          rcv->remote.port);
}

void LogIllegalHeader(const CW_RCVPKT* rcv) {
  CwDebug(kDbgError, ZLOG_ERR, " Illegal CAPWAP header from %x.\n", rcv->remote.Ipv4());
}

// --- Session re-binding ---------------------------------------------------

// The Session ID of an Echo Request; false when the elements are malformed
// or carry no complete Session ID.
bool EchoSessionId(const CW_RCVPKT* rcv, std::array<uint8_t, 16>* session_id) {
  CwElementWalk walk(rcv->Elements());
  bool found = false;
  for (const CwElement& element : walk) {
    if (element.type != elem::kSessionId) continue;
    if (element.value.size() < kSessionIdLen) return false;
    std::memcpy(session_id->data(), element.value.data(), kSessionIdLen);
    found = true;
  }
  return walk.complete() && found;
}

// The Session ID of a WTP Event Request: the last element 35 wins, and the
// walk steps over 16 octets of it whatever its stated length.
bool EventSessionId(const CW_RCVPKT* rcv, std::array<uint8_t, 16>* session_id) {
  CwElementWalk walk(rcv->Elements(),
                     {.fixed_step_type = elem::kSessionId, .fixed_step = kSessionIdLen});
  bool found = false;
  for (const CwElement& element : walk) {
    if (element.type != elem::kSessionId) continue;
    std::memcpy(session_id->data(), element.value.data(), kSessionIdLen);
    found = true;
  }
  return walk.complete() && found;
}

// Moves the session's WTP to the datagram's source endpoint, evicting
// whatever WTP was indexed there.
void RebindEndpoint(CW_WTPCB* session_wtp, CW_WTPCB* wtp_by_endpoint, const CW_ADDR& remote) {
  CW_AC_DelWtpFromIpTable(session_wtp);
  if (wtp_by_endpoint) CW_AC_DelWtpFromIpTable(wtp_by_endpoint);
  CW_AC_AddWTPByIP(remote, session_wtp);
}

// --- Reading --------------------------------------------------------------

// Receive buffers of the control readers, kept from one wake-up to the next
// so that a datagram costs neither an allocation nor zeroing (readers never
// nest, so both families share them). A datagram's buffer is lent to its
// receive record and taken back after handling; when reassembly keeps it, or
// a reassembled message replaced it, the slot is refilled before its next
// read.
std::array<capwap::Bytes, kCwRcvBatch> ctl_rcv_buffers;

// Makes the slot hold a datagram-sized buffer; false when memory is short.
bool ReadyRcvBuffer(capwap::Bytes& slot) {
  if (slot.size() == kCwRcvBufSize) return true;
  try {
    slot.assign(kCwRcvBufSize, 0);
  } catch (const std::bad_alloc&) {
    CwDebug(kDbgError, ZLOG_ERR, "malloc ctrl pack error\n");
    return false;
  }
  return true;
}

// Handles a datagram read into `slot` and takes the buffer back unless the
// receive path gave it away.
void HandleFromSlot(CW_RCVPKT* rcv, capwap::Bytes& slot) {
  AC_HandlePkt(rcv);
  if (rcv->buffer.size() == kCwRcvBufSize) slot = std::move(rcv->buffer);
}


ssize_t RecvIp6(int fd, CW_RCVPKT* rcv, uint16_t local_port, int flags) {
  sockaddr_in6 from{};
  iovec iov{rcv->buffer.data(), rcv->buffer.size()};
  alignas(cmsghdr) uint8_t control[kIp6ControlLen];
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = recvmsg(fd, &msg, flags);
  if (n < 0) return n;
  rcv->remote = AddrFromSockaddr6(from);
  rcv->local.family = 1;
  rcv->local.port = local_port;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO) continue;
    in6_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    std::memcpy(rcv->local.addr.data(), &info.ipi6_addr, sizeof info.ipi6_addr);
    break;
  }
  return n;
}

// Runs a fragment through the WTP's reassembly. 0 when rcv now holds the
// whole message, otherwise the AC_HandlePkt code to return.
int ReassembleFragment(CW_RCVPKT* rcv, const CW_HDR& hdr, CW_WTPCB* wtp) {
  int result = AC_HandleFragPkt(wtp, rcv, hdr);
  if (result == kFragHeld) return kPktHeld;
  if (result == kFragComplete) {
    // The message lives in rcv now; the held fragments are no longer needed.
    CW_ClearFragInfo(&wtp->frag);
    return 0;
  }
  rcv->buffer = capwap::Bytes();
  rcv->length = 0;
  if (wtp) {
    CW_ClearFragInfo(&wtp->frag);
    wtp->frag.timer.Cancel();
  }
  return kPktFragRejected;
}

}  // namespace

// --- Readers ----------------------------------------------------------------

// Both readers take every waiting datagram up to kCwRcvBatch per wake-up,
// without waiting, and handle them one by one in arrival order.

int AC_RcvIP4Pkt(thread* t) {
  thread_rearm(t);
  std::array<RecvSlot, kCwRcvBatch> slots;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (!ReadyRcvBuffer(ctl_rcv_buffers[i])) return 0;
    slots[i].buffer = ctl_rcv_buffers[i].data();
    slots[i].size = kCwRcvBufSize;
  }
  int n = SockRcvBatch(THREAD_FD(t), slots.data(), kCwRcvBatch);
  if (n < 0) {
    CwDebug(kDbgError, ZLOG_ERR, "recv ctrl pack error (%s)\n", strerror(errno));
    return 0;
  }
  const uint16_t local_port = capwap::CapwapPort(capwap::kControlPort);
  SockSndBatchBegin(THREAD_FD(t));
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    const RecvSlot& slot = slots[i];
    CW_RCVPKT rcv;
    rcv.buffer = std::move(ctl_rcv_buffers[i]);
    if (g_ucNeedEncrypt && slot.length > 0) {
      CW_Encrypt(rcv.buffer.data(), slot.length, kCwScrambleKey);
    }
    rcv.remote = AddrFromSockaddr4(slot.from);
    rcv.local.family = 0;
    rcv.local.ifindex = slot.info.ifindex;
    rcv.local.local_ipv4 = slot.info.spec_dst;
    rcv.local.SetIpv4(slot.info.addr);
    rcv.local.port = local_port;
    rcv.length = static_cast<uint32_t>(slot.length);
    HandleFromSlot(&rcv, ctl_rcv_buffers[i]);
  }
  SockSndBatchEnd();
  return 0;
}

int AC_RcvIP6Pkt(thread* t) {
  thread_rearm(t);
  const uint16_t local_port = capwap::CapwapPort(capwap::kControlPort);
  capwap::Bytes& slot = ctl_rcv_buffers[0];
  for (int reads = 0; reads < kCwRcvBatch; ++reads) {
    if (!ReadyRcvBuffer(slot)) return 0;
    CW_RCVPKT rcv;
    rcv.buffer = std::move(slot);
    ssize_t n = RecvIp6(THREAD_FD(t), &rcv, local_port, MSG_DONTWAIT);
    if (n < 0) {
      slot = std::move(rcv.buffer);
      // After the first datagram an empty queue only ends the batch.
      if (reads == 0 || !SockQueueEmpty(errno)) perror("recvmsg");
      return 0;
    }
    rcv.length = static_cast<uint32_t>(n);
    HandleFromSlot(&rcv, slot);
  }
  return 0;
}

// --- Handling ---------------------------------------------------------------

int AC_HandlePkt(CW_RCVPKT* rcv) {
  if (rcv->length > rcv->buffer.size()) rcv->length = static_cast<uint32_t>(rcv->buffer.size());
  if (rcv->length < kCwHdrLen) {
    LogIllegalHeader(rcv);
    return kPktDropped;
  }
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, rcv->buffer.data());
  if (CW_CheckCWHdr(&hdr) != 0) {
    LogIllegalHeader(rcv);
    return kPktDropped;
  }

  // The endpoint look-up is left to the Echo Request's session re-binding
  // when a whole Echo Request arrives: it finds its WTP by Session ID.
  CW_WTPCB* wtp = nullptr;
  bool reassembled = false;
  if (hdr.F()) {
    wtp = CW_AC_GetWTPByIP(rcv->remote);
    // A standard WTP's fragment offset sits in the other bits.
    if (wtp && wtp->rfc) capwap::DecodeRfcHeader(&hdr, rcv->buffer.data());
    if (int code = ReassembleFragment(rcv, hdr, wtp); code != 0) return code;
    reassembled = true;
  }

  if (rcv->length < kCwHeadersLen) {
    LogIllegalHeader(rcv);
    return kPktDropped;
  }
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, rcv->buffer.data() + kCwHdrLen);
  rcv->msg_type = ctl.msg_type;
  rcv->seq = ctl.seq;
  if (!IsKnownMsgType(rcv->msg_type)) {
    CwDebug(kDbgError, ZLOG_ERR, " Recive ctrl pkt valid\n");
    return kPktDropped;
  }

  if (rcv->msg_type == kMsgEchoReq) {
    wtp = CW_AC_EchoSessProc(rcv);
    // A standard WTP's Echo Request carries no Session ID: its endpoint
    // names it.
    if (!wtp && !reassembled) {
      CW_WTPCB* by_endpoint = CW_AC_GetWTPByIP(rcv->remote);
      if (by_endpoint && by_endpoint->rfc) wtp = by_endpoint;
    }
  } else {
    if (!reassembled) wtp = CW_AC_GetWTPByIP(rcv->remote);
    if (rcv->msg_type == kMsgWtpEventReq) wtp = CW_AC_EvtReqSessProc(rcv, wtp);
  }

  if (AC_MsgPreHandler(wtp, rcv) != 0) {
    LogPreHandlerError(wtp, rcv);
    return kPktDropped;
  }
  int result = AC_ProcMsg(wtp, rcv);
  if (reassembled) {
    rcv->buffer = capwap::Bytes();
    rcv->length = 0;
    return kPktReassembled;
  }
  return result;
}

// --- Session re-binding -----------------------------------------------------

CW_WTPCB* CW_AC_EchoSessProc(CW_RCVPKT* rcv) {
  std::array<uint8_t, 16> session_id{};
  if (!EchoSessionId(rcv, &session_id)) return nullptr;
  CW_WTPCB* session_wtp = CW_AC_GetWTPBySESSID(session_id);
  if (!session_wtp) return nullptr;
  if (!(session_wtp->remote == rcv->remote)) {
    CwDebug(kDbgEvent, ZLOG_INFO, "AP[%s] Change Control Tunnel(NAT)\n",
            capwap::MacText(session_wtp->mac).data());
    RebindEndpoint(session_wtp, CW_AC_GetWTPByIP(rcv->remote), rcv->remote);
  }
  return session_wtp;
}

CW_WTPCB* CW_AC_EvtReqSessProc(CW_RCVPKT* rcv, CW_WTPCB* wtp_by_endpoint) {
  std::array<uint8_t, 16> session_id{};
  if (!EventSessionId(rcv, &session_id)) return wtp_by_endpoint;
  CW_WTPCB* session_wtp = CW_AC_GetWTPBySESSID(session_id);
  if (!session_wtp) return wtp_by_endpoint;
  if (!(session_wtp->remote == rcv->remote)) {
    CwDebug(kDbgEvent, ZLOG_INFO,
            "EvtReqSessProc: AP[%s] Change Control Tunnel(NAT)\n",
            capwap::MacText(session_wtp->mac).data());
    RebindEndpoint(session_wtp, wtp_by_endpoint, rcv->remote);
  }
  return session_wtp;
}

// --- Pre-handling -----------------------------------------------------------

int AC_MsgPreHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  switch (rcv->msg_type) {
    case kMsgDiscoveryReq:
    case kMsgJoinReq:
    case kMsgEchoReq:
      return 0;
    default:
      break;
  }
  if (!wtp) return 1;
  switch (rcv->msg_type) {
    case kMsgCfgStatusReq:
    case kMsgWtpEventReq:
    case kMsgChgStateReq:
    case kMsgImageDataReq:
    case kMsgPrimaryDiscReq:
    case kMsgDataTransferReq:
      return CW_AC_PreHdlReqMsg(wtp, rcv);
    case kMsgCfgUpdateRsp:
    case kMsgImageDataRsp:
    case kMsgResetRsp:
    case kMsgDataTransferRsp:
    case kMsgStaCfgRsp:
    case kMsgWlanCfgRsp:
      return CW_AC_PreHdlRspMsg(wtp, rcv);
    default:
      return 1;
  }
}

int CW_AC_PreHdlReqMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to find AP when pre-handling request frame.\n");
    return 1;
  }
  // Distance in the 8-bit sequence space: 0-127 ahead is new (or a repeat).
  auto distance = static_cast<int8_t>(static_cast<uint8_t>(rcv->seq - wtp->last_rcv_seq));
  if (distance < 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, "CW_AC_PreHdlReqMsg::ucDistance(%d) >= %d\n", distance, 128);
    return 1;
  }
  wtp->prev_rcv_seq = wtp->last_rcv_seq;
  wtp->last_rcv_seq = rcv->seq;
  return 0;
}

int CW_AC_PreHdlRspMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || wtp->sndq.count == 0) return 1;
  const CW_PKT* head = wtp->sndq.head < kSndQueSize ? wtp->sndq.ring[wtp->sndq.head].get() : nullptr;
  if (head && head->msg_type == rcv->msg_type - 1 && (head->seq & 0xFF) == rcv->seq) {
    CW_AC_PktDeque(wtp);
    return 0;
  }
  CwDebug(kDbgError, ZLOG_ERR,
          "AP[%s]prev send msg type %d seqnum %d, but we recv msg type %d seq num %d "
          "pstSndMsg %p\n",
          capwap::MacText(wtp->mac).data(), head ? static_cast<int>(head->msg_type) : 0,
          head ? static_cast<int>(head->seq) : 0, static_cast<int>(rcv->msg_type),
          static_cast<int>(rcv->seq), static_cast<const void*>(head));
  return 1;
}

// --- Dispatch ---------------------------------------------------------------

CwMsgHandler AC_GetMsgHandler(uint32_t msg_type) {
  int slot = HandlerSlot(msg_type);
  return slot < 0 ? nullptr : msg_handlers[static_cast<size_t>(slot)];
}

void SetMsgHandler(uint32_t msg_type, CwMsgHandler handler) {
  int slot = HandlerSlot(msg_type);
  if (slot >= 0) msg_handlers[static_cast<size_t>(slot)] = handler;
}

void capwap::ResetMsgHandlers() { msg_handlers.fill(nullptr); }

int AC_ProcMsg(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp && rcv->msg_type != kMsgDiscoveryReq && rcv->msg_type != kMsgJoinReq) return 1;
  CwMsgHandler handler = AC_GetMsgHandler(rcv->msg_type);
  if (!handler) return 1;
  return handler(wtp, rcv);
}
