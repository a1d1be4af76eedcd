// The CAPWAP data channel's socket half: keepalive frames in and out, each
// one of a known session handed to the session's handler, and WAPI frames
// relayed to WMAC. No user traffic is forwarded here.
//
// Return convention: 0 handled, 1 dropped (with its debug line).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/sockets.h"

struct thread;

// The first 16 bytes of the socket address of the last WTP that sent a WAPI
// frame (an IPv4 sender's whole address); WMAC's WAPI answers go back there.
extern sockaddr_in g_WapiApAddr;
// Clears g_WapiApAddr (tests).
namespace capwap {
void ResetKeepAlive();
}  // namespace capwap

// Keepalive frame: 8-octet header with K, element length 20, Session ID.
inline constexpr size_t kKeepaliveLen = 30;
inline constexpr uint16_t kKeepaliveElemLen = 20;

// Tunnel states of the records sent to WMAC.
enum : uint32_t { kTunnelDown = 0, kTunnelUp = 1, kTunnelMoved = 2 };

// Read handlers of the IPv4 and IPv6 data sockets (re-register first).
int AC_RcvDataPkt(thread* t);
int AC_Rcv6DataPkt(thread* t);

// One datagram from the data channel. `source` is a sockaddr_in, or a
// sockaddr_in6 when is_ipv6; `pktinfo` is what the IPv4 socket reported of
// the local end (null for IPv6). Nothing is kept of the datagram.
int AC_ProcKeepAlive(capwap::ByteView datagram, int is_ipv6, const sockaddr* source,
                     const PktInfo* pktinfo);

// The Session ID of a keepalive whose header was already checked: 0, or 1
// (logged) when the element length is not 20, the element is not a 16-octet
// Session ID, or the frame ends early. Octets after the element are ignored.
// While the standard dialect is served, a length of 22 (the standard one,
// counting the field itself) is read as well and *standard_form set.
int DecodeKeepAlive(capwap::ByteView datagram, std::array<uint8_t, 16>* session_id,
                    bool* standard_form = nullptr);

// The AC's keepalive answer for a session (kKeepaliveLen octets).
std::array<uint8_t, kKeepaliveLen> BuildKeepAlive(const std::array<uint8_t, 16>& session_id);

// A tunnel-state record of the WTP's current data channel: its APID, data
// endpoint, the AC's control address, the AC's data port, the virtual-AP
// flag and the scrambling switch of this moment.
TunnelRecord TunnelRecordOf(const CW_WTPCB& wtp, uint32_t state);

namespace capwap {
// What the session makes of a keepalive of its WTP; wtp->data_end already
// holds the source. `pktinfo` is the IPv4 socket's local end, null for IPv6.
using KeepAliveHandler = int (*)(CW_WTPCB* wtp, const std::array<uint8_t, 16>& session_id,
                                 int is_ipv6, const PktInfo* pktinfo);
// Set at start-up with the message handlers; without one a keepalive only
// moves the data endpoint.
void SetKeepAliveHandler(KeepAliveHandler handler);
// Answers a keepalive through the data socket of the family it came on, from
// the local address it reached.
void AnswerKeepAlive(const CW_WTPCB& wtp, const std::array<uint8_t, 16>& session_id, int is_ipv6,
                     const PktInfo* pktinfo);
}  // namespace capwap
