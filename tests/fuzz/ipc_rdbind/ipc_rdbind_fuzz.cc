// Arbitrary bytes as the payload of the radio-binding messages from WMAC
// (SET-RDBIND 2, GET-RDBIND 3) and of the scan (16) and WIDS (25) answers:
// parsed on their own, then dispatched for an AP in Config.
// Oracles: a parsed list holds sub-records of their fixed sizes in the slot
// of their radio and a radio count of at most 4; its WMAC list parses back
// to the same records and its AP elements walk completely; each answer
// clears only its own flag, a kept block never exceeds its size, and the
// response goes out once, on the last answer, never on a repeat.
#include <cstddef>
#include <cstdint>

#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/sendq.h"

namespace {

constexpr const char* kModel = "fuzz-model";

int& Responses() {
  static int count = 0;
  return count;
}
int CountingSender(CW_WTPCB*) {
  ++Responses();
  return 0;
}

struct Controller {
  Controller() {
    capwap::fuzz::StoreModel(kModel, {13});
    RegisterRdBindHandlers();
    SetCfgRespSender(CountingSender);
  }

  CW_WTPCB* ConfigSession() {
    WtpTableReset();
    CW_AC_WtpTableInit();
    CW_WTPCB* wtp = CW_AC_CreateWTP(kModel, 1, "", 0);
    FUZZ_CHECK(wtp != nullptr);
    wtp->state = kStateConfig;
    wtp->wait_rdbind = wtp->wait_wrrm = wtp->wait_wids = 1;
    Responses() = 0;
    return wtp;
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
};

void Deliver(uint32_t type, capwap::ByteView payload) {
  IpcHead head;
  head.msg_type = type;
  head.wtp_id = 1;
  head.payload_len = static_cast<uint32_t>(payload.size());
  AC_ProcIPCPkt(head, payload.empty() ? nullptr : payload.data());
}

void Parse(capwap::ByteView payload) {
  RadioBinding rd;
  if (CW_GetRdBind(&rd, payload.data(), payload.size()) != 0) return;
  FUZZ_CHECK(rd.radio_count <= 4);
  for (uint32_t r = 0; r < 4; ++r) {
    for (uint16_t type = 1; type < 28; ++type) {
      const RadioBindingTlv* tlv = RdBindTlvByType(type);
      if (!tlv || !rd.radios[r].sub[tlv->slot]) continue;
      FUZZ_CHECK(rd.radios[r].sub[tlv->slot]->size() == tlv->size);
      FUZZ_CHECK((*rd.radios[r].sub[tlv->slot])[0] == r + 1);
    }
  }
  capwap::Bytes list(kWmacRdBindBufSize);
  list.resize(EncodeRdBindTlv(rd, list));
  RadioBinding back;
  FUZZ_CHECK(CW_GetRdBind(&back, list.data(), list.size()) == 0);
  for (uint32_t r = 0; r < 4; ++r) {
    for (uint16_t type = 1; type < 28; ++type) {
      const RadioBindingTlv* tlv = RdBindTlvByType(type);
      if (tlv && type != 4) FUZZ_CHECK(back.radios[r].sub[tlv->slot] == rd.radios[r].sub[tlv->slot]);
    }
  }
  CwPktPtr pkt = CW_AC_PktMalloc();
  FUZZ_CHECK(pkt != nullptr);
  FUZZ_CHECK(EncodeRdBindElems(*pkt, rd, 41414) == 0);
  CwElementWalk walk(capwap::ByteView(pkt->buffer).subspan(kCwHeadersLen, pkt->length));
  for (const CwElement& e : walk) (void)e;
  FUZZ_CHECK(walk.complete());
}

void Dispatch(Controller& ac, capwap::ByteView payload) {
  CW_WTPCB* wtp = ac.ConfigSession();
  Deliver(2, payload);  // SET-RDBIND: at most one Configuration Update Request
  FUZZ_CHECK(wtp->sndq.count <= 1);
  FUZZ_CHECK(!wtp->rdbind.radios[0].sub[1] && wtp->rdbind.idle_timeout == 0);

  const bool fits = payload.size() <= kCfgAnswerBlockMax;
  Deliver(16, payload);
  FUZZ_CHECK(wtp->wait_wrrm == (fits ? 0 : 1) && wtp->wait_rdbind == 1 && wtp->wait_wids == 1);
  Deliver(25, payload);
  FUZZ_CHECK(wtp->wait_wids == (fits ? 0 : 1) && wtp->wait_rdbind == 1);
  FUZZ_CHECK(wtp->wrrm_block.size() <= kCfgAnswerBlockMax);
  FUZZ_CHECK(Responses() == 0);

  RadioBinding parsed;
  const bool parses = CW_GetRdBind(&parsed, payload.data(), payload.size()) == 0;
  Deliver(3, payload);
  FUZZ_CHECK(wtp->wait_rdbind == (parses ? 0 : 1));
  FUZZ_CHECK(Responses() == (parses && fits ? 1 : 0));
  Deliver(3, payload);
  Deliver(16, payload);
  FUZZ_CHECK(Responses() == (parses && fits ? 1 : 0));
  CW_FreeSndQue(&wtp->sndq);
  CW_AC_DelWtpTimers(wtp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  const capwap::ByteView payload(data, size);
  Parse(payload);
  Dispatch(ac, payload);
  return 0;
}
