// The Configuration Status Response builder: every row byte for byte, then
// each condition switched off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/ap_group.h"
#include "config/vap_profile.h"
#include "fsm/config_status.h"
#include "relay/radio_binding.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace capwap::test {
namespace {

constexpr uint32_t kOid = 41414;
constexpr uint32_t kBoardVendor = 0x0000A1B2;

TruncTable Elem(const std::string& name, uint16_t type, Bytes value) {
  return {{Cat({U16(type), U16(static_cast<uint16_t>(value.size()))}), name},
          {std::move(value), name + " value"}};
}

class CfgRespBuild : public ::testing::Test {
 protected:
  // Every row's condition on.
  void SetUp() override {
    wtp_.discovery_interval = 0x0105;  // the low bytes go out
    wtp_.echo_interval = 0x0214;
    wtp_.stats_interval = 120;
    std::copy_n("lab", 3, wtp_.location.begin());
    wtp_.capability = 3;  // mesh capable, takes virtual AP profiles at run time
    wtp_.mesh_role = 1;
    wtp_.mesh_id = 7;
    wtp_.mesh_data_path = 2;
    wtp_.static_ip = {0xC0A80102, 0xFFFFFF00, 0xC0A80101, 1};
    wtp_.lan_ip = {0x0A000001, 24};
    wtp_.lan_dhcp = {0x0A000010, 0x0A000020, 120};
    wtp_.n2n = {0x0B000001, 7777};
    wtp_.dns = {0x08080808, 0x01010101, 0, 0};
    wtp_.remote.SetIpv4(0x7F000001);
    wtp_.rdbind.idle_timeout = 300;
    wtp_.led_quiet = 1;
    ASSERT_EQ(RdBindSetSub(wtp_.rdbind, 1, 10, Hex("01 01")), 0);
    ASSERT_EQ(RdBindSetSub(wtp_.rdbind, 1, 8, Cat({Hex("01 00"), HostU16(17)})), 0);
    wtp_.board_vendor_id = kBoardVendor;
    wtp_.antenna_external = 1;
    wtp_.wrrm_block = Hex("00 25 00 02 aa bb");
    wtp_.wids_block = Hex("00 25 00 01 cc");
    wtp_.retrans_interval = 0x0107;
    wtp_.master_status = 1;
    wtp_.vap_profile = &vap_;

    group_.group_id = 1;
    group_.lan_ip = {0x0A010001, 16};
    group_.lan_dhcp = {0x0A010010, 0x0A010020, 60};
    group_.n2n = {0x0C000001, 8888};
    group_.dns = {0x09090909, 0, 0, 0};
    group_.ac_hostname = "controller-a";

    sources_.group = &group_;
    std::copy_n("cloud.example", 13, sources_.cloud.begin());
    HostWriter(sources_.cloud.data() + 128, 2).u16(8883);
    sources_.antenna_switch = true;
    sources_.oid = kOid;
  }

  Bytes Build() {
    CwPktPtr pkt = CW_AC_PktMalloc();
    EXPECT_TRUE(pkt);
    if (!pkt) return {};
    EXPECT_EQ(BuildCfgResp(*pkt, wtp_, sources_), 0);
    return Bytes(pkt->buffer.begin() + kCwHeadersLen,
                 pkt->buffer.begin() + kCwHeadersLen + pkt->length);
  }
  std::vector<uint16_t> Types() {
    const Bytes elements = Build();
    std::vector<uint16_t> types;
    CwElementWalk walk(elements);
    for (const CwElement& e : walk) types.push_back(e.type);
    EXPECT_TRUE(walk.complete());
    return types;
  }
  Bytes ValueOf(uint16_t type, size_t nth = 0) {
    const Bytes elements = Build();
    CwElementWalk walk(elements);
    for (const CwElement& e : walk) {
      if (e.type == type && nth-- == 0) return Bytes(e.value.begin(), e.value.end());
    }
    return {};
  }

