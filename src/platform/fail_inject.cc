#include "platform/fail_inject.h"

#include <array>
#include <cstddef>

namespace capwap {
namespace {
std::array<uint32_t, static_cast<size_t>(FailFamily::kCount)> pending_failures{};
}  // namespace

void FailNext(FailFamily family, uint32_t count) {
  pending_failures[static_cast<size_t>(family)] = count;
}

bool ShouldFail(FailFamily family) {
  uint32_t& pending = pending_failures[static_cast<size_t>(family)];
  if (pending == 0) return false;
  --pending;
  return true;
}

void ResetFailInjection() { pending_failures.fill(0); }

}  // namespace capwap
