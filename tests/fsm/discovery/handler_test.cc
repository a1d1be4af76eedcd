// Discovery Requests over loopback UDP to the controller's control socket:
// who is answered and with what, and every refusal path, each silent toward
// the AP and written under its debug class at its level.
#include <gtest/gtest.h>

#include <random>

#include "fsm/discovery.h"
#include "fsm/discovery/discjoin_lab.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

class DiscoveryHandler : public DiscJoinLab {
 protected:
  // No answer, and `line` written under exactly `category` at `level`.
  void ExpectSilent(const Bytes& datagram, uint32_t category, const std::string& line,
                    int level = ZLOG_ERR) {
    lines_.clear();
    g_ulCwDebugBitmap = category;
    Deliver(wtp_, datagram);
    g_ulCwDebugBitmap = CW_DBG_ALL;
    EXPECT_FALSE(OnlyAnswer(wtp_)) << line;
    EXPECT_TRUE(Logged(line, level)) << "wanted: " << line << "\ngot: " << LogText();
  }
  void ExpectRefused(const ApSpec& ap, const std::string& line) {
    ExpectSilent(DiscoveryRequest(ap), CW_DBG_ERROR, line);
  }
  // Answered; returns the priority byte.
  int ExpectAnswered(const ApSpec& ap) {
    Deliver(wtp_, DiscoveryRequest(ap));
    std::optional<ReceivedMessage> answer = OnlyAnswer(wtp_);
    EXPECT_TRUE(answer) << LogText();
    if (!answer) return -1;
    const CwElement* vendor = answer->Find(37);
    EXPECT_TRUE(vendor && vendor->value.size() == 9);
    return vendor && vendor->value.size() == 9 ? vendor->value[8] : -1;
  }
  static ApSpec WithMac(ApSpec ap, const Mac& mac) {
    ap.mac = mac;
    return ap;
  }

  WtpEndpoint wtp_;
};

TEST_F(DiscoveryHandler, AnUnknownApOfAKnownModelIsAnsweredWithPriorityFour) {
  g_uiCwApCount = 3;
  ApSpec ap;
  ap.vendor = kVendor;
  Deliver(wtp_, DiscoveryRequest(ap, 0x77));
  std::optional<ReceivedMessage> answer = OnlyAnswer(wtp_);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_TRUE(answer->complete);
  EXPECT_EQ(answer->ctl.msg_type, CW_MSG_DISCOVERY_RSP);
  EXPECT_EQ(answer->ctl.seq, 0x77);
  EXPECT_EQ(answer->Types(), (std::vector<uint16_t>{1, 4, 10, 37}));

  const ByteView descriptor = answer->Find(1)->value;
  ASSERT_EQ(descriptor.size(), 156u);
  EXPECT_EQ(descriptor[4] << 8 | descriptor[5], 3) << "active WTPs";
  EXPECT_EQ(g_stCW_AC_GlobalInfo.active_wtps, 3);
  capwap::WireReader vendor_in_desc(descriptor.subspan(12, 4));
  uint32_t vendor = 0;
  vendor_in_desc.u32(vendor);
  EXPECT_EQ(vendor, ap.vendor);
  EXPECT_EQ(Bytes(answer->Find(10)->value.begin(), answer->Find(10)->value.end()), Fill(0, 6));
  EXPECT_TRUE(BytesMatch(answer->Find(37)->value,
                         {{U32(kVendor), "vendor"}, {U16(128), "id"}, {U16(1), "len"},
                          {U8(4), "priority"}}));

  EXPECT_EQ(CW_AC_WtpCount(), 0u) << "Discovery creates no AP record";
  EXPECT_TRUE(Logged(" Receiving Discovery Request from AP 127.0.0.1.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Send Discovery Response to AP 127.0.0.1.\n", ZLOG_INFO));
}

TEST_F(DiscoveryHandler, AConfiguredApGetsItsPriorityAndIsMarkedDiscovered) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac, 6);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(ExpectAnswered(ap), 6);
  EXPECT_EQ(wtp->discovered, 1);
  EXPECT_EQ(wtp->board_vendor_id, kVendor);
  EXPECT_EQ(wtp->state, CW_STATE_IDLE);
  EXPECT_EQ(CW_AC_WtpCount(), 1u);
}

