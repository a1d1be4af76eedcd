// Configuration Update Response (type 8), in any session state. The handler
// returns 0 when the response was accepted with result 0, 1 otherwise; the
// decoder 1 when an element runs past the message or a value is too short.
#pragma once

#include <array>
#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct CfgUpdateRsp {
  uint32_t result_code = 0;
  uint8_t radio_state_flag = 0;  // a Radio Operational State was present
  std::array<uint8_t, 12> radio_states{};  // radio ID r in row r - 1
};

int CW_AC_CfgUpdRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecCfgUpdResp(CfgUpdateRsp* record, const CW_RCVPKT* rcv);
