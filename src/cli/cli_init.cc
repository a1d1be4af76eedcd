#include "cli/cli_init.h"

#include "cli/model.h"
#include "platform/cli.h"

void capwap_cli_init(lib_globals* ctx) {
  cli_install_node(ctx, CW_AP_NODE, "config-ap", CONFIG_NODE);
  cli_install_node(ctx, CW_APGROUP_NODE, "config-ap-group", CONFIG_NODE);
  cli_install_node(ctx, CW_APMODEL_NODE, "config-ap-model", CONFIG_NODE);
  cli_install_node(ctx, CW_VAP_PROFILE_NODE, "config-vap-profile", CONFIG_NODE);
  for (int node : {CW_AP_NODE, CW_APGROUP_NODE, CW_APMODEL_NODE, CW_VAP_PROFILE_NODE}) {
    cli_install_default(ctx, node);
  }
  capwap_debug_cli_init(ctx);
  capwap_show_cli_init(ctx);
  capwap_model_cli_init(ctx);
}
