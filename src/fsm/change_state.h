// The Change State Event exchange (radio states to WMAC, then Data Check)
// and the entry to Run that the first data-channel keepalive triggers.
//
// Return convention: 0 success, 1 failure (see each function).
#pragma once

#include <array>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

// A decoded Change State Event Request; zero where the request is silent.
struct ChangeStateReq {
  uint32_t result_code = 0;
  // Rows of (radio ID, state, cause); radio ID r in row r - 1.
  std::array<uint8_t, 12> radio_states{};
  uint8_t returned_reason = 0;
  uint8_t returned_length = 0;
  std::array<uint8_t, 255> returned{};
};

// Decodes the message elements of a Change State Event Request. 1 when an
// element's header or value runs past the end, or a value is too short for
// its fields. Radio Operational State rows for radio IDs outside 1-4 are
// ignored; unknown elements are skipped.
int CW_AC_DEC_ChgStateReq(ChangeStateReq* record, capwap::ByteView elements);

// Message handler of type 11. 1 on a decode failure (no answer, the
// request's sequence number is forgotten) or when the data-check timer
// cannot be created; 0 otherwise.
int CW_AC_ChgStateReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);

// The Change State Event Response carries no elements. Always 0.
int CW_AC_FillChgStateRsp(CW_PKT* pkt);
// Sends the response with the sequence number of the AP's last request.
// 1 when no packet could be allocated (nothing sent).
int CW_AC_SndChgStateRsp(CW_WTPCB* wtp);

// Puts a session that opened its data channel into Run: stored, reported
// online, WMAC told, counted, supervised and given the controller's time.
// 1 only when the neighbour-dead timer cannot be created (the later steps
// are then skipped).
int CW_AC_RunStateInit(CW_WTPCB* wtp);
