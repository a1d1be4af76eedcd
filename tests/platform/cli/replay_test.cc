// Configuration replay, node writers and their order, "write memory" and the
// start of the configuration at boot.
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cli_fixture.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/file_text.h"

namespace capwap::test {
namespace {

constexpr int kModelNode = 110;

// A small stand-in for a daemon module: models with a radio count and one
// daemon-wide switch, written back by two writers.
std::map<std::string, int> models;
bool auto_ap = false;

int EnterModel(vty* v, const CliArgs& args) {
  models.try_emplace(args.Str("name"), 0);
  v->index = args.Str("name");
  v->node = kModelNode;
  return CLI_SUCCESS;
}
int SetRadioCount(vty* v, const CliArgs& args) {
  Record<1>(v, args);
  models[std::any_cast<std::string>(v->index)] = static_cast<int>(*args.U32("count"));
  return CLI_SUCCESS;
}
int Refuse(vty* v, const CliArgs&) {
  vty_out(v, "The input Ap Model is used, please first delete Ap.\n");
  return CLI_WARNING;
}
int SetAutoAp(vty*, const CliArgs& args) {
  auto_ap = args.Str("state") == "enable";
  return CLI_SUCCESS;
}
int WriteModels(vty* v) {
  for (const auto& [name, count] : models) {
    vty_out(v, "wlan ap-model %s\n", name.c_str());
    if (count) vty_out(v, " radio-count %d\n", count);
  }
  return 0;
}
int WriteSwitches(vty* v) {
  vty_out(v, auto_ap ? "wlan auto-ap enable\n!\n" : "!\n");
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
    models.clear();
    auto_ap = false;
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
  LogCapture log;
};

TEST_F(CliReplay, BadLinesAreReportedAndSkippedTheRestApplies) {
  const std::string text =
      "! written by hand\nwlan ap-model a\n radio-count 2\n\n bogus line here\n radio-count 3\r\n"
      "wlan ap-model b\n\t radio-count 4\n refuse\nwlan auto-ap enable\n radio-count 1\n"
      "wlan ap-model c\n  radio-count 9\n wlan\n   !  indented comment\nend\nexit\ndisable\nwlan "
      "ap-model d";
  EXPECT_EQ(cli_replay_text(ctx(), text, "test.conf"), 6);
  EXPECT_EQ(models, (std::map<std::string, int>{{"a", 3}, {"b", 4}, {"c", 0}, {"d", 0}}));
  EXPECT_TRUE(auto_ap);
  for (const char* line :
       {"test.conf:5: % Unknown command: bogus line here",
        "test.conf:9: The input Ap Model is used, please first delete Ap.: refuse",
        "test.conf:11: % Unknown command: radio-count 1",  // left the model node
        "test.conf:13: % Unknown command: radio-count 9",
        "test.conf:14: % Incomplete command: wlan",
        "test.conf:18: % Unknown command: disable"}) {  // replay stays in config mode
    EXPECT_TRUE(log.Contains(line)) << line << "\n" << log.text();
  }
  ASSERT_EQ(calls.size(), 3u);
  for (const auto& call : calls) {
    EXPECT_TRUE(call.replaying && call.privilege == kPrivilegeAdmin && call.node == kModelNode);
  }
}

TEST_F(CliReplay, WritersRunInTheirOrderAndTheirTextReplaysToItself) {
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  for (const char* line : {"wlan ap-model zeta", "radio-count 2", "exit", "wlan auto-ap enable",
                           "wlan ap-model alpha"}) {
    EXPECT_EQ(Run(v.get(), line), "") << line;
  }
  const std::string first = cli_running_config(ctx());
  EXPECT_EQ(first,
            "wlan auto-ap enable\n!\nwlan ap-model alpha\nwlan ap-model zeta\n radio-count 2\n");
  models.clear();
  auto_ap = false;
  EXPECT_EQ(cli_replay_text(ctx(), first, "running"), 0);
  EXPECT_EQ(cli_running_config(ctx()), first);
  host_vty_init(ctx());
  for (auto [node, writer, order] : {std::tuple{120, &WriteNumber<120>, 7},
                                     {100, &WriteNumber<100>, 4},
                                     {7, &WriteNumber<7>, 7},
                                     {104, &WriteNumber<104>, 3},
                                     {108, &WriteNumber<108>, 0}}) {
    cli_install_config(ctx(), node, writer, order);
  }
  EXPECT_EQ(cli_running_config(ctx()), "108\n104\n100\n7\n120\n") << "by order, then node";
}

TEST_F(CliReplay, BootReplaysTheFileAndWriteMemorySavesWhatIsShown) {
  EXPECT_FALSE(lib_check_if_start_complete());
  ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
  EXPECT_TRUE(lib_check_if_start_complete());
  EXPECT_EQ(host_config_file(ctx()), lab_.root().Path("/etc/config/vela/capwap.conf"));
  EXPECT_TRUE(log.Contains("not found")) << "a missing file is an empty configuration";
  EXPECT_NE(host_vty_port(ctx()), 0);

  std::string file = WriteFile("/etc/keep/capwap.conf", "wlan ap-model old\n radio-count 2\n");
  ASSERT_EQ(host_config_start(ctx(), file.c_str(), 0), 0);
  EXPECT_EQ(models, (std::map<std::string, int>{{"old", 2}}));
  auto v = vty_new_internal(ctx(), CONFIG_NODE);
  Run(v.get(), "wlan ap-model m");
  Run(v.get(), "end");
  int rc = -1;
  EXPECT_EQ(Run(v.get(), "write memory", &rc), "[OK]\n");
  EXPECT_EQ(rc, CLI_SUCCESS);
  EXPECT_EQ(FileText(file), "!\nwlan ap-model m\nwlan ap-model old\n radio-count 2\n");
  EXPECT_EQ(Run(v.get(), "show running-config"), FileText(file));

  // The new text cannot be staged: the old file stays.
  ASSERT_EQ(mkdir((file + ".tmp").c_str(), 0755), 0);
  EXPECT_EQ(
      Run(v.get(), "wr", &rc).rfind("% Failed to save the configuration to " + file + ": ", 0), 0u);
  EXPECT_EQ(rc, CLI_WARNING);
  EXPECT_EQ(FileText(file), "!\nwlan ap-model m\nwlan ap-model old\n radio-count 2\n");
}

}  // namespace
}  // namespace capwap::test
