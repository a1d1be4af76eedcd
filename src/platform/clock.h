// Monotonic clocks for the event loop. Production reads the steady clock;
// unit tests hold a ManualClock and move it themselves.
#pragma once

#include <cstdint>

namespace capwap {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale with an arbitrary origin.
  virtual uint64_t NowMs() const = 0;
};

class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() const override;
};

class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint64_t start_ms = 1'000'000) : now_ms_(start_ms) {}
  uint64_t NowMs() const override { return now_ms_; }
  void AdvanceMs(uint64_t ms) { now_ms_ += ms; }
  void SetMs(uint64_t ms) { now_ms_ = ms; }

 private:
  uint64_t now_ms_;
};

// Length of one timer second in milliseconds: CAPWAP_SECOND_MS, default 1000.
uint32_t SecondMsFromEnv();

}  // namespace capwap
