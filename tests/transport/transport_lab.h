// The controller of the transport tests: the exchange tests' controller on
// loopback (support/fsm_lab.h) with the message handlers replaced by
// recorders, so the transport's own decisions show on their own.
#pragma once

#include "support/fsm_lab.h"
#include "transport_fixture.h"

namespace transport_test {

using capwap::test::SessionOf;

class TransportLab : public capwap::test::RunLab {
 protected:
  void SetUp() override {
    RunLab::SetUp();
    capwap::ResetMsgHandlers();
    DispatchLog().clear();
    for (uint32_t type : {1u, 3u, 5u, 8u, 9u, 11u, 13u, 15u, 16u, 18u, 21u, 22u, 26u, 3398914u}) {
      SetMsgHandler(type, RecordingHandler);
    }
    ac_port_ = ControlPort();
  }
  void TearDown() override {
    capwap::ResetMsgHandlers();
    DispatchLog().clear();
    g_ucNeedEncrypt = 0;
    RunLab::TearDown();
  }

  // A WTP in Run whose session is bound to `endpoint`.
  CW_WTPCB* RunningWtp(const WtpEndpoint& endpoint, uint8_t seed) {
    return MakeWtp(endpoint, seed, kStateRun);
  }
  // Feeds a datagram straight to AC_HandlePkt as if read from `from`.
  int Handle(const CW_ADDR& from, const Bytes& datagram) {
    CW_RCVPKT rcv;
    rcv.remote = from;
    rcv.buffer = datagram;
    rcv.buffer.resize(std::max<size_t>(datagram.size(), kCwRcvBufSize));
    rcv.length = static_cast<uint32_t>(datagram.size());
    return AC_HandlePkt(&rcv);
  }

  uint16_t ac_port_ = 0;
};

}  // namespace transport_test
