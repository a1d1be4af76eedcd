#include "platform/cli.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>

#include "platform/cli_grammar.h"
#include "platform/cli_host.h"
#include "platform/cli_match.h"
#include "platform/cli_table.h"
#include "platform/lib.h"
#include "platform/log.h"

using capwap::cli::InstalledCommand;
using capwap::cli::MatchStatus;
using capwap::cli::NodeInfo;
using capwap::cli::ParsedCommand;

// --- Output and arguments -----------------------------------------------

int vty_out(vty* v, const char* fmt, ...) {
  if (!v) return 0;
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    v->out.append(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), fmt, again);
    big.resize(static_cast<size_t>(n));
    v->out += big;
  }
  va_end(again);
  return n < 0 ? 0 : n;
}

std::optional<std::string_view> CliArgs::Get(std::string_view name) const {
  for (const auto& [slot, value] : slots_) {
    if (slot == name) return std::string_view(value);
  }
  return std::nullopt;
}

std::string CliArgs::Str(std::string_view name) const {
  auto value = Get(name);
  return value ? std::string(*value) : std::string();
}

bool CliArgs::Has(std::string_view keyword) const {
  for (const auto& k : keywords_) {
    if (k == keyword) return true;
  }
  return false;
}

std::optional<uint32_t> CliArgs::U32(std::string_view name) const {
  auto text = Get(name);
  uint32_t value = 0;
  if (!text || !capwap::cli::ParseU32(*text, &value)) return std::nullopt;
  return value;
}

std::optional<in_addr> CliArgs::Ipv4(std::string_view name) const {
  auto text = Get(name);
  in_addr addr{};
  if (!text || !capwap::cli::ParseIpv4Text(*text, &addr.s_addr)) return std::nullopt;
  return addr;
}

std::optional<prefix_ipv4> CliArgs::Prefix(std::string_view name) const {
  auto text = Get(name);
  prefix_ipv4 p;
  if (!text || !capwap::cli::ParsePrefixText(*text, &p.prefix.s_addr, &p.prefixlen)) {
    return std::nullopt;
  }
  return p;
}

std::optional<std::array<uint8_t, 6>> CliArgs::Mac(std::string_view name) const {
  auto text = Get(name);
  std::array<uint8_t, 6> mac{};
  if (!text || !capwap::cli::ParseMacText(*text, mac.data())) return std::nullopt;
  return mac;
}

void CliArgs::AddSlot(std::string name, std::string value) {
  slots_.emplace_back(std::move(name), std::move(value));
}

void CliArgs::AddToken(std::string token, bool is_keyword) {
  if (is_keyword) keywords_.push_back(token);
  tokens_.push_back(std::move(token));
}

// --- Host and nodes ------------------------------------------------------

void CliHostDeleter::operator()(cli_host* host) const {
  std::unique_ptr<cli_host> owned(host);
}

namespace capwap::cli {

void InstallBuiltins(lib_globals* ctx);

cli_host* HostOf(lib_globals* ctx) {
  if (ctx && ctx->host) return ctx->host.get();
  zlog_err(ctx, "cli: vty host not initialised (host_vty_init not called)");
  return nullptr;
}

}  // namespace capwap::cli

