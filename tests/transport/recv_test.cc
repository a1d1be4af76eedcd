// The control receive path over loopback UDP: header checks, the request
// sequence window, NAT re-binding by session ID, dispatch with and without a
// WTP, and batched reads. Hostile datagrams are the control_rx fuzz surface's
// (its corpus holds junk of every short length, bad header words, a full
// buffer and an oversized fragment, replayed under the sanitizers).
#include <gtest/gtest.h>

#include "fsm/handlers.h"
#include "transport_lab.h"

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
    return ControlDatagram(kMsgEchoReq, seq, SessionIdElement(SessionOf(session_seed)));
  }

  WtpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

TEST_F(ReceiveTest, RequestSequenceWindowWrapsAround) {
  capwap::LogCapture log;
  wtp_->last_rcv_seq = 250;
  Deliver(endpoint_, ControlDatagram(kMsgCfgStatusReq, 5));
  ASSERT_EQ(DispatchLog().size(), 1u);
  EXPECT_EQ(DispatchLog()[0].wtp, wtp_);
  EXPECT_EQ(wtp_->last_rcv_seq, 5);
  EXPECT_EQ(wtp_->prev_rcv_seq, 250);

  // A repeat passes and is answered again by its handler.
  Deliver(endpoint_, ControlDatagram(kMsgCfgStatusReq, 5));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(wtp_->prev_rcv_seq, 5);

  Deliver(endpoint_, ControlDatagram(kMsgChgStateReq, 250));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(wtp_->last_rcv_seq, 5);
  EXPECT_TRUE(log.Contains("CW_AC_PreHdlReqMsg::ucDistance(-11) >= 128\n"));

  // 127 ahead is the far edge of the window; 128 ahead is behind.
  Deliver(endpoint_, ControlDatagram(kMsgWtpEventReq, 132));
  EXPECT_EQ(DispatchLog().size(), 3u);
  Deliver(endpoint_, ControlDatagram(kMsgDataTransferReq, 4));
  EXPECT_EQ(DispatchLog().size(), 3u);
  EXPECT_TRUE(log.Contains("CW_AC_PreHdlReqMsg::ucDistance(-128) >= 128\n"));
  EXPECT_EQ(wtp_->last_rcv_seq, 132);

  // Echo Requests do not move the window.
  Deliver(endpoint_, EchoRequest(3, 1));
  EXPECT_EQ(DispatchedCount(kMsgEchoReq), 1u);
  EXPECT_EQ(wtp_->last_rcv_seq, 132);
}

TEST_F(ReceiveTest, EchoFromANewPortMovesTheSessionThere) {
  capwap::LogCapture log;
  WtpEndpoint moved;
  Deliver(moved, EchoRequest(1, 1));
  EXPECT_TRUE(log.Contains("AP[00:11:22:33:44:01] Change Control Tunnel(NAT)\n"));
  ASSERT_EQ(DispatchedCount(kMsgEchoReq), 1u);
  EXPECT_EQ(DispatchLog()[0].wtp, wtp_);
  EXPECT_EQ(wtp_->remote, moved.Addr());
  EXPECT_EQ(CW_AC_GetWTPByIP(moved.Addr()), wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);

  // Later datagrams from the new port find the WTP; the old port does not.
  Deliver(moved, ControlDatagram(kMsgCfgStatusReq, 1));
  ASSERT_EQ(DispatchedCount(kMsgCfgStatusReq), 1u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  Deliver(endpoint_, ControlDatagram(kMsgCfgStatusReq, 2));
  EXPECT_EQ(DispatchedCount(kMsgCfgStatusReq), 1u);

  // And what the controller sends goes to the new port.
  ASSERT_EQ(CW_AC_SendCtlMsg(RequestPacket(wtp_, kMsgCfgUpdateReq), wtp_), 0);
  EXPECT_EQ(moved.Drain().size(), 1u);
  EXPECT_TRUE(endpoint_.Drain().empty());

  // A second Echo from the same port changes nothing.
  log.Clear();
  Deliver(moved, EchoRequest(2, 1));
  EXPECT_FALSE(log.Contains("Change Control Tunnel(NAT)"));
  EXPECT_EQ(DispatchedCount(kMsgEchoReq), 2u);
}

TEST_F(ReceiveTest, EventRequestSessionIdMovesTheSessionThere) {
  capwap::LogCapture log;
  WtpEndpoint moved;
  Bytes elements = Element(37, Bytes(5, 0xEE));
  Bytes other_session = SessionIdElement(SessionOf(9));
  Bytes own_session = SessionIdElement(SessionOf(1));
  elements.insert(elements.end(), other_session.begin(), other_session.end());
  elements.insert(elements.end(), own_session.begin(), own_session.end());  // the last one wins
  Deliver(moved, ControlDatagram(kMsgWtpEventReq, 1, elements));
  EXPECT_TRUE(log.Contains("EvtReqSessProc: AP[00:11:22:33:44:01] Change Control Tunnel(NAT)\n"));
  ASSERT_EQ(DispatchedCount(kMsgWtpEventReq), 1u);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(moved.Addr()), wtp_);
  EXPECT_EQ(CW_AC_GetWTPByIP(endpoint_.Addr()), nullptr);

  Deliver(moved, ControlDatagram(kMsgChgStateReq, 2));
  EXPECT_EQ(DispatchLog().back().msg_type, kMsgChgStateReq);
  EXPECT_EQ(DispatchLog().back().wtp, wtp_);
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
  SetMsgHandler(kMsgDiscoveryReq, AnsweringDiscoveryHandler);
  WtpEndpoint stranger;
  Deliver(stranger, ControlDatagram(kMsgDiscoveryReq, 9));
  ASSERT_EQ(DispatchLog().size(), 1u);
  const Dispatched& d = DispatchLog()[0];
  EXPECT_EQ(d.wtp, nullptr);
  EXPECT_EQ(d.remote, stranger.Addr());
  EXPECT_EQ(d.local.Ipv4(), INADDR_LOOPBACK);
  auto answer = stranger.Drain();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(MsgTypeOf(answer[0]), kMsgDiscoveryRsp);
  EXPECT_EQ(SeqOf(answer[0]), 9);

  Deliver(stranger, ControlDatagram(kMsgJoinReq, 1));
  ASSERT_EQ(DispatchLog().size(), 2u);
  EXPECT_EQ(DispatchLog()[1].wtp, nullptr);

  // Anything else needs a WTP.
  capwap::LogCapture log;
  Deliver(stranger, ControlDatagram(kMsgCfgStatusReq, 1));
  EXPECT_EQ(DispatchLog().size(), 2u);
  EXPECT_TRUE(log.Contains(" Receiving ctrl pkt pre handler error type 5 from src ip 127.0.0.1 "
                           "port " + std::to_string(stranger.port()) + "\n"));
}

