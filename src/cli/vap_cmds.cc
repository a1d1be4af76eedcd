// Virtual AP profiles: the profile node and its commands, the binding of an
// AP to a profile, the hidden controlled-AC command of the AP-group node, the
// listing, and the node writer. A profile reaches a bound AP in Run at once
// (item 61) when the AP takes profiles at run time; other APs get it in their
// next Configuration Status Response.
//
// The profile node's context is the profile number; the AP node's is the
// APID. Both are looked up again at every command.
#include <arpa/inet.h>

#include <string>

#include "cli/cli_init.h"
#include "config/ap_group.h"
#include "config/ap_persist.h"
#include "config/vap_profile.h"
#include "diag/debug.h"
#include "platform/cli.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/policy.h"

namespace {

constexpr const char* kMsgCannotDeal = "%% Error:Cant't deal profile %s.\n";
constexpr const char* kMsgNotFound = "%% Error:Cant't find wlan virtual ap profile %s.\n";
constexpr const char* kMsgControlledAc = "%% config controlled ac %s failed\n";
constexpr const char* kMsgProfileGone = "% The virtual ap profile no longer exists.\n";
constexpr uint32_t kMinVlan = 2;

bool Physical(const CW_WTPCB& wtp) { return wtp.master_status != 0; }

void LogNoRunTime(const CW_WTPCB& wtp) {
  CwDebug(kDbgEvent, ZLOG_INFO,
          " ap %s not support real time set virtual ap, please clear ap first.\n",
          wtp.name.c_str());
}

int PushProfile(CW_WTPCB* wtp, const VapProfile& profile) {
  uint8_t record[kVapProfileRecordSize];
  VapProfileEncode(profile, record);
  return CW_AC_SndCfgUpdReqItem(wtp, kItemVirtualAp, CwCfgItem(capwap::ByteView(record)));
}

// Withdraws a profile that isolated in `mode` from the AP: the zero profile,
// then, leaving link isolation, the AP's wired-LAN VLAN back.
void Withdraw(CW_WTPCB* wtp, uint8_t mode) {
  if (wtp->state != kStateRun || !Physical(*wtp)) return;
  if (!(wtp->capability & kCapRuntimeVap)) {
    LogNoRunTime(*wtp);
    return;
  }
  PushProfile(wtp, VapProfile{});
  if (mode != kVapIsolateLink) return;
  const CW_APGROUP* group = ApGroupGet(wtp->group_id);
  uint32_t vlan = wtp->lan_vlan >= kMinVlan                   ? wtp->lan_vlan
                  : group && group->lan_vlan >= kMinVlan ? group->lan_vlan
                                                              : 0;
  if (vlan != 0) AC_IPC_SndWiredLanVlan(wtp, vlan);
}

template <typename F>
void ForEachBoundAp(const VapProfile* profile, F f) {
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->vap_profile == profile) f(wtp);
  }
}

void StoreAp(CW_WTPCB* wtp) {
  CW_WTP_Mark_Store(wtp);
  StoreWtp(wtp);
}

void UnbindAp(CW_WTPCB* wtp) {
  CAPWAP_VAP_UnApply(wtp);
  wtp->vap_profile = nullptr;
  wtp->vap_profile_num = 0;
  StoreAp(wtp);
}

// A mode change of a profile: an active profile is withdrawn from its APs in
// the old mode (so leaving link isolation restores their VLAN) and applied
// in the new one.
void ChangeMode(VapProfile* profile, uint8_t mode, uint32_t addr) {
  uint8_t old_mode = profile->mode;
  bool was_active = profile->Active();
  profile->mode = mode;
  profile->ac_ip = addr;
  ForEachBoundAp(profile, [&](CW_WTPCB* wtp) {
    if (was_active) Withdraw(wtp, old_mode);
    CAPWAP_VAP_Apply(wtp, profile);
  });
}

std::string Number(uint32_t number) { return std::to_string(number); }

