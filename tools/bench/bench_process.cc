#include "bench_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace capwap::bench {

std::string SiblingPath(const char* argv0, const std::string& relative) {
  std::filesystem::path self = std::filesystem::absolute(argv0).parent_path();
  return (self / relative).lexically_normal().string();
}

namespace {
bool UdpAndTcpBindable(uint16_t port) {
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in sa{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (fd >= 0) close(fd);
    if (!ok) return false;
  }
  return true;
}
}  // namespace

uint16_t FreePortBase() {
  std::mt19937 gen(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    const auto base = static_cast<uint16_t>(std::uniform_int_distribution<int>(20000, 60000)(gen));
    if (UdpAndTcpBindable(base) && UdpAndTcpBindable(base + 1) && UdpAndTcpBindable(base + 2)) return base;
  }
  return 0;
}

uint16_t FreeTcpPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof sa;
  bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(fd);
  return ntohs(sa.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            const std::function<void()>& in_child) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), STDOUT_FILENO);
  dup2(open((err.empty() ? out : err).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), STDERR_FILENO);
  if (in_child) in_child();
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace capwap::bench
