// Line matching on internal vtys: the hard command strings with the values
// their handlers receive, prefix precedence, error texts, "?" help,
// privilege, node navigation and hostile lines.
#include <arpa/inet.h>

#include "cli_fixture.h"

namespace capwap::test {
namespace {

constexpr int kApNode = 100;
constexpr int kModelNode = 110;

struct Command {
  int node;
  const char* grammar;
  std::vector<std::string> args;
};
// A line and what it gives: the matched tokens (keywords in full) and the
// filled slots, or the error printed.
struct Line {
  int node;
  const char* line;
  const char* outcome;
};
struct Group {
  std::vector<Command> commands;
  std::vector<Line> lines;
};

std::string Outcome(const CliArgs& a) {
  std::string text;
  for (const auto& t : a.Tokens()) text += t + " ";
  text += "|";
  for (const char* name : {"name", "model", "apid", "dns1", "dns2", "dns3", "level", "mac", "group",
                           "radio", "mode", "power"}) {
    if (a.Present(name)) text += std::string(" ") + name + "=" + a.Str(name);
  }
  return text;
}

const char* const kUnknown = "% Unknown command";
const char* const kAmbiguous = "% Ambiguous command";
const char* const kIncomplete = "% Incomplete command";

const Group kGroups[] = {
    {{{CONFIG_NODE,
       "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
       {"name", "model", "apid"}}},
     {{CONFIG_NODE, "wlan ap x model m1", "wlan ap x model m1 | name=x model=m1"},
      {CONFIG_NODE, "w a ap7 mo m1x ap 32",
       "wlan ap ap7 model m1x apid 32 | name=ap7 model=m1x apid=32"},
      {CONFIG_NODE, "wlan ap x model m2 apid 33", kUnknown},
      {CONFIG_NODE, "wlan ap x model m2 apid", kIncomplete}}},
    {{{kApNode,
       "dns-server A.B.C.D (A.B.C.D (A.B.C.D (A.B.C.D |)|)|)",
       {"dns1", "dns2", "dns3", "dns4"}},
      {kApNode, "lan-ip-address A.B.C.D/M", {"prefix"}}},
     {{kApNode, "dns-server 1.1.1.1 2.2.2.2 3.3.3.3",
       "dns-server 1.1.1.1 2.2.2.2 3.3.3.3 | dns1=1.1.1.1 "
       "dns2=2.2.2.2 dns3=3.3.3.3"},
      {kApNode, "dns-server 1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4 5.5.5.5", kUnknown},
      {kApNode, "dns-server 1.1.1.1 2.2.2.300", kUnknown},
      {kApNode, "dns-server", kIncomplete},
      {kApNode, "lan-ip-address 192.168.7.9/008", kUnknown}}},
    {{{EXEC_NODE,
       "debug capwap (all | fsm | error | packet | event) (mac-address HHHH.HHHH.HHHH| )",
       {"level", "mac"}},
      {EXEC_NODE, "clear wlan ap (name WORD|ap-group<1-1>|all)", {"name", "group"}}},
     {{EXEC_NODE, "deb cap f", "debug capwap fsm | level=fsm"},
      {EXEC_NODE, "debug capwap e", kAmbiguous},
      {EXEC_NODE, "debug capwap all mac-address 00aa.bbcc.dde", kUnknown},
      {EXEC_NODE, "clear wlan ap al", "clear wlan ap all |"},
      {EXEC_NODE, "cl w ap n lobby", "clear wlan ap name lobby | name=lobby"},
      {EXEC_NODE, "clear wlan ap ap-group 2", kUnknown},
      {EXEC_NODE, "clear wlan ap a", kAmbiguous}}},
    {{{kModelNode, "vender-id <0-4294967295>", {"id"}},
      {kModelNode,
       "radio <1-4> mode (11a|11b|11g|11an|11gn|11bgn|11ac|11axg|11axa) max-power <5-33>",
       {"radio", "mode", "power"}}},
     {{kModelNode, "vender-id 4294967296", kUnknown},
      {kModelNode, "radio 1 mode 11a max-power 5",
       "radio 1 mode 11a max-power 5 | radio=1 mode=11a power=5"},
      {kModelNode, "radio 04 mode 11bg max 33",
       "radio 04 mode 11bgn max-power 33 | radio=04 mode=11bgn power=33"},
      {kModelNode, "radio 1 mode 11ax max-power 20", kAmbiguous},
      {kModelNode, "radio +1 mode 11a max-power 20", kUnknown},
      {kModelNode, "radio 1 mode 11a max-power 34", kUnknown}}},
    {{{CONFIG_NODE, "wlan ap WORD", {"name"}},
      {CONFIG_NODE, "wlan ap-group <1-1>", {"group"}},
      {CONFIG_NODE, "wlan ap-model WORD", {"name"}},
      {ALL_VIEW_NODES, "show wlan ap (all|ap-group <1-255>)", {"group"}},
      {ALL_VIEW_NODES, "show wlan ap name WORD", {"name"}},
      {ALL_VIEW_NODES, "show wlan ap name WORD detail", {"name"}}},
     {{CONFIG_NODE, "wlan ap ap-model", "wlan ap ap-model | name=ap-model"},
      {CONFIG_NODE, "wlan ap-m x", "wlan ap-model x | name=x"},
      {CONFIG_NODE, "wlan ap- 1", kAmbiguous},
      {EXEC_NODE, "sh w a n x d", "show wlan ap name x detail | name=x"},
      {VIEW_NODE, "show wlan ap ap-group 255", "show wlan ap ap-group 255 | group=255"},
      {EXEC_NODE, "show wlan ap a", kAmbiguous},
      {CONFIG_NODE, "show wlan ap all", kUnknown}}},
};

class CliMatch : public CliTest {};

TEST_F(CliMatch, HardCommandStringsGiveTheirHandlersTheseValues) {
  for (const Group& group : kGroups) {
    host_vty_init(ctx());
    for (const Command& c : group.commands) Install(c.node, c.grammar, c.args, Record<0>);
    for (const Line& l : group.lines) {
      calls.clear();
      auto v = vty_new_internal(ctx(), l.node);
      v->privilege = kPrivilegeAdmin;
      int rc = -1;
      std::string out = Run(v.get(), l.line, &rc);
      if (out.empty() && calls.size() == 1) {
        EXPECT_EQ(Outcome(calls[0].args), l.outcome) << l.line;
      } else {
        EXPECT_EQ(out, std::string(l.outcome) + "\n") << l.line;
        EXPECT_NE(rc, CLI_SUCCESS);
        EXPECT_TRUE(calls.empty()) << l.line;
      }
    }
  }
  // Typed values of the slots.
  calls.clear();
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  host_vty_init(ctx());
  Install(CONFIG_NODE, "x A.B.C.D A.B.C.D/M HHHH.HHHH.HHHH <0-4294967295> (m1|WORD)",
          {"ip", "prefix", "mac", "n", "m"}, Record<0>);
  ASSERT_EQ(Run(v.get(), "x 10.1.2.3 192.168.7.9/24 00aA.Bbcc.DDEE 4294967295 m1"), "");
  const CliArgs& a = calls.at(0).args;
  EXPECT_EQ(a.Ipv4("ip")->s_addr, htonl(0x0A010203));
  EXPECT_EQ(a.Prefix("prefix")->prefixlen, 24);
  EXPECT_EQ(a.Prefix("prefix")->prefix.s_addr, htonl(0xC0A80709));
  EXPECT_EQ(a.Mac("mac"), (std::array<uint8_t, 6>{0x00, 0xaa, 0xbb, 0xcc, 0xdd, 0xee}));
  EXPECT_EQ(a.U32("n"), 4294967295u);
  EXPECT_TRUE(a.Has("m1"));
}

TEST_F(CliMatch, HelpHiddenAndPrivilege) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  CliCommand hidden = MakeCommand(CONFIG_NODE, "controlled-ac A.B.C.D", {"addr"}, Record<2>);
  ASSERT_EQ(cli_install_hidden(ctx(), CONFIG_NODE, hidden), 0);
  CliCommand admin = MakeCommand(ALL_VIEW_NODES, "show wtp", {}, Record<3>);
  admin.help = {"Show running system information", "WTPs"};
  ASSERT_EQ(cli_install_gen(ctx(), ALL_VIEW_NODES, kPrivilegeAdmin, admin), 0);
  auto config = vty_new_internal(ctx(), CONFIG_NODE);
  EXPECT_EQ(Run(config.get(), "wlan ap x model ?"), "  m1  help 6\n  m2  help 7\n  WORD  help 5\n");
  EXPECT_EQ(Run(config.get(), "wlan ap x model m1 ?"), "  apid  help 8\n  <cr>\n");
  EXPECT_EQ(Run(config.get(), "wlan ap x model m1 apid ?"), "  <1-32>  help 9\n");
  std::string top = Run(config.get(), "?");
  EXPECT_NE(top.find("  wlan  help 1\n"), std::string::npos) << top;
  EXPECT_NE(top.find("  end  End current mode and change to enable mode\n"), std::string::npos);
  EXPECT_EQ(top.find("controlled-ac"), std::string::npos) << "hidden commands are not listed";
  EXPECT_EQ(Run(config.get(), "controlled-ac 10.1.1.1"), "") << "but they run";
  EXPECT_EQ(Run(config.get(), "wlan ap x bogus ?"), "% Unknown command\n");

