// The WMAC listener's framing and dispatch, through real Unix stream
// connections to "/tmp/cw_ac_addr".
#include <random>

#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "relay/relay_fixture.h"

namespace capwap::test {
namespace {

// Type 15 has a row in the dispatch table and no channel handler, so the
// tests own it.
constexpr uint32_t kProbeType = 15;

class WmacChannelTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    AC_SetIpcHandler(kProbeType, RecordingHandler);
  }
};

TEST_F(WmacChannelTest, PayloadIsDeliveredAndZeroLengthDispatchesWithoutPayload) {
  RawClient client;
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  client.Send(IpcMessage(kProbeType, 9, ByteView(data, 5)));
  client.Send(IpcMessage(kProbeType, 10));
  lab_.Settle();

  ASSERT_EQ(Recorded().size(), 2u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 9u);
  EXPECT_TRUE(Recorded()[0].had_payload);
  EXPECT_EQ(Recorded()[0].payload, Bytes(data, data + 5));
  EXPECT_EQ(Recorded()[1].head.wtp_id, 10u);
  EXPECT_FALSE(Recorded()[1].had_payload) << "length 0 is dispatched with no payload";
}

TEST_F(WmacChannelTest, Type115IsReadWholeThenIgnored) {
  RawClient client;
  // The payload looks like a probe header: read as a header it would be
  // dispatched as WTP 99.
  Bytes inner = IpcMessage(kProbeType, 99);
  client.Send(IpcMessage(115, 1, inner));
  client.Send(IpcMessage(kProbeType, 7));
  lab_.Settle();

  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 7u);
}

TEST_F(WmacChannelTest, Type116IsRejectedBeforeItsPayload) {
  LogCapture log;
  RawClient client;
  Bytes inner = IpcMessage(kProbeType, 99);
  client.Send(IpcMessage(116, 1, inner));
  lab_.Settle();

  EXPECT_TRUE(log.Contains("too big msg type"));
  ASSERT_EQ(Recorded().size(), 1u) << "the unread payload is taken as the next header";
  EXPECT_EQ(Recorded()[0].head.wtp_id, 99u);
}

TEST_F(WmacChannelTest, HugeLengthIsRefusedAndTheStreamGoesOn) {
  LogCapture log;
  RawClient client;
  client.Send(IpcMessage(kProbeType, 1, {}, 0xFFFFFFF0u));
  client.Send(IpcMessage(kProbeType, 2));
  lab_.Settle();

  EXPECT_TRUE(log.Contains("molloc error type 15 len-16"));
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 2u);
}

TEST_F(WmacChannelTest, PartialHeaderIsDroppedWithoutResynchronising) {
  RawClient client;
  Bytes whole = IpcMessage(kProbeType, 5);
  client.Send(ByteView(whole).first(10));
  lab_.Settle();
  EXPECT_TRUE(Recorded().empty());

  client.Send(IpcMessage(kProbeType, 6));
  lab_.Settle();
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 6u);
}

TEST_F(WmacChannelTest, PeerClosingMidMessageEndsOnlyThatConnection) {
  LogCapture log;
  size_t reads_before = thread_master_read_count(lab_.master());
  {
    RawClient client;
    lab_.Settle();
    EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before + 1);
    Bytes partial = IpcMessage(kProbeType, 3, Bytes(20, 0xAB), 100);
    client.Send(partial);
    client.Close();
    lab_.Settle();
  }
  EXPECT_TRUE(log.Contains("recv msg iLen 20"));
  EXPECT_TRUE(log.Contains("client close to server"));
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before)
      << "the closed connection is no longer watched";

  // The listener still accepts, and a new connection is served.
  RawClient again;
  again.Send(IpcMessage(kProbeType, 4));
  lab_.Settle();
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 4u);
}

TEST_F(WmacChannelTest, Type43IsAnsweredWithTheAcCapability) {
  FromWmac(43, 17);
  const sim::PeerMessage* cap = sim_->LastReceived(sim::Peer::kWmac, 43);
  ASSERT_NE(cap, nullptr);
  EXPECT_EQ(cap->wtp_id, 0u);
  EXPECT_EQ(cap->payload, U32Bytes(31));
  ASSERT_EQ(cap->header.size(), kIpcHeadSize);
  EXPECT_EQ(U32At(cap->header, 0), 0u) << "reserved";
  EXPECT_EQ(U32At(cap->header, 4), 1u) << "kind";
  EXPECT_EQ(U32At(cap->header, 8), 43u);
  EXPECT_EQ(U32At(cap->header, 12), 0u);
  EXPECT_EQ(U32At(cap->header, 16), 0u) << "parameter";
  EXPECT_EQ(U32At(cap->header, 20), 4u);
  EXPECT_EQ(U32At(cap->header, 24), 0u) << "frame parameter";
}

TEST_F(WmacChannelTest, NotificationsNeedAnEventMasterAndSurviveAnAbsentPeer) {
  WMAC_AC_IPC_Reset();
  testing::internal::CaptureStdout();
  EXPECT_EQ(WMAC_AC_IPC_DeleteAP(3), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("not set ipc zg"), std::string::npos);

  WMAC_AC_IPC_SetZg(lab_.ctx());
  sim_->Stop();  // nobody listens on /tmp/wmac_ac_addr any more
  testing::internal::CaptureStderr();
  EXPECT_EQ(WMAC_AC_IPC_DeleteAP(3), 0) << "handed over, even though the send failed";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("WMAC_AC_IPC_CwMessProc:"),
            std::string::npos);
}

