// Line matching on internal vtys: the hard command strings with the values
// their handlers receive, prefix precedence, error texts, "?" help,
// privilege, node navigation and hostile lines.
#include <arpa/inet.h>

#include <random>

#include "cli_fixture.h"

namespace capwap::test {
namespace {

constexpr int kApNode = 100;
constexpr int kModelNode = 110;

uint32_t Addr(const char* text) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1);
  return a.s_addr;
}

class CliMatch : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    config_ = vty_new_internal(ctx(), CONFIG_NODE);
    exec_ = vty_new_internal(ctx(), EXEC_NODE);
  }
  // Runs a line that must reach a handler; returns its arguments.
  const CliArgs& Expect(vty* v, std::string_view line, int id) {
    size_t before = Calls().size();
    int rc = -1;
    std::string out = Run(v, line, &rc);
    EXPECT_EQ(rc, CLI_SUCCESS) << line << " printed " << out;
    EXPECT_EQ(Calls().size(), before + 1) << line;
    EXPECT_EQ(LastCall().id, id) << line;
    return LastCall().args;
  }
  // Runs a line that must be refused with `message`, reaching no handler.
  void Refused(vty* v, std::string_view line, const char* message, int code) {
    size_t before = Calls().size();
    int rc = -1;
    EXPECT_EQ(Run(v, line, &rc), message) << line;
    EXPECT_EQ(rc, code) << line;
    EXPECT_EQ(Calls().size(), before) << line;
  }
  void Unknown(vty* v, std::string_view line) {
    Refused(v, line, "% Unknown command\n", CLI_ERR_NO_MATCH);
  }
  void Ambiguous(vty* v, std::string_view line) {
    Refused(v, line, "% Ambiguous command\n", CLI_ERR_AMBIGUOUS);
  }
  void Incomplete(vty* v, std::string_view line) {
    Refused(v, line, "% Incomplete command\n", CLI_ERR_INCOMPLETE);
  }

  std::unique_ptr<vty> config_;
  std::unique_ptr<vty> exec_;
};

TEST_F(CliMatch, ModelGroupKeywordOnlyOnExactMatch) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  const CliArgs& a = Expect(config_.get(), "wlan ap x model m1", 1);
  EXPECT_EQ(a.Str("name"), "x");
  EXPECT_EQ(a.Str("model"), "m1");
  EXPECT_TRUE(a.Has("m1"));
  EXPECT_FALSE(a.Present("apid"));
  EXPECT_FALSE(a.U32("apid").has_value());

  const CliArgs& b = Expect(config_.get(), "wlan ap x model m", 1);
  EXPECT_EQ(b.Str("model"), "m");
  EXPECT_FALSE(b.Has("m1"));
  EXPECT_FALSE(b.Has("m2"));

  const CliArgs& c = Expect(config_.get(), "w a ap7 mo m1x ap 32", 1);
  EXPECT_EQ(c.Str("name"), "ap7");
  EXPECT_EQ(c.Str("model"), "m1x");
  EXPECT_EQ(c.U32("apid"), 32u);
  EXPECT_EQ(c.Tokens(), (std::vector<std::string>{"wlan", "ap", "ap7", "model", "m1x", "apid",
                                                  "32"}));

  Unknown(config_.get(), "wlan ap x model m2 apid 0");
  Unknown(config_.get(), "wlan ap x model m2 apid 33");
  Unknown(config_.get(), "wlan ap x model m2 apid 1 2");
  Incomplete(config_.get(), "wlan ap x model m2 apid");
  Incomplete(config_.get(), "wlan ap x model");
}

