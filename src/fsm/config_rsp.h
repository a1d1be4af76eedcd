// Station Configuration Response (type 26) and IEEE 802.11 WLAN Configuration
// Response (type 3398914), both Run only. Handlers return 0 when the response
// was accepted with result 0, 1 otherwise; decoders 1 when an element runs
// past the message or a value is too short for its fields.
#pragma once

#include <array>
#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct StaCfgRsp {
  uint32_t result_code = 0;
};

struct WlanCfgRsp {
  uint32_t result_code = 0;
  uint8_t bssid_flag = 0;  // an Assigned WTP BSSID was present
  uint8_t radio_id = 0;
  uint8_t wlan_id = 0;
  std::array<uint8_t, 6> bssid{};
};

int CW_AC_StaCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecStaCfgRsp(StaCfgRsp* record, const CW_RCVPKT* rcv);

int CW_AC_WlanCfgRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecWlanCfgRsp(WlanCfgRsp* record, const CW_RCVPKT* rcv);
