// The peer simulator answering the controller as WMAC, WRRM and WIDS: in
// process on the daemon's manual-clock loop, and as the peer-sim tool.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/thread.h"
#include "relay/radio_binding.h"
#include "relay/relay_fixture.h"
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

Bytes TlvOf(const RadioBinding& rd) {
  Bytes out(kWmacRdBindBufSize);
  out.resize(EncodeRdBindTlv(rd, out));
  return out;
}

// The three answers arrive at the controller's dispatcher; the radio
// binding module is not part of these tests, so recorders stand in.
class PeerSimTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    const WmacRoute answers[] = {{WmacIn::kGetRdBind, RecordingHandler}, {WmacIn::kWrrmScan, RecordingHandler}, {WmacIn::kWidsCfg, RecordingHandler}};
    ASSERT_EQ(InstallIpcRoutes(answers), 0);
  }
  const Dispatched* Answer(uint32_t type) const {
    for (const Dispatched& d : Recorded()) {
      if (d.head.msg_type == type) return &d;
    }
    return nullptr;
  }
};

TEST_F(PeerSimTest, RadioBindingNotificationIsAnsweredWithBindingAndScanSettings) {
  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(4, ReportedBinding(), 0), 0);
  lab_.Settle();

  const sim::PeerMessage* note = sim_->LastReceived(sim::Peer::kWmac, 3);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->wtp_id, 4u);
  EXPECT_EQ(note->payload, TlvOf(ReportedBinding()));

  const Dispatched* binding = Answer(3);
  ASSERT_NE(binding, nullptr);
  EXPECT_EQ(binding->head.wtp_id, 4u);
  EXPECT_EQ(binding->payload, TlvOf(ReportedBinding())) << "the reported TLVs echoed";
  const Dispatched* scan = Answer(16);
  ASSERT_NE(scan, nullptr);
  EXPECT_EQ(scan->head.wtp_id, 4u);
  EXPECT_EQ(scan->payload, sim::DefaultWrrmScanElements(sim::kDefaultVendorId));
  EXPECT_EQ(Answer(25), nullptr);

  EXPECT_NE(sim_log_.find("WMAC  <- RADIO-BINDING (type 3) wtp 4 len 20"), std::string::npos)
      << sim_log_;
  EXPECT_NE(sim_log_.find("WMAC  -> GET-RDBIND (type 3) wtp 4 len 20"), std::string::npos);
  EXPECT_NE(sim_log_.find("WRRM  -> WRRM-SCAN (type 16) wtp 4"), std::string::npos);
}

TEST_F(PeerSimTest, WidsGetConfigIsAnsweredWithType25) {
  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 9), 0);
  lab_.Settle();
  const Dispatched* config = Answer(25);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->head.wtp_id, 9u);
  EXPECT_EQ(config->payload, sim::DefaultWidsConfigElements(sim::kDefaultVendorId));
  EXPECT_NE(sim_log_.find("WIDS  <- GET-CONFIG (type 0) wtp 9 len 0"), std::string::npos);
}

TEST_F(PeerSimTest, DefaultAnswersAreWellFormedElementLists) {
  for (const Bytes& list : {sim::DefaultWrrmScanElements(7), sim::DefaultWidsConfigElements(7)}) {
    WireReader r(list);
    uint16_t type = 0, len = 0;
    uint32_t vendor = 0;
    ASSERT_TRUE(r.u16(type) && r.u16(len));
    EXPECT_EQ(type, 37) << "a Vendor Specific Payload";
    EXPECT_EQ(len, list.size() - 4);
    ASSERT_TRUE(r.u32(vendor));
    EXPECT_EQ(vendor, 7u);
  }
}

TEST_F(PeerSimTest, ReportsAndNotificationsAreLoggedAndKept) {
  Bytes report = {1, 2, 3, 4};
  ASSERT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(report.data(), report.size(), 3, 1), 0);
  WmacCreateApRecord rec;
  rec.model = "model-x";
  rec.name = "lobby";
  ASSERT_EQ(WMAC_AC_IPC_CreateAP(2, rec), 0);
  lab_.Settle();

  const sim::PeerMessage* wrrm = sim_->LastReceived(sim::Peer::kWrrm, 1);
  ASSERT_NE(wrrm, nullptr);
  EXPECT_EQ(wrrm->wtp_id, 3u);
  EXPECT_EQ(wrrm->radio_id, 1u);
  EXPECT_EQ(wrrm->payload, report);
  EXPECT_NE(sim_log_.find("WRRM  <- AP-REPORT (type 1) wtp 3 radio 1 len 4"), std::string::npos);
  EXPECT_NE(sim_log_.find("WMAC  <- ADD-WTP (type 0) wtp 2 len 72"), std::string::npos);
  EXPECT_TRUE(Recorded().empty()) << "nothing to answer";
}

