#include "platform/cli_grammar.h"

#include <arpa/inet.h>

#include <algorithm>
#include <set>

namespace capwap::cli {

namespace {

enum class LexKind : uint8_t { kOpen, kClose, kBar, kWord, kEnd };

struct Lexeme {
  LexKind kind;
  std::string text;
};

bool IsKeywordChar(char c, bool first) {
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  if (first) return false;
  return c == '-' || c == '_' || c == '.' || c == ':' || c == '/' || c == '+';
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '(' || c == ')' || c == '|'; }

// Splits the grammar into parentheses, bars and words; a range glued to a
// keyword ("ap-group<1-1>") becomes two words.
bool Lex(std::string_view grammar, std::vector<Lexeme>* out, std::string* error) {
  size_t i = 0;
  while (i < grammar.size()) {
    char c = grammar[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == '(') {
      out->push_back({LexKind::kOpen, "("});
      ++i;
    } else if (c == ')') {
      out->push_back({LexKind::kClose, ")"});
      ++i;
    } else if (c == '|') {
      out->push_back({LexKind::kBar, "|"});
      ++i;
    } else {
      size_t start = i;
      while (i < grammar.size() && !IsSeparator(grammar[i])) ++i;
      std::string_view word = grammar.substr(start, i - start);
      size_t angle = word.find('<');
      if (angle != std::string_view::npos && angle > 0) {
        out->push_back({LexKind::kWord, std::string(word.substr(0, angle))});
        word = word.substr(angle);
      }
      if (word.find('<', 1) != std::string_view::npos ||
          (word.front() == '<' && word.back() != '>')) {
        *error = "malformed range in '" + std::string(grammar.substr(start, i - start)) + "'";
        return false;
      }
      out->push_back({LexKind::kWord, std::string(word)});
    }
  }
  out->push_back({LexKind::kEnd, ""});
  return true;
}

bool ParseRangeToken(std::string_view text, GrammarToken* tok, std::string* error) {
  std::string_view inner = text.substr(1, text.size() - 2);
  size_t dash = inner.find('-');
  uint32_t lo = 0, hi = 0;
  if (dash == std::string_view::npos || !ParseU32(inner.substr(0, dash), &lo) ||
      !ParseU32(inner.substr(dash + 1), &hi)) {
    *error = "malformed range '" + std::string(text) + "'";
    return false;
  }
  if (lo > hi) {
    *error = "empty range '" + std::string(text) + "'";
    return false;
  }
  tok->kind = TokenKind::kRange;
  tok->lo = lo;
  tok->hi = hi;
  return true;
}

bool ClassifyWord(const std::string& word, GrammarToken* tok, std::string* error) {
  tok->text = word;
  if (word == "WORD") {
    tok->kind = TokenKind::kWord;
  } else if (word == "A.B.C.D") {
    tok->kind = TokenKind::kIpv4;
  } else if (word == "A.B.C.D/M") {
    tok->kind = TokenKind::kPrefix;
  } else if (word == "X:X::X:X") {
    tok->kind = TokenKind::kIpv6;
  } else if (word == "HHHH.HHHH.HHHH" || word == "MAC") {
    tok->kind = TokenKind::kMac;
  } else if (word.front() == '<') {
    return ParseRangeToken(word, tok, error);
  } else {
    for (size_t i = 0; i < word.size(); ++i) {
      if (!IsKeywordChar(word[i], i == 0)) {
        *error = "bad keyword or unknown placeholder '" + word + "'";
        return false;
      }
    }
    tok->kind = TokenKind::kKeyword;
  }
  return true;
}

bool IsPlaceholderToken(const GrammarNode& node) {
  return !node.is_group && node.token.kind != TokenKind::kKeyword;
}

class Parser {
 public:
  Parser(std::vector<Lexeme> lexemes, std::string* error)
      : lexemes_(std::move(lexemes)), error_(error) {}

  bool ParseTop(std::vector<GrammarNode>* out) {
    if (!ParseSequence(out)) return false;
    const Lexeme& next = lexemes_[pos_];
    if (next.kind == LexKind::kClose) return Fail("unbalanced ')'");
    if (next.kind == LexKind::kBar) return Fail("'|' outside a group");
    if (out->empty()) return Fail("empty command");
    return true;
  }
  int token_count() const { return tokens_; }

 private:
  bool Fail(std::string why) {
    *error_ = std::move(why);
    return false;
  }

