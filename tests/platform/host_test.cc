// Host services: the platform identity settings, log files, shell commands
// and service control under CAPWAP_ROOT, and the strict text parsers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/identity.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/scm.h"
#include "platform/util.h"
#include "support/file_text.h"
#include "support/lab.h"

namespace {

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class HostTest : public ::testing::Test {
 protected:
  void TearDown() override { DeRegister_Scm(); }
  void Load(const std::string& text) {
    std::string path = root.Path("/etc/config/vela/platform.conf");
    ASSERT_TRUE(capwap::MakeParentDirs(path));
    std::ofstream(path) << text;
    identity_load();
  }
  bool Exists(const std::string& name) {
    struct stat st {};
    return stat(root.Path("/" + name).c_str(), &st) == 0;
  }
  capwap::test::FreshGlobals fresh_;
  capwap::test::TempRoot root;
  capwap::LogCapture log;
  const std::string touch = "touch " + root.Path("/marker");
};

TEST_F(HostTest, SettingsFileOverridesDefaultsAndBadValuesFallBack) {
  identity_load();
  EXPECT_EQ(g_uiOid, 41414u);
  EXPECT_EQ(
      company_info.vendor_name + company_info.base_mac + company_info.model + company_info.version,
      "capwap0200-0000-0001WAC-10001.0.0");
  EXPECT_EQ(get_max_apcnt(), 32u);
  EXPECT_EQ(vendor_isvalid(41414) + vendor_isvalid(0), 1);

  Load(
      "# platform identity\n\n   # indented comment = not a setting\n"
      "vendor_id = 0x1234\nvendor_ids = 100, 0x200 ,bogus,\nvendor_name=Acme\n"
      "base_mac = 00AA.bbCC.0102\nmodel = \"AC 9000\"\nversion = 2.3.1-rc1\nmax_aps = 8\n"
      "this line has no equals sign\nservice.wlan.start = /usr/bin/wlan start # kept whole\n");
  EXPECT_EQ(g_uiOid, 0x1234u);
  EXPECT_EQ(
      company_info.vendor_name + company_info.base_mac + company_info.model + company_info.version,
      "Acme00aa-bbcc-0102AC 90002.3.1-rc1");
  EXPECT_EQ(get_max_apcnt(), 8u);
  EXPECT_EQ(identity_setting("service.wlan.start"), "/usr/bin/wlan start # kept whole");
  EXPECT_EQ(vendor_isvalid(0x1234) + vendor_isvalid(100) + vendor_isvalid(0x200), 3);
  EXPECT_EQ(vendor_isvalid(41414), 0) << "the default identifier is replaced";
  EXPECT_TRUE(log.Contains("platform.conf:11: ignored line")) << log.text();
  EXPECT_TRUE(log.Contains("ignored vendor identifier \"bogus\"")) << log.text();

  Load("vendor_id = 12abc\nmax_aps = 0\nbase_mac = 00aa.bbcc\n");
  EXPECT_EQ(g_uiOid, 41414u);
  EXPECT_EQ(get_max_apcnt(), 32u);
  EXPECT_EQ(company_info.base_mac, "0200-0000-0001");
  for (const char* line :
       {"invalid vendor_id \"12abc\"", "invalid max_aps \"0\"", "invalid base_mac"}) {
    EXPECT_TRUE(log.Contains(line)) << line;
  }
  Load("vendor_id = 4294967296\nversion = 9.9\n");
  EXPECT_EQ(g_uiOid, 41414u) << "identifiers wider than 32 bits are refused";
  testing::internal::CaptureStdout();
  print_version("capwap");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "capwap version 9.9\n");
}

TEST_F(HostTest, UnderARootCommandsAreOnlyLoggedUnlessSetToRun) {
  Load("");
  EXPECT_EQ(lib_system(touch.c_str()), 0);
  EXPECT_TRUE(log.Contains("lib_system: " + touch)) << log.text();
  Load("system_commands = maybe\n");
  EXPECT_EQ(lib_system(touch.c_str()), -1);
  EXPECT_TRUE(log.Contains("unknown system_commands mode \"maybe\"")) << log.text();
  EXPECT_FALSE(Exists("marker")) << "nothing may run on the host in log mode";

  Load("system_commands = run\nservice.wlan.start = touch " + root.Path("/started") +
       "\nservice.wlan.stop = exit 1\n");
  EXPECT_EQ(lib_system((touch + " && exit 3").c_str()), 3);
  EXPECT_TRUE(Exists("marker"));
  EXPECT_EQ(lib_system("kill -9 $$"), -1) << "a command killed by a signal";
  EXPECT_EQ(lib_system("") + lib_system(nullptr), -2);
  EXPECT_EQ(Register_Scm(nullptr, "ac"), 0);
  EXPECT_EQ(SCM_ServiceStart("wlan", 0), 0);
  EXPECT_TRUE(Exists("started"));
  EXPECT_EQ(SCM_ServiceStop("wlan", 0), 1);
  EXPECT_EQ(SCM_ServiceStart("dhcpd", 0), 0) << "a service without commands is only logged";
  EXPECT_EQ(SCM_ServiceStart(nullptr, 0) + Register_Scm(nullptr, ""), 2);
  EXPECT_TRUE(log.Contains("stop of service wlan failed")) << log.text();

  identity_reset();  // without a root the default is to run
  std::string saved = capwap::RootPrefix();
  unsetenv("CAPWAP_ROOT");
  int status = lib_system("exit 7");
  setenv("CAPWAP_ROOT", saved.c_str(), 1);
  EXPECT_EQ(status, 7);
}

