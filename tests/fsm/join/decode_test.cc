// The Join Request decoder and the vendor handlers of elements 127 and 198:
// truncation table of a full request, length mutations, long values, radio
// slots, and the handlers' behaviour with records that are not Join's.
#include <gtest/gtest.h>

#include "fsm/discovery/discjoin_lab.h"
#include "fsm/join.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

int Decode(ByteView elements, CW_JOIN_REQ_INFO* info) {
  CW_RCVPKT rcv = RcvOf(Datagram(CW_MSG_JOIN_REQ, 3, elements));
  return CW_AC_DecJoinReq(info, &rcv);
}

bool Decodes(ByteView elements) {
  CW_JOIN_REQ_INFO info;
  return Decode(elements, &info) == 0;
}

class JoinDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ulCwDebugBitmap = CW_DBG_ALL;
    ASSERT_EQ(CW_RegisterVendorHandlers(), 0);
  }

  DaemonContext lab_;
  capwap::LogCapture log_;
};

TEST_F(JoinDecode, FullRequestFillsEveryFieldAndEveryPrefixIsJudged) {
  ApSpec ap;
  ap.master_status = 0x01020304;
  ap.capability = 0x0506;
  const TruncTable table = JoinTable(ap);
  WriteFuzzSeed(table, "join_req", "full_request");
  ApSpec virtual_ap;
  virtual_ap.master_status = 0;
  virtual_ap.capability = 2;
  WriteFuzzSeed(Concat({JoinTable(virtual_ap), Elem(198, "caps", {{U16(1), "caps: value"}})}),
                "join_req", "virtual_ap");
  EXPECT_TRUE(CheckTruncations(table, Decodes));

  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(Flatten(table), &info), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.location.data())), "lab");
  EXPECT_EQ(info.board.base_mac, ap.mac);
  EXPECT_EQ(FieldText(info.board.model), "ia-210");
  EXPECT_EQ(FieldText(info.board.serial), "SN-0001");
  EXPECT_EQ(FieldText(info.descriptor.sw_version), "1.0.0");
  EXPECT_EQ(FieldText(info.wtp_name), "wtp-1");
  EXPECT_EQ(info.session_id, ap.session);
  EXPECT_EQ(info.frame_tunnel_mode, 2);
  EXPECT_EQ(info.mac_type, 1);
  EXPECT_EQ(info.master_status, 0x01020304u);
  EXPECT_EQ(info.capability, 0x0506);
  EXPECT_EQ(info.radios[0].radio_id, 1);
  EXPECT_EQ(info.radios[1].radio_id, 2);
  EXPECT_EQ(info.radios[1].radio_type, (std::array<uint8_t, 4>{0, 0, 0, 0x0D}));
  EXPECT_EQ(info.radios[2].radio_id, 0);
}

TEST_F(JoinDecode, LengthMutations) {
  const TruncTable table = JoinTable(ApSpec{});
  for (const char* label :
       {"board: length", "desc: length", "session: length", "vendor: length", "board mac: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes)) << label;
  }
  // A vendor sub-element that is short or cannot be walked is skipped.
  const LengthExpect skipped{Outcome::kPass, Outcome::kPass, Outcome::kPass, Outcome::kPass};
  for (const char* label : {"master status: length", "capability: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes, skipped)) << label;
  }
}

TEST_F(JoinDecode, BadBoardDataOrDescriptorFailsTheRequest) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  EXPECT_TRUE(Decodes(board));
  ApSpec stranger;
  stranger.vendor = 4242;
  EXPECT_FALSE(Decodes(Flatten(Elem(38, "board", BoardDataBody(stranger)))));
  EXPECT_TRUE(log_.Contains(" Reported vendor ID 1092 is illegal.\n"));
  EXPECT_FALSE(Decodes(ElementBytes(38, Cat({U32(kVendor), Flatten(Sub(0, "m", Str("ia-210")))}))));
  EXPECT_FALSE(Decodes(ElementBytes(39, Hex("02 02 01"))));
  EXPECT_TRUE(Decodes({}));  // nothing is required
}

TEST_F(JoinDecode, LongValuesAreCutToTheirFields) {
  const std::string long_text(40, 'x');
  const Bytes elements = Cat({ElementBytes(28, Str(long_text)), ElementBytes(45, Str(long_text)),
                              ElementBytes(35, Hex("01 02 03"))});
  WriteFuzzSeed({{elements, "long values"}}, "join_req", "long_values");
  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(elements, &info), 0);
  for (uint8_t b : info.location) EXPECT_EQ(b, 'x');
  EXPECT_EQ(FieldText(info.wtp_name), std::string(32, 'x'));
  EXPECT_EQ(info.wtp_name[32], '\0');
  EXPECT_EQ(info.session_id, (SessionId{1, 2, 3}));
}

