#include "config/vap_profile.h"

#include <algorithm>

#include "config/db_tables.h"
#include "platform/dbm.h"

std::list<VapProfile> g_vap_profile_list;

void VapProfileEncode(const VapProfile& profile, uint8_t out[kVapProfileRecordSize]) {
  capwap::HostWriter w(out, kVapProfileRecordSize);
  w.u8(profile.number);  // @0
  w.u8(profile.mode);    // @1
  w.zeros(2);            // @2
  w.u32(profile.ac_ip);  // @4
}

std::optional<VapProfile> VapProfileDecode(capwap::ByteView record) {
  if (record.size() != kVapProfileRecordSize) return std::nullopt;
  capwap::HostReader r(record);
  VapProfile profile;
  uint16_t pad = 0;
  r.u8(profile.number);
  r.u8(profile.mode);
  r.u16(pad);
  r.u32(profile.ac_ip);
  if (!r.ok() || pad != 0 || profile.mode > kVapIsolateTunnel) return std::nullopt;
  return profile;
}

VapProfile* CAPWAP_VapProfileLookup(uint32_t number) {
  auto it = std::find_if(g_vap_profile_list.begin(), g_vap_profile_list.end(),
                         [number](const VapProfile& p) { return p.number == number; });
  return it == g_vap_profile_list.end() ? nullptr : &*it;
}

int VapProfileStore(const VapProfile& profile) {
  uint8_t record[kVapProfileRecordSize];
  VapProfileEncode(profile, record);
  return DBM_Store(kDbVirtualApProfile, &profile.number, 1, record, sizeof record) == 0 ? 0 : 1;
}

VapProfile* CAPWAP_VapProfileCreate(uint32_t number) {
  if (number < 1 || number > 255 || CAPWAP_VapProfileLookup(number)) return nullptr;
  VapProfile& profile = g_vap_profile_list.emplace_back();
  profile.number = static_cast<uint8_t>(number);
  VapProfileStore(profile);
  return &profile;
}

void CAPWAP_VapProfileDelete(VapProfile* profile) {
  if (!profile) return;
  DBM_Delete(kDbVirtualApProfile, &profile->number, 1);
  g_vap_profile_list.remove_if([profile](const VapProfile& p) { return &p == profile; });
}

VapProfile* CAPWAP_VapProfile(uint32_t number) {
  VapProfile* profile = CAPWAP_VapProfileLookup(number);
  return profile ? profile : CAPWAP_VapProfileCreate(number);
}

void VapProfileReset() { g_vap_profile_list.clear(); }
