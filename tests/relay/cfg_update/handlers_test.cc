// The WMAC requests that become Configuration Update Requests, played by the
// WMAC simulator over the real listener; each request is caught where the
// WTP receives it (loopback UDP) and decoded with the project's codec.
#include <gtest/gtest.h>

#include "config/ap_group.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "transport/sendq.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

class CfgUpdateHandlers : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    wtp_ = WtpAt(endpoint_, 5);
    ASSERT_NE(wtp_, nullptr);
  }
  // Sends one WMAC request for the WTP (header parameter `param`) and
  // returns the one element of the request the WTP got, then answers it.
  ::testing::AssertionResult OneFrom(uint32_t type, ByteView payload, Bytes* element,
                                     uint32_t param = 0) {
    FromWmacWithParam(type, wtp_->apid, param, payload);
    std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
    CwElement e;
    ::testing::AssertionResult one = OneElement(msg, &e);
    if (!one) return one;
    *element = ElementBytes(e);
    Answer(endpoint_, msg->ctl.seq);
    return ::testing::AssertionSuccess();
  }
  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

Bytes EnvMonitorPayload() {
  return Cat({U8(9), Hex("eeeeee"), HostU32(0x11111111), HostU32(0x22222222), Fill(0x60, 23),
              Hex("ee"), HostU32(0x33333333)});
}
Bytes RfidPayload(uint32_t count, size_t entries) {
  Bytes out = Cat({Hex("01 02 eeee"), HostU32(0x01010101), HostU32(0x02020202), HostU32(0x03030303),
                   HostU32(0x04040404), HostU32(0x05050505), HostU32(0x06060606), HostU32(count)});
  for (size_t i = 0; i < entries; ++i) {
    out = Cat({out, HostU16(static_cast<uint16_t>(0x100 + i)), Hex("a0a1a2a3a4"), U8(static_cast<uint8_t>(i))});
  }
  return out;
}

