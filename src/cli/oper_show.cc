// Operational views of the APs: the AP table, one AP, its detail and its
// session timers, and the endpoint-index dump.

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_init.h"
#include "config/db_tables.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "transport/types.h"

namespace {

constexpr size_t kNameMax = kWtpNameMax;

std::string MacDotted(const std::array<uint8_t, 6>& m) {
  char buf[16];
  snprintf(buf, sizeof buf, "%02x%02x.%02x%02x.%02x%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

// As capwap::AddrText, with the unspecified IPv6 address written "0::0".
std::string IpText(const CW_ADDR& addr) {
  return addr.family == 1 && addr.AddrIsZero() ? "0::0" : capwap::AddrText(addr);
}

// Long texts are cut to `keep` characters followed by "..".
std::string Shorten(const std::string& text, size_t limit, size_t keep) {
  return text.size() >= limit ? text.substr(0, keep) + ".." : text;
}

std::string IdleCode(const CW_WTPCB& wtp) {
  if (DBM_Fetch(kDbOfflineClient, wtp.mac.data(), wtp.mac.size())) return "NI";
  if (wtp.discovered != 1) return "NA";
  return "I";
}

std::string RunCode(const CW_WTPCB& wtp) {
  std::string code = "R/M";
  if (wtp.master_status == 0) code += "/V";
  if (wtp.capability & kCapMesh) code += "/MP";
  return code;
}

std::string StateCode(const CW_WTPCB& wtp) {
  if (wtp.state == kStateIdle) return IdleCode(wtp);
  if (wtp.state == kStateRun) return RunCode(wtp);
  return CW_FsmStateName(wtp.state);
}

std::string OnlineTime(const CW_WTPCB& wtp) {
  uint32_t seconds = wtp.state == kStateRun ? ul_CW_AC_Time - wtp.online_tick : 0;
  char buf[32];
  snprintf(buf, sizeof buf, "%uh%um%us", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

void PrintTableLegend(vty* v) {
  vty_out(v, "NA:Never Assoc NI:No Ip I:Idle  J:Join  ID:Image Download  C:Config\n");
  vty_out(v, "DC:Data Check  R:Running  RS:Reset  M:Master  S:Slave V:Virtual  MP:MeshAP\n");
}

int ShowApTable(vty* v, const CliArgs& args) {
  std::optional<uint32_t> group = args.U32("group");
  uint32_t running = 0;
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->state == kStateRun && (!group || wtp->group_id == *group)) ++running;
  }
  PrintTableLegend(v);
  vty_out(v, "Running/Total APs                       :%u/%u\n", running, WtpCount());
  vty_out(v, "%-4s%-14s%-16s%-15s%-14s%-11s%-6s%s\n", "ID", "Name", "MAC", "IP", "Model", "Time",
          "State", "Description");
  vty_out(v, "%s\n", std::string(99, '-').c_str());
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->name.empty() || (group && wtp->group_id != *group)) continue;
    vty_out(v, "%-4d%-14s%-16s%-15s%-14s%-11s%-9s%s\n", static_cast<int>(wtp->apid),
            Shorten(wtp->name, 15, 12).c_str(), MacDotted(wtp->mac).c_str(),
            Shorten(IpText(wtp->remote), 16, 12).c_str(), wtp->model.c_str(),
            OnlineTime(*wtp).c_str(), StateCode(*wtp).c_str(), wtp->description.c_str());
  }
  return CLI_SUCCESS;
}

int ShowOneAp(vty* v, const CliArgs& args) {
  std::string name = args.Str("name");
  if (name.size() > kNameMax) return CLI_SUCCESS;
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(name);
  if (!wtp) {
    vty_out(v, "can not find the %s Ap!\n", name.c_str());
    return CLI_WARNING;
  }
  vty_out(v, "I:Idle  J:Join  ID:Image Download  C:Config\n");
  vty_out(v, "DC:Data Check  R:Running  RS:Reset  M:Master  S:Slave V:Virtual  MP:MeshAP\n");
  vty_out(v, "ID   Name                MAC         IP              Model     Time      State\n");
  vty_out(v, "%s\n", std::string(78, '-').c_str());
  if (wtp->name.empty()) return CLI_SUCCESS;
  vty_out(v, "%-4d %-14s %s %-15s %-11s %-11s %-s\n", static_cast<int>(wtp->apid),
          Shorten(wtp->name, 15, 12).c_str(), MacDotted(wtp->mac).c_str(),
          Shorten(IpText(wtp->remote), 16, 13).c_str(), wtp->model.c_str(),
          OnlineTime(*wtp).c_str(), StateCode(*wtp).c_str());
  return CLI_SUCCESS;
}

void PrintIdentity(vty* v, const CW_WTPCB& wtp) {
  vty_out(v, "AP ID                          : %d\n", static_cast<int>(wtp.apid));
  vty_out(v, "AP NAME                        : %s\n", wtp.name.c_str());
  vty_out(v, "AP SN                          : %s\n", wtp.serial.c_str());
  vty_out(v, "AP MAC                         : %s\n", capwap::MacText(wtp.mac).data());
  if (wtp.remote.family == 1) {
    vty_out(v, "AP IP                          : %s\n", IpText(wtp.remote).c_str());
  } else {
    uint32_t ip = wtp.remote.Ipv4();
    vty_out(v, "AP IP                          : %u.%u.%u.%u\n", ip >> 24, (ip >> 16) & 255,
            (ip >> 8) & 255, ip & 255);
  }
}

CW_WTPCB* FindForDetail(const CliArgs& args) {
  std::string name = args.Str("name");
  return name.size() > kNameMax ? nullptr : CW_AC_GetWTPByNAME(name);
}

int ShowApDetail(vty* v, const CliArgs& args) {
  CW_WTPCB* wtp = FindForDetail(args);
  if (!wtp) return CLI_SUCCESS;
  PrintIdentity(v, *wtp);
  vty_out(v, "H/W Version                    : %s\n", FieldText(wtp->descriptor.hw_version).c_str());
  vty_out(v, "S/W Version                    : %s\n", FieldText(wtp->descriptor.sw_version).c_str());
  vty_out(v, "Connection Type                : M\n");
  vty_out(v, "OnlineTime                     : %s\n",
          wtp->state == kStateRun ? OnlineTime(*wtp).c_str() : "");
  return CLI_SUCCESS;
}

const char* TimerState(const capwap::Timer& timer) { return timer.Running() ? "RUNNING" : "STOP"; }

int ShowApTimers(vty* v, const CliArgs& args) {
  CW_WTPCB* wtp = FindForDetail(args);
  if (!wtp) return CLI_SUCCESS;
  PrintIdentity(v, *wtp);
  ForEachSessionTimer(*wtp, [v](const char* name, const capwap::Timer& timer) {
    vty_out(v, "%-28s: %s\n", name, TimerState(timer));
  });
  return CLI_SUCCESS;
}

int ShowFirmwareVersions(vty* v, const CliArgs&) {
  vty_out(v, "ID   Name           Model\tVersion        State\n");
  vty_out(v, "%s\n", std::string(51, '-').c_str());
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->name.empty()) continue;
    std::string state = wtp->state == kStateRun    ? std::string("R/M")
                         : wtp->state == kStateIdle ? IdleCode(*wtp)
                                                       : CW_FsmStateName(wtp->state);
    vty_out(v, "%-4d %-14s %-11s %-15s %-s\n", static_cast<int>(wtp->apid), wtp->name.c_str(),
            wtp->model.c_str(), FieldText(wtp->descriptor.sw_version).c_str(), state.c_str());
  }
  return CLI_SUCCESS;
}

