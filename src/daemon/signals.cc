// Signal handling: framework defaults first, then the daemon's own.
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "daemon/capwap.h"
#include "daemon/debug.h"
#include "platform/lib.h"

namespace {

void Install(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // interrupted system calls restart
  sigaction(signo, &sa, nullptr);
}

void OnCpuLimit(int) {
  zlog_warn(capwapm, "CPU limit exceeded");
  Install(SIGXCPU, SIG_IGN);
}

void OnFileSizeLimit(int) {
  zlog_warn(capwapm, "File size limit exceeded");
  Install(SIGXFSZ, SIG_IGN);
}

void OnHangup(int) { zlog_info(capwapm, "SIGHUP received"); }

void OnTerminate(int) {
  zlog_info(capwapm, "Terminating on signal");
  capwap_stop();
  fflush(stdout);
  fflush(stderr);
  _exit(0);
}

void OnRotate(int) { zlog_rotate(capwapm); }

void OnPipe(int) {}

void pal_signal_init() {
  for (int signo : {SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU}) {
    Install(signo, SIG_IGN);
  }
  Install(SIGXCPU, OnCpuLimit);
  Install(SIGXFSZ, OnFileSizeLimit);
}

}  // namespace

void signal_init() {
  pal_signal_init();
  Install(SIGHUP, OnHangup);
  Install(SIGINT, OnTerminate);
  Install(SIGTERM, OnTerminate);
  Install(SIGUSR1, OnRotate);
  Install(SIGPIPE, OnPipe);
}
