#include "platform/identity.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/lab.h"

namespace {

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { capwap::test::ResetAllGlobals(); }
  void TearDown() override { identity_reset(); }

  void WriteSettings(const std::string& text) {
    std::string path = root.Path("/etc/config/vela/platform.conf");
    ASSERT_TRUE(capwap::MakeParentDirs(path));
    std::ofstream(path) << text;
  }

  capwap::test::TempRoot root;
};

TEST_F(IdentityTest, DefaultsWithoutASettingsFile) {
  identity_load();
  EXPECT_EQ(g_uiOid, 41414u);
  EXPECT_EQ(company_info.vendor_name, "capwap");
  EXPECT_EQ(company_info.base_mac, "0200-0000-0001");
  EXPECT_EQ(company_info.model, "WAC-1000");
  EXPECT_EQ(company_info.version, "1.0.0");
  EXPECT_EQ(get_max_apcnt(), 32u);
  EXPECT_EQ(identity_setting("model"), "WAC-1000");
  EXPECT_EQ(identity_setting("system_commands"), "");
  EXPECT_EQ(identity_setting("no.such.key"), "");
  EXPECT_EQ(vendor_isvalid(41414), 1);
  EXPECT_EQ(vendor_isvalid(0), 0);
  EXPECT_EQ(vendor_isvalid(41415), 0);
}

TEST_F(IdentityTest, FileOverridesWithCommentsAndBadLines) {
  WriteSettings(
      "# platform identity\n"
      "\n"
      "   # indented comment = not a setting\n"
      "vendor_id = 0x1234\n"
      "vendor_ids = 100, 0x200 ,bogus,\n"
      "vendor_name=Acme\n"
      "base_mac = 00AA.bbCC.0102\n"
      "model = \"AC 9000\"\n"
      "version = 2.3.1-rc1\n"
      "max_aps = 8\n"
      "this line has no equals sign\n"
      "service.wlan.start = /usr/bin/wlan start # kept whole\n");
  capwap::LogCapture log;
  identity_load();
  EXPECT_EQ(g_uiOid, 0x1234u);
  EXPECT_EQ(company_info.vendor_name, "Acme");
  EXPECT_EQ(company_info.base_mac, "00aa-bbcc-0102");
  EXPECT_EQ(company_info.model, "AC 9000");
  EXPECT_EQ(company_info.version, "2.3.1-rc1");
  EXPECT_EQ(get_max_apcnt(), 8u);
  EXPECT_EQ(identity_setting("service.wlan.start"), "/usr/bin/wlan start # kept whole");
  EXPECT_EQ(identity_setting("indented comment"), "");

  EXPECT_EQ(vendor_isvalid(0x1234), 1);
  EXPECT_EQ(vendor_isvalid(100), 1);
  EXPECT_EQ(vendor_isvalid(0x200), 1);
  EXPECT_EQ(vendor_isvalid(41414), 0) << "the default identifier is replaced";
  EXPECT_TRUE(log.Contains("platform.conf:11: ignored line")) << log.text();
  EXPECT_TRUE(log.Contains("ignored vendor identifier \"bogus\"")) << log.text();

  identity_reset();
  EXPECT_EQ(g_uiOid, 41414u);
  EXPECT_EQ(company_info.model, "WAC-1000");
  EXPECT_EQ(vendor_isvalid(100), 0);
  EXPECT_EQ(identity_setting("service.wlan.start"), "");
}

TEST_F(IdentityTest, InvalidValuesFallBackToDefaults) {
  WriteSettings(
      "vendor_id = 12abc\n"
      "max_aps = 0\n"
      "base_mac = 00aa.bbcc\n");
  capwap::LogCapture log;
  identity_load();
  EXPECT_EQ(g_uiOid, 41414u);
  EXPECT_EQ(get_max_apcnt(), 32u);
  EXPECT_EQ(company_info.base_mac, "0200-0000-0001");
  EXPECT_TRUE(log.Contains("invalid vendor_id \"12abc\"")) << log.text();
  EXPECT_TRUE(log.Contains("invalid max_aps \"0\"")) << log.text();
  EXPECT_TRUE(log.Contains("invalid base_mac")) << log.text();

  WriteSettings("vendor_id = 4294967296\nbase_mac = 00:1b:2C:3d:4e:5f\n");
  identity_load();
  EXPECT_EQ(g_uiOid, 41414u) << "identifiers wider than 32 bits are refused";
  EXPECT_EQ(company_info.base_mac, "001b-2c3d-4e5f");
}

TEST_F(IdentityTest, LibStartLoadsTheSettings) {
  WriteSettings("vendor_id = 777\nversion = 9.9\n");
  std::unique_ptr<lib_globals> ctx = lib_start();
  EXPECT_EQ(g_uiOid, 777u);
  testing::internal::CaptureStdout();
  print_version("capwap");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "capwap version 9.9\n");
  lib_stop(ctx);
}

}  // namespace