namespace {

NodeInfo& EnsureNode(cli_host* host, int node) {
  auto [it, inserted] = host->nodes.try_emplace(node);
  if (inserted) it->second.prompt_suffix = "config";
  return it->second;
}

std::vector<int> TargetNodes(int node) {
  if (node == ALL_VIEW_NODES) return {VIEW_NODE, EXEC_NODE};
  return {node};
}

std::vector<std::string> CheckCommand(const CliCommand& cmd, ParsedCommand* parsed) {
  std::vector<std::string> problems;
  std::string error;
  if (!capwap::cli::ParseGrammar(cmd.grammar, parsed, &error)) {
    problems.push_back("grammar: " + error);
    return problems;
  }
  if (cmd.help.size() != static_cast<size_t>(parsed->token_count)) {
    problems.push_back(std::to_string(cmd.help.size()) + " help texts for " +
                       std::to_string(parsed->token_count) + " tokens");
  }
  if (cmd.args.size() != static_cast<size_t>(parsed->slot_count)) {
    problems.push_back(std::to_string(cmd.args.size()) + " argument names for " +
                       std::to_string(parsed->slot_count) + " argument slots");
  }
  std::set<std::string> names;
  for (const auto& name : cmd.args) {
    if (name.empty()) problems.push_back("empty argument name");
    else if (!names.insert(name).second) problems.push_back("argument name '" + name + "' twice");
  }
  for (size_t i = 0; i < cmd.help.size(); ++i) {
    if (cmd.help[i].empty()) problems.push_back("empty help text for token " + std::to_string(i + 1));
  }
  if (!cmd.handler) problems.push_back("no handler");
  return problems;
}

int Install(lib_globals* ctx, int node, const CliCommand& given) {
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return 1;
  auto installed = std::make_unique<InstalledCommand>();
  installed->cmd = given;
  installed->cmd.node = node;
  std::vector<std::string> problems = CheckCommand(given, &installed->parsed);
  std::vector<int> targets = TargetNodes(node);
  std::vector<std::string> keys;
  for (const auto& form : installed->parsed.forms) keys.push_back(capwap::cli::FormKey(form));
  for (int target : targets) {
    auto it = host->nodes.find(target);
    if (it == host->nodes.end()) continue;
    for (const auto& key : keys) {
      if (it->second.form_keys.count(key)) {
        problems.push_back("the same command already exists in node " + std::to_string(target));
        break;
      }
    }
  }
  if (!problems.empty()) {
    for (const auto& p : problems) {
      zlog_err(ctx, "cli: cannot install \"%s\" in node %d: %s", given.grammar.c_str(), node,
               p.c_str());
    }
    return 1;
  }
  for (int target : targets) {
    NodeInfo& info = EnsureNode(host, target);
    info.form_keys.insert(keys.begin(), keys.end());
    info.commands.push_back(std::make_unique<InstalledCommand>(*installed));
  }
  return 0;
}

std::vector<const InstalledCommand*> VisibleCommands(cli_host* host, const vty* v,
                                                     bool with_hidden) {
  std::vector<const InstalledCommand*> out;
  auto it = host->nodes.find(v->node);
  if (it == host->nodes.end()) return out;
  for (const auto& c : it->second.commands) {
    if (c->cmd.privilege > v->privilege) continue;
    if (c->cmd.hidden && !with_hidden) continue;
    out.push_back(c.get());
  }
  return out;
}

int ReportStatus(vty* v, MatchStatus status) {
  switch (status) {
    case MatchStatus::kNoMatch:
      vty_out(v, "%% Unknown command\n");
      return CLI_ERR_NO_MATCH;
    case MatchStatus::kAmbiguous:
      vty_out(v, "%% Ambiguous command\n");
      return CLI_ERR_AMBIGUOUS;
    case MatchStatus::kIncomplete:
      vty_out(v, "%% Incomplete command\n");
      return CLI_ERR_INCOMPLETE;
    case MatchStatus::kMatched:
      break;
  }
  return CLI_SUCCESS;
}

// Keeps printable text; a tab separates like a blank.
std::string Sanitize(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char ch : line) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '\t') {
      out += ' ';
    } else if (c >= 0x20 && c != 0x7f) {
      out += ch;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

int ShowHelp(cli_host* host, vty* v, std::string_view before_mark) {
  std::vector<std::string> tokens = capwap::cli::SplitTokens(before_mark);
  std::string partial;
  if (!before_mark.empty() && before_mark.back() != ' ' && !tokens.empty()) {
    partial = tokens.back();
    tokens.pop_back();
  }
  std::vector<capwap::cli::HelpItem> items;
  MatchStatus st = capwap::cli::HelpLine(VisibleCommands(host, v, false), tokens, partial, &items);
  if (st != MatchStatus::kMatched) return ReportStatus(v, st);
  for (const auto& item : items) {
    if (item.help.empty()) {
      vty_out(v, "  %s\n", item.token.c_str());
    } else {
      vty_out(v, "  %s  %s\n", item.token.c_str(), item.help.c_str());
    }
  }
  return CLI_SUCCESS;
}

constexpr int kMaxNodeDepth = 16;  // bounds the walk should parents form a loop

int ParentOf(cli_host* host, int node) {
  auto it = host->nodes.find(node);
  return it == host->nodes.end() ? CONFIG_NODE : it->second.parent;
}

// Matches in the vty's node and, when nothing there takes the line, in the
// parent nodes up to CONFIG_NODE, leaving v->node where the match was found.
// On failure the node is unchanged and the status is the most telling one.
capwap::cli::MatchResult MatchWithFallback(cli_host* host, vty* v,
                                           const std::vector<std::string>& tokens) {
  const int start_node = v->node;
  capwap::cli::MatchResult result = capwap::cli::MatchLine(VisibleCommands(host, v, true), tokens);
  MatchStatus reported = result.status;
  for (int depth = 0; depth < kMaxNodeDepth &&
                      (result.status == MatchStatus::kNoMatch ||
                       result.status == MatchStatus::kIncomplete) &&
                      capwap::cli::IsConfigSubNode(v->node);
       ++depth) {
    int parent = ParentOf(host, v->node);
    if (!capwap::cli::IsConfigNode(parent) || parent == v->node) break;
    v->node = parent;
    result = capwap::cli::MatchLine(VisibleCommands(host, v, true), tokens);
    if (reported == MatchStatus::kNoMatch) reported = result.status;
  }
  if (result.status != MatchStatus::kMatched) {
    v->node = start_node;
    result.status = reported;
  }
  return result;
}

}  // namespace

