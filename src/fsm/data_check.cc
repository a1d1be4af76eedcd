#include "fsm/data_check.h"

#include "diag/debug.h"
#include "fsm/change_state.h"
#include "relay/policy.h"
#include "relay/wmac.h"
#include "transport/keepalive.h"

namespace {

// Data Check: the data channel is open, the session enters Run.
int OpenDataChannel(CW_WTPCB* wtp, const std::array<uint8_t, 16>& session_id, int is_ipv6,
                    const PktInfo* pktinfo) {
  capwap::AnswerKeepAlive(*wtp, session_id, is_ipv6, pktinfo);
  wtp->data_check_timer.Cancel();
  CW_AC_RunStateInit(wtp);
  AC_SndWiredLanVlan(wtp);
  AC_SndWiredLanVlan2(wtp);
  return 0;
}

// Any other state: WMAC follows the data endpoint when it moves.
void TrackDataEndpoint(CW_WTPCB* wtp) {
  if (wtp->data_end.addr == wtp->tunnel.wtp_data_addr &&
      wtp->data_end.port == wtp->tunnel.wtp_data_port) {
    return;
  }
  CwDebug(kDbgEvent, ZLOG_NOTICE,
          " Notifing WMAC to update tunnel with MAC address %s | IP %s | Port %d.\n",
          capwap::MacText(wtp->mac).data(), capwap::AddrText(wtp->data_end).c_str(),
          wtp->data_end.port);
  wtp->tunnel = TunnelRecordOf(*wtp, kTunnelMoved);
  WMAC_AC_IPC_NotifyTunnelState(wtp->tunnel);
}

}  // namespace

namespace capwap {

int OnDataKeepAlive(CW_WTPCB* wtp, const std::array<uint8_t, 16>& session_id, int is_ipv6,
                    const PktInfo* pktinfo) {
  if (wtp->state == kStateDataCheck) return OpenDataChannel(wtp, session_id, is_ipv6, pktinfo);
  // A standard WTP expects every keepalive answered, in Run as well.
  if (wtp->rfc && wtp->state == kStateRun) AnswerKeepAlive(*wtp, session_id, is_ipv6, pktinfo);
  TrackDataEndpoint(wtp);
  return 0;
}

}  // namespace capwap
