// capwap-bench: brings 32 simulated APs from Discovery to Run against the
// real daemon, then floods Echo Requests, and measures the same flood against
// a raw UDP echo server on the same machine as the ceiling.
//
// Reported: time for all APs to reach Run, Echo round trips per second with
// p50/p99 latency and the serving process's CPU time per Echo for both the
// daemon and the raw echo server, their ratio, and the daemon's peak RSS.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "platform/thread.h"
#include "transport/codec.h"
#include "wtp-sim/wtp_fleet.h"
#include "wtp-sim/wtp_messages.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace sim = capwap::sim;
using capwap::bench::FreePortBase;
using capwap::bench::LoadAverage;
using capwap::bench::SiblingPath;
using capwap::bench::Spawn;
using capwap::bench::Stop;

struct BenchOptions {
  std::string capwap_path;
  std::string peer_sim_path;
  int aps = 32;
  double flood_seconds = 5.0;  // per side, over all rounds
  int rounds = 5;  // alternating daemon and raw-server slices
  int window = 1;  // outstanding Echo Requests per AP
};

// Totals of one side (the daemon or the raw server) over its slices.
struct FloodResult {
  uint64_t round_trips = 0;
  double seconds = 0;
  double cpu_seconds = 0;  // the serving process's CPU time during its slices
  uint64_t lost = 0;
  std::vector<double> latencies_us;

  double Rate() const { return seconds > 0 ? round_trips / seconds : 0; }
  double CpuUsPerEcho() const { return round_trips ? 1e6 * cpu_seconds / round_trips : 0; }
  double Percentile(double p) {
    if (latencies_us.empty()) return 0;
    std::sort(latencies_us.begin(), latencies_us.end());
    size_t at = static_cast<size_t>(p * static_cast<double>(latencies_us.size()));
    return latencies_us[std::min(latencies_us.size() - 1, at)];
  }
};

