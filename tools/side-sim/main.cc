// side-sim: the cloud connection manager stand-in, and a sender of APM events
// and command-socket datagrams, for a running capwap daemon.
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export/apm.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "side-sim/side_sim.h"

namespace {

volatile std::sig_atomic_t g_stop_requested = 0;
void OnSignal(int) { g_stop_requested = 1; }
constexpr long kStopCheckMs = 200;

void PrintUsage(const char* program) {
  printf(
      "Usage: %s conm [SERVICE]\n"
      "       %s apm TYPE HEX [TYPE HEX ...]\n"
      "       %s cmd CODE [ITEM ...]\n"
      "Paths lie under CAPWAP_ROOT when it is set.\n"
      "\n"
      "conm  plays the cloud connection manager for SERVICE (default gateway):\n"
      "      prints every registration datagram (/tmp/conm_lib_addr.SERVICE) and\n"
      "      every published document as \"TOPIC JSON\" (/tmp/conm_mqtts_addr.SERVICE)\n"
      "      until interrupted\n"
      "apm   sends the events, all in one write, on one connection to\n"
      "      /tmp/apm_ac_address: TYPE decimal, HEX the payload (\"-\" for none)\n"
      "cmd   sends one datagram to /tmp/wlancfg_capwap_addr: CODE (for example\n"
      "      0x02010200), then each ITEM as text with its terminating NUL\n"
      "      (create: NAME MODEL [APID]; bind: NAME xx:xx:xx:xx:xx:xx)\n",
      program, program, program);
}

bool ParseHex(const char* text, capwap::Bytes* out) {
  out->clear();
  if (std::strcmp(text, "-") == 0) return true;
  std::string digits;
  for (const char* c = text; *c; ++c) {
    if (*c != ' ' && *c != ':' && *c != '-') digits.push_back(*c);
  }
  if (digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char* end = nullptr;
    const long v = strtol(pair, &end, 16);
    if (*end != 0) return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

bool ParseU32(const char* text, uint32_t* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = strtoul(text, &end, 0);
  if (errno != 0 || *end != 0 || end == text || v > 0xFFFFFFFFul) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

int CheckStop(thread* t) {
  auto* master = static_cast<thread_master*>(THREAD_ARG(t));
  if (g_stop_requested) {
    thread_master_stop(master);
    return 0;
  }
  thread_add_timer_msec(master, CheckStop, master, kStopCheckMs);
  return 0;
}

int RunConm(const char* service) {
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  ThreadMasterPtr master = thread_master_create();
  capwap::sim::ConmSim conm(master.get(), service, [](std::string_view line) {
    printf("%.*s\n", static_cast<int>(line.size()), line.data());
    fflush(stdout);
  });
  if (conm.Start() != 0) return 1;
  printf("side-sim conm ready for service %s (root '%s')\n", service,
         capwap::RootPrefix().c_str());
  fflush(stdout);
  thread_add_timer_msec(master.get(), CheckStop, master.get(), kStopCheckMs);
  thread fetched;
  while (thread_fetch(master.get(), &fetched)) thread_call(&fetched);
  conm.Stop();
  return 0;
}

int RunApm(int argc, char** argv) {
  capwap::Bytes all;
  for (int i = 0; i + 1 < argc; i += 2) {
    uint32_t type = 0;
    capwap::Bytes payload;
    if (!ParseU32(argv[i], &type) || !ParseHex(argv[i + 1], &payload)) {
      fprintf(stderr, "bad event '%s %s'\n", argv[i], argv[i + 1]);
      return 2;
    }
    const capwap::Bytes event = ApmEventEncode(type, payload);
    all.insert(all.end(), event.begin(), event.end());
  }
  if (argc == 0 || argc % 2 != 0) return 2;
  capwap::sim::ApmClient apm;
  if (!apm.Connect() || !apm.Write(all)) {
    fprintf(stderr, "cannot send to the APM socket: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}

int RunCmd(int argc, char** argv) {
  uint32_t code = 0;
  if (argc < 1 || !ParseU32(argv[0], &code)) return 2;
  std::vector<capwap::Bytes> items;
  for (int i = 1; i < argc; ++i) {
    capwap::Bytes item(argv[i], argv[i] + std::strlen(argv[i]) + 1);
    items.push_back(std::move(item));
  }
  if (!capwap::sim::SendCmdLine(CmdLineEncode(code, items))) {
    fprintf(stderr, "cannot send to the command socket: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "";
  int status = 2;
  if (mode == "conm" && argc <= 3) status = RunConm(argc == 3 ? argv[2] : "gateway");
  if (mode == "apm") status = RunApm(argc - 2, argv + 2);
  if (mode == "cmd") status = RunCmd(argc - 2, argv + 2);
  if (mode == "-h" || mode == "--help") {
    PrintUsage(argv[0]);
    return 0;
  }
  if (status == 2) PrintUsage(argv[0]);
  return status;
}
