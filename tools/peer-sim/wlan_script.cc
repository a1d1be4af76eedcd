#include "peer-sim/wlan_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "peer-sim/peer_sim.h"
#include "platform/thread.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"

namespace capwap::sim {
namespace {

bool Number(const std::string& text, uint64_t max, uint64_t* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || text.empty() || *end != 0 || v > max) return false;
  *out = v;
  return true;
}
template <class T>
bool Number(const std::string& text, T* out) {
  uint64_t v = 0;
  if (!Number(text, static_cast<T>(~T{0}), &v)) return false;
  *out = static_cast<T>(v);
  return true;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>* mac) {
  unsigned b[6];
  char tail = 0;
  if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6) {
    return false;
  }
  for (int i = 0; i < 6; ++i) {
    if (b[i] > 0xFF) return false;
    (*mac)[i] = static_cast<uint8_t>(b[i]);
  }
  return true;
}

bool ParseHex(const std::string& text, Bytes* out) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    uint8_t v = 0;
    if (!Number("0x" + text.substr(i, 2), &v)) return false;
    out->push_back(v);
  }
  return true;
}

// Copies text into a fixed field (cut to its size; the rest stays zero).
template <size_t N>
void Put(std::array<uint8_t, N>& field, const std::string& text) {
  for (size_t i = 0; i < N && i < text.size(); ++i) field[i] = static_cast<uint8_t>(text[i]);
}

template <class R>
Bytes Encoded(const R& rec) {
  const auto bytes = WmacRecordEncode(rec);
  return Bytes(bytes.begin(), bytes.end());
}

// The optional "key TEXT" and "web TITLE" words after the fixed ones.
bool Options(const std::vector<std::string>& words, size_t from, std::string* key, std::string* web) {
  for (size_t i = from; i < words.size(); i += 2) {
    if (i + 1 >= words.size()) return false;
    if (words[i] == "key") {
      *key = words[i + 1];
    } else if (words[i] == "web" && web) {
      *web = words[i + 1];
    } else {
      return false;
    }
  }
  return key->size() <= kCwWlanKeyMax;
}

bool Build(const std::vector<std::string>& w, ScriptStep* step, std::string* why) {
  const std::string& verb = w[0];
  auto need = [&](size_t n) {
    if (w.size() >= n) return true;
    *why = "'" + verb + "' needs " + std::to_string(n - 1) + " arguments";
    return false;
  };
  auto bad = [&](const char* what) {
    *why = std::string("bad ") + what + " in '" + verb + "'";
    return false;
  };
  if (verb == "wait") {
    double seconds = 0;
    if (!need(2)) return false;
    char* end = nullptr;
    seconds = strtod(w[1].c_str(), &end);
    if (*end != 0 || seconds < 0 || seconds > 3600) return bad("seconds");
    step->wait_ms = static_cast<uint32_t>(seconds * 1000);
    return true;
  }
  if (w.size() < 2 || !Number(w[1], &step->wtp_id)) return need(2) && bad("AP ID");
  if (verb == "add-wlan") {
    CwAddWlanRecord rec;
    std::string key, web;
    if (!need(5)) return false;
    if (!Number(w[2], &rec.radio_id) || !Number(w[3], &rec.wlan_id)) return bad("radio or WLAN");
    if (!Options(w, 5, &key, &web)) return bad("options");
    Put(rec.ssid, w[4]);
    rec.key_len = static_cast<uint16_t>(key.size());
    Put(rec.key, key);
    Put(rec.web.title, web);
    step->type = WmacIn::kAddWlan;
    step->payload = Encoded(rec);
    return true;
  }
  if (verb == "update-wlan") {
    CwUpdWlanRecord rec;
    std::string key;
    if (!need(4)) return false;
    if (!Number(w[2], &rec.radio_id) || !Number(w[3], &rec.wlan_id)) return bad("radio or WLAN");
    if (!Options(w, 4, &key, nullptr)) return bad("options");
    rec.key_len = static_cast<uint16_t>(key.size());
    Put(rec.key, key);
    step->type = WmacIn::kUpdateWlan;
    step->payload = Encoded(rec);
    return true;
  }
  if (verb == "del-wlan") {
    CwDelWlanRecord rec;
    if (!need(4)) return false;
    if (!Number(w[2], &rec.radio_id) || !Number(w[3], &rec.wlan_id)) return bad("radio or WLAN");
    step->type = WmacIn::kDelWlan;
    step->payload = Encoded(rec);
    return true;
  }
  if (verb == "add-sta") {
    CwAddStaRecord rec;
    if (!need(5)) return false;
    if (!Number(w[2], &rec.radio_id) || !Number(w[3], &rec.wlan_id)) return bad("radio or WLAN");
    if (!ParseMac(w[4], &rec.mac)) return bad("MAC");
    rec.sta_radio_id = rec.radio_id;
    rec.sta_mac = rec.qos_mac = rec.key_mac = rec.mac;
    step->type = WmacIn::kAddSta;
    step->payload = Encoded(rec);
    return true;
  }
  if (verb == "del-sta") {
    CwDelStaRecord rec;
    if (!need(4)) return false;
    if (!Number(w[2], &rec.radio_id)) return bad("radio");
    if (!ParseMac(w[3], &rec.mac)) return bad("MAC");
    step->type = WmacIn::kDelSta;
    step->payload = Encoded(rec);
    return true;
  }
  if (verb == "sta-traffic") {
    CwStaTrafficMsg msg;
    if (!need(6)) return false;
    msg.wtp_id = step->wtp_id;
    if (!ParseMac(w[2], &msg.traffic.mac)) return bad("MAC");
    if (!Number(w[3], &msg.traffic.first) || !Number(w[4], &msg.traffic.second) ||
        !Number(w[5], &msg.traffic.traffic_type)) {
      return bad("limit or type");
    }
    // The message names its AP in the payload; the header's ID is unused.
    step->wtp_id = 0;
    step->type = WmacIn::kStaTraffic;
    step->payload = Encoded(msg);
    return true;
  }
  if (verb == "send") {
    // "send TYPE AP HEX": the AP ID is the second word here.
    if (!need(4)) return false;
    if (!Number(w[1], &step->type) || step->type == 0) return bad("type");
    if (!Number(w[2], &step->wtp_id)) return bad("AP ID");
    if (!ParseHex(w[3], &step->payload)) return bad("hexadecimal payload");
    return true;
  }
  *why = "unknown request '" + verb + "'";
  return false;
}

}  // namespace

