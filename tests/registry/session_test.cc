#include "registry/session.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "daemon/capwap.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/paths.h"
#include "registry/registry_fixture.h"
#include "registry/wtp_record.h"
#include "transport/sendq.h"

namespace capwap::test {
namespace {

class SessionTest : public RegistryTest {
 protected:
  // An AP in the middle of a session: indexed by endpoint and session ID,
  // with the state and flags a session leaves behind.
  CW_WTPCB* InSession(uint32_t state, uint8_t auto_created = 0, uint32_t master_status = 1) {
    CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", 0xFFFFFFFFu, "", auto_created);
    EXPECT_NE(wtp, nullptr);
    wtp->mac = {0x00, 0x0C, 0x29, 0x01, 0x02, static_cast<uint8_t>(wtp->apid)};
    wtp->state = state;
    wtp->master_status = master_status;
    wtp->local.SetIpv4(0xC0A80101);
    wtp->local.port = 5246;
    wtp->data_end.SetIpv4(0xC0A80164);
    wtp->data_end.port = 40100;
    CW_ADDR remote;
    remote.SetIpv4(0xC0A80164);
    remote.port = static_cast<uint16_t>(40000 + wtp->apid);
    CW_AC_AddWTPByIP(remote, wtp);
    std::array<uint8_t, 16> sid{};
    sid.fill(static_cast<uint8_t>(0x40 + wtp->apid));
    CW_AC_AddWTPBySESSID(sid, wtp);
    wtp->req_seq = 9;
    wtp->last_rcv_seq = 8;
    wtp->prev_rcv_seq = 7;
    wtp->wait_rdbind = wtp->wait_wrrm = wtp->wait_wids = 1;
    wtp->session_flag = 1;
    wtp->image_id.fill(0x33);
    wtp->image_size = 1000;
    wtp->image_path = "/tmp/image";
    wtp->crash_data.push_back(Bytes{1, 2, 3});
    SetFieldText(wtp->descriptor.sw_version, "1.2.3");
    wtp->rdbind.idle_timeout = 300;
    wtp->rdbind.radios[0].sub[1] = Bytes{1, 0, 0};
    return wtp;
  }
  void Arm(capwap::Timer& timer, long seconds, thread_func handler, CW_WTPCB* wtp) {
    ASSERT_TRUE(timer.Start(CW_Master(), seconds, handler, wtp));
  }
  static bool Indexed(const CW_WTPCB* wtp) {
    for (const auto& bucket : g_pstAC_WTPDBTableByIp->buckets) {
      if (bucket.count) return true;
    }
    for (const auto& bucket : g_pstAC_WTPDBTableBySessionId->buckets) {
      if (bucket.count) return true;
    }
    return wtp->ip_link.Linked() || wtp->sess_link.Linked();
  }
  static uint32_t StoredState(const CW_WTPCB* wtp) {
    auto stored = DBM_Fetch(37, ApKey(wtp->apid).data(), 4);
    EXPECT_TRUE(stored);
    return stored ? U32At(*stored, 208) : 99;
  }
};

TEST_F(SessionTest, TeardownFromEveryStateReturnsToIdle) {
  for (uint32_t state = CW_STATE_IDLE; state <= CW_STATE_RESET; ++state) {
    SCOPED_TRACE(state);
    CW_WTPCB* wtp = InSession(state);
    wtp->concurrency_flag = 1;
    g_uiCwConcurrentWTPS = 1;
    g_uiCwApCount = 1;
    wmac_.Drain();
    LogCapture log;

    EXPECT_EQ(__CW_AC_HandleTunnelDown(wtp, __func__, __LINE__), 0);
    EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});
    EXPECT_EQ(StoredState(wtp), 0u);
    EXPECT_FALSE(Indexed(wtp));
    EXPECT_TRUE(wtp->remote.AddrIsZero());
    EXPECT_EQ(wtp->session_id, (std::array<uint8_t, 16>{}));
    EXPECT_EQ(wtp->concurrency_flag, 0);
    EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
    EXPECT_EQ(g_uiCwApCount, state == CW_STATE_RUN ? 0u : 1u);
    EXPECT_EQ(wtp->req_seq + wtp->last_rcv_seq + wtp->prev_rcv_seq, 0);
    EXPECT_EQ(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids + wtp->session_flag, 0);
    EXPECT_EQ(wtp->image_id, (std::array<uint8_t, 112>{}));
    EXPECT_EQ(wtp->image_size, 0u);
    EXPECT_TRUE(wtp->image_path.empty());
    EXPECT_TRUE(wtp->crash_data.empty());
    EXPECT_EQ(wtp->descriptor.sw_version[0], 0);
    EXPECT_EQ(wtp->rdbind.idle_timeout, 0u);
    EXPECT_FALSE(wtp->rdbind.radios[0].sub[1].has_value());
    EXPECT_EQ(CW_AC_GetWTPByID(wtp->apid), wtp) << "the block stays";
    char line[128];
    std::snprintf(line, sizeof line,
                  " FSM switched to Idle state with AP ap%u MAC [00:0c:29:01:02:%02x].\n",
                  wtp->apid, wtp->apid);
    EXPECT_TRUE(log.Contains(line)) << log.text();
    EXPECT_TRUE(log.Contains("CAPWAP offline"));

