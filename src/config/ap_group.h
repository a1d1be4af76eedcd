// AP groups: the 176-byte CW_APGROUP record (DBM table 38 "cw_apgroup") and
// the in-memory table of groups indexed by group number.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/bytes.h"

inline constexpr size_t kApGroupRecordSize = 176;
inline constexpr uint32_t kApGroupSlots = 513;
inline constexpr uint32_t kDefaultApGroup = 1;  // made at start-up; every AP's at creation

struct CW_APGROUP {
  uint32_t group_id = 0;             // @0
  std::string ac_hostname;           // @4 char[33]
  uint8_t controlled_ac_flags = 0;   // @37
  uint8_t controlled_ac_v4 = 0;      // @38
  uint8_t controlled_ac_v6 = 0;      // @39
  uint32_t controlled_ac_ipv4 = 0;   // @40
  std::array<uint8_t, 16> controlled_ac_ipv6{};  // @44
  uint8_t hot_backup_v4 = 0;         // @60
  uint8_t hot_backup_v6 = 0;         // @61
  std::array<uint8_t, 16> hot_backup_peer{};     // @64
  uint32_t vrrp_id = 0;              // @80
  uint32_t slot84 = 0xFFFFFFFF;      // @84
  uint32_t slot88 = 0xFFFFFFFF;      // @88
  uint32_t word100 = 1;              // @100
  struct {
    uint32_t addr = 0, prefixlen = 0;
  } lan_ip;                          // @124
  struct {
    uint32_t low = 0, high = 0, lease = 0;
  } lan_dhcp;                        // @132
  std::array<uint32_t, 4> dns{};     // @144
  struct {
    uint32_t addr = 0;
    uint16_t port = 0;
  } n2n;                             // @160
  uint32_t lan_vlan = 0;             // @168
};

void ApGroupEncode(const CW_APGROUP& group, uint8_t out[kApGroupRecordSize]);
std::optional<CW_APGROUP> ApGroupDecode(capwap::ByteView record);

// Groups by number (slot 0 unused); null where none exists.
extern std::array<std::unique_ptr<CW_APGROUP>, kApGroupSlots> g_pstCwApGroupList;

CW_APGROUP* ApGroupGet(uint32_t group_id);
// Creates group N with its creation defaults and stores it (a failed store
// is not reported). Null when N is out of range.
CW_APGROUP* ApGroupCreate(uint32_t group_id);
// Stores the group's record in table 38. 0 / 1.
int ApGroupStore(const CW_APGROUP& group);
// Deletes the record and the in-memory group.
void ApGroupDelete(uint32_t group_id);
void ApGroupReset();
