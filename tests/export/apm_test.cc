// APM events and the command socket over their real Unix sockets, on the
// manual-clock loop with three running APs and one in Join on loopback, and
// WMAC played by the peer simulator.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "export/apm.h"
#include "side-sim/side_sim.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

std::vector<Bytes>& AclCalls() {
  static std::vector<Bytes> calls;
  return calls;
}

class ApmLab : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    ASSERT_EQ(AC_ApmIpcSocketInit(), 0);
    ASSERT_EQ(Capwap_Init_CmdSock(), 0);
    AclCalls().clear();
    ApmActions actions = ApmDefaultActions();
    actions.acl_rules = [](CW_WTPCB*, ByteView rules) {
      AclCalls().emplace_back(rules.begin(), rules.end());
      return 0;
    };
    ApmSetActions(actions);
    reset_ap_ = MakeWtp(reset_end_, 5, kStateRun);
    upgrade_ap_ = MakeWtp(upgrade_end_, 6, kStateRun);
    joining_ap_ = MakeWtp(join_end_, 7, kStateJoin);
    station_ap_ = MakeWtp(station_end_, 8, kStateRun);
    for (CW_WTPCB* ap : {reset_ap_, upgrade_ap_, joining_ap_, station_ap_}) {
      ASSERT_NE(ap, nullptr);
      ASSERT_EQ(CW_AC_AddWTPByMac(ap->mac, ap), 0);
    }
    ASSERT_TRUE(apm_.Connect());
  }
  void TearDown() override {
    apm_.Close();
    ApmReset();
    ControllerLab::TearDown();
  }
  // The control message types an endpoint received.
  std::vector<uint32_t> Received(const WtpEndpoint& at, DecodedMessage* last = nullptr) {
    std::vector<uint32_t> types;
    for (const Bytes& d : at.Drain()) {
      DecodedMessage m = DecodeMessage(d);
      types.push_back(m.ctl.msg_type);
      if (last) *last = m;
    }
    return types;
  }

  WtpEndpoint reset_end_, upgrade_end_, join_end_, station_end_;
  CW_WTPCB* reset_ap_ = nullptr;
  CW_WTPCB* upgrade_ap_ = nullptr;
  CW_WTPCB* joining_ap_ = nullptr;
  CW_WTPCB* station_ap_ = nullptr;
  sim::ApmClient apm_;
};

Bytes Payload(size_t size, std::initializer_list<std::pair<size_t, Bytes>> fields) {
  Bytes p(size, 0);
  for (const auto& [offset, bytes] : fields) {
    std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<long>(offset));
  }
  return p;
}
Bytes MacBytes(const CW_WTPCB* wtp) { return Bytes(wtp->mac.begin(), wtp->mac.end()); }
uint32_t U32At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}
Bytes Word(uint32_t v) {
  Bytes b(4);
  HostWriter(b.data(), b.size()).u32(v);
  return b;
}

