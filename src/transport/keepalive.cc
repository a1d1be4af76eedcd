#include "transport/keepalive.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "diag/debug.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/rfc.h"

namespace elem = capwap::elem;

sockaddr_in g_WapiApAddr{};

namespace {

constexpr size_t kSessionIdLen = 16;
using capwap::KeepAliveHandler;
// A WAPI frame carries the value 1 in the header's three reserved bits.
constexpr uint8_t kWapiReservedBits = 1;

using SessionId = std::array<uint8_t, 16>;


// A zeroed receive buffer; empty when memory is short.
capwap::Bytes ReceiveBuffer() {
  try {
    return capwap::Bytes(kCwRcvBufSize, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

CW_ADDR SourceEndpoint(int is_ipv6, const sockaddr* source) {
  if (is_ipv6) {
    sockaddr_in6 sa6;
    std::memcpy(&sa6, source, sizeof sa6);
    return AddrFromSockaddr6(sa6);
  }
  sockaddr_in sa4;
  std::memcpy(&sa4, source, sizeof sa4);
  return AddrFromSockaddr4(sa4);
}

int RelayWapiFrame(capwap::ByteView datagram, const sockaddr* source) {
  // Both socket address kinds are at least this long; an IPv6 sender keeps
  // only the leading part of its address, as WMAC's answers expect.
  std::memcpy(&g_WapiApAddr, source, sizeof g_WapiApAddr);
  capwap::ByteView payload = datagram.subspan(kCwHdrLen);
  WMAC_AC_IPC_NotifySendWapiMsg(payload.data(), payload.size());
  CwDebug(kDbgEvent, ZLOG_DEBUG, " AC capwap send wapi data to AC Wmac len :%d\n",
          static_cast<int>(payload.size()));
  return 0;
}

KeepAliveHandler& SessionHandler() {
  static KeepAliveHandler handler = nullptr;
  return handler;
}

void LogUnknownSession(const SessionId& session_id) {
  capwap::WireReader r(session_id.data(), session_id.size());
  uint32_t w[4] = {};
  for (uint32_t& word : w) r.u32(word);
  CwDebug(kDbgEvent, ZLOG_INFO, " Failed to find AP by session ID(%x%x%x%x).\n", w[0], w[1],
          w[2], w[3]);
}

}  // namespace

void capwap::ResetKeepAlive() { g_WapiApAddr = sockaddr_in{}; }

namespace capwap {

void SetKeepAliveHandler(KeepAliveHandler handler) { SessionHandler() = handler; }

void AnswerKeepAlive(const CW_WTPCB& wtp, const SessionId& session_id, int is_ipv6,
                     const PktInfo* pktinfo) {
  std::array<uint8_t, kKeepaliveLen> reply =
      wtp.rfc ? BuildRfcKeepAlive(session_id) : BuildKeepAlive(session_id);
  SendDesc desc;
  desc.remote = wtp.data_end;
  if (is_ipv6) {
    desc.fd = g_iAC_DataSock6Id;
    CW_Sock6Snd(&desc, reply.data(), reply.size());
    return;
  }
  desc.fd = g_iAC_DataSockId;
  if (pktinfo) {
    desc.local.ifindex = pktinfo->ifindex;
    desc.local.local_ipv4 = pktinfo->spec_dst;
    desc.local.SetIpv4(pktinfo->addr);
  }
  if (CW_SockSnd(&desc, reply.data(), reply.size(), g_ucNeedEncrypt) != 0) {
    int saved = errno;
    CwDebug(kDbgError, ZLOG_ERR, "Send keepalive msg to 0x%x:%d error %s\n",
            desc.remote.Ipv4(), desc.remote.port, strerror(saved));
  }
}

}  // namespace capwap

std::array<uint8_t, kKeepaliveLen> BuildKeepAlive(const SessionId& session_id) {
  std::array<uint8_t, kKeepaliveLen> out{};
  CW_HDR hdr;
  hdr.SetBit(kHdrBitK, true);
  CW_EncCwHdr(&hdr, out.data());
  capwap::WireWriter w(out.data() + kCwHdrLen, out.size() - kCwHdrLen);
  w.u16(kKeepaliveElemLen);                          // @8
  w.u16(elem::kSessionId);                             // @10
  w.u16(static_cast<uint16_t>(session_id.size()));   // @12
  w.bytes(session_id.data(), session_id.size());     // @14
  return out;
}

int DecodeKeepAlive(capwap::ByteView datagram, SessionId* session_id, bool* standard_form) {
  capwap::ByteView body = datagram.size() > kCwHdrLen ? datagram.subspan(kCwHdrLen)
                                                      : capwap::ByteView{};
  capwap::WireReader r(body);
  uint16_t elem_len = 0;
  bool have_length = r.u16(elem_len);
  if (standard_form) *standard_form = false;
  if (have_length && standard_form && elem_len == capwap::kRfcKeepaliveElemLen &&
      capwap::RfcCompatOn()) {
    // The standard length counts its own two octets.
    elem_len = kKeepaliveElemLen;
    *standard_form = true;
  }
  if (!have_length || elem_len != kKeepaliveElemLen || r.remaining() < elem_len) {
    // A frame cut short is shown with the element octets it has.
    const int shown = have_length && elem_len != kKeepaliveElemLen
                          ? elem_len
                          : static_cast<int>(r.remaining());
    CwDebug(kDbgError, ZLOG_ERR, " Illegal Keepalive frame with length %d received.\n", shown);
    return 1;
  }
  uint16_t type = 0;
  uint16_t length = 0;
  r.u16(type);
  r.u16(length);
  if (type != elem::kSessionId || length != kSessionIdLen) {
    CwDebug(kDbgEvent, ZLOG_ERR,
            " Illegal Keepalive frame with message type %d and message length received.\n", type);
    return 1;
  }
  return r.bytes(session_id->data(), kSessionIdLen) ? 0 : 1;
}

int AC_ProcKeepAlive(capwap::ByteView datagram, int is_ipv6, const sockaddr* source,
                     const PktInfo* pktinfo) {
  CW_HDR hdr;
  if (datagram.size() >= kCwHdrLen) CW_DEC_CWHdr(&hdr, datagram.data());
  if (datagram.size() < kCwHdrLen || !hdr.K() || !source) {
    CwDebug(kDbgError, ZLOG_ERR, " Illegal Keepalive frame received.\n");
    return 1;
  }
  if (hdr.reserved3 == kWapiReservedBits) return RelayWapiFrame(datagram, source);

  SessionId session_id{};
  bool standard_form = false;
  if (DecodeKeepAlive(datagram, &session_id, &standard_form) != 0) return 1;
  CW_WTPCB* wtp = CW_AC_GetWTPBySESSID(session_id);
  if (!wtp) {
    LogUnknownSession(session_id);
    return 1;
  }
  if (standard_form != wtp->rfc) {
    CwDebug(kDbgError, ZLOG_ERR, " Keepalive of AP %s in the other dialect's form dropped.\n",
            wtp->name.c_str());
    return 1;
  }
  wtp->data_end = SourceEndpoint(is_ipv6, source);
  KeepAliveHandler handler = SessionHandler();
  return handler ? handler(wtp, session_id, is_ipv6, pktinfo) : 0;
}

TunnelRecord TunnelRecordOf(const CW_WTPCB& wtp, uint32_t state) {
  TunnelRecord rec;
  rec.state = state;
  rec.apid = wtp.apid;
  rec.family = wtp.data_end.family;
  rec.ac_addr = wtp.local.addr;
  rec.wtp_data_addr = wtp.data_end.addr;
  rec.ac_data_port = capwap::CapwapPort(capwap::kDataPort);
  rec.wtp_data_port = wtp.data_end.port;
  rec.virtual_ap = wtp.master_status == 0 ? 1 : 0;
  rec.scrambled = g_ucNeedEncrypt;
  return rec;
}

// --- Readers ----------------------------------------------------------------

// A keepalive never leaves its buffer, so one buffer serves the whole batch.
// Reads stop at the drained queue (MSG_DONTWAIT) or after kCwRcvBatch.
int AC_RcvDataPkt(thread* t) {
  thread_rearm(t);
  capwap::Bytes buffer = ReceiveBuffer();
  if (buffer.empty()) return 0;
  for (int reads = 0; reads < kCwRcvBatch; ++reads) {
    sockaddr_in from{};
    PktInfo info;
    ssize_t n = CW_SockRcv(THREAD_FD(t), buffer.data(), buffer.size(), &from, &info,
                           g_ucNeedEncrypt, MSG_DONTWAIT);
    if (n < 0) return 0;
    AC_ProcKeepAlive(capwap::ByteView(buffer.data(), static_cast<size_t>(n)), 0,
                     reinterpret_cast<const sockaddr*>(&from), &info);
  }
  return 0;
}

int AC_Rcv6DataPkt(thread* t) {
  thread_rearm(t);
  capwap::Bytes buffer = ReceiveBuffer();
  if (buffer.empty()) return 0;
  for (int reads = 0; reads < kCwRcvBatch; ++reads) {
    sockaddr_in6 from{};
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(THREAD_FD(t), buffer.data(), buffer.size(), MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) return 0;
    AC_ProcKeepAlive(capwap::ByteView(buffer.data(), static_cast<size_t>(n)), 1,
                     reinterpret_cast<const sockaddr*>(&from), nullptr);
  }
  return 0;
}
