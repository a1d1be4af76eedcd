// The Configuration Update item encoder: every item's element against its
// expected octets, every shorter record refused, the by-reference items,
// the items without an element, the record builders and the AC host name.
#include <gtest/gtest.h>

#include "config/ap_group.h"
#include "diag/debug.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "relay/cfg_update.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace capwap::test {
namespace {

constexpr uint32_t kVendor = 0x0000A1C6;

// What CW_AC_FillSCfgUpdReqItem appended to a fresh packet.
Bytes Appended(uint32_t item, ByteView record, ByteView referenced = {}) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  EXPECT_TRUE(pkt);
  if (!pkt) return {};
  EXPECT_EQ(CW_AC_FillSCfgUpdReqItem(*pkt, item, CwCfgItem(record, referenced), kVendor), 0);
  EXPECT_EQ(pkt->cursor, kCwHeadersLen + pkt->length);
  return Bytes(pkt->buffer.begin() + kCwHeadersLen,
               pkt->buffer.begin() + static_cast<long>(kCwHeadersLen + pkt->length));
}

Bytes Seq(uint8_t first, size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(first + i);
  return out;
}

// The Image Identifier descriptor as it travels: three (type, 32, text).
Bytes ImageDescriptor() {
  return Cat({U16(0), U16(32), Fixed("wa-7200", 32), U16(1), U16(32), Fixed("2.1.5", 32),
              U16(2), U16(32), Fixed("wa-7200-2.1.5", 32)});
}

