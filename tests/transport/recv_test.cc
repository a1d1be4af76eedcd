// The control receive path over loopback UDP: header checks, the request
// sequence window, NAT re-binding by session ID, dispatch with and without a
// WTP, and hostile datagrams that must leave the controller answering.
#include <gtest/gtest.h>

#include <random>

#include "transport_fixture.h"

namespace transport_test {
namespace {

class ReceiveTest : public TransportLab {
 protected:
  void SetUp() override {
    TransportLab::SetUp();
    wtp_ = RunningWtp(endpoint_, 1);
    ASSERT_NE(wtp_, nullptr);
  }
  // Datagrams dispatched with this message type.
  size_t DispatchedCount(uint32_t msg_type) const {
    size_t n = 0;
    for (const Dispatched& d : DispatchLog()) n += d.msg_type == msg_type;
    return n;
  }
  Bytes EchoRequest(uint8_t seq, uint8_t session_seed) {
    return ControlDatagram(CW_MSG_ECHO_REQ, seq, SessionIdElement(SessionOf(session_seed)));
  }

  WtpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

TEST_F(ReceiveTest, RequestSequenceWindowWrapsAround) {
  capwap::LogCapture log;
  wtp_->last_rcv_seq = 250;
  Deliver(endpoint_, ControlDatagram(CW_MSG_CFG_STATUS_REQ, 5));
  ASSERT_EQ(DispatchLog().size(), 1u);
  EXPECT_EQ(DispatchLog()[0].wtp, wtp_);
  EXPECT_EQ(wtp_->last_rcv_seq, 5);
  EXPECT_EQ(wtp_->prev_rcv_seq, 250);

  // A repeat passes and is answered again by its handler.
  Deliver(endpoint_, ControlDatagram(CW_MSG_CFG_STATUS_REQ, 5));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(wtp_->prev_rcv_seq, 5);

  Deliver(endpoint_, ControlDatagram(CW_MSG_CHG_STATE_REQ, 250));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(wtp_->last_rcv_seq, 5);
  EXPECT_TRUE(log.Contains("CW_AC_PreHdlReqMsg::ucDistance(-11) >= 128\n"));

  // 127 ahead is the far edge of the window; 128 ahead is behind.
  Deliver(endpoint_, ControlDatagram(CW_MSG_WTP_EVENT_REQ, 132));
  EXPECT_EQ(DispatchLog().size(), 3u);
  Deliver(endpoint_, ControlDatagram(CW_MSG_DATA_TRANSFER_REQ, 4));
  EXPECT_EQ(DispatchLog().size(), 3u);
  EXPECT_TRUE(log.Contains("CW_AC_PreHdlReqMsg::ucDistance(-128) >= 128\n"));
  EXPECT_EQ(wtp_->last_rcv_seq, 132);

  // Echo Requests do not move the window.
  Deliver(endpoint_, EchoRequest(3, 1));
  EXPECT_EQ(DispatchedCount(CW_MSG_ECHO_REQ), 1u);
  EXPECT_EQ(wtp_->last_rcv_seq, 132);
}

TEST_F(ReceiveTest, EchoFromANewPortMovesTheSessionThere) {
  capwap::LogCapture log;
  WtpEndpoint moved;
  Deliver(moved, EchoRequest(1, 1));
  EXPECT_TRUE(log.Contains("AP[00:11:22:33:44:01] Change Control Tunnel(NAT)\n"));
  ASSERT_EQ(DispatchedCount(CW_MSG_ECHO_REQ), 1u);
  EXPECT_EQ(DispatchLog()[0].wtp, wtp_);
  EXPECT_EQ(wtp_->remote, moved.Addr());
  EXPECT_EQ(CW_AC_GetWTPByIP(moved.Addr()), wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);

  // Later datagrams from the new port find the WTP; the old port does not.
  Deliver(moved, ControlDatagram(CW_MSG_CFG_STATUS_REQ, 1));
  ASSERT_EQ(DispatchedCount(CW_MSG_CFG_STATUS_REQ), 1u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  Deliver(endpoint_, ControlDatagram(CW_MSG_CFG_STATUS_REQ, 2));
  EXPECT_EQ(DispatchedCount(CW_MSG_CFG_STATUS_REQ), 1u);

  // And what the controller sends goes to the new port.
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, CW_MSG_CFG_UPDATE_REQ), wtp_), 0);
  EXPECT_EQ(moved.Drain().size(), 1u);
  EXPECT_TRUE(endpoint_.Drain().empty());

