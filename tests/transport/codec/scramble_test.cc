// Payload scrambling: the key's shape, the XOR rule, symmetry, and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

TEST(Scramble, KeyIsNinetyFourPrintableCharacters) {
  ASSERT_EQ(std::strlen(kCwScrambleKey), 94u);
  for (size_t i = 0; i < 94; ++i) {
    EXPECT_GE(kCwScrambleKey[i], 0x20) << i;
    EXPECT_LE(kCwScrambleKey[i], 0x7e) << i;
  }
}

TEST(Scramble, SwitchIsOffUntilTurnedOn) {
  ResetAllGlobals();
  EXPECT_EQ(g_ucNeedEncrypt, 0);
}

TEST(Scramble, EachOctetIsXoredWithTheKeyCyclically) {
  // Longer than the key, so the key wraps at octet 94.
  capwap::Bytes data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const capwap::Bytes plain = data;
  ASSERT_EQ(CW_Encrypt(data.data(), data.size(), kCwScrambleKey), 0);
  for (size_t i = 0; i < data.size(); ++i) {
    ASSERT_EQ(data[i], plain[i] ^ static_cast<uint8_t>(kCwScrambleKey[i % 94])) << i;
  }
  EXPECT_EQ(data[94], plain[94] ^ static_cast<uint8_t>(kCwScrambleKey[0]));
  ASSERT_EQ(CW_Encrypt(data.data(), data.size(), kCwScrambleKey), 0);
  EXPECT_EQ(data, plain);
}

TEST(Scramble, ShortKeyScramblesWithItsOwnLength) {
  capwap::Bytes data = Hex("00 00 00 00 00 ff");
  ASSERT_EQ(CW_Encrypt(data.data(), data.size(), "AB"), 0);
  EXPECT_EQ(data, Hex("41 42 41 42 41 bd"));
}

TEST(Scramble, RefusesAbsentBufferEmptyLengthOrAbsentKey) {
  capwap::Bytes data = Hex("01 02 03");
  const capwap::Bytes before = data;
  EXPECT_EQ(CW_Encrypt(nullptr, 3, kCwScrambleKey), 1);
  EXPECT_EQ(CW_Encrypt(data.data(), 0, kCwScrambleKey), 1);
  EXPECT_EQ(CW_Encrypt(data.data(), data.size(), nullptr), 1);
  EXPECT_EQ(CW_Encrypt(data.data(), data.size(), ""), 1);
  EXPECT_EQ(data, before);
}

}  // namespace
