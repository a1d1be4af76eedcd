// The control send queue: one outstanding request per WTP, retransmission
// back-off and its budget, response matching, scrambling of retransmissions
// and release of everything at teardown. Datagrams travel over loopback UDP;
// time moves on the manual clock only.
#include <gtest/gtest.h>

#include "transport_lab.h"

namespace transport_test {
namespace {

TEST(RetransWait, FollowsTheBackOffRule) {
  struct Case {
    uint16_t interval;
    std::vector<long> waits;  // after transmissions 1, 2, 3, ...
  };
  const Case cases[] = {
      {5, {2, 2, 2, 5, 5, 5, 5, 5}},      // cap 2, then the interval
      {0, {4, 8, 16, 32, 32, 32, 32}},    // below 3: doubling up to 32 for ever
      {2, {4, 8, 16, 32, 32}},
      {32, {4, 8, 16, 32, 32, 32}},       // cap 16 only limits the first three
      {3, {1, 1, 1, 3, 3}},               // cap 1
      {63, {4, 8, 16, 63}},
      {64, {4, 8, 16, 64, 64}},           // cap back to 32
      {200, {4, 8, 16, 200}},
  };
  for (const Case& c : cases) {
    for (size_t i = 0; i < c.waits.size(); ++i) {
      EXPECT_EQ(RetransWaitSeconds(c.interval, static_cast<uint32_t>(i + 1)), c.waits[i])
          << "interval " << c.interval << " after transmission " << i + 1;
    }
  }
  EXPECT_EQ(RetransWaitSeconds(1, 4000000000u), 32);
}

class SendQueueTest : public TransportLab {
 protected:
  void SetUp() override {
    TransportLab::SetUp();
    wtp_ = RunningWtp(endpoint_, 1);
    ASSERT_NE(wtp_, nullptr);
  }

  // Seconds (from now) at which datagrams reach the WTP during `seconds`,
  // and the second at which the session was torn down (-1 if it was not).
  struct Schedule {
    std::vector<int> sent;
    int teardown = -1;
  };
  Schedule Observe(int seconds) {
    Schedule s;
    for (size_t i = 0; i < endpoint_.Drain().size(); ++i) s.sent.push_back(0);
    for (int t = 1; t <= seconds; ++t) {
      lab_.RunFor(1);
      for (size_t i = 0; i < endpoint_.Drain().size(); ++i) s.sent.push_back(t);
      if (s.teardown < 0 && wtp_->state == kStateIdle) s.teardown = t;
    }
    return s;
  }

  Bytes Response(uint32_t msg_type, uint8_t seq) { return ControlDatagram(msg_type, seq); }

  WtpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

struct BackOffCase {
  uint16_t interval;
  uint8_t max_retrans;
  std::vector<int> sent;
  int teardown;
};

class BackOffSchedule : public SendQueueTest,
                        public ::testing::WithParamInterface<BackOffCase> {};

TEST_P(BackOffSchedule, RetransmitsThenTearsDownOneWaitAfterTheLast) {
  const BackOffCase& c = GetParam();
  wtp_->retrans_interval = c.interval;
  wtp_->max_retrans = c.max_retrans;
  capwap::LogCapture log;
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 0);

  Schedule s = Observe(c.teardown + 5);
  EXPECT_EQ(s.sent, c.sent);
  EXPECT_EQ(s.teardown, c.teardown);
  EXPECT_TRUE(log.Contains(" AP ID 1 MAC 00:11:22:33:44:01 Retransmission failed, so turn "
                           "CAPWAP tunnel down.\n"));
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_FALSE(wtp_->retrans_timer.Running());
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);
  if (c.max_retrans == 0) {
    EXPECT_EQ(wtp_->max_retrans, 9);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transport, BackOffSchedule,
    ::testing::Values(
        // Creation defaults: interval 5, maximum 0 meaning 9.
        BackOffCase{5, 0, {0, 2, 4, 6, 11, 16, 21, 26, 31}, 36},
        BackOffCase{5, 1, {0}, 2},
        BackOffCase{0, 9, {0, 4, 12, 28, 60, 92, 124, 156, 188}, 220}),
    [](const ::testing::TestParamInfo<BackOffCase>& info) {
      return "interval" + std::to_string(info.param.interval) + "_max" +
             std::to_string(info.param.max_retrans);
    });

TEST_F(SendQueueTest, ResponsesGoOutAtOnceAndAreNotQueued) {
  wtp_->last_rcv_seq = 42;
  CwPktPtr rsp = CW_AC_PktMalloc();
  FinishCtlMsg(*rsp, kMsgEchoRsp, CW_AC_GetSeqNum(wtp_, kMsgEchoRsp));
  EXPECT_EQ(CW_AC_SendCtlMsg(std::move(rsp), wtp_), 0);
  auto got = endpoint_.Drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(MsgTypeOf(got[0]), kMsgEchoRsp);
  EXPECT_EQ(SeqOf(got[0]), 42);
  EXPECT_EQ(got[0].size(), kCwHeadersLen);
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_FALSE(wtp_->retrans_timer.Running());
  EXPECT_TRUE(Observe(10).sent.empty());
  EXPECT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgResetReq), nullptr), 1);
}

