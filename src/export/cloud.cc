// Cloud reporting is not built yet in this daemon: documents are not
// published; the events still reach the debug log and the system log.
#include "export/cloud.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/debug.h"

uint8_t g_bCwAutoAptoCloud = 0;

int Report_ApStatus(const char* status, const CW_WTPCB* wtp, uint32_t online_seconds) {
  CwDebug(kDbgEvent, ZLOG_DEBUG, " Cloud report of AP %s: %s after %u seconds.\n",
          wtp ? wtp->name.c_str() : "?", status, online_seconds);
  return 0;
}

int PubAutoAptoCloud(const WtpBoardData& /*board*/, const CW_RCVPKT& /*rcv*/,
                     uint16_t /*workmode*/) {
  return 0;
}

int AC_Report_ALL_AP_Status() { return 0; }

int agent_cloud_server_get(uint8_t out[130]) {
  // No server configured: empty host and the default port.
  memset(out, 0, 130);
  uint16_t port = 8883;
  memcpy(out + 128, &port, sizeof port);
  return 0;
}

void mirta_logger(const uint8_t mac[6], int code, const char* fmt, ...) {
  char subject[32];
  snprintf(subject, sizeof subject, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
           mac[3], mac[4], mac[5]);
  char message[2048];
  va_list args;
  va_start(args, fmt);
  vsnprintf(message, sizeof message, fmt, args);
  va_end(args);
  zlog_sys(capwapm, code, ZLOG_INFO, subject, "%s", message);
}
