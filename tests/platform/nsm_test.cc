#include "platform/nsm.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/lib.h"
#include "platform/log.h"
#include "support/lab.h"

namespace {

std::vector<nsm_if_address>* g_seen = nullptr;

int RecordAddress(const nsm_if_address& address) {
  if (g_seen) g_seen->push_back(address);
  return 0;
}

const nsm_if_address* FindV4(const std::vector<nsm_if_address>& seen, const char* text) {
  in_addr wanted{};
  inet_pton(AF_INET, text, &wanted);
  for (const auto& a : seen) {
    if (a.family == AF_INET && a.v4.s_addr == wanted.s_addr) return &a;
  }
  return nullptr;
}

const nsm_if_address* FindV6(const std::vector<nsm_if_address>& seen, const char* text) {
  in6_addr wanted{};
  inet_pton(AF_INET6, text, &wanted);
  for (const auto& a : seen) {
    if (a.family == AF_INET6 && std::memcmp(&a.v6, &wanted, sizeof wanted) == 0) return &a;
  }
  return nullptr;
}

in_addr_t V4(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

class NsmTest : public ::testing::Test {
 protected:
  void SetUp() override { g_seen = &seen; }
  void TearDown() override { g_seen = nullptr; }

  nsm_client* StartClient() {
    nsm_client* nc = nsm_client_create(lab.ctx(), 0);
    if (!nc) return nullptr;
    nsm_client_set_version(nc, 1);
    nsm_client_set_protocol(nc, 27);
    for (int service : {0, 2, 24, 28}) nsm_client_set_service(nc, service);
    ifc_add_hook(nc, NSM_IF_ADDR_ADD, RecordAddress);
    nsm_client_set_parser(nc, 28, [] { return 0; });
    started = nsm_client_start(nc) == 0;
    return nc;
  }

  capwap::test::DaemonContext lab;
  std::vector<nsm_if_address> seen;
  bool started = false;
};

TEST_F(NsmTest, ReplaysLoopbackAddressesAsNotUsable) {
  nsm_client* nc = StartClient();
  ASSERT_NE(nc, nullptr);
  EXPECT_EQ(lab.ctx()->nc.get(), nc);
  if (!started) GTEST_SKIP() << "rtnetlink is not available here";
  int lo = static_cast<int>(if_nametoindex("lo"));
  const nsm_if_address* v4 = FindV4(seen, "127.0.0.1");
  if (!v4) GTEST_SKIP() << "no 127.0.0.1 in this network namespace";
  EXPECT_EQ(v4->ifindex, lo);
  EXPECT_EQ(v4->prefixlen, 8);
  EXPECT_FALSE(v4->usable);
  if (const nsm_if_address* v6 = FindV6(seen, "::1")) {
    EXPECT_EQ(v6->ifindex, lo);
    EXPECT_EQ(v6->prefixlen, 128);
    EXPECT_FALSE(v6->usable);
  }
  EXPECT_EQ(thread_master_read_count(lab.master()), 1u) << "the event socket is watched";
}

TEST_F(NsmTest, InterfaceLookups) {
  int lo = static_cast<int>(if_nametoindex("lo"));
  if (lo == 0 || if_lookup_by_ipv4_address(lab.ctx(), V4("127.0.0.1")) == 0) {
    GTEST_SKIP() << "no IPv4 loopback here";
  }
  EXPECT_EQ(if_lookup_by_ipv4_address(lab.ctx(), V4("127.0.0.1")), lo);
  EXPECT_EQ(if_getifaddress_byifindex(lab.ctx(), lo), V4("127.0.0.1"));
  EXPECT_EQ(if_lookup_by_ipv4_address(lab.ctx(), V4("203.0.113.77")), 0);
  EXPECT_EQ(if_getifaddress_byifindex(lab.ctx(), 0), 0u);
  EXPECT_EQ(if_getifaddress_byifindex(lab.ctx(), 999999), 0u);
}

TEST(NsmClientTest, DegradesWithoutAContext) {
  EXPECT_EQ(nsm_client_create(nullptr, 0), nullptr);
  EXPECT_NE(nsm_client_start(nullptr), 0);
  nsm_client_set_version(nullptr, 1);
  ifc_add_hook(nullptr, NSM_IF_ADDR_ADD, RecordAddress);
}

// --- Following address events in a network namespace of our own ---------

bool SetFlags(int fd, const char* name, short set) {
  ifreq req{};
  std::strncpy(req.ifr_name, name, IF_NAMESIZE - 1);
  if (ioctl(fd, SIOCGIFFLAGS, &req) != 0) return false;
  req.ifr_flags = static_cast<short>(req.ifr_flags | set);
  return ioctl(fd, SIOCSIFFLAGS, &req) == 0;
}

bool SetIpv4(int fd, const char* name, const char* address, const char* netmask) {
  ifreq req{};
  std::strncpy(req.ifr_name, name, IF_NAMESIZE - 1);
  auto* sin = reinterpret_cast<sockaddr_in*>(&req.ifr_addr);
  sin->sin_family = AF_INET;
  sin->sin_addr.s_addr = V4(address);
  if (ioctl(fd, SIOCSIFADDR, &req) != 0) return false;
  sin->sin_addr.s_addr = V4(netmask);
  return ioctl(fd, SIOCSIFNETMASK, &req) == 0;
}

// Runs in a child inside a fresh network namespace; returns "" on success or
// what went wrong.
std::string FollowEventsInOwnNamespace() {
  capwap::test::DaemonContext lab;
  std::vector<nsm_if_address> seen;
  g_seen = &seen;
  nsm_client* nc = nsm_client_create(lab.ctx(), 0);
  ifc_add_hook(nc, NSM_IF_ADDR_ADD, RecordAddress);
  if (nsm_client_start(nc) != 0) return "client did not start";
  if (!seen.empty()) return "a new namespace has no addresses yet";
  // A look-up that misses must not hide the address once it is added.
  if (if_lookup_by_ipv4_address(lab.ctx(), V4("192.0.2.1")) != 0) return "192.0.2.1 too early";

  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (ioctl(fd, SIOCBRADDBR, "brtest") != 0) return "skip: no bridge support";
  // An address on an interface that is down, then one on it once up.
  if (!SetIpv4(fd, "brtest", "192.0.2.1", "255.255.255.0")) return "cannot set the address";
  lab.Settle();
  if (!SetFlags(fd, "brtest", IFF_UP)) return "cannot bring the bridge up";
  if (!SetFlags(fd, "lo", IFF_UP)) return "cannot bring lo up";
  lab.Settle();
  close(fd);

  std::ostringstream problems;
  int bridge = static_cast<int>(if_nametoindex("brtest"));
  const nsm_if_address* down = FindV4(seen, "192.0.2.1");
  if (!down) {
    problems << "no event for 192.0.2.1; ";
  } else if (down->ifindex != bridge || down->prefixlen != 24 || down->usable) {
    problems << "192.0.2.1 reported as ifindex " << down->ifindex << " /"
             << int{down->prefixlen} << " usable " << down->usable << "; ";
  }
  const nsm_if_address* lo = FindV4(seen, "127.0.0.1");
  if (!lo || lo->usable) problems << "loopback event missing or usable; ";
  if (if_lookup_by_ipv4_address(lab.ctx(), V4("192.0.2.1")) != bridge) problems << "lookup; ";
  if (if_getifaddress_byifindex(lab.ctx(), bridge) != V4("192.0.2.1")) problems << "address; ";

  // Once up, the bridge's link-local IPv6 address (if any) is usable.
  for (const auto& a : seen) {
    if (a.family == AF_INET6 && a.ifindex == bridge && !a.usable) {
      problems << "IPv6 address of an up bridge not usable; ";
    }
  }

  // More events than the socket holds while the loop is busy elsewhere: the
  // lost ones come back through a dump read on the loop.
  constexpr int kAliases = 2000;
  fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (int i = 1; i <= kAliases; ++i) {
    std::string label = "brtest:" + std::to_string(i);
    std::string address = "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    ifreq req{};
    std::strncpy(req.ifr_name, label.c_str(), IF_NAMESIZE - 1);
    auto* sin = reinterpret_cast<sockaddr_in*>(&req.ifr_addr);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = V4(address.c_str());
    if (ioctl(fd, SIOCSIFADDR, &req) != 0) return "cannot add alias " + label;
  }
  close(fd);
  seen.clear();
  capwap::LogCapture log;
  lab.Settle();
  if (!log.Contains("netlink overrun")) problems << "no overrun with " << kAliases << " events; ";
  for (int i = 1; i <= kAliases; ++i) {
    std::string address = "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    if (!FindV4(seen, address.c_str())) {
      problems << address << " lost; ";
      break;
    }
  }
  g_seen = nullptr;
  return problems.str();
}

TEST(NsmNamespaceTest, FollowsAddressEvents) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(report[0]);
    std::string result =
        unshare(CLONE_NEWNET) != 0 ? "skip: no permission for a network namespace"
                                   : FollowEventsInOwnNamespace();
    if (write(report[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(report[1]);
  std::string result;
  char buf[512];
  for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) result.append(buf, static_cast<size_t>(n));
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child failed: " << status;
  if (result.rfind("skip: ", 0) == 0) GTEST_SKIP() << result.substr(6);
  EXPECT_EQ(result, "");
}

}  // namespace
