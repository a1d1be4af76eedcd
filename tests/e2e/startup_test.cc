// The real binary, started from outside: options, sockets, PID file, vty,
// configuration replay and the orderly stop (stops under traffic, timed, are
// tools/bench's capwap-stop-bench).
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/daemon_process.h"
#include "platform/cli.h"

namespace capwap::test {
namespace {

TEST(DaemonBinary, OptionsThenOneRunFromConfigurationToAnOrderlyStop) {
  std::string out, err;
  EXPECT_EQ(RunCapwap({"-h"}, &out, &err), 0);
  EXPECT_EQ(out,
            "Usage : capwap [OPTION...]\nDaemon which manages MSTP \n\n"
            "-d, --daemon       Runs in daemon mode\n"
            "-f, --config_file  Set configuration file name\n"
            "-P, --vty_port     Set vty's port number\n"
            "-v, --version      Print program version\n"
            "-h, --help         Display this help and exit\n\n"
            "Report bugs to  \n");
  EXPECT_EQ(RunCapwap({"-v"}, &out, &err), 0);
  EXPECT_NE(out.find("capwap"), std::string::npos);
  for (const char* bad : {"-r", "-x"}) {
    EXPECT_EQ(RunCapwap({bad}, &out, &err), 1) << bad;
    EXPECT_TRUE(err.ends_with("Try `capwap --help' for more information.\n")) << err;
  }

  DaemonProcess daemon(
      {1000, "debug-nonsense here\n!\nwlan ap-model lab-custom\n radio-count 1\n"});
  ASSERT_TRUE(daemon.WaitReady()) << daemon.output();
  EXPECT_NE(daemon.output().find(":1:"), std::string::npos)
      << "the bad line is reported: " << daemon.output();
  const uint16_t base = daemon.port_base();
  for (bool ipv6 : {false, true}) {
    EXPECT_TRUE(UdpPortBound(base, ipv6) && UdpPortBound(base + 1, ipv6)) << "control and data";
  }
  EXPECT_TRUE(UdpPortBound(base + 2, false)) << "core-dump monitor";
  int pid = 0;
  std::ifstream(daemon.root().Path("/var/run/capwap.pid")) >> pid;
  EXPECT_EQ(pid, daemon.pid());
  EXPECT_NE(daemon.Vty("this is not a command").find("% Unknown command"), std::string::npos);
  std::string running = daemon.Vty("show running-config");
  EXPECT_NE(running.find("wlan ap-model lab-custom\n radio-count 1\n"), std::string::npos)
      << running;
  EXPECT_NE(daemon.Vty("write").find("[OK]"), std::string::npos);
  std::stringstream saved;
  saved << std::ifstream(daemon.root().Path("/etc/config/vela/capwap.conf")).rdbuf();
  EXPECT_EQ(saved.str().find("debug-nonsense"), std::string::npos);
  EXPECT_NE(saved.str().find("wlan ap-model lab-custom"), std::string::npos);
  for (int signo : {SIGHUP, SIGUSR1, SIGUSR1}) kill(daemon.pid(), signo);
  EXPECT_NE(daemon.Vty("show debug all").find("capwap# "), std::string::npos) << "still serving";
  EXPECT_EQ(daemon.StopWith(SIGTERM), 0) << daemon.output();
  EXPECT_NE(daemon.output().find("SIGHUP received"), std::string::npos) << daemon.output();
  EXPECT_TRUE(std::ifstream(daemon.root().Path("/var/run/capwap.pid")).good())
      << "the PID file stays";
}

// Every kind of configuration command, then "write" and a restart on an
// empty database: the replayed configuration shows byte for byte as before, bad lines of the
// original file are reported and gone, and unsaved changes are pointed out.
TEST(DaemonBinary, ConfigurationSurvivesWriteAndRestartByteForByte) {
  DaemonProcess::Options options;
  options.config_text = "debug-nonsense here\n!\nwlan ap-model lab-custom\n radio-count 1\n";
  DaemonProcess daemon(options);
  ASSERT_TRUE(daemon.WaitReady()) << daemon.output();
  EXPECT_NE(daemon.output().find(":1:"), std::string::npos) << daemon.output();
  const std::string configured = daemon.Vty(
      "configure terminal\n"
      "wlan ap-model lab-custom\n radio 1 mode 11bgn max-power 20\n exit\n"
      "wlan ap lab1 model mx-320w apid 3\n description first-floor\n echo-interval 20\n"
      " retransmit-interval 7\n maximum-retransmission-count 12\n led-mode quiet\n"
      " mac-address 0200.0000.0a01\n ip address 10.0.0.5 netmask 255.255.255.0 gateway 10.0.0.1\n"
      " n2n-server 10.1.1.1 port 7654\n lan-ip-address 192.168.50.1/24\n"
      " lan-dhcp range 192.168.50.10 192.168.50.99 leasetime 120\n dns-server 8.8.8.8 1.1.1.1\n"
      " priority 6\n ap-info real-time-collection enable\n lan-port vlan 30\n"
      " lan-port 1 vlan 40\n lan-port 2 shutdown\n no lan-port 1 shutdown\n"
      " mesh-role mesh-portal\n mesh-id 9\n mesh-data-path 5g\n exit\n"
      "wlan ap lab2 model lab-custom\n exit\nwlan ap lab3 model mx-325e\n antenna type ext\n"
      " anti-attack enable\n tpc enable\n no maximum-transmission\n exit\n"
      "wlan ap lab3 change-name lab4\nwlan ap gone model ia-210\n exit\nno wlan ap gone\n"
      "wlan ap-group 1\n ac-hostname ctl-one\n n2n-server 10.2.2.2 port 1000\n"
      " lan-ip-address 172.16.0.1/16\n lan-dhcp range 172.16.1.1 172.16.1.200 leasetime 60\n"
      " dns-server 9.9.9.9\n lan-port vlan 100\n exit\n"
      "wlan auto-ap disable\nno wlan auto-ap auto-persistent enable\n"
      "capwap discovery broadcast forbidden\ncapwap tunnel-encrypt enable\n"
      "cloud server cloud.example.net port 8884\nend");
  const std::string notice = kCliUnsavedNotice;
  EXPECT_TRUE(configured.ends_with(notice + "capwap# ")) << configured;
  std::string before = daemon.Vty("show running-config");
  ASSERT_NE(before.find(notice), std::string::npos) << before;
  before.erase(before.find(notice), notice.size());
  EXPECT_NE(daemon.Vty("write").find("[OK]"), std::string::npos);
  ASSERT_EQ(daemon.StopWith(SIGTERM), 0);
  // A fresh database: the text alone rebuilds everything, custom models too.
  std::filesystem::remove_all(daemon.root().Path("/etc/config/vela/capwap.lmdb"));
  ASSERT_TRUE(daemon.Restart()) << daemon.output();
  EXPECT_EQ(daemon.Vty("show running-config"), before);
  for (const char* line : {"wlan auto-ap disable\n", "wlan ap lab4 model mx-325e apid",
                           "wlan ap lab2 model lab-custom apid", " lan-port 2 shutdown\n",
                           "!\ncloud server cloud.example.net port 8884\n!\n"}) {
    EXPECT_NE(before.find(line), std::string::npos) << line << before;
  }
  EXPECT_EQ(before.find("debug-nonsense"), std::string::npos);
  EXPECT_EQ(daemon.output().find("capwap.conf:", daemon.output().find(":1:") + 3),
            std::string::npos) << "the saved file replays without a bad line";
  EXPECT_EQ(daemon.StopWith(SIGINT), 0);
}

}  // namespace
}  // namespace capwap::test
