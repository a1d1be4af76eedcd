// Configuration replay at start-up and the start of the vty server.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cli.h"
#include "platform/cli_host.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace {

// Set once the configuration replay is over (lib_check_if_start_complete).
bool start_complete = false;

constexpr size_t kLoggedLineMax = 200;

std::string FirstLine(const std::string& text) {
  size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Runs one line (cli_execute falls back to the parent nodes itself). On
// failure *error holds the first line the command printed.
int ReplayLine(lib_globals* ctx, vty* v, const std::string& line, std::string* error) {
  v->out.clear();
  int rc = cli_execute(ctx, v, line);
  if (rc != CLI_SUCCESS) {
    *error = FirstLine(v->out);
    if (error->empty()) *error = "command failed";
  }
  // Replay stays in configuration mode whatever a line did.
  if (!capwap::cli::IsConfigNode(v->node)) {
    v->node = CONFIG_NODE;
    v->index.reset();
  }
  v->out.clear();
  return rc;
}

std::string ForLog(std::string_view line) {
  if (line.size() <= kLoggedLineMax) return std::string(line);
  return std::string(line.substr(0, kLoggedLineMax)) + "...";
}

}  // namespace

int cli_replay_text(lib_globals* ctx, std::string_view text, std::string_view source_name) {
  if (!capwap::cli::HostOf(ctx)) return 0;
  std::unique_ptr<vty> v = vty_new_internal(ctx, CONFIG_NODE);
  v->privilege = kPrivilegeAdmin;
  v->replaying = true;
  const std::string source(source_name);
  int bad = 0;
  size_t line_no = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    size_t first = raw.find_first_not_of(" \t");
    if (first == std::string_view::npos || raw[first] == '!') continue;
    std::string line(raw.substr(first));
    std::string error;
    if (ReplayLine(ctx, v.get(), line, &error) != CLI_SUCCESS) {
      ++bad;
      zlog_err(ctx, "%s:%zu: %s: %s", source.c_str(), line_no, error.c_str(),
               ForLog(line).c_str());
    }
  }
  return bad;
}

bool lib_check_if_start_complete() { return start_complete; }

void lib_set_start_complete(bool complete) { start_complete = complete; }

std::string host_default_config_file() {
  return capwap::RootPath("/etc/config/vela/capwap.conf");
}

std::string host_config_file(lib_globals* ctx) {
  if (ctx && ctx->host && !ctx->host->config_file.empty()) return ctx->host->config_file;
  return host_default_config_file();
}

namespace {

// The file's text; a missing file is an empty configuration.
bool ReadConfig(lib_globals* ctx, const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      zlog_info(ctx, "configuration file %s not found, starting with an empty configuration",
                path.c_str());
    } else {
      zlog_err(ctx, "cannot read configuration file %s: %s", path.c_str(), strerror(errno));
    }
    return false;
  }
  char buf[8192];
  bool ok = true;
  while (true) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      zlog_err(ctx, "cannot read configuration file %s: %s", path.c_str(), strerror(errno));
      ok = false;
    }
    if (n <= 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

}  // namespace

int host_config_start(lib_globals* ctx, const char* config_file, uint16_t port) {
  cli_host* host = capwap::cli::HostOf(ctx);
  if (!host) return 1;
  host->config_file =
      config_file && *config_file ? std::string(config_file) : host_default_config_file();
  std::string text;
  if (ReadConfig(ctx, host->config_file, &text)) {
    cli_replay_text(ctx, text, host->config_file);
  }
  host->saved_config = cli_running_config(ctx);
  lib_set_start_complete(true);
  host->server = std::make_unique<capwap::cli::VtyServer>(ctx);
  return host->server->Start(port);
}