  bool ParseSequence(std::vector<GrammarNode>* out) {
    while (true) {
      const Lexeme& lx = lexemes_[pos_];
      if (lx.kind == LexKind::kWord) {
        GrammarNode node;
        if (!ClassifyWord(lx.text, &node.token, error_)) return false;
        node.token.help_index = tokens_++;
        out->push_back(std::move(node));
        ++pos_;
      } else if (lx.kind == LexKind::kOpen) {
        ++pos_;
        GrammarNode group;
        if (!ParseGroup(&group)) return false;
        out->push_back(std::move(group));
      } else {
        return true;
      }
    }
  }

  bool ParseGroup(GrammarNode* group) {
    group->is_group = true;
    while (true) {
      std::vector<GrammarNode> alt;
      if (!ParseSequence(&alt)) return false;
      if (alt.empty()) {
        group->optional = true;
      } else {
        group->alternatives.push_back(std::move(alt));
      }
      LexKind next = lexemes_[pos_].kind;
      ++pos_;
      if (next == LexKind::kClose) break;
      if (next != LexKind::kBar) return Fail("unclosed '('");
    }
    if (group->alternatives.empty()) return Fail("group without alternatives");
    MarkExactOnlyKeywords(group);
    return true;
  }

  static void MarkExactOnlyKeywords(GrammarNode* group) {
    bool placeholder_first = false;
    for (const auto& alt : group->alternatives) {
      if (IsPlaceholderToken(alt.front())) placeholder_first = true;
    }
    if (!placeholder_first) return;
    for (auto& alt : group->alternatives) {
      GrammarNode& first = alt.front();
      if (!first.is_group && first.token.kind == TokenKind::kKeyword) {
        first.token.exact_only = true;
      }
    }
  }

  std::vector<Lexeme> lexemes_;
  std::string* error_;
  size_t pos_ = 0;
  int tokens_ = 0;
};

bool IsSingleTokenGroup(const GrammarNode& node) {
  if (!node.is_group) return false;
  for (const auto& alt : node.alternatives) {
    if (alt.size() != 1 || alt.front().is_group) return false;
  }
  return true;
}

void AssignSlots(std::vector<GrammarNode>* seq, int* next) {
  for (auto& node : *seq) {
    if (!node.is_group) {
      if (node.token.kind != TokenKind::kKeyword) node.slot = (*next)++;
    } else if (IsSingleTokenGroup(node)) {
      node.slot = (*next)++;
    } else {
      for (auto& alt : node.alternatives) AssignSlots(&alt, next);
    }
  }
}

std::string TokenKey(const GrammarToken& tok) {
  switch (tok.kind) {
    case TokenKind::kKeyword: return tok.text;
    case TokenKind::kWord: return "WORD";
    case TokenKind::kIpv4: return "A.B.C.D";
    case TokenKind::kPrefix: return "A.B.C.D/M";
    case TokenKind::kIpv6: return "X:X::X:X";
    case TokenKind::kMac: return "MAC";
    case TokenKind::kRange: {
      // Built by appending: gcc 12 misreads "<" + std::string as overlapping.
      std::string key("<");
      key.append(std::to_string(tok.lo)).append("-").append(std::to_string(tok.hi)).append(">");
      return key;
    }
  }
  return tok.text;
}

class Expander {
 public:
  explicit Expander(std::string* error) : error_(error) {}

  bool Expand(const std::vector<GrammarNode>& seq, std::vector<Form>* out) {
    std::vector<Form> forms(1);
    for (const auto& node : seq) {
      std::vector<Form> next;
      if (!node.is_group) {
        for (auto& f : forms) {
          f.push_back(Element{{node.token}, node.slot});
        }
        continue;
      }
      std::vector<Form> tails;
      if (IsSingleTokenGroup(node)) {
        Element e;
        e.slot = node.slot;
        for (const auto& alt : node.alternatives) e.choices.push_back(alt.front().token);
        if (!CheckDistinctChoices(e)) return false;
        tails.push_back(Form{std::move(e)});
      } else {
        for (const auto& alt : node.alternatives) {
          if (!Expand(alt, &tails)) return false;
        }
      }
      if (node.optional) tails.emplace_back();
      if (forms.size() * tails.size() > kMaxForms) {
        *error_ = "command expands to more than " + std::to_string(kMaxForms) + " forms";
        return false;
      }
      for (const auto& head : forms) {
        for (const auto& tail : tails) {
          Form f = head;
          f.insert(f.end(), tail.begin(), tail.end());
          next.push_back(std::move(f));
        }
      }
      forms = std::move(next);
    }
    if (out->size() + forms.size() > kMaxForms) {
      *error_ = "command expands to more than " + std::to_string(kMaxForms) + " forms";
      return false;
    }
    out->insert(out->end(), forms.begin(), forms.end());
    return true;
  }

