// The simulated WTP's wire layer: its builders against annotated bytes, its
// checks against truncated and malformed AC messages, fragmentation and
// reassembly, identities and the command line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/lab.h"
#include "support/truncation.h"
#include "tools/fake_ac.h"
#include "wtp-sim/wtp_fleet.h"
#include "wtp-sim/wtp_frag.h"
#include "wtp-sim/wtp_messages.h"
#include "wtp-sim/wtp_options.h"

namespace capwap::simtest {
namespace {

using namespace capwap::test;
using sim::WtpIdentity;

const char kMacHex[] = "02 11 22 33 44 55";
const char kSessionHex[] = "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f";

WtpIdentity OneRadioAp() {
  WtpIdentity id;
  id.name = "ap-one";
  id.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  id.model = "ia-110";
  id.serial = "S1";
  id.capability_bits = 2;
  for (uint8_t i = 0; i < 16; ++i) id.session_id[i] = i;
  id.radios = sim::DefaultRadios(id.mac, 1);
  return id;
}

TruncTable Headers(uint32_t msg_type, uint8_t seq, uint16_t elem_len) {
  return {
      {Hex("00 10 00 00"), "preamble, HLEN 2"},
      {U16(0), "fragment id"},
      {U16(0), "fragment offset"},
      {U32(msg_type), "message type"},
      {U8(seq), "sequence number"},
      {U16(elem_len), "element length"},
      {U8(0), "flags"},
  };
}

TruncTable BoardAndDescriptor() {
  return {
      {Hex("00 26 00 25"), "WTP Board Data (38), 37"},
      {U32(41414), "  vendor"},
      {Cat({U16(0), U16(6), Str("ia-110")}), "  model"},
      {Cat({U16(1), U16(2), Str("S1")}), "  serial"},
      {Cat({U16(2), U16(3), Str("sim")}), "  board id"},
      {Cat({U16(4), U16(6), Hex(kMacHex)}), "  base MAC"},
      {Hex("00 27 00 28"), "WTP Descriptor (39), 40"},
      {Hex("01 01 01 01 00 00"), "  radios 1/1, one encryption sub-element, WBID 1, caps 0"},
      {Cat({U32(41414), U16(0), U16(2), Str("A1")}), "  hardware version"},
      {Cat({U32(41414), U16(1), U16(5), Str("1.0.0")}), "  software version"},
      {Cat({U32(41414), U16(2), U16(3), Str("1.0")}), "  boot version"},
  };
}

const TruncRow kRadioInfo = {Hex("04 18 00 05 01 00 00 00 0d"), "Radio Information: radio 1, b/g/n"};

TEST(WtpSimBuilders, DiscoveryRequest) {
  const TruncTable expected = Concat({
      Headers(CW_MSG_DISCOVERY_REQ, 7, 109),
      {{Hex("00 14 00 01 01"), "Discovery Type: static"}},
      BoardAndDescriptor(),
      {{Hex("00 29 00 01 04"), "Frame Tunnel Mode: 802.3"},
       {Hex("00 2c 00 01 00"), "MAC Type: local"},
       kRadioInfo},
  });
  EXPECT_TRUE(BytesMatch(sim::BuildDiscoveryRequest(OneRadioAp(), 7), expected));
}

TEST(WtpSimBuilders, JoinRequest) {
  const TruncTable expected = Concat({
      Headers(CW_MSG_JOIN_REQ, 8, 163),
      {{Cat({Hex("00 1c 00 03"), Str("lab")}), "Location Data"}},
      BoardAndDescriptor(),
      {{Cat({Hex("00 2d 00 06"), Str("ap-one")}), "WTP Name"},
       {Cat({Hex("00 23 00 10"), Hex(kSessionHex)}), "Session ID"},
       {Hex("00 29 00 01 04"), "Frame Tunnel Mode"},
       {Hex("00 2c 00 01 00"), "MAC Type"},
       {Hex("00 25 00 12"), "Vendor Specific Payload, 18"},
       {U32(41414), "  vendor"},
       {Hex("00 7f 00 04 00 00 00 01"), "  127 master status 1"},
       {Hex("00 c6 00 02 00 02"), "  198 capability bits 2"},
       kRadioInfo},
  });
  EXPECT_TRUE(BytesMatch(sim::BuildJoinRequest(OneRadioAp(), 8), expected));
}

TEST(WtpSimBuilders, ConfigurationStatusRequest) {
  const TruncTable expected = Concat({
      Headers(CW_MSG_CFG_STATUS_REQ, 9, 66),
      {{Hex("00 04 00 00"), "AC Name, empty"},
       kRadioInfo,
       {Hex("04 16 00 10"), "Radio Configuration (1046), 16"},
       {Hex("01 01 10 01"), "  radio 1, short preamble, 16 BSSIDs, DTIM 1"},
       {Hex("02 11 22 33 44 65"), "  BSSID"},
       {Hex("00 64 55 53 20 00"), "  beacon 100, country \"US \""},
       {Hex("04 04 00 08 01 00 06 01 00 00 00 00"), "DSSS Control: radio 1, channel 6, CCA 1"},
       {Hex("04 11 00 04 01 00 00 14"), "Tx Power: radio 1, 20"},
       {Hex("04 10 00 09 01 82 84 8b 96 0c 12 18 24"), "Supported Rates: radio 1"}},
  });
  EXPECT_TRUE(BytesMatch(sim::BuildConfigStatusRequest(OneRadioAp(), 9), expected));
}

TEST(WtpSimBuilders, FiveGigahertzRadioReportsOfdmControl) {
  WtpIdentity id = OneRadioAp();
  id.radios = sim::DefaultRadios(id.mac, 2);
  const Decoded d = Decode(sim::BuildConfigStatusRequest(id, 1));
  ASSERT_TRUE(d.complete);
  const CwElement* ofdm = d.Find(1033);
  ASSERT_NE(ofdm, nullptr);
  EXPECT_EQ(Bytes(ofdm->value.begin(), ofdm->value.end()), Hex("02 00 24 02 00 00 00 00"));
  const CwElement* info = d.Find(1048);
  EXPECT_EQ(info->value[0], 1);
}

TEST(WtpSimBuilders, ChangeStateEchoAndKeepalive) {
  EXPECT_TRUE(BytesMatch(sim::BuildChangeStateRequest(OneRadioAp(), 10),
                         Concat({Headers(CW_MSG_CHG_STATE_REQ, 10, 15),
                                 {{Hex("00 20 00 03 01 01 00"), "Radio Operational State: 1 enabled"},
                                  {Hex("00 21 00 04 00 00 00 00"), "Result Code 0"}}})));
  EXPECT_TRUE(BytesMatch(sim::BuildEchoRequest(OneRadioAp(), 11),
                         Concat({Headers(CW_MSG_ECHO_REQ, 11, 20),
                                 {{Cat({Hex("00 23 00 10"), Hex(kSessionHex)}), "Session ID"}}})));
  EXPECT_TRUE(BytesMatch(sim::BuildKeepalive(OneRadioAp().session_id),
                         {{Hex("00 10 00 08"), "preamble, HLEN 2, K"},
                          {U16(0), "fragment id"},
                          {U16(0), "fragment offset"},
                          {U16(20), "element length"},
                          {Hex("00 23 00 10"), "Session ID (35), 16"},
                          {Hex(kSessionHex), "  session"}}));
}

TEST(WtpSimBuilders, ImageDataRequestAndResponses) {
  const Bytes identifier = ImageIdentifierValue("ia-110", "2.0", "ia-110-2.0");
  EXPECT_TRUE(BytesMatch(sim::BuildImageDataRequest(12, identifier),
                         Concat({Headers(CW_MSG_IMAGE_DATA_REQ, 12, 120),
                                 {{Hex("00 19 00 70"), "Image Identifier (25), 112"},
                                  {identifier, "  as the Join Response gave it"},
                                  {Hex("00 1b 00 00"), "Initiate Download, empty"}}})));
  // A failure result carries nothing else.
  EXPECT_TRUE(BytesMatch(sim::BuildResponse(CW_MSG_CFG_UPDATE_RSP, 13, 2, Hex("00 01 00 00")),
                         Concat({Headers(CW_MSG_CFG_UPDATE_RSP, 13, 8),
                                 {{Hex("00 21 00 04 00 00 00 02"), "Result Code 2"}}})));
  const Bytes wlan_request = Hex("04 00 00 03 02 05 00  00 1b 00 00  04 00 00 02 01 01");
  const WtpIdentity id = [] {
    WtpIdentity w = OneRadioAp();
    w.radios = sim::DefaultRadios(w.mac, 2);
    return w;
  }();
  EXPECT_TRUE(BytesMatch(
      sim::BuildResponse(CW_MSG_WLAN_CFG_RSP, 14, 0, sim::AssignedBssidElements(id, wlan_request)),
      Concat({Headers(CW_MSG_WLAN_CFG_RSP, 14, 32),
              {{Hex("00 21 00 04 00 00 00 00"), "Result Code 0"},
               {Hex("04 02 00 08 02 05 02 11 22 33 44 7a"), "Assigned BSSID radio 2 WLAN 5"},
               {Hex("04 02 00 08 01 01 02 11 22 33 44 66"), "Assigned BSSID radio 1 WLAN 1"}}})));
}

TEST(WtpSimBuilders, ProjectDecodersAcceptBoardDataAndDescriptor) {
  test::ResetAllGlobals();
  const Decoded d = Decode(sim::BuildDiscoveryRequest(OneRadioAp(), 1));
  CW_WTP_BOARD_DATA bd;
  ASSERT_EQ(CW_DEC_IE_WtpBD(&bd, d.Find(38)->value.data(), d.Find(38)->value.size()), 0);
  EXPECT_EQ(FieldText(bd.serial), "S1");
  CW_WTP_DESCRIPTOR desc;
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&desc, d.Find(39)->value.data(), d.Find(39)->value.size()), 0);
  EXPECT_EQ(FieldText(desc.boot_version), "1.0");
}

