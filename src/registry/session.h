// Session supervision: the per-WTP timers and the tunnel teardown that ends
// a CAPWAP session and returns the WTP to Idle (the control block stays).
#pragma once

#include <source_location>

#include "registry/wtpcb.h"

struct thread;

// Ends the session. Callers pass their function name and line (diagnostics
// only). Safe in any state, also Idle. Always 0.
int __CW_AC_HandleTunnelDown(CW_WTPCB* wtp, const char* func, int line);
// Cancels every session timer (the send queue must already be released). 0.
int CW_AC_DelWtpTimers(CW_WTPCB* wtp);
// Liveness refresh: in Run, re-arms the neighbour-dead timer for four echo
// intervals (none when the interval is 0); outside Run nothing.
namespace capwap {
void RefreshLiveness(CW_WTPCB* wtp);
// Re-arms the neighbour-dead timer for `seconds` (echo-interval commands).
void RestartNbrDeadTimer(CW_WTPCB* wtp, long seconds);
}  // namespace capwap

// Timer handlers (argument: the WTP).
int CW_AC_ImgCfgTimerHandler(thread* t);
int CW_AC_ChgStateTimerHandler(thread* t);
int CW_AC_IPCTimerHandler(thread* t);
int CW_AC_NbrDeadTimerHandler(thread* t);

// The daemon's event loop, used to arm the session timers.
namespace capwap {
thread_master* DaemonLoop();
}  // namespace capwap

// Arms one of the block's session timers on the daemon's loop (the handler
// gets the block). When it cannot, logs " Failed to start <what> timer of AP
// <name>." and returns false.
enum class TimerArming { kStart, kRestart, kStartIfIdle };
bool ArmSessionTimer(CW_WTPCB* wtp, capwap::Timer& timer, long seconds, thread_func handler,
                     const char* what, TimerArming how = TimerArming::kStart,
                     std::source_location where = std::source_location::current());
