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

void FsmRegisterHandlers() {
  capwap::ResetMsgHandlers();
  SetMsgHandler(kMsgDiscoveryReq, CW_AC_DiscReqHandler);
  SetMsgHandler(kMsgJoinReq, CW_AC_JoinReqHandler);
  CfgStatusRegister();  // type 5 and the Configuration Status Response sender
  SetMsgHandler(kMsgCfgUpdateRsp, CW_AC_CfgUpdRespHandler);
  SetMsgHandler(kMsgChgStateReq, CW_AC_ChgStateReqHandler);
  SetMsgHandler(kMsgEchoReq, CW_AC_EchoReqHandler);
  SetMsgHandler(kMsgImageDataReq, CW_AC_ImgDataReqHandler);
  SetMsgHandler(kMsgImageDataRsp, CW_AC_ImgDataRespHandler);
  SetMsgHandler(kMsgWtpEventReq, CW_AC_EvtReqHandler);
  SetMsgHandler(kMsgResetRsp, CW_AC_ResetRespHandler);
  SetMsgHandler(kMsgDataTransferReq, CW_AC_DataTransReqHandler);
  SetMsgHandler(kMsgDataTransferRsp, CW_AC_DataTransRspHandler);
  SetMsgHandler(kMsgStaCfgRsp, CW_AC_StaCfgRespHandler);
  SetMsgHandler(kMsgWlanCfgRsp, CW_AC_WlanCfgRespHandler);
  capwap::SetKeepAliveHandler(capwap::OnDataKeepAlive);
}
