// The real binary, started from outside: options, sockets, PID file, vty,
// configuration replay and the orderly stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/db_tables.h"
#include "e2e/daemon_process.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "support/udp_endpoint.h"
#include "wtp-sim/wtp_messages.h"

namespace capwap::test {
namespace {

TEST(DaemonBinary, OptionsThenOneRunFromConfigurationToAnOrderlyStop) {
  std::string out, err;
  EXPECT_EQ(RunCapwap({"-h"}, &out, &err), 0);
  EXPECT_EQ(out.rfind("Usage : capwap [OPTION...]\n", 0), 0u);
  EXPECT_EQ(RunCapwap({"-r"}, &out, &err), 1);
  EXPECT_EQ(err, "Try `capwap --help' for more information.\n");

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

// Joins from several new APs (each stores its 39 KB record), garbage
// datagrams, and garbage on the IPC listener, until stopped.
void Flood(std::stop_token stop, uint16_t control_port, const std::string& ipc_path) {
  std::vector<std::unique_ptr<UdpEndpoint>> aps;
  std::vector<Bytes> joins;
  for (uint8_t i = 0; i < 8; ++i) {
    sim::WtpIdentity id;
    id.mac[5] = static_cast<uint8_t>(0x40 + i);
    id.name = "stopap-" + std::to_string(i);
    id.serial += std::to_string(i);
    id.session_id[0] = static_cast<uint8_t>(i + 1);
    aps.push_back(std::make_unique<UdpEndpoint>());
    joins.push_back(sim::BuildJoinRequest(id, i));
  }
  const Bytes garbage(300, 0xEE);
  sockaddr_un ipc{};
  ipc.sun_family = AF_UNIX;
  std::strncpy(ipc.sun_path, ipc_path.c_str(), sizeof ipc.sun_path - 1);
  int ipc_fd = -1;
  for (int round = 0; round < 200'000 && !stop.stop_requested(); ++round) {
    size_t i = static_cast<size_t>(round) % aps.size();
    aps[i]->SendTo(control_port, round % 3 == 0 ? garbage : joins[i]);
    aps[i]->Drain();
    if (ipc_fd < 0) {
      ipc_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
      if (connect(ipc_fd, reinterpret_cast<sockaddr*>(&ipc), sizeof ipc) != 0) {
        close(ipc_fd);
        ipc_fd = -1;
      }
    }
    if (ipc_fd >= 0 && send(ipc_fd, garbage.data(), 64, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
        errno != EAGAIN) {
      close(ipc_fd);
      ipc_fd = -1;
    }
    if (round % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (ipc_fd >= 0) close(ipc_fd);
}

TEST(DaemonBinary, FiftyStopsUnderTrafficEachExitCleanlyWithinASecond) {
  size_t stored = 0;
  for (int run = 0; run < 50; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.WaitReady()) << daemon.output();
    std::jthread flood(Flood, daemon.port_base(), daemon.root().Path("/tmp/cw_ac_addr"));
    // Land the signal at a different moment of the traffic each run.
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * (run % 6)));
    auto start = std::chrono::steady_clock::now();
    int status = daemon.StopWith(SIGTERM);
    auto took = std::chrono::steady_clock::now() - start;
    flood.request_stop();
    flood.join();
    std::string out = daemon.output();
    ASSERT_EQ(status, 0) << out;
    EXPECT_LT(took, std::chrono::seconds(1));
    // The stop ran after the loop ended, not inside the signal handler.
    size_t signal_line = out.find("Terminating on signal");
    EXPECT_NE(signal_line, std::string::npos) << out;
    EXPECT_NE(out.find("SCM: deregister service ac", signal_line), std::string::npos) << out;
    ASSERT_EQ(out.find("Sanitizer"), std::string::npos) << out;
    ASSERT_EQ(out.find("runtime error"), std::string::npos) << out;
    // The database the daemon closed opens again and holds the joined APs.
    ASSERT_EQ(DBM_Connect(), 0);
    ASSERT_EQ(DBM_Open(kDbCwAp, "cw_ap"), 0);
    stored += DbmCount(37);
    DBM_Disconnect();
  }
  EXPECT_GT(stored, 0u) << "the Joins never reached the database";
}

}  // namespace
}  // namespace capwap::test