  auto v = vty_new_internal(ctx(), VIEW_NODE);
  EXPECT_EQ(v->privilege, kPrivilegeUser);
  EXPECT_EQ(Run(v.get(), "show ?"), "% Unknown command\n") << "no show command for users";
  EXPECT_EQ(Run(v.get(), "show wtp"), "% Unknown command\n");
  EXPECT_EQ(Run(v.get(), "configure terminal"), "% Unknown command\n");
  EXPECT_EQ(Run(v.get(), "enable"), "");
  EXPECT_EQ(v->privilege, kPrivilegeAdmin);
  EXPECT_EQ(Run(v.get(), "sh?"), "  show  Show running system information\n");
  EXPECT_EQ(Run(v.get(), "show ?"),
            "  running-config  Current operating configuration\n  wtp  WTPs\n");
  EXPECT_EQ(Run(v.get(), "show wtp"), "");
  EXPECT_EQ(Run(v.get(), "disable"), "");
  EXPECT_EQ(v->node, VIEW_NODE);
  EXPECT_EQ(Run(v.get(), "show wtp"), "% Unknown command\n");
  EXPECT_EQ(calls.size(), 2u);
}

int EnterAp(vty* v, const CliArgs& args) {
  v->index = std::string(args.Str("name"));
  v->node = kApNode;
  return CLI_SUCCESS;
}
int Refuse(vty* v, const CliArgs&) {
  vty_out(v, "nope\n");
  return CLI_WARNING;
}

TEST_F(CliMatch, NodesPromptsAndParentNodeLines) {
  cli_install_node(ctx(), kApNode, "config-ap", CONFIG_NODE);
  cli_install_default(ctx(), kApNode);
  Install(CONFIG_NODE, "wlan ap WORD", {"name"}, EnterAp);
  Install(CONFIG_NODE, "wlan refuse", {}, Refuse);
  Install(CONFIG_NODE, "wlan note", {}, Record<2>);
  Install(kApNode, "priority <1-7>", {"value"}, Record<1>);
  auto v = vty_new_internal(ctx(), VIEW_NODE);
  auto index = [&] { return v->index.has_value() ? std::any_cast<std::string>(v->index) : "-"; };
  std::string trail;
  for (const char* line :
       {"en", "conf t", "wlan ap lobby", "priority 7", "exit", "wlan ap lobby", "end",
        "configure terminal", "quit", "exit", "configure terminal", "wlan ap lobby", "wlan ap hall",
        "wlan refuse", "bogus", "priority", "wlan note", "priority 3"}) {
    std::string out = Run(v.get(), line);
    trail += cli_prompt(ctx(), v.get()) + index() +
             (out.empty() ? "" : " " + out.substr(0, out.size() - 1)) + "\n";
  }
  EXPECT_EQ(
      trail,
      "capwap# -\ncapwap(config)# -\ncapwap(config-ap)# lobby\ncapwap(config-ap)# lobby\n"
      "capwap(config)# -\ncapwap(config-ap)# lobby\ncapwap# -\ncapwap(config)# -\ncapwap# -\n"
      "capwap# -\n"  // without a session "exit" at the top closes nothing
      "capwap(config)# -\ncapwap(config-ap)# lobby\n"
      "capwap(config-ap)# hall\n"       // a parent-node line entering another AP
      "capwap(config-ap)# hall nope\n"  // refused: nothing changes
      "capwap(config-ap)# hall % Unknown command\ncapwap(config-ap)# hall % Incomplete command\n"
      "capwap(config)# -\n"  // a parent command that enters no node
      "capwap(config)# - % Unknown command\n");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].node, kApNode);
  EXPECT_EQ(calls[1].node, CONFIG_NODE);
}

TEST_F(CliMatch, HostileLinesNeverCrash) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  int rc = 0;
  EXPECT_EQ(Run(v.get(), std::string(4097, 'w'), &rc), "% Line too long\n");
  EXPECT_EQ(rc, CLI_ERR_TOO_LONG);
  EXPECT_EQ(Run(v.get(), "wlan ap " + std::string(4000, 'n') + " model m1"), "");
  EXPECT_EQ(calls.back().args.Str("name").size(), 4000u);
  EXPECT_EQ(Run(v.get(),
                "wl\x01\x1b"
                "an\tap x\x7f model\r m2\n"),
            "")
      << "control characters go, tabs separate";
  EXPECT_EQ(calls.back().args.Str("model"), "m2");
  EXPECT_EQ(Run(v.get(), "   \t "), "");
  EXPECT_EQ(Run(v.get(), std::string_view("wlan\0ap", 7)), "% Unknown command\n");
  // Random lines are the vty_line fuzz target's job.
}

}  // namespace
}  // namespace capwap::test