    auto tunnel = wmac_.DrainType(WMAC_MSG_TUNNEL_STATE);
    EXPECT_EQ(tunnel.size(), state == CW_STATE_RUN ? 1u : 0u);
    CW_AC_FreeWTP(wtp);
  }
}

TEST_F(SessionTest, RunningApSendsTheDownRecord) {
  CW_WTPCB* wtp = InSession(CW_STATE_RUN);
  g_uiCwApCount = 2;
  wmac_.Drain();
  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_EQ(g_uiCwApCount, 1u);
  auto tunnel = wmac_.DrainType(WMAC_MSG_TUNNEL_STATE);
  ASSERT_EQ(tunnel.size(), 1u);
  CW_TUNNEL_RECORD rec;
  ASSERT_TRUE(TunnelRecordDecode(tunnel[0].payload, &rec));
  EXPECT_EQ(rec.state, 0u);
  EXPECT_EQ(rec.apid, wtp->apid);
  EXPECT_EQ(rec.family, 0);
  CW_ADDR ac;
  ac.SetIpv4(0xC0A80101);
  EXPECT_EQ(rec.ac_addr, ac.addr) << "the local end of the control channel";
  EXPECT_EQ(rec.wtp_data_addr, wtp->data_end.addr);
  EXPECT_EQ(rec.ac_data_port, CapwapPort(kDataPort));
  EXPECT_EQ(rec.wtp_data_port, 40100);
  EXPECT_EQ(rec.virtual_ap, 0);
  EXPECT_EQ(rec.scrambled, 0);
  EXPECT_TRUE(wmac_.DrainType(WMAC_MSG_DELETE_AP).empty());
}

TEST_F(SessionTest, VirtualApLeavesTheApCountAlone) {
  CW_WTPCB* wtp = InSession(CW_STATE_RUN, 0, /*master_status=*/0);
  g_uiCwApCount = 3;
  wmac_.Drain();
  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_EQ(g_uiCwApCount, 3u);
  auto tunnel = wmac_.DrainType(WMAC_MSG_TUNNEL_STATE);
  ASSERT_EQ(tunnel.size(), 1u);
  CW_TUNNEL_RECORD rec;
  ASSERT_TRUE(TunnelRecordDecode(tunnel[0].payload, &rec));
  EXPECT_EQ(rec.virtual_ap, 1);
}

TEST_F(SessionTest, AutoApFailingInJoinIsDeletedFromWmacButKept) {
  CW_WTPCB* wtp = InSession(CW_STATE_JOIN, /*auto_created=*/1);
  wtp->concurrency_flag = 1;
  g_uiCwConcurrentWTPS = 1;
  Arm(wtp->join_timer, 6, CW_AC_ImgCfgTimerHandler, wtp);
  wmac_.Drain();

  lab_.RunFor(5);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_JOIN}) << "join wait still running at 5 s";
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});
  EXPECT_FALSE(wtp->join_timer.Running());
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  auto deleted = wmac_.DrainType(WMAC_MSG_DELETE_AP);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].head.wtp_id, wtp->apid);
  EXPECT_EQ(CW_AC_GetWTPByID(wtp->apid), wtp);
  EXPECT_EQ(CW_AC_GetWTPByNAME(wtp->name), wtp);
  EXPECT_EQ(DbmCount(37), 1u);
}

TEST_F(SessionTest, ConfiguredApFailingInJoinStaysKnownToWmac) {
  CW_WTPCB* wtp = InSession(CW_STATE_JOIN, 0);
  wmac_.Drain();
  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_TRUE(wmac_.DrainType(WMAC_MSG_DELETE_AP).empty());
}

TEST_F(SessionTest, ConfigAndDataCheckWaitsEndTheSession) {
  LogCapture log;
  CW_WTPCB* config = InSession(CW_STATE_CONFIG);
  Arm(config->cfg_ipc_timer, 10, CW_AC_IPCTimerHandler, config);
  CW_WTPCB* changing = InSession(CW_STATE_CONFIG);
  Arm(changing->chg_state_timer, 10, CW_AC_ChgStateTimerHandler, changing);
  CW_WTPCB* checking = InSession(CW_STATE_DATA_CHECK);
  Arm(checking->data_check_timer, 7, CW_AC_IPCTimerHandler, checking);

  lab_.RunFor(6);
  EXPECT_EQ(checking->state, uint32_t{CW_STATE_DATA_CHECK});
  lab_.RunFor(1);
  EXPECT_EQ(checking->state, uint32_t{CW_STATE_IDLE});
  EXPECT_TRUE(log.Contains(" IPC timer expired, so turn CAPWAP tunnel down.\n"));
  EXPECT_EQ(config->state, uint32_t{CW_STATE_CONFIG});
  EXPECT_EQ(changing->state, uint32_t{CW_STATE_CONFIG});
  lab_.RunFor(3);
  EXPECT_EQ(config->state, uint32_t{CW_STATE_IDLE});
  EXPECT_EQ(config->wait_rdbind + config->wait_wrrm + config->wait_wids, 0);
  EXPECT_EQ(changing->state, uint32_t{CW_STATE_IDLE});
  EXPECT_EQ(thread_master_timer_count(lab_.master()), 0u);
}

