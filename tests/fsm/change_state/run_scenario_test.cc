// Scenarios against the booted daemon on a manual clock: an AP reaches Run
// and is kept alive by its Echo Requests until it falls silent; WMAC (the
// peer simulator) sees the radio states, the tunnel come up and go down.
#include <gtest/gtest.h>
#include <net/if.h>

#include "fsm/change_state/run_fixture.h"
#include "support/scenario.h"
#include "transport/recv.h"

namespace run_test {
namespace {

using namespace capwap::test;

std::vector<capwap::sim::PeerMessage> WmacOf(ScenarioLab& lab, uint32_t type) {
  lab.Settle();
  std::vector<capwap::sim::PeerMessage> out;
  for (const capwap::sim::PeerMessage& m : lab.peers()->received()) {
    if (m.peer == Peer::kWmac && m.type == type) out.push_back(m);
  }
  return out;
}

std::optional<CW_TUNNEL_RECORD> LastTunnel(ScenarioLab& lab) {
  auto records = WmacOf(lab, WMAC_MSG_TUNNEL_STATE);
  CW_TUNNEL_RECORD rec;
  if (records.empty() || !TunnelRecordDecode(records.back().payload, &rec)) return std::nullopt;
  return rec;
}

// The session a Join leaves behind, made by hand on the booted daemon: the
// AP record bound to `control` in Configure, waiting for Change State.
CW_WTPCB* JoinedWtp(ScenarioLab& lab, const WtpEndpoint& control, uint8_t seed) {
  CW_WTPCB* wtp = CW_AC_CreateWTP("ia-210", 0xFFFFFFFF, "", 0);
  if (!wtp) return nullptr;
  wtp->mac = {0x02, 0x00, 0x00, 0x00, 0x09, seed};
  wtp->state = CW_STATE_CONFIG;
  wtp->master_status = 1;
  wtp->local.ifindex = if_nametoindex("lo");
  wtp->local.local_ipv4 = INADDR_LOOPBACK;
  wtp->local.SetIpv4(INADDR_LOOPBACK);
  wtp->local.port = lab.port_base();
  wtp->concurrency_flag = 1;
  ++g_uiCwConcurrentWTPS;
  CW_AC_AddWTPByIP(control.Addr(), wtp);
  CW_AC_AddWTPBySESSID(SessionOf(seed), wtp);
  wtp->chg_state_timer.Start(lab.master(), 10, CW_AC_ChgStateTimerHandler, wtp);
  return wtp;
}

TEST(RunScenario, ChangeStateKeepaliveEchoesThenSilence) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  WtpEndpoint control, data;
  CW_WTPCB* wtp = JoinedWtp(lab, control, 1);
  ASSERT_NE(wtp, nullptr);
  const uint16_t control_port = lab.port_base();
  const uint16_t data_port = static_cast<uint16_t>(lab.port_base() + 1);