TEST_F(CliMatch, DnsServersOneToFour) {
  Install(kApNode, "dns-server A.B.C.D (A.B.C.D (A.B.C.D (A.B.C.D |)|)|)",
          {"dns1", "dns2", "dns3", "dns4"}, Record<2>);
  auto v = vty_new_internal(ctx(), kApNode);
  const CliArgs& one = Expect(v.get(), "dns-server 8.8.8.8", 2);
  EXPECT_EQ(one.Ipv4("dns1")->s_addr, Addr("8.8.8.8"));
  EXPECT_FALSE(one.Present("dns2"));

  const CliArgs& four = Expect(v.get(), "dns-server 1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4", 2);
  EXPECT_EQ(four.Ipv4("dns1")->s_addr, Addr("1.1.1.1"));
  EXPECT_EQ(four.Ipv4("dns2")->s_addr, Addr("2.2.2.2"));
  EXPECT_EQ(four.Ipv4("dns3")->s_addr, Addr("3.3.3.3"));
  EXPECT_EQ(four.Ipv4("dns4")->s_addr, Addr("4.4.4.4"));

  const CliArgs& three = Expect(v.get(), "dns-server 1.1.1.1 2.2.2.2 3.3.3.3", 2);
  EXPECT_TRUE(three.Present("dns3"));
  EXPECT_FALSE(three.Present("dns4"));

  Unknown(v.get(), "dns-server 1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4 5.5.5.5");
  Unknown(v.get(), "dns-server 1.1.1.1 2.2.2");
  Unknown(v.get(), "dns-server 1.1.1.1 2.2.2.300");
  Unknown(v.get(), "dns-server dns.example.com");
  Incomplete(v.get(), "dns-server");
}

TEST_F(CliMatch, DebugLevelsByPrefixAndOptionalMac) {
  Install(EXEC_NODE,
          "debug capwap (all | fsm | error | packet | event) (mac-address HHHH.HHHH.HHHH| )",
          {"level", "mac"}, Record<3>);
  const CliArgs& fsm = Expect(exec_.get(), "deb cap f", 3);
  EXPECT_EQ(fsm.Str("level"), "fsm");
  EXPECT_FALSE(fsm.Present("mac"));

  Ambiguous(exec_.get(), "debug capwap e");
  EXPECT_EQ(Expect(exec_.get(), "debug capwap ev", 3).Str("level"), "event");

  const CliArgs& mac = Expect(exec_.get(), "debug capwap all mac-address 00aA.Bbcc.DDEE", 3);
  EXPECT_EQ(mac.Str("mac"), "00aA.Bbcc.DDEE");
  EXPECT_EQ(mac.Mac("mac"), (std::array<uint8_t, 6>{0x00, 0xaa, 0xbb, 0xcc, 0xdd, 0xee}));
  EXPECT_TRUE(mac.Has("mac-address"));

  Unknown(exec_.get(), "debug capwap all mac-address 00aa.bbcc.dde");
  Unknown(exec_.get(), "debug capwap all mac-address 00:aa:bb:cc:dd:ee");
  Unknown(exec_.get(), "debug capwap verbose");
  Incomplete(exec_.get(), "debug capwap all mac");
  Incomplete(exec_.get(), "debug capwap");
}

TEST_F(CliMatch, ClearSelectorGroup) {
  Install(EXEC_NODE, "clear wlan ap (name WORD|ap-group<1-1>|all)", {"name", "group"},
          Record<4>);
  const CliArgs& all = Expect(exec_.get(), "clear wlan ap all", 4);
  EXPECT_TRUE(all.Has("all"));
  EXPECT_FALSE(all.Present("name"));
  EXPECT_FALSE(all.Present("group"));

  const CliArgs& group = Expect(exec_.get(), "clear wlan ap ap-group 1", 4);
  EXPECT_TRUE(group.Has("ap-group"));
  EXPECT_EQ(group.U32("group"), 1u);

  EXPECT_EQ(Expect(exec_.get(), "cl w ap n lobby", 4).Str("name"), "lobby");
  EXPECT_EQ(Expect(exec_.get(), "clear wlan ap al", 4).Tokens().back(), "all");

  Unknown(exec_.get(), "clear wlan ap ap-group 2");
  Ambiguous(exec_.get(), "clear wlan ap a");
  Incomplete(exec_.get(), "clear wlan ap");
  Incomplete(exec_.get(), "clear wlan ap name");
}

