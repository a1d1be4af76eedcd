// wtp-sim: plays many CAPWAP access points against an access controller.
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "platform/thread.h"
#include "platform/timer.h"
#include "wtp-sim/wtp_options.h"

namespace {

using capwap::sim::SimCommandLine;
using capwap::sim::WtpSimulator;

int StopLoop(thread* t) {
  thread_master_stop(static_cast<thread_master*>(THREAD_ARG(t)));
  return 0;
}

// Two sockets per AP and a few more for the process.
void RaiseDescriptorLimit(uint32_t aps) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = rlim_t{aps} * 2 + 32;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = wanted < limit.rlim_max ? wanted : limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// SIGINT and SIGTERM arrive as a readable descriptor on the loop.
int OpenSignalFd() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) return -1;
  return signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f && f != stdout) fclose(f);
  }
};

}  // namespace

int main(int argc, char** argv) {
  SimCommandLine cl;
  std::string text;
  const int status = capwap::sim::ParseSimCommandLine(argc, argv, &cl, &text);
  if (status >= 0) {
    fputs(text.c_str(), status == 0 ? stdout : stderr);
    return status;
  }
  std::unique_ptr<FILE, FileCloser> out(stdout);
  if (!cl.log_file.empty()) {
    out.reset(fopen(cl.log_file.c_str(), "a"));
    if (!out) {
      perror(cl.log_file.c_str());
      return 1;
    }
  }
  RaiseDescriptorLimit(cl.config.count);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = OpenSignalFd();
  if (signal_fd < 0) {
    perror("signalfd");
    return 1;
  }

  ThreadMasterPtr master = thread_master_create();
  FILE* sink_file = out.get();
  WtpSimulator sim(master.get(), cl.config, [sink_file](std::string_view line) {
    fprintf(sink_file, "%.*s\n", static_cast<int>(line.size()), line.data());
    fflush(sink_file);
  });
  thread_add_read(master.get(), StopLoop, master.get(), signal_fd);
  capwap::Timer duration;
  if (cl.duration > 0) duration.Start(master.get(), cl.duration, StopLoop, master.get());

  if (sim.Start() != 0 && sim.CountInState(capwap::sim::WtpState::kDiscovery) == 0) {
    fprintf(stderr, "wtp-sim: no AP could start\n");
    close(signal_fd);
    return 1;
  }
  thread fetched;
  while (thread_fetch(master.get(), &fetched)) thread_call(&fetched);

  fprintf(out.get(), "%s\n", sim.Summary().c_str());
  sim.Stop();
  duration.Cancel();
  thread_cancel_fd(master.get(), signal_fd);
  close(signal_fd);
  return 0;
}
