// The data channel over loopback UDP: keepalive decoding and building, the
// first keepalive in Data Check (answered, Run), later keepalives (tracked,
// never answered), malformed and unmatched datagrams, scrambling on IPv4
// only, and WAPI frames relayed to WMAC.
#include <gtest/gtest.h>

#include "support/controller.h"

namespace run_test {
namespace {

using namespace capwap::test;
using capwap::Bytes;
using capwap::ByteView;

const TruncTable kKeepalive = {
    {U32(0x00100008), "header: HLEN 2, K"},
    {U16(0), "fragment id"},
    {U16(0), "fragment offset"},
    {U16(20), "element length"},
    {U16(35), "session: type"},
    {U16(16), "session: length"},
    {Hex("10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f"), "session: id"},
};

bool DecodeKeepalive(ByteView in) {
  std::array<uint8_t, 16> session{};
  return DecodeKeepAlive(in, &session) == 0;
}

TEST(KeepaliveCodec, DecodeTruncationsAndLengths) {
  capwap::LogCapture quiet([](int, std::string_view) {});
  EXPECT_TRUE(CheckTruncations(kKeepalive, DecodeKeepalive));
  EXPECT_TRUE(CheckLengthMutations(kKeepalive, "element length", DecodeKeepalive));
  EXPECT_TRUE(CheckLengthMutations(kKeepalive, "session: length", DecodeKeepalive));
  WriteFuzzSeed(kKeepalive, "keepalive", "keepalive");

  std::array<uint8_t, 16> session{};
  ASSERT_EQ(DecodeKeepAlive(Flatten(kKeepalive), &session), 0);
  EXPECT_EQ(session, SessionOf(0x10));
  // Another element type in the right shape is refused too.
  Bytes other = Flatten(kKeepalive);
  other[11] = 36;
  EXPECT_EQ(DecodeKeepAlive(other, &session), 1);
}

TEST(KeepaliveCodec, AnswerIsByteExact) {
  EXPECT_TRUE(BytesMatch(BuildKeepAlive(SessionOf(0x10)), kKeepalive));
}

class KeepaliveTest : public ControllerLab {
 protected:
  // A WTP waiting in Data Check for its first keepalive.
  CW_WTPCB* DataCheckWtp(const WtpEndpoint& control, uint8_t seed) {
    CW_WTPCB* wtp = MakeWtp(control, seed, kStateDataCheck);
    wtp->data_check_timer.Start(lab_.master(), 7, CW_AC_IPCTimerHandler, wtp);
    ForgetWmac();
    return wtp;
  }
  // A WTP in Run whose data channel was opened from `data`.
  CW_WTPCB* RunningWtp(const WtpEndpoint& control, const WtpEndpoint& data, uint8_t seed) {
    CW_WTPCB* wtp = DataCheckWtp(control, seed);
    Deliver(data, DataPort(), Keepalive(SessionOf(seed)));
    EXPECT_EQ(wtp->state, kStateRun);
    data.Drain();
    control.Drain();
    ForgetWmac();
    return wtp;
  }
};

TEST_F(KeepaliveTest, FirstKeepaliveInDataCheckIsAnsweredAndOpensRun) {
  WtpEndpoint control, data;
  CW_WTPCB* wtp = DataCheckWtp(control, 1);
  g_uiCwApCount = 0;

  Deliver(data, DataPort(), Keepalive(SessionOf(1)));
  std::vector<Bytes> answers = data.Drain();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], Keepalive(SessionOf(1)));
  EXPECT_EQ(wtp->state, kStateRun);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_FALSE(wtp->data_check_timer.Running());
  EXPECT_EQ(wtp->data_end, data.Addr()) << "the data endpoint differs from the control one";
  EXPECT_EQ(wtp->remote, control.Addr());

  std::optional<TunnelRecord> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->state, kTunnelUp);
  EXPECT_EQ(tunnel->wtp_data_port, data.port());
  EXPECT_EQ(Wmac(WmacMsg::kTunnelState).size(), 1u);
  // The time push goes on the control channel.
  EXPECT_EQ(OfType(control.Drain(), kMsgCfgUpdateReq).size(), 1u);

  // The cancelled data-check wait does not end the running session.
  lab_.RunFor(7);
  EXPECT_EQ(wtp->state, kStateRun);
}

TEST_F(KeepaliveTest, InRunKeepalivesOnlyTrackTheDataEndpoint) {
  WtpEndpoint control, data, moved;
  CW_WTPCB* wtp = RunningWtp(control, data, 2);

  Deliver(data, DataPort(), Keepalive(SessionOf(2)));
  EXPECT_TRUE(data.Drain().empty()) << "not answered in Run";
  EXPECT_TRUE(Wmac(WmacMsg::kTunnelState).empty()) << "same endpoint, no update";

  capwap::LogCapture log;
  Deliver(moved, DataPort(), Keepalive(SessionOf(2)));
  Deliver(moved, DataPort(), Keepalive(SessionOf(2)));
  Deliver(moved, DataPort(), Keepalive(SessionOf(2)));
  EXPECT_TRUE(moved.Drain().empty());
  auto updates = Wmac(WmacMsg::kTunnelState);
  ASSERT_EQ(updates.size(), 1u) << "one update for the move, none for the repeats";
  TunnelRecord rec;
  ASSERT_TRUE(TunnelRecordDecode(updates[0].payload, &rec));
  EXPECT_EQ(rec.state, kTunnelMoved);
  EXPECT_EQ(rec.wtp_data_port, moved.port());
  EXPECT_EQ(rec.apid, wtp->apid);
  EXPECT_EQ(wtp->data_end, moved.Addr());
  EXPECT_EQ(wtp->tunnel.wtp_data_port, moved.port());
  EXPECT_TRUE(log.Contains(" Notifing WMAC to update tunnel with MAC address "
                           "00:11:22:33:44:02 | IP 127.0.0.1 | Port " +
                           std::to_string(moved.port()) + ".\n"));
  EXPECT_EQ(wtp->state, kStateRun);
}

