#include "config/db_tables.h"
#include "registry/session.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "registry/acinfo.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/paths.h"
#include "support/controller.h"
#include "registry/wtp_record.h"
#include "transport/sendq.h"

namespace capwap::test {
namespace {

class SessionTest : public ControllerLab {
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
    auto stored = DBM_Fetch(kDbCwAp, ApKey(wtp->apid).data(), 4);
    EXPECT_TRUE(stored);
    return stored ? U32At(*stored, 208) : 99;
  }
};

// Teardown from every state: back to Idle, out of the session indexes,
// session areas cleared, the block kept; WMAC hears of a running AP's
// tunnel (count drops, a virtual AP's does not) and of an auto-created AP
// that never reached Run, never of a configured one; only a running AP is
// reported offline.
TEST_F(SessionTest, TeardownFromEveryStateReturnsToIdle) {
  struct Case {
    uint32_t state;
    uint8_t auto_created;
    uint32_t master_status;
    uint32_t tunnel_msgs, delete_msgs, ap_count_after;
  };
  const Case cases[] = {
      {kStateIdle, 0, 1, 0, 0, 2},   {kStateJoin, 0, 1, 0, 0, 2},
      {kStateJoin, 1, 1, 0, 1, 2},   {kStateImage, 0, 1, 0, 0, 2},
      {kStateConfig, 0, 1, 0, 0, 2}, {kStateDataCheck, 0, 1, 0, 0, 2},
      {kStateRun, 0, 1, 1, 0, 1},    {kStateRun, 0, 0, 1, 0, 2},
      {kStateReset, 0, 1, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << c.state << " auto " << int{c.auto_created}
                                    << " master " << c.master_status);
    CW_WTPCB* wtp = InSession(c.state, c.auto_created, c.master_status);
    wtp->concurrency_flag = 1;
    g_uiCwConcurrentWTPS = 1;
    g_uiCwApCount = 2;
    DrainWmac();
    LogCapture log;

    EXPECT_EQ(__CW_AC_HandleTunnelDown(wtp, __func__, __LINE__), 0);
    EXPECT_EQ(wtp->state, uint32_t{kStateIdle});
    EXPECT_EQ(StoredState(wtp), 0u);
    EXPECT_FALSE(Indexed(wtp));
    EXPECT_TRUE(wtp->remote.AddrIsZero());
    EXPECT_EQ(wtp->session_id, (std::array<uint8_t, 16>{}));
    EXPECT_EQ(wtp->concurrency_flag + g_uiCwConcurrentWTPS, 0u);
    EXPECT_EQ(g_uiCwApCount, c.ap_count_after);
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
    EXPECT_EQ(log.Contains("CAPWAP offline"), c.state == kStateRun) << "only Run was online";

    std::vector<sim::PeerMessage> tunnel, deletes;
    for (auto& msg : DrainWmac()) {
      if (msg.type == WmacMsg::kTunnelState) tunnel.push_back(std::move(msg));
      if (msg.type == WmacMsg::kDeleteAp) deletes.push_back(std::move(msg));
    }
    ASSERT_EQ(tunnel.size(), c.tunnel_msgs);
    if (!tunnel.empty()) {
      TunnelRecord rec;
      ASSERT_TRUE(TunnelRecordDecode(tunnel[0].payload, &rec));
      CW_ADDR ac;
      ac.SetIpv4(0xC0A80101);
      EXPECT_EQ(rec.state, 0u);
      EXPECT_EQ(rec.apid, wtp->apid);
      EXPECT_EQ(rec.ac_addr, ac.addr) << "the local end of the control channel";
      EXPECT_EQ(rec.wtp_data_addr, wtp->data_end.addr);
      EXPECT_EQ(rec.ac_data_port, CapwapPort(kDataPort));
      EXPECT_EQ(rec.wtp_data_port, 40100);
      EXPECT_EQ(rec.virtual_ap, c.master_status ? 0 : 1);
    }
    EXPECT_EQ(deletes.size(), c.delete_msgs);
    CW_AC_FreeWTP(wtp);
  }
}

TEST_F(SessionTest, EchoIntervalZeroDisarmsTheNeighbourDeadTimer) {
  CW_WTPCB* wtp = InSession(kStateRun);
  wtp->echo_interval = 0;
  capwap::RestartNbrDeadTimer(wtp, 40);
  capwap::RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running()) << "the refresh cancels and does not re-arm";
  wtp->state = kStateConfig;
  wtp->echo_interval = 10;
  capwap::RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running()) << "outside Run nothing is armed";
}

TEST_F(SessionTest, TimerCreationFailureIsLogged) {
  LogCapture log;
  CW_WTPCB* wtp = InSession(kStateRun);
  FailNext(FailFamily::kTimerCreate, 1);
  capwap::RefreshLiveness(wtp);
  EXPECT_FALSE(wtp->nbr_dead_timer.Running());
  EXPECT_TRUE(log.Contains(" Failed to start neighbour-dead timer of AP " + wtp->name + ".\n"));
  capwap::RefreshLiveness(wtp);
  EXPECT_TRUE(wtp->nbr_dead_timer.Running());
}

TEST_F(SessionTest, TeardownReleasesQueuedPacketsTimersAndTheImageFile) {
  CW_WTPCB* wtp = InSession(kStateRun);
  for (uint32_t i = 0; i < 3; ++i) {
    wtp->sndq.ring[i] = std::make_unique<CW_PKT>();
    wtp->sndq.ring[i]->buffer.assign(512, 0xAB);
  }
  wtp->sndq.tail = wtp->sndq.count = 3;
  wtp->sndq.tx_count = 2;
  ForEachSessionTimer(*wtp, [wtp](const char*, capwap::Timer& timer) {
    EXPECT_TRUE(timer.Start(capwap::DaemonLoop(), 5, CW_AC_IPCTimerHandler, wtp));
  });
  std::string image = lab_.root().Path("/image.bin");
  wtp->image_file.reset(std::fopen(image.c_str(), "w"));
  ASSERT_TRUE(wtp->image_file);

  __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
  EXPECT_FALSE(wtp->image_file);
  EXPECT_EQ(wtp->sndq.count + wtp->sndq.tx_count, 0u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_FALSE(wtp->sndq.ring[i]);
  EXPECT_EQ(thread_master_timer_count(lab_.master()), 0u);
  EXPECT_EQ(__CW_AC_HandleTunnelDown(wtp, __func__, __LINE__), 0) << "again, from Idle";
}

}  // namespace
}  // namespace capwap::test
