// vty and CLI: command tables per node, a grammar in the style of the command
// strings, a line matcher with unambiguous-prefix keywords and "?" help, the
// vty server on TCP (127.0.0.1, default port 2627), configuration replay at
// start and node writers for "show running-config" and "write".
//
// Grammar tokens:
//   keyword          lower-case word, may hold digits and '-' ("ap-group", "11axg", "5g")
//   WORD             any one token
//   A.B.C.D          IPv4 address            A.B.C.D/M   IPv4 prefix
//   X:X::X:X         IPv6 address
//   HHHH.HHHH.HHHH   MAC address (also spelled MAC)
//   <lo-hi>          decimal range, 0-4294967295; may be glued to a keyword
//                    ("ap-group<1-1>" is the keyword then the range)
//   (a | b c | )     alternatives of token sequences; an empty alternative
//                    makes the group optional; groups nest
//
// Matching: every keyword may be abbreviated to an unambiguous prefix. In a
// group where a placeholder (WORD, ...) stands beside keywords, a keyword wins
// only on an exact match; anything else is taken by the placeholder.
//
// Argument slots (what a handler can read by name), in grammar order:
//   - every placeholder outside a single-token group;
//   - every group whose alternatives are all single tokens (keywords or
//     placeholders) is ONE slot; its value is the matched text (keywords in
//     full form). Inner tokens of such a group are not slots.
//   - groups with longer alternatives are not slots; their inner tokens are
//     visited by the same rules.
// A CliCommand names its slots in `args` (count must equal the slot count)
// and gives one help text per token (keywords and placeholders, in order).
#pragma once

#include <netinet/in.h>

#include <any>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/util.h"

struct lib_globals;

// Framework node (mode) numbers. Daemon nodes (100, 104, 110, 131 ...) are
// declared with cli_install_node by the daemon.
enum : int {
  VIEW_NODE = 3,        // after login
  EXEC_NODE = 4,        // privileged exec (after "enable")
  CONFIG_NODE = 5,      // "configure terminal"
  VTY_NODE = 6,         // "line vty": settings of the vty sessions
  ALL_VIEW_NODES = 137  // commands installed here exist in VIEW_NODE and EXEC_NODE
};

// Handler results.
enum : int {
  CLI_SUCCESS = 0,
  CLI_WARNING = 1,      // the handler printed why it refused
  CLI_ERR_NO_MATCH = 2,
  CLI_ERR_AMBIGUOUS = 3,
  CLI_ERR_INCOMPLETE = 4,
  CLI_ERR_TOO_LONG = 5,
};

inline constexpr int kPrivilegeUser = 1;
inline constexpr int kPrivilegeAdmin = 15;

struct vty {
  int node = VIEW_NODE;
  int privilege = kPrivilegeUser;
  // Node context set by the handler that entered the node: a key (APID,
  // group number) or a record copy. Sub-commands look their object up again.
  std::any index;
  // Output collected since the last flush (sent to the TCP peer, or kept for
  // tests and for the configuration writers).
  std::string out;
  int fd = -1;                 // TCP session, -1 for internal vtys
  bool replaying = false;      // true while the configuration file is replayed
  lib_globals* ctx = nullptr;
};

