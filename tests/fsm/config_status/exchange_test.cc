// The Configuration Status exchange against the booted daemon: the request
// over loopback UDP, the three answers from the simulated peers over their
// real sockets, the response the AP receives, and the waits on the manual
// clock. The completion rule of the answers (any order, the last one sends,
// a repeat sends nothing) is tested at the dispatcher (relay/radio_binding).
#include <gtest/gtest.h>

#include "fsm/config_status.h"
#include "fsm/config_status/config_lab.h"
#include "support/fsm_lab.h"

namespace capwap::test {
namespace {

using sim::Peer;

enum : uint32_t { kNotifyRdBind = 3, kWidsCfg = 25 };

sim::PeerSimOptions Silent(bool wmac, bool wrrm, bool wids) {
  sim::PeerSimOptions options;
  options.silent_wmac = wmac;
  options.silent_wrrm = wrrm;
  options.silent_wids = wids;
  return options;
}

class CfgExchange : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = kDbgAll; }
  LogCapture log_;
};

TEST_F(CfgExchange, AnsweredPeersGiveOneResponseThenTheChangeStateWaitIsTenSeconds) {
  ConfigLab lab;
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  const uint8_t seq = lab.SendConfigStatus();
  ASSERT_NE(lab.peers().LastReceived(Peer::kWmac, kNotifyRdBind), nullptr);
  ASSERT_NE(lab.peers().LastReceived(Peer::kWids, 0), nullptr) << "asked for the AP's settings";

  const std::vector<DecodedMessage> responses = lab.Received(kMsgCfgStatusRsp);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_TRUE(responses[0].complete);
  EXPECT_EQ(responses[0].ctl.seq, seq);
  // Radio 1 reports DSSS, radio 2 OFDM (which stays with the controller);
  // both Tx Power, Supported Rates, Radio Information and Configuration;
  // then the WRRM and WIDS blocks and the retransmit interval.
  EXPECT_EQ(TypesOf(responses[0]),
            (std::vector<uint16_t>{12, 28, 36, 49, 57, 52, 52, 30, 23, 1028, 1040, 1041, 1048,
                                   1046, 1040, 1041, 1048, 1046, 37, 37, 65}));
  EXPECT_EQ(wtp->state, kStateConfig);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  EXPECT_EQ(wtp->bssid_table[1].radio_id, 2);
  EXPECT_TRUE(std::equal(wtp->bssid_table[1].bssid.begin(), wtp->bssid_table[1].bssid.end(),
                         lab.identity().radios[1].bssid.begin()));
  EXPECT_EQ(wtp->bssid_table[2].radio_id, 0) << "an unreported radio's row stays untouched";
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]) << "the binding is released after the response";
  EXPECT_TRUE(log_.Contains(" FSM switched to Config State.\n"));

  // A repeated request in Config is not answered again.
  lab.Send(sim::BuildConfigStatusRequest(lab.identity(), seq));
  EXPECT_EQ(lab.Received(kMsgCfgStatusRsp).size(), 1u);
  EXPECT_EQ(lab.CountToWmac(kNotifyRdBind), 1u);

  lab.lab().RunFor(9);
  EXPECT_EQ(wtp->state, kStateConfig);
  lab.lab().RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
}

class SilentPeer : public CfgExchange, public ::testing::WithParamInterface<int> {};

TEST_P(SilentPeer, TheIpcWaitEndsTheSessionAtTenSeconds) {
  const int silent = GetParam();
  ConfigLab lab(Silent(silent == 0, silent == 1, silent == 2));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  lab.SendConfigStatus();
  lab.lab().RunFor(9);
  EXPECT_EQ(wtp->state, kStateConfig);
  lab.lab().RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_TRUE(log_.Contains(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids, 0);
  EXPECT_TRUE(lab.Received(kMsgCfgStatusRsp).empty());
}
INSTANTIATE_TEST_SUITE_P(WmacWrrmWids, SilentPeer, ::testing::Values(0, 1, 2));

TEST_F(CfgExchange, OnlyJoinAndImageDownloadTakeTheRequest) {
  for (uint32_t state : {kStateRun, kStateConfig, kStateImage}) {
    ConfigLab lab;
    ASSERT_TRUE(lab.ready());
    lab.wtp()->state = state;
    lab.SendConfigStatus();
    const bool taken = state == kStateImage;
    EXPECT_EQ(lab.Received(kMsgCfgStatusRsp).size(), taken ? 1u : 0u) << state;
    EXPECT_EQ(log_.Contains(" Receiving Config Request frame under wrong state 02:00:00:00:01:01.\n"),
              !taken);
    log_.Clear();
  }
}

TEST_F(CfgExchange, AnUndecodableRequestEndsTheSession) {
  ConfigLab lab;
  ASSERT_TRUE(lab.ready());
  lab.Send(ControlDatagram(kMsgCfgStatusReq, 1));
  EXPECT_EQ(lab.wtp()->state, kStateIdle);
  EXPECT_EQ(CW_AC_GetWTPByIP(lab.Endpoint()), nullptr);
  EXPECT_EQ(lab.CountToWmac(kNotifyRdBind), 0u);
  EXPECT_TRUE(log_.Contains(
      " Failed to decode Config Status Request frame since illegal frame format.\n"));
  // The next session still works.
  lab.EnterJoin();
  lab.SendConfigStatus();
  EXPECT_EQ(lab.Received(kMsgCfgStatusRsp).size(), 1u);
}

TEST_F(CfgExchange, TeardownHalfwayLeavesNothingBehind) {
  ConfigLab lab(Silent(false, false, true));
  ASSERT_TRUE(lab.ready());
  CW_WTPCB* wtp = lab.wtp();
  lab.SendConfigStatus();
  ASSERT_TRUE(wtp->rdbind.radios[0].sub[11]) << "the binding waits for WIDS";
  __CW_AC_HandleTunnelDown(wtp, "test", __LINE__);
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  // The late answer finds the AP out of Config and sends nothing.
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWids, kWidsCfg, 1, Hex("00 25 00 01 cc")));
  lab.lab().Settle();
  EXPECT_TRUE(lab.Received(kMsgCfgStatusRsp).empty());
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
  CW_RCVPKT rcv = RcvOf(sim::BuildConfigStatusRequest(lab.identity(), 1));
  FailNext(FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_CfgReqHandler(wtp, &rcv), 1);
  EXPECT_EQ(wtp->state, kStateConfig);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  EXPECT_TRUE(log_.Contains(" Failed to start IPC timer of AP cfgap.\n"));
  lab.lab().Settle();
  // No packet for the response: nothing is sent, the change-state wait runs.
  FailNext(FailFamily::kPacketAlloc, 1);
  ASSERT_TRUE(lab.peers().SendToAc(Peer::kWids, kWidsCfg, 1, {}));
  lab.lab().Settle();
  EXPECT_TRUE(lab.Received(kMsgCfgStatusRsp).empty());
  EXPECT_TRUE(wtp->chg_state_timer.Running());
}

}  // namespace
}  // namespace capwap::test
