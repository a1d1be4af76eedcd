// The WMAC listener's framing, dispatch and route table, through real Unix
// stream connections to "/tmp/cw_ac_addr".
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "diag/bug.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "relay/relay.h"
#include "support/controller.h"
#include "support/scenario.h"

namespace capwap::test {
namespace {

// Type 15 has no channel handler, so these tests own it.
constexpr uint32_t kProbeType = WmacIn::kPwrScan;

// Header plus payload as WMAC writes them.
Bytes IpcMessage(uint32_t type, uint32_t wtp_id, ByteView payload = {}, int64_t declared_len = -1) {
  IpcHead head;
  head.kind = 1;
  head.msg_type = type;
  head.wtp_id = wtp_id;
  head.payload_len = static_cast<uint32_t>(declared_len < 0 ? payload.size() : declared_len);
  Bytes out(kIpcHeadSize);
  IpcHeadEncode(head, out.data());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// A raw client connection to the AC's listener.
class RawClient {
 public:
  RawClient() {
    std::string path = RootPath("/tmp/cw_ac_addr");
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    path.copy(sa.sun_path, sizeof sa.sun_path - 1);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path;
  }
  ~RawClient() { Close(); }
  void Send(ByteView bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class WmacChannelTest : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    ResetIpcHandlers();  // the channel's own routes only
    ASSERT_EQ(RegisterWmacChannelHandlers(), 0);
    const WmacRoute probe[] = {{WmacIn::kPwrScan, RecordingHandler}};
    ASSERT_EQ(InstallIpcRoutes(probe), 0);
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

TEST_F(WmacChannelTest, AbsurdLengthOrAFailedReArmClosesTheConnection) {
  LogCapture log;
  const size_t reads_before = thread_master_read_count(lab_.master());
  RawClient client;
  client.Send(IpcMessage(kProbeType, 1, {}, 0xFFFFFFF0u));
  client.Send(IpcMessage(kProbeType, 2));
  lab_.Settle();
  EXPECT_TRUE(log.Contains(" WMAC message type 15 announces 4294967280 payload bytes")) << log.text();
  EXPECT_TRUE(Recorded().empty()) << "nothing after a corrupt header is trusted";
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before);

  RawClient again;
  lab_.Settle();
  again.Send(IpcMessage(kProbeType, 3));
  FailNext(FailFamily::kTimerCreate, 1);
  lab_.Settle();
  ASSERT_EQ(Recorded().size(), 1u) << "the message read is still dispatched";
  EXPECT_EQ(Recorded()[0].head.wtp_id, 3u);
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before) << "closed, not deaf";
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
    messages.push_back(IpcMessage(kProbeType, static_cast<uint32_t>(100 + i), Bytes(12 + i, static_cast<uint8_t>(i))));
  }
  RawClient busy;
  for (size_t at = 0; at < messages.back().size(); ++at) {
    for (size_t i = 0; i < kClients; ++i) {
      if (at < messages[i].size()) clients[i]->Send(ByteView(messages[i]).subspan(at, 1));
    }
    lab_.RunFor(0.05);
    const size_t before = Recorded().size();
    busy.Send(IpcMessage(kProbeType, 7));
    lab_.Settle();
    ASSERT_EQ(Recorded().size(), before + 1) << "a whole message is served at once";
  }
  std::map<uint32_t, std::vector<Bytes>> by_wtp;
  for (const Dispatched& d : Recorded()) {
    if (d.head.wtp_id != 7) by_wtp[d.head.wtp_id].push_back(d.payload);
  }
  ASSERT_EQ(by_wtp.size(), kClients);
  for (size_t i = 0; i < kClients; ++i) {
    EXPECT_EQ(by_wtp[static_cast<uint32_t>(100 + i)], std::vector<Bytes>{Bytes(12 + i, static_cast<uint8_t>(i))});
  }
  EXPECT_FALSE(Recorded().back().had_payload) << "length 0 is dispatched with no payload";
}

TEST_F(WmacChannelTest, PeerClosingMidMessageEndsOnlyThatConnection) {
  LogCapture log;
  const size_t reads_before = thread_master_read_count(lab_.master());
  {
    RawClient client;
    lab_.Settle();
    EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before + 1);
    client.Send(Cat({IpcMessage(kProbeType, 2), IpcMessage(kProbeType, 3, Bytes(20, 0xAB), 100)}));
    client.Close();
    lab_.Settle();
  }
  EXPECT_TRUE(log.Contains("recv msg iLen 20"));
  EXPECT_TRUE(log.Contains("client close to server"));
  ASSERT_EQ(Recorded().size(), 1u) << "the whole message before the close is served";
  EXPECT_EQ(thread_master_read_count(lab_.master()), reads_before) << "no longer watched";
  RawClient again;  // the listener still accepts
  again.Send(IpcMessage(kProbeType, 4));
  lab_.Settle();
  ASSERT_EQ(Recorded().size(), 2u);
  EXPECT_EQ(Recorded()[1].head.wtp_id, 4u);
}

TEST_F(WmacChannelTest, RoutesAreInstalledOncePerKnownTypeAndDispatchedAfterTheirLine) {
  // Every module's table installs without a clash; a second install of any
  // route, a route for an unknown type and a duplicate inside a table are
  // start-up errors.
  ASSERT_EQ(RegisterIpcHandlers(), 0);
  const uint64_t bugs = CwBugCount();
  LogCapture log;
  EXPECT_EQ(RegisterIpcHandlers(), 0) << "it starts from an empty table";
  EXPECT_EQ(RegisterWmacChannelHandlers(), 1);
  EXPECT_TRUE(log.Contains("WMAC message type 1 already has a handler; second route refused")) << log.text();
  const WmacRoute bad[] = {{static_cast<WmacIn::Type>(9), RecordingHandler},
                           {static_cast<WmacIn::Type>(115), RecordingHandler},
                           {WmacIn::kAddWlan, RecordingHandler}};
  EXPECT_EQ(InstallIpcRoutes(bad), 1);
  EXPECT_TRUE(log.Contains("WMAC route for unknown message type 9 refused"));
  EXPECT_TRUE(log.Contains("WMAC route for unknown message type 115 refused"));
  EXPECT_EQ(CwBugCount(), bugs + 11) << "eight channel routes, two unknown types, one taken";

  ResetIpcHandlers();
  const WmacRoute probe[] = {{WmacIn::kAddWlan, RecordingHandler}, {WmacIn::kStaTraffic, RecordingHandler}};
  ASSERT_EQ(RegisterWmacChannelHandlers() + InstallIpcRoutes(probe), 0);
  Recorded().clear();
  FromWmac(9, 1);
  FromWmac(115, 1);
  EXPECT_TRUE(Recorded().empty());
  FromWmac(4, 1);  // ADD-WLAN: its line, then its one handler
  EXPECT_TRUE(log.Contains(" [IPC] Receiving ADD-WLAN from WMAC. "));
  EXPECT_EQ(Recorded().size(), 1u);
  FromWmac(1, 30);  // DEL-WTP of an unknown AP
  const std::string text = log.text();
  EXPECT_LT(text.find(" [IPC] Receiving DEL-WTP from WMAC. "),
            text.find("Failed to find AP when sending clean WTP message."));
  Bytes traffic(24, 0);
  HostWriter(traffic.data() + 20, 4).u32(777);
  FromWmac(96, 1, traffic);
  EXPECT_TRUE(log.Contains(" [IPC] Receiving AC_IPC_SEND_TRAFFIC_STA from WMAC. 777"));
  FromWmac(96, 1, Bytes(3, 0));  // too short for word 5: no over-read
  EXPECT_TRUE(log.Contains(" [IPC] Receiving AC_IPC_SEND_TRAFFIC_STA from WMAC. 0"));

  // Group keys reach their handler only for an existing WTP.
  ResetIpcHandlers();
  const WmacRoute keys[] = {{WmacIn::kGtkUpdate, RecordingHandler, true}};
  ASSERT_EQ(InstallIpcRoutes(keys), 0);
  Recorded().clear();
  FromWmac(88, 5);
  EXPECT_TRUE(Recorded().empty());
  MakeAp("lobby", 5);
  FromWmac(88, 5);
  EXPECT_EQ(Recorded().size(), 1u);
}

TEST_F(WmacChannelTest, NotificationsAreAnsweredPaddedOrCutAndSurviveAnAbsentPeer) {
  FromWmac(43, 17);  // answered with the AC capability
  const sim::PeerMessage* cap = peers_->LastReceived(sim::Peer::kWmac, 43);
  ASSERT_NE(cap, nullptr);
  EXPECT_EQ(cap->header, Cat({HostU32(0), HostU32(1), HostU32(43), HostU32(0), HostU32(0), HostU32(4), HostU32(0)}));
  EXPECT_EQ(cap->payload, HostU32(31));

  const uint8_t steer[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(WMAC_AC_IPC_NotifyBandSteer(steer, sizeof steer, 2), 0);
  ASSERT_EQ(WMAC_AC_IPC_NotifyApName(2, std::string(40, 'n')), 0);
  ASSERT_EQ(WMAC_AC_IPC_NotifyApSn(2, "SN1"), 0);
  lab_.Settle();
  EXPECT_EQ(peers_->LastReceived(sim::Peer::kWmac, WmacMsg::kBandSteer)->payload,
            Cat({Bytes(steer, steer + 10), Fill(0, 30)}));
  EXPECT_EQ(peers_->LastReceived(sim::Peer::kWmac, WmacMsg::kApName)->payload, Cat({Fill('n', 32), U8(0)}));
  EXPECT_EQ(peers_->LastReceived(sim::Peer::kWmac, WmacMsg::kApSn)->payload, Fixed("SN1", 32));

  WmacIpcReset();
  testing::internal::CaptureStdout();
  EXPECT_EQ(WMAC_AC_IPC_DeleteAP(3), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("not set ipc zg"), std::string::npos);
  WMAC_AC_IPC_SetZg(lab_.ctx());
  peers_->Stop();  // nobody listens on /tmp/wmac_ac_addr any more
  testing::internal::CaptureStderr();
  EXPECT_EQ(WMAC_AC_IPC_DeleteAP(3), 0) << "handed over, even though the send failed";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("WMAC_AC_IPC_CwMessProc:"), std::string::npos);
}

// WMAC stops reading while an AP runs. The AC's notifications pile up in its
// queue until it gives that connection up; the AP's Echo Requests are
// answered all along. (Reconnecting afterwards is the IPC layer's own test.)
TEST(WmacStallScenario, AStuckWmacHoldsUpNeitherSendsNorEchoes) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap) && lab.Join(ap) && lab.Configure(ap));
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
  EXPECT_EQ(wtp->state, kStateRun);
  EXPECT_GE(lab.ap(ap).counters().echo_answered, answered + 3);
}

}  // namespace
}  // namespace capwap::test
