// The radio binding's TLV list: the parse rules, the WMAC encoding and the
// AP elements built from the sub-records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay/radio_binding.h"
#include "relay/wmac.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace capwap::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// One TLV entry; the length field defaults to the value's size.
TruncTable Tlv(const std::string& name, uint16_t type, Bytes value, int declared = -1) {
  const auto len = static_cast<uint16_t>(declared < 0 ? value.size() : declared);
  return {{U16(type), name + ": type"},
          {U16(len), name + ": length"},
          {std::move(value), name + ": value", Outcome::kPass}};
}

bool Parses(ByteView in) {
  CW_RDBIND rd;
  return CW_GetRdBind(&rd, in.data(), in.size()) == 0;
}

int Parse(CW_RDBIND& rd, const TruncTable& list) {
  const Bytes bytes = Flatten(list);
  return CW_GetRdBind(&rd, bytes.data(), bytes.size());
}

const TruncTable kList = Concat({
    {{Bytes{}, "empty list", Outcome::kPass}},
    Tlv("idle timeout", 17, HostU32(300)),
    Tlv("antenna r1", 1, Hex("01 02 00 02 01 02 00 00 00 00")),
    Tlv("admin state r3", 10, Hex("03 01")),
    Tlv("unknown 28", 28, Hex("aa bb cc")),
    Tlv("tx power r1", 8, Cat({Hex("01 00"), HostU16(17)})),
});

TEST(RdBindParse, EveryPrefixAndTheWholeList) {
  EXPECT_TRUE(CheckTruncations(kList, Parses));
  WriteFuzzSeed(kList, "ipc_rdbind", "tlv_list");
  CW_RDBIND rd;
  ASSERT_EQ(Parse(rd, kList), 0);
  EXPECT_EQ(rd.idle_timeout, 300u);
  EXPECT_EQ(rd.radio_count, 2u);
  EXPECT_EQ(rd.radios[0].radio_id, 1u);
  EXPECT_EQ(rd.radios[2].radio_id, 3u);
  EXPECT_EQ(rd.radios[0].sub[1], Hex("01 02 00 02 01 02 00 00 00 00"));
  EXPECT_EQ(rd.radios[2].sub[10], Hex("03 01"));
  EXPECT_EQ(rd.radios[0].sub[8]->size(), 4u);
  EXPECT_EQ(rd.radios[1].radio_id, 0u);
}

TEST(RdBindParse, KnownTypesAdvanceByTheirFixedSize) {
  // TLV 10 claims 8 octets, holds 2: the next entry starts right after them.
  const TruncTable longer = Concat({Tlv("admin r2", 10, Hex("02 01"), 8),
                                    Tlv("tx power r2", 8, Hex("02 00 11 00"))});
  CW_RDBIND rd;
  ASSERT_EQ(Parse(rd, longer), 0);
  EXPECT_EQ(rd.radios[1].sub[10], Hex("02 01"));
  EXPECT_EQ(rd.radios[1].sub[8], Hex("02 00 11 00"));

  // A length of 0 still takes the 16 octets of a radio configuration.
  CW_RDBIND shorter;
  ASSERT_EQ(Parse(shorter, Tlv("radio config r4", 12, Fill(4, 16), 0)), 0);
  EXPECT_EQ(shorter.radios[3].sub[12], Fill(4, 16));

  // Unknown types 0, 20 and 28+ are skipped by their length.
  CW_RDBIND skipped;
  ASSERT_EQ(Parse(skipped, Concat({Tlv("t0", 0, Hex("01")), Tlv("t20", 20, Hex("01 02")),
                                   Tlv("t999", 999, {}), Tlv("admin r1", 10, Hex("01 00"))})),
            0);
  EXPECT_EQ(skipped.radio_count, 1u);
}

TEST(RdBindParse, LengthMutationsOfTheLastEntry) {
  const TruncTable list = Concat({Tlv("admin r1", 10, Hex("01 01")),
                                  Tlv("radio info r1", 11, Hex("01 00 00 00 0d"))});
  LengthExpect expect;
  expect.minus_one = Outcome::kPass;  // still taken at its fixed size
  expect.zero = Outcome::kPass;
  EXPECT_TRUE(CheckLengthMutations(list, "radio info r1: length", Parses, expect));
  // In the middle, a longer length is covered by what follows.
  LengthExpect middle;
  middle.plus_one = middle.minus_one = middle.zero = Outcome::kPass;
  EXPECT_TRUE(CheckLengthMutations(list, "admin r1: length", Parses, middle));
}

