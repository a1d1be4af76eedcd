// Process and port helpers shared by the benchmarks and the end-to-end tests:
// they start the real daemon (and the peer simulator) as children under a
// temporary root.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace capwap::bench {

// `relative` resolved against the directory of the running program.
std::string SiblingPath(const char* argv0, const std::string& relative);
// A port triple base (base, base+1, base+2 all bindable for UDP and TCP), 0
// when none found.
uint16_t FreePortBase();
// A loopback TCP port that was free a moment ago.
uint16_t FreeTcpPort();
// Forks and runs args[0] with its stdout appended to `out` and its stderr to
// `err` (to `out` when empty), after `in_child` ran in the child.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err = {},
            const std::function<void()>& in_child = {});
// SIGTERM and wait.
void Stop(pid_t pid);
// The first three fields of /proc/loadavg: how busy the machine was.
std::string LoadAverage();

}  // namespace capwap::bench