void host_vty_init(lib_globals* ctx) {
  if (!ctx) return;
  ctx->host = std::unique_ptr<cli_host, CliHostDeleter>(std::make_unique<cli_host>().release());
  cli_host* host = ctx->host.get();
  host->ctx = ctx;
  host->nodes[VIEW_NODE] = NodeInfo{"", VIEW_NODE, {}, {}, nullptr};
  host->nodes[EXEC_NODE] = NodeInfo{"", VIEW_NODE, {}, {}, nullptr};
  host->nodes[CONFIG_NODE] = NodeInfo{"config", EXEC_NODE, {}, {}, nullptr};
  capwap::cli::InstallBuiltins(ctx);
}

void cli_install_node(lib_globals* ctx, int node, const char* prompt, int parent) {
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return;
  if (node == VIEW_NODE || node == EXEC_NODE || node == CONFIG_NODE || node == ALL_VIEW_NODES) {
    zlog_err(ctx, "cli: node %d is built in and cannot be redeclared", node);
    return;
  }
  NodeInfo& info = EnsureNode(host, node);
  info.prompt_suffix = prompt ? prompt : "";
  info.parent = parent;
}

int cli_install(lib_globals* ctx, int node, const CliCommand& cmd) {
  return Install(ctx, node, cmd);
}

int cli_install_hidden(lib_globals* ctx, int node, const CliCommand& cmd) {
  CliCommand copy = cmd;
  copy.hidden = true;
  return Install(ctx, node, copy);
}

int cli_install_gen(lib_globals* ctx, int node, int privilege, const CliCommand& cmd) {
  CliCommand copy = cmd;
  copy.privilege = privilege;
  return Install(ctx, node, copy);
}

int cli_install_table(lib_globals* ctx, std::span<const CliCommand> table) {
  int failed = 0;
  for (const CliCommand& cmd : table) failed += Install(ctx, cmd.node, cmd);
  return failed;
}

void cli_install_config(lib_globals* ctx, int node, cli_writer writer, int order) {
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return;
  capwap::cli::NodeInfo& info = EnsureNode(host, node);
  info.writer = writer;
  info.writer_order = order;
}

std::vector<std::string> cli_validate(const CliCommand& cmd) {
  ParsedCommand parsed;
  return CheckCommand(cmd, &parsed);
}

