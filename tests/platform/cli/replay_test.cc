// Configuration replay, node writers and their order, "write memory" and the
// start of the configuration at boot.
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cli_fixture.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace capwap::test {
namespace {

constexpr int kModelNode = 110;

// A small stand-in for a daemon module: custom models with a radio count
// and one daemon-wide switch, written back by two writers.
std::map<std::string, int>& Models() {
  static std::map<std::string, int> models;
  return models;
}
bool& AutoAp() {
  static bool on = false;
  return on;
}

int EnterModel(vty* v, const CliArgs& args) {
  Models().try_emplace(args.Str("name"), 0);
  v->index = args.Str("name");
  v->node = kModelNode;
  return CLI_SUCCESS;
}

int SetRadioCount(vty* v, const CliArgs& args) {
  Calls().push_back(RecordedCall{1, args, v->node, v->privilege, v->replaying});
  Models()[std::any_cast<std::string>(v->index)] = static_cast<int>(*args.U32("count"));
  return CLI_SUCCESS;
}

int Refuse(vty* v, const CliArgs&) {
  vty_out(v, "The input Ap Model is used, please first delete Ap.\n");
  return CLI_WARNING;
}

int SetAutoAp(vty*, const CliArgs& args) {
  AutoAp() = args.Str("state") == "enable";
  return CLI_SUCCESS;
}

int WriteModels(vty* v) {
  for (const auto& [name, count] : Models()) {
    vty_out(v, "wlan ap-model %s\n", name.c_str());
    if (count) vty_out(v, " radio-count %d\n", count);
  }
  return 0;
}

int WriteSwitches(vty* v) {
  if (AutoAp()) vty_out(v, "wlan auto-ap enable\n");
  vty_out(v, "!\n");
  return 0;
}

template <int N>
int WriteNumber(vty* v) {
  vty_out(v, "%d\n", N);
  return 0;
}

class CliReplay : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Models().clear();
    AutoAp() = false;
    InstallModule();
  }
  void TearDown() override {
    Models().clear();
    CliTest::TearDown();
  }
  void InstallModule() {
    cli_install_node(ctx(), kModelNode, "config-ap-model", CONFIG_NODE);
    cli_install_default(ctx(), kModelNode);
    Install(CONFIG_NODE, "wlan ap-model WORD", {"name"}, EnterModel);
    Install(CONFIG_NODE, "wlan auto-ap (enable|disable)", {"state"}, SetAutoAp);
    Install(kModelNode, "radio-count <1-4>", {"count"}, SetRadioCount);
    Install(kModelNode, "refuse", {}, Refuse);
    cli_install_config(ctx(), kModelNode, WriteModels, 1);
    cli_install_config(ctx(), 108, WriteSwitches, 0);
  }
  std::string WriteFile(const std::string& abs, const std::string& text) {
    std::string path = lab_.root().Path(abs);
    EXPECT_TRUE(MakeParentDirs(path));
    std::ofstream(path) << text;
    return path;
  }
};

TEST_F(CliReplay, BadLinesAreReportedAndSkippedTheRestApplies) {
  const std::string text =
      "! written by hand\n"
      "wlan ap-model a\n"
      " radio-count 2\n"
      "\n"
      " bogus line here\n"
      " radio-count 3\r\n"
      "wlan ap-model b\n"
      "\t radio-count 4\n"
      " refuse\n"
      "wlan auto-ap enable\n"
      " radio-count 1\n"
      "wlan ap-model c\n"
      "  radio-count 9\n"
      " wlan\n"
      "   !  indented comment\n"
      "wlan ap-model d";
  LogCapture log;
  EXPECT_EQ(cli_replay_text(ctx(), text, "test.conf"), 5);
  EXPECT_EQ(Models(), (std::map<std::string, int>{{"a", 3}, {"b", 4}, {"c", 0}, {"d", 0}}));
  EXPECT_TRUE(AutoAp());
  EXPECT_TRUE(log.Contains("test.conf:5: % Unknown command: bogus line here")) << log.text();
  EXPECT_TRUE(
      log.Contains("test.conf:9: The input Ap Model is used, please first delete Ap.: refuse"))
      << log.text();
  EXPECT_TRUE(log.Contains("test.conf:11: % Unknown command: radio-count 1")) << log.text();
  EXPECT_TRUE(log.Contains("test.conf:13: % Unknown command: radio-count 9")) << log.text();
  EXPECT_TRUE(log.Contains("test.conf:14: % Incomplete command: wlan")) << log.text();
  ASSERT_EQ(Calls().size(), 3u);
  for (const auto& call : Calls()) {
    EXPECT_TRUE(call.replaying);
    EXPECT_EQ(call.privilege, kPrivilegeAdmin);
    EXPECT_EQ(call.node, kModelNode);
  }
}

TEST_F(CliReplay, StaysInConfigurationModeWhateverALineDoes) {
  const std::string text =
      "end\n"
      "wlan ap-model a\n"
      "exit\n"
      "exit\n"
      "disable\n"
      "wlan ap-model b\n"
      " radio-count 2\n";
  EXPECT_EQ(cli_replay_text(ctx(), text, "nav.conf"), 1);  // "disable" exists only in EXEC_NODE
  EXPECT_EQ(Models(), (std::map<std::string, int>{{"a", 0}, {"b", 2}}));
}