// --- Checks of what the AC sends ------------------------------------------

TruncTable DiscoveryResponseTable(uint8_t priority) {
  return Concat({
      Headers(CW_MSG_DISCOVERY_RSP, 3, 219),
      {{Hex("00 01 00 9c"), "AC Descriptor: header"},
       {Cat({Fill(0, 12), U32(41414), U16(4), U16(64), Fill(0, 64), U32(41414), U16(5), U16(64),
             Fill(0, 64)}),
        "AC Descriptor: value"},
       {Hex("00 04 00 20"), "AC Name: header"},
       {Fill(0, 32), "AC Name: value"},
       {Hex("00 0a 00 06 00 00 00 00 00 00"), "control IPv4 address"},
       {Hex("00 25"), "vendor payload: type"},
       {U16(9), "vendor payload: length"},
       {Cat({U32(41414), U16(128), U16(1)}), "  vendor, element 128, length 1"},
       {U8(priority), "  priority"}},
  });
}

bool DiscoveryOk(ByteView in) {
  sim::ControlMessage msg;
  sim::DiscoveryResponseInfo info;
  return sim::ParseControl(in, &msg, nullptr) &&
         sim::DecodeDiscoveryResponse(msg, &info, nullptr);
}

TEST(WtpSimChecks, DiscoveryResponse) {
  const TruncTable table = DiscoveryResponseTable(4);
  EXPECT_TRUE(BytesMatch(DiscoveryResponse(3, 4), table));
  EXPECT_TRUE(CheckTruncations(table, DiscoveryOk));
  EXPECT_TRUE(CheckLengthMutations(table, "vendor payload: length", DiscoveryOk));
  EXPECT_TRUE(CheckLengthMutations(table, "element length", DiscoveryOk, {.offset = 0}));
  for (uint8_t bad : {0, 8, 255}) EXPECT_FALSE(DiscoveryOk(Flatten(DiscoveryResponseTable(bad))));
  // Element 11 in place of element 10 is refused, even towards IPv6.
  const Bytes v6 = AcMessage(CW_MSG_DISCOVERY_RSP, 3, [](CW_PKT& pkt) {
    { CwElementWriter e(pkt, 1); e.w().zeros(156); }
    { CwElementWriter e(pkt, 4); e.w().zeros(32); }
    { CwElementWriter e(pkt, 11); e.w().zeros(18); }
    { CwElementWriter e(pkt, 37); e.w().u32(41414); e.w().u16(128); e.w().u16(1); e.w().u8(4); }
  });
  EXPECT_FALSE(DiscoveryOk(v6));
  sim::ControlMessage msg;
  sim::DiscoveryResponseInfo info;
  std::string why;
  const Bytes seven = DiscoveryResponse(3, 7);
  ASSERT_TRUE(sim::ParseControl(seven, &msg, &why)) << why;
  ASSERT_TRUE(sim::DecodeDiscoveryResponse(msg, &info, &why)) << why;
  EXPECT_EQ(info.priority, 7);
  EXPECT_EQ(info.vendor_id, 41414u);
}

