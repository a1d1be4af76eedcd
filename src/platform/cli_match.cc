#include "platform/cli_match.h"

#include <algorithm>
#include <set>

namespace capwap::cli {

namespace {

// How well one input token fits one grammar token; higher wins.
enum Level : int { kNone = 0, kWordLevel = 1, kTyped = 2, kPartial = 3, kExact = 4 };

struct Candidate {
  const InstalledCommand* command;
  const Form* form;
  std::vector<int> chosen;  // choice index per matched position
};

struct ElementMatch {
  int level = kNone;
  int choice = -1;
  std::vector<std::string> partial_keywords;  // keywords taken by prefix
};

ElementMatch MatchElement(const Element& element, std::string_view input) {
  ElementMatch m;
  for (size_t i = 0; i < element.choices.size(); ++i) {
    const GrammarToken& tok = element.choices[i];
    int level = kNone;
    if (tok.kind == TokenKind::kKeyword) {
      if (tok.text == input) {
        level = kExact;
      } else if (!tok.exact_only && tok.text.starts_with(input)) {
        level = kPartial;
      }
    } else if (PlaceholderAccepts(tok, input)) {
      level = tok.kind == TokenKind::kWord ? kWordLevel : kTyped;
    }
    if (level == kNone || level < m.level) continue;
    if (level > m.level) {
      m.level = level;
      m.choice = static_cast<int>(i);
      m.partial_keywords.clear();
    }
    if (level == kPartial) m.partial_keywords.push_back(tok.text);
  }
  return m;
}

std::vector<Candidate> AllCandidates(const std::vector<const InstalledCommand*>& commands) {
  std::vector<Candidate> out;
  for (const InstalledCommand* c : commands) {
    for (const Form& f : c->parsed.forms) out.push_back(Candidate{c, &f, {}});
  }
  return out;
}

// Keeps the candidates that take token `pos` at the best level. Returns
// kAmbiguous when the best is a keyword prefix of different keywords.
MatchStatus FilterAt(std::vector<Candidate>* cands, size_t pos, std::string_view input) {
  std::vector<std::pair<Candidate, ElementMatch>> scored;
  int best = kNone;
  for (Candidate& c : *cands) {
    if (c.form->size() <= pos) continue;
    ElementMatch m = MatchElement((*c.form)[pos], input);
    if (m.level == kNone) continue;
    best = std::max(best, m.level);
    scored.emplace_back(std::move(c), std::move(m));
  }
  cands->clear();
  if (best == kNone) return MatchStatus::kNoMatch;
  std::set<std::string> prefixed;
  for (auto& [c, m] : scored) {
    if (m.level != best) continue;
    prefixed.insert(m.partial_keywords.begin(), m.partial_keywords.end());
    c.chosen.push_back(m.choice);
    cands->push_back(std::move(c));
  }
  if (best == kPartial && prefixed.size() > 1) return MatchStatus::kAmbiguous;
  return MatchStatus::kMatched;
}

MatchStatus FilterAll(std::vector<Candidate>* cands, const std::vector<std::string>& tokens) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    MatchStatus st = FilterAt(cands, i, tokens[i]);
    if (st != MatchStatus::kMatched) return st;
  }
  return MatchStatus::kMatched;
}

CliArgs BuildArgs(const Candidate& c, const std::vector<std::string>& tokens) {
  CliArgs args;
  const std::vector<std::string>& names = c.command->cmd.args;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Element& element = (*c.form)[i];
    const GrammarToken& tok = element.choices[static_cast<size_t>(c.chosen[i])];
    bool keyword = tok.kind == TokenKind::kKeyword;
    const std::string& value = keyword ? tok.text : tokens[i];
    args.AddToken(value, keyword);
    if (element.slot >= 0 && static_cast<size_t>(element.slot) < names.size()) {
      args.AddSlot(names[static_cast<size_t>(element.slot)], value);
    }
  }
  return args;
}

std::string HelpOf(const InstalledCommand& c, const GrammarToken& tok) {
  if (tok.help_index < 0 || static_cast<size_t>(tok.help_index) >= c.cmd.help.size()) return "";
  return c.cmd.help[static_cast<size_t>(tok.help_index)];
}

bool OffersToken(const GrammarToken& tok, std::string_view partial) {
  if (partial.empty()) return true;
  if (tok.kind == TokenKind::kKeyword) return tok.text.starts_with(partial);
  return PlaceholderAccepts(tok, partial);
}

}  // namespace

std::vector<std::string> SplitTokens(std::string_view line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.emplace_back(line.substr(start, i - start));
  }
  return out;
}

MatchResult MatchLine(const std::vector<const InstalledCommand*>& commands,
                      const std::vector<std::string>& tokens) {
  MatchResult result;
  std::vector<Candidate> cands = AllCandidates(commands);
  result.status = FilterAll(&cands, tokens);
  if (result.status != MatchStatus::kMatched) return result;
  const Candidate* complete = nullptr;
  for (const Candidate& c : cands) {
    if (c.form->size() != tokens.size()) continue;
    if (complete && complete->command != c.command) {
      result.status = MatchStatus::kAmbiguous;
      return result;
    }
    if (!complete) complete = &c;
  }
  if (!complete) {
    result.status = cands.empty() ? MatchStatus::kNoMatch : MatchStatus::kIncomplete;
    return result;
  }
  result.command = complete->command;
  result.args = BuildArgs(*complete, tokens);
  return result;
}

MatchStatus HelpLine(const std::vector<const InstalledCommand*>& commands,
                     const std::vector<std::string>& tokens, std::string_view partial,
                     std::vector<HelpItem>* items) {
  std::vector<Candidate> cands = AllCandidates(commands);
  MatchStatus st = FilterAll(&cands, tokens);
  if (st != MatchStatus::kMatched) return st;
  std::vector<HelpItem> keywords, placeholders;
  std::set<std::string> seen;
  bool complete = false;
  for (const Candidate& c : cands) {
    if (c.form->size() == tokens.size()) {
      complete = true;
      continue;
    }
    for (const GrammarToken& tok : (*c.form)[tokens.size()].choices) {
      if (!OffersToken(tok, partial) || !seen.insert(tok.text).second) continue;
      auto& list = tok.kind == TokenKind::kKeyword ? keywords : placeholders;
      list.push_back(HelpItem{tok.text, HelpOf(*c.command, tok)});
    }
  }
  std::sort(keywords.begin(), keywords.end(),
            [](const HelpItem& a, const HelpItem& b) { return a.token < b.token; });
  items->insert(items->end(), keywords.begin(), keywords.end());
  items->insert(items->end(), placeholders.begin(), placeholders.end());
  if (complete && partial.empty()) items->push_back(HelpItem{"<cr>", ""});
  if (items->empty()) return MatchStatus::kNoMatch;
  return MatchStatus::kMatched;
}

}  // namespace capwap::cli