TEST(RdBindParse, RadioFiveIsNotStoredAndTheListStillParses) {
  CW_RDBIND rd;
  CaptureStdout();
  const int result =
      Parse(rd, Concat({Tlv("admin r5", 10, Hex("05 01")), Tlv("admin r2", 10, Hex("02 01"))}));
  EXPECT_EQ(GetCapturedStdout(), " Radio num is invalid.\n");
  WriteFuzzSeed(Concat({Tlv("admin r5", 10, Hex("05 01")), Tlv("admin r2", 10, Hex("02 01"))}),
                "ipc_rdbind", "radio_five");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(rd.radio_count, 0u);
  EXPECT_EQ(rd.radios[1].sub[10], Hex("02 01"));
  for (const auto& radio : rd.radios) EXPECT_NE(radio.radio_id, 5u);
}

TEST(RdBindParse, ValuesRunningPastTheEndAreRefused) {
  struct Case {
    const char* what;
    Bytes list;
    const char* line;
  };
  const Case cases[] = {
      {"length past the end", Flatten(Tlv("admin r1", 10, Hex("01 01 00"), 5)),
       " CW_GetRdBind CW_IsMsgOutBound2\n"},
      {"fixed size past the end", Flatten(Tlv("radio config r1", 12, Hex("01 00"))),
       " CW_GetRdBind CW_IsMsgOutBound2\n"},
      {"half a header", Hex("00 0a 00"), " CW_GetRdBind CW_IsMsgOutBound2\n"},
  };
  for (const Case& c : cases) {
    CW_RDBIND rd;
    CaptureStdout();
    EXPECT_EQ(CW_GetRdBind(&rd, c.list.data(), c.list.size()), 1) << c.what;
    EXPECT_EQ(GetCapturedStdout(), c.line) << c.what;
  }
  CW_RDBIND rd;
  CaptureStdout();
  EXPECT_EQ(CW_GetRdBind(&rd, nullptr, 4), 1);
  EXPECT_EQ(GetCapturedStdout(), " CW_GetRdBind CW_IsMsgOutBound1\n");
}

TEST(RdBindParse, VendorCapabilityAloneDoesNotCountARadio) {
  CW_RDBIND rd;
  ASSERT_EQ(Parse(rd, Tlv("vendor 129 r2", 15, Cat({U8(2), Fill(0x5a, 75)}))), 0);
  EXPECT_EQ(rd.radios[1].radio_id, 2u);
  EXPECT_TRUE(rd.radios[1].sub[15]);
  EXPECT_EQ(rd.radio_count, 0u);
  EXPECT_EQ(CW_FreeRdBind(&rd), 0);
  EXPECT_FALSE(rd.radios[1].sub[15]);
}

// --- Encodings ---------------------------------------------------------------

std::vector<std::pair<uint16_t, Bytes>> TlvEntries(ByteView list) {
  std::vector<std::pair<uint16_t, Bytes>> out;
  WireReader r(list);
  while (r.remaining() > 0) {
    uint16_t type = 0, len = 0;
    ByteView value;
    if (!r.u16(type) || !r.u16(len) || !r.view(len, value)) {
      ADD_FAILURE() << "malformed TLV list";
      break;
    }
    out.emplace_back(type, Bytes(value.begin(), value.end()));
  }
  return out;
}

TEST(RdBindEncode, WmacListKeepsItsOrderAndFixedLengthsAndParsesBack) {
  CW_RDBIND rd;
  rd.idle_timeout = 300;  // stays with the controller
  ASSERT_EQ(CW_RdBindSetSub(rd, 3, 27, Hex("03 01 02 03")), 0);  // padded to 7
  ASSERT_EQ(CW_RdBindSetSub(rd, 1, 14, Fill(1, 12)), 0);         // cut to 10
  ASSERT_EQ(CW_RdBindSetSub(rd, 1, 15, Fill(1, 76)), 0);
  ASSERT_EQ(CW_RdBindSetSub(rd, 1, 4, Fill(1, 8)), 0);  // stays with the controller
  ASSERT_EQ(CW_RdBindSetSub(rd, 1, 18, Hex("01 07")), 0);
  ASSERT_EQ(CW_RdBindSetSub(rd, 1, 1, Fill(1, 10)), 0);
  Bytes out(kWmacRdBindBufSize);
  out.resize(CW_EncRdBindTlv(rd, out));
  std::vector<std::pair<uint16_t, size_t>> order;
  for (const auto& [type, value] : TlvEntries(out)) order.emplace_back(type, value.size());
  EXPECT_EQ(order, (std::vector<std::pair<uint16_t, size_t>>{
                       {1, 10}, {15, 76}, {14, 10}, {18, 2}, {27, 7}}));

  CW_RDBIND back;
  ASSERT_EQ(CW_GetRdBind(&back, out.data(), out.size()), 0);
  EXPECT_EQ(back.radios[2].sub[25], Hex("03 01 02 03 00 00 00"));
  EXPECT_EQ(back.radios[0].sub[14], Fill(1, 10));
  EXPECT_FALSE(back.radios[0].sub[4]);
  EXPECT_EQ(back.idle_timeout, 0u);

  EXPECT_EQ(CW_EncRdBindTlv(CW_RDBIND{}, out), 0u);
  Bytes tiny(20);
  EXPECT_EQ(CW_EncRdBindTlv(rd, tiny), 0u) << "too small a buffer is refused whole";
}

