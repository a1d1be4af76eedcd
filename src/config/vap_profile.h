// Virtual AP profiles: a second, controlled access controller for the APs
// bound to a profile, and how their traffic is isolated. The profiles live
// in g_vap_profile_list (stable addresses: control blocks refer to them) and
// in DBM table 99 "vitual_ap_profile" under their 1-byte number.
//
// Return convention: 0 success / 1 failure; lookups return the profile or
// null.
#pragma once

#include <cstdint>
#include <list>
#include <optional>

#include "platform/bytes.h"

enum : uint8_t { kVapIsolateNone = 0, kVapIsolateLink = 1, kVapIsolateTunnel = 2 };

struct VapProfile {
  uint8_t number = 0;  // @0
  uint8_t mode = kVapIsolateNone;  // @1, then 2 zero bytes
  uint32_t ac_ip = 0;  // @4 controlled AC, IPv4 host order; 0 = none
  // Active when both the address and the mode are set.
  bool Active() const { return ac_ip != 0 && mode != kVapIsolateNone; }
};

inline constexpr size_t kVapProfileRecordSize = 8;
void VapProfileEncode(const VapProfile& profile, uint8_t out[kVapProfileRecordSize]);
// Exactly 8 bytes with the zero pad and a known mode, else nullopt.
std::optional<VapProfile> VapProfileDecode(capwap::ByteView record);

extern std::list<VapProfile> g_vap_profile_list;

VapProfile* CAPWAP_VapProfileLookup(uint32_t number);
// A zeroed profile with the number, appended and stored; null for a number
// outside 1-255 or one already present.
VapProfile* CAPWAP_VapProfileCreate(uint32_t number);
// Deletes the record and the profile. Nobody may refer to it any more.
void CAPWAP_VapProfileDelete(VapProfile* profile);
// Lookup, else create.
VapProfile* CAPWAP_VapProfile(uint32_t number);
// Stores the profile's record. 0 / 1.
int VapProfileStore(const VapProfile& profile);
// Empties the list (tests and stop); the database is left alone.
void VapProfileReset();
