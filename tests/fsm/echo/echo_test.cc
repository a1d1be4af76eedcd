// Echo and the response handlers: the decoders' truncation tables, the Echo
// Response and Reset Request bytes, and the handlers over loopback UDP with
// WMAC played by the peer simulator.
#include <gtest/gtest.h>

#include <ctime>

#include "fsm/cfg_update_rsp.h"
#include "fsm/config_rsp.h"
#include "fsm/echo.h"
#include "fsm/reset.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

// A received message whose elements are exactly `elements`.
CW_RCVPKT Received(uint32_t type, ByteView elements) {
  return RcvOf(ControlDatagram(type, 1, Bytes(elements.begin(), elements.end())));
}

template <typename Record, int (*Decode)(Record*, const CW_RCVPKT*)>
bool DecodeWith(ByteView elements) {
  CW_RCVPKT rcv = Received(0, elements);
  Record record;
  return Decode(&record, &rcv) == 0;
}

TruncTable ResultThen(uint32_t result, uint16_t type, const std::string& name, Bytes value) {
  TruncTable rows = {{Bytes{}, "no elements", Outcome::kPass},
                     {U16(33), "result: type"},
                     {U16(4), "result: length"},
                     {U32(result), "result: value", Outcome::kPass}};
  if (value.empty()) return rows;
  rows.push_back({U16(type), name + ": type"});
  rows.push_back({U16(static_cast<uint16_t>(value.size())), name + ": length"});
  rows.push_back({std::move(value), name + ": value", Outcome::kPass});
  return rows;
}

const TruncTable kResultOnly = ResultThen(2, 0, "", {});
const TruncTable kCfgUpdResponse = ResultThen(0, 32, "radio", Hex("01 02 03"));
const TruncTable kWlanResponse = ResultThen(0, 1026, "bssid", Hex("01 03 02 aa bb cc dd ee"));
const TruncTable kEchoRequest = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(35), "session: type"},
    {U16(16), "session: length"},
    {Fill(0x5a, 16), "session: id", Outcome::kPass},
};

TEST(ResponseDecoders, TruncationTables) {
  const struct {
    const char* seed;
    const TruncTable& table;
    DecodeFn decode;
    const char* length;
    LengthExpect expect;
  } rows[] = {
      {"result_only", kResultOnly, DecodeWith<StaCfgRsp, CW_AC_DecStaCfgRsp>, "result: length", {}},
      {nullptr, kResultOnly, DecodeWith<ResetRsp, CW_AC_DecResetResp>, "result: length", {}},
      {"cfg_update", kCfgUpdResponse, DecodeWith<CfgUpdateRsp, CW_AC_DecCfgUpdResp>, "radio: length", {}},
      {"wlan", kWlanResponse, DecodeWith<WlanCfgRsp, CW_AC_DecWlanCfgRsp>, "bssid: length", {}},
      {"echo", kEchoRequest, DecodeWith<EchoReq, CW_AC_DecEchoReq>, "session: length",
       {.zero = Outcome::kAny}},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(CheckTruncations(row.table, row.decode)) << row.length;
    EXPECT_TRUE(CheckLengthMutations(row.table, row.length, row.decode, row.expect)) << row.length;
    if (row.seed) WriteFuzzSeed(row.table, "responses", row.seed);
  }
}

// The WLAN response's fields are checked by the WLAN scenario, where the
// BSSID the AP assigned reaches WMAC.
TEST(ResponseDecoders, FieldsAndTheEightOctetRule) {
  CW_RCVPKT rcv = Received(0, Cat({Flatten(kResultOnly), Element(99, {})}));
  ResetRsp reset;
  EXPECT_EQ(CW_AC_DecResetResp(&reset, &rcv), 1)
      << "an element with fewer than 8 octets left is refused";
  StaCfgRsp sta;
  EXPECT_EQ(CW_AC_DecStaCfgRsp(&sta, &rcv), 1);
  CfgUpdateRsp cfgupd;
  EXPECT_EQ(CW_AC_DecCfgUpdResp(&cfgupd, &rcv), 0) << "only its header must fit here";
  EXPECT_EQ(cfgupd.result_code, 2u);
  EXPECT_EQ(cfgupd.radio_state_flag, 0);

  rcv = Received(0, Cat({Element(32, Hex("03 01 02")), Element(32, Hex("09 01 01")),
                         Element(33, U32(0))}));
  ASSERT_EQ(CW_AC_DecCfgUpdResp(&cfgupd, &rcv), 0);
  EXPECT_EQ(cfgupd.radio_state_flag, 1);
  const std::array<uint8_t, 12> rows = {0, 0, 0, 0, 0, 0, 3, 1, 2, 0, 0, 0};
  EXPECT_EQ(cfgupd.radio_states, rows);
}

