#include "transport/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/debug.h"
#include "platform/log.h"
#include "platform/nsm.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "support/lab.h"
#include "transport/codec.h"

namespace {

class SocketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = capwap::test::FreePortBase();
    ASSERT_NE(base_, 0);
    setenv("CAPWAP_PORT_BASE", std::to_string(base_).c_str(), 1);
  }
  void TearDown() override {
    AC_SockClose();
    g_ucNeedEncrypt = 0;
    unsetenv("CAPWAP_PORT_BASE");
  }

  // A WTP-side socket on 127.0.0.1 with an ephemeral port.
  int WtpSocket(sockaddr_in* bound) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof *bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(bound), &len);
    return fd;
  }
  sockaddr_in AcControl() {
    sockaddr_in ac{};
    ac.sin_family = AF_INET;
    ac.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ac.sin_port = htons(base_);
    return ac;
  }

  capwap::test::DaemonContext lab_;
  uint16_t base_ = 0;
};

TEST_F(SocketsTest, AllFiveSocketsBindOnTheMovedPorts) {
  ASSERT_EQ(AC_SockInit(), 0);
  EXPECT_GE(g_iAC_IP4SockId, 0);
  EXPECT_GE(g_iAC_IP6SockId, 0);
  EXPECT_GE(g_iAC_DataSockId, 0);
  EXPECT_GE(g_iAC_DataSock6Id, 0);
  EXPECT_GE(g_iAC_MonCoreFd, 0);
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(g_iAC_IP4SockId, reinterpret_cast<sockaddr*>(&sa), &len);
  EXPECT_EQ(ntohs(sa.sin_port), base_);
  getsockname(g_iAC_DataSockId, reinterpret_cast<sockaddr*>(&sa), &len);
  EXPECT_EQ(ntohs(sa.sin_port), base_ + 1);
  getsockname(g_iAC_MonCoreFd, reinterpret_cast<sockaddr*>(&sa), &len);
  EXPECT_EQ(ntohs(sa.sin_port), base_ + 2);
  int v6only = 0;
  len = sizeof v6only;
  getsockopt(g_iAC_IP6SockId, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &len);
  EXPECT_EQ(v6only, 1);
  // Every socket is registered with the loop.
  EXPECT_EQ(thread_master_read_count(lab_.master()), 5u);
  // Closing forgets the descriptors and the read events.
  AC_SockClose();
  EXPECT_EQ(g_iAC_IP4SockId, -1);
  EXPECT_EQ(g_iAC_MonCoreFd, -1);
  EXPECT_EQ(thread_master_read_count(lab_.master()), 0u);
}

TEST_F(SocketsTest, ReceiveRecordsArrivalAndReplyLeavesFromIt) {
  g_iAC_IP4SockId = AC_SockIP4Init(0, base_);
  ASSERT_GE(g_iAC_IP4SockId, 0);
  sockaddr_in wtp_addr{};
  int wtp = WtpSocket(&wtp_addr);
  sockaddr_in ac = AcControl();
  ASSERT_EQ(sendto(wtp, "hello", 5, 0, reinterpret_cast<sockaddr*>(&ac), sizeof ac), 5);

  uint8_t buf[64];
  sockaddr_in from{};
  CW_PKTINFO info;
  ASSERT_EQ(CW_SockRcv(g_iAC_IP4SockId, buf, sizeof buf, &from, &info, 0), 5);
  EXPECT_EQ(from.sin_port, wtp_addr.sin_port);
  EXPECT_NE(info.ifindex, 0u);
  EXPECT_EQ(info.addr, INADDR_LOOPBACK);
  EXPECT_EQ(info.spec_dst, INADDR_LOOPBACK);

  CW_SNDDESC desc;
  desc.fd = g_iAC_IP4SockId;
  desc.remote = CW_AddrFromSockaddr4(from);
  desc.local.ifindex = info.ifindex;
  desc.local.local_ipv4 = info.spec_dst;
  desc.local.SetIpv4(info.addr);
  uint8_t reply[] = {'o', 'k'};
  ASSERT_EQ(CW_SockSnd(&desc, reply, sizeof reply, 0), 0);
  char got[8] = {};
  sockaddr_in src{};
  socklen_t len = sizeof src;
  ASSERT_EQ(recvfrom(wtp, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&src), &len), 2);
  EXPECT_STREQ(got, "ok");
  EXPECT_EQ(ntohs(src.sin_port), base_);
  close(wtp);
}

TEST_F(SocketsTest, ABatchSendsItsHeldDatagramsInOrderPastAFailure) {
  g_iAC_IP4SockId = AC_SockIP4Init(0, base_);
  ASSERT_GE(g_iAC_IP4SockId, 0);
  sockaddr_in wtp_addr{};
  int wtp = WtpSocket(&wtp_addr);
  CW_SNDDESC desc;
  desc.fd = g_iAC_IP4SockId;
  desc.remote = CW_AddrFromSockaddr4(wtp_addr);
  CW_SNDDESC nowhere = desc;
  nowhere.remote.port = 0;  // refused by the kernel

  g_ulCwDebugBitmap = CW_DBG_ERROR;
  capwap::LogCapture log;
  CW_SockSndBatchBegin(g_iAC_IP4SockId);
  // More than a batch holds at once, with a refused datagram among them.
  constexpr uint8_t kCount = 3 * kCwRcvBatch;
  for (uint8_t i = 0; i < kCount; ++i) {
    if (i == 5) {
      EXPECT_EQ(CW_SockSnd(&nowhere, &i, 1, 0), 0);
    }
    uint8_t octet = i;
    EXPECT_EQ(CW_SockSnd(&desc, &octet, 1, 0), 0);
    if (i == 0) {
      EXPECT_LT(recv(wtp, &octet, 1, MSG_DONTWAIT), 0) << "held, not sent";
    }
  }
  CW_SockSndBatchEnd();
  g_ulCwDebugBitmap = 0;
  EXPECT_TRUE(log.Contains("Send ctrl pkt to 127.0.0.1:0 error Invalid argument\n"));
  for (uint8_t i = 0; i < kCount; ++i) {
    uint8_t got = 0xFF;
    ASSERT_EQ(recv(wtp, &got, 1, MSG_DONTWAIT), 1);
    EXPECT_EQ(got, i);
  }
  // Outside a batch a datagram goes out at once.
  uint8_t last = 0xAA;
  ASSERT_EQ(CW_SockSnd(&desc, &last, 1, 0), 0);
  EXPECT_EQ(recv(wtp, &last, 1, MSG_DONTWAIT), 1);
  close(wtp);
}

