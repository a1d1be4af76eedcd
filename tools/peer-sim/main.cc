// peer-sim: plays WMAC, WRRM and WIDS for a running capwap daemon.
#include <getopt.h>
#include <signal.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "peer-sim/peer_sim.h"
#include "peer-sim/wlan_script.h"
#include "platform/paths.h"
#include "platform/thread.h"

namespace {

volatile std::sig_atomic_t g_stop_requested = 0;

void OnSignal(int) { g_stop_requested = 1; }

constexpr long kStopCheckMs = 200;

void PrintUsage(const char* program) {
  printf(
      "Usage: %s [options]\n"
      "Plays the controller's sibling daemons on their local sockets (under\n"
      "CAPWAP_ROOT when set):\n"
      "  WMAC  listens on /tmp/wmac_ac_addr (stream) and logs every notification;\n"
      "        answers a radio binding notification (3) with GET-RDBIND (3)\n"
      "  WRRM  receives on /tmp/wrrm_ac_addr (datagram); answers the same\n"
      "        notification with the scan settings (16)\n"
      "  WIDS  receives on /tmp/wids_ac_addr (datagram); answers a\n"
      "        get-configuration request (0) with its configuration (25)\n"
      "Answers go to the controller's /tmp/cw_ac_addr.\n"
      "\n"
      "Options:\n"
      "  --silent-wmac          never answer as WMAC\n"
      "  --silent-wrrm          never answer as WRRM\n"
      "  --silent-wids          never answer as WIDS\n"
      "  --delay-ms N           wait N milliseconds before every answer\n"
      "  --split-ms N           write every message to the controller in two halves,\n"
      "                         N milliseconds apart\n"
      "  --stall-wmac-after N   stop reading the controller's notifications after N\n"
      "                         of them (0: never read), keeping the connection open\n"
      "  --rdbind-hex HEX       GET-RDBIND payload instead of echoing the AP's binding\n"
      "  --wrrm-hex HEX         scan-settings elements (type 16 payload)\n"
      "  --wids-hex HEX         WIDS configuration elements (type 25 payload)\n"
      "  --vendor-id N          vendor identifier of the default elements (%u)\n"
      "  --send LINE            play one WMAC request once ready (repeatable, in order)\n"
      "  --script FILE          play the WMAC requests of FILE once ready, one a line:\n"
      "                           add-wlan AP RADIO WLAN SSID [key TEXT] [web TITLE]\n"
      "                           update-wlan AP RADIO WLAN [key TEXT]\n"
      "                           del-wlan AP RADIO WLAN\n"
      "                           add-sta AP RADIO WLAN MAC      del-sta AP RADIO MAC\n"
      "                           sta-traffic AP MAC FIRST SECOND TYPE\n"
      "                           send TYPE AP HEX               wait SECONDS\n"
      "  --log-file PATH        append the log to PATH instead of standard output\n"
      "  -h, --help             this text\n",
      program, capwap::sim::kDefaultVendorId);
}

bool ParseHex(const char* text, capwap::Bytes* out) {
  std::string digits;
  for (const char* c = text; *c; ++c) {
    if (*c == ' ' || *c == ':' || *c == '-') continue;
    digits.push_back(*c);
  }
  if (digits.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char* end = nullptr;
    long v = strtol(pair, &end, 16);
    if (*end != 0) return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

bool ParseUnsigned(const char* text, unsigned long max, unsigned long* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != 0 || v > max) return false;
  *out = v;
  return true;
}

struct Settings {
  capwap::sim::PeerSimOptions sim;
  std::string log_file;
  bool wrrm_given = false;
  bool wids_given = false;
  uint32_t vendor_id = capwap::sim::kDefaultVendorId;
  std::vector<capwap::sim::ScriptStep> script;
};

// Returns -1 to go on, else the exit status.
int ParseArgs(int argc, char** argv, Settings* s) {
  enum { kSilentWmac = 256, kSilentWrrm, kSilentWids, kDelay, kRdbind, kWrrm, kWids, kVendor,
         kLogFile, kSplit, kStall, kSend, kScript };
  static const option kOptions[] = {
      {"silent-wmac", no_argument, nullptr, kSilentWmac},
      {"silent-wrrm", no_argument, nullptr, kSilentWrrm},
      {"silent-wids", no_argument, nullptr, kSilentWids},
      {"delay-ms", required_argument, nullptr, kDelay},
      {"split-ms", required_argument, nullptr, kSplit},
      {"stall-wmac-after", required_argument, nullptr, kStall},
      {"rdbind-hex", required_argument, nullptr, kRdbind},
      {"wrrm-hex", required_argument, nullptr, kWrrm},
      {"wids-hex", required_argument, nullptr, kWids},
      {"vendor-id", required_argument, nullptr, kVendor},
      {"log-file", required_argument, nullptr, kLogFile},
      {"send", required_argument, nullptr, kSend},
      {"script", required_argument, nullptr, kScript},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  int opt;
  unsigned long number = 0;
  capwap::Bytes bytes;
  while ((opt = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1) {
    switch (opt) {
      case kSilentWmac: s->sim.silent_wmac = true; break;
      case kSilentWrrm: s->sim.silent_wrrm = true; break;
      case kSilentWids: s->sim.silent_wids = true; break;
      case kDelay:
        if (!ParseUnsigned(optarg, 3'600'000, &number)) {
          fprintf(stderr, "%s: bad --delay-ms value '%s'\n", argv[0], optarg);
          return 2;
        }
        s->sim.delay_ms = static_cast<uint32_t>(number);
        break;
      case kSplit:
        if (!ParseUnsigned(optarg, 3'600'000, &number)) {
          fprintf(stderr, "%s: bad --split-ms value '%s'\n", argv[0], optarg);
          return 2;
        }
        s->sim.split_ms = static_cast<uint32_t>(number);
        break;
      case kStall:
        if (!ParseUnsigned(optarg, UINT32_MAX, &number)) {
          fprintf(stderr, "%s: bad --stall-wmac-after value '%s'\n", argv[0], optarg);
          return 2;
        }
        s->sim.stall_wmac_after = static_cast<uint32_t>(number);
        break;
      case kVendor:
        if (!ParseUnsigned(optarg, UINT32_MAX, &number)) {
          fprintf(stderr, "%s: bad --vendor-id value '%s'\n", argv[0], optarg);
          return 2;
        }
        s->vendor_id = static_cast<uint32_t>(number);
        break;
      case kRdbind:
      case kWrrm:
      case kWids:
        if (!ParseHex(optarg, &bytes)) {
          fprintf(stderr, "%s: bad hexadecimal bytes '%s'\n", argv[0], optarg);
          return 2;
        }
        if (opt == kRdbind) s->sim.rdbind_override = bytes;
        if (opt == kWrrm) s->sim.wrrm_scan_elements = bytes, s->wrrm_given = true;
        if (opt == kWids) s->sim.wids_config_elements = bytes, s->wids_given = true;
        break;
      case kLogFile: s->log_file = optarg; break;
      case kSend:
      case kScript: {
        std::string why;
        bool ok = opt == kSend ? capwap::sim::ParseScriptLine(optarg, &s->script, &why)
                               : capwap::sim::LoadScriptFile(optarg, &s->script, &why);
        if (!ok) {
          fprintf(stderr, "%s: %s\n", argv[0], why.c_str());
          return 2;
        }
        break;
      }
      case 'h': PrintUsage(argv[0]); return 0;
      default: PrintUsage(argv[0]); return 2;
    }
  }
  if (optind < argc) {
    fprintf(stderr, "%s: unexpected argument '%s'\n", argv[0], argv[optind]);
    return 2;
  }
  if (!s->wrrm_given) s->sim.wrrm_scan_elements = capwap::sim::DefaultWrrmScanElements(s->vendor_id);
  if (!s->wids_given) s->sim.wids_config_elements = capwap::sim::DefaultWidsConfigElements(s->vendor_id);
  return -1;
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f && f != stdout) fclose(f);
  }
};

void WriteLine(FILE* out, std::string_view line) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  fprintf(out, "%s.%03ld %.*s\n", stamp, static_cast<long>(now.tv_usec / 1000),
          static_cast<int>(line.size()), line.data());
  fflush(out);
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

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  int status = ParseArgs(argc, argv, &settings);
  if (status >= 0) return status;

  std::unique_ptr<FILE, FileCloser> log(stdout);
  if (!settings.log_file.empty()) {
    log.reset(fopen(settings.log_file.c_str(), "a"));
    if (!log) {
      fprintf(stderr, "%s: cannot open %s: %s\n", argv[0], settings.log_file.c_str(),
              strerror(errno));
      return 1;
    }
  }
  FILE* out = log.get();
  settings.sim.log = [out](std::string_view line) { WriteLine(out, line); };

  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  ThreadMasterPtr master = thread_master_create();
  capwap::sim::PeerSim sim(master.get(), settings.sim);
  if (sim.Start() != 0) return 1;
  WriteLine(out, "peer-sim ready (root '" + capwap::RootPrefix() + "')");
  thread_add_timer_msec(master.get(), CheckStop, master.get(), kStopCheckMs);
  capwap::sim::WmacScript script(master.get(), sim, std::move(settings.script));
  script.Start();

  thread fetched;
  while (thread_fetch(master.get(), &fetched)) thread_call(&fetched);
  sim.Stop();
  WriteLine(out, "peer-sim stopped");
  return 0;
}
