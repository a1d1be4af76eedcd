// Arbitrary datagrams through the control receive path (AC_HandlePkt, what
// the socket reader calls) of a controller with the daemon's own dispatch
// table, vendor handlers and WMAC peer, and one WTP in each session state:
// Idle, Join, Image, Config, Data Check, Run (a Configuration Update Request
// outstanding) and Reset (a Reset Request outstanding).
//
// Input: a run of records {source u8, length u16 big-endian, datagram}.
// Source bits 0-2 pick the sender: 0-6 the WTP in that state, 7 an endpoint
// no WTP is bound to; bits 5-6 first move the clock 0, 3, 11 or 31 seconds,
// so the session, retransmission and reassembly timers fire. Bit 4 of the
// first record's source makes the seven WTPs standard ones (switch on).
// Oracles: a held fragment's buffer moved into the reassembly state; every
// WTP's state is a session state, its send queue and reassembly counters
// agree with what they hold, and the tables index it where it says it is;
// afterwards a Discovery Request from a fresh endpoint is still answered.
#include <net/if.h>
#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "config/ap_persist.h"
#include "config/db_tables.h"
#include "config/images.h"
#include "config/model_catalogue.h"
#include "fsm/handlers.h"
#include "fsm/vendor_handlers.h"
#include "fuzz/fuzz_support.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "platform/dbm.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/recv.h"
#include "transport/rfc.h"
#include "transport/sendq.h"
#include "transport/sockets.h"
#include "wtp-sim/wtp_messages.h"

namespace {

using capwap::test::UdpEndpoint;
constexpr int kStates = 7;  // kStateIdle .. kStateReset
constexpr double kClockSteps[4] = {0, 3, 11, 31};

struct Controller {
  Controller() {
    CW_ApModel_Init();
    capwap::fuzz::StoreModel(capwap::sim::WtpIdentity{}.model.c_str(), {13, 13});
    CW_CMD_Set_AutoEnable(1);
    FUZZ_CHECK(RegisterVendorHandlers() == 0);
    FsmRegisterHandlers();
    g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, 0);
    FUZZ_CHECK(g_iAC_IP4SockId >= 0);
    WMAC_AC_IPC_SetZg(lab.ctx());
    FUZZ_CHECK(peers.Start() == 0);
  }

