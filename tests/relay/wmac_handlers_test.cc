// The requests the channel handles itself, played by the WMAC simulator over
// the real listener: AP deletion, AP groups, the discovered-AP window and
// the management-frame relay on the data socket.
#include <arpa/inet.h>
#include <netinet/in.h>

#include "config/ap_persist.h"
#include "config/ap_group.h"
#include "export/cloud.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "registry/wtp_record.h"
#include "relay/relay_fixture.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/sendq.h"
#include "transport/sockets.h"

namespace capwap::test {
namespace {

constexpr int kApTable = 37;
constexpr int kGroupTable = 38;
constexpr int kByMacTable = 129;

Bytes Key(uint32_t n) { return U32Bytes(n); }

class WmacHandlersTest : public RelayTest {};

TEST_F(WmacHandlersTest, AddGroupStoresTheCreationDefaults) {
  FromWmac(32, 0, U32Bytes(7));
  ASSERT_NE(ApGroupGet(7), nullptr);
  auto stored = DBM_Fetch(kGroupTable, Key(7).data(), 4);
  ASSERT_TRUE(stored.has_value());
  ASSERT_EQ(stored->size(), kApGroupRecordSize);
  EXPECT_EQ(U32At(*stored, 0), 7u);
  EXPECT_EQ(U32At(*stored, 84), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(*stored, 88), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(*stored, 100), 1u);
  EXPECT_EQ(U32At(*stored, 168), 0u);

  // An existing group is left as it is.
  ApGroupGet(7)->lan_vlan = 42;
  FromWmac(32, 0, U32Bytes(7));
  EXPECT_EQ(ApGroupGet(7)->lan_vlan, 42u);
  EXPECT_EQ(U32At(*DBM_Fetch(kGroupTable, Key(7).data(), 4), 168), 0u) << "not stored again";
}

TEST_F(WmacHandlersTest, GroupNumbersFrom513AndShortPayloadsAreRefused) {
  size_t before = DbmCount(kGroupTable);
  EXPECT_EQ(AC_IPC_ProcAddApGroup(IpcHead{0, 1, 32, 0, 0, 4, 0}, U32Bytes(513).data()), 1);
  EXPECT_EQ(AC_IPC_ProcAddApGroup(IpcHead{0, 1, 32, 0, 0, 4, 0}, U32Bytes(512).data()), 0);
  EXPECT_NE(ApGroupGet(512), nullptr);
  LogCapture log;
  FromWmac(32, 0, Bytes{1, 0});
  EXPECT_TRUE(log.Contains(" AP group message 32 without a group number."));
  EXPECT_EQ(DbmCount(kGroupTable), before + 1);
}

TEST_F(WmacHandlersTest, DeleteGroupRemovesRecordAndMemory) {
  FromWmac(32, 0, U32Bytes(9));
  ASSERT_NE(ApGroupGet(9), nullptr);
  FromWmac(33, 0, U32Bytes(9));
  EXPECT_EQ(ApGroupGet(9), nullptr);
  EXPECT_FALSE(DBM_Fetch(kGroupTable, Key(9).data(), 4).has_value());
  // Absent and out-of-range groups are harmless.
  FromWmac(33, 0, U32Bytes(9));
  EXPECT_EQ(AC_IPC_ProcDelApGroup(IpcHead{0, 1, 33, 0, 0, 4, 0}, U32Bytes(513).data()), 1);
  // Group 1, every AP's group from creation on, stays.
  ASSERT_NE(ApGroupCreate(1), nullptr);
  LogCapture log;
  FromWmac(33, 0, U32Bytes(1));
  EXPECT_TRUE(log.Contains(" AP group 1 cannot be deleted."));
  EXPECT_NE(ApGroupGet(1), nullptr);
  EXPECT_TRUE(DBM_Fetch(kGroupTable, Key(1).data(), 4).has_value());
}

TEST_F(WmacHandlersTest, AddApToGroupCopiesTheGroupSettingsAndStores) {
  CW_WTPCB* wtp = MakeWtp("hall", 4);
  ASSERT_NE(wtp, nullptr);
  FromWmac(32, 0, U32Bytes(5));
  CW_APGROUP* group = ApGroupGet(5);
  ASSERT_NE(group, nullptr);
  group->controlled_ac_v4 = 1;
  group->controlled_ac_v6 = 1;
  group->controlled_ac_ipv4 = 0x0A000001;
  group->controlled_ac_ipv6.fill(0x20);

  FromWmac(34, 4, U32Bytes(5));
  EXPECT_EQ(wtp->group_id, 5u);
  EXPECT_EQ(wtp->group_ac.v4, 1);
  EXPECT_EQ(wtp->group_ac.v6, 1);
  EXPECT_EQ(wtp->group_ac.ipv4, 0x0A000001u);
  EXPECT_EQ(wtp->group_ac.ipv6[15], 0x20);
  auto stored = DBM_Fetch(kApTable, Key(4).data(), 4);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(U32At(*stored, 64), 5u) << "the AP record is rewritten with its group";

  FromWmac(35, 4, U32Bytes(5));
  EXPECT_EQ(wtp->group_id, 5u) << "the group number stays";
  EXPECT_EQ(wtp->group_ac.v4, 0);
  EXPECT_EQ(wtp->group_ac.ipv4, 0u);
  EXPECT_EQ(wtp->group_ac.ipv6[15], 0);
}

TEST_F(WmacHandlersTest, AddApToGroupEdgeCases) {
  CW_WTPCB* wtp = MakeWtp("hall", 4);
  // A missing WTP is not an error; a group number of 513 is.
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(IpcHead{0, 1, 34, 30, 0, 4, 0}, U32Bytes(5).data()), 0);
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(IpcHead{0, 1, 34, 4, 0, 4, 0}, U32Bytes(513).data()), 1);
  EXPECT_EQ(wtp->group_id, 1u);
  // A group WMAC has not created yet hands down no settings.
  wtp->group_ac.v4 = 1;
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(IpcHead{0, 1, 34, 4, 0, 4, 0}, U32Bytes(77).data()), 0);
  EXPECT_EQ(wtp->group_id, 77u);
  EXPECT_EQ(wtp->group_ac.v4, 0);
  EXPECT_EQ(AC_IPC_ProcRemApToGroup(IpcHead{0, 1, 35, 4, 0, 4, 0}, U32Bytes(600).data()), 1);
}

