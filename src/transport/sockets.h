// The five UDP sockets of the controller and the datagram send/receive
// primitives that answer a WTP through the interface and local address on
// which it reached us.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "platform/thread.h"
#include "transport/types.h"

struct nsm_if_address;

// Socket descriptors, -1 until opened.
extern int g_iAC_IP4SockId;    // IPv4 control
extern int g_iAC_IP6SockId;    // IPv6 control
extern int g_iAC_DataSockId;   // IPv4 data
extern int g_iAC_DataSock6Id;  // IPv6 data
extern int g_iAC_MonCoreFd;    // core-dump monitor

// Send descriptor built per send.
struct SendDesc {
  int fd = -1;
  CW_ADDR remote;
  CW_ADDR local;
};

// Received IP_PKTINFO (host order copies of the three words).
struct PktInfo {
  uint32_t ifindex = 0;
  uint32_t spec_dst = 0;  // host order
  uint32_t addr = 0;      // host order
};

// 0 success, 1 failure (the IPv4 control socket is not itself a failure).
int AC_SockInit();
// Socket set-up; descriptor or -1 (AC_SockIP6Init: 0 / 1, stores the fd).
int AC_SockIP4Init(uint32_t addr, uint16_t port);
int AC_DataSockIP4Init(uint32_t addr, uint16_t port);
int AC_SockIP6Init();
int AC_DataSockIP6Init();
int AC_MonitorSock_Init(uint32_t addr);
// Closes every socket and forgets the descriptors (capwap_stop and tests).
namespace capwap {
void CloseSockets();
}  // namespace capwap

// Datagrams a reader takes from its socket per wake-up: a burst is drained
// with one poll, and a flooded socket still yields to timers and the other
// sockets between batches (a datagram is handled in microseconds).
inline constexpr int kCwRcvBatch = 16;

// True when a failed receive only found the socket's queue empty.
bool SockQueueEmpty(int error);

// One recvmsg; bytes received or negative. from receives the source. flags
// are recvmsg's (readers that take a batch pass MSG_DONTWAIT).
ssize_t CW_SockRcv(int fd, uint8_t* buffer, size_t size, sockaddr_in* from, PktInfo* info,
                   int descramble, int flags = 0);
// One IPv4 datagram of a batch read by SockRcvBatch.
struct RecvSlot {
  uint8_t* buffer = nullptr;  // where to read, `size` octets
  size_t size = 0;
  sockaddr_in from{};         // the source
  PktInfo info;            // where it arrived
  size_t length = 0;          // octets received
};
// Reads up to `count` (at most kCwRcvBatch) waiting datagrams with one
// recvmmsg, without waiting and without descrambling. The number read, or
// negative (errno EAGAIN when none was waiting).
int SockRcvBatch(int fd, RecvSlot* slots, int count);

// While a reader handles a receive batch, the IPv4 datagrams sent on its
// socket are held (in the order sent) and go out with one sendmmsg when the
// batch ends; a failure is then logged for the datagram it hit. Sends on other
// sockets, and all sends outside a batch, go out at once.
void SockSndBatchBegin(int fd);
void SockSndBatchEnd();

// IPv4 send with IP_PKTINFO from desc->local; scrambles buffer in place when
// asked. 0 sent (or held by the batch), 1 failed.
int CW_SockSnd(const SendDesc* desc, uint8_t* buffer, size_t length, int scramble);
// IPv6 sendto. 0 when all bytes were sent, 1 otherwise.
int CW_Sock6Snd(const SendDesc* desc, const uint8_t* buffer, size_t length);
// Chooses CW_Sock6Snd for an IPv6 remote end, else CW_SockSnd.
int CW_SockSndMsg(const SendDesc* desc, uint8_t* buffer, size_t length, int scramble);

// IPv6 multicast join of "ff0e::18c" on a new interface address. 0 / 1.
int capwap_nsm_if_v6addr_add(const nsm_if_address& address);

// Conversions between sockaddr and CW_ADDR (remote ends).
CW_ADDR AddrFromSockaddr4(const sockaddr_in& sa);
CW_ADDR AddrFromSockaddr6(const sockaddr_in6& sa);
sockaddr_in AddrToSockaddr4(const CW_ADDR& addr);
sockaddr_in6 AddrToSockaddr6(const CW_ADDR& addr);
// Dotted IPv4 or IPv6 text of an address.
const char* WriteAddrText(const CW_ADDR& addr, char* buf, size_t size);

namespace capwap {
// Registers a read handler for the socket with the daemon's loop (nothing
// before start-up). Readers call it first, so no early return deafens a port.
void RegisterReader(int fd, thread_func reader);
}  // namespace capwap
