// Failure injection at the platform seam: a test makes the next N calls of
// one family fail, so that "could not be created" and store-failure branches
// run for real. Production never arms it; a disarmed check is one load.
#pragma once

#include <cstdint>

namespace capwap {

enum class FailFamily : uint8_t {
  kTimerCreate,   // thread_add_timer / thread_add_read return nullptr
  kDbmStore,      // DBM_Store fails
  kDatagramSend,  // CW_SockSnd / CW_Sock6Snd / data-socket sends fail
  kIpcSend,       // IPC_TcpSocketSend / IPC_SocketSend fail
  kJsonAlloc,     // cJSON object creation fails
  kPacketAlloc,   // CW_AC_PktMalloc returns none
  kWtpAlloc,      // a WTP control block or its database image cannot be allocated
  kCount
};

// The next `count` checks of `family` report failure.
void FailNext(FailFamily family, uint32_t count);
// Consumes one pending failure of `family`; true when the caller must fail.
bool ShouldFail(FailFamily family);
// Disarms every family (test fixtures call this in SetUp/TearDown).
void ResetFailInjection();

}  // namespace capwap
