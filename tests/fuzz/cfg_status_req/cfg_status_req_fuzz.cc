// Arbitrary bytes as the message elements of a Configuration Status
// Request: decoded on their own, then handled for an AP in Join with the
// peer simulator answering for WMAC, WRRM and WIDS on the same loop.
// Oracles: a decoded request holds only sub-records of their fixed sizes in
// the slot of their radio; its binding survives the TLV list to WMAC and
// back (less sub-record 4, which WMAC is not sent); the response built from
// it fits the packet and walks completely; a handled request ends in Config
// with the response sent once the answers are in (the change-state wait
// running), a refused one in Idle.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "config/ap_group.h"
#include "fsm/config_status.h"
#include "fsm/vendor_handlers.h"
#include "fuzz/fuzz_support.h"
#include "peer-sim/peer_sim.h"
#include "registry/session.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/sockets.h"

namespace {

constexpr const char* kModel = "fuzz-model";

struct Controller {
  Controller() {
    capwap::fuzz::StoreModel(kModel, {13, 10});
    ApGroupReset();
    FUZZ_CHECK(ApGroupCreate(1) != nullptr);
    FUZZ_CHECK(RegisterVendorHandlers() == 0);
    CfgStatusRegister();
    RegisterRdBindHandlers();
    WMAC_AC_IPC_SetZg(lab.ctx());
    FUZZ_CHECK(AC_IPCInit() == 0);
    FUZZ_CHECK(peers.Start() == 0);
    g_iAC_IP4SockId = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    FUZZ_CHECK(g_iAC_IP4SockId >= 0);
  }

  // A session in Join.
  CW_WTPCB* Session() {
    peers.ClearHistory();
    return capwap::fuzz::LoneSession(kModel, 1, kStateJoin);
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  capwap::sim::PeerSim peers{lab.master(), capwap::sim::PeerSimOptions{}};
};

void CheckRecord(const RadioBinding& rd) {
  for (uint32_t r = 0; r < 4; ++r) {
    const RadioBindingRadio& radio = rd.radios[r];
    for (uint16_t type = 1; type < 28; ++type) {
      const RadioBindingTlv* tlv = RdBindTlvByType(type);
      if (!tlv || !radio.sub[tlv->slot]) continue;
      FUZZ_CHECK(radio.sub[tlv->slot]->size() == tlv->size);
      FUZZ_CHECK((*radio.sub[tlv->slot])[0] == r + 1);
      FUZZ_CHECK(radio.radio_id == r + 1);
    }
  }
  FUZZ_CHECK(rd.radio_count <= 4);
}

void CheckWmacRoundTrip(const RadioBinding& rd) {
  capwap::Bytes list(kWmacRdBindBufSize);
  list.resize(EncodeRdBindTlv(rd, list));
  RadioBinding back;
  FUZZ_CHECK(CW_GetRdBind(&back, list.data(), list.size()) == 0);
  for (uint32_t r = 0; r < 4; ++r) {
    for (uint16_t type = 1; type < 28; ++type) {
      const RadioBindingTlv* tlv = RdBindTlvByType(type);
      if (!tlv || type == 4) continue;
      FUZZ_CHECK(back.radios[r].sub[tlv->slot] == rd.radios[r].sub[tlv->slot]);
    }
  }
}

void CheckResponse(CW_WTPCB* wtp) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  FUZZ_CHECK(pkt != nullptr);
  FUZZ_CHECK(CW_AC_FillCfgResp(*pkt, *wtp) == 0);
  CwElementWalk walk(capwap::ByteView(pkt->buffer).subspan(kCwHeadersLen, pkt->length));
  for (const CwElement& e : walk) (void)e;
  FUZZ_CHECK(walk.complete());
}

void Decode(Controller& ac, capwap::ByteView elements) {
  CfgStatusReqInfo info;
  if (CW_AC_DecCfgReq(&info, elements) != 0) return;
  FUZZ_CHECK(elements.size() >= 4);
  CheckRecord(info.rdbind);
  CheckWmacRoundTrip(info.rdbind);
  CW_WTPCB* wtp = ac.Session();
  wtp->rdbind = std::move(info.rdbind);
  CheckResponse(wtp);
}

void Handle(Controller& ac, capwap::ByteView elements) {
  CW_WTPCB* wtp = ac.Session();
  CW_RCVPKT rcv = capwap::fuzz::Received(kMsgCfgStatusReq, elements, 41999);
  if (CW_AC_CfgReqHandler(wtp, &rcv) != 0) {
    FUZZ_CHECK(wtp->state == kStateIdle);
    return;
  }
  FUZZ_CHECK(wtp->state == kStateConfig);
  FUZZ_CHECK(wtp->cfg_ipc_timer.Running());
  ac.lab.Settle();
  FUZZ_CHECK(wtp->wait_rdbind + wtp->wait_wrrm + wtp->wait_wids == 0);
  FUZZ_CHECK(wtp->chg_state_timer.Running());
  FUZZ_CHECK(!wtp->cfg_ipc_timer.Running());
  __CW_AC_HandleTunnelDown(wtp, "fuzz", __LINE__);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  const capwap::ByteView elements(data, size);
  Decode(ac, elements);
  Handle(ac, elements);
  return 0;
}