TEST_F(SendQueueTest, SecondRequestWaitsForTheFirstResponse) {
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 0);
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgStaCfgReq), wtp_), 0);
  EXPECT_EQ(wtp_->sndq.count, 2u);

  auto first = endpoint_.Drain();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(MsgTypeOf(first[0]), kMsgCfgUpdateReq);
  const uint8_t first_seq = SeqOf(first[0]);

  // Retransmissions repeat only the head.
  lab_.RunFor(2);
  auto again = endpoint_.Drain();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0], first[0]);

  Deliver(endpoint_, Response(kMsgCfgUpdateRsp, first_seq));
  ASSERT_EQ(DispatchLog().size(), 1u);
  EXPECT_EQ(DispatchLog()[0].msg_type, kMsgCfgUpdateRsp);
  EXPECT_EQ(DispatchLog()[0].wtp, wtp_);

  auto second = endpoint_.Drain();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(MsgTypeOf(second[0]), kMsgStaCfgReq);
  EXPECT_EQ(SeqOf(second[0]), static_cast<uint8_t>(first_seq + 1));
  EXPECT_EQ(wtp_->sndq.count, 1u);
  EXPECT_EQ(wtp_->sndq.tx_count, 1u);

  Deliver(endpoint_, Response(kMsgStaCfgRsp, SeqOf(second[0])));
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_EQ(wtp_->sndq.head, 0u);
  EXPECT_EQ(wtp_->sndq.tail, 0u);
  EXPECT_FALSE(wtp_->retrans_timer.Running());
  EXPECT_TRUE(Observe(60).sent.empty());
  EXPECT_EQ(wtp_->state, kStateRun);
}

TEST_F(SendQueueTest, MismatchedResponsesAreDroppedAndRetransmissionGoesOn) {
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 0);
  auto sent = endpoint_.Drain();
  ASSERT_EQ(sent.size(), 1u);
  const uint8_t seq = SeqOf(sent[0]);
  capwap::LogCapture log;

  // A Reset Response does not answer a Configuration Update Request.
  Deliver(endpoint_, Response(kMsgResetRsp, seq));
  EXPECT_TRUE(log.Contains("AP[00:11:22:33:44:01]prev send msg type 7 seqnum " +
                           std::to_string(seq) + ", but we recv msg type 18 seq num " +
                           std::to_string(seq) + " pstSndMsg "));
  EXPECT_TRUE(log.Contains(" Receiving ctrl pkt pre handler error type 18 from APID 1 MAC "
                           "00:11:22:33:44:01 src ip 127.0.0.1 port " +
                           std::to_string(endpoint_.port()) + "\n"));
  // Nor does the right type with another sequence number.
  Deliver(endpoint_, Response(kMsgCfgUpdateRsp, static_cast<uint8_t>(seq + 1)));
  EXPECT_TRUE(DispatchLog().empty());
  EXPECT_EQ(wtp_->sndq.count, 1u);

  lab_.RunFor(2);
  auto retrans = endpoint_.Drain();
  ASSERT_EQ(retrans.size(), 1u);
  EXPECT_EQ(retrans[0], sent[0]);

  Deliver(endpoint_, Response(kMsgCfgUpdateRsp, seq));
  EXPECT_EQ(DispatchLog().size(), 1u);
  EXPECT_EQ(wtp_->sndq.count, 0u);

  // A response with nothing outstanding is dropped.
  Deliver(endpoint_, Response(kMsgCfgUpdateRsp, seq));
  EXPECT_EQ(DispatchLog().size(), 1u);
}

