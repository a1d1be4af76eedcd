// Filesystem roots and port numbers, movable for tests and unprivileged runs.
//
// CAPWAP_ROOT is prefixed to every absolute path the daemon touches (/tmp
// sockets, /var/run, /usr/sbin/apimage, /etc/config/...). CAPWAP_PORT_BASE
// moves the CAPWAP ports 5246/5247/5248 together (base, base+1, base+2).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace capwap {

inline constexpr uint16_t kControlPort = 5246;
inline constexpr uint16_t kDataPort = 5247;
inline constexpr uint16_t kMonitorPort = 5248;

// The CAPWAP_ROOT prefix, or "" when unset.
std::string RootPrefix();
// abs_path under CAPWAP_ROOT ("/tmp/cw_ac_addr" -> "$CAPWAP_ROOT/tmp/cw_ac_addr").
std::string RootPath(std::string_view abs_path);
// One of the three CAPWAP ports moved by CAPWAP_PORT_BASE.
uint16_t CapwapPort(uint16_t default_port);
// Creates every missing directory of path's parent (mode 0777 & ~umask).
bool MakeParentDirs(const std::string& path);
// Creates the directory and its parents.
bool MakeDirs(const std::string& dir);

}  // namespace capwap
