// The WMAC listener's framing and dispatch, through real Unix stream
// connections to "/tmp/cw_ac_addr".
#include <map>
#include <memory>

#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "relay/relay_fixture.h"
#include "support/scenario.h"

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

TEST_F(WmacChannelTest, Type115IsReadWholeAndIgnoredType116RejectedBeforeItsPayload) {
  LogCapture log;
  RawClient client;
  // Payloads that look like probe headers: read as a header, each would be
  // dispatched as WTP 98 or 99.
  client.Send(IpcMessage(115, 1, IpcMessage(kProbeType, 98)));
  client.Send(IpcMessage(116, 1, IpcMessage(kProbeType, 99)));
  lab_.Settle();

  EXPECT_TRUE(log.Contains("too big msg type"));
  ASSERT_EQ(Recorded().size(), 1u) << "only the payload left unread is taken as a header";
  EXPECT_EQ(Recorded()[0].head.wtp_id, 99u);
}

TEST_F(WmacChannelTest, AbsurdLengthClosesTheConnection) {
  LogCapture log;
  size_t reads_before = thread_master_read_count(lab_.master());
  RawClient client;
  client.Send(IpcMessage(kProbeType, 1, {}, 0xFFFFFFF0u));
  client.Send(IpcMessage(kProbeType, 2));
  lab_.Settle();

  EXPECT_TRUE(log.Contains(" WMAC message type 15 announces 4294967280 payload bytes"))
      << log.text();
  EXPECT_TRUE(Recorded().empty()) << "nothing after a corrupt header is trusted";
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before);
  RawClient again;
  again.Send(IpcMessage(kProbeType, 3));
  lab_.Settle();
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].head.wtp_id, 3u);
}

// Ten clients write their messages a byte at a time, 50 ms apart on the
// loop's clock, interleaved; meanwhile whole messages from another client
// are served at once. Each message is dispatched once and intact.
TEST_F(WmacChannelTest, MessagesArriveInAnyPiecesFromManyClientsAtOnce) {
  constexpr size_t kClients = 10;
  std::vector<std::unique_ptr<RawClient>> clients;
  std::vector<Bytes> messages;
  for (size_t i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<RawClient>());
    messages.push_back(IpcMessage(kProbeType, static_cast<uint32_t>(100 + i),
                                  Bytes(12 + i, static_cast<uint8_t>(i))));
  }
  RawClient busy;
  for (size_t at = 0; at < messages.back().size(); ++at) {
    for (size_t i = 0; i < kClients; ++i) {
      if (at < messages[i].size()) clients[i]->Send(ByteView(messages[i]).subspan(at, 1));
    }
    lab_.RunFor(0.05);
    size_t before = Recorded().size();
    busy.Send(IpcMessage(kProbeType, 7));
    lab_.Settle();
    ASSERT_EQ(Recorded().size(), before + 1) << "a whole message is served at once";
  }
  // Two halves far apart, the second with a whole message behind it.
  Bytes halves = IpcMessage(kProbeType, 200, Bytes(40, 0xCD));
  Bytes second(halves.begin() + 20, halves.end());
  Bytes next = IpcMessage(kProbeType, 201);
  second.insert(second.end(), next.begin(), next.end());
  clients[0]->Send(ByteView(halves).first(20));
  lab_.RunFor(0.3);
  clients[0]->Send(second);
  lab_.Settle();

  std::map<uint32_t, std::vector<Bytes>> by_wtp;
  for (const Dispatched& d : Recorded()) {
    if (d.head.wtp_id != 7) by_wtp[d.head.wtp_id].push_back(d.payload);
  }
  ASSERT_EQ(by_wtp.size(), kClients + 2);
  for (size_t i = 0; i < kClients; ++i) {
    EXPECT_EQ(by_wtp[static_cast<uint32_t>(100 + i)],
              std::vector<Bytes>{Bytes(12 + i, static_cast<uint8_t>(i))});
  }
  EXPECT_EQ(by_wtp[200], std::vector<Bytes>{Bytes(40, 0xCD)});
  EXPECT_EQ(by_wtp[201].size(), 1u);
  EXPECT_FALSE(Recorded().back().had_payload) << "length 0 is dispatched with no payload";
}

TEST_F(WmacChannelTest, PeerClosingMidMessageEndsOnlyThatConnection) {
  LogCapture log;
  size_t reads_before = thread_master_read_count(lab_.master());
  {
    RawClient client;
    lab_.Settle();
    EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before + 1);
    Bytes stream = IpcMessage(kProbeType, 2);
    Bytes partial = IpcMessage(kProbeType, 3, Bytes(20, 0xAB), 100);
    stream.insert(stream.end(), partial.begin(), partial.end());
    client.Send(stream);
    client.Close();
    lab_.Settle();
  }
  EXPECT_TRUE(log.Contains("recv msg iLen 20"));
  EXPECT_TRUE(log.Contains("client close to server"));
  ASSERT_EQ(Recorded().size(), 1u) << "the whole message before the close is served";
  EXPECT_EQ(Recorded()[0].head.wtp_id, 2u);
  Recorded().clear();
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

// WMAC stops reading while an AP runs. The AC's notifications pile up in its
// queue until it gives that connection up; the AP's Echo Requests are
// answered all along; once WMAC reads again, new notifications reach it.
TEST(WmacStallScenario, AStuckWmacHoldsUpNeitherSendsNorEchoes) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap));
  ASSERT_TRUE(lab.Join(ap));
  ASSERT_TRUE(lab.Configure(ap));
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  const uint16_t interval = wtp->echo_interval;
  const uint64_t answered = lab.ap(ap).counters().echo_answered;

  lab.peers()->StallWmac(true);
  LogCapture log;
  const Bytes report(16 * 1024, 0x5A);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(WMAC_AC_IPC_NotifyStaScanRpt(report.data(), report.size(), wtp->apid), 0);
    lab.RunFor(interval / 16.0);
  }
  EXPECT_TRUE(log.Contains("/tmp/wmac_ac_addr is not reading")) << log.text();
  EXPECT_TRUE(log.Contains("unsent messages")) << log.text();
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_GE(lab.ap(ap).counters().echo_answered, answered + 3);

  lab.peers()->StallWmac(false);
  lab.Settle();
  ASSERT_EQ(WMAC_AC_IPC_NotifyApSn(wtp->apid, "AFTER-STALL"), 0);
  lab.Settle();
  const sim::PeerMessage* sn = lab.peers()->LastReceived(sim::Peer::kWmac, WMAC_MSG_AP_SN);
  ASSERT_NE(sn, nullptr) << "a new connection carries the next notification";
  EXPECT_EQ(std::string(sn->payload.begin(), sn->payload.begin() + 11), "AFTER-STALL");
}

}  // namespace
}  // namespace capwap::test