// CPU time a process has run, in seconds: the scheduler's nanosecond count
// when the kernel keeps one, else utime + stime in clock ticks.
double CpuSeconds(pid_t pid) {
  std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
  unsigned long long run_ns = 0;
  if (schedstat >> run_ns) return static_cast<double>(run_ns) / 1e9;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  size_t close_paren = text.rfind(')');
  if (close_paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(close_paren + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) {
      stime = std::stoul(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long PeakRssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

int UdpSocket() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return fd;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

// Sends each socket's request, waits for any answer, sends the next, for the
// given time; one outstanding request per socket and window slot. Answers
// still in flight at the end are drained without being counted, so the next
// slice on the same sockets starts clean.
void Flood(const std::vector<int>& fds, const std::vector<capwap::Bytes>& requests,
           const sockaddr_in& to, double seconds, int window, FloodResult* result) {
  std::vector<std::vector<Clock::time_point>> sent(fds.size());
  auto send_one = [&](size_t i) {
    sendto(fds[i], requests[i].data(), requests[i].size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    sent[i].push_back(Clock::now());
  };
  auto start = Clock::now();
  auto deadline = start + std::chrono::duration<double>(seconds);
  for (size_t i = 0; i < fds.size(); ++i) {
    for (int w = 0; w < window; ++w) send_one(i);
  }
  std::vector<pollfd> pfds;
  for (int fd : fds) pfds.push_back(pollfd{fd, POLLIN, 0});
  uint8_t buf[4096];
  while (Clock::now() < deadline) {
    if (poll(pfds.data(), pfds.size(), 100) <= 0) {
      // A lost datagram would stall its slot: resend after 100 ms of quiet.
      for (size_t i = 0; i < fds.size(); ++i) {
        if (!sent[i].empty()) {
          sent[i].erase(sent[i].begin());
          ++result->lost;
          send_one(i);
        }
      }
      continue;
    }
    for (size_t i = 0; i < pfds.size(); ++i) {
      if (!(pfds[i].revents & POLLIN)) continue;
      while (recv(fds[i], buf, sizeof buf, 0) > 0) {
        if (sent[i].empty()) continue;
        auto now = Clock::now();
        result->latencies_us.push_back(
            std::chrono::duration<double, std::micro>(now - sent[i].front()).count());
        sent[i].erase(sent[i].begin());
        ++result->round_trips;
        if (now < deadline) send_one(i);
      }
    }
  }
  result->seconds += std::chrono::duration<double>(Clock::now() - start).count();
  auto drain_until = Clock::now() + std::chrono::milliseconds(50);
  while (Clock::now() < drain_until && poll(pfds.data(), pfds.size(), 10) > 0) {
    for (int fd : fds) {
      while (recv(fd, buf, sizeof buf, 0) > 0) {
      }
    }
  }
}

// Floods one side for a slice and charges it the server's CPU time.
void FloodSlice(pid_t server, const std::vector<int>& fds,
                const std::vector<capwap::Bytes>& requests, uint16_t port, double seconds,
                int window, FloodResult* result) {
  double cpu_before = CpuSeconds(server);
  Flood(fds, requests, Loopback(port), seconds, window, result);
  result->cpu_seconds += CpuSeconds(server) - cpu_before;
}

// The ceiling: a process that echoes every datagram straight back.
pid_t StartRawEchoServer(uint16_t port) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) _exit(1);
    uint8_t buf[4096];
    for (;;) {
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n > 0) sendto(fd, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  return pid;
}

void Usage() {
  printf(
      "Usage: capwap-bench [--aps N] [--seconds S] [--window W] [--rounds R] [--capwap PATH]\n"
      "                    [--peer-sim PATH]\n"
      "Drives N simulated APs (default 32) from Discovery to Run against the capwap\n"
      "binary, floods Echo Requests for S seconds (default 5) with W outstanding per AP\n"
      "(default 1), and compares with a raw UDP echo server on the same machine. The\n"
      "flood time is cut into R slices per side (default 5), alternating daemon and raw\n"
      "server, so that a change in machine load weighs on both alike.\n");
}

bool ParseArgs(int argc, char** argv, BenchOptions* o) {
  o->capwap_path = SiblingPath(argv[0], "../../capwap");
  o->peer_sim_path = SiblingPath(argv[0], "../peer-sim/peer-sim");
  static const option kLong[] = {{"aps", required_argument, nullptr, 'n'},
                                 {"seconds", required_argument, nullptr, 's'},
                                 {"window", required_argument, nullptr, 'w'},
                                 {"rounds", required_argument, nullptr, 'r'},
                                 {"capwap", required_argument, nullptr, 'c'},
                                 {"peer-sim", required_argument, nullptr, 'p'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "n:s:w:r:c:p:h", kLong, nullptr)) != -1) {
    switch (c) {
      case 'n': o->aps = std::max(1, std::min(32, atoi(optarg))); break;
      case 's': o->flood_seconds = atof(optarg); break;
      case 'w': o->window = std::max(1, atoi(optarg)); break;
      case 'r': o->rounds = std::max(1, atoi(optarg)); break;
      case 'c': o->capwap_path = optarg; break;
      case 'p': o->peer_sim_path = optarg; break;
      default: Usage(); return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  if (!ParseArgs(argc, argv, &options)) return 1;
  signal(SIGPIPE, SIG_IGN);

  std::string root = std::filesystem::temp_directory_path() / "capwap-bench-XXXXXX";
  if (!mkdtemp(root.data())) return 1;
  uint16_t base = FreePortBase();
  setenv("CAPWAP_ROOT", root.c_str(), 1);
  setenv("CAPWAP_PORT_BASE", std::to_string(base).c_str(), 1);

  pid_t peers = Spawn({options.peer_sim_path}, root + "/peer-sim.log");
  pid_t daemon = Spawn({options.capwap_path, "-P", "0"}, root + "/capwap.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  ThreadMasterPtr master = thread_master_create();
  sim::SimConfig config;
  config.ac.control_port = base;
  config.ac.data_port = static_cast<uint16_t>(base + 1);
  config.count = static_cast<uint32_t>(options.aps);
  config.knobs.silent_echo = true;  // the flood sends the Echo Requests
  sim::WtpSimulator fleet(master.get(), config, [](std::string_view) {});
  auto start = Clock::now();
  fleet.Start();
  while (fleet.CountInState(sim::WtpState::kRun) < static_cast<size_t>(options.aps) &&
         Clock::now() - start < std::chrono::seconds(60)) {
    thread_master_poll(master.get(), 10);
  }
  double to_run = std::chrono::duration<double>(Clock::now() - start).count();
  size_t running = fleet.CountInState(sim::WtpState::kRun);
  printf("APs in Run: %zu/%d after %.3f s\n", running, options.aps, to_run);
  fflush(stdout);

  // One socket per AP sending that AP's Echo Requests to the daemon (which
  // follows the session ID to the new endpoint), and one per AP for the raw
  // server.
  std::vector<int> fds;
  std::vector<int> raw_fds;
  std::vector<capwap::Bytes> echoes;
  for (size_t i = 0; i < running; ++i) {
    fds.push_back(UdpSocket());
    raw_fds.push_back(UdpSocket());
    echoes.push_back(sim::BuildEchoRequest(fleet.ap(i).identity(), 1));
  }
  uint16_t raw_port = FreePortBase();
  pid_t raw = StartRawEchoServer(raw_port);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  FloodResult capwap;
  FloodResult ceiling;
  const double slice = options.flood_seconds / options.rounds;
  for (int round = 0; round < options.rounds; ++round) {
    FloodSlice(daemon, fds, echoes, base, slice, options.window, &capwap);
    FloodSlice(raw, raw_fds, echoes, raw_port, slice, options.window, &ceiling);
  }
  long rss_kb = PeakRssKb(daemon);
  for (int fd : fds) close(fd);
  for (int fd : raw_fds) close(fd);

  printf("window %d, %d rounds of %.2f s per side, load average %s\n", options.window,
         options.rounds, slice, LoadAverage().c_str());
  printf("capwap Echo:   %10.0f round trips/s  p50 %7.1f us  p99 %7.1f us  CPU %5.2f us/echo"
         "  (%llu lost)\n",
         capwap.Rate(), capwap.Percentile(0.5), capwap.Percentile(0.99), capwap.CpuUsPerEcho(),
         static_cast<unsigned long long>(capwap.lost));
  printf("raw UDP echo:  %10.0f round trips/s  p50 %7.1f us  p99 %7.1f us  CPU %5.2f us/echo"
         "  (%llu lost)\n",
         ceiling.Rate(), ceiling.Percentile(0.5), ceiling.Percentile(0.99),
         ceiling.CpuUsPerEcho(), static_cast<unsigned long long>(ceiling.lost));
  printf("ratio capwap/raw: %.2f\n", ceiling.Rate() > 0 ? capwap.Rate() / ceiling.Rate() : 0.0);
  // Less sensitive to other load on the machine than the round-trip ratio.
  printf("CPU per Echo capwap/raw: %.2f\n",
         ceiling.CpuUsPerEcho() > 0 ? capwap.CpuUsPerEcho() / ceiling.CpuUsPerEcho() : 0.0);
  printf("daemon CPU during flood: %.2f s of %.2f s (%.0f%%), peak RSS %ld KiB\n",
         capwap.cpu_seconds, capwap.seconds,
         capwap.seconds > 0 ? 100.0 * capwap.cpu_seconds / capwap.seconds : 0.0, rss_kb);

  fleet.Stop();
  Stop(raw);
  Stop(daemon);
  Stop(peers);
  std::filesystem::remove_all(root);
  return running == static_cast<size_t>(options.aps) ? 0 : 2;
}