TEST_F(DiscoveryHandler, UndecodableRequestsAreDroppedAndTheNextGoodOneAnswered) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  const Bytes desc = Flatten(Elem(39, "desc", DescriptorBody(ap)));
  ApSpec stranger;
  stranger.vendor = 0x1234;
  const Bytes bad_board = Flatten(Elem(38, "board", BoardDataBody(stranger)));
  const Bytes cut_board = ElementBytes(38, Cat({U32(kVendor), U16(0), U16(9), Str("ia-210")}));
  const std::string line = " Failed to decode Discovery Request frame.\n";

  ExpectSilent(Datagram(1, 1, desc), CW_DBG_ERROR, line);
  ExpectSilent(Datagram(1, 2, board), CW_DBG_ERROR, line);
  ExpectSilent(Datagram(1, 3, Cat({board, desc, Flatten(RadioInfo(0, "r", Outcome::kPass))})),
               CW_DBG_ERROR, line);
  ExpectSilent(Datagram(1, 4, Cat({board, desc, Flatten(RadioInfo(5, "r", Outcome::kPass))})),
               CW_DBG_ERROR, line);
  ExpectSilent(Datagram(1, 5, Cat({cut_board, desc})), CW_DBG_ERROR, line);
  ExpectSilent(Datagram(1, 6, Cat({bad_board, desc})), CW_DBG_ERROR,
               " Reported vendor ID 1234 is illegal.\n", ZLOG_INFO);
  EXPECT_TRUE(Logged(line, ZLOG_ERR));
  ExpectSilent(Datagram(1, 7, Cat({board, desc, Hex("00 14 00")})), CW_DBG_ERROR, line);

  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, HostileDatagramsNeverCrashAndLeaveTheSocketServing) {
  std::mt19937 rng(5246);
  const Bytes good = Flatten(DiscoveryTable(ApSpec{}));
  for (int i = 0; i < 300; ++i) {
    Bytes elements;
    if (i % 3 == 0) {
      // A good request with a few octets changed and a random length.
      elements = good;
      for (int k = 0; k < 4; ++k) elements[rng() % elements.size()] = static_cast<uint8_t>(rng());
      elements.resize(rng() % (good.size() + 8));
    } else {
      elements.resize(rng() % 96);
      for (uint8_t& b : elements) b = static_cast<uint8_t>(rng());
    }
    Deliver(wtp_, Datagram(CW_MSG_DISCOVERY_REQ, static_cast<uint8_t>(i), elements));
  }
  wtp_.Drain();  // a mutation may still have been a valid request
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  EXPECT_EQ(ExpectAnswered(ApSpec{}), 4);
}

TEST_F(DiscoveryHandler, AutomaticAdmissionOffRefusesUnknownApsOnly) {
  CW_CMD_Set_AutoEnable(0);
  ApSpec unknown;
  ExpectRefused(unknown, " Reject Discovery Request since can't find AP config with MAC addr "
                         "02:00:00:00:01:01 .\n");
  const ApSpec configured = WithMac(ApSpec{}, {0x02, 0, 0, 0, 0x02, 0x02});
  ASSERT_NE(ConfiguredAp("ia-210", configured.mac), nullptr);
  EXPECT_EQ(ExpectAnswered(configured), 4);
}

TEST_F(DiscoveryHandler, AnUnknownModelIsRefused) {
  ApSpec ap;
  ap.model = "XZ-999";  // reported in capitals, looked up lower-cased
  ExpectRefused(ap, " Invalid AP model xz-999 from Discovery Request.\n");
}

