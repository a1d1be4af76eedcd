// Change State Event Request: the decoder's truncation table, the exchange
// over loopback UDP with WMAC played by the peer simulator, the data-check
// wait, and the entry to Run with its counters, notifications and timers.
#include <gtest/gtest.h>

#include <ctime>

#include "registry/acinfo.h"
#include "config/db_tables.h"
#include "fsm/change_state.h"
#include "platform/dbm.h"
#include "registry/wtp_record.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

// Result Code, Radio Operational State for radio 2, Returned Message Element.
const TruncTable kChangeState = {
    {Bytes{}, "no elements", Outcome::kPass},
    {U16(33), "result: type"},
    {U16(4), "result: length"},
    {U32(0), "result: value", Outcome::kPass},
    {U16(32), "radio: type"},
    {U16(3), "radio: length"},
    {Hex("02 01 00"), "radio: value", Outcome::kPass},
    {U16(34), "returned: type"},
    {U16(4), "returned: length"},
    {Hex("01 02"), "returned: reason and length"},
    {Hex("aa bb"), "returned: bytes"},
};

bool DecodeChangeState(ByteView in) {
  ChangeStateReq record;
  return CW_AC_DEC_ChgStateReq(&record, in) == 0;
}

TEST(ChangeStateDecode, TruncationsLengthsAndFields) {
  EXPECT_TRUE(CheckTruncations(kChangeState, DecodeChangeState));
  for (const char* label : {"radio: length", "returned: length", "result: length"}) {
    EXPECT_TRUE(CheckLengthMutations(kChangeState, label, DecodeChangeState)) << label;
  }
  WriteFuzzSeed(kChangeState, "responses", "change_state");

  const Bytes elements = Cat({Flatten(kChangeState), Element(32, Hex("04 02 05")),
                              Element(32, Hex("07 01 01")), Element(500, Hex("ff ff"))});
  ChangeStateReq record;
  record.result_code = 99;
  ASSERT_EQ(CW_AC_DEC_ChgStateReq(&record, elements), 0);
  EXPECT_EQ(record.result_code, 0u);
  const std::array<uint8_t, 12> rows = {0, 0, 0, 2, 1, 0, 0, 0, 0, 4, 2, 5};
  EXPECT_EQ(record.radio_states, rows) << "radio 7 has no row, element 500 is skipped";
  EXPECT_EQ(record.returned_reason, 1);
  EXPECT_EQ(record.returned_length, 2);
  EXPECT_EQ(record.returned[1], 0xbb);
}

class ChangeStateTest : public ControllerLab {
 protected:
  Bytes Request(uint8_t seq, const Bytes& elements) {
    return ControlDatagram(kMsgChgStateReq, seq, elements);
  }
  CW_WTPCB* ConfigWtp(const WtpEndpoint& ep) {
    CW_WTPCB* wtp = MakeWtp(ep, 1, kStateConfig);
    wtp->chg_state_timer.Start(lab_.master(), 10, CW_AC_ChgStateTimerHandler, wtp);
    ForgetWmac();
    return wtp;
  }
  const TruncTable kEmptyResponse = ControlHeaderRows(kMsgChgStateRsp, 5, 0);
};

TEST_F(ChangeStateTest, RadioStatesGoToWmacAndTheSessionWaitsSevenSecondsForData) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  Deliver(ep, Request(5, Element(32, Hex("02 01 03"))));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesMatch(sent[0], kEmptyResponse));
  auto radio = Wmac(WmacMsg::kRadioState);
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].wtp_id, wtp->apid);
  EXPECT_EQ(radio[0].payload, Hex("00 00 00 02 01 03 00 00 00 00 00 00"))
      << "rows 1, 3 and 4 stay zero";
  EXPECT_EQ(Bytes(wtp->radio_states.begin(), wtp->radio_states.end()), radio[0].payload);
  EXPECT_EQ(wtp->state, kStateDataCheck);
  EXPECT_FALSE(wtp->chg_state_timer.Running());

  // No keepalive: still waiting at 6 seconds, torn down at 7.
  lab_.RunFor(6);
  EXPECT_EQ(wtp->state, kStateDataCheck);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_TRUE(Logged(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(CW_AC_GetWTPBySESSID(SessionOf(1)), nullptr);
}

TEST_F(ChangeStateTest, InRunOnlyAnEmptyResponse) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = MakeWtp(ep, 2, kStateRun);
  wtp->nbr_dead_timer.Start(lab_.master(), 40, CW_AC_NbrDeadTimerHandler, wtp);
  ForgetWmac();
  Deliver(ep, Request(5, Element(32, Hex("02 02 00"))));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesMatch(sent[0], kEmptyResponse));
  EXPECT_EQ(wtp->state, kStateRun);
  EXPECT_EQ(wtp->radio_states[3], 0) << "radio states are not taken in Run";
  EXPECT_FALSE(wtp->data_check_timer.Running());
  EXPECT_TRUE(Wmac(WmacMsg::kRadioState).empty());
}

