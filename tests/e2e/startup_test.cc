// The real binary, started from outside: options, sockets, PID file, vty,
// configuration replay and the orderly stop.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <sstream>

#include "e2e/daemon_process.h"

namespace capwap::test {
namespace {

TEST(DaemonBinary, HelpVersionAndBadOptionExitCodes) {
  std::string out, err;
  EXPECT_EQ(RunCapwap({"-h"}, &out, &err), 0);
  EXPECT_EQ(out.rfind("Usage : capwap [OPTION...]\n", 0), 0u);
  EXPECT_NE(out.find("-P, --vty_port     Set vty's port number\n"), std::string::npos);

  EXPECT_EQ(RunCapwap({"-v"}, &out, &err), 0);
  EXPECT_NE(out.find("capwap"), std::string::npos);

  EXPECT_EQ(RunCapwap({"-r"}, &out, &err), 1);
  EXPECT_EQ(err, "Try `capwap --help' for more information.\n");
}

TEST(DaemonBinary, StartsBindsAnswersAndStopsOnSigterm) {
  DaemonProcess daemon;
  ASSERT_TRUE(daemon.WaitReady()) << daemon.output();

  uint16_t base = daemon.port_base();
  EXPECT_TRUE(UdpPortBound(base, false));      // IPv4 control
  EXPECT_TRUE(UdpPortBound(base + 1, false));  // IPv4 data
  EXPECT_TRUE(UdpPortBound(base + 2, false));  // core-dump monitor
  EXPECT_TRUE(UdpPortBound(base, true));       // IPv6 control
  EXPECT_TRUE(UdpPortBound(base + 1, true));   // IPv6 data

  std::ifstream pid_file(daemon.root().Path("/var/run/capwap.pid"));
  int pid = 0;
  pid_file >> pid;
  EXPECT_EQ(pid, daemon.pid());

  std::string shown = daemon.Vty("show debug all");
  EXPECT_NE(shown.find("capwap# "), std::string::npos) << shown;
  std::string bad = daemon.Vty("this is not a command");
  EXPECT_NE(bad.find("% Unknown command"), std::string::npos) << bad;

  EXPECT_EQ(daemon.StopWith(SIGTERM), 0) << daemon.output();
  // The PID file stays after an orderly stop.
  std::ifstream after(daemon.root().Path("/var/run/capwap.pid"));
  EXPECT_TRUE(after.good());
}

TEST(DaemonBinary, ReplaysConfigurationSkippingBadLinesAndSavesIt) {
  DaemonProcess::Options options;
  options.config_text = "debug-nonsense here\n!\nwlan ap-model lab-custom\n radio-count 1\n";
  DaemonProcess daemon(options);
  ASSERT_TRUE(daemon.WaitReady()) << daemon.output();
  EXPECT_NE(daemon.output().find(":1:"), std::string::npos) << daemon.output();

  std::string running = daemon.Vty("show running-config");
  EXPECT_NE(running.find("wlan ap-model lab-custom\n radio-count 1\n"), std::string::npos)
      << running;
  std::string saved = daemon.Vty("write");
  EXPECT_NE(saved.find("[OK]"), std::string::npos) << saved;
  std::ifstream conf(daemon.root().Path("/etc/config/vela/capwap.conf"));
  std::stringstream text;
  text << conf.rdbuf();
  EXPECT_EQ(text.str().find("debug-nonsense"), std::string::npos);
  EXPECT_NE(text.str().find("wlan ap-model lab-custom"), std::string::npos);
  EXPECT_EQ(daemon.StopWith(SIGINT), 0);
}

TEST(DaemonBinary, SigusrOneRotatesAndSighupOnlyLogs) {
  DaemonProcess daemon;
  ASSERT_TRUE(daemon.WaitReady()) << daemon.output();
  kill(daemon.pid(), SIGHUP);
  kill(daemon.pid(), SIGUSR1);
  kill(daemon.pid(), SIGUSR1);
  // Still serving after both.
  std::string shown = daemon.Vty("show debug all");
  EXPECT_NE(shown.find("capwap# "), std::string::npos);
  EXPECT_EQ(daemon.StopWith(SIGTERM), 0);
  EXPECT_NE(daemon.output().find("SIGHUP received"), std::string::npos) << daemon.output();
}

}  // namespace
}  // namespace capwap::test