TEST_F(KeepaliveTest, MalformedAndUnmatchedDatagramsAreDropped) {
  WtpEndpoint control, data;
  CW_WTPCB* wtp = DataCheckWtp(control, 3);
  capwap::LogCapture log;

  Deliver(data, DataPort(), Keepalive(SessionOf(3), true, 24));
  EXPECT_TRUE(log.Contains(" Illegal Keepalive frame with length 24 received.\n"));
  Deliver(data, DataPort(), Keepalive(SessionOf(3), false));
  EXPECT_TRUE(log.Contains(" Illegal Keepalive frame received.\n"));
  Bytes wrong_type = Keepalive(SessionOf(3));
  wrong_type[11] = 37;
  Deliver(data, DataPort(), wrong_type);
  EXPECT_TRUE(log.Contains(
      " Illegal Keepalive frame with message type 37 and message length received.\n"));
  Deliver(data, DataPort(), Keepalive(SessionOf(0x40)));
  EXPECT_TRUE(log.Contains(" Failed to find AP by session ID(40414243444546474849"
                           "4a4b4c4d4e4f).\n"));
  Deliver(data, DataPort(), Bytes{0x00, 0x10});
  Deliver(data, DataPort(), Bytes{});
  Deliver(data, DataPort(), Bytes(kKeepaliveLen - 1, 0x08));

  EXPECT_TRUE(data.Drain().empty());
  EXPECT_EQ(wtp->state, kStateDataCheck);
  EXPECT_TRUE(wtp->data_end.AddrIsZero());
  EXPECT_TRUE(Wmac(WmacMsg::kTunnelState).empty());

  // The reader is still there: a good keepalive completes the session.
  Deliver(data, DataPort(), Keepalive(SessionOf(3)));
  EXPECT_EQ(data.Drain().size(), 1u);
  EXPECT_EQ(wtp->state, kStateRun);
}

TEST_F(KeepaliveTest, ScramblingAppliesToIpv4Only) {
  g_ucNeedEncrypt = 1;
  WtpEndpoint control, data;
  CW_WTPCB* v4 = DataCheckWtp(control, 4);
  Bytes scrambled = Keepalive(SessionOf(4));
  CW_Encrypt(scrambled.data(), scrambled.size(), kCwScrambleKey);
  Deliver(data, DataPort(), scrambled);
  std::vector<Bytes> answers = data.Drain();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_NE(answers[0], Keepalive(SessionOf(4))) << "the answer leaves scrambled";
  CW_Encrypt(answers[0].data(), answers[0].size(), kCwScrambleKey);
  EXPECT_EQ(answers[0], Keepalive(SessionOf(4)));
  EXPECT_EQ(v4->state, kStateRun);
  ASSERT_TRUE(LastTunnelRecord());
  EXPECT_EQ(LastTunnelRecord()->scrambled, 1);

  WtpEndpoint control6;
  Wtp6Endpoint data6;
  CW_WTPCB* v6 = DataCheckWtp(control6, 5);
  Deliver(data6, DataPort(), Keepalive(SessionOf(5)));
  std::vector<Bytes> answers6 = data6.Drain();
  ASSERT_EQ(answers6.size(), 1u);
  EXPECT_EQ(answers6[0], Keepalive(SessionOf(5))) << "IPv6 is never scrambled";
  EXPECT_EQ(v6->state, kStateRun);
  EXPECT_EQ(v6->data_end.family, 1);
  EXPECT_EQ(v6->data_end.port, data6.port());
  ASSERT_TRUE(LastTunnelRecord());
  EXPECT_EQ(LastTunnelRecord()->family, 1);
}

TEST_F(KeepaliveTest, WapiFramesGoToWmacWithoutTheirHeader) {
  WtpEndpoint data;
  Bytes frame = Keepalive(SessionOf(6), true, 20, 1);
  frame.insert(frame.end(), {0xde, 0xad, 0xbe, 0xef});
  Deliver(data, DataPort(), frame);

  auto wapi = Wmac(WmacMsg::kWapi);
  ASSERT_EQ(wapi.size(), 1u);
  EXPECT_EQ(wapi[0].wtp_id, 0u);
  EXPECT_EQ(wapi[0].payload, Bytes(frame.begin() + 8, frame.end()));
  EXPECT_EQ(g_WapiApAddr.sin_family, AF_INET);
  EXPECT_EQ(ntohs(g_WapiApAddr.sin_port), data.port());
  EXPECT_EQ(ntohl(g_WapiApAddr.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_TRUE(data.Drain().empty());

  // Other reserved values are keepalives as usual.
  capwap::LogCapture log;
  Deliver(data, DataPort(), Keepalive(SessionOf(6), true, 20, 2));
  EXPECT_TRUE(log.Contains(" Failed to find AP by session ID("));
  EXPECT_EQ(Wmac(WmacMsg::kWapi).size(), 1u);
  capwap::ResetKeepAlive();
  EXPECT_EQ(g_WapiApAddr.sin_port, 0);
}

}  // namespace
}  // namespace run_test
