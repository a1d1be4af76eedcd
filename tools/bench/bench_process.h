// Process and port helpers shared by the benchmarks: they start the real
// daemon (and the peer simulator) as children under a temporary root.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace capwap::bench {

// `relative` resolved against the directory of the running program.
std::string SiblingPath(const char* argv0, const std::string& relative);
// A UDP port triple base (base, base+1, base+2 all bindable), 0 when none found.
uint16_t FreePortBase();
// A loopback TCP port that was free a moment ago.
uint16_t FreeTcpPort();
// Forks and runs args[0] with its output (stdout and stderr) to `log`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log);
// SIGTERM and wait.
void Stop(pid_t pid);
// The first three fields of /proc/loadavg: how busy the machine was.
std::string LoadAverage();

}  // namespace capwap::bench
