// Transport and control headers, one row per field layout, and the
// acceptance rules (whole datagrams against every prefix are the
// control_header fuzz surface's).
#include <gtest/gtest.h>

#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

struct HeaderRow {
  uint32_t word0;
  uint16_t frag_id;
  uint16_t frag_offset;
  uint8_t reserved3;
  const char* octets;  // what CW_EncCwHdr writes (HLEN forced to 2)
};

TEST(CapwapHeader, RowsOfFieldsAndOctets) {
  const HeaderRow rows[] = {
      {0, 0, 0, 0, "00 10 00 00 00 00 00 00"},
      // T F L W M K and flags 5 above RID 3, WBID 1.
      {(2u << 19) | (3u << 14) | (1u << 9) | 0x1F8u | 0x5u, 0xBEEF, 0x0123, 0,
       "00 10 c3 fd be ef 01 23"},
      {0x80, 0x0102, 175, 0, "00 10 00 80 01 02 00 af"},  // F, 1400 octets on
      {0xC0, 7, 0x1ABC, 5, "00 10 00 c0 00 07 ba bc"},     // reserved bits kept
      {0xFFFFFFFFu, 0x1234, 9, 7, "ff 17 ff ff 12 34 e0 09"},
  };
  for (const HeaderRow& row : rows) {
    CW_HDR hdr;
    hdr.word0 = row.word0;
    hdr.frag_id = row.frag_id;
    hdr.frag_offset = row.frag_offset;
    hdr.reserved3 = row.reserved3;
    capwap::Bytes wire(8, 0xEE);
    CW_EncCwHdr(&hdr, wire.data());
    EXPECT_EQ(wire, Hex(row.octets)) << row.octets;
    EXPECT_EQ(hdr.Hlen(), 2u);
    CW_HDR back;
    CW_DEC_CWHdr(&back, wire.data());
    EXPECT_EQ(back.word0, hdr.word0);
    EXPECT_EQ(back.frag_id, row.frag_id);
    EXPECT_EQ(back.frag_offset, row.frag_offset & 0x1FFF);
    EXPECT_EQ(back.reserved3, row.reserved3);
  }
  CW_HDR bits;
  bits.word0 = (2u << 19) | (3u << 14) | (1u << 9) | 0x1F8u | 0x5u;
  EXPECT_EQ(bits.Rid(), 3u);
  EXPECT_EQ(bits.Wbid(), 1u);
  EXPECT_TRUE(bits.T() && bits.F() && bits.L() && bits.W() && bits.M() && bits.K());
  EXPECT_EQ(bits.Flags(), 5u);
}

TEST(CapwapHeader, OnlyClearTextWithATwoWordHeaderIsAccepted) {
  EXPECT_EQ(CW_CheckCWHdr(nullptr), 1);
  const std::pair<const char*, int> rows[] = {
      {"00 10 00 00 00 00 00 00", 0}, {"00 17 ff ff ff ff ff ff", 0},  // flags, RID, WBID free
      {"00 20 00 00 00 00 00 00", 1}, {"00 18 00 00 00 00 00 00", 1},  // HLEN 4, 3
      {"00 00 00 00 00 00 00 00", 1}, {"01 10 00 00 00 00 00 00", 1},  // HLEN 0, DTLS
      {"10 10 00 00 00 00 00 00", 1},                                  // version 1
  };
  for (const auto& [octets, refused] : rows) {
    CW_HDR hdr;
    CW_DEC_CWHdr(&hdr, Hex(octets).data());
    EXPECT_EQ(CW_CheckCWHdr(&hdr), refused) << octets;
  }
}

TEST(CapwapHeader, ControlHeaderWritesFlagsZero) {
  const capwap::Bytes wire = Cat({U32(kMsgWlanCfgRsp), U8(201), U16(0x0abc), U8(0x5a)});
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, wire.data());
  EXPECT_EQ(ctl.flags, 0x5a);
  capwap::Bytes out(8, 0xEE);
  CW_EncCwCtlHdr(&ctl, out.data());
  EXPECT_EQ(out, Hex("00 33 dd 02 c9 0a bc 00"));
}

}  // namespace
