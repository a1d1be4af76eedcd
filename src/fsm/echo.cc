#include "fsm/echo.h"

#include <ctime>

#include "diag/debug.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/rfc.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;

namespace {

constexpr size_t kSessionIdLen = 16;
// The Echo Response: both headers and one AC Timestamp element. Sized
// exactly, it is not built in (and zeroed across) a full-size packet buffer.
constexpr size_t kEchoRespLen = kCwHeadersLen + kCwElemHeaderLen + 4;

}  // namespace

int CW_AC_DecEchoReq(EchoReq* out, const CW_RCVPKT* rcv) {
  *out = EchoReq{};
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (e.type != elem::kSessionId) continue;
    if (e.value.size() < kSessionIdLen) return 1;
    capwap::WireReader(e.value).bytes(out->session_id.data(), kSessionIdLen);
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_EchoReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  if (wtp->state != kStateRun) {
    CwDebug(kDbgEvent, ZLOG_INFO, "CW_AC_EchoReqHandler::pstWtp->uiState != AC_STATE_RUN\n");
    return 1;
  }
  EchoReq request;
  if (CW_AC_DecEchoReq(&request, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Echo Request frame.\n");
    return 1;
  }
  capwap::RefreshLiveness(wtp);
  if (wtp->rfc) {
    // The standard answer: no element, the request's own sequence number.
    if (CwPktPtr pkt = capwap::BuildRfcEchoResp(rcv->seq)) CW_AC_SendCtlMsg(std::move(pkt), wtp);
    return 0;
  }
  CW_AC_SndEchoResp(wtp);
  return 0;
}

int CW_AC_SndEchoResp(CW_WTPCB* wtp) {
  CwPktPtr pkt = CW_AC_PktMalloc(kEchoRespLen);
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kAcTimestamp);
    e.w().u32(static_cast<uint32_t>(time(nullptr)));
  }
  FinishCtlMsg(*pkt, kMsgEchoRsp, CW_AC_GetSeqNum(wtp, kMsgEchoRsp));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}
