// The radio binding's TLV list: the parse rules, the WMAC encoding, and the
// order and vendor elements of the AP elements (each element's layout is
// the radio element table's, tested with it).
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
  RadioBinding rd;
  return CW_GetRdBind(&rd, in.data(), in.size()) == 0;
}
int Parse(RadioBinding& rd, const TruncTable& list) {
  const Bytes bytes = Flatten(list);
  return CW_GetRdBind(&rd, bytes.data(), bytes.size());
}

TEST(RdBindParse, EveryPrefixLengthAndFixedSize) {
  const TruncTable list = Concat({
      {{Bytes{}, "empty list", Outcome::kPass}},
      Tlv("idle timeout", 17, HostU32(300)),
      Tlv("antenna r1", 1, Hex("01 02 00 02 01 02 00 00 00 00")),
      Tlv("admin state r3", 10, Hex("03 01")),
      Tlv("unknown 28", 28, Hex("aa bb cc")),  // skipped by its length
      Tlv("vendor 129 r2", 15, Cat({U8(2), Fill(0x5a, 75)})),
      Tlv("radio info r1", 11, Hex("01 00 00 00 0d")),
  });
  EXPECT_TRUE(CheckTruncations(list, Parses));
  LengthExpect last;
  last.minus_one = last.zero = Outcome::kPass;  // still taken at its fixed size
  EXPECT_TRUE(CheckLengthMutations(list, "radio info r1: length", Parses, last));
  WriteFuzzSeed(list, "ipc_rdbind", "tlv_list");
  RadioBinding rd;
  ASSERT_EQ(Parse(rd, list), 0);
  EXPECT_EQ(rd.idle_timeout, 300u);
  EXPECT_EQ(rd.radio_count, 2u) << "vendor 129 alone does not count radio 2";
  EXPECT_EQ(rd.radios[0].sub[1], Hex("01 02 00 02 01 02 00 00 00 00"));
  EXPECT_EQ(rd.radios[2].sub[10], Hex("03 01"));
  EXPECT_EQ(rd.radios[1].radio_id, 2u);
  EXPECT_TRUE(rd.radios[1].sub[15]);
  EXPECT_EQ(CW_FreeRdBind(&rd), 0);
  EXPECT_FALSE(rd.radios[1].sub[15]);
}

TEST(RdBindParse, FixedSizesRadioFiveAndValuesPastTheEnd) {
  // Known types advance by their fixed size, whatever the length says.
  RadioBinding fixed;
  ASSERT_EQ(Parse(fixed, Concat({Tlv("admin r2", 10, Hex("02 01"), 8), Tlv("tx power r2", 8, Hex("02 00 11 00")),
                                 Tlv("radio config r4", 12, Fill(4, 16), 0)})),
            0);
  EXPECT_EQ(fixed.radios[1].sub[8], Hex("02 00 11 00"));
  EXPECT_EQ(fixed.radios[3].sub[12], Fill(4, 16));
  RadioBinding rd;
  CaptureStdout();
  const TruncTable five = Concat({Tlv("admin r5", 10, Hex("05 01")), Tlv("admin r2", 10, Hex("02 01"))});
  EXPECT_EQ(Parse(rd, five), 0);
  EXPECT_EQ(GetCapturedStdout(), " Radio num is invalid.\n");
  WriteFuzzSeed(five, "ipc_rdbind", "radio_five");
  EXPECT_EQ(rd.radio_count, 0u);
  EXPECT_EQ(rd.radios[1].sub[10], Hex("02 01"));
  for (const auto& radio : rd.radios) EXPECT_NE(radio.radio_id, 5u);

  for (const Bytes& list : {Flatten(Tlv("admin r1", 10, Hex("01 01 00"), 5)),
                            Flatten(Tlv("radio config r1", 12, Hex("01 00"))), Hex("00 0a 00")}) {
    RadioBinding bad;
    CaptureStdout();
    EXPECT_EQ(CW_GetRdBind(&bad, list.data(), list.size()), 1);
    EXPECT_EQ(GetCapturedStdout(), " CW_GetRdBind CW_IsMsgOutBound2\n");
  }
  CaptureStdout();
  EXPECT_EQ(CW_GetRdBind(&rd, nullptr, 4), 1);
  EXPECT_EQ(GetCapturedStdout(), " CW_GetRdBind CW_IsMsgOutBound1\n");
}

