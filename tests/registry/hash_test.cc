#include "registry/hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lab.h"

namespace capwap::test {
namespace {

class HashTest : public ::testing::Test {
 protected:
  FreshGlobals fresh_;

  wlan_hash* Make(uint32_t buckets, hash_fn fn = do_string_hash,
                  hash_copy_fn copy = nullptr, hash_free_fn free = nullptr) {
    wlan_hash* table = nullptr;
    EXPECT_EQ(new_hash(&table, copy, free, buckets, fn, __FILE__, __LINE__), 1);
    return table;
  }
  static hash_value Find(const wlan_hash* table, const char* key, size_t len = 0) {
    hash_value value = 99;
    if (!wlan_hash_lookup(&value, table, key, len)) {
      EXPECT_EQ(value, 0u);
    }
    return value;
  }
};

TEST_F(HashTest, ZeroBucketsGivesTheDefaultSizeAndFreeClearsTheHolder) {
  wlan_hash* table = Make(0);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->heads.size(), 9973u);
  EXPECT_STREQ(hash_report(table), "Contents/Size (%): 0/9973 (0%). Min/max: 0/0");
  free_hash_table(&table);
  EXPECT_EQ(table, nullptr);
  EXPECT_STREQ(hash_report(nullptr), "No table.");
  EXPECT_EQ(HashReportText(4000000000u, 4000000000u, 4000000000u, 4000000000u),
            "Report out of range for display.");
}

TEST_F(HashTest, NodePoolGrowsBy127AndTakesDeletedNodesBack) {
  wlan_hash* table = Make(32, do_word_hash);
  std::vector<uint32_t> keys(200);
  for (uint32_t i = 0; i < 128; ++i) {
    keys[i] = i;
    ASSERT_EQ(add_hash(table, &keys[i], 4, i), 1);
  }
  EXPECT_EQ(HashPoolBlocks(), 2u) << "the 128th node takes a second block";
  EXPECT_EQ(HashPoolFreeNodes(), 126u);
  delete_hash_entry(table, &keys[3], 4);
  delete_hash_entry(table, &keys[3], 4);
  EXPECT_EQ(table->count, 127u) << "an absent key changes nothing";
  EXPECT_EQ(HashPoolFreeNodes(), 127u);
  EXPECT_EQ(Find(table, reinterpret_cast<const char*>(&keys[100]), 4), 100u);
}

TEST_F(HashTest, CaseInsensitiveTablesFoldCaseOthersDoNot) {
  wlan_hash* folded = Make(64, do_string_case_hash);
  add_hash(folded, "ABC", 0, 7);
  EXPECT_EQ(Find(folded, "aBc", 3), 7u);
  delete_hash_entry(folded, "abc", 0);
  EXPECT_EQ(folded->count, 0u);
  wlan_hash* exact = Make(64, do_string_hash);
  add_hash(exact, "ABC", 0, 7);
  EXPECT_EQ(Find(exact, "abc"), 0u);
  add_hash(exact, "serial-1", 0, 5);
  EXPECT_EQ(Find(exact, "serial-12345", 8), 5u) << "stored strings compare by equality";
}

TEST_F(HashTest, OneBucketChainsEverythingNewestFirst) {
  wlan_hash* table = Make(1, do_string_hash, [](hash_value* dst, hash_value src) { *dst = src * 2; });
  add_hash(table, "k", 0, 1);
  add_hash(table, "x", 0, 2);
  add_hash(table, "k", 0, 3);
  EXPECT_EQ(Find(table, "k"), 12u) << "newest first, copied in on add and again on lookup";
  std::vector<hash_value> order;
  EXPECT_EQ(hash_foreach(table, [&](const void*, size_t, hash_value v) {
              order.push_back(v);
              return order.size() == 2;
            }),
            1u);
  EXPECT_EQ(order, (std::vector<hash_value>{6, 4}));
  delete_hash_entry(table, "k", 0);
  EXPECT_EQ(Find(table, "k"), 4u) << "the older duplicate shows once the newest is gone";
}

TEST_F(HashTest, HashFunctionsFollowTheirRules) {
  const uint32_t all = 0xFFFFFFFFu;
  EXPECT_EQ(do_string_hash("ab", 0, all), 2u * 'a' + 'b');
  EXPECT_EQ(do_string_hash(std::string(40, '\xff').c_str(), 0, all), 0xFE01u) << "16-bit fold";
  EXPECT_EQ(do_string_case_hash("ABC", 0, all), do_string_hash("abc", 0, all));
  EXPECT_EQ(do_string_case_hash("\xC0", 0, all), 0xC0u) << "bytes above 127 are not folded";
  const uint8_t b[7] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  EXPECT_EQ(do_triplet_hash(b, 4, all), 0x11u ^ 0x223344u);
  EXPECT_EQ(do_triplet_hash(b, 5, all), 0x1122u ^ 0x334455u);
  EXPECT_EQ(do_triplet_hash(b, 6, all), 0x112233u ^ 0x445566u);
  const uint8_t mac[6] = {0xF0, 0x90, 0x01, 0x20, 0x80, 0x05};
  EXPECT_EQ(do_mac_hash(mac, 0, all), 0x110u << 24 | 0x10u << 16 | 0x06u << 8 | 0x05u);
  const uint8_t ip[4] = {10, 0, 0, 1};
  EXPECT_EQ(do_ipv4_hash(ip, 0, 7), 0x0A000001u % 7);
  uint32_t word = 123456789;
  EXPECT_EQ(do_word_hash(&word, 0, 1000), 789u);
  uint32_t words[3] = {1, 2, 4};
  EXPECT_EQ(do_key12_hash(words, 0, all), 7u);
}

}  // namespace
}  // namespace capwap::test
