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

uint16_t FreePortBase() {
  std::mt19937 gen(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    uint16_t base = static_cast<uint16_t>(std::uniform_int_distribution<int>(20000, 60000)(gen));
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
      int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(static_cast<uint16_t>(base + i));
      ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
      close(fd);
    }
    if (ok) return base;
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

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
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
