// Reset: the controller's Reset Request to a running AP, and its response.
#pragma once

#include <cstdint>
#include <string_view>

#include "registry/wtpcb.h"
#include "transport/types.h"

struct ResetRsp {
  uint32_t result_code = 0;
};

// Reset Request for a running AP, queued with retransmission. A virtual AP
// is not reset (0, nothing sent); 1 when no packet could be had.
int CW_AC_SndResetReq(CW_WTPCB* wtp);
// The operator's reset of APs: `selector` "name" (`argument` the AP name),
// "ap-group" (`argument` the group number) or "all". Every selected AP in Run
// gets a Reset Request; with `restore` set, the request asks the AP to
// return to its factory settings. The models of automatically admitted APs
// are no longer in use afterwards. 1 when the named AP does not exist (or
// the selector is unknown), else 0.
int CW_CMD_ResetAp(std::string_view selector, std::string_view argument, bool restore);
// Reset Response (type 18), Run only: the session ends whatever the result
// (0 whenever it decoded, 1 otherwise).
int CW_AC_ResetRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// 1 when an element runs past the message or a Result Code is short.
int CW_AC_DecResetResp(ResetRsp* record, const CW_RCVPKT* rcv);
