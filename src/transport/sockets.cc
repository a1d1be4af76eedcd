#include "transport/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "diag/debug.h"
#include "export/apm.h"
#include "platform/fail_inject.h"
#include "platform/lib.h"
#include "platform/nsm.h"
#include "platform/paths.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/monitor.h"
#include "transport/recv.h"

int g_iAC_IP4SockId = -1;
int g_iAC_IP6SockId = -1;
int g_iAC_DataSockId = -1;
int g_iAC_DataSock6Id = -1;
int g_iAC_MonCoreFd = -1;

namespace {

constexpr const char* kCapwapMulticastGroup = "ff0e::18c";

bool SetIntOpt(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// Prints the failing step and closes the socket.
int FailSocket(int fd, const char* text, int result) {
  perror(text);
  if (fd >= 0) close(fd);
  return result;
}

bool AddNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool BindIp4(int fd, uint32_t addr, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(port);
  return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool BindIp6Any(int fd, uint16_t port) {
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_any;
  sa.sin6_port = htons(port);
  return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

// The first IP_PKTINFO of a received message (all zero without one).
PktInfo PktInfoOf(msghdr* msg) {
  PktInfo info;
  for (cmsghdr* c = CMSG_FIRSTHDR(msg); c; c = CMSG_NXTHDR(msg, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo pi;
    std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
    info.ifindex = static_cast<uint32_t>(pi.ipi_ifindex);
    info.spec_dst = ntohl(pi.ipi_spec_dst.s_addr);
    info.addr = ntohl(pi.ipi_addr.s_addr);
    break;
  }
  return info;
}

in_pktinfo PktInfoFrom(const CW_ADDR& local) {
  in_pktinfo info{};
  info.ipi_ifindex = static_cast<int>(local.ifindex);
  info.ipi_spec_dst.s_addr = htonl(local.local_ipv4);
  info.ipi_addr.s_addr = htonl(local.Ipv4());
  return info;
}

constexpr size_t kPktInfoControlLen = CMSG_SPACE(sizeof(in_pktinfo));

// Points msg at one datagram with its destination and IP_PKTINFO.
void PrepareSend(msghdr* msg, sockaddr_in* to, iovec* iov, uint8_t* control,
                 const in_pktinfo& info) {
  *msg = msghdr{};
  msg->msg_name = to;
  msg->msg_namelen = sizeof *to;
  msg->msg_iov = iov;
  msg->msg_iovlen = 1;
  msg->msg_control = control;
  msg->msg_controllen = kPktInfoControlLen;
  cmsghdr* c = CMSG_FIRSTHDR(msg);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
}

// The datagrams held while a reader handles its batch. The octet buffers
// are kept from batch to batch, so holding a datagram costs no allocation
// once they have grown.
struct HeldDatagram {
  capwap::Bytes octets;
  sockaddr_in to{};
  in_pktinfo info{};
};
struct SendBatch {
  static constexpr size_t kCapacity = 2 * kCwRcvBatch;
  int fd = -1;  // the socket being held for, -1 outside a batch
  size_t count = 0;
  std::array<HeldDatagram, kCapacity> held;
};
SendBatch send_batch;

void LogBatchSendError(const HeldDatagram& datagram, int error) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &datagram.to.sin_addr, text, sizeof text);
  CwDebug(kDbgError, ZLOG_ERR, "Send ctrl pkt to %s:%d error %s\n", text,
          ntohs(datagram.to.sin_port), strerror(error));
}

void FlushSendBatch() {
  SendBatch& batch = send_batch;
  std::array<mmsghdr, SendBatch::kCapacity> msgs;
  std::array<iovec, SendBatch::kCapacity> iovs;
  alignas(cmsghdr) uint8_t control[SendBatch::kCapacity][kPktInfoControlLen] = {};
  for (size_t i = 0; i < batch.count; ++i) {
    HeldDatagram& datagram = batch.held[i];
    iovs[i] = iovec{datagram.octets.data(), datagram.octets.size()};
    PrepareSend(&msgs[i].msg_hdr, &datagram.to, &iovs[i], control[i], datagram.info);
    msgs[i].msg_len = 0;
  }
  // sendmmsg stops at a failing datagram: report it, skip it and go on,
  // as separate sends would.
  size_t sent = 0;
  while (sent < batch.count) {
    int n = sendmmsg(batch.fd, &msgs[sent], static_cast<unsigned>(batch.count - sent), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    LogBatchSendError(batch.held[sent], errno);
    ++sent;
  }
  batch.count = 0;
}

// Holds a datagram for the batch; false when it cannot be held.
bool HoldDatagram(const sockaddr_in& to, const in_pktinfo& info, const uint8_t* buffer,
                  size_t length) {
  SendBatch& batch = send_batch;
  if (batch.count == SendBatch::kCapacity) FlushSendBatch();
  HeldDatagram& datagram = batch.held[batch.count];
  try {
    datagram.octets.assign(buffer, buffer + length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  datagram.to = to;
  datagram.info = info;
  ++batch.count;
  return true;
}

void CloseFd(int& fd) {
  if (fd < 0) return;
  if (capwapm && capwapm->master) thread_cancel_fd(capwapm->master.get(), fd);
  close(fd);
  fd = -1;
}

}  // namespace

int AC_SockIP4Init(uint32_t addr, uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailSocket(-1, "AC_SockIP4Init::Create Socket", -1);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_SNDBUF, 1048576)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:SO_SNDBUF", -1);
  }
  if (!SetIntOpt(fd, SOL_SOCKET, SO_RCVBUF, 1048576)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:SO_RCVBUF", -1);
  }
  AddNonBlocking(fd);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_REUSEADDR, 1)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:SO_REUSEADDR", -1);
  }
  if (!SetIntOpt(fd, IPPROTO_IP, IP_PKTINFO, 1)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:IP_PKTINFO", -1);
  }
  if (!BindIp4(fd, addr, port)) return FailSocket(fd, "AC_SockIP4Init::bind", -1);
  if (!SetIntOpt(fd, IPPROTO_IP, IP_TOS, 7)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:IP_TOS", -1);
  }
  if (!SetIntOpt(fd, IPPROTO_IP, IP_MULTICAST_TTL, 32)) {
    return FailSocket(fd, "AC_SockIP4Init::setsockopt:IP_MULTICAST_TTL", -1);
  }
  capwap::RegisterReader(fd, AC_RcvIP4Pkt);
  return fd;
}

int AC_DataSockIP4Init(uint32_t addr, uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailSocket(-1, "AC_DataSockIP4Init::Create Socket Fail\n", -1);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_REUSEADDR, 1)) {
    return FailSocket(fd, "AC_DataSockIP4Init::setsockopt Fail\n", -1);
  }
  if (!SetIntOpt(fd, IPPROTO_IP, IP_TOS, 7)) {
    return FailSocket(fd, "AC_DataSockIP4Init::setsockopt:IP_TOS", -1);
  }
  if (!SetIntOpt(fd, IPPROTO_IP, IP_MULTICAST_TTL, 32)) {
    return FailSocket(fd, "AC_DataSockIP4Init::setsockopt:IP_MULTICAST_TTL", -1);
  }
  if (!SetIntOpt(fd, IPPROTO_IP, IP_PKTINFO, 1)) {
    return FailSocket(fd, "AC_DataSockIP4Init::setsockopt:IP_PKTINFO", -1);
  }
  if (!BindIp4(fd, addr, port)) return FailSocket(fd, "AC_DataSockIP4Init::bind Socket Fail\n", -1);
  // The data channel is only read when the loop reports it readable; being
  // non-blocking also keeps a spurious wake-up from stalling the loop.
  AddNonBlocking(fd);
  capwap::RegisterReader(fd, AC_RcvDataPkt);
  return fd;
}

