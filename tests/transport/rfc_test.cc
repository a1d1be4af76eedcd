// The standard (RFC 5415/5416) forms, byte for byte: one row per builder,
// the expected octets laid out as the RFCs draw them.
#include <gtest/gtest.h>

#include <functional>

#include "fsm/config_status.h"
#include "fsm/discovery.h"
#include "fsm/join.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"
#include "transport/rfc.h"

namespace capwap::test {
namespace {

struct FormRow {
  const char* name;
  std::function<Bytes()> build;
  const char* octets;
};

Bytes Sent(const CW_PKT& pkt) { return Bytes(pkt.buffer.begin(), pkt.buffer.begin() + pkt.length); }

TEST(StandardForms, EveryBuilderAsTheRfcsLayItOut) {
  DaemonContext lab;
  SetFieldText(g_stCW_AC_GlobalInfo.ac_name, "ac-one");
  SetFieldText(g_stCW_AC_GlobalInfo.hw_version, "hw1");
  SetFieldText(g_stCW_AC_GlobalInfo.sw_version, "sw2");
  g_stCW_AC_GlobalInfo.stations = 5;
  g_uiCwApCount = 40;  // above the 32 the platform allows: announced as 32
  CW_WTPCB wtp;
  wtp.local.SetIpv4(0xC0000201);  // 192.0.2.1, where the WTP's requests arrive
  wtp.radio_types = {13, 0, 0, 0};  // radio 1: 802.11b/g/n
  wtp.discovery_interval = 20;
  wtp.echo_interval = 30;
  wtp.rdbind.idle_timeout = 300;
  RdBindSetSub(wtp.rdbind, 1, 1, Hex("01 02 00 02 01 02"));  // antenna: 2 selections
  RdBindSetSub(wtp.rdbind, 1, 9, Hex("01 02 0a 14"));        // power levels 10, 20 dBm
  const char* const kAcParts =
      "0001 0022 0005 ffff 0020 0020 00 02 00 02"  // stations, limit, active/max WTPs,
                                                   // security, R-MAC 2, DTLS policy C
      " 0000a1c6 0004 0003 687731 0000a1c6 0005 0003 737732"  // hardware, software
      " 0004 0006 61632d6f6e65";                              // AC Name
  const std::string ac = kAcParts;
  const std::string radio = " 0418 0005 01 0000000d";
  const std::string control = " 000a 0006 c0000201 0028";
  const std::string join = "00100200 00000000 00000004 09 005b 00 0021 0004 00000000 " + ac +
                           radio + " 0035 0001 00" + control + " 001e 0004 c0000201";
  const std::string discovery = "00100200 00000000 00000002 07 0046 00 " + ac + radio + control;
  const FormRow rows[] = {
      {"header: F, fragment ID 0x0102, offset 175 above reserved 5, WBID 1",
       [] {
         CW_HDR hdr;
         hdr.SetBit(kHdrBitF, true);
         hdr.frag_id = 0x0102;
         hdr.frag_offset = 175;
         hdr.reserved3 = 5;
         Bytes out(8, 0xEE);
         EncodeRfcHeader(&hdr, out.data());
         CW_HDR back;
         DecodeRfcHeader(&back, out.data());
         EXPECT_TRUE(back.frag_offset == 175 && back.reserved3 == 5 && back.Wbid() == 1);
         return out;
       },
       "00 10 02 80 01 02 05 7d"},
      {"Echo Response: no element, length 3, the request's sequence number",
       [] { return Sent(*BuildRfcEchoResp(0x2A)); }, "00100200 00000000 0000000e 2a 0003 00"},
      {"keepalive: K, WBID 1, length 22 counting itself",
       [] {
         std::array<uint8_t, 16> id{};
         for (uint8_t i = 0; i < 16; ++i) id[i] = i;
         auto out = BuildRfcKeepAlive(id);
         return Bytes(out.begin(), out.end());
       },
       "00100208 00000000 0016 0023 0010 00010203 04050607 08090a0b 0c0d0e0f"},
      {"Discovery Response: descriptor, name, radio, control address",
       [&] {
         DiscoveryResp resp;
         resp.local = wtp.local;
         resp.seq = 7;
         resp.radio_types = wtp.radio_types;
         CwPktPtr pkt = CW_AC_PktMalloc();
         EXPECT_EQ(FillRfcDiscResp(*pkt, resp), 0);
         return Sent(*pkt);
       },
       discovery.c_str()},
      {"Join Response: adds ECN Support and the local address",
       [&] {
         JoinResp resp;
         resp.rfc = true;
         resp.seq = 9;
         CwPktPtr pkt = CW_AC_PktMalloc();
         EXPECT_EQ(CW_AC_FillJoinResp(*pkt, wtp, resp), 0);
         return Sent(*pkt);
       },
       join.c_str()},
      {"Configuration Status Response elements",
       [&] {
         CwPktPtr pkt = CW_AC_PktMalloc();
         EXPECT_EQ(BuildRfcCfgResp(*pkt, wtp), 0);
         return Bytes(pkt->buffer.begin() + kCwHeadersLen, pkt->buffer.begin() + pkt->cursor);
       },
       "000c 0002 14 1e  0017 0004 0000012c  0028 0001 01  0002 0004 c0000201"
       " 0031 000d 00000000 00000000 00000000 00"  // static IP: DHCP
       " 0401 0006 01 02 00 02 01 02"              // antenna without a trailing byte
       " 0412 0006 01 02 000a 0014"                // power levels as 16-bit values
       " 0010 0003 01 0078"},                      // decryption error report: 120 s
  };
  for (const FormRow& row : rows) EXPECT_EQ(row.build(), Hex(row.octets)) << row.name;
  CW_FreeRdBind(&wtp.rdbind);
}

}  // namespace
}  // namespace capwap::test
