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

}  // namespace
