// The APM event socket and the command socket are not opened by this daemon
// yet; start-up goes on without them.
#include "export/apm.h"

int AC_ApmIpcSocketInit() { return 0; }
int Capwap_Init_CmdSock() { return 0; }
