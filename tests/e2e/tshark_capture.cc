#include "e2e/tshark_capture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/file_text.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;

bool HaveProgram(const char* name) {
  const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Runs a shell command and returns its standard output (empty on failure).
std::string Capture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace

LoopbackCapture::LoopbackCapture(const std::string& file, uint16_t base) : file_(file) {
  if (!HaveProgram("tshark")) {
    why_ = "tshark is not installed";
    return;
  }
  const std::string log = file + ".log";
  const std::string filter =
      "udp portrange " + std::to_string(base) + "-" + std::to_string(base + 2);
  pid_ = fork();
  if (pid_ == 0) {
    FILE* out = freopen(log.c_str(), "w", stdout);
    FILE* err = freopen(log.c_str(), "a", stderr);
    (void)out;
    (void)err;
    execlp("tshark", "tshark", "-i", "lo", "-f", filter.c_str(), "-w", file_.c_str(), "-q",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  // Started once the log says so.
  for (int i = 0; i < 100; ++i) {
    std::string text = FileText(log);
    if (text.find("Capturing on") != std::string::npos) {
      capturing_ = true;
      std::this_thread::sleep_for(300ms);  // the filter is attached after the line
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      why_ = "tshark cannot capture on lo: " + text;
      return;
    }
    std::this_thread::sleep_for(50ms);
  }
  why_ = "tshark did not start capturing";
}

LoopbackCapture::~LoopbackCapture() { Stop(); }

void LoopbackCapture::Stop() {
  if (pid_ <= 0) return;
  std::this_thread::sleep_for(300ms);  // let the last datagrams reach the file
  kill(pid_, SIGINT);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(50ms);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string LoopbackCapture::Query(uint16_t control_port, const std::string& filter,
                                   const std::string& fields) const {
  std::string from_daemon = "udp.srcport==" + std::to_string(control_port);
  std::string display = filter.empty() ? from_daemon : from_daemon + " && (" + filter + ")";
  std::string cmd = "tshark -r " + file_ + " -d udp.port==" + std::to_string(control_port) +
                    ",capwap -Y '" + display + "'";
  if (!fields.empty()) cmd += " -T fields " + fields;
  return Capture(cmd + " 2>/dev/null");
}

}  // namespace capwap::test
