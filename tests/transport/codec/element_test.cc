// The element walk and its policies over hostile input, and the packet
// builders: element writer, raw append, header finishing, allocation.
#include <gtest/gtest.h>

#include <vector>

#include "diag/bug.h"
#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"
#include "transport/elements.h"

namespace {

using namespace capwap::test;

struct WalkRow {
  const char* input;
  WalkPolicy policy;
  std::vector<uint16_t> types;  // the elements seen, in order
  std::vector<size_t> sizes;
  bool complete;
};

TEST(ElementWalk, RowsOfInputPolicyAndElementsSeen) {
  const WalkPolicy fixed_session{.fixed_step_type = 35, .fixed_step = 16};
  const WalkRow rows[] = {
      {"", {}, {}, {}, true},
      {"00 01 00 00  00 02 00 00  00 03 00 01 7f", {}, {1, 2, 3}, {0, 0, 1}, true},
      {"00 26 00 02 aa bb  00 27 00 05 01 02 03 04", {}, {38}, {2}, false},  // value past end
      {"00 14 00 01 02  00 29 00", {}, {20}, {1}, false},  // three octets are no header
      {"00 25 ff ff 00 00 00 00", {}, {}, {}, false},
      // Responses: an element needs its header and four more octets.
      {"00 21 00 04 00 00 00 00  00 01 00 00", {.min_left = 8}, {33}, {4}, false},
      {"00 21 00 04 00 00 00 00", {.min_left = 8}, {33}, {4}, true},
      // The fixed step ignores the stated length of a Session ID.
      {"00 23 00 02 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f  00 25 00 00", fixed_session,
       {35, 37}, {16, 0}, true},
      {"00 23 00 10 00 01 02 03", fixed_session, {}, {}, false},
  };
  for (const WalkRow& row : rows) {
    const capwap::Bytes in = Hex(row.input);
    CwElementWalk walk(in, row.policy);
    std::vector<uint16_t> types;
    std::vector<size_t> sizes;
    for (const CwElement& e : walk) {
      types.push_back(e.type);
      sizes.push_back(e.value.size());
      EXPECT_GE(e.value.data(), in.data()) << "values point into the input";
    }
    EXPECT_EQ(types, row.types) << row.input;
    EXPECT_EQ(sizes, row.sizes) << row.input;
    EXPECT_EQ(walk.complete(), row.complete) << row.input;
  }
}

class PacketBuild : public ::testing::Test {
  FreshGlobals fresh_;
};

// A Join Response as the senders build it: elements, then the headers.
TEST_F(PacketBuild, BuiltMessageMatchesByteForByte) {
  capwap::FailNext(capwap::FailFamily::kPacketAlloc, 1);
  EXPECT_FALSE(CW_AC_PktMalloc());
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  EXPECT_EQ(pkt->cursor, kCwHeadersLen);
  {
    CwElementWriter e(*pkt, capwap::elem::kResultCode);
    e.w().u32(0);
  }
  {
    CwElementWriter e(*pkt, capwap::elem::kAcName);
    e.w().fixed_str("ac-one", 8);
  }
  { CwElementWriter e(*pkt, capwap::elem::kIeee80211MicCountermeasures); }  // empty value
  ASSERT_EQ(PktAppendRaw(*pkt, Hex("00 25 00 01 09")), 0);
  FinishCtlMsg(*pkt, kMsgJoinRsp, 200);
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
  EXPECT_EQ(pkt->buffer.size(), 45u);
  EXPECT_EQ(pkt->msg_type, kMsgJoinRsp);
  EXPECT_EQ(pkt->seq, 200u);
}

TEST_F(PacketBuild, OverflowIsOurBugAndLeavesThePacketUnchanged) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(PktAppendRaw(*pkt, capwap::Bytes(kCwPktBufSize - kCwHeadersLen - 10, 0x11)), 0);
  const CW_PKT before = *pkt;
  const uint64_t bugs = CwBugCount();
  capwap::LogCapture log;  // logged with every debug switch off
  {
    CwElementWriter e(*pkt, capwap::elem::kVendorSpecificPayload);
    e.w().u32(0xAABBCCDD);  // fits: 4 + 4 <= 10
    e.w().u32(0x01020304);  // does not
    EXPECT_FALSE(e.ok());
  }
  EXPECT_EQ(pkt->buffer, before.buffer);
  EXPECT_EQ(pkt->cursor, before.cursor);
  EXPECT_EQ(pkt->length, before.length);
  EXPECT_EQ(CwBugCount(), bugs + 1);
  EXPECT_TRUE(log.Contains("element 37 (Vendor Specific Payload) does not fit in the packet"));

  ASSERT_EQ(PktAppendRaw(*pkt, capwap::Bytes(7, 0x22)), 0);
  {
    CwElementWriter e(*pkt, capwap::elem::kWtpBoardData);  // not even a header fits
    EXPECT_FALSE(e.ok());
  }
  EXPECT_EQ(PktAppendRaw(*pkt, capwap::Bytes(4, 0x33)), 1);
  EXPECT_EQ(CwBugCount(), bugs + 3);
  EXPECT_EQ(PktAppendRaw(*pkt, capwap::Bytes(3, 0x33)), 0);
  EXPECT_EQ(pkt->cursor, kCwPktBufSize);
}

}  // namespace
