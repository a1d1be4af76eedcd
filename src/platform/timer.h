// RAII one-shot timer handle: the only owner of a scheduled timer event.
// The destructor cancels; Start cancels then arms; the loop clears the handle
// before running the callback, so a callback may re-arm its own timer.
#pragma once

#include <source_location>

#include "platform/thread.h"

namespace capwap {

class Timer {
 public:
  Timer() = default;
  ~Timer() { Cancel(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  Timer(Timer&& other) noexcept { TakeFrom(other); }
  Timer& operator=(Timer&& other) noexcept {
    if (this != &other) {
      Cancel();
      TakeFrom(other);
    }
    return *this;
  }

  // Cancels any pending run, then arms `seconds` timer seconds from now.
  // False when the loop could not create the timer.
  bool Start(thread_master* m, long seconds, thread_func func, void* arg,
             std::source_location where = std::source_location::current()) {
    Cancel();
    return thread_add_timer(m, func, arg, seconds, &event_, where) != nullptr;
  }
  // Start for a deadline pushed back on every event: when the timer is
  // already armed for the same callback to run no later than the new time,
  // the loop only records the new time (no re-scheduling per call).
  bool Restart(thread_master* m, long seconds, thread_func func, void* arg,
               std::source_location where = std::source_location::current()) {
    if (event_ && event_->master == m && event_->func == func && event_->arg == arg &&
        thread_timer_postpone(event_, seconds)) {
      return true;
    }
    return Start(m, seconds, func, arg, where);
  }
  // Arms only when not already running; true when running afterwards.
  bool StartIfIdle(thread_master* m, long seconds, thread_func func, void* arg,
                   std::source_location where = std::source_location::current()) {
    if (Running()) return true;
    return thread_add_timer(m, func, arg, seconds, &event_, where) != nullptr;
  }
  void Cancel() {
    if (event_) thread_cancel(event_);
    event_ = nullptr;
  }
  bool Running() const { return event_ != nullptr; }
  double RemainingSeconds() const { return thread_timer_remaining(event_); }

 private:
  void TakeFrom(Timer& other) {
    event_ = other.event_;
    other.event_ = nullptr;
    if (event_) event_->ref = &event_;
  }

  thread* event_ = nullptr;
};

}  // namespace capwap
