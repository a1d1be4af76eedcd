#include <gtest/gtest.h>

#include <vector>

#include "daemon/capwap.h"

namespace {

int Parse(std::vector<const char*> args, CapwapOptions* options) {
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  return capwap_parse_options(static_cast<int>(args.size()), argv.data(), options);
}

TEST(Options, DefaultsAndValues) {
  CapwapOptions options;
  EXPECT_EQ(Parse({"/usr/sbin/capwap"}, &options), -1);
  EXPECT_EQ(options.vty_port, 2627);
  EXPECT_FALSE(options.daemon);
  EXPECT_EQ(options.program_name, "capwap");

  CapwapOptions set;
  EXPECT_EQ(Parse({"capwap", "-d", "-f", "/x.conf", "-P", "0"}, &set), -1);
  EXPECT_TRUE(set.daemon);
  EXPECT_EQ(set.config_file, "/x.conf");
  EXPECT_EQ(set.vty_port, 0);

  CapwapOptions longs;
  EXPECT_EQ(Parse({"capwap", "--vty_port", "3000", "--config_file", "c"}, &longs), -1);
  EXPECT_EQ(longs.vty_port, 3000);
  EXPECT_EQ(longs.config_file, "c");
}

TEST(Options, HelpVersionAndBadOptions) {
  CapwapOptions options;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"./bin/capwap", "-h"}, &options), 0);
  std::string usage = testing::internal::GetCapturedStdout();
  EXPECT_EQ(usage,
            "Usage : capwap [OPTION...]\nDaemon which manages MSTP \n\n"
            "-d, --daemon       Runs in daemon mode\n"
            "-f, --config_file  Set configuration file name\n"
            "-P, --vty_port     Set vty's port number\n"
            "-v, --version      Print program version\n"
            "-h, --help         Display this help and exit\n\n"
            "Report bugs to  \n");

  for (const char* bad : {"-r", "-x"}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Parse({"capwap", bad}, &options), 1);
    EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
        "Try `capwap --help' for more information.\n"));
  }

  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"capwap", "-v"}, &options), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("capwap"), std::string::npos);
}

}  // namespace