TEST(WtpSimChecks, HeadersAreCheckedBeforeElements) {
  const Bytes good = DiscoveryResponse(3);
  std::string why;
  sim::ControlMessage msg;
  Bytes hlen4 = good;
  hlen4[1] = 0x20;
  EXPECT_FALSE(sim::ParseControl(hlen4, &msg, &why));
  EXPECT_NE(why.find("illegal CAPWAP header"), std::string::npos);
  Bytes keepalive_bit = good;
  keepalive_bit[3] = 0x08;
  EXPECT_FALSE(sim::ParseControl(keepalive_bit, &msg, &why));
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(sim::ParseControl(trailing, &msg, &why));
  EXPECT_NE(why.find("element length 219 but 220 octets follow"), std::string::npos) << why;
}

TruncTable JoinResponseTable(const Bytes& identifier) {
  return Concat({
      Headers(CW_MSG_JOIN_RSP, 4, 335),
      {{Hex("00 21 00 04 00 00 00 00"), "Result Code 0", Outcome::kFail},
       {Cat({Hex("00 01 00 9c"), Fill(0, 156)}), "AC Descriptor"},
       {Cat({Hex("00 04 00 20"), Fill(0, 32)}), "AC Name"},
       {Hex("00 0a 00 06 00 00 00 00 00 00"), "control IPv4 address"},
       {Hex("00 33 00 01 02"), "transport protocol UDP"},
       {Hex("00 19"), "image: type"},
       {U16(112), "image: length"},
       {identifier, "image: value"}},
  });
}