 private:
  bool CheckDistinctChoices(const Element& e) {
    std::set<std::string> seen;
    for (const auto& tok : e.choices) {
      if (!seen.insert(TokenKey(tok)).second) {
        *error_ = "'" + tok.text + "' appears twice in one group";
        return false;
      }
    }
    return true;
  }

  std::string* error_;
};

}  // namespace

bool ParseU32(std::string_view text, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

bool ParseIpv4Text(std::string_view text, uint32_t* network_order) {
  if (text.empty() || text.size() > 15) return false;
  std::string copy(text);
  in_addr addr{};
  if (inet_pton(AF_INET, copy.c_str(), &addr) != 1) return false;
  *network_order = addr.s_addr;
  return true;
}

bool ParsePrefixText(std::string_view text, uint32_t* network_order, uint8_t* prefixlen) {
  size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  std::string_view len_text = text.substr(slash + 1);
  uint32_t len = 0;
  if (len_text.size() > 2 || !ParseU32(len_text, &len) || len > 32) return false;
  if (!ParseIpv4Text(text.substr(0, slash), network_order)) return false;
  *prefixlen = static_cast<uint8_t>(len);
  return true;
}

bool ParseMacText(std::string_view text, uint8_t mac[6]) {
  if (text.size() != 14 || text[4] != '.' || text[9] != '.') return false;
  int nibbles = 0;
  uint8_t bytes[6] = {};
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 4 || i == 9) continue;
    char c = text[i];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return false;
    }
    bytes[nibbles / 2] = static_cast<uint8_t>((bytes[nibbles / 2] << 4) | v);
    ++nibbles;
  }
  std::copy(bytes, bytes + 6, mac);
  return true;
}

bool PlaceholderAccepts(const GrammarToken& token, std::string_view text) {
  uint32_t u32 = 0;
  uint8_t u8 = 0;
  uint8_t mac[6];
  switch (token.kind) {
    case TokenKind::kKeyword: return false;
    case TokenKind::kWord: return !text.empty();
    case TokenKind::kIpv4: return ParseIpv4Text(text, &u32);
    case TokenKind::kPrefix: return ParsePrefixText(text, &u32, &u8);
    case TokenKind::kMac: return ParseMacText(text, mac);
    case TokenKind::kRange: return ParseU32(text, &u32) && u32 >= token.lo && u32 <= token.hi;
    case TokenKind::kIpv6: {
      if (text.empty() || text.size() > 45) return false;
      std::string copy(text);
      in6_addr addr{};
      return inet_pton(AF_INET6, copy.c_str(), &addr) == 1;
    }
  }
  return false;
}

std::string FormKey(const Form& form) {
  std::string key;
  for (const auto& element : form) {
    std::vector<std::string> keys;
    for (const auto& tok : element.choices) keys.push_back(TokenKey(tok));
    std::sort(keys.begin(), keys.end());
    if (!key.empty()) key += ' ';
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i) key += '|';
      key += keys[i];
    }
  }
  return key;
}

bool ParseGrammar(std::string_view grammar, ParsedCommand* out, std::string* error) {
  std::vector<Lexeme> lexemes;
  if (!Lex(grammar, &lexemes, error)) return false;
  Parser parser(std::move(lexemes), error);
  ParsedCommand parsed;
  if (!parser.ParseTop(&parsed.tree)) return false;
  parsed.token_count = parser.token_count();
  AssignSlots(&parsed.tree, &parsed.slot_count);
  Expander expander(error);
  if (!expander.Expand(parsed.tree, &parsed.forms)) return false;
  std::set<std::string> keys;
  for (const auto& form : parsed.forms) {
    if (!keys.insert(FormKey(form)).second) {
      *error = "two forms of the command accept the same input ('" + FormKey(form) + "')";
      return false;
    }
  }
  *out = std::move(parsed);
  return true;
}

}  // namespace capwap::cli