// The element bytes of a packet (after the two headers).
ByteView Elements(const CW_PKT& pkt) {
  return ByteView(pkt.buffer).subspan(kCwHeadersLen, pkt.length);
}

constexpr uint32_t kVendor = 0x0000A1B2;

TEST(RdBindEncode, ApElementsOfEverySubRecordInTheirOrder) {
  CW_RDBIND rd;
  auto set = [&rd](uint16_t tlv, Bytes record) {
    ASSERT_EQ(CW_RdBindSetSub(rd, 2, tlv, record), 0) << tlv;
  };
  // Inserted out of order; the records' multi-byte fields are host order.
  set(27, Hex("02 a1 a2 a3 a4 a5 a6"));
  set(26, Cat({Hex("02 09"), HostU16(0x1234)}));
  set(25, Hex("02 0e 0f"));
  set(24, Hex("02 0d"));
  set(23, Hex("02 0c"));
  set(22, Cat({Hex("02 00 00 00"), HostU32(0x33)}));
  set(21, Cat({Hex("02 00 00 00"), HostU32(0x22)}));
  set(19, Cat({Hex("02 00 00 00"), HostU32(0x11)}));
  set(18, Hex("02 05"));
  set(16, Cat({Hex("02 00"), HostU16(60)}));
  set(15, Cat({U8(2), Fill(0x81, 75)}));
  set(14, Cat({U8(2), Fill(0x93, 9)}));
  Bytes qos = Hex("02 01");
  for (int table = 0; table < 2; ++table) {
    for (uint16_t q = 0; q < 4; ++q) {
      const uint16_t base = static_cast<uint16_t>(0x100 * (table + 1) + 0x10 * q);
      for (uint16_t f = 0; f < 6; ++f) qos = Cat({qos, HostU16(base + f)});
    }
  }
  set(13, qos);
  set(12, Cat({Hex("02 01 10 01 00 11 22 33 44 55"), HostU16(100), Str("US "), U8(0)}));
  set(11, Hex("02 00 00 00 0d"));
  set(10, Hex("02 01"));
  set(9, Hex("02 03 0a 0b 0c"));
  set(8, Cat({Hex("02 00"), HostU16(17)}));
  set(7, Hex("02 02 04 0b 16 0c 12 18 24"));
  set(6, Hex("02 82 84 8b 96 00 00 00 00"));
  set(5, Fill(2, 8));  // OFDM control: not sent to the AP
  set(4, Cat({Hex("02 00"), HostU16(1), HostU16(11), HostU16(20)}));
  set(3, Cat({Hex("02 00"), HostU16(2347), Hex("07 04"), HostU16(2346), HostU32(512),
              HostU32(1024)}));
  set(2, Cat({Hex("02 00 0b 01"), HostU32(0x11223344)}));
  set(1, Hex("02 01 77 03 a1 a2 a3 a4 00 00"));

  Bytes qos_value = Hex("02 01");
  for (uint16_t q = 0; q < 4; ++q) {
    for (uint16_t table = 1; table <= 2; ++table) {
      const uint16_t base = static_cast<uint16_t>(0x100 * table + 0x10 * q);
      qos_value = Cat({qos_value, U8(static_cast<uint8_t>(base)), U16(base + 1), U16(base + 2),
                       U8(static_cast<uint8_t>(base + 3)), U16(base + 4), U16(base + 5)});
    }
  }
  auto elem = [](const char* name, uint16_t type, Bytes value) {
    return TruncTable{{Cat({U16(type), U16(static_cast<uint16_t>(value.size()))}), name},
                      {std::move(value), std::string(name) + " value"}};
  };
  auto vendor = [](uint16_t id, Bytes value) {
    return Cat({U32(kVendor), U16(id), U16(static_cast<uint16_t>(value.size())), value});
  };
  const TruncTable expected = Concat({
      elem("1025 antenna, no combiner", 1025, Hex("02 01 03 a1 a2 a3")),
      elem("1028 DSSS", 1028, Hex("02 00 0b 01 11 22 33 44")),
      elem("1030 MAC operation", 1030,
           Cat({Hex("02 00"), U16(2347), Hex("07 04"), U16(2346), U32(512), U32(1024)})),
      elem("1032 multi-domain", 1032, Cat({Hex("02 00"), U16(1), U16(11), U16(20)})),
      elem("1034 rate set", 1034, Hex("02 82 84 8b 96 00 00 00 00")),
      elem("1040 supported rates", 1040, Hex("02 02 04 0b 16 0c 12 18 24")),
      elem("1041 tx power", 1041, Hex("02 00 00 11")),
      elem("1042 tx power level", 1042, Hex("02 03 0a 0b 0c")),
      elem("31 admin state", 31, Hex("02 01")),
      elem("1048 radio info", 1048, Hex("02 00 00 00 0d")),
      elem("1046 radio config", 1046, Hex("02 01 10 01 00 11 22 33 44 55 00 64 55 53 20 00")),
      elem("1045 QoS", 1045, qos_value),
      elem("16 decryption report period", 16, Hex("02 00 3c")),
      elem("37 vendor 147", 37, vendor(147, Cat({U8(2), Fill(0x93, 9), Fill(0, 6)}))),
      elem("37 vendor 129", 37, vendor(129, Cat({U8(2), Fill(0x81, 75)}))),
      elem("37 vendor 100", 37, vendor(100, Hex("02 05"))),
      elem("1049", 1049, Hex("02 00 00 00 11")),
      elem("1050", 1050, Hex("02 00 00 00 22")),
      elem("1051", 1051, Hex("02 00 00 00 33")),
      elem("1053", 1053, Hex("02 0c")),
      elem("1058", 1058, Hex("02 0d")),
      elem("1060", 1060, Hex("02 0e 0f")),
      elem("1063", 1063, Hex("02 09 12 34")),
      elem("1072", 1072, Hex("02 a1 a2 a3 a4 a5 a6")),
  });
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(CW_AC_EncRdBindElems(*pkt, rd, kVendor), 0);
  EXPECT_TRUE(BytesMatch(Elements(*pkt), expected));

  Bytes list(kWmacRdBindBufSize);
  list.resize(CW_EncRdBindTlv(rd, list));
  WriteFuzzSeed({{list, "every sub-record of radio 2"}}, "ipc_rdbind", "all_subrecords");
  EXPECT_EQ(qos_value.size(), 82u);
}

