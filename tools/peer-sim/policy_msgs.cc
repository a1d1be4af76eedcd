// Text form of WMAC's security-policy requests, and the runner that plays
// them to the controller.
#include "peer-sim/policy_msgs.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "peer-sim/peer_sim.h"
#include "platform/thread.h"
#include "relay/wmac.h"

namespace capwap::sim {

namespace {

bool Number(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

bool Hex(const std::string& text, Bytes* out) {
  std::string digits;
  for (char c : text) {
    if (c != ':' && c != '-') digits.push_back(c);
  }
  if (digits.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char* end = nullptr;
    const long v = strtol(pair, &end, 16);
    if (*end != '\0') return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// Reads the words of one line in order; the first failure sticks.
class Words {
 public:
  explicit Words(std::string_view line) {
    std::istringstream in{std::string(line)};
    for (std::string w; in >> w;) words_.push_back(w);
  }
  bool empty() const { return words_.empty(); }
  const std::string& verb() const { return words_[0]; }
  bool more() const { return next_ < words_.size(); }
  size_t count() const { return words_.size(); }
  uint64_t Num(uint64_t max) {
    uint64_t v = 0;
    if (next_ >= words_.size() || !Number(words_[next_++], max, &v)) ok_ = false;
    return v;
  }
  Bytes HexBytes() {
    Bytes b;
    if (next_ >= words_.size() || !Hex(words_[next_++], &b)) ok_ = false;
    return b;
  }
  std::string Text() {
    if (next_ >= words_.size()) ok_ = false;
    return ok_ ? words_[next_++] : std::string();
  }
  bool ok() const { return ok_; }

 private:
  std::vector<std::string> words_;
  size_t next_ = 1;
  bool ok_ = true;
};

void Put(Bytes& out, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + n);
}
template <typename T>
void PutHost(Bytes& out, T v) {
  Put(out, &v, sizeof v);
}

}  // namespace

bool ParsePolicyCommand(std::string_view line, PolicyCommand* out, std::string* why) {
  *out = PolicyCommand{};
  Words w(line);
  if (w.empty() || w.verb()[0] == '#') return true;
  const std::string verb = w.verb();
  Bytes& p = out->payload;
  if (verb == "wait") {
    out->wait_ms = static_cast<uint32_t>(w.Num(3600) * 1000);
  } else if (verb == "user-isolation") {
    out->type = WmacIn::kUserIsolation;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    for (int i = 0; i < 3; ++i) PutHost(p, static_cast<uint8_t>(w.Num(255)));
  } else if (verb == "acl-rule") {
    out->type = WmacIn::kAclRule;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    PutHost(p, static_cast<uint32_t>(w.Num(UINT32_MAX)));
    PutHost(p, static_cast<uint8_t>(w.Num(255)));
    PutHost(p, static_cast<uint8_t>(w.Num(255)));
    PutHost(p, uint16_t{0});
    const Bytes rules = w.HexBytes();
    PutHost(p, static_cast<uint32_t>(rules.size()));
    Put(p, rules.data(), rules.size());
  } else if (verb == "wlan-acl") {
    out->type = WmacIn::kWlanAcl;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    for (int i = 0; i < 3; ++i) PutHost(p, static_cast<uint8_t>(w.Num(255)));
    PutHost(p, uint8_t{0});
    PutHost(p, static_cast<uint32_t>(w.Num(UINT32_MAX)));
  } else if (verb == "l2-acl" || verb == "l2-acl-2") {
    out->type = verb == "l2-acl" ? WmacIn::kL2Acl : WmacIn::kL2Acl2;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    for (int i = 0; i < 3; ++i) PutHost(p, static_cast<uint8_t>(w.Num(255)));
    PutHost(p, static_cast<uint32_t>(w.Num(UINT32_MAX)));
    if (w.more()) {
      const Bytes mac = w.HexBytes();  // aa:bb:cc:dd:ee:ff
      if (mac.size() != 6) {
        *why = "a station MAC has six octets";
        return false;
      }
      Put(p, mac.data(), mac.size());
    }
  } else if (verb == "dhcp-snooping") {
    out->type = WmacIn::kDhcpSnooping;
    out->param = static_cast<uint32_t>(w.Num(UINT32_MAX));
    if (w.more()) p = w.HexBytes();
  } else if (verb == "vlan-isolate") {
    out->type = WmacIn::kVlanIsolate;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    p = w.HexBytes();
  } else if (verb == "portal-domain") {
    out->type = WmacIn::kPortalDomain;
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    PutHost(p, static_cast<uint16_t>(w.Num(0xFFFF)));
    p.resize(8, 0);
    const std::string domain = w.Text();
    Put(p, domain.data(), domain.size());
    p.push_back(0);
  } else if (verb == "raw") {
    out->type = static_cast<uint32_t>(w.Num(UINT32_MAX));
    out->wtp_id = static_cast<uint32_t>(w.Num(UINT32_MAX));
    out->param = static_cast<uint32_t>(w.Num(UINT32_MAX));
    if (w.more()) p = w.HexBytes();
  } else {
    *why = "unknown policy command '" + verb + "'";
    return false;
  }
  if (!w.ok() || w.more()) {
    *why = "bad or missing arguments in '" + std::string(line) + "'";
    return false;
  }
  return true;
}

bool LoadPolicyScript(const std::string& path, std::vector<PolicyCommand>* out,
                      std::string* why) {
  std::ifstream in(path);
  if (!in) {
    *why = "cannot read " + path;
    return false;
  }
  size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    PolicyCommand command;
    if (!ParsePolicyCommand(line, &command, why)) {
      *why = path + ":" + std::to_string(number) + ": " + *why;
      return false;
    }
    out->push_back(std::move(command));
  }
  return true;
}

PolicyRunner::PolicyRunner(thread_master* master, PeerSim* peers,
                           std::vector<PolicyCommand> commands)
    : master_(master), peers_(peers), commands_(std::move(commands)) {}

PolicyRunner::~PolicyRunner() { thread_cancel(event_); }

void PolicyRunner::Start() { Step(); }

int PolicyRunner::OnDue(thread* t) {
  static_cast<PolicyRunner*>(THREAD_ARG(t))->Step();
  return 0;
}

void PolicyRunner::Step() {
  while (next_ < commands_.size()) {
    const PolicyCommand& c = commands_[next_++];
    if (c.wait_ms > 0) {
      thread_add_timer_msec(master_, OnDue, this, c.wait_ms, &event_);
      return;
    }
    if (c.type == 0) continue;
    IpcHead head;
    head.kind = 1;
    head.msg_type = c.type;
    head.wtp_id = c.wtp_id;
    head.param = c.param;
    if (peers_->SendToAc(Peer::kWmac, head, c.payload)) ++sent_;
  }
}

}  // namespace capwap::sim
