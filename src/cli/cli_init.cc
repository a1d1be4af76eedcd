#include "cli/cli_init.h"

#include <algorithm>
#include <iterator>

#include "diag/debug.h"
#include "platform/cli.h"

namespace {

// Print order of the node writers, which is the order a replay rebuilds
// the configuration in: the daemon-wide switches, then the models and
// virtual AP profiles that APs name, the groups whose LAN-port VLAN an AP
// may take over, the APs, and the firmware images.
constexpr int kWriterOrder[] = {kAutoApWriteNode, kApModelNode, kVapProfileNode,
                                kApGroupNode,      kApNode,      kApVerWriteNode};

void InstallWriter(lib_globals* ctx, int node, cli_writer writer) {
  const auto* at = std::find(std::begin(kWriterOrder), std::end(kWriterOrder), node);
  cli_install_config(ctx, node, writer, static_cast<int>(at - std::begin(kWriterOrder)));
}

}  // namespace

void capwap_cli_init(lib_globals* ctx) {
  cli_install_node(ctx, kApNode, "config-ap", CONFIG_NODE);
  cli_install_node(ctx, kApGroupNode, "config-ap-group", CONFIG_NODE);
  cli_install_node(ctx, kApModelNode, "config-ap-model", CONFIG_NODE);
  cli_install_node(ctx, kVapProfileNode, "config-vap-profile", CONFIG_NODE);
  for (int node : {kApNode, kApGroupNode, kApModelNode, kVapProfileNode}) {
    cli_install_default(ctx, node);
  }
  int failed = 0;
  for (auto table : {capwap_debug_commands(), capwap_show_commands(), capwap_model_commands(),
                     capwap_oper_commands(), capwap_ap_commands(), capwap_apgroup_commands(),
                     capwap_switch_commands()}) {
    failed += cli_install_table(ctx, table);
  }
  if (failed != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " %d commands could not be installed.\n", failed);
  }
  capwap_virtual_ap_cli_init(ctx);
  InstallWriter(ctx, kAutoApWriteNode, capwap_autoap_mode_write);
  InstallWriter(ctx, kApModelNode, capwap_model_write);
  InstallWriter(ctx, kVapProfileNode, capwap_virtual_ap_mode_write);
  InstallWriter(ctx, kApGroupNode, capwap_apgroup_mode_write);
  InstallWriter(ctx, kApNode, capwap_ap_mode_write);
  InstallWriter(ctx, kApVerWriteNode, capwap_apver_mode_write);
}
