// Service control. There is no service manager on this machine: every call
// is logged, and when the platform settings name a command for the service
// (service.<name>.start / .stop) that command is run through lib_system.
#pragma once

struct lib_globals;

int Register_Scm(lib_globals* ctx, const char* service_name);
int DeRegister_Scm();
int Register_Monitor(lib_globals* ctx);
int SCM_ServiceStart(const char* service_name, int flags);
int SCM_ServiceStop(const char* service_name, int flags);
