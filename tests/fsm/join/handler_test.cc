// Join Requests over loopback UDP to the controller's control socket: the
// admission of a new or configured AP with everything it records, the
// session-ID refusal answered with result 6, the silent refusals with their
// debug lines, the failure branches, and the 6-second join wait.
#include <gtest/gtest.h>

#include "config/db_tables.h"
#include "fsm/discovery/request_tables.h"
#include "fsm/join.h"
#include "platform/dbm.h"
#include "platform/identity.h"
#include "registry/wtp_record.h"

namespace capwap::test {
namespace {

class JoinHandler : public ControllerLab {
 protected:
  // No answer, and `line` written under exactly `category` at `level`.
  void ExpectSilent(const WtpEndpoint& from, const ApSpec& ap, uint32_t category,
                    const std::string& line, int level = ZLOG_ERR) {
    lines_.clear();
    g_ulCwDebugBitmap = category;
    Deliver(from, JoinRequest(ap));
    g_ulCwDebugBitmap = kDbgAll;
    EXPECT_FALSE(OnlyAnswer(from)) << line;
    EXPECT_TRUE(Logged(line, level)) << "wanted: " << line << "\ngot: " << LogText();
  }
  std::optional<DecodedMessage> Join(const WtpEndpoint& from, const ApSpec& ap, uint8_t seq = 11) {
    Deliver(from, JoinRequest(ap, seq));
    return OnlyAnswer(from);
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
  std::optional<DecodedMessage> answer = Join(wtp_, ap, 0x21);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(answer->ctl.msg_type, kMsgJoinRsp);
  EXPECT_EQ(answer->ctl.seq, 0x21);
  EXPECT_EQ(TypesOf(*answer), (std::vector<uint16_t>{33, 1, 4, 10, 51}));
  EXPECT_EQ(ResultOf(*answer), 0u);

  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->name, "ap1");
  EXPECT_EQ(wtp->auto_created, 1);
  EXPECT_EQ(wtp->priority, 4);
  EXPECT_EQ(wtp->board_vendor_id, kPlatformVendor);
  EXPECT_EQ(wtp->state, kStateJoin);
  EXPECT_EQ(wtp->concurrency_flag, 1);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  EXPECT_EQ(wtp->last_rcv_seq, 0x21);
  EXPECT_EQ(wtp->master_status, 1u);
  EXPECT_EQ(wtp->capability, 2);
  EXPECT_EQ(FieldText(wtp->descriptor.sw_version), "1.0.0");
  EXPECT_EQ(wtp->location[0], 'l');
  EXPECT_EQ(wtp->local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_EQ(wtp->local.ifindex, if_nametoindex("lo"));
  EXPECT_EQ(CW_AC_GetWTPBySESSID(ap.session), wtp);
  EXPECT_EQ(CW_AC_GetWTPByIP(wtp_.Addr()), wtp);
  EXPECT_EQ(capwap::FindWtpBySerial("SN-0001"), wtp);
  EXPECT_DOUBLE_EQ(wtp->join_timer.RemainingSeconds(), 6.0);

  // The whole block is stored, in Join.
  Bytes key(4);
  HostWriter(key.data(), key.size()).u32(wtp->apid);
  std::optional<Bytes> record = DBM_Fetch(kDbCwAp, key.data(), key.size());
  ASSERT_TRUE(record);
  CW_WTPCB stored;
  ASSERT_TRUE(DecodeWtpRecord(*record, &stored));
  EXPECT_EQ(stored.state, kStateJoin);
  EXPECT_EQ(stored.mac, ap.mac);

  // WMAC learns of the new AP before its MAC is known.
  std::vector<sim::PeerMessage> told = Wmac(WmacMsg::kCreateAp);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].wtp_id, 1u);
  EXPECT_EQ(CreatedName(told[0].payload), "ap1");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(told[0].payload.data())), "ia-210");
  EXPECT_EQ(Bytes(told[0].payload.begin() + 65, told[0].payload.begin() + 71), Fill(0, 6));
  EXPECT_EQ(told[0].payload[71], 1) << "created automatically";
}

