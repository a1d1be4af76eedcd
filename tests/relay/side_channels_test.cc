// WRRM and WIDS datagrams, read back from sockets bound at the peers' paths.
#include "relay/side_channels.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/fail_inject.h"
#include "platform/paths.h"
#include "support/lab.h"
#include "support/truncation.h"

namespace capwap::test {
namespace {

// A datagram socket bound at RootPath(abs_path).
class DatagramPeer {
 public:
  explicit DatagramPeer(const char* abs_path) : path_(RootPath(abs_path)) {
    MakeParentDirs(path_);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    path_.copy(sa.sun_path, sizeof sa.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path_;
  }
  ~DatagramPeer() {
    close(fd_);
    unlink(path_.c_str());
  }
  // The next datagram, or empty when none is waiting.
  Bytes Next() {
    Bytes buf(70000);
    ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    buf.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return buf;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

TEST(SideChannels, WrrmReportsCarryTheirDataRadioAndApUpTo4080Bytes) {
  DaemonContext lab;
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 1) << "nobody listening";
  DatagramPeer wrrm("/tmp/wrrm_ac_addr");
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 5, 0), 0);
  EXPECT_TRUE(BytesMatch(wrrm.Next(), {{Hex("02 04 01 00"), "from AC, to WRRM, AP report"},
                                       {HostU32(0), "length"}, {HostU32(5), "AP"}, {HostU32(0), "radio"}}));
  const Bytes data = Fill(0xA0, 20);
  ASSERT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(data.data(), data.size(), 12, 2), 0);
  EXPECT_EQ(wrrm.Next(), Cat({Hex("02 04 01 00"), HostU32(20), HostU32(12), HostU32(2), data}));
  const Bytes big(5000, 0x5A);
  ASSERT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(big.data(), big.size(), 12, 1), 0);
  const Bytes got = wrrm.Next();
  EXPECT_EQ(got.size(), 4096u);
  EXPECT_EQ(Bytes(got.begin() + 4, got.begin() + 8), HostU32(4080));

  FailNext(FailFamily::kIpcSend, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Wrrm_Ipc_Send::Create socket error!"), std::string::npos);
  EXPECT_TRUE(wrrm.Next().empty());
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 0) << "the next one goes";

  DatagramPeer wmac("/tmp/wmac_ac_addr");
  WrrmHead head;
  head.dst = 0;  // module 0 is WMAC's path
  EXPECT_EQ(Wrrm_Ipc_Send(head, nullptr, 0), 0);
  EXPECT_FALSE(wmac.Next().empty());
  head.dst = 6;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Wrrm_Ipc_Send(head, nullptr, 0), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Wrrm_Ipc_Send::IpcHead Error!"), std::string::npos);
}

TEST(SideChannels, WidsGetConfigAndReportsCarryTheApAtOffset16) {
  DaemonContext lab;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WIDS_Ac_Ipc_GetCfg(lab.ctx(), 3), 1) << "nobody listens";
  DatagramPeer wids("/tmp/wids_ac_addr");
  FailNext(FailFamily::kIpcSend, 1);
  EXPECT_EQ(WIDS_Ac_Ipc_GetCfg(lab.ctx(), 3), 1);
  EXPECT_TRUE(wids.Next().empty()) << "the failed send put nothing on the socket";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("WIDS_Ac_Ipc_Send::send error!"), std::string::npos);

  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab.ctx(), 0x01020304), 0);
  EXPECT_TRUE(BytesMatch(wids.Next(), {{Hex("02 06 00 00"), "from AC, to WIDS, get configuration"},
                                       {HostU32(0), "length"}, {Fill(0, 8), "unused"}, {HostU32(0x01020304), "AP"}}));
  const Bytes data = {9, 8, 7};
  ASSERT_EQ(WIDS_Ac_Ipc_WIDSReport(lab.ctx(), data.data(), data.size(), 7), 0);
  const Bytes got = wids.Next();
  EXPECT_EQ(got, Cat({Hex("02 06 05 00"), HostU32(3), Fill(0, 8), HostU32(7), data}));
  WidsHead head;
  ASSERT_TRUE(WidsHeadDecode(got, &head));
  EXPECT_EQ(head.type, WIDS_MSG_REPORT);
  EXPECT_EQ(head.apid, 7u);
  EXPECT_FALSE(WidsHeadDecode(ByteView(got).first(19), &head));
}

}  // namespace
}  // namespace capwap::test
