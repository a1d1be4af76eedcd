// The data channel as the session sees it: the first keepalive of a session
// in Data Check opens the channel and completes entry to Run; later ones let
// WMAC follow the WTP's data endpoint when it moves.
#pragma once

#include <array>
#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/sockets.h"
#include "transport/types.h"

namespace capwap {

// A keepalive of the WTP's session; wtp->data_end already holds its source.
// `pktinfo` is the local end the IPv4 socket reported (null for IPv6). 0.
int OnDataKeepAlive(CW_WTPCB* wtp, const std::array<uint8_t, 16>& session_id, int is_ipv6,
                    const PktInfo* pktinfo);

}  // namespace capwap
