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
    if (state == kStateRun) g_uiCwApCount = 1;
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
  ChangeStateReq record;
  const int decoded = CW_AC_DEC_ChgStateReq(&record, elements);
  FUZZ_CHECK(decoded == 0 || decoded == 1);
  CW_WTPCB* wtp = ac.Session(kStateConfig);
  CW_RCVPKT rcv = Message(kMsgChgStateReq, elements);
  const int handled = CW_AC_ChgStateReqHandler(wtp, &rcv);
  FUZZ_CHECK(handled == decoded);
  FUZZ_CHECK(wtp->state == (decoded == 0 ? kStateDataCheck : kStateConfig));
  if (decoded == 0) FUZZ_CHECK(wtp->radio_states == record.radio_states);
}

void Echo(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(kMsgEchoReq, elements);
  EchoReq record;
  const int decoded = CW_AC_DecEchoReq(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(kStateRun);
  FUZZ_CHECK(CW_AC_EchoReqHandler(wtp, &rcv) == decoded);
  FUZZ_CHECK(wtp->state == kStateRun);
  FUZZ_CHECK(wtp->nbr_dead_timer.Running() == (decoded == 0));
}

void ConfigUpdate(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(kMsgCfgUpdateRsp, elements);
  CfgUpdateRsp record;
  const int decoded = CW_AC_DecCfgUpdResp(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(kStateRun);
  const int handled = CW_AC_CfgUpdRespHandler(wtp, &rcv);
  FUZZ_CHECK(handled == (decoded != 0 || record.result_code != 0 ? 1 : 0));
  FUZZ_CHECK(wtp->state == kStateRun);
}

void StationAndWlan(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT sta_rcv = Message(kMsgStaCfgRsp, elements);
  StaCfgRsp sta;
  const int sta_decoded = CW_AC_DecStaCfgRsp(&sta, &sta_rcv);
  CW_WTPCB* wtp = ac.Session(kStateRun);
  FUZZ_CHECK(CW_AC_StaCfgRespHandler(wtp, &sta_rcv) ==
             (sta_decoded != 0 || sta.result_code != 0 ? 1 : 0));

  CW_RCVPKT wlan_rcv = Message(kMsgWlanCfgRsp, elements);
  WlanCfgRsp wlan;
  const int wlan_decoded = CW_AC_DecWlanCfgRsp(&wlan, &wlan_rcv);
  FUZZ_CHECK(CW_AC_WlanCfgRespHandler(wtp, &wlan_rcv) ==
             (wlan_decoded != 0 || wlan.result_code != 0 ? 1 : 0));
  FUZZ_CHECK(wtp->state == kStateRun);
}

void Reset(Controller& ac, capwap::ByteView elements) {
  CW_RCVPKT rcv = Message(kMsgResetRsp, elements);
  ResetRsp record;
  const int decoded = CW_AC_DecResetResp(&record, &rcv);
  CW_WTPCB* wtp = ac.Session(kStateRun);
  FUZZ_CHECK(CW_AC_ResetRespHandler(wtp, &rcv) == decoded);
  FUZZ_CHECK(wtp->state == (decoded == 0 ? kStateIdle : kStateRun));
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