TEST_F(WmacHandlersTest, DelWtpRemovesAnIdleApAndWhatItHolds) {
  CW_WTPCB* wtp = MakeWtp("porch", 6);
  ASSERT_NE(wtp, nullptr);
  std::array<uint8_t, 6> mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  wtp->mac = mac;
  ASSERT_EQ(CW_AC_AddWTPByMac(mac, wtp), 0);
  ASSERT_TRUE(DBM_Fetch(kByMacTable, mac.data(), 6).has_value());
  ASSERT_TRUE(DBM_Fetch(kApTable, Key(6).data(), 4).has_value());
  // An Idle AP may still hold a queued request and armed timers.
  CwPktPtr request = CW_AC_PktMalloc();
  ASSERT_TRUE(request);
  CW_FinishCtlMsg(*request, CW_MSG_CFG_UPDATE_REQ, CW_AC_GetSeqNum(wtp, CW_MSG_CFG_UPDATE_REQ));
  ASSERT_EQ(CW_AC_SendCtlMsg(std::move(request), wtp), 0);
  ASSERT_TRUE(wtp->retrans_timer.Running());
  ASSERT_TRUE(wtp->frag.timer.Start(lab_.master(), 30, CW_AC_FragTimerHandler, wtp));
  sim_->ClearHistory();

  FromWmac(1, 6);
  EXPECT_EQ(CW_AC_GetWTPByID(6), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByNAME("porch"), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByMac(mac), nullptr);
  EXPECT_FALSE(DBM_Fetch(kApTable, Key(6).data(), 4).has_value());
  EXPECT_FALSE(DBM_Fetch(kByMacTable, mac.data(), 6).has_value());
  EXPECT_EQ(sim_->CountReceived(sim::Peer::kWmac, WMAC_MSG_DELETE_AP), 0u)
      << "WMAC asked for the deletion; it is not told back";
  lab_.RunFor(120);  // nothing the block armed fires on it afterwards
  EXPECT_NE(MakeWtp("porch", 6), nullptr) << "the APID and the name can be used again";
}

TEST_F(WmacHandlersTest, DelWtpLeavesARunningApAlone) {
  CW_WTPCB* wtp = MakeWtp("roof", 8);
  ASSERT_NE(wtp, nullptr);
  wtp->state = CW_STATE_RUN;
  LogCapture log;
  FromWmac(1, 8);
  EXPECT_TRUE(log.Contains("CLEAN AP(roof:8) IN WRONG STATE 5 "));
  EXPECT_EQ(CW_AC_GetWTPByID(8), wtp);
  EXPECT_TRUE(DBM_Fetch(kApTable, Key(8).data(), 4).has_value());
  wtp->state = CW_STATE_IDLE;
}

