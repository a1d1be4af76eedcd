#include "diag/bug.h"

#include <cstdarg>
#include <cstdio>

#include "diag/debug.h"

namespace {

uint64_t& BugCounter() {
  static uint64_t count = 0;
  return count;
}

}  // namespace

void CwBug(std::source_location where, const char* fmt, ...) {
  ++BugCounter();
  char text[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  zdebug(capwapm, ZLOG_ERR, "BUG %s:%u %s: %s", where.file_name(),
         static_cast<unsigned>(where.line()), where.function_name(), text);
}

uint64_t CwBugCount() { return BugCounter(); }
