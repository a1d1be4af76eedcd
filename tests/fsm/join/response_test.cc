// The Join Response builder byte for byte, and the image decision with the
// Image Identifier it writes.
#include <gtest/gtest.h>

#include "fsm/discovery/discjoin_lab.h"
#include "fsm/join.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

constexpr uint32_t kApVendor = 0x00ABCDEF;

TruncTable Headers(uint8_t seq, uint16_t elem_len) {
  return {{U32(kHdrWord0), "transport: version 0, type 0, HLEN 2"},
          {U16(0), "transport: fragment ID"},
          {U16(0), "transport: fragment offset"},
          {U32(CW_MSG_JOIN_RSP), "control: message type 4"},
          {U8(seq), "control: sequence number"},
          {U16(elem_len), "control: element length"},
          {U8(0), "control: flags"}};
}

TruncTable ResultCode(uint32_t result) {
  return {{U16(33), "Result Code: type"}, {U16(4), "Result Code: length"},
          {U32(result), "Result Code: value"}};
}

TruncTable AcDescriptorAndName() {
  return {{U16(1), "AC Descriptor: type"},
          {U16(156), "AC Descriptor: length"},
          {U16(0x0011), "stations"},
          {U16(0x0022), "limit"},
          {U16(0x0033), "active WTPs (as the last Discovery Response left it)"},
          {U16(0x0044), "maximum WTPs"},
          {Hex("05 06 07 08"), "security, R-MAC, reserved, DTLS policy"},
          {U32(kApVendor), "hardware: vendor (the record's)"},
          {U16(4), "hardware: type"},
          {U16(64), "hardware: length"},
          {Fixed("hw-x", 64), "hardware: version"},
          {U32(kApVendor), "software: vendor (the record's)"},
          {U16(5), "software: type"},
          {U16(64), "software: length"},
          {Fixed("sw-y", 64), "software: version"},
          {U16(4), "AC Name: type"},
          {U16(32), "AC Name: length"},
          {Fixed("ac-z", 32), "AC Name: value"}};
}

TruncTable Transport() {
  return {{U16(51), "Transport Protocol: type"}, {U16(1), "Transport Protocol: length"},
          {U8(2), "UDP"}};
}

class JoinResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ulCwDebugBitmap = CW_DBG_ALL;
    ImageTableReset();
    g_stCW_AC_GlobalInfo = CW_AC_GLOBALINFO{};
    CW_AC_GLOBALINFO& ac = g_stCW_AC_GlobalInfo;
    ac.stations = 0x11;
    ac.limit = 0x22;
    ac.active_wtps = 0x33;
    ac.max_wtps = 0x44;
    ac.security = 5;
    ac.rmac = 6;
    ac.reserved = 7;
    ac.dtls_policy = 8;
    SetFieldText(ac.hw_version, "hw-x");
    SetFieldText(ac.sw_version, "sw-y");
    SetFieldText(ac.ac_name, "ac-z");
    ac.wtp_count = 9;
    wtp_.board_vendor_id = kApVendor;
    wtp_.model = "ia-210";
    wtp_.mac = {0x02, 0, 0, 0, 0x01, 0x01};
    SetFieldText(wtp_.descriptor.sw_version, "2.1");
  }
  void TearDown() override {
    g_stCW_AC_GlobalInfo = CW_AC_GLOBALINFO{};
    ImageTableReset();
  }
  Bytes Build(const CW_JOIN_RESP& resp) {
    CwPktPtr pkt = CW_AC_PktMalloc();
    EXPECT_TRUE(pkt);
    if (!pkt) return {};
    EXPECT_EQ(CW_AC_FillJoinResp(*pkt, wtp_, resp), 0);
    EXPECT_EQ(pkt->msg_type, CW_MSG_JOIN_RSP);
    return Bytes(pkt->buffer.begin(), pkt->buffer.begin() + pkt->length);
  }

  DaemonContext lab_;
  capwap::LogCapture log_;
  CW_WTPCB wtp_;
};

TEST_F(JoinResponse, SuccessOverIpv4) {
  CW_JOIN_RESP resp;
  resp.result = 0;
  resp.seq = 0x5A;
  const TruncTable expected = Concat({
      Headers(0x5A, 8 + 160 + 36 + 10 + 5),
      ResultCode(0),
      AcDescriptorAndName(),
      {{U16(10), "control IPv4 address: type"},
       {U16(6), "control IPv4 address: length"},
       {Hex("00 00 00 00"), "address, never filled in"},
       {U16(9), "WTP count"}},
      Transport(),
  });
  EXPECT_TRUE(BytesMatch(Build(resp), expected));
}

TEST_F(JoinResponse, SuccessOverIpv6CarriesElement11) {
  wtp_.local.family = 1;
  CW_JOIN_RESP resp;
  resp.seq = 1;
  const TruncTable expected = Concat({
      Headers(1, 8 + 160 + 36 + 22 + 5),
      ResultCode(0),
      AcDescriptorAndName(),
      {{U16(11), "control IPv6 address: type"},
       {U16(18), "control IPv6 address: length"},
       {Fill(0, 16), "address, never filled in"},
       {U16(9), "WTP count"}},
      Transport(),
  });
  EXPECT_TRUE(BytesMatch(Build(resp), expected));
}

