// The scenario lab itself, and a first scenario: one simulated AP walks from
// Discovery towards Run against the real daemon, as far as the daemon's
// exchanges answer. Each step it cannot take yet ends the test as skipped;
// a step that is answered wrongly fails it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "registry/tables.h"
#include "registry/wtpcb.h"
#include "support/scenario.h"

namespace capwap::test {
namespace {

using sim::WtpState;

bool UdpPortFree(uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

TEST(ScenarioLab, BootsOnItsOwnPortsAndLeavesNothingBehind) {
  uint16_t base = 0;
  {
    ScenarioLab lab;
    ASSERT_TRUE(lab.booted());
    base = lab.port_base();
    ASSERT_NE(base, 0);
    EXPECT_EQ(std::getenv("CAPWAP_PORT_BASE"), std::to_string(base));
    EXPECT_FALSE(UdpPortFree(base));      // control
    EXPECT_FALSE(UdpPortFree(base + 1));  // data
    EXPECT_EQ(lab.peers() != nullptr, ScenarioLab::PeersBuilt());
    const size_t ap = lab.AddAp();
    EXPECT_EQ(lab.ap(ap).state(), WtpState::kIdle);
    lab.RunFor(3);
  }
  EXPECT_EQ(std::getenv("CAPWAP_PORT_BASE"), nullptr);
  EXPECT_TRUE(UdpPortFree(base));
  EXPECT_TRUE(UdpPortFree(base + 1));

  // A second daemon in the same process starts from nothing.
  ScenarioLab again;
  ASSERT_TRUE(again.booted());
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  EXPECT_EQ(g_uiCwApCount, 0u);
}

TEST(ScenarioLab, OneApWalksAsFarAsTheDaemonAnswers) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  const sim::SimWtp& wtp = lab.ap(ap);

  if (!lab.Discover(ap)) {
    ASSERT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
    // Unanswered, the AP keeps asking every discovery interval.
    EXPECT_EQ(wtp.state(), WtpState::kDiscovery);
    EXPECT_GE(wtp.counters().discovery_requests, 2u);
    GTEST_SKIP() << "Discovery Requests are not answered yet";
  }
  std::optional<DecodedMessage> discovery = lab.Received(ap, CW_MSG_DISCOVERY_RSP);
  ASSERT_TRUE(discovery);
  EXPECT_TRUE(discovery->complete);
  ASSERT_EQ(discovery->elements.size(), 4u);
  EXPECT_EQ(discovery->elements[0].value.size(), 156u);
  EXPECT_EQ(wtp.ac_priority(), 4);
  EXPECT_EQ(lab.Wtpcb(ap), nullptr) << "Discovery creates no AP record";

  if (!lab.Join(ap)) {
    ASSERT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
    GTEST_SKIP() << "Join Requests are not answered yet";
  }
  CW_WTPCB* record = lab.Wtpcb(ap);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->state, CW_STATE_JOIN);
  std::optional<DecodedMessage> join = lab.Received(ap, CW_MSG_JOIN_RSP);
  ASSERT_TRUE(join);
  ASSERT_FALSE(join->elements.empty());
  EXPECT_EQ(join->elements[0].type, 33);

  if (!lab.Configure(ap)) {
    ASSERT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
    GTEST_SKIP() << "Configuration Status Requests are not answered yet";
  }
  EXPECT_EQ(lab.Wtpcb(ap)->state, CW_STATE_CONFIG);
  EXPECT_NE(std::find(wtp.config_elements().begin(), wtp.config_elements().end(), 12),
            wtp.config_elements().end());

  if (!lab.Run(ap)) {
    ASSERT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
    GTEST_SKIP() << "Change State or the first keepalive is not answered yet";
  }
  EXPECT_EQ(lab.Wtpcb(ap)->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 1u);
  lab.RunFor(60);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_GE(wtp.counters().echo_answered, 5u);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
}

}  // namespace
}  // namespace capwap::test
