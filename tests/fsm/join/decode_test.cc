// The Join Request decoder with the vendor handlers of elements 127 and 198:
// the truncation table of a full request with its length mutations, then the
// rules for long values, radio slots, capability bits and vendor payloads.
#include <gtest/gtest.h>

#include "fsm/discovery/request_tables.h"
#include "fsm/join.h"

namespace capwap::test {
namespace {

int Decode(ByteView elements, CW_JOIN_REQ_INFO* info) {
  CW_RCVPKT rcv = RcvOf(ControlDatagram(kMsgJoinReq, 3, Bytes(elements.begin(), elements.end())));
  return CW_AC_DecJoinReq(info, &rcv);
}

bool Decodes(ByteView elements) {
  CW_JOIN_REQ_INFO info;
  return Decode(elements, &info) == 0;
}

class JoinDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ulCwDebugBitmap = kDbgAll;
    ASSERT_EQ(RegisterVendorHandlers(), 0);
  }

  DaemonContext lab_;
  LogCapture log_;
};

TEST_F(JoinDecode, FullRequestEveryPrefixAndLength) {
  ApSpec ap;
  ap.master_status = 0x01020304;
  ap.capability = 0x0506;
  const TruncTable table = JoinTable(ap);
  EXPECT_TRUE(CheckTruncations(table, Decodes));
  for (const char* label :
       {"board: length", "desc: length", "session: length", "vendor: length", "board mac: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes)) << label;
  }
  // A vendor sub-element that is short or cannot be walked is skipped.
  const LengthExpect skipped{Outcome::kPass, Outcome::kPass, Outcome::kPass, Outcome::kPass};
  for (const char* label : {"master status: length", "capability: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes, skipped)) << label;
  }

  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(Flatten(table), &info), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.location.data())), "lab");
  EXPECT_EQ(info.board.base_mac, ap.mac);
  EXPECT_EQ(FieldText(info.board.serial), "SN-0001");
  EXPECT_EQ(FieldText(info.descriptor.sw_version), "1.0.0");
  EXPECT_EQ(FieldText(info.wtp_name), "wtp-1");
  EXPECT_EQ(info.session_id, ap.session);
  EXPECT_EQ(info.frame_tunnel_mode, 2);
  EXPECT_EQ(info.mac_type, 1);
  EXPECT_EQ(info.master_status, 0x01020304u);
  EXPECT_EQ(info.capability, 0x0506);
  EXPECT_EQ(info.radios[1].radio_type, (std::array<uint8_t, 4>{0, 0, 0, 0x0D}));
  EXPECT_EQ(info.radios[2].radio_id, 0);
}

TEST_F(JoinDecode, RulesForValuesRadiosAndVendorPayloads) {
  ApSpec stranger;
  stranger.vendor = 4242;
  EXPECT_FALSE(Decodes(Flatten(Elem(38, "board", BoardDataBody(stranger)))));
  EXPECT_TRUE(log_.Contains(" Reported vendor ID 1092 is illegal.\n"));
  EXPECT_FALSE(Decodes(Element(39, Hex("02 02 01"))));

  // Long values are cut to their fields.
  const std::string long_text(40, 'x');
  const Bytes long_values =
      Cat({Element(28, Str(long_text)), Element(45, Str(long_text)), Element(35, Hex("01 02 03"))});
  CW_JOIN_REQ_INFO info;
  ASSERT_EQ(Decode(long_values, &info), 0);
  EXPECT_EQ(info.location.back(), 'x');
  EXPECT_EQ(FieldText(info.wtp_name), std::string(32, 'x'));
  EXPECT_EQ(info.session_id, (SessionId{1, 2, 3}));

  // Radio slots 1 to 4; others and three-byte values are ignored.
  ASSERT_EQ(Decode(Cat({Flatten(RadioInfo(4, "r4", Outcome::kPass)),
                        Flatten(RadioInfo(5, "r5", Outcome::kPass)), Element(1048, Hex("03 00 00"))}),
                   &info),
            0);
  EXPECT_EQ(info.radios[3].radio_id, 4);
  EXPECT_EQ(info.radios[2].radio_id, 0);
  EXPECT_TRUE(log_.Contains(" Radio Information of radio 5 ignored in Join Request.\n"));

  // Capability bits as a top-level element or a vendor sub-element: the later wins.
  ApSpec ap;
  ap.capability = 2;
  ASSERT_EQ(Decode(Cat({Element(198, U16(0x0102)), Flatten(JoinVendorPayload(ap, Outcome::kPass))}),
                   &info),
            0);
  EXPECT_EQ(info.capability, 2);
  ASSERT_EQ(Decode(Element(198, U16(0x0102)), &info), 0);
  EXPECT_EQ(info.capability, 0x0102);
  ASSERT_EQ(Decode(Element(198, Hex("07")), &info), 0);
  EXPECT_EQ(info.capability, 0) << "one byte is no capability";

  // Another vendor's payload is skipped; a longer sub-element is consumed by its length.
  ap.vendor = 7777;
  ASSERT_EQ(Decode(Flatten(JoinVendorPayload(ap, Outcome::kPass)), &info), 0);
  EXPECT_EQ(info.capability, 0);
  const Bytes longer = Element(37, Cat({U32(kPlatformVendor), U16(127), U16(6), U32(9),
                                        U16(0xFFFF), U16(198), U16(2), U16(2)}));
  ASSERT_EQ(Decode(longer, &info), 0);
  EXPECT_EQ(info.master_status, 9u);
  EXPECT_EQ(info.capability, 2);
}

TEST_F(JoinDecode, HandlersNeverWriteARecordThatIsNotJoins) {
  std::array<uint8_t, 64> other{};
  const Bytes master = U32(0xAABBCCDD);
  WireReader cursor(master);
  EXPECT_EQ(CW_KVENPROC_MASTERSTATUS(other.data(), cursor, 127, 4), 0);
  const Bytes caps = U16(0x1234);
  WireReader cursor2(caps);
  EXPECT_EQ(CW_KVENPROC_CAPBILITIES(other.data(), cursor2, 198, 2), 0);
  EXPECT_EQ(other, (std::array<uint8_t, 64>{}));
  // Nor a Join record outside its own decode.
  CW_JOIN_REQ_INFO info;
  WireReader cursor3(master);
  EXPECT_EQ(CW_KVENPROC_MASTERSTATUS(&info, cursor3, 127, 4), 0);
  EXPECT_EQ(info.master_status, 0u);
}

}  // namespace
}  // namespace capwap::test
