// Persistence of AP records besides the cw_ap image: the MAC -> APID table
// (129 "cw_ap_by_mac") and the change marks (131 "cw_mark_tbl") that another
// consumer of the database synchronises from. Also the daemon-wide admission
// switches.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/bytes.h"
#include "registry/wtpcb.h"

extern uint8_t g_bCwAutoApEnabled;            // unknown APs may join
extern uint8_t g_bCwAutoApPersistentEnabled;  // auto APs become configured in Run

// Change mark record (12 bytes): APID u32, MAC 6, mark u16.
enum : uint16_t { kMarkAdded = 1, kMarkDeleted = 2, kMarkChanged = 4 };
struct CW_WTPMARK {
  uint32_t apid = 0;
  std::array<uint8_t, 6> mac{};
  uint16_t mark = 0;
};
inline constexpr size_t kWtpMarkSize = 12;
void WtpMarkEncode(const CW_WTPMARK& mark, uint8_t out[kWtpMarkSize]);
std::optional<CW_WTPMARK> WtpMarkDecode(capwap::ByteView record);

void CW_WTP_Store_By_Mac(const CW_WTPCB* wtp);
void CW_WTP_Del_By_Mac(const CW_WTPCB* wtp);
// Binds a MAC to an AP the way the mac-address command does: refused when
// another AP holds the MAC or the AP is not Idle; an older MAC of the AP is
// unlinked (index and stored row) before the new one is indexed and stored.
// The caller tells WMAC.
enum class MacBind { kBound, kInUse, kNotIdle };
MacBind ApBindMac(CW_WTPCB& wtp, const std::array<uint8_t, 6>& mac);
void CW_WTP_Mark_Store(const CW_WTPCB* wtp);
void CW_WTP_Mark_Delete(const CW_WTPCB* wtp);

// Auto-AP switches (start-up sets both on).
void CW_CMD_Set_AutoEnable(uint8_t enabled);
void CW_CMD_Set_Autoap_PresistentEnable(uint8_t enabled);

// Discovery-filter flags byte. With kDiscoveryFilterBroadcast set, a
// firewall rule drops Discovery Requests sent to 255.255.255.255.
extern uint8_t discovery_filter;
inline constexpr uint8_t kDiscoveryFilterBroadcast = 2;
// Adds (forbid) or removes the firewall rule, sets or clears the bit and
// stores the byte under "CwBroadcastForbid" in table 17 (deletes the key
// when cleared). Nothing happens when the bit is already as asked.
void SetBroadcastForbid(bool forbid);

// The standard-dialect switch (`capwap rfc-compat`): sets it and stores 1
// under "CwRfcCompat" in table 17 when on, deletes the key when off.
void SetRfcCompat(bool on);

// Both auto-AP switches, the discovery filter and the standard-dialect
// switch back to off (tests).
void AutoApSwitchesReset();
