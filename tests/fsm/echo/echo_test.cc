// Echo and the response handlers: decoder truncations, the Echo Response
// and Reset Request bytes, and the handlers over loopback UDP with WMAC
// played by the peer simulator.
#include <gtest/gtest.h>

#include <ctime>

#include "fsm/change_state/run_fixture.h"
#include "fsm/echo.h"
#include "support/scenario.h"

namespace run_test {
namespace {

using namespace capwap::test;

// A received message whose elements are exactly `elements`.
CW_RCVPKT Received(uint32_t type, ByteView elements) {
  CW_RCVPKT rcv;
  rcv.buffer = ControlDatagram(type, 1, Bytes(elements.begin(), elements.end()));
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = type;
  return rcv;
}

template <typename Record, int (*Decode)(Record*, const CW_RCVPKT*)>
bool DecodeWith(ByteView elements) {
  CW_RCVPKT rcv = Received(0, elements);
  Record record;
  return Decode(&record, &rcv) == 0;
}

const TruncTable kResultOnly = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(33), "result: type"},
    {U16(4), "result: length"},
    {U32(2), "result: value", Outcome::kPass},
};

const TruncTable kCfgUpdResponse = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(33), "result: type"},
    {U16(4), "result: length"},
    {U32(0), "result: value", Outcome::kPass},
    {U16(32), "radio: type"},
    {U16(3), "radio: length"},
    {Hex("01 02 03"), "radio: value", Outcome::kPass},
};

const TruncTable kWlanResponse = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(33), "result: type"},
    {U16(4), "result: length"},
    {U32(0), "result: value", Outcome::kPass},
    {U16(1026), "bssid: type"},
    {U16(8), "bssid: length"},
    {Hex("01 03 02 aa bb cc dd ee"), "bssid: value", Outcome::kPass},
};

const TruncTable kEchoRequest = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(35), "session: type"},
    {U16(16), "session: length"},
    {Fill(0x5a, 16), "session: id", Outcome::kPass},
};

TEST(ResponseDecoders, TruncationTables) {
  auto sta = DecodeWith<CW_STACFG_RSP, CW_AC_DecStaCfgRsp>;
  auto reset = DecodeWith<CW_RESET_RSP, CW_AC_DecResetResp>;
  auto cfgupd = DecodeWith<CW_CFGUPD_RSP, CW_AC_DecCfgUpdResp>;
  auto wlan = DecodeWith<CW_WLANCFG_RSP, CW_AC_DecWlanCfgRsp>;
  auto echo = DecodeWith<CW_ECHO_REQ, CW_AC_DecEchoReq>;
  EXPECT_TRUE(CheckTruncations(kResultOnly, sta));
  EXPECT_TRUE(CheckTruncations(kResultOnly, reset));
  EXPECT_TRUE(CheckLengthMutations(kResultOnly, "result: length", sta));
  EXPECT_TRUE(CheckLengthMutations(kResultOnly, "result: length", reset));
  EXPECT_TRUE(CheckTruncations(kCfgUpdResponse, cfgupd));
  EXPECT_TRUE(CheckLengthMutations(kCfgUpdResponse, "radio: length", cfgupd));
  EXPECT_TRUE(CheckTruncations(kWlanResponse, wlan));
  EXPECT_TRUE(CheckLengthMutations(kWlanResponse, "bssid: length", wlan));
  EXPECT_TRUE(CheckTruncations(kEchoRequest, echo));
  EXPECT_TRUE(CheckLengthMutations(kEchoRequest, "session: length", echo,
                                   {.plus_one = Outcome::kFail,
                                    .minus_one = Outcome::kFail,
                                    .zero = Outcome::kAny,
                                    .max = Outcome::kFail}));
  WriteFuzzSeed(kCfgUpdResponse, "responses", "cfg_update");
  WriteFuzzSeed(kWlanResponse, "responses", "wlan");
  WriteFuzzSeed(kResultOnly, "responses", "result_only");
  WriteFuzzSeed(kEchoRequest, "responses", "echo");
}

