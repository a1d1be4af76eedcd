// The daemon's command tables and node writers, installed at start-up.
#pragma once

#include <span>

struct CliCommand;
struct lib_globals;
struct vty;

// Daemon CLI nodes (framework mode numbers).
enum : int {
  CW_AP_NODE = 100,
  CW_APGROUP_NODE = 104,
  CW_AUTOAP_WRITE_NODE = 108,
  CW_APVER_WRITE_NODE = 109,
  CW_APMODEL_NODE = 110,
  CW_VAP_PROFILE_NODE = 131,
};

// Declares the daemon's nodes, installs every table below and registers the
// node writers in their print order.
void capwap_cli_init(lib_globals* ctx);

// "wlan ap-model" and the AP-model node's sub-commands.
std::span<const CliCommand> capwap_model_commands();
// "debug capwap ...", "no debug ...", "show debug all".
std::span<const CliCommand> capwap_debug_commands();
// The operational views ("show wlan ap ...", "show wtp").
std::span<const CliCommand> capwap_show_commands();

// Writes the custom models as commands; returns 0.
int capwap_model_write(vty* v);
