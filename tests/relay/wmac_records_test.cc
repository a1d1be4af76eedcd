// Byte layouts of the WMAC channel: every record's fields at their offsets
// and widths, its round trip, and the blobs its decoder refuses.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "platform/bytes.h"
#include "relay/wmac.h"
#include "support/truncation.h"

namespace capwap::test {
namespace {

template <class R>
void CheckRecord(const R& rec, const TruncTable& expected) {
  const auto raw = WmacRecordEncode(rec);
  EXPECT_TRUE(BytesMatch(raw, expected));
  R back;
  ASSERT_TRUE(WmacRecordDecode(Cat({Bytes(raw.begin(), raw.end()), Hex("ee")}), &back))
      << "octets past the record are not read";
  EXPECT_EQ(WmacRecordEncode(back), raw);
  EXPECT_TRUE(CheckTruncations(expected, [](ByteView v) {
    R r;
    return WmacRecordDecode(v, &r);
  }));
}

TEST(WmacRecords, PayloadRecordsOfFixedSize) {
  CheckRecord(WmacSetBssidRecord{3, 7, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}},
              {{U8(3), "radio"}, {U8(7), "WLAN"}, {Hex("a1a2a3a4a5a6"), "BSSID"}});
  CheckRecord(WmacBandSteerRecord{1, 2, 0x0A0B0C0D, 0x01020304},
              {{Hex("01 02"), "bytes 0, 1"}, {Fill(0, 2), "pad"}, {HostU32(0x0A0B0C0D), "u32 at 4"},
               {HostU32(0x01020304), "u32 at 8"}});
  CheckRecord(WmacSignalRecord{0xB5, 0x1234}, {{U8(0xB5), "byte 0"}, {U8(0), "pad"}, {HostU16(0x1234), "u16 at 2"}});
  WmacEnvMonitorRecord env{9, 0x11111111, 0x22222222, 0x33333333, {}};
  std::iota(env.data.begin(), env.data.end(), uint8_t{0x60});
  CheckRecord(env, {{U8(9), "byte 0"}, {Fill(0, 3), "pad"}, {HostU32(0x11111111), "u32 at 4"},
                    {HostU32(0x22222222), "u32 at 8"}, {Bytes(env.data.begin(), env.data.end()), "23 at 12"},
                    {U8(0), "pad"}, {HostU32(0x33333333), "u32 at 36"}});
  CheckRecord(WmacDpiServerRecord{0xC0A80001, 8080}, {{HostU32(0xC0A80001), "u32 at 0"}, {HostU32(8080), "u32 at 4"}});
  CheckRecord(WmacRfidHead{1, 2, {11, 12, 13, 14, 15, 16}, 7},
              {{Hex("01 02"), "bytes 0, 1"}, {Fill(0, 2), "pad"},
               {Cat({HostU32(11), HostU32(12), HostU32(13), HostU32(14), HostU32(15), HostU32(16)}), "u32 at 4-24"},
               {HostU32(7), "count at 28"}});
}

// The IPC header's octets are checked where WMAC receives a notification.
TEST(WmacRecords, NotificationRecords) {
  WmacCreateApRecord create{std::string(40, 'm'), std::string(40, 'n'), {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, 1};
  uint8_t raw_create[kWmacCreateApSize];
  WmacCreateApEncode(create, raw_create);
  EXPECT_TRUE(BytesMatch(raw_create, {{Fill('m', 32), "model, cut"}, {Cat({Fill('n', 32), U8(0)}), "name, NUL"},
                                      {Hex("a1a2a3a4a5a6"), "MAC"}, {U8(1), "auto-created"}}));

  CW_WTPCB wtp;
  wtp.apid = 0x11223344;
  wtp.serial = "SN-0001";
  SetFieldText(wtp.descriptor.sw_version, std::string(64, 's'));
  SetFieldText(wtp.descriptor.hw_version, std::string(40, 'h'));
  wtp.mac = {1, 2, 3, 4, 5, 6};
  wtp.board_vendor_id = 0xCAFEBABE;
  uint8_t raw_info[kWmacApInfoSize];
  WmacApInfoEncode(WmacApInfoOf(wtp), raw_info);
  EXPECT_TRUE(BytesMatch(raw_info, {{HostU32(0x11223344), "APID"}, {Fill(0, 32), "unused"},
                                    {Fixed("SN-0001", 32), "serial"}, {Fill('s', 64), "software version"},
                                    {Hex("010203040506"), "MAC"}, {Fill('h', 31), "hardware version, cut"},
                                    {Fill(0, 3), "pad"}, {HostU32(0xCAFEBABE), "vendor"}}));
}

TEST(WmacRecords, TunnelRecordRoundTripAndRefusals) {
  TunnelRecord rec;
  rec.state = 2;
  rec.apid = 31;
  rec.family = 1;
  std::iota(rec.ac_addr.begin(), rec.ac_addr.end(), uint8_t{0x10});
  std::iota(rec.wtp_data_addr.begin(), rec.wtp_data_addr.end(), uint8_t{0x40});
  rec.ac_data_port = 5247;
  rec.wtp_data_port = 0xBEEF;
  rec.virtual_ap = 1;
  rec.scrambled = 1;
  uint8_t raw[kTunnelRecordSize + 1] = {};
  TunnelRecordEncode(rec, raw);
  EXPECT_TRUE(BytesMatch(ByteView(raw, kTunnelRecordSize),
                         {{HostU32(2), "state"}, {HostU32(31), "APID"}, {Hex("01 000000"), "family, pad"},
                          {Bytes(rec.ac_addr.begin(), rec.ac_addr.end()), "AC address"},
                          {Bytes(rec.wtp_data_addr.begin(), rec.wtp_data_addr.end()), "WTP data address"},
                          {HostU16(5247), "AC port"}, {HostU16(0xBEEF), "WTP port"},
                          {Hex("01 01 0000"), "virtual AP, scrambled, pad"}}));
  TunnelRecord back;
  ASSERT_TRUE(TunnelRecordDecode(ByteView(raw, kTunnelRecordSize), &back));
  EXPECT_EQ(back.wtp_data_addr, rec.wtp_data_addr);
  EXPECT_EQ(back.wtp_data_port, rec.wtp_data_port);
  back.apid = 777;
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 51), &back));
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 53), &back));
  raw[0] = 3;  // no such state
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 52), &back));
  raw[0] = 1;
  raw[10] = 0xFF;  // padding is always zero
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 52), &back));
  EXPECT_FALSE(TunnelRecordDecode(Bytes(52, 0xFF), &back));
  EXPECT_EQ(back.apid, 777u) << "a refused record leaves the output alone";
}

