#include "platform/lib.h"

#include "platform/identity.h"
#include "platform/ipc.h"

lib_globals::lib_globals() = default;

lib_globals::~lib_globals() {
  // Listeners and sessions first, while the loop they are registered on exists.
  IPC_Shutdown(this);
  host.reset();
  nc.reset();
  ipc.reset();
  master.reset();
  closezlog(this);
}

void memory_init(int /*protocol*/) {}

std::unique_ptr<lib_globals> lib_start() {
  identity_load();
  return std::make_unique<lib_globals>();
}

void lib_stop(std::unique_ptr<lib_globals>& ctx) { ctx.reset(); }