int AC_SockIP6Init() {
  int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailSocket(-1, "socket", 1);
  int on = 1;
  if (ioctl(fd, FIONBIO, &on) != 0) return FailSocket(fd, "socket", 1);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_REUSEADDR, 1)) return FailSocket(fd, "SO_REUSEADDR", 1);
  if (!SetIntOpt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1)) return FailSocket(fd, "IPV6_V6ONLY", 1);
  if (!BindIp6Any(fd, capwap::CapwapPort(capwap::kControlPort))) return FailSocket(fd, "bind", 1);
  if (!SetIntOpt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, 1)) return FailSocket(fd, "IPV6_RECVPKTINFO", 1);
  g_iAC_IP6SockId = fd;
  capwap::RegisterReader(fd, AC_RcvIP6Pkt);
  return 0;
}

int AC_DataSockIP6Init() {
  int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailSocket(-1, "socket", -1);
  int on = 1;
  if (ioctl(fd, FIONBIO, &on) != 0) return FailSocket(fd, "socket", -1);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_REUSEADDR, 1)) return FailSocket(fd, "SO_REUSEADDR", -1);
  if (!SetIntOpt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1)) return FailSocket(fd, "IPV6_V6ONLY", -1);
  if (!BindIp6Any(fd, capwap::CapwapPort(capwap::kDataPort))) return FailSocket(fd, "bind", -1);
  capwap::RegisterReader(fd, AC_Rcv6DataPkt);
  return fd;
}

