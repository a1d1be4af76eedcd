#include "support/lab.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "config/db_tables.h"
#include "daemon/state.h"
#include "diag/debug.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/thread.h"
#include "relay/relay.h"

namespace capwap::test {

TempRoot::TempRoot() {
  const char* old = std::getenv("CAPWAP_ROOT");
  had_root_ = old != nullptr;
  if (old) saved_root_ = old;
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/capwap-test-XXXXXX";
  char* made = mkdtemp(tmpl.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
  setenv("CAPWAP_ROOT", path_.c_str(), 1);
}

TempRoot::~TempRoot() {
  if (had_root_) {
    setenv("CAPWAP_ROOT", saved_root_.c_str(), 1);
  } else {
    unsetenv("CAPWAP_ROOT");
  }
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void ResetAllGlobals() {
  ResetFailInjection();
  capwap_reset_state();
}

DaemonContext::DaemonContext() {
  ResetAllGlobals();
  ctx_ = lib_start();
  ctx_->protocol = 27;
  ctx_->master = thread_master_create(clock_, 1000);
  capwapm = ctx_.get();
  EXPECT_EQ(DBM_Connect(), 0);
  for (const auto& [id, name] : kDbTables) EXPECT_EQ(DBM_Open(id, name), 0);
  RegisterApEventHooks();
}

DaemonContext::~DaemonContext() {
  ResetAllGlobals();
  DBM_Disconnect();
  capwapm = nullptr;
  ctx_.reset();
}

void DaemonContext::RunFor(double seconds) {
  thread_master_run_for(master(), clock_, seconds);
}

void DaemonContext::Settle() { thread_master_settle(master()); }

}  // namespace capwap::test