  // Forgets the last input's WTPs (and their stored records), then makes
  // one WTP per state bound to endpoints[state].
  void StartSessions(bool standard) {
    capwap::SetRfcCompatFlag(standard);
    WtpTableReset();
    FUZZ_CHECK(CW_AC_WtpTableInit() == 0);
    for (DbTable table : {kDbCwAp, kDbCwApByMac, kDbCwMark}) {
      while (std::optional<capwap::Bytes> key = DBM_GetFirstKey(table)) {
        DBM_Delete(table, key->data(), key->size());
      }
    }
    for (uint8_t state = 0; state < kStates; ++state) {
      CW_WTPCB* wtp = CW_AC_CreateWTP(model(), 0xFFFFFFFF, "", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->state = state;
      wtp->master_status = 1;
      wtp->rfc = standard;
      wtp->mac = {0x02, 0, 0, 0, 0x10, state};
      wtp->local = Local();
      wtp->session_id.fill(static_cast<uint8_t>(state + 1));
      CW_AC_AddWTPByMac(wtp->mac, wtp);
      CW_AC_AddWTPByIP(endpoints[state].Addr(), wtp);
      CW_AC_AddWTPBySESSID(wtp->session_id, wtp);
      if (state == kStateRun || state == kStateReset) {
        uint32_t type = state == kStateRun ? kMsgCfgUpdateReq : kMsgResetReq;
        CwPktPtr request = CW_AC_PktMalloc();
        FUZZ_CHECK(request != nullptr);
        FinishCtlMsg(*request, type, CW_AC_GetSeqNum(wtp, type));
        CW_AC_SendCtlMsg(std::move(request), wtp);
      }
    }
    peers.ClearHistory();
  }

  static std::string model() { return capwap::sim::WtpIdentity{}.model; }

  // Where the control socket received a datagram on loopback.
  CW_ADDR Local() const {
    CW_ADDR local;
    local.ifindex = if_nametoindex("lo");
    local.local_ipv4 = INADDR_LOOPBACK;
    local.SetIpv4(INADDR_LOOPBACK);
    local.port = capwap::CapwapPort(capwap::kControlPort);
    return local;
  }

  int Deliver(const UdpEndpoint& from, capwap::ByteView datagram) {
    CW_RCVPKT rcv;
    rcv.remote = from.Addr();
    rcv.local = Local();
    // Exactly the datagram's size, so a read past its end is caught.
    rcv.buffer.assign(datagram.begin(), datagram.end());
    rcv.length = static_cast<uint32_t>(datagram.size());
    int code = AC_HandlePkt(&rcv);
    if (code == kPktHeld) FUZZ_CHECK(rcv.buffer.empty());
    lab.Settle();
    return code;
  }

  static void CheckInvariants() {
    uint32_t listed = 0;
    for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
      const CW_WTPCB* wtp = CW_AC_GetWTPByID(apid);
      if (!wtp) continue;
      ++listed;
      FUZZ_CHECK(wtp->apid == apid && wtp->state <= kStateReset);
      const CW_SNDQUE& q = wtp->sndq;
      FUZZ_CHECK(q.count <= kSndQueSize && q.head < kSndQueSize && q.tail < kSndQueSize);
      FUZZ_CHECK((q.head + q.count) % kSndQueSize == q.tail);
      FUZZ_CHECK(q.count == 0 || q.ring[q.head] != nullptr);
      const CW_FRAGINFO& f = wtp->frag;
      FUZZ_CHECK(f.fragments.size() <= kMaxHeldFragments);
      FUZZ_CHECK(f.in_progress || f.fragments.empty());
      FUZZ_CHECK(f.expected == 0 || f.received <= f.expected);
      if (const CW_WTPCB* at = CW_AC_GetWTPByIP(wtp->remote); at == wtp) {
        FUZZ_CHECK(wtp->remote.port != 0);
      }
    }
    FUZZ_CHECK(listed == WtpCount());
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  capwap::sim::PeerSim peers{lab.master(), capwap::sim::PeerSimOptions{}};
  std::array<UdpEndpoint, kStates + 1> endpoints;  // the last one has no WTP
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  ac.StartSessions(size > 0 && (data[0] & 0x10) != 0);
  capwap::WireReader in(data, size);
  for (int records = 0; records < 64 && in.remaining() >= 3; ++records) {
    uint8_t source = 0;
    uint16_t length = 0;
    in.u8(source);
    in.u16(length);
    capwap::ByteView datagram;
    if (!in.view(std::min<size_t>({length, in.remaining(), kCwRcvBufSize}), datagram)) break;
    if (double step = kClockSteps[(source >> 5) & 3]; step > 0) ac.lab.RunFor(step);
    ac.Deliver(ac.endpoints[source & 7], datagram);
    Controller::CheckInvariants();
  }
  for (const UdpEndpoint& e : ac.endpoints) e.Drain();
  // Whatever came before, the controller still answers a Discovery Request.
  UdpEndpoint fresh;
  capwap::sim::WtpIdentity stranger;
  stranger.mac = {0x02, 0, 0, 0, 0x20, 1};
  ac.Deliver(fresh, capwap::sim::BuildDiscoveryRequest(stranger, 1));
  std::vector<capwap::Bytes> answers = fresh.Drain();
  FUZZ_CHECK(answers.size() == 1 && answers[0].size() >= kCwHeadersLen);
  capwap::WireReader reply(answers[0]);
  uint32_t type = 0;
  FUZZ_CHECK(reply.skip(kCwHdrLen) && reply.u32(type) && type == kMsgDiscoveryRsp);
  return 0;
}