TEST_F(CliMatch, VendorIdTakesTheWholeUnsignedRange) {
  Install(kModelNode, "vender-id <0-4294967295>", {"id"}, Record<5>);
  auto v = vty_new_internal(ctx(), kModelNode);
  EXPECT_EQ(Expect(v.get(), "vender-id 4294967295", 5).U32("id"), 4294967295u);
  EXPECT_EQ(Expect(v.get(), "vender-id 0", 5).U32("id"), 0u);
  Unknown(v.get(), "vender-id 4294967296");
  Unknown(v.get(), "vender-id 18446744073709551617");
  Unknown(v.get(), "vender-id -1");
  Unknown(v.get(), "vender-id 0x10");
}

TEST_F(CliMatch, RadioModeExactBeatsLongerKeyword) {
  Install(kModelNode,
          "radio <1-4> mode (11a|11b|11g|11an|11gn|11bgn|11ac|11axg|11axa) max-power <5-33>",
          {"radio", "mode", "power"}, Record<6>);
  auto v = vty_new_internal(ctx(), kModelNode);
  const CliArgs& a = Expect(v.get(), "radio 1 mode 11a max-power 5", 6);
  EXPECT_EQ(a.U32("radio"), 1u);
  EXPECT_EQ(a.Str("mode"), "11a");
  EXPECT_EQ(a.U32("power"), 5u);
  EXPECT_EQ(Expect(v.get(), "radio 4 mode 11b max-power 33", 6).Str("mode"), "11b");
  EXPECT_EQ(Expect(v.get(), "radio 2 mode 11bg max 20", 6).Str("mode"), "11bgn");
  EXPECT_EQ(Expect(v.get(), "radio 2 mode 11axa max 20", 6).Str("mode"), "11axa");
  Ambiguous(v.get(), "radio 1 mode 11ax max-power 20");
  Ambiguous(v.get(), "radio 1 mode 11 max-power 20");
  Unknown(v.get(), "radio 5 mode 11a max-power 20");
  Unknown(v.get(), "radio 1 mode 11a max-power 34");
  Unknown(v.get(), "radio 1 mode 11n max-power 20");
  Incomplete(v.get(), "radio 1 mode 11a");
}

TEST_F(CliMatch, LanDhcpRangeAndLanPrefix) {
  Install(kApNode, "lan-dhcp range A.B.C.D A.B.C.D leasetime <2-11520>",
          {"low", "high", "lease"}, Record<7>);
  Install(kApNode, "lan-ip-address A.B.C.D/M", {"prefix"}, Record<8>);
  auto v = vty_new_internal(ctx(), kApNode);
  const CliArgs& dhcp = Expect(v.get(), "lan-dhcp range 10.0.0.10 10.0.0.20 leasetime 11520", 7);
  EXPECT_EQ(dhcp.Ipv4("low")->s_addr, Addr("10.0.0.10"));
  EXPECT_EQ(dhcp.Ipv4("high")->s_addr, Addr("10.0.0.20"));
  EXPECT_EQ(dhcp.U32("lease"), 11520u);
  Unknown(v.get(), "lan-dhcp range 10.0.0.10 10.0.0.20 leasetime 1");
  Unknown(v.get(), "lan-dhcp range 10.0.0.10 10.0.0.20 leasetime 11521");
  Unknown(v.get(), "lan-dhcp range 10.0.0.10 ten leasetime 60");

  const CliArgs& lan = Expect(v.get(), "lan-ip-address 192.168.7.9/24", 8);
  std::optional<prefix_ipv4> p = lan.Prefix("prefix");
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->prefixlen, 24);
  EXPECT_EQ(p->prefix.s_addr, Addr("192.168.7.9"));
  EXPECT_FALSE(lan.Ipv4("prefix").has_value());
  Unknown(v.get(), "lan-ip-address 192.168.7.9/33");
  Unknown(v.get(), "lan-ip-address 192.168.7.9");
}

