// Fixture of the relay tests: a daemon context on a manual clock with the
// WMAC listener open on "/tmp/cw_ac_addr", the registry made, every debug
// category on, and the peer simulator playing WMAC, WRRM and WIDS on the
// same loop.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "peer-sim/peer_sim.h"
#include "platform/bytes.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "relay/relay.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/truncation.h"

namespace capwap::test {

// What a test handler saw of one dispatched message.
struct Dispatched {
  IpcHead head;
  bool had_payload = false;
  Bytes payload;
};
inline std::vector<Dispatched>& Recorded() {
  static std::vector<Dispatched> seen;
  return seen;
}
inline int RecordingHandler(const IpcHead& head, const uint8_t* payload) {
  Recorded().push_back({head, payload != nullptr, Bytes(IpcPayload(head, payload).begin(), IpcPayload(head, payload).end())});
  return 0;
}

// Header plus payload as WMAC writes them.
inline Bytes IpcMessage(uint32_t type, uint32_t wtp_id, ByteView payload = {}, int64_t declared_len = -1) {
  IpcHead head;
  head.kind = 1;
  head.msg_type = type;
  head.wtp_id = wtp_id;
  head.payload_len = static_cast<uint32_t>(declared_len < 0 ? payload.size() : declared_len);
  Bytes out(kIpcHeadSize);
  IpcHeadEncode(head, out.data());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}
inline uint32_t U32At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}

// A raw client connection to the AC's listener.
class RawClient {
 public:
  RawClient() {
    std::string path = RootPath("/tmp/cw_ac_addr");
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    path.copy(sa.sun_path, sizeof sa.sun_path - 1);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path;
  }
  ~RawClient() { Close(); }
  void Send(ByteView bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;
    model.name = "model-x";
    model.radio_count = 1;
    model.radios[0].modes = 1;
    ASSERT_EQ(ApModelStore(model), 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    ASSERT_EQ(AC_IPCInit(), 0);
    ASSERT_EQ(RegisterWmacChannelHandlers(), 0);
    g_ulCwDebugBitmap = kDbgAll;
    Recorded().clear();
    sim::PeerSimOptions options;
    options.log = [this](std::string_view line) { sim_log_.append(line).append("\n"); };
    Customize(options);
    sim_ = std::make_unique<sim::PeerSim>(lab_.master(), options);
    ASSERT_EQ(sim_->Start(), 0);
  }
  void TearDown() override {
    sim_.reset();
    Recorded().clear();
  }
  // Lets a test change the simulator's options before it starts.
  virtual void Customize(sim::PeerSimOptions& /*options*/) {}
  CW_WTPCB* MakeWtp(const std::string& name, uint32_t apid) {
    CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", apid, name, 0);
    EXPECT_NE(wtp, nullptr);
    return wtp;
  }
  // Plays WMAC: one request to the AC, then runs the loop until quiet.
  void FromWmac(uint32_t type, uint32_t wtp_id, ByteView payload = {}) {
    ASSERT_TRUE(sim_->SendToAc(sim::Peer::kWmac, type, wtp_id, payload));
    lab_.Settle();
  }

  DaemonContext lab_;
  std::unique_ptr<sim::PeerSim> sim_;
  std::string sim_log_;
};

}  // namespace capwap::test
