// The WLAN and station request builders: each WMAC record, laid out by hand
// at its payload offsets, against the elements it must give; records that
// are short or name more than they hold give nothing.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "relay/wlan_cfg.h"
#include "relay/wlan/wlan_rows.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace capwap::test {
namespace {

using FillFn = int (*)(CW_PKT&, uint32_t, ByteView, uint32_t);

int FillVlan(CW_PKT& pkt, uint32_t, ByteView payload, uint32_t vendor) {
  return FillIpBasedVlan(pkt, payload, vendor);
}

struct Case {
  const char* name;
  FillFn fill;
  uint32_t op;
  Bytes payload;
  std::optional<TruncTable> expected;  // none: refused, nothing appended
};

void Check(const Case& c) {
  SCOPED_TRACE(c.name);
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  // Exactly the payload's size, so a read past it trips the sanitizer.
  Bytes payload(c.payload);
  const int result = c.fill(*pkt, c.op, payload, kVendor);
  const Bytes appended(pkt->buffer.begin() + kCwHeadersLen,
                       pkt->buffer.begin() + static_cast<long>(kCwHeadersLen + pkt->length));
  EXPECT_EQ(pkt->cursor, kCwHeadersLen + pkt->length);
  if (!c.expected) {
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(appended.empty());
    return;
  }
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(BytesMatch(appended, *c.expected));
}

// --- WLAN ------------------------------------------------------------------

TEST(WlanRequestBytes, EachRecordGivesItsElements) {
  const TruncTable plain_tail{Elem(1070, U8(0x24), "1070")};
  const Bytes base = AddWlanBase();
  const Bytes full = AddWlanFull();
  const Bytes upd = Payload(CwUpdWlanRecord::kSize, {{0, Hex("01 02")}, {4, Hex("21 03")}, {40, Hex("2d 02 aabb")}});
  const Bytes vlan = Cat({HostU16(0x0102), Hex("eeee"), HostU32(2), HostU32(1), HostU32(2), HostU32(3),
                          HostU32(4), HostU32(5), HostU32(6)});
  const Case cases[] = {
      // Key length 0: a 51-octet Add WLAN; the eight IE elements and the
      // single values are always there.
      {"add, nothing optional", CW_AC_FillWlanCfgReq, kWlanOpAdd, AddWlanBase(),
       Concat({{AddWlanElem({})}, IeRows(Hex("2d02aabb")), SwitchRows(), SettingRows(), plain_tail})},
      {"add, option word 2: vendor 124 and no 1071", CW_AC_FillWlanCfgReq, kWlanOpAdd,
       With(AddWlanBase(), {{928, HostU32(2)}, {932, HostU32(7)}}),
       Concat({{AddWlanElem({})}, IeRows(Hex("2d02aabb")), {Ven(124, U32(7), "vendor 124")}, SwitchRows(),
               SettingRows(), plain_tail})},
      {"add, everything", CW_AC_FillWlanCfgReq, kWlanOpAdd, full, AddWlanFullRows(full)},
      // The web page block needs its title, or both its second text and body.
      {"add, web page body alone", CW_AC_FillWlanCfgReq, kWlanOpAdd, With(AddWlanBase(), {{1405, U8(1)}}),
       Concat({{AddWlanElem({})}, IeRows(Hex("2d02aabb")), SwitchRows(), SettingRows(), plain_tail})},
      {"add, short", CW_AC_FillWlanCfgReq, kWlanOpAdd, Bytes(base.begin(), base.end() - 1), {}},
      {"add, key of 33", CW_AC_FillWlanCfgReq, kWlanOpAdd, With(AddWlanBase(), {{6, HostU16(33)}}), {}},
      {"add, slot 1 length 3", CW_AC_FillWlanCfgReq, kWlanOpAdd, With(AddWlanBase(), {{85, U8(3)}}), {}},
      {"add, ninth slot length 129", CW_AC_FillWlanCfgReq, kWlanOpAdd,
       With(AddWlanBase(), {{799, U8(129)}, {928, HostU32(1)}}), {}},
      {"add, two addresses in 5580 bytes", CW_AC_FillWlanCfgReq, kWlanOpAdd,
       With(AddWlanBase(), {{5544, U8(1)}, {5554, HostU16(2)}}), {}},
      {"add, more addresses than a packet holds", CW_AC_FillWlanCfgReq, kWlanOpAdd,
       Cat({With(AddWlanBase(), {{5544, U8(1)}, {5554, HostU16(2000)}}), Bytes(20 * 2000, 0)}), {}},
      {"update, no key: 7 octets", CW_AC_FillWlanCfgReq, kWlanOpUpdate, upd,
       Concat({{Elem(1044, Hex("01 02 00 21 03 0000"), "update wlan")}, IeRows(Hex("2d02aabb"))})},
      {"update, key of 3", CW_AC_FillWlanCfgReq, kWlanOpUpdate, With(upd, {{6, HostU16(3)}, {8, Str("abc")}}),
       Concat({{Elem(1044, Cat({Hex("01 02 00 21 03 0003"), Str("abc")}), "update wlan")},
               IeRows(Hex("2d02aabb"))})},
      {"update, short", CW_AC_FillWlanCfgReq, kWlanOpUpdate, Bytes(753, 0), {}},
      {"update, slot 8 length 129", CW_AC_FillWlanCfgReq, kWlanOpUpdate, With(upd, {{40 + 585, U8(129)}}), {}},
      {"delete", CW_AC_FillWlanCfgReq, kWlanOpDel, Hex("01 02"), TruncTable{Elem(1027, Hex("0102"), "delete wlan")}},
      {"delete, short", CW_AC_FillWlanCfgReq, kWlanOpDel, Hex("01"), {}},
      {"unknown operation", CW_AC_FillWlanCfgReq, kWlanOpWidth, Hex("01 02"), {}},
      {"width", CW_AC_FillWidthCfgReq, kWlanOpWidth,
       Cat({Hex("a1a2a3a4"), HostU32(1), HostU32(2), HostU32(3), HostU32(4)}),
       TruncTable{Ven(139, Hex("a1a2a3a4 00000001 00000002 00000003 00000004"), "channel width")}},
      {"width, short", CW_AC_FillWidthCfgReq, kWlanOpWidth, Bytes(19, 0), {}},
      {"width, other operation", CW_AC_FillWidthCfgReq, kWlanOpAdd, Bytes(20, 0), {}},
      {"ip vlan, two entries", FillVlan, 0, vlan,
       TruncTable{Ven(87, Hex("0102 00000002 00000001 00000002 00000003 00000004 00000005 00000006"),
                      "ip-based vlan")}},
      {"ip vlan, one byte short", FillVlan, 0, Bytes(vlan.begin(), vlan.end() - 1), {}},
      {"ip vlan, one byte over", FillVlan, 0, Cat({vlan, U8(0)}), {}},
      {"ip vlan, no head", FillVlan, 0, Hex("01"), {}},
      {"ip vlan, more entries than a packet holds", FillVlan, 0,
       Cat({HostU16(1), Hex("0000"), HostU32(3000), Bytes(12 * 3000, 0)}), {}},
  };
  for (const Case& c : cases) Check(c);
}

// --- Stations -----------------------------------------------------------

const Bytes kMac = Hex("00 1c 2d 3e 4f 50");

Bytes AddStaBase() {
  return Payload(CwAddStaRecord::kSize,
                 {{0, U8(1)}, {2, kMac}, {8, HostU32(0x01020304)}, {12, U8(2)}, {14, HostU16(5)}, {16, U8(6)},
                  {17, kMac}, {24, HostU16(0x0431)}, {26, U8(3)}, {27, Fill(0x82, 126)}, {154, kMac},
                  {160, HostU16(5)}, {162, kMac}, {168, Hex("c1c2")}, {170, Fill(0x71, 6)}, {176, Fill(0x72, 6)},
                  {182, Str("skey")}, {476, HostU32(0x0a0b0c0d)}, {480, HostU16(0x0e0f)}});
}
TruncTable AddStaRows(const Bytes& key, std::optional<TruncRow> vendor130) {
  TruncTable rows{Elem(8, Cat({Hex("01 06"), kMac, U32(0x01020304)}), "add station"),
                  Elem(1036, Cat({Hex("02 0005 06"), kMac, U16(0x0431), U8(3), Fill(0x82, 126)}), "802.11 station"),
                  Elem(1037, Cat({kMac, U16(5)}), "qos profile"),
                  Elem(1038, Cat({kMac, Hex("c1c2"), Fill(0x71, 6), Fill(0x72, 6), key}), "session key")};
  if (vendor130) rows.push_back(*vendor130);
  rows.push_back(Elem(1062, U32(0x0a0b0c0d), "1062"));
  rows.push_back(Elem(1064, U16(0x0e0f), "1064"));
  return rows;
}

TEST(StationRequestBytes, EachRecordGivesItsElements) {
  const Bytes with130 = With(AddStaBase(), {{438, HostU16(4)}, {440, U8(1)}, {442, kMac}, {448, Fill(0x48, 8)},
                                            {456, HostU16(0x4546)}, {458, HostU16(0x4748)}, {460, U8(0x49)},
                                            {461, Fill(0x4a, 10)}});
  const TruncRow vendor130 = Ven(
      130, Cat({kMac, Fill(0x48, 8), U16(0x4546), U16(0x4748), U8(0x49), Fill(0x4a, 10)}), "vendor 130");
  const Case cases[] = {
      // Key length 0 still gives a 20-octet session key.
      {"add, no key", CW_AC_FillStaCfgReq, kStaOpAdd, AddStaBase(), AddStaRows({}, std::nullopt)},
      {"add, key of 4 and vendor 130", CW_AC_FillStaCfgReq, kStaOpAdd, with130,
       AddStaRows(Str("skey"), vendor130)},
      {"add, short", CW_AC_FillStaCfgReq, kStaOpAdd, Bytes(481, 0), {}},
      {"add, key of 257", CW_AC_FillStaCfgReq, kStaOpAdd, With(AddStaBase(), {{438, HostU16(257)}}), {}},
      {"delete: two elements", CW_AC_FillStaCfgReq, kStaOpDel,
       Payload(CwDelStaRecord::kSize, {{0, U8(1)}, {2, kMac}, {14, HostU16(0x0e0f)}}),
       TruncTable{Elem(18, Cat({Hex("01 06"), kMac}), "delete station"), Elem(1064, U16(0x0e0f), "1064")}},
      {"delete, short", CW_AC_FillStaCfgReq, kStaOpDel, Bytes(15, 0), {}},
      {"traffic", CW_AC_FillStaCfgReq, kStaOpTraffic,
       Payload(CwStaTrafficRecord::kSize, {{0, kMac}, {8, HostU32(1000)}, {12, HostU32(2000)}, {16, HostU32(3)}}),
       TruncTable{Elem(56, Cat({kMac, U32(1000), U32(2000), U32(3)}), "station traffic")}},
      {"traffic, short", CW_AC_FillStaCfgReq, kStaOpTraffic, Bytes(19, 0), {}},
      {"unknown operation", CW_AC_FillStaCfgReq, 2, AddStaBase(), {}},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace capwap::test