int AC_MonitorSock_Init(uint32_t addr) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    CwDebug(kDbgError, ZLOG_ERR, "Wtp_monitoring Creat socket error.\n ");
    return 1;
  }
  AddNonBlocking(fd);
  if (!SetIntOpt(fd, SOL_SOCKET, SO_REUSEADDR, 1)) {
    return FailSocket(fd, "Wtp_monitoring::setsockopt:SO_REUSEADDR", 1);
  }
  if (!BindIp4(fd, addr, capwap::CapwapPort(capwap::kMonitorPort))) {
    return FailSocket(fd, "Wtp_monitoring::bind", 1);
  }
  g_iAC_MonCoreFd = fd;
  capwap::RegisterReader(fd, AC_RcvMonPkt);
  return 0;
}

int AC_SockInit() {
  AC_MonitorSock_Init(0);
  AC_ApmIpcSocketInit();
  g_iAC_IP4SockId = AC_SockIP4Init(0, capwap::CapwapPort(capwap::kControlPort));
  g_iAC_DataSockId = AC_DataSockIP4Init(0, capwap::CapwapPort(capwap::kDataPort));
  if (g_iAC_DataSockId < 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to initial IPv4 socket.\n");
    return 1;
  }
  g_iAC_DataSock6Id = AC_DataSockIP6Init();
  if (g_iAC_DataSock6Id < 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to initial IPv6 socket.\n");
    return 1;
  }
  return AC_SockIP6Init();
}

void capwap::CloseSockets() {
  CloseFd(g_iAC_IP4SockId);
  CloseFd(g_iAC_IP6SockId);
  CloseFd(g_iAC_DataSockId);
  CloseFd(g_iAC_DataSock6Id);
  CloseFd(g_iAC_MonCoreFd);
}

