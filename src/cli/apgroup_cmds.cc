// AP-group commands: entering group 1, the group node's settings that every
// running AP of the group receives, and the node writer of the groups.
//
// The node's context is the group number, never the record: a group that
// WMAC deletes while a session sits in its node is refused cleanly.
#include <arpa/inet.h>

#include <cstring>

#include "cli/cli_init.h"
#include "cli/lan_cmds.h"
#include "config/ap_group.h"
#include "platform/cli.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/policy.h"

namespace {

const char* const kNo = "Negate a command or set its defaults";

int Refuse(vty* v, const char* message) {
  vty_out(v, "%s", message);
  return CLI_WARNING;
}

// Calls f for every AP in Run that belongs to the group.
template <typename F>
void ForEachRunningAp(const CW_APGROUP& group, F f) {
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    CW_WTPCB* wtp = CW_AC_GetWTPByID(apid);
    if (wtp && wtp->state == kStateRun && wtp->group_id == group.group_id) f(*wtp);
  }
}

// Pushes one item to every running AP of the group; for the LAN IP (50)
// each AP first takes the group's address as its inherited one.
void CW_AP_Group_CmdSet(const CW_APGROUP& group, uint32_t item, const CwCfgItem& data) {
  ForEachRunningAp(group, [&](CW_WTPCB& wtp) {
    if (item == kItemLanIp) {
      wtp.lan_ip_inherited.addr = group.lan_ip.addr;
      wtp.lan_ip_inherited.prefixlen = group.lan_ip.prefixlen;
    }
    CW_AC_SndCfgUpdReqItem(&wtp, item, data);
  });
}

CW_APGROUP* ContextGroup(vty* v) {
  const auto* number = std::any_cast<uint32_t>(&v->index);
  CW_APGROUP* group = number ? ApGroupGet(*number) : nullptr;
  if (!group) vty_out(v, "%%The AP group does not exist.\n");
  return group;
}

using GroupHandler = int (*)(vty* v, CW_APGROUP& group, const CliArgs& args);

template <GroupHandler H>
int OnGroup(vty* v, const CliArgs& args) {
  CW_APGROUP* group = ContextGroup(v);
  return group ? H(v, *group, args) : CLI_WARNING;
}

int EnterGroup(vty* v, const CliArgs& args) {
  const uint32_t number = args.U32("group").value_or(0);
  CW_APGROUP* group = ApGroupGet(number);
  if (!group) group = ApGroupCreate(number);
  if (!group) return CLI_WARNING;
  v->index = number;
  v->node = kApGroupNode;
  return CLI_SUCCESS;
}

int NoGroup(vty* v, const CliArgs&) {
  return Refuse(v, "The default AP group can not be deleted!\n");
}

int SetHostName(CW_APGROUP& group, std::string name) {
  group.ac_hostname = std::move(name);
  ApGroupStore(group);
  CwRefItem item;
  std::array<uint8_t, kAcHostNameElemSize> buffer{};
  AC_Enc_AcHostNameElem(group, item, buffer);
  CW_AP_Group_CmdSet(group, kItemVendorPayload, item.Item());
  return CLI_SUCCESS;
}

int AcHostName(vty* v, CW_APGROUP& group, const CliArgs& args) {
  std::string name = args.Str("name");
  if (name.size() >= 33) return Refuse(v, "The ac-hostname is too Long !\n");
  return SetHostName(group, std::move(name));
}

int NoAcHostName(vty*, CW_APGROUP& group, const CliArgs&) { return SetHostName(group, ""); }

LanFields LanOf(CW_APGROUP& g) {
  return {g.lan_ip.addr,   g.lan_ip.prefixlen, g.lan_dhcp.low, g.lan_dhcp.high,
          g.lan_dhcp.lease, g.dns,             g.n2n.addr,     g.n2n.port};
}

// The group's LAN settings live in memory and in the configuration text.
template <LanCommand C>
int GroupLan(vty* v, CW_APGROUP& group, const CliArgs& args) {
  LanOutcome outcome = ApplyLanCommand(v, args, C, LanOf(group));
  if (outcome.item != 0) CW_AP_Group_CmdSet(group, outcome.item, CwCfgItem(outcome.record));
  return outcome.result;
}

// APs with a LAN-port VLAN of their own keep it.
int SetGroupVlan(CW_APGROUP& group, uint32_t vlan) {
  if (group.lan_vlan == vlan) return CLI_SUCCESS;
  group.lan_vlan = vlan;
  ForEachRunningAp(group, [](CW_WTPCB& wtp) {
    if (wtp.lan_vlan < 2 && !LanPortsIsolatedByLink(wtp)) AC_SndWiredLanVlan(&wtp);
  });
  ApGroupStore(group);
  return CLI_SUCCESS;
}

int GroupVlan(vty*, CW_APGROUP& group, const CliArgs& args) {
  const uint32_t vlan = args.U32("vlan").value_or(0);
  return SetGroupVlan(group, vlan < 2 ? 0 : vlan);
}

