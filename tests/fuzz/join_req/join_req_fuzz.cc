// Arbitrary message elements as a Join Request, decoded on their own and
// then handled twice by a fresh controller (automatic admission on, the
// built-in catalogue, the vendor handlers): from one endpoint, then from
// another, which reaches the session-in-use and wrong-state refusals.
//
// Oracles: the vendor handlers write master status and capability bits
// only while a Join record is being decoded; at most one AP is counted as
// joining, and an AP in Join is indexed under the reported session ID with
// its join-wait timer running.
#include <cstddef>
#include <cstdint>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "fsm/join.h"
#include "fsm/vendor_handlers.h"
#include "fuzz/fuzz_support.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "transport/codec.h"

namespace {

struct Controller {
  Controller() {
    CW_ApModel_Init();
    CW_CMD_Set_AutoEnable(1);
    CW_RegisterVendorHandlers();
  }
  void Fresh() {
    CW_AC_WtpTableReset();
    CW_AC_WtpTableInit();
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
};

CW_RCVPKT Request(const uint8_t* data, size_t size, uint16_t port) {
  CW_RCVPKT rcv;
  rcv.buffer.resize(kCwHeadersLen + size);  // exactly the datagram
  capwap::WireWriter w(rcv.buffer.data(), rcv.buffer.size());
  w.u32(2u << 19);
  w.u32(0);
  w.u32(CW_MSG_JOIN_REQ);
  w.u8(3);
  w.u16(static_cast<uint16_t>(size));
  w.u8(0);
  w.bytes(data, size);
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = CW_MSG_JOIN_REQ;
  rcv.seq = 3;
  rcv.remote.SetIpv4(0x7F000001);
  rcv.remote.port = port;
  rcv.local.SetIpv4(0x7F000001);
  return rcv;
}

void CheckJoined(const CW_JOIN_REQ_INFO& info) {
  CW_WTPCB* wtp = CW_AC_GetWTPByMac(info.board.base_mac);
  if (!wtp || wtp->state != CW_STATE_JOIN) return;
  FUZZ_CHECK(CW_AC_GetWTPBySESSID(info.session_id) == wtp);
  FUZZ_CHECK(wtp->join_timer.Running());
  FUZZ_CHECK(wtp->concurrency_flag == 1);
  FUZZ_CHECK(wtp->master_status == info.master_status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  if (size > kCwRcvBufSize - kCwHeadersLen) return 0;
  ac.Fresh();
  CW_RCVPKT first = Request(data, size, 40001);
  CW_JOIN_REQ_INFO info;
  const bool decoded = CW_AC_DecJoinReq(&info, &first) == 0;
  FUZZ_CHECK(CW_JoinVendorContext(&info) == nullptr);

  CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(first.remote), &first);
  CW_RCVPKT second = Request(data, size, 40002);
  CW_AC_JoinReqHandler(CW_AC_GetWTPByIP(second.remote), &second);
  FUZZ_CHECK(g_uiCwConcurrentWTPS <= 1);
  FUZZ_CHECK(CW_AC_WtpCount() <= 1);
  if (decoded) CheckJoined(info);
  return 0;
}