bool JoinOk(ByteView in) {
  sim::ControlMessage msg;
  sim::JoinResponseInfo info;
  return sim::ParseControl(in, &msg, nullptr) && sim::DecodeJoinResponse(msg, &info, nullptr);
}

TEST(WtpSimChecks, JoinResponse) {
  const Bytes identifier = ImageIdentifierValue("ia-110", "2.1.5", "ia-110-2.1.5");
  const TruncTable table = JoinResponseTable(identifier);
  EXPECT_TRUE(BytesMatch(JoinResponse(4, 0, &identifier), table));
  EXPECT_TRUE(CheckTruncations(table, JoinOk));
  EXPECT_TRUE(CheckLengthMutations(table, "image: length", JoinOk));

  sim::ControlMessage msg;
  sim::JoinResponseInfo info;
  std::string why;
  const Bytes full = Flatten(table);
  ASSERT_TRUE(sim::ParseControl(full, &msg, &why));
  ASSERT_TRUE(sim::DecodeJoinResponse(msg, &info, &why)) << why;
  EXPECT_TRUE(info.has_image);
  EXPECT_EQ(info.image_model, "ia-110");
  EXPECT_EQ(info.image_version, "2.1.5");
  EXPECT_EQ(info.image_name, "ia-110-2.1.5");
  EXPECT_EQ(info.image_identifier, identifier);

  // A refusal is only its Result Code.
  const Bytes refused = JoinResponse(4, 6);
  ASSERT_TRUE(sim::ParseControl(refused, &msg, &why));
  ASSERT_TRUE(sim::DecodeJoinResponse(msg, &info, &why));
  EXPECT_EQ(info.result_code, 6u);
  // Success without the AC's description, or without a Result Code first.
  const Bytes bare = ResultResponse(CW_MSG_JOIN_RSP, 4, 0);
  ASSERT_TRUE(sim::ParseControl(bare, &msg, &why));
  EXPECT_FALSE(sim::DecodeJoinResponse(msg, &info, &why));
  EXPECT_EQ(why, "Join Response lacks AC Descriptor AC Name control address transport protocol");
  const Bytes no_result = ConfigStatusResponse(4);
  ASSERT_TRUE(sim::ParseControl(no_result, &msg, &why));
  EXPECT_FALSE(sim::DecodeJoinResponse(msg, &info, &why));
  // An Image Identifier whose sub-element runs past it.
  Bytes broken = identifier;
  broken[4 + 3] = 200;
  const Bytes with_broken = JoinResponse(4, 0, &broken);
  ASSERT_TRUE(sim::ParseControl(with_broken, &msg, &why));
  EXPECT_FALSE(sim::DecodeJoinResponse(msg, &info, &why));
}

