// Change State Event Request: decoder truncations, the exchange over
// loopback UDP with WMAC played by the peer simulator, the data-check wait,
// and the entry to Run with its counters, notifications and timers.
#include <gtest/gtest.h>

#include <ctime>

#include "config/db_tables.h"
#include "config/ap_persist.h"
#include "registry/acinfo.h"
#include "fsm/change_state.h"
#include "fsm/change_state/run_fixture.h"
#include "registry/wtp_record.h"
#include "support/scenario.h"

namespace run_test {
namespace {

using namespace capwap::test;

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
  CW_CHGSTATE_REQ record;
  return CW_AC_DEC_ChgStateReq(&record, in) == 0;
}

TEST(ChangeStateDecode, TruncationsAndLengths) {
  EXPECT_TRUE(CheckTruncations(kChangeState, DecodeChangeState));
  EXPECT_TRUE(CheckLengthMutations(kChangeState, "radio: length", DecodeChangeState));
  EXPECT_TRUE(CheckLengthMutations(kChangeState, "returned: length", DecodeChangeState));
  EXPECT_TRUE(CheckLengthMutations(kChangeState, "result: length", DecodeChangeState));
  WriteFuzzSeed(kChangeState, "responses", "change_state");
}

TEST(ChangeStateDecode, FieldsLandInTheirRows) {
  const Bytes elements = Cat({Flatten(kChangeState), Element(32, Hex("04 02 05")),
                              Element(32, Hex("07 01 01")), Element(500, Hex("ff ff"))});
  CW_CHGSTATE_REQ record;
  record.result_code = 99;
  ASSERT_EQ(CW_AC_DEC_ChgStateReq(&record, elements), 0);
  EXPECT_EQ(record.result_code, 0u);
  const std::array<uint8_t, 12> rows = {0, 0, 0, 2, 1, 0, 0, 0, 0, 4, 2, 5};
  EXPECT_EQ(record.radio_states, rows) << "radio 7 has no row, element 500 is skipped";
  EXPECT_EQ(record.returned_reason, 1);
  EXPECT_EQ(record.returned_length, 2);
  EXPECT_EQ(record.returned[0], 0xaa);
  EXPECT_EQ(record.returned[1], 0xbb);

  // A Returned Message Element claiming more bytes than it carries.
  EXPECT_EQ(CW_AC_DEC_ChgStateReq(&record, Element(34, Hex("01 05 aa"))), 1);
}

class ChangeStateTest : public RunLab {
 protected:
  Bytes Request(uint8_t seq, const Bytes& elements) {
    return ControlDatagram(CW_MSG_CHG_STATE_REQ, seq, elements);
  }
  CW_WTPCB* ConfigWtp(const WtpEndpoint& ep) {
    CW_WTPCB* wtp = MakeWtp(ep, 1, CW_STATE_CONFIG);
    wtp->chg_state_timer.Start(lab_.master(), 10, CW_AC_ChgStateTimerHandler, wtp);
    ForgetWmac();
    return wtp;
  }
};

const TruncTable kEmptyResponse = {
    {U32(0x00100000), "header: HLEN 2"},
    {U16(0), "fragment id"},
    {U16(0), "fragment offset"},
    {U32(12), "message type"},
    {U8(5), "sequence number"},
    {U16(0), "element length"},
    {U8(0), "flags"},
};

TEST_F(ChangeStateTest, RadioStatesGoToWmacAndTheSessionWaitsForData) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  Deliver(ep, ControlPort(), Request(5, Element(32, Hex("02 01 03"))));

  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesMatch(sent[0], kEmptyResponse));

  auto radio = Wmac(WMAC_MSG_RADIO_STATE);
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].wtp_id, wtp->apid);
  EXPECT_EQ(radio[0].payload, Hex("00 00 00 02 01 03 00 00 00 00 00 00"))
      << "rows 1, 3 and 4 stay zero";
  const std::array<uint8_t, 12> stored = {0, 0, 0, 2, 1, 3, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(wtp->radio_states, stored);

  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);
  EXPECT_FALSE(wtp->chg_state_timer.Running());
  ASSERT_TRUE(wtp->data_check_timer.Running());
  EXPECT_DOUBLE_EQ(wtp->data_check_timer.RemainingSeconds(), 7);

  // No keepalive: still waiting at 6 seconds, torn down at 7.
  lab_.RunFor(6);
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);
  capwap::LogCapture log;
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_TRUE(log.Contains(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(CW_AC_GetWTPBySESSID(SessionOf(1)), nullptr);
}

TEST_F(ChangeStateTest, InRunOnlyAnEmptyResponse) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = MakeWtp(ep, 2, CW_STATE_RUN);
  wtp->radio_states = {1, 1, 0};
  wtp->nbr_dead_timer.Start(lab_.master(), 40, CW_AC_NbrDeadTimerHandler, wtp);
  ForgetWmac();

  Deliver(ep, ControlPort(), Request(5, Element(32, Hex("02 02 00"))));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesMatch(sent[0], kEmptyResponse));
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(wtp->radio_states[3], 0) << "radio states are not taken in Run";
  EXPECT_FALSE(wtp->data_check_timer.Running());
  EXPECT_TRUE(wtp->nbr_dead_timer.Running());
  EXPECT_TRUE(Wmac(WMAC_MSG_RADIO_STATE).empty());
}

