// Discovery and Join against the real binary: the daemon runs as a child
// under its own root and ports on a shortened second; simulated WTPs (IPv4
// and IPv6) and the simulated WMAC run on this process's loop. When tshark
// can capture on the loopback interface, every message the daemon sent is
// checked not to be malformed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "e2e/daemon_process.h"
#include "e2e/tshark_capture.h"
#include "support/fsm_lab.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "support/scenario.h"
#include "wtp-sim/wtp_messages.h"
#include "wtp-sim/wtp_sim.h"

#ifdef CAPWAP_HAVE_PEERSIM
#include "peer-sim/peer_sim.h"
#endif

namespace discjoin_test {
namespace {

using capwap::test::Capture;
using capwap::test::CreatedName;
using capwap::test::WtpEndpoint;
using capwap::test::DaemonProcess;
using capwap::test::LoopbackCapture;
using capwap::test::DecodedMessage;
using capwap::test::DecodeMessage;
using namespace std::chrono_literals;

constexpr uint32_t kSecondMs = 500;  // the daemon's join wait is 3 s of real time

class DiscoveryJoinBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    DaemonProcess::Options options;
    options.second_ms = kSecondMs;
    daemon_ = std::make_unique<DaemonProcess>(options);
    capture_ = std::make_unique<LoopbackCapture>(daemon_->root().path() + "/lo.pcapng",
                                                 daemon_->port_base());
    ASSERT_TRUE(daemon_->WaitReady()) << daemon_->output();
    daemon_->Vty("debug capwap all");
    master_ = thread_master_create(clock_, kSecondMs);
#ifdef CAPWAP_HAVE_PEERSIM
    peers_ = std::make_unique<capwap::sim::PeerSim>(master_.get(), capwap::sim::PeerSimOptions{});
    ASSERT_EQ(peers_->Start(), 0);
#endif
  }
  void TearDown() override {
    aps_.clear();
#ifdef CAPWAP_HAVE_PEERSIM
    if (peers_) peers_->Stop();
    peers_.reset();
#endif
    master_.reset();
    capture_.reset();
    daemon_.reset();
  }

  capwap::sim::SimWtp& AddAp(uint32_t index, bool ipv6) {
    capwap::sim::AcEndpoint ac;
    ac.address = ipv6 ? "::1" : "127.0.0.1";
    ac.ipv6 = ipv6;
    ac.control_port = daemon_->port_base();
    ac.data_port = static_cast<uint16_t>(daemon_->port_base() + 1);
    capwap::sim::WtpIdentity id = capwap::sim::MakeIdentity(capwap::sim::SimConfig{}, index);
    id.radios = capwap::sim::DefaultRadios(id.mac);
    aps_.push_back(std::make_unique<capwap::sim::SimWtp>(
        master_.get(), id, ac, capwap::sim::WtpTiming{}, capwap::sim::WtpKnobs{},
        [](std::string_view) {}, 100 + index));
    return *aps_.back();
  }
  // Runs this process's loop until `done` holds or `limit` of real time passed.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      thread_master_poll(master_.get(), 10);
    }
    return true;
  }
  bool Joined(capwap::sim::SimWtp& ap) {
    ap.SetRunUntil(capwap::sim::WtpStep::kJoin);
    if (ap.Start() != 0) return false;
    return RunUntil([&] { return ap.counters().joins > 0 || ap.counters().join_refusals > 0; });
  }
  // The datagrams `from` received within `limit`.
  std::vector<capwap::Bytes> Answers(const WtpEndpoint& from, std::chrono::milliseconds limit) {
    std::vector<capwap::Bytes> got;
    RunUntil(
        [&] {
          for (capwap::Bytes& d : from.Drain()) got.push_back(std::move(d));
          return !got.empty();
        },
        limit);
    return got;
  }
  static uint32_t ResultOf(const DecodedMessage& m) {
    const CwElement* result = m.Find(33);
    if (!result || result->value.size() != 4) return 0xFFFFFFFF;
    capwap::WireReader r(result->value);
    uint32_t v = 0;
    r.u32(v);
    return v;
  }

  std::unique_ptr<DaemonProcess> daemon_;
  std::unique_ptr<LoopbackCapture> capture_;
  capwap::SteadyClock clock_;
  ThreadMasterPtr master_;
#ifdef CAPWAP_HAVE_PEERSIM
  std::unique_ptr<capwap::sim::PeerSim> peers_;
#endif
  std::vector<std::unique_ptr<capwap::sim::SimWtp>> aps_;
};

