// Discovery Requests over loopback UDP to the controller's control socket:
// who is answered with which priority, who is refused (silently toward the
// AP, with its debug line), and the failure paths.
#include <gtest/gtest.h>

#include <functional>

#include "fsm/discovery.h"
#include "fsm/discovery/request_tables.h"
#include "platform/identity.h"

namespace capwap::test {
namespace {

class DiscoveryHandler : public ControllerLab {
 protected:
  // The priority byte of the answer, or -1 when there is none.
  int PriorityGiven(const ApSpec& ap) {
    Deliver(wtp_, DiscoveryRequest(ap));
    std::optional<DecodedMessage> answer = OnlyAnswer(wtp_);
    if (!answer) return -1;
    const CwElement* vendor = answer->Find(37);
    EXPECT_TRUE(vendor && vendor->value.size() == 9);
    return vendor && vendor->value.size() == 9 ? vendor->value[8] : -1;
  }

  WtpEndpoint wtp_;
};

TEST_F(DiscoveryHandler, AnUnknownApOfAKnownModelIsAnsweredWithPriorityFour) {
  g_uiCwApCount = 3;
  Deliver(wtp_, DiscoveryRequest(ApSpec{}, 0x77));
  std::optional<DecodedMessage> answer = OnlyAnswer(wtp_);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_TRUE(answer->complete);
  EXPECT_EQ(answer->ctl.msg_type, kMsgDiscoveryRsp);
  EXPECT_EQ(answer->ctl.seq, 0x77);
  EXPECT_EQ(TypesOf(*answer), (std::vector<uint16_t>{1, 4, 10, 37}));
  const ByteView descriptor = answer->Find(1)->value;
  ASSERT_EQ(descriptor.size(), 156u);
  EXPECT_EQ(descriptor[4] << 8 | descriptor[5], 3) << "active WTPs";
  EXPECT_EQ(descriptor[15], kPlatformVendor & 0xFF) << "the AP's vendor";
  EXPECT_EQ(answer->Find(37)->value[8], 4) << "priority";
  EXPECT_EQ(WtpCount(), 0u) << "Discovery creates no AP record";
  EXPECT_TRUE(Logged(" Receiving Discovery Request from AP 127.0.0.1.\n", ZLOG_INFO));
  EXPECT_TRUE(Logged(" Send Discovery Response to AP 127.0.0.1.\n", ZLOG_INFO));
}

TEST_F(DiscoveryHandler, AConfiguredApIsMarkedDiscoveredAndTakesTheVendorOnlyWhenAnswered) {
  const ApSpec ap;
  CW_WTPCB* wtp = ConfiguredAp("ia-210", ap.mac, 6);
  ASSERT_NE(wtp, nullptr);
  ApSpec other_model = ap;
  other_model.model = "ia-215";
  EXPECT_EQ(PriorityGiven(other_model), -1);
  EXPECT_EQ(wtp->discovered, 1) << "marked before the model check";
  EXPECT_EQ(wtp->board_vendor_id, 0u);
  EXPECT_EQ(PriorityGiven(ap), 6);
  EXPECT_EQ(wtp->board_vendor_id, kPlatformVendor);
  EXPECT_EQ(wtp->state, kStateIdle);
}

// Each row starts from a fresh controller state; `setup` prepares it and
// adjusts the request. Priority -1: refused with `line`. One row per check
// and outcome: the boundaries of the model, hardware and MAC rules are the
// catalogue's tests (config/model_catalogue_test.cc).
TEST_F(DiscoveryHandler, WhoIsAnsweredAndWhoIsRefused) {
  auto configured = [this](const char* model, uint8_t priority = 4) {
    return [this, model, priority](ApSpec& ap) { ConfiguredAp(model, ap.mac, priority); };
  };
  auto reports = [](const char* model, const char* hw = "A1") {
    return [model, hw](ApSpec& ap) {
      ap.model = model;
      ap.hw_version = hw;
    };
  };
  auto both = [](std::function<void(ApSpec&)> a, std::function<void(ApSpec&)> b) {
    return [a, b](ApSpec& ap) { a(ap), b(ap); };
  };
  auto mac_of_quorvane = [](Mac mac, const char* model = "ia-210") {
    return [mac, model](ApSpec& ap) {
      SelectModelVendor("Quorvane");
      ap.mac = mac;
      ap.model = model;
    };
  };
  const std::string mismatch = " WTP model doesn't match. Configed model is ";
  const std::string incompatible = " software not compatible.\n";
  const struct {
    const char* what;
    std::function<void(ApSpec&)> setup;
    int priority;
    std::string line;
  } rows[] = {
      {"automatic admission off, unknown AP",
       [](ApSpec&) { CW_CMD_Set_AutoEnable(0); }, -1,
       " Reject Discovery Request since can't find AP config with MAC addr 02:00:00:00:01:01 .\n"},
      {"automatic admission off, configured AP",
       both([](ApSpec&) { CW_CMD_Set_AutoEnable(0); }, configured("ia-210")), 4, ""},
      {"unknown model, looked up lower-cased", reports("XZ-999"), -1,
       " Invalid AP model xz-999 from Discovery Request.\n"},
      {"configured AP outside Idle",
       [this](ApSpec& ap) { ConfiguredAp("ia-210", ap.mac)->state = kStateRun; }, -1,
       " Receiving Discovery request under wrong state.\n"},
      {"configured model differs", both(configured("ia-210"), reports("ia-215")), -1,
       mismatch + "ia-210, but real model is ia-215.\n"},
      {"ia-220 configured, ia-220r reported", both(configured("ia-220"), reports("ia-220r")), 4,
       ""},
      {"the wildcard model", both(configured("generic-ap", 2), reports("oa-560")), 2, ""},
      {"oa-560 of hardware E1", reports("oa-560", "E1"), -1, " Firmware version doesn't match.\n"},
      {"oa-560 of hardware B2", reports("oa-560", "B2"), 4, ""},
      {"another model of hardware E1", reports("ia-210", "E1"), 4, ""},
      {"first MAC of a range", mac_of_quorvane({0x02, 0xc4, 0x5a, 0x00, 0x00, 0x00}), 4, ""},
      {"MAC between ranges", mac_of_quorvane({0x02, 0xc4, 0x5a, 0x10, 0x00, 0x00}), -1,
       " AP MAC [2:c4:5a:10:0:0]" + incompatible},
      {"evaluation kits are exempt", mac_of_quorvane({0x02, 0xc4, 0x5b, 0, 0, 1}, "ek-110"), 4, ""},
      {"20 APs joining", [](ApSpec&) { g_uiCwConcurrentWTPS = 20; }, -1,
       " [Discovery state] The current concurrency AP number 20 has reached the maximum 20, "
       "Discovery request temporarily rejected.\n"},
      {"19 APs joining", [](ApSpec&) { g_uiCwConcurrentWTPS = 19; }, 4, ""},
      {"the maximum online", [](ApSpec&) { g_uiCwApCount = get_max_apcnt(); }, -1,
       " [Discovery state] The current online AP number 32 has reached the maximum 32, so no "
       "more APs can be connected to this AC.\n"},
      {"one below the maximum online", [](ApSpec&) { g_uiCwApCount = get_max_apcnt() - 1; }, 4,
       ""},
  };
  const std::string vendor = company_info.vendor_name;
  uint8_t n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ApSpec ap;
    ap.mac[5] = ++n;
    row.setup(ap);
    lines_.clear();
    g_ulCwDebugBitmap = kDbgError;
    EXPECT_EQ(PriorityGiven(ap), row.priority);
    g_ulCwDebugBitmap = kDbgAll;
    if (row.priority < 0) {
      EXPECT_TRUE(Logged(row.line, ZLOG_ERR)) << LogText();
    }
    CW_CMD_Set_AutoEnable(1);
    SelectModelVendor(vendor);
    g_uiCwConcurrentWTPS = 0;
    g_uiCwApCount = 0;
  }
}

TEST_F(DiscoveryHandler, UndecodableRequestsAreDroppedAndReturnOne) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  for (const Bytes& elements : {board, Cat({BoardAndDescriptor(ap), Hex("00 14 00")})}) {
    lines_.clear();
    Deliver(wtp_, ControlDatagram(kMsgDiscoveryReq, 1, elements));
    EXPECT_FALSE(OnlyAnswer(wtp_));
    EXPECT_TRUE(Logged(" Failed to decode Discovery Request frame.\n", ZLOG_ERR)) << LogText();
  }
  CW_RCVPKT undecodable = RcvOf(ControlDatagram(kMsgDiscoveryReq, 1, board), wtp_.Addr());
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &undecodable), 1);
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, nullptr), 1);

  // A refusal is handled (0) though the processing says 1.
  ApSpec unknown_model = ap;
  unknown_model.model = "none-such";
  CW_RCVPKT refused = RcvOf(DiscoveryRequest(unknown_model), wtp_.Addr());
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &refused), 0);
  CW_DISC_REQ_INFO info;
  ASSERT_EQ(CW_AC_DecDiscReq(&info, &refused), 0);
  EXPECT_EQ(CW_AC_ProcDiscReq(&info, &refused), 1);
  EXPECT_EQ(PriorityGiven(ap), 4);
}