bool ParseScriptLine(std::string_view line, std::vector<ScriptStep>* steps, std::string* why) {
  std::istringstream in{std::string(line)};
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty() || words[0][0] == '#') return true;
  ScriptStep step;
  if (!Build(words, &step, why)) return false;
  steps->push_back(std::move(step));
  return true;
}

bool LoadScriptFile(const std::string& path, std::vector<ScriptStep>* steps, std::string* why) {
  std::ifstream file(path);
  if (!file) {
    *why = "cannot open " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (!ParseScriptLine(line, steps, why)) {
      *why = path + ":" + std::to_string(number) + ": " + *why;
      return false;
    }
  }
  return true;
}

const char* WlanRequestName(uint32_t type) {
  switch (type) {
    case WmacIn::kAddWlan: return "ADD-WLAN";
    case WmacIn::kDelWlan: return "DEL-WLAN";
    case WmacIn::kUpdateWlan: return "UPDATE-WLAN";
    case WmacIn::kAddSta: return "ADD-STA";
    case WmacIn::kDelSta: return "DEL-STA";
    case WmacIn::kWidthCfg: return "CHANNEL-WIDTH";
    case WmacIn::kIpVlan: return "IP-BASED-VLAN";
    case WmacIn::kStaTraffic: return "STA-TRAFFIC";
    default: return "UNKNOWN";
  }
}

std::string DescribeSetBssid(ByteView payload) {
  WmacSetBssidRecord rec;
  if (!WmacRecordDecode(payload, &rec)) return "short SET-BSSID record";
  char text[64];
  snprintf(text, sizeof text, "radio %u wlan %u bssid %02x:%02x:%02x:%02x:%02x:%02x", rec.radio_id,
           rec.wlan_id, rec.bssid[0], rec.bssid[1], rec.bssid[2], rec.bssid[3], rec.bssid[4],
           rec.bssid[5]);
  return text;
}

WmacScript::WmacScript(thread_master* master, PeerSim& sim, std::vector<ScriptStep> steps)
    : master_(master), sim_(sim), steps_(std::move(steps)) {}

WmacScript::~WmacScript() {
  if (timer_) thread_cancel(timer_);
}

void WmacScript::Start() { Play(); }

int WmacScript::OnWaitOver(thread* t) {
  auto* self = static_cast<WmacScript*>(THREAD_ARG(t));
  self->timer_ = nullptr;
  self->Play();
  return 0;
}

void WmacScript::Play() {
  while (next_ < steps_.size()) {
    const ScriptStep& step = steps_[next_++];
    if (step.type == 0) {
      timer_ = thread_add_timer_msec(master_, OnWaitOver, this, step.wait_ms);
      return;
    }
    sim_.SendToAc(Peer::kWmac, step.type, step.wtp_id, step.payload);
  }
}

}  // namespace capwap::sim
