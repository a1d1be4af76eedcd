// Transport and control headers: bit placement, the acceptance rules, and
// a full control datagram whose element walk is checked against every prefix.
#include <gtest/gtest.h>

#include "diag/debug.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

CW_HDR Decode(const capwap::Bytes& octets) {
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, octets.data());
  return hdr;
}

capwap::Bytes Encode(CW_HDR hdr) {
  capwap::Bytes out(8, 0xEE);
  CW_EncCwHdr(&hdr, out.data());
  return out;
}

TEST(CapwapHeader, DecodesEveryFieldOfTheFirstWord) {
  // version 0, type 0, HLEN 2, RID 3, WBID 1, T F L W M K, flags 5.
  const uint32_t word0 = (2u << 19) | (3u << 14) | (1u << 9) | 0x1F8u | 0x5u;
  const CW_HDR hdr = Decode(Cat({U32(word0), U16(0xBEEF), U16(0x0123)}));
  EXPECT_EQ(hdr.Version(), 0u);
  EXPECT_EQ(hdr.Type(), 0u);
  EXPECT_EQ(hdr.Hlen(), 2u);
  EXPECT_EQ(hdr.Rid(), 3u);
  EXPECT_EQ(hdr.Wbid(), 1u);
  EXPECT_TRUE(hdr.T() && hdr.F() && hdr.L() && hdr.W() && hdr.M() && hdr.K());
  EXPECT_EQ(hdr.Flags(), 5u);
  EXPECT_EQ(hdr.frag_id, 0xBEEF);
  EXPECT_EQ(hdr.frag_offset, 0x0123);
  EXPECT_EQ(hdr.reserved3, 0);
}

TEST(CapwapHeader, FragmentOffsetSitsInTheLowThirteenBits) {
  CW_HDR hdr;
  hdr.SetBit(kHdrBitF, true);
  hdr.frag_id = 0x0102;
  hdr.frag_offset = 175;  // 1400 octets
  const TruncTable expected = {
      {Hex("00 10 00 80"), "preamble 0, HLEN 2, F"},
      {U16(0x0102), "fragment id"},
      {Hex("00 af"), "reserved 0, offset 175"},
  };
  EXPECT_TRUE(BytesMatch(Encode(hdr), expected));

  const CW_HDR back = Decode(Flatten(expected));
  EXPECT_EQ(back.frag_offset, 175);
  EXPECT_EQ(back.reserved3, 0);
  EXPECT_TRUE(back.F());
  EXPECT_FALSE(back.L());
}

TEST(CapwapHeader, ReservedBitsAreKeptAndWrittenBack) {
  // Reserved 0b101 above offset 0x1ABC.
  const capwap::Bytes wire = Hex("00 10 00 c0 00 07 ba bc");
  const CW_HDR hdr = Decode(wire);
  EXPECT_EQ(hdr.reserved3, 5);
  EXPECT_EQ(hdr.frag_offset, 0x1ABC);
  EXPECT_EQ(Encode(hdr), wire);

  // All-ones offset does not spill into the reserved bits.
  CW_HDR all;
  all.frag_offset = 0xFFFF;
  all.reserved3 = 0;
  EXPECT_EQ(Encode(all), Hex("00 10 00 00 00 00 1f ff"));
}

TEST(CapwapHeader, EncodeForcesHlenTwoAndKeepsTheRest) {
  CW_HDR hdr;
  hdr.word0 = 0xFFFFFFFFu;
  hdr.frag_id = 0x1234;
  hdr.frag_offset = 9;
  hdr.reserved3 = 7;
  capwap::Bytes wire(8);
  CW_EncCwHdr(&hdr, wire.data());
  EXPECT_EQ(hdr.Hlen(), 2u);  // set in the caller's header too
  EXPECT_EQ(wire, Hex("ff 17 ff ff 12 34 e0 09"));
  const CW_HDR back = Decode(wire);
  EXPECT_EQ(back.word0, hdr.word0);
  EXPECT_EQ(back.frag_id, hdr.frag_id);
  EXPECT_EQ(back.frag_offset, hdr.frag_offset);
  EXPECT_EQ(back.reserved3, hdr.reserved3);

  CW_HDR zero;
  EXPECT_EQ(Encode(zero), Hex("00 10 00 00 00 00 00 00"));
}

