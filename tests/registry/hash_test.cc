#include "registry/hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lab.h"

namespace capwap::test {
namespace {

class HashTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAllGlobals(); }
  void TearDown() override { ResetAllGlobals(); }

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
  EXPECT_EQ(table->size, 9973u);
  EXPECT_EQ(table->heads.size(), 9973u);
  EXPECT_EQ(table->count, 0u);
  free_hash_table(&table);
  EXPECT_EQ(table, nullptr);
  free_hash_table(&table);  // an empty holder is accepted
}

TEST_F(HashTest, NodePoolGrowsBy127AndTakesDeletedNodesBack) {
  ASSERT_EQ(HashPoolBlocks(), 0u);
  wlan_hash* table = Make(32, do_word_hash);
  std::vector<uint32_t> keys(200);
  for (uint32_t i = 0; i < 127; ++i) {
    keys[i] = i;
    ASSERT_EQ(add_hash(table, &keys[i], 4, i), 1);
  }
  EXPECT_EQ(HashPoolBlocks(), 1u);
  EXPECT_EQ(HashPoolFreeNodes(), 0u);

  keys[127] = 127;
  ASSERT_EQ(add_hash(table, &keys[127], 4, 127), 1);  // the 128th node
  EXPECT_EQ(HashPoolBlocks(), 2u);
  EXPECT_EQ(HashPoolFreeNodes(), 126u);
  EXPECT_EQ(table->count, 128u);

  delete_hash_entry(table, &keys[3], 4);
  EXPECT_EQ(table->count, 127u);
  EXPECT_EQ(HashPoolFreeNodes(), 127u);
  keys[150] = 150;
  ASSERT_EQ(add_hash(table, &keys[150], 4, 150), 1);
  EXPECT_EQ(HashPoolBlocks(), 2u) << "a returned node is reused before a new block";

  hash_value value = 0;
  EXPECT_EQ(wlan_hash_lookup(&value, table, &keys[100], 4), 1);
  EXPECT_EQ(value, 100u);
  EXPECT_EQ(wlan_hash_lookup(&value, table, &keys[3], 4), 0);
}

TEST_F(HashTest, DeletingAnAbsentKeyChangesNothing) {
  wlan_hash* table = Make(8);
  add_hash(table, "alpha", 0, 1);
  add_hash(table, "beta", 0, 2);
  delete_hash_entry(table, "gamma", 0);
  delete_hash_entry(table, "alph", 0);
  EXPECT_EQ(table->count, 2u);
  EXPECT_EQ(Find(table, "alpha"), 1u);
  EXPECT_EQ(Find(table, "beta"), 2u);
  EXPECT_EQ(Find(table, "gamma"), 0u);
}

TEST_F(HashTest, CaseInsensitiveTablesFoldCaseOthersDoNot) {
  EXPECT_EQ(do_string_case_hash("ABC", 0, 9973), do_string_case_hash("abc", 0, 9973));
  EXPECT_EQ(do_string_case_hash("ABC", 0, 9973), do_string_hash("abc", 0, 9973));
  EXPECT_NE(do_string_hash("ABC", 0, 9973), do_string_hash("abc", 0, 9973));

  wlan_hash* folded = Make(64, do_string_case_hash);
  add_hash(folded, "ABC", 0, 7);
  EXPECT_EQ(Find(folded, "abc"), 7u);
  EXPECT_EQ(Find(folded, "aBc", 3), 7u);
  delete_hash_entry(folded, "abc", 0);
  EXPECT_EQ(folded->count, 0u);

  wlan_hash* exact = Make(64, do_string_hash);
  add_hash(exact, "ABC", 0, 7);
  EXPECT_EQ(Find(exact, "abc"), 0u);
  EXPECT_EQ(Find(exact, "ABC"), 7u);
}

TEST_F(HashTest, OneBucketChainsEverythingNewestFirst) {
  wlan_hash* table = Make(1);
  add_hash(table, "k", 0, 1);
  add_hash(table, "x", 0, 2);
  add_hash(table, "k", 0, 3);
  EXPECT_EQ(Find(table, "k"), 3u);

  std::vector<hash_value> order;
  EXPECT_EQ(hash_foreach(table, [&](const void*, size_t, hash_value v) {
              order.push_back(v);
              return 0;
            }),
            3u);
  EXPECT_EQ(order, (std::vector<hash_value>{3, 2, 1}));

  delete_hash_entry(table, "k", 0);
  EXPECT_EQ(Find(table, "k"), 1u) << "the older duplicate shows once the newest is gone";
  EXPECT_EQ(Find(table, "x"), 2u);
}

TEST_F(HashTest, ForeachStopsWhenTheVisitorSaysSo) {
  wlan_hash* table = Make(1);
  for (const char* key : {"a", "b", "c", "d"}) add_hash(table, key, 0, 1);
  int calls = 0;
  EXPECT_EQ(hash_foreach(table, [&](const void*, size_t, hash_value) { return ++calls == 2; }),
            1u);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(hash_foreach(nullptr, [](const void*, size_t, hash_value) { return 0; }), 0u);
}

