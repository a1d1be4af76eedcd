// Built-in commands of the framework nodes: privilege, node navigation,
// "show running-config", "write", and the vty sessions' idle timeout
// ("line vty" / "exec-timeout") with its writer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/cli.h"
#include "platform/cli_host.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace capwap::cli {

namespace {

void CloseSessionOf(vty* v) {
  if (v->fd < 0 || !v->ctx || !v->ctx->host || !v->ctx->host->server) return;
  v->ctx->host->server->RequestClose(v->fd);
}

int Enable(vty* v, const CliArgs&) {
  v->node = EXEC_NODE;
  v->privilege = kPrivilegeAdmin;
  return CLI_SUCCESS;
}

int Disable(vty* v, const CliArgs&) {
  v->node = VIEW_NODE;
  v->privilege = kPrivilegeUser;
  v->index.reset();
  return CLI_SUCCESS;
}

int ConfigureTerminal(vty* v, const CliArgs&) {
  v->node = CONFIG_NODE;
  return CLI_SUCCESS;
}

// Leaving configuration mode reminds the operator of changes not saved.
void LeaveConfiguration(vty* v) {
  v->node = EXEC_NODE;
  v->index.reset();
  if (!v->replaying && cli_config_unsaved(v->ctx)) vty_out(v, "%s", kCliUnsavedNotice);
}

int ExitNode(vty* v, const CliArgs&) {
  if (!IsConfigNode(v->node)) {
    CloseSessionOf(v);
    return CLI_SUCCESS;
  }
  int parent = EXEC_NODE;
  if (v->ctx && v->ctx->host) {
    auto it = v->ctx->host->nodes.find(v->node);
    if (it != v->ctx->host->nodes.end()) parent = it->second.parent;
  }
  if (!IsConfigNode(parent)) {
    LeaveConfiguration(v);
    return CLI_SUCCESS;
  }
  v->node = parent;
  if (parent == CONFIG_NODE) v->index.reset();
  return CLI_SUCCESS;
}

int EndNode(vty* v, const CliArgs&) {
  if (IsConfigNode(v->node)) LeaveConfiguration(v);
  return CLI_SUCCESS;
}

int ShowRunningConfig(vty* v, const CliArgs&) {
  std::string text = cli_running_config(v->ctx);
  cli_host* host = HostOf(v->ctx);
  const bool unsaved = host && host->saved_config && *host->saved_config != text;
  v->out += text;
  if (unsaved) vty_out(v, "%s", kCliUnsavedNotice);
  return CLI_SUCCESS;
}

// Writes through a temporary file and a rename, so a crash leaves either
// the old file or the new one.
bool SaveFile(const std::string& path, const std::string& text, std::string* error) {
  if (!MakeParentDirs(path)) {
    *error = std::string("cannot create its directory: ") + strerror(errno);
    return false;
  }
  std::string temp = path + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (!ok) *error = strerror(errno);
  close(fd);
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    *error = strerror(errno);
    ok = false;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

int WriteMemory(vty* v, const CliArgs&) {
  std::string path = host_config_file(v->ctx);
  std::string error;
  std::string text = cli_running_config(v->ctx);
  if (!SaveFile(path, text, &error)) {
    vty_out(v, "%% Failed to save the configuration to %s: %s\n", path.c_str(), error.c_str());
    zlog_err(v->ctx, "cli: failed to save the configuration to %s: %s", path.c_str(),
             error.c_str());
    return CLI_WARNING;
  }
  if (cli_host* host = HostOf(v->ctx)) host->saved_config = std::move(text);
  vty_out(v, "[OK]\n");
  return CLI_SUCCESS;
}

int LineVty(vty* v, const CliArgs&) {
  v->node = VTY_NODE;
  return CLI_SUCCESS;
}

// The timeout of new sessions, and of the session that typed it (from now).
void ApplyExecTimeout(vty* v, ExecTimeout timeout) {
  cli_host* host = HostOf(v->ctx);
  if (!host) return;
  host->exec_timeout = timeout;
  if (v->fd >= 0 && host->server) host->server->SetIdleTimeout(v->fd, timeout);
}

int SetExecTimeout(vty* v, const CliArgs& args) {
  std::optional<uint32_t> minutes = args.U32("minutes");
  std::optional<uint32_t> seconds = args.Present("seconds") ? args.U32("seconds") : 0u;
  if (!minutes || !seconds) {
    vty_out(v, "%% Invalid timeout\n");
    return CLI_WARNING;
  }
  ApplyExecTimeout(v, ExecTimeout{*minutes, *seconds});
  return CLI_SUCCESS;
}

int ResetExecTimeout(vty* v, const CliArgs&) {
  ApplyExecTimeout(v, ExecTimeout{});
  return CLI_SUCCESS;
}

int WriteLineVty(vty* v) {
  cli_host* host = HostOf(v->ctx);
  if (!host || host->exec_timeout == ExecTimeout{}) return 0;
  vty_out(v, "line vty\n exec-timeout %u %u\n!\n", host->exec_timeout.minutes,
          host->exec_timeout.seconds);
  return 0;
}

const char* const kExitHelp = "Exit current mode and down to previous mode";

CliCommand Builtin(int node, std::string grammar, std::vector<std::string> help,
                   cli_handler handler, std::vector<std::string> args = {}) {
  CliCommand cmd;
  cmd.node = node;
  cmd.grammar = std::move(grammar);
  cmd.help = std::move(help);
  cmd.args = std::move(args);
  cmd.handler = handler;
  return cmd;
}

}  // namespace

void InstallBuiltins(lib_globals* ctx) {
  cli_install_node(ctx, VTY_NODE, "config-line", CONFIG_NODE);
  const CliCommand table[] = {
      Builtin(VIEW_NODE, "enable", {"Turn on privileged mode command"}, Enable),
      Builtin(EXEC_NODE, "enable", {"Turn on privileged mode command"}, Enable),
      Builtin(ALL_VIEW_NODES, "exit", {kExitHelp}, ExitNode),
      Builtin(ALL_VIEW_NODES, "quit", {kExitHelp}, ExitNode),
      Builtin(EXEC_NODE, "disable", {"Turn off privileged mode command"}, Disable),
      Builtin(EXEC_NODE, "configure terminal",
              {"Configuration from vty interface", "Configuration terminal"}, ConfigureTerminal),
      Builtin(EXEC_NODE, "show running-config",
              {"Show running system information", "Current operating configuration"},
              ShowRunningConfig),
      Builtin(EXEC_NODE, "write (memory|)",
              {"Write running configuration to memory", "Write configuration to the file"},
              WriteMemory, {"target"}),
      Builtin(CONFIG_NODE, "line vty", {"Configure a terminal line", "Virtual terminal"},
              LineVty),
      Builtin(VTY_NODE, "exec-timeout <0-35791> (<0-2147483>|)",
              {"Close sessions idle for this long (0 0: never)", "Minutes", "Seconds"},
              SetExecTimeout, {"minutes", "seconds"}),
      Builtin(VTY_NODE, "no exec-timeout",
              {"Negate a command or set its defaults", "Idle timeout back to 10 minutes"},
              ResetExecTimeout),
  };
  cli_install_table(ctx, table);
  cli_install_default(ctx, CONFIG_NODE);
  cli_install_default(ctx, VTY_NODE);
  cli_install_config(ctx, VTY_NODE, WriteLineVty, kCliWriterLast);
}

}  // namespace capwap::cli

void cli_install_default(lib_globals* ctx, int node) {
  using capwap::cli::Builtin;
  const CliCommand table[] = {
      Builtin(node, "exit", {capwap::cli::kExitHelp}, capwap::cli::ExitNode),
      Builtin(node, "end", {"End current mode and change to enable mode"}, capwap::cli::EndNode),
      Builtin(node, "quit", {capwap::cli::kExitHelp}, capwap::cli::ExitNode),
  };
  cli_install_table(ctx, table);
}
