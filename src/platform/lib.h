// The framework context: one per daemon process, created by lib_start and
// handed to every framework call. It owns the log handle, the event loop,
// the vty host, the IPC listeners and the NSM client.
#pragma once

#include <memory>

#include "platform/log.h"
#include "platform/thread.h"

struct cli_host;      // vty server and command tree (platform/cli.h)
struct nsm_client;    // interface events (platform/nsm.h)
struct ipc_state;     // IPC listeners and their connections (platform/ipc.h)

// Each owner module defines the deleter of its part of the context.
struct CliHostDeleter {
  void operator()(cli_host* host) const;
};
struct NsmClientDeleter {
  void operator()(nsm_client* nc) const;
};
struct IpcStateDeleter {
  void operator()(ipc_state* ipc) const;
};

struct lib_globals {
  lib_globals();
  ~lib_globals();
  lib_globals(const lib_globals&) = delete;
  lib_globals& operator=(const lib_globals&) = delete;

  int protocol = 0;  // protocol identifier (27 for this daemon)
  int flags = 0;     // framework flags word; bit value 2 selects the link-local cloud default
  std::unique_ptr<zlog> log;
  ThreadMasterPtr master;
  std::unique_ptr<cli_host, CliHostDeleter> host;
  std::unique_ptr<nsm_client, NsmClientDeleter> nc;
  std::unique_ptr<ipc_state, IpcStateDeleter> ipc;
};

// memory_init(protocol): accepted for the framework's memory accounting.
void memory_init(int protocol);
// Creates the context (no event loop yet: thread_master_create does that).
std::unique_ptr<lib_globals> lib_start();
// Releases everything the context owns (listeners closed, loop destroyed).
void lib_stop(std::unique_ptr<lib_globals>& ctx);