  // Change State Event Request: radio states to WMAC, empty response.
  control.SendTo(control_port, ControlDatagram(CW_MSG_CHG_STATE_REQ, 3,
                                               Cat({Element(32, Hex("01 02 00")),
                                                    Element(32, Hex("02 02 00"))})));
  lab.Settle();
  std::vector<Bytes> sent = OfType(control.Drain(), CW_MSG_CHG_STATE_RSP);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), kCwHeadersLen);
  EXPECT_EQ(SeqOf(sent[0]), 3);
  auto radio = WmacOf(lab, WMAC_MSG_RADIO_STATE);
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].payload, Hex("01 02 00 02 02 00 00 00 00 00 00 00"));
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);

  // The first keepalive, a few seconds later, opens Run.
  lab.RunFor(3);
  const uint32_t concurrent = g_uiCwConcurrentWTPS;
  data.SendTo(data_port, Keepalive(SessionOf(1)));
  lab.Settle();
  EXPECT_EQ(data.Drain().size(), 1u);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, concurrent - 1);
  std::optional<CW_TUNNEL_RECORD> up = LastTunnel(lab);
  ASSERT_TRUE(up);
  EXPECT_EQ(up->state, CW_TUNNEL_UP);
  EXPECT_EQ(up->wtp_data_port, data.port());
  EXPECT_EQ(WmacOf(lab, WMAC_MSG_AP_INFO).size(), 1u);

  // The controller's time arrives as a Configuration Update; the AP answers.
  std::vector<Bytes> updates = OfType(control.Drain(), CW_MSG_CFG_UPDATE_REQ);
  ASSERT_EQ(updates.size(), 1u);
  DecodedMessage update = DecodeMessage(updates[0]);
  ASSERT_NE(update.Find(6), nullptr);
  control.SendTo(control_port, ControlDatagram(CW_MSG_CFG_UPDATE_RSP, SeqOf(updates[0]),
                                               Element(33, U32(0))));
  lab.Settle();
  EXPECT_EQ(wtp->sndq.count, 0u);

  // Echo Requests every 10 seconds keep it; each is answered.
  for (uint8_t i = 0; i < 6; ++i) {
    lab.RunFor(10);
    control.SendTo(control_port,
                   ControlDatagram(CW_MSG_ECHO_REQ, static_cast<uint8_t>(10 + i), SessionElement(1)));
    lab.Settle();
  }
  std::vector<Bytes> echoes = OfType(control.Drain(), CW_MSG_ECHO_RSP);
  ASSERT_EQ(echoes.size(), 6u);
  for (const Bytes& e : echoes) EXPECT_EQ(SeqOf(e), 3) << "the Change State Request's number";
  EXPECT_EQ(wtp->state, CW_STATE_RUN);

  // Silent: torn down after four echo intervals, WMAC told the tunnel is down.
  lab.RunFor(39);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  lab.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwApCount, 0u);
  std::optional<CW_TUNNEL_RECORD> down = LastTunnel(lab);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->state, CW_TUNNEL_DOWN);
  EXPECT_EQ(down->apid, wtp->apid);

  // Its keepalives now find no session.
  data.SendTo(data_port, Keepalive(SessionOf(1)));
  lab.Settle();
  EXPECT_TRUE(data.Drain().empty());
}

// The whole road with the WTP simulator, once Discovery, Join and the
// Configuration Status exchange answer.
TEST(RunScenario, SimulatedApFromDiscoveryToRunAndDown) {
  ScenarioOptions options;
  options.wtp.timing.stay_down = true;
  ScenarioLab lab(std::move(options));
  ASSERT_TRUE(lab.booted());
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  for (uint32_t type : {CW_MSG_DISCOVERY_REQ, CW_MSG_JOIN_REQ, CW_MSG_CFG_STATUS_REQ}) {
    if (!AC_GetMsgHandler(type)) GTEST_SKIP() << CW_MsgTypeName(type) << " is not handled yet";
  }
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap));
  ASSERT_TRUE(lab.Join(ap));
  ASSERT_TRUE(lab.Configure(ap));
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  std::optional<CW_TUNNEL_RECORD> up = LastTunnel(lab);
  ASSERT_TRUE(up);
  EXPECT_EQ(up->state, CW_TUNNEL_UP);
  EXPECT_EQ(up->wtp_data_port, lab.ap(ap).data_port());
  EXPECT_GE(WmacOf(lab, WMAC_MSG_RADIO_STATE).size(), 1u);

  // Echoes for a while, answered with the AP's last other request number.
  const uint16_t interval = wtp->echo_interval;
  ASSERT_GT(interval, 0);
  lab.RunFor(5.0 * interval);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_GE(lab.ap(ap).counters().echo_answered, 4u);
  EXPECT_EQ(lab.ap(ap).counters().protocol_errors, 0u) << lab.ap(ap).last_error();

  lab.ap(ap).knobs().silent_echo = true;
  lab.RunFor(4.0 * interval + 1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwApCount, 0u);
  std::optional<CW_TUNNEL_RECORD> down = LastTunnel(lab);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->state, CW_TUNNEL_DOWN);
}

}  // namespace
}  // namespace run_test
