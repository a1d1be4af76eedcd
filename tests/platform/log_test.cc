#include "platform/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/lib.h"
#include "support/lab.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool IsDir(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

off_t SizeOf(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    target.flags = ZLOG_FILE;
    target.maxlvl = ZLOG_DEBUG;
    ASSERT_EQ(pal_log_set_file(&target, "capwap.log"), 0);
  }
  void TearDown() override { pal_log_close(nullptr, &target); }

  std::string LogFile() const { return root.Path("/etc/config/vela/userspace/capwap.log"); }
  void Output(const char* level, const char* message) {
    pal_log_output(nullptr, &target, level, "CAPWAP", message);
  }

  capwap::test::TempRoot root;
  zlog_target target;
};

TEST_F(LogTest, FileLinesCarryTimeLevelProtocolAndMessage) {
  Output("informational", "AP 3 joined");
  Output("errors", "second line");
  std::string text = ReadAll(LogFile());
  std::regex line(
      R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d informational CAPWAP AP 3 joined\n)"
      R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d errors CAPWAP second line\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LogTest, LevelsAboveTheMaximumAreDropped) {
  target.maxlvl = ZLOG_INFO;
  Output("debugging", "dropped");
  Output("no-such-level", "also dropped: unknown names count as debugging");
  Output(nullptr, "dropped as well");
  Output("informational", "kept");
  Output("emergencies", "kept too");
  std::string text = ReadAll(LogFile());
  EXPECT_EQ(text.find("dropped"), std::string::npos) << text;
  EXPECT_NE(text.find("informational CAPWAP kept"), std::string::npos) << text;
  EXPECT_NE(text.find("emergencies CAPWAP kept too"), std::string::npos) << text;

  EXPECT_EQ(zlog_level_priority("warnings"), ZLOG_WARNING);
  EXPECT_EQ(zlog_level_priority("bogus"), ZLOG_DEBUG);
  EXPECT_STREQ(zlog_level_name(ZLOG_NOTICE), "notifications");
}

TEST_F(LogTest, FrontEndFiltersByTheTargetLevel) {
  std::unique_ptr<lib_globals> ctx = lib_start();
  openzlog(ctx.get(), "capwap", 27, ZLOG_FILE, ZLOG_INFO);
  ASSERT_EQ(pal_log_set_file(&ctx->log->target, "front.log"), 0);
  capwap::LogCapture capture;
  zdebug(ctx.get(), ZLOG_DEBUG, " relay detail %d\n", 1);
  zlog_info(ctx.get(), " AP %d online\n", 4);
  std::string text = ReadAll(root.Path("/etc/config/vela/userspace/front.log"));
  EXPECT_EQ(text.find("relay detail"), std::string::npos) << text;
  EXPECT_NE(text.find("informational capwap  AP 4 online\n"), std::string::npos)
      << "trailing newlines of debug texts are not doubled: " << text;
  EXPECT_TRUE(capture.Contains(" relay detail 1\n")) << "the capture sees every line";
  lib_stop(ctx);
}

TEST_F(LogTest, FileMovesToBackupAfterTheLineThatReachesTheLimit) {
  {
    std::ofstream(LogFile() + "-bak") << "older backup\n";
    std::ofstream(LogFile()) << "";
  }
  ASSERT_EQ(truncate(LogFile().c_str(), kPalLogFileLimit - 10), 0);  // sparse
  Output("warnings", "the line that crosses the limit");
  EXPECT_EQ(SizeOf(LogFile()), -1) << "the full file was moved away";
  off_t backup_size = SizeOf(LogFile() + "-bak");
  ASSERT_GT(backup_size, kPalLogFileLimit - 10);
  {
    std::ifstream in(LogFile() + "-bak", std::ios::binary);
    in.seekg(kPalLogFileLimit - 10);
    std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(tail.find("warnings CAPWAP the line that crosses the limit\n"), std::string::npos);
  }

  Output("warnings", "first line of the new file");
  std::string fresh = ReadAll(LogFile());
  EXPECT_NE(fresh.find("first line of the new file"), std::string::npos);
  EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1);
  EXPECT_EQ(SizeOf(LogFile() + "-bak"), backup_size) << "the backup is left alone";
}

TEST_F(LogTest, BelowTheLimitNothingMoves) {
  ASSERT_EQ(truncate(LogFile().c_str(), 0), -1) << "no file before the first line";
  Output("warnings", "x");
  ASSERT_EQ(truncate(LogFile().c_str(), kPalLogFileLimit - 100), 0);
  Output("warnings", "short");
  EXPECT_GT(SizeOf(LogFile()), kPalLogFileLimit - 100);
  EXPECT_EQ(SizeOf(LogFile() + "-bak"), -1);
}

TEST_F(LogTest, SetFileCreatesFoldersUnderTheUserSpaceRoot) {
  zlog_target other;
  ASSERT_EQ(pal_log_set_file(&other, "logs/deep/ac.log"), 0);
  EXPECT_TRUE(IsDir(root.Path("/mnt/userspace/logs/deep")));
  EXPECT_EQ(other.filename, "logs/deep/ac.log");
  ASSERT_EQ(pal_log_set_file(&other, "/var/log/ac.log"), 0);
  EXPECT_TRUE(IsDir(root.Path("/mnt/userspace/var/log")));

  EXPECT_EQ(pal_log_unset_file(&other), 0);
  EXPECT_TRUE(other.filename.empty());
  EXPECT_EQ(pal_log_unset_file(&other), -1) << "no name left to forget";
}

TEST_F(LogTest, RotateReopensTheFileEmpty) {
  Output("errors", "before rotation");
  ASSERT_GT(SizeOf(LogFile()), 0);
  ASSERT_EQ(pal_log_rotate(&target), 0);
  EXPECT_NE(target.fp, nullptr);
  EXPECT_EQ(SizeOf(LogFile()), 0);
  ASSERT_EQ(pal_log_rotate(&target), 0) << "a second rotation closes the first handle";
  pal_log_close(nullptr, &target);
  EXPECT_EQ(target.fp, nullptr);

  // Reopening fails when the folder is gone.
  zlog_target lost;
  lost.filename = "missing/dir/x.log";
  EXPECT_EQ(pal_log_rotate(&lost), -1);
}

TEST(LogCallerErrorsTest, MissingTargetOrNameIsRefused) {
  capwap::test::TempRoot root;
  zlog_target target;
  EXPECT_EQ(pal_log_set_file(nullptr, "a.log"), -1);
  EXPECT_EQ(pal_log_set_file(&target, nullptr), -1);
  EXPECT_EQ(pal_log_set_file(&target, ""), -1);
  EXPECT_EQ(pal_log_rotate(nullptr), -1);
  EXPECT_EQ(pal_log_unset_file(nullptr), -1);
  EXPECT_EQ(pal_log_unset_file(&target), -1);
  EXPECT_TRUE(target.filename.empty());
  pal_log_output(nullptr, nullptr, "errors", "CAPWAP", "no target: ignored");
}

TEST(LogCaptureTest, CollectsFrontEndLinesWithoutAContext) {
  capwap::LogCapture capture;
  zlog_err(nullptr, "DBM: %s", "broken");
  zlog_warn(nullptr, "second\n");
  EXPECT_EQ(capture.text(), "DBM: broken\nsecond\n");
  capture.Clear();
  EXPECT_TRUE(capture.text().empty());
}

}  // namespace
