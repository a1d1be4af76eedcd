// Arbitrary bytes on a WMAC connection: written into one end of a Unix
// stream pair whose other end is read by the daemon's connection reader,
// then the writer closes. Oracle: the reader never blocks for good, and the
// connection is closed once the peer has gone (no descriptor left behind).
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/ipc.h"
#include "platform/lib.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "relay/relay.h"
#include "relay/wmac.h"
#include "support/lab.h"

namespace {

struct Daemon {
  Daemon() {
    CW_AC_WtpTableInit();
    AC_RegisterIpcHandlers();
    WMAC_AC_IPC_SetZg(lib.ctx());
  }
  capwap::test::DaemonContext lib;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  static Daemon daemon;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  // Small inputs fit in the socket buffer: write all, then hang up.
  size_t written = 0;
  while (written < size) {
    ssize_t n = write(pair[1], data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(pair[1]);
  thread_master* master = daemon.lib.master();
  if (IPC_TcpSocketAdopt(daemon.lib.ctx(), pair[0], AC_RcvIPCPkt) != 0) return 0;
  for (int round = 0; round < 1000 && thread_master_read_count(master) > 0; ++round) {
    thread_master_poll(master, 0);
  }
  FUZZ_CHECK(thread_master_read_count(master) == 0);
  FUZZ_CHECK(fcntl(pair[0], F_GETFD) == -1);  // the reader closed its end
  return 0;
}