TEST_F(SessionTest, NeighbourDeadAfterFourEchoIntervals) {
  CW_WTPCB* wtp = InSession(CW_STATE_RUN);
  wtp->echo_interval = 10;
  CW_AC_RefreshLiveness(wtp);
  lab_.RunFor(30);
  CW_AC_RefreshLiveness(wtp);  // activity at 30 s: 40 s from now
  lab_.RunFor(39);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_RUN});
  lab_.RunFor(1);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});

  CW_AC_RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running()) << "outside Run nothing is armed";
}

TEST_F(SessionTest, EchoIntervalZeroNeverTimesOut) {
  CW_WTPCB* wtp = InSession(CW_STATE_RUN);
  wtp->echo_interval = 0;
  CW_AC_RestartNbrDeadTimer(wtp, 40);
  CW_AC_RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running()) << "the refresh cancels and does not re-arm";
  lab_.RunFor(3600);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_RUN});

  CW_AC_RestartNbrDeadTimer(wtp, 40);
  lab_.RunFor(40);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});
}

TEST_F(SessionTest, TimerCreationFailureIsLogged) {
  LogCapture log;
  CW_WTPCB* wtp = InSession(CW_STATE_RUN);
  FailNext(FailFamily::kTimerCreate, 1);
  CW_AC_RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());
  EXPECT_TRUE(log.Contains("neighbour-dead timer"));
  CW_AC_RefreshLiveness(wtp);
  EXPECT_TRUE(wtp->nbr_dead_timer.Running());
}

TEST_F(SessionTest, TeardownReleasesQueuedPacketsTimersAndTheImageFile) {
  CW_WTPCB* wtp = InSession(CW_STATE_RUN);
  for (uint32_t i = 0; i < 3; ++i) {
    auto pkt = std::make_unique<CW_PKT>();
    pkt->buffer.assign(512, 0xAB);
    wtp->sndq.ring[i] = std::move(pkt);
  }
  wtp->sndq.tail = 3;
  wtp->sndq.count = 3;
  wtp->sndq.tx_count = 2;
  CW_AC_RefreshLiveness(wtp);
  Arm(wtp->retrans_timer, 5, CW_AC_IPCTimerHandler, wtp);
  Arm(wtp->join_timer, 6, CW_AC_ImgCfgTimerHandler, wtp);
  Arm(wtp->cfg_ipc_timer, 10, CW_AC_IPCTimerHandler, wtp);
  Arm(wtp->chg_state_timer, 10, CW_AC_ChgStateTimerHandler, wtp);
  Arm(wtp->data_check_timer, 7, CW_AC_IPCTimerHandler, wtp);
  std::string image = lab_.root().Path("/image.bin");
  wtp->image_file.reset(std::fopen(image.c_str(), "w"));
  ASSERT_TRUE(wtp->image_file);

  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_FALSE(wtp->image_file);
  EXPECT_EQ(wtp->sndq.count, 0u);
  EXPECT_EQ(wtp->sndq.tx_count, 0u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_FALSE(wtp->sndq.ring[i]);
  for (const capwap::Timer* timer :
       {&wtp->retrans_timer, &wtp->join_timer, &wtp->cfg_ipc_timer, &wtp->chg_state_timer,
        &wtp->data_check_timer, &wtp->nbr_dead_timer}) {
    EXPECT_FALSE(timer->Running());
  }
  EXPECT_EQ(thread_master_timer_count(lab_.master()), 0u);
  lab_.RunFor(60);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});
}

TEST_F(SessionTest, TeardownOfAnIdleApIsHarmless) {
  CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", 0xFFFFFFFFu, "quiet", 0);
  ASSERT_NE(wtp, nullptr);
  wmac_.Drain();
  EXPECT_EQ(__CW_AC_HandleTunnelDown(wtp, __func__, __LINE__), 0);
  EXPECT_EQ(__CW_AC_HandleTunnelDown(wtp, __func__, __LINE__), 0);
  EXPECT_EQ(wtp->state, uint32_t{CW_STATE_IDLE});
  EXPECT_TRUE(wmac_.Drain().empty());
  EXPECT_EQ(CW_AC_DelWtpTimers(wtp), 0);
}

}  // namespace
}  // namespace capwap::test
