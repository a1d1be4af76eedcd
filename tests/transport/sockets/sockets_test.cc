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
    capwap::CloseSockets();
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

TEST_F(SocketsTest, ReceiveRecordsArrivalAndReplyLeavesFromIt) {
  g_iAC_IP4SockId = AC_SockIP4Init(0, base_);
  ASSERT_GE(g_iAC_IP4SockId, 0);
  sockaddr_in wtp_addr{};
  int wtp = WtpSocket(&wtp_addr);
  sockaddr_in ac = AcControl();
  ASSERT_EQ(sendto(wtp, "hello", 5, 0, reinterpret_cast<sockaddr*>(&ac), sizeof ac), 5);

  uint8_t buf[64];
  sockaddr_in from{};
  PktInfo info;
  ASSERT_EQ(CW_SockRcv(g_iAC_IP4SockId, buf, sizeof buf, &from, &info, 0), 5);
  EXPECT_EQ(from.sin_port, wtp_addr.sin_port);
  EXPECT_NE(info.ifindex, 0u);
  EXPECT_EQ(info.addr, INADDR_LOOPBACK);
  EXPECT_EQ(info.spec_dst, INADDR_LOOPBACK);

  SendDesc desc;
  desc.fd = g_iAC_IP4SockId;
  desc.remote = AddrFromSockaddr4(from);
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
  SendDesc desc;
  desc.fd = g_iAC_IP4SockId;
  desc.remote = AddrFromSockaddr4(wtp_addr);
  SendDesc nowhere = desc;
  nowhere.remote.port = 0;  // refused by the kernel

  g_ulCwDebugBitmap = kDbgError;
  capwap::LogCapture log;
  SockSndBatchBegin(g_iAC_IP4SockId);
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
  SockSndBatchEnd();
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

}  // namespace

namespace {

}  // namespace
