// The WMAC requests that become Configuration Update Requests, played by the
// WMAC simulator over the real listener; each request is caught where the
// WTP receives it (loopback UDP) and decoded with the project's codec.
#include <gtest/gtest.h>

#include "config/ap_group.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "config/images.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "transport/sendq.h"
#include "cfg_update_fixture.h"

namespace capwap::test {
namespace {

// The value of a Vendor Specific Payload element (vendor, element, length).
TruncTable VendorHead(uint16_t elem_id, uint16_t len) {
  return {{U32(kWtpVendor), "vendor identifier"},
          {U16(elem_id), "vendor element"},
          {U16(len), "vendor element length"}};
}

class CfgUpdateHandlers : public CfgUpdateLab {
 protected:
  void SetUp() override {
    CfgUpdateLab::SetUp();
    wtp_ = WtpAt(endpoint_, 5);
    ASSERT_NE(wtp_, nullptr);
  }

  // Sends one WMAC request for the WTP and returns its one element, which
  // must be a Vendor Specific Payload.
  ::testing::AssertionResult VendorValue(uint32_t type, ByteView payload, Bytes* value) {
    FromWmac(type, wtp_->apid, payload);
    std::optional<DecodedMessage> msg = Received(endpoint_);
    CwElement e;
    ::testing::AssertionResult one = OneElement(msg, &e);
    if (!one) return one;
    if (e.type != 37) return ::testing::AssertionFailure() << "element " << e.type;
    value->assign(e.value.begin(), e.value.end());
    if (msg) Answer(endpoint_, msg->ctl.seq);
    return ::testing::AssertionSuccess();
  }

  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

// --- Element lists encoded by WMAC ----------------------------------------

struct ListCase {
  uint32_t type;
  const char* missing_line;
};
const ListCase kListCases[] = {
    {15, " Failed to find AP entry when processing Power Scanning message."},
    {20, " Failed to find AP entry when processing WLAN sniffer message."},
    {26, " Failed to find AP entry when processing WIDS updating message."},
    {27, " Failed to find AP entry when processing WIDS updating message."},
};

TEST_F(CfgUpdateHandlers, ElementListsGoOutUnchangedInAnyState) {
  const Bytes elements = Hex("0025 0006 0000a1b2 0102  0401 0003 01 00 00");
  for (const ListCase& c : kListCases) {
    SCOPED_TRACE(c.type);
    for (uint32_t state : {CW_STATE_RUN, CW_STATE_IDLE, CW_STATE_CONFIG}) {
      wtp_->state = state;
      FromWmac(c.type, wtp_->apid, elements);
      std::optional<DecodedMessage> msg = Received(endpoint_);
      ASSERT_TRUE(msg.has_value()) << "state " << state;
      EXPECT_EQ(msg->ctl.msg_type, CW_MSG_CFG_UPDATE_REQ);
      EXPECT_EQ(msg->ctl.elem_len, elements.size());
      EXPECT_EQ(Bytes(msg->storage.begin() + kCwHeadersLen, msg->storage.end()), elements);
      Answer(endpoint_, msg->ctl.seq);
    }
  }
}

TEST_F(CfgUpdateHandlers, EmptyPowerScanSendsARequestWithoutElements) {
  FromWmac(15, wtp_->apid);
  std::optional<DecodedMessage> msg = Received(endpoint_);
  ASSERT_TRUE(msg.has_value());
  EXPECT_EQ(msg->ctl.msg_type, CW_MSG_CFG_UPDATE_REQ);
  EXPECT_EQ(msg->ctl.elem_len, 0);
  EXPECT_EQ(msg->storage.size(), kCwHeadersLen);
}

TEST_F(CfgUpdateHandlers, MissingWtpGivesEachHandlersOwnLine) {
  struct Case {
    uint32_t type;
    const char* line;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    LogCapture log;
    FromWmac(c.type, 30, Fill(0x01, 64));
    EXPECT_TRUE(log.Contains(c.line)) << c.type << ": " << log.text();
  }
  EXPECT_TRUE(endpoint_.Drain().empty());
}

// --- Fixed vendor elements ------------------------------------------------

TEST_F(CfgUpdateHandlers, BlockChannelAnd11vTakeTheFirstSixteenBytes) {
  Bytes payload = Cat({Hex("0102030405060708090a0b0c0d0e0f10"), Hex("ffff")});
  Bytes value;
  ASSERT_TRUE(VendorValue(21, payload, &value));
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(113, 16),
                                        {{Hex("0102030405060708090a0b0c0d0e0f10"), "bytes 0-15"}}})));
  ASSERT_TRUE(VendorValue(92, payload, &value));
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(119, 16),
                                        {{Hex("0102030405060708090a0b0c0d0e0f10"), "bytes 0-15"}}})));
}

