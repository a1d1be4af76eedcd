#include "fsm/echo.h"

#include <ctime>

#include "diag/debug.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;

namespace {

constexpr size_t kElemHeaderLen = 4;
// Station, Reset and WLAN Configuration Responses: an element is only read
// when its header and a 4-octet value can still follow.
constexpr size_t kStrictElemMin = 8;
constexpr size_t kResetImageFieldLen = 108;
// The Echo Response: both headers and one AC Timestamp element. Sized
// exactly, it is not built in (and zeroed across) a full-size packet buffer.
constexpr size_t kEchoRespLen = kCwHeadersLen + kElemHeaderLen + 4;

// Walks 16-bit type/length elements; `on_element(type, value)` returns
// false to refuse one. False when an element starts with fewer than
// `min_left` octets left, runs past the end, or is refused.
template <typename OnElement>
bool WalkElements(capwap::ByteView elements, size_t min_left, OnElement on_element) {
  capwap::WireReader r(elements);
  while (r.remaining() > 0) {
    if (r.remaining() < min_left) return false;
    uint16_t type = 0;
    uint16_t length = 0;
    capwap::ByteView value;
    if (!r.u16(type) || !r.u16(length) || !r.view(length, value)) return false;
    if (!on_element(type, value)) return false;
  }
  return true;
}

bool ReadResultCode(capwap::ByteView value, uint32_t* result_code) {
  capwap::WireReader r(value);
  return r.u32(*result_code);
}

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

// Decodes a response that carries only a Result Code worth reading.
int DecodeResultOnly(uint32_t* result_code, const CW_RCVPKT* rcv) {
  *result_code = 0;
  bool ok = WalkElements(rcv->Elements(), kStrictElemMin, [&](uint16_t type, capwap::ByteView v) {
    return type != elem::kResultCode || ReadResultCode(v, result_code);
  });
  return ok ? 0 : 1;
}

bool InRun(const CW_WTPCB* wtp) { return wtp && wtp->state == CW_STATE_RUN; }

}  // namespace

// --- Echo -------------------------------------------------------------------

int CW_AC_DecEchoReq(CW_ECHO_REQ* out, const CW_RCVPKT* rcv) {
  *out = CW_ECHO_REQ{};
  bool ok = WalkElements(rcv->Elements(), kElemHeaderLen, [&](uint16_t type, capwap::ByteView v) {
    if (type != elem::kSessionId) return true;
    capwap::WireReader r(v);
    return r.bytes(out->session_id.data(), out->session_id.size());
  });
  return ok ? 0 : 1;
}

int CW_AC_EchoReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  if (wtp->state != CW_STATE_RUN) {
    CwDebug(CW_DBG_EVENT, ZLOG_INFO, "CW_AC_EchoReqHandler::pstWtp->uiState != AC_STATE_RUN\n");
    return 1;
  }
  CW_ECHO_REQ request;
  if (CW_AC_DecEchoReq(&request, rcv) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to decode Echo Request frame.\n");
    return 1;
  }
  CW_AC_RefreshLiveness(wtp);
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
  CW_FinishCtlMsg(*pkt, CW_MSG_ECHO_RSP, CW_AC_GetSeqNum(wtp, CW_MSG_ECHO_RSP));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

// --- Configuration Update Response -----------------------------------------

int CW_AC_DecCfgUpdResp(CW_CFGUPD_RSP* record, const CW_RCVPKT* rcv) {
  *record = CW_CFGUPD_RSP{};
  bool ok = WalkElements(rcv->Elements(), kElemHeaderLen, [&](uint16_t type, capwap::ByteView v) {
    if (type == elem::kResultCode) return ReadResultCode(v, &record->result_code);
    if (type != elem::kRadioOperationalState) return true;
    record->radio_state_flag = 1;
    return ReadRadioState(v, &record->radio_states);
  });
  return ok ? 0 : 1;
}

int CW_AC_CfgUpdRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  CW_AC_RefreshLiveness(wtp);
  const auto& m = wtp->mac;
  CwDebug(CW_DBG_PACKET, ZLOG_INFO,
          " Receiving Config Update Response frame from AP %02x:%02x:%02x:%02x:%02x:%02x.\n", m[0],
          m[1], m[2], m[3], m[4], m[5]);
  CW_CFGUPD_RSP response;
  if (CW_AC_DecCfgUpdResp(&response, rcv) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to decode config Update Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Result code %d frome Config Update Response frame. \n",
            static_cast<int>(response.result_code));
    return 1;
  }
  if (response.radio_state_flag) WMAC_AC_IPC_NotifyRadioState(wtp->apid, response.radio_states);
  return 0;
}

