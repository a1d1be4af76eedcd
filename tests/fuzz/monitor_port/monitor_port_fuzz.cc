// Arbitrary datagrams on the core-dump monitor port, sent over loopback to
// the socket AC_MonitorSock_Init opened and read by its reader from the
// loop. The daemon keeps no core dumps yet, so what is pinned is that
// nothing breaks: every datagram is read away, the reader stays armed
// exactly once, and no other event or descriptor appears.
//
// Input: a run of records {length u16 big-endian, datagram}.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "transport/sockets.h"

namespace {

struct Daemon {
  Daemon() {
    setenv("CAPWAP_PORT_BASE", std::to_string(capwap::test::FreePortBase()).c_str(), 1);
    FUZZ_CHECK(AC_MonitorSock_Init(INADDR_LOOPBACK) == 0);
  }
  capwap::test::DaemonContext lib;
  capwap::test::UdpEndpoint ap;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  static Daemon daemon;
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  const uint16_t port = capwap::CapwapPort(capwap::kMonitorPort);
  capwap::WireReader in(data, size);
  uint16_t length = 0;
  for (int records = 0; records < 64 && in.u16(length); ++records) {
    capwap::ByteView datagram;
    in.view(std::min<size_t>({length, in.remaining(), 65507}), datagram);
    daemon.ap.SendTo(port, capwap::Bytes(datagram.begin(), datagram.end()));
    // Several datagrams at once now and then: the reader takes one per wake-up.
    if (length & 1) daemon.lib.Settle();
  }
  daemon.lib.Settle();
  uint8_t probe = 0;
  FUZZ_CHECK(recv(g_iAC_MonCoreFd, &probe, 1, MSG_DONTWAIT | MSG_PEEK) < 0);
  FUZZ_CHECK(thread_master_read_count(daemon.lib.master()) == 1);
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