TEST_F(CfgUpdateHandlers, SignalsCarryByteZeroAndTheU16AtTwo) {
  const Bytes payload = Cat({U8(0xB5), U8(0xEE), HostU16(0x1234), Fill(0x77, 4)});
  for (auto [type, elem] : {std::pair{52u, 118}, std::pair{53u, 99}, std::pair{54u, 98}}) {
    SCOPED_TRACE(type);
    Bytes value;
    ASSERT_TRUE(VendorValue(type, payload, &value));
    EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(static_cast<uint16_t>(elem), 3),
                                          {{U8(0xB5), "byte 0"}, {U16(0x1234), "u16 at 2"}}})));
  }
}

TEST_F(CfgUpdateHandlers, BandSteeringDeclaresTwelveOverTenBytes) {
  const Bytes payload =
      Cat({U8(1), U8(2), Hex("eeee"), HostU32(0x0A0B0C0D), HostU32(0x01020304)});
  Bytes value;
  ASSERT_TRUE(VendorValue(40, payload, &value));
  EXPECT_EQ(value.size(), 18u) << "Vendor Specific Payload length 18";
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(126, 12),
                                        {{U8(1), "byte 0"},
                                         {U8(2), "byte 1"},
                                         {U32(0x0A0B0C0D), "u32 at 4"},
                                         {U32(0x01020304), "u32 at 8"}}})));
}

// --- Requests only a running AP takes -------------------------------------

Bytes Seq23() {
  Bytes out(23);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(0x60 + i);
  return out;
}

Bytes EnvMonitorPayload() {
  return Cat({U8(9), Hex("eeeeee"), HostU32(0x11111111), HostU32(0x22222222),
              Seq23(), Hex("ee"), HostU32(0x33333333)});
}

TEST_F(CfgUpdateHandlers, EnvironmentMonitorReordersItsWordsAndAddsTheMac) {
  Bytes value;
  ASSERT_TRUE(VendorValue(62, EnvMonitorPayload(), &value));
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(80, 42),
                                        {{U8(9), "byte 0"},
                                         {U32(0x11111111), "u32 at 4"},
                                         {U32(0x33333333), "u32 at 36"},
                                         {U32(0x22222222), "u32 at 8"},
                                         {Seq23(), "23 bytes from 12"},
                                         {Hex("001c2d3e4f05"), "WTP MAC"}}})));
}

TEST_F(CfgUpdateHandlers, DpiServerCarriesTwoWords) {
  Bytes value;
  ASSERT_TRUE(VendorValue(75, Cat({HostU32(0xC0A80001), HostU32(8080)}), &value));
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(86, 8),
                                        {{U32(0xC0A80001), "u32 at 0"}, {U32(8080), "u32 at 4"}}})));
}