std::string Dotted(uint32_t host_order) {
  in_addr a{htonl(host_order)};
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// The profile of the node, or null after printing why.
VapProfile* NodeProfile(vty* v) {
  const auto* number = std::any_cast<uint32_t>(&v->index);
  VapProfile* profile = number ? CAPWAP_VapProfileLookup(*number) : nullptr;
  if (!profile) vty_out(v, "%s", kMsgProfileGone);
  return profile;
}

int EnterProfile(vty* v, const CliArgs& args) {
  uint32_t number = args.U32("number").value_or(0);
  if (!CAPWAP_VapProfile(number)) {
    vty_out(v, kMsgCannotDeal, Number(number).c_str());
    return CLI_WARNING;
  }
  v->index = number;
  v->node = kVapProfileNode;
  return CLI_SUCCESS;
}

int DeleteProfile(vty* v, const CliArgs& args) {
  uint32_t number = args.U32("number").value_or(0);
  VapProfile* profile = CAPWAP_VapProfileLookup(number);
  if (!profile) {
    vty_out(v, kMsgNotFound, Number(number).c_str());
    return CLI_WARNING;
  }
  CAPWAP_VapProfileUnbindAllAp(profile, 1);
  CAPWAP_VapProfileDelete(profile);
  return CLI_SUCCESS;
}

int SetAcIp(vty* v, const CliArgs& args) {
  VapProfile* profile = NodeProfile(v);
  if (!profile) return CLI_WARNING;
  uint32_t addr = ntohl(args.Ipv4("address")->s_addr);
  if (profile->ac_ip != addr) {
    profile->ac_ip = addr;
    CAPWAP_VapProfileBindAllAp(profile);
  }
  VapProfileStore(*profile);
  return CLI_SUCCESS;
}

int ClearAcIp(vty* v, const CliArgs&) {
  VapProfile* profile = NodeProfile(v);
  if (!profile) return CLI_WARNING;
  if (profile->Active()) CAPWAP_VapProfileUnbindAllAp(profile, 0);
  profile->ac_ip = 0;
  VapProfileStore(*profile);
  return CLI_SUCCESS;
}

int SetMode(vty* v, const CliArgs& args) {
  VapProfile* profile = NodeProfile(v);
  if (!profile) return CLI_WARNING;
  uint8_t mode = args.Str("mode").starts_with('t') ? kVapIsolateTunnel : kVapIsolateLink;
  if (profile->mode != mode) ChangeMode(profile, mode, profile->ac_ip);
  VapProfileStore(*profile);
  return CLI_SUCCESS;
}

int ClearMode(vty* v, const CliArgs&) {
  VapProfile* profile = NodeProfile(v);
  if (!profile) return CLI_WARNING;
  if (profile->Active()) CAPWAP_VapProfileUnbindAllAp(profile, 0);
  profile->mode = kVapIsolateNone;
  VapProfileStore(*profile);
  return CLI_SUCCESS;
}

int ShowProfiles(vty* v, const CliArgs&) {
  for (const VapProfile& profile : g_vap_profile_list) {
    vty_out(v, "wlan virtual-ap-profile %d\n", profile.number);
    vty_out(v, "\t controlled-ac ip : %s\n", Dotted(profile.ac_ip).c_str());
    if (profile.mode == kVapIsolateNone) {
      vty_out(v, "\t isolation mode   : none\n");
    } else {
      vty_out(v, "\t isolation mode   : %s\n",
              profile.mode == kVapIsolateLink ? "link" : "tunnel");
    }
    vty_out(v, "\t ---------------------------------------------------\n");
    vty_out(v, "\t AP              STATUS\n");
    CAPWAP_VapProfileBindApShows(v, &profile);
  }
  return CLI_SUCCESS;
}

int BindAp(vty* v, const CliArgs& args) {
  CW_WTPCB* wtp = capwap_node_ap(v);
  if (!wtp) return CLI_WARNING;
  uint32_t number = args.U32("number").value_or(0);
  VapProfile* profile = CAPWAP_VapProfileLookup(number);
  if (!profile) {
    vty_out(v, kMsgNotFound, Number(number).c_str());
    return CLI_WARNING;
  }
  if (wtp->vap_profile == profile) return CLI_SUCCESS;
  if (wtp->vap_profile) CAPWAP_VAP_UnApply(wtp);
  CAPWAP_VAP_Apply(wtp, profile);
  wtp->vap_profile = profile;
  wtp->vap_profile_num = profile->number;
  StoreAp(wtp);
  return CLI_SUCCESS;
}

int UnbindApCmd(vty* v, const CliArgs&) {
  CW_WTPCB* wtp = capwap_node_ap(v);
  if (!wtp) return CLI_WARNING;
  if (wtp->vap_profile) UnbindAp(wtp);
  return CLI_SUCCESS;
}

int ControlledAc(vty* v, const CliArgs& args) {
  std::string text = args.Str("address");
  if (CAPWAP_VirtualApSetAcip(1, text) != 0) {
    vty_out(v, kMsgControlledAc, text.c_str());
    return CLI_WARNING;
  }
  return CLI_SUCCESS;
}

}  // namespace

int CAPWAP_VAP_Apply(CW_WTPCB* wtp, const VapProfile* profile) {
  if (!profile || !profile->Active()) return 1;
  if (wtp->state != kStateRun || !Physical(*wtp)) return 0;
  if (wtp->capability & kCapRuntimeVap) return PushProfile(wtp, *profile);
  LogNoRunTime(*wtp);
  return 0;
}

void CAPWAP_VAP_UnApply(CW_WTPCB* wtp) {
  Withdraw(wtp, wtp->vap_profile ? wtp->vap_profile->mode : uint8_t{kVapIsolateNone});
}

