// One scenario per path of an AP through the booted daemon on a manual
// clock, with the WTP simulator on loopback UDP and the peer simulator
// playing WMAC, WRRM and WIDS.
#include <gtest/gtest.h>

#include <fstream>

#include "peer-sim/peer_sim.h"
#include "config/images.h"
#include "daemon/capwap.h"
#include "platform/paths.h"
#include "support/fsm_lab.h"
#include "wtp-sim/wtp_sim.h"

namespace capwap::test {
namespace {

std::vector<sim::PeerMessage> WmacOf(ScenarioLab& lab, uint32_t type) {
  lab.Settle();
  std::vector<sim::PeerMessage> out;
  for (const sim::PeerMessage& m : lab.peers()->received()) {
    if (m.peer == sim::Peer::kWmac && m.type == type) out.push_back(m);
  }
  return out;
}

TEST(Scenario, AnUnknownApGoesFromDiscoveryToRunAndIsKeptByItsEchoes) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  ASSERT_NE(lab.peers(), nullptr);
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap));
  EXPECT_EQ(lab.ap(ap).ac_priority(), 4);
  EXPECT_EQ(lab.Wtpcb(ap), nullptr) << "Discovery creates no record";

  ASSERT_TRUE(lab.Join(ap));
  std::optional<DecodedMessage> join = lab.Received(ap, CW_MSG_JOIN_RSP);
  ASSERT_TRUE(join);
  EXPECT_EQ(ResultOf(*join), 0u);
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->session_id, lab.ap(ap).identity().session_id);
  std::vector<sim::PeerMessage> created = WmacOf(lab, WMAC_MSG_CREATE_AP);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(CreatedName(created[0].payload), "ap1");

  ASSERT_TRUE(lab.Configure(ap));
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  EXPECT_EQ(WmacOf(lab, WMAC_MSG_RADIO_STATE).size(), 1u);
  std::vector<sim::PeerMessage> tunnel = WmacOf(lab, WMAC_MSG_TUNNEL_STATE);
  ASSERT_EQ(tunnel.size(), 1u);
  CW_TUNNEL_RECORD up;
  ASSERT_TRUE(TunnelRecordDecode(tunnel[0].payload, &up));
  EXPECT_EQ(up.state, CW_TUNNEL_UP);
  EXPECT_EQ(up.wtp_data_port, lab.ap(ap).data_port());

  const uint16_t interval = wtp->echo_interval;
  ASSERT_GT(interval, 0);
  lab.RunFor(5.0 * interval);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_GE(lab.ap(ap).counters().echo_answered, 4u);
  EXPECT_EQ(lab.ap(ap).counters().protocol_errors, 0u) << lab.ap(ap).last_error();
}

// The built-in file keeps its own name; the AP takes it in blocks of 1024,
// 1024 and 452 octets, checks size and digest, restarts and rejoins on it.
TEST(Scenario, AnApOfferedAnImageDownloadsItAndComesBackOnIt) {
  struct ImageTableCleared {
    ~ImageTableCleared() { ImageTableReset(); }
  } cleared;
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const std::string file = RootPath("/usr/sbin/apimage/ia-210-2.0.0-build7.bin");
  ASSERT_TRUE(MakeParentDirs(file));
  std::ofstream(file, std::ios::binary) << std::string(2500, 'x');
  // The simulated AP runs 1.0.0; the table holds 2.0.0 with automatic upgrade.
  ASSERT_EQ(AC_ApVerDbInit(nullptr), 0);
  ImageRecordOf(sim::kSimVendorId, "ia-210")->auto_upgrade = 1;
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Join(ap));
  std::optional<DecodedMessage> join = lab.Received(ap, CW_MSG_JOIN_RSP);
  ASSERT_TRUE(join);
  const CwElement* image = join->Find(25);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->value.data()) + 4 + 36 + 4), "2.0.0");

  EXPECT_FALSE(lab.Run(ap, 60)) << "the AP restarts on its new image";
  lab.RunFor(lab.ap(ap).timing().restart_delay + 5);
  ASSERT_EQ(lab.ap(ap).state(), sim::WtpState::kRun) << lab.ap(ap).last_error();
  const sim::WtpCounters& counters = lab.ap(ap).counters();
  EXPECT_EQ(counters.image_blocks, 3u);
  EXPECT_EQ(counters.images_installed, 1u);
  EXPECT_EQ(counters.image_failures + counters.protocol_errors, 0u) << lab.ap(ap).last_error();
  EXPECT_EQ(lab.ap(ap).identity().sw_version, "2.0.0");
  EXPECT_EQ(counters.joins, 2u) << "the session ended after the last block";
}

}  // namespace
}  // namespace capwap::test
