// Cloud reporting through the connection manager: AP online/offline and
// discovered-AP documents, and the cloud server setting pushed to APs.
#pragma once

#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/types.h"

// 1 while the discovered-AP window is open (WMAC type 76).
extern uint8_t g_bCwAutoAptoCloud;

// Publishes the AP's update document ("online" / "offline"). 0 / 1.
int Report_ApStatus(const char* status, const CW_WTPCB* wtp, uint32_t online_seconds);
// Publishes a discovered AP. 0 / 1.
int PubAutoAptoCloud(const WtpBoardData& board, const CW_RCVPKT& rcv, uint16_t workmode);
// Publishes the list of running APs. 0 / 1.
int AC_Report_ALL_AP_Status();
// The item-57 value: host (128 bytes, NUL padded) then port (host order u16).
int agent_cloud_server_get(uint8_t out[130]);
// Hands an AP event to the framework's system log.
void mirta_logger(const uint8_t mac[6], int code, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
