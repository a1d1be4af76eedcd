#include "fsm/change_state.h"

#include <sys/time.h>

#include <ctime>

#include "config/ap_persist.h"
#include "registry/acinfo.h"
#include "diag/debug.h"
#include "export/cloud.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/policy.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/keepalive.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;

namespace {

constexpr long kDataCheckWaitSeconds = 7;

// Radio Operational State: radio ID, state, cause, into row radio ID - 1.
bool DecodeRadioState(capwap::ByteView value, std::array<uint8_t, 12>* rows) {
  capwap::WireReader r(value);
  uint8_t radio_id = 0, state = 0, cause = 0;
  if (!r.u8(radio_id) || !r.u8(state) || !r.u8(cause)) return false;
  if (radio_id < 1 || radio_id > 4) return true;  // no row for it
  const size_t row = 3u * (radio_id - 1u);
  (*rows)[row] = radio_id;
  (*rows)[row + 1] = state;
  (*rows)[row + 2] = cause;
  return true;
}

// Returned Message Element: reason, length, then that many bytes.
bool DecodeReturned(capwap::ByteView value, ChangeStateReq* record) {
  capwap::WireReader r(value);
  if (!r.u8(record->returned_reason) || !r.u8(record->returned_length)) return false;
  return r.bytes(record->returned.data(), record->returned_length);
}

bool ArmDataCheckWait(CW_WTPCB* wtp) {
  wtp->data_check_timer.Cancel();
  thread_master* master = capwap::DaemonLoop();
  return master != nullptr && wtp->data_check_timer.Start(master, kDataCheckWaitSeconds,
                                                          CW_AC_IPCTimerHandler, wtp);
}

// What WMAC learns of an AP entering Run.
void NotifyWmacOfRun(CW_WTPCB* wtp) {
  CwDebug(kDbgFsm, ZLOG_INFO, " FSM switched to Running State.\n");
  wtp->tunnel = TunnelRecordOf(*wtp, kTunnelUp);
  WMAC_AC_IPC_NotifyApInfo(WmacApInfoOf(*wtp));
  if (wtp->capability & kCapMesh) {
    const uint8_t mesh[3] = {wtp->mesh_role, wtp->mesh_id, wtp->mesh_data_path};
    WMAC_AC_IPC_NotifyMeshInfo(wtp->apid, mesh);
  }
  WMAC_AC_IPC_NotifyTunnelState(wtp->tunnel);
}

// The controller's clock (seconds since 1970) as Configuration
// Update item 6, the AC Timestamp.
void PushControllerTime(CW_WTPCB* wtp) {
  timeval now{};
  gettimeofday(&now, nullptr);
  const auto record = ItemU32(static_cast<uint32_t>(now.tv_sec));
  CW_AC_SndCfgUpdReqItem(wtp, kItemAcTimestamp, CwCfgItem(record));
}

}  // namespace

int CW_AC_DEC_ChgStateReq(ChangeStateReq* record, capwap::ByteView elements) {
  *record = ChangeStateReq{};
  CwElementWalk walk(elements);
  for (const CwElement& e : walk) {
    bool ok = true;
    switch (e.type) {
      case elem::kResultCode: {
        capwap::WireReader r(e.value);
        ok = r.u32(record->result_code);
        break;
      }
      case elem::kRadioOperationalState:
        ok = DecodeRadioState(e.value, &record->radio_states);
        break;
      case elem::kReturnedMessageElement:
        ok = DecodeReturned(e.value, record);
        break;
      default:
        break;
    }
    if (!ok) return 1;
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_ChgStateReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  const auto& m = wtp->mac;
  CwDebug(kDbgPacket, ZLOG_INFO,
          " Receiving Change State Event Request from AP %02x-%02x-%02x-%02x-%02x-%02x.\n", m[0],
          m[1], m[2], m[3], m[4], m[5]);
  if (wtp->state == kStateRun) {
    CW_AC_SndChgStateRsp(wtp);
    return 0;
  }
  ChangeStateReq request;
  if (CW_AC_DEC_ChgStateReq(&request, rcv->Elements()) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Change State Event Request frame.\n");
    wtp->last_rcv_seq = wtp->prev_rcv_seq;
    return 1;
  }
  wtp->chg_state_timer.Cancel();

  wtp->radio_states = request.radio_states;
  CwDebug(kDbgEvent, ZLOG_INFO, " [IPC] Notifing WMAC to synchronize radio state.\n");
  WMAC_AC_IPC_NotifyRadioState(wtp->apid, wtp->radio_states);

  CW_AC_SndChgStateRsp(wtp);

  wtp->state = kStateDataCheck;
  if (!ArmDataCheckWait(wtp)) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to start data-check timer of AP %s.\n",
            wtp->name.c_str());
    return 1;
  }
  return 0;
}

int CW_AC_FillChgStateRsp(CW_PKT* /*pkt*/) { return 0; }

int CW_AC_SndChgStateRsp(CW_WTPCB* wtp) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR, " No packet for the Change State Event Response to AP %s.\n",
            wtp->name.c_str());
    return 1;
  }
  CW_AC_FillChgStateRsp(pkt.get());
  FinishCtlMsg(*pkt, kMsgChgStateRsp, CW_AC_GetSeqNum(wtp, kMsgChgStateRsp));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_AC_RunStateInit(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  wtp->state = kStateRun;
  if (g_bCwAutoApPersistentEnabled) wtp->auto_created = 0;
  wtp->online_tick = ul_CW_AC_Time;
  wtp->creation_time = static_cast<uint32_t>(time(nullptr));
  StoreWtp(wtp);
  Report_ApStatus("online", wtp, 0);
  mirta_logger(wtp->mac.data(), 30, "CAPWAP online");

  NotifyWmacOfRun(wtp);
  if (wtp->master_status != 0) ++g_uiCwApCount;

  if (wtp->echo_interval != 0) {
    if (!ArmSessionTimer(wtp, wtp->nbr_dead_timer, 4L * wtp->echo_interval,
                         CW_AC_NbrDeadTimerHandler, "neighbour-dead")) {
      return 1;
    }
  }
  PushControllerTime(wtp);
  AC_IPC_SendDhcpSnooping_Batch(wtp);
  if (wtp->concurrency_flag) {
    wtp->concurrency_flag = 0;
    if (g_uiCwConcurrentWTPS > 0) --g_uiCwConcurrentWTPS;
  }
  return 0;
}
