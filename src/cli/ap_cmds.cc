// AP commands: declaring, entering, renaming, deleting and keeping APs from
// the global configuration node, the AP node's per-AP settings, and the node
// writer that prints the configured APs back.
//
// The AP node's context is the APID; every sub-command looks the AP up
// again, so an AP deleted from another session is refused cleanly. A setting
// changes the control block first, then (where it persists) records the
// change mark and stores the cw_ap record, and, only for an AP in Run, sends
// one Configuration Update Request with the item that carries the setting.
// The others receive it in their next Configuration Status exchange.
#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "cli/cli_init.h"
#include "cli/lan_cmds.h"
#include "config/ap_group.h"
#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "fsm/reset.h"
#include "platform/cli.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/policy.h"
#include "relay/wmac.h"

namespace {

constexpr const char* kMsgNoAp = "%The AP does not exist.\n";
constexpr const char* kMsgNameTooLongCreate =
    "The Ap Name is too long, cannot modify the AP Name\n";
constexpr const char* kMsgNameTooLong = "The Ap Name is too long,cannot modify the AP Name\n";
constexpr const char* kMsgModelFixed = "The Ap has been created, cannot modify the AP model!\n";
constexpr const char* kMsgMacRunning = "AP is Running,can not change Mac address\n";
constexpr const char* kMsgInterval = "The interval are not allowed to be less than 3 except 0\n";
constexpr const char* kMsgLinkIsolation = "Warning: network isolation by link is working.\n";
constexpr const char* kNo = "Negate a command or set its defaults";

constexpr uint16_t kDefaultEcho = 10;
constexpr uint16_t kDefaultRetrans = 5;
constexpr uint8_t kDefaultPriority = 4;
constexpr uint8_t kNoMaxRetrans = 9;
constexpr uint16_t kCapabilityMesh = 2;

int Refuse(vty* v, const char* message) {
  vty_out(v, "%s", message);
  return CLI_WARNING;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool MacIsZero(const std::array<uint8_t, 6>& mac) { return mac == std::array<uint8_t, 6>{}; }

// A unicast address that is not all zero.
bool MacUsable(const std::array<uint8_t, 6>& mac) { return !MacIsZero(mac) && !(mac[0] & 1); }

// The change mark (where the setting is one another consumer synchronises)
// and the cw_ap record. A failed store is not reported.
void Save(CW_WTPCB& wtp, bool mark) {
  if (mark) CW_WTP_Mark_Store(&wtp);
  StoreWtp(&wtp);
}

void Push(CW_WTPCB& wtp, uint32_t item, capwap::ByteView record) {
  if (wtp.state == kStateRun) CW_AC_SndCfgUpdReqItem(&wtp, item, CwCfgItem(record));
}

// Item 62: bit 0 antenna external, bit 1 anti-attack, bit 2 TPC.
void PushAntennaFlags(CW_WTPCB& wtp) {
  const uint8_t flags = static_cast<uint8_t>((wtp.antenna_external ? 1 : 0) |
                                             (wtp.anti_attack ? 2 : 0) | (wtp.tpc ? 4 : 0));
  Push(wtp, kItemAntennaFlags, ItemU8(flags));
}

// Item 63 goes only to a mesh-capable AP.
void PushMesh(CW_WTPCB& wtp) {
  if (!(wtp.capability & kCapabilityMesh)) return;
  const std::array<uint8_t, 3> mesh = {wtp.mesh_role, wtp.mesh_id, wtp.mesh_data_path};
  Push(wtp, kItemMesh, mesh);
}

LanFields LanOf(CW_WTPCB& wtp) {
  return {wtp.lan_ip.addr,  wtp.lan_ip.prefixlen, wtp.lan_dhcp.low, wtp.lan_dhcp.high,
          wtp.lan_dhcp.lease, wtp.dns,            wtp.n2n.addr,     wtp.n2n.port};
}

int EnterAp(vty* v, const CW_WTPCB& wtp) {
  if (wtp.auto_created == 1) return Refuse(v, "the Auto Ap can not be set!\n");
  v->index = wtp.apid;
  v->node = kApNode;
  return CLI_SUCCESS;
}

// --- Global configuration node ------------------------------------------

int CreateAp(vty* v, const CliArgs& args) {
  const std::string name = args.Str("name");
  if (name.size() > kWtpNameMax) return Refuse(v, kMsgNameTooLongCreate);
  const std::string model = Lower(args.Str("model"));
  CW_WTPCB* by_name = CW_AC_GetWTPByNAME(name);
  uint32_t apid = 0xFFFFFFFFu;  // the lowest free one
  if (args.Present("apid")) {
    apid = args.U32("apid").value_or(0);
    CW_WTPCB* by_id = CW_AC_GetWTPByID(apid);
    if (by_name && by_id && by_name != by_id) {
      return Refuse(v, "The input 'name' and 'ID' belong to different Ap,Can not create Ap!\n");
    }
    if ((by_name == nullptr) != (by_id == nullptr)) {
      return Refuse(v, "%Illegal input to create AP: duplicate AP name or ID\n");
    }
  }
  if (by_name) return by_name->model != model ? Refuse(v, kMsgModelFixed) : EnterAp(v, *by_name);
  CW_WTPCB* wtp = CW_AC_CreateWTP(model, apid, name, 0);
  if (!wtp) {
    return Refuse(v, "%Failed to create AP, please check ap model, radio count and type.\n");
  }
  return EnterAp(v, *wtp);
}

int EnterExistingAp(vty* v, const CliArgs& args) {
  const std::string name = args.Str("name");
  if (name.size() > kWtpNameMax) return Refuse(v, kMsgNameTooLong);
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(name);
  if (!wtp) return Refuse(v, "Please specify ap model first.\n");
  return EnterAp(v, *wtp);
}

// The model stays in use while another AP of it exists. False when its
// record has gone.
bool ReleaseModel(const CW_WTPCB& wtp) {
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    const CW_WTPCB* other = CW_AC_GetWTPByID(apid);
    if (other && other != &wtp && other->model == wtp.model) {
      return ApModelFetch(wtp.model).has_value();
    }
  }
  return ApModelSetInUse(wtp.model, 0) == 0;
}

int DeleteAp(vty* v, const CliArgs& args) {
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(args.Str("name"));
  if (!wtp) return Refuse(v, kMsgNoAp);
  if (wtp->state != kStateIdle) {
    CW_AC_SndResetReq(wtp);
    __CW_AC_HandleTunnelDown(wtp, "no_capwap_create_ap", __LINE__);
  }
  if (!ReleaseModel(*wtp)) {
    return Refuse(v, "The input AP Model is not exist, please check ApModel.\n");
  }
  CW_AC_FreeWTP(wtp);
  return CLI_SUCCESS;
}

int RenameAp(vty* v, const CliArgs& args) {
  const std::string old_name = args.Str("name");
  const std::string new_name = args.Str("new_name");
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(old_name);
  if (!wtp) {
    vty_out(v, "the %s WTP does not exist!\n", old_name.c_str());
    return CLI_WARNING;
  }
  if (new_name.empty() || CW_AC_GetWTPByNAME(new_name)) {
    return Refuse(v, "The input AP name already exist, please change a new one.\n");
  }
  if (new_name.size() > kWtpNameMax) return Refuse(v, kMsgNameTooLong);
  CW_AC_DelWtpFromName(wtp);
  wtp->name = new_name;
  CW_AC_AddWTPByNAME(wtp->name, wtp);
  WMAC_AC_IPC_NotifyApName(wtp->apid, wtp->name);
  Save(*wtp, true);
  return CLI_SUCCESS;
}

void KeepAutoAp(CW_WTPCB& wtp) {
  if (wtp.name.empty() || wtp.auto_created != 1 || wtp.state != kStateRun) return;
  wtp.auto_created = 0;
  Save(wtp, true);
}

int PersistAutoAps(vty* v, const CliArgs& args) {
  if (!args.Present("name")) {
    for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
      if (CW_WTPCB* wtp = CW_AC_GetWTPByID(apid)) KeepAutoAp(*wtp);
    }
    return CLI_SUCCESS;
  }
  const std::string name = args.Str("name");
  CW_WTPCB* wtp = CW_AC_GetWTPByNAME(name);
  if (!wtp) {
    vty_out(v, "the AP %s does not exist!\n", name.c_str());
    return CLI_WARNING;
  }
  KeepAutoAp(*wtp);
  return CLI_SUCCESS;
}

