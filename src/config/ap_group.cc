#include "config/ap_group.h"

#include "config/db_tables.h"
#include "platform/dbm.h"

std::array<std::unique_ptr<CW_APGROUP>, kApGroupSlots> g_pstCwApGroupList;

void ApGroupEncode(const CW_APGROUP& g, uint8_t out[kApGroupRecordSize]) {
  capwap::HostWriter w(out, kApGroupRecordSize);
  w.u32(g.group_id);                          // @0
  w.fixed_str(g.ac_hostname, 33);             // @4
  w.u8(g.controlled_ac_flags);                // @37
  w.u8(g.controlled_ac_v4);                   // @38
  w.u8(g.controlled_ac_v6);                   // @39
  w.u32(g.controlled_ac_ipv4);                // @40
  w.bytes(g.controlled_ac_ipv6.data(), 16);   // @44
  w.u8(g.hot_backup_v4);                      // @60
  w.u8(g.hot_backup_v6);                      // @61
  w.seek(64);
  w.bytes(g.hot_backup_peer.data(), 16);      // @64
  w.u32(g.vrrp_id);                           // @80
  w.u32(g.slot84);                            // @84
  w.u32(g.slot88);                            // @88
  w.seek(100);
  w.u32(g.word100);                           // @100
  w.seek(124);
  w.u32(g.lan_ip.addr);                       // @124
  w.u32(g.lan_ip.prefixlen);                  // @128
  w.u32(g.lan_dhcp.low);                      // @132
  w.u32(g.lan_dhcp.high);                     // @136
  w.u32(g.lan_dhcp.lease);                    // @140
  for (uint32_t dns : g.dns) w.u32(dns);      // @144
  w.u32(g.n2n.addr);                          // @160
  w.u16(g.n2n.port);                          // @164
  w.zeros(2);                                 // @166
  w.u32(g.lan_vlan);                          // @168
  w.u32(0);                                   // @172 reserved
}

std::optional<CW_APGROUP> ApGroupDecode(capwap::ByteView record) {
  if (record.size() != kApGroupRecordSize) return std::nullopt;
  capwap::HostReader r(record);
  CW_APGROUP g;
  char hostname[33];
  r.u32(g.group_id);
  r.bytes(hostname, sizeof hostname);
  r.u8(g.controlled_ac_flags);
  r.u8(g.controlled_ac_v4);
  r.u8(g.controlled_ac_v6);
  r.u32(g.controlled_ac_ipv4);
  r.bytes(g.controlled_ac_ipv6.data(), 16);
  r.u8(g.hot_backup_v4);
  r.u8(g.hot_backup_v6);
  r.skip(2);
  r.bytes(g.hot_backup_peer.data(), 16);
  r.u32(g.vrrp_id);
  r.u32(g.slot84);
  r.u32(g.slot88);
  r.skip(8);
  r.u32(g.word100);
  r.skip(20);
  r.u32(g.lan_ip.addr);
  r.u32(g.lan_ip.prefixlen);
  r.u32(g.lan_dhcp.low);
  r.u32(g.lan_dhcp.high);
  r.u32(g.lan_dhcp.lease);
  for (uint32_t& dns : g.dns) r.u32(dns);
  r.u32(g.n2n.addr);
  r.u16(g.n2n.port);
  r.skip(2);
  r.u32(g.lan_vlan);
  r.skip(4);
  if (!r.done()) return std::nullopt;
  size_t len = 0;
  while (len < sizeof hostname && hostname[len]) ++len;
  g.ac_hostname.assign(hostname, len < 32 ? len : 32);
  return g;
}

CW_APGROUP* ApGroupGet(uint32_t group_id) {
  if (group_id == 0 || group_id >= kApGroupSlots) return nullptr;
  return g_pstCwApGroupList[group_id].get();
}

int ApGroupStore(const CW_APGROUP& group) {
  uint8_t record[kApGroupRecordSize];
  ApGroupEncode(group, record);
  uint32_t key = group.group_id;
  return DBM_Store(kDbApGroup, &key, sizeof key, record, sizeof record);
}

CW_APGROUP* ApGroupCreate(uint32_t group_id) {
  if (group_id == 0 || group_id >= kApGroupSlots) return nullptr;
  auto group = std::make_unique<CW_APGROUP>();
  group->group_id = group_id;
  // A failed store is not reported: the group exists in memory and is
  // stored again with its next change.
  ApGroupStore(*group);
  g_pstCwApGroupList[group_id] = std::move(group);
  return g_pstCwApGroupList[group_id].get();
}

void ApGroupDelete(uint32_t group_id) {
  if (group_id >= kApGroupSlots) return;
  uint32_t key = group_id;
  DBM_Delete(kDbApGroup, &key, sizeof key);
  g_pstCwApGroupList[group_id].reset();
}

void ApGroupReset() {
  for (auto& group : g_pstCwApGroupList) group.reset();
}
