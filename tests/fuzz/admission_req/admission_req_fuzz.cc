// Arbitrary message elements as a Discovery Request (first byte even) or a
// Join Request (odd), with standard access points served when bit 1 of the
// first byte is set, decoded on their own and handled by a controller with
// one configured AP (MAC 02:00:00:00:01:01, model ia-210), automatic
// admission on, the built-in catalogue and the vendor handlers. A Join is
// handled twice, from two endpoints, which reaches the session-in-use and
// wrong-state refusals.
//
// Oracles: a decoded Discovery Request has board data and a descriptor,
// radios only in their own slots and a lower-case model, and Discovery
// creates no record nor moves the configured AP out of Idle; the vendor
// handlers write master status and capability bits only while a Join record
// is being decoded; at most one AP is counted as joining, and an AP in Join
// is indexed under the reported session ID with its join-wait timer running.
#include <cstddef>
#include <cstdint>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "fsm/discovery.h"
#include "fsm/join.h"
#include "fsm/vendor_handlers.h"
#include "fuzz/fuzz_support.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/rfc.h"

namespace {

constexpr std::array<uint8_t, 6> kConfiguredMac{0x02, 0, 0, 0, 0x01, 0x01};

struct Controller {
  Controller() {
    CW_ApModel_Init();
    CW_CMD_Set_AutoEnable(1);
    RegisterVendorHandlers();
  }
  CW_WTPCB* Fresh() {
    WtpTableReset();
    CW_AC_WtpTableInit();
    CW_WTPCB* configured = CW_AC_CreateWTP("ia-210", 0xFFFFFFFF, "", 0);
    FUZZ_CHECK(configured != nullptr);
    configured->mac = kConfiguredMac;
    CW_AC_AddWTPByMac(kConfiguredMac, configured);
    return configured;
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
};

void Discover(const CW_WTPCB* configured, CW_RCVPKT& rcv) {
  CW_DISC_REQ_INFO info;
  if (CW_AC_DecDiscReq(&info, &rcv) == 0) {
    FUZZ_CHECK(info.have_board && info.have_descriptor);
    for (int slot = 0; slot < kDiscRadioSlots; ++slot) {
      const uint8_t id = info.radios[slot].radio_id;
      FUZZ_CHECK(id == 0 || id == slot + 1);
    }
    for (char c : info.board.model) FUZZ_CHECK(c < 'A' || c > 'Z');
  }
  CW_AC_DiscReqHandler(nullptr, &rcv);
  FUZZ_CHECK(WtpCount() == 1);
  FUZZ_CHECK(configured->state == kStateIdle);
}

void Join(capwap::ByteView elements) {
  CW_RCVPKT first = capwap::fuzz::Received(kMsgJoinReq, elements, 40001);
  CW_JOIN_REQ_INFO info;
  const bool decoded = CW_AC_DecJoinReq(&info, &first) == 0;
  FUZZ_CHECK(JoinVendorContext(&info) == nullptr);
  CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(first.remote), &first);
  CW_RCVPKT second = capwap::fuzz::Received(kMsgJoinReq, elements, 40002);
  CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(second.remote), &second);
  FUZZ_CHECK(g_uiCwConcurrentWTPS <= 1 && WtpCount() <= 2);
  CW_WTPCB* wtp = decoded ? CW_AC_GetWTPByMac(info.board.base_mac) : nullptr;
  if (!wtp || wtp->state != kStateJoin) return;
  FUZZ_CHECK(CW_AC_GetWTPBySESSID(info.session_id) == wtp);
  FUZZ_CHECK(wtp->join_timer.Running());
  FUZZ_CHECK(wtp->concurrency_flag == 1);
  FUZZ_CHECK(wtp->master_status == info.master_status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  if (size < 1 || size - 1 > kCwRcvBufSize - kCwHeadersLen) return 0;
  CW_WTPCB* configured = ac.Fresh();
  capwap::SetRfcCompatFlag((data[0] & 2) != 0);
  const capwap::ByteView elements(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    CW_RCVPKT rcv = capwap::fuzz::Received(kMsgDiscoveryReq, elements, 40000);
    Discover(configured, rcv);
  } else {
    Join(elements);
  }
  return 0;
}
