// Fixture of the Configuration Update tests: the relay fixture plus the IPv4
// control socket on loopback and WTPs whose control endpoint is a loopback
// UDP socket, so each request is caught as the WTP receives it and decoded
// with the project's codec.
#pragma once

#include <net/if.h>
#include <netinet/in.h>

#include <optional>
#include <vector>

#include "relay/cfg_update.h"
#include "relay/relay_fixture.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "support/udp_endpoint.h"
#include "transport/codec.h"
#include "transport/recv.h"
#include "transport/sockets.h"

namespace capwap::test {

inline constexpr uint32_t kWtpVendor = 0x00A1B2C3;

// The bytes of one element: type, length, value.
inline Bytes ElementBytes(const CwElement& e) {
  return Cat({U16(e.type), U16(static_cast<uint16_t>(e.value.size())), Bytes(e.value.begin(), e.value.end())});
}

// A Vendor Specific Payload element of the WTP's vendor.
inline Bytes Vendor(uint16_t elem_id, uint16_t declared, const Bytes& value) {
  return Cat({U16(37), U16(static_cast<uint16_t>(8 + value.size())), U32(kWtpVendor), U16(elem_id),
              U16(declared), value});
}
inline Bytes Vendor(uint16_t elem_id, const Bytes& value) {
  return Vendor(elem_id, static_cast<uint16_t>(value.size()), value);
}

class CfgUpdateLab : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    ASSERT_EQ(RegisterCfgUpdateHandlers(), 0);
    ac_port_ = FreePortBase();
    ASSERT_NE(ac_port_, 0);
    g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, ac_port_);
    ASSERT_GE(g_iAC_IP4SockId, 0);
  }
  void TearDown() override {
    capwap::CloseSockets();
    RelayTest::TearDown();
  }
  // A WTP in `state` whose control endpoint is `endpoint`.
  CW_WTPCB* WtpAt(const UdpEndpoint& endpoint, uint32_t apid, uint32_t state = kStateRun) {
    CW_WTPCB* wtp = MakeWtp("ap-" + std::to_string(apid), apid);
    if (!wtp) return nullptr;
    wtp->state = state;
    wtp->board_vendor_id = kWtpVendor;
    wtp->mac = {0x00, 0x1c, 0x2d, 0x3e, 0x4f, static_cast<uint8_t>(apid)};
    wtp->local.ifindex = if_nametoindex("lo");
    wtp->local.local_ipv4 = INADDR_LOOPBACK;
    wtp->local.SetIpv4(INADDR_LOOPBACK);
    wtp->local.port = ac_port_;
    EXPECT_EQ(CW_AC_AddWTPByIP(endpoint.Addr(), wtp), 0);
    return wtp;
  }
  // Plays WMAC with a header parameter (type 14).
  void FromWmacWithParam(uint32_t type, uint32_t wtp_id, uint32_t param, ByteView payload) {
    IpcHead head;
    head.kind = 1;
    head.msg_type = type;
    head.wtp_id = wtp_id;
    head.param = param;
    ASSERT_TRUE(sim_->SendToAc(sim::Peer::kWmac, head, payload));
    lab_.Settle();
  }
  // The one datagram the WTP has received since the last call, decoded, or
  // none when it received nothing (more than one fails the test).
  std::optional<DecodedMessage> Received(const UdpEndpoint& endpoint) {
    std::vector<Bytes> got = endpoint.Drain();
    EXPECT_LE(got.size(), 1u) << "one request at a time";
    if (got.empty()) return std::nullopt;
    return DecodeMessage(got.back());
  }
  // The WTP answers the outstanding request through the receive path, which
  // releases it and lets the next queued one go.
  void Answer(const UdpEndpoint& endpoint, uint8_t seq) {
    CW_RCVPKT rcv;
    rcv.remote = endpoint.Addr();
    rcv.buffer = Cat({U32(2u << 19), U32(0), U32(kMsgCfgUpdateRsp), U8(seq), U16(0), U8(0)});
    rcv.length = static_cast<uint32_t>(rcv.buffer.size());
    rcv.buffer.resize(kCwRcvBufSize);
    AC_HandlePkt(&rcv);
  }
  // The single element of a well-formed Configuration Update Request.
  static ::testing::AssertionResult OneElement(const std::optional<DecodedMessage>& msg, CwElement* out) {
    if (!msg || msg->ctl.msg_type != kMsgCfgUpdateReq || !msg->complete || msg->elements.size() != 1) {
      return ::testing::AssertionFailure() << "not one Configuration Update Request with one element";
    }
    *out = msg->elements[0];
    return ::testing::AssertionSuccess();
  }

  uint16_t ac_port_ = 0;
};

}  // namespace capwap::test