template <size_t N>
Bytes AsBytes(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

// The table records of items 23, 49-54, 62 and 65 come from their builders.
struct ItemCase {
  uint32_t item;
  Bytes record;   // host order, as the caller lays it out
  Bytes element;  // on the wire: type, length, value
};

TEST(CfgUpdateItems, EveryItemWritesItsElementAndEveryShorterRecordNothing) {
  DaemonContext lab;
  LogCapture log;
  const ItemCase cases[] = {
      {5, Cat({U8(3), Fixed("controller-a", 32)}), Cat({Hex("0005 0021 03"), Fixed("controller-a", 32)})},
      {6, HostU32(0xE1A2B3C4), Hex("0006 0004 e1a2b3c4")},
      {12, Hex("03 1e"), Hex("000c 0002 03 1e")},
      {23, AsBytes(ItemU32(300)), Hex("0017 0004 0000012c")},
      {25, Cat({Fill(0xEE, 4), ImageDescriptor()}), Cat({Hex("0019 0070"), U32(kVendor), ImageDescriptor()})},
      {28, Fixed("building 4, floor 2", 32), Cat({Hex("001c 0020"), Fixed("building 4, floor 2", 32)})},
      {36, HostU16(0x0102), Hex("0024 0002 0102")},
      {40, Hex("01"), Hex("0028 0001 01")},
      {45, Fixed("lobby-ap", 32), Cat({Hex("002d 0020"), Fixed("lobby-ap", 32)})},
      {49, AsBytes(CwItemStaticIp{0xC0A80A05, 0xFFFFFF00, 0xC0A80A01, 1}.Record()),
       Hex("0031 000d c0a80a05 ffffff00 c0a80a01 01")},
      {50, AsBytes(CwItemLanIp{0x0A000001, 24}.Record()), Hex("0032 0008 0a000001 00000018")},
      {51, AsBytes(CwItemDhcpRange{0x0A000064, 0x0A0000C8, 1440}.Record()),
       Hex("0033 000c 0a000064 0a0000c8 000005a0")},
      {52, AsBytes(CwItemDnsServers{{0x08080808, 0x08080404, 0x01010101, 0}}.Record()),
       Hex("0034 0010 08080808 08080404 01010101 00000000")},
      {54, AsBytes(CwItemN2nServer{0xCB007107, 7654}.Record()), Hex("0036 0006 cb007107 1de6")},
      {57, Cat({Seq(0x40, 128), HostU16(0x1234)}), Cat({Hex("0039 0082"), Seq(0x40, 128), Hex("1234")})},
      {58, Hex("01"), Hex("003a 0001 01")},
      {62, AsBytes(ItemU8(0x05)), Hex("003e 0001 05")},
      {63, Hex("01 07 02"), Hex("003f 0003 01 07 02")},
      {65, AsBytes(ItemU16(0x0A1E)), Hex("0041 0001 1e")},  // the low byte
      {66, Hex("02 00"), Hex("0042 0002 02 00")},
      {67, HostU16(0x0B07), Hex("0043 0001 07")},
      // The per-radio items take their layouts from the radio element table;
      // item 1025 with two antennas: Len 5 and no combiner byte.
      {1025, Hex("01 01 03 02 11 22"), Hex("0401 0005 01 01 02 11 22")},
      {1045, Cat({Hex("01 02"), Fill(0, 96)}), Cat({Hex("0415 0052 01 02"), Fill(0, 80)})},
  };
  g_ulCwDebugBitmap = kDbgAll;
  for (const ItemCase& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_TRUE(BytesMatch(Appended(c.item, c.record), {{c.element, "element"}}));
    // Each prefix is copied to an exact-size buffer: a read past the
    // record's end trips the address sanitizer.
    uint32_t item = c.item;
    EXPECT_TRUE(CheckTruncations({{c.record, "record"}},
                                 [item](ByteView record) { return !Appended(item, record).empty(); }));
  }
  EXPECT_TRUE(log.Contains(" Configuration Update item 1045 needs 98 record bytes, 97 given; dropped."));
  // Longer records write only their fields.
  EXPECT_EQ(Appended(1025, Hex("01 00 00 02 aa bb cc dd")), Hex("0401 0005 01 00 02 aa bb"));
  EXPECT_EQ(Appended(6, Cat({HostU32(7), Fill(0x99, 12)})), Hex("0006 0004 00000007"));
}

TEST(CfgUpdateItems, ReferencedBytesOfAclVendorAndCallerBuiltItems) {
  DaemonContext lab;
  Bytes entries = Cat({U8(6), Hex("00 11 22 33 44 01"), U8(6), Hex("00 11 22 33 44 02"), U8(6),
                       Hex("00 11 22 33 44 03")});
  CwRefItem add = CwRefItem::Count(3, entries);
  EXPECT_EQ(Appended(7, add.record, add.referenced), Cat({Hex("0007 0016 03"), entries}));
  CwRefItem del = CwRefItem::Count(1, entries);
  EXPECT_EQ(Appended(17, del.record, del.referenced), Hex("0011 0008 01 06 001122334401"));
  CwRefItem none = CwRefItem::Count(0, {});
  EXPECT_EQ(Appended(7, none.record, none.referenced), Hex("0007 0001 00"));
  EXPECT_TRUE(Appended(7, add.record, ByteView(entries).first(20)).empty());

  Bytes value = Hex("0000a1c6 0002 0002 aa55 ffff");  // two trailing bytes unused
  CwRefItem vendor = CwRefItem::Length(10, value);
  EXPECT_EQ(Appended(37, vendor.record, vendor.referenced), Hex("0025 000a 0000a1c6 0002 0002 aa55"));
  EXPECT_TRUE(Appended(37, vendor.record, ByteView(value).first(9)).empty());
  // Items 183, 184, 193 and 195 are copied whole, with no header added.
  Bytes built = Hex("00b7 0004 01020304 eeee");
  for (uint32_t item : {183u, 184u, 193u, 195u}) {
    CwRefItem raw = CwRefItem::Length(8, built);
    EXPECT_EQ(Appended(item, raw.record, raw.referenced), Hex("00b7 0004 01020304")) << item;
    EXPECT_TRUE(Appended(item, raw.record, ByteView(built).first(7)).empty()) << item;
  }
}

TEST(CfgUpdateItems, ItemsWithoutAnElementAppendNothingAndLogNothing) {
  DaemonContext lab;
  g_ulCwDebugBitmap = kDbgAll;
  LogCapture log;
  for (uint32_t item : {2u, 3u, 16u, 0u, 1u, 9999u, 0x10000u + 6u, 0x10000u + 1025u}) {
    EXPECT_TRUE(Appended(item, Fill(0x11, 200)).empty()) << item;
    EXPECT_TRUE(Appended(item, {}).empty()) << item;
  }
  EXPECT_EQ(log.text(), "");
}

// The element's octets are checked where a group's host name is pushed; here
// a 32-character name fills its field with no terminator.
TEST(CfgUpdateItems, AcHostNameOfThirtyTwoCharactersHasNoTerminator) {
  DaemonContext lab;
  CW_APGROUP group;
  group.ac_hostname = std::string(32, 'h');
  std::array<uint8_t, kAcHostNameElemSize> buffer{};
  CwRefItem item;
  EXPECT_EQ(AC_Enc_AcHostNameElem(group, item, buffer), 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Cat({U32(g_uiOid), Hex("0002 0020"), Fill('h', 32)}));
  EXPECT_EQ(Appended(37, item.record, item.referenced), Cat({Hex("0025 0028"), Bytes(buffer.begin(), buffer.end())}));
}

}  // namespace
}  // namespace capwap::test