TEST(RdBindEncode, RadiosInSlotOrderAndShortRecordsPadded) {
  CW_RDBIND rd;
  const TruncTable list = Concat({Tlv("admin r3", 10, Hex("03 01")), Tlv("admin r1", 10, Hex("01 00"))});
  ASSERT_EQ(Parse(rd, list), 0);
  EXPECT_EQ(rd.radio_count, 2u);
  // A record held shorter than its type is read as if zero-padded.
  rd.radios[0].sub[8] = Hex("01");
  rd.radios[0].sub[9] = Hex("01 09");  // claims 9 levels, the record holds 8
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(CW_AC_EncRdBindElems(*pkt, rd, kVendor), 0);
  const DecodedMessage msg = DecodeMessage(ByteView(pkt->buffer).first(kCwHeadersLen + pkt->length));
  ASSERT_EQ(msg.elements.size(), 4u);
  EXPECT_EQ(msg.elements[0].type, 1041);
  EXPECT_EQ(Bytes(msg.elements[0].value.begin(), msg.elements[0].value.end()), Hex("01 00 00 00"));
  EXPECT_EQ(msg.elements[1].type, 1042);
  EXPECT_EQ(msg.elements[1].value.size(), 10u);  // radio, count 8, 8 levels
  EXPECT_EQ(msg.elements[1].value[1], 8);
  EXPECT_EQ(msg.elements[2].value[0], 1) << "slot 1 before slot 3";
  EXPECT_EQ(msg.elements[3].value[0], 3);
}

}  // namespace
}  // namespace capwap::test
