// Runs the real capwap binary as a child process under a temporary root with
// its own ports, for acceptance tests from outside.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/lab.h"

namespace capwap::test {

class DaemonProcess {
 public:
  struct Options {
    uint32_t second_ms = 1000;
    std::string config_text;  // written to the default configuration file
  };
  DaemonProcess() : DaemonProcess(Options{}) {}
  explicit DaemonProcess(Options options);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Waits (bounded) until the vty accepts connections. False on timeout or
  // when the child exited.
  bool WaitReady();
  // Sends a signal and waits for the exit status (-1 when it did not end).
  int StopWith(int signo);
  // Stops with SIGTERM (unless stopped already) and starts again on the same
  // root and ports; true once the new process is ready.
  bool Restart();
  // Runs the lines (one or more, separated by newlines) in one vty session
  // after "enable" and returns what the daemon printed.
  std::string Vty(const std::string& lines);

  pid_t pid() const { return pid_; }
  uint16_t port_base() const { return port_base_; }
  uint16_t vty_port() const { return vty_port_; }
  const TempRoot& root() const { return root_; }
  std::string output() const;  // the child's stdout and stderr so far

 private:
  void Start();

  Options options_;
  TempRoot root_;
  uint16_t port_base_ = 0;
  uint16_t vty_port_ = 0;
  pid_t pid_ = -1;
  std::string log_path_;
};

// Runs the binary with arguments and no environment changes; returns the exit
// status and fills stdout/stderr.
int RunCapwap(const std::vector<std::string>& args, std::string* out, std::string* err);

// True when the UDP port is bound by some socket (from /proc/net/udp[6]).
bool UdpPortBound(uint16_t port, bool ipv6);

}  // namespace capwap::test
