// The element walk over hostile input, and the packet builders: element
// writer, raw append, header finishing, allocation and shrinking.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

struct Seen {
  uint16_t type;
  capwap::Bytes value;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> WalkAll(CwElementWalk& walk) {
  std::vector<Seen> seen;
  for (const CwElement& e : walk) seen.push_back({e.type, capwap::Bytes(e.value.begin(), e.value.end())});
  return seen;
}

TEST(ElementWalk, ZeroLengthElementsAndEmptyInput) {
  const capwap::Bytes in = Hex("00 01 00 00  00 02 00 00  00 03 00 01 7f");
  CwElementWalk walk(in);
  EXPECT_EQ(WalkAll(walk), (std::vector<Seen>{{1, {}}, {2, {}}, {3, {0x7f}}}));
  EXPECT_TRUE(walk.complete());
  EXPECT_FALSE(walk.failed());

  CwElementWalk empty{capwap::ByteView{}};
  EXPECT_TRUE(WalkAll(empty).empty());
  EXPECT_TRUE(empty.complete());
}

TEST(ElementWalk, StopsAtAValuePastTheEnd) {
  const capwap::Bytes in = Hex("00 26 00 02 aa bb  00 27 00 05 01 02 03 04");
  CwElementWalk walk(in);
  EXPECT_EQ(WalkAll(walk), (std::vector<Seen>{{38, {0xaa, 0xbb}}}));
  EXPECT_FALSE(walk.complete());
  EXPECT_TRUE(walk.failed());
  // The walk stays stopped.
  EXPECT_TRUE(WalkAll(walk).empty());
  EXPECT_FALSE(walk.complete());
}

TEST(ElementWalk, ThreeTrailingOctetsAreNotAHeader) {
  const capwap::Bytes in = Hex("00 14 00 01 02  00 29 00");
  CwElementWalk walk(in);
  EXPECT_EQ(WalkAll(walk), (std::vector<Seen>{{20, {0x02}}}));
  EXPECT_FALSE(walk.complete());

  // A length of 0xFFFF over a short input.
  const capwap::Bytes huge = Hex("00 25 ff ff 00 00 00 00");
  CwElementWalk walk2(huge);
  EXPECT_TRUE(WalkAll(walk2).empty());
  EXPECT_FALSE(walk2.complete());
}

TEST(ElementWalk, ValuesPointIntoTheInput) {
  const capwap::Bytes in = Hex("04 18 00 03 01 02 03");
  CwElementWalk walk(in);
  auto it = walk.begin();
  ASSERT_TRUE(it != walk.end());
  EXPECT_EQ(it->type, 1048);
  EXPECT_EQ(it->value.data(), in.data() + 4);
  EXPECT_EQ(it->value.size(), 3u);
  ++it;
  EXPECT_FALSE(it != walk.end());
  EXPECT_TRUE(walk.complete());
}

class PacketBuild : public ::testing::Test {
 protected:
  void SetUp() override { ResetAllGlobals(); }
  void TearDown() override { ResetAllGlobals(); }
};

TEST_F(PacketBuild, NewPacketIsZeroedWithRoomForHeaders) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  EXPECT_EQ(pkt->buffer.size(), kCwPktBufSize);
  EXPECT_EQ(pkt->cursor, kCwHeadersLen);
  EXPECT_EQ(pkt->length, 0u);
  EXPECT_EQ(std::count(pkt->buffer.begin(), pkt->buffer.end(), 0), static_cast<long>(kCwPktBufSize));
}

TEST_F(PacketBuild, InjectedAllocationFailureGivesNone) {
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 2);
  EXPECT_FALSE(CW_AC_PktMalloc());
  EXPECT_FALSE(CW_AC_PktMalloc());
  EXPECT_TRUE(CW_AC_PktMalloc());
}

