#include "relay/relay.h"

#include "relay/radio_binding.h"
#include "relay/wmac.h"

void AC_RegisterIpcHandlers() {
  AC_ResetIpcHandlers();
  WMAC_RegisterChannelHandlers();
  AC_RegisterRdBindHandlers();
}