TEST_F(CliMatch, ExactKeywordBeatsPrefixAcrossCommands) {
  Install(CONFIG_NODE, "wlan ap WORD", {"name"}, Record<1>);
  Install(CONFIG_NODE, "wlan ap-group <1-1>", {"group"}, Record<2>);
  Install(CONFIG_NODE, "wlan ap-model WORD", {"name"}, Record<3>);
  Install(CONFIG_NODE, "wlan auto-ap (enable | disable)", {"state"}, Record<4>);
  EXPECT_EQ(Expect(config_.get(), "wlan ap ap-model", 1).Str("name"), "ap-model");
  EXPECT_EQ(Expect(config_.get(), "wlan ap-g 1", 2).U32("group"), 1u);
  EXPECT_EQ(Expect(config_.get(), "wlan ap-m x", 3).Str("name"), "x");
  EXPECT_EQ(Expect(config_.get(), "wl au d", 4).Str("state"), "disable");
  Ambiguous(config_.get(), "wlan ap- 1");
  Ambiguous(config_.get(), "wlan a x");
  Unknown(config_.get(), "wlan bogus x");
  Unknown(config_.get(), "wlan ap x extra");
}

TEST_F(CliMatch, SameKeywordFromSeveralCommandsIsNotAmbiguous) {
  Install(ALL_VIEW_NODES, "show wlan ap (all|ap-group <1-255>)", {"group"}, Record<1>);
  Install(ALL_VIEW_NODES, "show wlan ap name WORD", {"name"}, Record<2>);
  Install(ALL_VIEW_NODES, "show wlan ap name WORD detail", {"name"}, Record<3>);
  Install(ALL_VIEW_NODES, "show debug all", {}, Record<4>);
  EXPECT_EQ(Expect(exec_.get(), "sh w a n x", 2).Str("name"), "x");
  EXPECT_EQ(Expect(exec_.get(), "sh w a n x d", 3).Str("name"), "x");
  Expect(exec_.get(), "sh de a", 4);
  EXPECT_EQ(Expect(exec_.get(), "show wlan ap ap-group 255", 1).U32("group"), 255u);
  Ambiguous(exec_.get(), "show wlan ap a");
  // "show r" names the built-in "show running-config" only.
  int rc = -1;
  Run(exec_.get(), "show r", &rc);
  EXPECT_EQ(rc, CLI_SUCCESS);
}

TEST_F(CliMatch, HelpListsWhatMayComeNextWithoutRunning) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  CliCommand with_help;
  with_help.grammar = "debug capwap (all | fsm) (mac-address HHHH.HHHH.HHHH| )";
  with_help.help = {"Debugging functions", "CAPWAP", "All categories", "State machine",
                    "Filter by AP", "AP MAC address"};
  with_help.args = {"level", "mac"};
  with_help.handler = Record<2>;
  ASSERT_EQ(cli_install(ctx(), EXEC_NODE, with_help), 0);

  EXPECT_EQ(Run(config_.get(), "wlan ap x model ?"),
            "  m1  help 6\n"
            "  m2  help 7\n"
            "  WORD  help 5\n");
  EXPECT_EQ(Run(config_.get(), "wlan ap x model m1 ?"),
            "  apid  help 8\n"
            "  <cr>\n");
  EXPECT_EQ(Run(config_.get(), "wlan ap x model m1 apid ?"), "  <1-32>  help 9\n");
  EXPECT_EQ(Run(config_.get(), "wlan ap x model m?"),
            "  m1  help 6\n"
            "  m2  help 7\n"
            "  WORD  help 5\n");
  EXPECT_EQ(Run(exec_.get(), "debug capwap all ?"),
            "  mac-address  Filter by AP\n"
            "  <cr>\n");
  EXPECT_EQ(Run(exec_.get(), "deb?"), "  debug  Debugging functions\n");
  EXPECT_EQ(Run(exec_.get(), "sh?"), "  show  Show running system information\n");
  EXPECT_EQ(Run(exec_.get(), "show ?"), "  running-config  Current operating configuration\n");
  std::string top = Run(config_.get(), "?");
  EXPECT_NE(top.find("  wlan  help 1\n"), std::string::npos) << top;
  EXPECT_NE(top.find("  end  End current mode and change to enable mode\n"), std::string::npos);
  EXPECT_EQ(Run(config_.get(), "wlan ap x bogus ?"), "% Unknown command\n");
  EXPECT_EQ(Run(config_.get(), "zz?"), "% Unknown command\n");
  EXPECT_TRUE(Calls().empty());
}