// An APM payload whose byte i is (i + 1) & 0xFF.
Bytes Pattern(size_t n) {
  Bytes p(n);
  std::iota(p.begin(), p.end(), uint8_t{1});
  return p;
}
Bytes At(const Bytes& p, size_t from, size_t to) { return Bytes(p.begin() + from, p.begin() + to); }

TEST(WmacRecords, ProfileAndRadioRecordsFromApmPayloads) {
  Bytes p = Pattern(128);
  for (size_t i = 0; i < 33; ++i) p[6 + i] = i < 14 ? "office-profile"[i] : 0;
  uint8_t raw[kWmacProfileRecordSize];
  ASSERT_TRUE(WmacProfileRecordFromApm(p, 12, raw));
  EXPECT_TRUE(BytesMatch(raw, {{HostU32(12), "APID"}, {Fill(0, 4), "pad"}, {At(p, 0, 6), "MAC"},
                               {Fixed("office-profile", 33), "name"}, {At(p, 39, 104), "65 bytes"},
                               {Cat({At(p, 104, 108), At(p, 120, 124), At(p, 124, 128), At(p, 108, 112)}),
                                "words from 104, 120, 124, 108"},
                               {Cat({At(p, 112, 113), U8(0), At(p, 113, 120)}), "byte 112, pad, 7 bytes"},
                               {Fill(0, 67), "rest"}}));
  for (size_t i = 6; i < 39; ++i) p[i] = 'x';  // no terminator: stays in its field
  ASSERT_TRUE(WmacProfileRecordFromApm(p, 0, raw));
  EXPECT_EQ(Bytes(raw + 14, raw + 48), Cat({Fill('x', 32), U8(0), At(p, 39, 40)}));
  uint8_t untouched[kWmacProfileRecordSize];
  std::fill(std::begin(untouched), std::end(untouched), 0xEE);
  EXPECT_FALSE(WmacProfileRecordFromApm(ByteView(p).first(127), 1, untouched));
  EXPECT_EQ(untouched[0], 0xEE);

  Bytes r = Pattern(76);
  ASSERT_TRUE(WmacRadioRecordFromApm(r, 0x0A0B0C0D, raw));
  TruncTable radio = {{HostU32(0x0A0B0C0D), "APID"}, {At(r, 8, 12), "word from 8"}, {Fill(0, 132), "unused"}};
  for (size_t i = 0; i < 4; ++i) radio.push_back({At(r, 12 + 16 * i, 28 + 16 * i), "radio " + std::to_string(i)});
  radio.push_back({Fill(0, 0), "end"});
  EXPECT_TRUE(BytesMatch(ByteView(raw).first(204), radio));
  EXPECT_FALSE(WmacRadioRecordFromApm(ByteView(r).first(75), 1, raw));
}

}  // namespace
}  // namespace capwap::test
