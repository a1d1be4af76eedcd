// Arbitrary bytes as a data-channel datagram (AC_ProcKeepAlive) of a
// controller with one WTP in Data Check (session 10 11 .. 1f) and one in Run
// (session 20 21 .. 2f). Each input is delivered three times: from the IPv4
// endpoint A, from endpoint B (a moved data channel) and from an IPv6 one.
// WMAC is the peer simulator on the same loop.
// Oracles: a session only moves from Data Check to Run; a running WTP's last
// tunnel record names its current data endpoint; the online count never
// exceeds the running WTPs; a WAPI frame is relayed whole but its header.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "config/model_catalogue.h"
#include "fsm/handlers.h"
#include "fuzz/fuzz_support.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/keepalive.h"
#include "transport/sockets.h"

namespace {

constexpr const char* kModel = "fuzz-model";

std::array<uint8_t, 16> SessionFrom(uint8_t first) {
  std::array<uint8_t, 16> s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(first + i);
  return s;
}

sockaddr_in Ipv4Source(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

sockaddr_in6 Ipv6Source() {
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  sa.sin6_port = htons(40009);
  return sa;
}

int OpenUdp(int family) {
  int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

struct Controller {
  Controller() {
    capwap::fuzz::StoreModel(kModel, {13});
    WMAC_AC_IPC_SetZg(lab.ctx());
    FsmRegisterHandlers();  // the data-check and tunnel-tracking keepalive handler
    peers = std::make_unique<capwap::sim::PeerSim>(lab.master(), capwap::sim::PeerSimOptions{});
    FUZZ_CHECK(peers->Start() == 0);
    // Unbound sockets: answers go out to the (closed) source ports.
    g_iAC_DataSockId = OpenUdp(AF_INET);
    g_iAC_DataSock6Id = OpenUdp(AF_INET6);
    g_iAC_IP4SockId = OpenUdp(AF_INET);
  }

  void StartSessions() {
    WtpTableReset();
    CW_AC_WtpTableInit();
    for (uint8_t i = 0; i < 2; ++i) {
      CW_WTPCB* wtp = CW_AC_CreateWTP(kModel, 0xFFFFFFFF, "", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->mac = {0, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(i + 1)};
      wtp->master_status = 1;
      wtp->local.SetIpv4(INADDR_LOOPBACK);
      wtp->local.ifindex = 1;
      CW_ADDR control;
      control.SetIpv4(INADDR_LOOPBACK);
      control.port = static_cast<uint16_t>(41000 + i);
      CW_AC_AddWTPByIP(control, wtp);
      CW_AC_AddWTPBySESSID(SessionFrom(static_cast<uint8_t>(0x10 * (i + 1))), wtp);
      wtps[i] = wtp;
    }
    wtps[0]->state = kStateDataCheck;
    wtps[1]->state = kStateRun;
    wtps[1]->data_end.SetIpv4(INADDR_LOOPBACK);
    wtps[1]->data_end.port = 40001;
    wtps[1]->tunnel = TunnelRecordOf(*wtps[1], kTunnelUp);
    g_uiCwApCount = 1;
    peers->ClearHistory();
  }

  void Deliver(capwap::ByteView datagram, int is_ipv6, const sockaddr* source) {
    const uint32_t before = wtps[0]->state;
    const size_t wapi_before = peers->CountReceived(capwap::sim::Peer::kWmac, WmacMsg::kWapi);
    AC_ProcKeepAlive(datagram, is_ipv6, source, nullptr);
    lab.Settle();
    FUZZ_CHECK(wtps[0]->state == before || (before == kStateDataCheck &&
                                            wtps[0]->state == kStateRun));
    FUZZ_CHECK(wtps[1]->state == kStateRun);
    uint32_t running = 0;
    for (const CW_WTPCB* wtp : wtps) {
      if (wtp->state != kStateRun) continue;
      ++running;
      FUZZ_CHECK(wtp->tunnel.wtp_data_addr == wtp->data_end.addr);
      FUZZ_CHECK(wtp->tunnel.wtp_data_port == wtp->data_end.port);
    }
    FUZZ_CHECK(g_uiCwApCount <= running);
    if (peers->CountReceived(capwap::sim::Peer::kWmac, WmacMsg::kWapi) > wapi_before) {
      const capwap::sim::PeerMessage* wapi =
          peers->LastReceived(capwap::sim::Peer::kWmac, WmacMsg::kWapi);
      FUZZ_CHECK(datagram.size() >= 8 && wapi->payload.size() == datagram.size() - 8);
    }
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  std::unique_ptr<capwap::sim::PeerSim> peers;
  CW_WTPCB* wtps[2] = {nullptr, nullptr};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  ac.StartSessions();
  const capwap::ByteView datagram(data, size < kCwRcvBufSize ? size : kCwRcvBufSize);
  const sockaddr_in a = Ipv4Source(40001);
  const sockaddr_in b = Ipv4Source(40002);
  const sockaddr_in6 v6 = Ipv6Source();
  ac.Deliver(datagram, 0, reinterpret_cast<const sockaddr*>(&a));
  ac.Deliver(datagram, 0, reinterpret_cast<const sockaddr*>(&b));
  ac.Deliver(datagram, 1, reinterpret_cast<const sockaddr*>(&v6));
  return 0;
}
