// The scenario lab: daemon, peer simulator and simulated WTPs on one loop.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "daemon/capwap.h"
#include "diag/debug.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "registry/tables.h"

#ifdef CAPWAP_HAVE_PEERSIM
#include "peer-sim/peer_sim.h"
#endif

namespace capwap::sim {
// Complete type for the lab's unique_ptr when the peer simulator is absent.
#ifndef CAPWAP_HAVE_PEERSIM
class PeerSim {};
#endif
}  // namespace capwap::sim

namespace capwap::test {

namespace {

constexpr const char* kPortBaseVar = "CAPWAP_PORT_BASE";

}  // namespace

DecodedMessage& DecodedMessage::operator=(const DecodedMessage& other) {
  if (this != &other) {
    storage = other.storage;
    Parse();
  }
  return *this;
}

void DecodedMessage::Parse() {
  hdr = CW_HDR{};
  ctl = CW_CTLHDR{};
  elements.clear();
  complete = false;
  if (storage.size() < kCwHeadersLen) return;
  CW_DEC_CWHdr(&hdr, storage.data());
  CW_DEC_CWCtlHdr(&ctl, storage.data() + kCwHdrLen);
  CwElementWalk walk(ByteView(storage).subspan(kCwHeadersLen));
  for (const CwElement& e : walk) elements.push_back(e);
  complete = walk.complete();
}

const CwElement* DecodedMessage::Find(uint16_t type) const {
  for (const CwElement& e : elements) {
    if (e.type == type) return &e;
  }
  return nullptr;
}

size_t DecodedMessage::Count(uint16_t type) const {
  return static_cast<size_t>(std::count_if(elements.begin(), elements.end(),
                                           [type](const CwElement& e) { return e.type == type; }));
}

DecodedMessage DecodeMessage(ByteView datagram) {
  DecodedMessage d;
  d.storage.assign(datagram.begin(), datagram.end());
  d.Parse();
  return d;
}

ScenarioLab::ScenarioLab(ScenarioOptions options) {
  if (const char* old = std::getenv(kPortBaseVar)) saved_port_base_ = old;
  port_base_ = FreePortBase();
  setenv(kPortBaseVar, std::to_string(port_base_).c_str(), 1);
  for (const char* dir : {"/etc/config/vela/userspace", "/tmp", "/var/run", "/usr/sbin/apimage"}) {
    MakeDirs(root_.Path(dir));
  }
  if (!options.config_text.empty()) {
    std::ofstream(root_.Path("/etc/config/vela/capwap.conf")) << options.config_text;
  }
  ResetAllGlobals();
  CapwapOptions daemon;
  daemon.vty_port = 0;
  booted_ = port_base_ != 0 && capwap_boot(daemon, &clock_, 1000) == 0 && capwapm != nullptr;
  if (!booted_) return;
  StartPeers();

  sim::SimConfig wtp;
  wtp.ac.address = "127.0.0.1";
  wtp.ac.ipv6 = false;
  wtp.ac.control_port = CapwapPort(kControlPort);
  wtp.ac.data_port = CapwapPort(kDataPort);
  wtp.seed = 1;  // reproducible session IDs
  wtps_ = std::make_unique<sim::WtpSimulator>(master(), std::move(wtp), [](std::string_view) {});
}

ScenarioLab::~ScenarioLab() {
  // Everything registered on the daemon's loop goes before the loop does.
  wtps_.reset();
#ifdef CAPWAP_HAVE_PEERSIM
  if (peers_) peers_->Stop();
#endif
  peers_.reset();
  if (booted_) capwap_stop();
  ResetAllGlobals();
  if (saved_port_base_) {
    setenv(kPortBaseVar, saved_port_base_->c_str(), 1);
  } else {
    unsetenv(kPortBaseVar);
  }
}

void ScenarioLab::StartPeers() {
#ifdef CAPWAP_HAVE_PEERSIM
  sim::PeerSimOptions options;
  peers_ = std::make_unique<sim::PeerSim>(master(), std::move(options));
  if (peers_->Start() != 0) {
    ADD_FAILURE() << "the peer simulator did not start";
    peers_.reset();
  }
#endif
}

thread_master* ScenarioLab::master() { return capwapm ? capwapm->master.get() : nullptr; }

size_t ScenarioLab::AddAp() {
  wtps_->Add();
  return wtps_->size() - 1;
}

void ScenarioLab::RunFor(double seconds) {
  if (master()) thread_master_run_for(master(), clock_, seconds);
}

void ScenarioLab::Settle() {
  if (master()) thread_master_settle(master());
}

bool ScenarioLab::Advance(size_t index, sim::WtpStep step, double timeout,
                          const std::function<uint64_t(const sim::WtpCounters&)>& progress) {
  if (!booted_) return false;
  sim::SimWtp& wtp = ap(index);
  const uint64_t before = progress(wtp.counters());
  if (wtp.state() == sim::WtpState::kIdle) {
    wtp.SetRunUntil(step);
    if (wtp.Start() != 0) return false;
  } else {
    wtp.SetRunUntil(step);
  }
  Settle();
  for (double waited = 0; progress(wtp.counters()) == before && waited < timeout; waited += 1) {
    if (wtp.state() == sim::WtpState::kDown) return false;
    RunFor(1);
  }
  return progress(wtp.counters()) != before;
}

bool ScenarioLab::Discover(size_t index, double timeout) {
  return Advance(index, sim::WtpStep::kDiscover, timeout,
                 [](const sim::WtpCounters& c) { return c.discovery_responses; });
}

bool ScenarioLab::Join(size_t index, double timeout) {
  return Advance(index, sim::WtpStep::kJoin, timeout,
                 [](const sim::WtpCounters& c) { return c.joins; });
}

bool ScenarioLab::Configure(size_t index, double timeout) {
  return Advance(index, sim::WtpStep::kConfigure, timeout,
                 [](const sim::WtpCounters& c) { return c.configurations; });
}

bool ScenarioLab::Run(size_t index, double timeout) {
  return Advance(index, sim::WtpStep::kRun, timeout,
                 [](const sim::WtpCounters& c) { return c.run_entries; });
}

std::optional<DecodedMessage> ScenarioLab::Received(size_t index, uint32_t msg_type) const {
  const Bytes* bytes = wtps_->ap(index).LastReceived(msg_type);
  if (!bytes) return std::nullopt;
  return DecodeMessage(*bytes);
}

CW_WTPCB* ScenarioLab::Wtpcb(size_t index) {
  return booted_ ? CW_AC_GetWTPByMac(ap(index).identity().mac) : nullptr;
}

}  // namespace capwap::test