Bytes RfidPayload(uint32_t count, size_t entries) {
  Bytes out = Cat({U8(1), U8(2), Hex("eeee")});
  for (uint32_t i = 1; i <= 6; ++i) {
    Bytes w = HostU32(i * 0x01010101);
    out.insert(out.end(), w.begin(), w.end());
  }
  Bytes n = HostU32(count);
  out.insert(out.end(), n.begin(), n.end());
  for (size_t i = 0; i < entries; ++i) {
    Bytes entry = Cat({HostU16(static_cast<uint16_t>(0x100 + i)),
                       Hex("a0a1a2a3a4"), U8(static_cast<uint8_t>(i))});
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

TEST_F(CfgUpdateHandlers, RfidTrackingKeepsThePayloadLength) {
  Bytes value;
  ASSERT_TRUE(VendorValue(67, RfidPayload(2, 2), &value));
  EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(81, 48),
                                        {{U8(1), "byte 0"},
                                         {U8(2), "byte 1"},
                                         {U32(0x01010101), "u32 at 4"},
                                         {U32(0x02020202), "u32 at 8"},
                                         {U32(0x03030303), "u32 at 12"},
                                         {U32(0x04040404), "u32 at 16"},
                                         {U32(0x05050505), "u32 at 20"},
                                         {U32(0x06060606), "u32 at 24"},
                                         {U32(2), "count"},
                                         {Cat({U16(0x100), Hex("a0a1a2a3a400")}), "tag 1"},
                                         {Cat({U16(0x101), Hex("a0a1a2a3a401")}), "tag 2"},
                                         {Fill(0, 2), "up to the payload length"}}})));
}

TEST_F(CfgUpdateHandlers, RfidCountBeyondThePayloadIsDropped) {
  LogCapture log;
  FromWmac(67, wtp_->apid, RfidPayload(3, 2));
  FromWmac(67, wtp_->apid, RfidPayload(0x20000000, 2));  // 8 x count wraps 32 bits
  EXPECT_TRUE(log.Contains(" RFID tracking message names 3 tags in 48 bytes; dropped."));
  EXPECT_TRUE(log.Contains(" RFID tracking message names 536870912 tags in 48 bytes; dropped."));
  EXPECT_FALSE(Received(endpoint_).has_value());
}

TEST_F(CfgUpdateHandlers, CopiedValuesKeepThePayloadAsItIs) {
  const Bytes payload = Hex("00 01 02 03 04 05 06 07 08 09 0a");
  for (auto [type, elem] : {std::pair{97u, 91}, std::pair{88u, 89}, std::pair{89u, 90}}) {
    SCOPED_TRACE(type);
    Bytes value;
    ASSERT_TRUE(VendorValue(type, payload, &value));
    EXPECT_TRUE(BytesMatch(value, Concat({VendorHead(static_cast<uint16_t>(elem), 11),
                                          {{payload, "payload"}}})));
  }
  // An empty payload is an empty value.
  Bytes value;
  ASSERT_TRUE(VendorValue(97, {}, &value));
  EXPECT_TRUE(BytesMatch(value, VendorHead(91, 0)));
}

TEST_F(CfgUpdateHandlers, RunOnlyRequestsAreQuietOutsideRun) {
  const std::pair<uint32_t, Bytes> requests[] = {
      {62, EnvMonitorPayload()}, {75, Fill(1, 8)},   {67, RfidPayload(0, 0)},
      {97, Fill(2, 4)},          {88, Fill(3, 4)},   {89, Fill(4, 4)},
  };
  for (uint32_t state : {CW_STATE_IDLE, CW_STATE_JOIN, CW_STATE_CONFIG, CW_STATE_DATA_CHECK,
                         CW_STATE_RESET}) {
    wtp_->state = state;
    LogCapture log;
    for (const auto& [type, payload] : requests) FromWmac(type, wtp_->apid, payload);
    EXPECT_EQ(log.text(), "") << "state " << state;
    EXPECT_TRUE(endpoint_.Drain().empty()) << "state " << state;
  }
  EXPECT_EQ(wtp_->sndq.count, 0u);
  // Group keys and station synchronisation for an unknown WTP are dropped
  // before their handlers run.
  LogCapture log;
  FromWmac(88, 31, Fill(3, 4));
  FromWmac(89, 31, Fill(4, 4));
  EXPECT_EQ(log.text(), "");
}

// --- Short payloads -------------------------------------------------------

