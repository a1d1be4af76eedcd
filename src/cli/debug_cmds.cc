// Debug switches: "debug capwap ...", "no debug capwap ...", "no debug all",
// "show debug all".
#include <string>

#include "cli/cli_init.h"
#include "diag/debug.h"
#include "platform/cli.h"

namespace {

void PrintToVty(void* sink, const char* text) { vty_out(static_cast<vty*>(sink), "%s", text); }

int DebugSet(vty* v, const CliArgs& args) {
  std::string mac = args.Str("mac");
  return SetDebugCategory(args.Str("level").c_str(), mac.empty() ? nullptr : mac.c_str(), PrintToVty,
                     v)
             ? CLI_WARNING
             : CLI_SUCCESS;
}

int DebugClear(vty* v, const CliArgs& args) {
  return ClearDebugCategory(args.Str("level").c_str(), PrintToVty, v) ? CLI_WARNING : CLI_SUCCESS;
}

int DebugClearAll(vty*, const CliArgs&) {
  ClearAllDebugCategories();
  return CLI_SUCCESS;
}

int ShowDebug(vty* v, const CliArgs&) {
  if (g_ulCwDebugBitmap & kDbgAll) vty_out(v, "CAPWAP: \n");
  if (g_ulCwDebugBitmap & kDbgFsm) vty_out(v, "           fsm:      ON\n");
  if (g_ulCwDebugBitmap & kDbgEvent) vty_out(v, "           event:    ON\n");
  if (g_ulCwDebugBitmap & kDbgError) vty_out(v, "           error:    ON\n");
  if (g_ulCwDebugBitmap & kDbgPacket) vty_out(v, "           packet:   ON\n");
  return CLI_SUCCESS;
}

const std::vector<std::string> kLevelHelp = {
    "All debugging",          "State machine debugging", "Error debugging",
    "Packet debugging",       "Event debugging",
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

std::span<const CliCommand> capwap_debug_commands() {
  static const CliCommand table[] = {
      {EXEC_NODE,
       "debug capwap (all | fsm | error | packet | event) (mac-address HHHH.HHHH.HHHH| )",
       Concat(Concat({"Debugging functions", "CAPWAP access controller"}, kLevelHelp),
              {"Only for one AP", "AP MAC address"}),
       {"level", "mac"},
       DebugSet},
      {EXEC_NODE,
       "no debug capwap (all | fsm | error | packet | event)",
       Concat({"Negate a command", "Debugging functions", "CAPWAP access controller"},
              kLevelHelp),
       {"level"},
       DebugClear},
      {EXEC_NODE,
       "no debug all",
       {"Negate a command", "Debugging functions", "All debugging"},
       {},
       DebugClearAll,
       kPrivilegeAdmin},
      {ALL_VIEW_NODES,
       "show debug all",
       {"Show running system information", "Debugging functions", "All debugging"},
       {},
       ShowDebug},
  };
  return table;
}
