#include "registry/session.h"

#include "registry/acinfo.h"
#include "diag/debug.h"
#include "export/cloud.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "transport/sendq.h"

namespace {

CW_WTPCB* WtpOf(thread* t) { return static_cast<CW_WTPCB*>(THREAD_ARG(t)); }

// Step 3 of the teardown: WMAC learns that the tunnel of a running AP is
// down, or forgets an automatically created AP that never reached Run.
void NotifyWmacOfTeardown(CW_WTPCB* wtp) {
  if (wtp->state == kStateRun) {
    TunnelRecord record;
    record.state = 0;
    record.apid = wtp->apid;
    record.family = wtp->data_end.family;
    record.ac_addr = wtp->local.addr;
    record.wtp_data_addr = wtp->data_end.addr;
    record.ac_data_port = capwap::CapwapPort(capwap::kDataPort);
    record.wtp_data_port = wtp->data_end.port;
    record.virtual_ap = wtp->master_status == 0 ? 1 : 0;
    record.scrambled = 0;
    wtp->tunnel = record;
    if (ApEvents().tunnel_state) ApEvents().tunnel_state(record);
    if (wtp->master_status && g_uiCwApCount > 0) --g_uiCwApCount;
  } else if (wtp->auto_created == 1) {
    if (ApEvents().deleted) ApEvents().deleted(wtp->apid);
  }
}

// Step 10: what the exchanges of this session left behind.
void ClearSessionAreas(CW_WTPCB* wtp) {
  wtp->image_id.fill(0);
  wtp->image_file.reset();
  wtp->image_downloading = 0;
  wtp->image_size = 0;
  wtp->image_sent = 0;
  wtp->image_path.clear();
  wtp->crash_data.clear();
  wtp->descriptor = WtpDescriptor{};
  wtp->rdbind = RadioBinding{};
}

// Pushes the neighbour-dead deadline to `seconds` from now. Every Echo does
// this, so the timer is re-filed only when the old deadline comes.
bool ArmNbrDead(CW_WTPCB* wtp, long seconds) {
  return ArmSessionTimer(wtp, wtp->nbr_dead_timer, seconds, CW_AC_NbrDeadTimerHandler,
                         "neighbour-dead", TimerArming::kRestart);
}

}  // namespace

thread_master* capwap::DaemonLoop() { return capwapm ? capwapm->master.get() : nullptr; }

bool ArmSessionTimer(CW_WTPCB* wtp, capwap::Timer& timer, long seconds, thread_func handler,
                     const char* what, TimerArming how, std::source_location where) {
  thread_master* master = capwap::DaemonLoop();
  bool armed = false;
  if (master) {
    switch (how) {
      case TimerArming::kStart:
        armed = timer.Start(master, seconds, handler, wtp, where);
        break;
      case TimerArming::kRestart:
        armed = timer.Restart(master, seconds, handler, wtp, where);
        break;
      case TimerArming::kStartIfIdle:
        armed = timer.StartIfIdle(master, seconds, handler, wtp, where);
        break;
    }
  }
  if (!armed) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to start %s timer of AP %s.\n", what,
            wtp->name.c_str());
  }
  return armed;
}

int __CW_AC_HandleTunnelDown(CW_WTPCB* wtp, const char* /*func*/, int /*line*/) {
  if (!wtp) return 0;
  wtp->image_file.reset();
  if (wtp->concurrency_flag) {
    wtp->concurrency_flag = 0;
    if (g_uiCwConcurrentWTPS > 0) --g_uiCwConcurrentWTPS;
  }
  NotifyWmacOfTeardown(wtp);
  CW_AC_DelWtpFromSessTable(wtp);
  CW_AC_DelWtpFromIpTable(wtp);

  wtp->state = kStateIdle;
  const auto& m = wtp->mac;
  CwDebug(kDbgEvent, ZLOG_INFO, " FSM switched to Idle state with AP %s MAC [%s].\n",
          wtp->name.c_str(), capwap::MacText(m).data());
  StoreWtp(wtp);
  Report_ApStatus("offline", wtp, ul_CW_AC_Time - wtp->online_tick);
  mirta_logger(m.data(), 31, "CAPWAP offline");

  wtp->req_seq = 0;
  wtp->last_rcv_seq = 0;
  wtp->prev_rcv_seq = 0;
  wtp->wait_rdbind = 0;
  wtp->wait_wrrm = 0;
  wtp->wait_wids = 0;
  wtp->session_flag = 0;

  CW_FreeSndQue(&wtp->sndq);
  CW_AC_DelWtpTimers(wtp);
  ClearSessionAreas(wtp);
  return 0;
}

int CW_AC_DelWtpTimers(CW_WTPCB* wtp) {
  if (!wtp) return 0;
  if (wtp->retrans_timer.Running()) wtp->sndq = CW_SNDQUE{};
  ForEachSessionTimer(*wtp, [](const char*, capwap::Timer& timer) { timer.Cancel(); });
  return 0;
}

void capwap::RefreshLiveness(CW_WTPCB* wtp) {
  if (!wtp || wtp->state != kStateRun) return;
  if (wtp->echo_interval == 0) {
    wtp->nbr_dead_timer.Cancel();
    return;
  }
  ArmNbrDead(wtp, 4L * wtp->echo_interval);
}

void capwap::RestartNbrDeadTimer(CW_WTPCB* wtp, long seconds) {
  if (!wtp) return;
  if (seconds <= 0) {
    wtp->nbr_dead_timer.Cancel();
    return;
  }
  ArmNbrDead(wtp, seconds);
}

int CW_AC_ImgCfgTimerHandler(thread* t) {
  CW_WTPCB* wtp = WtpOf(t);
  wtp->join_timer.Cancel();
  return __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
}

int CW_AC_ChgStateTimerHandler(thread* t) {
  CW_WTPCB* wtp = WtpOf(t);
  wtp->chg_state_timer.Cancel();
  return __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
}

int CW_AC_IPCTimerHandler(thread* t) {
  CW_WTPCB* wtp = WtpOf(t);
  CwDebug(kDbgError, ZLOG_NOTICE, " IPC timer expired, so turn CAPWAP tunnel down.\n");
  wtp->data_check_timer.Cancel();
  wtp->cfg_ipc_timer.Cancel();
  wtp->wait_rdbind = 0;
  wtp->wait_wrrm = 0;
  wtp->wait_wids = 0;
  return __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
}

int CW_AC_NbrDeadTimerHandler(thread* t) {
  CW_WTPCB* wtp = WtpOf(t);
  wtp->nbr_dead_timer.Cancel();
  return __CW_AC_HandleTunnelDown(wtp, __func__, __LINE__);
}