TEST_F(CfgUpdateHandlers, ShortPayloadsAreDroppedAndTheNextRequestStillGoesOut) {
  const std::pair<uint32_t, size_t> needs[] = {{21, 16}, {92, 16}, {40, 12}, {52, 4}, {53, 4},
                                               {54, 4},  {62, 40}, {75, 8},  {67, 32}, {44, 4},
                                               {45, 1}};
  for (auto [type, need] : needs) {
    SCOPED_TRACE(type);
    LogCapture log;
    // Exactly need - 1 bytes on the wire: a read past them trips the
    // address sanitizer in the payload buffer the channel allocated.
    FromWmac(type, wtp_->apid, Fill(0x5A, need - 1));
    EXPECT_TRUE(log.Contains(" WMAC message " + std::to_string(type) + " carries " +
                             std::to_string(need - 1) + " payload bytes, " +
                             std::to_string(need) + " needed; dropped."))
        << log.text();
    EXPECT_FALSE(Received(endpoint_).has_value());
  }
  EXPECT_EQ(g_ucApRtCollectTime, 0);
  Bytes value;
  EXPECT_TRUE(VendorValue(52, Fill(0x01, 4), &value)) << "the channel still serves";
}

// --- Configuration Update item from WMAC (type 14) ------------------------

TEST_F(CfgUpdateHandlers, ItemRequestTakesTheItemFromTheHeaderParameter) {
  FromWmacWithParam(14, wtp_->apid, 1045, Cat({U8(1), U8(0), Fill(0, 96)}));
  std::optional<DecodedMessage> msg = Received(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(e.type, 1045);
  EXPECT_EQ(e.value.size(), 82u);
  Answer(endpoint_, msg->ctl.seq);

  // The MAC ACL entries follow the count from offset 4 of the payload.
  FromWmacWithParam(14, wtp_->apid, 7,
                    Cat({U8(3), Hex("eeeeee"), U8(6), Hex("001122334401"), U8(6),
                         Hex("001122334402"), U8(6), Hex("001122334403")}));
  msg = Received(endpoint_);
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(e.type, 7);
  ASSERT_EQ(e.value.size(), 22u);
  EXPECT_EQ(e.value[0], 3);
  Answer(endpoint_, msg->ctl.seq);

  // A vendor payload the same way: its length, then the value from 4.
  FromWmacWithParam(14, wtp_->apid, 37, Cat({HostU16(10), Hex("eeee"),
                                             Hex("00a1b2c3 0005 0002 abcd")}));
  msg = Received(endpoint_);
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(ElementBytes(e), Hex("0025 000a 00a1b2c3 0005 0002 abcd"));
  Answer(endpoint_, msg->ctl.seq);
}

TEST_F(CfgUpdateHandlers, ItemRequestWithoutAnElementStillSendsTheRequest) {
  for (uint32_t item : {2u, 3u, 16u, 4242u}) {
    SCOPED_TRACE(item);
    FromWmacWithParam(14, wtp_->apid, item, Fill(0x33, 8));
    std::optional<DecodedMessage> msg = Received(endpoint_);
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->ctl.msg_type, CW_MSG_CFG_UPDATE_REQ);
    EXPECT_EQ(msg->ctl.elem_len, 0);
    EXPECT_TRUE(msg->elements.empty());
    Answer(endpoint_, msg->ctl.seq);
  }
  // Also with no payload at all.
  FromWmacWithParam(14, wtp_->apid, 2, {});
  ASSERT_TRUE(Received(endpoint_).has_value());
}

TEST_F(CfgUpdateHandlers, ItemRequestTooShortForItsItemIsDropped) {
  LogCapture log;
  FromWmacWithParam(14, wtp_->apid, 1045, Fill(0, 97));
  FromWmacWithParam(14, wtp_->apid, 7, Cat({U8(3), Hex("eeeeee"), Fill(6, 20)}));
  FromWmacWithParam(14, wtp_->apid, 37, Cat({HostU16(40), Hex("eeee"), Fill(1, 39)}));
  FromWmacWithParam(14, wtp_->apid, 1025, Hex("01 00 00 05 11 22"));
  EXPECT_TRUE(log.Contains(" Configuration Update item 1045 needs 98 record bytes, 97 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 7 refers to 21 bytes, 20 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 37 refers to 40 bytes, 39 given; dropped."));
  EXPECT_TRUE(log.Contains(" Configuration Update item 1025 needs 9 record bytes, 6 given; dropped."));
  EXPECT_FALSE(Received(endpoint_).has_value());
  EXPECT_EQ(wtp_->sndq.count, 0u);
}

