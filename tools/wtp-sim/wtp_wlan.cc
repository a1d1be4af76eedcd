#include "wtp-sim/wtp_wlan.h"

#include <cstdio>

#include "transport/elements.h"

namespace capwap::sim {
namespace {

constexpr size_t kSsidAt = 19;  // in the Add WLAN value, after a key of length 0
constexpr size_t kSsidLen = 32;

std::string MacAt(ByteView value, size_t at) {
  if (value.size() < at + 6) return "?";
  char text[18];
  snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", value[at], value[at + 1],
           value[at + 2], value[at + 3], value[at + 4], value[at + 5]);
  return text;
}

std::string Ids(ByteView value) {
  if (value.size() < 2) return "?";
  return "WLAN " + std::to_string(value[1]) + " on radio " + std::to_string(value[0]);
}

std::string Ssid(ByteView value) {
  if (value.size() < 8) return "?";
  const size_t key_len = static_cast<size_t>(value[6] << 8 | value[7]);
  const size_t at = kSsidAt + key_len;
  if (value.size() < at + kSsidLen) return "?";
  std::string ssid;
  for (size_t i = at; i < at + kSsidLen && value[i]; ++i) ssid.push_back(static_cast<char>(value[i]));
  return ssid;
}

}  // namespace

std::string DescribeWlanRequest(const ControlMessage& msg) {
  std::string out;
  auto add = [&out](const std::string& clause) { out += (out.empty() ? "" : "; ") + clause; };
  for (const CwElement& e : msg.list) {
    switch (e.type) {
      case elem::kIeee80211AddWlan: add(Ids(e.value) + " added: SSID '" + Ssid(e.value) + "'"); break;
      case elem::kIeee80211UpdateWlan: add(Ids(e.value) + " updated"); break;
      case elem::kIeee80211DeleteWlan: add(Ids(e.value) + " deleted"); break;
      case elem::kAddStation:
        add("station " + MacAt(e.value, 2) + " added on radio " +
            (e.value.empty() ? "?" : std::to_string(e.value[0])));
        break;
      case elem::kDeleteStation: add("station " + MacAt(e.value, 2) + " deleted"); break;
      case elem::kStationTraffic: add("station " + MacAt(e.value, 0) + " traffic limit set"); break;
      default: break;
    }
  }
  return out.empty() ? "WLAN settings received" : out;
}

}  // namespace capwap::sim
