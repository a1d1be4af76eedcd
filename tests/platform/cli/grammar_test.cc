// Command-string grammar and table validation: what installs, what is
// refused and why, and the table check other modules' tests call.
#include "cli_fixture.h"
#include "platform/cli_table.h"
#include "platform/log.h"

namespace capwap::test {
namespace {

TEST(CliGrammar, FormsIgnoreBlanksAndMalformedStringsAreRefused) {
  cli::ParsedCommand tight, loose;
  std::string error;
  ASSERT_TRUE(cli::ParseGrammar("clear (name WORD|ap-group<1-1>|all)", &tight, &error));
  ASSERT_TRUE(
      cli::ParseGrammar("  clear  (  name WORD |  ap-group <1-1> | all )  ", &loose, &error));
  ASSERT_EQ(tight.forms.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(cli::FormKey(tight.forms[i]), cli::FormKey(loose.forms[i]));
  EXPECT_EQ(cli::FormKey(tight.forms[1]), "clear ap-group <1-1>");
  EXPECT_EQ(tight.token_count, 6);
  EXPECT_EQ(tight.slot_count, 2);

  std::vector<std::string> malformed = {
      "", "   ", "wlan (a|b", "wlan a|b", "wlan a)", "wlan ()", "wlan ( | )", "radio <5-2>",
      "radio <1-4294967296>", "radio <1->", "radio <a-b>", "radio <1-4>x", "ap-group<1-1",
      "wlan Word", "wlan LINE", "wlan ap$", "wlan (a|a)", "wlan (WORD|WORD)", "x (WORD|) (WORD|)",
      "x"};  // completed below with more optional groups than a command may have
  for (int i = 0; i < 13; ++i) malformed.back() += " (k" + std::to_string(i) + " v|)";
  for (const std::string& grammar : malformed) {
    cli::ParsedCommand parsed;
    error.clear();
    EXPECT_FALSE(cli::ParseGrammar(grammar, &parsed, &error)) << "'" << grammar << "'";
    EXPECT_FALSE(error.empty()) << grammar;
  }
}

TEST(CliGrammar, ValidationReportsCountMismatchesBadNamesAndDuplicateForms) {
  CliCommand cmd = MakeCommand(100, "radio <1-4> mode (11a|11b) max-power <5-33>",
                               {"radio", "mode", "power"}, Record<1>);
  EXPECT_TRUE(cli_validate(cmd).empty());
  auto problems = [&](auto change) {
    CliCommand copy = cmd;
    change(copy);
    std::vector<std::string> found = cli_validate(copy);
    return found.size() == 1 ? found[0] : ::testing::PrintToString(found);
  };
  EXPECT_EQ(problems([](CliCommand& c) { c.help.push_back("x"); }), "8 help texts for 7 tokens");
  EXPECT_EQ(problems([](CliCommand& c) { c.args.pop_back(); }),
            "2 argument names for 3 argument slots");
  EXPECT_EQ(problems([](CliCommand& c) { c.args[1] = "radio"; }), "argument name 'radio' twice");
  EXPECT_EQ(problems([](CliCommand& c) { c.help[2] = ""; }), "empty help text for token 3");
  EXPECT_EQ(
      problems([](CliCommand& c) { c.grammar.erase(c.grammar.find(')')); }).rfind("grammar: ", 0),
      0u);

  const CliCommand table[] = {
      MakeCommand(100, "priority <1-7>", {"value"}, Record<1>),
      MakeCommand(104, "priority <1-7>", {"value"}, Record<2>),  // another node: fine
      MakeCommand(100, "no priority", {}, Record<3>),
      MakeCommand(ALL_VIEW_NODES, "show debug all", {}, Record<4>),
      MakeCommand(EXEC_NODE, "show  debug   all", {}, Record<5>),  // collides in EXEC_NODE
      MakeCommand(100, "no  priority", {"oops"}, Record<6>),       // collides, and a bad count
  };
  EXPECT_EQ(
      cli_validate_table(table),
      (std::vector<std::string>{"\"show  debug   all\": same form as \"show debug all\" in node 4",
                                "\"no  priority\": 1 argument names for 0 argument slots",
                                "\"no  priority\": same form as \"no priority\" in node 100"}));
}

class CliInstall : public CliTest {};

TEST_F(CliInstall, RefusalsReturnOneSayWhyAndLeaveNothingReachable) {
  LogCapture log;
  Install(ALL_VIEW_NODES, "show wlan ap name WORD", {"name"}, Record<1>);
  CliCommand good = MakeCommand(CONFIG_NODE, "wlan ap WORD", {"name"}, Record<1>);
  ASSERT_EQ(cli_install(ctx(), CONFIG_NODE, good), 0);
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, good), 1);
  EXPECT_EQ(cli_install(ctx(), EXEC_NODE,
                        MakeCommand(EXEC_NODE, "show wlan ap name WORD", {"name"}, Record<2>)),
            1)
      << "ALL_VIEW_NODES holds EXEC_NODE";
  CliCommand malformed = good;
  malformed.grammar = "wlan (ap WORD";
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, malformed), 1);
  CliCommand few_help = MakeCommand(CONFIG_NODE, "wlan ap-model WORD", {"name"}, Record<1>);
  few_help.help.pop_back();
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE, few_help), 1);
  EXPECT_EQ(cli_install(ctx(), CONFIG_NODE,
                        MakeCommand(CONFIG_NODE, "wlan ap-model WORD", {"name"}, nullptr)),
            1);
  for (const char* why : {"the same command already exists in node 5", "unclosed '('",
                          "2 help texts for 3 tokens", "no handler"}) {
    EXPECT_TRUE(log.Contains(why)) << why << "\n" << log.text();
  }
  auto view = vty_new_internal(ctx(), VIEW_NODE);
  auto config = vty_new_internal(ctx(), CONFIG_NODE);
  EXPECT_EQ(Run(view.get(), "show wlan ap name a"), "");
  EXPECT_EQ(Run(config.get(), "show wlan ap name c"), "% Unknown command\n");
  EXPECT_EQ(Run(config.get(), "wlan ap-model x"), "% Unknown command\n");
}

}  // namespace
}  // namespace capwap::test
