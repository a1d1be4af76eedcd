// The scenario lab: the daemon booted in-process on a manual clock under a
// temporary root with its own CAPWAP ports, the WMAC/WRRM/WIDS peer
// simulator (when it is built) and simulated WTPs on the daemon's own event
// loop, all talking over real loopback UDP and Unix sockets. Each verb
// (Discover, Join, ...) lets the AP complete one more exchange and runs the
// loop until it has (true) or the timeout passes or the AP went Down (false).
// Teardown resets every global, so each scenario starts from nothing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "wtp-sim/wtp_fleet.h"

struct CW_WTPCB;

namespace capwap::sim {
class PeerSim;
}

namespace capwap::test {

// A control datagram taken apart by the project's decoders.
struct DecodedMessage {
  CW_HDR hdr;
  CW_CTLHDR ctl;
  std::vector<CwElement> elements;  // views into `storage`
  bool complete = false;            // the element walk consumed everything
  Bytes storage;

  DecodedMessage() = default;
  DecodedMessage(const DecodedMessage& other) { *this = other; }
  DecodedMessage& operator=(const DecodedMessage& other);
  const CwElement* Find(uint16_t type) const;
  size_t Count(uint16_t type) const;
  // Decodes `storage` into the other fields.
  void Parse();
};
DecodedMessage DecodeMessage(ByteView datagram);

struct ScenarioOptions {
  // Written as the daemon's configuration file before it boots.
  std::string config_text;
};

class ScenarioLab {
 public:
  explicit ScenarioLab(ScenarioOptions options = {});
  ~ScenarioLab();
  ScenarioLab(const ScenarioLab&) = delete;
  ScenarioLab& operator=(const ScenarioLab&) = delete;

  bool booted() const { return booted_; }
  const TempRoot& root() const { return root_; }
  thread_master* master();
  // Null when the peer simulator is not built.
  sim::PeerSim* peers() { return peers_.get(); }

  // A new simulated AP with the next identity of the fleet (not started).
  size_t AddAp();
  sim::SimWtp& ap(size_t index) { return wtps_->ap(index); }

  bool Discover(size_t index, double timeout = 10);
  bool Join(size_t index, double timeout = 10);
  bool Configure(size_t index, double timeout = 20);
  bool Run(size_t index, double timeout = 20);
  void RunFor(double seconds);
  void Settle();

  // The last control message of that type the AP received, decoded.
  std::optional<DecodedMessage> Received(size_t index, uint32_t msg_type) const;
  // The daemon's control block of the AP (by base MAC), or null.
  CW_WTPCB* Wtpcb(size_t index);

 private:
  bool Advance(size_t index, sim::WtpStep step, double timeout,
               const std::function<uint64_t(const sim::WtpCounters&)>& progress);
  void StartPeers();

  TempRoot root_;
  ManualClock clock_;
  std::optional<std::string> saved_port_base_;
  uint16_t port_base_ = 0;
  bool booted_ = false;
  std::unique_ptr<sim::PeerSim> peers_;
  std::unique_ptr<sim::WtpSimulator> wtps_;
};

}  // namespace capwap::test
