// Parsing of the wtp-sim command line.
#include "wtp-sim/wtp_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "wtp-sim/wtp_policy.h"
#include "wtp-sim/wtp_rfc.h"

namespace capwap::sim {

namespace {

enum Option : int {
  kAc = 256,
  kCount,
  kPortBase,
  kIpv6,
  kModel,
  kVendorId,
  kMacBase,
  kEchoInterval,
  kScramble,
  kSilentAfterRun,
  kLogFile,
  kDuration,
  kRadios,
  kSwVersion,
  kHwVersion,
  kNamePrefix,
  kKeepaliveInterval,
  kRetransmitInterval,
  kMaxRetransmit,
  kDiscoveryInterval,
  kRestartDelay,
  kNoRestart,
  kEventInterval,
  kEventSize,
  kConfigStatusSize,
  kFragDrop,
  kFragDup,
  kFragSameId,
  kFirstFragId,
  kNoConfigStatus,
  kNoChangeState,
  kIgnoreConfigUpdate,
  kResult,
  kFailPolicy,
  kVirtual,
  kSeed,
  kDataTransfer,
  kCoreDump,
  kLocal,
  kRfc,
  kJoinDirectly,
};

const option kOptions[] = {
    {"ac", required_argument, nullptr, kAc},
    {"data-transfer", required_argument, nullptr, kDataTransfer},
    {"core-dump", required_argument, nullptr, kCoreDump},
    {"local", required_argument, nullptr, kLocal},
    {"rfc", no_argument, nullptr, kRfc},
    {"join-directly", no_argument, nullptr, kJoinDirectly},
    {"count", required_argument, nullptr, kCount},
    {"port-base", required_argument, nullptr, kPortBase},
    {"ipv6", no_argument, nullptr, kIpv6},
    {"model", required_argument, nullptr, kModel},
    {"vendor-id", required_argument, nullptr, kVendorId},
    {"mac-base", required_argument, nullptr, kMacBase},
    {"echo-interval", required_argument, nullptr, kEchoInterval},
    {"scramble", no_argument, nullptr, kScramble},
    {"silent-after-run", required_argument, nullptr, kSilentAfterRun},
    {"log-file", required_argument, nullptr, kLogFile},
    {"duration", required_argument, nullptr, kDuration},
    {"radios", required_argument, nullptr, kRadios},
    {"sw-version", required_argument, nullptr, kSwVersion},
    {"hw-version", required_argument, nullptr, kHwVersion},
    {"name-prefix", required_argument, nullptr, kNamePrefix},
    {"keepalive-interval", required_argument, nullptr, kKeepaliveInterval},
    {"retransmit-interval", required_argument, nullptr, kRetransmitInterval},
    {"max-retransmit", required_argument, nullptr, kMaxRetransmit},
    {"discovery-interval", required_argument, nullptr, kDiscoveryInterval},
    {"restart-delay", required_argument, nullptr, kRestartDelay},
    {"no-restart", no_argument, nullptr, kNoRestart},
    {"event-interval", required_argument, nullptr, kEventInterval},
    {"event-size", required_argument, nullptr, kEventSize},
    {"config-status-size", required_argument, nullptr, kConfigStatusSize},
    {"frag-drop", required_argument, nullptr, kFragDrop},
    {"frag-dup", required_argument, nullptr, kFragDup},
    {"frag-same-id", no_argument, nullptr, kFragSameId},
    {"first-frag-id", required_argument, nullptr, kFirstFragId},
    {"no-config-status", no_argument, nullptr, kNoConfigStatus},
    {"no-change-state", no_argument, nullptr, kNoChangeState},
    {"ignore-config-update", no_argument, nullptr, kIgnoreConfigUpdate},
    {"result", required_argument, nullptr, kResult},
    {"fail-policy", required_argument, nullptr, kFailPolicy},
    {"virtual", no_argument, nullptr, kVirtual},
    {"seed", required_argument, nullptr, kSeed},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// Whole decimal (or 0x hex) number within [min, max].
bool ParseNumber(const char* text, uint64_t min, uint64_t max, uint64_t* out) {
  if (!text || !*text || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

template <typename T>
bool Number(const char* text, uint64_t min, uint64_t max, T* out) {
  uint64_t v = 0;
  if (!ParseNumber(text, min, max, &v)) return false;
  *out = static_cast<T>(v);
  return true;
}

bool ParseSilent(const char* text, WtpKnobs* knobs) {
  const std::string what = text;
  if (what == "echo" || what == "all") knobs->silent_echo = true;
  if (what == "keepalive" || what == "all") knobs->silent_keepalive = true;
  return what == "echo" || what == "keepalive" || what == "all";
}

// "TYPE=CODE": the result code answered to AC requests of that message type.
bool ParseResult(const char* text, WtpKnobs* knobs) {
  const char* eq = strchr(text, '=');
  if (!eq) return false;
  const std::string type(text, eq);
  uint32_t msg_type = 0;
  uint32_t code = 0;
  if (!Number(type.c_str(), 1, 0xFFFFFFFF, &msg_type) || (msg_type & 1u) == 0) return false;
  if (!Number(eq + 1, 0, 0xFFFFFFFF, &code)) return false;
  knobs->result_codes[msg_type] = code;
  return true;
}

// "J:K": fragment J sent again in place of fragment K (0-based, J != K).
bool ParseFragDup(const char* text, FragmentFaults* faults) {
  const char* colon = strchr(text, ':');
  if (!colon) return false;
  const std::string from(text, colon);
  int j = 0;
  int k = 0;
  if (!Number(from.c_str(), 0, 50, &j) || !Number(colon + 1, 0, 50, &k) || j == k) return false;
  faults->dup_from = j;
  faults->dup_into = k;
  return true;
}

// Applies one option; false when its value is not acceptable.
bool Apply(int c, const char* arg, SimCommandLine* cl) {
  SimConfig& cfg = cl->config;
  WtpTiming& timing = cfg.timing;
  WtpKnobs& knobs = cfg.knobs;
  switch (c) {
    case kAc: cfg.ac.address = arg; return !cfg.ac.address.empty();
    case kCount: return Number(arg, 1, 100000, &cfg.count);
    case kPortBase: {
      uint16_t base = 0;
      if (!Number(arg, 1, 65533, &base)) return false;
      cfg.ac.control_port = base;
      cfg.ac.data_port = static_cast<uint16_t>(base + 1);
      return true;
    }
    case kIpv6: cfg.ac.ipv6 = true; return true;
    case kModel: cfg.model = arg; return !cfg.model.empty() && cfg.model.size() < 32;
    case kVendorId: return Number(arg, 1, 0xFFFFFFFF, &cfg.vendor_id);
    case kMacBase: return ParseMac(arg, &cfg.mac_base);
    case kEchoInterval: return Number(arg, 0, 255, &timing.echo_interval);
    case kScramble: cfg.ac.scramble = true; return true;
    case kSilentAfterRun: return ParseSilent(arg, &knobs);
    case kLogFile: cl->log_file = arg; return !cl->log_file.empty();
    case kDuration: return Number(arg, 1, 100000000, &cl->duration);
    case kRadios: return Number(arg, 1, 4, &cfg.radios);
    case kSwVersion: cfg.sw_version = arg; return true;
    case kHwVersion: cfg.hw_version = arg; return true;
    case kNamePrefix: cfg.name_prefix = arg; return true;
    case kKeepaliveInterval: return Number(arg, 0, 3600, &timing.keepalive_interval);
    case kRetransmitInterval: return Number(arg, 1, 3600, &timing.retransmit_interval);
    case kMaxRetransmit: return Number(arg, 1, 1000, &timing.max_retransmit);
    case kDiscoveryInterval: return Number(arg, 1, 3600, &timing.discovery_interval);
    case kRestartDelay: return Number(arg, 0, 86400, &timing.restart_delay);
    case kNoRestart: timing.stay_down = true; return true;
    case kEventInterval: return Number(arg, 0, 86400, &knobs.event_interval);
    case kEventSize: return Number(arg, 0, 60000, &knobs.event_padding);
    case kConfigStatusSize: return Number(arg, 0, 60000, &knobs.config_status_padding);
    case kFragDrop: return Number(arg, 0, 50, &knobs.frag_faults.drop);
    case kFragDup: return ParseFragDup(arg, &knobs.frag_faults);
    case kFragSameId: knobs.frag_same_id = true; return true;
    case kFirstFragId: return Number(arg, 0, 0xFFFF, &knobs.first_frag_id);
    case kNoConfigStatus: knobs.skip_config_status = true; return true;
    case kNoChangeState: knobs.skip_change_state = true; return true;
    case kIgnoreConfigUpdate: knobs.ignore_config_update = true; return true;
    case kResult: return ParseResult(arg, &knobs);
    case kFailPolicy: return ParsePolicyResult(arg, &knobs.policy_results);
    case kVirtual: cfg.master_status = 0; return true;
    case kDataTransfer: return Number(arg, 1, 1000000, &knobs.data_transfer_bytes);
    case kCoreDump: return Number(arg, 1, 255000, &knobs.core_dump_bytes);
    case kLocal: cfg.ac.local_address = arg; return !cfg.ac.local_address.empty();
    case kRfc:
      cfg.rfc = true;
      if (cfg.vendor_id == kSimVendorId) cfg.vendor_id = rfc::kStandardVendorId;
      if (cfg.model == SimConfig{}.model) cfg.model = "wtp-std";
      return true;
    case kJoinDirectly: knobs.join_directly = true; return true;
    case kSeed: return Number(arg, 1, UINT64_MAX, &cfg.seed);
    case 'v': cfg.verbose = true; return true;
    default: return false;
  }
}

const char* OptionName(int c) {
  for (const option& o : kOptions) {
    if (o.name && o.val == c) return o.name;
  }
  return "?";
}

}  // namespace

std::string SimUsage(const char* program) {
  return std::string("Usage: ") + program +
         " --ac ADDRESS [OPTION...]\n"
         "Plays one or many CAPWAP access points (WTPs) against an access controller\n"
         "over UDP: Discovery, Join, image download, Configuration Status, Change\n"
         "State, data-channel keepalive, then Run with Echo Requests. Prints one line\n"
         "per AP state change (\"NAME MAC STATE DETAIL\") and the counters at exit.\n\n"
         "  --ac ADDRESS               the AC's IPv4 or IPv6 address (required)\n"
         "  --count N                  number of APs (default 1)\n"
         "  --port-base P              AC control port P, data port P+1 (default\n"
         "                             CAPWAP_PORT_BASE, else 5246)\n"
         "  --ipv6                     talk IPv6 (implied by an IPv6 address)\n"
         "  --model M                  reported model (default ia-210)\n"
         "  --vendor-id V              board-data vendor identifier (default 41414)\n"
         "  --mac-base MAC             MAC of the first AP; the others count up\n"
         "                             (default 02:00:00:00:01:01)\n"
         "  --radios N                 radios per AP, 1-4 (default 2)\n"
         "  --sw-version V             reported software version (default 1.0.0)\n"
         "  --hw-version V             reported hardware version (default A1)\n"
         "  --name-prefix P            WTP names P1, P2, ... (default simap-)\n"
         "  --echo-interval S          Echo Request interval until the AC sets one\n"
         "                             (default 10)\n"
         "  --keepalive-interval S     data keepalive interval in Run (default 30)\n"
         "  --retransmit-interval S    request retransmission interval (default 3)\n"
         "  --max-retransmit N         transmissions of one request (default 5)\n"
         "  --discovery-interval S     Discovery Request interval (default 5)\n"
         "  --restart-delay S          wait after Down before Discovery (default 5)\n"
         "  --no-restart               stay Down\n"
         "  --scramble                 scramble IPv4 control and keepalives with the\n"
         "                             shared key\n"
         "  --silent-after-run WHAT    in Run stop sending echo, keepalive or all\n"
         "  --no-config-status         never send Configuration Status Request\n"
         "  --no-change-state          never send Change State Event Request\n"
         "  --ignore-config-update     leave Configuration Update Requests unanswered\n"
         "  --result TYPE=CODE         answer AC requests of message TYPE with CODE\n"
         "  --fail-policy ELEM=CODE    answer Configuration Updates carrying policy\n"
         "                             element ELEM (vendor element ID, 64 for a\n"
         "                             layer-2 ACL) with CODE\n"
         "  --virtual                  report master status 0 (virtual AP)\n"
         "  --event-interval S         WTP Event Request every S seconds in Run\n"
         "  --event-size N             extra report octets per WTP Event Request\n"
         "  --config-status-size N     extra octets in the Configuration Status Request\n"
         "                             (1409 octets or more go out in fragments)\n"
         "  --frag-drop K              leave fragment K (0-based) out of the first\n"
         "                             transmission of every fragmented request\n"
         "  --frag-dup J:K             in that first transmission, send fragment J\n"
         "                             again in place of fragment K\n"
         "  --frag-same-id             retransmit a fragmented request under its first\n"
         "                             fragment ID (default: a new ID each time)\n"
         "  --first-frag-id N          fragment ID of the first fragmented message\n"
         "                             (default 0)\n"
         "  --data-transfer BYTES      once in Run, send BYTES of crash data as Data\n"
         "                             Transfer Requests of 1000 octets\n"
         "  --core-dump BYTES          once in Run, upload a core dump of BYTES\n"
         "                             (at most 255000) on the monitor port\n"
         "  --local ADDRESS            bind to this IPv4 address, the control socket\n"
         "                             at the AC's control port (core dumps need it)\n"
         "  --rfc                      play standard RFC 5415/5416 WTPs (vendor 12345\n"
         "                             unless --vendor-id, model wtp-std): RFC header,\n"
         "                             elements and lengths; a response that lacks a\n"
         "                             mandatory element or carries one a standard WTP\n"
         "                             cannot parse is dropped with one line saying why\n"
         "  --join-directly            send the Join Request without Discovery\n"
         "  --seed N                   random seed for session IDs\n"
         "  --log-file FILE            write the lines to FILE instead of stdout\n"
         "  --duration S               stop after S seconds (default: at SIGINT/SIGTERM)\n"
         "  -v, --verbose              one line per datagram and per protocol error\n"
         "  -h, --help                 this text\n";
}

int ParseSimCommandLine(int argc, char** argv, SimCommandLine* out, std::string* output) {
  const char* program = argc > 0 ? argv[0] : "wtp-sim";
  out->config.ac.address.clear();
  out->config.ac.control_port = CapwapPort(kControlPort);
  out->config.ac.data_port = CapwapPort(kDataPort);
  optind = 0;  // full reset: the parser may run more than once per process
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":vh", kOptions, nullptr)) != -1) {
    if (c == 'h') {
      *output = SimUsage(program);
      return 0;
    }
    if (c == '?' || c == ':') {
      const char* bad = optind > 0 && optind <= argc ? argv[optind - 1] : "?";
      *output = std::string(program) + ": " +
                (c == ':' ? "missing value for " : "unknown option ") + bad + "\n" +
                "Try `" + program + " --help' for more information.\n";
      return 2;
    }
    if (!Apply(c, optarg, out)) {
      *output = std::string(program) + ": invalid value '" + (optarg ? optarg : "") +
                "' for --" + OptionName(c) + "\n";
      return 2;
    }
  }
  if (optind < argc) {
    *output = std::string(program) + ": unexpected argument " + argv[optind] + "\n";
    return 2;
  }
  if (out->config.ac.address.empty()) {
    *output = std::string(program) + ": --ac ADDRESS is required\n";
    return 2;
  }
  if (out->config.ac.address.find(':') != std::string::npos) out->config.ac.ipv6 = true;
  return -1;
}

}  // namespace capwap::sim
