// Paths of an AP through the booted daemon on a manual clock that the
// binary's life-cycle test does not take (an image download, a declared AP
// and configuration pushed in Run), with the WTP simulator on loopback UDP
// and the peer simulator playing WMAC, WRRM and WIDS. The plain path from
// Discovery to Run is tested once per exchange in the handler tests and
// once end to end against the binary (tests/e2e).
#include <gtest/gtest.h>

#include <fstream>

#include "peer-sim/peer_sim.h"
#include "config/images.h"
#include "daemon/capwap.h"
#include "platform/cli.h"
#include "platform/paths.h"
#include "support/controller.h"
#include "wtp-sim/wtp_sim.h"

namespace capwap::test {
namespace {

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
  std::optional<DecodedMessage> join = lab.Received(ap, kMsgJoinRsp);
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

TEST(Scenario, ADeclaredApJoinsUnderItsNameAndHearsEachChangeOnceInRunOnly) {
  ScenarioOptions options;
  options.config_text =
      "wlan auto-ap disable\n"
      "wlan ap lobby model ia-210 apid 7\n mac-address 0200.0000.0101\n!\n"
      "wlan ap hall model ia-210 apid 8\n mac-address 0200.0000.0102\n!\n";
  ScenarioLab lab(options);
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp(), joined = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap)) << "found as declared, with automatic admission off";
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->name + "/" + std::to_string(wtp->apid), "lobby/7");
  ASSERT_TRUE(lab.Join(joined));
  lab.RunFor(1);

  auto v = vty_new_internal(capwapm, CONFIG_NODE);
  // Each command in the AP node, and the one element its request must carry.
  const struct {
    const char* line;
    uint16_t element;
    Bytes value;
    double dead_timer;  // seconds left on the neighbour-dead timer afterwards
  } changes[] = {
      {"echo-interval 20", 12, {3, 20}, 80},
      {"led-mode quiet", 58, {1}, 80},
      {"lan-port 1 shutdown", 66, {1, 0}, 80},
      {"no echo-interval", 12, {3, 10}, 40},
  };
  ASSERT_EQ(cli_execute(capwapm, v.get(), "wlan ap lobby"), CLI_SUCCESS);
  for (const auto& change : changes) {
    const uint64_t before = lab.ap(ap).counters().ac_requests;
    ASSERT_EQ(cli_execute(capwapm, v.get(), change.line), CLI_SUCCESS) << v->out;
    EXPECT_NEAR(wtp->nbr_dead_timer.RemainingSeconds(), change.dead_timer, 0.01) << change.line;
    lab.Settle();
    EXPECT_EQ(lab.ap(ap).counters().ac_requests, before + 1) << change.line;
    std::optional<DecodedMessage> update = lab.Received(ap, kMsgCfgUpdateReq);
    ASSERT_TRUE(update && update->elements.size() == 1) << change.line;
    EXPECT_EQ(update->elements[0].type, change.element) << change.line;
    EXPECT_EQ(Bytes(update->elements[0].value.begin(), update->elements[0].value.end()),
              change.value)
        << change.line;
  }
  ASSERT_EQ(cli_execute(capwapm, v.get(), "wlan ap hall"), CLI_SUCCESS);
  for (const char* line : {"echo-interval 20", "led-mode quiet", "lan-port 1 shutdown"}) {
    ASSERT_EQ(cli_execute(capwapm, v.get(), line), CLI_SUCCESS) << line;
  }
  lab.Settle();
  EXPECT_FALSE(lab.Received(joined, kMsgCfgUpdateReq)) << "nothing is pushed outside Run";
  EXPECT_EQ(lab.ap(ap).counters().protocol_errors, 0u) << lab.ap(ap).last_error();
}

}  // namespace
}  // namespace capwap::test