TEST_F(JoinHandler, SuccessLinesUnderTheirClasses) {
  const struct {
    uint32_t category;
    std::vector<std::string> lines;
  } rows[] = {
      {kDbgEvent, {" Creating AP with MAC address 02-00-00-00-09-01.\n"}},
      {kDbgFsm, {" FSM switched to Join State. \n"}},
      {kDbgPacket,
       {" Receiving Join Request from AP 127.0.0.1.\n", " Sending Join Response to AP 02:00:00:00:09:03.\n"}},
  };
  uint8_t n = 0;
  for (const auto& row : rows) {
    lines_.clear();
    g_ulCwDebugBitmap = row.category;
    WtpEndpoint from;
    ASSERT_TRUE(Join(from, Other(++n)));
    for (const std::string& line : row.lines) EXPECT_TRUE(Logged(line, ZLOG_INFO)) << line;
    for (const auto& other : rows) {
      for (const std::string& line : other.lines) {
        EXPECT_EQ(Logged(line.substr(0, 20)), &other == &row) << line;
      }
    }
  }
}

TEST_F(JoinHandler, AConfiguredApJoinsOnItsOwnRecord) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac, 7);
  ASSERT_NE(wtp, nullptr);
  wtp->serial = "OLD-SERIAL";
  CW_AC_AddWtpFromSn(wtp);
  ForgetWmac();
  std::optional<DecodedMessage> answer = Join(wtp_, ap);
  ASSERT_TRUE(answer);
  EXPECT_EQ(ResultOf(*answer), 0u);
  EXPECT_EQ(WtpCount(), 1u);
  EXPECT_EQ(wtp->state, kStateJoin);
  EXPECT_EQ(wtp->auto_created, 0);
  EXPECT_EQ(wtp->priority, 7);
  EXPECT_EQ(wtp->board_vendor_id, 0u) << "kept from Discovery, not taken at Join";
  EXPECT_TRUE(Wmac(WmacMsg::kCreateAp).empty());
  // The record follows the reported serial number.
  EXPECT_EQ(wtp->serial, "SN-0001");
  EXPECT_EQ(capwap::FindWtpBySerial("OLD-SERIAL"), nullptr);
  EXPECT_EQ(capwap::FindWtpBySerial("SN-0001"), wtp);
}

TEST_F(JoinHandler, ASessionIdInUseIsAnsweredWithResultSixAndChangesNothing) {
  const ApSpec first;
  ASSERT_TRUE(Join(wtp_, first, 0x11));
  CW_WTPCB* holder = CW_AC_GetWTPByMac(first.mac);
  ASSERT_NE(holder, nullptr);
  ForgetWmac();
  ApSpec second = Other(5);
  second.session = first.session;
  WtpEndpoint other;
  std::optional<DecodedMessage> answer = Join(other, second, 0x42);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(answer->ctl.seq, 0x42);
  EXPECT_EQ(TypesOf(*answer), (std::vector<uint16_t>{33}));
  EXPECT_EQ(ResultOf(*answer), 6u);
  EXPECT_TRUE(Logged(" Session ID is in use, so Join Request rejected.\n", ZLOG_ERR));
  EXPECT_TRUE(Logged(" Sending Join Response to AP 02:00:00:00:01:01.\n"))
      << "answered through the holder's record";
  EXPECT_EQ(CW_AC_GetWTPByMac(second.mac), nullptr);
  EXPECT_TRUE(Wmac(WmacMsg::kCreateAp).empty());
  EXPECT_EQ(holder->last_rcv_seq, 0x11);
  EXPECT_EQ(holder->remote, wtp_.Addr());
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  EXPECT_TRUE(wtp_.Drain().empty()) << "the holder's AP hears nothing";
}

