// Decoding a Configuration Status Request into the radio-binding layout.
#include <gtest/gtest.h>

#include <string>

#include "diag/debug.h"
#include "fsm/config_status.h"
#include "fsm/vendor_handlers.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "relay/radio_binding.h"
#include "support/lab.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "transport/codec.h"
#include "wtp-sim/wtp_messages.h"

namespace capwap::test {
namespace {

TruncTable Elem(const std::string& name, uint16_t type, Bytes value) {
  return {{U16(type), name + ": type"},
          {U16(static_cast<uint16_t>(value.size())), name + ": length"},
          {std::move(value), name + ": value", Outcome::kPass}};
}

Bytes Radio129(uint8_t radio) {
  return Cat({U32(g_uiOid), U16(129), U16(76), U8(radio), Fill(0x81, 75)});
}

class CfgReqDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterVendorHandlers(), 0);
    g_ulCwDebugBitmap = kDbgAll;
  }
  FreshGlobals fresh_;
  static bool Decodes(ByteView in) {
    CfgStatusReqInfo info;
    return CW_AC_DecCfgReq(&info, in) == 0;
  }
  LogCapture log_;
};

TEST_F(CfgReqDecode, EveryPrefixAndLengthOfTheRequest) {
  const TruncTable request = Concat({
      Elem("ac name", 4, Str("ac1")),
      Elem("radio info r1", 1048, Hex("01 00 00 00 0d")),
      Elem("radio config r1", 1046, Hex("01 01 10 01 02 00 00 00 01 11 00 64 55 53 20 00")),
      Elem("vendor 129 r1", 37, Radio129(1)),
      Elem("dsss r1", 1028, Hex("01 00 06 01 00 00 00 2a")),
  });
  EXPECT_TRUE(CheckTruncations(request, Decodes));
  EXPECT_TRUE(CheckLengthMutations(request, "dsss r1: length", Decodes));
  EXPECT_TRUE(CheckLengthMutations(request, "vendor 129 r1: length", Decodes));
  WriteFuzzSeed(request, "cfg_status_req", "radios");
  sim::WtpIdentity ap;
  ap.radios = sim::DefaultRadios(ap.mac, 2);
  const Bytes whole = sim::BuildConfigStatusRequest(ap, 1);
  const Bytes sim_elements(whole.begin() + kCwHeadersLen, whole.end());
  EXPECT_TRUE(Decodes(sim_elements));
  WriteFuzzSeed({{sim_elements, "simulated AP, two radios"}}, "cfg_status_req", "sim_two_radios");

  CfgStatusReqInfo info;
  ASSERT_EQ(CW_AC_DecCfgReq(&info, Flatten(request)), 0);
  EXPECT_EQ(info.ac_name, "ac1");
  EXPECT_EQ(info.rdbind.radio_count, 1u);
  EXPECT_EQ(info.rdbind.radios[0].sub[15], Cat({U8(1), Fill(0x81, 75)})) << "vendor 129";
  EXPECT_EQ(info.rdbind.radios[0].sub[2], Cat({Hex("01 00 06 01"), HostU32(0x2a)}));
}

TEST_F(CfgReqDecode, RecordsComeBackAsTheSameElements) {
  Bytes qos = Hex("02 01");
  for (uint8_t i = 0; i < 8; ++i) {
    qos = Cat({qos, U8(i), U16(0x100 + i), U16(0x200 + i), U8(0x10 + i), U16(0x300 + i),
               U16(0x400 + i)});
  }
  // The elements in the order the AP is answered with them.
  const TruncTable elements = Concat({
      Elem("dsss", 1028, Cat({Hex("02 00 06 01"), U32(0x11223344)})),
      Elem("multi-domain", 1032, Cat({Hex("02 00"), U16(1), U16(11), U16(20)})),
      Elem("rate set", 1034, Hex("02 82 84 8b 96 0c 12 18 24")),
      Elem("supported rates", 1040, Hex("02 02 04 0b 16 0c 12 18 24")),
      Elem("tx power", 1041, Cat({Hex("02 00"), U16(17)})),
      Elem("tx power level", 1042, Hex("02 03 0a 0b 0c")),
      Elem("radio info", 1048, Hex("02 00 00 00 0d")),
      Elem("radio config", 1046, Hex("02 01 10 01 00 11 22 33 44 55 00 64 55 53 20 00")),
      Elem("qos", 1045, qos),
      Elem("1049", 1049, Cat({U8(2), U32(0x01020304)})),
  });
  CfgStatusReqInfo info;
  ASSERT_EQ(CW_AC_DecCfgReq(&info, Flatten(elements)), 0);
  // Host-order layouts where the element does not simply come back.
  const RadioBindingRadio& radio = info.rdbind.radios[1];
  EXPECT_EQ(radio.sub[18], Cat({Hex("02 00 00 00"), HostU32(0x01020304)}));
  EXPECT_EQ(radio.sub[13]->size(), 98u);
  EXPECT_EQ(Bytes(radio.sub[13]->begin() + 2, radio.sub[13]->begin() + 14),
            Cat({HostU16(0), HostU16(0x100), HostU16(0x200), HostU16(0x10), HostU16(0x300),
                 HostU16(0x400)}))
      << "first set of queue 0";
  EXPECT_EQ(Bytes(radio.sub[13]->begin() + 50, radio.sub[13]->begin() + 52), HostU16(1))
      << "second set of queue 0 starts the second table";

  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(EncodeRdBindElems(*pkt, info.rdbind, 0), 0);
  EXPECT_TRUE(BytesMatch(ByteView(pkt->buffer).subspan(kCwHeadersLen, pkt->length), elements));
}

