// The fixture of the end-to-end exchanges: the real daemon as a child on a
// shortened second, a tshark capture of its ports when one can run, and the
// simulated WTPs and WMAC/WRRM/WIDS peers on this process's loop.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "e2e/daemon_process.h"
#include "e2e/tshark_capture.h"
#include "platform/thread.h"
#include "wtp-sim/wtp_fleet.h"
#include "wtp-sim/wtp_sim.h"
#include "peer-sim/peer_sim.h"

namespace capwap::test {

class BinaryLab : public ::testing::Test {
 protected:
  void Boot(uint32_t second_ms, uint32_t peer_delay_ms = 0) {
    daemon_ = std::make_unique<DaemonProcess>(DaemonProcess::Options{second_ms, ""});
    capture_ = std::make_unique<LoopbackCapture>(daemon_->root().path() + "/lo.pcapng",
                                                 daemon_->port_base());
    ASSERT_TRUE(daemon_->WaitReady()) << daemon_->output();
    master_ = thread_master_create(clock_, second_ms);
    sim::PeerSimOptions peer_options;
    peer_options.delay_ms = peer_delay_ms;
    peers_ = std::make_unique<sim::PeerSim>(master_.get(), peer_options);
    ASSERT_EQ(peers_->Start(), 0);
  }
  void TearDown() override {
    aps_.clear();
    if (peers_) peers_->Stop();
    peers_.reset();
    master_.reset();
    capture_.reset();
    daemon_.reset();
  }
  sim::SimWtp& AddAp(uint32_t index, bool ipv6 = false, uint64_t seed = 0) {
    sim::AcEndpoint ac;
    ac.address = ipv6 ? "::1" : "127.0.0.1";
    ac.ipv6 = ipv6;
    ac.control_port = daemon_->port_base();
    ac.data_port = static_cast<uint16_t>(daemon_->port_base() + 1);
    sim::WtpIdentity id = sim::MakeIdentity(sim::SimConfig{}, index);
    id.radios = sim::DefaultRadios(id.mac);
    aps_.push_back(std::make_unique<sim::SimWtp>(
        master_.get(), id, ac, sim::WtpTiming{}, sim::WtpKnobs{}, [](std::string_view) {},
        seed ? seed : 100 + index));
    return *aps_.back();
  }
  // Runs this process's loop until `done` holds or `limit` of real time passed.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      thread_master_poll(master_.get(), 5);
    }
    return true;
  }
  // Ends the capture: the control messages the daemon sent that Wireshark's
  // dissector finds malformed, or "skip: why" when tshark could not capture.
  std::string MalformedOnTheWire() {
    aps_.clear();
    if (!capture_->capturing()) return "skip: " + capture_->why();
    capture_->Stop();
    return capture_->Query(daemon_->port_base(), "_ws.malformed || _ws.expert.severity >= error");
  }
  std::string SentTypes() const {
    return capture_->Query(daemon_->port_base(), "capwap",
                           "-e capwap.control.header.message_type.enterprise_specific");
  }

  std::unique_ptr<DaemonProcess> daemon_;
  std::unique_ptr<LoopbackCapture> capture_;
  SteadyClock clock_;
  ThreadMasterPtr master_;
  std::unique_ptr<sim::PeerSim> peers_;
  std::vector<std::unique_ptr<sim::SimWtp>> aps_;
};

}  // namespace capwap::test
