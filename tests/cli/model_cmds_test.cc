// The ap-model commands through the CLI on a daemon context with the
// database on disk, and the node writer with its replay.
#include <gtest/gtest.h>

#include <memory>

#include "cli/cli_init.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/cli.h"
#include "platform/cli_table.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "support/lab.h"

namespace {

using capwap::test::DaemonContext;

constexpr DbTable kTable = kDbApModel;

void InstallModelCli(lib_globals* ctx) {
  host_vty_init(ctx);
  capwap_cli_init(ctx);
  CW_ApModel_Init();
}

class ApModelCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallModelCli(lab_->ctx());
    vty_ = vty_new_internal(lab_->ctx(), CONFIG_NODE);
  }

  // Runs a line and returns what it printed.
  std::string Run(const std::string& line, int expect = CLI_SUCCESS) {
    vty_->out.clear();
    EXPECT_EQ(cli_execute(lab_->ctx(), vty_.get(), line), expect) << line << ": " << vty_->out;
    return vty_->out;
  }
  // What the model writer prints.
  std::string Written() {
    auto v = vty_new_internal(lab_->ctx(), CONFIG_NODE);
    capwap_model_write(v.get());
    return v->out;
  }
  CW_APMODEL Stored(const std::string& name) {
    auto m = ApModelFetch(name);
    EXPECT_TRUE(m) << name;
    return m.value_or(CW_APMODEL{});
  }
  void MarkInUse(const std::string& name) {
    CW_APMODEL m = Stored(name);
    m.in_use = 1;
    ASSERT_EQ(ApModelStore(m), 0);
  }

  std::unique_ptr<DaemonContext> lab_ = std::make_unique<DaemonContext>();
  std::unique_ptr<vty> vty_;
};

TEST_F(ApModelCommandTest, DefiningACustomModelAndWritingItBack) {
  EXPECT_EQ(Run("wlan ap-model Lab-Two"), "");
  EXPECT_EQ(vty_->node, kApModelNode);
  EXPECT_EQ(cli_prompt(lab_->ctx(), vty_.get()), "capwap(config-ap-model)# ");
  const auto* context = std::any_cast<CW_APMODEL>(&vty_->index);
  ASSERT_TRUE(context);
  EXPECT_EQ(context->name, "lab-two");

  Run("radio-count 2");
  Run("vender-id 77");
  Run("radio 1 mode 11bgn max-power 20");
  Run("radio 2 mode 11axa max-power 33");
  Run("radio 3 mode 11ac max-power 20");  // beyond the count: kept
  CW_APMODEL m = Stored("lab-two");
  EXPECT_EQ(m.radio_count, 2);
  EXPECT_EQ(m.vendor_id, 77u);
  EXPECT_EQ(std::vector<int>({m.radios[0].modes, m.radios[0].max_power, m.radios[0].attr_byte,
                              m.radios[1].modes, m.radios[1].max_power, m.radios[2].modes}),
            std::vector<int>({13, 20, 2, 58, 33, 26}));
  EXPECT_EQ(m.in_use + m.lan_ports, 0);
  EXPECT_TRUE(CW_IsValidModel("lab-two", 1)) << "radio 3 beyond the count does no harm";

  // Entering again picks up the stored record.
  Run("exit");
  EXPECT_EQ(vty_->node, CONFIG_NODE);
  Run("wlan ap-model LAB-TWO");
  EXPECT_EQ(std::any_cast<CW_APMODEL>(vty_->index).radio_count, 2);

  // The writer prints custom models only, radios up to the count.
  Run("wlan ap-model bare");
  ASSERT_TRUE(CW_IsValidModel("ia-220", 1));  // a built-in stored again, as AP creation does
  EXPECT_EQ(Written(),
            "wlan ap-model bare\n"
            "wlan ap-model lab-two\n"
            " radio-count 2\n"
            " vender-id 77\n"
            " radio 1 mode 11bgn max-power 20\n"
            " radio 2 mode 11axa max-power 33\n");
}

