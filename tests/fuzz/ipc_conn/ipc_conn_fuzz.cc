// The IPC layer's connection handling under the daemon's WMAC reader: four
// clients of the WMAC listener (accepted by the loop, read by AC_RcvIPCPkt)
// and a peer listener the daemon sends to through IPC_TcpSocketSend.
//
// Input: a run of operations; byte bits 0-2 the kind, bits 3-4 the client.
//   0 connect   1 write {length u16, bytes}   2 close   3 half-close
//   4 connect {u8} clients at once and close them   5 the daemon sends
//   {u8} KiB to the peer   6 the peer reads {u8} KiB   7 the peer hangs up
// The loop settles after each operation, so a message may stall inside its
// header or payload for any number of wake-ups.
// Oracles: the send queue never passes its bound; a send is queued or
// reported failed; once every client has gone the daemon watches only its
// listener, and after shutdown no descriptor is left open.
#include <sys/socket.h>
#include <sys/un.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/ipc.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "relay/relay.h"
#include "relay/wmac.h"
#include "support/lab.h"

namespace {

using capwap::fuzz::StreamClient;
constexpr const char* kPeerPath = "/tmp/fuzz_ipc_peer";
constexpr const char* kListenPath = "/tmp/cw_ac_addr";  // the WMAC listener

sockaddr_un UnixAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), std::min(path.size(), sizeof addr.sun_path - 1));
  return addr;
}

struct Daemon {
  Daemon() {
    CW_AC_WtpTableInit();
    RegisterIpcHandlers();
    WMAC_AC_IPC_SetZg(lib.ctx());
    const std::string path = capwap::RootPath(kPeerPath);
    FUZZ_CHECK(capwap::MakeParentDirs(path));
    const sockaddr_un peer = UnixAddress(path);
    peer_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(bind(peer_listener, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0);
    FUZZ_CHECK(listen(peer_listener, 64) == 0);
  }

  // The peer's end of the daemon's outgoing connection, once accepted.
  StreamClient& Peer() {
    if (!peer.open()) {
      int fd = accept4(peer_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) peer.Adopt(fd);
    }
    return peer;
  }

  capwap::test::DaemonContext lib;
  int peer_listener = -1;
  StreamClient peer;
};

bool Connect(StreamClient& client) {
  const sockaddr_un addr = UnixAddress(capwap::RootPath(kListenPath));
  return client.Connect(AF_UNIX, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  static Daemon daemon;
  lib_globals* ctx = daemon.lib.ctx();
  thread_master* master = daemon.lib.master();
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  FUZZ_CHECK(AC_IPCInit() == 0);
  std::array<StreamClient, 4> clients;
  int out_fd = -1;
  capwap::WireReader in(data, size);
  uint8_t op = 0;
  for (int ops = 0; ops < 256 && in.u8(op); ++ops) {
    StreamClient& client = clients[(op >> 3) & 3];
    uint8_t arg = 0;
    uint16_t length = 0;
    capwap::ByteView bytes;
    switch (op & 7) {
      case 0:
        Connect(client);
        break;
      case 1:
        in.u16(length);
        in.view(std::min<size_t>(length, in.remaining()), bytes);
        client.Write(bytes.data(), bytes.size());
        break;
      case 2:
        client.Close();
        break;
      case 3:
        if (client.open()) shutdown(client.fd(), SHUT_WR);
        break;
      case 4: {
        in.u8(arg);
        std::array<StreamClient, 24> burst;
        for (size_t i = 0; i < arg % burst.size(); ++i) Connect(burst[i]);
        daemon.lib.Settle();
        break;
      }
      case 5: {
        in.u8(arg);
        const capwap::Bytes message(static_cast<size_t>(arg) * 1024 + 1, arg);
        int sent = IPC_TcpSocketSend(ctx, &out_fd, kPeerPath, message.data(), message.size());
        FUZZ_CHECK(sent == static_cast<int>(message.size()) || (sent == -1 && out_fd == -1));
        break;
      }
      case 6:
        in.u8(arg);
        daemon.Peer().Read(static_cast<size_t>(arg) * 1024);
        break;
      case 7:
        daemon.Peer().Close();
        break;
    }
    daemon.lib.Settle();
    FUZZ_CHECK(IPC_TcpSocketUnsent(ctx, out_fd) <= kIpcSendQueueLimit);
  }
  for (StreamClient& client : clients) client.Close();
  daemon.lib.Settle();
  FUZZ_CHECK(thread_master_read_count(master) == 1 + (IPC_TcpSocketUnsent(ctx, out_fd) > 0));
  IPC_Shutdown(ctx);
  daemon.Peer().Close();
  while (daemon.Peer().open()) daemon.Peer().Close();  // connections not yet accepted
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
