// The Configuration Status exchange against the booted daemon: the request
// over loopback UDP, the three answers from the simulated peers over their
// real sockets, and the response the AP receives, on the manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "diag/debug.h"
#include "fsm/config_status.h"
#include "fsm/config_status/config_lab.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "registry/session.h"
#include "relay/radio_binding.h"
#include "support/truncation.h"
#include "transport/recv.h"

namespace capwap::test {
namespace {

using sim::Peer;

enum : uint32_t { kNotifyRdBind = 3, kGetRdBind = 3, kWrrmScan = 16, kWidsCfg = 25 };

std::vector<uint16_t> TypesOf(const DecodedMessage& msg) {
  std::vector<uint16_t> types;
  for (const CwElement& e : msg.elements) types.push_back(e.type);
  return types;
}

sim::PeerSimOptions Silent(bool wmac, bool wrrm, bool wids) {
  sim::PeerSimOptions options;
  options.silent_wmac = wmac;
  options.silent_wrrm = wrrm;
  options.silent_wids = wids;
  return options;
}

class CfgExchange : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = CW_DBG_ALL; }
  LogCapture log_;
};

TEST_F(CfgExchange, AnsweredPeersGiveOneResponseWithTheWholeConfiguration) {
  ConfigLab lab;
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  const uint8_t seq = lab.SendConfigStatus();

  // WMAC heard the reported radios, WIDS was asked for the AP's configuration.
  const sim::PeerMessage* note = lab.peers().LastReceived(Peer::kWmac, kNotifyRdBind);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->wtp_id, 1u);
  EXPECT_FALSE(note->payload.empty());
  const sim::PeerMessage* ask = lab.peers().LastReceived(Peer::kWids, 0);
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(ask->wtp_id, 1u);

  const std::vector<DecodedMessage> responses = lab.Received(CW_MSG_CFG_STATUS_RSP);
  ASSERT_EQ(responses.size(), 1u);
  const DecodedMessage& rsp = responses[0];
  EXPECT_TRUE(rsp.complete);
  EXPECT_EQ(rsp.ctl.seq, seq);
  // Radio 1 reports DSSS, radio 2 OFDM (which stays with the controller);
  // both report Tx Power, Supported Rates, Radio Information and Configuration.
  const std::vector<uint16_t> radio1 = {1028, 1040, 1041, 1048, 1046};
  const std::vector<uint16_t> radio2 = {1040, 1041, 1048, 1046};
  std::vector<uint16_t> expected = {12, 28, 36, 49, 57, 52, 52, 30, 23};
  expected.insert(expected.end(), radio1.begin(), radio1.end());
  expected.insert(expected.end(), radio2.begin(), radio2.end());
  expected.insert(expected.end(), {37, 37, 65});  // WRRM and WIDS blocks, retransmit interval
  EXPECT_EQ(TypesOf(rsp), expected);

  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  EXPECT_EQ(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids, 0);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  EXPECT_TRUE(wtp->chg_state_timer.Running());
  EXPECT_EQ(wtp->rdbind_notify_result, 0u);
  EXPECT_EQ(wtp->bssid_table[0].radio_id, 1);
  EXPECT_EQ(wtp->bssid_table[1].radio_id, 2);
  EXPECT_TRUE(std::equal(wtp->bssid_table[1].bssid.begin(), wtp->bssid_table[1].bssid.end(),
                         lab.identity().radios[1].bssid.begin()));
  EXPECT_EQ(wtp->bssid_table[2].radio_id, 0) << "an unreported radio's row stays untouched";
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]) << "the binding is released after the response";
  EXPECT_TRUE(log_.Contains(" FSM switched to Config State.\n"));

  // A repeated request in Config is not answered again.
  lab.Send(sim::BuildConfigStatusRequest(lab.identity(), seq));
  EXPECT_EQ(lab.Received(CW_MSG_CFG_STATUS_RSP).size(), 1u);
  EXPECT_EQ(lab.CountToWmac(kNotifyRdBind), 1u);

  // No Change State Event Request within 10 seconds ends the session.
  lab.lab().RunFor(9);
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  lab.lab().RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
}

