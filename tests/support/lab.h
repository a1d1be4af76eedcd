// Test fixtures shared by every area: a temporary CAPWAP_ROOT, and a daemon
// context on a manual clock with the database open and every subsystem's
// global state reset.
#pragma once

#include <memory>
#include <string>

#include "bench/bench_process.h"
#include "platform/clock.h"
#include "platform/lib.h"

namespace capwap::test {

// A fresh directory used as CAPWAP_ROOT for the object's lifetime.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::string& path() const { return path_; }
  // path() + abs ("/tmp/x" -> "<root>/tmp/x").
  std::string Path(const std::string& abs) const { return path_ + abs; }

 private:
  std::string path_;
  std::string saved_root_;
  bool had_root_ = false;
};

// Resets every subsystem's global state (fixtures call it in SetUp and
// TearDown, so test order never matters).
void ResetAllGlobals();

// Resets every global when made and when destroyed: a fixture's first member.
struct FreshGlobals {
  FreshGlobals() { ResetAllGlobals(); }
  ~FreshGlobals() { ResetAllGlobals(); }
  FreshGlobals(const FreshGlobals&) = delete;
  FreshGlobals& operator=(const FreshGlobals&) = delete;
};

// A daemon context on a manual clock: capwapm points at it, the event loop
// runs on the clock with 1000 ms seconds, the DBM tables of the daemon are
// open under a temporary root.
class DaemonContext {
 public:
  DaemonContext();
  ~DaemonContext();
  DaemonContext(const DaemonContext&) = delete;
  DaemonContext& operator=(const DaemonContext&) = delete;

  lib_globals* ctx() { return ctx_.get(); }
  thread_master* master() { return ctx_->master.get(); }
  ManualClock& clock() { return clock_; }
  const TempRoot& root() const { return root_; }
  // Moves time forward in timer seconds, running everything that falls due.
  void RunFor(double seconds);
  // Runs ready I/O and due timers until quiet.
  void Settle();

 private:
  TempRoot root_;
  ManualClock clock_;
  std::unique_ptr<lib_globals> ctx_;
};

using bench::FreePortBase;

}  // namespace capwap::test
