// WLAN and station configuration end to end: WMAC (the peer simulator on the
// AC's Unix socket) configures an SSID and a station on a simulated AP in
// Run (loopback UDP); the AP answers, and the BSSID it assigned reaches WMAC.
#include <gtest/gtest.h>

#include "peer-sim/peer_sim.h"
#include "platform/fail_inject.h"
#include "registry/wtpcb.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace capwap::test {
namespace {

constexpr uint32_t kAddWlan = 4, kDelWlan = 5, kAddSta = 7, kStaTraffic = 96;

template <class R>
Bytes Encoded(const R& rec) {
  const auto bytes = WmacRecordEncode(rec);
  return Bytes(bytes.begin(), bytes.end());
}

// An SSID with a web page: the request is larger than one datagram.
CwAddWlanRecord DemoWlan() {
  CwAddWlanRecord rec;
  rec.radio_id = 1;
  rec.wlan_id = 2;
  const std::string_view ssid = "demo-ssid";
  std::copy(ssid.begin(), ssid.end(), rec.ssid.begin());
  rec.web.title[0] = 'W';
  rec.web.body.fill('x');
  return rec;
}

TEST(WlanScenario, WmacConfiguresAnSsidAndAStationOnARunningAp) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  sim::PeerSim* wmac = lab.peers();
  if (!wmac) GTEST_SKIP() << "the peer simulator is not built";
  const size_t ap = lab.AddAp();
  const size_t held = lab.AddAp();
  ASSERT_TRUE(lab.Discover(ap) && lab.Join(ap) && lab.Configure(ap) && lab.Run(ap)) << lab.ap(ap).last_error();
  ASSERT_TRUE(lab.Discover(held) && lab.Join(held)) << lab.ap(held).last_error();
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  CW_WTPCB* joined = lab.Wtpcb(held);
  ASSERT_TRUE(wtp && joined);

  // The SSID goes out in fragments. The first is lost, so the whole request
  // goes again after the back-off wait; the AP's answer then names its
  // BSSID, which WMAC is told.
  const uint64_t reassembled = lab.ap(ap).counters().reassembled;
  FailNext(FailFamily::kDatagramSend, 1);
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddWlan, wtp->apid, Encoded(DemoWlan())));
  lab.RunFor(1);
  EXPECT_EQ(wtp->sndq.count, 1u) << "unanswered";
  EXPECT_EQ(wmac->CountReceived(sim::Peer::kWmac, WmacMsg::kSetBssid), 0u);
  lab.RunFor(static_cast<double>(RetransWaitSeconds(wtp->retrans_interval, 1)));
  auto request = lab.Received(ap, kMsgWlanCfgReq);
  ASSERT_TRUE(request && request->complete);
  const CwElement* add = request->Find(elem::kIeee80211AddWlan);
  ASSERT_TRUE(add && add->value.size() == 51);
  EXPECT_EQ(std::string(add->value.begin() + 19, add->value.begin() + 28), "demo-ssid");
  EXPECT_EQ(request->Count(elem::kIeee80211InformationElement), 8u);
  EXPECT_GT(lab.ap(ap).counters().reassembled, reassembled) << "sent in fragments";
  EXPECT_EQ(wtp->sndq.count, 0u) << "answered and released";
  const sim::PeerMessage* bssid = wmac->LastReceived(sim::Peer::kWmac, WmacMsg::kSetBssid);
  ASSERT_NE(bssid, nullptr);
  EXPECT_EQ(bssid->wtp_id, wtp->apid);
  WmacSetBssidRecord told;
  ASSERT_TRUE(WmacRecordDecode(bssid->payload, &told));
  std::array<uint8_t, 6> expected = lab.ap(ap).identity().radios[0].bssid;
  expected[5] = static_cast<uint8_t>(expected[5] + 2);
  EXPECT_EQ(told.radio_id, 1);
  EXPECT_EQ(told.wlan_id, 2);
  EXPECT_EQ(told.bssid, expected);

  // A refused WLAN is answered with its result code and tells WMAC nothing.
  lab.ap(ap).knobs().result_codes[kMsgWlanCfgReq] = 1;
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddWlan, wtp->apid, Encoded(DemoWlan())));
  lab.RunFor(1);
  EXPECT_EQ(wmac->CountReceived(sim::Peer::kWmac, WmacMsg::kSetBssid), 1u);
  // A response without an assigned BSSID tells WMAC nothing either.
  lab.ap(ap).knobs().result_codes.clear();
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kDelWlan, wtp->apid, Hex("01 02")));
  lab.RunFor(1);
  ASSERT_TRUE(lab.Received(ap, kMsgWlanCfgReq)->Find(elem::kIeee80211DeleteWlan));
  EXPECT_EQ(wmac->CountReceived(sim::Peer::kWmac, WmacMsg::kSetBssid), 1u);
  EXPECT_EQ(wtp->sndq.count, 0u);

  // A station, then its traffic limit (the message names its AP itself).
  CwAddStaRecord sta;
  sta.radio_id = 1;
  sta.mac = {0x02, 0, 0, 0, 0, 0x42};
  sta.wlan_id = 2;
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddSta, wtp->apid, Encoded(sta)));
  lab.RunFor(1);
  auto station = lab.Received(ap, kMsgStaCfgReq);
  ASSERT_TRUE(station && station->complete);
  ASSERT_NE(station->Find(elem::kAddStation), nullptr);
  EXPECT_EQ(station->Find(elem::kIeee80211Station)->value.size(), 139u);
  CwStaTrafficMsg traffic;
  traffic.wtp_id = wtp->apid;
  traffic.traffic.mac = sta.mac;
  traffic.traffic.first = 512;
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kStaTraffic, 0, Encoded(traffic)));
  lab.RunFor(1);
  station = lab.Received(ap, kMsgStaCfgReq);
  ASSERT_TRUE(station && station->Find(elem::kStationTraffic));
  EXPECT_EQ(station->Find(elem::kStationTraffic)->value.size(), 18u);
  EXPECT_EQ(wtp->sndq.count, 0u);

  // An AP that has not reached Run is sent neither.
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddWlan, joined->apid, Encoded(DemoWlan())));
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddSta, joined->apid, Encoded(sta)));
  lab.RunFor(1);
  EXPECT_EQ(joined->sndq.count, 0u);
  EXPECT_FALSE(lab.Received(held, kMsgWlanCfgReq));
  EXPECT_FALSE(lab.Received(held, kMsgStaCfgReq));
}

}  // namespace
}  // namespace capwap::test