TEST_F(CfgExchange, TheLastOfTheAnswersSendsTheResponse) {
  ConfigLab lab(Silent(true, true, true));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  lab.SendConfigStatus();
  const Bytes binding = lab.peers().LastReceived(Peer::kWmac, kNotifyRdBind)->payload;

  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWids, kWidsCfg, 1, Hex("00 25 00 01 cc")));
  lab.lab().Settle();
  EXPECT_EQ(wtp->wait_wids, 0);
  EXPECT_EQ(wtp->wait_rdbind, 1) << "a WIDS answer before WMAC's only clears its own flag";
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWrrm, kWrrmScan, 1, {}));
  lab.lab().Settle();
  EXPECT_TRUE(lab.Received(CW_MSG_CFG_STATUS_RSP).empty());
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWmac, kGetRdBind, 1, binding));
  lab.lab().Settle();
  ASSERT_EQ(lab.Received(CW_MSG_CFG_STATUS_RSP).size(), 1u);
  // A late repeat of an answer sends nothing more.
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWrrm, kWrrmScan, 1, {}));
  lab.lab().Settle();
  EXPECT_EQ(lab.Received(CW_MSG_CFG_STATUS_RSP).size(), 1u);
}

class SilentPeer : public CfgExchange, public ::testing::WithParamInterface<int> {};

TEST_P(SilentPeer, TheIpcWaitEndsTheSessionAtTenSeconds) {
  const int silent = GetParam();
  ConfigLab lab(Silent(silent == 0, silent == 1, silent == 2));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  lab.SendConfigStatus();
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  lab.lab().RunFor(9);
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  EXPECT_FALSE(log_.Contains(" IPC timer expired"));
  lab.lab().RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_TRUE(log_.Contains(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids, 0);
  EXPECT_TRUE(lab.Received(CW_MSG_CFG_STATUS_RSP).empty());
  EXPECT_EQ(CW_AC_GetWTPByIP(lab.Endpoint()), nullptr);
}
INSTANTIATE_TEST_SUITE_P(EachPeer, SilentPeer, ::testing::Values(0, 1, 2),
                         [](const auto& info) {
                           return std::string(info.param == 0   ? "Wmac"
                                              : info.param == 1 ? "Wrrm"
                                                                : "Wids");
                         });

TEST_F(CfgExchange, OnlyJoinAndImageDownloadTakeTheRequest) {
  for (uint32_t state : {CW_STATE_RUN, CW_STATE_CONFIG, CW_STATE_IDLE, CW_STATE_DATA_CHECK}) {
    ConfigLab lab;
    ASSERT_TRUE(lab.ready());
    lab.wtp()->state = state;
    lab.SendConfigStatus();
    EXPECT_EQ(lab.wtp()->state, state);
    EXPECT_EQ(lab.CountToWmac(kNotifyRdBind), 0u) << state;
    EXPECT_TRUE(lab.Received(CW_MSG_CFG_STATUS_RSP).empty()) << state;
    EXPECT_TRUE(log_.Contains(
        " Receiving Config Request frame under wrong state 02:00:00:00:01:01.\n"));
    log_.Clear();
  }
  ConfigLab lab;
  ASSERT_TRUE(lab.ready());
  lab.wtp()->state = CW_STATE_IMAGE;
  lab.SendConfigStatus();
  EXPECT_EQ(lab.Received(CW_MSG_CFG_STATUS_RSP).size(), 1u);
  EXPECT_TRUE(log_.Contains(" Receiving Config Request frame from AP 02:00:00:00:01:01.\n"));
}

TEST_F(CfgExchange, RequestWithoutElementsEndsTheSession) {
  ConfigLab lab;
  ASSERT_TRUE(lab.ready());
  CW_PKT pkt;
  pkt.buffer.assign(kCwHeadersLen, 0);
  CW_FinishCtlMsg(pkt, CW_MSG_CFG_STATUS_REQ, 1);
  lab.Send(pkt.buffer);
  EXPECT_EQ(lab.wtp()->state, CW_STATE_IDLE);
  EXPECT_EQ(CW_AC_GetWTPByIP(lab.Endpoint()), nullptr);
  EXPECT_EQ(lab.CountToWmac(kNotifyRdBind), 0u);
  EXPECT_TRUE(log_.Contains(" Illegal Config Request frame received.\n"));
  EXPECT_TRUE(log_.Contains(
      " Failed to decode Config Status Request frame since illegal frame format.\n"));

  // A request cut inside an element ends it too; the next session still works.
  lab.EnterJoin();
  Bytes cut = sim::BuildConfigStatusRequest(lab.identity(), 2);
  cut.resize(cut.size() - 3);
  lab.Send(cut);
  EXPECT_EQ(lab.wtp()->state, CW_STATE_IDLE);
  lab.EnterJoin();
  lab.SendConfigStatus();
  EXPECT_EQ(lab.Received(CW_MSG_CFG_STATUS_RSP).size(), 1u);
}

TEST_F(CfgExchange, TeardownHalfwayLeavesNothingBehind) {
  ConfigLab lab(Silent(false, false, true));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  lab.SendConfigStatus();
  ASSERT_EQ(wtp->wait_rdbind + wtp->wait_wrrm, 0);
  ASSERT_TRUE(wtp->rdbind.radios[0].sub[11]) << "the binding waits for WIDS";
  __CW_AC_HandleTunnelDown(wtp, "test", __LINE__);
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  // The late answer finds the AP out of Config and sends nothing.
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWids, kWidsCfg, 1, Hex("00 25 00 01 cc")));
  lab.lab().Settle();
  EXPECT_TRUE(lab.Received(CW_MSG_CFG_STATUS_RSP).empty());
  lab.lab().RunFor(20);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);

  // A daemon stopped while a binding is held releases it too (LeakSanitizer).
  lab.EnterJoin();
  lab.SendConfigStatus();
  ASSERT_TRUE(wtp->rdbind.radios[0].sub[11]);
}