TEST_F(ChangeStateTest, UndecodableRequestIsNotAnsweredAndForgotten) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  wtp->last_rcv_seq = 3;
  capwap::LogCapture log;
  // The radio element claims 3 octets but carries 2.
  Bytes bad = Request(4, Cat({U16(32), U16(3), Hex("01 01")}));
  Deliver(ep, ControlPort(), bad);

  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_TRUE(log.Contains(" Failed to decode Change State Event Request frame.\n"));
  EXPECT_EQ(wtp->last_rcv_seq, 3) << "the sequence number goes back to the previous one";
  EXPECT_EQ(wtp->state, CW_STATE_CONFIG);
  EXPECT_TRUE(wtp->chg_state_timer.Running());
  EXPECT_TRUE(Wmac(WMAC_MSG_RADIO_STATE).empty());

  // A good request afterwards is taken, with its own sequence number.
  Deliver(ep, ControlPort(), Request(4, Element(32, Hex("01 01 00"))));
  std::vector<Bytes> sent = ep.Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(SeqOf(sent[0]), 4);
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);

  // Without a good request the change-state wait ends the session.
  WtpEndpoint other;
  CW_WTPCB* silent = MakeWtp(other, 9, CW_STATE_CONFIG);
  silent->chg_state_timer.Start(lab_.master(), 10, CW_AC_ChgStateTimerHandler, silent);
  Deliver(other, ControlPort(), Request(1, Cat({U16(33), U16(4)})));
  lab_.RunFor(10);
  EXPECT_EQ(silent->state, CW_STATE_IDLE);
}

TEST_F(ChangeStateTest, FailuresOfPacketAndTimer) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = ConfigWtp(ep);
  CW_RCVPKT rcv;
  rcv.buffer = Request(1, Element(32, Hex("01 01 00")));
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = CW_MSG_CHG_STATE_REQ;

  // No packet for the response: nothing is sent, the session goes on.
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_ChgStateReqHandler(wtp, &rcv), 0);
  lab_.Settle();
  EXPECT_TRUE(ep.Drain().empty());
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);
  EXPECT_EQ(Wmac(WMAC_MSG_RADIO_STATE).size(), 1u);

  // No timer: 1, with the state already changed.
  wtp->state = CW_STATE_CONFIG;
  capwap::FailNext(capwap::FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_ChgStateReqHandler(wtp, &rcv), 1);
  EXPECT_EQ(wtp->state, CW_STATE_DATA_CHECK);
  EXPECT_FALSE(wtp->data_check_timer.Running());
  EXPECT_EQ(OfType(ep.Drain(), CW_MSG_CHG_STATE_RSP).size(), 1u);
}

