// Echo Request → Echo Response. The handler returns 0 when the request was
// answered, 1 otherwise; the decoder 1 when an element runs past the message
// or a Session ID is shorter than 16 octets (other elements are skipped).
#pragma once

#include <array>
#include <cstdint>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct EchoReq {
  std::array<uint8_t, 16> session_id{};
};

// Echo Request (type 13): answered only in Run, with the AC Timestamp.
int CW_AC_EchoReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// A message without a Session ID decodes to the zero ID.
int CW_AC_DecEchoReq(EchoReq* out, const CW_RCVPKT* rcv);
// Echo Response: AC Timestamp in seconds since 1970, the sequence number of
// the AP's last request other than Echo. 1 when no packet could be had.
int CW_AC_SndEchoResp(CW_WTPCB* wtp);