int ShowWtpIndex(vty* v, const CliArgs&) {
  HASH_TABLE* table = g_pstAC_WTPDBTableByIp.get();
  if (!table) return CLI_SUCCESS;
  vty_out(v, "pstAC_WTPDBTableByIp Hash size %u \n", static_cast<unsigned>(table->size()));
  for (size_t i = 0; i < table->size(); ++i) {
    vty_out(v, "entry Hash bucket %u \n", static_cast<unsigned>(i));
    for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(table->buckets[i])) {
      if (wtp->name.empty()) continue;
      std::string ip = wtp->remote.family == 1 ? "ipv6-addr" : IpText(wtp->remote);
      vty_out(v, "%-4d %-14s %s %-15s %-11s %-s\n", static_cast<int>(wtp->apid),
              wtp->name.c_str(), MacDotted(wtp->mac).c_str(), ip.c_str(), wtp->model.c_str(),
              CW_FsmStateName(wtp->state));
    }
  }
  return CLI_SUCCESS;
}

const std::vector<std::string> kShowWlanAp = {"Show running system information", "Wireless LAN",
                                              "Access points"};

std::vector<std::string> With(std::vector<std::string> base, std::vector<std::string> more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

}  // namespace

std::span<const CliCommand> capwap_show_commands() {
  static const auto table_help = With(kShowWlanAp, {"All access points", "Access points of one group",
                                       "Group number"});
  static const auto name_help = With(kShowWlanAp, {"One access point by name", "AP name"});
  static const CliCommand table[] = {
      {ALL_VIEW_NODES, "show wlan ap (all|ap-group <1-255>)", table_help, {"group"}, ShowApTable},
      {kApNode, "show wlan ap (all|ap-group <1-255>)", table_help, {"group"}, ShowApTable},
      {ALL_VIEW_NODES, "show wlan ap name WORD", name_help, {"name"}, ShowOneAp},
      {kApNode, "show wlan ap name WORD", name_help, {"name"}, ShowOneAp},
      {ALL_VIEW_NODES, "show wlan ap name WORD detail", With(name_help, {"Identity and versions"}),
       {"name"}, ShowApDetail},
      {ALL_VIEW_NODES, "show wlan ap name WORD timers", With(name_help, {"Session timers"}),
       {"name"}, ShowApTimers},
      {ALL_VIEW_NODES, "show wlan ap firmware-version",
       With(kShowWlanAp, {"Software versions reported by the APs"}), {}, ShowFirmwareVersions},
      {ALL_VIEW_NODES, "show wtp",
       {"Show running system information", "Endpoint index of the APs"}, {}, ShowWtpIndex,
       kPrivilegeUser, true},
  };
  return table;
}
