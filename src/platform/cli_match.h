// Line matcher: finds the command an input line names among the commands of
// one node, with per-token precedence (exact keyword, then unambiguous
// keyword prefix, then typed placeholder, then WORD), and lists what may come
// next for "?" help. Pure: no output, no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/cli.h"
#include "platform/cli_grammar.h"

namespace capwap::cli {

struct InstalledCommand {
  CliCommand cmd;
  ParsedCommand parsed;
};

enum class MatchStatus { kMatched, kNoMatch, kAmbiguous, kIncomplete };

struct MatchResult {
  MatchStatus status = MatchStatus::kNoMatch;
  const InstalledCommand* command = nullptr;  // kMatched
  CliArgs args;                               // kMatched
};

// Splits an input line at blanks and tabs.
std::vector<std::string> SplitTokens(std::string_view line);

MatchResult MatchLine(const std::vector<const InstalledCommand*>& commands,
                      const std::vector<std::string>& tokens);

struct HelpItem {
  std::string token;  // keyword in full, placeholder as written, or "<cr>"
  std::string help;
};

// What may follow `tokens`: with `partial` empty, every token of the next
// position (and "<cr>" when the line is already complete); otherwise the
// tokens of the next position that accept `partial` as it stands.
MatchStatus HelpLine(const std::vector<const InstalledCommand*>& commands,
                     const std::vector<std::string>& tokens, std::string_view partial,
                     std::vector<HelpItem>* items);

}  // namespace capwap::cli
