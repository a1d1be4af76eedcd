// Daemon-wide switches: automatic admission and its persistence, the
// broadcast-discovery filter, tunnel scrambling and the standard dialect,
// with their node writer.
#include "cli/cli_init.h"
#include "config/ap_persist.h"
#include "platform/cli.h"
#include "transport/codec.h"
#include "transport/rfc.h"

namespace {

const char* const kNo = "Negate a command or set its defaults";
const char* const kWlan = "Wireless LAN settings";
const char* const kAutoAp = "Automatic admission of unknown APs";
const char* const kCapwap = "CAPWAP settings";

int AutoAp(vty*, const CliArgs& args) {
  CW_CMD_Set_AutoEnable(args.Str("state") == "enable" ? 1 : 0);
  return CLI_SUCCESS;
}

template <uint8_t On>
int AutoPersistent(vty*, const CliArgs&) {
  CW_CMD_Set_Autoap_PresistentEnable(On);
  return CLI_SUCCESS;
}

template <bool Forbid>
int BroadcastForbid(vty*, const CliArgs&) {
  SetBroadcastForbid(Forbid);
  return CLI_SUCCESS;
}

template <uint8_t On>
int TunnelEncrypt(vty*, const CliArgs&) {
  g_ucNeedEncrypt = On;
  return CLI_SUCCESS;
}

int RfcCompat(vty*, const CliArgs& args) {
  SetRfcCompat(args.Str("state") == "enable");
  return CLI_SUCCESS;
}

}  // namespace

int capwap_autoap_mode_write(vty* v) {
  // Both switches are written as they are, off as well as on: start-up
  // turns both on before the replay, so a switch written only when on would
  // come back on after a restart.
  vty_out(v, g_bCwAutoApEnabled == 1 ? "wlan auto-ap enable\n" : "wlan auto-ap disable\n");
  vty_out(v, g_bCwAutoApPersistentEnabled == 1 ? "wlan auto-ap auto-persistent enable\n"
                                               : "no wlan auto-ap auto-persistent enable\n");
  if (discovery_filter & kDiscoveryFilterBroadcast) {
    vty_out(v, "capwap discovery broadcast forbidden\n");
  }
  vty_out(v, "!\n");
  agent_cloud_server_config_write(v);
  if (g_ucNeedEncrypt == 1) vty_out(v, "capwap tunnel-encrypt enable\n!\n");
  if (capwap::RfcCompatOn()) vty_out(v, "capwap rfc-compat enable\n!\n");
  return 0;
}

std::span<const CliCommand> capwap_switch_commands() {
  static const CliCommand table[] = {
      {CONFIG_NODE, "wlan auto-ap (enable|disable)",
       {kWlan, kAutoAp, "Admit unknown APs", "Refuse unknown APs"}, {"state"}, AutoAp},
      {CONFIG_NODE, "wlan auto-ap auto-persistent enable",
       {kWlan, kAutoAp, "Keep admitted APs once they run", "Turn it on"}, {},
       AutoPersistent<1>},
      {CONFIG_NODE, "no wlan auto-ap auto-persistent enable",
       {kNo, kWlan, kAutoAp, "Keep admitted APs once they run", "Turn it on"}, {},
       AutoPersistent<0>},
      {CONFIG_NODE, "capwap discovery broadcast forbidden",
       {kCapwap, "Discovery", "Broadcast Discovery Requests", "Drop them"}, {},
       BroadcastForbid<true>},
      {CONFIG_NODE, "no capwap discovery broadcast forbidden",
       {kNo, kCapwap, "Discovery", "Broadcast Discovery Requests", "Drop them"}, {},
       BroadcastForbid<false>},
      {CONFIG_NODE, "capwap tunnel-encrypt enable",
       {kCapwap, "Scramble control and keepalive traffic", "Turn it on"}, {}, TunnelEncrypt<1>},
      {CONFIG_NODE, "no capwap tunnel-encrypt enable",
       {kNo, kCapwap, "Scramble control and keepalive traffic", "Turn it on"}, {},
       TunnelEncrypt<0>},
      {CONFIG_NODE, "capwap rfc-compat (enable|disable)",
       {kCapwap, "Standard (RFC 5415/5416) access points of other vendors",
        "Serve them beside this system's own", "Refuse them (default)"},
       {"state"}, RfcCompat},
  };
  return table;
}
