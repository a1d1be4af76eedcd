// The simulated WTP's state machine against a scripted AC on loopback UDP,
// on a manual clock.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "support/lab.h"
#include "tools/fake_ac.h"
#include "transport/frag.h"
#include "wtp-sim/wtp_fleet.h"
#include "wtp-sim/wtp_sim.h"

namespace capwap::simtest {
namespace {

using sim::SimWtp;
using sim::WtpKnobs;
using sim::WtpState;
using sim::WtpStep;
using sim::WtpTiming;

std::string Word(const std::string& line, size_t index) {
  std::istringstream in(line);
  std::string word;
  for (size_t i = 0; i <= index && in >> word; ++i) {
  }
  return word;
}

uint32_t U32At(ByteView v, size_t at) {
  uint32_t out = 0;
  WireReader r(v.subspan(at));
  r.u32(out);
  return out;
}

class WtpSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAllGlobals();
    master_ = thread_master_create(clock_, 1000);
    ac_ = std::make_unique<FakeAc>(master_.get());
    ASSERT_TRUE(ac_->ok());
  }
  void TearDown() override {
    wtp_.reset();
    ac_.reset();
    master_.reset();
    test::ResetAllGlobals();
  }

  SimWtp& MakeWtp(WtpKnobs knobs = {}, WtpTiming timing = {}, bool scramble = false) {
    sim::AcEndpoint endpoint;
    endpoint.ipv6 = ac_ipv6_;
    endpoint.address = ac_ipv6_ ? "::1" : "127.0.0.1";
    endpoint.control_port = ac_->control_port();
    endpoint.data_port = ac_->data_port();
    endpoint.scramble = scramble;
    sim::WtpIdentity id;
    id.radios = sim::DefaultRadios(id.mac, 2);
    wtp_ = std::make_unique<SimWtp>(master_.get(), id, endpoint, timing, std::move(knobs),
                                    [this](std::string_view line) { lines_.emplace_back(line); },
                                    42);
    return *wtp_;
  }
  void RunFor(double seconds) { thread_master_run_for(master_.get(), clock_, seconds); }
  void Settle() { thread_master_settle(master_.get()); }
  std::vector<std::string> States() const {
    std::vector<std::string> out;
    for (const std::string& line : lines_) out.push_back(Word(line, 2));
    return out;
  }
  SimWtp& ToRun(WtpKnobs knobs = {}) {
    SimWtp& wtp = MakeWtp(std::move(knobs));
    EXPECT_EQ(wtp.Start(), 0);
    RunFor(1);
    EXPECT_EQ(wtp.state(), WtpState::kRun);
    return wtp;
  }
  // Sends raw bytes to the simulator's control port from a socket the AC
  // does not own.
  void SendFromStranger(const Bytes& bytes) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(wtp_->control_port());
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
  }

  ManualClock clock_;
  ThreadMasterPtr master_;
  bool ac_ipv6_ = false;
  std::unique_ptr<FakeAc> ac_;
  std::unique_ptr<SimWtp> wtp_;
  std::vector<std::string> lines_;
};

