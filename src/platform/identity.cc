#include "platform/identity.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

#include "platform/log.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSettingsFile = "/etc/config/vela/platform.conf";
constexpr uint32_t kDefaultVendorId = 41414;
constexpr uint32_t kDefaultMaxAps = 32;
constexpr const char* kDefaultBaseMac = "0200.0000.0001";

struct IdentityState {
  std::map<std::string, std::string> settings;
  std::vector<uint32_t> extra_vendor_ids;
  uint32_t max_aps = kDefaultMaxAps;
};

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::string Unquote(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// A u32 in decimal or 0x hexadecimal, the whole text.
std::optional<uint32_t> ParseU32(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// Twelve hex digits in dotted, dashed or colon form -> "xxxx-xxxx-xxxx".
std::optional<std::string> NormaliseMac(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    } else if (c != '.' && c != ':' && c != '-') {
      return std::nullopt;
    }
  }
  bool dotted = text.size() == 14 && text[4] == text[9] && (text[4] == '.' || text[4] == '-');
  bool colons = text.size() == 17;
  for (size_t i = 2; colons && i < 17; i += 3) colons = text[i] == ':';
  if (digits.size() != 12 || !(dotted || colons)) return std::nullopt;
  return digits.substr(0, 4) + "-" + digits.substr(4, 4) + "-" + digits.substr(8, 4);
}

void LoadDefaults(IdentityState& state) {
  state.settings = {
      {"vendor_id", std::to_string(kDefaultVendorId)},
      {"vendor_ids", ""},
      {"vendor_name", "capwap"},
      {"base_mac", kDefaultBaseMac},
      {"model", "WAC-1000"},
      {"version", "1.0.0"},
      {"max_aps", std::to_string(kDefaultMaxAps)},
  };
}

IdentityState& State() {
  static IdentityState state = [] {
    IdentityState initial;
    LoadDefaults(initial);
    return initial;
  }();
  return state;
}

void ReadFile(const std::string& path, IdentityState& state) {
  std::ifstream in(path);
  if (!in) return;  // no file: defaults
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    size_t eq = text.find('=');
    std::string key = eq == std::string::npos ? "" : Trim(text.substr(0, eq));
    if (key.empty()) {
      zlog_warn(nullptr, "identity: %s:%d: ignored line without \"key = value\"", path.c_str(),
                number);
      continue;
    }
    state.settings[key] = Unquote(Trim(text.substr(eq + 1)));
  }
}

// Reads one numeric setting; a bad value is reported and the default kept.
uint32_t NumericSetting(IdentityState& state, const char* key, uint32_t fallback,
                        bool zero_allowed) {
  std::string& text = state.settings[key];
  std::optional<uint32_t> value = ParseU32(text);
  if (!value || (*value == 0 && !zero_allowed)) {
    zlog_warn(nullptr, "identity: invalid %s \"%s\", using %u", key, text.c_str(), fallback);
    text = std::to_string(fallback);
    return fallback;
  }
  return *value;
}

std::vector<uint32_t> VendorList(const std::string& text) {
  std::vector<uint32_t> ids;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    std::string item = Trim(text.substr(pos, comma - pos));
    if (!item.empty()) {
      if (std::optional<uint32_t> id = ParseU32(item)) {
        ids.push_back(*id);
      } else {
        zlog_warn(nullptr, "identity: ignored vendor identifier \"%s\"", item.c_str());
      }
    }
    pos = comma + 1;
  }
  return ids;
}

void Apply(IdentityState& state) {
  g_uiOid = NumericSetting(state, "vendor_id", kDefaultVendorId, false);
  state.max_aps = NumericSetting(state, "max_aps", kDefaultMaxAps, false);
  state.extra_vendor_ids = VendorList(state.settings["vendor_ids"]);
  std::string& mac_text = state.settings["base_mac"];
  std::optional<std::string> mac = NormaliseMac(mac_text);
  if (!mac) {
    zlog_warn(nullptr, "identity: invalid base_mac \"%s\", using %s", mac_text.c_str(),
              kDefaultBaseMac);
    mac_text = kDefaultBaseMac;
    mac = NormaliseMac(mac_text);
  }
  company_info.vendor_name = state.settings["vendor_name"];
  company_info.base_mac = *mac;
  company_info.model = state.settings["model"];
  company_info.version = state.settings["version"];
}

}  // namespace

uint32_t g_uiOid = kDefaultVendorId;
company_info_t company_info = {"capwap", "0200-0000-0001", "WAC-1000", "1.0.0"};

void identity_load() {
  IdentityState& state = State();
  LoadDefaults(state);
  ReadFile(capwap::RootPath(kSettingsFile), state);
  Apply(state);
}

void identity_reset() {
  IdentityState& state = State();
  LoadDefaults(state);
  Apply(state);
}

int vendor_isvalid(uint32_t vendor_id) {
  if (vendor_id == g_uiOid) return 1;
  for (uint32_t id : State().extra_vendor_ids) {
    if (id == vendor_id) return 1;
  }
  return 0;
}

uint32_t get_max_apcnt() { return State().max_aps; }

void print_version(const char* program_name) {
  std::printf("%s version %s\n", program_name ? program_name : "capwap",
              company_info.version.c_str());
  std::fflush(stdout);
}

std::string identity_setting(const std::string& key) {
  const auto& settings = State().settings;
  auto it = settings.find(key);
  return it == settings.end() ? std::string{} : it->second;
}
