// Installs the message handlers of the exchanges into the receive path's
// dispatch table (start-up and test fixtures).
#pragma once

void FsmRegisterHandlers();