std::vector<std::string> cli_validate_table(std::span<const CliCommand> table) {
  std::vector<std::string> problems;
  std::map<int, std::map<std::string, std::string>> seen;  // node -> form key -> grammar
  for (const CliCommand& cmd : table) {
    ParsedCommand parsed;
    for (const auto& p : CheckCommand(cmd, &parsed)) {
      problems.push_back("\"" + cmd.grammar + "\": " + p);
    }
    for (int node : TargetNodes(cmd.node)) {
      for (const auto& form : parsed.forms) {
        auto [it, fresh] = seen[node].emplace(capwap::cli::FormKey(form), cmd.grammar);
        if (!fresh) {
          problems.push_back("\"" + cmd.grammar + "\": same form as \"" + it->second +
                             "\" in node " + std::to_string(node));
          break;
        }
      }
    }
  }
  return problems;
}

// --- Running -------------------------------------------------------------

int cli_execute(lib_globals* ctx, vty* v, std::string_view line) {
  if (!v) return CLI_ERR_NO_MATCH;
  if (!v->ctx) v->ctx = ctx;
  if (line.size() > capwap::cli::kMaxLineLength) {
    vty_out(v, "%% Line too long\n");
    return CLI_ERR_TOO_LONG;
  }
  std::string clean = Sanitize(line);
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return ReportStatus(v, MatchStatus::kNoMatch);
  if (!clean.empty() && clean.back() == '?') {
    clean.pop_back();
    return ShowHelp(host, v, clean);
  }
  std::vector<std::string> tokens = capwap::cli::SplitTokens(clean);
  if (tokens.empty()) return CLI_SUCCESS;
  const int start_node = v->node;
  const std::any start_index = capwap::cli::IsConfigSubNode(start_node) ? v->index : std::any();
  capwap::cli::MatchResult result = MatchWithFallback(host, v, tokens);
  if (result.status != MatchStatus::kMatched) return ReportStatus(v, result.status);
  const bool in_parent = v->node != start_node;
  if (in_parent) v->index.reset();
  int rc = result.command->cmd.handler(v, result.args);
  if (rc != CLI_SUCCESS && in_parent) {
    // A refused command of a parent node leaves the operator where they were.
    v->node = start_node;
    v->index = start_index;
  }
  return rc;
}

std::string cli_running_config(lib_globals* ctx) {
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return "";
  std::vector<std::pair<int, cli_writer>> writers;  // (order, writer), nodes ascending
  for (const auto& [node, info] : host->nodes) {
    if (info.writer) writers.emplace_back(info.writer_order, info.writer);
  }
  std::stable_sort(writers.begin(), writers.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::unique_ptr<vty> v = vty_new_internal(ctx, CONFIG_NODE);
  for (const auto& [order, writer] : writers) writer(v.get());
  return std::move(v->out);
}

bool cli_config_unsaved(lib_globals* ctx) {
  cli_host* host = capwap::cli::HostOf(ctx);
  return host && host->saved_config && *host->saved_config != cli_running_config(ctx);
}

std::unique_ptr<vty> vty_new_internal(lib_globals* ctx, int node) {
  auto v = std::make_unique<vty>();
  v->node = node;
  v->privilege = node == VIEW_NODE ? kPrivilegeUser : kPrivilegeAdmin;
  v->ctx = ctx;
  return v;
}

std::string cli_prompt(lib_globals* ctx, const vty* v) {
  if (v->node == VIEW_NODE) return "capwap> ";
  if (v->node == EXEC_NODE) return "capwap# ";
  std::string suffix = "config";
  if (ctx && ctx->host) {
    auto it = ctx->host->nodes.find(v->node);
    if (it != ctx->host->nodes.end()) suffix = it->second.prompt_suffix;
  }
  return "capwap(" + suffix + ")# ";
}

uint16_t host_vty_port(lib_globals* ctx) {
  if (!ctx || !ctx->host || !ctx->host->server) return 0;
  return ctx->host->server->port();
}
