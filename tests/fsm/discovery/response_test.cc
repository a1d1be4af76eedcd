// The Discovery Response builder, byte for byte, over IPv4 and IPv6
// controller records.
#include <gtest/gtest.h>

#include "fsm/discovery.h"
#include "fsm/discovery/request_tables.h"

namespace capwap::test {
namespace {

TEST(DiscoveryResponse, EveryElementExactlyAsTabled) {
  DaemonContext lab;
  // Every field a distinct sentinel, so a swapped or misplaced one shows.
  capwap::AcGlobalInfo ac;
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
  ac.wtp_count = 3;
  const TruncTable ipv4 = {{U16(10), "control IPv4 address: type"},
                           {U16(6), "control IPv4 address: length"},
                           {Hex("c0 a8 0a 01"), "address, most significant first"},
                           {U16(3), "WTP count"}};
  const TruncTable ipv6 = {{U16(11), "control IPv6 address: type"},
                           {U16(18), "control IPv6 address: length"},
                           {Hex("2001 0db8 0000 0000 0000 0000 0000 0001"), "address"},
                           {U16(3), "WTP count"}};
  for (const uint8_t family : {0, 1}) {
    ac.family = family;
    HostWriter w(ac.ctl_addr.data(), 16);
    for (uint32_t word : family ? std::vector<uint32_t>{0x20010db8u, 0u, 0u, 1u}
                                : std::vector<uint32_t>{0xC0A80A01u}) {
      w.u32(word);
    }
    const TruncTable& address = family ? ipv6 : ipv4;
    const TruncTable expected = Concat({
        ControlHeaderRows(kMsgDiscoveryRsp, 0x2A,
                          static_cast<uint16_t>(160 + 36 + Flatten(address).size() + 13)),
        {{U16(1), "AC Descriptor: type"},
         {U16(156), "AC Descriptor: length"},
         {Hex("0102 0304 0506 0708"), "stations, limit, active WTPs, maximum WTPs"},
         {Hex("09 0a 0b 0c"), "security, R-MAC, reserved, DTLS policy"},
         {U32(0x00ABCDEF), "hardware: vendor (the AP's)"},
         {Cat({U16(4), U16(64)}), "hardware: type and length"},
         {Fixed("hw-rev-7", 64), "hardware: version"},
         {U32(0x00ABCDEF), "software: vendor"},
         {Cat({U16(5), U16(64)}), "software: type and length"},
         {Fixed("sw-4.2", 64), "software: version"},
         {Cat({U16(4), U16(32)}), "AC Name: type and length"},
         {Fixed("controller-one", 32), "AC Name: value"}},
        address,
        {{Cat({U16(37), U16(9)}), "vendor payload: type and length"},
         {U32(0x00ABCDEF), "vendor identifier (the AP's)"},
         {Cat({U16(128), U16(1)}), "element ID priority, value length"},
         {U8(6), "priority"}},
    });
    CwPktPtr pkt = CW_AC_PktMalloc();
    ASSERT_TRUE(pkt);
    ASSERT_EQ(FillDiscResp(*pkt, ac, 0x00ABCDEF, 6, 0x2A), 0);
    EXPECT_TRUE(BytesMatch(ByteView(pkt->buffer.data(), pkt->length), expected)) << int{family};
    EXPECT_EQ(pkt->msg_type, kMsgDiscoveryRsp);
  }
}

}  // namespace
}  // namespace capwap::test