TEST_F(ApModelCommandTest, ModeKeywordsAndVendorSaturation) {
  Run("wlan ap-model modes");
  const std::pair<const char*, uint8_t> keywords[] = {
      {"11a", 2},   {"11b", 1},   {"11g", 4},    {"11an", 10},  {"11gn", 12},
      {"11bgn", 13}, {"11ac", 26}, {"11axg", 45}, {"11axa", 58},
  };
  for (const auto& [keyword, value] : keywords) {
    Run(std::string("radio 4 mode ") + keyword + " max-power 5");
    EXPECT_EQ(Stored("modes").radios[3].modes, value) << keyword;
  }
  for (const auto& [given, stored] : {std::pair{"2147483647", 2147483647u},
                                      {"4294967295", 2147483647u}, {"0", 0u}}) {
    Run(std::string("vender-id ") + given);
    EXPECT_EQ(Stored("modes").vendor_id, stored) << given;
  }
  Run("radio-count 5", CLI_ERR_NO_MATCH);
  Run("radio 1 mode 11a max-power 34", CLI_ERR_NO_MATCH);
  EXPECT_EQ(Stored("modes").radio_count, 0) << "out-of-range arguments never reach the handler";
}

TEST_F(ApModelCommandTest, RefusalsWithTheirMessages) {
  EXPECT_EQ(Run("wlan ap-model IA-220", CLI_WARNING),
            "The input AP Model is not Custom-ap, please check ApModel.\n");
  EXPECT_EQ(vty_->node, CONFIG_NODE);
  EXPECT_EQ(Stored("ia-220").radio_count, 2) << "the built-in record is untouched";

  EXPECT_EQ(Run("wlan ap-model " + std::string(32, 'n'), CLI_WARNING),
            "The APModel is too long . \n");
  EXPECT_EQ(capwap::DbmCount(kTable), 55u);
  Run("wlan ap-model " + std::string(31, 'n'));
  EXPECT_EQ(vty_->node, kApModelNode);
  Run("exit");

  EXPECT_EQ(Run("no wlan ap-model nothere", CLI_WARNING),
            "The input AP Model is not exist, please check ApModel.\n");
  EXPECT_EQ(Run("no wlan ap-model " + std::string(40, 'n'), CLI_WARNING),
            "The input AP Model is not exist, please check ApModel.\n");
}

TEST_F(ApModelCommandTest, ModelInUseCannotChange) {
  Run("wlan ap-model busy");
  Run("radio-count 1");
  Run("radio 1 mode 11g max-power 17");
  ASSERT_TRUE(CW_IsValidModel("busy", 1));
  const CW_APMODEL before = Stored("busy");

  const std::string used = "The input Ap Model is used, please first delete Ap.\n";
  EXPECT_EQ(Run("radio-count 2", CLI_WARNING), used);
  EXPECT_EQ(Run("vender-id 5", CLI_WARNING), used);
  EXPECT_EQ(Run("radio 1 mode 11a max-power 30", CLI_WARNING), used);
  Run("exit");
  EXPECT_EQ(Run("no wlan ap-model BUSY", CLI_WARNING),
            "The input AP Model is used, can not be delete .\n");
  CW_APMODEL after = Stored("busy");
  EXPECT_EQ(after.radio_count + after.vendor_id, before.radio_count + before.vendor_id);
  EXPECT_EQ(after.radios[0].max_power, 17);

  ASSERT_TRUE(CW_IsValidModel("busy", 0));
  Run("no wlan ap-model BUSY");
  EXPECT_FALSE(ApModelFetch("busy"));
  EXPECT_EQ(CW_AC_IsValidWTPModel("busy"), 0);
}

// A second session changes the model, then deletes it under the first.
TEST_F(ApModelCommandTest, TwoSessionsOnOneModel) {
  Run("wlan ap-model shared");
  auto other = vty_new_internal(lab_->ctx(), CONFIG_NODE);
  for (const char* line : {"wlan ap-model shared", "radio-count 3", "exit"}) {
    ASSERT_EQ(cli_execute(lab_->ctx(), other.get(), line), CLI_SUCCESS);
  }
  Run("vender-id 12");
  CW_APMODEL m = Stored("shared");
  EXPECT_EQ(m.radio_count, 3) << "both changes kept";
  EXPECT_EQ(m.vendor_id, 12u);

  ASSERT_EQ(cli_execute(lab_->ctx(), other.get(), "no wlan ap-model shared"), CLI_SUCCESS);
  EXPECT_EQ(Run("radio-count 2", CLI_WARNING),
            "The ApModel has not been created, please first create apModel!\n");
  EXPECT_EQ(Run("vender-id 9", CLI_WARNING),
            "The ApModel has  t been created, please first create apModel!\n");
  EXPECT_FALSE(ApModelFetch("shared")) << "a refused change stores nothing";
}