TEST_F(WmacHandlersTest, StatusRequestOpensTheDiscoveredApWindowForItsSeconds) {
  LogCapture log;
  FromWmac(76, 0, U32Bytes(30));
  EXPECT_TRUE(log.Contains("Start to send auto-ap to cloud in 30 seconds"));
  EXPECT_EQ(g_bCwAutoAptoCloud, 1);
  lab_.RunFor(29);
  EXPECT_EQ(g_bCwAutoAptoCloud, 1);
  lab_.RunFor(1);
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);

  // A new request restarts the window.
  FromWmac(76, 0, U32Bytes(10));
  lab_.RunFor(5);
  FromWmac(76, 0, U32Bytes(10));
  lab_.RunFor(9);
  EXPECT_EQ(g_bCwAutoAptoCloud, 1);
  lab_.RunFor(1);
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);
}

TEST_F(WmacHandlersTest, StatusRequestWithoutFourBytesOpensNoWindow) {
  FromWmac(76, 0);
  FromWmac(76, 0, Bytes(8, 1));
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);
}

TEST_F(WmacHandlersTest, WindowWhoseTimerCannotBeMadeStaysClosed) {
  LogCapture log;
  FailNext(FailFamily::kTimerCreate, 1);
  Bytes seconds = U32Bytes(30);
  AC_IPC_ProcApStatusReq(IpcHead{0, 1, 76, 0, 0, 4, 0}, seconds.data());
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);
  EXPECT_TRUE(log.Contains(" Discovered-AP window timer could not be created."));
}

// A UDP socket on 127.0.0.1 with an ephemeral port.
int LoopbackUdp(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  *port = ntohs(sa.sin_port);
  return fd;
}

class ManageFrameTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    uint16_t unused = 0;
    ac_fd_ = LoopbackUdp(&unused);
    wtp_fd_ = LoopbackUdp(&wtp_port_);
    g_iAC_DataSockId = ac_fd_;
    wtp_ = MakeWtp("mesh", 3);
    ASSERT_NE(wtp_, nullptr);
    wtp_->data_end.family = 0;
    wtp_->data_end.SetIpv4(INADDR_LOOPBACK);
    wtp_->data_end.port = wtp_port_;
  }
  void TearDown() override {
    g_iAC_DataSockId = -1;
    close(ac_fd_);
    close(wtp_fd_);
    RelayTest::TearDown();
  }
  Bytes ReceiveAtWtp() {
    uint8_t buf[2048];
    ssize_t n = recv(wtp_fd_, buf, sizeof buf, 0);
    return n > 0 ? Bytes(buf, buf + n) : Bytes{};
  }

  int ac_fd_ = -1;
  int wtp_fd_ = -1;
  uint16_t wtp_port_ = 0;
  CW_WTPCB* wtp_ = nullptr;
};

TEST_F(ManageFrameTest, FrameGoesOutBehindADataHeaderFromTheFrameParameter) {
  Bytes frame = {0xB0, 0x00, 0x3A, 0x01, 0xAA, 0xBB};
  IpcHead head;
  head.kind = 1;
  head.msg_type = 28;
  head.wtp_id = 3;
  head.frame_param = (2u << 24) | (1u << 16) | (1u << 8);  // RID 2, WBID 1, T
  ASSERT_TRUE(sim_->SendToAc(sim::Peer::kWmac, head, frame));
  lab_.Settle();

  Bytes got = ReceiveAtWtp();
  ASSERT_EQ(got.size(), 8 + frame.size());
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, got.data());
  EXPECT_EQ(hdr.Version(), 0u);
  EXPECT_EQ(hdr.Hlen(), 2u);
  EXPECT_EQ(hdr.Rid(), 2u);
  EXPECT_EQ(hdr.Wbid(), 1u);
  EXPECT_TRUE(hdr.T());
  EXPECT_FALSE(hdr.K());
  EXPECT_EQ(Bytes(got.begin() + 8, got.end()), frame);
}

TEST_F(ManageFrameTest, MissingWtpAndSendErrorsAreLogged) {
  LogCapture log;
  FromWmac(28, 29, Bytes(4, 1));
  EXPECT_TRUE(log.Contains(" Failed to find AP entry when sending management frame to AP."));

  g_iAC_DataSockId = -1;
  FromWmac(28, 3, Bytes(4, 1));
  char expected[64];
  snprintf(expected, sizeof expected, "Send mange frame msg to 0x7f000001:%d error", wtp_port_);
  EXPECT_TRUE(log.Contains(expected)) << log.text();
  EXPECT_TRUE(ReceiveAtWtp().empty());
}

}  // namespace
}  // namespace capwap::test