TEST_F(SocketsTest, ScramblingAppliesOnlyWhenAsked) {
  g_iAC_IP4SockId = AC_SockIP4Init(0, base_);
  sockaddr_in wtp_addr{};
  int wtp = WtpSocket(&wtp_addr);
  uint8_t plain[] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t scrambled[sizeof plain];
  std::memcpy(scrambled, plain, sizeof plain);
  CW_Encrypt(scrambled, sizeof scrambled, kCwScrambleKey);
  sockaddr_in ac = AcControl();
  sendto(wtp, scrambled, sizeof scrambled, 0, reinterpret_cast<sockaddr*>(&ac), sizeof ac);
  uint8_t buf[16];
  sockaddr_in from{};
  CW_PKTINFO info;
  ASSERT_EQ(CW_SockRcv(g_iAC_IP4SockId, buf, sizeof buf, &from, &info, 1), 8);
  EXPECT_EQ(std::memcmp(buf, plain, sizeof plain), 0);

  CW_SNDDESC desc;
  desc.fd = g_iAC_IP4SockId;
  desc.remote = CW_AddrFromSockaddr4(wtp_addr);
  uint8_t out[sizeof plain];
  std::memcpy(out, plain, sizeof plain);
  ASSERT_EQ(CW_SockSnd(&desc, out, sizeof out, 1), 0);
  EXPECT_EQ(std::memcmp(out, scrambled, sizeof out), 0);  // scrambled in place
  uint8_t got[16];
  ASSERT_EQ(recv(wtp, got, sizeof got, 0), 8);
  EXPECT_EQ(std::memcmp(got, scrambled, sizeof scrambled), 0);
  close(wtp);
}

TEST_F(SocketsTest, Ipv6SendGoesToTheRemoteAndFailuresReport) {
  ASSERT_EQ(AC_SockIP6Init(), 0);
  int wtp = socket(AF_INET6, SOCK_DGRAM, 0);
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  if (bind(wtp, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(wtp);
    GTEST_SKIP() << "no IPv6 loopback";
  }
  socklen_t len = sizeof sa;
  getsockname(wtp, reinterpret_cast<sockaddr*>(&sa), &len);
  CW_SNDDESC desc;
  desc.fd = g_iAC_IP6SockId;
  desc.remote = CW_AddrFromSockaddr6(sa);
  uint8_t msg[] = {9, 9, 9};
  // IPv6 traffic is never scrambled, whatever the switch says.
  ASSERT_EQ(CW_SockSndMsg(&desc, msg, sizeof msg, 1), 0);
  uint8_t got[8];
  ASSERT_EQ(recv(wtp, got, sizeof got, 0), 3);
  EXPECT_EQ(got[0], 9);
  close(wtp);

  desc.fd = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(CW_Sock6Snd(&desc, msg, sizeof msg), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("CW_SockSndIpv6::sendto Error"),
            std::string::npos);
}

TEST(SocketAddr, ConversionsKeepHostOrderWords) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(0x0A000102);
  sa.sin_port = htons(40000);
  CW_ADDR addr = CW_AddrFromSockaddr4(sa);
  EXPECT_EQ(addr.family, 0);
  EXPECT_EQ(addr.Ipv4(), 0x0A000102u);
  EXPECT_EQ(addr.port, 40000);
  sockaddr_in back = CW_AddrToSockaddr4(addr);
  EXPECT_EQ(back.sin_addr.s_addr, sa.sin_addr.s_addr);
  char text[64];
  EXPECT_STREQ(CW_AddrText(addr, text, sizeof text), "10.0.1.2");
}

}  // namespace

namespace {

TEST_F(SocketsTest, MulticastJoinFollowsInterfaceAddresses) {
  nsm_if_address v4;
  v4.family = AF_INET;
  v4.ifindex = 1;
  EXPECT_EQ(capwap_nsm_if_v6addr_add(v4), 0);  // IPv4 addresses are not for us

  nsm_if_address down;
  down.family = AF_INET6;
  down.ifindex = 1;
  down.usable = false;
  EXPECT_EQ(capwap_nsm_if_v6addr_add(down), 0);  // skipped, not a failure

  nsm_if_address up = down;
  up.usable = true;
  EXPECT_EQ(capwap_nsm_if_v6addr_add(up), 1);  // no IPv6 control socket yet

  ASSERT_EQ(AC_SockIP6Init(), 0);
  nsm_if_address nowhere = up;
  nowhere.ifindex = 0x7FFFFFF0;  // no such interface: the join fails
  EXPECT_EQ(capwap_nsm_if_v6addr_add(nowhere), 1);
}

}  // namespace
