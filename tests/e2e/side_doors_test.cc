// The side doors against the real binary: an AP declared and bound through
// the command socket joins under its name; the connection manager stand-in
// receives its online document; a new cloud server reaches it; APM events
// reach WMAC and reset the AP, whose offline document follows.
#include <cjson/cJSON.h>

#include "e2e/binary_lab.h"
#include "export/apm.h"
#include "relay/wmac.h"
#include "side-sim/side_sim.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;

Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

// The document's member as text (numbers printed as integers).
std::string Member(const std::string& json, const char* name) {
  cJSON* doc = cJSON_Parse(json.c_str());
  const cJSON* item = doc ? cJSON_GetObjectItem(doc, name) : nullptr;
  std::string out = !item                   ? "<none>"
                    : cJSON_IsString(item)  ? item->valuestring
                                            : std::to_string(static_cast<long>(item->valuedouble));
  cJSON_Delete(doc);
  return out;
}

class SideDoors : public BinaryLab {
 protected:
  void SetUp() override { Boot(300); }
};

TEST_F(SideDoors, CommandSocketCloudDocumentsAndApmEvents) {
  sim::ConmSim conm(master_.get(), "gateway");
  ASSERT_EQ(conm.Start(), 0);
  sim::SimWtp& ap = AddAp(0, false, 11);
  const auto& mac = ap.identity().mac;
  char mac_text[18];
  snprintf(mac_text, sizeof mac_text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
           mac[3], mac[4], mac[5]);
  ASSERT_TRUE(sim::SendCmdLine(CmdLineEncode(kCmdCreateApWithId,
                                             {Text("door1"), Text("IA-210"), Text("7")})));
  ASSERT_TRUE(sim::SendCmdLine(CmdLineEncode(kCmdBindMac, {Text("door1"), Text(mac_text)})));

  ASSERT_EQ(ap.Start(), 0);
  ASSERT_TRUE(RunUntil([&] { return !conm.On("wifiap/update/").empty(); }, 20s))
      << ap.last_error() << daemon_->output();
  const ConmPublication online = *conm.On("wifiap/update/").front();
  char upper[18];
  snprintf(upper, sizeof upper, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  EXPECT_EQ(online.topic, std::string("wifiap/update/") + upper);
  EXPECT_EQ(Member(online.payload, "capwapstatus"), "online");
  EXPECT_EQ(Member(online.payload, "capwaponlinetime"), "0");
  EXPECT_EQ(Member(online.payload, "acip"), "127.0.0.1");
  EXPECT_EQ(Member(online.payload, "model"), "ia-210");
  EXPECT_NE(daemon_->Vty("show wlan ap all").find("door1"), std::string::npos);

  // A new cloud server reaches the running AP (item 57) and the connection
  // manager is told to reconnect.
  const uint64_t answered = ap.counters().ac_requests;
  daemon_->Vty("configure terminal\ncloud server ip 10.9.8.7 port 1883\nend");
  ASSERT_TRUE(RunUntil([&] { return ap.counters().ac_requests > answered; }, 5s));
  ASSERT_TRUE(RunUntil([&] { return !conm.registrations().empty(); }, 5s));
  EXPECT_EQ(conm.registrations()[0].topic, "reconnect");

  // A profile event goes to WMAC with the AP's ID; a reset event resets it.
  sim::ApmClient apm;
  ASSERT_TRUE(apm.Connect());
  Bytes profile(128, 0);
  std::copy(mac.begin(), mac.end(), profile.begin());
  ASSERT_TRUE(apm.Send(kApmProfileCreate, profile));
  ASSERT_TRUE(RunUntil(
      [&] { return peers_->LastReceived(sim::Peer::kWmac, WmacMsg::kApmApInfo) != nullptr; },
      5s));
  EXPECT_EQ(peers_->LastReceived(sim::Peer::kWmac, WmacMsg::kApmApInfo)->wtp_id, 7u);
  ap.timing().stay_down = true;
  Bytes reset(236, 0);
  std::copy(mac.begin(), mac.end(), reset.begin() + 8);
  HostWriter(reset.data() + 16, 4).u32(kApmReset);  // the sub-type
  ASSERT_TRUE(apm.Send(kApmReset, reset));
  ASSERT_TRUE(RunUntil([&] { return conm.On("wifiap/update/").size() >= 2; }, 10s))
      << daemon_->output();
  EXPECT_EQ(Member(conm.On("wifiap/update/")[1]->payload, "capwapstatus"), "offline");
  EXPECT_EQ(conm.bad_streams(), 0u);
  conm.Stop();
}

}  // namespace
}  // namespace capwap::test
