// The cooperative event loop: one-shot read and write events on descriptors and
// one-shot timers in whole seconds. Every callback runs to completion.
//
// Ownership: the master owns every scheduled event. thread_add_* returns a
// handle that stays valid until the event fires or is cancelled; pass `ref`
// to have the loop clear your copy of the handle at that moment (the loop
// clears it before calling the callback, so the callback may re-arm).
// Prefer capwap::Timer (timer.h) over holding raw handles.
#pragma once

#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <vector>

#include "platform/clock.h"

struct thread_master;
struct thread;

using thread_func = int (*)(thread*);

enum class ThreadType : uint8_t { kRead, kWrite, kTimer };

struct thread {
  ThreadType type;
  thread_master* master;
  thread_func func;
  void* arg;
  int fd;               // read and write events: the descriptor; timers: -1
  uint64_t due_ms;      // timers: absolute due time on the master's clock
  uint64_t seq;         // scheduling order, breaks ties between equal due times
  // Timers moved later by thread_timer_postpone: where the loop re-files
  // the timer when due_ms comes, instead of running it.
  bool postponed;
  uint64_t postponed_due_ms;
  uint64_t postponed_seq;
  thread** ref;         // cleared when the event fires or is cancelled
  std::source_location where;  // call site that scheduled it
};

inline void* THREAD_ARG(const thread* t) { return t->arg; }
inline int THREAD_FD(const thread* t) { return t->fd; }

struct ThreadMasterDeleter {
  void operator()(thread_master* m) const;
};
using ThreadMasterPtr = std::unique_ptr<thread_master, ThreadMasterDeleter>;

// Creates a loop on the steady clock scaled by CAPWAP_SECOND_MS.
ThreadMasterPtr thread_master_create();
// Creates a loop on a caller-owned clock (tests) with the given second length.
ThreadMasterPtr thread_master_create(capwap::Clock& clock, uint32_t second_ms);

// One-shot read readiness of fd. Returns nullptr only when event creation
// fails (see fail_inject.h).
thread* thread_add_read(thread_master* m, thread_func func, void* arg, int fd,
                        thread** ref = nullptr,
                        std::source_location where = std::source_location::current());
// One-shot write readiness of fd (a peer socket that can take more bytes).
// Returns nullptr only when event creation fails.
thread* thread_add_write(thread_master* m, thread_func func, void* arg, int fd,
                         thread** ref = nullptr,
                         std::source_location where = std::source_location::current());
// Inside a read or write callback: registers the same event again (callback,
// argument, descriptor and handle), which a one-shot reader does first so no
// early return can deafen its descriptor. False when the loop cannot watch
// the descriptor (see fail_inject.h) or `fetched` is a timer.
bool thread_rearm(thread* fetched);
// One-shot timer after `seconds` timer seconds. Returns nullptr on failure.
thread* thread_add_timer(thread_master* m, thread_func func, void* arg, long seconds,
                         thread** ref = nullptr,
                         std::source_location where = std::source_location::current());
// Same in milliseconds of real (unscaled) time; used for sub-second platform
// work such as delayed service starts. Not for protocol timers.
thread* thread_add_timer_msec(thread_master* m, thread_func func, void* arg, long msec,
                              thread** ref = nullptr,
                              std::source_location where = std::source_location::current());
// Moves a pending timer's run to `seconds` timer seconds from now, as
// cancelling and re-adding it would, without re-scheduling: the loop re-files
// it when its current due time comes. For a timer pushed back on every event
// (a liveness deadline). False, changing nothing, when t is not a pending
// timer or the new time is earlier than its current due time.
bool thread_timer_postpone(thread* t, long seconds);
// Cancels a pending event; nullptr is accepted and ignored.
void thread_cancel(thread* t);
// Cancels every read and write event registered for fd (used before closing it).
void thread_cancel_fd(thread_master* m, int fd);

// Waits for the next ready event and moves it into *fetch. Returns fetch, or
// nullptr when nothing is scheduled any more (or thread_master_stop was called).
thread* thread_fetch(thread_master* m, thread* fetch);
// Runs a fetched event's callback.
void thread_call(thread* t);
// Makes the next thread_fetch return nullptr.
void thread_master_stop(thread_master* m);

// --- Loop driving for tests and embedding -------------------------------

// Runs everything ready now: readable descriptors (waiting up to timeout_ms
// for the first one) and timers due at the current clock time. Returns the
// number of callbacks run.
int thread_master_poll(thread_master* m, int timeout_ms);
// Repeats poll(0) until nothing ran (bounded); returns callbacks run.
int thread_master_settle(thread_master* m);
// Only for loops on a ManualClock: moves time forward `seconds` timer
// seconds, stopping at every due timer in order and settling I/O between.
void thread_master_run_for(thread_master* m, capwap::ManualClock& clock, double seconds);

// --- Introspection ------------------------------------------------------

struct PendingTimer {
  std::string where;        // file:line of the scheduling call
  double remaining_seconds;
};
std::vector<PendingTimer> thread_master_pending_timers(const thread_master* m);
// Read and write events pending (descriptor events).
size_t thread_master_read_count(const thread_master* m);
size_t thread_master_timer_count(const thread_master* m);
uint32_t thread_master_second_ms(const thread_master* m);
const capwap::Clock& thread_master_clock(const thread_master* m);
// Seconds (in timer seconds) until t fires; 0 when not a pending timer.
double thread_timer_remaining(const thread* t);