void CAPWAP_VapProfileBindAllAp(const VapProfile* profile) {
  ForEachBoundAp(profile, [profile](CW_WTPCB* wtp) { CAPWAP_VAP_Apply(wtp, profile); });
}

void CAPWAP_VapProfileUnbindAllAp(const VapProfile* profile, int unbind) {
  ForEachBoundAp(profile, [&](CW_WTPCB* wtp) {
    if (unbind) {
      UnbindAp(wtp);
    } else if (profile->Active()) {
      CAPWAP_VAP_UnApply(wtp);
    }
  });
}

int CAPWAP_VirtualApSetAcip(uint32_t number, std::string_view address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, std::string(address).c_str(), &parsed) != 1) return 1;
  VapProfile* profile = CAPWAP_VapProfile(number);
  if (!profile) return 1;
  uint32_t addr = ntohl(parsed.s_addr);
  if (profile->mode != kVapIsolateTunnel) {
    ChangeMode(profile, kVapIsolateTunnel, addr);
  } else if (profile->ac_ip != addr) {
    profile->ac_ip = addr;
    CAPWAP_VapProfileBindAllAp(profile);
  }
  return VapProfileStore(*profile);
}

void CAPWAP_VapProfileBindApShows(vty* v, const VapProfile* profile) {
  ForEachBoundAp(profile, [v](CW_WTPCB* wtp) {
    vty_out(v, "\t %s          %s\n", wtp->name.c_str(),
            wtp->state == kStateRun ? "Online" : "offline");
  });
}

int capwap_virtual_ap_mode_write(vty* v) {
  for (const VapProfile& profile : g_vap_profile_list) {
    vty_out(v, "wlan virtual-ap-profile %d\n", profile.number);
    if (profile.ac_ip != 0) vty_out(v, " network-isolation ac-ip %s\n", Dotted(profile.ac_ip).c_str());
    if (profile.mode != kVapIsolateNone) {
      vty_out(v, " network-isolation mode %s\n",
              profile.mode == kVapIsolateLink ? "link" : "tunnel");
    }
    vty_out(v, "!\n");
  }
  return 0;
}

void capwap_ap_virtual_write(vty* v, const CW_WTPCB& wtp) {
  if (wtp.vap_profile_num != 0) vty_out(v, " virtual-ap-profile %d\n", wtp.vap_profile_num);
}

void capwap_virtual_ap_cli_init(lib_globals* ctx) {
  if (!CAPWAP_VapProfile(1)) CwDebug(kDbgError, ZLOG_ERR, " Virtual ap profile 1 not made.\n");
  int failed = cli_install_table(ctx, capwap_vap_commands());
  if (failed != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " %d commands could not be installed.\n", failed);
  }
}

std::span<const CliCommand> capwap_vap_commands() {
  static const std::vector<std::string> kProfile = {"Wireless LAN settings",
                                                    "Virtual AP profile", "Profile number"};
  static const CliCommand table[] = {
      {CONFIG_NODE, "wlan virtual-ap-profile <1-1>", kProfile, {"number"}, EnterProfile},
      {CONFIG_NODE, "no wlan virtual-ap-profile <1-1>",
       {"Negate a command", kProfile[0], kProfile[1], kProfile[2]}, {"number"}, DeleteProfile},
      {kVapProfileNode, "network-isolation ac-ip A.B.C.D",
       {"Isolation of the APs' traffic", "Controlled access controller", "IPv4 address"},
       {"address"}, SetAcIp},
      {kVapProfileNode, "no network-isolation ac-ip",
       {"Negate a command", "Isolation of the APs' traffic", "Controlled access controller"}, {},
       ClearAcIp},
      {kVapProfileNode, "network-isolation mode (tunnel|link)",
       {"Isolation of the APs' traffic", "Isolation mode", "Isolate by tunnel", "Isolate by link"},
       {"mode"}, SetMode},
      {kVapProfileNode, "no network-isolation mode",
       {"Negate a command", "Isolation of the APs' traffic", "Isolation mode"}, {}, ClearMode},
      {ALL_VIEW_NODES, "show wlan virtual-ap-profile <1-1>",
       {"Show running system information", kProfile[0], kProfile[1], kProfile[2]}, {"number"},
       ShowProfiles},
      {kApNode, "virtual-ap-profile <1-1>", {"Bind a virtual AP profile", "Profile number"},
       {"number"}, BindAp},
      {kApNode, "no virtual-ap-profile", {"Negate a command", "Bind a virtual AP profile"}, {},
       UnbindApCmd},
      {kApGroupNode, "controlled-ac A.B.C.D",
       {"Controlled access controller", "IPv4 address"}, {"address"}, ControlledAc,
       kPrivilegeUser, true},
  };
  return table;
}