bool KeepaliveOk(ByteView in) {
  sim::SessionId id;
  return sim::DecodeKeepalive(in, &id, nullptr);
}

TEST(WtpSimChecks, Keepalive) {
  const TruncTable table = {
      {Hex("00 10 00 08"), "preamble, HLEN 2, K"},
      {Hex("00 00 00 00"), "fragment"},
      {U16(20), "element length"},
      {U16(35), "type"},
      {U16(16), "length"},
      {Hex(kSessionHex), "session"},
  };
  EXPECT_TRUE(CheckTruncations(table, KeepaliveOk));
  EXPECT_TRUE(CheckLengthMutations(table, "element length", KeepaliveOk));
  EXPECT_TRUE(CheckLengthMutations(table, "length", KeepaliveOk));
  Bytes no_k = Flatten(table);
  no_k[3] = 0;
  EXPECT_FALSE(KeepaliveOk(no_k));
  Bytes other_type = Flatten(table);
  other_type[11] = 36;
  EXPECT_FALSE(KeepaliveOk(other_type));
}

bool ImageBlockOk(ByteView in) {
  sim::ControlMessage msg;
  sim::ImageBlock block;
  return sim::ParseControl(in, &msg, nullptr) && sim::DecodeImageBlock(msg, &block, nullptr);
}

TEST(WtpSimChecks, ImageBlocks) {
  const TruncTable last = Concat({
      Headers(CW_MSG_IMAGE_DATA_REQ, 5, 32),
      {{Hex("00 18 00 04"), "Image Data: header"},
       {Hex("02 aa bb cc"), "  end of file, 3 octets"},
       {Hex("00 1a"), "Image Information: type"},
       {U16(20), "Image Information: length"},
       {Cat({U32(3), Fill(0x11, 16)}), "  size 3, digest"}},
  });
  EXPECT_TRUE(CheckTruncations(last, ImageBlockOk));
  EXPECT_TRUE(CheckLengthMutations(last, "Image Information: length", ImageBlockOk));
  sim::ControlMessage msg;
  sim::ImageBlock block;
  std::string why;
  const Bytes bytes = Flatten(last);
  ASSERT_TRUE(sim::ParseControl(bytes, &msg, &why));
  ASSERT_TRUE(sim::DecodeImageBlock(msg, &block, &why)) << why;
  EXPECT_EQ(block.data_type, 2);
  EXPECT_EQ(Bytes(block.data.begin(), block.data.end()), Hex("aa bb cc"));
  EXPECT_EQ(block.size, 3u);

  const Bytes bad_type = AcMessage(CW_MSG_IMAGE_DATA_REQ, 5, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 24);
    e.w().u8(5);
  });
  EXPECT_FALSE(ImageBlockOk(bad_type));
  const Bytes empty = AcMessage(CW_MSG_IMAGE_DATA_REQ, 5, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 24);
  });
  EXPECT_FALSE(ImageBlockOk(empty));
  const Bytes eof_alone = AcMessage(CW_MSG_IMAGE_DATA_REQ, 5, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 24);
    e.w().u8(2);
  });
  EXPECT_FALSE(ImageBlockOk(eof_alone));
}

