// Echo, and the responses to the controller's own requests: Configuration
// Update, Station Configuration, IEEE 802.11 WLAN Configuration and Reset;
// also the Reset Request itself.
//
// Handlers return 0 when the message was accepted and its result was 0 (a
// Reset Response: whenever it decoded), 1 otherwise. Decoders return 0, or 1
// when an element runs past the message or a value is too short for its
// fields; elements of other types are skipped by their length.
#pragma once

#include <array>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

struct CW_ECHO_REQ {
  std::array<uint8_t, 16> session_id{};
};

struct CW_CFGUPD_RSP {
  uint32_t result_code = 0;
  uint8_t radio_state_flag = 0;  // a Radio Operational State was present
  std::array<uint8_t, 12> radio_states{};  // radio ID r in row r - 1
};

struct CW_STACFG_RSP {
  uint32_t result_code = 0;
};

struct CW_RESET_RSP {
  uint32_t result_code = 0;
};

struct CW_WLANCFG_RSP {
  uint32_t result_code = 0;
  uint8_t bssid_flag = 0;  // an Assigned WTP BSSID was present
  uint8_t radio_id = 0;
  uint8_t wlan_id = 0;
  std::array<uint8_t, 6> bssid{};
};

// Echo Request (type 13): answered only in Run, with the AC Timestamp.
int CW_AC_EchoReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// A message without a Session ID decodes to the zero ID.
int CW_AC_DecEchoReq(CW_ECHO_REQ* out, const CW_RCVPKT* rcv);
// Echo Response: AC Timestamp in seconds since 1970, the sequence number of
// the AP's last request other than Echo. 1 when no packet could be had.
int CW_AC_SndEchoResp(CW_WTPCB* wtp);

// Configuration Update Response (type 8), any session state.
int CW_AC_CfgUpdRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecCfgUpdResp(CW_CFGUPD_RSP* record, const CW_RCVPKT* rcv);

// Station Configuration Response (type 26), Run only.
int CW_AC_StaCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecStaCfgRsp(CW_STACFG_RSP* record, const CW_RCVPKT* rcv);

// IEEE 802.11 WLAN Configuration Response (type 3398914), Run only.
int CW_AC_WlanCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecWlanCfgRsp(CW_WLANCFG_RSP* record, const CW_RCVPKT* rcv);

// Reset Request for a running AP, queued with retransmission. A virtual AP
// is not reset (0, nothing sent); 1 when no packet could be had.
int CW_AC_SndResetReq(CW_WTPCB* wtp);
// Reset Response (type 18), Run only: the session ends whatever the result.
int CW_AC_ResetRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecResetResp(CW_RESET_RSP* record, const CW_RCVPKT* rcv);