TEST_F(CliMatch, HiddenCommandsRunButAreNotListed) {
  CliCommand hidden = MakeCommand(104, "controlled-ac A.B.C.D", {"addr"}, Record<1>);
  ASSERT_EQ(cli_install_hidden(ctx(), 104, hidden), 0);
  Install(104, "ac-hostname WORD", {"name"}, Record<2>);
  auto v = vty_new_internal(ctx(), 104);
  EXPECT_EQ(Run(v.get(), "?"), "  ac-hostname  help 1\n");
  EXPECT_EQ(Expect(v.get(), "controlled-ac 10.1.1.1", 1).Ipv4("addr")->s_addr, Addr("10.1.1.1"));
}

TEST_F(CliMatch, PrivilegeHidesAdminCommandsFromUsers) {
  CliCommand admin = MakeCommand(ALL_VIEW_NODES, "show wtp", {}, Record<1>);
  ASSERT_EQ(cli_install_gen(ctx(), ALL_VIEW_NODES, kPrivilegeAdmin, admin), 0);
  Install(ALL_VIEW_NODES, "show debug all", {}, Record<2>);
  auto v = vty_new_internal(ctx(), VIEW_NODE);
  EXPECT_EQ(v->privilege, kPrivilegeUser);
  EXPECT_EQ(Run(v.get(), "show ?"), "  debug  help 2\n");
  Unknown(v.get(), "show wtp");
  Unknown(v.get(), "configure terminal");
  Expect(v.get(), "show debug all", 2);

  EXPECT_EQ(Run(v.get(), "enable"), "");
  EXPECT_EQ(v->node, EXEC_NODE);
  EXPECT_EQ(v->privilege, kPrivilegeAdmin);
  Expect(v.get(), "show wtp", 1);
  EXPECT_EQ(Run(v.get(), "disable"), "");
  EXPECT_EQ(v->node, VIEW_NODE);
  Unknown(v.get(), "show wtp");
}

int EnterAp(vty* v, const CliArgs& args) {
  v->index = std::string(args.Str("name"));
  v->node = kApNode;
  return CLI_SUCCESS;
}

TEST_F(CliMatch, NodeNavigationAndPrompts) {
  cli_install_node(ctx(), kApNode, "config-ap", CONFIG_NODE);
  cli_install_default(ctx(), kApNode);
  Install(CONFIG_NODE, "wlan ap WORD", {"name"}, EnterAp);
  Install(kApNode, "priority <1-7>", {"value"}, Record<1>);
  auto v = vty_new_internal(ctx(), VIEW_NODE);
  EXPECT_EQ(cli_prompt(ctx(), v.get()), "capwap> ");
  Run(v.get(), "en");
  EXPECT_EQ(cli_prompt(ctx(), v.get()), "capwap# ");
  Run(v.get(), "conf t");
  EXPECT_EQ(cli_prompt(ctx(), v.get()), "capwap(config)# ");
  Run(v.get(), "wlan ap lobby");
  EXPECT_EQ(cli_prompt(ctx(), v.get()), "capwap(config-ap)# ");
  EXPECT_EQ(std::any_cast<std::string>(v->index), "lobby");
  Expect(v.get(), "priority 7", 1);
  EXPECT_EQ(LastCall().node, kApNode);
  Run(v.get(), "exit");
  EXPECT_EQ(v->node, CONFIG_NODE);
  EXPECT_FALSE(v->index.has_value());
  Run(v.get(), "wlan ap lobby");
  Run(v.get(), "end");
  EXPECT_EQ(v->node, EXEC_NODE);
  EXPECT_FALSE(v->index.has_value());
  Run(v.get(), "configure terminal");
  Run(v.get(), "quit");
  EXPECT_EQ(v->node, EXEC_NODE);
  // Without a session "exit" at the top has nothing to close.
  EXPECT_EQ(Run(v.get(), "exit"), "");
  EXPECT_EQ(v->node, EXEC_NODE);
  // Daemon-node commands are not reachable from the parent node.
  Run(v.get(), "configure terminal");
  Unknown(v.get(), "priority 3");
}

