// Elements of the virtual AP profile bound to an AP, as the Configuration
// Status Response and the item-61 Configuration Update carry them: the
// virtual AP setting (61: controlled-AC IPv4 address, isolation mode),
// followed, for a profile with an address that isolates by link, by the
// link-isolation vendor element (85 with four zero bytes) under the AP's
// vendor identifier; and the backup AC (AC IPv4 List, 2) for an AP that
// cannot take profiles at run time.
//
// Return convention: 0 written (or nothing to write), 1 when the packet
// overflowed (the element is rolled back).
#pragma once

#include <cstdint>

#include "transport/types.h"

struct VapProfile;

int CAPWAP_ENC_VapMsgIE(CW_PKT& pkt, const VapProfile& profile, uint32_t vendor_id);
// Writes nothing when the profile has no address.
int CAPWAP_ENC_VapMsgBackupAc(CW_PKT& pkt, const VapProfile& profile);