TEST_F(CfgExchange, FailuresToArmOrAllocateAreSurvived) {
  ConfigLab lab(Silent(false, false, true));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  // The request handler itself, so the read re-arm does not take the failure.
  CW_RCVPKT rcv;
  rcv.buffer = sim::BuildConfigStatusRequest(lab.identity(), 1);
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = CW_MSG_CFG_STATUS_REQ;
  rcv.seq = 1;
  FailNext(FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_CfgReqHandler(wtp, &rcv), 1);
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  EXPECT_TRUE(log_.Contains(" Failed to start IPC timer of AP cfgap.\n"));
  lab.lab().Settle();

  // No packet for the response: nothing is sent and the change-state wait
  // ends the session.
  FailNext(FailFamily::kPacketAlloc, 1);
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWids, kWidsCfg, 1, {}));
  lab.lab().Settle();
  EXPECT_TRUE(lab.Received(CW_MSG_CFG_STATUS_RSP).empty());
  EXPECT_TRUE(wtp->chg_state_timer.Running());
  lab.lab().RunFor(10);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
}

// The whole road with the WTP simulator, once Discovery and Join answer.
TEST_F(CfgExchange, SimulatedApIsConfiguredAfterJoin) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  if (!AC_GetMsgHandler(CW_MSG_JOIN_REQ) || !lab.Discover(ap) || !lab.Join(ap)) {
    GTEST_SKIP() << "Discovery and Join do not answer yet";
  }
  ASSERT_TRUE(lab.Configure(ap));
  EXPECT_EQ(lab.Wtpcb(ap)->state, CW_STATE_CONFIG);
  const std::vector<uint16_t>& types = lab.ap(ap).config_elements();
  ASSERT_GE(types.size(), 10u);
  EXPECT_EQ(std::vector<uint16_t>(types.begin(), types.begin() + 3),
            (std::vector<uint16_t>{12, 28, 36}));
  EXPECT_EQ(types.back(), 65);
  EXPECT_EQ(lab.ap(ap).counters().protocol_errors, 0u) << lab.ap(ap).last_error();
}

}  // namespace
}  // namespace capwap::test
