#include "fsm/reset.h"

#include <charconv>
#include <cstring>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace {

constexpr size_t kResetImageFieldLen = 108;
// The reset reason that asks for factory settings, with its NUL.
constexpr char kRestoreReason[] = "resore";

void ResetOne(CW_WTPCB* wtp, bool restore) {
  if (wtp->state == kStateRun) {
    uint8_t* reason = wtp->image_id.data() + 4;
    if (restore) {
      std::memcpy(reason, kRestoreReason, sizeof kRestoreReason);
    } else if (std::memcmp(reason, kRestoreReason, sizeof kRestoreReason) == 0) {
      // A plain reset must not repeat an earlier factory restore.
      std::memset(reason, 0, sizeof kRestoreReason);
    }
    CW_AC_SndResetReq(wtp);
  }
}

void ReleaseAutoModel(const CW_WTPCB* wtp) {
  if (wtp->auto_created == 1) CW_IsValidModel(wtp->model, 0);
}

}  // namespace

int CW_AC_SndResetReq(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  if (wtp->master_status == 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, " Can't reset virtual ap %s\n", wtp->name.c_str());
    return 0;
  }
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, capwap::elem::kImageIdentifier);
    e.w().u32(wtp->board_vendor_id);
    e.w().bytes(wtp->image_id.data() + 4, kResetImageFieldLen);
  }
  FinishCtlMsg(*pkt, kMsgResetReq, CW_AC_GetSeqNum(wtp, kMsgResetReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_CMD_ResetAp(std::string_view selector, std::string_view argument, bool restore) {
  if (selector == "name") {
    CW_WTPCB* wtp = CW_AC_GetWTPByNAME(argument);
    if (!wtp) return 1;
    ResetOne(wtp, restore);
    ReleaseAutoModel(wtp);
    return 0;
  }
  uint32_t group = 0;
  bool by_group = selector == "ap-group";
  if (by_group) {
    auto [end, ec] = std::from_chars(argument.data(), argument.data() + argument.size(), group);
    if (ec != std::errc() || end != argument.data() + argument.size()) return 1;
  } else if (selector != "all") {
    return 1;
  }
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (!wtp->name.empty() && (!by_group || wtp->group_id == group)) ResetOne(wtp, restore);
    ReleaseAutoModel(wtp);
  }
  return 0;
}

int CW_AC_DecResetResp(ResetRsp* record, const CW_RCVPKT* rcv) {
  return capwap::DecodeResultOnly(rcv->Elements(), &record->result_code) ? 0 : 1;
}

int CW_AC_ResetRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || wtp->state != kStateRun || !rcv) return 1;
  CwDebug(kDbgPacket, ZLOG_ERR, " Receiving Reset Response frame from AP.\n");
  capwap::RefreshLiveness(wtp);
  ResetRsp response;
  if (CW_AC_DecResetResp(&response, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Reset Reponse frame.\n");
    return 1;
  }
  if (response.result_code != 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, " Result code %d from Reset Response frame.\n",
            static_cast<int>(response.result_code));
  }
  __CW_AC_HandleTunnelDown(wtp, "CW_AC_ResetRespHandler", __LINE__);
  return 0;
}