TEST_F(PeerSimTest, BrokenNotificationStreamIsDroppedAndTheListenerStays) {
  std::string path = RootPath("/tmp/wmac_ac_addr");
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  path.copy(sa.sun_path, sizeof sa.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  Bytes bogus = IpcMessage(3, 1, {}, 5u << 20);
  ASSERT_EQ(send(fd, bogus.data(), bogus.size(), 0), static_cast<ssize_t>(bogus.size()));
  lab_.Settle();
  close(fd);
  EXPECT_NE(sim_log_.find("refused, connection dropped"), std::string::npos);
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWmac, 3), 0u);

  ASSERT_EQ(WMAC_AC_IPC_DeleteAP(5), 0);
  lab_.Settle();
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWmac, 1), 1u);
}

class PeerSimOverrideTest : public PeerSimTest {
 protected:
  void Customize(sim::PeerSimOptions& options) override {
    options.rdbind_override = Bytes{0, 10, 0, 2, 2, 1};
    options.wrrm_scan_elements = {};
  }
};

TEST_F(PeerSimOverrideTest, ConfiguredBindingAndEmptyScanList) {
  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(6, ReportedBinding(), 0), 0);
  lab_.Settle();
  ASSERT_NE(Answer(3), nullptr);
  EXPECT_EQ(Answer(3)->payload, (Bytes{0, 10, 0, 2, 2, 1}));
  ASSERT_NE(Answer(16), nullptr);
  EXPECT_EQ(Answer(16)->head.payload_len, 0u);
  EXPECT_FALSE(Answer(16)->had_payload);
}

class PeerSimSilentTest : public PeerSimTest {
 protected:
  void Customize(sim::PeerSimOptions& options) override {
    options.silent_wmac = true;
    options.silent_wids = true;
  }
};

TEST_F(PeerSimSilentTest, SilentPeersReceiveButNeverAnswer) {
  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(4, ReportedBinding(), 0), 0);
  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 4), 0);
  lab_.Settle();
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWmac, 3), 1u);
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWids, 0), 1u);
  EXPECT_EQ(Answer(3), nullptr);
  EXPECT_EQ(Answer(25), nullptr);
  EXPECT_NE(Answer(16), nullptr) << "WRRM still answers";
}

// Answers wait on the loop's clock, then arrive in two halves 300 ms apart,
// which the AC puts together.
class PeerSimDelayTest : public PeerSimTest {
 protected:
  void Customize(sim::PeerSimOptions& options) override {
    options.delay_ms = 500;
    options.split_ms = 300;
  }
};

TEST_F(PeerSimDelayTest, AnswersWaitOnTheLoopClockAndComeInTwoHalves) {
  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(4, ReportedBinding(), 0), 0);
  lab_.Settle();
  EXPECT_TRUE(Recorded().empty());
  lab_.RunFor(0.4);
  EXPECT_TRUE(Recorded().empty());
  lab_.RunFor(0.1);
  EXPECT_TRUE(Recorded().empty()) << "only the first halves are there";
  lab_.RunFor(0.3);
  ASSERT_EQ(Recorded().size(), 2u);
  ASSERT_NE(Answer(3), nullptr);
  EXPECT_EQ(Answer(3)->payload, TlvOf(ReportedBinding())) << "intact";
  EXPECT_NE(Answer(16), nullptr);
}

// --- The peer-sim tool --------------------------------------------------

const std::string kToolPath = std::string(CAPWAP_BINARY_DIR) + "/tools/peer-sim/peer-sim";

bool ToolBuilt() {
  struct stat st{};
  return stat(kToolPath.c_str(), &st) == 0;
}

TEST(PeerSimToolTest, HelpDescribesTheSwitches) {
  if (!ToolBuilt()) GTEST_SKIP() << "peer-sim not built";
  FILE* out = popen((kToolPath + " --help").c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buf[256];
  while (fgets(buf, sizeof buf, out)) text += buf;
  EXPECT_EQ(pclose(out), 0);
  for (const char* word : {"--silent-wmac", "--silent-wrrm", "--silent-wids", "--delay-ms",
                           "--log-file", "/tmp/wmac_ac_addr", "/tmp/cw_ac_addr"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
  EXPECT_NE(system((kToolPath + " --delay-ms x >/dev/null 2>&1").c_str()), 0);
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
    const WmacRoute answers[] = {{WmacIn::kGetRdBind, RecordingHandler}, {WmacIn::kWrrmScan, RecordingHandler}, {WmacIn::kWidsCfg, RecordingHandler}};
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
  std::vector<std::string> args = {kToolPath, "--log-file", log_path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(posix_spawn(&pid_, kToolPath.c_str(), nullptr, nullptr, argv.data(), environ), 0);

  struct stat st{};
  std::string wids = RootPath("/tmp/wids_ac_addr");
  ASSERT_TRUE(WaitFor([&] { return stat(wids.c_str(), &st) == 0; })) << "tool did not start";

  ASSERT_EQ(WMAC_AC_IPC_NotifyRdBind(2, ReportedBinding(), 0), 0);
  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 2), 0);
  ASSERT_TRUE(WaitFor([] { return Recorded().size() >= 3; }));
  std::vector<uint32_t> types;
  for (const Dispatched& d : Recorded()) {
    types.push_back(d.head.msg_type);
    EXPECT_EQ(d.head.wtp_id, 2u);
  }
  std::sort(types.begin(), types.end());
  EXPECT_EQ(types, (std::vector<uint32_t>{3, 16, 25}));

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
