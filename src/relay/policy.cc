// The policy encoders are not built yet: these senders queue nothing, so an
// AP enters Run without switch-protection or wired-LAN VLAN settings.
#include "relay/policy.h"

int AC_IPC_SendDhcpSnooping_Batch(CW_WTPCB* /*wtp*/) { return 0; }

int AC_SndWiredLanVlan(CW_WTPCB* /*wtp*/) { return 0; }

int AC_SndWiredLanVlan2(CW_WTPCB* /*wtp*/) { return 0; }