// Every event type with its action, each written in two pieces split inside
// its header; then three events in one write; then a length no event may
// have, which ends that connection and no other.
TEST_F(ApmLab, EveryEventTypeWithItsAction) {
  const Bytes unknown_mac = {0x02, 0, 0, 0, 0, 0x99};
  const Bytes path(128, 'p');  // no terminator: sent on as it came
  const Bytes md5(33, 'f');
  Bytes upgrade_item(8);  // the vendor, item 84 and its length, then the path and the MD5
  WireWriter w(upgrade_item.data(), upgrade_item.size());
  w.u32(kPlatformVendor), w.u16(84), w.u16(161);
  upgrade_item.insert(upgrade_item.end(), path.begin(), path.end());
  upgrade_item.insert(upgrade_item.end(), md5.begin(), md5.end());
  struct Row {
    const char* what;
    uint32_t type;
    Bytes payload;
    uint32_t wmac_type;   // 0: nothing to WMAC
    uint32_t apid_in_record;
    uint32_t reset_msgs, upgrade_msgs;
    size_t acl_calls, station_msgs;
  };
  const Row rows[] = {
      {"joined notice", 6, Payload(236, {{24, MacBytes(reset_ap_)}}), 0, 0, 0, 0, 0, 0},
      {"profile of an AP", 7, Payload(128, {{0, MacBytes(upgrade_ap_)}}), WmacMsg::kApmApInfo,
       upgrade_ap_->apid, 0, 0, 0, 0},
      {"profile of no AP", 12, Payload(128, {}), WmacMsg::kApmApInfoUpdate, 0, 0, 0, 0, 0},
      {"profile of an unknown AP", 7, Payload(128, {{0, unknown_mac}}), 0, 0, 0, 0, 0, 0},
      {"short profile", 12, Payload(127, {}), 0, 0, 0, 0, 0, 0},
      {"radio settings", 13, Payload(76, {{0, MacBytes(joining_ap_)}}), WmacMsg::kApRadioInfo,
       joining_ap_->apid, 0, 0, 0, 0},
      {"radio of an unknown AP", 13, Payload(76, {{0, unknown_mac}}), 0, 0, 0, 0, 0, 0},
      {"reset of another sub-type", 8, Payload(236, {{8, MacBytes(reset_ap_)}, {16, Word(9)}}), 0,
       0, 0, 0, 0, 0},
      {"reset with no payload", 8, {}, 0, 0, 0, 0, 0, 0},
      {"reset", 8, Payload(236, {{8, MacBytes(reset_ap_)}, {16, Word(8)}}), 0, 0, 1, 0, 0, 0},
      {"upgrade", 9,
       Payload(236, {{8, MacBytes(upgrade_ap_)}, {16, Word(9)}, {42, path}, {202, md5}}), 0, 0,
       0, 1, 0, 0},
      {"upgrade cut before its MD5", 9, Payload(234, {{8, MacBytes(upgrade_ap_)}, {16, Word(9)}}),
       0, 0, 0, 0, 0, 0},
      {"ACL rules", 10, Payload(10, {{0, MacBytes(upgrade_ap_)}, {6, {1, 2, 3, 4}}}), 0, 0, 0, 0,
       1, 0},
      {"ACL rules shorter than a MAC", 10, Payload(5, {}), 0, 0, 0, 0, 0, 0},
      {"station limits", 14,
       Payload(20, {{0, MacBytes(station_ap_)}, {6, unknown_mac}, {12, Word(512)}, {16, Word(64)}}),
       0, 0, 0, 0, 0, 1},
      {"station limits, AP in Join", 14, Payload(20, {{0, MacBytes(joining_ap_)}}), 0, 0, 0, 0, 0,
       0},
      {"type 15", 15, Payload(236, {{8, MacBytes(reset_ap_)}, {16, Word(8)}}), 0, 0, 0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ForgetWmac();
    const Bytes event = ApmEventEncode(row.type, row.payload);
    ASSERT_TRUE(apm_.Write(ByteView(event).first(5)));
    lab_.Settle();
    ASSERT_TRUE(apm_.Write(ByteView(event).subspan(5)));
    lab_.Settle();
    std::vector<sim::PeerMessage> wmac;
    for (uint32_t type : {WmacMsg::kApmApInfo, WmacMsg::kApmApInfoUpdate,
                          WmacMsg::kApRadioInfo}) {
      for (auto& m : Wmac(type)) wmac.push_back(m);
    }
    ASSERT_EQ(wmac.size(), row.wmac_type ? 1u : 0u);
    if (row.wmac_type) {
      EXPECT_EQ(wmac[0].type, row.wmac_type);
      ASSERT_EQ(wmac[0].payload.size(), kWmacProfileRecordSize);
      EXPECT_EQ(U32At(wmac[0].payload, 0), row.apid_in_record);
    }
    EXPECT_EQ(Received(reset_end_).size(), row.reset_msgs);
    DecodedMessage update;
    const std::vector<uint32_t> upgrade = Received(upgrade_end_, &update);
    ASSERT_EQ(upgrade.size(), row.upgrade_msgs);
    if (row.upgrade_msgs) {
      EXPECT_EQ(upgrade[0], uint32_t{kMsgCfgUpdateReq});
      const CwElement* vendor = update.Find(37);
      ASSERT_NE(vendor, nullptr);
      EXPECT_EQ(Bytes(vendor->value.begin(), vendor->value.end()), upgrade_item);
    }
    EXPECT_EQ(Received(join_end_).size(), 0u);
    EXPECT_EQ(AclCalls().size(), row.acl_calls);
    DecodedMessage station;
    const std::vector<uint32_t> sent = Received(station_end_, &station);
    ASSERT_EQ(sent.size(), row.station_msgs);
    if (row.station_msgs) {
      EXPECT_EQ(sent[0], uint32_t{kMsgStaCfgReq});
      const CwElement* limit = station.Find(56);
      ASSERT_NE(limit, nullptr);
      const Bytes expected = {0x02, 0, 0, 0, 0, 0x99, 0, 0, 2, 0, 0, 0, 0, 64, 0, 0, 0, 0};
      EXPECT_EQ(Bytes(limit->value.begin(), limit->value.end()), expected);
    }
    AclCalls().clear();
  }
  EXPECT_TRUE(Logged("set acl rule to ap id 4 up 64 down 512"));

  // Three events in one write: each is served.
  ForgetWmac();
  Bytes three;
  for (int i = 0; i < 3; ++i) {
    const Bytes e = ApmEventEncode(12, Payload(128, {}));
    three.insert(three.end(), e.begin(), e.end());
  }
  ASSERT_TRUE(apm_.Write(three));
  EXPECT_EQ(Wmac(WmacMsg::kApmApInfoUpdate).size(), 3u);

  // 64 KiB + 1 announced: that connection is closed, a new one is served.
  const Bytes absurd = {12, 0, 0, 0, 1, 0, 1, 0};
  ASSERT_TRUE(apm_.Write(absurd));
  lab_.Settle();
  uint8_t byte = 0;
  EXPECT_EQ(recv(apm_.fd(), &byte, 1, MSG_DONTWAIT), 0) << "closed by the daemon";
  ASSERT_TRUE(apm_.Connect());
  ASSERT_TRUE(apm_.Send(12, Payload(128, {})));
  EXPECT_EQ(Wmac(WmacMsg::kApmApInfoUpdate).size(), 4u);
}

// Command datagrams: creating APs with and without an ID, binding MACs
// (either case of hex digits), and everything refused.
TEST_F(ApmLab, CommandDatagramsCreateApsAndBindMacs) {
  auto text = [](const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); };
  const std::string name33(33, 'n');
  struct Row {
    const char* what;
    Bytes datagram;
    const char* name;  // the AP the row looks at
    bool exists;
    uint32_t apid;     // when it exists (0: any)
    Mac mac;
  };
  const Mac none{};
  const Mac bound = {0x02, 0xab, 0xcd, 0x00, 0x00, 0x0f};
  const Row rows[] = {
      {"create with an ID", CmdLineEncode(kCmdCreateApWithId, {text("web1"), text("IA-210"), text("20")}),
       "web1", true, 20, none},
      {"the same name and ID again",
       CmdLineEncode(kCmdCreateApWithId, {text("web1"), text("ia-210"), text("20")}), "web1", true,
       20, none},
      {"a used ID", CmdLineEncode(kCmdCreateApWithId, {text("web2"), text("ia-210"), text("20")}),
       "web2", false, 0, none},
      {"an ID out of range",
       CmdLineEncode(kCmdCreateApWithId, {text("web2"), text("ia-210"), text("33")}), "web2",
       false, 0, none},
      {"create with the next ID", CmdLineEncode(kCmdCreateAp, {text("web2"), text("ia-210")}),
       "web2", true, 0, none},
      {"a name with a line break",
       CmdLineEncode(kCmdCreateAp, {text("x\nwlan auto-ap enable"), text("ia-210")}),
       "x\nwlan auto-ap enable", false, 0, none},
      {"a name of 33 characters", CmdLineEncode(kCmdCreateAp, {text(name33), text("ia-210")}),
       name33.c_str(), false, 0, none},
      {"a name without its NUL", CmdLineEncode(kCmdCreateAp, {Bytes{'w', '3'}, text("ia-210")}),
       "w3", false, 0, none},
      {"an unknown model", CmdLineEncode(kCmdCreateAp, {text("web3"), text("nosuch")}), "web3",
       false, 0, none},
      {"another family", CmdLineEncode(0x02020200, {text("web3"), text("ia-210")}), "web3", false,
       0, none},
      {"bind, upper case", CmdLineEncode(kCmdBindMac, {text("web1"), text("02:AB:CD:00:00:0F")}),
       "web1", true, 20, bound},
      {"the same MAC for another AP",
       CmdLineEncode(kCmdBindMac, {text("web2"), text("02:ab:cd:00:00:0f")}), "web2", true, 0,
       none},
      {"rebind, lower case, any separator",
       CmdLineEncode(kCmdBindMac, {text("web1"), text("02-ab-cd-00-00-1f")}), "web1", true, 20,
       {0x02, 0xab, 0xcd, 0x00, 0x00, 0x1f}},
      {"a MAC text of 16 characters", CmdLineEncode(kCmdBindMac, {text("web2"), text("02:ab:cd:00:00:f")}),
       "web2", true, 0, none},
      {"a multicast MAC", CmdLineEncode(kCmdBindMac, {text("web2"), text("01:00:5e:00:00:01")}),
       "web2", true, 0, none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(sim::SendCmdLine(row.datagram));
    lab_.Settle();
    const CW_WTPCB* wtp = CW_AC_GetWTPByNAME(row.name);
    ASSERT_EQ(wtp != nullptr, row.exists);
    if (!wtp) continue;
    if (row.apid) {
      EXPECT_EQ(wtp->apid, row.apid);
    }
    EXPECT_EQ(wtp->mac, row.mac);
    if (row.mac != none) {
      EXPECT_EQ(CW_AC_GetWTPByMac(row.mac), wtp);
    }
  }
  EXPECT_EQ(CW_AC_GetWTPByMac(bound), nullptr) << "the old MAC left the index";
  EXPECT_TRUE(Logged(" The AP already exists. \n"));
  EXPECT_TRUE(Logged(" Illegal input to create AP: duplicate AP name or ID\n"));

  // An item length past the end of the datagram takes no item.
  Bytes hostile = CmdLineEncode(kCmdCreateAp, {text("web4"), text("ia-210")});
  hostile[10] = 0xFF, hostile[11] = 0xFF;
  ASSERT_TRUE(sim::SendCmdLine(hostile));
  lab_.Settle();
  EXPECT_EQ(CW_AC_GetWTPByNAME("web4"), nullptr);
  const auto decoded = CmdLineDecode(hostile);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->items.empty());
}

}  // namespace
}  // namespace capwap::test
