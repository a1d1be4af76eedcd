// Fixture of the registry tests: a daemon context with the database open,
// the registry tables made, every debug category on, and the peer simulator
// playing WMAC on the same loop so the notifications can be read back.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/model_catalogue.h"
#include "peer-sim/peer_sim.h"
#include "diag/debug.h"
#include "platform/bytes.h"
#include "platform/cli.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"

namespace capwap::test {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;  // the model every test AP is created with
    model.name = "model-x";
    model.radio_count = 1;
    model.radios[0].modes = 1;
    ASSERT_EQ(ApModelStore(model), 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    ASSERT_EQ(peers_.Start(), 0);
    g_ulCwDebugBitmap = kDbgAll;
    lib_set_start_complete(false);
  }
  void TearDown() override {
    lib_set_start_complete(false);
    ResetAllGlobals();
    WmacIpcReset();
  }

  // A configured AP (not auto-created) with the given name.
  CW_WTPCB* Make(const std::string& name = "", uint32_t apid = 0xFFFFFFFFu) {
    CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", apid, name, 0);
    EXPECT_NE(wtp, nullptr);
    return wtp;
  }
  static Bytes ApKey(uint32_t apid) {
    Bytes key(4);
    HostWriter(key.data(), key.size()).u32(apid);
    return key;
  }

  // The WMAC notifications received since the last call (of `type` only,
  // when given).
  std::vector<sim::PeerMessage> DrainWmac(std::optional<uint32_t> type = std::nullopt) {
    lab_.Settle();
    std::vector<sim::PeerMessage> out;
    for (const sim::PeerMessage& m : peers_.received()) {
      if (m.peer == sim::Peer::kWmac && (!type || m.type == *type)) out.push_back(m);
    }
    peers_.ClearHistory();
    return out;
  }

  DaemonContext lab_;
  sim::PeerSim peers_{lab_.master(), sim::PeerSimOptions{}};
};

// Host-order fields of a record, for offset checks.
inline uint32_t U32At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}
inline uint16_t U16At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 2));
  uint16_t v = 0;
  r.u16(v);
  return v;
}
inline std::string TextAt(ByteView rec, size_t off, size_t width) {
  std::string text(reinterpret_cast<const char*>(rec.data() + off), width);
  return text.substr(0, text.find('\0'));
}

}  // namespace capwap::test
