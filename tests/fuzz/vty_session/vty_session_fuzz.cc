// The vty server's byte handling over real TCP sessions on loopback: telnet
// negotiation, line editing, the command tree behind it, the session limit,
// output back-pressure (clients with a tiny receive window that read only
// when told) and the idle timeout on the loop's clock.
//
// Input: a run of operations; byte bits 0-2 the kind, bits 3-4 the client.
//   0 connect   1 write {length u8, bytes}   2 read what waits   3 close
//   4 write the last written bytes {u8} more times   5 move the clock {u8}
//   x 10 seconds   6 fill every free session slot, one connection more, and
//   close them (once per input)   7 reset (close with linger 0)
// The loop settles after each operation. An input writes at most 16 KiB in
// all: the cost of a line is the command tree's, fuzzed by vty_line.
// Oracles: never more than the session limit; the connection beyond it is
// refused with the refusal line; once every client has gone no session and
// no descriptor is left.
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_init.h"
#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/cli.h"
#include "platform/lib.h"
#include "platform/thread.h"
#include "platform/vty_server.h"
#include "registry/tables.h"
#include "support/lab.h"

namespace {

using capwap::cli::kMaxSessions;
using capwap::fuzz::StreamClient;

struct Daemon {
  Daemon() {
    host_vty_init(lib.ctx());
    CW_AC_WtpTableInit();
    CW_ApModel_Init();
    capwap_cli_init(lib.ctx());
    lib_set_start_complete(true);
    FUZZ_CHECK(server.Start(0) == 0);
  }

  bool Connect(StreamClient& client, bool tiny_window) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(server.port());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!client.Connect(AF_INET, reinterpret_cast<const sockaddr*>(&sa), sizeof sa)) return false;
    int window = 1;  // the kernel's minimum
    if (tiny_window) setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    lib.Settle();
    return true;
  }

  capwap::test::DaemonContext lib;
  capwap::cli::VtyServer server{lib.ctx()};
};

// Opens sessions until the server is full, then one more, which must be
// refused with its line.
void FillSessions(Daemon& daemon) {
  std::vector<StreamClient> extra(kMaxSessions - daemon.server.session_count());
  for (StreamClient& client : extra) daemon.Connect(client, false);
  FUZZ_CHECK(daemon.server.session_count() == kMaxSessions);
  StreamClient refused;
  std::string answer;
  if (!daemon.Connect(refused, false)) return;
  for (int i = 0; i < 100 && refused.Read(4096, &answer); ++i) daemon.lib.Settle();
  FUZZ_CHECK(answer.find("% Too many vty sessions") != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  static Daemon daemon;
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  std::array<StreamClient, 4> clients;
  capwap::ByteView last;
  bool filled = false;
  size_t budget = 16 * 1024;
  auto write = [&](StreamClient& client) {
    if (last.size() > budget) return;
    budget -= last.size();
    client.Write(last.data(), last.size());
  };
  capwap::WireReader in(data, size);
  uint8_t op = 0;
  for (int ops = 0; ops < 256 && in.u8(op); ++ops) {
    StreamClient& client = clients[(op >> 3) & 3];
    uint8_t arg = 0;
    switch (op & 7) {
      case 0:
        daemon.Connect(client, (op & 0x20) != 0);
        break;
      case 1:
        in.u8(arg);
        in.view(std::min<size_t>(arg, in.remaining()), last);
        write(client);
        break;
      case 2:
        client.Read(1 << 20);
        break;
      case 3:
        client.Close();
        break;
      case 4:
        in.u8(arg);
        for (int i = 0; i < arg; ++i) write(client);
        break;
      case 5:
        in.u8(arg);
        daemon.lib.RunFor(arg * 10.0);
        break;
      case 6:
        if (!filled) FillSessions(daemon);
        filled = true;
        break;
      case 7:
        if (client.open()) {
          linger reset{1, 0};
          setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
          client.Close();
        }
        break;
    }
    daemon.lib.Settle();
    FUZZ_CHECK(daemon.server.session_count() <= kMaxSessions);
  }
  for (StreamClient& client : clients) client.Close();
  daemon.lib.Settle();
  FUZZ_CHECK(daemon.server.session_count() == 0);
  FUZZ_CHECK(thread_master_read_count(daemon.lib.master()) == 1);
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