int RefuseWlan(vty* v, const CliArgs&) {
  vty_out(v, "nope\n");
  return CLI_WARNING;
}

TEST_F(CliMatch, LinesOfTheParentNodeWorkInsideADaemonNode) {
  cli_install_node(ctx(), kApNode, "config-ap", CONFIG_NODE);
  cli_install_default(ctx(), kApNode);
  Install(CONFIG_NODE, "wlan ap WORD", {"name"}, EnterAp);
  Install(CONFIG_NODE, "wlan refuse", {}, RefuseWlan);
  Install(CONFIG_NODE, "wlan note", {}, Record<2>);
  Install(kApNode, "priority <1-7>", {"value"}, Record<1>);
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  Run(v.get(), "wlan ap lobby");
  // Another AP straight from the AP node.
  Run(v.get(), "wlan ap hall");
  EXPECT_EQ(v->node, kApNode);
  EXPECT_EQ(std::any_cast<std::string>(v->index), "hall");
  // A parent command that does not enter a node leaves the vty in CONFIG_NODE.
  Expect(v.get(), "wlan note", 2);
  EXPECT_EQ(LastCall().node, CONFIG_NODE);
  EXPECT_EQ(v->node, CONFIG_NODE);
  EXPECT_FALSE(v->index.has_value());
  // A refused parent command or a line no node takes changes nothing.
  Run(v.get(), "wlan ap hall");
  EXPECT_EQ(Run(v.get(), "wlan refuse"), "nope\n");
  EXPECT_EQ(v->node, kApNode);
  EXPECT_EQ(std::any_cast<std::string>(v->index), "hall");
  Unknown(v.get(), "bogus");
  Incomplete(v.get(), "wlan");
  Incomplete(v.get(), "priority");
  EXPECT_EQ(v->node, kApNode);
  EXPECT_EQ(std::any_cast<std::string>(v->index), "hall");
  Expect(v.get(), "priority 2", 1);
}

TEST_F(CliMatch, HostileLinesNeverCrash) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  Refused(config_.get(), std::string(4097, 'w'), "% Line too long\n", CLI_ERR_TOO_LONG);
  std::string long_ok = "wlan ap " + std::string(4000, 'n') + " model m1";
  EXPECT_EQ(Expect(config_.get(), long_ok, 1).Str("name").size(), 4000u);
  // Control characters disappear; tabs separate.
  EXPECT_EQ(Expect(config_.get(), "wl\x01\x1b" "an\tap x\x7f model\r m2\n", 1).Str("model"), "m2");
  EXPECT_EQ(Run(config_.get(), ""), "");
  EXPECT_EQ(Run(config_.get(), "   \t "), "");
  Unknown(config_.get(), std::string_view("wlan\0ap", 7));

  std::mt19937 gen(7);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 300);
  const std::string alphabet = "wlan apmodel12?|()<>- \t.";
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    int n = len(gen);
    for (int j = 0; j < n; ++j) {
      line += (i % 2) ? static_cast<char>(byte(gen))
                      : alphabet[static_cast<size_t>(byte(gen)) % alphabet.size()];
    }
    config_->out.clear();
    cli_execute(ctx(), config_.get(), line);
    config_->node = CONFIG_NODE;
  }
}

}  // namespace
}  // namespace capwap::test
