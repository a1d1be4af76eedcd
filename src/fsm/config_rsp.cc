#include "fsm/config_rsp.h"

#include "diag/debug.h"
#include "registry/session.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"

namespace elem = capwap::elem;

namespace {

bool InRun(const CW_WTPCB* wtp) { return wtp && wtp->state == kStateRun; }

}  // namespace

int CW_AC_DecStaCfgRsp(StaCfgRsp* record, const CW_RCVPKT* rcv) {
  return capwap::DecodeResultOnly(rcv->Elements(), &record->result_code) ? 0 : 1;
}

int CW_AC_StaCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!InRun(wtp) || !rcv) return 1;
  CwDebug(kDbgPacket, ZLOG_INFO, " Receiving Station Config Response frame from AP.\n");
  capwap::RefreshLiveness(wtp);
  StaCfgRsp response;
  if (CW_AC_DecStaCfgRsp(&response, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Station Config Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, " Result code %d from Station Config Resopnse frame.\n",
            static_cast<int>(response.result_code));
    return 1;
  }
  return 0;
}

int CW_AC_DecWlanCfgRsp(WlanCfgRsp* record, const CW_RCVPKT* rcv) {
  *record = WlanCfgRsp{};
  CwElementWalk walk(rcv->Elements(), {.min_left = capwap::kResponseElemMin});
  for (const CwElement& e : walk) {
    if (e.type == elem::kResultCode && !capwap::ReadResultCode(e.value, &record->result_code)) {
      return 1;
    }
    if (e.type != elem::kIeee80211AssignedWtpBssid) continue;
    capwap::WireReader r(e.value);
    record->bssid_flag = 1;
    if (!r.u8(record->radio_id) || !r.u8(record->wlan_id) ||
        !r.bytes(record->bssid.data(), record->bssid.size())) {
      return 1;
    }
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_WlanCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!InRun(wtp) || !rcv) return 1;
  CwDebug(kDbgPacket, ZLOG_INFO, "Receiving WLAN Config Response frame from AP %s.\n",
          capwap::MacText(wtp->mac).data());
  capwap::RefreshLiveness(wtp);
  WlanCfgRsp response;
  if (CW_AC_DecWlanCfgRsp(&response, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode WLAN Config Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Result code %d frome WLAN Config Response.\n",
            static_cast<int>(response.result_code));
    return 1;
  }
  if (response.bssid_flag) {
    const auto record = WmacRecordEncode(
        WmacSetBssidRecord{response.radio_id, response.wlan_id, response.bssid});
    WMAC_AC_IPC_NotifySetBssid(record.data(), wtp->apid);
  }
  return 0;
}
