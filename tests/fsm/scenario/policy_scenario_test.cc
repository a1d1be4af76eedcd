// Security policy end to end: the switch-protection batch and the wired-LAN
// VLANs an AP gets when it enters Run, then WMAC's policy requests played by
// the peer simulator from its script lines, all over real sockets, with
// the simulated AP checking every policy element and refusing one kind.
#include <gtest/gtest.h>

#include <cstring>

#include "config/db_tables.h"
#include "peer-sim/peer_sim.h"
#include "peer-sim/wlan_script.h"
#include "platform/dbm.h"
#include "platform/log.h"
#include "relay/policy.h"
#include "support/controller.h"
#include "wtp-sim/wtp_sim.h"

namespace capwap::test {
namespace {

TEST(Scenario, PolicyReachesARunningApFromTheSettingsAndFromWmac) {
  ScenarioOptions options;
  options.wtp.knobs.policy_results[vendor_elem::kPortalDomain] = 1;
  ScenarioLab lab(options);
  ASSERT_TRUE(lab.booted());
  ASSERT_NE(lab.peers(), nullptr);
  for (const char* key : {kDhcpSnoopKey, kArpAntiAttackKey}) {
    ASSERT_EQ(DBM_Store(kDbDaemonSettings, key, strlen(key) + 1, "\x01", 1), 0);
  }
  const uint32_t acl = 1;
  Bytes record = Cat({HostU32(0), HostU32(3), Fill(0, 268), HostU32(35), Fill(0x21, 35 * 80)});
  ASSERT_EQ(DBM_Store(kDbAcl, &acl, sizeof acl, record.data(), record.size()), 0);

  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  lab.RunFor(3);
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  const sim::WtpCounters& counters = lab.ap(ap).counters();
  // The batch's two switch-protection elements, element 85 and element 213.
  EXPECT_EQ(counters.policy_settings, 4u);
  EXPECT_EQ(wtp->sndq.count, 0u) << "every Run-entry request answered";

  const std::string id = std::to_string(wtp->apid);
  std::vector<sim::ScriptStep> steps;
  for (const std::string& line : std::vector<std::string>{
           "# one of each", "user-isolation " + id + " 1 0 1", "l2-acl " + id + " 2 1 1 1",
           "dhcp-snooping 1 01", "vlan-isolate " + id + " 0a0b", "acl-rule " + id + " 7 1 2 aabb",
           "wlan-acl " + id + " 1 1 2 9", "portal-domain " + id + " 1 portal.lan"}) {
    std::string why;
    ASSERT_TRUE(sim::ParseScriptLine(line, &steps, &why)) << why;
  }
  ASSERT_EQ(steps.size(), 7u);
  g_ulCwDebugBitmap = kDbgError;
  LogCapture log;
  sim::WmacScript script(lab.master(), *lab.peers(), steps);
  script.Start();
  lab.RunFor(10);
  EXPECT_TRUE(script.done());
  // The ACL's 35 entries of kind 3 went as 34 (a request in two fragments)
  // and 1.
  EXPECT_EQ(counters.policy_settings, 4u + 8u);
  EXPECT_EQ(counters.protocol_errors, 0u) << lab.ap(ap).last_error();
  EXPECT_TRUE(log.Contains(" Result code 1 frome Config Update Response frame.")) << log.text();
  EXPECT_EQ(wtp->sndq.count, 0u);
  EXPECT_EQ(wtp->state, kStateRun);
}

}  // namespace
}  // namespace capwap::test
