// A UDP socket on 127.0.0.1 or ::1 standing for a WTP's control or data end
// (or the NAT in front of it) in tests that talk to the controller directly.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "platform/bytes.h"
#include "transport/types.h"

namespace capwap::test {

class UdpEndpoint {
 public:
  explicit UdpEndpoint(bool ipv6 = false);
  ~UdpEndpoint();
  UdpEndpoint(const UdpEndpoint&) = delete;
  UdpEndpoint& operator=(const UdpEndpoint&) = delete;

  int fd() const { return fd_; }
  uint16_t port() const { return port_; }
  // The endpoint as the controller records a datagram's source.
  CW_ADDR Addr() const;
  // The IPv4 socket address of the endpoint.
  sockaddr_in Sockaddr() const;
  // Sends one datagram to the loopback address of the endpoint's family.
  void SendTo(uint16_t port, const Bytes& datagram) const;
  // Every datagram waiting on the endpoint.
  std::vector<Bytes> Drain() const;

 private:
  bool ipv6_ = false;
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace capwap::test
