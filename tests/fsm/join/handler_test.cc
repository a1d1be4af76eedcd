// Join Requests over loopback UDP to the controller's control socket: the
// admission of a new or configured AP with everything it records, the
// session-ID refusal answered with result 6, every silent refusal with its
// debug line, the failure branches, and the 6-second join wait.
#include <gtest/gtest.h>

#include "config/db_tables.h"
#include "fsm/discovery/discjoin_lab.h"
#include "fsm/join.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "registry/wtp_record.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

class JoinHandler : public DiscJoinLab {
 protected:
  // No answer, and `line` written under exactly `category` at `level`.
  void ExpectSilent(const WtpEndpoint& from, const Bytes& datagram, uint32_t category,
                    const std::string& line, int level = ZLOG_ERR) {
    lines_.clear();
    g_ulCwDebugBitmap = category;
    Deliver(from, datagram);
    g_ulCwDebugBitmap = CW_DBG_ALL;
    EXPECT_FALSE(OnlyAnswer(from)) << line;
    EXPECT_TRUE(Logged(line, level)) << "wanted: " << line << "\ngot: " << LogText();
  }
  // Joins `ap` from `from`; the decoded response.
  std::optional<ReceivedMessage> Join(const WtpEndpoint& from, const ApSpec& ap,
                                      uint8_t seq = 11) {
    Deliver(from, JoinRequest(ap, seq));
    return OnlyAnswer(from);
  }
  static uint32_t ResultOf(const ReceivedMessage& m) {
    const CwElement* result = m.Find(33);
    if (!result || result->value.size() != 4) return 0xFFFFFFFF;
    capwap::WireReader r(result->value);
    uint32_t v = 0;
    r.u32(v);
    return v;
  }
  static ApSpec Other(uint8_t n) {
    ApSpec ap;
    ap.mac = {0x02, 0, 0, 0, 0x09, n};
    ap.serial = "SN-90" + std::to_string(n);
    ap.session.fill(n);
    return ap;
  }

  WtpEndpoint wtp_;
};

