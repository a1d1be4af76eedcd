// Installs the handlers of incoming WMAC message types (start-up and test
// fixtures).
#pragma once

// Every relay module's routes, after clearing the table. 0, or 1 when a
// route was refused (a start-up error).
int RegisterIpcHandlers();
// Makes the registry tell WMAC about APs created and deleted and about
// tunnels going down.
void RegisterApEventHooks();
