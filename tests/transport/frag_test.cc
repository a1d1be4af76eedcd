// Fragmentation of outgoing messages and per-WTP reassembly of incoming
// ones: any order, the fragment limit and the 30-second timer.
#include <gtest/gtest.h>

#include "transport_lab.h"

namespace transport_test {
namespace {

// A whole datagram whose payload (after the 8-octet header) is `payload`
// octets of a recognisable pattern.
CW_PKT WholeMessage(size_t payload) {
  CW_PKT pkt;
  pkt.msg_type = kMsgCfgUpdateReq;
  pkt.length = static_cast<uint32_t>(payload + kCwHdrLen);
  pkt.buffer.assign(pkt.length, 0);
  for (size_t i = 0; i < payload; ++i) pkt.buffer[kCwHdrLen + i] = static_cast<uint8_t>(i % 251);
  pkt.cursor = pkt.length;
  return pkt;
}

struct FragHeader {
  bool f, l;
  uint16_t id, offset;
};
FragHeader HeaderOf(const CW_PKT& frag) {
  capwap::WireReader r(frag.buffer.data(), frag.buffer.size());
  uint32_t word0 = 0;
  FragHeader h{};
  r.u32(word0);
  r.u16(h.id);
  r.u16(h.offset);
  EXPECT_EQ(word0 & ~0xC0u, kHdrWord0);
  h.f = word0 & 0x80;
  h.l = word0 & 0x40;
  return h;
}

TEST(FragPkt, SplitsThePayloadIntoPiecesOf1400) {
  struct Case {
    size_t payload;
    std::vector<size_t> chunks;
  };
  const Case cases[] = {
      {1409, {1400, 9}},
      {2800, {1400, 1400}},
      {2801, {1400, 1400, 1}},
      {1400, {1400}},
      {1, {1}},
  };
  for (const Case& c : cases) {
    CW_PKT whole = WholeMessage(c.payload);
    std::vector<CW_PKT> frags = CW_FragPkt(whole, 0x1234);
    ASSERT_EQ(frags.size(), c.chunks.size()) << "payload " << c.payload;
    Bytes joined;
    for (size_t k = 0; k < frags.size(); ++k) {
      const CW_PKT& f = frags[k];
      EXPECT_EQ(f.msg_type, 0u);
      EXPECT_EQ(f.length, c.chunks[k] + 8);
      EXPECT_EQ(f.buffer.size(), c.chunks[k] + 8);
      EXPECT_EQ(f.cursor, 8u);
      FragHeader h = HeaderOf(f);
      EXPECT_TRUE(h.f);
      EXPECT_EQ(h.l, k + 1 == frags.size());
      EXPECT_EQ(h.id, 0x1234);
      EXPECT_EQ(h.offset, 175 * k);
      joined.insert(joined.end(), f.buffer.begin() + 8, f.buffer.end());
    }
    EXPECT_EQ(joined, Bytes(whole.buffer.begin() + 8, whole.buffer.end()));
  }
  EXPECT_TRUE(CW_FragPkt(WholeMessage(0), 1).empty());
}

class ReassemblyTest : public TransportLab {
 protected:
  void SetUp() override {
    TransportLab::SetUp();
    wtp_ = RunningWtp(endpoint_, 1);
    ASSERT_NE(wtp_, nullptr);
  }
  // A Configuration Status Request of `element_octets` element bytes.
  Bytes Message(size_t element_octets, uint8_t seq = 1) {
    Bytes value(element_octets);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 13);
    return ControlDatagram(kMsgCfgStatusReq, seq, Element(37, value));
  }
  int Feed(const Bytes& d) { return Handle(endpoint_.Addr(), d); }
  const CW_FRAGINFO& info() const { return wtp_->frag; }
  void ExpectIdle() {
    EXPECT_TRUE(info().fragments.empty());
    EXPECT_EQ(info().in_progress, 0);
    EXPECT_EQ(info().received, 0);
    EXPECT_EQ(info().expected, 0);
    EXPECT_EQ(info().inserted, 0);
  }

  WtpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

TEST_F(ReassemblyTest, ManyPiecesInAnyOrderAndCompletionBookkeeping) {
  Bytes message = Message(692);
  auto frags = Fragment(message, 300, 64);  // 704 payload octets: 11 pieces
  ASSERT_EQ(frags.size(), 11u);
  const size_t order[] = {3, 10, 0, 7, 1, 9, 2, 8, 4, 6};
  for (size_t k : order) ASSERT_EQ(Feed(frags[k]), kPktHeld);
  // Offsets are kept ascending whatever the arrival order.
  uint16_t prev = 0;
  for (const CW_FRAGNODE& node : info().fragments) {
    EXPECT_GE(node.offset, prev);
    prev = node.offset;
  }
  EXPECT_EQ(info().expected, message.size() - 8);
  EXPECT_EQ(info().inserted, 10);

  // The completing fragment, examined directly at reassembly level.
  CW_RCVPKT rcv;
  rcv.remote = endpoint_.Addr();
  rcv.buffer = frags[5];
  rcv.length = static_cast<uint32_t>(frags[5].size());
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, rcv.buffer.data());
  ASSERT_EQ(AC_HandleFragPkt(wtp_, &rcv, hdr), kFragComplete);
  EXPECT_EQ(Bytes(rcv.buffer.begin(), rcv.buffer.begin() + rcv.length), message);
  EXPECT_EQ(info().in_progress, 0);
  EXPECT_EQ(info().rejected_frag_id, 0xFFFFFFFFu);
  EXPECT_FALSE(info().timer.Running());
  EXPECT_EQ(info().fragments.size(), 11u);  // held until the message is handled
  CW_ClearFragInfo(&wtp_->frag);
  ExpectIdle();
}

TEST_F(ReassemblyTest, SingleFragmentWithFirstAndLastCompletesWithoutTimer) {
  Bytes message = Message(20);
  auto frags = Fragment(message, 5, 1400);
  ASSERT_EQ(frags.size(), 1u);
  EXPECT_EQ(Feed(frags[0]), kPktReassembled);
  ASSERT_EQ(DispatchLog().size(), 1u);
  EXPECT_EQ(DispatchLog()[0].message, message);
  EXPECT_EQ(thread_master_timer_count(lab_.master()), 0u);
  ExpectIdle();
}

TEST_F(ReassemblyTest, FiftySecondFragmentAbandonsTheReassembly) {
  for (uint16_t k = 0; k < kMaxHeldFragments; ++k) {
    ASSERT_EQ(Feed(FragmentDatagram(40, k, false, Bytes(8, static_cast<uint8_t>(k)))), kPktHeld)
        << k;
  }
  EXPECT_EQ(info().fragments.size(), 51u);
  capwap::LogCapture log;
  EXPECT_EQ(Feed(FragmentDatagram(40, 51, true, Bytes(8, 0))), kPktFragRejected);
  EXPECT_TRUE(
      log.Contains(" AP ap1 fragment ID 40 offset 51 (8 octets) refused, message dropped.\n"));
  ExpectIdle();
  EXPECT_EQ(info().rejected_frag_id, 40u);
  EXPECT_FALSE(info().timer.Running());
  // Stragglers of the refused message are dropped without a new reassembly.
  EXPECT_EQ(Feed(FragmentDatagram(40, 52, false, Bytes(8, 0))), kPktHeld);
  ExpectIdle();
  EXPECT_TRUE(DispatchLog().empty());
}

TEST_F(ReassemblyTest, ThirtySecondsAfterTheSecondFragmentTheMessageIsDropped) {
  Bytes message = Message(3000);
  auto frags = Fragment(message, 60, 1400);
  ASSERT_EQ(frags.size(), 3u);
  EXPECT_EQ(Feed(frags[0]), kPktHeld);
  EXPECT_FALSE(info().timer.Running());  // armed by the second fragment
  lab_.RunFor(10);
  EXPECT_EQ(Feed(frags[1]), kPktHeld);
  EXPECT_TRUE(info().timer.Running());
  lab_.RunFor(29.9);
  EXPECT_EQ(info().fragments.size(), 2u);
  lab_.RunFor(0.1);
  ExpectIdle();
  EXPECT_FALSE(info().timer.Running());
  // The straggler alone cannot complete the message.
  EXPECT_EQ(Feed(frags[2]), kPktHeld);
  EXPECT_TRUE(DispatchLog().empty());
}

}  // namespace
}  // namespace transport_test
