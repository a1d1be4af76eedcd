// Side doors for other processes: APM events on "/tmp/apm_ac_address" and
// the command socket "/tmp/wlancfg_capwap_addr".
#pragma once

// 0 / 1.
int AC_ApmIpcSocketInit();
int Capwap_Init_CmdSock();