TEST(ResponseDecoders, FieldsAndTheEightOctetRule) {
  const Bytes empty_tail = Element(99, {});
  CW_RCVPKT rcv = Received(0, Cat({Flatten(kResultOnly), empty_tail}));
  CW_RESET_RSP reset;
  EXPECT_EQ(CW_AC_DecResetResp(&reset, &rcv), 1)
      << "an element with fewer than 8 octets left is refused";
  CW_STACFG_RSP sta;
  EXPECT_EQ(CW_AC_DecStaCfgRsp(&sta, &rcv), 1);
  CW_CFGUPD_RSP cfgupd;
  EXPECT_EQ(CW_AC_DecCfgUpdResp(&cfgupd, &rcv), 0) << "only its header must fit here";
  EXPECT_EQ(cfgupd.result_code, 2u);
  EXPECT_EQ(cfgupd.radio_state_flag, 0);

  rcv = Received(0, Cat({Element(32, Hex("03 01 02")), Element(32, Hex("09 01 01")),
                         Element(33, U32(0))}));
  ASSERT_EQ(CW_AC_DecCfgUpdResp(&cfgupd, &rcv), 0);
  EXPECT_EQ(cfgupd.radio_state_flag, 1);
  const std::array<uint8_t, 12> rows = {0, 0, 0, 0, 0, 0, 3, 1, 2, 0, 0, 0};
  EXPECT_EQ(cfgupd.radio_states, rows);

  rcv = Received(0, Flatten(kWlanResponse));
  CW_WLANCFG_RSP wlan;
  ASSERT_EQ(CW_AC_DecWlanCfgRsp(&wlan, &rcv), 0);
  EXPECT_EQ(wlan.bssid_flag, 1);
  EXPECT_EQ(wlan.radio_id, 1);
  EXPECT_EQ(wlan.wlan_id, 3);
  const std::array<uint8_t, 6> bssid = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee};
  EXPECT_EQ(wlan.bssid, bssid);

  rcv = Received(0, Element(33, Hex("00 00 01")));
  EXPECT_EQ(CW_AC_DecCfgUpdResp(&cfgupd, &rcv), 1) << "a Result Code of 3 octets";
}

// --- Handlers over UDP ----------------------------------------------------

class EchoTest : public RunLab {
 protected:
  CW_WTPCB* RunningWtp(const WtpEndpoint& ep, uint8_t seed) {
    CW_WTPCB* wtp = MakeWtp(ep, seed, CW_STATE_RUN);
    wtp->data_end = ep.Addr();
    wtp->tunnel = CW_AC_TunnelRecordOf(*wtp, CW_TUNNEL_UP);
    g_uiCwApCount = 1;
    CW_AC_RefreshLiveness(wtp);
    ForgetWmac();
    return wtp;
  }
  Bytes EchoRequest(uint8_t seq, uint8_t seed) {
    return ControlDatagram(CW_MSG_ECHO_REQ, seq, SessionElement(seed));
  }
  // Puts a request of `type` at the head of the WTP's send queue, as the
  // relay would, and drains what it sent.
  uint8_t Outstanding(CW_WTPCB* wtp, const WtpEndpoint& ep, uint32_t type) {
    CwPktPtr pkt = CW_AC_PktMalloc();
    const uint8_t seq = CW_AC_GetSeqNum(wtp, type);
    CW_FinishCtlMsg(*pkt, type, seq);
    EXPECT_EQ(CW_AC_SendCtlMsg(std::move(pkt), wtp), 0);
    EXPECT_EQ(OfType(ep.Drain(), type).size(), 1u);
    return seq;
  }
};

