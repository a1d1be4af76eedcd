// Shared pieces of the vty and CLI tests: a daemon context with the vty host,
// handlers that record what they were given, and a command builder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/cli.h"
#include "platform/cli_grammar.h"
#include "platform/lib.h"
#include "support/lab.h"

namespace capwap::test {

struct RecordedCall {
  int id;
  CliArgs args;
  int node;
  int privilege;
  bool replaying;
};

inline std::vector<RecordedCall> calls;

template <int Id>
int Record(vty* v, const CliArgs& args) {
  calls.push_back(RecordedCall{Id, args, v->node, v->privilege, v->replaying});
  return CLI_SUCCESS;
}

// A command with a generated help text per token ("help 1", ...).
inline CliCommand MakeCommand(int node, std::string grammar, std::vector<std::string> args,
                              cli_handler handler) {
  CliCommand cmd{node, std::move(grammar), {}, std::move(args), handler};
  cli::ParsedCommand parsed;
  std::string error;
  if (cli::ParseGrammar(cmd.grammar, &parsed, &error)) {
    for (int i = 0; i < parsed.token_count; ++i)
      cmd.help.push_back("help " + std::to_string(i + 1));
  }
  return cmd;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    host_vty_init(ctx());
  }
  lib_globals* ctx() { return lab_.ctx(); }
  void Install(int node, std::string grammar, std::vector<std::string> args, cli_handler h) {
    ASSERT_EQ(cli_install(ctx(), node, MakeCommand(node, grammar, std::move(args), h)), 0)
        << grammar;
  }
  // Runs a line; returns what it printed.
  std::string Run(vty* v, std::string_view line, int* rc = nullptr) {
    v->out.clear();
    int result = cli_execute(ctx(), v, line);
    if (rc) *rc = result;
    return v->out;
  }

  DaemonContext lab_;
};

}  // namespace capwap::test
