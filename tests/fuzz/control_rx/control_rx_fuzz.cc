// Arbitrary datagrams through the control receive path (AC_HandlePkt) of a
// controller with two WTPs in Run, one of them with a request outstanding.
//
// Input: a run of records {source u8, length u16 big-endian, datagram}.
// Source bits 0-1 pick the sender: 0 and 1 the two WTPs' endpoints, 2 an
// unknown IPv4 endpoint, 3 an unknown IPv6 endpoint; bit 7 first moves the
// clock 31 seconds, so the reassembly and retransmission timers fire.
// Oracles: a held fragment's buffer moved into the reassembly state; the
// reassembly state never holds more than 51 fragments, nor any fragment when
// idle; only one request is ever queued.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/dbm.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/recv.h"
#include "transport/sendq.h"

namespace {

constexpr const char* kModel = "fuzz-model";

// Every handler walks the elements, so dispatch reaches hostile bytes too.
int WalkingHandler(CW_WTPCB*, CW_RCVPKT* rcv) {
  CwElementWalk walk(rcv->Elements());
  size_t seen = 0;
  for (const CwElement& e : walk) seen += e.value.size();
  (void)seen;
  return walk.complete() ? 0 : 1;
}

CW_ADDR Ipv4Endpoint(uint32_t addr, uint16_t port) {
  CW_ADDR a;
  a.SetIpv4(addr);
  a.port = port;
  return a;
}

CW_ADDR Ipv6Endpoint() {
  CW_ADDR a;
  a.family = 1;
  a.addr = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  a.port = 5246;
  return a;
}

const CW_ADDR kSources[4] = {Ipv4Endpoint(0x7F000001, 40001), Ipv4Endpoint(0x7F000001, 40002),
                             Ipv4Endpoint(0x0A000009, 5246), Ipv6Endpoint()};

struct Controller {
  Controller() {
    CW_APMODEL model;
    model.name = kModel;
    model.radio_count = 1;
    model.radios[0].modes = 13;
    uint8_t record[kApModelRecordSize];
    ApModelEncode(model, record);
    DBM_Store(kDbApModel, record, 32, record, sizeof record);
    for (uint32_t type = 1; type <= 26; ++type) AC_SetMsgHandler(type, WalkingHandler);
    AC_SetMsgHandler(CW_MSG_WLAN_CFG_RSP, WalkingHandler);
  }

  // Two WTPs in Run at the first two sources; the first has a
  // Configuration Update Request (sequence number 1) outstanding.
  void StartSessions() {
    CW_AC_WtpTableReset();
    CW_AC_WtpTableInit();
    for (uint8_t i = 0; i < 2; ++i) {
      CW_WTPCB* wtp = CW_AC_CreateWTP(kModel, 0xFFFFFFFF, "", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->state = CW_STATE_RUN;
      wtp->mac = {0, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(i + 1)};
      std::array<uint8_t, 16> session{};
      session.fill(static_cast<uint8_t>(i + 1));
      CW_AC_AddWTPByIP(kSources[i], wtp);
      CW_AC_AddWTPBySESSID(session, wtp);
      wtps[i] = wtp;
    }
    CwPktPtr request = CW_AC_PktMalloc();
    FUZZ_CHECK(request != nullptr);
    CW_FinishCtlMsg(*request, CW_MSG_CFG_UPDATE_REQ, CW_AC_GetSeqNum(wtps[0], CW_MSG_CFG_UPDATE_REQ));
    CW_AC_SendCtlMsg(std::move(request), wtps[0]);
  }

  void CheckInvariants() const {
    for (const CW_WTPCB* wtp : wtps) {
      FUZZ_CHECK(wtp->frag.fragments.size() <= kMaxHeldFragments);
      FUZZ_CHECK(wtp->frag.in_progress || wtp->frag.fragments.empty());
      FUZZ_CHECK(wtp->sndq.count <= 1);
    }
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  CW_WTPCB* wtps[2] = {nullptr, nullptr};
};

void Deliver(Controller& ac, uint8_t source, capwap::ByteView datagram) {
  if (source & 0x80) ac.lab.RunFor(31);
  CW_RCVPKT rcv;
  rcv.remote = kSources[source & 3];
  rcv.local.family = rcv.remote.family;
  rcv.local.port = 5246;
  // Exactly the datagram's size, so a read past its end is caught.
  rcv.buffer.assign(datagram.begin(), datagram.end());
  rcv.length = static_cast<uint32_t>(datagram.size());
  int code = AC_HandlePkt(&rcv);
  if (code == AC_PKT_HELD) FUZZ_CHECK(rcv.buffer.empty());
  ac.CheckInvariants();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  ac.StartSessions();
  capwap::WireReader in(data, size);
  for (int records = 0; records < 64 && in.remaining() >= 3; ++records) {
    uint8_t source = 0;
    uint16_t length = 0;
    in.u8(source);
    in.u16(length);
    capwap::ByteView datagram;
    if (!in.view(length < in.remaining() ? length : in.remaining(), datagram)) break;
    Deliver(ac, source, datagram.first(datagram.size() < kCwRcvBufSize ? datagram.size()
                                                                        : kCwRcvBufSize));
  }
  return 0;
}
