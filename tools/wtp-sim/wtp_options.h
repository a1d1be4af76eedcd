// The wtp-sim command line.
#pragma once

#include <cstdint>
#include <string>

#include "wtp-sim/wtp_fleet.h"

namespace capwap::sim {

struct SimCommandLine {
  SimConfig config;
  std::string log_file;   // empty: standard output
  uint32_t duration = 0;  // seconds; 0 runs until SIGINT or SIGTERM
};

// -1 to go on; otherwise the exit status, with the help text (status 0) or
// the error (status 2) in *output.
int ParseSimCommandLine(int argc, char** argv, SimCommandLine* out, std::string* output);
std::string SimUsage(const char* program);

}  // namespace capwap::sim