TEST_F(WtpSimTest, ReachesRunThroughEveryExchange) {
  ac_->script.echo_interval = 5;
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);

  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_EQ(States(), (std::vector<std::string>{"Discovery", "Join", "Configure", "Configure",
                                                "DataCheck", "Run"}));
  EXPECT_EQ(lines_.front(), "simap-1 02:00:00:00:01:01 Discovery ac 127.0.0.1 port " +
                                std::to_string(ac_->control_port()));
  EXPECT_EQ(lines_.back(), "simap-1 02:00:00:00:01:01 Run echo 5 s");
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
  EXPECT_EQ(wtp.counters().run_entries, 1u);
  EXPECT_EQ(wtp.echo_interval(), 5u);

  // The Join Request as the daemon's own decoders see it.
  std::vector<Decoded> joins = ac_->Received(CW_MSG_JOIN_REQ);
  ASSERT_EQ(joins.size(), 1u);
  const Decoded& join = joins[0];
  ASSERT_TRUE(join.complete);
  const CwElement* board = join.Find(38);
  ASSERT_NE(board, nullptr);
  CW_WTP_BOARD_DATA bd;
  ASSERT_EQ(CW_DEC_IE_WtpBD(&bd, board->value.data(), board->value.size()), 0);
  EXPECT_EQ(FieldText(bd.model), "ia-210");
  EXPECT_EQ(FieldText(bd.serial), "SIM000001");
  EXPECT_EQ(bd.base_mac, (std::array<uint8_t, 6>{0x02, 0, 0, 0, 0x01, 0x01}));
  const CwElement* desc = join.Find(39);
  ASSERT_NE(desc, nullptr);
  CW_WTP_DESCRIPTOR d;
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&d, desc->value.data(), desc->value.size()), 0);
  EXPECT_EQ(FieldText(d.sw_version), "1.0.0");
  EXPECT_EQ(FieldText(d.hw_version), "A1");
  EXPECT_EQ(d.max_radios, 2);
  const CwElement* session = join.Find(35);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->value.size(), 16u);
  EXPECT_TRUE(std::equal(session->value.begin(), session->value.end(),
                         wtp.identity().session_id.begin()));
  const CwElement* vendor = join.Find(37);
  ASSERT_NE(vendor, nullptr);
  // vendor 41414, (127, 4, 1), (198, 2, 0)
  EXPECT_EQ(Bytes(vendor->value.begin(), vendor->value.end()),
            (Bytes{0x00, 0x00, 0xa1, 0xc6, 0x00, 0x7f, 0x00, 0x04, 0, 0, 0, 1, 0x00, 0xc6, 0x00,
                   0x02, 0, 0}));
  EXPECT_EQ(join.Count(1048), 2u);
  EXPECT_NE(join.Find(45), nullptr);
  EXPECT_NE(join.Find(28), nullptr);

  std::vector<Decoded> cfg = ac_->Received(CW_MSG_CFG_STATUS_REQ);
  ASSERT_EQ(cfg.size(), 1u);
  EXPECT_NE(cfg[0].Find(4), nullptr);
  for (uint16_t per_radio : {1048, 1046, 1041, 1040}) EXPECT_EQ(cfg[0].Count(per_radio), 2u);
  EXPECT_EQ(cfg[0].Count(1028), 1u);
  EXPECT_EQ(cfg[0].Count(1033), 1u);
  EXPECT_EQ(cfg[0].ctl.seq, static_cast<uint8_t>(join.ctl.seq + 1));
  std::vector<Decoded> chg = ac_->Received(CW_MSG_CHG_STATE_REQ);
  ASSERT_EQ(chg.size(), 1u);
  EXPECT_EQ(chg[0].Count(32), 2u);
  EXPECT_EQ(U32At(chg[0].Find(33)->value, 0), 0u);

  ASSERT_EQ(ac_->data.size(), 1u);
  EXPECT_EQ(ac_->data[0].bytes, sim::BuildKeepalive(wtp.identity().session_id));

  // Echo every 5 s as the AC set it, answered with the AC's numbering.
  RunFor(5);
  std::vector<Decoded> echoes = ac_->Received(CW_MSG_ECHO_REQ);
  ASSERT_EQ(echoes.size(), 1u);
  ASSERT_NE(echoes[0].Find(35), nullptr);
  EXPECT_EQ(wtp.counters().echo_answered, 1u);
  EXPECT_EQ(wtp.counters().echo_seq_other, 1u);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
  RunFor(25);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_ECHO_REQ), 6u);
  EXPECT_EQ(ac_->data.size(), 2u);  // one keepalive 30 s after entering Run
}

TEST_F(WtpSimTest, StrictEchoNumberingCountsErrorsUntilTheApGivesUp) {
  WtpKnobs knobs;
  knobs.strict_echo_seq = true;
  SimWtp& wtp = ToRun(knobs);
  RunFor(10);
  EXPECT_EQ(wtp.counters().protocol_errors, 1u);
  EXPECT_NE(wtp.last_error().find("Echo Response seq"), std::string::npos) << wtp.last_error();
  // Retransmitted every 3 s, five transmissions in all, then Down.
  RunFor(13);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "no Echo Response");
  EXPECT_EQ(ac_->CountReceived(CW_MSG_ECHO_REQ), 5u);
  EXPECT_EQ(wtp.counters().retransmissions, 4u);
}

