// Discovery and Join against the booted daemon on a manual clock, with the
// WTP simulator on loopback UDP (IPv4 and IPv6) and the peer simulator
// playing WMAC.
#include <gtest/gtest.h>

#include "fsm/discovery/discjoin_lab.h"
#include "fsm/join.h"
#include "platform/paths.h"
#include "support/scenario.h"
#include "wtp-sim/wtp_messages.h"
#include "wtp-sim/wtp_sim.h"

#ifdef CAPWAP_HAVE_PEERSIM
#include "peer-sim/peer_sim.h"
#endif

namespace discjoin_test {
namespace {

using namespace capwap::test;
using capwap::sim::WtpState;

// Every create-AP notification WMAC received, as AP names.
std::vector<std::string> CreatedAps(ScenarioLab& lab) {
  std::vector<std::string> names;
#ifdef CAPWAP_HAVE_PEERSIM
  lab.Settle();
  for (const capwap::sim::PeerMessage& m : lab.peers()->received()) {
    if (m.peer == capwap::sim::Peer::kWmac && m.type == 0) names.push_back(CreatedName(m.payload));
  }
#else
  (void)lab;
#endif
  return names;
}

uint32_t ResultOf(const DecodedMessage& m) {
  const CwElement* result = m.Find(33);
  if (!result || result->value.size() != 4) return 0xFFFFFFFF;
  capwap::WireReader r(result->value);
  uint32_t v = 0;
  r.u32(v);
  return v;
}

// A datagram the AP at `ap` sends by hand, built by the simulator's builders.
void SendRaw(ScenarioLab& lab, const WtpEndpoint& from, const capwap::Bytes& datagram) {
  from.SendTo(lab.port_base(), datagram);
  lab.Settle();
}

TEST(DiscoveryJoinScenario, AnUnknownApOfAKnownModelDiscoversJoinsAndIsCreatedAtWmac) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap));
  EXPECT_EQ(lab.ap(ap).ac_priority(), 4);
  std::optional<DecodedMessage> discovery = lab.Received(ap, CW_MSG_DISCOVERY_RSP);
  ASSERT_TRUE(discovery);
  EXPECT_TRUE(discovery->complete);
  EXPECT_EQ(lab.Wtpcb(ap), nullptr);

  ASSERT_TRUE(lab.Join(ap));
  std::optional<DecodedMessage> join = lab.Received(ap, CW_MSG_JOIN_RSP);
  ASSERT_TRUE(join);
  EXPECT_EQ(ResultOf(*join), 0u);
  EXPECT_EQ(join->Count(10), 1u);
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->name, "ap1");
  EXPECT_EQ(wtp->auto_created, 1);
  EXPECT_EQ(wtp->session_id, lab.ap(ap).identity().session_id);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  EXPECT_EQ(lab.ap(ap).counters().protocol_errors, 0u) << lab.ap(ap).last_error();
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  EXPECT_EQ(CreatedAps(lab), (std::vector<std::string>{"ap1"}));
}

TEST(DiscoveryJoinScenario, ASecondJoinWithTheSameSessionIdGetsResultSix) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Join(ap));
  const uint32_t concurrent = g_uiCwConcurrentWTPS;

  capwap::sim::WtpIdentity twin = capwap::sim::MakeIdentity(capwap::sim::SimConfig{}, 7);
  twin.radios = capwap::sim::DefaultRadios(twin.mac);
  twin.session_id = lab.ap(ap).identity().session_id;
  WtpEndpoint other;
  SendRaw(lab, other, capwap::sim::BuildJoinRequest(twin, 0x31));
  std::vector<Bytes> got = other.Drain();
  ASSERT_EQ(got.size(), 1u);
  const DecodedMessage answer = DecodeMessage(got[0]);
  EXPECT_EQ(answer.ctl.msg_type, CW_MSG_JOIN_RSP);
  EXPECT_EQ(answer.ctl.seq, 0x31);
  ASSERT_EQ(answer.elements.size(), 1u);
  EXPECT_EQ(ResultOf(answer), 6u);
  EXPECT_EQ(CW_AC_GetWTPByMac(twin.mac), nullptr);
  EXPECT_EQ(g_uiCwConcurrentWTPS, concurrent);
  EXPECT_EQ(lab.Wtpcb(ap)->state, CW_STATE_JOIN);
}

