#include "support/udp_endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace capwap::test {
namespace {

// The loopback socket address of a family with a port.
socklen_t Loopback(bool ipv6, uint16_t port, sockaddr_storage* ss) {
  *ss = sockaddr_storage{};
  if (ipv6) {
    auto* sa = reinterpret_cast<sockaddr_in6*>(ss);
    sa->sin6_family = AF_INET6;
    sa->sin6_addr = in6addr_loopback;
    sa->sin6_port = htons(port);
    return sizeof *sa;
  }
  auto* sa = reinterpret_cast<sockaddr_in*>(ss);
  sa->sin_family = AF_INET;
  sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa->sin_port = htons(port);
  return sizeof *sa;
}

}  // namespace

UdpEndpoint::UdpEndpoint(bool ipv6) : ipv6_(ipv6) {
  fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_storage ss;
  socklen_t len = Loopback(ipv6, 0, &ss);
  EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&ss), len), 0);
  getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
  port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

UdpEndpoint::~UdpEndpoint() { close(fd_); }

CW_ADDR UdpEndpoint::Addr() const {
  CW_ADDR a;
  if (ipv6_) {
    a.family = 1;
    std::memcpy(a.addr.data(), &in6addr_loopback, 16);
  } else {
    a.SetIpv4(INADDR_LOOPBACK);
  }
  a.port = port_;
  return a;
}

sockaddr_in UdpEndpoint::Sockaddr() const {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port_);
  return sa;
}

void UdpEndpoint::SendTo(uint16_t port, const Bytes& datagram) const {
  sockaddr_storage ss;
  socklen_t len = Loopback(ipv6_, port, &ss);
  ssize_t n =
      sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&ss), len);
  EXPECT_EQ(n, static_cast<ssize_t>(datagram.size()));
}

std::vector<Bytes> UdpEndpoint::Drain() const {
  std::vector<Bytes> out;
  for (;;) {
    Bytes buf(65536);
    ssize_t n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n < 0) break;
    buf.resize(static_cast<size_t>(n));
    out.push_back(std::move(buf));
  }
  return out;
}

}  // namespace capwap::test