TEST_F(WtpSimTest, MalformedDiscoveryResponsesAreCountedAndDropped) {
  std::vector<Bytes> bad;
  ac_->on_control = [&bad](FakeAc& ac, const Datagram& d) {
    const Decoded m = Decode(d.bytes);
    if (m.ctl.msg_type != CW_MSG_DISCOVERY_REQ) return ac.Answer(d);
    const uint8_t seq = m.ctl.seq;
    const Bytes good = DiscoveryResponse(seq);
    bad.clear();
    bad.push_back(Bytes(good.begin(), good.begin() + 10));  // shorter than the headers
    Bytes hlen4 = good;
    hlen4[1] = 0x20;  // HLEN 4: a radio MAC would follow
    bad.push_back(hlen4);
    Bytes dtls = good;
    dtls[0] = 0x01;  // preamble type 1
    bad.push_back(dtls);
    Bytes overrun = good;
    overrun[16 + 3] += 1;  // AC Descriptor length one past its value
    bad.push_back(overrun);
    Bytes ctl_len = good;
    ctl_len[14] += 1;  // control header element length
    bad.push_back(ctl_len);
    bad.push_back(DiscoveryResponse(seq, 0));
    bad.push_back(DiscoveryResponse(seq, 8));
    bad.push_back(DiscoveryResponse(static_cast<uint8_t>(seq + 1)));
    bad.push_back(AcMessage(CW_MSG_DISCOVERY_RSP, seq));  // no elements
    bad.push_back(Bytes(good.begin(), good.end() - 1));   // last element cut
    for (const Bytes& b : bad) ac.SendControl(b);
    ac.SendControl(good);
  };
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.counters().protocol_errors, bad.size()) << wtp.last_error();
  EXPECT_EQ(wtp.counters().discovery_responses, 1u);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
}

TEST_F(WtpSimTest, DatagramsFromOtherEndpointsAreCountedAndIgnored) {
  ac_->script.discovery = false;
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  Settle();
  const uint8_t seq = ac_->Received(CW_MSG_DISCOVERY_REQ).at(0).ctl.seq;
  SendFromStranger(DiscoveryResponse(seq));
  Settle();
  EXPECT_EQ(wtp.counters().protocol_errors, 1u);
  EXPECT_EQ(wtp.state(), WtpState::kDiscovery);
  ac_->SendControl(DiscoveryResponse(seq));
  Settle();
  EXPECT_EQ(wtp.counters().discovery_responses, 1u);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
}

TEST_F(WtpSimTest, UnansweredJoinIsRetransmittedThenTheApRestartsWithANewSession) {
  ac_->script.join = false;
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(14);
  EXPECT_EQ(wtp.state(), WtpState::kJoin);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_JOIN_REQ), 5u);
  RunFor(1.5);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(lines_.back(), "simap-1 02:00:00:00:01:01 Down no Join Response");
  const sim::SessionId first = wtp.identity().session_id;

  ac_->script.join = true;
  RunFor(5);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_EQ(wtp.counters().restarts, 1u);
  EXPECT_NE(wtp.identity().session_id, first);
  std::vector<Decoded> joins = ac_->Received(CW_MSG_JOIN_REQ);
  ASSERT_EQ(joins.size(), 6u);
  EXPECT_FALSE(std::equal(first.begin(), first.end(), joins.back().Find(35)->value.begin()));
  // Retransmissions repeat the request with its sequence number.
  EXPECT_EQ(joins[0].storage, joins[4].storage);
}

TEST_F(WtpSimTest, RefusedJoinGoesDown) {
  ac_->script.join_result = 6;
  WtpTiming timing;
  timing.stay_down = true;
  SimWtp& wtp = MakeWtp({}, timing);
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(60);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "join refused, result 6");
  EXPECT_EQ(wtp.counters().join_refusals, 1u);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_DISCOVERY_REQ), 1u);
}

Bytes Pattern(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 7 + 3);
  return out;
}