TEST_F(JoinResponse, SessionInUseCarriesOnlyTheResultCode) {
  CW_JOIN_RESP resp;
  resp.result = CW_JOIN_RESULT_SESSION_IN_USE;
  resp.seq = 0xC3;
  EXPECT_TRUE(BytesMatch(Build(resp), Concat({Headers(0xC3, 8), ResultCode(6)})));
}

TEST_F(JoinResponse, AnImageToInstallAddsTheImageIdentifier) {
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "2.0.7", "", 1), 0);
  CW_JOIN_RESP resp;
  resp.seq = 2;
  const TruncTable expected = Concat({
      Headers(2, 8 + 160 + 36 + 10 + 5 + 116),
      ResultCode(0),
      AcDescriptorAndName(),
      {{U16(10), "control IPv4 address: type"},
       {U16(6), "control IPv4 address: length"},
       {Hex("00 00 00 00"), "address"},
       {U16(9), "WTP count"}},
      Transport(),
      {{U16(25), "Image Identifier: type"},
       {U16(112), "Image Identifier: length"},
       {U32(kApVendor), "vendor identifier (the record's)"},
       {U16(0), "model: type"},
       {U16(32), "model: length"},
       {Fixed("ia-210", 32), "model: the AP's configured model"},
       {U16(1), "version: type"},
       {U16(32), "version: length"},
       {Fixed("2.0.7", 32), "version"},
       {U16(2), "name: type"},
       {U16(32), "name: length"},
       {Fixed("ia-210-2.0.7", 32), "image name"}},
  });
  EXPECT_TRUE(BytesMatch(Build(resp), expected));
  EXPECT_TRUE(log_.Contains("CW_AC_FillJoinResp::NeedUpdateImage\n"));

  // A refusal never names an image.
  resp.result = CW_JOIN_RESULT_SESSION_IN_USE;
  EXPECT_EQ(Build(resp).size(), 16u + 8u);
}

TEST_F(JoinResponse, ImageDecision) {
  CW_WTP_DESCRIPTOR reported;
  auto offered = [&](const char* sw) {
    SetFieldText(reported.sw_version, sw);
    return CW_AC_NeedUpdateImage(reported, "ia-210", kApVendor) != nullptr;
  };
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "2.1.5", "", 1), 0);
  EXPECT_FALSE(offered("2.1")) << "the image version begins with the reported one";
  EXPECT_FALSE(offered("2.1.5"));
  EXPECT_FALSE(offered("")) << "an empty version is a prefix of everything";
  EXPECT_TRUE(offered("2.0"));
  EXPECT_TRUE(offered("2.1.5.1"));
  EXPECT_TRUE(offered("2.2"));
  EXPECT_EQ(CW_AC_NeedUpdateImage(reported, "ia-215", kApVendor), nullptr) << "other model";
  EXPECT_EQ(CW_AC_NeedUpdateImage(reported, "ia-210", kVendor), nullptr) << "other vendor";

  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "3.0", "", 0), 0);
  EXPECT_FALSE(offered("2.0")) << "automatic upgrade off";
}

TEST_F(JoinResponse, TheFirstRecordOfTheModelDecidesAlone) {
  // Two entries of the same vendor (only possible by hand): the first
  // record found for the model ends the scan, even when it says no.
  g_aucImgDb[0].vendor_id = kApVendor;
  g_aucImgDb[0].records[3] = CW_IMGREC{"ia-210", "9.0", "ia-210-9.0", "", 0};
  g_aucImgDb[1].vendor_id = kApVendor;
  g_aucImgDb[1].records[0] = CW_IMGREC{"ia-210", "9.1", "ia-210-9.1", "", 1};
  CW_WTP_DESCRIPTOR reported;
  SetFieldText(reported.sw_version, "1.0");
  EXPECT_EQ(CW_AC_NeedUpdateImage(reported, "ia-210", kApVendor), nullptr);
  g_aucImgDb[0].records[3].auto_upgrade = 1;
  const CW_IMGREC* image = CW_AC_NeedUpdateImage(reported, "ia-210", kApVendor);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->version, "9.0");
}

TEST_F(JoinResponse, ImageIdentifierAndImageKey) {
  const CW_IMGREC record{"ignored-model", "v1", std::string(40, 'n'), "", 1};
  std::array<uint8_t, kImageIdentifierSize> out{};
  out.fill(0xEE);
  EXPECT_EQ(CW_AC_GetImageId(record, out, "ia-210", 7), 0);
  EXPECT_TRUE(BytesMatch(out, {{U32(7), "vendor"},
                               {Hex("0000 0020"), "model header"},
                               {Fixed("ia-210", 32), "model (the key, not the record's)"},
                               {Hex("0001 0020"), "version header"},
                               {Fixed("v1", 32), "version"},
                               {Hex("0002 0020"), "name header"},
                               {Fill('n', 32), "name, cut to 32"}}));

  std::array<char, 32> key;
  key.fill('?');
  CW_AC_Is_NeedSameApimageUpdate("ia-210", key);
  EXPECT_EQ(FieldText(key), "ia-210");
  EXPECT_EQ(key[6], '\0');
  EXPECT_EQ(key[31], '\0');
}

}  // namespace
}  // namespace discjoin_test
