// WLAN configuration on the manual clock: WMAC (the peer simulator on the
// AC's Unix socket) configures an SSID on a simulated AP in Run (loopback
// UDP) through a lost fragment; refusals and answers without a BSSID tell
// WMAC nothing; an AP not in Run is sent nothing. The elements, the BSSID and
// the station requests are checked against the binary, end to end.
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

constexpr uint32_t kAddWlan = 4, kDelWlan = 5, kAddSta = 7;

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
  rec.web.title[0] = 'W';
  rec.web.body.fill('x');
  return rec;
}

TEST(WlanScenario, LostFragmentRefusalsAndApsNotInRun) {
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
  FailNext(FailFamily::kDatagramSend, 1);
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddWlan, wtp->apid, Encoded(DemoWlan())));
  lab.RunFor(1);
  EXPECT_EQ(wtp->sndq.count, 1u) << "unanswered";
  EXPECT_EQ(wmac->CountReceived(sim::Peer::kWmac, WmacMsg::kSetBssid), 0u);
  lab.RunFor(static_cast<double>(RetransWaitSeconds(wtp->retrans_interval, 1)));
  EXPECT_EQ(wtp->sndq.count, 0u) << "answered and released";
  EXPECT_EQ(wmac->CountReceived(sim::Peer::kWmac, WmacMsg::kSetBssid), 1u);

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

  // An AP that has not reached Run is sent neither a WLAN nor a station.
  CwAddStaRecord sta;
  sta.radio_id = 1;
  sta.wlan_id = 2;
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddWlan, joined->apid, Encoded(DemoWlan())));
  ASSERT_TRUE(wmac->SendToAc(sim::Peer::kWmac, kAddSta, joined->apid, Encoded(sta)));
  lab.RunFor(1);
  EXPECT_EQ(joined->sndq.count, 0u);
  EXPECT_FALSE(lab.Received(held, kMsgWlanCfgReq));
  EXPECT_FALSE(lab.Received(held, kMsgStaCfgReq));
}

}  // namespace
}  // namespace capwap::test
