// A fleet of simulated WTPs sharing one configuration and one event loop.
#include "wtp-sim/wtp_fleet.h"

#include <cstdio>

namespace capwap::sim {

namespace {

Mac AddToMac(const Mac& base, uint32_t n) {
  uint64_t value = 0;
  for (uint8_t b : base) value = (value << 8) | b;
  value += n;
  Mac out{};
  for (int i = 5; i >= 0; --i) {
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
    value >>= 8;
  }
  return out;
}

uint64_t SeedOf(uint64_t configured) {
  if (configured != 0) return configured;
  std::random_device device;
  return (uint64_t{device()} << 32) | device();
}

}  // namespace

WtpIdentity MakeIdentity(const SimConfig& config, uint32_t index) {
  WtpIdentity id;
  id.mac = AddToMac(config.mac_base, index);
  id.name = config.name_prefix + std::to_string(index + 1);
  char serial[16];
  snprintf(serial, sizeof serial, "SIM%02X%02X%02X%02X%02X%02X", id.mac[0], id.mac[1], id.mac[2],
           id.mac[3], id.mac[4], id.mac[5]);
  id.serial = serial;
  id.model = config.model;
  id.vendor_id = config.vendor_id;
  id.hw_version = config.hw_version;
  id.sw_version = config.sw_version;
  id.master_status = config.master_status;
  id.rfc = config.rfc;
  id.radios = DefaultRadios(id.mac, config.radios);
  return id;
}

WtpSimulator::WtpSimulator(thread_master* master, SimConfig config, LineSink sink)
    : master_(master), config_(std::move(config)), sink_(std::move(sink)),
      seeder_(SeedOf(config_.seed)) {}

WtpSimulator::~WtpSimulator() { Stop(); }

SimWtp& WtpSimulator::Add() {
  return Add(MakeIdentity(config_, static_cast<uint32_t>(aps_.size())));
}

SimWtp& WtpSimulator::Add(WtpIdentity identity) {
  aps_.push_back(std::make_unique<SimWtp>(master_, std::move(identity), config_.ac,
                                          config_.timing, config_.knobs, sink_, seeder_()));
  aps_.back()->set_verbose(config_.verbose);
  return *aps_.back();
}

int WtpSimulator::Start() {
  if (aps_.empty()) {
    for (uint32_t i = 0; i < config_.count; ++i) Add();
  }
  int status = 0;
  for (auto& ap : aps_) {
    if (ap->Start() != 0) status = 1;
  }
  return status;
}

void WtpSimulator::Stop() {
  for (auto& ap : aps_) ap->Stop();
}

size_t WtpSimulator::CountInState(WtpState state) const {
  size_t n = 0;
  for (const auto& ap : aps_) n += ap->state() == state ? 1 : 0;
  return n;
}

WtpCounters WtpSimulator::Totals() const {
  WtpCounters total;
  for (const auto& ap : aps_) total += ap->counters();
  return total;
}

std::string WtpSimulator::Summary() const {
  std::string text = "aps " + std::to_string(aps_.size()) + ":";
  for (WtpState s : {WtpState::kIdle, WtpState::kDiscovery, WtpState::kJoin, WtpState::kImage,
                     WtpState::kConfigure, WtpState::kDataCheck, WtpState::kRun,
                     WtpState::kDown}) {
    const size_t n = CountInState(s);
    if (n) text += std::string(" ") + WtpStateName(s) + " " + std::to_string(n);
  }
  return text + " | " + Totals().Text();
}

}  // namespace capwap::sim