TEST_F(DiscoveryJoinBinary, DiscoverJoinRefuseAndIpv6OnTheWire) {
  const uint16_t control = daemon_->port_base();

  // An unknown AP of a known model: priority 4, result 0, created as ap1.
  capwap::sim::SimWtp& first = AddAp(0, false);
  ASSERT_TRUE(Joined(first)) << daemon_->output();
  EXPECT_EQ(first.ac_priority(), 4);
  ASSERT_NE(first.LastReceived(CW_MSG_JOIN_RSP), nullptr);
  const DecodedMessage join = DecodeMessage(*first.LastReceived(CW_MSG_JOIN_RSP));
  EXPECT_EQ(ResultOf(join), 0u);
  EXPECT_EQ(join.Count(10), 1u);
  EXPECT_EQ(first.counters().protocol_errors, 0u) << first.last_error();

  // Another AP claiming the first one's session ID: result 6 and nothing else.
  capwap::sim::WtpIdentity twin = capwap::sim::MakeIdentity(capwap::sim::SimConfig{}, 5);
  twin.session_id = first.identity().session_id;
  WtpEndpoint twin_end;
  twin_end.SendTo(control, capwap::sim::BuildJoinRequest(twin, 0x44));
  std::vector<capwap::Bytes> twin_got = Answers(twin_end, 2s);
  ASSERT_EQ(twin_got.size(), 1u);
  const DecodedMessage refused = DecodeMessage(twin_got[0]);
  EXPECT_EQ(refused.ctl.msg_type, CW_MSG_JOIN_RSP);
  EXPECT_EQ(refused.ctl.seq, 0x44);
  ASSERT_EQ(refused.elements.size(), 1u);
  EXPECT_EQ(ResultOf(refused), 6u);

  // The first AP again from a new port while its session lives: no answer.
  capwap::sim::WtpIdentity rebooted = first.identity();
  rebooted.session_id.fill(0x5A);
  WtpEndpoint rebooted_end;
  rebooted_end.SendTo(control, capwap::sim::BuildDiscoveryRequest(rebooted, 1));
  rebooted_end.SendTo(control, capwap::sim::BuildJoinRequest(rebooted, 2));
  EXPECT_TRUE(Answers(rebooted_end, 600ms).empty());

  // An IPv6 AP is told the controller's address as element 11.
  capwap::sim::SimWtp& second = AddAp(1, true);
  ASSERT_TRUE(Joined(second)) << second.last_error();
  ASSERT_NE(second.LastReceived(CW_MSG_JOIN_RSP), nullptr);
  const DecodedMessage join6 = DecodeMessage(*second.LastReceived(CW_MSG_JOIN_RSP));
  EXPECT_EQ(ResultOf(join6), 0u);
  ASSERT_NE(join6.Find(11), nullptr);
  EXPECT_EQ(join6.Find(11)->value.size(), 18u);
  EXPECT_EQ(join6.Count(10), 0u);
  EXPECT_EQ(second.counters().protocol_errors, 0u) << second.last_error();

#ifdef CAPWAP_HAVE_PEERSIM
  std::vector<std::string> created;
  RunUntil([&] { return peers_->CountReceived(capwap::sim::Peer::kWmac, 0) >= 2; }, 2s);
  for (const capwap::sim::PeerMessage& m : peers_->received()) {
    if (m.peer == capwap::sim::Peer::kWmac && m.type == 0) created.push_back(CreatedName(m.payload));
  }
  EXPECT_EQ(created, (std::vector<std::string>{"ap1", "ap2"}));
#endif
  const std::string log = daemon_->output();
  EXPECT_NE(log.find(" Session ID is in use, so Join Request rejected."), std::string::npos) << log;
  EXPECT_NE(log.find(" Receiving Discovery request under wrong state."), std::string::npos) << log;
  EXPECT_NE(log.find(" Receiving Join Request under wrong state ."), std::string::npos) << log;

  // Everything the daemon sent, as Wireshark's CAPWAP dissector sees it.
  aps_.clear();
  if (!capture_->capturing()) GTEST_SKIP() << capture_->why();
  capture_->Stop();
  const std::string file = daemon_->root().path() + "/lo.pcapng";
  const std::string decode_as = " -d udp.port==" + std::to_string(control) + ",capwap";
  const std::string from_daemon = "udp.srcport==" + std::to_string(control);
  const std::string read = "tshark -r " + file + decode_as + " 2>/dev/null";
  const std::string sent =
      Capture(read + " -Y '" + from_daemon + " && capwap' -T fields -e " +
              "capwap.control.header.message_type.enterprise_specific");
  EXPECT_NE(sent.find("2\n"), std::string::npos) << "no Discovery Response decoded:\n" << sent;
  EXPECT_NE(sent.find("4\n"), std::string::npos) << "no Join Response decoded:\n" << sent;
  const std::string bad = Capture(read + " -Y '" + from_daemon +
                                  " && (_ws.malformed || _ws.expert.severity >= error)'");
  EXPECT_EQ(bad, "") << Capture(read + " -Y '" + from_daemon + "' -O capwap");
}

}  // namespace
}  // namespace discjoin_test
