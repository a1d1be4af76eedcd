// The Configuration Update item encoder: every item's element against an
// annotated expected byte table, every shorter record refused, the items
// without an element, the record builders and the AC host-name payload.
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

struct ItemCase {
  const char* name;
  uint32_t item;
  TruncTable record;  // host order, as the caller lays it out
  TruncTable element;  // on the wire
};

TruncTable ElementHead(uint16_t type, uint16_t len) {
  return {{U16(type), "element type"}, {U16(len), "element length"}};
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

// Item 1045 record: radio, tagging, then two tables of four 12-byte
// entries. Field f of entry q is 0xA0qf1 (first table) or 0xB0qf2
// (second), so a swapped table, queue or byte order shows in the diff.
Bytes QosRecord() {
  Bytes out = {0x01, 0x02};
  for (uint16_t base : {0xA000, 0xB000}) {
    uint16_t tag = base == 0xA000 ? 1 : 2;
    for (uint16_t q = 0; q < 4; ++q) {
      for (uint16_t f = 0; f < 6; ++f) {
        Bytes v = HostU16(static_cast<uint16_t>(base + q * 0x100 + f * 0x10 + tag));
        out.insert(out.end(), v.begin(), v.end());
      }
    }
  }
  return out;
}

const std::vector<ItemCase>& Cases() {
  static const std::vector<ItemCase> cases = {
      {"AC Name with Priority", 5,
       {{U8(3), "priority"}, {Fixed("controller-a", 32), "name"}},
       Concat({ElementHead(5, 33), {{U8(3), "priority"}, {Fixed("controller-a", 32), "name"}}})},
      {"AC Timestamp", 6, {{HostU32(0xE1A2B3C4), "time"}},
       Concat({ElementHead(6, 4), {{U32(0xE1A2B3C4), "time"}}})},
      {"CAPWAP Timers", 12, {{U8(3), "discovery"}, {U8(30), "echo"}},
       Concat({ElementHead(12, 2), {{U8(3), "discovery"}, {U8(30), "echo"}}})},
      {"Idle Timeout", 23, {{HostU32(300), "timeout"}},
       Concat({ElementHead(23, 4), {{U32(300), "timeout"}}})},
      {"Image Identifier", 25,
       {{Fill(0xEE, 4), "unused"}, {ImageDescriptor(), "descriptor"}},
       Concat({ElementHead(25, 112),
               {{U32(kVendor), "vendor identifier argument"}, {ImageDescriptor(), "descriptor"}}})},
      {"Location Data", 28, {{Fixed("building 4, floor 2", 32), "location"}},
       Concat({ElementHead(28, 32), {{Fixed("building 4, floor 2", 32), "location"}}})},
      {"Radio Administrative State", 31, {{U8(2), "radio"}, {U8(1), "state"}},
       Concat({ElementHead(31, 2), {{U8(2), "radio"}, {U8(1), "state"}}})},
      {"Statistics Timer", 36, {{HostU16(0x0102), "timer"}},
       Concat({ElementHead(36, 2), {{U16(0x0102), "timer"}}})},
      {"WTP Fallback", 40, {{U8(1), "mode"}}, Concat({ElementHead(40, 1), {{U8(1), "mode"}}})},
      {"WTP Name", 45, {{Fixed("lobby-ap", 32), "name"}},
       Concat({ElementHead(45, 32), {{Fixed("lobby-ap", 32), "name"}}})},
      {"WTP Static IP Address Information", 49,
       {{HostU32(0xC0A80A05), "address"},
        {HostU32(0xFFFFFF00), "netmask"},
        {HostU32(0xC0A80A01), "gateway"},
        {U8(1), "static"}},
       Concat({ElementHead(49, 13),
               {{U32(0xC0A80A05), "address"},
                {U32(0xFFFFFF00), "netmask"},
                {U32(0xC0A80A01), "gateway"},
                {U8(1), "static"}}})},
      {"LAN IP", 50, {{HostU32(0x0A000001), "address"}, {HostU32(24), "prefix"}},
       Concat({ElementHead(50, 8), {{U32(0x0A000001), "address"}, {U32(24), "prefix"}}})},
      {"LAN DHCP range", 51,
       {{HostU32(0x0A000064), "low"}, {HostU32(0x0A0000C8), "high"}, {HostU32(1440), "lease"}},
       Concat({ElementHead(51, 12),
               {{U32(0x0A000064), "low"}, {U32(0x0A0000C8), "high"}, {U32(1440), "lease"}}})},
      {"DNS servers", 52,
       {{HostU32(0x08080808), "dns 1"},
        {HostU32(0x08080404), "dns 2"},
        {HostU32(0x01010101), "dns 3"},
        {HostU32(0), "dns 4"}},
       Concat({ElementHead(52, 16),
               {{U32(0x08080808), "dns 1"},
                {U32(0x08080404), "dns 2"},
                {U32(0x01010101), "dns 3"},
                {U32(0), "dns 4"}}})},
      {"n2n server", 54, {{HostU32(0xCB007107), "address"}, {HostU16(7654), "port"}},
       Concat({ElementHead(54, 6), {{U32(0xCB007107), "address"}, {U16(7654), "port"}}})},
      {"element 57", 57, {{Seq(0x40, 128), "block"}, {HostU16(0x1234), "u16"}},
       Concat({ElementHead(57, 130), {{Seq(0x40, 128), "block"}, {U16(0x1234), "u16"}}})},
      {"LED mode", 58, {{U8(1), "quiet"}}, Concat({ElementHead(58, 1), {{U8(1), "quiet"}}})},
      {"antenna flags", 62, {{U8(0x05), "flags"}},
       Concat({ElementHead(62, 1), {{U8(0x05), "flags"}}})},
      {"mesh", 63, {{U8(1), "role"}, {U8(7), "mesh ID"}, {U8(2), "data path"}},
       Concat({ElementHead(63, 3), {{U8(1), "role"}, {U8(7), "mesh ID"}, {U8(2), "data path"}}})},
      {"retransmit interval", 65, {{HostU16(0x0A1E), "interval"}},
       Concat({ElementHead(65, 1), {{U8(0x1E), "low byte"}}})},
      {"LAN port admin", 66, {{U8(2), "port"}, {U8(0), "enabled"}},
       Concat({ElementHead(66, 2), {{U8(2), "port"}, {U8(0), "enabled"}}})},
      {"maximum retransmission", 67, {{HostU16(0x0B07), "count"}},
       Concat({ElementHead(67, 1), {{U8(0x07), "low byte"}}})},
      {"IEEE 802.11 Antenna, two antennas", 1025,
       {{U8(1), "radio"}, {U8(1), "diversity"}, {U8(3), "combiner"}, {U8(2), "count"},
        {Hex("11 22"), "antennas"}},
       Concat({ElementHead(1025, 5),
               {{U8(1), "radio"}, {U8(1), "diversity"}, {U8(2), "count"},
                {Hex("11 22"), "antennas"}}})},
      {"IEEE 802.11 Direct Sequence Control", 1028,
       {{U8(1), "radio"}, {U8(0), "reserved"}, {U8(6), "channel"}, {U8(2), "CCA"},
        {HostU32(0x11223344), "threshold"}},
       Concat({ElementHead(1028, 8),
               {{U8(1), "radio"}, {U8(0), "reserved"}, {U8(6), "channel"}, {U8(2), "CCA"},
                {U32(0x11223344), "threshold"}}})},
      {"IEEE 802.11 MAC Operation", 1030,
       {{U8(1), "radio"}, {U8(0), "reserved"}, {HostU16(2347), "RTS"}, {U8(4), "short retry"},
        {U8(7), "long retry"}, {HostU16(2346), "fragmentation"}, {HostU32(512), "tx lifetime"},
        {HostU32(2000), "rx lifetime"}},
       Concat({ElementHead(1030, 16),
               {{U8(1), "radio"}, {U8(0), "reserved"}, {U16(2347), "RTS"},
                {U8(4), "short retry"}, {U8(7), "long retry"}, {U16(2346), "fragmentation"},
                {U32(512), "tx lifetime"}, {U32(2000), "rx lifetime"}}})},
      {"IEEE 802.11 Multi-Domain Capability", 1032,
       {{U8(1), "radio"}, {U8(0), "reserved"}, {HostU16(1), "first channel"},
        {HostU16(13), "channels"}, {HostU16(20), "max power"}},
       Concat({ElementHead(1032, 8),
               {{U8(1), "radio"}, {U8(0), "reserved"}, {U16(1), "first channel"},
                {U16(13), "channels"}, {U16(20), "max power"}}})},
      {"IEEE 802.11 OFDM Control", 1033,
       {{U8(2), "radio"}, {U8(0), "reserved"}, {U8(36), "channel"}, {U8(0x0F), "bands"},
        {HostU32(0x01020304), "threshold"}},
       Concat({ElementHead(1033, 12),
               {{U8(2), "radio"}, {U8(0), "reserved"}, {U8(36), "channel"}, {U8(0x0F), "bands"},
                {U32(0x01020304), "threshold"}, {Fill(0, 4), "zero tail"}}})},
      {"IEEE 802.11 Rate Set", 1034, {{U8(1), "radio"}, {Hex("82848b960c121824"), "rates"}},
       Concat({ElementHead(1034, 9), {{U8(1), "radio"}, {Hex("82848b960c121824"), "rates"}}})},
      {"IEEE 802.11 Supported Rates", 1040,
       {{U8(2), "radio"}, {Hex("0c12182430486c00"), "rates"}},
       Concat({ElementHead(1040, 9), {{U8(2), "radio"}, {Hex("0c12182430486c00"), "rates"}}})},
      {"IEEE 802.11 Tx Power", 1041,
       {{U8(1), "radio"}, {U8(0), "reserved"}, {HostU16(17), "power"}},
       Concat({ElementHead(1041, 4), {{U8(1), "radio"}, {U8(0), "reserved"}, {U16(17), "power"}}})},
      {"IEEE 802.11 Tx Power Level", 1042,
       {{U8(1), "radio"}, {U8(3), "levels"}, {Hex("0a 0f 14"), "power levels"}},
       Concat({ElementHead(1042, 5),
               {{U8(1), "radio"}, {U8(3), "levels"}, {Hex("0a 0f 14"), "power levels"}}})},
      {"IEEE 802.11 WTP Quality of Service", 1045, {{QosRecord(), "record"}},
       Concat({ElementHead(1045, 82),
               {{U8(1), "radio"},
                {U8(2), "tagging policy"},
                {Hex("01 a011 a021 31 a041 a051"), "queue 0, first table"},
                {Hex("02 b012 b022 32 b042 b052"), "queue 0, second table"},
                {Hex("01 a111 a121 31 a141 a151"), "queue 1, first table"},
                {Hex("02 b112 b122 32 b142 b152"), "queue 1, second table"},
                {Hex("01 a211 a221 31 a241 a251"), "queue 2, first table"},
                {Hex("02 b212 b222 32 b242 b252"), "queue 2, second table"},
                {Hex("01 a311 a321 31 a341 a351"), "queue 3, first table"},
                {Hex("02 b312 b322 32 b342 b352"), "queue 3, second table"}}})},
      {"IEEE 802.11 WTP Radio Configuration", 1046,
       {{U8(1), "radio"}, {U8(0), "short preamble"}, {U8(1), "BSSIDs"}, {U8(3), "DTIM"},
        {Hex("00 1c 2d 3e 4f 50"), "BSSID"}, {HostU16(100), "beacon period"},
        {Hex("43 4e 20 00"), "country"}},
       Concat({ElementHead(1046, 16),
               {{U8(1), "radio"}, {U8(0), "short preamble"}, {U8(1), "BSSIDs"}, {U8(3), "DTIM"},
                {Hex("00 1c 2d 3e 4f 50"), "BSSID"}, {U16(100), "beacon period"},
                {Hex("43 4e 20 00"), "country"}}})},
  };
  return cases;
}

TEST(CfgUpdateItems, EveryItemWritesItsDocumentedElement) {
  DaemonContext lab;
  for (const ItemCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(BytesMatch(Appended(c.item, Flatten(c.record)), c.element));
  }
}

TEST(CfgUpdateItems, EveryShorterRecordAppendsNothing) {
  DaemonContext lab;
  LogCapture log;
  g_ulCwDebugBitmap = CW_DBG_ALL;
  for (const ItemCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    uint32_t item = c.item;
    // Each prefix is copied to an exact-size buffer, so a read past the
    // record's end would trip the address sanitizer.
    EXPECT_TRUE(CheckTruncations(c.record, [item](ByteView record) {
      return !Appended(item, record).empty();
    }));
  }
  EXPECT_TRUE(log.Contains(" Configuration Update item 1045 needs 98 record bytes, 97 given; dropped."));
}

TEST(CfgUpdateItems, LongerRecordsWriteOnlyTheirFields) {
  DaemonContext lab;
  // An antenna count of 2 takes two antenna bytes even when more follow.
  Bytes antenna = Hex("01 00 00 02 aa bb cc dd");
  EXPECT_EQ(Appended(1025, antenna), Hex("0401 0005 01 00 02 aa bb"));
  Bytes timestamp = Cat({HostU32(7), Fill(0x99, 12)});
  EXPECT_EQ(Appended(6, timestamp), Hex("0006 0004 00000007"));
  // Zero antennas and zero power levels are still elements.
  EXPECT_EQ(Appended(1025, Hex("03 01 00 00")), Hex("0401 0003 03 01 00"));
  EXPECT_EQ(Appended(1042, Hex("03 00")), Hex("0412 0002 03 00"));
}

TEST(CfgUpdateItems, MacAclEntriesComeByReference) {
  DaemonContext lab;
  Bytes entries = Cat({U8(6), Hex("00 11 22 33 44 01"), U8(6), Hex("00 11 22 33 44 02"), U8(6),
                       Hex("00 11 22 33 44 03")});
  CwRefItem add = CwRefItem::Count(3, entries);
  const TruncTable expected = {{U16(7), "element type"},
                               {U16(22), "length 1 + 7 x 3"},
                               {U8(3), "entries"},
                               {Cat({U8(6), Hex("00 11 22 33 44 01")}), "entry 1"},
                               {Cat({U8(6), Hex("00 11 22 33 44 02")}), "entry 2"},
                               {Cat({U8(6), Hex("00 11 22 33 44 03")}), "entry 3"}};
  EXPECT_TRUE(BytesMatch(Appended(7, add.record, add.referenced), expected));

  CwRefItem del = CwRefItem::Count(1, entries);
  EXPECT_EQ(Appended(17, del.record, del.referenced), Hex("0011 0008 01 06 001122334401"));
  CwRefItem none = CwRefItem::Count(0, {});
  EXPECT_EQ(Appended(7, none.record, none.referenced), Hex("0007 0001 00"));

  // Fewer referenced bytes than the count needs: nothing at all.
  EXPECT_TRUE(Appended(7, add.record, ByteView(entries).first(20)).empty());
}

TEST(CfgUpdateItems, VendorPayloadAndCallerBuiltElementsComeByReference) {
  DaemonContext lab;
  Bytes value = Hex("0000a1c6 0002 0002 aa55 ffff");  // two trailing bytes unused
  CwRefItem vendor = CwRefItem::Length(10, value);
  EXPECT_EQ(Appended(37, vendor.record, vendor.referenced),
            Hex("0025 000a 0000a1c6 0002 0002 aa55"));
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
  g_ulCwDebugBitmap = CW_DBG_ALL;
  LogCapture log;
  for (uint32_t item : {2u, 3u, 16u, 0u, 1u, 9999u, 0x10000u + 6u}) {
    EXPECT_TRUE(Appended(item, Fill(0x11, 200)).empty()) << item;
    EXPECT_TRUE(Appended(item, {}).empty()) << item;
  }
  EXPECT_EQ(log.text(), "");
}

template <size_t N>
Bytes AsBytes(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(CfgUpdateItems, RecordBuildersLandEachFieldAtItsOffset) {
  CwItemStaticIp ip{0x11223344, 0x55667788, 0x99AABBCC, 1};
  EXPECT_EQ(AsBytes(ip.Record()),
            Cat({HostU32(0x11223344), HostU32(0x55667788), HostU32(0x99AABBCC), U8(1)}));
  CwItemLanIp lan{0x0A000001, 24};
  EXPECT_EQ(AsBytes(lan.Record()), Cat({HostU32(0x0A000001), HostU32(24)}));
  CwItemDhcpRange dhcp{1, 2, 3};
  EXPECT_EQ(AsBytes(dhcp.Record()), Cat({HostU32(1), HostU32(2), HostU32(3)}));
  CwItemDnsServers dns{{5, 6, 7, 8}};
  EXPECT_EQ(AsBytes(dns.Record()), Cat({HostU32(5), HostU32(6), HostU32(7), HostU32(8)}));
  CwItemN2nServer n2n{0xCB007107, 7654};
  EXPECT_EQ(AsBytes(n2n.Record()), Cat({HostU32(0xCB007107), HostU16(7654)}));
  EXPECT_EQ(AsBytes(CW_ItemU8(0x7F)), U8(0x7F));
  EXPECT_EQ(AsBytes(CW_ItemU16(0x0A1E)), HostU16(0x0A1E));
  EXPECT_EQ(AsBytes(CW_ItemU32(9)), HostU32(9));

  // Records built this way encode as the table says.
  DaemonContext lab;
  EXPECT_EQ(Appended(49, ip.Record()), Hex("0031 000d 11223344 55667788 99aabbcc 01"));
  EXPECT_EQ(Appended(54, n2n.Record()), Hex("0036 0006 cb007107 1de6"));
  EXPECT_EQ(Appended(65, CW_ItemU16(0x0A1E)), Hex("0041 0001 1e"));
}

TEST(CfgUpdateItems, AcHostNamePayloadCarriesTheDaemonVendorAndTheName) {
  DaemonContext lab;
  CW_APGROUP group;
  group.group_id = 3;
  group.ac_hostname = "ac-main";
  std::array<uint8_t, kAcHostNameElemSize> buffer{};
  buffer.fill(0xCC);
  CwRefItem item;
  EXPECT_EQ(AC_Enc_AcHostNameElem(group, item, buffer), 0);
  const TruncTable expected = {{U32(g_uiOid), "g_uiOid"},
                               {U16(2), "vendor element"},
                               {U16(32), "length"},
                               {Fixed("ac-main", 32), "host name"}};
  EXPECT_TRUE(BytesMatch(buffer, expected));
  EXPECT_EQ(Bytes(item.record.begin(), item.record.begin() + 2), HostU16(40));
  EXPECT_EQ(item.referenced.data(), buffer.data());
  EXPECT_EQ(item.referenced.size(), 40u);
  EXPECT_TRUE(BytesMatch(Appended(37, item.record, item.referenced),
                         Concat({ElementHead(37, 40), expected})));

  // A 32-character name fills the field with no terminator.
  group.ac_hostname = std::string(32, 'h');
  AC_Enc_AcHostNameElem(group, item, buffer);
  EXPECT_EQ(Bytes(buffer.begin() + 8, buffer.end()), Fill('h', 32));
}

}  // namespace
}  // namespace capwap::test
