// The whole life of an AP against the real binary (on a 300 ms second): Run
// with the peers' answers, a Configuration Update from WMAC retransmitted
// until answered, and the teardown of an AP that stops echoing. No timing is
// asserted and the waits are upper bounds only (a loaded machine stretches
// wall-clock gaps); the schedules are tested on the manual clock.
#include "e2e/binary_lab.h"
#include "platform/bytes.h"
#include "relay/wmac.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;
using sim::Peer;
constexpr auto kPatience = 60s;

class Lifecycle : public BinaryLab {
 protected:
  // Each peer answers 2 timer seconds late.
  void SetUp() override { Boot(300, 600); }
  const sim::PeerMessage* Wmac(uint32_t type) const {
    return peers_->LastReceived(Peer::kWmac, type);
  }
};

uint32_t HostWord(const Bytes& payload, size_t offset) {
  HostReader r(payload);
  uint32_t v = 0;
  r.skip(offset);
  r.u32(v);
  return v;
}

TEST_F(Lifecycle, DiscoveryToRunUpdateAndEchoSupervision) {
  sim::SimWtp& ap = AddAp(0, false, 7);
  ASSERT_EQ(ap.Start(), 0);

  // The Configuration Status Response waits for all three peers: at the
  // moment the AP holds it, each of them has already answered.
  ASSERT_TRUE(RunUntil([&] { return ap.counters().configurations > 0; }, kPatience))
      << ap.last_error() << daemon_->output();
  EXPECT_GE(peers_->CountAnswered(Peer::kWmac, 3), 1u);
  EXPECT_GE(peers_->CountAnswered(Peer::kWrrm, 16), 1u);
  EXPECT_GE(peers_->CountAnswered(Peer::kWids, 25), 1u);
  ASSERT_TRUE(RunUntil([&] { return ap.state() == sim::WtpState::kRun; }, kPatience))
      << ap.last_error() << daemon_->output();
  EXPECT_EQ(ap.counters().protocol_errors, 0u) << ap.last_error();

  // WMAC was told everything, in the record layouts.
  ASSERT_TRUE(RunUntil([&] { return Wmac(WmacMsg::kTunnelState) != nullptr; }, kPatience));
  const sim::PeerMessage* created = Wmac(WmacMsg::kCreateAp);
  ASSERT_NE(created, nullptr);
  ASSERT_EQ(created->payload.size(), kWmacCreateApSize);
  EXPECT_STREQ(reinterpret_cast<const char*>(created->payload.data() + 32), "ap1");
  EXPECT_EQ(created->payload[71], 1);  // created by automatic admission
  ASSERT_NE(Wmac(WmacMsg::kRdBind), nullptr);
  EXPECT_FALSE(Wmac(WmacMsg::kRdBind)->payload.empty());
  ASSERT_NE(Wmac(WmacMsg::kRadioState), nullptr);
  EXPECT_EQ(Wmac(WmacMsg::kRadioState)->payload.size(), 12u);
  const sim::PeerMessage* info = Wmac(WmacMsg::kApInfo);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->payload.size(), kWmacApInfoSize);
  EXPECT_EQ(HostWord(info->payload, 0), 1u);
  EXPECT_TRUE(
      std::equal(ap.identity().mac.begin(), ap.identity().mac.end(), info->payload.begin() + 132));
  const sim::PeerMessage* up = Wmac(WmacMsg::kTunnelState);
  ASSERT_EQ(up->payload.size(), kTunnelRecordSize);
  EXPECT_EQ(HostWord(up->payload, 0), 1u);  // up
  EXPECT_EQ(HostWord(up->payload, 4), 1u);  // APID

  // After the Run-entry pushes (time, switch protection, two LAN VLANs), a
  // Configuration Update from WMAC (item 36) whose first three transmissions
  // the AP ignores: repeated until answered, then no more.
  ASSERT_TRUE(RunUntil([&] { return ap.counters().ac_requests >= 4; }, kPatience));
  ap.knobs().config_updates_to_ignore = 3;
  const uint64_t answered = ap.counters().ac_requests;
  const uint16_t stats_interval = 60;
  IpcHead head;
  head.msg_type = 14;
  head.wtp_id = 1;
  head.param = 36;
  head.payload_len = sizeof stats_interval;
  ASSERT_TRUE(peers_->SendToAc(Peer::kWmac, head,
                               ByteView(reinterpret_cast<const uint8_t*>(&stats_interval), 2)));
  ASSERT_TRUE(RunUntil([&] { return ap.counters().ac_requests > answered; }, kPatience));
  EXPECT_EQ(ap.counters().ac_requests_ignored, 3u);
  RunUntil([] { return false; }, 2000ms);  // more than one 5-second wait
  EXPECT_EQ(ap.counters().ac_requests - answered + ap.counters().ac_requests_ignored, 4u);
  EXPECT_EQ(ap.state(), sim::WtpState::kRun);

  // Silence: the session ends and WMAC hears the tunnel go down.
  ap.knobs().silent_echo = true;
  ap.timing().stay_down = true;
  ASSERT_TRUE(RunUntil(
      [&] {
        const sim::PeerMessage* last = Wmac(WmacMsg::kTunnelState);
        return last && HostWord(last->payload, 0) == 0;
      },
      kPatience))
      << daemon_->output();
  std::string table = daemon_->Vty("show wlan ap all");
  EXPECT_NE(table.find("Running/Total APs                       :0/1"), std::string::npos) << table;

  // Wireshark's dissector sees no malformed control message from the daemon.
  const std::string bad = MalformedOnTheWire();
  if (bad.starts_with("skip: ")) GTEST_SKIP() << bad;
  for (const char* expected : {"2\n", "4\n", "6\n", "7\n", "12\n", "14\n"}) {
    EXPECT_NE(SentTypes().find(expected), std::string::npos) << "missing type " << expected;
  }
  // Elements 50 and 51 of the Configuration Status Response (LAN IP and LAN
  // DHCP) mean other elements to the dissector; they are sent only with LAN
  // settings, which this AP has not, so no exception applies.
  EXPECT_EQ(bad, "");
}

}  // namespace
}  // namespace capwap::test

