// Command-socket datagrams: a run of datagrams of up to 600 bytes, each
// handled as the socket's reader hands it over, against a registry holding
// AP "seed" (ID 1, MAC 02:00:00:00:00:01, Idle) and AP "busy" (ID 2, MAC
// 02:00:00:00:00:02, in Run). The first input byte picks how many of the
// datagrams go through the real socket (the rest are handed over directly).
//
// Input: {length u16, bytes} repeated.
// Oracles: every AP's name is one token of 1-32 printable characters; the
// MAC index and the blocks agree both ways (no MAC bound twice, no stale
// entry); "busy" keeps its MAC; no descriptor is left.
#include <sys/socket.h>

#include <cctype>
#include <cstddef>
#include <cstdint>

#include "config/model_catalogue.h"
#include "export/apm.h"
#include "fuzz/fuzz_support.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "side-sim/side_sim.h"
#include "support/lab.h"

namespace {

using Mac = std::array<uint8_t, 6>;

struct Daemon {
  Daemon() {
    CW_ApModel_Init();
    WMAC_AC_IPC_SetZg(lab.ctx());
  }
  void Fresh() {
    WtpTableReset();
    CW_AC_WtpTableInit();
    for (uint8_t i = 1; i <= 2; ++i) {
      CW_WTPCB* wtp = CW_AC_CreateWTP("ia-210", i, i == 1 ? "seed" : "busy", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->mac = {0x02, 0, 0, 0, 0, i};
      CW_AC_AddWTPByMac(wtp->mac, wtp);
      if (i == 2) wtp->state = kStateRun;
    }
  }
  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog quiet;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Daemon daemon;
  daemon.Fresh();
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  FUZZ_CHECK(Capwap_Init_CmdSock() == 0);
  capwap::WireReader in(data, size);
  uint8_t through_socket = 0;
  in.u8(through_socket);
  uint16_t length = 0;
  for (int n = 0; n < 64 && in.u16(length); ++n) {
    capwap::ByteView datagram;
    in.view(std::min<size_t>(length % 601, in.remaining()), datagram);
    if (n < through_socket % 8) {
      capwap::sim::SendCmdLine(datagram);
      daemon.lab.Settle();
    } else {
      Capwap_Analysis_CmdLine(datagram.data(), datagram.size());
    }
  }
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    const CW_WTPCB* wtp = CW_AC_GetWTPByID(apid);
    if (!wtp) continue;
    FUZZ_CHECK(!wtp->name.empty() && wtp->name.size() <= kWtpNameMax);
    for (char c : wtp->name) FUZZ_CHECK(std::isgraph(static_cast<unsigned char>(c)));
    if (wtp->mac != Mac{}) FUZZ_CHECK(CW_AC_GetWTPByMac(wtp->mac) == wtp);
  }
  for (uint8_t last = 0; last < 255; ++last) {
    const Mac mac{0x02, 0, 0, 0, 0, last};
    const CW_WTPCB* holder = CW_AC_GetWTPByMac(mac);
    FUZZ_CHECK(!holder || holder->mac == mac);
  }
  FUZZ_CHECK(CW_AC_GetWTPByNAME("busy")->mac == (Mac{0x02, 0, 0, 0, 0, 2}));
  ApmReset();
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
