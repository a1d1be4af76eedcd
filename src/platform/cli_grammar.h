// Command-string grammar: parses a command string into a token tree, assigns
// argument slots and expands the tree into the linear forms the matcher walks.
// Pure functions, no state; the grammar itself is described in cli.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace capwap::cli {

enum class TokenKind : uint8_t { kKeyword, kWord, kIpv4, kPrefix, kIpv6, kMac, kRange };

struct GrammarToken {
  TokenKind kind = TokenKind::kKeyword;
  std::string text;         // keyword, or the placeholder as written ("<1-32>", "MAC")
  uint32_t lo = 0, hi = 0;  // ranges only
  int help_index = -1;      // position among the command's tokens
  // A keyword standing beside a placeholder in the same group: it takes an
  // input token only on an exact match.
  bool exact_only = false;
};

// One element of a grammar sequence: a token, or a group of alternatives.
struct GrammarNode {
  bool is_group = false;
  GrammarToken token;                             // !is_group
  std::vector<std::vector<GrammarNode>> alternatives;  // is_group, non-empty ones
  bool optional = false;                          // is_group with an empty alternative
  int slot = -1;  // argument slot of a placeholder or of a single-token group
};

// One position of a linear form: the tokens accepted there (several for a
// single-token group) and the argument slot the matched text goes to.
struct Element {
  std::vector<GrammarToken> choices;
  int slot = -1;
};
using Form = std::vector<Element>;

struct ParsedCommand {
  std::vector<GrammarNode> tree;
  int token_count = 0;
  int slot_count = 0;
  std::vector<Form> forms;  // every linear form, in grammar order
};

// Upper bound on the linear forms of one command string.
inline constexpr size_t kMaxForms = 4096;

// Parses and expands `grammar`. On failure returns false and sets *error.
bool ParseGrammar(std::string_view grammar, ParsedCommand* out, std::string* error);

// True when `text` is acceptable for the placeholder token (keywords: false).
bool PlaceholderAccepts(const GrammarToken& token, std::string_view text);

// Canonical text of a form, equal for forms that accept the same input.
std::string FormKey(const Form& form);

// Input validators shared with the typed argument accessors.
bool ParseU32(std::string_view text, uint32_t* out);
bool ParseIpv4Text(std::string_view text, uint32_t* network_order);
bool ParsePrefixText(std::string_view text, uint32_t* network_order, uint8_t* prefixlen);
bool ParseMacText(std::string_view text, uint8_t mac[6]);

}  // namespace capwap::cli
