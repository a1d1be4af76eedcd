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
  DatagramPeer(const DatagramPeer&) = delete;
  DatagramPeer& operator=(const DatagramPeer&) = delete;
  // The next datagram, or nullopt when none is waiting.
  std::optional<Bytes> Next() {
    Bytes buf(70000);
    ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return buf;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

uint32_t U32(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}

class SideChannelTest : public ::testing::Test {
 protected:
  DaemonContext lab_;
};

TEST_F(SideChannelTest, EmptyWrrmReportIsASixteenByteDatagram) {
  DatagramPeer wrrm("/tmp/wrrm_ac_addr");
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 5, 0), 0);
  auto got = wrrm.Next();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 16u);
  EXPECT_EQ((*got)[0], 2) << "from this daemon";
  EXPECT_EQ((*got)[1], 4) << "to WRRM";
  EXPECT_EQ((*got)[2], 1) << "AP report";
  EXPECT_EQ((*got)[3], 0);
  EXPECT_EQ(U32(*got, 4), 0u);
  EXPECT_EQ(U32(*got, 8), 5u);
  EXPECT_EQ(U32(*got, 12), 0u);
}

TEST_F(SideChannelTest, WrrmReportCarriesItsDataAndRadio) {
  DatagramPeer wrrm("/tmp/wrrm_ac_addr");
  Bytes data(20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(data.data(), data.size(), 12, 2), 0);
  auto got = wrrm.Next();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 36u);
  EXPECT_EQ(U32(*got, 4), 20u);
  EXPECT_EQ(U32(*got, 12), 2u);
  EXPECT_EQ(Bytes(got->begin() + 16, got->end()), data);

  // At most 4080 bytes of data fit the 4096-byte message.
  Bytes big(5000, 0x5A);
  ASSERT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(big.data(), big.size(), 12, 1), 0);
  got = wrrm.Next();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), 4096u);
  EXPECT_EQ(U32(*got, 4), 4080u);
}

TEST_F(SideChannelTest, WrrmDestinationMustBeAKnownModule) {
  DatagramPeer wmac("/tmp/wmac_ac_addr");
  WrrmHead head;
  head.dst = 0;
  head.type = 1;
  EXPECT_EQ(Wrrm_Ipc_Send(head, nullptr, 0), 0);
  EXPECT_TRUE(wmac.Next().has_value()) << "module 0 is WMAC's path";

  head.dst = 6;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Wrrm_Ipc_Send(head, nullptr, 0), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Wrrm_Ipc_Send::IpcHead Error!"),
            std::string::npos);
}

TEST_F(SideChannelTest, WrrmFailuresArePrintedAndForgotten) {
  // Nobody listening: the send fails, nothing else happens.
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 1);

  DatagramPeer wrrm("/tmp/wrrm_ac_addr");
  FailNext(FailFamily::kIpcSend, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Wrrm_Ipc_Send::Create socket error!"),
            std::string::npos);
  EXPECT_FALSE(wrrm.Next().has_value());
  EXPECT_EQ(Wrrm_Ac_Ipc_Notify_ApReport(nullptr, 0, 1, 0), 0) << "the next one goes";
}

TEST_F(SideChannelTest, WidsGetConfigCarriesTheApIdAtOffset16) {
  DatagramPeer wids("/tmp/wids_ac_addr");
  ASSERT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 0x01020304), 0);
  auto got = wids.Next();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 20u) << "no data";
  EXPECT_EQ((*got)[0], 2);
  EXPECT_EQ((*got)[1], 6);
  EXPECT_EQ((*got)[2], 0) << "get configuration";
  EXPECT_EQ(U32(*got, 4), 0u);
  EXPECT_EQ(Bytes(got->begin() + 8, got->begin() + 16), Bytes(8, 0));
  EXPECT_EQ(U32(*got, 16), 0x01020304u);
}

TEST_F(SideChannelTest, WidsReportCarriesItsData) {
  DatagramPeer wids("/tmp/wids_ac_addr");
  Bytes data = {9, 8, 7};
  ASSERT_EQ(WIDS_Ac_Ipc_WIDSReport(lab_.ctx(), data.data(), data.size(), 7), 0);
  auto got = wids.Next();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 23u);
  EXPECT_EQ((*got)[2], 5);
  EXPECT_EQ(U32(*got, 4), 3u);
  EXPECT_EQ(U32(*got, 16), 7u);
  EXPECT_EQ(Bytes(got->begin() + 20, got->end()), data);

  WidsHead head;
  ASSERT_TRUE(WidsHeadDecode(*got, &head));
  EXPECT_EQ(head.type, WIDS_MSG_REPORT);
  EXPECT_EQ(head.apid, 7u);
  EXPECT_FALSE(WidsHeadDecode(ByteView(*got).first(19), &head));
}

TEST_F(SideChannelTest, WidsFailuresArePrintedAndForgotten) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 3), 1) << "nobody listens";
  DatagramPeer wids("/tmp/wids_ac_addr");
  FailNext(FailFamily::kIpcSend, 1);
  EXPECT_EQ(WIDS_Ac_Ipc_GetCfg(lab_.ctx(), 3), 1);
  EXPECT_FALSE(wids.Next().has_value()) << "the failed send put nothing on the socket";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("WIDS_Ac_Ipc_Send::send error!"),
            std::string::npos);
}

}  // namespace
}  // namespace capwap::test