TEST_F(CfgUpdateHandlers, ItemRequestGoesToAWtpInAnyState) {
  wtp_->state = CW_STATE_IDLE;
  FromWmacWithParam(14, wtp_->apid, 6, HostU32(1700000000));
  std::optional<DecodedMessage> msg = Received(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(ElementBytes(e), Cat({U16(6), U16(4), U32(1700000000)}));
}

// --- The sender -----------------------------------------------------------

TEST_F(CfgUpdateHandlers, RequestsQueueBehindEachOtherWithTheirOwnSequenceNumbers) {
  CwItemLanIp lan{0x0A000001, 24};
  auto rec = lan.Record();
  uint8_t first_seq = static_cast<uint8_t>(wtp_->req_seq + 1);
  ASSERT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, CW_ITEM_LAN_IP, CwCfgItem(rec)), 0);
  auto led = CW_ItemU8(1);
  ASSERT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, CW_ITEM_LED_MODE, CwCfgItem(led)), 0);
  EXPECT_EQ(wtp_->sndq.count, 2u);

  std::optional<DecodedMessage> msg = Received(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(msg->ctl.seq, first_seq);
  EXPECT_EQ(ElementBytes(e), Hex("0032 0008 0a000001 00000018"));
  EXPECT_FALSE(Received(endpoint_).has_value()) << "the second waits for the answer";

  Answer(endpoint_, msg->ctl.seq);
  msg = Received(endpoint_);
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(msg->ctl.seq, static_cast<uint8_t>(first_seq + 1));
  EXPECT_EQ(ElementBytes(e), Hex("003a 0001 01"));
}

TEST_F(CfgUpdateHandlers, NoPacketNoRequest) {
  FailNext(FailFamily::kPacketAlloc, 1);
  auto ts = CW_ItemU32(5);
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, CW_ITEM_AC_TIMESTAMP, CwCfgItem(ts)), 1);
  EXPECT_EQ(wtp_->sndq.count, 0u);
  EXPECT_FALSE(Received(endpoint_).has_value());
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(nullptr, CW_ITEM_AC_TIMESTAMP, CwCfgItem(ts)), 1);
  // Data too short for its item is refused before anything is queued.
  EXPECT_EQ(CW_AC_SndCfgUpdReqItem(wtp_, CW_ITEM_AC_TIMESTAMP, CwCfgItem(ByteView(ts).first(3))),
            1);
  EXPECT_EQ(wtp_->sndq.count, 0u);
}

// --- AC host name on joining a group (type 34) ----------------------------

TEST_F(CfgUpdateHandlers, JoiningAGroupWithAHostNamePushesIt) {
  FromWmac(32, 0, U32Bytes(6));
  CW_APGROUP* group = ApGroupGet(6);
  ASSERT_NE(group, nullptr);
  group->ac_hostname = "wlc-east";
  FromWmac(34, wtp_->apid, U32Bytes(6));
  std::optional<DecodedMessage> msg = Received(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_TRUE(BytesMatch(ElementBytes(e), {{U16(37), "element type"},
                                           {U16(40), "element length"},
                                           {U32(g_uiOid), "g_uiOid"},
                                           {U16(2), "vendor element"},
                                           {U16(32), "length"},
                                           {Fixed("wlc-east", 32), "host name"}}));
  Answer(endpoint_, msg->ctl.seq);

  // Not in Run, or a group without a host name: nothing.
  wtp_->state = CW_STATE_CONFIG;
  FromWmac(34, wtp_->apid, U32Bytes(6));
  wtp_->state = CW_STATE_RUN;
  group->ac_hostname.clear();
  FromWmac(34, wtp_->apid, U32Bytes(6));
  EXPECT_FALSE(Received(endpoint_).has_value());
}

}  // namespace
}  // namespace capwap::test
