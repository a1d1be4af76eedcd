// Signal handling: framework defaults first, then the daemon's own.
//
// A handler may interrupt anything, malloc or a database write included, so
// it only passes the signal number down a non-blocking pipe (write(2) is
// async-signal-safe) and, for a stop, raises a flag. The pipe's read end is
// a reader of the event loop, which does the work: logs, rotates the log
// file, or stops the loop so that capwap_start runs the orderly stop.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "daemon/capwap.h"
#include "diag/debug.h"
#include "platform/lib.h"

namespace {

// Written by the handlers, read by the loop.
struct SignalRelay {
  int read_fd = -1;
  int write_fd = -1;
  volatile sig_atomic_t stop_requested = 0;  // a stop survives a full pipe
  bool stopping = false;                     // loop side: the stop was logged
};
SignalRelay signal_relay;

void Install(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // interrupted system calls restart
  sigaction(signo, &sa, nullptr);
}

// Async-signal-safe: one write of one byte, errno kept for the code it
// interrupted. A full pipe drops the byte; a stop is still seen by the flag.
void Relay(int signo) {
  int saved_errno = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  ssize_t written = write(signal_relay.write_fd, &byte, 1);
  (void)written;
  errno = saved_errno;
}

void OnStopSignal(int signo) {
  signal_relay.stop_requested = 1;
  Relay(signo);
}

// Logged once by the loop, then ignored (sigaction is async-signal-safe).
void OnLimitSignal(int signo) {
  Install(signo, SIG_IGN);
  Relay(signo);
}

void OnPipe(int) {}

void pal_signal_init() {
  for (int signo : {SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU}) {
    Install(signo, SIG_IGN);
  }
  Install(SIGXCPU, OnLimitSignal);
  Install(SIGXFSZ, OnLimitSignal);
}

void RequestStop(thread_master* loop) {
  if (signal_relay.stopping) return;
  signal_relay.stopping = true;
  zlog_info(capwapm, "Terminating on signal");
  thread_master_stop(loop);
}

void Act(thread_master* loop, int signo) {
  switch (signo) {
    case SIGHUP:
      zlog_info(capwapm, "SIGHUP received");
      break;
    case SIGINT:
    case SIGTERM:
      RequestStop(loop);
      break;
    case SIGUSR1:
      zlog_rotate(capwapm);
      break;
    case SIGXCPU:
      zlog_warn(capwapm, "CPU limit exceeded");
      break;
    case SIGXFSZ:
      zlog_warn(capwapm, "File size limit exceeded");
      break;
    default:
      break;
  }
}

int OnSignalPipe(thread* t) {
  thread_rearm(t);
  unsigned char signos[64];
  ssize_t n;
  while ((n = read(signal_relay.read_fd, signos, sizeof signos)) > 0) {
    for (ssize_t i = 0; i < n; ++i) Act(t->master, signos[i]);
  }
  if (signal_relay.stop_requested) RequestStop(t->master);
  return 0;
}

}  // namespace

void signal_init() {
  pal_signal_init();
  if (signal_relay.write_fd < 0) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
      // Without the pipe the default actions stay: a stop signal ends the
      // process at once instead of through the orderly stop.
      zlog_err(nullptr, "signal pipe: %s", strerror(errno));
      return;
    }
    signal_relay.read_fd = fds[0];
    signal_relay.write_fd = fds[1];
  }
  Install(SIGHUP, Relay);
  Install(SIGINT, OnStopSignal);
  Install(SIGTERM, OnStopSignal);
  Install(SIGUSR1, Relay);
  Install(SIGPIPE, OnPipe);
}

int signal_watch(thread_master* loop) {
  if (signal_relay.read_fd < 0) return 0;
  return thread_add_read(loop, OnSignalPipe, nullptr, signal_relay.read_fd) ? 0 : 1;
}
