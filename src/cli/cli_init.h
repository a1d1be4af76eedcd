// The daemon's command tables and node writers, installed at start-up.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct CliCommand;
struct VapProfile;
struct CW_WTPCB;
struct lib_globals;
struct vty;

// Daemon CLI nodes (framework mode numbers).
enum : int {
  kApNode = 100,
  kApGroupNode = 104,
  kAutoApWriteNode = 108,
  kApVerWriteNode = 109,
  kApModelNode = 110,
  kVapProfileNode = 131,
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

// The operational commands: reset, restore, upgrade and image assignment.
// The model alternatives come from the active vendor profile, so the table
// is rebuilt at every call.
std::span<const CliCommand> capwap_oper_commands();

// --- Virtual AP profiles ----------------------------------------------------
// The profile node, the AP node's binding, the AP-group node's hidden
// "controlled-ac" and the profile listing.
std::span<const CliCommand> capwap_vap_commands();
// Makes profile 1 (when missing) and installs capwap_vap_commands().
void capwap_virtual_ap_cli_init(lib_globals* ctx);
// Node 131 writer: every profile as commands; returns 0.
int capwap_virtual_ap_mode_write(vty* v);
// The AP block's binding line (" virtual-ap-profile N") for a bound AP.
void capwap_ap_virtual_write(vty* v, const CW_WTPCB& wtp);
// Pushes an active profile to the AP when it is a physical AP in Run that
// takes profiles at run time (item 61). 1 when the profile is not active.
int CAPWAP_VAP_Apply(CW_WTPCB* wtp, const VapProfile* profile);
// Withdraws the AP's profile from it (zero profile; leaving link isolation,
// its wired-LAN VLAN back). The binding stays.
void CAPWAP_VAP_UnApply(CW_WTPCB* wtp);
// Applies the profile to every AP bound to it.
void CAPWAP_VapProfileBindAllAp(const VapProfile* profile);
// Withdraws an active profile from every AP bound to it; with `unbind` 1
// also clears each binding and stores the AP.
void CAPWAP_VapProfileUnbindAllAp(const VapProfile* profile, int unbind);
// Profile `number` (made when missing) in tunnel mode with the address;
// applied to its APs when the address or the mode changed. 0 / 1.
int CAPWAP_VirtualApSetAcip(uint32_t number, std::string_view address);
// One line per AP bound to the profile, with "Online" or "offline".
void CAPWAP_VapProfileBindApShows(vty* v, const VapProfile* profile);