TEST(WtpSimChecks, CapwapTimersAndResultCode) {
  sim::ControlMessage msg;
  const Bytes timers = ConfigStatusResponse(1, 20);
  ASSERT_TRUE(sim::ParseControl(timers, &msg, nullptr));
  ASSERT_TRUE(sim::FindCapwapTimers(msg));
  EXPECT_EQ(sim::FindCapwapTimers(msg)->echo, 20);
  EXPECT_FALSE(sim::FindResultCode(msg));
  const Bytes odd_timers = AcMessage(CW_MSG_CFG_UPDATE_REQ, 1, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 12);
    e.w().u8(3);
  });
  ASSERT_TRUE(sim::ParseControl(odd_timers, &msg, nullptr));
  EXPECT_FALSE(sim::FindCapwapTimers(msg));
  const Bytes result = ResultResponse(CW_MSG_IMAGE_DATA_RSP, 1, 9);
  ASSERT_TRUE(sim::ParseControl(result, &msg, nullptr));
  EXPECT_EQ(sim::FindResultCode(msg), 9u);
}

// --- Fragmentation ----------------------------------------------------------

Bytes Datagram(size_t payload) {
  Bytes d(8 + payload);
  d[1] = 0x10;
  for (size_t i = 8; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 13);
  return d;
}

TEST(WtpSimFragments, SplitsAt1409Octets) {
  EXPECT_EQ(sim::FragmentDatagram(Datagram(1400), 1).size(), 1u);  // 1408 octets
  const std::vector<Bytes> two = sim::FragmentDatagram(Datagram(1409), 0x1234);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].size(), 1408u);
  EXPECT_EQ(two[1].size(), 17u);
  EXPECT_EQ(Bytes(two[0].begin(), two[0].begin() + 8), Hex("00 10 00 80 12 34 00 00"));
  EXPECT_EQ(Bytes(two[1].begin(), two[1].begin() + 8), Hex("00 10 00 c0 12 34 00 af"));
  const std::vector<Bytes> full = sim::FragmentDatagram(Datagram(2800), 2);
  ASSERT_EQ(full.size(), 2u);
  EXPECT_EQ(full[1].size(), 1408u);
}