TEST_F(EchoTest, AnsweredWithUnixTimeAndTheLastOtherSequenceNumber) {
  WtpEndpoint ep;
  RunningWtp(ep, 1);
  // A WTP Event Request with sequence number 7 (no handler needed: the
  // receive path records its number), then an Echo Request with 9.
  Deliver(ep, ControlPort(), ControlDatagram(CW_MSG_WTP_EVENT_REQ, 7, SessionElement(1)));
  ep.Drain();
  const uint32_t before = static_cast<uint32_t>(time(nullptr));
  Deliver(ep, ControlPort(), EchoRequest(9, 1));
  const uint32_t after = static_cast<uint32_t>(time(nullptr));

  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 24u);
  capwap::WireReader r(ByteView(sent[0]).subspan(20));
  uint32_t stamp = 0;
  r.u32(stamp);
  EXPECT_GE(stamp, before) << "Unix time, not NTP time";
  EXPECT_LE(stamp, after);
  const TruncTable kEchoResponse = {
      {U32(0x00100000), "header: HLEN 2"},
      {U16(0), "fragment id"},
      {U16(0), "fragment offset"},
      {U32(14), "message type"},
      {U8(7), "sequence number: the Event Request's"},
      {U16(8), "element length"},
      {U8(0), "flags"},
      {U16(6), "timestamp: type"},
      {U16(4), "timestamp: length"},
      {U32(stamp), "timestamp: seconds since 1970"},
  };
  EXPECT_TRUE(BytesMatch(sent[0], kEchoResponse));
}

TEST_F(EchoTest, OnlyARunningSessionIsAnswered) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = MakeWtp(ep, 2, CW_STATE_DATA_CHECK);
  capwap::LogCapture log;
  Deliver(ep, ControlPort(), EchoRequest(1, 2));
  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_TRUE(log.Contains("CW_AC_EchoReqHandler::pstWtp->uiState != AC_STATE_RUN\n"));
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());

  CW_RCVPKT rcv = Received(CW_MSG_ECHO_REQ, {});
  EXPECT_EQ(CW_AC_EchoReqHandler(nullptr, &rcv), 1);

  // A packet failure in Run sends nothing but still refreshes.
  wtp->state = CW_STATE_RUN;
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_EchoReqHandler(wtp, &rcv), 0);
  EXPECT_TRUE(wtp->nbr_dead_timer.Running());
  lab_.Settle();
  EXPECT_TRUE(ep.Drain().empty());
}

TEST_F(EchoTest, EchoesKeepTheSessionAliveUntilTheyStop) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 3);
  for (int i = 0; i < 5; ++i) {
    lab_.RunFor(30);
    Deliver(ep, ControlPort(), EchoRequest(static_cast<uint8_t>(i), 3));
    ASSERT_EQ(wtp->state, CW_STATE_RUN) << "after echo " << i;
  }
  EXPECT_EQ(OfType(ep.Drain(), CW_MSG_ECHO_RSP).size(), 5u);
  lab_.RunFor(39);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwApCount, 0u);
  std::optional<CW_TUNNEL_RECORD> down = LastTunnelRecord();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->state, CW_TUNNEL_DOWN);
}