TEST(UtilTest, TextParsersAcceptOnlyStrictForms) {
  for (auto [text, address, len] : {std::tuple{"192.168.1.10/24", 0xC0A8010Au, 24},
                                    {"0.0.0.0/0", 0u, 0},
                                    {"255.255.255.255/32", 0xFFFFFFFFu, 32}}) {
    prefix_ipv4 p;
    ASSERT_EQ(str2prefix_ipv4(text, &p), 1) << text;
    EXPECT_EQ(p.family, AF_INET);
    EXPECT_EQ(p.prefixlen, len);
    EXPECT_EQ(ntohl(p.prefix.s_addr), address) << text << " keeps its host bits";
  }
  for (const char* text :
       {"", "1.2.3.4", "1.2.3.4/", "1.2.3/24", "1.2.3.4.5/6", "256.1.1.1/8", "1.2.3.4/33",
        "1.2.3.4/024", "1.2.3.4/24x", " 1.2.3.4/24", "1.2.3.4 /24", "1..2.3/4", "1234.1.1.1/8",
        "a.b.c.d/1", "1.2.3.4/-1", "1.2.3.4/+8", "/24", "1.2.3.4//24", "0x1.2.3.4/8"}) {
    prefix_ipv4 p;
    EXPECT_EQ(str2prefix_ipv4(text, &p), 0) << '"' << text << '"';
  }
  prefix_ipv4 p;
  EXPECT_EQ(str2prefix_ipv4(nullptr, &p) + str2prefix_ipv4("1.2.3.4/8", nullptr), 0);
  EXPECT_EQ(cli_is_mac("00aa.BBcc.0102"), 1);
  for (const char* text :
       {"", "00aa.bbcc.010", "00aa.bbcc.01022", "00aa:bbcc:0102", "g0aa.bbcc.0102",
        "00-aa-bb-cc-01-02", "00aabbcc0102", "00aa..bbc.0102", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(cli_is_mac(text), 0) << (text ? text : "null");
  }
}

TEST_F(HostTest, LogLinesAboveTheLevelAreDroppedAndTheFileMovesAsideAtTheLimit) {
  zlog_target target;
  target.flags = ZLOG_FILE;
  target.maxlvl = ZLOG_INFO;
  ASSERT_EQ(pal_log_set_file(&target, "capwap.log"), 0);
  const std::string file = root.Path("/etc/config/vela/userspace/capwap.log");
  auto Output = [&](const char* level, const char* text) {
    pal_log_output(nullptr, &target, level, "CAPWAP", text);
  };
  for (auto [level, text] : {std::pair<const char*, const char*>{"informational", "kept"},
                             {"debugging", "dropped"},
                             {"no-such-level", "dropped"},
                             {nullptr, "dropped"},
                             {"errors", "kept too"}}) {
    Output(level, text);
  }
  EXPECT_TRUE(std::regex_match(
      capwap::test::FileText(file), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d informational CAPWAP kept\n)"
                                R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d errors CAPWAP kept too\n)")))
      << capwap::test::FileText(file);
  std::ofstream(file + "-bak") << "older backup\n";
  ASSERT_EQ(truncate(file.c_str(), kPalLogFileLimit - 100), 0);  // sparse
  Output("warnings", "short");
  EXPECT_EQ(SizeOf(file + "-bak"), 13) << "below the limit nothing moves";
  ASSERT_EQ(truncate(file.c_str(), kPalLogFileLimit - 10), 0);
  Output("warnings", "the line that crosses the limit");
  EXPECT_EQ(SizeOf(file), -1) << "the full file was moved away";
  std::string backup = capwap::test::FileText(file + "-bak");
  EXPECT_TRUE(backup.ends_with("warnings CAPWAP the line that crosses the limit\n"));
  Output("warnings", "first line of the new file");
  std::string fresh = capwap::test::FileText(file);
  EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1);
  EXPECT_EQ(capwap::test::FileText(file + "-bak"), backup) << "the backup is left alone";

  ASSERT_EQ(pal_log_rotate(&target), 0);
  EXPECT_EQ(SizeOf(file), 0) << "rotation reopens the file empty";
  zlog_target lost;
  lost.filename = "missing/dir/x.log";
  EXPECT_EQ(pal_log_rotate(&lost), -1);
  EXPECT_EQ(pal_log_set_file(&lost, ""), -1);
  pal_log_output(nullptr, nullptr, "errors", "CAPWAP", "no target: ignored");
  pal_log_close(nullptr, &target);
}

TEST_F(HostTest, LogFrontEndFiltersByTheTargetLevelAndTheCaptureSeesEveryLine) {
  std::unique_ptr<lib_globals> ctx = lib_start();
  openzlog(ctx.get(), "capwap", 27, ZLOG_FILE, ZLOG_INFO);
  ASSERT_EQ(pal_log_set_file(&ctx->log->target, "front.log"), 0);
  capwap::LogCapture capture;  // sees every line
  zdebug(ctx.get(), ZLOG_DEBUG, " relay detail %d\n", 1);
  zlog_info(ctx.get(), " AP %d online\n", 4);
  zlog_err(nullptr, "DBM: %s", "broken");
  EXPECT_EQ(capwap::test::FileText(root.Path("/etc/config/vela/userspace/front.log")).substr(20),
            "informational capwap  AP 4 online\n")
      << "debug dropped; trailing newlines not doubled";
  EXPECT_EQ(capture.text(), " relay detail 1\n AP 4 online\nDBM: broken\n");
  lib_stop(ctx);
}

}  // namespace