TEST(WtpSimFragments, ReassemblesInOffsetOrder) {
  const Bytes original = Datagram(3000);
  std::vector<Bytes> parts = sim::FragmentDatagram(original, 5);
  ASSERT_EQ(parts.size(), 3u);
  sim::Reassembler r;
  Bytes out;
  std::string why;
  auto add = [&](const Bytes& f) {
    CW_HDR hdr;
    CW_DEC_CWHdr(&hdr, f.data());
    return r.Add(hdr, f, &out, &why);
  };
  EXPECT_EQ(add(parts[2]), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(add(parts[0]), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(add(parts[0]), sim::Reassembler::Result::kHeld);  // a repeat changes nothing
  EXPECT_EQ(r.held(), 2u);
  EXPECT_EQ(add(parts[1]), sim::Reassembler::Result::kComplete);
  EXPECT_EQ(out, original);
  EXPECT_FALSE(r.InProgress());

  // A single fragment carrying F and L completes at once.
  Bytes single = Datagram(20);
  single[3] = 0xc0;
  EXPECT_EQ(add(single), sim::Reassembler::Result::kComplete);
  EXPECT_EQ(out.size(), 28u);
  EXPECT_EQ(out[3], 0);

  // Another ID abandons the message being collected.
  std::vector<Bytes> other = sim::FragmentDatagram(Datagram(2000), 6);
  EXPECT_EQ(add(parts[0]), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(add(other[0]), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(add(parts[1]), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(r.held(), 1u);
}

TEST(WtpSimFragments, RefusesHostileFragmentSets) {
  sim::Reassembler r;
  Bytes out;
  std::string why;
  auto fragment = [](uint16_t offset, size_t payload, bool last) {
    Bytes f = Datagram(payload);
    CW_HDR hdr;
    hdr.SetBit(kHdrBitF, true);
    hdr.SetBit(kHdrBitL, last);
    hdr.frag_id = 9;
    hdr.frag_offset = offset;
    CW_EncCwHdr(&hdr, f.data());
    return std::make_pair(hdr, f);
  };
  for (uint16_t i = 0; i < 51; ++i) {
    auto [hdr, f] = fragment(static_cast<uint16_t>(i * 2), 8, false);
    ASSERT_EQ(r.Add(hdr, f, &out, &why), sim::Reassembler::Result::kHeld);
  }
  auto [hdr52, f52] = fragment(200, 8, true);
  EXPECT_EQ(r.Add(hdr52, f52, &out, &why), sim::Reassembler::Result::kRejected);
  EXPECT_EQ(why, "more than 51 fragments in one message");
  EXPECT_FALSE(r.InProgress());

  auto [first, f1] = fragment(0, 1400, false);
  auto [overlap, f2] = fragment(100, 16, true);
  EXPECT_EQ(r.Add(first, f1, &out, &why), sim::Reassembler::Result::kHeld);
  EXPECT_EQ(r.Add(overlap, f2, &out, &why), sim::Reassembler::Result::kRejected);
  EXPECT_EQ(why, "overlapping fragments");

  auto [empty_hdr, empty] = fragment(0, 0, true);
  EXPECT_EQ(r.Add(empty_hdr, empty, &out, &why), sim::Reassembler::Result::kRejected);
}

// --- Identities and the command line ---------------------------------------

TEST(WtpSimIdentity, MacsNamesAndSerialsCountUp) {
  sim::SimConfig config;
  ASSERT_TRUE(sim::ParseMac("02:aa:bb:cc:ff:ff", &config.mac_base));
  config.radios = 3;
  config.name_prefix = "lab-";
  const WtpIdentity second = sim::MakeIdentity(config, 1);
  EXPECT_EQ(sim::MacText(second.mac), "02:aa:bb:cd:00:00");
  EXPECT_EQ(second.name, "lab-2");
  EXPECT_EQ(second.serial, "SIM02AABBCD0000");
  ASSERT_EQ(second.radios.size(), 3u);
  EXPECT_EQ(second.radios[2].channel, 149);
  sim::Mac mac{};
  EXPECT_TRUE(sim::ParseMac("0200-5e00-0001", &mac));
  EXPECT_EQ(sim::MacText(mac), "02:00:5e:00:00:01");
  EXPECT_FALSE(sim::ParseMac("02:00:5e:00:00", &mac));
  EXPECT_FALSE(sim::ParseMac("02:00:5e:00:00:0g", &mac));
}

int Parse(std::vector<std::string> args, sim::SimCommandLine* cl, std::string* text) {
  args.insert(args.begin(), "wtp-sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return sim::ParseSimCommandLine(static_cast<int>(args.size()), argv.data(), cl, text);
}

TEST(WtpSimCommandLine, OptionsReachTheConfiguration) {
  sim::SimCommandLine cl;
  std::string text;
  ASSERT_EQ(Parse({"--ac", "10.1.2.3", "--count", "40", "--port-base", "6000", "--silent-after-run",
                   "all", "--result", "7=2", "--mac-base", "02-aa-bb-cc-dd-ee", "--echo-interval",
                   "0", "--scramble", "--duration", "5", "--log-file", "/tmp/x", "--virtual",
                   "--model", "ia-220", "-v", "--config-status-size", "3000", "--frag-drop", "1",
                   "--frag-dup", "0:2", "--frag-same-id", "--first-frag-id", "513"},
                  &cl, &text),
            -1)
      << text;
  const sim::SimConfig& c = cl.config;
  EXPECT_EQ(c.ac.address, "10.1.2.3");
  EXPECT_FALSE(c.ac.ipv6);
  EXPECT_EQ(c.count, 40u);
  EXPECT_EQ(c.ac.control_port, 6000);
  EXPECT_EQ(c.ac.data_port, 6001);
  EXPECT_TRUE(c.knobs.silent_echo);
  EXPECT_TRUE(c.knobs.silent_keepalive);
  EXPECT_EQ(c.knobs.result_codes.at(7), 2u);
  EXPECT_EQ(sim::MacText(c.mac_base), "02:aa:bb:cc:dd:ee");
  EXPECT_EQ(c.timing.echo_interval, 0u);
  EXPECT_TRUE(c.ac.scramble);
  EXPECT_EQ(cl.duration, 5u);
  EXPECT_EQ(cl.log_file, "/tmp/x");
  EXPECT_EQ(c.master_status, 0u);
  EXPECT_EQ(c.model, "ia-220");
  EXPECT_TRUE(c.verbose);
  EXPECT_EQ(c.knobs.config_status_padding, 3000u);
  EXPECT_EQ(c.knobs.frag_faults.drop, 1);
  EXPECT_EQ(c.knobs.frag_faults.dup_from, 0);
  EXPECT_EQ(c.knobs.frag_faults.dup_into, 2);
  EXPECT_TRUE(c.knobs.frag_same_id);
  EXPECT_EQ(c.knobs.first_frag_id, 513u);

  sim::SimCommandLine v6;
  ASSERT_EQ(Parse({"--ac", "::1", "--silent-after-run", "echo"}, &v6, &text), -1);
  EXPECT_TRUE(v6.config.ac.ipv6);
  EXPECT_TRUE(v6.config.knobs.silent_echo);
  EXPECT_FALSE(v6.config.knobs.silent_keepalive);
}

TEST(WtpSimCommandLine, PortBaseComesFromTheEnvironment) {
  setenv("CAPWAP_PORT_BASE", "7000", 1);
  sim::SimCommandLine cl;
  std::string text;
  const int status = Parse({"--ac", "127.0.0.1"}, &cl, &text);
  unsetenv("CAPWAP_PORT_BASE");
  ASSERT_EQ(status, -1);
  EXPECT_EQ(cl.config.ac.control_port, 7000);
  EXPECT_EQ(cl.config.ac.data_port, 7001);
  sim::SimCommandLine plain;
  ASSERT_EQ(Parse({"--ac", "127.0.0.1"}, &plain, &text), -1);
  EXPECT_EQ(plain.config.ac.control_port, 5246);
}

TEST(WtpSimCommandLine, HelpAndMistakes) {
  sim::SimCommandLine cl;
  std::string text;
  EXPECT_EQ(Parse({"--help"}, &cl, &text), 0);
  EXPECT_NE(text.find("--silent-after-run WHAT"), std::string::npos);
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"--count", "3"},
      {"--ac", "127.0.0.1", "--count", "0"},
      {"--ac", "127.0.0.1", "--count", "many"},
      {"--ac", "127.0.0.1", "--silent-after-run", "sometimes"},
      {"--ac", "127.0.0.1", "--result", "8=1"},
      {"--ac", "127.0.0.1", "--result", "7"},
      {"--ac", "127.0.0.1", "--mac-base", "zz"},
      {"--ac", "127.0.0.1", "--radios", "5"},
      {"--ac", "127.0.0.1", "--frag-dup", "2:2"},
      {"--ac", "127.0.0.1", "--frag-dup", "2"},
      {"--ac", "127.0.0.1", "--bogus"},
      {"--ac", "127.0.0.1", "extra"},
      {"--ac"},
  };
  for (const auto& args : wrong) {
    text.clear();
    EXPECT_EQ(Parse(args, &cl, &text), 2) << (args.empty() ? "" : args.back());
    EXPECT_FALSE(text.empty());
  }
}

}  // namespace
}  // namespace capwap::simtest
