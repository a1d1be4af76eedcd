#include "diag/debug.h"

#include <cstdarg>
#include <cstring>

#include "platform/util.h"

uint32_t g_ulCwDebugBitmap = 0;
char logcapmacaddr[32] = {};
lib_globals* capwapm = nullptr;

void CwDebug(uint32_t category, int level, const char* fmt, ...) {
  if (!(g_ulCwDebugBitmap & category)) return;
  va_list args;
  va_start(args, fmt);
  vzlog(capwapm, level, fmt, args);
  va_end(args);
}

namespace {

uint32_t BitsOf(const char* keyword) {
  if (!keyword) return 0;
  if (strcmp(keyword, "all") == 0) return kDbgFsm | kDbgEvent | kDbgError | kDbgPacket;
  if (strcmp(keyword, "fsm") == 0) return kDbgFsm;
  if (strcmp(keyword, "error") == 0) return kDbgError;
  if (strcmp(keyword, "packet") == 0) return kDbgPacket;
  if (strcmp(keyword, "event") == 0) return kDbgEvent;
  return 0;
}

void Print(DebugPrinter print, void* sink, const char* text) {
  if (print) print(sink, text);
}

}  // namespace

int SetDebugCategory(const char* keyword, const char* mac_text, DebugPrinter print, void* sink) {
  memset(logcapmacaddr, 0, sizeof logcapmacaddr);
  if (mac_text && *mac_text) {
    if (!cli_is_mac(mac_text)) {
      Print(print, sink, "%% Invalid MAC Address\n");
      return 1;
    }
    strncpy(logcapmacaddr, mac_text, sizeof logcapmacaddr - 1);
    for (char* c = logcapmacaddr; *c; ++c) {
      if (*c == '.') *c = ':';
    }
  }
  uint32_t bits = BitsOf(keyword);
  if (!bits) {
    Print(print, sink, "%The input debug level is error!\n");
    return 1;
  }
  g_ulCwDebugBitmap |= bits;
  return 0;
}

int ClearDebugCategory(const char* keyword, DebugPrinter print, void* sink) {
  memset(logcapmacaddr, 0, sizeof logcapmacaddr);
  uint32_t bits = BitsOf(keyword);
  if (!bits) {
    Print(print, sink, "%The input debug level is error!\n");
    return 1;
  }
  g_ulCwDebugBitmap &= ~bits;
  return 0;
}

void ClearAllDebugCategories() {
  g_ulCwDebugBitmap &= ~(kDbgFsm | kDbgEvent | kDbgError | kDbgPacket);
}

void ResetDebugState() {
  g_ulCwDebugBitmap = 0;
  memset(logcapmacaddr, 0, sizeof logcapmacaddr);
}
