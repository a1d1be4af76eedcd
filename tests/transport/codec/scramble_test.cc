// Payload scrambling: the XOR rule with a short key, symmetry, refusals.
#include <gtest/gtest.h>

#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

TEST(Scramble, EachOctetIsXoredWithTheKeyCyclicallyAndBack) {
  capwap::Bytes data = Hex("00 00 00 00 00 ff");
  ASSERT_EQ(CW_Encrypt(data.data(), data.size(), "AB"), 0);
  EXPECT_EQ(data, Hex("41 42 41 42 41 bd"));
  capwap::Bytes long_data(200, 0x5a);  // the 94-character key wraps
  const capwap::Bytes plain = long_data;
  ASSERT_EQ(CW_Encrypt(long_data.data(), long_data.size(), kCwScrambleKey), 0);
  EXPECT_EQ(long_data[94], 0x5a ^ static_cast<uint8_t>(kCwScrambleKey[0]));
  ASSERT_EQ(CW_Encrypt(long_data.data(), long_data.size(), kCwScrambleKey), 0);
  EXPECT_EQ(long_data, plain);

  EXPECT_EQ(CW_Encrypt(nullptr, 4, kCwScrambleKey), 1);
  EXPECT_EQ(CW_Encrypt(data.data(), 0, kCwScrambleKey), 1);
  EXPECT_EQ(CW_Encrypt(data.data(), data.size(), nullptr), 1);
}

}  // namespace