TEST_F(JoinHandler, AnUnknownApIsCreatedRecordedAnsweredAndPutInJoin) {
  ApSpec ap;
  ap.capability = 2;
  std::optional<ReceivedMessage> answer = Join(wtp_, ap, 0x21);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_TRUE(answer->complete);
  EXPECT_EQ(answer->ctl.msg_type, CW_MSG_JOIN_RSP);
  EXPECT_EQ(answer->ctl.seq, 0x21);
  EXPECT_EQ(answer->Types(), (std::vector<uint16_t>{33, 1, 4, 10, 51}));
  EXPECT_EQ(ResultOf(*answer), 0u);
  EXPECT_EQ(answer->Find(51)->value[0], 2) << "UDP";

  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->name, "ap1");
  EXPECT_EQ(wtp->apid, 1u);
  EXPECT_EQ(wtp->auto_created, 1);
  EXPECT_EQ(wtp->priority, 4);
  EXPECT_EQ(wtp->model, "ia-210");
  EXPECT_EQ(wtp->board_vendor_id, kVendor);
  EXPECT_EQ(wtp->serial, "SN-0001");
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);
  EXPECT_EQ(wtp->concurrency_flag, 1);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  EXPECT_EQ(wtp->last_rcv_seq, 0x21);
  EXPECT_EQ(wtp->master_status, 1u);
  EXPECT_EQ(wtp->capability, 2);
  EXPECT_EQ(FieldText(wtp->descriptor.sw_version), "1.0.0");
  EXPECT_EQ(wtp->location[0], 'l');
  EXPECT_EQ(wtp->local.family, 0);
  EXPECT_EQ(wtp->local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_EQ(wtp->local.ifindex, if_nametoindex("lo"));
  EXPECT_EQ(CW_AC_GetWTPBySESSID(ap.session), wtp);
  EXPECT_EQ(CW_AC_GetWTPByIP(wtp_.Addr()), wtp);
  EXPECT_EQ(CW_AC_GetWTPBySn("SN-0001"), wtp);
  ASSERT_TRUE(wtp->join_timer.Running());
  EXPECT_DOUBLE_EQ(wtp->join_timer.RemainingSeconds(), 6.0);

  // The whole block is stored, in Join.
  Bytes key(4);
  capwap::HostWriter(key.data(), key.size()).u32(wtp->apid);
  std::optional<Bytes> record = DBM_Fetch(kDbCwAp, key.data(), key.size());
  ASSERT_TRUE(record);
  CW_WTPCB stored;
  ASSERT_TRUE(CW_DecodeWtpRecord(*record, &stored));
  EXPECT_EQ(stored.state, CW_STATE_JOIN);
  EXPECT_EQ(stored.mac, ap.mac);
  EXPECT_EQ(stored.serial, "SN-0001");

  // WMAC learns of the new AP before its MAC is known.
  std::vector<WmacListener::Message> told = wmac_.Drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].head.msg_type, 0u);
  EXPECT_EQ(told[0].head.wtp_id, 1u);
  EXPECT_EQ(CreatedName(told[0].payload), "ap1");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(told[0].payload.data())), "ia-210");
  EXPECT_EQ(Bytes(told[0].payload.begin() + 65, told[0].payload.begin() + 71), Fill(0, 6));
  EXPECT_EQ(told[0].payload[71], 1) << "created automatically";

  EXPECT_TRUE(Logged(" Receiving Join Request from AP 127.0.0.1.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Creating AP with MAC address 02-00-00-00-01-01.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Notifing WMAC to ADD-WTP (name ap1).\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Sending Join Response to AP 02:00:00:00:01:01.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" FSM switched to Join State. \n", ZLOG_INFO));
}

TEST_F(JoinHandler, SuccessLinesUnderTheirClasses) {
  g_ulCwDebugBitmap = CW_DBG_EVENT;
  ASSERT_TRUE(Join(wtp_, ApSpec{}));
  EXPECT_TRUE(Logged(" Creating AP with MAC address 02-00-00-00-01-01.\n"));
  EXPECT_FALSE(Logged(" FSM switched to Join State."));
  EXPECT_FALSE(Logged(" Sending Join Response"));
  lines_.clear();
  g_ulCwDebugBitmap = CW_DBG_FSM;
  WtpEndpoint second;
  ASSERT_TRUE(Join(second, Other(2)));
  EXPECT_TRUE(Logged(" FSM switched to Join State. \n"));
  EXPECT_FALSE(Logged(" Creating AP"));
  lines_.clear();
  g_ulCwDebugBitmap = CW_DBG_PACKET;
  WtpEndpoint third;
  ASSERT_TRUE(Join(third, Other(3)));
  EXPECT_TRUE(Logged(" Receiving Join Request from AP 127.0.0.1.\n"));
  EXPECT_TRUE(Logged(" Sending Join Response to AP 02:00:00:00:09:03.\n"));
  EXPECT_FALSE(Logged(" FSM switched"));
}

TEST_F(JoinHandler, AConfiguredApJoinsOnItsOwnRecord) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac, 7);
  ASSERT_NE(wtp, nullptr);
  wmac_.Drain();
  std::optional<ReceivedMessage> answer = Join(wtp_, ap);
  ASSERT_TRUE(answer);
  EXPECT_EQ(ResultOf(*answer), 0u);
  EXPECT_EQ(CW_AC_WtpCount(), 1u);
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);
  EXPECT_EQ(wtp->auto_created, 0);
  EXPECT_EQ(wtp->priority, 7);
  EXPECT_EQ(wtp->board_vendor_id, 0u) << "kept from Discovery, not taken at Join";
  EXPECT_TRUE(wmac_.Drain().empty()) << "no creation";
  EXPECT_FALSE(Logged(" Creating AP"));
}

