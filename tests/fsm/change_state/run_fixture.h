// A controller on loopback for the Change State, Run, keepalive and Echo
// tests: the daemon context on a manual clock, the control and data sockets
// on their own ports (IPv4 on 127.0.0.1, IPv6 data on any address), the
// exchange handlers installed, and the peer simulator playing WMAC on the
// same loop so every notification can be read back.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "fsm/handlers.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "support/truncation.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/sendq.h"
#include "transport/sockets.h"
#include "transport/transport_fixture.h"

namespace run_test {

using capwap::Bytes;
using capwap::ByteView;
using capwap::sim::Peer;
using transport_test::ControlDatagram;
using transport_test::Element;
using transport_test::MsgTypeOf;
using transport_test::SeqOf;
using transport_test::WtpEndpoint;

inline constexpr const char* kModel = "run-model";
inline constexpr uint32_t kVendorId = 41414;

using SessionId = std::array<uint8_t, 16>;
inline SessionId SessionOf(uint8_t seed) {
  SessionId s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i);
  return s;
}

// A Session ID element for the session of `seed`.
inline Bytes SessionElement(uint8_t seed) {
  const SessionId s = SessionOf(seed);
  return Element(35, Bytes(s.begin(), s.end()));
}

// A keepalive as a WTP sends it; `element_len` and `reserved` allow the
// malformed and WAPI variants.
inline Bytes Keepalive(const SessionId& session, bool k_bit = true, uint16_t element_len = 20,
                       uint8_t reserved = 0) {
  Bytes out(kKeepaliveLen);
  capwap::WireWriter w(out.data(), out.size());
  w.u32((2u << 19) | (k_bit ? (1u << 3) : 0u));
  w.u16(0);
  w.u16(static_cast<uint16_t>(reserved << 13));
  w.u16(element_len);
  w.u16(35);
  w.u16(16);
  w.bytes(session.data(), session.size());
  return out;
}

// A UDP endpoint on ::1.
struct Wtp6Endpoint : capwap::test::UdpEndpoint {
  Wtp6Endpoint() : UdpEndpoint(true) {}
};

// The datagrams of one message type among those drained.
inline std::vector<Bytes> OfType(const std::vector<Bytes>& datagrams, uint32_t type) {
  std::vector<Bytes> out;
  for (const Bytes& d : datagrams) {
    if (d.size() >= kCwHeadersLen && MsgTypeOf(d) == type) out.push_back(d);
  }
  return out;
}

class RunLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("CAPWAP_PORT_BASE")) saved_port_base_ = old;
    port_base_ = capwap::test::FreePortBase();
    ASSERT_NE(port_base_, 0);
    setenv("CAPWAP_PORT_BASE", std::to_string(port_base_).c_str(), 1);
    g_ulCwDebugBitmap = CW_DBG_ALL;
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;
    model.name = kModel;
    model.radio_count = 2;
    model.radios[0].modes = 13;
    model.radios[1].modes = 13;
    ASSERT_EQ(ApModelStore(model), 0);
    CW_FsmRegisterHandlers();
    g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, port_base_);
    ASSERT_GE(g_iAC_IP4SockId, 0);
    g_iAC_DataSockId = AC_DataSockIP4Init(INADDR_LOOPBACK, DataPort());
    ASSERT_GE(g_iAC_DataSockId, 0);
    g_iAC_DataSock6Id = AC_DataSockIP6Init();
    ASSERT_GE(g_iAC_DataSock6Id, 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    capwap::sim::PeerSimOptions options;
    peers_ = std::make_unique<capwap::sim::PeerSim>(lab_.master(), options);
    ASSERT_EQ(peers_->Start(), 0);
  }

  void TearDown() override {
    peers_.reset();
    AC_SockClose();
    CW_AC_WtpTableReset();
    g_ucNeedEncrypt = 0;
    g_ulCwDebugBitmap = 0;
    if (saved_port_base_) {
      setenv("CAPWAP_PORT_BASE", saved_port_base_->c_str(), 1);
    } else {
      unsetenv("CAPWAP_PORT_BASE");
    }
  }

  uint16_t ControlPort() const { return port_base_; }
  uint16_t DataPort() const { return static_cast<uint16_t>(port_base_ + 1); }

  // A WTP in `state` whose control session is bound to `control`, with the
  // identity a Join would have recorded.
  CW_WTPCB* MakeWtp(const WtpEndpoint& control, uint8_t seed, uint32_t state) {
    CW_WTPCB* wtp = CW_AC_CreateWTP(kModel, 0xFFFFFFFF, "", 0);
    EXPECT_NE(wtp, nullptr);
    if (!wtp) return nullptr;
    wtp->mac = {0x00, 0x11, 0x22, 0x33, 0x44, seed};
    wtp->state = state;
    wtp->master_status = 1;
    wtp->local.family = 0;
    wtp->local.ifindex = if_nametoindex("lo");
    wtp->local.local_ipv4 = INADDR_LOOPBACK;
    wtp->local.SetIpv4(INADDR_LOOPBACK);
    wtp->local.port = ControlPort();
    wtp->serial = "SN-" + std::to_string(seed);
    SetFieldText(wtp->descriptor.sw_version, "2.4.1");
    SetFieldText(wtp->descriptor.hw_version, "HW-B");
    wtp->board_vendor_id = kVendorId;
    CW_AC_AddWTPByIP(control.Addr(), wtp);
    CW_AC_AddWTPBySESSID(SessionOf(seed), wtp);
    return wtp;
  }

  // Sends from the endpoint to the controller's port and lets the loop run.
  template <typename Endpoint>
  void Deliver(const Endpoint& from, uint16_t port, const Bytes& datagram) {
    from.SendTo(port, datagram);
    lab_.Settle();
  }

  // WMAC notifications of one type received so far.
  std::vector<capwap::sim::PeerMessage> Wmac(uint32_t type) {
    lab_.Settle();
    std::vector<capwap::sim::PeerMessage> out;
    for (const capwap::sim::PeerMessage& m : peers_->received()) {
      if (m.peer == Peer::kWmac && m.type == type) out.push_back(m);
    }
    return out;
  }
  std::optional<CW_TUNNEL_RECORD> LastTunnelRecord() {
    std::vector<capwap::sim::PeerMessage> records = Wmac(WMAC_MSG_TUNNEL_STATE);
    if (records.empty()) return std::nullopt;
    CW_TUNNEL_RECORD rec;
    if (!TunnelRecordDecode(records.back().payload, &rec)) return std::nullopt;
    return rec;
  }
  void ForgetWmac() {
    lab_.Settle();
    peers_->ClearHistory();
  }

  capwap::test::DaemonContext lab_;
  std::unique_ptr<capwap::sim::PeerSim> peers_;
  uint16_t port_base_ = 0;
  std::optional<std::string> saved_port_base_;
};

}  // namespace run_test