  CW_WTPCB wtp_;
  CW_APGROUP group_;
  VapProfile vap_{1, kVapIsolateLink, 0x0A0A0A0A};
  CwCfgRespSources sources_;
};

TEST_F(CfgRespBuild, EveryRowInItsOrder) {
  const TruncTable expected = Concat({
      Elem("1 CAPWAP Timers", 12, Hex("05 14")),
      Elem("2 Location Data", 28, Fixed("lab", 32)),
      Elem("3 Statistics Timer", 36, U16(120)),
      Elem("4 mesh", 63, Hex("01 07 02")),
      Elem("5 static IP", 49, Cat({U32(0xC0A80102), U32(0xFFFFFF00), U32(0xC0A80101), U8(1)})),
      Elem("6 LAN IP (the AP's)", 50, Cat({U32(0x0A000001), U32(24)})),
      Elem("7 LAN DHCP (the AP's)", 51, Cat({U32(0x0A000010), U32(0x0A000020), U32(120)})),
      Elem("8 n2n (the AP's)", 54, Cat({U32(0x0B000001), U16(7777)})),
      Elem("9 cloud server", 57, Cat({Fixed("cloud.example", 128), U16(8883)})),
      Elem("10 DNS (the AP's)", 52, Cat({U32(0x08080808), U32(0x01010101), U32(0), U32(0)})),
      Elem("11 DNS (the group's)", 52, Cat({U32(0x09090909), U32(0), U32(0), U32(0)})),
      Elem("12 AC host name", 37, Cat({U32(kOid), U16(2), U16(32), Fixed("controller-a", 32)})),
      Elem("13 local IPv4", 30, Hex("7f 00 00 01")),
      Elem("14 Idle Timeout", 23, U32(300)),
      Elem("15 LED mode", 58, U8(1)),
      Elem("16 radio 1 Tx Power", 1041, Hex("01 00 00 11")),
      Elem("16 radio 1 admin state", 31, Hex("01 01")),
      Elem("17 antenna type", 62, U8(1)),
      {{Hex("00 25 00 02 aa bb"), "18 WRRM block"}},
      {{Hex("00 25 00 01 cc"), "19 WIDS block"}},
      Elem("20 virtual AP setting", 61, Cat({U32(0x0A0A0A0A), U8(1)})),
      Elem("20 link isolation", 37, Cat({U32(kBoardVendor), U16(85), U16(4), U32(0)})),
      Elem("21 retransmit interval", 65, U8(7)),
  });
  EXPECT_TRUE(BytesMatch(Build(), expected));
}

TEST_F(CfgRespBuild, GroupSettingsStandInForMissingOwnOnes) {
  wtp_.lan_ip.prefixlen = 0;   // half set: the group's
  wtp_.lan_dhcp.high = 0;
  wtp_.n2n.port = 0;
  EXPECT_EQ(ValueOf(50), Cat({U32(0x0A010001), U32(16)}));
  EXPECT_EQ(ValueOf(51), Cat({U32(0x0A010010), U32(0x0A010020), U32(60)}));
  EXPECT_EQ(ValueOf(54), Cat({U32(0x0C000001), U16(8888)}));

  group_.lan_ip = {0x0A010001, 0};
  group_.lan_dhcp = {0, 1, 1};
  group_.n2n = {0, 8888};
  const std::vector<uint16_t> types = Types();
  for (uint16_t absent : {50, 51, 54}) {
    EXPECT_EQ(std::count(types.begin(), types.end(), absent), 0) << absent;
  }
}

TEST_F(CfgRespBuild, ConditionalRowsOff) {
  wtp_.capability = 0;          // not mesh capable
  wtp_.vap_profile = nullptr;
  wtp_.remote.family = 1;       // reached over IPv6
  wtp_.led_quiet = 0;
  wtp_.dns = {};
  wtp_.rdbind.idle_timeout = 0;
  CW_FreeRdBind(&wtp_.rdbind);
  wtp_.wrrm_block.clear();
  wtp_.wids_block.clear();
  group_.ac_hostname.clear();
  group_.dns = {};
  sources_.antenna_switch = false;
  EXPECT_EQ(Types(), (std::vector<uint16_t>{12, 28, 36, 49, 50, 51, 54, 57, 52, 52, 23, 65}));
  EXPECT_EQ(ValueOf(52, 0), Fill(0, 16)) << "both DNS elements, even empty";
  EXPECT_EQ(ValueOf(52, 1), Fill(0, 16));
  EXPECT_EQ(ValueOf(23), U32(0)) << "Idle Timeout is always there";

  // The antenna type follows the setting when the model switches.
  sources_.antenna_switch = true;
  wtp_.antenna_external = 0;
  EXPECT_EQ(ValueOf(62), U8(0));

  // Without run-time profiles the AP learns the controlled AC as backup AC.
  wtp_.vap_profile = &vap_;
  EXPECT_EQ(ValueOf(2), U32(0x0A0A0A0A));
}

TEST_F(CfgRespBuild, MissingGroupGivesAnEmptyResponse) {
  sources_.group = nullptr;
  EXPECT_TRUE(Build().empty());
}

}  // namespace
}  // namespace capwap::test