// --- AP node --------------------------------------------------------------

using ApHandler = int (*)(vty* v, CW_WTPCB& wtp, const CliArgs& args);

template <ApHandler H>
int OnAp(vty* v, const CliArgs& args) {
  CW_WTPCB* wtp = capwap_node_ap(v);
  return wtp ? H(v, *wtp, args) : CLI_WARNING;
}

int MacAddress(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const std::string text = args.Str("mac");
  std::array<uint8_t, 6> mac{};
  if (!cli_is_mac(text.c_str()) ||
      sscanf(text.c_str(), "%02hhX%02hhX.%02hhX%02hhX.%02hhX%02hhX", &mac[0], &mac[1], &mac[2],
             &mac[3], &mac[4], &mac[5]) != 6 ||
      !MacUsable(mac)) {
    vty_out(v, "%% mac %s is invalid.\n", text.c_str());
    return CLI_WARNING;
  }
  CW_WTPCB* holder = CW_AC_GetWTPByMac(mac);
  if (holder && holder != &wtp) return Refuse(v, "The Mac address is in use! \n");
  if (wtp.state != kStateIdle) return Refuse(v, kMsgMacRunning);
  if (!MacIsZero(wtp.mac) && wtp.mac != mac) {
    CW_WTP_Del_By_Mac(&wtp);  // while the block still names the old MAC
    CW_AC_DelWtpFromMacTable(&wtp);
  }
  wtp.mac = mac;
  CW_AC_AddWTPByMac(mac, &wtp);
  WMAC_AC_IPC_NotifyApInfo(WmacApInfoOf(wtp));
  return CLI_SUCCESS;
}

