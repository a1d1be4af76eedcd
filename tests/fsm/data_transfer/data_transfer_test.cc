// Data Transfer over loopback UDP: chunks kept until the end or an error
// chunk, each answered with its result; teardown leaves nothing behind.
#include "fsm/data_transfer.h"

#include <gtest/gtest.h>

#include "support/controller.h"

namespace capwap::test {
namespace {

Bytes Chunk(uint8_t type, Bytes data, uint16_t announced) {
  return Element(13, Cat({U8(type), U8(1), U16(announced), data}));
}
Bytes Chunk(uint8_t type, Bytes data) {
  const auto n = static_cast<uint16_t>(data.size());
  return Chunk(type, std::move(data), n);
}

using DataTransfer = ControllerLab;

TEST_F(DataTransfer, ChunksAreKeptUntilTheEndAndEveryOneIsAnswered) {
  WtpEndpoint ap;
  CW_WTPCB* wtp = MakeWtp(ap, 1, kStateRun);
  struct Row {
    const char* name;
    Bytes elements;
    uint32_t result;
    size_t kept;
  };
  const Row rows[] = {
      {"first chunk", Chunk(1, Fill(0xaa, 300)), 0, 1},
      {"empty chunk", Chunk(1, {}), 0, 2},
      {"no Data Transfer Data at all", {}, 0, 3},
      {"length beyond the element is cut", Chunk(1, Fill(0xbb, 4), 400), 0, 4},
      {"element running past the message", Cat({U16(13), U16(40), Fill(1, 4)}), 1, 4},
      {"end of data", Chunk(2, Fill(0xcc, 10)), 0, 0},
      {"next transfer", Chunk(1, Fill(0xdd, 10)), 0, 1},
      {"error chunk", Chunk(5, {}), 0, 0},
  };
  uint8_t seq = 10;
  for (const Row& row : rows) {
    Deliver(ap, ControlDatagram(kMsgDataTransferReq, ++seq, row.elements));
    std::optional<DecodedMessage> rsp = OnlyAnswer(ap);
    ASSERT_TRUE(rsp) << row.name;
    EXPECT_EQ(rsp->ctl.msg_type, uint32_t{kMsgDataTransferRsp}) << row.name;
    EXPECT_EQ(rsp->ctl.seq, seq) << row.name;
    EXPECT_EQ(ResultOf(*rsp), row.result) << row.name;
    EXPECT_EQ(wtp->crash_data.size(), row.kept) << row.name;
  }
  EXPECT_EQ(wtp->crash_data.size(), 0u);

  Deliver(ap, ControlDatagram(kMsgDataTransferReq, ++seq, Chunk(1, Fill(1, 8))));
  ASSERT_EQ(wtp->crash_data.size(), 1u);
  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_TRUE(wtp->crash_data.empty()) << "teardown releases a transfer in progress";
}

TEST_F(DataTransfer, RequestToTheApAndItsResponse) {
  WtpEndpoint ap;
  CW_WTPCB* wtp = MakeWtp(ap, 2, kStateRun);
  ASSERT_EQ(CW_AC_SndDataTransReq(wtp, 2), 0);
  lab_.Settle();
  std::optional<DecodedMessage> req = OnlyAnswer(ap);
  ASSERT_TRUE(req);
  EXPECT_EQ(req->ctl.msg_type, uint32_t{kMsgDataTransferReq});
  ASSERT_NE(req->Find(14), nullptr);
  EXPECT_EQ(Bytes(req->Find(14)->value.begin(), req->Find(14)->value.end()), U8(2));

  Deliver(ap, ControlDatagram(kMsgDataTransferRsp, req->ctl.seq, Element(33, U32(3))));
  EXPECT_TRUE(Logged(" Result code 3 from Data Transfer Response frame."));
}

}  // namespace
}  // namespace capwap::test
