#include "relay/relay.h"

#include "relay/cfg_update.h"
#include "relay/radio_binding.h"
#include "registry/tables.h"
#include "relay/wmac.h"

int RegisterIpcHandlers() {
  ResetIpcHandlers();
  int refused = RegisterWmacChannelHandlers();
  refused |= RegisterCfgUpdateHandlers();
  refused |= RegisterRdBindHandlers();
  return refused;
}

namespace {
void AnnounceCreated(const CW_WTPCB& wtp) {
  WmacCreateApRecord record;
  record.model = wtp.model;
  record.name = wtp.name;
  record.mac = wtp.mac;
  record.auto_created = wtp.auto_created;
  WMAC_AC_IPC_CreateAP(wtp.apid, record);
}
void AnnounceDeleted(uint32_t apid) { WMAC_AC_IPC_DeleteAP(apid); }
void AnnounceTunnelState(const TunnelRecord& record) { WMAC_AC_IPC_NotifyTunnelState(record); }
}  // namespace

void RegisterApEventHooks() {
  SetApEventHooks({.created = AnnounceCreated,
                   .deleted = AnnounceDeleted,
                   .tunnel_state = AnnounceTunnelState});
}