TEST_F(EchoTest, ResetRequestBytesAndVirtualAp) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 4);
  wtp->req_seq = 20;
  for (size_t i = 4; i < wtp->image_id.size(); ++i) wtp->image_id[i] = static_cast<uint8_t>(i);
  wtp->image_id[0] = 0xee;  // the first four bytes are not the reset image field
  ASSERT_EQ(CW_AC_SndResetReq(wtp), 0);
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  Bytes image(wtp->image_id.begin() + 4, wtp->image_id.end());
  const TruncTable kResetRequest = {
      {U32(0x00100000), "header: HLEN 2"},
      {U16(0), "fragment id"},
      {U16(0), "fragment offset"},
      {U32(17), "message type"},
      {U8(21), "sequence number: a new request number"},
      {U16(116), "element length"},
      {U8(0), "flags"},
      {U16(25), "image identifier: type"},
      {U16(112), "image identifier: length"},
      {U32(kVendorId), "image identifier: vendor"},
      {image, "image identifier: reset image field"},
  };
  EXPECT_TRUE(BytesMatch(sent[0], kResetRequest));
  EXPECT_EQ(wtp->sndq.count, 1u) << "queued for retransmission";

  WtpEndpoint ep2;
  CW_WTPCB* vap = RunningWtp(ep2, 5);
  vap->master_status = 0;
  capwap::LogCapture log;
  EXPECT_EQ(CW_AC_SndResetReq(vap), 0);
  EXPECT_TRUE(log.Contains(" Can't reset virtual ap " + vap->name + "\n"));
  EXPECT_TRUE(ep2.Drain().empty());
  EXPECT_EQ(vap->sndq.count, 0u);

  vap->master_status = 1;
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_SndResetReq(vap), 1);
  EXPECT_EQ(vap->req_seq, 0) << "no sequence number spent";
}

TEST_F(EchoTest, ResetResponseEndsTheSessionWhateverTheResult) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 6);
  ASSERT_EQ(CW_AC_SndResetReq(wtp), 0);
  const uint8_t seq = SeqOf(ep.Drain().at(0));
  capwap::LogCapture log;
  Deliver(ep, ControlPort(), ControlDatagram(CW_MSG_RESET_RSP, seq, Element(33, U32(2))));
  EXPECT_TRUE(log.Contains(" Receiving Reset Response frame from AP.\n"));
  EXPECT_TRUE(log.Contains(" Result code 2 from Reset Response frame.\n"));
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(wtp->sndq.count, 0u);
  EXPECT_FALSE(wtp->retrans_timer.Running());
  std::optional<CW_TUNNEL_RECORD> down = LastTunnelRecord();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->state, CW_TUNNEL_DOWN);

  // An undecodable one does not, and outside Run nothing is looked at.
  WtpEndpoint ep2;
  CW_WTPCB* other = RunningWtp(ep2, 7);
  CW_RCVPKT bad = Received(CW_MSG_RESET_RSP, Cat({U16(33), U16(4), U16(0)}));
  EXPECT_EQ(CW_AC_ResetRespHandler(other, &bad), 1);
  EXPECT_TRUE(log.Contains(" Failed to decode Reset Reponse frame.\n"));
  EXPECT_EQ(other->state, CW_STATE_RUN);
  other->state = CW_STATE_CONFIG;
  CW_RCVPKT good = Received(CW_MSG_RESET_RSP, Element(33, U32(0)));
  EXPECT_EQ(CW_AC_ResetRespHandler(other, &good), 1);
  EXPECT_EQ(other->state, CW_STATE_CONFIG);
}

TEST_F(EchoTest, ConfigUpdateResponseReportsRadioStateInAnyState) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 8);
  uint8_t seq = Outstanding(wtp, ep, CW_MSG_CFG_UPDATE_REQ);
  Deliver(ep, ControlPort(),
          ControlDatagram(CW_MSG_CFG_UPDATE_RSP, seq,
                          Cat({Element(33, U32(0)), Element(32, Hex("01 02 00"))})));
  auto radio = Wmac(WMAC_MSG_RADIO_STATE);
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].payload, Hex("01 02 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(wtp->sndq.count, 0u);

  // A failed result is logged and reported nowhere.
  capwap::LogCapture log;
  seq = Outstanding(wtp, ep, CW_MSG_CFG_UPDATE_REQ);
  Deliver(ep, ControlPort(),
          ControlDatagram(CW_MSG_CFG_UPDATE_RSP, seq,
                          Cat({Element(33, U32(5)), Element(32, Hex("02 02 00"))})));
  EXPECT_TRUE(log.Contains(" Result code 5 frome Config Update Response frame. \n"));
  EXPECT_EQ(Wmac(WMAC_MSG_RADIO_STATE).size(), 1u);

  // Outside Run it is still handled.
  wtp->state = CW_STATE_CONFIG;
  CW_RCVPKT rcv = Received(CW_MSG_CFG_UPDATE_RSP, Element(32, Hex("02 01 00")));
  EXPECT_EQ(CW_AC_CfgUpdRespHandler(wtp, &rcv), 0);
  EXPECT_EQ(Wmac(WMAC_MSG_RADIO_STATE).size(), 2u);
  CW_RCVPKT bad = Received(CW_MSG_CFG_UPDATE_RSP, Cat({U16(32), U16(3)}));
  EXPECT_EQ(CW_AC_CfgUpdRespHandler(wtp, &bad), 1);
  EXPECT_TRUE(log.Contains(" Failed to decode config Update Response frame.\n"));
}