TEST(RdBindEncode, WmacListKeepsItsOrderAndFixedLengthsAndParsesBack) {
  RadioBinding rd;
  rd.idle_timeout = 300;  // stays with the controller
  ASSERT_EQ(RdBindSetSub(rd, 3, 27, Hex("03 01 02 03")), 0);  // padded to 7
  ASSERT_EQ(RdBindSetSub(rd, 3, 3, Fill(3, 20)), 0);          // cut to 16
  ASSERT_EQ(RdBindSetSub(rd, 1, 14, Fill(1, 10)), 0);
  ASSERT_EQ(RdBindSetSub(rd, 1, 15, Fill(1, 76)), 0);
  ASSERT_EQ(RdBindSetSub(rd, 1, 4, Fill(1, 8)), 0);  // stays with the controller
  ASSERT_EQ(RdBindSetSub(rd, 1, 18, Hex("01 07")), 0);
  ASSERT_EQ(RdBindSetSub(rd, 1, 1, Fill(1, 10)), 0);
  Bytes out(kWmacRdBindBufSize);
  out.resize(EncodeRdBindTlv(rd, out));
  EXPECT_TRUE(BytesMatch(out, {{Cat({U16(1), U16(10), Fill(1, 10)}), "r1 TLV 1"},
                               {Cat({U16(15), U16(76), Fill(1, 76)}), "r1 TLV 15"},
                               {Cat({U16(14), U16(10), Fill(1, 10)}), "r1 TLV 14 after 15"},
                               {Cat({U16(18), U16(2), Hex("01 07")}), "r1 TLV 18"},
                               {Cat({U16(3), U16(16), Fill(3, 16)}), "r3 TLV 3, cut"},
                               {Cat({U16(27), U16(7), Hex("03 01 02 03 00 00 00")}), "r3 TLV 27, padded"}}));
  RadioBinding back;
  ASSERT_EQ(CW_GetRdBind(&back, out.data(), out.size()), 0);
  EXPECT_EQ(back.radios[2].sub[25], Hex("03 01 02 03 00 00 00"));
  EXPECT_EQ(back.idle_timeout, 0u);
  EXPECT_EQ(EncodeRdBindTlv(RadioBinding{}, out), 0u);
  Bytes tiny(20);
  EXPECT_EQ(EncodeRdBindTlv(rd, tiny), 0u) << "too small a buffer is refused whole";
}

constexpr uint32_t kVendor = 0x0000A1B2;

TEST(RdBindEncode, ApElementsInSlotAndTypeOrderWithTheVendorElements) {
  RadioBinding rd;
  // Inserted out of order; every sub-record type of radio 2, then radio 1.
  for (uint16_t tlv : {27, 26, 25, 24, 23, 22, 21, 19, 18, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5,
                       4, 3, 2, 1}) {
    const RadioBindingTlv* t = RdBindTlvByType(tlv);
    ASSERT_NE(t, nullptr);
    Bytes record = Fill(static_cast<uint8_t>(tlv), t->size);
    record[0] = 2;
    ASSERT_EQ(RdBindSetSub(rd, 2, tlv, record), 0) << tlv;
  }
  // A record held shorter than its type reads as zero-padded; a power-level
  // count beyond the record is sent as the 8 levels it holds.
  rd.radios[0].radio_id = 1;
  rd.radios[0].sub[8] = Hex("01");
  rd.radios[0].sub[9] = Hex("01 09");
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(EncodeRdBindElems(*pkt, rd, kVendor), 0);
  const DecodedMessage msg = DecodeMessage(ByteView(pkt->buffer).first(kCwHeadersLen + pkt->length));
  ASSERT_TRUE(msg.complete);
  std::vector<uint16_t> types;
  for (const CwElement& e : msg.elements) types.push_back(e.type);
  EXPECT_EQ(types, (std::vector<uint16_t>{1041, 1042, 1025, 1028, 1030, 1032, 1034, 1040, 1041, 1042,
                                          31, 1048, 1046, 1045, 16, 37, 37, 37, 1049, 1050, 1051,
                                          1053, 1058, 1060, 1063, 1072}))
      << "no OFDM (sub-record 5) for the AP";
  auto value = [&msg](size_t i) { return Bytes(msg.elements[i].value.begin(), msg.elements[i].value.end()); };
  EXPECT_EQ(value(0), Hex("01 00 00 00"));
  EXPECT_EQ(value(1), Hex("01 08 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(value(15), Cat({U32(kVendor), U16(147), U16(16), U8(2), Fill(14, 9), Fill(0, 6)}));
  EXPECT_EQ(value(16), Cat({U32(kVendor), U16(129), U16(76), U8(2), Fill(15, 75)}));
  EXPECT_EQ(value(17), Cat({U32(kVendor), U16(100), U16(2), Hex("02 12")}));

  Bytes list(kWmacRdBindBufSize);
  list.resize(EncodeRdBindTlv(rd, list));
  WriteFuzzSeed({{list, "every sub-record of radio 2"}}, "ipc_rdbind", "all_subrecords");
}

}  // namespace
}  // namespace capwap::test