TEST_F(CliReplay, WritersRunInTheirOrder) {
  cli_install_config(ctx(), 120, WriteNumber<120>, 7);
  cli_install_config(ctx(), 100, WriteNumber<100>, 4);
  cli_install_config(ctx(), 7, WriteNumber<7>, 7);
  cli_install_config(ctx(), 109, WriteNumber<109>, 5);
  cli_install_config(ctx(), 104, WriteNumber<104>, 3);
  cli_install_config(ctx(), 131, WriteNumber<131>, 2);
  cli_install_config(ctx(), 108, WriteNumber<108>, 0);
  cli_install_config(ctx(), kModelNode, WriteNumber<110>, 1);
  EXPECT_EQ(cli_running_config(ctx()), "108\n110\n131\n104\n100\n109\n7\n120\n");
  auto v = vty_new_internal(ctx(), EXEC_NODE);
  EXPECT_EQ(Run(v.get(), "show running-config"), "108\n110\n131\n104\n100\n109\n7\n120\n");
}

TEST_F(CliReplay, RunningConfigReplaysToTheSameText) {
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  for (const char* line : {"wlan ap-model zeta", "radio-count 2", "exit", "wlan auto-ap enable",
                           "wlan ap-model alpha", "exit", "wlan ap-model beta", "radio-count 4"}) {
    EXPECT_EQ(Run(v.get(), line), "") << line;
  }
  const std::string first = cli_running_config(ctx());
  EXPECT_EQ(first,
            "wlan auto-ap enable\n!\n"
            "wlan ap-model alpha\n"
            "wlan ap-model beta\n radio-count 4\n"
            "wlan ap-model zeta\n radio-count 2\n");

  Models().clear();
  AutoAp() = false;
  host_vty_init(ctx());
  InstallModule();
  EXPECT_EQ(cli_replay_text(ctx(), first, "running"), 0);
  EXPECT_EQ(cli_running_config(ctx()), first);
}

TEST_F(CliReplay, ConfigStartReplaysTheFileThenServes) {
  std::string path = WriteFile("/etc/test/capwap.conf", "wlan ap-model a\n radio-count 2\n");
  EXPECT_FALSE(lib_check_if_start_complete());
  ASSERT_EQ(host_config_start(ctx(), path.c_str(), 0), 0);
  EXPECT_TRUE(lib_check_if_start_complete());
  EXPECT_EQ(host_config_file(ctx()), path);
  EXPECT_NE(host_vty_port(ctx()), 0);
  EXPECT_EQ(Models(), (std::map<std::string, int>{{"a", 2}}));
}

TEST_F(CliReplay, MissingFileIsAnEmptyConfiguration) {
  LogCapture log;
  ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
  EXPECT_TRUE(lib_check_if_start_complete());
  EXPECT_EQ(host_config_file(ctx()), lab_.root().Path("/etc/config/vela/capwap.conf"));
  EXPECT_EQ(host_config_file(ctx()), host_default_config_file());
  EXPECT_TRUE(Models().empty());
  EXPECT_TRUE(log.Contains("not found")) << log.text();
}

TEST_F(CliReplay, WriteMemorySavesWhatShowRunningConfigPrints) {
  ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  Run(v.get(), "wlan ap-model m");
  Run(v.get(), "radio-count 3");
  Run(v.get(), "end");
  int rc = -1;
  EXPECT_EQ(Run(v.get(), "write memory", &rc), "[OK]\n");
  EXPECT_EQ(rc, CLI_SUCCESS);
  std::ifstream in(host_config_file(ctx()));
  std::stringstream saved;
  saved << in.rdbuf();
  EXPECT_EQ(saved.str(), "!\nwlan ap-model m\n radio-count 3\n");
  EXPECT_EQ(Run(v.get(), "show running-config"), saved.str());

  Run(v.get(), "conf t");
  Run(v.get(), "wlan ap-model n");
  Run(v.get(), "end");
  EXPECT_EQ(Run(v.get(), "wr"), "[OK]\n");
  std::ifstream again(host_config_file(ctx()));
  std::stringstream resaved;
  resaved << again.rdbuf();
  EXPECT_EQ(resaved.str(), "!\nwlan ap-model m\n radio-count 3\nwlan ap-model n\n");
}

TEST_F(CliReplay, WriteFailureIsReported) {
  std::string blocker = WriteFile("/etc/blocker", "not a directory\n");
  std::string path = blocker + "/capwap.conf";
  ASSERT_EQ(host_config_start(ctx(), path.c_str(), 0), 0);
  auto v = vty_new_internal(ctx(), EXEC_NODE);
  int rc = -1;
  std::string out = Run(v.get(), "write memory", &rc);
  EXPECT_EQ(rc, CLI_WARNING);
  EXPECT_EQ(out.rfind("% Failed to save the configuration to " + path + ": ", 0), 0u) << out;
}

TEST_F(CliReplay, FailedWriteKeepsTheOldFile) {
  std::string file = WriteFile("/etc/keep/capwap.conf", "wlan ap-model old\n");
  ASSERT_EQ(host_config_start(ctx(), file.c_str(), 0), 0);
  EXPECT_EQ(Models(), (std::map<std::string, int>{{"old", 0}}));
  // The new text cannot be staged: the staging name is taken by a directory.
  ASSERT_EQ(mkdir((file + ".tmp").c_str(), 0755), 0);
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  Run(v.get(), "wlan ap-model new");
  EXPECT_EQ(Run(v.get(), "end"), kCliUnsavedNotice);
  EXPECT_EQ(Run(v.get(), "write").rfind("% Failed to save the configuration", 0), 0u);
  EXPECT_TRUE(cli_config_unsaved(ctx()));
  std::ifstream in(file);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), "wlan ap-model old\n");
}

}  // namespace
}  // namespace capwap::test
