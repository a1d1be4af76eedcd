// WTP Board Data and WTP Descriptor decoding: required sub-elements, case
// folding, clipping to the record's fields, unknown sub-elements, illegal
// vendors, and every truncation.
#include <gtest/gtest.h>

#include "diag/debug.h"
#include "platform/identity.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

class BoardData : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = kDbgAll; }
  FreshGlobals fresh_;
};

bool DecodeBoard(capwap::ByteView in) {
  WtpBoardData bd;
  return CW_DEC_IE_WtpBD(&bd, in.data(), in.size()) == 0;
}

bool DecodeDesc(capwap::ByteView in) {
  WtpDescriptor desc;
  return CW_DEC_IE_WtpDesc(&desc, in.data(), in.size()) == 0;
}

WtpBoardData Board(const capwap::Bytes& in, int expected_rc = 0) {
  WtpBoardData bd;
  EXPECT_EQ(CW_DEC_IE_WtpBD(&bd, in.data(), in.size()), expected_rc);
  return bd;
}

TruncTable SubElement(uint16_t type, const capwap::Bytes& value, const std::string& name,
                      Outcome after = Outcome::kFail) {
  return {{U16(type), name + ": type"},
          {U16(static_cast<uint16_t>(value.size())), name + ": length"},
          {value, name + ": value", after}};
}

// Every field present, then an unknown sub-element the decoder skips.
const TruncTable kBoardTable = Concat({
    {{U32(41414), "vendor id"}},
    SubElement(0, Str("WAP-330AX"), "model"),
    SubElement(1, Str("SN0042"), "serial"),
    SubElement(2, Str("B7"), "board id"),
    SubElement(3, Str("rev C"), "board revision"),
    SubElement(4, Hex("00 1a 2b 3c 4d 5e"), "base mac", Outcome::kPass),
    SubElement(9, Hex("de ad"), "unknown"),
});