TEST_F(JoinHandler, ASessionIdInUseIsAnsweredWithResultSixAndChangesNothing) {
  const ApSpec first;
  ASSERT_TRUE(Join(wtp_, first, 0x11));
  CW_WTPCB* holder = CW_AC_GetWTPByMac(first.mac);
  ASSERT_NE(holder, nullptr);
  wmac_.Drain();
  lines_.clear();

  ApSpec second = Other(5);
  second.session = first.session;
  WtpEndpoint other;
  std::optional<ReceivedMessage> answer = Join(other, second, 0x42);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(answer->ctl.msg_type, CW_MSG_JOIN_RSP);
  EXPECT_EQ(answer->ctl.seq, 0x42);
  EXPECT_EQ(answer->Types(), (std::vector<uint16_t>{33}));
  EXPECT_EQ(ResultOf(*answer), 6u);
  EXPECT_TRUE(Logged(" Session ID is in use, so Join Request rejected.\n", ZLOG_ERR));
  EXPECT_TRUE(Logged(" Sending Join Response to AP 02:00:00:00:01:01.\n"))
      << "answered through the holder's record";

  EXPECT_EQ(CW_AC_GetWTPByMac(second.mac), nullptr);
  EXPECT_EQ(CW_AC_WtpCount(), 1u);
  EXPECT_TRUE(wmac_.Drain().empty());
  EXPECT_EQ(holder->last_rcv_seq, 0x11);
  EXPECT_EQ(holder->state, CW_STATE_JOIN);
  EXPECT_EQ(holder->remote, wtp_.Addr());
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  EXPECT_TRUE(wtp_.Drain().empty()) << "the holder's AP hears nothing";
}

TEST_F(JoinHandler, AJoinFromAnEndpointWhoseSessionIsLiveIsDropped) {
  const ApSpec ap;
  ASSERT_TRUE(Join(wtp_, ap));
  ApSpec again = ap;
  again.session.fill(0x77);
  ExpectSilent(wtp_, JoinRequest(again), CW_DBG_ERROR,
               " Receiving Join Request under wrong state,1.\n");
  CW_RCVPKT rcv = RcvOf(JoinRequest(again), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(wtp_.Addr()), &rcv), 1);
}

TEST_F(JoinHandler, ARecordPastIdleGetsNoAnswerFromANewEndpoint) {
  const ApSpec ap;
  ASSERT_TRUE(Join(wtp_, ap));
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ApSpec rebooted = ap;
  rebooted.session.fill(0x33);
  WtpEndpoint other;
  ExpectSilent(other, JoinRequest(rebooted), CW_DBG_ERROR,
               " Receiving Join Request under wrong state .\n");
  EXPECT_EQ(CW_AC_GetWTPBySESSID(rebooted.session), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByIP(other.Addr()), nullptr);
  EXPECT_EQ(wtp->remote, wtp_.Addr());
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
}

TEST_F(JoinHandler, AutomaticAdmissionOffRefusesUnknownAps) {
  CW_CMD_Set_AutoEnable(0);
  ExpectSilent(wtp_, JoinRequest(ApSpec{}), CW_DBG_ERROR,
               " Can't match the AP config, and auto ap feature is disabled.\n", ZLOG_INFO);
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ApSpec{}), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 0);
}

TEST_F(JoinHandler, CreationFailsForAnUnknownModelShortMemoryAndWhenNoApIdIsFree) {
  ApSpec ap;
  ap.model = "zz-1";
  const std::string line = " Failed to create AP with MAC address 02-00-00-00-01-01.\n";
  ExpectSilent(wtp_, JoinRequest(ap), CW_DBG_ERROR, line);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ap), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);

  capwap::FailNext(capwap::FailFamily::kWtpAlloc, 1);
  ExpectSilent(wtp_, JoinRequest(ApSpec{}), CW_DBG_ERROR, line);
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  EXPECT_TRUE(wmac_.Drain().empty()) << "WMAC hears of no AP";

  for (uint8_t i = 1; i <= 32; ++i) {
    ASSERT_NE(ConfiguredAp("ia-210", {0x02, 0x10, 0, 0, 0, i}), nullptr);
  }
  ExpectSilent(wtp_, JoinRequest(ApSpec{}), CW_DBG_ERROR, line);
  EXPECT_EQ(CW_AC_WtpCount(), 32u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
}

