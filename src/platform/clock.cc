#include "platform/clock.h"

#include <chrono>
#include <cstdlib>

namespace capwap {

uint64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t SecondMsFromEnv() {
  const char* text = std::getenv("CAPWAP_SECOND_MS");
  if (!text || !*text) return 1000;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value == 0 || value > 3'600'000) return 1000;
  return static_cast<uint32_t>(value);
}

}  // namespace capwap
