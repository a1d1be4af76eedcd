// Many simulated WTPs in one process: identities derived from one
// configuration (consecutive MACs, their own serials, names, session IDs
// and source ports), started together on one thread_master, counted
// together.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "wtp-sim/wtp_sim.h"

namespace capwap::sim {

struct SimConfig {
  AcEndpoint ac;
  uint32_t count = 1;
  std::string name_prefix = "simap-";
  std::string model = "ia-210";
  uint32_t vendor_id = kSimVendorId;
  Mac mac_base{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};
  int radios = 2;
  std::string hw_version = "A1";
  std::string sw_version = "1.0.0";
  uint32_t master_status = 1;
  bool rfc = false;  // standard RFC 5415/5416 WTPs
  WtpTiming timing;
  WtpKnobs knobs;
  bool verbose = false;
  uint64_t seed = 0;  // 0: from the system's random device
};

// The identity of AP number `index` (0-based): MAC base + index, name
// prefix + (index + 1), serial "SIM" + the MAC's hex digits.
WtpIdentity MakeIdentity(const SimConfig& config, uint32_t index);

class WtpSimulator {
 public:
  // The master must outlive the simulator; `sink` receives the state lines.
  WtpSimulator(thread_master* master, SimConfig config, LineSink sink);
  ~WtpSimulator();
  WtpSimulator(const WtpSimulator&) = delete;
  WtpSimulator& operator=(const WtpSimulator&) = delete;

  // Creates config.count APs unless some were added, then starts every AP.
  // 0 when all started, 1 when any failed (the others keep running).
  int Start();
  void Stop();
  // One more AP with the configuration's settings (not started).
  SimWtp& Add();
  SimWtp& Add(WtpIdentity identity);

  size_t size() const { return aps_.size(); }
  SimWtp& ap(size_t index) { return *aps_.at(index); }
  const SimWtp& ap(size_t index) const { return *aps_.at(index); }
  const SimConfig& config() const { return config_; }
  size_t CountInState(WtpState state) const;
  WtpCounters Totals() const;
  // "aps 4: Run 3 Down 1 | sent=... errors=0".
  std::string Summary() const;

 private:
  thread_master* master_;
  SimConfig config_;
  LineSink sink_;
  std::mt19937_64 seeder_;
  std::vector<std::unique_ptr<SimWtp>> aps_;
};

}  // namespace capwap::sim
