// capwap-stop-bench: starts the real daemon again and again, floods it with
// Join Requests from new APs (each stores its record), garbage datagrams and
// garbage on the WMAC listener, and stops it with SIGTERM at a different
// moment of the traffic each run.
//
// Reported: the time from the signal to the exit (median and slowest), and
// every run that went wrong: an exit status other than 0, a stop slower than
// the limit, the stop work done inside the signal handler rather than after
// the loop ended, a sanitizer report, or a database that does not open again.
// Exit status 0 when no run went wrong.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "config/db_tables.h"
#include "platform/dbm.h"
#include "wtp-sim/wtp_messages.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace bench = capwap::bench;

struct StopOptions {
  std::string capwap_path;
  int runs = 50;
  double limit_seconds = 1.0;
};

// Joins from several new APs, garbage datagrams, and garbage on the IPC
// listener, until stopped.
void Flood(std::stop_token stop, uint16_t control_port, const std::string& ipc_path) {
  std::vector<int> aps;
  std::vector<capwap::Bytes> joins;
  for (uint8_t i = 0; i < 8; ++i) {
    capwap::sim::WtpIdentity id;
    id.mac[5] = static_cast<uint8_t>(0x40 + i);
    id.name = "stopap-" + std::to_string(i);
    id.serial += std::to_string(i);
    id.session_id[0] = static_cast<uint8_t>(i + 1);
    aps.push_back(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    joins.push_back(capwap::sim::BuildJoinRequest(id, i));
  }
  const capwap::Bytes garbage(300, 0xEE);
  sockaddr_in ac{AF_INET, htons(control_port), {htonl(INADDR_LOOPBACK)}, {}};
  sockaddr_un ipc{};
  ipc.sun_family = AF_UNIX;
  std::strncpy(ipc.sun_path, ipc_path.c_str(), sizeof ipc.sun_path - 1);
  int ipc_fd = -1;
  char sink[2048];
  for (int round = 0; round < 200'000 && !stop.stop_requested(); ++round) {
    size_t i = static_cast<size_t>(round) % aps.size();
    const capwap::Bytes& d = round % 3 == 0 ? garbage : joins[i];
    sendto(aps[i], d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&ac), sizeof ac);
    while (recv(aps[i], sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    if (ipc_fd < 0) {
      ipc_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
      if (connect(ipc_fd, reinterpret_cast<sockaddr*>(&ipc), sizeof ipc) != 0) {
        close(ipc_fd);
        ipc_fd = -1;
      }
    }
    if (ipc_fd >= 0 && send(ipc_fd, garbage.data(), 64, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
        errno != EAGAIN) {
      close(ipc_fd);
      ipc_fd = -1;
    }
    if (round % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (ipc_fd >= 0) close(ipc_fd);
  for (int fd : aps) close(fd);
}

// Waits (bounded) until the daemon's vty accepts a connection.
bool WaitReady(pid_t pid, uint16_t vty_port) {
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{AF_INET, htons(vty_port), {htonl(INADDR_LOOPBACK)}, {}};
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Exit status after SIGTERM, -1 when the daemon had not ended after 10 s.
int TerminateAndWait(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// What went wrong in one run's output, or "".
std::string OutputFault(const std::string& out) {
  size_t signal_line = out.find("Terminating on signal");
  if (signal_line == std::string::npos) return "no \"Terminating on signal\" line";
  // The stop ran after the loop ended, not inside the signal handler.
  if (out.find("SCM: deregister service ac", signal_line) == std::string::npos) {
    return "no deregistration after the signal line";
  }
  if (out.find("Sanitizer") != std::string::npos || out.find("runtime error") != std::string::npos) {
    return "sanitizer report";
  }
  return "";
}

// The records the closed database holds in the AP table, -1 when it does not open.
long StoredAps(const std::string& root) {
  setenv("CAPWAP_ROOT", root.c_str(), 1);
  if (DBM_Connect() != 0) return -1;
  long stored = DBM_Open(kDbCwAp, "cw_ap") == 0 ? static_cast<long>(capwap::DbmCount(kDbCwAp)) : -1;
  DBM_Disconnect();
  return stored;
}

bool ParseArgs(int argc, char** argv, StopOptions* o) {
  o->capwap_path = bench::SiblingPath(argv[0], "../../capwap");
  static const option kLong[] = {{"runs", required_argument, nullptr, 'n'},
                                 {"limit", required_argument, nullptr, 'l'},
                                 {"capwap", required_argument, nullptr, 'c'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "n:l:c:h", kLong, nullptr)) != -1) {
    switch (c) {
      case 'n': o->runs = std::max(1, atoi(optarg)); break;
      case 'l': o->limit_seconds = atof(optarg); break;
      case 'c': o->capwap_path = optarg; break;
      default:
        printf("Usage: capwap-stop-bench [--runs N] [--limit SECONDS] [--capwap PATH]\n"
               "Starts the daemon N times (default 50), stops each under traffic with SIGTERM\n"
               "and reports the stop times; a stop slower than the limit (default 1 s) fails.\n");
        return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  StopOptions options;
  if (!ParseArgs(argc, argv, &options)) return 1;
  signal(SIGPIPE, SIG_IGN);
  std::vector<double> took;
  int failures = 0;
  long stored = 0;
  for (int run = 0; run < options.runs; ++run) {
    std::string root = std::filesystem::temp_directory_path() / "capwap-stop-XXXXXX";
    if (!mkdtemp(root.data())) return 1;
    const uint16_t base = bench::FreePortBase();
    const uint16_t vty = bench::FreeTcpPort();
    setenv("CAPWAP_ROOT", root.c_str(), 1);
    setenv("CAPWAP_PORT_BASE", std::to_string(base).c_str(), 1);
    pid_t daemon = bench::Spawn({options.capwap_path, "-P", std::to_string(vty)}, root + "/capwap.log");
    std::string fault;
    if (!WaitReady(daemon, vty)) {
      fault = "not ready";
      bench::Stop(daemon);
    } else {
      std::jthread flood(Flood, base, root + "/tmp/cw_ac_addr");
      // Land the signal at a different moment of the traffic each run.
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * (run % 6)));
      const auto start = Clock::now();
      const int status = TerminateAndWait(daemon);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      flood.request_stop();
      flood.join();
      took.push_back(seconds);
      std::stringstream out;
      out << std::ifstream(root + "/capwap.log").rdbuf();
      if (status != 0) fault = "exit status " + std::to_string(status);
      if (fault.empty()) fault = OutputFault(out.str());
      if (fault.empty() && seconds > options.limit_seconds) fault = "slow stop";
      const long aps = StoredAps(root);
      if (fault.empty() && aps < 0) fault = "the database does not open again";
      stored += std::max(aps, 0L);
      if (!fault.empty()) fault += " (" + std::to_string(seconds) + " s)\n" + out.str();
    }
    if (!fault.empty()) {
      ++failures;
      printf("run %d: %s\n", run, fault.c_str());
    }
    std::filesystem::remove_all(root);
  }
  std::sort(took.begin(), took.end());
  printf("%d stops under traffic, load average %s\n", options.runs, bench::LoadAverage().c_str());
  if (!took.empty()) {
    printf("signal to exit: median %.3f s, slowest %.3f s (limit %.3f s)\n",
           took[took.size() / 2], took.back(), options.limit_seconds);
  }
  printf("AP records found after the stops: %ld%s\n", stored,
         stored == 0 ? " (the Joins never reached the database)" : "");
  printf("%d of %d runs went wrong\n", failures, options.runs);
  return failures == 0 && stored > 0 ? 0 : 2;
}
