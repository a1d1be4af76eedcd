// Arbitrary datagrams on the core-dump monitor port, sent over loopback to
// the socket AC_MonitorSock_Init opened and read by its reader from the
// loop, from the host of an AP in Run (its control endpoint is
// 127.0.0.1 at the control port), so chunks are taken, written and
// acknowledged.
//
// Input: a run of records {length u16 big-endian, datagram}; length bit 15
// first moves the clock past the stall timeout.
// Oracles: every datagram is read away and the reader stays armed exactly
// once; an upload is in progress exactly while its stall timer runs; core
// files stay in their folder; no descriptor is left open.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "transport/monitor.h"
#include "transport/sockets.h"

namespace {

namespace fs = std::filesystem;

struct Daemon {
  Daemon() {
    setenv("CAPWAP_PORT_BASE", std::to_string(capwap::test::FreePortBase()).c_str(), 1);
    FUZZ_CHECK(AC_MonitorSock_Init(INADDR_LOOPBACK) == 0);
    CW_ApModel_Init();
  }
  capwap::test::DaemonContext lib;
  capwap::test::UdpEndpoint ap;
  const fs::path cores = fs::path(MonCoreFileName(1, "x", 0)).parent_path();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  static Daemon daemon;
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  WtpTableReset();
  CW_AC_WtpTableInit();
  std::error_code ec;
  fs::remove_all(daemon.cores, ec);
  CW_WTPCB* wtp = CW_AC_CreateWTP("ia-210", 0xFFFFFFFF, "", 0);
  FUZZ_CHECK(wtp != nullptr);
  wtp->state = kStateRun;
  CW_ADDR control = daemon.ap.Addr();
  control.port = capwap::CapwapPort(capwap::kControlPort);
  CW_AC_AddWTPByIP(control, wtp);

  const uint16_t port = capwap::CapwapPort(capwap::kMonitorPort);
  capwap::WireReader in(data, size);
  uint16_t length = 0;
  for (int records = 0; records < 64 && in.u16(length); ++records) {
    if (length & 0x8000) daemon.lib.RunFor(kMonCoreStallSeconds + 1);
    capwap::ByteView datagram;
    in.view(std::min<size_t>({length & 0x7FFFu, in.remaining()}), datagram);
    daemon.ap.SendTo(port, capwap::Bytes(datagram.begin(), datagram.end()));
    // Several datagrams at once now and then: the reader takes one per wake-up.
    if (length & 1) daemon.lib.Settle();
  }
  daemon.lib.Settle();
  daemon.ap.Drain();
  uint8_t probe = 0;
  FUZZ_CHECK(recv(g_iAC_MonCoreFd, &probe, 1, MSG_DONTWAIT | MSG_PEEK) < 0);
  FUZZ_CHECK(thread_master_read_count(daemon.lib.master()) == 1);
  for (const capwap::MonCore& record : wtp->mon_core) {
    FUZZ_CHECK((record.in_progress != 0) == record.stall_timer.Running());
  }
  for (const auto& entry : fs::recursive_directory_iterator(daemon.lib.root().path())) {
    if (entry.is_regular_file() && entry.path().filename().string().starts_with("core-")) {
      FUZZ_CHECK(entry.path().parent_path() == daemon.cores);
    }
  }
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
