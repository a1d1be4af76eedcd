#include "e2e/daemon_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "bench/bench_process.h"
#include "platform/paths.h"

namespace capwap::test {
namespace {

std::string BinaryPath() { return std::string(CAPWAP_BINARY_DIR) + "/capwap"; }

// Starts the binary with `args`, its output to the files, after `setup` ran
// in the child.
pid_t Spawn(std::vector<std::string> args, const std::string& out, const std::string& err,
            const std::function<void()>& setup) {
  args.insert(args.begin(), BinaryPath());
  return bench::Spawn(args, out, err, setup);
}

std::string Slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A loopback TCP socket connected to `port`, or -1.
int LoopbackTcp(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
  close(fd);
  return -1;
}

// Reads until `pattern` appears at the end of what was read, or the wait ends.
std::string ReadUntilPrompt(int fd, int timeout_ms) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) {
      if (got.size() >= 2 && (got.ends_with("# ") || got.ends_with("> "))) break;
      continue;
    }
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

}  // namespace

DaemonProcess::DaemonProcess(Options options) : options_(std::move(options)) {
  port_base_ = FreePortBase();
  vty_port_ = bench::FreeTcpPort();
  log_path_ = root_.path() + "/daemon.log";
  if (!options_.config_text.empty()) {
    std::string conf = root_.Path("/etc/config/vela/capwap.conf");
    MakeParentDirs(conf);
    std::ofstream(conf) << options_.config_text;
  }
  Start();
}

void DaemonProcess::Start() {
  std::vector<std::string> args = {"-P", std::to_string(vty_port_)};
  pid_ = Spawn(args, log_path_, log_path_, [&] {
    setenv("CAPWAP_PORT_BASE", std::to_string(port_base_).c_str(), 1);
    setenv("CAPWAP_SECOND_MS", std::to_string(options_.second_ms).c_str(), 1);
  });
}

bool DaemonProcess::Restart() {
  if (pid_ > 0 && StopWith(SIGTERM) != 0) return false;
  Start();
  return WaitReady();
}

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0) StopWith(SIGKILL);
}

bool DaemonProcess::WaitReady() {
  for (int i = 0; i < 300; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    int fd = LoopbackTcp(vty_port_);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int DaemonProcess::StopWith(int signo) {
  if (pid_ <= 0) return -1;
  kill(pid_, signo);
  for (int i = 0; i < 400; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return -1;
}

std::string DaemonProcess::Vty(const std::string& lines) {
  int fd = LoopbackTcp(vty_port_);
  if (fd < 0) return {};
  ReadUntilPrompt(fd, 2000);
  std::string enable = "enable\r\n";
  (void)write(fd, enable.data(), enable.size());
  ReadUntilPrompt(fd, 2000);
  std::string out;
  std::istringstream script(lines);
  for (std::string line; std::getline(script, line);) {
    std::string cmd = line + "\r\n";
    (void)write(fd, cmd.data(), cmd.size());
    out += ReadUntilPrompt(fd, 3000);
  }
  close(fd);
  // Sessions end lines with CR LF, as telnet expects.
  std::erase(out, '\r');
  return out;
}

std::string DaemonProcess::output() const { return Slurp(log_path_); }

int RunCapwap(const std::vector<std::string>& args, std::string* out, std::string* err) {
  TempRoot scratch;
  int status = 0;
  waitpid(Spawn(args, scratch.path() + "/out", scratch.path() + "/err", [] {}), &status, 0);
  *out = Slurp(scratch.path() + "/out");
  *err = Slurp(scratch.path() + "/err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool UdpPortBound(uint16_t port, bool ipv6) {
  std::ifstream in(ipv6 ? "/proc/net/udp6" : "/proc/net/udp");
  std::string line;
  std::getline(in, line);  // header
  char wanted[8];
  snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local.size() >= 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
  }
  return false;
}

}  // namespace capwap::test