int NoMacAddress(vty* v, CW_WTPCB& wtp, const CliArgs&) {
  if (MacIsZero(wtp.mac)) return CLI_SUCCESS;
  if (wtp.state != kStateIdle) return Refuse(v, kMsgMacRunning);
  CW_WTP_Del_By_Mac(&wtp);
  CW_AC_DelWtpFromMacTable(&wtp);
  return CLI_SUCCESS;
}

int LedMode(vty*, CW_WTPCB& wtp, const CliArgs& args) {
  const uint8_t quiet = args.Str("mode") == "quiet" ? 1 : 0;
  if (wtp.led_quiet == quiet) return CLI_SUCCESS;
  wtp.led_quiet = quiet;
  Push(wtp, kItemLedMode, ItemU8(quiet));
  return CLI_SUCCESS;
}

int Priority(vty*, CW_WTPCB& wtp, const CliArgs& args) {
  wtp.priority = static_cast<uint8_t>(args.U32("priority").value_or(kDefaultPriority));
  Save(wtp, true);
  return CLI_SUCCESS;
}

// 0 and 3-255 are intervals; 1 and 2 are refused.
bool IntervalAllowed(vty* v, uint32_t value) {
  if (value == 1 || value == 2) {
    vty_out(v, "%s", kMsgInterval);
    return false;
  }
  return true;
}

int SetRetransmit(CW_WTPCB& wtp, uint16_t value) {
  wtp.retrans_interval = value;
  Save(wtp, false);
  Push(wtp, kItemRetransInterval, ItemU16(value));
  return CLI_SUCCESS;
}

int RetransmitInterval(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint32_t value = args.U32("interval").value_or(kDefaultRetrans);
  if (!IntervalAllowed(v, value)) return CLI_WARNING;
  return SetRetransmit(wtp, static_cast<uint16_t>(value));
}

int NoRetransmitInterval(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetRetransmit(wtp, kDefaultRetrans);
}

// In Run the AP hears the new timers and its neighbour-dead timer starts
// again from four of the new intervals (stopped for 0).
int SetEcho(CW_WTPCB& wtp, uint16_t value) {
  wtp.echo_interval = value;
  Save(wtp, true);
  if (wtp.state != kStateRun) return CLI_SUCCESS;
  const std::array<uint8_t, 2> timers = {static_cast<uint8_t>(wtp.discovery_interval & 0xFF),
                                         static_cast<uint8_t>(value & 0xFF)};
  Push(wtp, kItemCapwapTimers, timers);
  capwap::RestartNbrDeadTimer(&wtp, 4L * value);
  return CLI_SUCCESS;
}

int EchoInterval(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint32_t value = args.U32("interval").value_or(kDefaultEcho);
  if (!IntervalAllowed(v, value)) return CLI_WARNING;
  return SetEcho(wtp, static_cast<uint16_t>(value));
}

int NoEchoInterval(vty*, CW_WTPCB& wtp, const CliArgs&) { return SetEcho(wtp, kDefaultEcho); }

int SetMaxRetrans(CW_WTPCB& wtp, uint8_t count) {
  wtp.max_retrans = count;
  Save(wtp, false);
  Push(wtp, kItemMaxRetrans, ItemU16(count));
  return CLI_SUCCESS;
}

