// Elements of the virtual AP profile bound to an AP, as the Configuration
// Status Response and the item-61 Configuration Update carry them: the
// virtual AP setting (61, with the link-isolation vendor element 85 when the
// profile isolates by link) for an AP that takes profiles at run time, the
// backup AC (AC IPv4 List, 2) for one that does not.
//
// The profile is the one the control block refers to (CW_WTPCB::vap_profile);
// the encoders read it and write at the packet's cursor.
//
// The virtual AP profile is not built yet: both encoders are stand-ins that
// write nothing.
//
// Return convention: 0 written (or nothing to write), 1 when the packet
// overflowed.
#pragma once

#include <cstdint>

#include "transport/types.h"

int CAPWAP_ENC_VapMsgIE(CW_PKT& pkt, const void* profile, uint32_t vendor_id);
int CAPWAP_ENC_VapMsgBackupAc(CW_PKT& pkt, const void* profile);
