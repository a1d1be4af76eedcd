// Command-string grammar: what installs, what is refused and why, argument
// slot counting, and the table checks other modules' tests call.
#include <algorithm>

#include "cli_fixture.h"
#include "platform/cli_table.h"
#include "platform/log.h"

namespace capwap::test {
namespace {

struct SlotCase {
  const char* grammar;
  int tokens;
  int slots;
};

TEST(CliGrammar, CountsTokensAndArgumentSlots) {
  const SlotCase cases[] = {
      {"wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)", 9, 3},
      {"dns-server A.B.C.D (A.B.C.D (A.B.C.D (A.B.C.D |)|)|)", 5, 4},
      {"debug capwap (all | fsm | error | packet | event) (mac-address HHHH.HHHH.HHHH| )", 9, 2},
      {"clear wlan ap (name WORD|ap-group<1-1>|all)", 8, 2},
      {"vender-id <0-4294967295>", 2, 1},
      {"radio <1-4> mode (11a|11b|11g|11an|11gn|11bgn|11ac|11axg|11axa) max-power <5-33>", 14, 3},
      {"lan-dhcp range A.B.C.D A.B.C.D leasetime <2-11520>", 6, 3},
      {"lan-ip-address A.B.C.D/M", 2, 1},
      {"wlan upgrade ap (name WORD|model (WORD | m1 | m2)) (url|)", 10, 3},
      {"show wlan ap (all|ap-group <1-255>)", 6, 1},
      {"mesh-data-path (wired|5g)", 3, 1},
      {"ipv6 X:X::X:X mac MAC", 4, 2},
      {"n2n-server A.B.C.D port <1-65535>", 4, 2},
  };
  for (const auto& c : cases) {
    cli::ParsedCommand parsed;
    std::string error;
    ASSERT_TRUE(cli::ParseGrammar(c.grammar, &parsed, &error)) << c.grammar << ": " << error;
    EXPECT_EQ(parsed.token_count, c.tokens) << c.grammar;
    EXPECT_EQ(parsed.slot_count, c.slots) << c.grammar;
  }
}

TEST(CliGrammar, GluedRangeAndLooseBlanksParseAlike) {
  cli::ParsedCommand tight, loose;
  std::string error;
  ASSERT_TRUE(cli::ParseGrammar("clear (name WORD|ap-group<1-1>|all)", &tight, &error));
  ASSERT_TRUE(cli::ParseGrammar("  clear  (  name WORD |  ap-group <1-1> | all )  ", &loose,
                                &error));
  ASSERT_EQ(tight.forms.size(), 3u);
  ASSERT_EQ(loose.forms.size(), 3u);
  for (size_t i = 0; i < tight.forms.size(); ++i) {
    EXPECT_EQ(cli::FormKey(tight.forms[i]), cli::FormKey(loose.forms[i]));
  }
  EXPECT_EQ(cli::FormKey(tight.forms[1]), "clear ap-group <1-1>");
}

TEST(CliGrammar, RefusesMalformedStrings) {
  const char* bad[] = {
      "",
      "   ",
      "wlan (a|b",
      "wlan a|b",
      "wlan a)",
      "wlan ()",
      "wlan ( | )",
      "radio <5-2>",
      "radio <1-4294967296>",
      "radio <1->",
      "radio <a-b>",
      "radio <1-4>x",
      "ap-group<1-1",
      "wlan Word",
      "wlan LINE",
      "wlan ap$",
      "wlan (a|a)",
      "wlan (WORD|WORD)",
      "x (WORD|) (WORD|)",
  };
  for (const char* grammar : bad) {
    cli::ParsedCommand parsed;
    std::string error;
    EXPECT_FALSE(cli::ParseGrammar(grammar, &parsed, &error)) << "'" << grammar << "'";
    EXPECT_FALSE(error.empty()) << grammar;
  }
}

TEST(CliGrammar, RefusesGrammarsWithTooManyForms) {
  std::string grammar = "x";
  for (int i = 0; i < 13; ++i) grammar += " (k" + std::to_string(i) + " v|)";
  cli::ParsedCommand parsed;
  std::string error;
  EXPECT_FALSE(cli::ParseGrammar(grammar, &parsed, &error));
  EXPECT_NE(error.find("forms"), std::string::npos);
}

TEST(CliGrammar, PlaceholderValidation) {
  auto accepts = [](const char* grammar_token, const char* text) {
    cli::ParsedCommand parsed;
    std::string error;
    EXPECT_TRUE(cli::ParseGrammar(grammar_token, &parsed, &error)) << error;
    return cli::PlaceholderAccepts(parsed.forms[0][0].choices[0], text);
  };
  EXPECT_TRUE(accepts("A.B.C.D", "10.0.0.1"));
  EXPECT_FALSE(accepts("A.B.C.D", "10.0.0"));
  EXPECT_FALSE(accepts("A.B.C.D", "10.0.0.256"));
  EXPECT_FALSE(accepts("A.B.C.D", "10.0.0.1/8"));
  EXPECT_TRUE(accepts("A.B.C.D/M", "10.0.0.1/0"));
  EXPECT_TRUE(accepts("A.B.C.D/M", "10.0.0.1/32"));
  EXPECT_FALSE(accepts("A.B.C.D/M", "10.0.0.1/33"));
  EXPECT_FALSE(accepts("A.B.C.D/M", "10.0.0.1/"));
  EXPECT_FALSE(accepts("A.B.C.D/M", "10.0.0.1/008"));
  EXPECT_TRUE(accepts("X:X::X:X", "ff0e::18c"));
  EXPECT_FALSE(accepts("X:X::X:X", "ff0e:::18c"));
  EXPECT_TRUE(accepts("HHHH.HHHH.HHHH", "00aA.bBcC.dDeE"));
  EXPECT_FALSE(accepts("MAC", "00aa.bbcc.ddee0"));
  EXPECT_FALSE(accepts("MAC", "00aa:bbcc:ddee"));
  EXPECT_FALSE(accepts("MAC", "00ag.bbcc.ddee"));
  EXPECT_TRUE(accepts("<0-4294967295>", "4294967295"));
  EXPECT_FALSE(accepts("<0-4294967295>", "4294967296"));
  EXPECT_FALSE(accepts("<0-4294967295>", "99999999999"));
  EXPECT_FALSE(accepts("<1-4>", "-1"));
  EXPECT_FALSE(accepts("<1-4>", "+1"));
  EXPECT_FALSE(accepts("<1-4>", "0"));
  EXPECT_TRUE(accepts("<1-4>", "04"));
}

class CliInstall : public CliTest {};

TEST_F(CliInstall, InstallsEveryHardCommandAsWritten) {
  Install(CONFIG_NODE, "wlan ap WORD model (WORD | m1 | m2) (apid <1-32>|)",
          {"name", "model", "apid"}, Record<1>);
  Install(100, "dns-server A.B.C.D (A.B.C.D (A.B.C.D (A.B.C.D |)|)|)",
          {"dns1", "dns2", "dns3", "dns4"}, Record<2>);
  Install(EXEC_NODE,
          "debug capwap (all | fsm | error | packet | event) (mac-address HHHH.HHHH.HHHH| )",
          {"level", "mac"}, Record<3>);
  Install(EXEC_NODE, "clear wlan ap (name WORD|ap-group<1-1>|all)", {"name", "group"},
          Record<4>);
  Install(110, "vender-id <0-4294967295>", {"id"}, Record<5>);
  Install(110,
          "radio <1-4> mode (11a|11b|11g|11an|11gn|11bgn|11ac|11axg|11axa) max-power <5-33>",
          {"radio", "mode", "power"}, Record<6>);
  Install(100, "lan-dhcp range A.B.C.D A.B.C.D leasetime <2-11520>", {"low", "high", "lease"},
          Record<7>);
  Install(100, "lan-ip-address A.B.C.D/M", {"prefix"}, Record<8>);
}

TEST_F(CliInstall, RefusalsReturnOneAndSayWhy) {
  LogCapture log;
  CliCommand good = MakeCommand(CONFIG_NODE, "wlan ap WORD", {"name"}, Record<1>);
  ASSERT_EQ(cli_install(ctx(), CONFIG_NODE, good), 0);

  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, good), 1);
  EXPECT_TRUE(log.Contains("the same command already exists in node 5")) << log.text();

