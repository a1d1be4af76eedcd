// Standard RFC 5415/5416 access points against the real binary with
// `capwap rfc-compat enable`: the simulator's standard WTP (its own framing,
// strict about mandatory and unparsable elements) reaches Run from Discovery
// and by joining directly, keeps Echo and keepalives going, takes a CAPWAP
// Timers update and is torn down when silent, while a product AP on the same
// daemon runs as before. Waits are upper bounds; the daemon runs on a 300 ms
// second. When tshark can capture, everything sent to the standard WTPs must
// decode cleanly as RFC CAPWAP.
#include "e2e/binary_lab.h"
#include "wtp-sim/wtp_rfc.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kPatience = 60s;

class RfcMode : public BinaryLab {
 protected:
  void SetUp() override {
    Boot(300);
    const std::string out = daemon_->Vty("configure terminal\ncapwap rfc-compat enable");
    ASSERT_EQ(out.find('%'), std::string::npos) << out;
  }
  sim::SimWtp& AddStandardAp(uint32_t index, bool join_directly) {
    sim::SimWtp& ap = AddAp(index);
    ap.identity().rfc = true;
    ap.identity().vendor_id = sim::rfc::kStandardVendorId;
    ap.identity().model = "wtp-std";
    ap.knobs().join_directly = join_directly;
    ap.timing().keepalive_interval = 4;
    return ap;
  }
  bool InRun(sim::SimWtp& ap) {
    return ap.Start() == 0 &&
           RunUntil([&] { return ap.state() == sim::WtpState::kRun; }, kPatience);
  }
};

TEST_F(RfcMode, StandardApsBesideAProductAp) {
  sim::SimWtp& product = AddAp(0);
  ASSERT_TRUE(InRun(product)) << product.last_error() << daemon_->output();
  sim::SimWtp& discovered = AddStandardAp(1, false);
  ASSERT_TRUE(InRun(discovered)) << discovered.last_error() << daemon_->output();
  sim::SimWtp& direct = AddStandardAp(2, true);
  ASSERT_TRUE(InRun(direct)) << direct.last_error() << daemon_->output();
  EXPECT_EQ(direct.counters().discovery_requests, 0u);
  const uint16_t ports[] = {discovered.control_port(), direct.control_port()};

  // Echo and keepalives keep both sessions; a CAPWAP Timers update (echo 3 s)
  // reaches the standard WTP that joined second (ap2) and is answered.
  ASSERT_TRUE(RunUntil(
      [&] {
        return discovered.counters().echo_answered >= 2 &&
               discovered.counters().keepalives_answered >= 2 &&
               direct.counters().keepalives_answered >= 2;
      },
      kPatience))
      << discovered.counters().Text() << daemon_->output();
  daemon_->Vty("configure terminal\nwlan ap ap2\necho-interval 3");
  ASSERT_TRUE(RunUntil([&] { return discovered.echo_interval() == 3; }, kPatience))
      << discovered.last_error();
  EXPECT_GE(discovered.counters().ac_requests, 1u);
  EXPECT_EQ(discovered.counters().protocol_errors, 0u) << discovered.last_error();
  EXPECT_EQ(direct.counters().protocol_errors, 0u) << direct.last_error();
  EXPECT_EQ(product.counters().protocol_errors, 0u) << product.last_error();
  EXPECT_EQ(discovered.counters().downs + direct.counters().downs, 0u)
      << discovered.detail() << " / " << direct.detail();

  // Silence: the daemon ends the standard session; the others keep running.
  discovered.knobs().silent_echo = true;
  discovered.knobs().silent_keepalive = true;
  bool torn_down = false;
  for (int i = 0; i < 120 && !torn_down; ++i) {
    RunUntil([] { return false; }, 500ms);
    torn_down = daemon_->Vty("show wlan ap all").find("Running/Total APs                       :2/3") !=
                std::string::npos;
  }
  ASSERT_TRUE(torn_down) << daemon_->Vty("show wlan ap all");
  EXPECT_EQ(product.state(), sim::WtpState::kRun);
  EXPECT_EQ(direct.state(), sim::WtpState::kRun);

  // Wireshark's RFC dissector finds nothing malformed in what the standard
  // WTPs were sent, and every exchange is there.
  aps_.clear();
  if (!capture_->capturing()) GTEST_SKIP() << capture_->why();
  capture_->Stop();
  const std::string to_standard = "udp.dstport==" + std::to_string(ports[0]) +
                                  " || udp.dstport==" + std::to_string(ports[1]);
  const std::string types = capture_->Query(
      daemon_->port_base(), to_standard,
      "-e capwap.control.header.message_type.enterprise_specific");
  for (const char* expected : {"2\n", "4\n", "6\n", "7\n", "12\n", "14\n"}) {
    EXPECT_NE(types.find(expected), std::string::npos) << "missing type " << expected;
  }
  EXPECT_EQ(capture_->Query(daemon_->port_base(), "(" + to_standard +
                                                      ") && (_ws.malformed || "
                                                      "_ws.expert.severity >= error)"),
            "");
}

}  // namespace
}  // namespace capwap::test
