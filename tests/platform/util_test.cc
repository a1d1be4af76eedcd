#include "platform/util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/identity.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/scm.h"
#include "support/lab.h"

namespace {

TEST(Str2PrefixTest, AcceptsStrictDottedPrefixes) {
  struct Case {
    const char* text;
    uint32_t address;
    uint8_t prefixlen;
  };
  const Case cases[] = {
      {"192.168.1.10/24", 0xC0A8010A, 24},
      {"0.0.0.0/0", 0, 0},
      {"255.255.255.255/32", 0xFFFFFFFF, 32},
      {"10.0.0.1/8", 0x0A000001, 8},
  };
  for (const Case& c : cases) {
    prefix_ipv4 p;
    p.prefixlen = 99;
    ASSERT_EQ(str2prefix_ipv4(c.text, &p), 1) << c.text;
    EXPECT_EQ(p.family, AF_INET);
    EXPECT_EQ(p.prefixlen, c.prefixlen) << c.text;
    EXPECT_EQ(ntohl(p.prefix.s_addr), c.address) << c.text << " keeps its host bits";
  }
}

TEST(Str2PrefixTest, RejectsEverythingElse) {
  const char* bad[] = {
      "",           "1.2.3.4",       "1.2.3.4/",       "1.2.3/24",      "1.2.3.4.5/6",
      "256.1.1.1/8", "1.2.3.4/33",   "1.2.3.4/024",    "1.2.3.4/24x",   " 1.2.3.4/24",
      "1.2.3.4 /24", "1..2.3/4",     "1234.1.1.1/8",   "a.b.c.d/1",     "1.2.3.4/-1",
      "1.2.3.4/+8",  "/24",          "1.2.3.4//24",    "0x1.2.3.4/8",   "1.2.3.-4/8",
  };
  for (const char* text : bad) {
    prefix_ipv4 p;
    EXPECT_EQ(str2prefix_ipv4(text, &p), 0) << '"' << text << '"';
  }
  prefix_ipv4 p;
  EXPECT_EQ(str2prefix_ipv4(nullptr, &p), 0);
  EXPECT_EQ(str2prefix_ipv4("1.2.3.4/8", nullptr), 0);
}

TEST(MaskLenTest, NetmasksInNetworkOrder) {
  const std::pair<int, uint32_t> cases[] = {
      {0, 0},           {1, 0x80000000}, {8, 0xFF000000}, {24, 0xFFFFFF00},
      {31, 0xFFFFFFFE}, {32, 0xFFFFFFFF}, {33, 0xFFFFFFFF}, {-1, 0},
  };
  for (const auto& [len, mask] : cases) {
    in_addr out{};
    out.s_addr = 0x12345678;
    masklen2ip(len, &out);
    EXPECT_EQ(ntohl(out.s_addr), mask) << len;
  }
  masklen2ip(8, nullptr);
}

TEST(CliIsMacTest, OnlyDottedTriplesOfFourHexDigits) {
  EXPECT_EQ(cli_is_mac("00aa.BBcc.0102"), 1);
  EXPECT_EQ(cli_is_mac("ffff.ffff.ffff"), 1);
  const char* bad[] = {"",          "00aa.bbcc.010",   "00aa.bbcc.01022", "00aa:bbcc:0102",
                       "g0aa.bbcc.0102", "00aa.bbcc.010g", "00-aa-bb-cc-01-02", "00aabbcc0102",
                       "00aa..bbc.0102", " 0aa.bbcc.0102"};
  for (const char* text : bad) EXPECT_EQ(cli_is_mac(text), 0) << '"' << text << '"';
  EXPECT_EQ(cli_is_mac(nullptr), 0);
}

TEST(StrToLowerTest, LowersInPlace) {
  char text[] = "AbC-9.XyZ";
  EXPECT_EQ(lib_strtolower(text), text);
  EXPECT_STREQ(text, "abc-9.xyz");
  EXPECT_EQ(lib_strtolower(nullptr), nullptr);
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override { capwap::test::ResetAllGlobals(); }
  void TearDown() override {
    DeRegister_Scm();
    identity_reset();
  }

  void Settings(const std::string& text) {
    std::string path = root.Path("/etc/config/vela/platform.conf");
    ASSERT_TRUE(capwap::MakeParentDirs(path));
    std::ofstream(path) << text;
    identity_load();
  }
  bool Exists(const std::string& name) {
    struct stat st{};
    return stat(root.Path("/" + name).c_str(), &st) == 0;
  }

  capwap::test::TempRoot root;
  capwap::LogCapture log;
};

TEST_F(CommandTest, UnderARootCommandsAreOnlyLogged) {
  Settings("");
  std::string command = "touch " + root.Path("/marker");
  EXPECT_EQ(lib_system(command.c_str()), 0);
  EXPECT_TRUE(log.Contains("lib_system: " + command)) << log.text();
  EXPECT_FALSE(Exists("marker")) << "nothing may run on the host in log mode";
}

TEST_F(CommandTest, RunModeExecutesThroughTheShell) {
  Settings("system_commands = run\n");
  std::string command = "touch " + root.Path("/marker") + " && exit 3";
  EXPECT_EQ(lib_system(command.c_str()), 3);
  EXPECT_TRUE(Exists("marker"));
  EXPECT_EQ(lib_system("true"), 0);
  EXPECT_EQ(lib_system("kill -9 $$"), -1) << "a command killed by a signal";
  EXPECT_EQ(lib_system(""), -1);
  EXPECT_EQ(lib_system(nullptr), -1);
}

TEST_F(CommandTest, UnknownModeRunsNothing) {
  Settings("system_commands = maybe\n");
  std::string command = "touch " + root.Path("/marker");
  EXPECT_EQ(lib_system(command.c_str()), -1);
  EXPECT_FALSE(Exists("marker"));
  EXPECT_TRUE(log.Contains("unknown system_commands mode \"maybe\"")) << log.text();
}

TEST_F(CommandTest, WithoutARootTheDefaultIsToRun) {
  identity_reset();
  std::string saved = capwap::RootPrefix();
  unsetenv("CAPWAP_ROOT");
  int status = lib_system("exit 7");
  setenv("CAPWAP_ROOT", saved.c_str(), 1);
  EXPECT_EQ(status, 7);
}

TEST_F(CommandTest, ServiceControlLogsAndRunsConfiguredCommands) {
  Settings("system_commands = run\n"
           "service.wlan.start = touch " + root.Path("/started") + "\n"
           "service.wlan.stop = exit 1\n");
  EXPECT_EQ(Register_Scm(nullptr, "ac"), 0);
  EXPECT_EQ(Register_Monitor(nullptr), 0);
  EXPECT_TRUE(log.Contains("SCM: register service ac")) << log.text();

  EXPECT_EQ(SCM_ServiceStart("wlan", 0), 0);
  EXPECT_TRUE(log.Contains("SCM: start service wlan"));
  EXPECT_TRUE(Exists("started"));
  EXPECT_EQ(SCM_ServiceStop("wlan", 0), 1);
  EXPECT_TRUE(log.Contains("SCM: stop service wlan"));
  EXPECT_TRUE(log.Contains("stop of service wlan failed")) << log.text();

  // A service without commands is only logged.
  EXPECT_EQ(SCM_ServiceStart("dhcpd", 0), 0);
  EXPECT_TRUE(log.Contains("SCM: start service dhcpd"));
  EXPECT_EQ(SCM_ServiceStart(nullptr, 0), 1);
  EXPECT_EQ(Register_Scm(nullptr, ""), 1);

  EXPECT_EQ(DeRegister_Scm(), 0);
  EXPECT_TRUE(log.Contains("SCM: deregister service ac"));
}

}  // namespace
