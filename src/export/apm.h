// Side doors for other processes of the appliance:
//   APM events on the stream socket "/tmp/apm_ac_address": profiles and radio
//     settings relayed to WMAC, AP resets, firmware upgrades, ACL rules and
//     station rate limits;
//   the command socket "/tmp/wlancfg_capwap_addr" (datagrams of the web
//     configuration): creating APs and binding their MAC addresses.
// Everything that arrives is decoded as hostile: lengths are checked against
// the bytes present, texts are copied bounded and terminated.
//
// Return convention: 0 / 1 (socket set-up: 1 on failure, logged).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"

struct CW_WTPCB;
struct thread;

// --- APM events ---------------------------------------------------------------

// Event message: type (u32), payload length (u32), both host order, then the
// payload. Payloads beyond kApmPayloadMax end the connection.
inline constexpr size_t kApmHeadSize = 8;
inline constexpr size_t kApmPayloadMax = 64 * 1024;
enum : uint32_t {
  kApmApJoined = 6,
  kApmProfileCreate = 7,
  kApmReset = 8,
  kApmUpgrade = 9,
  kApmAclRules = 10,
  kApmProfileUpdate = 12,
  kApmRadioConfig = 13,
  kApmStationTraffic = 14,
};
capwap::Bytes ApmEventEncode(uint32_t type, capwap::ByteView payload);

// Listens on the APM socket; every connection is read by the APM reader.
int AC_ApmIpcSocketInit();
// One event. Types without an action, unknown types and payloads too short
// for their type do nothing. 0 when acted on or ignored, 1 when dropped.
int Capwap_Apm_EventCallBack(uint32_t type, const uint8_t* payload, uint32_t length);

// The actions other modules carry out for APM events (tests replace them).
// Unset entries log that the action is not available and do nothing.
struct ApmActions {
  // ACL rule bytes for the AP (the event's payload after the AP MAC).
  int (*acl_rules)(CW_WTPCB* wtp, capwap::ByteView rules) = nullptr;
  // Station Configuration Request of operation 3: the station's limits.
  int (*station_traffic)(CW_WTPCB* wtp, const std::array<uint8_t, 6>& station,
                         uint32_t downlink, uint32_t uplink) = nullptr;
};
ApmActions ApmDefaultActions();
void ApmSetActions(const ApmActions& actions);

// --- Command socket -------------------------------------------------------------

inline constexpr size_t kCmdLineMax = 512;
enum : uint32_t {
  kCmdCreateApWithId = 0x02010100,
  kCmdCreateAp = 0x02010200,
  kCmdApName = 0x02010400,
  kCmdBindMac = 0x02010600,
};
inline constexpr uint32_t kCmdFamily = 0x0201;  // upper 16 bits of every code
inline constexpr size_t kCmdItemHeadSize = 6;   // its last two bytes: the item length

// A decoded datagram: the code and up to three items, each whole inside the
// datagram (items that do not fit are not taken, nor any after them).
struct CmdLine {
  uint32_t code = 0;
  std::vector<capwap::ByteView> items;
};
std::optional<CmdLine> CmdLineDecode(capwap::ByteView datagram);
// A datagram with the items (each given a zero item header but its length).
capwap::Bytes CmdLineEncode(uint32_t code, const std::vector<capwap::Bytes>& items);
// An item as text: up to its first NUL; nullopt when it has no NUL or holds
// more than `max` characters.
std::optional<std::string> CmdItemText(capwap::ByteView item, size_t max);

int Capwap_Init_CmdSock();
int Capwap_CmdLine_Recv(thread* t);
int Capwap_Analysis_CmdLine(const uint8_t* datagram, size_t length);

// Closes the command socket and restores the default actions (tests, stop).
// The default station action sends a Station Configuration Request.
void ApmReset();
