// The APM socket under its reader: two clients of "/tmp/apm_ac_address"
// writing framed events of any type and length, raw bytes (so a header or
// payload may stop anywhere and several events may share one write), and
// closing. The registry holds three APs with MACs 02:00:00:00:00:0N (N = 1
// in Run, 2 in Join, 3 Idle); WMAC is absent, so every relay fails.
//
// Input: a run of operations; byte bits 0-1 the kind, bit 2 the client.
//   0 connect   1 event {type u8, length u16, bytes}   2 raw {length u16,
//   bytes}   3 close
// Oracles: the APs keep their states and their MAC index; once every client
// has gone the daemon watches only its listener, and no descriptor is left.
#include <sys/socket.h>
#include <sys/un.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/model_catalogue.h"
#include "export/apm.h"
#include "fuzz/fuzz_support.h"
#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"

namespace {

using capwap::fuzz::StreamClient;
constexpr uint32_t kStates[] = {kStateRun, kStateJoin, kStateIdle};

struct Daemon {
  Daemon() {
    CW_ApModel_Init();
    WMAC_AC_IPC_SetZg(lab.ctx());
    ApmActions actions = ApmDefaultActions();
    actions.acl_rules = [](CW_WTPCB*, capwap::ByteView) { return 0; };
    ApmSetActions(actions);
  }
  void Fresh() {
    WtpTableReset();
    CW_AC_WtpTableInit();
    for (uint8_t i = 0; i < 3; ++i) {
      CW_WTPCB* wtp = CW_AC_CreateWTP("ia-210", 0xFFFFFFFF, "", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
      wtp->state = kStates[i];
      wtp->master_status = 1;
      CW_AC_AddWTPByMac(wtp->mac, wtp);
    }
  }
  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog quiet;
};

bool Connect(StreamClient& client) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = capwap::RootPath("/tmp/apm_ac_address");
  std::memcpy(addr.sun_path, path.data(), std::min(path.size(), sizeof addr.sun_path - 1));
  return client.Connect(AF_UNIX, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Daemon daemon;
  daemon.Fresh();
  lib_globals* ctx = daemon.lab.ctx();
  const size_t descriptors = capwap::fuzz::OpenDescriptors();
  FUZZ_CHECK(AC_ApmIpcSocketInit() == 0);
  std::array<StreamClient, 2> clients;
  capwap::WireReader in(data, size);
  uint8_t op = 0;
  for (int ops = 0; ops < 128 && in.u8(op); ++ops) {
    StreamClient& client = clients[(op >> 2) & 1];
    uint8_t type = 0;
    uint16_t length = 0;
    capwap::ByteView bytes;
    switch (op & 3) {
      case 0:
        Connect(client);
        break;
      case 1: {
        in.u8(type);
        in.u16(length);
        in.view(std::min<size_t>(length, in.remaining()), bytes);
        // The announced length is the fuzzer's: it may promise more than follows.
        capwap::Bytes event = ApmEventEncode(type % 16, bytes);
        capwap::HostWriter(event.data() + 4, 4).u32(length);
        client.Write(event.data(), event.size());
        break;
      }
      case 2:
        in.u16(length);
        in.view(std::min<size_t>(length, in.remaining()), bytes);
        client.Write(bytes.data(), bytes.size());
        break;
      case 3:
        client.Close();
        break;
    }
    daemon.lab.Settle();
  }
  for (StreamClient& client : clients) client.Close();
  daemon.lab.Settle();
  for (uint8_t i = 0; i < 3; ++i) {
    const std::array<uint8_t, 6> mac{0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
    const CW_WTPCB* wtp = CW_AC_GetWTPByMac(mac);
    FUZZ_CHECK(wtp != nullptr && wtp->state == kStates[i] && wtp->mac == mac);
  }
  FUZZ_CHECK(thread_master_read_count(daemon.lab.master()) == 1);
  IPC_Shutdown(ctx);
  FUZZ_CHECK(capwap::fuzz::OpenDescriptors() == descriptors);
  return 0;
}
