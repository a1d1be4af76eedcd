// Arbitrary command lines and configuration texts through the daemon's
// command tree. The first byte picks the mode: even, the rest is replayed as
// a configuration file; odd, each line runs in an interactive vty that
// starts privileged. Oracle: nothing crashes, every line gets an answer
// (a result code), and the running configuration replays to itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cli/cli_init.h"
#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "platform/lib.h"
#include "registry/tables.h"
#include "support/lab.h"

namespace {

struct Daemon {
  Daemon() {
    ctx = lib.ctx();
    host_vty_init(ctx);
    CW_AC_WtpTableInit();
    CW_ApModel_Init();
    capwap_cli_init(ctx);
    lib_set_start_complete(true);
  }
  capwap::test::DaemonContext lib;
  lib_globals* ctx = nullptr;
};

Daemon& TheDaemon() {
  static Daemon daemon;
  return daemon;
}

void RunInteractive(lib_globals* ctx, std::string_view text) {
  std::unique_ptr<vty> v = vty_new_internal(ctx, EXEC_NODE);
  v->privilege = kPrivilegeAdmin;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? text.size() - start
                                                                             : end - start);
    int result = cli_execute(ctx, v.get(), line);
    FUZZ_CHECK(result >= CLI_SUCCESS && result <= CLI_ERR_TOO_LONG);
    v->out.clear();
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  if (size < 1) return 0;
  Daemon& daemon = TheDaemon();
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    cli_replay_text(daemon.ctx, text, "fuzz.conf");
  } else {
    RunInteractive(daemon.ctx, text);
  }
  // Whatever state the input left, its written form rebuilds the same text.
  std::string running = cli_running_config(daemon.ctx);
  cli_replay_text(daemon.ctx, running, "running-config");
  FUZZ_CHECK(cli_running_config(daemon.ctx) == running);
  return 0;
}
