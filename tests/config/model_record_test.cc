// The 1220-byte CW_APMODEL record: every field at its offset and width, the
// round trip, and refusal of blobs that are not a record.
#include <gtest/gtest.h>

#include <vector>

#include "config/model_catalogue.h"
#include "support/controller.h"

namespace {

using capwap::test::U16At;
using capwap::test::U32At;

CW_APMODEL Sentinels() {
  CW_APMODEL m;
  m.name = "sentinel-model";
  m.radio_count = 4;
  for (int r = 0; r < 4; ++r) {
    m.radios[r].modes = static_cast<uint8_t>(0x11 + r);
    m.radios[r].max_power = static_cast<uint8_t>(0x21 + r);
    m.radios[r].attr_byte = static_cast<uint8_t>(0x31 + r);
    m.radios[r].attr_word = static_cast<uint16_t>(0x4142 + r);
  }
  m.vendor_id = 0x51525354;
  m.in_use = 1;
  m.capability = 7;
  m.lan_ports = 4;
  return m;
}

TEST(ApModelRecord, FieldsLandAtTheirOffsets) {
  std::vector<uint8_t> rec(kApModelRecordSize, 0xEE);
  ApModelEncode(Sentinels(), rec.data());

  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data())), "sentinel-model");
  for (size_t i = 14; i < 32; ++i) EXPECT_EQ(rec[i], 0) << "name padding at " << i;
  EXPECT_EQ(rec[32], 4);
  EXPECT_EQ(rec[33] | rec[34] | rec[35], 0);
  for (int r = 0; r < 4; ++r) {
    const uint8_t* e = rec.data() + 36 + 292 * r;
    EXPECT_EQ(e[0], 0x11 + r) << "radio " << r + 1;
    for (int i = 1; i < 7; ++i) EXPECT_EQ(e[i], 0);
    EXPECT_EQ(e[7], 0x21 + r);
    for (int i = 8; i < 289; ++i) ASSERT_EQ(e[i], 0) << "radio " << r + 1 << " byte " << i;
    EXPECT_EQ(e[289], 0x31 + r);
    EXPECT_EQ(U16At(rec, 36 + 292 * r + 290), 0x4142 + r);
  }
  for (size_t i = 1204; i < 1212; ++i) EXPECT_EQ(rec[i], 0);
  EXPECT_EQ(U32At(rec, 1212), 0x51525354u);
  EXPECT_EQ(rec[1216], 1);
  EXPECT_EQ(rec[1217], 7);
  EXPECT_EQ(rec[1218], 4);
  EXPECT_EQ(rec[1219], 0);

  auto back = ApModelDecode(rec);  // every byte is checked above: re-encoding shows each field
  ASSERT_TRUE(back);
  std::vector<uint8_t> again(kApModelRecordSize, 0x77);
  ApModelEncode(*back, again.data());
  EXPECT_EQ(again, rec);
}

TEST(ApModelRecord, RefusesWhatIsNotARecord) {
  uint8_t rec[kApModelRecordSize];
  ApModelEncode(Sentinels(), rec);
  capwap::ByteView whole(rec, sizeof rec);
  EXPECT_FALSE(ApModelDecode(whole.first(0)));
  EXPECT_FALSE(ApModelDecode(whole.first(32)));
  EXPECT_FALSE(ApModelDecode(whole.first(kApModelRecordSize - 1)));
  std::vector<uint8_t> longer(rec, rec + sizeof rec);
  longer.push_back(0);
  EXPECT_FALSE(ApModelDecode(longer));

  uint8_t bad[kApModelRecordSize];
  std::memcpy(bad, rec, sizeof bad);
  std::memset(bad, 'a', 32);  // name without terminator
  EXPECT_FALSE(ApModelDecode(bad));
  std::memcpy(bad, rec, sizeof bad);
  bad[32] = 5;  // more radios than a record holds
  EXPECT_FALSE(ApModelDecode(bad));
  bad[32] = 0;  // a freshly defined custom model has none yet
  EXPECT_TRUE(ApModelDecode(bad));
}

TEST(ApModelRecord, KeyIsTheLowerCasedPaddedNameAndLongNamesAreCut) {
  auto key = ApModelKey("Lab-AP");
  ASSERT_TRUE(key);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(key->data())), "lab-ap");
  for (size_t i = 6; i < 32; ++i) EXPECT_EQ((*key)[i], 0);
  EXPECT_TRUE(ApModelKey(std::string(31, 'k')));
  EXPECT_FALSE(ApModelKey(std::string(32, 'k')));
  EXPECT_FALSE(ApModelKey(""));

  CW_APMODEL m;  // an overlong name is cut and keeps its terminator
  m.name = std::string(40, 'x');
  uint8_t rec[kApModelRecordSize];
  ApModelEncode(m, rec);
  EXPECT_EQ(rec[31], 0);
  EXPECT_EQ(ApModelDecode(rec).value().name, std::string(31, 'x'));
}

}  // namespace