  // A second Echo from the same port changes nothing.
  log.Clear();
  Deliver(moved, EchoRequest(2, 1));
  EXPECT_FALSE(log.Contains("Change Control Tunnel(NAT)"));
  EXPECT_EQ(DispatchedCount(CW_MSG_ECHO_REQ), 2u);
}

TEST_F(ReceiveTest, EventRequestSessionIdMovesTheSessionThere) {
  capwap::LogCapture log;
  WtpEndpoint moved;
  Bytes elements = Element(37, Bytes(5, 0xEE));
  Bytes other_session = SessionIdElement(SessionOf(9));
  Bytes own_session = SessionIdElement(SessionOf(1));
  elements.insert(elements.end(), other_session.begin(), other_session.end());
  elements.insert(elements.end(), own_session.begin(), own_session.end());  // the last one wins
  Deliver(moved, ControlDatagram(CW_MSG_WTP_EVENT_REQ, 1, elements));
  EXPECT_TRUE(log.Contains("EvtReqSessProc: AP[00:11:22:33:44:01] Change Control Tunnel(NAT)\n"));
  ASSERT_EQ(DispatchedCount(CW_MSG_WTP_EVENT_REQ), 1u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(moved.Addr()), wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);

  Deliver(moved, ControlDatagram(CW_MSG_CHG_STATE_REQ, 2));
  EXPECT_EQ(DispatchLog().back().msg_type, CW_MSG_CHG_STATE_REQ);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
}

TEST_F(ReceiveTest, EventRequestWithoutUsableSessionIdKeepsTheEndpointBinding) {
  // No Session ID element: the WTP found by endpoint.
  Deliver(endpoint_, ControlDatagram(CW_MSG_WTP_EVENT_REQ, 1, Element(37, Bytes(4, 1))));
  ASSERT_EQ(DispatchedCount(CW_MSG_WTP_EVENT_REQ), 1u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  // An unknown session ID: the WTP found by endpoint.
  Deliver(endpoint_, ControlDatagram(CW_MSG_WTP_EVENT_REQ, 2, SessionIdElement(SessionOf(7))));
  EXPECT_EQ(DispatchedCount(CW_MSG_WTP_EVENT_REQ), 2u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  // An element that runs past the end: the WTP found by endpoint.
  Bytes truncated = ControlDatagram(CW_MSG_WTP_EVENT_REQ, 3, SessionIdElement(SessionOf(1)));
  truncated.resize(truncated.size() - 3);
  WtpEndpoint stranger;
  Deliver(stranger, truncated);
  EXPECT_EQ(DispatchedCount(CW_MSG_WTP_EVENT_REQ), 2u);  // no WTP there: dropped
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), wtp_);
}

TEST_F(ReceiveTest, RebindingEvictsTheWtpIndexedAtTheNewEndpoint) {
  WtpEndpoint second_end;
  CW_WTPCB* second = RunningWtp(second_end, 2);
  ASSERT_NE(second, nullptr);
  // The NAT hands WTP 1's session the port WTP 2 used to have.
  Deliver(second_end, EchoRequest(1, 1));
  EXPECT_EQ(CW_AC_GetWTPByIP(second_end.Addr()), wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);
  EXPECT_TRUE(second->remote.AddrIsZero());
  EXPECT_EQ(CW_AC_GetWTPBySESSID(SessionOf(2)), second);
}

TEST_F(ReceiveTest, EchoWithUnknownSessionIdIsDropped) {
  capwap::LogCapture log;
  Deliver(endpoint_, EchoRequest(1, 0x77));
  Deliver(endpoint_, ControlDatagram(CW_MSG_ECHO_REQ, 2));  // no Session ID at all
  Bytes short_id = ControlDatagram(CW_MSG_ECHO_REQ, 3, Element(35, Bytes(8, 1)));
  Deliver(endpoint_, short_id);
  EXPECT_EQ(DispatchedCount(CW_MSG_ECHO_REQ), 0u);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), wtp_);
  EXPECT_FALSE(log.Contains("Change Control Tunnel(NAT)"));
}

