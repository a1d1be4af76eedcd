// Arbitrary WMAC payloads for every message type that becomes a
// Configuration Update Request, through AC_ProcIPCPkt, on a controller with
// three WTPs: one in Run, one Idle, one in Configure.
//
// Input: a run of records {type u8, target u8, parameter u16 big-endian,
// length u16 big-endian, payload}. The type byte picks one of the handled
// types; target bits 0-1 pick the header's WTP ID (0, the running WTP, the
// Idle one, an unknown one); bit 2 puts the running WTP in Configure for
// this record; bit 3 names the running WTP as the last WAPI sender. The
// parameter is the header parameter (the item of type 14).
//
// Oracles: each payload lives in a buffer of exactly its length, so a read
// past it trips the address sanitizer; requests the controller builds
// itself are well-formed Configuration Update Requests whose element walk
// is complete; Run-only types never queue for a WTP outside Run; an Idle
// WTP never takes a collection request.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/dbm.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/sendq.h"

namespace {

constexpr const char* kModel = "fuzz-model";
constexpr uint32_t kTypes[] = {14, 15, 20, 21, 26, 27, 40, 44, 45, 52,
                               53, 54, 62, 67, 72, 75, 88, 89, 92, 97};
constexpr uint32_t kUnknownId = 31;

bool RunOnly(uint32_t type) {
  return type == 62 || type == 67 || type == 75 || type == 88 || type == 89 || type == 97;
}
// Types whose element list, or item 183-195 element, WMAC encodes itself.
bool RawFromWmac(uint32_t type, uint32_t param) {
  return type == 15 || type == 20 || type == 26 || type == 27 ||
         (type == 14 && ItemIsCallerBuilt(param));
}

struct Controller {
  Controller() {
    CW_APMODEL model;
    model.name = kModel;
    model.radio_count = 1;
    model.radios[0].modes = 13;
    uint8_t record[kApModelRecordSize];
    ApModelEncode(model, record);
    DBM_Store(kDbApModel, record, 32, record, sizeof record);
  }

  // The WTPs are made once (making one stores it); each input starts them
  // with empty queues and their first states.
  void StartSessions() {
    if (!wtps[0]) MakeWtps();
    ResetIpcHandlers();
    RegisterCfgUpdateHandlers();
    CfgUpdateReset();
    g_WapiApAddr = sockaddr_in{};
    const uint32_t states[] = {kStateRun, kStateIdle, kStateConfig};
    for (uint32_t i = 0; i < 3; ++i) {
      CW_WTPCB* wtp = wtps[i];
      CW_FreeSndQue(&wtp->sndq);
      wtp->retrans_timer.Cancel();
      wtp->state = states[i];
      wtp->req_seq = 0;
      wtp->normal_collect = 0;
      wtp->rt_collect = 1;
    }
  }

  void MakeWtps() {
    FUZZ_CHECK(CW_AC_WtpTableInit() == 0);
    for (uint32_t i = 0; i < 3; ++i) {
      CW_WTPCB* wtp = CW_AC_CreateWTP(kModel, i + 1, "", 0);
      FUZZ_CHECK(wtp != nullptr);
      wtp->board_vendor_id = 41414;
      wtps[i] = wtp;
    }
  }

  capwap::test::DaemonContext lab;
  capwap::fuzz::QuietDebugLog log;
  CW_WTPCB* wtps[3] = {nullptr, nullptr, nullptr};
};

// Every request queued since `from` is a Configuration Update Request whose
// headers agree with its length and, unless WMAC encoded it, whose elements
// walk to the end.
void CheckQueued(const CW_WTPCB* wtp, uint32_t from, bool raw) {
  const CW_SNDQUE& q = wtp->sndq;
  for (uint32_t i = from; i < q.count; ++i) {
    const CW_PKT* pkt = q.ring[(q.head + i) % kSndQueSize].get();
    FUZZ_CHECK(pkt != nullptr);
    FUZZ_CHECK(pkt->msg_type == kMsgCfgUpdateReq);
    FUZZ_CHECK(pkt->length == pkt->buffer.size() && pkt->length >= kCwHeadersLen);
    CW_CTLHDR ctl;
    CW_DEC_CWCtlHdr(&ctl, pkt->buffer.data() + kCwHdrLen);
    FUZZ_CHECK(ctl.msg_type == kMsgCfgUpdateReq);
    FUZZ_CHECK(ctl.elem_len == pkt->length - kCwHeadersLen);
    if (raw) continue;
    CwElementWalk walk(capwap::ByteView(pkt->buffer).subspan(kCwHeadersLen));
    for (const CwElement& e : walk) (void)e;
    FUZZ_CHECK(walk.complete());
  }
}

void Deliver(Controller& ac, uint8_t type_byte, uint8_t target, uint16_t param,
             capwap::ByteView payload) {
  const uint32_t type = kTypes[type_byte % std::size(kTypes)];
  const uint32_t ids[] = {0, 1, 2, kUnknownId};
  CW_WTPCB* running = ac.wtps[0];
  running->state = (target & 4) ? kStateConfig : kStateRun;
  if (target & 8) {
    g_WapiApAddr.sin_family = AF_INET;
    g_WapiApAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    g_WapiApAddr.sin_port = htons(9);
  }
  uint32_t before[3];
  for (int i = 0; i < 3; ++i) before[i] = ac.wtps[i]->sndq.count;

  IpcHead head;
  head.kind = 1;
  head.msg_type = type;
  head.wtp_id = ids[target & 3];
  head.param = param;
  head.payload_len = static_cast<uint32_t>(payload.size());
  // Exactly the payload's size, so a read past its end is caught.
  capwap::Bytes copy(payload.begin(), payload.end());
  AC_ProcIPCPkt(head, copy.empty() ? nullptr : copy.data());

  for (int i = 0; i < 3; ++i) {
    const CW_WTPCB* wtp = ac.wtps[i];
    CheckQueued(wtp, before[i], RawFromWmac(type, param));
    if (RunOnly(type) && wtp->state != kStateRun) FUZZ_CHECK(wtp->sndq.count == before[i]);
    if ((type == 44 || type == 45) && wtp->state == kStateIdle) {
      FUZZ_CHECK(wtp->sndq.count == before[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Controller ac;
  ac.StartSessions();
  capwap::WireReader in(data, size);
  for (int records = 0; records < 64 && in.remaining() >= 6; ++records) {
    uint8_t type = 0, target = 0;
    uint16_t param = 0, length = 0;
    in.u8(type);
    in.u8(target);
    in.u16(param);
    in.u16(length);
    capwap::ByteView payload;
    if (!in.view(length < in.remaining() ? length : in.remaining(), payload)) break;
    Deliver(ac, type, target, param, payload);
  }
  return 0;
}