bool SockQueueEmpty(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

ssize_t CW_SockRcv(int fd, uint8_t* buffer, size_t size, sockaddr_in* from, PktInfo* info,
                   int descramble, int flags) {
  iovec iov{buffer, size};
  alignas(cmsghdr) uint8_t control[4096];
  msghdr msg{};
  msg.msg_name = from;
  msg.msg_namelen = sizeof(sockaddr_in);
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = recvmsg(fd, &msg, flags);
  if (n < 0) return n;
  *info = PktInfoOf(&msg);
  if (descramble && n > 0) CW_Encrypt(buffer, static_cast<size_t>(n), kCwScrambleKey);
  return n;
}

int SockRcvBatch(int fd, RecvSlot* slots, int count) {
  // IP_PKTINFO is the only control message the control socket asks for.
  constexpr size_t kControlLen = CMSG_SPACE(sizeof(in_pktinfo));
  count = std::clamp(count, 0, kCwRcvBatch);
  mmsghdr msgs[kCwRcvBatch] = {};
  iovec iovs[kCwRcvBatch];
  alignas(cmsghdr) uint8_t control[kCwRcvBatch][kControlLen];
  for (int i = 0; i < count; ++i) {
    iovs[i] = iovec{slots[i].buffer, slots[i].size};
    msghdr& msg = msgs[i].msg_hdr;
    msg.msg_name = &slots[i].from;
    msg.msg_namelen = sizeof(sockaddr_in);
    msg.msg_iov = &iovs[i];
    msg.msg_iovlen = 1;
    msg.msg_control = control[i];
    msg.msg_controllen = kControlLen;
  }
  int n = recvmmsg(fd, msgs, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  for (int i = 0; i < n; ++i) {
    slots[i].length = msgs[i].msg_len;
    slots[i].info = PktInfoOf(&msgs[i].msg_hdr);
  }
  return n;
}

void SockSndBatchBegin(int fd) {
  if (send_batch.count > 0) FlushSendBatch();
  send_batch.fd = fd;
}

void SockSndBatchEnd() {
  if (send_batch.count > 0) FlushSendBatch();
  send_batch.fd = -1;
}

int CW_SockSnd(const SendDesc* desc, uint8_t* buffer, size_t length, int scramble) {
  if (scramble) CW_Encrypt(buffer, length, kCwScrambleKey);
  if (capwap::ShouldFail(capwap::FailFamily::kDatagramSend)) {
    errno = EIO;
    return 1;
  }
  sockaddr_in to = AddrToSockaddr4(desc->remote);
  const in_pktinfo info = PktInfoFrom(desc->local);
  if (desc->fd >= 0 && desc->fd == send_batch.fd && HoldDatagram(to, info, buffer, length)) {
    return 0;
  }
  iovec iov{buffer, length};
  alignas(cmsghdr) uint8_t control[kPktInfoControlLen] = {};
  msghdr msg;
  PrepareSend(&msg, &to, &iov, control, info);
  return sendmsg(desc->fd, &msg, 0) < 0 ? 1 : 0;
}

int CW_Sock6Snd(const SendDesc* desc, const uint8_t* buffer, size_t length) {
  if (capwap::ShouldFail(capwap::FailFamily::kDatagramSend)) {
    errno = EIO;
    perror("CW_SockSndIpv6::sendto Error");
    return 1;
  }
  sockaddr_in6 to = AddrToSockaddr6(desc->remote);
  ssize_t sent = sendto(desc->fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (sent < 0 || static_cast<size_t>(sent) != length) {
    perror("CW_SockSndIpv6::sendto Error");
    return 1;
  }
  return 0;
}

int CW_SockSndMsg(const SendDesc* desc, uint8_t* buffer, size_t length, int scramble) {
  if (desc->remote.family == 1) return CW_Sock6Snd(desc, buffer, length);
  return CW_SockSnd(desc, buffer, length, scramble);
}

int capwap_nsm_if_v6addr_add(const nsm_if_address& address) {
  if (address.family != AF_INET6 || !address.usable) return 0;
  if (g_iAC_IP6SockId < 0) return 1;
  ipv6_mreq mreq{};
  inet_pton(AF_INET6, kCapwapMulticastGroup, &mreq.ipv6mr_multiaddr);
  mreq.ipv6mr_interface = static_cast<unsigned>(address.ifindex);
  if (setsockopt(g_iAC_IP6SockId, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
    // Joining again on an interface that already joined is not a failure.
    return errno == EADDRINUSE ? 0 : 1;
  }
  return 0;
}

CW_ADDR AddrFromSockaddr4(const sockaddr_in& sa) {
  CW_ADDR addr;
  addr.family = 0;
  addr.SetIpv4(ntohl(sa.sin_addr.s_addr));
  addr.port = ntohs(sa.sin_port);
  return addr;
}

CW_ADDR AddrFromSockaddr6(const sockaddr_in6& sa) {
  CW_ADDR addr;
  addr.family = 1;
  std::memcpy(addr.addr.data(), &sa.sin6_addr, 16);
  addr.port = ntohs(sa.sin6_port);
  return addr;
}

sockaddr_in AddrToSockaddr4(const CW_ADDR& addr) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr.Ipv4());
  sa.sin_port = htons(addr.port);
  return sa;
}

sockaddr_in6 AddrToSockaddr6(const CW_ADDR& addr) {
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  std::memcpy(&sa.sin6_addr, addr.addr.data(), 16);
  sa.sin6_port = htons(addr.port);
  return sa;
}

const char* WriteAddrText(const CW_ADDR& addr, char* buf, size_t size) {
  if (addr.family == 1) {
    if (!inet_ntop(AF_INET6, addr.addr.data(), buf, static_cast<socklen_t>(size))) buf[0] = '\0';
    return buf;
  }
  in_addr a{htonl(addr.Ipv4())};
  if (!inet_ntop(AF_INET, &a, buf, static_cast<socklen_t>(size))) buf[0] = '\0';
  return buf;
}

namespace capwap {

void RegisterReader(int fd, thread_func reader) {
  if (fd >= 0 && capwapm && capwapm->master) {
    thread_add_read(capwapm->master.get(), reader, capwapm, fd);
  }
}

std::array<char, 18> MacText(const std::array<uint8_t, 6>& mac) {
  std::array<char, 18> text{};
  snprintf(text.data(), text.size(), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
           mac[3], mac[4], mac[5]);
  return text;
}

std::string AddrText(const CW_ADDR& addr) {
  char buf[INET6_ADDRSTRLEN] = {};
  return WriteAddrText(addr, buf, sizeof buf);
}

}  // namespace capwap