TEST_F(JoinHandler, SilentRefusals) {
  const ApSpec ap;
  ASSERT_TRUE(Join(wtp_, ap));
  ApSpec again = ap;
  again.session.fill(0x77);
  // From the endpoint of a live session; from a new endpoint while the record is past Idle.
  ExpectSilent(wtp_, again, kDbgError, " Receiving Join Request under wrong state,1.\n");
  CW_RCVPKT rcv = RcvOf(JoinRequest(again), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(wtp_.Addr()), &rcv), 1);
  WtpEndpoint other;
  ExpectSilent(other, again, kDbgError, " Receiving Join Request under wrong state .\n");
  EXPECT_EQ(CW_AC_GetWTPBySESSID(again.session), nullptr);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);

  CW_CMD_Set_AutoEnable(0);
  ExpectSilent(other, Other(1), kDbgError,
               " Can't match the AP config, and auto ap feature is disabled.\n", ZLOG_INFO);
  rcv = RcvOf(JoinRequest(Other(1)), other.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 0);
  CW_CMD_Set_AutoEnable(1);

  g_uiCwConcurrentWTPS = 20;
  ExpectSilent(other, Other(2), kDbgEvent,
               " [Join state] The current concurrency AP number 20 has reached the maximum 20, "
               "Join request temporarily rejected.\n",
               ZLOG_INFO);
  g_uiCwConcurrentWTPS = 0;
  g_uiCwApCount = get_max_apcnt();
  ExpectSilent(other, Other(3), kDbgError,
               " [Discovery state] The current online AP number 32 has reached the maximum 32, so "
               "no more APs can be connected to this AC.\n");
  EXPECT_EQ(WtpCount(), 1u);
}

TEST_F(JoinHandler, CreationFailsForAnUnknownModelShortMemoryAndWhenNoApIdIsFree) {
  const std::string line = " Failed to create AP with MAC address 02-00-00-00-01-01.\n";
  ApSpec ap;
  ap.model = "zz-1";
  ExpectSilent(wtp_, ap, kDbgError, line);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ap), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  FailNext(FailFamily::kWtpAlloc, 1);
  ExpectSilent(wtp_, ApSpec{}, kDbgError, line);
  EXPECT_EQ(WtpCount(), 0u);
  EXPECT_TRUE(Wmac(WmacMsg::kCreateAp).empty()) << "WMAC hears of no AP";
  for (uint8_t i = 1; i <= 32; ++i) {
    ASSERT_NE(ConfiguredAp("ia-210", {0x02, 0x10, 0, 0, 0, i}), nullptr);
  }
  ExpectSilent(wtp_, ApSpec{}, kDbgError, line);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
}

TEST_F(JoinHandler, UndecodableRequestsAndMalformedVendorElements) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  for (const Bytes& elements : {Element(38, Cat({U32(kPlatformVendor), U16(4), U16(6)})),
                                Cat({board, Hex("00 23 00 10 01")})}) {
    lines_.clear();
    Deliver(wtp_, ControlDatagram(kMsgJoinReq, 4, elements));
    EXPECT_FALSE(OnlyAnswer(wtp_));
    EXPECT_TRUE(Logged(" Failed to decode Join Request frame.\n", ZLOG_ERR)) << LogText();
  }
  EXPECT_EQ(WtpCount(), 0u);
  CW_RCVPKT rcv = RcvOf(ControlDatagram(kMsgJoinReq, 6, Cat({board, Hex("00 23 00 10 01")})),
                        wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, nullptr), 1);

  // Short vendor values and cut sub-elements are skipped, the walk goes on.
  const Bytes short_master = Element(
      37, Cat({U32(kPlatformVendor), U16(127), U16(2), U16(7), U16(198), U16(2), U16(2)}));
  const Bytes cut_sub = Element(37, Cat({U32(kPlatformVendor), U16(127), U16(8), U32(0)}));
  const Bytes elements = Cat({Flatten(JoinTable(ap)), short_master, cut_sub, Element(41, {})});
  Deliver(wtp_, ControlDatagram(kMsgJoinReq, 7, elements));
  std::optional<DecodedMessage> answer = OnlyAnswer(wtp_);
  ASSERT_TRUE(answer) << LogText();
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->master_status, 1u) << "the short value is not read";
  EXPECT_EQ(wtp->capability, 2);
  EXPECT_TRUE(Logged(" Vendor element 127 of 2 bytes in Join Request skipped, 4 bytes needed.\n",
                     ZLOG_INFO));
  EXPECT_TRUE(Logged(" Malformed Vendor Specific Payload in Join Request skipped.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Join Request element 41 of 0 bytes skipped.\n", ZLOG_INFO));
}