TEST_F(ChangeStateTest, UndecodableRequestIsNotAnsweredAndForgotten) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  wtp->last_rcv_seq = 3;
  Deliver(ep, Request(4, Cat({U16(32), U16(3), Hex("01 01")})));  // 3 octets claimed, 2 sent
  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_TRUE(Logged(" Failed to decode Change State Event Request frame.\n"));
  EXPECT_EQ(wtp->last_rcv_seq, 3) << "the sequence number goes back to the previous one";
  EXPECT_EQ(wtp->state, kStateConfig);
  EXPECT_TRUE(wtp->chg_state_timer.Running());
  EXPECT_TRUE(Wmac(WmacMsg::kRadioState).empty());
  // A good request afterwards is taken, with its own sequence number.
  Deliver(ep, Request(4, Element(32, Hex("01 01 00"))));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(SeqOf(sent[0]), 4);
  EXPECT_EQ(wtp->state, kStateDataCheck);
}

TEST_F(ChangeStateTest, FailuresOfPacketAndTimer) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  CW_RCVPKT rcv = RcvOf(Request(1, Element(32, Hex("01 01 00"))));
  // No packet for the response: nothing is sent, the session goes on.
  FailNext(FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_ChgStateReqHandler(wtp, &rcv), 0);
  lab_.Settle();
  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_EQ(wtp->state, kStateDataCheck);
  EXPECT_EQ(Wmac(WmacMsg::kRadioState).size(), 1u);
  // No timer: 1, with the state already changed and the response sent.
  wtp->state = kStateConfig;
  FailNext(FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_ChgStateReqHandler(wtp, &rcv), 1);
  EXPECT_EQ(wtp->state, kStateDataCheck);
  EXPECT_FALSE(wtp->data_check_timer.Running());
  EXPECT_EQ(OfType(ep.Drain(), kMsgChgStateRsp).size(), 1u);
}

// --- Entry to Run -------------------------------------------------------

class RunEntryTest : public ControllerLab {
 protected:
  CW_WTPCB* DataCheckWtp(const WtpEndpoint& ep, uint8_t seed = 1) {
    CW_WTPCB* wtp = MakeWtp(ep, seed, kStateDataCheck);
    wtp->data_end = ep.Addr();
    ForgetWmac();
    return wtp;
  }
};

TEST_F(RunEntryTest, CountersNotificationsTimerAndTimePush) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->concurrency_flag = 1;
  g_uiCwConcurrentWTPS = 3;
  g_uiCwApCount = 1;
  ul_CW_AC_Time = 1234;
  const uint32_t before = static_cast<uint32_t>(time(nullptr));
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  const uint32_t after = static_cast<uint32_t>(time(nullptr));
  lab_.Settle();
  EXPECT_EQ(wtp->state, kStateRun);
  EXPECT_EQ(g_uiCwApCount, 2u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 2u);
  EXPECT_EQ(wtp->concurrency_flag, 0);
  EXPECT_EQ(wtp->online_tick, 1234u);
  EXPECT_GE(wtp->creation_time, before);
  EXPECT_TRUE(Logged(" FSM switched to Running State.\n"));
  EXPECT_DOUBLE_EQ(wtp->nbr_dead_timer.RemainingSeconds(), 40);

  // The whole record is stored in Run.
  uint32_t key = wtp->apid;
  std::optional<Bytes> stored = DBM_Fetch(kDbCwAp, &key, sizeof key);
  ASSERT_TRUE(stored);
  CW_WTPCB loaded;
  ASSERT_TRUE(DecodeWtpRecord(*stored, &loaded));
  EXPECT_EQ(loaded.state, kStateRun);

  // WMAC: the AP information, then the tunnel up; no mesh information.
  auto info = Wmac(WmacMsg::kApInfo);
  ASSERT_EQ(info.size(), 1u);
  uint8_t expected_info[kWmacApInfoSize];
  WmacApInfoEncode(WmacApInfoOf(*wtp), expected_info);
  EXPECT_EQ(info[0].payload, Bytes(expected_info, expected_info + kWmacApInfoSize));
  EXPECT_TRUE(Wmac(WmacMsg::kMeshInfo).empty());
  std::optional<TunnelRecord> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->state, kTunnelUp);
  EXPECT_EQ(tunnel->apid, wtp->apid);
  EXPECT_EQ(tunnel->ac_addr, wtp->local.addr);
  EXPECT_EQ(tunnel->wtp_data_addr, ep.Addr().addr);
  EXPECT_EQ(tunnel->wtp_data_port, ep.port());
  EXPECT_EQ(tunnel->ac_data_port, DataPort());
  EXPECT_EQ(tunnel->virtual_ap, 0);
  EXPECT_EQ(tunnel->scrambled, 0);

  // The controller's time as a Configuration Update Request, item 6.
  std::vector<Bytes> updates = OfType(ep.Drain(), kMsgCfgUpdateReq);
  ASSERT_EQ(updates.size(), 1u);
  DecodedMessage update = DecodeMessage(updates[0]);
  ASSERT_EQ(TypesOf(update), (std::vector<uint16_t>{6}));
  WireReader r(update.elements[0].value);
  uint32_t pushed = 0;
  r.u32(pushed);
  EXPECT_GE(pushed, before);
  EXPECT_LE(pushed, after);
}