TEST_F(CfgReqDecode, AntennaAndOfdmLayouts) {
  const Bytes request = Flatten(Concat({
      Elem("antenna", 1025, Hex("03 01 02 02 05 06")),
      Elem("ofdm", 1033, Cat({Hex("03 00 24 02"), U32(0x55)})),
  }));
  CfgStatusReqInfo info;
  ASSERT_EQ(CW_AC_DecCfgReq(&info, request), 0);
  const RadioBindingRadio& radio = info.rdbind.radios[2];
  EXPECT_EQ(radio.radio_id, 3u);
  // radio, diversity, (not set), combiner, then count and selections.
  EXPECT_EQ(radio.sub[1], Hex("03 01 00 02 02 05 06 00 00 00"));
  EXPECT_EQ(radio.sub[5], Cat({Hex("03 00 24 02"), HostU32(0x55)})) << "OFDM in slot 5";
}

TEST_F(CfgReqDecode, ForeignRadiosAndContextsAreIgnored) {
  const Bytes request = Flatten(Concat({
      Elem("tx power r0", 1041, Hex("00 00 00 11")),
      Elem("tx power r5", 1041, Hex("05 00 00 11")),
      Elem("vendor 129 r7", 37, Radio129(7)),
      Elem("unknown", 5, Hex("01")),
  }));
  CfgStatusReqInfo info;
  ASSERT_EQ(CW_AC_DecCfgReq(&info, request), 0);
  for (const RadioBindingRadio& radio : info.rdbind.radios) {
    EXPECT_EQ(radio.radio_id, 0u);
    for (const auto& sub : radio.sub) EXPECT_FALSE(sub);
  }
  EXPECT_TRUE(log_.Contains(" Config Request element 1041 of radio 5 ignored."));

  // The same vendor payload in another message's record is consumed only.
  int other_record = 0;
  EXPECT_EQ(CW_AC_DecVendorElem(&other_record, Radio129(1)), 0);
  EXPECT_EQ(CfgReqOf(&other_record), nullptr);
}

TEST_F(CfgReqDecode, ShortValuesAndBrokenVendorPayloadsAreSkipped) {
  const TruncTable request = Concat({
      Elem("tx power short", 1041, Hex("01 00 11")),
      Elem("levels past the value", 1042, Hex("01 04 0a 0b 0c")),
      Elem("vendor 129 short", 37, Cat({U32(g_uiOid), U16(129), U16(5), Fill(1, 5)})),
      Elem("vendor 129 cut", 37, Cat({U32(g_uiOid), U16(129), U16(80), Fill(1, 76)})),
      Elem("dsss r1", 1028, Hex("01 00 06 01 00 00 00 2a")),
  });
  WriteFuzzSeed(request, "cfg_status_req", "short_values");
  CfgStatusReqInfo info;
  ASSERT_EQ(CW_AC_DecCfgReq(&info, Flatten(request)), 0) << log_.text();
  const RadioBindingRadio& radio = info.rdbind.radios[0];
  EXPECT_EQ(radio.sub[2], Cat({Hex("01 00 06 01"), HostU32(0x2a)})) << "the walk went on";
  EXPECT_FALSE(radio.sub[15]) << "no radio capability record";
  EXPECT_EQ(info.rdbind.radio_count, 1u);
  for (const char* line : {" Config Request element 1041 of 3 bytes skipped.\n",
                           " Config Request element 1042 of 5 bytes skipped.\n",
                           " Vendor element 129 of 5 bytes in Config Request skipped, 76 bytes "
                           "needed.\n",
                           " Malformed Vendor Specific Payload in Config Request skipped.\n"}) {
    EXPECT_TRUE(log_.Contains(line)) << line;
  }

  // Only no elements and an element past the end fail the decode.
  EXPECT_EQ(CW_AC_DecCfgReq(&info, Hex("00 04 00")), 1);
  EXPECT_TRUE(log_.Contains(" Illegal Config Request frame received.\n"));
  EXPECT_EQ(CW_AC_DecCfgReq(&info, {}), 1);
  CfgStatusReqInfo partial;
  EXPECT_EQ(CW_AC_DecCfgReq(&partial, Hex("00 04 00 05 61")), 1);
  EXPECT_TRUE(log_.Contains(" Illegal Config Request frame received .\n"));
}

}  // namespace
}  // namespace capwap::test
