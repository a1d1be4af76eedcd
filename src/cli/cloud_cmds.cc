// The cloud server commands and their lines in the switches writer.
#include <string>

#include "cli/cli_init.h"
#include "export/cloud.h"
#include "platform/cli.h"

namespace {

const char* const kCloud = "Cloud management";
const char* const kServer = "The cloud server the appliance and its APs connect to";
const char* const kPort = "Server port";
const char* const kPortNumber = "Port number";
constexpr const char* kMsgReconnect = "Failed to set up mqtt server ip or port.\n";

int Report(vty* v, CloudSetResult result) {
  if (result != CloudSetResult::kReconnectFailed) return CLI_SUCCESS;
  vty_out(v, "%s", kMsgReconnect);
  return CLI_WARNING;
}

template <uint8_t Domain>
int SetServer(vty* v, const CliArgs& args) {
  const std::string host = args.Str("host");
  // A longer name would not fit the APs' 128-byte field; cutting it would
  // point them at another host.
  if (host.empty() || host.size() > kCloudHostMax) {
    vty_out(v, "%% The cloud server name is longer than %zu characters.\n", kCloudHostMax);
    return CLI_WARNING;
  }
  const auto port = static_cast<uint16_t>(args.U32("port").value_or(kCloudDefaultPort));
  return Report(v, CloudServerSet(host, port, Domain));
}

int NoServer(vty* v, const CliArgs&) { return Report(v, CloudServerClear()); }

}  // namespace

void agent_cloud_server_config_write(vty* v) {
  const CloudServerSetting& s = G_cloud_server;
  if (s.host.empty()) return;
  // The local server is the default: it needs no line. The separator goes
  // with a line, so a replay writes the same text back.
  if (s.domain == 1 && !CloudHostIsLocal(s.host)) {
    vty_out(v, "cloud server %s port %d\n!\n", s.host.c_str(), s.port);
  } else if (s.domain == 0 && s.host != CloudDefaultHost()) {
    vty_out(v, "cloud server ip %s port %d\n!\n", s.host.c_str(), s.port);
  }
}

std::span<const CliCommand> capwap_cloud_commands() {
  static const CliCommand table[] = {
      {CONFIG_NODE, "cloud server ip A.B.C.D port <1-65535>",
       {kCloud, kServer, "By IPv4 address", "Server address", kPort, kPortNumber},
       {"host", "port"}, SetServer<0>},
      {CONFIG_NODE, "cloud server WORD port <1-65535>",
       {kCloud, kServer, "Server name (\"local\": the appliance's own)", kPort, kPortNumber},
       {"host", "port"}, SetServer<1>},
      {CONFIG_NODE, "no cloud server",
       {"Negate a command or set its defaults", kCloud, kServer}, {}, NoServer},
  };
  return table;
}