TEST_F(JoinHandler, TheJoinWaitTearsASilentApDownAtSixSecondsNotFive) {
  const ApSpec ap;
  ASSERT_TRUE(Join(wtp_, ap));
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ap.mac);
  ForgetWmac();
  lab_.RunFor(5);
  EXPECT_EQ(wtp->state, kStateJoin);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 1u);
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, kStateIdle);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  EXPECT_EQ(wtp->concurrency_flag, 0);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(ap.session), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByIP(wtp_.Addr()), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByMac(ap.mac), wtp) << "the record stays";
  EXPECT_EQ(Wmac(WmacMsg::kDeleteAp).size(), 1u) << "an automatic AP that never ran";

  // It may join again with a new session.
  ApSpec again = ap;
  again.session.fill(0x44);
  std::optional<DecodedMessage> answer = Join(wtp_, again);
  ASSERT_TRUE(answer);
  EXPECT_EQ(ResultOf(*answer), 0u);
  EXPECT_EQ(WtpCount(), 1u);
}

TEST_F(JoinHandler, AFailedTimerOrSendStillEntersJoin) {
  FailNext(FailFamily::kTimerCreate, 1);
  CW_RCVPKT rcv = RcvOf(JoinRequest(ApSpec{}), wtp_.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_TRUE(Logged(" Failed to start join-wait timer of AP ap1.\n", ZLOG_ERR));
  EXPECT_TRUE(OnlyAnswer(wtp_)) << "the response went out before";
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ApSpec{}.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->state, kStateJoin);
  EXPECT_FALSE(wtp->join_timer.Running());

  WtpEndpoint second;
  FailNext(FailFamily::kDatagramSend, 1);
  rcv = RcvOf(JoinRequest(Other(4)), second.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_TRUE(Logged("Send Join Response to AP 02:00:00:00:09:04 0x7f000001:" +
                         std::to_string(second.port()) + " error Input/output error\n",
                     ZLOG_ERR))
      << LogText();
  WtpEndpoint third;
  FailNext(FailFamily::kPacketAlloc, 1);
  rcv = RcvOf(JoinRequest(Other(5)), third.Addr());
  EXPECT_EQ(CW_AC_JoinReqHandler(nullptr, &rcv), 1);
  EXPECT_FALSE(OnlyAnswer(second));
  EXPECT_FALSE(OnlyAnswer(third));
  EXPECT_EQ(CW_AC_GetWTPByMac(Other(5).mac)->state, kStateJoin);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 3u);
}

TEST_F(JoinHandler, AnIpv6JoinGetsElement11) {
  ASSERT_TRUE(OpenIpv6());
  WtpEndpoint v6(true);
  std::optional<DecodedMessage> answer = Join(v6, ApSpec{});
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(TypesOf(*answer), (std::vector<uint16_t>{33, 1, 4, 11, 51}));
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(ApSpec{}.mac);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->local.family, 1);
  EXPECT_EQ(wtp->remote, v6.Addr());
  EXPECT_TRUE(Logged(" Receiving Join Request from AP ::1.\n"));
}

}  // namespace
}  // namespace capwap::test
