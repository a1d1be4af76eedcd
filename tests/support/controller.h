// The controller on loopback that the exchange, relay, registry and transport
// tests drive: a daemon context on a manual clock set up by the daemon's own
// data start-up (AP tables, vendor, message and WMAC handlers), the WMAC
// listener on "/tmp/cw_ac_addr", the control socket on 127.0.0.1 and the
// data sockets on the next port, two AP models, the peer simulator playing
// WMAC, WRRM and WIDS on the same loop, every debug category on and every
// log line kept. Tests stand for WTPs with loopback UDP endpoints.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ap_persist.h"
#include "config/images.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "fsm/handlers.h"
#include "fsm/vendor_handlers.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "platform/cli.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "registry/acinfo.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/relay.h"
#include "relay/wmac.h"
#include "transport/keepalive.h"
#include "transport/recv.h"
#include "transport/sockets.h"
#include "support/lab.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "support/udp_endpoint.h"
#include "transport/transport_fixture.h"

namespace capwap::test {

using transport_test::ControlDatagram;
using transport_test::Element;
using transport_test::MsgTypeOf;
using transport_test::SeqOf;
using Mac = std::array<uint8_t, 6>;
using SessionId = std::array<uint8_t, 16>;
using WtpEndpoint = UdpEndpoint;

inline constexpr uint32_t kPlatformVendor = 41414;  // accepted by the platform by default
inline constexpr uint32_t kWtpVendor = 0x00A1B2C3;  // a vendor of the WTPs of WtpAt
inline constexpr const char* kRunModel = "run-model";  // two radios
inline constexpr const char* kModelX = "model-x";      // one radio

SessionId SessionOf(uint8_t seed);
inline Bytes SessionElement(uint8_t seed) {
  const SessionId s = SessionOf(seed);
  return Element(35, Bytes(s.begin(), s.end()));
}
// A keepalive as a WTP sends it; `element_len` and `reserved` allow the
// malformed and WAPI variants.
Bytes Keepalive(const SessionId& session, bool k_bit = true, uint16_t element_len = 20,
                uint8_t reserved = 0);

struct Wtp6Endpoint : UdpEndpoint {
  Wtp6Endpoint() : UdpEndpoint(true) {}
};

// The datagrams of one message type among those drained.
std::vector<Bytes> OfType(const std::vector<Bytes>& datagrams, uint32_t type);
// The Result Code of a response; 0xFFFFFFFF when it has none.
uint32_t ResultOf(const DecodedMessage& m);
// The element types of a message in order.
std::vector<uint16_t> TypesOf(const DecodedMessage& m);
// The transport and control headers the controller writes, as table rows.
TruncTable ControlHeaderRows(uint32_t msg_type, uint8_t seq, uint16_t elem_len);
// The AP name carried by a create-AP notification (model 32, name 33, ...).
std::string CreatedName(const Bytes& payload);
// A received-datagram record holding exactly the datagram's bytes.
CW_RCVPKT RcvOf(ByteView datagram, const CW_ADDR& remote = {}, const CW_ADDR& local = {});
// The bytes of one element: type, length, value.
Bytes ElementBytes(const CwElement& e);
// A Vendor Specific Payload element of kWtpVendor.
Bytes Vendor(uint16_t elem_id, uint16_t declared, const Bytes& value);
inline Bytes Vendor(uint16_t elem_id, const Bytes& value) {
  return Vendor(elem_id, static_cast<uint16_t>(value.size()), value);
}

// Host-order fields of a record, for offset checks.
uint32_t U32At(ByteView rec, size_t off);
uint16_t U16At(ByteView rec, size_t off);
std::string TextAt(ByteView rec, size_t off, size_t width);

// What a recording WMAC route saw of one dispatched message.
struct Dispatched {
  IpcHead head;
  bool had_payload = false;
  Bytes payload;
};
std::vector<Dispatched>& Recorded();
int RecordingHandler(const IpcHead& head, const uint8_t* payload);

class ControllerLab : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The options the peer simulator starts with.
  virtual sim::PeerSimOptions PeerOptions() const { return {}; }

  uint16_t ControlPort() const { return port_base_; }
  uint16_t DataPort() const { return static_cast<uint16_t>(port_base_ + 1); }
  // The IPv6 control socket, bound to any address on the control port.
  bool OpenIpv6();

  // A configured AP of kModelX (not created automatically).
  CW_WTPCB* MakeAp(const std::string& name = "", uint32_t apid = 0xFFFFFFFFu);
  // A configured AP of `model` bound to `mac`.
  CW_WTPCB* ConfiguredAp(const std::string& model, const Mac& mac, uint8_t priority = 4);
  // A WTP of kRunModel in `state` whose control session is bound to
  // `control`, with the identity a Join would have recorded.
  CW_WTPCB* MakeWtp(const WtpEndpoint& control, uint8_t seed, uint32_t state);
  // A WTP of kModelX named "ap-<apid>" of kWtpVendor in `state` at `endpoint`.
  CW_WTPCB* WtpAt(const UdpEndpoint& endpoint, uint32_t apid, uint32_t state = kStateRun);
  static Bytes ApKey(uint32_t apid);

  // Sends from the endpoint to the controller (control port by default) and
  // lets the loop run.
  void Deliver(const UdpEndpoint& from, const Bytes& datagram) { Deliver(from, ControlPort(), datagram); }
  void Deliver(const UdpEndpoint& from, uint16_t port, const Bytes& datagram);
  // The one message the endpoint got since the last call, decoded, or none
  // (more than one fails the test).
  std::optional<DecodedMessage> OnlyAnswer(const UdpEndpoint& at);
  // The WTP answers the outstanding Configuration Update Request through the
  // receive path, which releases it and lets the next queued one go.
  void Answer(const UdpEndpoint& endpoint, uint8_t seq);
  // The single element of a well-formed Configuration Update Request.
  static ::testing::AssertionResult OneElement(const std::optional<DecodedMessage>& msg, CwElement* out);

  // Plays WMAC: one request to the AC (with a header parameter), then runs
  // the loop until quiet.
  void FromWmac(uint32_t type, uint32_t wtp_id, ByteView payload = {});
  void FromWmacWithParam(uint32_t type, uint32_t wtp_id, uint32_t param, ByteView payload);
  // WMAC notifications of one type (of any, when none given) received so
  // far; DrainWmac forgets them afterwards.
  std::vector<sim::PeerMessage> Wmac(std::optional<uint32_t> type);
  std::vector<sim::PeerMessage> DrainWmac(std::optional<uint32_t> type = std::nullopt);
  std::optional<TunnelRecord> LastTunnelRecord();
  void ForgetWmac();

  // True when a line containing `text` was written (at `level`, if given).
  // The log drops a line's final newline, so a quoted text's is ignored.
  bool Logged(std::string_view text, int level = -1) const;
  std::string LogText() const;

  struct LogLine {
    int level;
    std::string text;
  };
  DaemonContext lab_;
  std::unique_ptr<sim::PeerSim> peers_;
  uint16_t port_base_ = 0;
  std::optional<std::string> saved_port_base_;
  std::vector<LogLine> lines_;
  LogCapture log_{[this](int level, std::string_view text) {
    lines_.push_back(LogLine{level, std::string(text)});
  }};
};

}  // namespace capwap::test