// --- Station Configuration Response ----------------------------------------

int CW_AC_DecStaCfgRsp(CW_STACFG_RSP* record, const CW_RCVPKT* rcv) {
  return DecodeResultOnly(&record->result_code, rcv);
}

int CW_AC_StaCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!InRun(wtp) || !rcv) return 1;
  CwDebug(CW_DBG_PACKET, ZLOG_INFO, " Receiving Station Config Response frame from AP.\n");
  CW_AC_RefreshLiveness(wtp);
  CW_STACFG_RSP response;
  if (CW_AC_DecStaCfgRsp(&response, rcv) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to decode Station Config Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(CW_DBG_EVENT, ZLOG_INFO, " Result code %d from Station Config Resopnse frame.\n",
            static_cast<int>(response.result_code));
    return 1;
  }
  return 0;
}

// --- IEEE 802.11 WLAN Configuration Response -------------------------------

int CW_AC_DecWlanCfgRsp(CW_WLANCFG_RSP* record, const CW_RCVPKT* rcv) {
  *record = CW_WLANCFG_RSP{};
  bool ok = WalkElements(rcv->Elements(), kStrictElemMin, [&](uint16_t type, capwap::ByteView v) {
    if (type == elem::kResultCode) return ReadResultCode(v, &record->result_code);
    if (type != elem::kIeee80211AssignedWtpBssid) return true;
    capwap::WireReader r(v);
    record->bssid_flag = 1;
    return r.u8(record->radio_id) && r.u8(record->wlan_id) &&
           r.bytes(record->bssid.data(), record->bssid.size());
  });
  return ok ? 0 : 1;
}

int CW_AC_WlanCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!InRun(wtp) || !rcv) return 1;
  const auto& m = wtp->mac;
  CwDebug(CW_DBG_PACKET, ZLOG_INFO,
          "Receiving WLAN Config Response frame from AP %02x:%02x:%02x:%02x:%02x:%02x.\n", m[0],
          m[1], m[2], m[3], m[4], m[5]);
  CW_AC_RefreshLiveness(wtp);
  CW_WLANCFG_RSP response;
  if (CW_AC_DecWlanCfgRsp(&response, rcv) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to decode WLAN Config Response frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Result code %d frome WLAN Config Response.\n",
            static_cast<int>(response.result_code));
    return 1;
  }
  if (response.bssid_flag) {
    uint8_t record[8];
    capwap::HostWriter w(record, sizeof record);
    w.u8(response.radio_id);                                   // @0
    w.u8(response.wlan_id);                                    // @1
    w.bytes(response.bssid.data(), response.bssid.size());     // @2
    WMAC_AC_IPC_NotifySetBssid(record, wtp->apid);
  }
  return 0;
}

// --- Reset ------------------------------------------------------------------

int CW_AC_SndResetReq(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  if (wtp->master_status == 0) {
    CwDebug(CW_DBG_EVENT, ZLOG_INFO, " Can't reset virtual ap %s\n", wtp->name.c_str());
    return 0;
  }
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kImageIdentifier);
    e.w().u32(wtp->board_vendor_id);
    e.w().bytes(wtp->image_id.data() + 4, kResetImageFieldLen);
  }
  CW_FinishCtlMsg(*pkt, CW_MSG_RESET_REQ, CW_AC_GetSeqNum(wtp, CW_MSG_RESET_REQ));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_AC_DecResetResp(CW_RESET_RSP* record, const CW_RCVPKT* rcv) {
  return DecodeResultOnly(&record->result_code, rcv);
}

int CW_AC_ResetRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!InRun(wtp) || !rcv) return 1;
  CwDebug(CW_DBG_PACKET, ZLOG_ERR, " Receiving Reset Response frame from AP.\n");
  CW_AC_RefreshLiveness(wtp);
  CW_RESET_RSP response;
  if (CW_AC_DecResetResp(&response, rcv) != 0) {
    CwDebug(CW_DBG_ERROR, ZLOG_ERR, " Failed to decode Reset Reponse frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(CW_DBG_EVENT, ZLOG_INFO, " Result code %d from Reset Response frame.\n",
            static_cast<int>(response.result_code));
  }
  __CW_AC_HandleTunnelDown(wtp, "CW_AC_ResetRespHandler", __LINE__);
  return 0;
}
