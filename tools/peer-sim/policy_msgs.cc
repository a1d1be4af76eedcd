// Text form of WMAC's security-policy requests.
#include "peer-sim/policy_msgs.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

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

bool IsPolicyVerb(std::string_view verb) {
  for (const char* known : {"user-isolation", "acl-rule", "wlan-acl", "l2-acl", "l2-acl-2",
                            "dhcp-snooping", "vlan-isolate", "portal-domain"}) {
    if (verb == known) return true;
  }
  return false;
}

bool ParsePolicyLine(std::string_view line, ScriptStep* out, std::string* why) {
  *out = ScriptStep{};
  Words w(line);
  if (w.empty() || !IsPolicyVerb(w.verb())) {
    *why = "not a policy request";
    return false;
  }
  const std::string verb = w.verb();
  Bytes& p = out->payload;
  if (verb == "user-isolation") {
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
  }
  if (!w.ok() || w.more()) {
    *why = "bad or missing arguments in '" + std::string(line) + "'";
    return false;
  }
  return true;
}

}  // namespace capwap::sim
