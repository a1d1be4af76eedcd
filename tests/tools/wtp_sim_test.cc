// The simulated WTP's smoke test: every message it builds decodes with the
// controller's own decoders (the scenario tests take it to Run).
#include <gtest/gtest.h>

#include "fsm/change_state.h"
#include "fsm/config_status.h"
#include "fsm/discovery.h"
#include "fsm/echo.h"
#include "fsm/join.h"
#include "fsm/vendor_handlers.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"
#include "support/lab.h"
#include "transport/elements.h"
#include "transport/keepalive.h"
#include "wtp-sim/wtp_messages.h"

namespace capwap::test {
namespace {

// A received-message record over a simulator datagram.
CW_RCVPKT Received(const Bytes& datagram) {
  CW_RCVPKT rcv;
  rcv.buffer = datagram;
  rcv.length = static_cast<uint32_t>(datagram.size());
  return rcv;
}

TEST(WtpSim, EveryMessageDecodesWithTheControllersDecoders) {
  ResetAllGlobals();
  ASSERT_EQ(RegisterVendorHandlers(), 0);
  sim::WtpIdentity id;
  id.name = "ap-one";
  id.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  id.model = "ia-110";
  id.serial = "S1";
  id.capability_bits = 2;
  for (uint8_t i = 0; i < 16; ++i) id.session_id[i] = i;
  id.radios = sim::DefaultRadios(id.mac, 2);

  CW_RCVPKT discovery = Received(sim::BuildDiscoveryRequest(id, 1));
  CW_DISC_REQ_INFO disc;
  ASSERT_EQ(CW_AC_DecDiscReq(&disc, &discovery), 0);
  EXPECT_TRUE(disc.have_board && disc.have_descriptor);

  CW_RCVPKT join = Received(sim::BuildJoinRequest(id, 2));
  CW_JOIN_REQ_INFO join_info;
  ASSERT_EQ(CW_AC_DecJoinReq(&join_info, &join), 0);
  EXPECT_EQ(join_info.session_id, id.session_id);
  EXPECT_EQ(join_info.capability, 2);
  EXPECT_EQ(join_info.master_status, 1u);
  EXPECT_EQ(join_info.radios[1].radio_id, 2);

  CW_RCVPKT config = Received(sim::BuildConfigStatusRequest(id, 3));
  CfgStatusReqInfo config_info;
  ASSERT_EQ(CW_AC_DecCfgReq(&config_info, config.Elements()), 0);
  EXPECT_EQ(config_info.rdbind.radio_count, 2);
  CW_FreeRdBind(&config_info.rdbind);

  CW_RCVPKT change = Received(sim::BuildChangeStateRequest(id, 4));
  ChangeStateReq change_info;
  ASSERT_EQ(CW_AC_DEC_ChgStateReq(&change_info, change.Elements()), 0);
  EXPECT_EQ(change_info.radio_states[0], 1);

  CW_RCVPKT echo = Received(sim::BuildEchoRequest(id, 5));
  EchoReq echo_info;
  ASSERT_EQ(CW_AC_DecEchoReq(&echo_info, &echo), 0);
  EXPECT_EQ(echo_info.session_id, id.session_id);

  CW_RCVPKT event = Received(sim::BuildEventRequest(id, 6, 0));
  CwElementWalk walk(event.Elements());
  for (const CwElement& e : walk) EXPECT_STRNE(elem::Name(e.type), "Unknown") << e.type;
  EXPECT_TRUE(walk.complete());

  std::array<uint8_t, 16> keepalive_session{};
  ASSERT_EQ(DecodeKeepAlive(sim::BuildKeepalive(id.session_id), &keepalive_session), 0);
  EXPECT_EQ(keepalive_session, id.session_id);
}

}  // namespace
}  // namespace capwap::test
