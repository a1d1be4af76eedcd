// A booted daemon (the scenario lab) with one AP record bound to a loopback
// UDP endpoint that plays the AP's control channel, and the peer simulator
// playing WMAC, WRRM and WIDS with the options a test chooses. The AP is put
// in Join directly, so the Configuration Status exchange is tested on its own.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "cli/model.h"
#include "daemon/debug.h"
#include "peer-sim/peer_sim.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "support/scenario.h"
#include "wtp-sim/wtp_messages.h"

namespace capwap::test {

class ConfigLab {
 public:
  explicit ConfigLab(sim::PeerSimOptions peer_options = {}) : lab_(NoPeers()) {
    if (!lab_.booted()) return;
    g_ulCwDebugBitmap = CW_DBG_ALL;  // the boot starts with every category off
    peers_ = std::make_unique<sim::PeerSim>(lab_.master(), std::move(peer_options));
    EXPECT_EQ(peers_->Start(), 0);
    OpenEndpoint();
    CW_APMODEL model;
    model.name = "cfg-model";
    model.radio_count = 2;
    model.radios[0].modes = 13;
    model.radios[1].modes = 10;
    EXPECT_EQ(CW_ApModelStore(model), 0);
    wtp_ = CW_AC_CreateWTP("cfg-model", 1, "cfgap", 0);
    identity_.radios = sim::DefaultRadios(identity_.mac, 2);
    identity_.ac_name = "ac";
    if (wtp_) EnterJoin();
  }
  ~ConfigLab() {
    if (peers_) peers_->Stop();
    peers_.reset();
    if (fd_ >= 0) close(fd_);
  }
  ConfigLab(const ConfigLab&) = delete;
  ConfigLab& operator=(const ConfigLab&) = delete;

  bool ready() const { return lab_.booted() && peers_ && wtp_ && fd_ >= 0; }
  ScenarioLab& lab() { return lab_; }
  sim::PeerSim& peers() { return *peers_; }
  CW_WTPCB* wtp() { return wtp_; }
  sim::WtpIdentity& identity() { return identity_; }

  // The session as Join leaves it: state Join, bound to the endpoint.
  void EnterJoin() {
    wtp_->mac = identity_.mac;
    wtp_->board_vendor_id = identity_.vendor_id;
    wtp_->local.family = 0;
    wtp_->local.SetIpv4(INADDR_LOOPBACK);
    wtp_->local.port = CapwapPort(kControlPort);
    CW_AC_AddWTPByIP(Endpoint(), wtp_);
    wtp_->state = CW_STATE_JOIN;
  }
  // The endpoint as the daemon records a datagram's source.
  CW_ADDR Endpoint() const {
    CW_ADDR a;
    a.SetIpv4(INADDR_LOOPBACK);
    a.port = port_;
    return a;
  }

  // Sends a datagram to the daemon's control port and runs the loop until quiet.
  void Send(const Bytes& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(CapwapPort(kControlPort));
    EXPECT_EQ(sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to),
              static_cast<ssize_t>(datagram.size()));
    lab_.Settle();
  }
  // A Configuration Status Request of the AP's radios with the next sequence number.
  uint8_t SendConfigStatus() {
    const uint8_t seq = next_seq_++;
    Send(sim::BuildConfigStatusRequest(identity_, seq));
    return seq;
  }
  // Every control message the AP has received of that type, oldest first.
  std::vector<DecodedMessage> Received(uint32_t msg_type) {
    for (;;) {
      Bytes buf(65536);
      ssize_t n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n < 0) break;
      buf.resize(static_cast<size_t>(n));
      received_.push_back(DecodeMessage(buf));
    }
    std::vector<DecodedMessage> out;
    for (const DecodedMessage& m : received_) {
      if (m.ctl.msg_type == msg_type) out.push_back(m);
    }
    return out;
  }
  size_t CountToWmac(uint32_t type) const { return peers_->CountReceived(sim::Peer::kWmac, type); }

 private:
  static ScenarioOptions NoPeers() {
    ScenarioOptions options;
    options.peers = false;
    return options;
  }
  void OpenEndpoint() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }

  ScenarioLab lab_;
  std::unique_ptr<sim::PeerSim> peers_;
  int fd_ = -1;
  uint16_t port_ = 0;
  CW_WTPCB* wtp_ = nullptr;
  sim::WtpIdentity identity_;
  uint8_t next_seq_ = 1;
  std::vector<DecodedMessage> received_;
};

}  // namespace capwap::test