int MaxRetrans(vty*, CW_WTPCB& wtp, const CliArgs& args) {
  return SetMaxRetrans(wtp, static_cast<uint8_t>(args.U32("count").value_or(kNoMaxRetrans)));
}

int NoMaxRetrans(vty*, CW_WTPCB& wtp, const CliArgs&) { return SetMaxRetrans(wtp, kNoMaxRetrans); }

int Description(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  std::string text = args.Str("text");
  if (text.size() >= 64) return Refuse(v, "The ap description is too long, please modify.\n");
  wtp.description = std::move(text);
  Save(wtp, true);
  return CLI_SUCCESS;
}

int NoDescription(vty*, CW_WTPCB& wtp, const CliArgs&) {
  wtp.description.clear();
  Save(wtp, true);
  return CLI_SUCCESS;
}

int StaticIp(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint32_t addr = ntohl(args.Ipv4("addr").value_or(in_addr{}).s_addr);
  const uint32_t mask = ntohl(args.Ipv4("mask").value_or(in_addr{}).s_addr);
  const uint32_t gateway = ntohl(args.Ipv4("gateway").value_or(in_addr{}).s_addr);
  if (mask == 0xFFFFFFFFu) return Refuse(v, "the netmask is not to be 255.255.255.255!\n");
  wtp.static_ip = {addr, mask, gateway, 1};
  Save(wtp, true);
  Push(wtp, kItemStaticIp, CwItemStaticIp{addr, mask, gateway, 1}.Record());
  return CLI_SUCCESS;
}

int NoStaticIp(vty*, CW_WTPCB& wtp, const CliArgs&) {
  wtp.static_ip = {};
  Save(wtp, true);
  Push(wtp, kItemStaticIp, CwItemStaticIp{}.Record());
  return CLI_SUCCESS;
}

// Mesh settings: each changes only when different, then marks, stores and
// pushes the triple; a new mesh ID is also told to WMAC.
template <typename Field>
int SetMesh(CW_WTPCB& wtp, Field& field, Field value, bool tell_wmac) {
  if (field == value) return CLI_SUCCESS;
  field = value;
  Save(wtp, true);
  if (tell_wmac) {
    const uint8_t mesh[3] = {wtp.mesh_role, wtp.mesh_id, wtp.mesh_data_path};
    WMAC_AC_IPC_NotifyMeshInfo(wtp.apid, mesh);
  }
  PushMesh(wtp);
  return CLI_SUCCESS;
}

int MeshRole(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetMesh<uint8_t>(wtp, wtp.mesh_role, 1, false);
}
int NoMeshRole(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetMesh<uint8_t>(wtp, wtp.mesh_role, 0, false);
}
int MeshId(vty*, CW_WTPCB& wtp, const CliArgs& args) {
  return SetMesh<uint8_t>(wtp, wtp.mesh_id, static_cast<uint8_t>(args.U32("id").value_or(0)),
                          true);
}
int NoMeshId(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetMesh<uint8_t>(wtp, wtp.mesh_id, 0, true);
}

int MeshDataPath(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint8_t path = args.Str("path") == "5g" ? 2 : 1;
  // Custom models are not checked.
  const CW_APMODEL* model = CW_GetApModelInfo_ByModel(wtp.model);
  if (path == 2 && model && !(model->capability & kModelCap5g)) {
    vty_out(v, "This model %s does not support cellular 5G\n", wtp.model.c_str());
    return CLI_WARNING;
  }
  return SetMesh<uint8_t>(wtp, wtp.mesh_data_path, path, false);
}
int NoMeshDataPath(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetMesh<uint8_t>(wtp, wtp.mesh_data_path, 0, false);
}

template <LanCommand C>
int ApLan(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  LanOutcome outcome = ApplyLanCommand(v, args, C, LanOf(wtp));
  if (outcome.item != 0) Push(wtp, outcome.item, outcome.record);
  return outcome.result;
}

// The built-in model of the AP when it has wired LAN ports, else null.
const CW_APMODEL* LanModel(const CW_WTPCB& wtp) {
  const CW_APMODEL* model = CW_GetApModelInfo_ByModel(wtp.model);
  return model && (model->capability & kModelCapLan) ? model : nullptr;
}

// After a stored LAN-port VLAN change: refused while the AP's virtual AP
// profile isolates by link, else sent to a running AP by `send`.
int SendLanVlan(vty* v, CW_WTPCB& wtp, int (*send)(CW_WTPCB*)) {
  if (LanPortsIsolatedByLink(wtp)) return Refuse(v, kMsgLinkIsolation);
  if (wtp.state == kStateRun) send(&wtp);
  return CLI_SUCCESS;
}