TEST_F(SendQueueTest, LargeRequestsAreFragmentedWithTheirOwnId) {
  // 1408 octets go out whole.
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq, 1388), wtp_), 0);
  auto whole = endpoint_.Drain();
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].size(), 1408u);
  EXPECT_EQ(whole[0][3] & 0xC0, 0);  // neither F nor L
  Deliver(endpoint_, Response(kMsgCfgUpdateRsp, SeqOf(whole[0])));

  // 1409 octets: 1400 + 1 payload octets; the fragment ID is the next
  // request sequence number, which it uses up.
  CwPktPtr pkt = RequestPacket(wtp_, kMsgCfgUpdateReq, 1389);
  Bytes original(pkt->buffer.begin(), pkt->buffer.begin() + pkt->length);
  const uint8_t req_seq = static_cast<uint8_t>(pkt->seq);
  ASSERT_EQ(original.size(), 1409u);
  ASSERT_EQ(CW_AC_SendCtlMsg(std::move(pkt), wtp_), 0);
  auto frags = endpoint_.Drain();
  ASSERT_EQ(frags.size(), 2u);
  EXPECT_EQ(wtp_->req_seq, static_cast<uint8_t>(req_seq + 1));
  const Bytes expect_first_hdr = {0x00, 0x10, 0x00, 0x80, 0x00,
                                  static_cast<uint8_t>(req_seq + 1), 0x00, 0x00};
  const Bytes expect_last_hdr = {0x00, 0x10, 0x00, 0xC0, 0x00,
                                 static_cast<uint8_t>(req_seq + 1), 0x00, 0xAF};
  EXPECT_EQ(Bytes(frags[0].begin(), frags[0].begin() + 8), expect_first_hdr);
  EXPECT_EQ(Bytes(frags[1].begin(), frags[1].begin() + 8), expect_last_hdr);
  EXPECT_EQ(frags[0].size(), 1408u);
  EXPECT_EQ(frags[1].size(), 9u);
  Bytes joined(frags[0].begin() + 8, frags[0].end());
  joined.insert(joined.end(), frags[1].begin() + 8, frags[1].end());
  EXPECT_EQ(joined, Bytes(original.begin() + 8, original.end()));
  lab_.RunFor(2);  // a retransmission takes a fresh fragment ID
  EXPECT_EQ(endpoint_.Drain().at(0)[5], static_cast<uint8_t>(req_seq + 2));
}

TEST_F(SendQueueTest, FullQueueRefusesAndTeardownReleasesEverything) {
  for (size_t i = 0; i < kSndQueSize; ++i) {
    ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 0);
  }
  EXPECT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 1);
  EXPECT_EQ(wtp_->sndq.count, kSndQueSize);
  EXPECT_EQ(wtp_->sndq.tail, 0u);  // wrapped
  EXPECT_EQ(endpoint_.Drain().size(), 1u);

  // Half a fragmented message is held as well.
  Bytes message = ControlDatagram(kMsgWtpEventReq, 1, Element(37, Bytes(3000, 0x5A)));
  auto frags = Fragment(message, 77, 1400);
  ASSERT_EQ(frags.size(), 3u);
  EXPECT_EQ(Handle(endpoint_.Addr(), frags[0]), kPktHeld);
  EXPECT_EQ(Handle(endpoint_.Addr(), frags[1]), kPktHeld);
  EXPECT_TRUE(wtp_->frag.timer.Running());

  __CW_AC_HandleTunnelDown(wtp_, "test", 1);
  EXPECT_EQ(wtp_->state, kStateIdle);
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_EQ(wtp_->sndq.head, 0u);
  EXPECT_EQ(wtp_->sndq.tail, 0u);
  for (const CwPktPtr& slot : wtp_->sndq.ring) ASSERT_EQ(slot, nullptr);
  EXPECT_FALSE(wtp_->retrans_timer.Running());
  EXPECT_TRUE(Observe(40).sent.empty());
  // The reassembly ran out on its own timer.
  EXPECT_TRUE(wtp_->frag.fragments.empty());
  EXPECT_FALSE(wtp_->frag.timer.Running());
}

}  // namespace
}  // namespace transport_test