TEST_F(EchoTest, WlanConfigResponseTellsWmacOnlyOfAssignedBssids) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 9);
  uint8_t seq = Outstanding(wtp, ep, CW_MSG_WLAN_CFG_REQ);
  Deliver(ep, ControlPort(), ControlDatagram(CW_MSG_WLAN_CFG_RSP, seq, Element(33, U32(0))));
  EXPECT_EQ(wtp->sndq.count, 0u) << "matched";
  EXPECT_TRUE(Wmac(WMAC_MSG_SET_BSSID).empty());

  seq = Outstanding(wtp, ep, CW_MSG_WLAN_CFG_REQ);
  Deliver(ep, ControlPort(), ControlDatagram(CW_MSG_WLAN_CFG_RSP, seq, Flatten(kWlanResponse)));
  auto bssid = Wmac(WMAC_MSG_SET_BSSID);
  ASSERT_EQ(bssid.size(), 1u);
  EXPECT_EQ(bssid[0].wtp_id, wtp->apid);
  EXPECT_EQ(bssid[0].payload, Hex("01 03 02 aa bb cc dd ee"));

  capwap::LogCapture log;
  CW_RCVPKT failed = Received(CW_MSG_WLAN_CFG_RSP,
                              Cat({Element(33, U32(4)), Element(1026, Hex("01 03 02 aa bb cc dd ee"))}));
  EXPECT_EQ(CW_AC_WlanCfgRespHandler(wtp, &failed), 1);
  EXPECT_TRUE(log.Contains(" Result code 4 frome WLAN Config Response.\n"));
  wtp->state = CW_STATE_DATA_CHECK;
  CW_RCVPKT good = Received(CW_MSG_WLAN_CFG_RSP, Flatten(kWlanResponse));
  EXPECT_EQ(CW_AC_WlanCfgRespHandler(wtp, &good), 1);
  EXPECT_EQ(Wmac(WMAC_MSG_SET_BSSID).size(), 1u);
}

TEST_F(EchoTest, StationConfigResponseChecksTheResult) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 10);
  capwap::LogCapture log;
  CW_RCVPKT ok = Received(CW_MSG_STA_CFG_RSP, Element(33, U32(0)));
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &ok), 0);
  EXPECT_TRUE(log.Contains(" Receiving Station Config Response frame from AP.\n"));
  CW_RCVPKT failed = Received(CW_MSG_STA_CFG_RSP, Element(33, U32(3)));
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &failed), 1);
  EXPECT_TRUE(log.Contains(" Result code 3 from Station Config Resopnse frame.\n"));
  CW_RCVPKT bad = Received(CW_MSG_STA_CFG_RSP, Element(33, U16(0)));
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &bad), 1);
  EXPECT_TRUE(log.Contains(" Failed to decode Station Config Response frame.\n"));

  // Responses refresh the session's liveness.
  lab_.RunFor(30);
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &ok), 0);
  lab_.RunFor(30);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);

  wtp->state = CW_STATE_CONFIG;
  log.Clear();
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &ok), 1);
  EXPECT_FALSE(log.Contains("Station Config")) << "dropped silently outside Run";
}

}  // namespace
}  // namespace run_test