TEST_F(JoinHandler, ConcurrencyAndOnlineLimits) {
  g_uiCwConcurrentWTPS = 20;
  ExpectSilent(wtp_, JoinRequest(ApSpec{}), CW_DBG_EVENT,
               " [Join state] The current concurrency AP number 20 has reached the maximum 20, "
               "Join request temporarily rejected.\n",
               ZLOG_INFO);
  g_uiCwConcurrentWTPS = 0;
  g_uiCwApCount = get_max_apcnt();
  ExpectSilent(wtp_, JoinRequest(ApSpec{}), CW_DBG_ERROR,
               " [Discovery state] The current online AP number 32 has reached the maximum 32, so "
               "no more APs can be connected to this AC.\n");
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  g_uiCwApCount = 31;
  g_uiCwConcurrentWTPS = 19;
  ASSERT_TRUE(Join(wtp_, ApSpec{}));
  EXPECT_EQ(g_uiCwConcurrentWTPS, 20u);
}

TEST_F(JoinHandler, UndecodableRequestsAreDroppedAndTheNextGoodOneAnswered) {
  const ApSpec ap;
  const std::string line = " Failed to decode Join Request frame.\n";
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  const Bytes overrun = Hex("00 23 00 10 01");
  ApSpec stranger;
  stranger.vendor = 0xBEEF;
  ExpectSilent(wtp_, Datagram(3, 3, Flatten(Elem(38, "board", BoardDataBody(stranger)))),
               CW_DBG_ERROR, line);
  EXPECT_TRUE(Logged(" Reported vendor ID beef is illegal.\n", ZLOG_INFO));
  ExpectSilent(wtp_, Datagram(3, 4, ElementBytes(38, Cat({U32(kVendor), U16(4), U16(6)}))),
               CW_DBG_ERROR, line);
  ExpectSilent(wtp_, Datagram(3, 5, Cat({board, overrun})), CW_DBG_ERROR, line);
  EXPECT_EQ(CW_AC_WtpCount(), 0u);

  CW_RCVPKT rcv = RcvOf(Datagram(3, 6, Cat({board, overrun})), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, nullptr), 1);
  ASSERT_TRUE(Join(wtp_, ap));
}

TEST_F(JoinHandler, MalformedVendorSubElementsAndShortValuesAreSkipped) {
  const ApSpec ap;  // master status 1, capability bits 0
  const Bytes short_master =
      ElementBytes(37, Cat({U32(kVendor), U16(127), U16(2), U16(7), U16(198), U16(2), U16(2)}));
  const Bytes cut_sub = ElementBytes(37, Cat({U32(kVendor), U16(127), U16(8), U32(0)}));
  const Bytes elements =
      Cat({Flatten(JoinTable(ap)), short_master, cut_sub, ElementBytes(41, {})});
  WriteFuzzSeed({{elements, "malformed vendor sub-elements"}}, "join_req", "malformed_vendor");
  Deliver(wtp_, Datagram(3, 7, elements));
  std::optional<ReceivedMessage> answer = OnlyAnswer(wtp_);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(ResultOf(*answer), 0u);
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->master_status, 1u) << "the short value is not read";
  EXPECT_EQ(wtp->capability, 2) << "the walk goes on after it";
  EXPECT_TRUE(Logged(" Vendor element 127 of 2 bytes in Join Request skipped, 4 bytes needed.\n",
                     ZLOG_INFO));
  EXPECT_TRUE(Logged(" Malformed Vendor Specific Payload in Join Request skipped.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Join Request element 41 of 0 bytes skipped.\n", ZLOG_INFO));
}

TEST_F(JoinHandler, TheRecordFollowsTheReportedSerialNumber) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac);
  ASSERT_NE(wtp, nullptr);
  wtp->serial = "OLD-SERIAL";
  CW_AC_AddWtpFromSn(wtp);
  ASSERT_EQ(CW_AC_GetWTPBySn("OLD-SERIAL"), wtp);
  ASSERT_TRUE(Join(wtp_, ap));
  EXPECT_EQ(wtp->serial, "SN-0001");
  EXPECT_EQ(CW_AC_GetWTPBySn("OLD-SERIAL"), nullptr);
  EXPECT_EQ(CW_AC_GetWTPBySn("SN-0001"), wtp);
}

TEST_F(JoinHandler, AVirtualApIsRecordedWithMasterStatusZero) {
  ApSpec ap;
  ap.master_status = 0;
  ASSERT_TRUE(Join(wtp_, ap));
  EXPECT_EQ(CW_AC_GetWTPByMac(ap.mac)->master_status, 0u);
}