  CliCommand malformed = good;
  malformed.grammar = "wlan (ap WORD";
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, malformed), 1);
  EXPECT_TRUE(log.Contains("unclosed '('")) << log.text();

  CliCommand few_help = MakeCommand(CONFIG_NODE, "wlan ap-model WORD", {"name"}, Record<1>);
  few_help.help.pop_back();
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, few_help), 1);
  EXPECT_TRUE(log.Contains("2 help texts for 3 tokens")) << log.text();

  CliCommand many_args = MakeCommand(CONFIG_NODE, "wlan ap-model WORD", {"name", "x"}, Record<1>);
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, many_args), 1);
  EXPECT_TRUE(log.Contains("2 argument names for 1 argument slots")) << log.text();

  CliCommand no_handler = MakeCommand(CONFIG_NODE, "wlan ap-model WORD", {"name"}, nullptr);
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, no_handler), 1);
  EXPECT_TRUE(log.Contains("no handler")) << log.text();

  // Nothing of the refused commands is reachable.
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  EXPECT_EQ(Run(v.get(), "wlan ap-model x"), "% Unknown command\n");
}

TEST_F(CliInstall, AllViewNodesMeansViewAndExec) {
  Install(ALL_VIEW_NODES, "show wlan ap name WORD", {"name"}, Record<1>);
  auto view = vty_new_internal(ctx(), VIEW_NODE);
  auto exec = vty_new_internal(ctx(), EXEC_NODE);
  auto config = vty_new_internal(ctx(), CONFIG_NODE);
  EXPECT_EQ(Run(view.get(), "show wlan ap name a"), "");
  EXPECT_EQ(Run(exec.get(), "show wlan ap name b"), "");
  EXPECT_EQ(Run(config.get(), "show wlan ap name c"), "% Unknown command\n");
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[0].node, VIEW_NODE);
  EXPECT_EQ(Calls()[1].node, EXEC_NODE);
  // Installing the same command in EXEC_NODE now collides.
  EXPECT_EQ(cli_install(ctx(), EXEC_NODE,
                        MakeCommand(EXEC_NODE, "show wlan ap name WORD", {"name"}, Record<2>)),
            1);
}