TEST_F(JoinDecode, RadioIdsOutsideTheSlotsAreIgnored) {
  const Bytes elements = Cat({Flatten(RadioInfo(4, "r4", Outcome::kPass)),
                              Flatten(RadioInfo(5, "r5", Outcome::kPass)),
                              Flatten(RadioInfo(0, "r0", Outcome::kPass)),
                              ElementBytes(1048, Hex("03 00 00"))});
  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(elements, &info), 0);
  EXPECT_EQ(info.radios[3].radio_id, 4);
  EXPECT_EQ(info.radios[2].radio_id, 0) << "three bytes are no radio";
  EXPECT_TRUE(log_.Contains(" Radio Information of radio 5 ignored in Join Request.\n"));
  EXPECT_TRUE(log_.Contains(" Radio Information of radio 0 ignored in Join Request.\n"));
}

TEST_F(JoinDecode, CapabilityBitsAsTopLevelElementOrVendorSubElement) {
  ApSpec ap;
  ap.capability = 2;
  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(ElementBytes(198, U16(0x0102)), &info), 0);
  EXPECT_EQ(info.capability, 0x0102);
  // The later of the two wins.
  ASSERT_EQ(Decode(Cat({ElementBytes(198, U16(0x0102)),
                        Flatten(JoinVendorPayload(ap, Outcome::kPass))}),
                   &info),
            0);
  EXPECT_EQ(info.capability, 2);
  EXPECT_EQ(info.master_status, 1u);
  ASSERT_EQ(Decode(ElementBytes(198, Hex("07")), &info), 0);
  EXPECT_EQ(info.capability, 0) << "one byte is no capability";
}

TEST_F(JoinDecode, VendorPayloadsOfOtherVendorsAreSkipped) {
  ApSpec ap;
  ap.vendor = 7777;  // not accepted by the platform: no handlers apply
  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(Flatten(JoinVendorPayload(ap, Outcome::kPass)), &info), 0);
  EXPECT_EQ(info.master_status, 0u);
  EXPECT_EQ(info.capability, 0);
  // A longer sub-element than the handler reads is consumed by its length.
  const Bytes longer = ElementBytes(37, Cat({U32(kVendor), U16(127), U16(6), U32(9), U16(0xFFFF),
                                             U16(198), U16(2), U16(2)}));
  WriteFuzzSeed({{longer, "longer vendor sub-element"}}, "join_req", "longer_vendor_sub");
  ASSERT_EQ(Decode(longer, &info), 0);
  EXPECT_EQ(info.master_status, 9u);
  EXPECT_EQ(info.capability, 2);
}

TEST_F(JoinDecode, HandlersNeverWriteARecordThatIsNotJoins) {
  // Another message's record, and the bytes a Join field would occupy.
  std::array<uint8_t, 64> other{};
  const Bytes master = U32(0xAABBCCDD);
  capwap::WireReader cursor(master);
  EXPECT_EQ(CW_KVENPROC_MASTERSTATUS(other.data(), cursor, 127, 4), 0);
  const Bytes caps = U16(0x1234);
  capwap::WireReader cursor2(caps);
  EXPECT_EQ(CW_KVENPROC_CAPBILITIES(other.data(), cursor2, 198, 2), 0);
  for (uint8_t b : other) EXPECT_EQ(b, 0);

  // A Join record outside its own decode is not written either.
  CW_JOIN_REQ_INFO info;
  capwap::WireReader cursor3(master);
  EXPECT_EQ(CW_KVENPROC_MASTERSTATUS(&info, cursor3, 127, 4), 0);
  EXPECT_EQ(info.master_status, 0u);
  EXPECT_EQ(CW_JoinVendorContext(&info), nullptr);
  EXPECT_EQ(CW_JoinVendorContext(nullptr), nullptr);
}

}  // namespace
}  // namespace discjoin_test
