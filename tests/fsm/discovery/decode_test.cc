// The Discovery Request decoder: truncation table of a full request, length
// mutations, the rules that fail or keep a decode, and the vendor
// sub-element 63.
#include <gtest/gtest.h>

#include "fsm/discovery.h"
#include "fsm/discovery/discjoin_lab.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

TruncTable VendorPayload63(Outcome after) {
  return Elem(37, "vendor",
              Concat({{{U32(kVendor), "vendor: id"}},
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
  CW_RCVPKT rcv = RcvOf(Datagram(CW_MSG_DISCOVERY_REQ, 7, elements));
  return CW_AC_DecDiscReq(info, &rcv);
}

bool Decodes(ByteView elements) {
  CW_DISC_REQ_INFO info;
  return Decode(elements, &info) == 0;
}

class DiscoveryDecode : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = CW_DBG_ALL; }

  DaemonContext lab_;  // identity defaults: vendor 41414 accepted
  capwap::LogCapture log_;
};

TEST_F(DiscoveryDecode, FullRequestFillsEveryFieldAndEveryPrefixFails) {
  const TruncTable table = FullDiscoveryRequest();
  WriteFuzzSeed(table, "discovery_req", "full_request");
  ApSpec stranger;
  stranger.mac = {0x02, 0xc4, 0x5a, 0x10, 0, 1};
  stranger.model = "oa-560";
  stranger.hw_version = "E1";
  WriteFuzzSeed(FullDiscoveryRequest(stranger), "discovery_req", "unknown_ap");
  EXPECT_TRUE(CheckTruncations(table, Decodes));

  CW_DISC_REQ_INFO info;
  ASSERT_EQ(Decode(Flatten(table), &info), 0);
  EXPECT_EQ(info.discovery_type, 1);
  EXPECT_EQ(info.frame_tunnel_mode, 2);
  EXPECT_EQ(info.mac_type, 1);
  EXPECT_EQ(info.board.vendor_id, kVendor);
  EXPECT_EQ(FieldText(info.board.model), "ia-210");
  EXPECT_EQ(FieldText(info.board.serial), "SN-0001");
  EXPECT_EQ(info.board.base_mac, (Mac{0x02, 0, 0, 0, 0x01, 0x01}));
  EXPECT_EQ(FieldText(info.descriptor.hw_version), "A1");
  EXPECT_EQ(FieldText(info.descriptor.sw_version), "1.0.0");
  EXPECT_EQ(info.radios[0].radio_id, 1);
  EXPECT_EQ(info.radios[0].radio_type, (std::array<uint8_t, 4>{0, 0, 0, 0x0D}));
  EXPECT_EQ(info.radios[1].radio_id, 2);
  EXPECT_EQ(info.radios[2].radio_id, 0);
  EXPECT_EQ(info.workmode, kWorkModeMesh);
  // 40 bytes offered, the field keeps the first 32.
  std::array<uint8_t, 32> all_ab;
  all_ab.fill(0xAB);
  EXPECT_EQ(info.vendor_data63, all_ab);
}

TEST_F(DiscoveryDecode, LengthMutations) {
  const TruncTable table = FullDiscoveryRequest();
  for (const char* label : {"board: length", "desc: length", "radio1: length", "vendor: length",
                            "board mac: length", "desc sw: length"}) {
    EXPECT_TRUE(CheckLengthMutations(table, label, Decodes)) << label;
  }
  // A malformed vendor payload is skipped, never fatal.
  EXPECT_TRUE(CheckLengthMutations(table, "sub63: length", Decodes,
                                   {Outcome::kPass, Outcome::kPass, Outcome::kPass,
                                    Outcome::kPass}));
}

TEST_F(DiscoveryDecode, BoardDataAndDescriptorAreBothRequired) {
  const ApSpec ap;
  const Bytes board = Flatten(Elem(38, "board", BoardDataBody(ap)));
  const Bytes desc = Flatten(Elem(39, "desc", DescriptorBody(ap)));
  EXPECT_TRUE(Decodes(Cat({board, desc})));
  EXPECT_TRUE(Decodes(Cat({desc, board})));
  EXPECT_FALSE(Decodes(board));
  EXPECT_FALSE(Decodes(desc));
  EXPECT_FALSE(Decodes({}));

  // Board data without its base MAC is no board data.
  const Bytes no_mac = Flatten(Elem(38, "board", Concat({{{U32(kVendor), "vendor"}},
                                                          Sub(0, "model", Str("ia-210"))})));
  EXPECT_FALSE(Decodes(Cat({no_mac, desc})));
  // A vendor the platform does not know makes the board data unusable.
  ApSpec stranger;
  stranger.vendor = 9999;
  EXPECT_FALSE(Decodes(Cat({Flatten(Elem(38, "board", BoardDataBody(stranger))), desc})));
  EXPECT_TRUE(log_.Contains(" Reported vendor ID 270f is illegal.\n")) << log_.text();
  // A good copy after a bad one is taken.
  EXPECT_TRUE(Decodes(Cat({Flatten(Elem(38, "board", BoardDataBody(stranger))), board, desc})));
}

TEST_F(DiscoveryDecode, RadioIdsOutsideOneToFourFailTheWholeRequest) {
  const ApSpec ap;
  const Bytes base = Cat({Flatten(Elem(38, "board", BoardDataBody(ap))),
                          Flatten(Elem(39, "desc", DescriptorBody(ap)))});
  for (uint8_t radio : {1, 4}) {
    EXPECT_TRUE(Decodes(Cat({base, Flatten(RadioInfo(radio, "r", Outcome::kPass))})))
        << int{radio};
  }
  WriteFuzzSeed({{Cat({base, Flatten(RadioInfo(5, "r", Outcome::kPass))}), "radio 5"}},
                "discovery_req", "radio_5");
  for (uint8_t radio : {0, 5, 255}) {
    EXPECT_FALSE(Decodes(Cat({base, Flatten(RadioInfo(radio, "r", Outcome::kPass))})))
        << int{radio};
  }
  // Four bytes are not a radio.
  EXPECT_FALSE(Decodes(Cat({base, ElementBytes(1048, Hex("01 00 00 0d"))})));
}

TEST_F(DiscoveryDecode, AVendorPayloadBeforeTheBoardDataDoesNotHideIt) {
  const ApSpec ap;
  const Bytes elements = Cat({Flatten(VendorPayload63(Outcome::kPass)),
                              Flatten(Elem(38, "board", BoardDataBody(ap))),
                              Flatten(Elem(39, "desc", DescriptorBody(ap)))});
  WriteFuzzSeed({{elements, "vendor payload first"}}, "discovery_req", "vendor_first");
  CW_DISC_REQ_INFO info;
  ASSERT_EQ(Decode(elements, &info), 0);
  EXPECT_EQ(info.board.base_mac, ap.mac);
  EXPECT_EQ(info.vendor_data63[0], 0xAB);

  // Even one whose sub-elements run past its end.
  const Bytes broken = ElementBytes(37, Cat({U32(kVendor), U16(63), U16(200), Fill(1, 8)}));
  EXPECT_TRUE(Decodes(Cat({broken, Flatten(Elem(38, "board", BoardDataBody(ap))),
                           Flatten(Elem(39, "desc", DescriptorBody(ap)))})));
}

TEST_F(DiscoveryDecode, VendorSubElement63) {
  CW_DISC_REQ_INFO info;
  const Bytes short63 = Cat({U32(kVendor), U16(63), U16(3), Hex("01 02 03")});
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, short63.data(), short63.size()), 0);
  EXPECT_EQ(info.vendor_data63[0], 1);
  EXPECT_EQ(info.vendor_data63[2], 3);
  EXPECT_EQ(info.vendor_data63[3], 0);

  const Bytes truncated = Cat({U32(kVendor), U16(63), U16(4), Hex("01 02 03")});
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, truncated.data(), truncated.size()), 1);
  const Bytes no_vendor = Hex("00 00 a1");
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, no_vendor.data(), no_vendor.size()), 1);
  EXPECT_EQ(CW_AC_DecDiscVendorElem(&info, nullptr, 0), 1);
}

TEST_F(DiscoveryDecode, ShortFixedValuesLeaveTheirFieldsZero) {
  const ApSpec ap;
  const Bytes elements =
      Cat({ElementBytes(20, {}), ElementBytes(41, {}), ElementBytes(198, Hex("02")),
           Flatten(Elem(38, "board", BoardDataBody(ap))),
           Flatten(Elem(39, "desc", DescriptorBody(ap)))});
  CW_DISC_REQ_INFO info;
  ASSERT_EQ(Decode(elements, &info), 0);
  EXPECT_EQ(info.discovery_type, 0);
  EXPECT_EQ(info.frame_tunnel_mode, 0);
  EXPECT_EQ(info.workmode, 0);
}

}  // namespace
}  // namespace discjoin_test