TEST_F(DiscoveryHandler, NoPacketOrAFailedSendLeavesNothingBehind) {
  FailNext(FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(PriorityGiven(ApSpec{}), -1);
  FailNext(FailFamily::kDatagramSend, 1);
  EXPECT_EQ(PriorityGiven(ApSpec{}), -1);
  EXPECT_TRUE(Logged("Send discover response pkt to 0x7f000001:" + std::to_string(wtp_.port()) +
                         " error Input/output error\n",
                     ZLOG_ERR))
      << LogText();
  EXPECT_EQ(WtpCount(), 0u);
  EXPECT_EQ(PriorityGiven(ApSpec{}), 4);
}

TEST_F(DiscoveryHandler, ABroadcastRequestIsAnsweredFromTheInterfaceAddress) {
  CW_ADDR unknown;
  unknown.ifindex = 0;
  unknown.SetIpv4(0xFFFFFFFF);
  FillBroadcastLocal(unknown);
  EXPECT_EQ(unknown.Ipv4(), 0xFFFFFFFFu) << "left alone when no interface has an address";

  CW_ADDR broadcast;
  broadcast.ifindex = if_nametoindex("lo");
  broadcast.SetIpv4(0xFFFFFFFF);
  CW_RCVPKT rcv = RcvOf(DiscoveryRequest(ApSpec{}), wtp_.Addr(), broadcast);
  EXPECT_EQ(CW_AC_DiscReqHandler(nullptr, &rcv), 0);
  EXPECT_EQ(rcv.local.local_ipv4, INADDR_LOOPBACK);
  EXPECT_EQ(rcv.local.Ipv4(), INADDR_LOOPBACK);
  EXPECT_TRUE(OnlyAnswer(wtp_));
}

TEST_F(DiscoveryHandler, AnIpv6ApIsAnsweredOverIpv6WithTheIpv4AddressElement) {
  ASSERT_TRUE(OpenIpv6());
  WtpEndpoint v6(true);
  Deliver(v6, DiscoveryRequest(ApSpec{}));
  std::optional<DecodedMessage> answer = OnlyAnswer(v6);
  ASSERT_TRUE(answer) << LogText();
  EXPECT_EQ(TypesOf(*answer), (std::vector<uint16_t>{1, 4, 10, 37}));
  EXPECT_TRUE(Logged(" Receiving Discovery Request from AP ::1.\n"));
  EXPECT_TRUE(Logged(" Send Discovery Response to AP ::1.\n"));
}

}  // namespace
}  // namespace capwap::test