TEST_F(WtpSimTest, DownloadsTheImageAndComesBackWithTheNewVersion) {
  const Bytes identifier = ImageIdentifierValue("ia-210", "2.0.0", "ia-210-2.0.0");
  ac_->script.image_identifier = identifier;
  ac_->script.image = Pattern(2500);
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "image 2.0.0 installed");
  EXPECT_EQ(wtp.counters().image_blocks, 3u);
  EXPECT_EQ(wtp.counters().images_installed, 1u);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();

  std::vector<Decoded> requests = ac_->Received(CW_MSG_IMAGE_DATA_REQ);
  ASSERT_EQ(requests.size(), 1u);
  const CwElement* id = requests[0].Find(25);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(Bytes(id->value.begin(), id->value.end()), identifier);
  ASSERT_NE(requests[0].Find(27), nullptr);
  EXPECT_TRUE(requests[0].Find(27)->value.empty());
  // Every block acknowledged with result 0 under the block's number.
  std::vector<Decoded> acks = ac_->Received(CW_MSG_IMAGE_DATA_RSP);
  ASSERT_EQ(acks.size(), 3u);
  for (size_t i = 0; i < acks.size(); ++i) {
    EXPECT_EQ(acks[i].ctl.seq, 100 + i);
    EXPECT_EQ(U32At(acks[i].Find(33)->value, 0), 0u);
  }

  ac_->script.image_identifier.reset();
  RunFor(5);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  std::vector<Decoded> discoveries = ac_->Received(CW_MSG_DISCOVERY_REQ);
  ASSERT_EQ(discoveries.size(), 2u);
  const CwElement* desc = discoveries[1].Find(39);
  CW_WTP_DESCRIPTOR d;
  ASSERT_EQ(CW_DEC_IE_WtpDesc(&d, desc->value.data(), desc->value.size()), 0);
  EXPECT_EQ(FieldText(d.sw_version), "2.0.0");
}

TEST_F(WtpSimTest, ImageWithAWrongDigestIsNotInstalled) {
  ac_->script.image_identifier = ImageIdentifierValue("ia-210", "2.0.0", "x");
  ac_->script.image = Pattern(2048);
  ac_->script.corrupt_digest = true;
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "image digest mismatch");
  EXPECT_EQ(wtp.counters().image_failures, 1u);
  EXPECT_EQ(wtp.counters().image_blocks, 2u);
  EXPECT_EQ(wtp.identity().sw_version, "1.0.0");
}

TEST_F(WtpSimTest, StalledDownloadEnds) {
  ac_->script.image_identifier = ImageIdentifierValue("ia-210", "2.0.0", "x");
  ac_->script.image = Bytes{};  // accepted, then nothing comes
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kImage);
  EXPECT_EQ(wtp.detail(), "downloading 2.0.0");
  RunFor(30);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "image download stalled");
}

