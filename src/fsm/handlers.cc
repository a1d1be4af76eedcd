#include "fsm/handlers.h"

#include "fsm/cfg_update_rsp.h"
#include "fsm/change_state.h"
#include "fsm/config_rsp.h"
#include "fsm/config_status.h"
#include "fsm/discovery.h"
#include "fsm/data_check.h"
#include "fsm/data_transfer.h"
#include "fsm/echo.h"
#include "fsm/image.h"
#include "fsm/join.h"
#include "fsm/reset.h"
#include "fsm/wtp_event.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/recv.h"

void CW_FsmRegisterHandlers() {
  AC_ResetMsgHandlers();
  AC_SetMsgHandler(CW_MSG_DISCOVERY_REQ, CW_AC_DiscReqHandler);
  AC_SetMsgHandler(CW_MSG_JOIN_REQ, CW_AC_JoinReqHandler);
  CW_CfgStatusRegister();  // type 5 and the Configuration Status Response sender
  AC_SetMsgHandler(CW_MSG_CFG_UPDATE_RSP, CW_AC_CfgUpdRespHandler);
  AC_SetMsgHandler(CW_MSG_CHG_STATE_REQ, CW_AC_ChgStateReqHandler);
  AC_SetMsgHandler(CW_MSG_ECHO_REQ, CW_AC_EchoReqHandler);
  AC_SetMsgHandler(CW_MSG_IMAGE_DATA_REQ, CW_AC_ImgDataReqHandler);
  AC_SetMsgHandler(CW_MSG_IMAGE_DATA_RSP, CW_AC_ImgDataRespHandler);
  AC_SetMsgHandler(CW_MSG_WTP_EVENT_REQ, CW_AC_EvtReqHandler);
  AC_SetMsgHandler(CW_MSG_RESET_RSP, CW_AC_ResetRespHandler);
  AC_SetMsgHandler(CW_MSG_DATA_TRANSFER_REQ, CW_AC_DataTransReqHandler);
  AC_SetMsgHandler(CW_MSG_DATA_TRANSFER_RSP, CW_AC_DataTransRspHandler);
  AC_SetMsgHandler(CW_MSG_STA_CFG_RSP, CW_AC_StaCfgRespHandler);
  AC_SetMsgHandler(CW_MSG_WLAN_CFG_RSP, CW_AC_WlanCfgRespHandler);
  capwap::SetKeepAliveHandler(capwap::OnDataKeepAlive);
}
