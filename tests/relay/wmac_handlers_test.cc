// The requests the channel handles itself, played by the WMAC simulator over
// the real listener: AP deletion, AP groups, the discovered-AP window and
// the management-frame relay on the data socket.
#include <arpa/inet.h>
#include <netinet/in.h>

#include "config/ap_group.h"
#include "config/ap_persist.h"
#include "export/cloud.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "support/controller.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/sendq.h"
#include "transport/sockets.h"
#include "support/udp_endpoint.h"

namespace capwap::test {
namespace {

constexpr int kApTable = 37, kGroupTable = 38, kByMacTable = 129;

std::optional<Bytes> Stored(int table, uint32_t key) { return DBM_Fetch(table, HostU32(key).data(), 4); }
IpcHead Head(uint32_t type, uint32_t wtp_id) { return IpcHead{0, 1, type, wtp_id, 0, 4, 0}; }

class WmacHandlersTest : public ControllerLab {};

TEST_F(WmacHandlersTest, GroupsAreCreatedDeletedAndBoundedByTheirNumber) {
  FromWmac(32, 0, HostU32(7));
  ASSERT_NE(ApGroupGet(7), nullptr);
  auto stored = Stored(kGroupTable, 7);
  ASSERT_TRUE(stored.has_value());
  ASSERT_EQ(stored->size(), kApGroupRecordSize);
  EXPECT_EQ(U32At(*stored, 0), 7u);
  EXPECT_EQ(U32At(*stored, 84), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(*stored, 100), 1u);
  ApGroupGet(7)->lan_vlan = 42;
  FromWmac(32, 0, HostU32(7));  // an existing group is left as it is
  EXPECT_EQ(ApGroupGet(7)->lan_vlan, 42u);

  EXPECT_EQ(AC_IPC_ProcAddApGroup(Head(32, 0), HostU32(513).data()), 1);
  EXPECT_EQ(AC_IPC_ProcAddApGroup(Head(32, 0), HostU32(512).data()), 0);
  EXPECT_EQ(AC_IPC_ProcDelApGroup(Head(33, 0), HostU32(513).data()), 1);
  LogCapture log;
  FromWmac(32, 0, Bytes{1, 0});
  EXPECT_TRUE(log.Contains(" AP group message 32 without a group number."));

  FromWmac(33, 0, HostU32(7));
  EXPECT_EQ(ApGroupGet(7), nullptr);
  EXPECT_FALSE(Stored(kGroupTable, 7).has_value());
  FromWmac(33, 0, HostU32(7));  // absent: harmless
  ASSERT_NE(ApGroupCreate(1), nullptr);
  FromWmac(33, 0, HostU32(1));  // every AP's group from creation on stays
  EXPECT_TRUE(log.Contains(" AP group 1 cannot be deleted."));
  EXPECT_TRUE(Stored(kGroupTable, 1).has_value());
}

TEST_F(WmacHandlersTest, ApJoinsAndLeavesAGroupWithItsSettings) {
  CW_WTPCB* wtp = MakeAp("hall", 4);
  ASSERT_NE(wtp, nullptr);
  FromWmac(32, 0, HostU32(5));
  CW_APGROUP* group = ApGroupGet(5);
  ASSERT_NE(group, nullptr);
  group->controlled_ac_v4 = 1;
  group->controlled_ac_ipv4 = 0x0A000001;
  group->controlled_ac_ipv6.fill(0x20);
  FromWmac(34, 4, HostU32(5));
  EXPECT_EQ(wtp->group_id, 5u);
  EXPECT_EQ(wtp->group_ac.v4, 1);
  EXPECT_EQ(wtp->group_ac.ipv4, 0x0A000001u);
  EXPECT_EQ(wtp->group_ac.ipv6[15], 0x20);
  EXPECT_EQ(U32At(*Stored(kApTable, 4), 64), 5u) << "the AP record is rewritten with its group";
  FromWmac(35, 4, HostU32(5));
  EXPECT_EQ(wtp->group_id, 5u) << "the group number stays";
  EXPECT_EQ(wtp->group_ac.v4, 0);
  EXPECT_EQ(wtp->group_ac.ipv6[15], 0);

  // A missing WTP is not an error, group 513 is; a group not yet created hands down nothing.
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(Head(34, 30), HostU32(5).data()), 0);
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(Head(34, 4), HostU32(513).data()), 1);
  wtp->group_ac.v4 = 1;
  EXPECT_EQ(AC_IPC_ProcAddApToGroup(Head(34, 4), HostU32(77).data()), 0);
  EXPECT_EQ(wtp->group_id, 77u);
  EXPECT_EQ(wtp->group_ac.v4, 0);
  EXPECT_EQ(AC_IPC_ProcRemApToGroup(Head(35, 4), HostU32(600).data()), 1);
}