TEST_F(CfgUpdateHandlers, EachRequestWritesItsVendorElement) {
  const Bytes sixteen = Hex("0102030405060708090a0b0c0d0e0f10");
  const Bytes signal = Cat({U8(0xB5), U8(0xEE), HostU16(0x1234), Fill(0x77, 4)});
  const Bytes copy = Hex("00 01 02 03 04 05 06 07 08 09 0a");
  const struct {
    uint32_t type;
    Bytes payload, element;
  } cases[] = {
      {21, Cat({sixteen, Hex("ffff")}), Vendor(113, sixteen)},
      {92, Cat({sixteen, Hex("ffff")}), Vendor(119, sixteen)},
      {52, signal, Vendor(118, Hex("b5 1234"))},
      {53, signal, Vendor(99, Hex("b5 1234"))},
      {54, signal, Vendor(98, Hex("b5 1234"))},
      // The AP reads the band-steering length field as 12 over 10 octets.
      {40, Cat({Hex("01 02 eeee"), HostU32(0x0A0B0C0D), HostU32(0x01020304)}),
       Vendor(126, 12, Hex("01 02 0a0b0c0d 01020304"))},
      {62, EnvMonitorPayload(),
       Vendor(80, Cat({Hex("09 11111111 33333333 22222222"), Fill(0x60, 23), Hex("001c2d3e4f05")}))},
      {75, Cat({HostU32(0xC0A80001), HostU32(8080)}), Vendor(86, Hex("c0a80001 00001f90"))},
      // RFID keeps the payload's length: the fields, then zeros.
      {67, RfidPayload(2, 2),
       Vendor(81, Hex("01 02 01010101 02020202 03030303 04040404 05050505 06060606 00000002"
                      "0100 a0a1a2a3a400 0101 a0a1a2a3a401 0000"))},
      {97, copy, Vendor(91, copy)},
      {88, copy, Vendor(89, copy)},
      {89, copy, Vendor(90, copy)},
      {97, {}, Vendor(91, {})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Bytes element;
    ASSERT_TRUE(OneFrom(c.type, c.payload, &element));
    EXPECT_TRUE(BytesMatch(element, {{c.element, "element"}}));
  }
}

TEST_F(CfgUpdateHandlers, ElementListsGoOutUnchangedInAnyState) {
  const Bytes elements = Hex("0025 0006 0000a1b2 0102  0401 0003 01 00 00");
  for (uint32_t type : {15u, 20u, 26u, 27u}) {
    for (uint32_t state : {kStateRun, kStateIdle, kStateConfig}) {
      wtp_->state = state;
      FromWmac(type, wtp_->apid, elements);
      std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
      ASSERT_TRUE(msg.has_value()) << type << " in state " << state;
      EXPECT_EQ(msg->ctl.msg_type, kMsgCfgUpdateReq);
      EXPECT_EQ(Bytes(msg->storage.begin() + kCwHeadersLen, msg->storage.end()), elements);
      Answer(endpoint_, msg->ctl.seq);
    }
  }
  FromWmac(15, wtp_->apid);  // an empty power scan: a request without elements
  std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
  ASSERT_TRUE(msg.has_value());
  EXPECT_EQ(msg->storage.size(), kCwHeadersLen);
}

TEST_F(CfgUpdateHandlers, MissingWtpShortPayloadAndRunOnlyAreDroppedWithTheirLines) {
  const std::pair<uint32_t, const char*> missing[] = {
      {14, " Failed to find AP entry when processing Config Update Request."},
      {15, " Failed to find AP entry when processing Power Scanning message."},
      {20, " Failed to find AP entry when processing WLAN sniffer message."},
      {26, " Failed to find AP entry when processing WIDS updating message."},
      {27, " Failed to find AP entry when processing WIDS updating message."},
      {21, " Failed to find AP entry when processing block channel message."},
      {40, " Failed to find AP entry when processing band steering message."},
      {52, " Failed to find AP entry when processing roaming signal message."},
      {53, " Failed to find AP entry when processing station signal message."},
      {54, " Failed to find AP entry when processing signal updating message."},
      {92, " Failed to find AP entry when processing 802.11v parameters."},
  };
  for (const auto& [type, line] : missing) {
    LogCapture log;
    FromWmac(type, 30, Fill(0x01, 64));
    EXPECT_TRUE(log.Contains(line)) << type << ": " << log.text();
  }
  // Exactly need - 1 bytes on the wire: a read past them trips the address
  // sanitizer in the payload buffer the channel allocated.
  const std::pair<uint32_t, size_t> needs[] = {{21, 16}, {92, 16}, {40, 12}, {52, 4}, {53, 4}, {54, 4},
                                               {62, 40}, {75, 8},  {67, 32}, {44, 4}, {45, 1}};
  for (auto [type, need] : needs) {
    LogCapture log;
    FromWmac(type, wtp_->apid, Fill(0x5A, need - 1));
    EXPECT_TRUE(log.Contains(" WMAC message " + std::to_string(type) + " carries " +
                             std::to_string(need - 1) + " payload bytes, " + std::to_string(need) +
                             " needed; dropped."))
        << log.text();
  }
  LogCapture log;
  FromWmac(67, wtp_->apid, RfidPayload(3, 2));
  FromWmac(67, wtp_->apid, RfidPayload(0x20000000, 2));  // 8 x count wraps 32 bits
  EXPECT_TRUE(log.Contains(" RFID tracking message names 3 tags in 48 bytes; dropped."));
  EXPECT_TRUE(log.Contains(" RFID tracking message names 536870912 tags in 48 bytes; dropped."));
  EXPECT_TRUE(endpoint_.Drain().empty());
  EXPECT_EQ(g_ucApRtCollectTime, 0);

  // Requests only a running AP takes are quiet in every other state.
  for (uint32_t state : {kStateIdle, kStateJoin, kStateConfig, kStateDataCheck,
                         kStateReset}) {
    wtp_->state = state;
    LogCapture quiet;
    for (const auto& [type, payload] :
         {std::pair{62u, EnvMonitorPayload()}, std::pair{75u, Fill(1, 8)},
          std::pair{67u, RfidPayload(0, 0)}, std::pair{97u, Fill(2, 4)}, std::pair{88u, Fill(3, 4)},
          std::pair{89u, Fill(4, 4)}}) {
      FromWmac(type, wtp_->apid, payload);
    }
    EXPECT_EQ(quiet.text(), "") << "state " << state;
  }
  EXPECT_TRUE(endpoint_.Drain().empty());
  wtp_->state = kStateRun;
  Bytes element;
  EXPECT_TRUE(OneFrom(52, Fill(0x01, 4), &element)) << "the channel still serves";
}

TEST_F(CfgUpdateHandlers, ItemRequestTakesTheItemFromTheHeaderParameter) {
  Bytes element;
  ASSERT_TRUE(OneFrom(14, Cat({U8(1), U8(0), Fill(0, 96)}), &element, 1045));
  EXPECT_EQ(element.size(), 4u + 82u);
  // By-reference items carry their bytes inline from offset 4.
  ASSERT_TRUE(OneFrom(14, Cat({U8(1), Hex("eeeeee"), U8(6), Hex("001122334401")}), &element, 7));
  EXPECT_EQ(element, Hex("0007 0008 01 06 001122334401"));
  ASSERT_TRUE(OneFrom(14, Cat({HostU16(10), Hex("eeee"), Hex("00a1b2c3 0005 0002 abcd")}), &element, 37));
  EXPECT_EQ(element, Hex("0025 000a 00a1b2c3 0005 0002 abcd"));
  wtp_->state = kStateIdle;  // any state
  ASSERT_TRUE(OneFrom(14, HostU32(1700000000), &element, 6));
  EXPECT_EQ(element, Cat({U16(6), U16(4), U32(1700000000)}));

  // Items without an element still send the request.
  for (uint32_t item : {2u, 3u, 16u, 4242u}) {
    FromWmacWithParam(14, wtp_->apid, item, Fill(0x33, 8));
    std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
    ASSERT_TRUE(msg.has_value()) << item;
    EXPECT_TRUE(msg->elements.empty()) << item;
    Answer(endpoint_, msg->ctl.seq);
  }
  // Data too short for the item: nothing.
  LogCapture log;
  FromWmacWithParam(14, wtp_->apid, 1045, Fill(0, 97));
  FromWmacWithParam(14, wtp_->apid, 7, Cat({U8(3), Hex("eeeeee"), Fill(6, 20)}));
  FromWmacWithParam(14, wtp_->apid, 37, Cat({HostU16(40), Hex("eeee"), Fill(1, 39)}));
  FromWmacWithParam(14, wtp_->apid, 1025, Hex("01 00 00 05 11 22"));
  EXPECT_TRUE(log.Contains(" Configuration Update item 1045 needs 98 record bytes, 97 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 7 refers to 21 bytes, 20 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 37 refers to 40 bytes, 39 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 1025 needs 9 record bytes, 6 given; dropped."));
  EXPECT_FALSE(OnlyAnswer(endpoint_).has_value());
  EXPECT_EQ(wtp_->sndq.count, 0u);
}

TEST_F(CfgUpdateHandlers, RequestsQueueBehindEachOtherAndNeedAPacket) {
  auto lan = CwItemLanIp{0x0A000001, 24}.Record();
  const uint8_t first_seq = static_cast<uint8_t>(wtp_->req_seq + 1);
  ASSERT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, kItemLanIp, CwCfgItem(lan)), 0);
  auto led = ItemU8(1);
  ASSERT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, kItemLedMode, CwCfgItem(led)), 0);
  EXPECT_EQ(wtp_->sndq.count, 2u);
  std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
  ASSERT_TRUE(msg.has_value());
  EXPECT_EQ(msg->ctl.seq, first_seq);
  EXPECT_FALSE(OnlyAnswer(endpoint_).has_value()) << "the second waits for the answer";
  Answer(endpoint_, msg->ctl.seq);
  msg = OnlyAnswer(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(msg->ctl.seq, static_cast<uint8_t>(first_seq + 1));
  EXPECT_EQ(ElementBytes(e), Hex("003a 0001 01"));
  Answer(endpoint_, msg->ctl.seq);

  FailNext(FailFamily::kPacketAlloc, 1);
  auto ts = ItemU32(5);
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, kItemAcTimestamp, CwCfgItem(ts)), 1);
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(nullptr, kItemAcTimestamp, CwCfgItem(ts)), 1);
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, kItemAcTimestamp, CwCfgItem(ByteView(ts).first(3))), 1);
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_FALSE(OnlyAnswer(endpoint_).has_value());
}

TEST_F(CfgUpdateHandlers, JoiningAGroupWithAHostNamePushesIt) {
  FromWmac(32, 0, HostU32(6));
  CW_APGROUP* group = ApGroupGet(6);
  ASSERT_NE(group, nullptr);
  group->ac_hostname = "wlc-east";
  Bytes element;
  ASSERT_TRUE(OneFrom(34, HostU32(6), &element));
  EXPECT_EQ(element, Cat({Hex("0025 0028"), U32(g_uiOid), Hex("0002 0020"), Fixed("wlc-east", 32)}));
  // Not in Run, or a group without a host name: nothing.
  wtp_->state = kStateConfig;
  FromWmac(34, wtp_->apid, HostU32(6));
  wtp_->state = kStateRun;
  group->ac_hostname.clear();
  FromWmac(34, wtp_->apid, HostU32(6));
  EXPECT_FALSE(OnlyAnswer(endpoint_).has_value());
}

}  // namespace
}  // namespace capwap::test
