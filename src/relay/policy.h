// Security-policy pushes to a running AP, each a Configuration Update
// Request: layer-2 ACLs read from the configuration database by number and
// sent in chunks, the switch-protection settings (DHCP snooping, ARP
// inspection, ARP anti-attack) relayed from WMAC and sent as one batch when
// the AP enters Run, VLAN and user isolation, ACL rules, the WLAN ACL, the
// portal page domain, and the wired-LAN VLAN settings of the AP's Ethernet
// ports.
//
// Return convention: 0 when the request was queued (or there was nothing to
// send), 1 when no packet could be allocated, the input was refused or a
// precondition failed. Every WMAC payload is read as hostile: a payload too
// short for its record, or a length or count that points past it or past
// the packet, refuses the message with an error line and sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

struct IpcHead;

// --- Layer-2 ACL (WMAC types 109 and 110) -----------------------------------
// Payload: operation, radio ID, WLAN ID, the 4-byte ACL number, and
// optionally a station MAC (7 or 13 bytes). The ACL record comes from the
// framework's ACL table (127) and goes out as element 64 in as many
// requests as its entries need.
int AC_IPC_SetL2Acl(const IpcHead& head, const uint8_t* payload);

// --- Switch protection (WMAC type 111, and the batch at entry to Run) -------
// The header parameter is the kind; kind 0 does nothing. Every AP in Run
// gets one request.
int AC_IPC_ProcDhcpSnooping(const IpcHead& head, const uint8_t* payload);
// One request with vendor element 212 for the kind (kinds other than 1-4:
// a request with no element).
int AC_IPC_SendDhcpSnooping(CW_WTPCB* wtp, uint32_t kind, capwap::ByteView payload);
// DHCP snooping, ARP inspection and ARP anti-attack from the settings table
// (17), each only when its key exists, in one request.
int AC_IPC_SendDhcpSnooping_Batch(CW_WTPCB* wtp);
// The batch's elements, appended to pkt under the vendor identifier. Each
// returns the octets it appended: 0 when its key is absent or its record
// cannot be used.
size_t CW_EncDhcpSnooping_FromDbm(CW_PKT& pkt, uint32_t vendor_id);
size_t CW_EncArpInspection_FromDbm(CW_PKT& pkt, uint32_t vendor_id);
size_t CW_EncArpAntiAttack_FromDbm(CW_PKT& pkt, uint32_t vendor_id);

// --- Isolation, rules, WLAN ACL, portal domain ------------------------------
// Type 61: vendor element 123 with payload bytes 0-2.
int AC_IPC_ProcUsrsolation(const IpcHead& head, const uint8_t* payload);
// Type 113: vendor element 214 with the payload unchanged.
int AC_IPC_ProcVlanIsolate(const IpcHead& head, const uint8_t* payload);
int AC_IPC_SndVlanIsolate(CW_WTPCB* wtp, capwap::ByteView payload);
// Type 68: vendor element 82: u32 at 0, bytes 4 and 5, u32 n at 8, then n
// bytes from 12. Also the sender of the APM rule updates.
int AC_IPC_ProApAclRule(const IpcHead& head, const uint8_t* payload);
int AC_IPC_SndAclRule(CW_WTPCB* wtp, capwap::ByteView payload);
// Type 69: vendor element 83: bytes 0, 1, 2, u32 at 4.
int AC_IPC_ProApUpdateWlanAcl(const IpcHead& head, const uint8_t* payload);
int AC_IPC_SndUpdateWlanAcl(CW_WTPCB* wtp, capwap::ByteView payload);
// Type 114: vendor element 215: u16 at 0, u16 n, the domain text at 8.
int AC_IPC_ProApPortalPageDomain(const IpcHead& head, const uint8_t* payload);
int AC_IPC_SndPortalPageDomain(CW_WTPCB* wtp, capwap::ByteView payload);

// --- Wired-LAN VLAN -----------------------------------------------------------
// Vendor element 85 with the u32 VLAN as the AP's wired-LAN VLAN.
int AC_IPC_SndWiredLanVlan(CW_WTPCB* wtp, uint32_t vlan);
// The AP's own LAN VLAN, else its group's, else 0; nothing while a virtual
// AP profile isolates the AP by link.
int AC_SndWiredLanVlan(CW_WTPCB* wtp);
// Vendor element 213: the port count, then (port, u16 VLAN) per port from
// the AP's per-port table (at most its four slots).
int AC_IPC_SndWiredLanVlan2(CW_WTPCB* wtp, uint32_t ports);
// The per-port VLANs for the ports of the AP's model; nothing for an
// unknown model or while isolated by link.
int AC_SndWiredLanVlan2(CW_WTPCB* wtp);

namespace capwap {
// Keys of the settings table read by the batch.
inline constexpr char kDhcpSnoopKey[] = "dhcpsnoop_enable";
inline constexpr char kArpInspectKey[] = "arp_inspect_enable";
inline constexpr char kArpAntiAttackKey[] = "arp_anti_attack_enable";
// The ARP-inspection record: a 4096-bit VLAN bitmap, then a u32 count.
inline constexpr size_t kArpInspectRecordSize = 516;

// Installs the WMAC routes of types 61, 68, 69, 109, 110, 111, 113 and 114.
// 0, or 1 when a route was refused.
int RegisterPolicyRoutes();
}  // namespace capwap