TEST_F(WtpSimTest, AnswersTheAcsRequestsInRun) {
  SimWtp& wtp = ToRun();
  uint8_t seq = ac_->SendRequest(CW_MSG_CFG_UPDATE_REQ, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 12);
    e.w().u8(3);
    e.w().u8(7);
  });
  Settle();
  std::vector<Decoded> updates = ac_->Received(CW_MSG_CFG_UPDATE_RSP);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].ctl.seq, seq);
  EXPECT_EQ(U32At(updates[0].Find(33)->value, 0), 0u);
  EXPECT_EQ(wtp.echo_interval(), 7u);
  RunFor(7);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_ECHO_REQ), 1u);

  wtp.knobs().result_codes[CW_MSG_STA_CFG_REQ] = 3;
  seq = ac_->SendRequest(CW_MSG_STA_CFG_REQ);
  Settle();
  std::vector<Decoded> sta = ac_->Received(CW_MSG_STA_CFG_RSP);
  ASSERT_EQ(sta.size(), 1u);
  EXPECT_EQ(sta[0].ctl.seq, seq);
  EXPECT_EQ(U32At(sta[0].Find(33)->value, 0), 3u);

  const Bytes wlan = AcMessage(CW_MSG_WLAN_CFG_REQ, 120, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 1024);
    e.w().u8(2);  // radio
    e.w().u8(3);  // WLAN
    e.w().zeros(49);
  });
  ac_->SendControl(wlan);
  Settle();
  std::vector<Decoded> wlans = ac_->Received(CW_MSG_WLAN_CFG_RSP);
  ASSERT_EQ(wlans.size(), 1u);
  EXPECT_EQ(wlans[0].ctl.seq, 120);
  const CwElement* bssid = wlans[0].Find(1026);
  ASSERT_NE(bssid, nullptr);
  sim::Mac expected = wtp.identity().radios[1].bssid;
  expected[5] = static_cast<uint8_t>(expected[5] + 3);
  EXPECT_EQ(Bytes(bssid->value.begin(), bssid->value.end()),
            (Bytes{2, 3, expected[0], expected[1], expected[2], expected[3], expected[4],
                   expected[5]}));

  // A repeated request gets the same answer again and changes nothing.
  ac_->SendControl(wlan);
  Settle();
  wlans = ac_->Received(CW_MSG_WLAN_CFG_RSP);
  ASSERT_EQ(wlans.size(), 2u);
  EXPECT_EQ(wlans[0].storage, wlans[1].storage);
  EXPECT_EQ(wtp.counters().ac_requests_repeated, 1u);
  EXPECT_EQ(wtp.counters().ac_requests, 3u);

  // A request the AC never sends is a protocol error, not answered.
  ac_->SendRequest(CW_MSG_JOIN_REQ);
  Settle();
  EXPECT_EQ(wtp.counters().protocol_errors, 1u);

  seq = ac_->SendRequest(CW_MSG_RESET_REQ, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 25);
    e.w().zeros(112);
  });
  Settle();
  ASSERT_EQ(ac_->CountReceived(CW_MSG_RESET_RSP), 1u);
  EXPECT_EQ(ac_->Received(CW_MSG_RESET_RSP)[0].ctl.seq, seq);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "reset by AC");
  RunFor(5);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_EQ(wtp.counters().run_entries, 2u);
}

TEST_F(WtpSimTest, ImagePushedWhileRunningIsInstalledAndTheApRestarts) {
  SimWtp& wtp = ToRun();
  const Bytes image = Pattern(1500);
  auto block = [&](size_t at, size_t n, bool last) {
    return ac_->SendRequest(CW_MSG_IMAGE_DATA_REQ, [&](CW_PKT& pkt) {
      {
        CwElementWriter e(pkt, 24);
        e.w().u8(last ? 2 : 1);
        e.w().bytes(image.data() + at, n);
      }
      if (!last) return;
      const auto digest = sim::Md5Of(image);
      CwElementWriter e(pkt, 26);
      e.w().u32(static_cast<uint32_t>(image.size()));
      e.w().bytes(digest.data(), digest.size());
    });
  };
  block(0, 1024, false);
  Settle();
  EXPECT_EQ(wtp.state(), WtpState::kRun);  // a running AP keeps running while it downloads
  block(1024, 476, true);
  Settle();
  EXPECT_EQ(ac_->CountReceived(CW_MSG_IMAGE_DATA_RSP), 2u);
  EXPECT_EQ(wtp.counters().images_installed, 1u);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "image 1.0.0 installed");
  RunFor(5);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
}

TEST_F(WtpSimTest, PeriodicEventsInRun) {
  WtpKnobs knobs;
  knobs.event_interval = 4;
  SimWtp& wtp = ToRun(knobs);
  RunFor(9);  // events at 4 and 8 s; the echo at 10 s is not yet due
  std::vector<Decoded> events = ac_->Received(CW_MSG_WTP_EVENT_REQ);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_NE(events[0].ctl.seq, events[1].ctl.seq);
  EXPECT_EQ(wtp.counters().events_answered, 2u);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
}

TEST_F(WtpSimTest, SilentAfterRunSendsNeitherEchoNorKeepalive) {
  WtpKnobs knobs;
  knobs.silent_echo = true;
  knobs.silent_keepalive = true;
  ToRun(knobs);
  RunFor(100);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_ECHO_REQ), 0u);
  EXPECT_EQ(ac_->data.size(), 1u);  // the Data Check keepalive only
}

