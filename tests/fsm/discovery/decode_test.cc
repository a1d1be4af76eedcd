// The Discovery Request decoder: the truncation table of a full request with
// its length mutations, the rules that fail or keep a request, and the
// vendor sub-element 63.
#include <gtest/gtest.h>

#include "fsm/discovery.h"
#include "fsm/discovery/request_tables.h"

namespace capwap::test {
namespace {

TruncTable VendorPayload63(Outcome after) {
  return Elem(37, "vendor",
              Concat({{{U32(kPlatformVendor), "vendor: id"}},
                      Sub(7, "sub7", Str("xy")),
                      Sub(63, "sub63", Fill(0xAB, 40))}),
              after);
}

// Board Data and Descriptor make a request decodable; every complete
// element after them keeps it so.
TruncTable FullDiscoveryRequest(const ApSpec& ap = {}) {
  return Concat({
      Elem(20, "discovery type", {{U8(1), "discovery type: value"}}),
      Elem(38, "board", BoardDataBody(ap)),
      Elem(39, "desc", DescriptorBody(ap), Outcome::kPass),
      Elem(41, "tunnel", {{U8(2), "tunnel: value"}}, Outcome::kPass),
      Elem(44, "mac type", {{U8(1), "mac type: value"}}, Outcome::kPass),
      RadioInfo(1, "radio1", Outcome::kPass),
      RadioInfo(2, "radio2", Outcome::kPass),
      Elem(198, "work mode", {{U16(2), "work mode: value"}}, Outcome::kPass),
      VendorPayload63(Outcome::kPass),
  });
}

int Decode(ByteView elements, CW_DISC_REQ_INFO* info) {
  CW_RCVPKT rcv = RcvOf(ControlDatagram(kMsgDiscoveryReq, 7, Bytes(elements.begin(), elements.end())));
  return CW_AC_DecDiscReq(info, &rcv);
}

bool Decodes(ByteView elements) {
  CW_DISC_REQ_INFO info;
  return Decode(elements, &info) == 0;
}

class DiscoveryDecode : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = kDbgAll; }

  DaemonContext lab_;  // identity defaults: vendor 41414 accepted
  LogCapture log_;
};

TEST_F(DiscoveryDecode, FullRequestEveryPrefixAndLength) {
  const TruncTable table = FullDiscoveryRequest();
  EXPECT_TRUE(CheckTruncations(table, Decodes));
  for (const char* label : {"board: length", "desc: length", "radio1: length", "vendor: length",
                            "board mac: length", "desc sw: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes)) << label;
  }
  // A malformed vendor payload is skipped, never fatal.
  EXPECT_TRUE(CheckLengthMutations(table, "sub63: length", Decodes,
                                   {Outcome::kPass, Outcome::kPass, Outcome::kPass,
                                    Outcome::kPass}));

  CW_DISC_REQ_INFO info;
  ASSERT_EQ(Decode(Flatten(table), &info), 0);
  EXPECT_EQ(info.discovery_type, 1);
  EXPECT_EQ(info.frame_tunnel_mode, 2);
  EXPECT_EQ(info.mac_type, 1);
  EXPECT_EQ(info.board.vendor_id, kPlatformVendor);
  EXPECT_EQ(FieldText(info.board.model), "ia-210");
  EXPECT_EQ(FieldText(info.board.serial), "SN-0001");
  EXPECT_EQ(info.board.base_mac, ApSpec{}.mac);
  EXPECT_EQ(FieldText(info.descriptor.hw_version), "A1");
  EXPECT_EQ(FieldText(info.descriptor.sw_version), "1.0.0");
  EXPECT_EQ(info.radios[1].radio_id, 2);
  EXPECT_EQ(info.radios[1].radio_type, (std::array<uint8_t, 4>{0, 0, 0, 0x0D}));
  EXPECT_EQ(info.radios[2].radio_id, 0);
  EXPECT_EQ(info.workmode, kWorkModeMesh);
  std::array<uint8_t, 32> all_ab;
  all_ab.fill(0xAB);
  EXPECT_EQ(info.vendor_data63, all_ab) << "40 bytes offered, the field keeps 32";
}

TEST_F(DiscoveryDecode, RulesThatFailOrKeepARequest) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  const Bytes desc = Flatten(Elem(39, "desc", DescriptorBody(ap)));
  ApSpec stranger;
  stranger.vendor = 9999;
  const Bytes bad_board = Flatten(Elem(38, "board", BoardDataBody(stranger)));
  const Bytes no_mac = Element(38, Cat({U32(kPlatformVendor), Flatten(Sub(0, "m", Str("ia-210")))}));
  auto radio = [](uint8_t id) { return Flatten(RadioInfo(id, "r", Outcome::kPass)); };
  const Bytes broken_vendor = Element(37, Cat({U32(kPlatformVendor), U16(63), U16(200), Fill(1, 8)}));
  const struct {
    const char* what;
    Bytes elements;
    bool decodes;
  } rows[] = {
      {"board data and descriptor", Cat({board, desc}), true},
      {"in either order", Cat({desc, board}), true},
      {"board data alone", board, false},
      {"descriptor alone", desc, false},
      {"no element", {}, false},
      {"board data without its base MAC", Cat({no_mac, desc}), false},
      {"a vendor the platform does not know", Cat({bad_board, desc}), false},
      {"a good board data after a bad one", Cat({bad_board, board, desc}), true},
      {"radio 1", Cat({board, desc, radio(1)}), true},
      {"radio 4", Cat({board, desc, radio(4)}), true},
      {"radio 0", Cat({board, desc, radio(0)}), false},
      {"radio 5", Cat({board, desc, radio(5)}), false},
      {"radio 255", Cat({board, desc, radio(255)}), false},
      {"four bytes are not a radio", Cat({board, desc, Element(1048, Hex("01 00 00 0d"))}), false},
      {"a vendor payload first", Cat({Flatten(VendorPayload63(Outcome::kPass)), board, desc}), true},
      {"a broken vendor payload first", Cat({broken_vendor, board, desc}), true},
  };
  for (const auto& row : rows) EXPECT_EQ(Decodes(row.elements), row.decodes) << row.what;
  EXPECT_TRUE(log_.Contains(" Reported vendor ID 270f is illegal.\n")) << log_.text();

  // Values too short for their field leave it zero.
  CW_DISC_REQ_INFO info;
  ASSERT_EQ(Decode(Cat({Element(20, {}), Element(41, {}), Element(198, Hex("02")), board, desc}),
                   &info),
            0);
  EXPECT_EQ(info.discovery_type, 0);
  EXPECT_EQ(info.frame_tunnel_mode, 0);
  EXPECT_EQ(info.workmode, 0);
}

TEST_F(DiscoveryDecode, VendorSubElement63) {
  CW_DISC_REQ_INFO info;
  const Bytes short63 = Cat({U32(kPlatformVendor), U16(63), U16(3), Hex("01 02 03")});
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, short63.data(), short63.size()), 0);
  EXPECT_EQ(info.vendor_data63[2], 3);
  EXPECT_EQ(info.vendor_data63[3], 0);
  const Bytes truncated = Cat({U32(kPlatformVendor), U16(63), U16(4), Hex("01 02 03")});
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, truncated.data(), truncated.size()), 1);
  const Bytes no_vendor = Hex("00 00 a1");
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, no_vendor.data(), no_vendor.size()), 1);
}

}  // namespace
}  // namespace capwap::test
