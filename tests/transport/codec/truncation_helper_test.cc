// The truncation-table helper must catch the faults it exists for: a decoder
// that accepts a cut message, one that ignores a length, a builder that
// writes one wrong octet.
#include <gtest/gtest.h>

#include "support/truncation.h"

namespace {

using namespace capwap::test;

const TruncTable kTlv = {
    {U16(7), "type"},
    {U16(3), "length"},
    {Str("abc"), "value"},
};

// Correct: type, length, then exactly `length` octets.
bool StrictTlv(capwap::ByteView in) {
  capwap::WireReader r(in);
  uint16_t type = 0;
  uint16_t length = 0;
  capwap::ByteView value;
  return r.u16(type) && r.u16(length) && r.view(length, value) && r.done();
}

// Faulty: takes whatever value octets are there.
bool LenientTlv(capwap::ByteView in) {
  capwap::WireReader r(in);
  uint16_t type = 0;
  uint16_t length = 0;
  return r.u16(type) && r.u16(length);
}

TEST(TruncationHelper, PassesACorrectDecoder) {
  EXPECT_TRUE(CheckTruncations(kTlv, StrictTlv));
  EXPECT_TRUE(CheckLengthMutations(kTlv, "length", StrictTlv));
}

TEST(TruncationHelper, ReportsEveryAcceptedPrefix) {
  const ::testing::AssertionResult r = CheckTruncations(kTlv, LenientTlv);
  ASSERT_FALSE(r);
  const std::string msg = r.message();
  EXPECT_NE(msg.find("3 truncation mismatch(es)"), std::string::npos) << msg;
  EXPECT_NE(msg.find("prefix of 4 octets (cut at 'value' +0)"), std::string::npos) << msg;
  EXPECT_NE(msg.find("prefix of 6 octets (cut at 'value' +2)"), std::string::npos) << msg;
}

TEST(TruncationHelper, ReportsIgnoredLengthMutations) {
  const ::testing::AssertionResult r = CheckLengthMutations(kTlv, "length", LenientTlv);
  ASSERT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("'length' 3 -> 65535 (0xFFFF)"), std::string::npos)
      << r.message();
  EXPECT_FALSE(CheckLengthMutations(kTlv, "no such row", StrictTlv));
  EXPECT_FALSE(CheckLengthMutations(kTlv, "value", StrictTlv, {.offset = 2}));
}

TEST(TruncationHelper, RowOutcomesAndLeadingEmptyRow) {
  const TruncTable optional_tail = {
      {{}, "start", Outcome::kPass},
      {U16(1), "count", Outcome::kPass},
      {U16(9), "extra", Outcome::kPass, Outcome::kAny},
  };
  EXPECT_EQ(PrefixOutcome(optional_tail, 0), Outcome::kPass);
  EXPECT_EQ(PrefixOutcome(optional_tail, 1), Outcome::kFail);
  EXPECT_EQ(PrefixOutcome(optional_tail, 2), Outcome::kPass);
  EXPECT_EQ(PrefixOutcome(optional_tail, 3), Outcome::kAny);
  EXPECT_EQ(PrefixOutcome(kTlv, 0), Outcome::kFail);
  EXPECT_EQ(OffsetOf(kTlv, "value"), 4);
  EXPECT_EQ(OffsetOf(kTlv, "none"), -1);
}

TEST(TruncationHelper, BuilderDiffNamesTheWrongRow) {
  EXPECT_TRUE(BytesMatch(Hex("00 07 00 03 61 62 63"), kTlv));
  const ::testing::AssertionResult wrong = BytesMatch(Hex("00 07 00 04 61 62 63"), kTlv);
  ASSERT_FALSE(wrong);
  const std::string msg = wrong.message();
  EXPECT_NE(msg.find(">> @2 length: expected [00 03] actual [00 04]"), std::string::npos) << msg;
  EXPECT_NE(msg.find("   @0 type: expected [00 07]"), std::string::npos) << msg;

  const ::testing::AssertionResult longer = BytesMatch(Hex("00 07 00 03 61 62 63 00"), kTlv);
  ASSERT_FALSE(longer);
  EXPECT_NE(std::string(longer.message()).find("unexpected trailing octets: [00]"),
            std::string::npos);
  EXPECT_FALSE(BytesMatch(Hex("00 07 00 03 61"), kTlv));
}

TEST(TruncationHelper, FieldBuilders) {
  EXPECT_EQ(U32(0x01020304), Hex("01 02 03 04"));
  EXPECT_EQ(Fixed("abcdef", 4), Str("abcd"));
  EXPECT_EQ(Fixed("ab", 4), Hex("61 62 00 00"));
  EXPECT_EQ(Cat({U8(1), U16(2)}), Hex("01:00:02"));
  EXPECT_EQ(HostU16(1).size(), 2u);
  EXPECT_THROW(Hex("0g"), std::invalid_argument);
  EXPECT_THROW(Hex("012"), std::invalid_argument);
}

}  // namespace
