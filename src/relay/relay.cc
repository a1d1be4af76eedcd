#include "relay/relay.h"

#include "relay/cfg_update.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"

void AC_RegisterIpcHandlers() {
  AC_ResetIpcHandlers();
  WMAC_RegisterChannelHandlers();
  AC_RegisterCfgUpdateHandlers();
  AC_RegisterRdBindHandlers();
}