// --- Entry to Run -------------------------------------------------------

class RunEntryTest : public RunLab {
 protected:
  CW_WTPCB* DataCheckWtp(const WtpEndpoint& ep, uint8_t seed = 1) {
    CW_WTPCB* wtp = MakeWtp(ep, seed, CW_STATE_DATA_CHECK);
    wtp->data_end = ep.Addr();
    ForgetWmac();
    return wtp;
  }
  // Answers every Configuration Update Request the AP received (the time
  // push of the entry to Run), as an AP does.
  void AnswerUpdates(const WtpEndpoint& ep) {
    for (const Bytes& request : OfType(ep.Drain(), CW_MSG_CFG_UPDATE_REQ)) {
      Deliver(ep, ControlPort(),
              ControlDatagram(CW_MSG_CFG_UPDATE_RSP, SeqOf(request), Element(33, U32(0))));
    }
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

  capwap::LogCapture log;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  const uint32_t after = static_cast<uint32_t>(time(nullptr));
  lab_.Settle();

  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 2u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 2u);
  EXPECT_EQ(wtp->concurrency_flag, 0);
  EXPECT_EQ(wtp->online_tick, 1234u);
  EXPECT_GE(wtp->creation_time, before);
  EXPECT_LE(wtp->creation_time, after);
  EXPECT_TRUE(log.Contains(" FSM switched to Running State.\n"));
  ASSERT_TRUE(wtp->nbr_dead_timer.Running());
  EXPECT_DOUBLE_EQ(wtp->nbr_dead_timer.RemainingSeconds(), 40);

  // The whole record is stored in Run.
  uint32_t key = wtp->apid;
  std::optional<Bytes> stored = DBM_Fetch(kDbCwAp, &key, sizeof key);
  ASSERT_TRUE(stored);
  CW_WTPCB loaded;
  ASSERT_TRUE(CW_DecodeWtpRecord(*stored, &loaded));
  EXPECT_EQ(loaded.state, CW_STATE_RUN);
  EXPECT_EQ(loaded.online_tick, 1234u);

  // WMAC: the AP information, then the tunnel up; no mesh information.
  auto info = Wmac(WMAC_MSG_AP_INFO);
  ASSERT_EQ(info.size(), 1u);
  uint8_t expected_info[kWmacApInfoSize];
  WmacApInfoEncode(WmacApInfoOf(*wtp), expected_info);
  EXPECT_EQ(info[0].payload, Bytes(expected_info, expected_info + kWmacApInfoSize));
  EXPECT_TRUE(Wmac(WMAC_MSG_MESH_INFO).empty());
  std::optional<CW_TUNNEL_RECORD> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->state, CW_TUNNEL_UP);
  EXPECT_EQ(tunnel->apid, wtp->apid);
  EXPECT_EQ(tunnel->family, 0);
  EXPECT_EQ(tunnel->ac_addr, wtp->local.addr);
  EXPECT_EQ(tunnel->wtp_data_addr, ep.Addr().addr);
  EXPECT_EQ(tunnel->wtp_data_port, ep.port());
  EXPECT_EQ(tunnel->ac_data_port, DataPort());
  EXPECT_EQ(tunnel->virtual_ap, 0);
  EXPECT_EQ(tunnel->scrambled, 0);
  EXPECT_EQ(wtp->tunnel.state, CW_TUNNEL_UP);

  // The controller's time as a Configuration Update Request, item 6.
  std::vector<Bytes> updates = OfType(ep.Drain(), CW_MSG_CFG_UPDATE_REQ);
  ASSERT_EQ(updates.size(), 1u);
  DecodedMessage update = DecodeMessage(updates[0]);
  ASSERT_EQ(update.elements.size(), 1u);
  EXPECT_EQ(update.elements[0].type, 6);
  ASSERT_EQ(update.elements[0].value.size(), 4u);
  capwap::WireReader r(update.elements[0].value);
  uint32_t pushed = 0;
  r.u32(pushed);
  EXPECT_GE(pushed, before);
  EXPECT_LE(pushed, after);
}