int SetLanVlan(vty* v, CW_WTPCB& wtp, uint32_t vlan) {
  if (wtp.lan_vlan == vlan) return CLI_SUCCESS;
  wtp.lan_vlan = vlan;
  Save(wtp, true);
  return SendLanVlan(v, wtp, AC_SndWiredLanVlan);
}

int LanVlan(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  if (!LanModel(wtp)) {
    vty_out(v, "This model %s does not support lan port\n", wtp.model.c_str());
    return CLI_WARNING;
  }
  uint32_t vlan = args.U32("vlan").value_or(0);
  if (vlan == 1) {  // none: the group's VLAN applies when it has one
    const CW_APGROUP* group = ApGroupGet(wtp.group_id);
    vlan = group && group->lan_vlan >= 2 ? group->lan_vlan : 0;
  }
  return SetLanVlan(v, wtp, vlan);
}

int NoLanVlan(vty* v, CW_WTPCB& wtp, const CliArgs&) { return SetLanVlan(v, wtp, 0); }

// The port argument when the AP's built-in model has that many LAN ports;
// 0 after the refusal. With `need_capability` a model without LAN ports is
// refused as well.
uint8_t LanPort(vty* v, const CW_WTPCB& wtp, const CliArgs& args, bool need_capability) {
  const CW_APMODEL* model = CW_GetApModelInfo_ByModel(wtp.model);
  if (!model || (need_capability && !(model->capability & kModelCapLan))) {
    vty_out(v, "Warning: custorm ap model %s not support lan vlan.\n", wtp.model.c_str());
    return 0;
  }
  const uint32_t port = args.U32("port").value_or(0);
  if (port < 1 || port > model->lan_ports) {
    vty_out(v, "Error: There are %d lan ports in Ap %s.\n", model->lan_ports, wtp.name.c_str());
    return 0;
  }
  return static_cast<uint8_t>(port);
}

int SetPortVlan(vty* v, CW_WTPCB& wtp, uint8_t port, uint16_t vlan) {
  capwap::LanPortVlan& slot = wtp.lan_port_vlan[port - 1];
  if (slot.port == port && slot.vlan == vlan) return CLI_SUCCESS;
  slot = {port, vlan};
  Save(wtp, true);
  return SendLanVlan(v, wtp, AC_SndWiredLanVlan2);
}

int PortVlan(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint8_t port = LanPort(v, wtp, args, true);
  if (port == 0) return CLI_WARNING;
  const uint32_t vlan = args.U32("vlan").value_or(0);
  return SetPortVlan(v, wtp, port, static_cast<uint16_t>(vlan <= 1 ? 0 : vlan));
}

int NoPortVlan(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  const uint8_t port = LanPort(v, wtp, args, false);
  if (port == 0) return CLI_WARNING;
  if (wtp.lan_port_vlan[port - 1].vlan == 0) return CLI_SUCCESS;
  return SetPortVlan(v, wtp, port, 0);
}

int SetPortAdmin(CW_WTPCB& wtp, const CliArgs& args, uint8_t enabled) {
  const auto port = static_cast<uint8_t>(args.U32("port").value_or(1));
  wtp.lan_port_admin[port - 1] = {port, enabled};
  Save(wtp, false);
  Push(wtp, kItemLanPortAdmin, std::array<uint8_t, 2>{port, enabled});
  return CLI_SUCCESS;
}

int PortShutdown(vty*, CW_WTPCB& wtp, const CliArgs& args) { return SetPortAdmin(wtp, args, 0); }
int NoPortShutdown(vty*, CW_WTPCB& wtp, const CliArgs& args) {
  return SetPortAdmin(wtp, args, 1);
}

int SetAntennaFlag(CW_WTPCB& wtp, uint8_t& field, uint8_t value) {
  if (field == value) return CLI_SUCCESS;
  field = value;
  Save(wtp, true);
  PushAntennaFlags(wtp);
  return CLI_SUCCESS;
}

int AntennaType(vty* v, CW_WTPCB& wtp, const CliArgs& args) {
  if (!CW_isSupportAntTypeSW(wtp.model)) {
    vty_out(v, "This model %s does not support internal and external antenna switching\n",
            wtp.model.c_str());
    return CLI_WARNING;
  }
  return SetAntennaFlag(wtp, wtp.antenna_external, args.Str("type") == "external" ? 1 : 0);
}