TEST_F(WtpSimTest, IgnoredConfigurationUpdateIsNotAnswered) {
  WtpKnobs knobs;
  knobs.ignore_config_update = true;
  SimWtp& wtp = ToRun(knobs);
  ac_->SendRequest(CW_MSG_CFG_UPDATE_REQ);
  ac_->SendRequest(CW_MSG_STA_CFG_REQ);
  Settle();
  EXPECT_EQ(ac_->CountReceived(CW_MSG_CFG_UPDATE_RSP), 0u);
  EXPECT_EQ(ac_->CountReceived(CW_MSG_STA_CFG_RSP), 1u);
  EXPECT_EQ(wtp.counters().ac_requests_ignored, 1u);
}

TEST_F(WtpSimTest, WithheldExchangesLeaveTheApWaiting) {
  WtpKnobs knobs;
  knobs.skip_change_state = true;
  SimWtp& wtp = MakeWtp(knobs);
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(60);
  EXPECT_EQ(wtp.state(), WtpState::kConfigure);
  EXPECT_EQ(wtp.detail(), "change state withheld");
  EXPECT_EQ(ac_->CountReceived(CW_MSG_CHG_STATE_REQ), 0u);

  wtp.knobs().skip_change_state = false;
  wtp.knobs().skip_config_status = true;
  wtp.Start();
  RunFor(60);
  EXPECT_EQ(wtp.state(), WtpState::kJoin);
  EXPECT_EQ(wtp.detail(), "configuration status withheld");
  EXPECT_EQ(ac_->CountReceived(CW_MSG_CFG_STATUS_REQ), 1u);
}

TEST_F(WtpSimTest, HoldsAfterEachStepUntilReleased) {
  SimWtp& wtp = MakeWtp();
  wtp.SetRunUntil(WtpStep::kDiscover);
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(30);
  EXPECT_TRUE(wtp.holding());
  EXPECT_EQ(wtp.state(), WtpState::kDiscovery);
  EXPECT_EQ(wtp.detail(), "answered, priority 4");
  EXPECT_EQ(ac_->CountReceived(CW_MSG_DISCOVERY_REQ), 1u);
  EXPECT_EQ(wtp.ac_priority(), 4);

  const std::pair<WtpStep, std::string> steps[] = {
      {WtpStep::kJoin, "Join joined"},
      {WtpStep::kConfigure, "Configure configured"},
      {WtpStep::kChangeState, "Configure radios enabled"},
      {WtpStep::kRun, "Run echo 10 s"},
  };
  for (const auto& [step, expected] : steps) {
    wtp.SetRunUntil(step);
    Settle();
    EXPECT_EQ(std::string(sim::WtpStateName(wtp.state())) + " " + wtp.detail(), expected);
  }
  EXPECT_FALSE(wtp.holding());
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
}