TEST_F(BoardData, EveryFieldEveryPrefixAndLength) {
  const WtpBoardData bd = Board(Flatten(kBoardTable));
  EXPECT_EQ(bd.vendor_id, 41414u);
  EXPECT_EQ(FieldText(bd.model), "wap-330ax");
  EXPECT_EQ(FieldText(bd.serial), "SN0042");
  EXPECT_EQ(FieldText(bd.board_id), "B7");
  EXPECT_EQ(FieldText(bd.board_rev), "rev C");
  EXPECT_EQ(bd.base_mac, (std::array<uint8_t, 6>{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
  EXPECT_TRUE(CheckTruncations(kBoardTable, DecodeBoard));
  for (const char* field : {"model: length", "serial: length", "board id: length",
                            "board revision: length", "base mac: length"}) {
    EXPECT_TRUE(CheckLengthMutations(kBoardTable, field, DecodeBoard)) << field;
  }
  // The last sub-element's length: 0 leaves two octets that are no header.
  EXPECT_TRUE(CheckLengthMutations(kBoardTable, "unknown: length", DecodeBoard));
  WriteFuzzSeed(kBoardTable, "board_data", "board_data_full");
}

// Model and base MAC are both required; values are clipped to their fields
// (the model lower-cased); a vendor the platform does not know is refused.
TEST_F(BoardData, RequiredClippedAndRefused) {
  const WtpBoardData no_mac =
      Board(Cat({U32(41414), U16(0), U16(4), Str("WA10"), U16(1), U16(2), Str("s1")}), 1);
  EXPECT_EQ(FieldText(no_mac.model), "wa10");
  Board(Cat({U32(41414), U16(4), U16(6), Fill(1, 6)}), 1);  // base MAC without model
  Board(U32(41414), 1);                                      // vendor identifier alone

  const std::string long_model = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789xyz";  // 39
  const WtpBoardData bd =
      Board(Cat({U32(41414), U16(0), U16(39), Str(long_model), U16(1), U16(40),
                 Str(std::string(40, 's')), U16(4), U16(8), Hex("01 02 03 04 05 06 07 08")}));
  EXPECT_EQ(FieldText(bd.model), "abcdefghijklmnopqrstuvwxyz012345");  // 32, lower-cased
  EXPECT_EQ(FieldText(bd.serial), std::string(32, 's'));
  EXPECT_EQ(bd.base_mac, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(FieldText(bd.board_id), "") << "nothing spilled past the clipped values";

  capwap::LogCapture log;
  const WtpBoardData refused =
      Board(Cat({U32(0x1234ABCD), U16(0), U16(2), Str("m1"), U16(4), U16(6), Fill(1, 6)}), 1);
  EXPECT_TRUE(log.Contains(" Reported vendor ID 1234abcd is illegal.\n")) << log.text();
  EXPECT_EQ(FieldText(refused.model), "");
}

// --- WTP Descriptor -----------------------------------------------------

TruncTable DescSub(uint16_t type, const capwap::Bytes& value, const std::string& name) {
  return {{U32(41414), name + ": vendor"},
          {U16(type), name + ": type"},
          {U16(static_cast<uint16_t>(value.size())), name + ": length"},
          {value, name + ": value", Outcome::kPass}};
}

const TruncTable kDescTable = Concat({
    {{U8(2), "max radios"},
     {U8(2), "radios in use"},
     {U8(1), "encryption sub-elements"},
     {U8(1), "encryption WBID"},
     {U16(0x000c), "encryption capabilities", Outcome::kPass}},
    DescSub(0, Str("B1.2"), "hardware"),
    DescSub(1, Str("5.0.1-r77"), "software"),
    DescSub(2, Str("boot 2.0"), "boot"),
    DescSub(3, Str("other"), "other"),
    DescSub(7, Str("xx"), "unknown 7"),
});

TEST_F(BoardData, DescriptorEveryFieldEveryPrefixAndTypeSevenSkipped) {
  const capwap::Bytes in = Flatten(kDescTable);
  WtpDescriptor desc;
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&desc, in.data(), in.size()), 0);
  EXPECT_EQ(desc.max_radios, 2);
  EXPECT_EQ(desc.radios_in_use, 2);
  EXPECT_EQ(desc.num_encrypt, 1);
  EXPECT_EQ(desc.encrypt_wbid, 1);
  EXPECT_EQ(desc.encrypt_caps, 0x000c);
  EXPECT_EQ(FieldText(desc.hw_version), "B1.2");
  EXPECT_EQ(FieldText(desc.sw_version), "5.0.1-r77");
  EXPECT_EQ(FieldText(desc.boot_version), "boot 2.0");
  EXPECT_EQ(FieldText(desc.other_version), "other");
  EXPECT_TRUE(CheckTruncations(kDescTable, DecodeDesc));
  for (const char* field : {"hardware: length", "software: length", "unknown 7: length",
                            "boot: length", "other: length"}) {
    EXPECT_TRUE(CheckLengthMutations(kDescTable, field, DecodeDesc)) << field;
  }
  WriteFuzzSeed(kDescTable, "board_data", "descriptor_full");

  // Type 7 alone touches no field.
  const capwap::Bytes only7 = Cat({Hex("01 01 01 01 00 00"), U32(0), U16(7), U16(3), Str("7.7")});
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&desc, only7.data(), only7.size()), 0);
  for (const auto* field : {&desc.hw_version, &desc.sw_version, &desc.boot_version,
                            &desc.other_version}) {
    EXPECT_EQ(FieldText(*field), "");
  }
}

TEST_F(BoardData, DescriptorClipsVersionsToSixtyFourOctets) {
  const std::string long_hw(100, 'H');
  const capwap::Bytes in = Cat({Hex("01 01 01 01 00 00"), U32(0), U16(0), U16(100), Str(long_hw),
                                U32(0), U16(1), U16(3), Str("1.0")});
  WtpDescriptor desc;
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&desc, in.data(), in.size()), 0);
  EXPECT_EQ(FieldText(desc.hw_version), std::string(64, 'H'));
  EXPECT_EQ(FieldText(desc.sw_version), "1.0");
}

}  // namespace
