// Arbitrary bytes as the message elements of a received control message,
// given in turn to every decoder of the Change State, Echo and response
// exchanges and to their handlers, each time with a fresh WTP session in the
// state the handler acts in (Configure for Change State, Run otherwise).
// WMAC is the peer simulator on the same loop.
// Oracles: decoders answer 0 or 1 and agree with their handlers; a handled
// Change State Event Request leaves the session in Data Check, a handled
// Reset Response ends it, and a refused message changes no state.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "fsm/change_state.h"
#include "fsm/cfg_update_rsp.h"
#include "fsm/config_rsp.h"
#include "fsm/echo.h"
#include "fsm/reset.h"
#include "fuzz/fuzz_support.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/sockets.h"

namespace {

constexpr const char* kModel = "fuzz-model";

struct Controller {
  Controller() {
    capwap::fuzz::StoreModel(kModel, {13});
    WMAC_AC_IPC_SetZg(lab.ctx());
    FUZZ_CHECK(peers.Start() == 0);
    g_iAC_IP4SockId = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    FUZZ_CHECK(g_iAC_IP4SockId >= 0);
  }

  // A new session in `state`.
  CW_WTPCB* Session(uint32_t state) {
    peers.ClearHistory();
    CW_WTPCB* wtp = capwap::fuzz::LoneSession(kModel, 0xFFFFFFFF, state);
    if (state == CW_STATE_RUN) g_uiCwApCount = 1;
    return wtp;
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  capwap::sim::PeerSim peers{lab.master(), capwap::sim::PeerSimOptions{}};
};

CW_RCVPKT Message(uint32_t type, capwap::ByteView elements) {
  return capwap::fuzz::Received(type, elements, 41999);
}

void ChangeState(Controller& ac, capwap::ByteView elements) {
  CW_CHGSTATE_REQ record;
  const int decoded = CW_AC_DEC_ChgStateReq(&record, elements);
  FUZZ_CHECK(decoded == 0 || decoded == 1);
  CW_WTPCB* wtp = ac.Session(CW_STATE_CONFIG);
  CW_RCVPKT rcv = Message(CW_MSG_CHG_STATE_REQ, elements);
  const int handled = CW_AC_ChgStateReqHandler(wtp, &rcv);
  FUZZ_CHECK(handled == decoded);
  FUZZ_CHECK(wtp->state == (decoded == 0 ? CW_STATE_DATA_CHECK : CW_STATE_CONFIG));
  if (decoded == 0) FUZZ_CHECK(wtp->radio_states == record.radio_states);
}

void Echo(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(CW_MSG_ECHO_REQ, elements);
  CW_ECHO_REQ record;
  const int decoded = CW_AC_DecEchoReq(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(CW_STATE_RUN);
  FUZZ_CHECK(CW_AC_EchoReqHandler(wtp, &rcv) == decoded);
  FUZZ_CHECK(wtp->state == CW_STATE_RUN);
  FUZZ_CHECK(wtp->nbr_dead_timer.Running() == (decoded == 0));
}

void ConfigUpdate(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(CW_MSG_CFG_UPDATE_RSP, elements);
  CW_CFGUPD_RSP record;
  const int decoded = CW_AC_DecCfgUpdResp(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(CW_STATE_RUN);
  const int handled = CW_AC_CfgUpdRespHandler(wtp, &rcv);
  FUZZ_CHECK(handled == (decoded != 0 || record.result_code != 0 ? 1 : 0));
  FUZZ_CHECK(wtp->state == CW_STATE_RUN);
}

void StationAndWlan(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT sta_rcv = Message(CW_MSG_STA_CFG_RSP, elements);
  CW_STACFG_RSP sta;
  const int sta_decoded = CW_AC_DecStaCfgRsp(&sta, &sta_rcv);
  CW_WTPCB* wtp = ac.Session(CW_STATE_RUN);
  FUZZ_CHECK(CW_AC_StaCfgRespHandler(wtp, &sta_rcv) ==
             (sta_decoded != 0 || sta.result_code != 0 ? 1 : 0));

  CW_RCVPKT wlan_rcv = Message(CW_MSG_WLAN_CFG_RSP, elements);
  CW_WLANCFG_RSP wlan;
  const int wlan_decoded = CW_AC_DecWlanCfgRsp(&wlan, &wlan_rcv);
  FUZZ_CHECK(CW_AC_WlanCfgRespHandler(wtp, &wlan_rcv) ==
             (wlan_decoded != 0 || wlan.result_code != 0 ? 1 : 0));
  FUZZ_CHECK(wtp->state == CW_STATE_RUN);
}

void Reset(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(CW_MSG_RESET_RSP, elements);
  CW_RESET_RSP record;
  const int decoded = CW_AC_DecResetResp(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(CW_STATE_RUN);
  FUZZ_CHECK(CW_AC_ResetRespHandler(wtp, &rcv) == decoded);
  FUZZ_CHECK(wtp->state == (decoded == 0 ? CW_STATE_IDLE : CW_STATE_RUN));
  FUZZ_CHECK(g_uiCwApCount == (decoded == 0 ? 0u : 1u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  const capwap::ByteView elements(data, size < kCwRcvBufSize ? size : kCwRcvBufSize);
  ChangeState(ac, elements);
  Echo(ac, elements);
  ConfigUpdate(ac, elements);
  StationAndWlan(ac, elements);
  Reset(ac, elements);
  ac.lab.Settle();
  return 0;
}