TEST_F(WtpSimTest, ReassemblesFragmentedRequestsAndFragmentsLargeEvents) {
  SimWtp& wtp = ToRun();
  CW_PKT big;
  big.buffer.assign(kCwPktBufSize, 0);
  {
    CwElementWriter e(big, 37);
    e.w().u32(41414);
    e.w().zeros(2996);
  }
  CW_FinishCtlMsg(big, CW_MSG_CFG_UPDATE_REQ, 130);
  big.buffer.resize(big.length);
  std::vector<CW_PKT> fragments = CW_FragPkt(big, 9);
  ASSERT_EQ(fragments.size(), 3u);
  for (auto it = fragments.rbegin(); it != fragments.rend(); ++it) {
    ac_->SendControl(Bytes(it->buffer.begin(), it->buffer.begin() + it->length));
  }
  Settle();
  ASSERT_EQ(ac_->CountReceived(CW_MSG_CFG_UPDATE_RSP), 1u);
  EXPECT_EQ(ac_->Received(CW_MSG_CFG_UPDATE_RSP)[0].ctl.seq, 130);
  EXPECT_EQ(wtp.counters().reassembled, 1u);
  EXPECT_EQ(wtp.counters().fragments_received, 3u);

  // A 3000-octet event goes out in 1400-octet fragments.
  wtp.knobs().event_padding = 3000;
  const size_t before = ac_->control.size();
  ASSERT_TRUE(wtp.SendEvent());
  Settle();
  Bytes payload;
  std::vector<uint16_t> offsets;
  for (size_t i = before; i < ac_->control.size(); ++i) {
    const Bytes& f = ac_->control[i].bytes;
    CW_HDR hdr;
    CW_DEC_CWHdr(&hdr, f.data());
    ASSERT_TRUE(hdr.F());
    EXPECT_EQ(hdr.L(), i + 1 == ac_->control.size());
    offsets.push_back(hdr.frag_offset);
    payload.insert(payload.end(), f.begin() + 8, f.end());
  }
  EXPECT_EQ(offsets, (std::vector<uint16_t>{0, 175, 350}));
  Bytes whole(8, 0);
  whole[1] = 0x10;
  whole.insert(whole.end(), payload.begin(), payload.end());
  const Decoded event = Decode(whole);
  EXPECT_TRUE(event.complete);
  EXPECT_EQ(event.ctl.msg_type, CW_MSG_WTP_EVENT_REQ);
  EXPECT_EQ(event.Count(47), 2u);
  ASSERT_NE(event.Find(35), nullptr);
  ac_->SendControl(AcMessage(CW_MSG_WTP_EVENT_RSP, event.ctl.seq));
  Settle();
  EXPECT_EQ(wtp.counters().events_answered, 1u);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();
}

TEST_F(WtpSimTest, IncompleteFragmentedMessageIsAbandoned) {
  SimWtp& wtp = ToRun();
  CW_PKT big;
  big.buffer.assign(kCwPktBufSize, 0);
  {
    CwElementWriter e(big, 37);
    e.w().zeros(2000);
  }
  CW_FinishCtlMsg(big, CW_MSG_CFG_UPDATE_REQ, 131);
  big.buffer.resize(big.length);
  std::vector<CW_PKT> fragments = CW_FragPkt(big, 10);
  ASSERT_EQ(fragments.size(), 2u);
  ac_->SendControl(Bytes(fragments[0].buffer.begin(),
                         fragments[0].buffer.begin() + fragments[0].length));
  RunFor(29);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u);
  RunFor(1);
  EXPECT_EQ(wtp.counters().protocol_errors, 1u);
  EXPECT_NE(wtp.last_error().find("incomplete"), std::string::npos);
  // The late second fragment alone completes nothing.
  ac_->SendControl(Bytes(fragments[1].buffer.begin(),
                         fragments[1].buffer.begin() + fragments[1].length));
  Settle();
  EXPECT_EQ(ac_->CountReceived(CW_MSG_CFG_UPDATE_RSP), 0u);
}

TEST_F(WtpSimTest, ScrambledSessionReachesRun) {
  ac_->scramble = true;
  SimWtp& wtp = MakeWtp({}, {}, /*scramble=*/true);
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_EQ(wtp.counters().protocol_errors, 0u) << wtp.last_error();

  // What went over the wire does not parse without the key.
  ac_->scramble = false;
  ac_->script.discovery = false;
  wtp.Start();
  Settle();
  Bytes raw = ac_->control.back().bytes;
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, raw.data());
  EXPECT_NE(CW_CheckCWHdr(&hdr), 0);
  CW_Encrypt(raw.data(), raw.size(), kCwScrambleKey);
  EXPECT_EQ(Decode(raw).ctl.msg_type, CW_MSG_DISCOVERY_REQ);
}

TEST_F(WtpSimTest, Ipv6SessionReachesRun) {
  ac_ipv6_ = true;
  ac_ = std::make_unique<FakeAc>(master_.get(), true);
  if (!ac_->ok()) GTEST_SKIP() << "no IPv6 loopback";
  // Scrambling applies to IPv4 only: an IPv6 AP talks in clear.
  SimWtp& wtp = MakeWtp({}, {}, /*scramble=*/true);
  ASSERT_EQ(wtp.Start(), 0);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
  EXPECT_EQ(lines_.front(), "simap-1 02:00:00:00:01:01 Discovery ac ::1 port " +
                                std::to_string(ac_->control_port()));
}

