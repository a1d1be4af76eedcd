#include <gtest/gtest.h>

#include <fstream>

#include "config/images.h"
#include "daemon/capwap.h"
#include "diag/debug.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/lab.h"

namespace {

TEST(GetApVer, SplitsModelAndVersionOrRefusesTheName) {
  capwap::test::FreshGlobals fresh;
  g_ulCwDebugBitmap = kDbgError;
  capwap::LogCapture log;
  std::string many;
  for (int i = 0; i < 100; ++i) many += "t-";
  // Cut to 127 characters, a long name holds no dash any more.
  for (auto [name, rc, model, version] : {std::tuple<std::string, int, const char*, const char*>{
                                              "a-b-c-1.0.2-r5", 0, "a-b-c", "1.0.2"},
                                          {"m-1.0", 0, "", "m"},
                                          {many, 0, "", "t"},
                                          {"", 1, "", ""},
                                          {"---", 1, "", ""},
                                          {"single", 1, "", ""},
                                          {std::string(300, 'x') + "-1.0-r1", 1, "", ""}}) {
    capwap::ApVersion ver{};
    ASSERT_EQ(CW_AC_GetApVer(&ver, name.c_str()), rc) << name;
    if (rc != 0) continue;
    EXPECT_EQ(std::string(ver.version), version) << name;
    if (*model) {
      EXPECT_EQ(std::string(ver.model), model) << name;
    }
  }
  EXPECT_TRUE(log.Contains(" Failed to get AP firmware version."));
}

class ImageScan : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageTableReset();
    identity_reset();
    capwap::MakeDirs(root_.Path("/usr/sbin/apimage"));
  }
  void TearDown() override { ImageTableReset(); }
  void Touch(const std::string& name) {
    std::ofstream(root_.Path("/usr/sbin/apimage/" + name)) << "image";
  }
  capwap::test::TempRoot root_;
};

TEST_F(ImageScan, RecordsImagesForThePlatformVendorFiltersByModelAndNeedsTheDirectory) {
  Touch("ap300-2.1.5-r1");
  Touch("ap500-3.0-build7");
  Touch("junk");
  capwap::MakeDirs(root_.Path("/usr/sbin/apimage/subdir-1.0-x"));
  ASSERT_EQ(AC_ApVerDbInit(nullptr), 0);
  ImageRecord* rec = ImageRecordOf(g_uiOid, "ap300");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->version + " " + rec->name, "2.1.5 ap300-2.1.5");
  EXPECT_EQ(rec->auto_upgrade, 0);
  EXPECT_NE(ImageRecordOf(g_uiOid, "ap500"), nullptr);
  EXPECT_EQ(ImageRecordOf(g_uiOid, "subdir"), nullptr);

  ImageTableReset();
  ASSERT_EQ(AC_ApVerDbInit("ap500"), 0);
  EXPECT_EQ(ImageRecordOf(g_uiOid, "ap300"), nullptr);
  EXPECT_NE(ImageRecordOf(g_uiOid, "ap500"), nullptr);

  capwap::test::TempRoot empty_root;
  g_ulCwDebugBitmap = kDbgError;
  capwap::LogCapture log;
  EXPECT_EQ(AC_ApVerDbInit(nullptr), 1);
  EXPECT_TRUE(log.Contains(" Failed to create AP database."));
  g_ulCwDebugBitmap = 0;
}

TEST(ImageTable, ReplacesSameModelAndFillsUpToSixteen) {
  ImageTableReset();
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(7, "m", "1.0", "", 0), 0);
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(7, "m", "2.0", "up.bin", 1), 0);
  ImageRecord* rec = ImageRecordOf(7, "m");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->version + " " + rec->user_file + " " + std::to_string(rec->auto_upgrade),
            "2.0 up.bin 1");
  for (int i = 1; i < 16; ++i) {
    ASSERT_EQ(CW_CMD_Set_ApModelVersion(7, "m" + std::to_string(i), "1", "", 0), 0);
  }
  EXPECT_EQ(CW_CMD_Set_ApModelVersion(7, "full", "1", "", 0), 1);
  for (uint32_t vendor = 100; vendor < 107; ++vendor) {
    EXPECT_EQ(CW_CMD_Set_ApModelVersion(vendor, "x", "1", "", 0), 0);
  }
  EXPECT_EQ(CW_CMD_Set_ApModelVersion(200, "x", "1", "", 0), 1);  // no free vendor entry
  ImageTableReset();
}

}  // namespace