// A Join Response as the senders build it: elements, then the headers.
TEST_F(PacketBuild, BuiltMessageMatchesByteForByte) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  {
    CwElementWriter e(*pkt, 33);
    e.w().u32(0);
    EXPECT_TRUE(e.ok());
  }
  {
    CwElementWriter e(*pkt, 4);
    e.w().fixed_str("ac-one", 8);
  }
  { CwElementWriter e(*pkt, 1031); }  // empty value
  ASSERT_EQ(CW_PktAppendRaw(*pkt, Hex("00 25 00 01 09")), 0);
  EXPECT_EQ(pkt->length, 8u + 12u + 4u + 5u);
  CW_FinishCtlMsg(*pkt, CW_MSG_JOIN_RSP, 200);
  ASSERT_EQ(CW_AC_PktRemalloc(pkt.get()), 0);

  const TruncTable expected = {
      {Hex("00 10 00 00"), "preamble 0/0, HLEN 2, RID 0, WBID 0, no flags"},
      {U16(0), "fragment id"},
      {U16(0), "reserved + fragment offset"},
      {U32(4), "message type: Join Response"},
      {U8(200), "sequence number"},
      {U16(29), "element length"},
      {U8(0), "flags"},
      {U16(33), "result code: type"},
      {U16(4), "result code: length"},
      {U32(0), "result code: success"},
      {U16(4), "ac name: type"},
      {U16(8), "ac name: length"},
      {Fixed("ac-one", 8), "ac name: value"},
      {U16(1031), "mic countermeasures: type"},
      {U16(0), "mic countermeasures: length"},
      {Hex("00 25 00 01 09"), "raw vendor element"},
  };
  EXPECT_TRUE(BytesMatch(pkt->buffer, expected));
  WriteFuzzSeed(expected, "control_header", "join_response");
  EXPECT_EQ(pkt->length, 45u);
  EXPECT_EQ(pkt->cursor, 45u);
  EXPECT_EQ(pkt->buffer.size(), 45u);
  EXPECT_EQ(pkt->msg_type, CW_MSG_JOIN_RSP);
  EXPECT_EQ(pkt->seq, 200u);

  // The built datagram passes our own receive-side checks.
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, pkt->buffer.data());
  EXPECT_EQ(CW_CheckCWHdr(&hdr), 0);
  CwElementWalk walk(capwap::ByteView(pkt->buffer).subspan(kCwHeadersLen));
  int count = 0;
  for ([[maybe_unused]] const CwElement& e : walk) ++count;
  EXPECT_EQ(count, 4);
  EXPECT_TRUE(walk.complete());
}

TEST_F(PacketBuild, ElementThatDoesNotFitLeavesThePacketUnchanged) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(CW_PktAppendRaw(*pkt, capwap::Bytes(kCwPktBufSize - kCwHeadersLen - 10, 0x11)), 0);
  const CW_PKT before = *pkt;
  g_ulCwDebugBitmap = CW_DBG_ERROR;
  capwap::LogCapture log;
  {
    CwElementWriter e(*pkt, 37);
    e.w().u32(0xAABBCCDD);  // fits: 4 + 4 <= 10
    e.w().u32(0x01020304);  // does not
    EXPECT_FALSE(e.ok());
  }
  EXPECT_EQ(pkt->buffer, before.buffer);
  EXPECT_EQ(pkt->cursor, before.cursor);
  EXPECT_EQ(pkt->length, before.length);
  EXPECT_TRUE(log.Contains("37"));

  // Not even room for a header.
  ASSERT_EQ(CW_PktAppendRaw(*pkt, capwap::Bytes(7, 0x22)), 0);
  const CW_PKT full = *pkt;
  {
    CwElementWriter e(*pkt, 38);
    EXPECT_FALSE(e.ok());
  }
  EXPECT_EQ(pkt->buffer, full.buffer);
  EXPECT_EQ(pkt->cursor, full.cursor);
  EXPECT_EQ(CW_PktAppendRaw(*pkt, capwap::Bytes(4, 0x33)), 1);
  EXPECT_EQ(pkt->cursor, full.cursor);
  EXPECT_EQ(pkt->length, full.length);
  EXPECT_EQ(CW_PktAppendRaw(*pkt, capwap::Bytes(3, 0x33)), 0);
  EXPECT_EQ(pkt->cursor, kCwPktBufSize);
}

TEST_F(PacketBuild, ElementValueIsCappedAtSixteenBitLength) {
  CW_PKT pkt;
  pkt.buffer.assign(70000, 0);
  {
    CwElementWriter e(pkt, 13);
    e.w().zeros(0xFFFF);
    EXPECT_TRUE(e.ok());
  }
  EXPECT_EQ(pkt.length, 4u + 0xFFFF);
  EXPECT_EQ(pkt.buffer[kCwHeadersLen + 2], 0xFF);
  EXPECT_EQ(pkt.buffer[kCwHeadersLen + 3], 0xFF);
  CW_PKT big;
  big.buffer.assign(70000, 0);
  {
    CwElementWriter e(big, 13);
    e.w().zeros(0x10000);
    EXPECT_FALSE(e.ok());
  }
  EXPECT_EQ(big.length, 0u);
  EXPECT_EQ(big.cursor, kCwHeadersLen);
}

TEST_F(PacketBuild, RemallocShrinksToTheCursor) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  CW_FinishCtlMsg(*pkt, CW_MSG_ECHO_RSP, 3);
  ASSERT_EQ(CW_AC_PktRemalloc(pkt.get()), 0);
  EXPECT_EQ(pkt->buffer.size(), kCwHeadersLen);
  EXPECT_EQ(pkt->length, kCwHeadersLen);
  EXPECT_EQ(CW_AC_PktRemalloc(nullptr), 1);
  pkt->cursor = pkt->buffer.size() + 1;
  EXPECT_EQ(CW_AC_PktRemalloc(pkt.get()), 1);
}

}  // namespace
