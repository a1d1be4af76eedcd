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

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "peer-sim/peer_sim.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "support/scenario.h"
#include "support/udp_endpoint.h"
#include "wtp-sim/wtp_messages.h"

namespace capwap::test {

class ConfigLab {
 public:
  explicit ConfigLab(sim::PeerSimOptions peer_options = {}) : lab_(NoPeers()) {
    if (!lab_.booted()) return;
    g_ulCwDebugBitmap = kDbgAll;  // the boot starts with every category off
    peers_ = std::make_unique<sim::PeerSim>(lab_.master(), std::move(peer_options));
    EXPECT_EQ(peers_->Start(), 0);
    CW_APMODEL model;
    model.name = "cfg-model";
    model.radio_count = 2;
    model.radios[0].modes = 13;
    model.radios[1].modes = 10;
    EXPECT_EQ(ApModelStore(model), 0);
    wtp_ = CW_AC_CreateWTP("cfg-model", 1, "cfgap", 0);
    identity_.radios = sim::DefaultRadios(identity_.mac, 2);
    identity_.ac_name = "ac";
    if (wtp_) EnterJoin();
  }
  ~ConfigLab() {
    if (peers_) peers_->Stop();
    peers_.reset();
  }
  ConfigLab(const ConfigLab&) = delete;
  ConfigLab& operator=(const ConfigLab&) = delete;

  bool ready() const { return lab_.booted() && peers_ && wtp_ && endpoint_.fd() >= 0; }
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
    wtp_->state = kStateJoin;
  }
  // The endpoint as the daemon records a datagram's source.
  CW_ADDR Endpoint() const { return endpoint_.Addr(); }

  // Sends a datagram to the daemon's control port and runs the loop until quiet.
  void Send(const Bytes& datagram) {
    endpoint_.SendTo(CapwapPort(kControlPort), datagram);
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
    for (const Bytes& datagram : endpoint_.Drain()) received_.push_back(DecodeMessage(datagram));
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

  ScenarioLab lab_;
  std::unique_ptr<sim::PeerSim> peers_;
  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
  sim::WtpIdentity identity_;
  uint8_t next_seq_ = 1;
  std::vector<DecodedMessage> received_;
};

}  // namespace capwap::test