// --- Handlers over UDP ----------------------------------------------------

class EchoTest : public ControllerLab {
 protected:
  CW_WTPCB* RunningWtp(const WtpEndpoint& ep, uint8_t seed) {
    CW_WTPCB* wtp = MakeWtp(ep, seed, kStateRun);
    wtp->data_end = ep.Addr();
    wtp->tunnel = TunnelRecordOf(*wtp, kTunnelUp);
    g_uiCwApCount = 1;
    capwap::RefreshLiveness(wtp);
    ForgetWmac();
    return wtp;
  }
  Bytes EchoRequest(uint8_t seq, uint8_t seed) {
    return ControlDatagram(kMsgEchoReq, seq, SessionElement(seed));
  }
  // Puts a request of `type` at the head of the WTP's send queue, as the
  // relay would, and drains what it sent.
  uint8_t Outstanding(CW_WTPCB* wtp, const WtpEndpoint& ep, uint32_t type) {
    CwPktPtr pkt = CW_AC_PktMalloc();
    const uint8_t seq = CW_AC_GetSeqNum(wtp, type);
    FinishCtlMsg(*pkt, type, seq);
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
  Deliver(ep, ControlDatagram(kMsgWtpEventReq, 7, SessionElement(1)));
  ep.Drain();
  const uint32_t before = static_cast<uint32_t>(time(nullptr));
  Deliver(ep, EchoRequest(9, 1));
  const uint32_t after = static_cast<uint32_t>(time(nullptr));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 24u);
  WireReader r(ByteView(sent[0]).subspan(20));
  uint32_t stamp = 0;
  r.u32(stamp);
  EXPECT_GE(stamp, before) << "Unix time, not NTP time";
  EXPECT_LE(stamp, after);
  EXPECT_TRUE(BytesMatch(sent[0], Concat({ControlHeaderRows(kMsgEchoRsp, 7, 8),
                                          {{Cat({U16(6), U16(4)}), "timestamp: type, length"},
                                           {U32(stamp), "timestamp: seconds since 1970"}}})));
}

TEST_F(EchoTest, OnlyARunningSessionIsAnswered) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = MakeWtp(ep, 2, kStateDataCheck);
  Deliver(ep, EchoRequest(1, 2));
  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_TRUE(Logged("CW_AC_EchoReqHandler::pstWtp->uiState != AC_STATE_RUN\n"));
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());
  CW_RCVPKT rcv = Received(kMsgEchoReq, {});
  EXPECT_EQ(CW_AC_EchoReqHandler(nullptr, &rcv), 1);

  // A packet failure in Run sends nothing but still refreshes.
  wtp->state = kStateRun;
  FailNext(FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_EchoReqHandler(wtp, &rcv), 0);
  EXPECT_TRUE(wtp->nbr_dead_timer.Running());
  lab_.Settle();
  EXPECT_TRUE(ep.Drain().empty());
}

TEST_F(EchoTest, EchoesKeepTheSessionAliveUntilFourIntervalsOfSilence) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 3);
  for (int i = 0; i < 5; ++i) {
    lab_.RunFor(30);
    Deliver(ep, EchoRequest(static_cast<uint8_t>(i), 3));
    ASSERT_EQ(wtp->state, kStateRun) << "after echo " << i;
  }
  EXPECT_EQ(OfType(ep.Drain(), kMsgEchoRsp).size(), 5u);
  lab_.RunFor(39);
  EXPECT_EQ(wtp->state, kStateRun);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_EQ(g_uiCwApCount, 0u);
  std::optional<TunnelRecord> down = LastTunnelRecord();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->state, kTunnelDown);
  EXPECT_EQ(down->wtp_data_port, ep.port());
}

