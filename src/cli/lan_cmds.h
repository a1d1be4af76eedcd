// The LAN settings an AP and an AP group both carry (LAN IP, DHCP range, DNS
// servers, n2n server): one implementation of their commands, applied to the
// fields of either record, and their running-configuration lines. Private to
// the AP and AP-group command modules.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

class CliArgs;
struct CW_WTPCB;
struct vty;

// The LAN fields of one record. Addresses are kept in network order, as
// parsed; the n2n port and the lease time (minutes) are plain numbers.
struct LanFields {
  uint32_t& lan_addr;
  uint32_t& lan_prefixlen;
  uint32_t& dhcp_low;
  uint32_t& dhcp_high;
  uint32_t& dhcp_lease;
  std::array<uint32_t, 4>& dns;
  uint32_t& n2n_addr;
  uint16_t& n2n_port;
};

enum class LanCommand { kLanIp, kNoLanIp, kDhcp, kNoDhcp, kDns, kNoDns, kN2n, kNoN2n };

// What a LAN command did: its CLI result and, when the APs must hear of it,
// the Configuration Update item to push with its record (item 0: nothing).
struct LanOutcome {
  int result = 0;
  uint32_t item = 0;
  capwap::Bytes record;
};

// Applies the command with its arguments to the fields. Refusals print their
// message and change nothing. The set forms push only a changed value; the
// "no" forms clear and always push.
LanOutcome ApplyLanCommand(vty* v, const CliArgs& args, LanCommand command, LanFields fields);

// True while the AP's virtual AP profile isolates its clients by link: its
// wired LAN ports are then the profile's, and VLAN changes are not sent.
bool LanPortsIsolatedByLink(const CW_WTPCB& wtp);

// Dotted text of a network-order address.
std::string DottedAddress(uint32_t network_order);
// The lines " n2n-server", " lan-ip-address", " lan-dhcp range" and
// " dns-server" for the set fields, in that order (no others).
void WriteLanLines(vty* v, const LanFields& fields);

// Grammars of the shared commands with their help and argument names, for
// the command tables of both nodes.
struct LanCommandRow {
  LanCommand command;
  const char* grammar;
  std::vector<std::string> help;
  std::vector<std::string> args;
};
const std::vector<LanCommandRow>& LanCommandRows();