// printf-style output to the vty; returns the number of bytes added.
int vty_out(vty* v, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

class CliArgs {
 public:
  // The slot's text, or nullopt when the slot was not matched (optional group).
  std::optional<std::string_view> Get(std::string_view name) const;
  std::string Str(std::string_view name) const;  // "" when absent
  bool Present(std::string_view name) const { return Get(name).has_value(); }
  // True when the keyword (full form) was matched anywhere in the line.
  bool Has(std::string_view keyword) const;
  std::optional<uint32_t> U32(std::string_view name) const;
  std::optional<in_addr> Ipv4(std::string_view name) const;  // network order
  std::optional<prefix_ipv4> Prefix(std::string_view name) const;
  std::optional<std::array<uint8_t, 6>> Mac(std::string_view name) const;
  // The matched tokens with keywords in full form (diagnostics only).
  const std::vector<std::string>& Tokens() const { return tokens_; }

  // Used by the matcher.
  void AddSlot(std::string name, std::string value);
  void AddToken(std::string token, bool is_keyword);

 private:
  std::vector<std::pair<std::string, std::string>> slots_;
  std::vector<std::string> keywords_;
  std::vector<std::string> tokens_;
};

using cli_handler = int (*)(vty* v, const CliArgs& args);
using cli_writer = int (*)(vty* v);

struct CliCommand {
  int node = CONFIG_NODE;
  std::string grammar;
  std::vector<std::string> help;  // one per token
  std::vector<std::string> args;  // one name per argument slot
  cli_handler handler = nullptr;
  int privilege = kPrivilegeUser;
  bool hidden = false;
};

// --- Installation ------------------------------------------------------

// Creates the vty host (built-in nodes and commands) in ctx->host.
void host_vty_init(lib_globals* ctx);
// Declares a node: its prompt suffix ("config-ap" gives "capwap(config-ap)# ")
// and its parent (where "exit" goes and where replay falls back to).
void cli_install_node(lib_globals* ctx, int node, const char* prompt, int parent);
// 0 on success; 1 when the grammar does not parse, counts mismatch, or the
// same path already exists in the node.
int cli_install(lib_globals* ctx, int node, const CliCommand& cmd);
int cli_install_hidden(lib_globals* ctx, int node, const CliCommand& cmd);
int cli_install_gen(lib_globals* ctx, int node, int privilege, const CliCommand& cmd);
// Installs a table (each entry's node, privilege and hidden flag); returns the
// number of entries that failed.
int cli_install_table(lib_globals* ctx, std::span<const CliCommand> table);
// Installs the default commands of a daemon node ("exit", "end", "quit").
void cli_install_default(lib_globals* ctx, int node);
// Registers the configuration writer of a node. The running configuration
// runs the writers by ascending order, equal orders by node number; the
// framework's own vty-line writer comes last (kCliWriterLast).
void cli_install_config(lib_globals* ctx, int node, cli_writer writer, int order);
inline constexpr int kCliWriterLast = 1 << 30;

// Checks a command without installing it: grammar, help and argument counts.
// Returns the problems found (empty when fine).
std::vector<std::string> cli_validate(const CliCommand& cmd);

// --- Running -----------------------------------------------------------

// Replays the configuration file (nullptr/empty: the default file) and starts
// the TCP server on 127.0.0.1:port (0: an ephemeral port). 0 / 1.
int host_config_start(lib_globals* ctx, const char* config_file, uint16_t port);
// True once the configuration replay has finished.
bool lib_check_if_start_complete();
void lib_set_start_complete(bool complete);
// The port the vty server listens on (after host_config_start).
uint16_t host_vty_port(lib_globals* ctx);
// The configuration file in use ("write" saves there).
std::string host_config_file(lib_globals* ctx);
// Default configuration file: "/etc/config/vela/capwap.conf" under CAPWAP_ROOT.
std::string host_default_config_file();

// Executes one line in the vty's node; prints errors ("% Unknown command",
// "% Ambiguous command", "% Incomplete command") to the vty and returns the
// CLI_* result. A line ending in "?" lists what may come next instead.
int cli_execute(lib_globals* ctx, vty* v, std::string_view line);
// Replays a configuration text through the commands (as at start-up),
// reporting bad lines with their line numbers. Returns the number of bad lines.
int cli_replay_text(lib_globals* ctx, std::string_view text, std::string_view source_name);
// The running configuration as the writers print it.
std::string cli_running_config(lib_globals* ctx);
// True when the running configuration differs from what the configuration
// file (as replayed at start-up or saved by "write" since) rebuilds; false
// before the start-up replay.
bool cli_config_unsaved(lib_globals* ctx);
// The line "show running-config" and leaving configuration mode print then.
inline constexpr const char* kCliUnsavedNotice =
    "Warning: the running configuration differs from the saved file; use write to keep it\n";
// A vty for internal use and tests (output kept in v->out).
std::unique_ptr<vty> vty_new_internal(lib_globals* ctx, int node);
// The prompt of a vty in its current node.
std::string cli_prompt(lib_globals* ctx, const vty* v);
