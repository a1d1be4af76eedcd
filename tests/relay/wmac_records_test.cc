// Byte layouts of the WMAC channel: every field at its offset and width.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "platform/bytes.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"

namespace capwap {
namespace {

uint32_t U32(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}
uint16_t U16(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 2));
  uint16_t v = 0;
  r.u16(v);
  return v;
}
std::string Str(ByteView rec, size_t off, size_t width) {
  return std::string(reinterpret_cast<const char*>(rec.data() + off), width);
}
bool AllZero(ByteView rec, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (rec[i]) return false;
  }
  return true;
}

TEST(IpcHeadTest, SevenHostOrderWords) {
  IpcHead head{0x01010101, 0x02020202, 0x03030303, 0x04040404,
               0x05050505, 0x06060606, 0x07070707};
  uint8_t raw[kIpcHeadSize];
  IpcHeadEncode(head, raw);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(U32(ByteView(raw), 4 * i), 0x01010101u * (i + 1));

  IpcHead back;
  ASSERT_TRUE(IpcHeadDecode(ByteView(raw), &back));
  EXPECT_EQ(back.msg_type, head.msg_type);
  EXPECT_EQ(back.frame_param, head.frame_param);
  EXPECT_FALSE(IpcHeadDecode(ByteView(raw).first(27), &back));
}

TEST(WmacRecordTest, CreateApOffsets) {
  WmacCreateApRecord rec;
  rec.model = std::string(40, 'm');  // longer than its field
  rec.name = std::string(40, 'n');
  rec.mac = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
  rec.auto_created = 1;
  uint8_t raw[kWmacCreateApSize];
  WmacCreateApEncode(rec, raw);
  ByteView v(raw);
  EXPECT_EQ(Str(v, 0, 32), std::string(32, 'm'));
  EXPECT_EQ(Str(v, 32, 32), std::string(32, 'n'));
  EXPECT_EQ(raw[64], 0) << "the name stays NUL-terminated";
  EXPECT_EQ(raw[65], 0xA1);
  EXPECT_EQ(raw[70], 0xA6);
  EXPECT_EQ(raw[71], 1);

  rec.name = "ap7";
  rec.model = "x";
  WmacCreateApEncode(rec, raw);
  EXPECT_EQ(Str(v, 32, 4), std::string("ap7\0", 4));
  EXPECT_TRUE(AllZero(v, 1, 32));
  EXPECT_TRUE(AllZero(v, 35, 65));
}

TEST(WmacRecordTest, ApInfoOffsetsAndSourceFields) {
  CW_WTPCB wtp;
  wtp.apid = 0x11223344;
  wtp.serial = "SN-0001";
  SetFieldText(wtp.descriptor.sw_version, std::string(64, 's'));
  SetFieldText(wtp.descriptor.hw_version, std::string(40, 'h'));
  wtp.mac = {1, 2, 3, 4, 5, 6};
  wtp.board_vendor_id = 0xCAFEBABE;
  uint8_t raw[kWmacApInfoSize];
  WmacApInfoEncode(WmacApInfoOf(wtp), raw);
  ByteView v(raw);
  EXPECT_EQ(U32(v, 0), 0x11223344u);
  EXPECT_TRUE(AllZero(v, 4, 36));
  EXPECT_EQ(Str(v, 36, 8), std::string("SN-0001\0", 8));
  EXPECT_TRUE(AllZero(v, 44, 68));
  EXPECT_EQ(Str(v, 68, 64), std::string(64, 's'));
  EXPECT_EQ(raw[132], 1);
  EXPECT_EQ(raw[137], 6);
  EXPECT_EQ(Str(v, 138, 31), std::string(31, 'h')) << "cut to the 31-byte field";
  EXPECT_TRUE(AllZero(v, 169, 172));
  EXPECT_EQ(U32(v, 172), 0xCAFEBABEu);
}

CW_TUNNEL_RECORD SampleTunnel() {
  CW_TUNNEL_RECORD rec;
  rec.state = 2;
  rec.apid = 31;
  rec.family = 1;
  std::iota(rec.ac_addr.begin(), rec.ac_addr.end(), uint8_t{0x10});
  std::iota(rec.wtp_data_addr.begin(), rec.wtp_data_addr.end(), uint8_t{0x40});
  rec.ac_data_port = 5247;
  rec.wtp_data_port = 0xBEEF;
  rec.virtual_ap = 1;
  rec.scrambled = 1;
  return rec;
}

