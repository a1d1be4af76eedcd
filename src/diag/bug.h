// Our own broken invariants (an element that overflows its packet, a builder
// failure nobody can act on), kept apart from a peer's faults: a bug line is
// always written at error level with its source location, whatever the debug
// switches, and counted, so tests and fuzzers can expect zero.
#pragma once

#include <cstdint>
#include <source_location>

#define CAPWAP_BUG(...) CwBug(std::source_location::current(), __VA_ARGS__)

void CwBug(std::source_location where, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Bug lines written since start-up.
uint64_t CwBugCount();
