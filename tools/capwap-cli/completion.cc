#include "completion.h"

#include <sstream>

namespace capwap_cli {

namespace {

bool IsKeyword(std::string_view word) {
  if (word.empty() || word.front() == '-') return false;
  for (char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return true;
}

}  // namespace

std::string HelpQuery(std::string_view line_to_cursor) { return std::string(line_to_cursor) + "?"; }

std::vector<std::string> HelpKeywords(std::string_view answer) {
  std::vector<std::string> words;
  std::istringstream lines{std::string(answer)};
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  ")) continue;  // an error line, not a help item
    std::istringstream fields(line);
    std::string word;
    fields >> word;
    if (IsKeyword(word)) words.push_back(word);
  }
  return words;
}

}  // namespace capwap_cli
