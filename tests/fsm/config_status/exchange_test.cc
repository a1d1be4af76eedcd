// The Configuration Status exchange against the booted daemon: the request
// over loopback UDP, the three answers from the simulated peers over their
// real sockets, the response the AP receives, and the waits on the manual
// clock. The completion rule of the answers (any order, the last one sends,
// a repeat sends nothing) is tested at the dispatcher (relay/radio_binding).
#include <gtest/gtest.h>

#include "fsm/config_status.h"
#include "wtp-sim/wtp_messages.h"
#include "support/controller.h"

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

// One AP record of a two-radio model bound to a loopback endpoint that plays
// its control channel, put in Join directly.
class CfgExchange : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    CW_APMODEL model;
    model.name = "cfg-model";
    model.radio_count = 2;
    model.radios[0].modes = 13;
    model.radios[1].modes = 10;
    ASSERT_EQ(ApModelStore(model), 0);
    wtp_ = CW_AC_CreateWTP("cfg-model", 1, "cfgap", 0);
    ASSERT_NE(wtp_, nullptr);
    identity_.radios = sim::DefaultRadios(identity_.mac, 2);
    identity_.ac_name = "ac";
    EnterJoin();
  }
  // The session as Join leaves it: state Join, bound to the endpoint.
  void EnterJoin() {
    wtp_->mac = identity_.mac;
    wtp_->board_vendor_id = identity_.vendor_id;
    wtp_->local.family = 0;
    wtp_->local.SetIpv4(INADDR_LOOPBACK);
    wtp_->local.port = ControlPort();
    CW_AC_AddWTPByIP(endpoint_.Addr(), wtp_);
    wtp_->state = kStateJoin;
  }
  void Send(const Bytes& datagram) { Deliver(endpoint_, datagram); }
  // A Configuration Status Request of the AP's radios with the next sequence number.
  uint8_t SendConfigStatus() {
    const uint8_t seq = next_seq_++;
    Send(sim::BuildConfigStatusRequest(identity_, seq));
    return seq;
  }
  // Every control message the AP has received of that type, oldest first.
  std::vector<DecodedMessage> Received(uint32_t msg_type) {
    for (const Bytes& datagram : endpoint_.Drain()) received_.push_back(DecodeMessage(datagram));
    std::vector<DecodedMessage> out;
    for (const DecodedMessage& m : received_) {
      if (m.ctl.msg_type == msg_type) out.push_back(m);
    }
    return out;
  }
  size_t CountToWmac(uint32_t type) const { return peers_->CountReceived(Peer::kWmac, type); }

  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
  sim::WtpIdentity identity_;
  uint8_t next_seq_ = 1;
  std::vector<DecodedMessage> received_;
};

// WIDS never answers.
class SilentWids : public CfgExchange {
  sim::PeerSimOptions PeerOptions() const override { return Silent(false, false, true); }
};

TEST_F(CfgExchange, AnsweredPeersGiveOneResponseThenTheChangeStateWaitIsTenSeconds) {
  CW_WTPCB* wtp = wtp_;
  const uint8_t seq = SendConfigStatus();
  ASSERT_NE(peers_->LastReceived(Peer::kWmac, kNotifyRdBind), nullptr);
  ASSERT_NE(peers_->LastReceived(Peer::kWids, 0), nullptr) << "asked for the AP's settings";

  const std::vector<DecodedMessage> responses = Received(kMsgCfgStatusRsp);
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
                         identity_.radios[1].bssid.begin()));
  EXPECT_EQ(wtp->bssid_table[2].radio_id, 0) << "an unreported radio's row stays untouched";
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]) << "the binding is released after the response";
  EXPECT_TRUE(Logged(" FSM switched to Config State.\n"));

  // A repeated request in Config is not answered again.
  Send(sim::BuildConfigStatusRequest(identity_, seq));
  EXPECT_EQ(Received(kMsgCfgStatusRsp).size(), 1u);
  EXPECT_EQ(CountToWmac(kNotifyRdBind), 1u);

  lab_.RunFor(9);
  EXPECT_EQ(wtp->state, kStateConfig);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
}

