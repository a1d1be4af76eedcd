// A controller on loopback for the exchange tests (Discovery, Join, Change
// State, Run, Echo and the data channel): the daemon context on a manual
// clock, the control socket on 127.0.0.1 and the data sockets on the next
// port, the AP model catalogue, vendor and message handlers installed, the
// peer simulator playing WMAC on the same loop, and every log line kept.
#pragma once

#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "fsm/handlers.h"
#include "fsm/vendor_handlers.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "registry/acinfo.h"
#include "config/images.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "support/udp_endpoint.h"
#include "transport/keepalive.h"
#include "transport/sockets.h"
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
inline constexpr const char* kRunModel = "run-model";

inline SessionId SessionOf(uint8_t seed) {
  SessionId s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i);
  return s;
}
inline Bytes SessionElement(uint8_t seed) {
  const SessionId s = SessionOf(seed);
  return Element(35, Bytes(s.begin(), s.end()));
}

// A keepalive as a WTP sends it; `element_len` and `reserved` allow the
// malformed and WAPI variants.
inline Bytes Keepalive(const SessionId& session, bool k_bit = true, uint16_t element_len = 20,
                       uint8_t reserved = 0) {
  Bytes out(kKeepaliveLen);
  WireWriter w(out.data(), out.size());
  w.u32((2u << 19) | (k_bit ? (1u << 3) : 0u));
  w.u16(0);
  w.u16(static_cast<uint16_t>(reserved << 13));
  w.u16(element_len);
  w.u16(35);
  w.u16(16);
  w.bytes(session.data(), session.size());
  return out;
}