TEST_F(ApModelCommandTest, BuiltInRecordsMayBeDeleted) {
  Run("no wlan ap-model OA-180");
  EXPECT_EQ(CW_AC_IsValidWTPModel("oa-180"), 0);
  EXPECT_TRUE(CW_GetApModelInfo_ByModel("oa-180")) << "memory keeps it until the next start";
  CW_ApModel_Init();
  EXPECT_EQ(CW_AC_IsValidWTPModel("oa-180"), 1);
}

TEST_F(ApModelCommandTest, StoreFailures) {
  capwap::FailNext(capwap::FailFamily::kDbmStore, 1);
  EXPECT_EQ(Run("wlan ap-model nostore", CLI_WARNING), "Failed to allocate AP model memory.\n");
  EXPECT_EQ(vty_->node, CONFIG_NODE);
  EXPECT_FALSE(ApModelFetch("nostore"));

  Run("wlan ap-model nostore");
  Run("radio-count 2");
  capwap::FailNext(capwap::FailFamily::kDbmStore, 1);
  Run("radio-count 4");
  EXPECT_EQ(Stored("nostore").radio_count, 2);
  EXPECT_EQ(std::any_cast<CW_APMODEL>(vty_->index).radio_count, 2)
      << "the context follows what is stored";
}

TEST_F(ApModelCommandTest, DamagedRecordIsReplacedOrRemoved) {
  auto key = ApModelKey("junk");
  const uint8_t junk[7] = {1, 2, 3, 4, 5, 6, 7};
  ASSERT_EQ(DBM_Store(kTable, key->data(), key->size(), junk, sizeof junk), 0);
  g_ulCwDebugBitmap = kDbgAll;
  capwap::LogCapture log;
  EXPECT_EQ(Written(), "");
  EXPECT_TRUE(log.Contains("damaged AP model record (7 bytes)")) << log.text();
  Run("no wlan ap-model junk");
  EXPECT_FALSE(DBM_Fetch(kTable, key->data(), key->size()));

  ASSERT_EQ(DBM_Store(kTable, key->data(), key->size(), junk, sizeof junk), 0);
  Run("wlan ap-model junk");
  EXPECT_EQ(Stored("junk").name, "junk");
}

TEST_F(ApModelCommandTest, WriterMapsModeBytesBack) {
  const std::pair<uint8_t, const char*> cases[] = {
      {2, "11a"},     {1, "11b"},     {4, "11g"},     {10, "11an"},  {12, "11gn"},
      {13, "11bgn"},  {26, "11ac"},   {45, "11axg"},  {58, "11axa"}, {34, "11axa"},
      {36, "11axg"},  {63, "11axa"},  {32, nullptr},  {40, nullptr}, {18, "11ac"},
      {3, "11a"},     {5, "11g"},     {9, "11b"},     {8, nullptr},  {16, nullptr},
      {0, nullptr},   {14, "11an"},   {17, "11b"},
  };
  for (const auto& [modes, keyword] : cases) {
    CW_APMODEL m;
    m.name = "m";
    m.radio_count = 1;
    m.radios[0] = {modes, 12, 2, 0};
    ASSERT_EQ(ApModelStore(m), 0);
    std::string want = "wlan ap-model m\n radio-count 1\n";
    if (keyword) want += std::string(" radio 1 mode ") + keyword + " max-power 12\n";
    EXPECT_EQ(Written(), want) << "mode byte " << int(modes);
  }
}

// The daemon's tables validate together (no command form twice in a node)
// and all install.
TEST(DaemonCommandTables, ValidateTogetherAndInstall) {
  std::vector<CliCommand> all;
  CW_ApModel_Init();  // the AP declaration names the built-in models
  for (auto table : {capwap_model_commands(), capwap_debug_commands(), capwap_show_commands(),
                     capwap_oper_commands(), capwap_vap_commands(), capwap_ap_commands(),
                     capwap_apgroup_commands(), capwap_switch_commands()}) {
    all.insert(all.end(), table.begin(), table.end());
  }
  EXPECT_EQ(cli_validate_table(all), std::vector<std::string>{});
  DaemonContext lab;
  host_vty_init(lab.ctx());
  g_ulCwDebugBitmap = kDbgAll;
  capwap::LogCapture log;
  capwap_cli_init(lab.ctx());
  EXPECT_FALSE(log.Contains("could not be installed")) << log.text();
}

}  // namespace
