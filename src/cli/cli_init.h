// The daemon's command tables and node writers, installed at start-up.
#pragma once

#include <span>

struct CliCommand;
struct CW_WTPCB;
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

// Declaring, entering, renaming, deleting and keeping APs, and the AP node.
std::span<const CliCommand> capwap_ap_commands();
// Entering group 1 and the AP-group node.
std::span<const CliCommand> capwap_apgroup_commands();
// Automatic admission, the broadcast-discovery filter, tunnel scrambling.
std::span<const CliCommand> capwap_switch_commands();

// The AP of a session in the AP node (the node's context is its APID), or
// null after printing "%The AP does not exist.\n" when it has been deleted.
CW_WTPCB* capwap_node_ap(vty* v);

// Node writers, each printing its node's configuration as commands; 0.
int capwap_model_write(vty* v);         // custom models (110)
int capwap_ap_mode_write(vty* v);       // configured APs (100)
int capwap_apgroup_mode_write(vty* v);  // AP groups (104)
int capwap_autoap_mode_write(vty* v);   // daemon-wide switches (108)
int capwap_apver_mode_write(vty* v);    // firmware image assignments (109)
