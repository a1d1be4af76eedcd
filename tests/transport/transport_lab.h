// The controller of the transport tests (support/controller.h) with the
// message handlers replaced by recorders, so the transport's own decisions
// show on their own.
#pragma once

#include "support/controller.h"
#include "transport_fixture.h"

namespace transport_test {

using capwap::test::SessionOf;

class TransportLab : public capwap::test::ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    capwap::ResetMsgHandlers();
    DispatchLog().clear();
    for (uint32_t type : {1u, 3u, 5u, 8u, 9u, 11u, 13u, 15u, 16u, 18u, 21u, 22u, 26u, 3398914u}) {
      SetMsgHandler(type, RecordingHandler);
    }
  }
  void TearDown() override {
    DispatchLog().clear();
    ControllerLab::TearDown();
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
};

}  // namespace transport_test