TEST(WmacRecordTest, TunnelOffsetsAndRoundTrip) {
  CW_TUNNEL_RECORD rec = SampleTunnel();
  uint8_t raw[kTunnelRecordSize];
  TunnelRecordEncode(rec, raw);
  ByteView v(raw);
  EXPECT_EQ(U32(v, 0), 2u);
  EXPECT_EQ(U32(v, 4), 31u);
  EXPECT_EQ(raw[8], 1);
  EXPECT_TRUE(AllZero(v, 9, 12));
  EXPECT_EQ(raw[12], 0x10);
  EXPECT_EQ(raw[27], 0x1F);
  EXPECT_EQ(raw[28], 0x40);
  EXPECT_EQ(raw[43], 0x4F);
  EXPECT_EQ(U16(v, 44), 5247);
  EXPECT_EQ(U16(v, 46), 0xBEEF);
  EXPECT_EQ(raw[48], 1);
  EXPECT_EQ(raw[49], 1);
  EXPECT_TRUE(AllZero(v, 50, 52));

  CW_TUNNEL_RECORD back;
  ASSERT_TRUE(TunnelRecordDecode(v, &back));
  EXPECT_EQ(back.apid, rec.apid);
  EXPECT_EQ(back.wtp_data_addr, rec.wtp_data_addr);
  EXPECT_EQ(back.wtp_data_port, rec.wtp_data_port);
}

TEST(WmacRecordTest, TunnelDecodeRefusesShortLongAndGarbage) {
  uint8_t raw[kTunnelRecordSize + 1] = {};
  TunnelRecordEncode(SampleTunnel(), raw);
  CW_TUNNEL_RECORD out;
  out.apid = 777;
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 51), &out));
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 53), &out));
  raw[0] = 3;  // no such state
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 52), &out));
  raw[0] = 1;
  raw[10] = 0xFF;  // padding is always zero
  EXPECT_FALSE(TunnelRecordDecode(ByteView(raw, 52), &out));
  Bytes noise(52, 0xFF);
  EXPECT_FALSE(TunnelRecordDecode(noise, &out));
  EXPECT_EQ(out.apid, 777u) << "a refused record leaves the output alone";
}

// An APM payload whose byte i is (i + 1) & 0xFF, except where a test puts
// text.
Bytes PatternPayload(size_t n) {
  Bytes p(n);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i + 1);
  return p;
}

TEST(WmacRecordTest, ProfileRecordFromApmPayload) {
  Bytes payload = PatternPayload(128);
  std::string text = "office-profile";
  for (size_t i = 0; i < 33; ++i) payload[6 + i] = i < text.size() ? text[i] : 0;
  uint8_t raw[kWmacProfileRecordSize];
  ASSERT_TRUE(WmacProfileRecordFromApm(payload, 12, raw));
  ByteView v(raw);
  EXPECT_EQ(U32(v, 0), 12u);
  EXPECT_TRUE(AllZero(v, 4, 8));
  EXPECT_EQ(Bytes(raw + 8, raw + 14), Bytes(payload.begin(), payload.begin() + 6));
  EXPECT_EQ(Str(v, 14, text.size() + 1), text + '\0');
  EXPECT_TRUE(AllZero(v, 14 + text.size(), 47));
  EXPECT_EQ(Bytes(raw + 47, raw + 112), Bytes(payload.begin() + 39, payload.begin() + 104));
  EXPECT_EQ(U32(v, 112), U32(payload, 104));
  EXPECT_EQ(U32(v, 116), U32(payload, 120));
  EXPECT_EQ(U32(v, 120), U32(payload, 124));
  EXPECT_EQ(U32(v, 124), U32(payload, 108));
  EXPECT_EQ(raw[128], payload[112]);
  EXPECT_EQ(raw[129], 0);
  EXPECT_EQ(Bytes(raw + 130, raw + 137), Bytes(payload.begin() + 113, payload.begin() + 120));
  EXPECT_TRUE(AllZero(v, 137, 204));
}