TEST_F(JoinHandler, TheJoinWaitTearsASilentApDownAtSixSecondsNotFive) {
  const ApSpec ap;
  ASSERT_TRUE(Join(wtp_, ap));
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  wmac_.Drain();
  lab_.RunFor(5);
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  EXPECT_EQ(wtp->concurrency_flag, 0);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(ap.session), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByIP(wtp_.Addr()), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByMac(ap.mac), wtp) << "the record stays";
  std::vector<WmacListener::Message> told = wmac_.Drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].head.msg_type, 1u) << "an automatic AP that never ran is deleted at WMAC";

  // And it may join again with a new session.
  ApSpec again = ap;
  again.session.fill(0x44);
  std::optional<ReceivedMessage> answer = Join(wtp_, again);
  ASSERT_TRUE(answer);
  EXPECT_EQ(ResultOf(*answer), 0u);
  EXPECT_EQ(CW_AC_WtpCount(), 1u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
}

TEST_F(JoinHandler, ATimerThatCannotBeArmedIsReported) {
  capwap::FailNext(capwap::FailFamily::kTimerCreate, 1);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ApSpec{}), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_TRUE(Logged(" Failed to start join-wait timer of AP ap1.\n", ZLOG_ERR));
  EXPECT_TRUE(OnlyAnswer(wtp_)) << "the response went out before";
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ApSpec{}.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);
  EXPECT_FALSE(wtp->join_timer.Running());
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
}

TEST_F(JoinHandler, AFailedSendStillEntersJoinAndTheWaitEndsIt) {
  capwap::FailNext(capwap::FailFamily::kDatagramSend, 1);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ApSpec{}), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_TRUE(Logged("Send Join Response to AP 02:00:00:00:01:01 0x7f000001:" +
                         std::to_string(wtp_.port()) + " error Input/output error\n",
                     ZLOG_ERR))
      << LogText();
  EXPECT_FALSE(OnlyAnswer(wtp_));
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ApSpec{}.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->state, CW_STATE_JOIN);

  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  WtpEndpoint other;
  CW_RCVPKT second = RcvOf(JoinRequest(Other(4)), other.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &second), 1);
  EXPECT_FALSE(OnlyAnswer(other));
  EXPECT_EQ(g_uiCwConcurrentWTPS, 2u);

  lab_.RunFor(6);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
}

TEST_F(JoinHandler, AnIpv6JoinGetsElement11) {
  ASSERT_TRUE(OpenIpv6());
  WtpEndpoint v6(true);
  std::optional<ReceivedMessage> answer = Join(v6, ApSpec{});
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(answer->Types(), (std::vector<uint16_t>{33, 1, 4, 11, 51}));
  EXPECT_EQ(answer->Find(11)->value.size(), 18u);
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ApSpec{}.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->local.family, 1);
  EXPECT_EQ(wtp->remote, v6.Addr());
  EXPECT_TRUE(Logged(" Receiving Join Request from AP ::1.\n"));

  std::optional<ReceivedMessage> v4 = Join(wtp_, Other(6));
  ASSERT_TRUE(v4);
  EXPECT_EQ(v4->Types(), (std::vector<uint16_t>{33, 1, 4, 10, 51}));
}

TEST_F(JoinHandler, AnImageIsOfferedWhenTheTableSaysSo) {
  ApSpec ap;
  ap.sw_version = "2.1";
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kVendor, "ia-210", "2.1.5", "", 1), 0);
  std::optional<ReceivedMessage> answer = Join(wtp_, ap);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Find(25), nullptr) << "2.1.5 begins with 2.1";

  ApSpec older = Other(7);
  older.sw_version = "2.0";
  WtpEndpoint other;
  answer = Join(other, older);
  ASSERT_TRUE(answer);
  ASSERT_NE(answer->Find(25), nullptr);
  EXPECT_EQ(answer->Find(25)->value.size(), 112u);
  EXPECT_EQ(answer->Types().back(), 25);
  EXPECT_TRUE(Logged("CW_AC_FillJoinResp::NeedUpdateImage\n", ZLOG_INFO));
  EXPECT_EQ(CW_AC_GetWTPByMac(older.mac)->state, CW_STATE_JOIN);
}

}  // namespace
}  // namespace discjoin_test
