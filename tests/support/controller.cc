#include "support/controller.h"

#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "daemon/capwap.h"
#include "diag/debug.h"
#include "relay/relay.h"
#include "transport/keepalive.h"
#include "transport/recv.h"
#include "transport/sockets.h"

namespace capwap::test {

SessionId SessionOf(uint8_t seed) {
  SessionId s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i);
  return s;
}

Bytes Keepalive(const SessionId& session, bool k_bit, uint16_t element_len, uint8_t reserved) {
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

std::vector<Bytes> OfType(const std::vector<Bytes>& datagrams, uint32_t type) {
  std::vector<Bytes> out;
  for (const Bytes& d : datagrams) {
    if (d.size() >= kCwHeadersLen && MsgTypeOf(d) == type) out.push_back(d);
  }
  return out;
}

uint32_t ResultOf(const DecodedMessage& m) {
  const CwElement* result = m.Find(33);
  uint32_t v = 0xFFFFFFFF;
  if (result && result->value.size() == 4) WireReader(result->value).u32(v);
  return v;
}

std::vector<uint16_t> TypesOf(const DecodedMessage& m) {
  std::vector<uint16_t> types;
  for (const CwElement& e : m.elements) types.push_back(e.type);
  return types;
}

TruncTable ControlHeaderRows(uint32_t msg_type, uint8_t seq, uint16_t elem_len) {
  return {{U32(transport_test::kHdrWord0), "transport: version 0, type 0, HLEN 2"},
          {U32(0), "transport: fragment ID and offset"},
          {U32(msg_type), "control: message type"},
          {U8(seq), "control: sequence number"},
          {U16(elem_len), "control: element length"},
          {U8(0), "control: flags"}};
}

std::string CreatedName(const Bytes& payload) {
  if (payload.size() < kWmacCreateApSize) return {};
  const char* name = reinterpret_cast<const char*>(payload.data() + 32);
  return std::string(name, strnlen(name, 33));
}

CW_RCVPKT RcvOf(ByteView datagram, const CW_ADDR& remote, const CW_ADDR& local) {
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

Bytes ElementBytes(const CwElement& e) {
  return Cat({U16(e.type), U16(static_cast<uint16_t>(e.value.size())), Bytes(e.value.begin(), e.value.end())});
}

Bytes Vendor(uint16_t elem_id, uint16_t declared, const Bytes& value) {
  return Cat({U16(37), U16(static_cast<uint16_t>(8 + value.size())), U32(kWtpVendor), U16(elem_id),
              U16(declared), value});
}

uint32_t U32At(ByteView rec, size_t off) {
  uint32_t v = 0;
  HostReader(rec.subspan(off, 4)).u32(v);
  return v;
}
uint16_t U16At(ByteView rec, size_t off) {
  uint16_t v = 0;
  HostReader(rec.subspan(off, 2)).u16(v);
  return v;
}
std::string TextAt(ByteView rec, size_t off, size_t width) {
  std::string text(reinterpret_cast<const char*>(rec.data() + off), width);
  return text.substr(0, text.find('\0'));
}

std::vector<Dispatched>& Recorded() {
  static std::vector<Dispatched> seen;
  return seen;
}
int RecordingHandler(const IpcHead& head, const uint8_t* payload) {
  const ByteView bytes = IpcPayload(head, payload);
  Recorded().push_back({head, payload != nullptr, Bytes(bytes.begin(), bytes.end())});
  return 0;
}

void ControllerLab::SetUp() {
  if (const char* old = std::getenv("CAPWAP_PORT_BASE")) saved_port_base_ = old;
  port_base_ = FreePortBase();
  ASSERT_NE(port_base_, 0);
  setenv("CAPWAP_PORT_BASE", std::to_string(port_base_).c_str(), 1);
  CW_ApModel_Init();
  ASSERT_EQ(AC_DataInit(), 0);
  CW_CMD_Set_Autoap_PresistentEnable(0);
  for (const char* name : {kRunModel, kModelX}) {
    CW_APMODEL model;
    model.name = name;
    model.radio_count = name == kRunModel ? 2 : 1;
    model.radios[0].modes = name == kRunModel ? 13 : 1;
    model.radios[1].modes = 13;
    ASSERT_EQ(ApModelStore(model), 0);
  }
  g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, ControlPort());
  ASSERT_GE(g_iAC_IP4SockId, 0);
  g_iAC_DataSockId = AC_DataSockIP4Init(INADDR_LOOPBACK, DataPort());
  ASSERT_GE(g_iAC_DataSockId, 0);
  g_iAC_DataSock6Id = AC_DataSockIP6Init();
  ASSERT_GE(g_iAC_DataSock6Id, 0);
  WMAC_AC_IPC_SetZg(lab_.ctx());
  ASSERT_EQ(AC_IPCInit(), 0);
  g_ulCwDebugBitmap = kDbgAll;
  Recorded().clear();
  peers_ = std::make_unique<sim::PeerSim>(lab_.master(), PeerOptions());
  ASSERT_EQ(peers_->Start(), 0);
}

void ControllerLab::TearDown() {
  peers_.reset();
  capwap::CloseSockets();
  Recorded().clear();
  if (saved_port_base_) {
    setenv("CAPWAP_PORT_BASE", saved_port_base_->c_str(), 1);
  } else {
    unsetenv("CAPWAP_PORT_BASE");
  }
}

bool ControllerLab::OpenIpv6() { return AC_SockIP6Init() == 0; }

CW_WTPCB* ControllerLab::MakeAp(const std::string& name, uint32_t apid) {
  CW_WTPCB* wtp = CW_AC_CreateWTP(kModelX, apid, name, 0);
  EXPECT_NE(wtp, nullptr);
  return wtp;
}

CW_WTPCB* ControllerLab::ConfiguredAp(const std::string& model, const Mac& mac, uint8_t priority) {
  CW_WTPCB* wtp = CW_AC_CreateWTP(model, 0xFFFFFFFF, "", 0);
  EXPECT_NE(wtp, nullptr);
  if (!wtp) return nullptr;
  wtp->mac = mac;
  wtp->priority = priority;
  CW_AC_AddWTPByMac(mac, wtp);
  return wtp;
}

namespace {
// Binds the AP's control session to `endpoint` as a Join leaves it.
void Bind(CW_WTPCB* wtp, const UdpEndpoint& endpoint, uint16_t ac_port, uint32_t state, const Mac& mac,
          uint32_t vendor) {
  wtp->mac = mac;
  wtp->state = state;
  wtp->board_vendor_id = vendor;
  wtp->local.family = 0;
  wtp->local.ifindex = if_nametoindex("lo");
  wtp->local.local_ipv4 = INADDR_LOOPBACK;
  wtp->local.SetIpv4(INADDR_LOOPBACK);
  wtp->local.port = ac_port;
  EXPECT_EQ(CW_AC_AddWTPByIP(endpoint.Addr(), wtp), 0);
}
}  // namespace

CW_WTPCB* ControllerLab::MakeWtp(const WtpEndpoint& control, uint8_t seed, uint32_t state) {
  CW_WTPCB* wtp = CW_AC_CreateWTP(kRunModel, 0xFFFFFFFF, "", 0);
  EXPECT_NE(wtp, nullptr);
  if (!wtp) return nullptr;
  Bind(wtp, control, ControlPort(), state, {0x00, 0x11, 0x22, 0x33, 0x44, seed}, kPlatformVendor);
  wtp->master_status = 1;
  wtp->serial = "SN-" + std::to_string(seed);
  SetFieldText(wtp->descriptor.sw_version, "2.4.1");
  SetFieldText(wtp->descriptor.hw_version, "HW-B");
  CW_AC_AddWTPBySESSID(SessionOf(seed), wtp);
  return wtp;
}

CW_WTPCB* ControllerLab::WtpAt(const UdpEndpoint& endpoint, uint32_t apid, uint32_t state) {
  CW_WTPCB* wtp = MakeAp("ap-" + std::to_string(apid), apid);
  if (wtp) {
    Bind(wtp, endpoint, ControlPort(), state, {0x00, 0x1c, 0x2d, 0x3e, 0x4f, static_cast<uint8_t>(apid)},
         kWtpVendor);
  }
  return wtp;
}

Bytes ControllerLab::ApKey(uint32_t apid) {
  Bytes key(4);
  HostWriter(key.data(), key.size()).u32(apid);
  return key;
}

void ControllerLab::Deliver(const UdpEndpoint& from, uint16_t port, const Bytes& datagram) {
  from.SendTo(port, datagram);
  lab_.Settle();
}

std::optional<DecodedMessage> ControllerLab::OnlyAnswer(const UdpEndpoint& at) {
  std::vector<Bytes> got = at.Drain();
  EXPECT_LE(got.size(), 1u) << "one message at a time";
  if (got.empty()) return std::nullopt;
  return DecodeMessage(got.back());
}

void ControllerLab::Answer(const UdpEndpoint& endpoint, uint8_t seq) {
  CW_RCVPKT rcv;
  rcv.remote = endpoint.Addr();
  rcv.buffer = Cat({U32(2u << 19), U32(0), U32(kMsgCfgUpdateRsp), U8(seq), U16(0), U8(0)});
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.buffer.resize(kCwRcvBufSize);
  AC_HandlePkt(&rcv);
}

::testing::AssertionResult ControllerLab::OneElement(const std::optional<DecodedMessage>& msg, CwElement* out) {
  if (!msg || msg->ctl.msg_type != kMsgCfgUpdateReq || !msg->complete || msg->elements.size() != 1) {
    return ::testing::AssertionFailure() << "not one Configuration Update Request with one element";
  }
  *out = msg->elements[0];
  return ::testing::AssertionSuccess();
}

void ControllerLab::FromWmac(uint32_t type, uint32_t wtp_id, ByteView payload) {
  ASSERT_TRUE(peers_->SendToAc(sim::Peer::kWmac, type, wtp_id, payload));
  lab_.Settle();
}

void ControllerLab::FromWmacWithParam(uint32_t type, uint32_t wtp_id, uint32_t param, ByteView payload) {
  IpcHead head;
  head.kind = 1;
  head.msg_type = type;
  head.wtp_id = wtp_id;
  head.param = param;
  ASSERT_TRUE(peers_->SendToAc(sim::Peer::kWmac, head, payload));
  lab_.Settle();
}

std::vector<sim::PeerMessage> ControllerLab::Wmac(std::optional<uint32_t> type) {
  lab_.Settle();
  std::vector<sim::PeerMessage> out;
  for (const sim::PeerMessage& m : peers_->received()) {
    if (m.peer == sim::Peer::kWmac && (!type || m.type == *type)) out.push_back(m);
  }
  return out;
}

std::vector<sim::PeerMessage> ControllerLab::DrainWmac(std::optional<uint32_t> type) {
  std::vector<sim::PeerMessage> out = Wmac(type);
  peers_->ClearHistory();
  return out;
}

std::optional<TunnelRecord> ControllerLab::LastTunnelRecord() {
  std::vector<sim::PeerMessage> records = Wmac(WmacMsg::kTunnelState);
  TunnelRecord rec;
  if (records.empty() || !TunnelRecordDecode(records.back().payload, &rec)) return std::nullopt;
  return rec;
}

void ControllerLab::ForgetWmac() { DrainWmac(); }

bool ControllerLab::Logged(std::string_view text, int level) const {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return std::any_of(lines_.begin(), lines_.end(), [&](const LogLine& line) {
    return line.text.find(text) != std::string::npos && (level < 0 || line.level == level);
  });
}

std::string ControllerLab::LogText() const {
  std::string all;
  for (const LogLine& line : lines_) all += std::to_string(line.level) + ":" + line.text + "\n";
  return all;
}

}  // namespace capwap::test
