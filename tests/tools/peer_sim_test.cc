// The peer-sim tool's smoke test: in its own process it answers the
// controller as WMAC, WRRM and WIDS and logs what it received.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/thread.h"
#include "relay/radio_binding.h"
#include "support/controller.h"
#include "relay/side_channels.h"

extern char** environ;

namespace capwap::test {
namespace {

// A radio binding as the AP reported it: radio 1 with TLVs 1 and 10.
RadioBinding ReportedBinding() {
  RadioBinding rd;
  rd.radios[0].radio_id = 1;
  rd.radios[0].sub[1] = Bytes{1, 2, 2, 1, 2, 0, 0, 0, 0, 0};
  rd.radios[0].sub[10] = Bytes{1, 1};
  return rd;
}

const std::string kToolPath = std::string(CAPWAP_BINARY_DIR) + "/tools/peer-sim/peer-sim";

bool ToolBuilt() {
  struct stat st{};
  return stat(kToolPath.c_str(), &st) == 0;
}

// The tool in its own process against the controller's listener in this
// one: waits are bounded and end as soon as the answers are in.
class PeerSimProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolBuilt()) GTEST_SKIP() << "peer-sim not built";
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    ASSERT_EQ(AC_IPCInit(), 0);
    const WmacRoute answers[] = {{WmacIn::kGetRdBind, RecordingHandler}, {WmacIn::kWrrmScan, RecordingHandler},
                                 {WmacIn::kWidsCfg, RecordingHandler}, {WmacIn::kDelWlan, RecordingHandler}};
    ASSERT_EQ(InstallIpcRoutes(answers), 0);
    Recorded().clear();
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    Recorded().clear();
  }
  bool WaitFor(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      thread_master_poll(lab_.master(), 20);
    }
    return true;
  }

  DaemonContext lab_;
  pid_t pid_ = -1;
};

TEST_F(PeerSimProcessTest, ToolAnswersTheController) {
  std::string log_path = lab_.root().Path("/peer-sim.log");
  std::vector<std::string> args = {kToolPath, "--log-file", log_path, "--send", "del-wlan 2 1 3"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(posix_spawn(&pid_, kToolPath.c_str(), nullptr, nullptr, argv.data(), environ), 0);

  struct stat st{};
  std::string wids = RootPath("/tmp/wids_ac_addr");
  ASSERT_TRUE(WaitFor([&] { return stat(wids.c_str(), &st) == 0; })) << "tool did not start";

  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(2, ReportedBinding(), 0), 0);
  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 2), 0);
  ASSERT_TRUE(WaitFor([] { return Recorded().size() >= 4; }));
  std::vector<uint32_t> types;
  for (const Dispatched& d : Recorded()) {
    types.push_back(d.head.msg_type);
    EXPECT_EQ(d.head.wtp_id, 2u);
  }
  std::sort(types.begin(), types.end());
  EXPECT_EQ(types, (std::vector<uint32_t>{3, 5, 16, 25})) << "the answers and the DEL-WLAN it was given";

  kill(pid_, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid_, &status, 0), pid_);
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(log_path);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("WMAC  <- RADIO-BINDING (type 3) wtp 2 len 20"), std::string::npos)
      << log.str();
  EXPECT_NE(log.str().find("WIDS  <- GET-CONFIG (type 0) wtp 2 len 0"), std::string::npos);
  EXPECT_NE(log.str().find("peer-sim stopped"), std::string::npos);
}

}  // namespace
}  // namespace capwap::test