TEST(CliValidate, ReportsCountMismatchesAndBadNames) {
  CliCommand cmd = MakeCommand(100, "radio <1-4> mode (11a|11b) max-power <5-33>",
                               {"radio", "mode", "power"}, Record<1>);
  EXPECT_TRUE(cli_validate(cmd).empty());

  CliCommand extra_help = cmd;
  extra_help.help.push_back("one too many");
  ASSERT_EQ(cli_validate(extra_help).size(), 1u);
  EXPECT_EQ(cli_validate(extra_help)[0], "8 help texts for 7 tokens");

  CliCommand short_args = cmd;
  short_args.args = {"radio", "mode"};
  ASSERT_EQ(cli_validate(short_args).size(), 1u);
  EXPECT_EQ(cli_validate(short_args)[0], "2 argument names for 3 argument slots");

  CliCommand twice = cmd;
  twice.args = {"radio", "radio", "power"};
  EXPECT_EQ(cli_validate(twice), std::vector<std::string>{"argument name 'radio' twice"});

  CliCommand blank_help = cmd;
  blank_help.help[2] = "";
  EXPECT_EQ(cli_validate(blank_help), std::vector<std::string>{"empty help text for token 3"});

  CliCommand broken = cmd;
  broken.grammar = "radio <1-4> mode (11a|11b max-power";
  ASSERT_EQ(cli_validate(broken).size(), 1u);
  EXPECT_EQ(cli_validate(broken)[0].rfind("grammar: ", 0), 0u);
}

TEST(CliValidate, TableCheckFindsDuplicateFormsPerNode) {
  const CliCommand table[] = {
      MakeCommand(100, "priority <1-7>", {"value"}, Record<1>),
      MakeCommand(104, "priority <1-7>", {"value"}, Record<2>),  // another node: fine
      MakeCommand(100, "no priority", {}, Record<3>),
      MakeCommand(ALL_VIEW_NODES, "show debug all", {}, Record<4>),
      MakeCommand(EXEC_NODE, "show  debug   all", {}, Record<5>),  // collides in EXEC_NODE
      MakeCommand(100, "no  priority", {"oops"}, Record<6>),      // collides, and a bad count
  };
  std::vector<std::string> problems = cli_validate_table(table);
  ASSERT_EQ(problems.size(), 3u) << ::testing::PrintToString(problems);
  EXPECT_EQ(problems[0], "\"show  debug   all\": same form as \"show debug all\" in node 4");
  EXPECT_EQ(problems[1], "\"no  priority\": 1 argument names for 0 argument slots");
  EXPECT_EQ(problems[2], "\"no  priority\": same form as \"no priority\" in node 100");
}

}  // namespace
}  // namespace capwap::test