int NoGroupVlan(vty*, CW_APGROUP& group, const CliArgs&) { return SetGroupVlan(group, 0); }

cli_handler GroupLanHandler(LanCommand command) {
  switch (command) {
    case LanCommand::kLanIp: return OnGroup<GroupLan<LanCommand::kLanIp>>;
    case LanCommand::kNoLanIp: return OnGroup<GroupLan<LanCommand::kNoLanIp>>;
    case LanCommand::kDhcp: return OnGroup<GroupLan<LanCommand::kDhcp>>;
    case LanCommand::kNoDhcp: return OnGroup<GroupLan<LanCommand::kNoDhcp>>;
    case LanCommand::kDns: return OnGroup<GroupLan<LanCommand::kDns>>;
    case LanCommand::kNoDns: return OnGroup<GroupLan<LanCommand::kNoDns>>;
    case LanCommand::kN2n: return OnGroup<GroupLan<LanCommand::kN2n>>;
    case LanCommand::kNoN2n: return OnGroup<GroupLan<LanCommand::kNoN2n>>;
  }
  return nullptr;
}

std::string Ipv6Text(const std::array<uint8_t, 16>& addr) {
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, addr.data(), text, sizeof text);
  return text;
}

void WriteGroup(vty* v, CW_APGROUP& g) {
  vty_out(v, "wlan ap-group %d\n", static_cast<int>(g.group_id));
  if (g.controlled_ac_v4 == 1) {
    vty_out(v, " controlled-ac %s\n", DottedAddress(htonl(g.controlled_ac_ipv4)).c_str());
  }
  if (g.controlled_ac_v6 == 1) {
    vty_out(v, " hot-backup peer ipv6 %s dual-link\n", Ipv6Text(g.controlled_ac_ipv6).c_str());
  }
  if (g.hot_backup_v4 == 1) {
    uint32_t peer = 0;  // the first four bytes, host order
    std::memcpy(&peer, g.hot_backup_peer.data(), sizeof peer);
    vty_out(v, " hot-backup peer ipv4 %s vrrp-id %d\n", DottedAddress(htonl(peer)).c_str(),
            static_cast<int>(g.vrrp_id));
  } else if (g.hot_backup_v6 != 0) {
    vty_out(v, " hot-backup peer ipv6 %s vrrp-id %d\n", Ipv6Text(g.hot_backup_peer).c_str(),
            static_cast<int>(g.vrrp_id));
  }
  if (!g.ac_hostname.empty()) vty_out(v, " ac-hostname %s\n", g.ac_hostname.c_str());
  if (g.group_id != kDefaultApGroup) return;
  // Only group 1 is made by command; the LAN settings of the others come
  // from WMAC.
  WriteLanLines(v, LanOf(g));
  if (g.lan_vlan >= 2) vty_out(v, " lan-port vlan %d\n", static_cast<int>(g.lan_vlan));
}

}  // namespace

int capwap_apgroup_mode_write(vty* v) {
  for (uint32_t number = kDefaultApGroup + 1; number < kApGroupSlots; ++number) {
    if (CW_APGROUP* group = ApGroupGet(number)) {
      WriteGroup(v, *group);
      vty_out(v, "!\n");
    }
  }
  if (CW_APGROUP* group = ApGroupGet(kDefaultApGroup)) WriteGroup(v, *group);
  vty_out(v, "!\n");
  return 0;
}

std::span<const CliCommand> capwap_apgroup_commands() {
  static std::vector<CliCommand> table;
  const char* const kWlan = "Wireless LAN settings";
  const char* const kGroup = "An AP group";
  table = {
      {CONFIG_NODE, "wlan ap-group <1-1>", {kWlan, kGroup, "Group number"}, {"group"},
       EnterGroup},
      {CONFIG_NODE, "no wlan ap-group <1-1>", {kNo, kWlan, kGroup, "Group number"}, {"group"},
       NoGroup},
      {kApGroupNode, "ac-hostname WORD",
       {"AC host name sent to the group's APs", "Name (up to 32 characters)"}, {"name"},
       OnGroup<AcHostName>},
      {kApGroupNode, "no ac-hostname", {kNo, "AC host name sent to the group's APs"}, {},
       OnGroup<NoAcHostName>},
      {kApGroupNode, "lan-port vlan <1-4094>",
       {"Wired LAN ports", "VLAN of the group's APs", "VLAN (1: none)"}, {"vlan"},
       OnGroup<GroupVlan>},
      {kApGroupNode, "no lan-port vlan", {kNo, "Wired LAN ports", "VLAN of the group's APs"},
       {}, OnGroup<NoGroupVlan>},
  };
  for (const LanCommandRow& row : LanCommandRows()) {
    table.push_back(
        {kApGroupNode, row.grammar, row.help, row.args, GroupLanHandler(row.command)});
  }
  return table;
}