template <bool On>
int AntiAttack(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetAntennaFlag(wtp, wtp.anti_attack, On ? 1 : 0);
}

template <bool On>
int Tpc(vty*, CW_WTPCB& wtp, const CliArgs&) {
  return SetAntennaFlag(wtp, wtp.tpc, On ? 1 : 0);
}

// The flag is configuration: it is kept even when it cannot be applied now,
// and applied when WMAC sets the collection period. A replay sets it
// quietly, as every AP is offline then.
int RtCollect(vty* v, CW_WTPCB& wtp, const CliArgs&) {
  wtp.rt_collect = 1;
  if (wtp.state == kStateIdle || g_ucApRtCollectTime == 0) {
    return v->replaying ? CLI_SUCCESS : Refuse(v, "Please set RT collect period first!\n");
  }
  if (wtp.state == kStateRun) CW_AC_SndCfgRcollection(&wtp, 1, g_ucApRtCollectTime);
  return CLI_SUCCESS;
}

int NoRtCollect(vty*, CW_WTPCB& wtp, const CliArgs&) {
  wtp.rt_collect = 0;
  if (wtp.state == kStateRun && g_ucApRtCollectTime != 0) {
    CW_AC_SndCfgRcollection(&wtp, 0, g_ucApRtCollectTime);
  }
  return CLI_SUCCESS;
}

cli_handler ApLanHandler(LanCommand command) {
  switch (command) {
    case LanCommand::kLanIp: return OnAp<ApLan<LanCommand::kLanIp>>;
    case LanCommand::kNoLanIp: return OnAp<ApLan<LanCommand::kNoLanIp>>;
    case LanCommand::kDhcp: return OnAp<ApLan<LanCommand::kDhcp>>;
    case LanCommand::kNoDhcp: return OnAp<ApLan<LanCommand::kNoDhcp>>;
    case LanCommand::kDns: return OnAp<ApLan<LanCommand::kDns>>;
    case LanCommand::kNoDns: return OnAp<ApLan<LanCommand::kNoDns>>;
    case LanCommand::kN2n: return OnAp<ApLan<LanCommand::kN2n>>;
    case LanCommand::kNoN2n: return OnAp<ApLan<LanCommand::kNoN2n>>;
  }
  return nullptr;
}

// "wlan ap WORD model (WORD | <built-in models>) (apid <1-32>|)".
CliCommand CreateCommand() {
  CliCommand cmd{CONFIG_NODE, "wlan ap WORD model (WORD", {}, {"name", "model", "apid"}, CreateAp};
  cmd.help = {"Wireless LAN settings", "Declare or enter an AP", "AP name (up to 32 characters)",
              "AP model", "Custom model name"};
  for (int i = 0; i < g_ApModeNum && i < kApModelSlots; ++i) {
    cmd.grammar += " | " + g_astCWApdbList[i].name;
    cmd.help.push_back("Built-in model " + g_astCWApdbList[i].name);
  }
  cmd.grammar += ") (apid <1-32>|)";
  cmd.help.insert(cmd.help.end(), {"AP identifier", "Identifier"});
  return cmd;
}

