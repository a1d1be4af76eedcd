// The Join Response builder byte for byte, and the image decision behind its
// Image Identifier.
#include <gtest/gtest.h>

#include "fsm/discovery/request_tables.h"
#include "fsm/join.h"

namespace capwap::test {
namespace {

constexpr uint32_t kApVendor = 0x00ABCDEF;

TruncTable ResultCode(uint32_t result) {
  return {{Cat({U16(33), U16(4)}), "Result Code: type and length"}, {U32(result), "Result Code"}};
}

TruncTable AcDescriptorAndName() {
  return {{Cat({U16(1), U16(156)}), "AC Descriptor: type and length"},
          {Hex("0011 0022 0033 0044"), "stations, limit, active WTPs (as Discovery left it), max"},
          {Hex("05 06 07 08"), "security, R-MAC, reserved, DTLS policy"},
          {U32(kApVendor), "hardware: vendor (the record's)"},
          {Cat({U16(4), U16(64)}), "hardware: type and length"},
          {Fixed("hw-x", 64), "hardware: version"},
          {U32(kApVendor), "software: vendor (the record's)"},
          {Cat({U16(5), U16(64)}), "software: type and length"},
          {Fixed("sw-y", 64), "software: version"},
          {Cat({U16(4), U16(32)}), "AC Name: type and length"},
          {Fixed("ac-z", 32), "AC Name: value"}};
}

TruncTable Address(bool ipv6) {
  return {{ipv6 ? Cat({U16(11), U16(18)}) : Cat({U16(10), U16(6)}), "control address: type, length"},
          {Fill(0, ipv6 ? 16 : 4), "address, never filled in"},
          {U16(9), "WTP count"}};
}

const TruncTable kTransport = {{Cat({U16(51), U16(1)}), "Transport Protocol"}, {U8(2), "UDP"}};

const TruncTable kImage = {
    {Cat({U16(25), U16(112)}), "Image Identifier: type and length"},
    {U32(kApVendor), "vendor identifier (the record's)"},
    {Cat({U16(0), U16(32)}), "model: type and length"},
    {Fixed("ia-210", 32), "model: the AP's configured model"},
    {Cat({U16(1), U16(32)}), "version: type and length"},
    {Fixed("2.0.7", 32), "version"},
    {Cat({U16(2), U16(32)}), "name: type and length"},
    {Fixed("ia-210-2.0.7", 32), "image name"}};

class JoinResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ulCwDebugBitmap = kDbgAll;
    capwap::AcGlobalInfo& ac = g_stCW_AC_GlobalInfo;
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
    SetFieldText(wtp_.descriptor.sw_version, "2.1");
  }
  void TearDown() override { ImageTableReset(); }

  DaemonContext lab_;
  LogCapture log_;
  CW_WTPCB wtp_;
};

TEST_F(JoinResponse, EachVariantExactlyAsTabled) {
  const struct {
    const char* what;
    bool ipv6;
    uint32_t result;
    bool image;
    TruncTable elements;
  } rows[] = {
      {"success over IPv4", false, 0, false,
       Concat({ResultCode(0), AcDescriptorAndName(), Address(false), kTransport})},
      {"success over IPv6", true, 0, false,
       Concat({ResultCode(0), AcDescriptorAndName(), Address(true), kTransport})},
      {"session ID in use", false, kJoinResultSessionInUse, false, ResultCode(6)},
      {"an image to install", false, 0, true,
       Concat({ResultCode(0), AcDescriptorAndName(), Address(false), kTransport, kImage})},
      {"a refusal never names an image", false, kJoinResultSessionInUse, true, ResultCode(6)},
  };
  for (const auto& row : rows) {
    ImageTableReset();
    if (row.image) {
      ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "2.0.7", "", 1), 0);
    }
    wtp_.local.family = row.ipv6 ? 1 : 0;
    JoinResp resp;
    resp.result = row.result;
    resp.seq = 0x5A;
    CwPktPtr pkt = CW_AC_PktMalloc();
    ASSERT_TRUE(pkt);
    ASSERT_EQ(CW_AC_FillJoinResp(*pkt, wtp_, resp), 0);
    const TruncTable expected = Concat({
        ControlHeaderRows(kMsgJoinRsp, 0x5A, static_cast<uint16_t>(Flatten(row.elements).size())),
        row.elements});
    EXPECT_TRUE(BytesMatch(ByteView(pkt->buffer.data(), pkt->length), expected)) << row.what;
  }
  EXPECT_TRUE(log_.Contains("CW_AC_FillJoinResp::NeedUpdateImage\n"));
}

TEST_F(JoinResponse, AnImageIsOfferedUnlessItsVersionBeginsWithTheReportedOne) {
  WtpDescriptor reported;
  auto offered = [&](const char* sw, const char* model = "ia-210", uint32_t vendor = kApVendor) {
    SetFieldText(reported.sw_version, sw);
    return CW_AC_NeedUpdateImage(reported, model, vendor) != nullptr;
  };
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "2.1.5", "", 1), 0);
  EXPECT_FALSE(offered("2.1"));
  EXPECT_FALSE(offered("2.1.5"));
  EXPECT_FALSE(offered("")) << "an empty version is a prefix of everything";
  EXPECT_TRUE(offered("2.0"));
  EXPECT_TRUE(offered("2.1.5.1"));
  EXPECT_FALSE(offered("2.0", "ia-215")) << "other model";
  EXPECT_FALSE(offered("2.0", "ia-210", kPlatformVendor)) << "other vendor";
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(kApVendor, "ia-210", "3.0", "", 0), 0);
  EXPECT_FALSE(offered("2.0")) << "automatic upgrade off";

  // Two entries of the same vendor (only possible by hand): the first
  // record found for the model ends the scan, even when it says no.
  ImageTableReset();
  g_aucImgDb[0].vendor_id = kApVendor;
  g_aucImgDb[0].records[3] = ImageRecord{"ia-210", "9.0", "ia-210-9.0", "", 0, ""};
  g_aucImgDb[1].vendor_id = kApVendor;
  g_aucImgDb[1].records[0] = ImageRecord{"ia-210", "9.1", "ia-210-9.1", "", 1, ""};
  EXPECT_FALSE(offered("1.0"));
  g_aucImgDb[0].records[3].auto_upgrade = 1;
  const ImageRecord* image = CW_AC_NeedUpdateImage(reported, "ia-210", kApVendor);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->version, "9.0");
}

TEST_F(JoinResponse, ImageIdentifierTakesTheKeyModelAndCutsTheName) {
  const ImageRecord record{"ignored-model", "v1", std::string(40, 'n'), "", 1, ""};
  std::array<uint8_t, kImageIdentifierSize> out{};
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
  EXPECT_EQ(key[31], '\0');
}

}  // namespace
}  // namespace capwap::test