class SilentPeer : public CfgExchange, public ::testing::WithParamInterface<int> {
  sim::PeerSimOptions PeerOptions() const override {
    return Silent(GetParam() == 0, GetParam() == 1, GetParam() == 2);
  }
};

TEST_P(SilentPeer, TheIpcWaitEndsTheSessionAtTenSeconds) {
  CW_WTPCB* wtp = wtp_;
  SendConfigStatus();
  lab_.RunFor(9);
  EXPECT_EQ(wtp->state, kStateConfig);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_TRUE(Logged(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids, 0);
  EXPECT_TRUE(Received(kMsgCfgStatusRsp).empty());
}
INSTANTIATE_TEST_SUITE_P(WmacWrrmWids, SilentPeer, ::testing::Values(0, 1, 2));

TEST_F(CfgExchange, OnlyJoinAndImageDownloadTakeTheRequest) {
  for (uint32_t state : {kStateRun, kStateConfig, kStateImage}) {
    EnterJoin();
    wtp_->state = state;
    const size_t before = Received(kMsgCfgStatusRsp).size();
    SendConfigStatus();
    const bool taken = state == kStateImage;
    EXPECT_EQ(Received(kMsgCfgStatusRsp).size() - before, taken ? 1u : 0u) << state;
    EXPECT_EQ(Logged(" Receiving Config Request frame under wrong state 02:00:00:00:01:01.\n"),
              !taken);
    lines_.clear();
  }
}

TEST_F(CfgExchange, AnUndecodableRequestEndsTheSession) {
  Send(ControlDatagram(kMsgCfgStatusReq, 1));
  EXPECT_EQ(wtp_->state, kStateIdle);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);
  EXPECT_EQ(CountToWmac(kNotifyRdBind), 0u);
  EXPECT_TRUE(Logged(
      " Failed to decode Config Status Request frame since illegal frame format.\n"));
  // The next session still works.
  EnterJoin();
  SendConfigStatus();
  EXPECT_EQ(Received(kMsgCfgStatusRsp).size(), 1u);
}

TEST_F(SilentWids, TeardownHalfwayLeavesNothingBehind) {
  CW_WTPCB* wtp = wtp_;
  SendConfigStatus();
  ASSERT_TRUE(wtp->rdbind.radios[0].sub[11]) << "the binding waits for WIDS";
  __CW_AC_HandleTunnelDown(wtp, "test", __LINE__);
  EXPECT_FALSE(wtp->rdbind.radios[0].sub[11]);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  // The late answer finds the AP out of Config and sends nothing.
  ASSERT_TRUE(peers_->SendToAc(Peer::kWids, kWidsCfg, 1, Hex("00 25 00 01 cc")));
  lab_.Settle();
  EXPECT_TRUE(Received(kMsgCfgStatusRsp).empty());
  // A daemon stopped while a binding is held releases it too (LeakSanitizer).
  EnterJoin();
  SendConfigStatus();
  ASSERT_TRUE(wtp->rdbind.radios[0].sub[11]);
}

TEST_F(SilentWids, FailuresToArmOrAllocateAreSurvived) {
  CW_WTPCB* wtp = wtp_;
  // The request handler itself, so the read re-arm does not take the failure.
  CW_RCVPKT rcv = RcvOf(sim::BuildConfigStatusRequest(identity_, 1));
  FailNext(FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_CfgReqHandler(wtp, &rcv), 1);
  EXPECT_EQ(wtp->state, kStateConfig);
  EXPECT_FALSE(wtp->cfg_ipc_timer.Running());
  EXPECT_TRUE(Logged(" Failed to start IPC timer of AP cfgap.\n"));
  lab_.Settle();
  // No packet for the response: nothing is sent, the change-state wait runs.
  FailNext(FailFamily::kPacketAlloc, 1);
  ASSERT_TRUE(peers_->SendToAc(Peer::kWids, kWidsCfg, 1, {}));
  lab_.Settle();
  EXPECT_TRUE(Received(kMsgCfgStatusRsp).empty());
  EXPECT_TRUE(wtp->chg_state_timer.Running());
}

}  // namespace
}  // namespace capwap::test