TEST_F(RunEntryTest, VirtualApIsNotCountedAndIsFlagged) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->master_status = 0;
  g_uiCwApCount = 4;
  g_ucNeedEncrypt = 1;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 4u);
  std::optional<CW_TUNNEL_RECORD> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->virtual_ap, 1);
  EXPECT_EQ(tunnel->scrambled, 1);

  // Torn down later, it leaves the count alone too.
  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_EQ(g_uiCwApCount, 4u);
}

TEST_F(RunEntryTest, EchoIntervalZeroMeansNoSupervision) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->echo_interval = 0;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());
  lab_.Settle();
  AnswerUpdates(ep);
  EXPECT_EQ(wtp->sndq.count, 0u);
  lab_.RunFor(1000);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
}

TEST_F(RunEntryTest, AutomaticApBecomesConfiguredOnlyWithPersistence) {
  WtpEndpoint ep1, ep2;
  CW_WTPCB* kept = DataCheckWtp(ep1, 1);
  CW_WTPCB* passing = DataCheckWtp(ep2, 2);
  kept->auto_created = 1;
  passing->auto_created = 1;

  g_bCwAutoApPersistentEnabled = 1;
  ASSERT_EQ(CW_AC_RunStateInit(kept), 0);
  g_bCwAutoApPersistentEnabled = 0;
  ASSERT_EQ(CW_AC_RunStateInit(passing), 0);
  EXPECT_EQ(kept->auto_created, 0);
  EXPECT_EQ(passing->auto_created, 1);
}

TEST_F(RunEntryTest, MeshApAlsoReportsItsMeshSettings) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->capability = 2;
  wtp->mesh_role = 1;
  wtp->mesh_id = 7;
  wtp->mesh_data_path = 3;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  auto mesh = Wmac(WMAC_MSG_MESH_INFO);
  ASSERT_EQ(mesh.size(), 1u);
  EXPECT_EQ(mesh[0].wtp_id, wtp->apid);
  EXPECT_EQ(mesh[0].payload, Hex("01 07 03"));
}

TEST_F(RunEntryTest, NoNeighbourDeadTimerSkipsTheRest) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->concurrency_flag = 1;
  g_uiCwConcurrentWTPS = 1;
  g_uiCwApCount = 0;
  capwap::FailNext(capwap::FailFamily::kTimerCreate, 1);
  EXPECT_EQ(CW_AC_RunStateInit(wtp), 1);
  lab_.Settle();
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  EXPECT_EQ(g_uiCwApCount, 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u) << "the concurrency count is left as it was";
  EXPECT_EQ(wtp->concurrency_flag, 1);
  EXPECT_TRUE(OfType(ep.Drain(), CW_MSG_CFG_UPDATE_REQ).empty()) << "no time push";
}

TEST_F(RunEntryTest, SilentApIsTornDownAfterFourEchoIntervals) {
  WtpEndpoint ep;
  CW_WTPCB* wtp = DataCheckWtp(ep);
  wtp->echo_interval = 5;
  ASSERT_EQ(CW_AC_RunStateInit(wtp), 0);
  EXPECT_EQ(g_uiCwApCount, 1u);
  lab_.Settle();
  AnswerUpdates(ep);
  ForgetWmac();
  lab_.RunFor(19);
  EXPECT_EQ(wtp->state, CW_STATE_RUN);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwApCount, 0u);
  std::optional<CW_TUNNEL_RECORD> tunnel = LastTunnelRecord();
  ASSERT_TRUE(tunnel);
  EXPECT_EQ(tunnel->state, CW_TUNNEL_DOWN);
  EXPECT_EQ(tunnel->wtp_data_port, ep.port());
}

}  // namespace
}  // namespace run_test
