// The vty host kept in lib_globals::host: the nodes with their commands and
// writers, the configuration file in use and the TCP server. Private to the
// vty and CLI sources.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cli.h"
#include "platform/cli_match.h"
#include "platform/vty_server.h"

namespace capwap::cli {

struct NodeInfo {
  std::string prompt_suffix;  // "config-ap" for "capwap(config-ap)# "
  int parent = CONFIG_NODE;
  std::vector<std::unique_ptr<InstalledCommand>> commands;
  std::set<std::string> form_keys;  // duplicate detection
  cli_writer writer = nullptr;
  int writer_order = 0;
};

}  // namespace capwap::cli

struct cli_host {
  lib_globals* ctx = nullptr;
  std::map<int, capwap::cli::NodeInfo> nodes;
  std::string config_file;
  // The running configuration as the configuration file rebuilds it: taken
  // after the start-up replay and at every successful write. None before the
  // replay.
  std::optional<std::string> saved_config;
  // Idle timeout of new sessions ("line vty" / "exec-timeout").
  capwap::cli::ExecTimeout exec_timeout;
  std::unique_ptr<capwap::cli::VtyServer> server;
};

namespace capwap::cli {

// The host of ctx, or null (logged) when host_vty_init has not run.
cli_host* HostOf(lib_globals* ctx);
// True for CONFIG_NODE and every daemon node.
inline bool IsConfigNode(int node) { return node != VIEW_NODE && node != EXEC_NODE; }
// True for the configuration sub-nodes ("line vty" and the daemon's nodes).
inline bool IsConfigSubNode(int node) { return IsConfigNode(node) && node != CONFIG_NODE; }

}  // namespace capwap::cli