TEST(CapwapHeader, CheckAcceptsOnlyClearTextWithTwoWordHeader) {
  EXPECT_EQ(CW_CheckCWHdr(nullptr), 1);
  const CW_HDR plain = Decode(Hex("00 10 00 00 00 00 00 00"));
  EXPECT_EQ(CW_CheckCWHdr(&plain), 0);
  // Radio MAC present (HLEN 4).
  const CW_HDR hlen4 = Decode(Hex("00 20 00 00 00 00 00 00"));
  EXPECT_EQ(CW_CheckCWHdr(&hlen4), 1);
  // DTLS preamble (type 1).
  const CW_HDR dtls = Decode(Hex("01 10 00 00 00 00 00 00"));
  EXPECT_EQ(CW_CheckCWHdr(&dtls), 1);
  // Version 1.
  const CW_HDR v1 = Decode(Hex("10 10 00 00 00 00 00 00"));
  EXPECT_EQ(CW_CheckCWHdr(&v1), 1);
  // HLEN 0 and 3 either side of 2.
  const CW_HDR hlen0 = Decode(Hex("00 00 00 00 00 00 00 00"));
  const CW_HDR hlen3 = Decode(Hex("00 18 00 00 00 00 00 00"));
  EXPECT_EQ(CW_CheckCWHdr(&hlen0), 1);
  EXPECT_EQ(CW_CheckCWHdr(&hlen3), 1);
  // Flags, RID and WBID do not matter.
  const CW_HDR busy = Decode(Hex("00 17 ff ff ff ff ff ff"));
  EXPECT_EQ(CW_CheckCWHdr(&busy), 0);
}

TEST(CapwapHeader, ControlHeaderRoundTripWritesFlagsZero) {
  const capwap::Bytes wire = Cat({U32(CW_MSG_WLAN_CFG_RSP), U8(201), U16(0x0abc), U8(0x5a)});
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, wire.data());
  EXPECT_EQ(ctl.msg_type, 3398914u);
  EXPECT_EQ(ctl.seq, 201);
  EXPECT_EQ(ctl.elem_len, 0x0abc);
  EXPECT_EQ(ctl.flags, 0x5a);

  capwap::Bytes out(8, 0xEE);
  CW_EncCwCtlHdr(&ctl, out.data());
  const TruncTable expected = {
      {Hex("00 33 dd 02"), "message type"},
      {U8(201), "sequence number"},
      {U16(0x0abc), "element length"},
      {U8(0), "flags (always 0)"},
  };
  EXPECT_TRUE(BytesMatch(out, expected));
}

TEST(CapwapHeader, MessageTypeNamesAndDirection) {
  EXPECT_STREQ(CW_MsgTypeName(1), "Discovery Request");
  EXPECT_STREQ(CW_MsgTypeName(26), "Station Configuration Response");
  EXPECT_STREQ(CW_MsgTypeName(0x33DD01), "IEEE 802.11 WLAN Configuration Request");
  EXPECT_STREQ(CW_MsgTypeName(20), "Unknown");
  EXPECT_STREQ(CW_MsgTypeName(27), "Unknown");
  EXPECT_TRUE(CW_IsRequest(CW_MSG_ECHO_REQ));
  EXPECT_FALSE(CW_IsRequest(CW_MSG_ECHO_RSP));
  EXPECT_TRUE(CW_IsRequest(CW_MSG_WLAN_CFG_REQ));
}

// A whole Echo-sized control datagram as the receive path sees it.
const TruncTable kControlDatagram = {
    {Hex("00 10 00 00"), "preamble, HLEN 2"},
    {U16(0), "fragment id"},
    {U16(0), "fragment offset"},
    {U32(CW_MSG_WTP_EVENT_REQ), "message type"},
    {U8(9), "sequence number"},
    {U16(30), "element length"},
    {U8(0), "flags", Outcome::kPass},  // headers only: no elements
    {U16(35), "session id: type"},
    {U16(16), "session id: length"},
    {Fill(0xA5, 16), "session id: value", Outcome::kPass},
    {U16(1033), "ofdm: type"},
    {U16(2), "ofdm: length"},
    {Hex("01 02"), "ofdm: value"},
};

// What the receive path does before a handler: header check, then a
// complete element walk. Short datagrams are refused outright.
bool AcceptDatagram(capwap::ByteView dgram) {
  if (dgram.size() < kCwHeadersLen) return false;
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, dgram.data());
  if (CW_CheckCWHdr(&hdr) != 0) return false;
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, dgram.data() + kCwHdrLen);
  CwElementWalk walk(dgram.subspan(kCwHeadersLen));
  size_t elements = 0;
  for (const CwElement& e : walk) elements += 4 + e.value.size();
  return walk.complete() && elements == dgram.size() - kCwHeadersLen;
}

TEST(CapwapHeader, ControlDatagramTruncationTable) {
  EXPECT_TRUE(CheckTruncations(kControlDatagram, AcceptDatagram));
  EXPECT_TRUE(CheckLengthMutations(kControlDatagram, "session id: length", AcceptDatagram));
  EXPECT_TRUE(CheckLengthMutations(kControlDatagram, "ofdm: length", AcceptDatagram));
  WriteFuzzSeed(kControlDatagram, "control_header", "wtp_event_request");
}

}  // namespace
