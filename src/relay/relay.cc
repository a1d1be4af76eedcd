#include "relay/relay.h"

#include "relay/wmac.h"

void AC_RegisterIpcHandlers() {
  AC_ResetIpcHandlers();
  WMAC_RegisterChannelHandlers();
}