void WriteOneAp(vty* v, CW_WTPCB& w) {
  vty_out(v, "wlan ap %s model %s apid %d\n", w.name.c_str(), w.model.c_str(),
          static_cast<int>(w.apid));
  if (!w.description.empty()) vty_out(v, " description %s\n", w.description.c_str());
  if (w.echo_interval != kDefaultEcho) vty_out(v, " echo-interval %d\n", w.echo_interval);
  if (w.retrans_interval != kDefaultRetrans) {
    vty_out(v, " retransmit-interval %d\n", w.retrans_interval);
  }
  if (w.max_retrans != 0) vty_out(v, " maximum-retransmission-count %d\n", w.max_retrans);
  if (w.led_quiet) vty_out(v, " led-mode quiet\n");
  if (!MacIsZero(w.mac)) {
    vty_out(v, " mac-address %02x%02x.%02x%02x.%02x%02x\n", w.mac[0], w.mac[1], w.mac[2],
            w.mac[3], w.mac[4], w.mac[5]);
  }
  if (w.static_ip.addr || w.static_ip.mask || w.static_ip.gateway) {
    vty_out(v, " ip address %s netmask %s gateway %s\n",
            DottedAddress(htonl(w.static_ip.addr)).c_str(),
            DottedAddress(htonl(w.static_ip.mask)).c_str(),
            DottedAddress(htonl(w.static_ip.gateway)).c_str());
  }
  WriteLanLines(v, LanOf(w));
  if (w.priority != kDefaultPriority) vty_out(v, " priority %d\n", w.priority);
  if (w.rt_collect == 1) vty_out(v, " ap-info real-time-collection enable\n");
  if (w.lan_vlan >= 2) vty_out(v, " lan-port vlan %d\n", static_cast<int>(w.lan_vlan));
  if (w.antenna_external == 1) vty_out(v, " antenna type external\n");
  if (w.anti_attack) vty_out(v, " anti-attack enable\n");
  if (w.tpc) vty_out(v, " tpc enable\n");
  for (const capwap::LanPortVlan& slot : w.lan_port_vlan) {
    if (slot.vlan >= 2) vty_out(v, " lan-port %d vlan %d\n", slot.port, slot.vlan);
  }
  for (const capwap::LanPortAdmin& slot : w.lan_port_admin) {
    if (slot.port == 0) continue;
    vty_out(v, slot.enabled == 1 ? " no lan-port %d shutdown\n" : " lan-port %d shutdown\n",
            slot.port);
  }
  if (w.mesh_role == 1) vty_out(v, " mesh-role mesh-portal\n");
  if (w.mesh_id != 0) vty_out(v, " mesh-id %d\n", w.mesh_id);
  if (w.mesh_data_path == 2) vty_out(v, " mesh-data-path 5g\n");
  if (w.mesh_data_path == 1) vty_out(v, " mesh-data-path wired\n");
  if (w.vap_profile_num != 0) vty_out(v, " virtual-ap-profile %d\n", w.vap_profile_num);
}

}  // namespace

CW_WTPCB* capwap_node_ap(vty* v) {
  const auto* apid = std::any_cast<uint32_t>(&v->index);
  CW_WTPCB* wtp = apid ? CW_AC_GetWTPByID(*apid) : nullptr;
  if (!wtp) vty_out(v, "%s", kMsgNoAp);
  return wtp;
}

int capwap_ap_mode_write(vty* v) {
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    CW_WTPCB* wtp = CW_AC_GetWTPByID(apid);
    if (!wtp || wtp->name.empty() || wtp->auto_created == 1) continue;
    WriteOneAp(v, *wtp);
    vty_out(v, "!\n");
  }
  return 0;
}

