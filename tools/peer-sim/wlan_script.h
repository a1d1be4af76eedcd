// WMAC's WLAN and station requests, played from the peer simulator's command
// line or a script file, one request a line:
//
//   add-wlan AP RADIO WLAN SSID [key TEXT] [web TITLE]   ADD-WLAN (4)
//   update-wlan AP RADIO WLAN [key TEXT]                  UPDATE-WLAN (6)
//   del-wlan AP RADIO WLAN                                DEL-WLAN (5)
//   add-sta AP RADIO WLAN MAC                             ADD-STA (7)
//   del-sta AP RADIO MAC                                  DEL-STA (8)
//   sta-traffic AP MAC FIRST SECOND TYPE                  station traffic (96)
//   send TYPE AP HEX                                      any message, raw payload
//   wait SECONDS                                          the lines after wait this long
//
// AP is the controller's AP ID; MAC is aa:bb:cc:dd:ee:ff. Blank lines and
// lines starting with '#' are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

struct thread;
struct thread_master;

namespace capwap::sim {

class PeerSim;

struct ScriptStep {
  uint32_t wait_ms = 0;  // a wait step when type is 0
  uint32_t type = 0;
  uint32_t wtp_id = 0;
  Bytes payload;
};

// Parses one line: true with the step (or none, for a blank or comment
// line); false with the reason.
bool ParseScriptLine(std::string_view line, std::vector<ScriptStep>* steps, std::string* why);
// Every line of the file; false with "LINE: reason" at the first bad line.
bool LoadScriptFile(const std::string& path, std::vector<ScriptStep>* steps, std::string* why);

// Name of a WLAN or station request type ("ADD-WLAN", ...; "UNKNOWN").
const char* WlanRequestName(uint32_t type);
// "radio R wlan W bssid aa:bb:cc:dd:ee:ff" for a SET-BSSID payload.
std::string DescribeSetBssid(ByteView payload);

// Plays the steps on the loop, as WMAC, through the simulator. The loop and
// the simulator must outlive it.
class WmacScript {
 public:
  WmacScript(thread_master* master, PeerSim& sim, std::vector<ScriptStep> steps);
  ~WmacScript();
  WmacScript(const WmacScript&) = delete;
  WmacScript& operator=(const WmacScript&) = delete;
  void Start();
  bool done() const { return next_ >= steps_.size() && !timer_; }

 private:
  static int OnWaitOver(thread* t);
  void Play();

  thread_master* master_;
  PeerSim& sim_;
  std::vector<ScriptStep> steps_;
  size_t next_ = 0;
  thread* timer_ = nullptr;
};

}  // namespace capwap::sim
