#include "platform/util.h"

#include <arpa/inet.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/identity.h"
#include "platform/log.h"
#include "platform/paths.h"

extern char** environ;

namespace {

// Parses 1 to `max_digits` decimal digits at *p (advancing it) into *out.
bool ParseDecimal(const char*& p, int max_digits, unsigned* out) {
  unsigned value = 0;
  int digits = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (++digits > max_digits) return false;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  *out = value;
  return digits > 0;
}

// "run" or "log"; tests and unprivileged runs (CAPWAP_ROOT set) only log
// unless the settings say otherwise.
std::string SystemCommandMode() {
  std::string mode = identity_setting("system_commands");
  if (!mode.empty()) return mode;
  return capwap::RootPrefix().empty() ? "run" : "log";
}

int RunShell(const char* command_line) {
  const char* argv[] = {"/bin/sh", "-c", command_line, nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv),
                       environ);
  if (rc != 0) {
    zlog_err(nullptr, "lib_system: cannot start /bin/sh: %s", strerror(rc));
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      zlog_err(nullptr, "lib_system: waitpid: %s", strerror(errno));
      return -1;
    }
  }
  if (!WIFEXITED(status)) {
    zlog_err(nullptr, "lib_system: command ended by signal %d", WTERMSIG(status));
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace

int str2prefix_ipv4(const char* text, prefix_ipv4* out) {
  if (!text || !out) return 0;
  const char* p = text;
  uint32_t address = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned octet = 0;
    if (!ParseDecimal(p, 3, &octet) || octet > 255) return 0;
    address = (address << 8) | octet;
    if (*p++ != (i < 3 ? '.' : '/')) return 0;
  }
  unsigned masklen = 0;
  if (!ParseDecimal(p, 2, &masklen) || masklen > 32 || *p != '\0') return 0;
  out->family = AF_INET;
  out->prefixlen = static_cast<uint8_t>(masklen);
  out->prefix.s_addr = htonl(address);
  return 1;
}

void masklen2ip(int masklen, in_addr* netmask) {
  if (!netmask) return;
  if (masklen < 0) masklen = 0;
  if (masklen > 32) masklen = 32;
  uint32_t mask = masklen == 0 ? 0 : ~uint32_t{0} << (32 - masklen);
  netmask->s_addr = htonl(mask);
}

int cli_is_mac(const char* text) {
  if (!text || std::strlen(text) != 14) return 0;
  for (int i = 0; i < 14; ++i) {
    bool separator = i == 4 || i == 9;
    if (separator ? text[i] != '.' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
      return 0;
    }
  }
  return 1;
}

char* lib_strtolower(char* s) {
  if (!s) return s;
  for (char* p = s; *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return s;
}

int lib_system(const char* command_line) {
  if (!command_line || !*command_line) {
    zlog_err(nullptr, "lib_system: empty command");
    return -1;
  }
  std::string mode = SystemCommandMode();
  zlog_info(nullptr, "lib_system: %s", command_line);
  if (mode == "log") return 0;
  if (mode != "run") {
    zlog_err(nullptr, "lib_system: unknown system_commands mode \"%s\", command not run",
             mode.c_str());
    return -1;
  }
  return RunShell(command_line);
}