TEST_F(ReceiveTest, UnknownMessageTypesAreDroppedBeforePreHandling) {
  capwap::LogCapture log;
  for (uint32_t type : {0u, 27u, 3398912u, 3398915u, 0xFFFFFFFFu}) {
    Deliver(endpoint_, ControlDatagram(type, 1));
  }
  EXPECT_TRUE(log.Contains(" Recive ctrl pkt valid\n"));
  EXPECT_FALSE(log.Contains("pre handler error"));
  EXPECT_TRUE(DispatchLog().empty());
  EXPECT_EQ(wtp_->last_rcv_seq, 0);

  // Known types that no WTP sends are dropped by pre-handling.
  for (uint32_t type : {2u, 7u, 20u, 3398913u}) Deliver(endpoint_, ControlDatagram(type, 1));
  EXPECT_TRUE(log.Contains(" Receiving ctrl pkt pre handler error type 20 from APID 1 MAC "
                           "00:11:22:33:44:01 src ip 127.0.0.1 port "));
  EXPECT_TRUE(DispatchLog().empty());
}

TEST_F(ReceiveTest, DiscoveryAndJoinFromAnUnknownEndpointReachTheirHandlers) {
  AC_SetMsgHandler(CW_MSG_DISCOVERY_REQ, AnsweringDiscoveryHandler);
  WtpEndpoint stranger;
  Deliver(stranger, ControlDatagram(CW_MSG_DISCOVERY_REQ, 9));
  ASSERT_EQ(DispatchLog().size(), 1u);
  const Dispatched& d = DispatchLog()[0];
  EXPECT_EQ(d.wtp, nullptr);
  EXPECT_EQ(d.remote, stranger.Addr());
  EXPECT_EQ(d.local.family, 0);
  EXPECT_EQ(d.local.ifindex, if_nametoindex("lo"));
  EXPECT_EQ(d.local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_EQ(d.local.Ipv4(), INADDR_LOOPBACK);
  EXPECT_EQ(d.local.port, 5246);
  auto answer = stranger.Drain();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(MsgTypeOf(answer[0]), CW_MSG_DISCOVERY_RSP);
  EXPECT_EQ(SeqOf(answer[0]), 9);

  Deliver(stranger, ControlDatagram(CW_MSG_JOIN_REQ, 1));
  ASSERT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(DispatchLog()[1].wtp, nullptr);

  // Anything else needs a WTP.
  capwap::LogCapture log;
  Deliver(stranger, ControlDatagram(CW_MSG_CFG_STATUS_REQ, 1));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_TRUE(log.Contains(" Receiving ctrl pkt pre handler error type 5 from src ip 127.0.0.1 "
                           "port " + std::to_string(stranger.port()) + "\n"));
}

TEST_F(ReceiveTest, DispatchTable) {
  EXPECT_EQ(AC_GetMsgHandler(CW_MSG_CFG_STATUS_REQ), &RecordingHandler);
  EXPECT_EQ(AC_GetMsgHandler(CW_MSG_WLAN_CFG_RSP), &RecordingHandler);
  EXPECT_EQ(AC_GetMsgHandler(CW_MSG_PRIMARY_DISC_REQ), nullptr);
  AC_SetMsgHandler(27, RecordingHandler);
  EXPECT_EQ(AC_GetMsgHandler(27), nullptr);
  AC_SetMsgHandler(CW_MSG_CFG_STATUS_REQ, nullptr);
  EXPECT_EQ(AC_GetMsgHandler(CW_MSG_CFG_STATUS_REQ), nullptr);

  // A type without a handler passes pre-handling and is dropped (1).
  EXPECT_EQ(Handle(endpoint_.Addr(), ControlDatagram(CW_MSG_PRIMARY_DISC_REQ, 1)), 1);
  EXPECT_EQ(wtp_->last_rcv_seq, 1);
  EXPECT_EQ(Handle(endpoint_.Addr(), ControlDatagram(CW_MSG_CFG_STATUS_REQ, 2)), 1);
  EXPECT_TRUE(DispatchLog().empty());

  // The handler's result is the result of AC_HandlePkt.
  AC_SetMsgHandler(CW_MSG_CFG_STATUS_REQ, [](CW_WTPCB*, CW_RCVPKT*) { return 7; });
  EXPECT_EQ(Handle(endpoint_.Addr(), ControlDatagram(CW_MSG_CFG_STATUS_REQ, 3)), 7);

  AC_ResetMsgHandlers();
  EXPECT_EQ(AC_GetMsgHandler(CW_MSG_DISCOVERY_REQ), nullptr);
}

TEST_F(ReceiveTest, HostileDatagramsAreDroppedAndTheControllerStillAnswers) {
  AC_SetMsgHandler(CW_MSG_DISCOVERY_REQ, AnsweringDiscoveryHandler);
  const size_t readers = thread_master_read_count(lab_.master());
  capwap::LogCapture log;
  std::mt19937 rng(20240601);
  auto random_bytes = [&](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  WtpEndpoint stranger;
  for (int round = 0; round < 4; ++round) {
    for (size_t len = 0; len <= 40; ++len) {
      Bytes junk = random_bytes(len);
      // Every other round the datagram carries an acceptable header word, so
      // that it reaches reassembly, the control header and the element walks.
      if (round % 2 == 1 && len >= 4) {
        junk[0] = 0x00;
        junk[1] = 0x10;
        junk[2] = 0x00;
        junk[3] &= 0xC0;
      }
      Deliver(round < 2 ? endpoint_ : stranger, junk);
    }
  }
  Deliver(endpoint_, random_bytes(5000));  // cut to the 4096-byte buffer
  Bytes big_frag = FragmentDatagram(1, 8191, true, random_bytes(4000));
  Deliver(endpoint_, big_frag);
  Bytes hlen4 = ControlDatagram(CW_MSG_DISCOVERY_REQ, 1);
  hlen4[1] = 0x20;
  Deliver(stranger, hlen4);
  Bytes dtls = ControlDatagram(CW_MSG_DISCOVERY_REQ, 1);
  dtls[0] = 0x01;
  Deliver(stranger, dtls);
  EXPECT_TRUE(log.Contains(" Illegal CAPWAP header from 7f000001.\n"));

  EXPECT_EQ(thread_master_read_count(lab_.master()), readers);
  stranger.Drain();
  DispatchLog().clear();
  Deliver(stranger, ControlDatagram(CW_MSG_DISCOVERY_REQ, 33));
  ASSERT_EQ(DispatchLog().size(), 1u);
  auto answer = stranger.Drain();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(SeqOf(answer[0]), 33);
}

// One wake-up of the IPv4 control reader on `fd`, as the loop makes it.
int WakeIp4Reader(thread_master* master, int fd) {
  thread wake{};
  wake.type = ThreadType::kRead;
  wake.master = master;
  wake.arg = capwapm;
  wake.fd = fd;
  return AC_RcvIP4Pkt(&wake);
}

TEST_F(ReceiveTest, OneWakeUpReadsABoundedBatchAndHeldFragmentsKeepTheirBytes) {
  // Three fragments of one request, each followed by an Echo Request, then
  // more Echo Requests than one wake-up reads, all waiting on the socket.
  Bytes value(600);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 13 + 5);
  Bytes whole = ControlDatagram(CW_MSG_CFG_STATUS_REQ, 1, Element(37, value));
  std::vector<Bytes> burst;
  for (const Bytes& fragment : Fragment(whole, 9, 304)) {
    burst.push_back(fragment);
    burst.push_back(EchoRequest(2, 1));
  }
  while (burst.size() < kCwRcvBatch + 4) burst.push_back(EchoRequest(2, 1));
  for (const Bytes& datagram : burst) endpoint_.SendTo(ac_port_, datagram);

  const size_t readers = thread_master_read_count(lab_.master());
  EXPECT_EQ(WakeIp4Reader(lab_.master(), g_iAC_IP4SockId), 0);
  EXPECT_EQ(thread_master_read_count(lab_.master()), readers + 1);  // re-armed
  // One batch: three of its datagrams were fragments of one message.
  EXPECT_EQ(DispatchLog().size(), kCwRcvBatch - 2);
  lab_.Settle();
  EXPECT_EQ(DispatchedCount(CW_MSG_ECHO_REQ), burst.size() - 3);
  ASSERT_EQ(DispatchedCount(CW_MSG_CFG_STATUS_REQ), 1u);
  for (const Dispatched& d : DispatchLog()) {
    if (d.msg_type == CW_MSG_CFG_STATUS_REQ) {
      EXPECT_EQ(d.message, whole);
    }
  }
}

TEST_F(ReceiveTest, ReadErrorIsLoggedAndTheReaderStaysRegistered) {
  capwap::LogCapture log;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // recvmsg: not connected
  ASSERT_GE(fd, 0);
  const size_t readers = thread_master_read_count(lab_.master());
  EXPECT_EQ(WakeIp4Reader(lab_.master(), fd), 0);
  EXPECT_TRUE(log.Contains("recv ctrl pack error ("));
  EXPECT_EQ(thread_master_read_count(lab_.master()), readers + 1);
  thread_cancel_fd(lab_.master(), fd);
  close(fd);
}

// An IPv6 control socket on ::1 with the controller's reader.
class Ipv6ReceiveTest : public TransportLab {
 protected:
  void SetUp() override {
    TransportLab::SetUp();
    ac6_ = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(ac6_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    setsockopt(ac6_, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_addr = in6addr_loopback;
    if (bind(ac6_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      GTEST_SKIP() << "no IPv6 loopback";
    }
    socklen_t len = sizeof sa;
    getsockname(ac6_, reinterpret_cast<sockaddr*>(&sa), &len);
    ac6_port_ = ntohs(sa.sin6_port);
    g_iAC_IP6SockId = ac6_;
    thread_add_read(lab_.master(), AC_RcvIP6Pkt, capwapm, ac6_);

    wtp6_ = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in6 w{};
    w.sin6_family = AF_INET6;
    w.sin6_addr = in6addr_loopback;
    ASSERT_EQ(bind(wtp6_, reinterpret_cast<sockaddr*>(&w), sizeof w), 0);
    len = sizeof w;
    getsockname(wtp6_, reinterpret_cast<sockaddr*>(&w), &len);
    wtp6_addr_ = CW_AddrFromSockaddr6(w);
  }
  void TearDown() override {
    if (wtp6_ >= 0) close(wtp6_);
    if (ac6_ >= 0) thread_cancel_fd(lab_.master(), ac6_);
    g_iAC_IP6SockId = -1;
    if (ac6_ >= 0) close(ac6_);
    TransportLab::TearDown();
  }
  void Send6(const Bytes& d) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(ac6_port_);
    sendto(wtp6_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    lab_.Settle();
  }
  std::vector<Bytes> Drain6() {
    std::vector<Bytes> out;
    for (;;) {
      Bytes buf(65536);
      ssize_t n = recv(wtp6_, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n < 0) break;
      buf.resize(static_cast<size_t>(n));
      out.push_back(std::move(buf));
    }
    return out;
  }

  int ac6_ = -1;
  int wtp6_ = -1;
  uint16_t ac6_port_ = 0;
  CW_ADDR wtp6_addr_;
};

TEST_F(Ipv6ReceiveTest, Ipv6WtpExchangesPlainDatagramsEvenWithScramblingOn) {
  g_ucNeedEncrypt = 1;
  AC_SetMsgHandler(CW_MSG_DISCOVERY_REQ, AnsweringDiscoveryHandler);
  Send6(ControlDatagram(CW_MSG_DISCOVERY_REQ, 4));
  ASSERT_EQ(DispatchLog().size(), 1u);
  const Dispatched& d = DispatchLog()[0];
  EXPECT_EQ(d.remote, wtp6_addr_);
  EXPECT_EQ(d.local.family, 1);
  EXPECT_EQ(0, std::memcmp(d.local.addr.data(), &in6addr_loopback, 16));
  auto answer = Drain6();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0], ControlDatagram(CW_MSG_DISCOVERY_RSP, 4));

  // A WTP in session over IPv6 gets its requests through the IPv6 socket.
  CW_WTPCB* wtp = CW_AC_CreateWTP(kTestModel, 0xFFFFFFFF, "", 0);
  ASSERT_NE(wtp, nullptr);
  wtp->state = CW_STATE_RUN;
  wtp->local = d.local;
  CW_AC_AddWTPByIP(wtp6_addr_, wtp);
  CwPktPtr pkt = RequestPacket(wtp, CW_MSG_CFG_UPDATE_REQ);
  Bytes plain(pkt->buffer.begin(), pkt->buffer.begin() + pkt->length);
  ASSERT_EQ(CW_AC_SendCtlMsg(std::move(pkt), wtp), 0);
  auto req = Drain6();
  ASSERT_EQ(req.size(), 1u);
  EXPECT_EQ(req[0], plain);
  Send6(ControlDatagram(CW_MSG_CFG_UPDATE_RSP, SeqOf(plain)));
  EXPECT_EQ(wtp->sndq.count, 0u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp);
}

}  // namespace
}  // namespace transport_test
