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
#include <vector>

#include "peer-sim/peer_sim.h"
#include "peer-sim/policy_msgs.h"
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
      "  --log-file PATH        append the log to PATH instead of standard output\n"
      "  --policy CMD           send a WMAC security-policy request once started\n"
      "                         (start with \"wait SECONDS\" to let the APs reach Run)\n"
      "                         (repeatable, in order); CMD is one line as below\n"
      "  --policy-script FILE   send the requests of FILE, one line each, in order\n"
      "Policy lines: user-isolation APID B0 B1 B2 | acl-rule APID WORD B4 B5 HEX |\n"
      "  wlan-acl APID B0 B1 B2 WORD | l2-acl APID OP RADIO WLAN ACL [MAC] |\n"
      "  l2-acl-2 ... | dhcp-snooping KIND [HEX] | vlan-isolate APID HEX |\n"
      "  portal-domain APID WORD DOMAIN | raw TYPE APID PARAM [HEX] | wait SECONDS\n"
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
  std::vector<capwap::sim::PolicyCommand> policy;
};

// --policy and --policy-script: the requests to play once started.
bool AddPolicy(bool from_file, const char* arg, Settings* s, const char* program) {
  std::string why;
  bool ok = true;
  if (from_file) {
    ok = capwap::sim::LoadPolicyScript(arg, &s->policy, &why);
  } else {
    capwap::sim::PolicyCommand command;
    ok = capwap::sim::ParsePolicyCommand(arg, &command, &why);
    if (ok) s->policy.push_back(std::move(command));
  }
  if (!ok) fprintf(stderr, "%s: %s\n", program, why.c_str());
  return ok;
}

// Returns -1 to go on, else the exit status.
int ParseArgs(int argc, char** argv, Settings* s) {
  enum { kSilentWmac = 256, kSilentWrrm, kSilentWids, kDelay, kRdbind, kWrrm, kWids, kVendor,
         kLogFile, kSplit, kStall, kPolicy, kPolicyScript };
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
      {"policy", required_argument, nullptr, kPolicy},
      {"policy-script", required_argument, nullptr, kPolicyScript},
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
      case kPolicy:
      case kPolicyScript:
        if (!AddPolicy(opt == kPolicyScript, optarg, s, argv[0])) return 2;
        break;
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
  capwap::sim::PolicyRunner policy(master.get(), &sim, std::move(settings.policy));
  policy.Start();
  thread_add_timer_msec(master.get(), CheckStop, master.get(), kStopCheckMs);

  thread fetched;
  while (thread_fetch(master.get(), &fetched)) thread_call(&fetched);
  sim.Stop();
  WriteLine(out, "peer-sim stopped");
  return 0;
}