TEST_F(WmacChannelTest, FixedSizeNotificationsArePaddedOrCut) {
  const uint8_t steer[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(WMAC_AC_IPC_NotifyBandSteer(steer, sizeof steer, 2), 0);
  ASSERT_EQ(WMAC_AC_IPC_NotifyApName(2, std::string(40, 'n')), 0);
  ASSERT_EQ(WMAC_AC_IPC_NotifyApSn(2, "SN1"), 0);
  lab_.Settle();
  const sim::PeerMessage* band = sim_->LastReceived(sim::Peer::kWmac, WMAC_MSG_BAND_STEER);
  ASSERT_NE(band, nullptr);
  Bytes expected(steer, steer + 10);
  expected.resize(40, 0);
  EXPECT_EQ(band->payload, expected);
  const sim::PeerMessage* name = sim_->LastReceived(sim::Peer::kWmac, WMAC_MSG_AP_NAME);
  ASSERT_NE(name, nullptr);
  ASSERT_EQ(name->payload.size(), 33u);
  EXPECT_EQ(name->payload[31], 'n');
  EXPECT_EQ(name->payload[32], 0) << "NUL-terminated";
  const sim::PeerMessage* sn = sim_->LastReceived(sim::Peer::kWmac, WMAC_MSG_AP_SN);
  ASSERT_NE(sn, nullptr);
  EXPECT_EQ(sn->payload.size(), 32u);
  EXPECT_EQ(sn->payload[0], 'S');
}

TEST_F(WmacChannelTest, ReceivingLinesPrecedeTheHandlerAndNeedNoHandler) {
  LogCapture log;
  FromWmac(4, 1);  // ADD-WLAN: no handler installed here
  EXPECT_TRUE(log.Contains(" [IPC] Receiving ADD-WLAN from WMAC. "));
  FromWmac(1, 30);  // DEL-WTP of an unknown AP
  std::string text = log.text();
  size_t receiving = text.find(" [IPC] Receiving DEL-WTP from WMAC. ");
  size_t failing = text.find("Failed to find AP when sending clean WTP message.");
  ASSERT_NE(receiving, std::string::npos);
  ASSERT_NE(failing, std::string::npos);
  EXPECT_LT(receiving, failing);

  Bytes traffic(24, 0);
  HostWriter(traffic.data() + 20, 4).u32(777);
  FromWmac(96, 1, traffic);
  EXPECT_TRUE(log.Contains(" [IPC] Receiving AC_IPC_SEND_TRAFFIC_STA from WMAC. 777"));
  FromWmac(96, 1, Bytes(3, 0));  // too short for word 5: no over-read
  EXPECT_TRUE(log.Contains(" [IPC] Receiving AC_IPC_SEND_TRAFFIC_STA from WMAC. 0"));
  FromWmac(72, 1, Bytes(12, 0));
  EXPECT_TRUE(log.Contains("AC_ProcIPCPkt::AC capwap recv ASU wapi data len :12"));
}

TEST_F(WmacChannelTest, UnknownAndHighTypesAreIgnored) {
  // Rows do not exist for these: handlers cannot be installed either.
  AC_SetIpcHandler(9, RecordingHandler);
  AC_SetIpcHandler(115, RecordingHandler);
  AC_SetIpcHandler(500, RecordingHandler);
  FromWmac(9, 1);
  FromWmac(115, 1);
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(WmacChannelTest, WtpOnlyTypesNeedAnExistingWtp) {
  AC_SetIpcHandler(88, RecordingHandler);
  FromWmac(88, 5);
  EXPECT_TRUE(Recorded().empty());
  MakeWtp("lobby", 5);
  FromWmac(88, 5);
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.msg_type, 88u);
}

TEST_F(WmacChannelTest, ReArmFailureClosesTheConnectionInsteadOfGoingDeaf) {
  size_t reads_before = thread_master_read_count(lab_.master());
  RawClient client;
  lab_.Settle();
  client.Send(IpcMessage(kProbeType, 1));
  FailNext(FailFamily::kTimerCreate, 1);
  lab_.Settle();
  EXPECT_EQ(Recorded().size(), 1u) << "the message read is still dispatched";
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before);
}

TEST_F(WmacChannelTest, GarbageNeverStopsTheListener) {
  std::mt19937 gen(12345);
  auto pick = [&gen](uint32_t lo, uint32_t hi) {
    return std::uniform_int_distribution<uint32_t>(lo, hi)(gen);
  };
  for (int round = 0; round < 6; ++round) {
    RawClient client;
    Bytes stream;
    for (int i = 0; i < 12; ++i) {
      // Mostly plausible headers (any type, small or absurd lengths, payloads
      // that do not match), with raw noise in between.
      Bytes payload(pick(0, 40));
      for (auto& b : payload) b = static_cast<uint8_t>(pick(0, 255));
      uint32_t declared = pick(0, 3) == 0 ? pick(0, 0xFFFFFFFFu)
                                          : static_cast<uint32_t>(payload.size());
      Bytes msg = IpcMessage(pick(0, 120), pick(0, 40), payload, declared);
      stream.insert(stream.end(), msg.begin(), msg.end());
      for (uint32_t n = pick(0, 3); n > 0; --n) stream.push_back(static_cast<uint8_t>(pick(0, 255)));
    }
    client.Send(stream);
    lab_.Settle();
  }
  size_t answers = sim_->CountReceived(sim::Peer::kWmac, 43);
  RawClient client;
  client.Send(IpcMessage(43, 0));
  lab_.Settle();
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWmac, 43), answers + 1);
}

}  // namespace
}  // namespace capwap::test
