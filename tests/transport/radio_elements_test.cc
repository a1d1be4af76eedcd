// The radio element table, one row per element: each field's record octets
// (host order) and wire octets (big-endian). The record encodes to the wire
// value, the value decodes back to the record, and every shorter record or
// value gives its outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay/radio_binding.h"
#include "support/truncation.h"
#include "transport/radio_elements.h"

namespace capwap::test {
namespace {

struct Field {
  Bytes record, wire;
  std::string label;
  Outcome ends = Outcome::kFail;  // a value that ends after this field decodes
  Outcome cut = Outcome::kFail;   // a value that ends inside it decodes
};
Field B(const char* hex, const char* label) { return {Hex(hex), Hex(hex), label}; }
Field W16(uint16_t v, const char* label) { return {HostU16(v), U16(v), label}; }
Field W32(uint32_t v, const char* label) { return {HostU32(v), U32(v), label}; }
Field Low8(uint16_t v, const char* label) { return {HostU16(v), U8(static_cast<uint8_t>(v)), label}; }
Field Gap(size_t n) { return {Fill(0, n), {}, "record gap"}; }
Field Pass(Field f, Outcome cut = Outcome::kPass) {
  f.ends = Outcome::kPass;
  f.cut = cut;
  return f;
}

struct Row {
  uint16_t element;
  std::vector<Field> fields;
};

// One 12-byte record entry of the QoS tables, 10 bytes on the wire.
Field Qos(uint8_t q, uint8_t table) {
  Field f{{}, {}, "queue " + std::to_string(q) + ", table " + std::to_string(table)};
  for (uint16_t at = 0; at < 6; ++at) {
    const Field part = at == 0 || at == 3
                           ? Low8(static_cast<uint16_t>(0x10 * table + 4 * q + at), "")
                           : W16(static_cast<uint16_t>(0x1000 * table + 0x100 * q + at), "");
    f.record = Cat({f.record, part.record});
    f.wire = Cat({f.wire, part.wire});
  }
  return f;
}

std::vector<Row> Rows() {
  std::vector<Row> rows = {
      {1025, {B("02 01", "radio, diversity"), Gap(1), Pass(B("02", "count")),
              Pass(B("a1 a2", "antennas, no combiner"))}},
      {1028, {B("02 00 0b 01", "radio, reserved, channel, CCA"), W32(0x11223344, "threshold")}},
      {1030, {B("02 00", "radio, reserved"), W16(2347, "RTS"), B("07 04", "retries"),
              W16(2346, "fragmentation"), W32(512, "tx lifetime"), W32(1024, "rx lifetime")}},
      {1032, {B("02 00", "radio, reserved"), W16(1, "first channel"), W16(11, "channels"),
              W16(20, "max power")}},
      {1033, {B("03 00 24 02", "radio, reserved, channel, bands"), Pass(W32(0x55, "threshold"), Outcome::kFail),
              Pass({{}, Fill(0, 4), "zero tail"})}},
      {1034, {Pass(B("02", "radio"), Outcome::kFail), Pass(B("82 84 8b 96 0c 12 18 24", "rates"))}},
      {1040, {Pass(B("02", "radio"), Outcome::kFail), Pass(B("02 04 0b 16 0c 12 18 24", "rates"))}},
      {1041, {B("02 00", "radio, reserved"), W16(17, "power")}},
      {1042, {B("02", "radio"), B("03", "count"), B("0a 0b 0c", "levels")}},
      {31, {B("02 01", "radio, state")}},
      {1048, {B("02 00 00 00 0d", "radio, type")}},
      {1046, {B("02 01 10 01", "radio, preamble, BSSIDs, DTIM"), B("00 11 22 33 44 55", "BSSID"),
              W16(100, "beacon period"), B("55 53 20 00", "country")}},
      {1045, {B("02 01", "radio, tagging")}},
      {16, {B("02", "radio"), Gap(1), W16(60, "period")}},
      {1053, {B("02 0c", "radio, byte")}},
      {1058, {B("02 0d", "radio, byte")}},
      {1060, {B("02 0e 0f", "radio, bytes")}},
      {1063, {B("02 09", "radio, byte"), W16(0x1234, "u16")}},
      {1072, {B("02 a1 a2 a3 a4 a5 a6", "radio, bytes")}},
  };
  for (uint16_t element : {1049, 1050, 1051}) {
    rows.push_back({element, {B("02", "radio"), Gap(3), W32(element, "word")}});
  }
  // Record order: the four first-table entries from 2, the second table from 50.
  for (Row& row : rows) {
    if (row.element != 1045) continue;
    for (uint8_t table = 1; table <= 2; ++table) {
      for (uint8_t q = 0; q < 4; ++q) row.fields.push_back(Qos(q, table));
    }
  }
  return rows;
}

// The record side or the wire side of a row, as a truncation table.
TruncTable Side(const Row& row, bool wire) {
  TruncTable t;
  for (const Field& f : row.fields) {
    const Bytes& bytes = wire ? f.wire : f.record;
    if (bytes.empty()) continue;
    t.push_back({bytes, f.label, wire ? f.ends : Outcome::kFail, wire ? f.cut : Outcome::kFail});
  }
  return t;
}

Bytes Encode(const RadioElementCodec& codec, ByteView record) {
  Bytes out(256);
  WireWriter w(out.data(), out.size());
  if (!RadioToWire(codec, record, w)) return {};
  out.resize(w.size());
  return out;
}

Bytes Decode(const RadioElementCodec& codec, ByteView value) {
  Bytes record(codec.record_size, 0);
  if (!RadioFromWire(codec, value, record)) return {};
  return record;
}

TEST(RadioElements, EveryRowEncodesDecodesAndRefusesShortInput) {
  std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), RadioElements().size()) << "one test row per table row";
  for (Row& row : rows) {
    SCOPED_TRACE(row.element);
    const RadioElementCodec* codec = RadioElementFor(row.element);
    ASSERT_NE(codec, nullptr);
    const RadioBindingTlv* tlv = RdBindTlvByType(codec->rdbind_tlv);
    ASSERT_NE(tlv, nullptr);
    EXPECT_EQ(tlv->size, codec->record_size);
    EXPECT_EQ(tlv->element, row.element == 1033 ? 0 : row.element) << "OFDM stays off the binding";

    if (row.element == 1045) {  // wire order interleaves the tables
      TruncTable wire = {{Hex("02 01"), "radio, tagging"}};
      for (uint8_t q = 0; q < 4; ++q) {
        wire.push_back({Qos(q, 1).wire, "queue " + std::to_string(q) + ", first table"});
        wire.push_back({Qos(q, 2).wire, "queue " + std::to_string(q) + ", second table"});
      }
      const Bytes record = Flatten(Side(row, false));
      ASSERT_EQ(record.size(), 98u);
      EXPECT_TRUE(BytesMatch(Encode(*codec, record), wire));
      EXPECT_EQ(Decode(*codec, Flatten(wire)), record);
      EXPECT_TRUE(CheckTruncations(wire, [&](ByteView v) { return !Decode(*codec, v).empty(); }));
      continue;
    }
    const TruncTable record = Side(row, false), wire = Side(row, true);
    EXPECT_TRUE(BytesMatch(Encode(*codec, Flatten(record)), wire));
    Bytes padded = Flatten(record);
    padded.resize(codec->record_size);
    EXPECT_EQ(Decode(*codec, Flatten(wire)), padded);
    EXPECT_TRUE(CheckTruncations(record, [&](ByteView r) { return !Encode(*codec, r).empty(); }));
    EXPECT_TRUE(CheckTruncations(wire, [&](ByteView v) { return !Decode(*codec, v).empty(); }));
  }
}

