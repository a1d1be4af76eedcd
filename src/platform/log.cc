#include "platform/log.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstring>
#include <ctime>
#include <string>

#include "platform/lib.h"
#include "platform/paths.h"

namespace {

constexpr size_t kMaxMessage = 4096;
constexpr const char* kUserSpaceDir = "/etc/config/vela/userspace";
constexpr const char* kLogFileRoot = "/mnt/userspace";

struct LevelName {
  const char* name;
  int priority;
};
constexpr LevelName kLevelNames[] = {
    {"emergencies", ZLOG_EMERG},   {"alerts", ZLOG_ALERT},  {"critical", ZLOG_CRIT},
    {"errors", ZLOG_ERR},          {"warnings", ZLOG_WARNING},
    {"notifications", ZLOG_NOTICE}, {"informational", ZLOG_INFO},
    {"debugging", ZLOG_DEBUG},
};

capwap::LogCapture* active_capture = nullptr;
capwap::LogCapture::Sink* active_sink = nullptr;

std::string FormatTime() {
  char buf[64];
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local) || strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &local) == 0) {
    return "(incomplete)";
  }
  return buf;
}

std::string FilePathOf(const zlog_target& target) {
  return capwap::RootPath(kUserSpaceDir) + "/" + target.filename;
}

void WriteFileLine(const zlog_target& target, const std::string& line) {
  std::string path = FilePathOf(target);
  FILE* fp = fopen(path.c_str(), "a");
  if (!fp) return;  // a file that cannot be opened loses the message
  fprintf(fp, "%s\n", line.c_str());
  long size = ftell(fp);
  fclose(fp);
  if (size >= kPalLogFileLimit) {
    std::string backup = path + "-bak";
    rename(path.c_str(), backup.c_str());
  }
}

void Emit(lib_globals* ctx, int level, const char* message) {
  if (active_sink) (*active_sink)(level, message);
  zlog* log = ctx ? ctx->log.get() : nullptr;
  if (!log) {
    if (!active_sink) fprintf(stderr, "%s\n", message);
    return;
  }
  pal_log_output(ctx, &log->target, zlog_level_name(level), log->protocol_name.c_str(),
                 message);
}

}  // namespace

const char* zlog_level_name(int level) {
  for (const auto& entry : kLevelNames) {
    if (entry.priority == level) return entry.name;
  }
  return "debugging";
}

int zlog_level_priority(const char* name) {
  if (!name) return ZLOG_DEBUG;
  for (const auto& entry : kLevelNames) {
    if (strcmp(entry.name, name) == 0) return entry.priority;
  }
  return ZLOG_DEBUG;
}

zlog* openzlog(lib_globals* ctx, const char* ident, int protocol, int flags, int maxlvl) {
  auto log = std::make_unique<zlog>();
  log->ident = ident ? ident : "capwap";
  log->protocol_name = log->ident;
  log->protocol = protocol;
  log->target.flags = flags;
  log->target.maxlvl = maxlvl;
  zlog* raw = log.get();
  ctx->log = std::move(log);
  if (flags & ZLOG_SYSLOG) pal_log_open(ctx, &raw->target);
  return raw;
}

void closezlog(lib_globals* ctx) {
  if (!ctx || !ctx->log) return;
  pal_log_close(ctx, &ctx->log->target);
  ctx->log.reset();
}

void vzlog(lib_globals* ctx, int level, const char* fmt, va_list args) {
  char message[kMaxMessage];
  vsnprintf(message, sizeof message, fmt, args);
  // Debug texts carry their own trailing newline; the back end adds one.
  size_t len = strlen(message);
  while (len > 0 && message[len - 1] == '\n') message[--len] = '\0';
  Emit(ctx, level, message);
}

void zdebug(lib_globals* ctx, int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vzlog(ctx, level, fmt, args);
  va_end(args);
}

void zlog_info(lib_globals* ctx, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vzlog(ctx, ZLOG_INFO, fmt, args);
  va_end(args);
}

void zlog_warn(lib_globals* ctx, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vzlog(ctx, ZLOG_WARNING, fmt, args);
  va_end(args);
}

void zlog_err(lib_globals* ctx, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vzlog(ctx, ZLOG_ERR, fmt, args);
  va_end(args);
}

void zlog_sys(lib_globals* ctx, int code, int level, const char* subject, const char* fmt, ...) {
  char body[kMaxMessage];
  va_list args;
  va_start(args, fmt);
  vsnprintf(body, sizeof body, fmt, args);
  va_end(args);
  zdebug(ctx, level, "[%d] %s %s", code, subject ? subject : "", body);
}

int zlog_rotate(lib_globals* ctx) {
  if (!ctx || !ctx->log) return -1;
  return pal_log_rotate(&ctx->log->target);
}

void pal_log_open(lib_globals* ctx, zlog_target* /*target*/) {
  closelog();
  const char* ident = ctx && ctx->log ? ctx->log->ident.c_str() : "capwap";
  openlog(ident, LOG_CONS | LOG_NDELAY, LOG_USER);
}

void pal_log_close(lib_globals* /*ctx*/, zlog_target* target) {
  if (target && target->fp) {
    fclose(target->fp);
    target->fp = nullptr;
  }
  closelog();
}

void pal_log_output(lib_globals* /*ctx*/, zlog_target* target, const char* level_name,
                    const char* protocol_name, const char* message) {
  if (!target) return;
  int priority = zlog_level_priority(level_name);
  if (target->maxlvl < priority) return;
  std::string line = FormatTime() + " " + (level_name ? level_name : "debugging") + " " +
                     (protocol_name ? protocol_name : "") + " " +
                     std::string(message).substr(0, kMaxMessage);
  if (target->flags & ZLOG_SYSLOG) syslog(priority, "%s: %s", protocol_name, message);
  if (target->flags & ZLOG_STDOUT) {
    fprintf(stdout, "%s\n", line.c_str());
    fflush(stdout);
  }
  if (target->flags & ZLOG_STDERR) {
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
  }
  if ((target->flags & ZLOG_FILE) && !target->filename.empty()) WriteFileLine(*target, line);
}

int pal_log_rotate(zlog_target* target) {
  if (!target) return -1;
  if (target->fp) {
    fclose(target->fp);
    target->fp = nullptr;
  }
  if (target->filename.empty()) return 0;
  target->fp = fopen(FilePathOf(*target).c_str(), "w+");
  return target->fp ? 0 : -1;
}

int pal_log_set_file(zlog_target* target, const char* file_name) {
  if (!target || !file_name || !*file_name) return -1;
  std::string root = capwap::RootPath(kLogFileRoot);
  std::string full = file_name[0] == '/' ? root + file_name : root + "/" + file_name;
  if (!capwap::MakeParentDirs(full)) return -1;
  target->filename = file_name;
  // The appliance mounts the same storage at both places; here they are two
  // folders, so the file's folder is also made where lines are appended.
  capwap::MakeParentDirs(FilePathOf(*target));
  return 0;
}

int pal_log_unset_file(zlog_target* target) {
  if (!target || target->filename.empty()) return -1;
  target->filename.clear();
  return 0;
}

namespace capwap {

LogCapture::LogCapture()
    : LogCapture([this](int, std::string_view message) {
        text_.append(message);
        text_.push_back('\n');
      }) {}

LogCapture::LogCapture(Sink sink) : sink_(std::move(sink)) {
  active_capture = this;
  active_sink = &sink_;
}

LogCapture::~LogCapture() {
  if (active_capture == this) {
    active_capture = nullptr;
    active_sink = nullptr;
  }
}

}  // namespace capwap
