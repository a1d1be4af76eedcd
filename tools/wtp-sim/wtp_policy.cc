// Checks of the security-policy elements, as an AP would apply them before
// taking the settings.
#include "wtp-sim/wtp_policy.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace capwap::sim {

namespace {

namespace ve = capwap::vendor_elem;

bool IsPolicyVendorElement(uint16_t id) {
  switch (id) {
    case ve::kAclRule:
    case ve::kWlanAcl:
    case ve::kWiredLanVlan:
    case ve::kUserIsolation:
    case ve::kSwitchProtection:
    case ve::kPortVlans:
    case ve::kVlanIsolation:
    case ve::kPortalDomain:
      return true;
    default:
      return false;
  }
}

// The layer-2 ACL element: operation, radio, WLAN, kind, u32 n, n entries
// of the kind's size, at most the kind's per-request limit.
std::string CheckAcl(ByteView value) {
  WireReader r(value);
  uint8_t op = 0, radio = 0, wlan = 0, kind = 0;
  uint32_t n = 0;
  if (!r.u8(op) || !r.u8(radio) || !r.u8(wlan) || !r.u8(kind) || !r.u32(n)) {
    return "ACL element shorter than its head";
  }
  size_t entry = 0, limit = 0;
  if (kind == 1) entry = 30, limit = 46;
  if (kind == 3) entry = 41, limit = 34;
  if (kind == 10) entry = 53, limit = 26;
  if (entry == 0) return "ACL element of kind " + std::to_string(kind);
  if (radio == 0 || wlan == 0) return "ACL element for radio or WLAN 0";
  if (n > limit || r.remaining() != n * entry) {
    return "ACL element counts " + std::to_string(n) + " entries in " +
           std::to_string(r.remaining()) + " octets";
  }
  return {};
}

// The length a policy vendor element's own fields call for; nullopt when
// any length is fine.
std::optional<size_t> ExpectedVendorLength(uint16_t id, ByteView v) {
  WireReader r(v);
  switch (id) {
    case ve::kWlanAcl:
      return 7;
    case ve::kWiredLanVlan:
      return 4;
    case ve::kUserIsolation:
      return 3;
    case ve::kPortVlans: {
      uint8_t ports = 0;
      return r.u8(ports) ? std::optional<size_t>(1 + 3u * ports) : std::optional<size_t>(1);
    }
    case ve::kPortalDomain: {
      uint16_t word = 0, n = 0;
      return r.u16(word) && r.u16(n) ? std::optional<size_t>(4u + n) : std::optional<size_t>(4);
    }
    case ve::kAclRule: {
      uint32_t word = 0, n = 0;
      uint16_t pair = 0;
      return r.u32(word) && r.u16(pair) && r.u32(n) ? std::optional<size_t>(10u + n)
                                                     : std::optional<size_t>(10);
    }
    case ve::kSwitchProtection: {
      uint8_t kind = 0;
      return r.u8(kind) ? std::nullopt : std::optional<size_t>(1);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

PolicyCheck CheckPolicyElements(const ControlMessage& msg,
                                const std::map<uint16_t, uint32_t>& results) {
  PolicyCheck check;
  auto note = [&](uint16_t key, const std::string& error) {
    ++check.settings;
    if (!error.empty() && check.error.empty()) check.error = error;
    auto it = results.find(key);
    if (it != results.end() && !check.result) check.result = it->second;
  };
  for (const CwElement& e : msg.list) {
    if (e.type == elem::kL2Acl) {
      note(elem::kL2Acl, CheckAcl(e.value));
      continue;
    }
    if (e.type != elem::kVendorSpecificPayload) continue;
    WireReader r(e.value);
    uint32_t vendor = 0;
    uint16_t id = 0, len = 0;
    if (!r.u32(vendor) || !r.u16(id) || !r.u16(len) || !IsPolicyVendorElement(id)) continue;
    ByteView value = e.value.subspan(8);
    std::string error;
    if (len != value.size()) {
      error = "vendor element " + std::to_string(id) + " declares " + std::to_string(len) +
              " octets and carries " + std::to_string(value.size());
    } else if (auto want = ExpectedVendorLength(id, value); want && *want != value.size()) {
      error = "vendor element " + std::to_string(id) + " of " + std::to_string(value.size()) +
              " octets, its fields call for " + std::to_string(*want);
    }
    note(id, error);
  }
  return check;
}

bool ParsePolicyResult(const char* text, std::map<uint16_t, uint32_t>* results) {
  const char* eq = strchr(text, '=');
  if (!eq || eq == text) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long id = strtoul(text, &end, 0);
  if (errno != 0 || end != eq || id == 0 || id > 0xFFFF) return false;
  const unsigned long code = strtoul(eq + 1, &end, 0);
  if (errno != 0 || *end != '\0' || eq[1] == '\0' || code > 0xFFFFFFFFul) return false;
  (*results)[static_cast<uint16_t>(id)] = static_cast<uint32_t>(code);
  return true;
}

}  // namespace capwap::sim
