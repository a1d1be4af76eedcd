// The 39464-byte database image of a CW_WTPCB (DBM table 37 "cw_ap", key =
// APID, host byte order). Imaged fields land at the offsets noted in
// wtpcb.h; links, timers, queues, lists and pointers are zero in the image
// (the APID-list key word at 56 holds the APID while the block is listed).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/bytes.h"
#include "registry/wtpcb.h"

void EncodeWtpRecord(const CW_WTPCB& wtp, uint8_t out[kWtpRecordSize]);
// Fills the imaged fields of *wtp (runtime members untouched). Refuses any
// size other than 39464 and any image this encoder cannot have produced
// (APID outside 1-32, unknown state, unterminated name or serial, oversized
// block lengths, non-zero runtime areas); on refusal *wtp is unchanged.
bool DecodeWtpRecord(capwap::ByteView record, CW_WTPCB* wtp);
// The MAC field (offset 104) of a stored image, or nullopt when too short.
std::optional<std::array<uint8_t, 6>> WtpRecordMac(capwap::ByteView record);