std::span<const CliCommand> capwap_ap_commands() {
  static std::vector<CliCommand> table;
  const char* const kWlan = "Wireless LAN settings";
  const char* const kAp = "An AP";
  const char* const kName = "AP name";
  const char* const kLanPort = "Wired LAN ports";
  table = {
      CreateCommand(),
      {CONFIG_NODE, "wlan ap WORD", {kWlan, kAp, kName}, {"name"}, EnterExistingAp},
      {CONFIG_NODE, "no wlan ap WORD", {kNo, kWlan, "Delete an AP", kName}, {"name"}, DeleteAp},
      {CONFIG_NODE,
       "wlan ap WORD change-name WORD",
       {kWlan, kAp, kName, "Rename the AP", "New name (up to 32 characters)"},
       {"name", "new_name"},
       RenameAp},
      {CONFIG_NODE,
       "wlan auto-ap persistent (name WORD | all)",
       {kWlan, "Automatically admitted APs", "Keep them as configured APs", "One AP", kName,
        "Every running one"},
       {"name"},
       PersistAutoAps},
      {kApNode, "mac-address WORD", {"Bind the AP's MAC address", "MAC as HHHH.HHHH.HHHH"},
       {"mac"}, OnAp<MacAddress>},
      {kApNode, "no mac-address", {kNo, "Unbind the AP's MAC address"}, {},
       OnAp<NoMacAddress>},
      {kApNode, "led-mode (quiet|normal)", {"LED behaviour", "LEDs off", "LEDs on"}, {"mode"},
       OnAp<LedMode>},
      {kApNode, "priority <1-7>", {"AC priority sent to the AP", "Priority"}, {"priority"},
       OnAp<Priority>},
      {kApNode, "no priority", {kNo, "AC priority back to 4"}, {}, OnAp<Priority>},
      {kApNode, "retransmit-interval <0-255>",
       {"Control retransmission interval", "Seconds (0, or 3 and more)"}, {"interval"},
       OnAp<RetransmitInterval>},
      {kApNode, "no retransmit-interval", {kNo, "Retransmission interval back to 5 s"}, {},
       OnAp<NoRetransmitInterval>},
      {kApNode, "echo-interval <0-255>", {"Echo interval", "Seconds (0, or 3 and more)"},
       {"interval"}, OnAp<EchoInterval>},
      {kApNode, "no echo-interval", {kNo, "Echo interval back to 10 s"}, {},
       OnAp<NoEchoInterval>},
      {kApNode, "maximum-retransmission-count <1-30>",
       {"Transmissions of a control request", "Count"}, {"count"}, OnAp<MaxRetrans>},
      {kApNode, "no maximum-transmission", {kNo, "Transmissions back to 9"}, {},
       OnAp<NoMaxRetrans>},
      {kApNode, "description WORD", {"AP description", "Text (up to 63 characters)"},
       {"text"}, OnAp<Description>},
      {kApNode, "no description", {kNo, "Clear the description"}, {},
       OnAp<NoDescription>},
      {kApNode, "ip address A.B.C.D netmask A.B.C.D gateway A.B.C.D",
       {"IP settings", "Static address of the AP", "Address", "Netmask", "Netmask",
        "Default gateway", "Gateway"},
       {"addr", "mask", "gateway"}, OnAp<StaticIp>},
      {kApNode, "no ip address", {kNo, "IP settings", "Back to a dynamic address"}, {},
       OnAp<NoStaticIp>},
      {kApNode, "mesh-role mesh-portal", {"Mesh role", "Mesh portal"}, {}, OnAp<MeshRole>},
      {kApNode, "no mesh-role", {kNo, "Mesh role"}, {}, OnAp<NoMeshRole>},
      {kApNode, "mesh-id <1-64>", {"Mesh identifier", "Identifier"}, {"id"}, OnAp<MeshId>},
      {kApNode, "no mesh-id", {kNo, "Mesh identifier"}, {}, OnAp<NoMeshId>},
      {kApNode, "mesh-data-path (wired|5g)", {"Mesh uplink", "Wired", "Cellular 5G"},
       {"path"}, OnAp<MeshDataPath>},
      {kApNode, "no mesh-data-path", {kNo, "Mesh uplink"}, {}, OnAp<NoMeshDataPath>},
      {kApNode, "lan-port vlan <1-4094>", {kLanPort, "VLAN of every port", "VLAN (1: none)"},
       {"vlan"}, OnAp<LanVlan>},
      {kApNode, "no lan-port vlan", {kNo, kLanPort, "VLAN of every port"}, {},
       OnAp<NoLanVlan>},
      {kApNode, "lan-port <1-4> vlan <1-4094>",
       {kLanPort, "Port number", "VLAN of the port", "VLAN (1: none)"}, {"port", "vlan"},
       OnAp<PortVlan>},
      {kApNode, "no lan-port <1-4> vlan", {kNo, kLanPort, "Port number", "VLAN of the port"},
       {"port"}, OnAp<NoPortVlan>},
      {kApNode, "lan-port <1-4> shutdown", {kLanPort, "Port number", "Disable the port"},
       {"port"}, OnAp<PortShutdown>},
      {kApNode, "no lan-port <1-4> shutdown",
       {kNo, kLanPort, "Port number", "Disable the port"}, {"port"}, OnAp<NoPortShutdown>},
      {kApNode, "antenna type (internal|external)",
       {"Antenna settings", "Antenna in use", "Internal antennas", "External antennas"},
       {"type"}, OnAp<AntennaType>},
      {kApNode, "anti-attack enable", {"Attack protection", "Turn it on"}, {},
       OnAp<AntiAttack<true>>},
      {kApNode, "no anti-attack enable", {kNo, "Attack protection", "Turn it on"}, {},
       OnAp<AntiAttack<false>>},
      {kApNode, "tpc enable", {"Transmit power control", "Turn it on"}, {}, OnAp<Tpc<true>>},
      {kApNode, "no tpc enable", {kNo, "Transmit power control", "Turn it on"}, {},
       OnAp<Tpc<false>>},
      {kApNode, "ap-info real-time-collection enable",
       {"AP information reports", "Real-time statistics collection", "Turn it on"}, {},
       OnAp<RtCollect>},
      {kApNode, "no ap-info real-time-collection",
       {kNo, "AP information reports", "Real-time statistics collection"}, {},
       OnAp<NoRtCollect>},
  };
  for (const LanCommandRow& row : LanCommandRows()) {
    table.push_back({kApNode, row.grammar, row.help, row.args, ApLanHandler(row.command)});
  }
  return table;
}
