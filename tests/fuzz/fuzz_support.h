// Helpers shared by the fuzz surfaces.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "diag/debug.h"
#include "platform/log.h"

// An invariant of the code under test; a violation is a finding.
#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace capwap::fuzz {

// Turns every debug category on and discards the lines, so the diagnostic
// paths format hostile data too without flooding the fuzzer's output.
// Keep one for the life of the process.
class QuietDebugLog {
 public:
  QuietDebugLog() { g_ulCwDebugBitmap = CW_DBG_ALL; }

 private:
  LogCapture capture_{[](int, std::string_view) {}};
};

}  // namespace capwap::fuzz