TEST_F(WtpSimTest, DataCheckGivesUpWithoutAKeepaliveOfItsSession) {
  ac_->script.keepalive = false;
  SimWtp& wtp = MakeWtp();
  ASSERT_EQ(wtp.Start(), 0);
  Settle();
  EXPECT_EQ(wtp.state(), WtpState::kDataCheck);
  sim::SessionId other = wtp.identity().session_id;
  other[0] ^= 1;
  ac_->SendData(sim::BuildKeepalive(other));
  Bytes long_one = sim::BuildKeepalive(wtp.identity().session_id);
  long_one.push_back(0);
  ac_->SendData(long_one);
  Settle();
  EXPECT_EQ(wtp.counters().protocol_errors, 2u);
  RunFor(14);
  EXPECT_EQ(wtp.state(), WtpState::kDataCheck);
  RunFor(1);
  EXPECT_EQ(wtp.state(), WtpState::kDown);
  EXPECT_EQ(wtp.detail(), "no keepalive answer");
  EXPECT_EQ(ac_->data.size(), 5u);
}

TEST_F(WtpSimTest, HostileDatagramsNeverSilenceTheAp) {
  SimWtp& wtp = ToRun();
  const Bytes update = AcMessage(CW_MSG_CFG_UPDATE_REQ, 140, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 12);
    e.w().u8(3);
    e.w().u8(10);
  });
  std::mt19937 gen(7);
  size_t sent = 0;
  // Every proper prefix of a good request, then random bytes.
  for (size_t n = 0; n < update.size(); ++n) {
    ac_->SendControl(Bytes(update.begin(), update.begin() + n));
    ++sent;
  }
  for (int i = 0; i < 200; ++i) {
    Bytes junk(gen() % 64);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(gen());
    ac_->SendControl(junk);
    ac_->SendData(junk);
    sent += 2;
    Settle();
  }
  Settle();
  EXPECT_GE(wtp.counters().protocol_errors, sent - 5);  // a few random ones may be a valid fragment
  EXPECT_EQ(ac_->CountReceived(CW_MSG_CFG_UPDATE_RSP), 0u);
  ac_->SendControl(update);
  Settle();
  ASSERT_EQ(ac_->CountReceived(CW_MSG_CFG_UPDATE_RSP), 1u);
  EXPECT_EQ(wtp.state(), WtpState::kRun);
}

TEST_F(WtpSimTest, FleetPlaysDistinctAps) {
  sim::SimConfig config;
  config.ac.control_port = ac_->control_port();
  config.ac.data_port = ac_->data_port();
  config.count = 3;
  config.seed = 5;
  config.mac_base = {0x02, 0x00, 0x00, 0x00, 0x00, 0xff};
  std::vector<std::string> lines;
  sim::WtpSimulator fleet(master_.get(), config,
                          [&lines](std::string_view line) { lines.emplace_back(line); });
  ASSERT_EQ(fleet.Start(), 0);
  RunFor(1);
  EXPECT_EQ(fleet.CountInState(WtpState::kRun), 3u);
  EXPECT_EQ(fleet.Totals().run_entries, 3u);
  EXPECT_EQ(fleet.Totals().protocol_errors, 0u);
  EXPECT_EQ(fleet.ap(1).identity().mac, (sim::Mac{0x02, 0, 0, 0, 0x01, 0x00}));
  EXPECT_EQ(fleet.ap(2).identity().name, "simap-3");
  EXPECT_EQ(fleet.ap(2).identity().serial, "SIM020000000101");
  std::set<uint16_t> ports;
  std::set<sim::SessionId> sessions;
  for (size_t i = 0; i < fleet.size(); ++i) {
    ports.insert(fleet.ap(i).control_port());
    ports.insert(fleet.ap(i).data_port());
    sessions.insert(fleet.ap(i).identity().session_id);
  }
  EXPECT_EQ(ports.size(), 6u);
  EXPECT_EQ(sessions.size(), 3u);
  EXPECT_EQ(fleet.Summary().rfind("aps 3: Run 3 | sent=", 0), 0u) << fleet.Summary();
  EXPECT_EQ(lines.size(), 18u);
}

}  // namespace
}  // namespace capwap::simtest
