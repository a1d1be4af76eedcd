// The Discovery Response builder, byte for byte.
#include <gtest/gtest.h>

#include "fsm/discovery.h"
#include "fsm/discovery/discjoin_lab.h"

namespace discjoin_test {
namespace {

using namespace capwap::test;

// Every field a distinct sentinel, so a swapped or misplaced one shows.
CW_AC_GLOBALINFO SentinelInfo() {
  CW_AC_GLOBALINFO ac;
  ac.stations = 0x0102;
  ac.limit = 0x0304;
  ac.active_wtps = 0x0506;
  ac.max_wtps = 0x0708;
  ac.security = 0x09;
  ac.rmac = 0x0A;
  ac.reserved = 0x0B;
  ac.dtls_policy = 0x0C;
  SetFieldText(ac.hw_version, "hw-rev-7");
  SetFieldText(ac.sw_version, "sw-4.2");
  SetFieldText(ac.ac_name, "controller-one");
  capwap::HostWriter(ac.ctl_addr.data(), 4).u32(0xC0A80A01);  // 192.168.10.1
  ac.wtp_count = 3;
  return ac;
}

TruncTable Headers(uint32_t msg_type, uint8_t seq, uint16_t elem_len) {
  return {{U32(kHdrWord0), "transport: version 0, type 0, HLEN 2"},
          {U16(0), "transport: fragment ID"},
          {U16(0), "transport: fragment offset"},
          {U32(msg_type), "control: message type"},
          {U8(seq), "control: sequence number"},
          {U16(elem_len), "control: element length"},
          {U8(0), "control: flags"}};
}

TruncTable AcDescriptor(const CW_AC_GLOBALINFO& ac, uint32_t vendor) {
  return {{U16(1), "AC Descriptor: type"},
                  {U16(156), "AC Descriptor: length"},
                  {U16(0x0102), "stations"},
                  {U16(0x0304), "limit"},
                  {U16(0x0506), "active WTPs"},
                  {U16(0x0708), "maximum WTPs"},
                  {U8(0x09), "security"},
                  {U8(0x0A), "R-MAC"},
                  {U8(0x0B), "reserved"},
                  {U8(0x0C), "DTLS policy"},
                  {U32(vendor), "hardware: vendor"},
                  {U16(4), "hardware: type"},
                  {U16(64), "hardware: length"},
                  {Fixed(FieldText(ac.hw_version), 64), "hardware: version"},
                  {U32(vendor), "software: vendor"},
                  {U16(5), "software: type"},
                  {U16(64), "software: length"},
                  {Fixed(FieldText(ac.sw_version), 64), "software: version"}};
}

TruncTable AcName() {
  return {{U16(4), "AC Name: type"}, {U16(32), "AC Name: length"},
          {Fixed("controller-one", 32), "AC Name: value"}};
}

TEST(DiscoveryResponse, FourElementsExactlyAsTabled) {
  DaemonContext lab;
  const CW_AC_GLOBALINFO ac = SentinelInfo();
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(CW_AC_FillDiscResp(*pkt, ac, 0x00ABCDEF, 6, 0x2A), 0);

  const TruncTable expected = Concat({
      Headers(CW_MSG_DISCOVERY_RSP, 0x2A, 160 + 36 + 10 + 13),
      AcDescriptor(ac, 0x00ABCDEF),
      AcName(),
      {{U16(10), "control IPv4 address: type"},
       {U16(6), "control IPv4 address: length"},
       {Hex("c0 a8 0a 01"), "address, most significant first"},
       {U16(3), "WTP count"}},
      {{U16(37), "vendor payload: type"},
       {U16(9), "vendor payload: length"},
       {U32(0x00ABCDEF), "vendor identifier (the AP's)"},
       {U16(128), "element ID: priority"},
       {U16(1), "value length"},
       {U8(6), "priority"}},
  });
  EXPECT_EQ(pkt->length, Flatten(expected).size());
  EXPECT_TRUE(BytesMatch(ByteView(pkt->buffer.data(), pkt->length), expected));
  EXPECT_EQ(pkt->msg_type, CW_MSG_DISCOVERY_RSP);
  EXPECT_EQ(pkt->seq, 0x2Au);
}

TEST(DiscoveryResponse, AnIpv6ControllerRecordWritesElement11) {
  DaemonContext lab;
  CW_AC_GLOBALINFO ac;
  ac.family = 1;
  capwap::HostWriter w(ac.ctl_addr.data(), 16);
  for (uint32_t word : {0x20010db8u, 0u, 0u, 0x00000001u}) w.u32(word);
  CwPktPtr pkt = CW_AC_PktMalloc();
  ASSERT_TRUE(pkt);
  ASSERT_EQ(CW_AC_FillDiscResp(*pkt, ac, kVendor, 4, 1), 0);
  const ByteView elements(pkt->buffer.data() + 16 + 160 + 36, 22);
  const TruncTable expected = {
      {U16(11), "control IPv6 address: type"},
      {U16(18), "control IPv6 address: length"},
      {Hex("2001 0db8 0000 0000 0000 0000 0000 0001"), "address"},
      {U16(0), "WTP count"},
  };
  EXPECT_TRUE(BytesMatch(elements, expected));
}

}  // namespace
}  // namespace discjoin_test