TEST_F(DiscoveryHandler, AConfiguredApOutsideIdleIsRefusedUntilTornDown) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac);
  ASSERT_NE(wtp, nullptr);
  wtp->state = CW_STATE_RUN;
  ExpectRefused(ap, " Receiving Discovery request under wrong state.\n");
  EXPECT_EQ(wtp->discovered, 0);
  wtp->state = CW_STATE_IDLE;
  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, ModelMismatchExceptTheInterchangeablePairAndTheWildcard) {
  ApSpec ap = WithMac(ApSpec{}, {0x02, 0, 0, 0, 0x03, 0x01});
  CW_WTPCB* plain = ConfiguredAp("ia-210", ap.mac);
  ASSERT_NE(plain, nullptr);
  ap.model = "ia-215";
  ap.vendor = kVendor;
  ExpectRefused(ap, " WTP model doesn't match. Configed model is ia-210, but real model is "
                    "ia-215.\n");
  EXPECT_EQ(plain->discovered, 1) << "marked before the model check";
  EXPECT_EQ(plain->board_vendor_id, 0u) << "not taken from a refused request";

  ApSpec revision = WithMac(ApSpec{}, {0x02, 0, 0, 0, 0x03, 0x02});
  ASSERT_NE(ConfiguredAp("ia-220", revision.mac), nullptr);
  revision.model = "ia-220r";
  EXPECT_EQ(ExpectAnswered(revision), 4);

  ApSpec reverse = WithMac(ApSpec{}, {0x02, 0, 0, 0, 0x03, 0x03});
  ASSERT_NE(ConfiguredAp("ia-220r", reverse.mac), nullptr);
  reverse.model = "ia-220";
  ExpectRefused(reverse, " WTP model doesn't match. Configed model is ia-220r, but real model "
                         "is ia-220.\n");

  ApSpec any = WithMac(ApSpec{}, {0x02, 0, 0, 0, 0x03, 0x04});
  ASSERT_NE(ConfiguredAp("generic-ap", any.mac, 2), nullptr);
  any.model = "oa-560";
  EXPECT_EQ(ExpectAnswered(any), 2);
}

TEST_F(DiscoveryHandler, OneModelNeedsAHardwareVersionStartingWithABCDOrT) {
  ApSpec ap;
  ap.model = "oa-560";
  for (const char* hw : {"E1", "a1", "", "1A"}) {
    ap.hw_version = hw;
    ExpectRefused(ap, " Firmware version doesn't match.\n");
  }
  for (const char* hw : {"A", "B2", "C", "D0", "T9"}) {
    ap.hw_version = hw;
    EXPECT_EQ(ExpectAnswered(ap), 4) << hw;
  }
  ap.model = "ia-210";
  ap.hw_version = "E1";
  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, MacRangesOfTheActiveVendor) {
  SelectModelVendor("Quorvane");
  ApSpec ap;
  for (const Mac& mac : {Mac{0x02, 0xc4, 0x5a, 0x00, 0x00, 0x00}, Mac{0x02, 0xc4, 0x5a, 0x0f, 0xff, 0xff},
                         Mac{0x02, 0xc4, 0x5a, 0x40, 0x00, 0x00}, Mac{0x02, 0xc4, 0x5a, 0xa0, 0xff, 0xff}}) {
    ap.mac = mac;
    EXPECT_EQ(ExpectAnswered(ap), 4);
  }
  ap.mac = {0x02, 0xc4, 0x5a, 0x10, 0x00, 0x00};
  ExpectRefused(ap, " AP MAC [2:c4:5a:10:0:0] software not compatible.\n");
  ap.mac = {0x02, 0xc4, 0x5a, 0xa1, 0x00, 0x00};
  ExpectRefused(ap, " AP MAC [2:c4:5a:a1:0:0] software not compatible.\n");
  ap.mac = {0x02, 0xc4, 0x5b, 0x00, 0x00, 0x01};
  ExpectRefused(ap, " AP MAC [2:c4:5b:0:0:1] software not compatible.\n");
  ap.model = "ek-110";  // evaluation kits are exempt
  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, ConcurrencyAndOnlineLimits) {
  const ApSpec ap;
  g_uiCwConcurrentWTPS = 20;
  ExpectRefused(ap, " [Discovery state] The current concurrency AP number 20 has reached the "
                    "maximum 20, Discovery request temporarily rejected.\n");
  g_uiCwConcurrentWTPS = 19;
  EXPECT_EQ(ExpectAnswered(ap), 4);

  g_uiCwConcurrentWTPS = 0;
  g_uiCwApCount = get_max_apcnt();
  ExpectRefused(ap, " [Discovery state] The current online AP number 32 has reached the maximum "
                    "32, so no more APs can be connected to this AC.\n");
  g_uiCwApCount = get_max_apcnt() - 1;
  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, ReturnCodesToTheDispatcher) {
  const ApSpec ap;
  CW_RCVPKT undecodable = RcvOf(Datagram(1, 1, Flatten(Elem(38, "board", BoardDataBody(ap)))),
                                wtp_.Addr());
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &undecodable), 1);
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, nullptr), 1);

  ApSpec unknown_model = ap;
  unknown_model.model = "none-such";
  CW_RCVPKT refused = RcvOf(DiscoveryRequest(unknown_model), wtp_.Addr());
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &refused), 0);
  CW_DISC_REQ_INFO info;
  ASSERT_EQ(CW_AC_DecDiscReq(&info, &refused), 0);
  EXPECT_EQ(CW_AC_ProcDiscReq(&info, &refused), 1);

  g_uiCwConcurrentWTPS = 20;
  CW_RCVPKT busy = RcvOf(DiscoveryRequest(ap), wtp_.Addr());
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &busy), 0);
  EXPECT_TRUE(wtp_.Drain().empty());
}