TEST(WmacRecordTest, ProfileTextWithoutTerminatorStaysInItsField) {
  Bytes payload = PatternPayload(128);
  for (size_t i = 6; i < 39; ++i) payload[i] = 'x';
  uint8_t raw[kWmacProfileRecordSize];
  ASSERT_TRUE(WmacProfileRecordFromApm(payload, 0, raw));
  EXPECT_EQ(Str(ByteView(raw), 14, 32), std::string(32, 'x'));
  EXPECT_EQ(raw[46], 0);
  EXPECT_EQ(raw[47], payload[39]);

  uint8_t untouched[kWmacProfileRecordSize];
  std::fill(std::begin(untouched), std::end(untouched), 0xEE);
  EXPECT_FALSE(WmacProfileRecordFromApm(ByteView(payload).first(127), 1, untouched));
  EXPECT_EQ(untouched[0], 0xEE);
}

TEST(WmacRecordTest, RadioRecordFromApmPayload) {
  Bytes payload = PatternPayload(76);
  uint8_t raw[kWmacProfileRecordSize];
  ASSERT_TRUE(WmacRadioRecordFromApm(payload, 0x0A0B0C0D, raw));
  ByteView v(raw);
  EXPECT_EQ(U32(v, 0), 0x0A0B0C0Du);
  EXPECT_EQ(U32(v, 4), U32(payload, 8));
  EXPECT_TRUE(AllZero(v, 8, 140));
  for (size_t r = 0; r < 4; ++r) {
    EXPECT_EQ(Bytes(raw + 140 + 16 * r, raw + 148 + 16 * r),
              Bytes(payload.begin() + 12 + 16 * r, payload.begin() + 20 + 16 * r))
        << "radio " << r;
    EXPECT_EQ(Bytes(raw + 148 + 16 * r, raw + 156 + 16 * r),
              Bytes(payload.begin() + 20 + 16 * r, payload.begin() + 28 + 16 * r))
        << "radio " << r;
  }
  EXPECT_FALSE(WmacRadioRecordFromApm(ByteView(payload).first(75), 1, raw));
}

Bytes Sub(size_t n, uint8_t radio, uint8_t fill) {
  Bytes b(n, fill);
  b[0] = radio;
  return b;
}

TEST(WmacRecordTest, RadioBindingTlvOrderAndFixedLengths) {
  CW_RDBIND rd;
  rd.idle_timeout = 300;  // not sent to WMAC
  rd.radios[0].radio_id = 1;
  rd.radios[0].sub[1] = Sub(10, 1, 0x11);   // TLV 1
  rd.radios[0].sub[4] = Sub(8, 1, 0x44);    // TLV 4 stays with the AC
  rd.radios[0].sub[14] = Sub(10, 1, 0xEE);  // TLV 14 goes after 15
  rd.radios[0].sub[15] = Sub(76, 1, 0xFF);
  rd.radios[0].sub[17] = Sub(2, 1, 0x18);   // TLV 18
  rd.radios[2].radio_id = 3;
  rd.radios[2].sub[3] = Sub(20, 3, 0x33);   // longer than TLV 3's 16: cut
  rd.radios[2].sub[25] = Sub(3, 3, 0x27);   // shorter than TLV 27's 7: padded

  Bytes out(kWmacRdBindBufSize);
  size_t used = CW_EncRdBindTlv(rd, out);
  WireReader r(ByteView(out).first(used));
  struct Seen {
    uint16_t type, len;
    Bytes value;
  };
  std::vector<Seen> seen;
  while (r.remaining() > 0) {
    Seen s;
    ASSERT_TRUE(r.u16(s.type) && r.u16(s.len));
    s.value.resize(s.len);
    ASSERT_TRUE(r.bytes(s.value.data(), s.len));
    seen.push_back(s);
  }
  ASSERT_EQ(seen.size(), 6u);
  std::vector<std::pair<uint16_t, uint16_t>> order;
  for (const auto& s : seen) order.emplace_back(s.type, s.len);
  EXPECT_EQ(order, (std::vector<std::pair<uint16_t, uint16_t>>{
                       {1, 10}, {15, 76}, {14, 10}, {18, 2}, {3, 16}, {27, 7}}));
  EXPECT_EQ(seen[0].value, Sub(10, 1, 0x11));
  EXPECT_EQ(seen[4].value, Sub(16, 3, 0x33));
  Bytes padded = Sub(3, 3, 0x27);
  padded.resize(7, 0);
  EXPECT_EQ(seen[5].value, padded);

  EXPECT_EQ(CW_EncRdBindTlv(CW_RDBIND{}, out), 0u);
  Bytes tiny(20);
  EXPECT_EQ(CW_EncRdBindTlv(rd, tiny), 0u) << "too small a buffer is refused whole";
}

}  // namespace
}  // namespace capwap
