// Installation of the daemon's command tables and node writers.
#pragma once

struct lib_globals;

// Daemon CLI nodes (framework mode numbers).
enum : int {
  CW_AP_NODE = 100,
  CW_APGROUP_NODE = 104,
  CW_AUTOAP_WRITE_NODE = 108,
  CW_APVER_WRITE_NODE = 109,
  CW_APMODEL_NODE = 110,
  CW_VAP_PROFILE_NODE = 131,
};

void capwap_cli_init(lib_globals* ctx);
// The debug commands ("debug capwap ...", "show debug all").
void capwap_debug_cli_init(lib_globals* ctx);
// The operational views ("show wlan ap ...", "show wtp").
void capwap_show_cli_init(lib_globals* ctx);
