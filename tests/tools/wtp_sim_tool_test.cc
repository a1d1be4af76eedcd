// The wtp-sim executable against the scripted AC: a child process on a
// shortened second (CAPWAP_SECOND_MS=10), so a "40-second" run takes
// 0.4 s of real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "support/lab.h"
#include "tools/fake_ac.h"

namespace capwap::simtest {
namespace {

const std::string kTool = std::string(CAPWAP_BINARY_DIR) + "/tools/wtp-sim/wtp-sim";

class WtpSimTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << kTool << " is not built";
    master_ = thread_master_create();
    const uint16_t base = test::FreePortBase();
    ASSERT_NE(base, 0);
    ac_ = std::make_unique<FakeAc>(master_.get(), false, base, static_cast<uint16_t>(base + 1));
    ASSERT_TRUE(ac_->ok());
    log_ = root_.Path("/wtp-sim.log");
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      setenv("CAPWAP_SECOND_MS", "10", 1);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kTool.c_str(), argv.data());
      _exit(127);
    }
  }
  // Serves the AC until the child exits or `until` holds; the exit status,
  // or -1 when the child is still running.
  int Serve(const std::function<bool()>& until = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      thread_master_poll(master_.get(), 20);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (until && until()) return -1;
    }
    return -1;
  }
  std::vector<std::string> LogLines() const {
    std::ifstream in(log_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> args = {"--ac", "127.0.0.1", "--port-base",
                                     std::to_string(ac_->control_port()), "--log-file", log_};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  test::TempRoot root_;
  ThreadMasterPtr master_;
  std::unique_ptr<FakeAc> ac_;
  std::string log_;
  pid_t pid_ = -1;
};

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

TEST_F(WtpSimTool, RunsForItsDurationAndPrintsTheCounters) {
  Spawn(Args({"--count", "2", "--duration", "40"}));
  ASSERT_EQ(Serve(), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(Contains(lines, "simap-1 02:00:00:00:01:01 Run echo 10 s"));
  EXPECT_TRUE(Contains(lines, "simap-2 02:00:00:00:01:02 Run echo 10 s"));
  EXPECT_EQ(lines.back().rfind("aps 2: Run 2 | ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(" errors=0"), std::string::npos) << lines.back();
  EXPECT_GE(ac_->CountReceived(CW_MSG_ECHO_REQ), 4u);
}

TEST_F(WtpSimTool, StopsOnSigterm) {
  Spawn(Args({"--count", "3", "--silent-after-run", "echo"}));
  ASSERT_EQ(Serve([this] {
              const std::vector<std::string> lines = LogLines();
              return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                       return l.find(" Run ") != std::string::npos;
                     }) == 3;
            }),
            -1);
  ASSERT_GT(pid_, 0);
  kill(pid_, SIGTERM);
  EXPECT_EQ(Serve(), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("aps 3: Run 3 | ", 0), 0u) << lines.back();
  EXPECT_EQ(ac_->CountReceived(CW_MSG_ECHO_REQ), 0u);
}

TEST_F(WtpSimTool, RefusesABadCommandLine) {
  Spawn({"--ac", "127.0.0.1", "--count", "0"});
  EXPECT_EQ(Serve(), 2);
  Spawn({"--help"});
  EXPECT_EQ(Serve(), 0);
  Spawn({"--ac", "not-an-address", "--duration", "1"});
  EXPECT_EQ(Serve(), 1);
}

}  // namespace
}  // namespace capwap::simtest