TEST_F(WmacHandlersTest, DelWtpRemovesAnIdleApAndWhatItHoldsButNotARunningOne) {
  CW_WTPCB* roof = MakeAp("roof", 8);
  roof->state = kStateRun;
  LogCapture log;
  FromWmac(1, 8);
  EXPECT_TRUE(log.Contains("CLEAN AP(roof:8) IN WRONG STATE 5 "));
  EXPECT_EQ(CW_AC_GetWTPByID(8), roof);
  roof->state = kStateIdle;

  CW_WTPCB* wtp = MakeAp("porch", 6);
  ASSERT_NE(wtp, nullptr);
  std::array<uint8_t, 6> mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  wtp->mac = mac;
  ASSERT_EQ(CW_AC_AddWTPByMac(mac, wtp), 0);
  // An Idle AP may still hold a queued request and armed timers.
  CwPktPtr request = CW_AC_PktMalloc();
  ASSERT_TRUE(request);
  FinishCtlMsg(*request, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  ASSERT_EQ(CW_AC_SendCtlMsg(std::move(request), wtp), 0);
  ASSERT_TRUE(wtp->frag.timer.Start(lab_.master(), 30, CW_AC_FragTimerHandler, wtp));
  peers_->ClearHistory();
  FromWmac(1, 6);
  EXPECT_EQ(CW_AC_GetWTPByID(6), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByNAME("porch"), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByMac(mac), nullptr);
  EXPECT_FALSE(Stored(kApTable, 6).has_value());
  EXPECT_FALSE(DBM_Fetch(kByMacTable, mac.data(), 6).has_value());
  EXPECT_EQ(peers_->CountReceived(sim::Peer::kWmac, WmacMsg::kDeleteAp), 0u)
      << "WMAC asked for the deletion; it is not told back";
  lab_.RunFor(120);  // nothing the block armed fires on it afterwards
  EXPECT_NE(MakeAp("porch", 6), nullptr) << "the APID and the name can be used again";
}

TEST_F(WmacHandlersTest, StatusRequestOpensTheDiscoveredApWindowForItsSeconds) {
  FromWmac(76, 0);  // without exactly four bytes: no window
  FromWmac(76, 0, Bytes(8, 1));
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);
  LogCapture log;
  FromWmac(76, 0, HostU32(10));
  EXPECT_TRUE(log.Contains("Start to send auto-ap to cloud in 10 seconds"));
  lab_.RunFor(5);
  FromWmac(76, 0, HostU32(10));  // a new request restarts the window
  lab_.RunFor(9);
  EXPECT_EQ(g_bCwAutoAptoCloud, 1);
  lab_.RunFor(1);
  EXPECT_EQ(g_bCwAutoAptoCloud, 0);

  FailNext(FailFamily::kTimerCreate, 1);
  ProcApStatusReq(Head(76, 0), HostU32(30).data());
  EXPECT_EQ(g_bCwAutoAptoCloud, 0) << "a window that could not close stays closed";
  EXPECT_TRUE(log.Contains(" Discovered-AP window timer could not be created."));
}

TEST_F(WmacHandlersTest, ManagementFrameGoesOutBehindADataHeaderFromTheFrameParameter) {
  UdpEndpoint ac, at_wtp;
  g_iAC_DataSockId = ac.fd();
  CW_WTPCB* wtp = MakeAp("mesh", 3);
  ASSERT_NE(wtp, nullptr);
  wtp->data_end.SetIpv4(INADDR_LOOPBACK);
  wtp->data_end.port = at_wtp.port();
  const Bytes frame = {0xB0, 0x00, 0x3A, 0x01, 0xAA, 0xBB};
  IpcHead head = Head(28, 3);
  head.frame_param = (2u << 24) | (1u << 16) | (1u << 8);  // RID 2, WBID 1, T
  ASSERT_TRUE(peers_->SendToAc(sim::Peer::kWmac, head, frame));
  lab_.Settle();
  std::vector<Bytes> got = at_wtp.Drain();
  ASSERT_EQ(got.size(), 1u);
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, got[0].data());
  EXPECT_EQ(hdr.Hlen(), 2u);
  EXPECT_EQ(hdr.Rid(), 2u);
  EXPECT_EQ(hdr.Wbid(), 1u);
  EXPECT_TRUE(hdr.T());
  EXPECT_EQ(Bytes(got[0].begin() + 8, got[0].end()), frame);

  LogCapture log;
  FromWmac(28, 29, Bytes(4, 1));
  EXPECT_TRUE(log.Contains(" Failed to find AP entry when sending management frame to AP."));
  g_iAC_DataSockId = -1;
  FromWmac(28, 3, Bytes(4, 1));
  EXPECT_TRUE(log.Contains("Send mange frame msg to 0x7f000001:" + std::to_string(at_wtp.port()) + " error"))
      << log.text();
  EXPECT_TRUE(at_wtp.Drain().empty());
}

}  // namespace
}  // namespace capwap::test
