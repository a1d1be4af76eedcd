// Logging: the framework front end (openzlog, zdebug, zlog_*) and the
// platform back end (pal_log_*) that decides where a line goes: syslog,
// standard output, standard error or a size-limited file with one "-bak".
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

struct lib_globals;

// Output flags of a log target.
enum : int {
  ZLOG_STDOUT = 1,
  ZLOG_STDERR = 2,
  ZLOG_SYSLOG = 4,
  ZLOG_FILE = 8,
};

// Syslog-style priorities used as levels.
enum : int {
  ZLOG_EMERG = 0,
  ZLOG_ALERT = 1,
  ZLOG_CRIT = 2,
  ZLOG_ERR = 3,
  ZLOG_WARNING = 4,
  ZLOG_NOTICE = 5,
  ZLOG_INFO = 6,
  ZLOG_DEBUG = 7,
};

struct zlog_target {
  int maxlvl = ZLOG_DEBUG;  // lines above this priority are dropped
  int flags = ZLOG_STDOUT;
  std::string filename;     // relative to the user-space directory, see pal_log_set_file
  FILE* fp = nullptr;       // open file kept by pal_log_rotate
};

struct zlog {
  std::string ident;          // module name used as syslog identity
  std::string protocol_name;  // printed in every line
  int protocol = 0;
  zlog_target target;
};

// Opens the daemon's log handle and stores it in ctx->log. flags are
// ZLOG_* output flags; maxlvl the highest priority written.
zlog* openzlog(lib_globals* ctx, const char* ident, int protocol, int flags, int maxlvl);
void closezlog(lib_globals* ctx);

// Level names as the framework passes them: "errors", "debugging", ...
const char* zlog_level_name(int level);
// Maps a level name to its priority; unknown or absent names give 7.
int zlog_level_priority(const char* name);

// Front end. ctx may be null (before start-up): then the line goes to stderr.
void zdebug(lib_globals* ctx, int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void zlog_info(lib_globals* ctx, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void zlog_warn(lib_globals* ctx, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void zlog_err(lib_globals* ctx, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void vzlog(lib_globals* ctx, int level, const char* fmt, va_list args) __attribute__((format(printf, 3, 0)));
// System log with a code and subject (cloud event log lines).
void zlog_sys(lib_globals* ctx, int code, int level, const char* subject, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));
// Rotates the log file (SIGUSR1): 0 / -1.
int zlog_rotate(lib_globals* ctx);

// Back end.
void pal_log_open(lib_globals* ctx, zlog_target* target);
void pal_log_close(lib_globals* ctx, zlog_target* target);
void pal_log_output(lib_globals* ctx, zlog_target* target, const char* level_name,
                    const char* protocol_name, const char* message);
int pal_log_rotate(zlog_target* target);
int pal_log_set_file(zlog_target* target, const char* file_name);
int pal_log_unset_file(zlog_target* target);

// Size at which the log file moves to "<name>-bak".
inline constexpr long kPalLogFileLimit = 104857600;

namespace capwap {

// Test hook: every line formatted by the front end is also handed to the
// sink (level, message). At most one capture is active.
class LogCapture {
 public:
  using Sink = std::function<void(int level, std::string_view message)>;
  LogCapture();  // collects lines into lines()
  explicit LogCapture(Sink sink);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::string& text() const { return text_; }
  bool Contains(std::string_view needle) const { return text_.find(needle) != std::string::npos; }
  void Clear() { text_.clear(); }

 private:
  Sink sink_;
  std::string text_;
};

}  // namespace capwap