// The Reset Request's bytes, and its response ending the session whatever
// the result.
TEST_F(EchoTest, ResetRequestBytesAndItsResponse) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 4);
  wtp->req_seq = 20;
  for (size_t i = 4; i < wtp->image_id.size(); ++i) wtp->image_id[i] = static_cast<uint8_t>(i);
  wtp->image_id[0] = 0xee;  // the first four bytes are not the reset image field
  ASSERT_EQ(CW_AC_SndResetReq(wtp), 0);
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesMatch(
      sent[0], Concat({ControlHeaderRows(kMsgResetReq, 21, 116),
                       {{Cat({U16(25), U16(112)}), "image identifier: type, length"},
                        {U32(kPlatformVendor), "image identifier: vendor"},
                        {Bytes(wtp->image_id.begin() + 4, wtp->image_id.end()), "reset image"}}})));
  EXPECT_EQ(wtp->sndq.count, 1u) << "queued for retransmission";
  Deliver(ep, ControlDatagram(kMsgResetRsp, 21, Element(33, U32(2))));
  EXPECT_TRUE(Logged(" Result code 2 from Reset Response frame.\n"));
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_EQ(wtp->sndq.count, 0u);
  EXPECT_EQ(LastTunnelRecord()->state, kTunnelDown);

  // A virtual AP is not reset, and a failed packet spends no number.
  WtpEndpoint ep2;
  CW_WTPCB* vap = RunningWtp(ep2, 5);
  vap->master_status = 0;
  EXPECT_EQ(CW_AC_SndResetReq(vap), 0);
  EXPECT_TRUE(Logged(" Can't reset virtual ap " + vap->name + "\n"));
  EXPECT_TRUE(ep2.Drain().empty());
  vap->master_status = 1;
  FailNext(FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_SndResetReq(vap), 1);
  EXPECT_EQ(vap->req_seq, 0) << "no sequence number spent";

  // An undecodable response does not end it, and outside Run nothing is looked at.
  CW_RCVPKT bad = Received(kMsgResetRsp, Cat({U16(33), U16(4), U16(0)}));
  EXPECT_EQ(CW_AC_ResetRespHandler(vap, &bad), 1);
  EXPECT_TRUE(Logged(" Failed to decode Reset Reponse frame.\n"));
  EXPECT_EQ(vap->state, kStateRun);
  vap->state = kStateConfig;
  CW_RCVPKT good = Received(kMsgResetRsp, Element(33, U32(0)));
  EXPECT_EQ(CW_AC_ResetRespHandler(vap, &good), 1);
  EXPECT_EQ(vap->state, kStateConfig);
}

TEST_F(EchoTest, ConfigUpdateResponseReportsRadioStateInAnyState) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 8);
  uint8_t seq = Outstanding(wtp, ep, kMsgCfgUpdateReq);
  Deliver(ep, ControlDatagram(kMsgCfgUpdateRsp, seq,
                              Cat({Element(33, U32(0)), Element(32, Hex("01 02 00"))})));
  auto radio = Wmac(WmacMsg::kRadioState);
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].payload, Hex("01 02 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(wtp->sndq.count, 0u);
  // A failed result is logged and reported nowhere.
  seq = Outstanding(wtp, ep, kMsgCfgUpdateReq);
  Deliver(ep, ControlDatagram(kMsgCfgUpdateRsp, seq,
                              Cat({Element(33, U32(5)), Element(32, Hex("02 02 00"))})));
  EXPECT_TRUE(Logged(" Result code 5 frome Config Update Response frame. \n"));
  EXPECT_EQ(Wmac(WmacMsg::kRadioState).size(), 1u);
  // Outside Run it is still handled.
  wtp->state = kStateConfig;
  CW_RCVPKT rcv = Received(kMsgCfgUpdateRsp, Element(32, Hex("02 01 00")));
  EXPECT_EQ(CW_AC_CfgUpdRespHandler(wtp, &rcv), 0);
  EXPECT_EQ(Wmac(WmacMsg::kRadioState).size(), 2u);
  CW_RCVPKT bad = Received(kMsgCfgUpdateRsp, Cat({U16(32), U16(3)}));
  EXPECT_EQ(CW_AC_CfgUpdRespHandler(wtp, &bad), 1);
  EXPECT_TRUE(Logged(" Failed to decode config Update Response frame.\n"));
}

// The WLAN Configuration Response and the BSSID it reports: the WLAN
// scenario of the relay tests.
TEST_F(EchoTest, StationConfigResponseChecksTheResultAndRefreshesLiveness) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = RunningWtp(ep, 10);
  CW_RCVPKT ok = Received(kMsgStaCfgRsp, Element(33, U32(0)));
  CW_RCVPKT failed = Received(kMsgStaCfgRsp, Element(33, U32(3)));
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &failed), 1);
  EXPECT_TRUE(Logged(" Result code 3 from Station Config Resopnse frame.\n"));
  CW_RCVPKT bad = Received(kMsgStaCfgRsp, Element(33, U16(0)));
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &bad), 1);
  EXPECT_TRUE(Logged(" Failed to decode Station Config Response frame.\n"));
  lab_.RunFor(30);
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &ok), 0);
  EXPECT_TRUE(Logged(" Receiving Station Config Response frame from AP.\n"));
  lab_.RunFor(30);
  EXPECT_EQ(wtp->state, kStateRun);

  wtp->state = kStateConfig;
  lines_.clear();
  EXPECT_EQ(CW_AC_StaCfgRespHandler(wtp, &ok), 1);
  EXPECT_FALSE(Logged("Station Config")) << "dropped silently outside Run";
}

}  // namespace
}  // namespace capwap::test
