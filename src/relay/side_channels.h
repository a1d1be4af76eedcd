// The one-way datagram channels to the radio-resource manager WRRM and the
// intrusion-detection peer WIDS, with their message headers.
//
// Return convention: 0 handed to the socket, 1 when nothing was sent (bad
// destination, socket failure, send failure). Failures are printed and
// forgotten; nothing is retried.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"

struct lib_globals;

// WRRM message header, 16 bytes, host order.
struct WrrmHead {
  uint8_t src = 2;       // @0 source module (2 = this daemon)
  uint8_t dst = 0;       // @1 destination module, below
  uint8_t type = 0;      // @2 1 = AP report
  uint32_t data_len = 0;  // @4
  uint32_t apid = 0;     // @8
  uint32_t radio_id = 0;  // @12, 0 when the report is not per radio
};
inline constexpr size_t kWrrmHeadSize = 16;
inline constexpr size_t kWrrmBufSize = 4096;
void WrrmHeadEncode(const WrrmHead& head, uint8_t out[kWrrmHeadSize]);
bool WrrmHeadDecode(capwap::ByteView bytes, WrrmHead* head);

// Module numbers and their datagram paths.
enum : uint8_t {
  WRRM_MOD_WMAC_AC = 0,  // "/tmp/wmac_ac_addr"
  WRRM_MOD_WMAC_AP = 1,  // "/tmp/wmac_ap_addr"
  WRRM_MOD_CW_AC = 2,    // "/tmp/cw_ac_addr"
  WRRM_MOD_CW_AP = 3,    // "/tmp/cw_ap_addr"
  WRRM_MOD_WRRM_AC = 4,  // "/tmp/wrrm_ac_addr"
  WRRM_MOD_WRRM_AP = 5,  // "/tmp/wrrm_ap_addr"
  WRRM_MOD_COUNT = 6,
};
enum : uint8_t { WRRM_MSG_AP_REPORT = 1 };

// WIDS message header, 20 bytes, host order.
struct WidsHead {
  uint8_t src = 2;        // @0
  uint8_t dst = 6;        // @1 the WIDS peer
  uint8_t type = 0;       // @2 0 get configuration, 5 WIDS report
  uint32_t data_len = 0;  // @4, then 8 zero bytes
  uint32_t apid = 0;      // @16
};
inline constexpr size_t kWidsHeadSize = 20;
inline constexpr size_t kWidsBufSize = 65536;
void WidsHeadEncode(const WidsHead& head, uint8_t out[kWidsHeadSize]);
bool WidsHeadDecode(capwap::ByteView bytes, WidsHead* head);
enum : uint8_t { WIDS_MSG_GET_CFG = 0, WIDS_MSG_REPORT = 5 };

// Sends one WRRM datagram (header + at most 4080 bytes of data) on a fresh
// socket to the path of head.dst. The data length of the header is set here.
int Wrrm_Ipc_Send(WrrmHead head, const uint8_t* data, size_t length);

// An AP report (type 1) to WRRM (module 4); radio_id 0 for the AP-wide one.
int Wrrm_Ac_Ipc_Notify_ApReport(const uint8_t* data, size_t length, uint32_t apid,
                                uint32_t radio_id);
// Asks WIDS for the AP's configuration (type 0, no data); the answer comes
// back as WMAC IPC type 25.
int WIDS_Ac_Ipc_GetCfg(lib_globals* ctx, uint32_t apid);
// The AP's intrusion report (type 5) to WIDS.
int WIDS_Ac_Ipc_WIDSReport(lib_globals* ctx, const uint8_t* data, size_t length,
                           uint32_t apid);
