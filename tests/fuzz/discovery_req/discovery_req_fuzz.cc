// Arbitrary message elements as a Discovery Request, decoded on their own
// and handled by a controller with one configured AP (MAC
// 02:00:00:00:01:01, model ia-210), automatic admission on, the built-in
// catalogue and the vendor handlers.
//
// Oracles: a decoded request has board data and a descriptor, radios only
// in their own slots and a lower-case model; Discovery never creates a
// record nor moves the configured one out of Idle.
#include <cstddef>
#include <cstdint>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "fsm/discovery.h"
#include "fsm/vendor_handlers.h"
#include "fuzz/fuzz_support.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "transport/codec.h"

namespace {

constexpr std::array<uint8_t, 6> kConfiguredMac{0x02, 0, 0, 0, 0x01, 0x01};

struct Controller {
  Controller() {
    CW_ApModel_Init();
    CW_AC_WtpTableInit();
    CW_CMD_Set_AutoEnable(1);
    CW_RegisterVendorHandlers();
    configured = CW_AC_CreateWTP("ia-210", 0xFFFFFFFF, "", 0);
    FUZZ_CHECK(configured != nullptr);
    configured->mac = kConfiguredMac;
    CW_AC_AddWTPByMac(kConfiguredMac, configured);
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  CW_WTPCB* configured = nullptr;
};

CW_RCVPKT Request(const uint8_t* data, size_t size) {
  CW_RCVPKT rcv;
  rcv.buffer.resize(kCwHeadersLen + size);  // exactly the datagram
  capwap::WireWriter w(rcv.buffer.data(), rcv.buffer.size());
  w.u32(2u << 19);
  w.u32(0);
  w.u32(CW_MSG_DISCOVERY_REQ);
  w.u8(1);
  w.u16(static_cast<uint16_t>(size));
  w.u8(0);
  w.bytes(data, size);
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = CW_MSG_DISCOVERY_REQ;
  rcv.seq = 1;
  rcv.remote.SetIpv4(0x7F000001);
  rcv.remote.port = 40000;
  rcv.local.SetIpv4(0x7F000001);
  return rcv;
}

void CheckDecoded(const CW_DISC_REQ_INFO& info) {
  FUZZ_CHECK(info.have_board && info.have_descriptor);
  for (int slot = 0; slot < kDiscRadioSlots; ++slot) {
    const uint8_t id = info.radios[slot].radio_id;
    FUZZ_CHECK(id == 0 || id == slot + 1);
  }
  for (char c : info.board.model) FUZZ_CHECK(c < 'A' || c > 'Z');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  if (size > kCwRcvBufSize - kCwHeadersLen) return 0;
  CW_RCVPKT rcv = Request(data, size);
  CW_DISC_REQ_INFO info;
  if (CW_AC_DecDiscReq(&info, &rcv) == 0) CheckDecoded(info);
  CW_AC_DiscReqHandler(nullptr, &rcv);
  FUZZ_CHECK(CW_AC_WtpCount() == 1);
  FUZZ_CHECK(ac.configured->state == CW_STATE_IDLE);
  return 0;
}
