#include "daemon/state.h"

#include "config/ap_group.h"
#include "config/ap_persist.h"
#include "config/images.h"
#include "config/model_catalogue.h"
#include "config/vap_profile.h"
#include "diag/debug.h"
#include "platform/cli.h"
#include "platform/identity.h"
#include "registry/acinfo.h"
#include "registry/hash.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/recv.h"

void capwap_reset_state() {
  ResetDebugState();
  identity_reset();
  WtpTableReset();  // before the pool: it releases the serial table
  capwap::HashPoolReset();
  SetApEventHooks({});
  AutoApSwitchesReset();
  ApGroupReset();
  ImageTableReset();
  VapProfileReset();
  ApModelReset();
  VendorRegistryReset();
  g_ucNeedEncrypt = 0;
  capwap::ResetKeepAlive();
  WmacIpcReset();
  ResetIpcHandlers();
  CfgUpdateReset();
  RdBindReset();
  capwap::ResetMsgHandlers();
  g_stCW_AC_GlobalInfo = capwap::AcGlobalInfo{};
  ul_CW_AC_Time = 0;
  lib_set_start_complete(false);
}