TEST_F(HashTest, LengthsAndStoredStringsDecideMatches) {
  wlan_hash* table = Make(16, do_mac_hash);
  const uint8_t mac[6] = {0, 1, 2, 3, 4, 5};
  const uint8_t other[6] = {0, 1, 2, 3, 4, 6};
  add_hash(table, mac, 6, 42);
  hash_value value = 0;
  EXPECT_EQ(wlan_hash_lookup(&value, table, mac, 6), 1);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(wlan_hash_lookup(&value, table, other, 6), 0);

  wlan_hash* strings = Make(4);
  add_hash(strings, "serial-1", 0, 5);
  EXPECT_EQ(Find(strings, "serial-12345", 8), 5u) << "stored strings compare by equality";
  EXPECT_EQ(Find(strings, "serial-1X"), 0u);
}

namespace {
int g_freed = 0;
void CountFree(hash_value) { ++g_freed; }
void Double(hash_value* dst, hash_value src) { *dst = src * 2; }
}  // namespace

TEST_F(HashTest, CopyAndFreeFunctionsAreApplied) {
  g_freed = 0;
  wlan_hash* table = Make(8, do_string_hash, Double, CountFree);
  add_hash(table, "a", 0, 5);
  EXPECT_EQ(Find(table, "a"), 20u) << "copied in on add and again on lookup";
  delete_hash_entry(table, "a", 0);
  EXPECT_EQ(g_freed, 1);
  delete_hash_entry(table, "a", 0);
  EXPECT_EQ(g_freed, 1);
}

TEST_F(HashTest, HashFunctionsFollowTheirRules) {
  const uint32_t all = 0xFFFFFFFFu;
  // 2h + c, folded into 16 bits.
  EXPECT_EQ(do_string_hash("ab", 0, all), 2u * 'a' + 'b');
  std::string long_key(40, '\xff');
  uint32_t h = 0;
  for (char c : long_key) {
    h = 2 * h + static_cast<uint8_t>(c);
    while (h >= 65536) h = (h & 65535) + (h >> 16);
  }
  EXPECT_EQ(do_string_hash(long_key.c_str(), 0, all), h);
  EXPECT_LT(h, 65536u);
  EXPECT_EQ(do_string_case_hash("\xC0", 0, all), 0xC0u) << "bytes above 127 are not folded";

  const uint8_t b[7] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  EXPECT_EQ(do_triplet_hash(b, 4, all), 0x11u ^ 0x223344u);
  EXPECT_EQ(do_triplet_hash(b, 5, all), 0x1122u ^ 0x334455u);
  EXPECT_EQ(do_triplet_hash(b, 6, all), 0x112233u ^ 0x445566u);
  EXPECT_EQ(do_triplet_hash(b, 0, all), do_triplet_hash(b, 4, all));

  const uint8_t mac[6] = {0xF0, 0x90, 0x01, 0x20, 0x80, 0x05};
  EXPECT_EQ(do_mac_hash(mac, 0, all), (0x110u << 24 | 0x10u << 16 | 0x06u << 8 | 0x05u) & all);

  const uint8_t ip[4] = {10, 0, 0, 1};
  EXPECT_EQ(do_ipv4_hash(ip, 0, all), 0x0A000001u);
  EXPECT_EQ(do_ipv4_hash(ip, 0, 7), 0x0A000001u % 7);

  uint32_t word = 123456789;
  EXPECT_EQ(do_word_hash(&word, 0, 1000), 789u);
  uint32_t words[3] = {1, 2, 4};
  EXPECT_EQ(do_key12_hash(words, 0, all), 7u);
}

TEST_F(HashTest, ReportTexts) {
  EXPECT_STREQ(hash_report(nullptr), "No table.");
  wlan_hash bare;
  EXPECT_STREQ(hash_report(&bare), "Invalid hash table.");

  wlan_hash* table = Make(32);
  EXPECT_STREQ(hash_report(table), "Contents/Size (%): 0/32 (0%). Min/max: 0/0");
  add_hash(table, "a", 0, 1);
  add_hash(table, "a", 0, 2);
  add_hash(table, "b", 0, 3);
  EXPECT_STREQ(hash_report(table), "Contents/Size (%): 3/32 (9%). Min/max: 0/2");

  EXPECT_EQ(HashReportText(50000000, 1000, 1, 9),
            "Contents/Size (%): 50000000/1000 (4545454%). Min/max: 1/9");
  EXPECT_EQ(HashReportText(4000000000u, 4000000000u, 4000000000u, 4000000000u),
            "Report out of range for display.");
}

}  // namespace
}  // namespace capwap::test