// The daemon's own table, not a recording one: a message type it leaves
// without a handler shows here.
TEST_F(ReceiveTest, TheDaemonsOwnTableAnswersTheRunningWtp) {
  FsmRegisterHandlers();
  for (uint32_t type : {1u, 3u, 5u, 8u, 11u, 13u, 18u, 26u, 3398914u}) {
    EXPECT_NE(AC_GetMsgHandler(type), nullptr) << MsgTypeName(type);
  }
  Deliver(endpoint_, EchoRequest(7, 1));
  std::vector<Bytes> answer = endpoint_.Drain();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(MsgTypeOf(answer[0]), kMsgEchoRsp);
}

// One wake-up of the IPv4 control reader on `fd`, as the loop makes it.
int WakeIp4Reader(thread_master* master, int fd) {
  thread wake{};
  wake.type = ThreadType::kRead;
  wake.master = master;
  wake.func = AC_RcvIP4Pkt;
  wake.arg = capwapm;
  wake.fd = fd;
  return AC_RcvIP4Pkt(&wake);
}

TEST_F(ReceiveTest, OneWakeUpReadsABoundedBatchAndHeldFragmentsKeepTheirBytes) {
  // Three fragments of one request, each followed by an Echo Request, then
  // more Echo Requests than one wake-up reads, all waiting on the socket.
  Bytes value(600);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 13 + 5);
  Bytes whole = ControlDatagram(kMsgCfgStatusReq, 1, Element(37, value));
  std::vector<Bytes> burst;
  for (const Bytes& fragment : Fragment(whole, 9, 304)) {
    burst.push_back(fragment);
    burst.push_back(EchoRequest(2, 1));
  }
  while (burst.size() < kCwRcvBatch + 4) burst.push_back(EchoRequest(2, 1));
  for (const Bytes& datagram : burst) endpoint_.SendTo(ControlPort(), datagram);

  const size_t readers = thread_master_read_count(lab_.master());
  EXPECT_EQ(WakeIp4Reader(lab_.master(), g_iAC_IP4SockId), 0);
  EXPECT_EQ(thread_master_read_count(lab_.master()), readers + 1);  // re-armed
  // One batch: three of its datagrams were fragments of one message.
  EXPECT_EQ(DispatchLog().size(), kCwRcvBatch - 2);
  lab_.Settle();
  EXPECT_EQ(DispatchedCount(kMsgEchoReq), burst.size() - 3);
  ASSERT_EQ(DispatchedCount(kMsgCfgStatusReq), 1u);
  for (const Dispatched& d : DispatchLog()) {
    if (d.msg_type == kMsgCfgStatusReq) {
      EXPECT_EQ(d.message, whole);
    }
  }
}
}  // namespace
}  // namespace transport_test