TEST_F(DiscoveryHandler, NoPacketOrAFailedSendLeavesNothingBehind) {
  const ApSpec ap;
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  Deliver(wtp_, DiscoveryRequest(ap));
  EXPECT_FALSE(OnlyAnswer(wtp_));

  lines_.clear();
  capwap::FailNext(capwap::FailFamily::kDatagramSend, 1);
  Deliver(wtp_, DiscoveryRequest(ap));
  EXPECT_FALSE(OnlyAnswer(wtp_));
  EXPECT_TRUE(Logged("Send discover response pkt to 0x7f000001:" + std::to_string(wtp_.port()) +
                         " error Input/output error\n",
                     ZLOG_ERR))
      << LogText();
  EXPECT_EQ(CW_AC_WtpCount(), 0u);
  EXPECT_EQ(ExpectAnswered(ap), 4);
}

TEST_F(DiscoveryHandler, ABroadcastRequestIsAnsweredFromTheInterfaceAddress) {
  const uint32_t lo = if_nametoindex("lo");
  ASSERT_NE(lo, 0u);
  CW_ADDR local;
  local.ifindex = lo;
  local.SetIpv4(0xFFFFFFFF);
  CW_AC_FillBroadcastLocal(local);
  EXPECT_EQ(local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_EQ(local.Ipv4(), INADDR_LOOPBACK);

  CW_ADDR unknown;
  unknown.ifindex = 0;
  unknown.SetIpv4(0xFFFFFFFF);
  CW_AC_FillBroadcastLocal(unknown);
  EXPECT_EQ(unknown.Ipv4(), 0xFFFFFFFFu) << "left alone when no interface has an address";

  CW_ADDR broadcast;
  broadcast.ifindex = lo;
  broadcast.SetIpv4(0xFFFFFFFF);
  CW_RCVPKT rcv = RcvOf(DiscoveryRequest(ApSpec{}), wtp_.Addr(), broadcast);
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &rcv), 0);
  EXPECT_EQ(rcv.local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_TRUE(OnlyAnswer(wtp_));
}

TEST_F(DiscoveryHandler, AnIpv6ApIsAnsweredOverIpv6WithTheIpv4AddressElement) {
  ASSERT_TRUE(OpenIpv6());
  WtpEndpoint v6(true);
  Deliver(v6, DiscoveryRequest(ApSpec{}));
  std::optional<ReceivedMessage> answer = OnlyAnswer(v6);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(answer->Types(), (std::vector<uint16_t>{1, 4, 10, 37}));
  EXPECT_EQ(answer->Find(10)->value.size(), 6u);
  EXPECT_TRUE(Logged(" Receiving Discovery Request from AP ::1.\n"));
  EXPECT_TRUE(Logged(" Send Discovery Response to AP ::1.\n"));
}

TEST_F(DiscoveryHandler, WithScramblingOnRequestAndAnswerAreScrambled) {
  g_ucNeedEncrypt = 1;
  Bytes request = DiscoveryRequest(ApSpec{});
  CW_Encrypt(request.data(), request.size(), kCwScrambleKey);
  Deliver(wtp_, request);
  std::vector<Bytes> got = wtp_.Drain();
  ASSERT_EQ(got.size(), 1u) << LogText();
  EXPECT_FALSE(Parse(got[0]) && Parse(got[0])->complete) << "sent in the clear";
  CW_Encrypt(got[0].data(), got[0].size(), kCwScrambleKey);
  std::optional<ReceivedMessage> answer = Parse(got[0]);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->ctl.msg_type, CW_MSG_DISCOVERY_RSP);
  EXPECT_TRUE(answer->complete);
}

}  // namespace
}  // namespace discjoin_test
