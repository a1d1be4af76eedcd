// Security-policy pushes to a running AP: the switch-protection batch sent
// when the AP enters Run and the wired-LAN VLAN settings of its Ethernet
// ports.
//
// Return convention: 0 when the request was queued (or there was nothing to
// send), 1 when no packet could be allocated or a precondition failed.
#pragma once

#include <cstdint>

#include "registry/wtpcb.h"

// DHCP snooping, ARP inspection and ARP anti-attack settings in one
// Configuration Update Request.
int AC_IPC_SendDhcpSnooping_Batch(CW_WTPCB* wtp);
// Vendor element 85 with the u32 VLAN as the AP's wired-LAN VLAN.
int AC_IPC_SndWiredLanVlan(CW_WTPCB* wtp, uint32_t vlan);
// The LAN VLAN of the AP (or of its group).
int AC_SndWiredLanVlan(CW_WTPCB* wtp);
// The per-port VLANs of the AP's LAN ports.
int AC_SndWiredLanVlan2(CW_WTPCB* wtp);
