#include "fsm/cfg_update_rsp.h"

#include "diag/debug.h"
#include "registry/session.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"

namespace elem = capwap::elem;

namespace {

// Radio Operational State into row radio ID - 1; other radio IDs have no row.
bool ReadRadioState(capwap::ByteView value, std::array<uint8_t, 12>* rows) {
  capwap::WireReader r(value);
  uint8_t radio_id = 0, state = 0, cause = 0;
  if (!r.u8(radio_id) || !r.u8(state) || !r.u8(cause)) return false;
  if (radio_id < 1 || radio_id > 4) return true;
  const size_t row = 3u * (radio_id - 1u);
  (*rows)[row] = radio_id;
  (*rows)[row + 1] = state;
  (*rows)[row + 2] = cause;
  return true;
}

}  // namespace

int CW_AC_DecCfgUpdResp(CfgUpdateRsp* record, const CW_RCVPKT* rcv) {
  *record = CfgUpdateRsp{};
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (e.type == elem::kResultCode && !capwap::ReadResultCode(e.value, &record->result_code)) {
      return 1;
    }
    if (e.type != elem::kRadioOperationalState) continue;
    record->radio_state_flag = 1;
    if (!ReadRadioState(e.value, &record->radio_states)) return 1;
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_CfgUpdRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  capwap::RefreshLiveness(wtp);
  CwDebug(kDbgPacket, ZLOG_INFO, " Receiving Config Update Response frame from AP %s.\n",
          capwap::MacText(wtp->mac).data());
  CfgUpdateRsp response;
  if (CW_AC_DecCfgUpdResp(&response, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode config Update Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Result code %d frome Config Update Response frame. \n",
            static_cast<int>(response.result_code));
    return 1;
  }
  if (response.radio_state_flag) WMAC_AC_IPC_NotifyRadioState(wtp->apid, response.radio_states);
  return 0;
}