TEST_F(RunEntryTest, VirtualMeshAndPersistentAps) {
  WtpEndpoint ep1, ep2, ep3;
  CW_WTPCB* vap = DataCheckWtp(ep1, 1);
  vap->master_status = 0;
  g_uiCwApCount = 4;
  g_ucNeedEncrypt = 1;
  ASSERT_EQ(CW_AC_RunStateInit(vap), 0);
  EXPECT_EQ(g_uiCwApCount, 4u) << "a virtual AP is not counted";
  std::optional<TunnelRecord> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->virtual_ap, 1);
  EXPECT_EQ(tunnel->scrambled, 1);
  __CW_AC_HandleTunnelDown(vap, __func__, __LINE__);
  EXPECT_EQ(g_uiCwApCount, 4u) << "nor uncounted when torn down";

  CW_WTPCB* mesh = DataCheckWtp(ep2, 2);
  mesh->capability = 2;
  mesh->mesh_role = 1;
  mesh->mesh_id = 7;
  mesh->mesh_data_path = 3;
  mesh->auto_created = 1;
  g_bCwAutoApPersistentEnabled = 1;
  ASSERT_EQ(CW_AC_RunStateInit(mesh), 0);
  auto info = Wmac(WmacMsg::kMeshInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].wtp_id, mesh->apid);
  EXPECT_EQ(info[0].payload, Hex("01 07 03"));
  EXPECT_EQ(mesh->auto_created, 0) << "kept as configured";

  CW_WTPCB* passing = DataCheckWtp(ep3, 3);
  passing->auto_created = 1;
  g_bCwAutoApPersistentEnabled = 0;
  ASSERT_EQ(CW_AC_RunStateInit(passing), 0);
  EXPECT_EQ(passing->auto_created, 1);
}

TEST_F(RunEntryTest, EchoIntervalZeroMeansNoSupervision) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->echo_interval = 0;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());
  lab_.Settle();
  // The time and the switch-protection batch, one answer releasing the next.
  for (std::vector<Bytes> sent; !(sent = OfType(ep.Drain(), kMsgCfgUpdateReq)).empty();) {
    for (const Bytes& request : sent) {
      Deliver(ep, ControlDatagram(kMsgCfgUpdateRsp, SeqOf(request), Element(33, U32(0))));
    }
    lab_.Settle();
  }
  lab_.RunFor(1000);
  EXPECT_EQ(wtp->state, kStateRun);
}

TEST_F(RunEntryTest, NoNeighbourDeadTimerSkipsTheRest) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->concurrency_flag = 1;
  g_uiCwConcurrentWTPS = 1;
  FailNext(FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_RunStateInit(wtp), 1);
  lab_.Settle();
  EXPECT_EQ(wtp->state, kStateRun);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u) << "the concurrency count is left as it was";
  EXPECT_TRUE(OfType(ep.Drain(), kMsgCfgUpdateReq).empty()) << "no time push";
}

}  // namespace
}  // namespace capwap::test