TEST(RadioElements, ListCountsAreCappedAtTheRecordLayout) {
  const RadioElementCodec& antenna = *RadioElementFor(1025);
  const RadioElementCodec& levels = *RadioElementFor(1042);
  // Out: a count beyond what the record holds goes out as the cap.
  EXPECT_EQ(Encode(antenna, Hex("01 02 00 09 a1 a2 a3 a4 a5 a6 a7 a8 a9")),
            Hex("01 02 06 a1 a2 a3 a4 a5 a6"));
  EXPECT_EQ(RadioRecordNeed(antenna, Hex("01 02 00 09")), 10u);
  EXPECT_EQ(Encode(levels, Hex("01 09 01 02 03 04 05 06 07 08 09")),
            Hex("01 08 01 02 03 04 05 06 07 08"));
  // In: nine listed levels keep eight; the AP's antenna bytes are kept up to six.
  EXPECT_EQ(Decode(levels, Hex("01 09 01 02 03 04 05 06 07 08 09")),
            Hex("01 08 01 02 03 04 05 06 07 08"));
  EXPECT_EQ(Decode(antenna, Hex("03 01 02 02 05 06 07 08 09 0a")),
            Hex("03 01 00 02 02 05 06 07 08 09"));
  EXPECT_EQ(RadioElementFor(0x10000 + 1025), nullptr);
}

}  // namespace
}  // namespace capwap::test
