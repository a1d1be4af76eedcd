#include "platform/scm.h"

#include <string>

#include "platform/identity.h"
#include "platform/log.h"
#include "platform/util.h"

namespace {

// Name under which this process registered ("" when not registered).
std::string& RegisteredService() {
  static std::string name;
  return name;
}

// Runs service.<name>.<action> when configured: 0 when there is none or it
// succeeded, 1 when it failed.
int RunServiceCommand(const char* service_name, const char* action) {
  std::string command = identity_setting(std::string("service.") + service_name + "." + action);
  if (command.empty()) return 0;
  int status = lib_system(command.c_str());
  if (status != 0) {
    zlog_err(nullptr, "SCM: %s of service %s failed (status %d)", action, service_name, status);
    return 1;
  }
  return 0;
}

}  // namespace

int Register_Scm(lib_globals* ctx, const char* service_name) {
  if (!service_name || !*service_name) {
    zlog_err(ctx, "SCM: register without a service name");
    return 1;
  }
  RegisteredService() = service_name;
  zlog_info(ctx, "SCM: register service %s", service_name);
  return 0;
}

int DeRegister_Scm() {
  std::string& name = RegisteredService();
  if (name.empty()) return 0;
  zlog_info(nullptr, "SCM: deregister service %s", name.c_str());
  name.clear();
  return 0;
}

int Register_Monitor(lib_globals* ctx) {
  zlog_info(ctx, "SCM: register monitor");
  return 0;
}

int SCM_ServiceStart(const char* service_name, int /*flags*/) {
  if (!service_name || !*service_name) {
    zlog_err(nullptr, "SCM: start without a service name");
    return 1;
  }
  zlog_info(nullptr, "SCM: start service %s", service_name);
  return RunServiceCommand(service_name, "start");
}

int SCM_ServiceStop(const char* service_name, int /*flags*/) {
  if (!service_name || !*service_name) {
    zlog_err(nullptr, "SCM: stop without a service name");
    return 1;
  }
  zlog_info(nullptr, "SCM: stop service %s", service_name);
  return RunServiceCommand(service_name, "stop");
}
