// The switch-protection batch and the Run-entry VLAN senders are not built
// yet: they queue nothing, so an AP enters Run without those settings.
#include "relay/policy.h"

#include <array>

#include "platform/bytes.h"
#include "relay/cfg_update.h"
#include "transport/elements.h"

int AC_IPC_SndWiredLanVlan(CW_WTPCB* wtp, uint32_t vlan) {
  std::array<uint8_t, 12> payload{};
  capwap::WireWriter w(payload.data(), payload.size());
  w.u32(wtp->board_vendor_id);
  w.u16(capwap::vendor_elem::kWiredLanVlan);
  w.u16(4);
  w.u32(vlan);
  CwRefItem item = CwRefItem::Length(static_cast<uint16_t>(payload.size()), payload);
  return CW_AC_SndCfgUpdReqItem(wtp, kItemVendorPayload, item.Item());
}

int AC_IPC_SendDhcpSnooping_Batch(CW_WTPCB* /*wtp*/) { return 0; }

int AC_SndWiredLanVlan(CW_WTPCB* /*wtp*/) { return 0; }

int AC_SndWiredLanVlan2(CW_WTPCB* /*wtp*/) { return 0; }
