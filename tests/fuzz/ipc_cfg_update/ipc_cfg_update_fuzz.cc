// Arbitrary WMAC payloads for every message type that becomes a
// Configuration Update (the security-policy pushes included), WLAN
// Configuration or Station Configuration Request, through AC_ProcIPCPkt, on
// a controller with three WTPs: one in Run, one Idle, one in Configure, and
// two layer-2 ACLs in the database (number 1: 100 entries of kind 1; number
// 3: kind 3 whose count claims more entries than the record holds).
//
// Input: a run of records {type u8, target u8, parameter u16 big-endian,
// length u16 big-endian, payload}. The type byte picks one of the handled
// types (below 0x80 the Configuration Update family, from 0x80 on the WLAN
// and station family); target bits 0-1 pick the header's WTP ID (0, the running WTP, the
// Idle one, an unknown one); bit 2 puts the running WTP in Configure for
// this record; bit 3 names the running WTP as the last WAPI sender. The
// parameter is the header parameter (the item of type 14).
//
// Oracles: each payload lives in a buffer of exactly its length, so a read
// past it trips the address sanitizer; requests the controller builds
// itself are well-formed requests of the type the message becomes, whose
// element walk is complete; Run-only types (every WLAN and station type)
// never queue for a WTP outside Run; an Idle WTP never takes a collection
// request.
#include <netinet/in.h>

#include <algorithm>
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
#include "relay/policy.h"
#include "relay/wlan_cfg.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/sendq.h"

namespace {

constexpr const char* kModel = "fuzz-model";
constexpr uint32_t kTypes[] = {14, 15, 20, 21, 26, 27, 40, 44, 45, 52,  53,  54,  62,  67,
                               72, 75, 88, 89, 92, 97, 61, 68, 69, 109, 110, 111, 113, 114};
constexpr uint32_t kWlanTypes[] = {4, 5, 6, 36, 84, 7, 8, 96};
constexpr uint32_t kUnknownId = 31;

bool RunOnly(uint32_t type) {
  return type == 62 || type == 67 || type == 75 || type == 88 || type == 89 || type == 97 ||
         (type >= 109 && type <= 114) || type == 61 || type == 68 || type == 69 ||
         std::find(std::begin(kWlanTypes), std::end(kWlanTypes), type) != std::end(kWlanTypes);
}
// The request a WMAC type becomes.
uint32_t RequestType(uint32_t type) {
  if (type == 4 || type == 5 || type == 6 || type == 36) return kMsgWlanCfgReq;
  if (type == 7 || type == 8 || type == 96) return kMsgStaCfgReq;
  return kMsgCfgUpdateReq;
}
// Types whose element list, or item 183-195 element, WMAC encodes itself.
bool RawFromWmac(uint32_t type, uint32_t param) {
  return type == 15 || type == 20 || type == 26 || type == 27 ||
         (type == 14 && ItemIsCallerBuilt(param));
}

struct Controller {
  Controller() {
    capwap::fuzz::StoreModel(kModel, {13});
    StoreAcl(1, 1, 100, 100);
    StoreAcl(3, 3, 0x7FFFFFFF, 30);
  }

  // An ACL record: kind at 4, count at 276, entries from 280.
  static void StoreAcl(uint32_t number, uint32_t kind, uint32_t count, size_t entries) {
    capwap::Bytes rec(280 + entries * (kind == 1 ? 36 : 80), 0x5A);
    capwap::HostWriter(rec.data() + 4, 4).u32(kind);
    capwap::HostWriter(rec.data() + 276, 4).u32(count);
    DBM_Store(kDbAcl, &number, sizeof number, rec.data(), rec.size());
  }

  // The WTPs are made once (making one stores it); each input starts them
  // with empty queues and their first states.
  void StartSessions() {
    if (!wtps[0]) MakeWtps();
    ResetIpcHandlers();
    RegisterCfgUpdateHandlers();
    capwap::RegisterPolicyRoutes();
    RegisterWlanHandlers();
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

// Every request queued since `from` is a request of `msg_type` whose headers
// agree with its length and, unless WMAC encoded it, whose elements walk to
// the end.
void CheckQueued(const CW_WTPCB* wtp, uint32_t from, uint32_t msg_type, bool raw) {
  const CW_SNDQUE& q = wtp->sndq;
  for (uint32_t i = from; i < q.count; ++i) {
    const CW_PKT* pkt = q.ring[(q.head + i) % kSndQueSize].get();
    FUZZ_CHECK(pkt != nullptr);
    FUZZ_CHECK(pkt->msg_type == msg_type);
    FUZZ_CHECK(pkt->length == pkt->buffer.size() && pkt->length >= kCwHeadersLen);
    CW_CTLHDR ctl;
    CW_DEC_CWCtlHdr(&ctl, pkt->buffer.data() + kCwHdrLen);
    FUZZ_CHECK(ctl.msg_type == msg_type);
    FUZZ_CHECK(ctl.elem_len == pkt->length - kCwHeadersLen);
    if (raw) continue;
    CwElementWalk walk(capwap::ByteView(pkt->buffer).subspan(kCwHeadersLen));
    for (const CwElement& e : walk) (void)e;
    FUZZ_CHECK(walk.complete());
  }
}

void Deliver(Controller& ac, uint8_t type_byte, uint8_t target, uint16_t param,
             capwap::ByteView payload) {
  const uint32_t type = type_byte < 0x80 ? kTypes[type_byte % std::size(kTypes)]
                                         : kWlanTypes[(type_byte - 0x80) % std::size(kWlanTypes)];
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
    CheckQueued(wtp, before[i], RequestType(type), RawFromWmac(type, param));
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