struct Wtp6Endpoint : UdpEndpoint {
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

// The Result Code of a response; 0xFFFFFFFF when it has none.
inline uint32_t ResultOf(const DecodedMessage& m) {
  const CwElement* result = m.Find(33);
  if (!result || result->value.size() != 4) return 0xFFFFFFFF;
  WireReader r(result->value);
  uint32_t v = 0;
  r.u32(v);
  return v;
}

// The element types of a message in order.
inline std::vector<uint16_t> TypesOf(const DecodedMessage& m) {
  std::vector<uint16_t> types;
  for (const CwElement& e : m.elements) types.push_back(e.type);
  return types;
}

// The transport and control headers the controller writes, as table rows.
inline TruncTable ControlHeaderRows(uint32_t msg_type, uint8_t seq, uint16_t elem_len) {
  return {{U32(transport_test::kHdrWord0), "transport: version 0, type 0, HLEN 2"},
          {U32(0), "transport: fragment ID and offset"},
          {U32(msg_type), "control: message type"},
          {U8(seq), "control: sequence number"},
          {U16(elem_len), "control: element length"},
          {U8(0), "control: flags"}};
}

// The AP name carried by a create-AP notification (model 32, name 33, ...).
inline std::string CreatedName(const Bytes& payload) {
  if (payload.size() < kWmacCreateApSize) return {};
  const char* name = reinterpret_cast<const char*>(payload.data() + 32);
  return std::string(name, strnlen(name, 33));
}

// A received-datagram record holding exactly the datagram's bytes.
inline CW_RCVPKT RcvOf(ByteView datagram, const CW_ADDR& remote = {}, const CW_ADDR& local = {}) {
  CW_RCVPKT rcv;
  rcv.remote = remote;
  rcv.local = local;
  rcv.buffer.assign(datagram.begin(), datagram.end());
  rcv.length = static_cast<uint32_t>(datagram.size());
  if (datagram.size() >= kCwHeadersLen) {
    rcv.msg_type = MsgTypeOf(rcv.buffer);
    rcv.seq = SeqOf(rcv.buffer);
  }
  return rcv;
}

class RunLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("CAPWAP_PORT_BASE")) saved_port_base_ = old;
    port_base_ = FreePortBase();
    ASSERT_NE(port_base_, 0);
    setenv("CAPWAP_PORT_BASE", std::to_string(port_base_).c_str(), 1);
    g_ulCwDebugBitmap = kDbgAll;
    CW_ApModel_Init();
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;
    model.name = kRunModel;
    model.radio_count = 2;
    model.radios[0].modes = 13;
    model.radios[1].modes = 13;
    ASSERT_EQ(ApModelStore(model), 0);
    CW_CMD_Set_AutoEnable(1);
    ImageTableReset();
    ASSERT_EQ(RegisterVendorHandlers(), 0);
    FsmRegisterHandlers();
    g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, port_base_);
    ASSERT_GE(g_iAC_IP4SockId, 0);
    g_iAC_DataSockId = AC_DataSockIP4Init(INADDR_LOOPBACK, DataPort());
    ASSERT_GE(g_iAC_DataSockId, 0);
    g_iAC_DataSock6Id = AC_DataSockIP6Init();
    ASSERT_GE(g_iAC_DataSock6Id, 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    peers_ = std::make_unique<sim::PeerSim>(lab_.master(), sim::PeerSimOptions{});
    ASSERT_EQ(peers_->Start(), 0);
  }
  void TearDown() override {
    peers_.reset();
    capwap::CloseSockets();
    WtpTableReset();
    ImageTableReset();
    g_ulCwDebugBitmap = 0;
    if (saved_port_base_) {
      setenv("CAPWAP_PORT_BASE", saved_port_base_->c_str(), 1);
    } else {
      unsetenv("CAPWAP_PORT_BASE");
    }
  }

  uint16_t ControlPort() const { return port_base_; }
  uint16_t DataPort() const { return static_cast<uint16_t>(port_base_ + 1); }
  // The IPv6 control socket, bound to any address on the control port.
  bool OpenIpv6() { return AC_SockIP6Init() == 0; }

  // A WTP in `state` whose control session is bound to `control`, with the
  // identity a Join would have recorded.
  CW_WTPCB* MakeWtp(const WtpEndpoint& control, uint8_t seed, uint32_t state) {
    CW_WTPCB* wtp = CW_AC_CreateWTP(kRunModel, 0xFFFFFFFF, "", 0);
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
    wtp->board_vendor_id = kPlatformVendor;
    CW_AC_AddWTPByIP(control.Addr(), wtp);
    CW_AC_AddWTPBySESSID(SessionOf(seed), wtp);
    return wtp;
  }
  // A configured AP (not created automatically) bound to `mac`.
  CW_WTPCB* ConfiguredAp(const std::string& model, const Mac& mac, uint8_t priority = 4) {
    CW_WTPCB* wtp = CW_AC_CreateWTP(model, 0xFFFFFFFF, "", 0);
    EXPECT_NE(wtp, nullptr);
    if (!wtp) return nullptr;
    wtp->mac = mac;
    wtp->priority = priority;
    CW_AC_AddWTPByMac(mac, wtp);
    return wtp;
  }

  // Sends from the endpoint to the controller (control port by default) and
  // lets the loop run.
  template <typename Endpoint>
  void Deliver(const Endpoint& from, const Bytes& datagram) {
    Deliver(from, ControlPort(), datagram);
  }
  template <typename Endpoint>
  void Deliver(const Endpoint& from, uint16_t port, const Bytes& datagram) {
    from.SendTo(port, datagram);
    lab_.Settle();
  }
  // The one message the endpoint got, decoded (failing when there are more).
  std::optional<DecodedMessage> OnlyAnswer(const WtpEndpoint& at) {
    std::vector<Bytes> got = at.Drain();
    EXPECT_LE(got.size(), 1u);
    if (got.empty()) return std::nullopt;
    return DecodeMessage(got.front());
  }

  // WMAC notifications of one type received so far.
  std::vector<sim::PeerMessage> Wmac(uint32_t type) {
    lab_.Settle();
    std::vector<sim::PeerMessage> out;
    for (const sim::PeerMessage& m : peers_->received()) {
      if (m.peer == sim::Peer::kWmac && m.type == type) out.push_back(m);
    }
    return out;
  }
  std::optional<TunnelRecord> LastTunnelRecord() {
    std::vector<sim::PeerMessage> records = Wmac(WmacMsg::kTunnelState);
    TunnelRecord rec;
    if (records.empty() || !TunnelRecordDecode(records.back().payload, &rec)) return std::nullopt;
    return rec;
  }
  void ForgetWmac() {
    lab_.Settle();
    peers_->ClearHistory();
  }

  // True when a line containing `text` was written (at `level`, if given).
  // The log drops a line's final newline, so a quoted text's is ignored.
  bool Logged(std::string_view text, int level = -1) const {
    if (text.ends_with('\n')) text.remove_suffix(1);
    for (const LogLine& line : lines_) {
      if (line.text.find(text) != std::string::npos && (level < 0 || line.level == level)) {
        return true;
      }
    }
    return false;
  }
  std::string LogText() const {
    std::string all;
    for (const LogLine& line : lines_) all += std::to_string(line.level) + ":" + line.text + "\n";
    return all;
  }

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
