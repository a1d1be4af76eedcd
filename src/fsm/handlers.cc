#include "fsm/handlers.h"

#include "transport/recv.h"

void CW_FsmRegisterHandlers() {
  AC_ResetMsgHandlers();
}
