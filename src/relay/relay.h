// Installs the handlers of incoming WMAC message types (start-up and test
// fixtures).
#pragma once

// Handlers owned by the channel itself (DEL-WTP, AP groups, 28, 43, 76).
void WMAC_RegisterChannelHandlers();
// Every relay module's handlers.
void AC_RegisterIpcHandlers();
// Makes the registry tell WMAC about APs created and deleted and about
// tunnels going down.
void AC_RegisterApEventHooks();
