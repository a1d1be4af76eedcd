// The daemon's debug categories and its one gated diagnostic path.
//
// Every diagnostic line goes through CwDebug, which tests the category bit of
// g_ulCwDebugBitmap before formatting and hands the line to zdebug.
#pragma once

#include <cstdint>

#include "platform/log.h"

struct lib_globals;

// Debug category bits (command keywords fsm, error, packet, event).
enum : uint32_t {
  kDbgFsm = 1,
  kDbgError = 2,
  kDbgPacket = 4,
  kDbgEvent = 8,
  kDbgAll = kDbgFsm | kDbgError | kDbgPacket | kDbgEvent,
};

extern uint32_t g_ulCwDebugBitmap;
// MAC given with "debug capwap ... mac-address", separators replaced by ':'.
extern char logcapmacaddr[32];
// The daemon's framework context (set by capwap_start, null before).
extern lib_globals* capwapm;

// Writes one diagnostic line when any bit of `category` is on.
void CwDebug(uint32_t category, int level, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
inline bool CwDebugOn(uint32_t category) { return (g_ulCwDebugBitmap & category) != 0; }

// Category switching for the debug commands: 0 success, 1 failure (message
// printed through `print`, which may be null).
using DebugPrinter = void (*)(void* sink, const char* text);
int SetDebugCategory(const char* keyword, const char* mac_text, DebugPrinter print, void* sink);
int ClearDebugCategory(const char* keyword, DebugPrinter print, void* sink);
void ClearAllDebugCategories();
// Resets the debug state (tests).
void ResetDebugState();