TEST(DiscoveryJoinScenario, ARecordPastIdleGetsNoAnswerToDiscoveryOrJoin) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Join(ap));

  // The same AP after a reboot, from a new port, while its session lives.
  capwap::sim::WtpIdentity rebooted = lab.ap(ap).identity();
  rebooted.session_id.fill(0x5A);
  WtpEndpoint other;
  SendRaw(lab, other, capwap::sim::BuildDiscoveryRequest(rebooted, 1));
  SendRaw(lab, other, capwap::sim::BuildJoinRequest(rebooted, 2));
  lab.RunFor(1);
  EXPECT_TRUE(other.Drain().empty());
  EXPECT_EQ(lab.Wtpcb(ap)->state, CW_STATE_JOIN);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(rebooted.session_id), nullptr);
}

TEST(DiscoveryJoinScenario, AnIpv6ApGetsTheIpv6AddressElementAtJoin) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  capwap::sim::AcEndpoint ac;
  ac.address = "::1";
  ac.ipv6 = true;
  ac.control_port = lab.port_base();
  ac.data_port = static_cast<uint16_t>(lab.port_base() + 1);
  capwap::sim::WtpIdentity id = capwap::sim::MakeIdentity(capwap::sim::SimConfig{}, 3);
  id.radios = capwap::sim::DefaultRadios(id.mac);
  capwap::sim::SimWtp wtp(lab.master(), id, ac, capwap::sim::WtpTiming{}, capwap::sim::WtpKnobs{},
                          [](std::string_view) {}, 9);
  wtp.SetRunUntil(capwap::sim::WtpStep::kJoin);
  ASSERT_EQ(wtp.Start(), 0);
  lab.Settle();
  for (int i = 0; i < 10 && wtp.counters().joins == 0; ++i) lab.RunFor(1);
  ASSERT_EQ(wtp.counters().joins, 1u) << wtp.last_error();

  const capwap::Bytes* discovery = wtp.LastReceived(CW_MSG_DISCOVERY_RSP);
  ASSERT_NE(discovery, nullptr);
  EXPECT_EQ(DecodeMessage(*discovery).Count(10), 1u) << "Discovery always names IPv4";
  const capwap::Bytes* join = wtp.LastReceived(CW_MSG_JOIN_RSP);
  ASSERT_NE(join, nullptr);
  const DecodedMessage answer = DecodeMessage(*join);
  ASSERT_NE(answer.Find(11), nullptr);
  EXPECT_EQ(answer.Find(11)->value.size(), 18u);
  EXPECT_EQ(answer.Count(10), 0u);
  CW_WTPCB* record = CW_AC_GetWTPByMac(id.mac);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->remote.family, 1);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
  wtp.Stop();
}

TEST(DiscoveryJoinScenario, AnImageIsOfferedWhenTheTableSaysSo) {
  struct ImageTableCleared {
    ~ImageTableCleared() { ImageTableReset(); }
  } cleared;
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  // The simulated AP runs 1.0.0; the table holds 2.0.0 with automatic upgrade.
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(capwap::sim::kSimVendorId, "ia-210", "2.0.0", "", 1), 0);
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Join(ap));
  std::optional<DecodedMessage> join = lab.Received(ap, CW_MSG_JOIN_RSP);
  ASSERT_TRUE(join);
  const CwElement* image = join->Find(25);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->value.size(), 112u);
  capwap::WireReader r(image->value);
  uint32_t vendor = 0;
  r.u32(vendor);
  EXPECT_EQ(vendor, capwap::sim::kSimVendorId);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->value.data()) + 4 + 36 + 4), "2.0.0");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->value.data()) + 4 + 72 + 4),
            "ia-210-2.0.0");
  EXPECT_EQ(lab.ap(ap).state(), WtpState::kImage) << "the AP goes for the image first";
}

TEST(DiscoveryJoinScenario, AJoinedApThatSaysNothingMoreIsTornDownAtSixSeconds) {
  ScenarioOptions options;
  options.wtp.knobs.skip_config_status = true;
  ScenarioLab lab(std::move(options));
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Join(ap));
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  ASSERT_TRUE(wtp->join_timer.Running());
  ASSERT_DOUBLE_EQ(wtp->join_timer.RemainingSeconds(), 6.0);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);

  lab.RunFor(5);
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  lab.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  EXPECT_EQ(wtp->concurrency_flag, 0);
  EXPECT_EQ(lab.Wtpcb(ap), wtp) << "the record stays";
}

}  // namespace
}  // namespace discjoin_test
