#include "cli/lan_cmds.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform/cli.h"
#include "relay/cfg_update.h"

namespace {

template <size_t N>
capwap::Bytes RecordBytes(const std::array<uint8_t, N>& record) {
  return capwap::Bytes(record.begin(), record.end());
}

int Refuse(vty* v, const char* message) {
  vty_out(v, "%s", message);
  return CLI_WARNING;
}

int InvalidAddress(vty* v, const CliArgs& args, const char* slot) {
  vty_out(v, "%% INVALID IP ADDRESS %s.\n", args.Str(slot).c_str());
  return CLI_WARNING;
}

// The three-step range check against the LAN IP; on success *low and *high
// hold the range (network order).
int CheckDhcpRange(vty* v, const CliArgs& args, const LanFields& f, uint32_t* low,
                   uint32_t* high) {
  if (f.lan_addr == 0) return Refuse(v, "Please set lan-ip-address first!!\n");
  auto low_addr = args.Ipv4("low");
  if (!low_addr) return Refuse(v, "Please check the range low ip address\n");
  auto high_addr = args.Ipv4("high");
  if (!high_addr) return Refuse(v, "Please check the range high ip address\n");
  *low = low_addr->s_addr;
  *high = high_addr->s_addr;
  // Network order in memory: the bytes compare from the first octet.
  if (std::memcmp(high, low, sizeof *low) < 0) {
    return Refuse(v, "Range high should be greater than range low.\n");
  }
  in_addr mask{};
  masklen2ip(static_cast<int>(f.lan_prefixlen), &mask);
  if ((f.lan_addr & mask.s_addr) != (*low & mask.s_addr)) {
    return Refuse(v, "Please check low addr and lan ip address set\n");
  }
  if ((f.lan_addr & mask.s_addr) != (*high & mask.s_addr)) {
    return Refuse(v, "Please check high addr and lan ip address set\n");
  }
  return CLI_SUCCESS;
}

LanOutcome Refused(int result) {
  LanOutcome outcome;
  outcome.result = result;
  return outcome;
}

LanOutcome Push(uint32_t item, capwap::Bytes record) {
  return LanOutcome{CLI_SUCCESS, item, std::move(record)};
}

CwItemLanIp LanIpOf(const LanFields& f) { return {f.lan_addr, f.lan_prefixlen}; }
CwItemDhcpRange DhcpOf(const LanFields& f) { return {f.dhcp_low, f.dhcp_high, f.dhcp_lease}; }
CwItemN2nServer N2nOf(const LanFields& f) { return {f.n2n_addr, f.n2n_port}; }

}  // namespace

LanOutcome ApplyLanCommand(vty* v, const CliArgs& args, LanCommand command, LanFields f) {
  switch (command) {
    case LanCommand::kLanIp: {
      auto prefix = args.Prefix("prefix");
      if (!prefix) return Refused(InvalidAddress(v, args, "prefix"));
      if (f.lan_addr == prefix->prefix.s_addr && f.lan_prefixlen == prefix->prefixlen) return {};
      f.lan_addr = prefix->prefix.s_addr;
      f.lan_prefixlen = prefix->prefixlen;
      return Push(kItemLanIp, RecordBytes(LanIpOf(f).Record()));
    }
    case LanCommand::kNoLanIp:
      f.lan_addr = f.lan_prefixlen = 0;
      return Push(kItemLanIp, RecordBytes(LanIpOf(f).Record()));
    case LanCommand::kDhcp: {
      uint32_t low = 0, high = 0;
      if (int rc = CheckDhcpRange(v, args, f, &low, &high); rc != CLI_SUCCESS) return Refused(rc);
      const uint32_t lease = args.U32("lease").value_or(0);
      if (f.dhcp_low == low && f.dhcp_high == high && f.dhcp_lease == lease) return {};
      f.dhcp_low = low;
      f.dhcp_high = high;
      f.dhcp_lease = lease;
      return Push(kItemLanDhcp, RecordBytes(DhcpOf(f).Record()));
    }
    case LanCommand::kNoDhcp:
      f.dhcp_low = f.dhcp_high = f.dhcp_lease = 0;
      return Push(kItemLanDhcp, RecordBytes(DhcpOf(f).Record()));
    case LanCommand::kDns: {
      std::array<uint32_t, 4> servers{};
      for (size_t i = 0; i < servers.size(); ++i) {
        const std::string slot = "dns" + std::to_string(i + 1);
        if (!args.Present(slot)) continue;
        auto addr = args.Ipv4(slot);
        if (!addr) return Refused(InvalidAddress(v, args, slot.c_str()));
        servers[i] = addr->s_addr;
      }
      if (servers == f.dns) return {};
      f.dns = servers;
      return Push(kItemDnsServers, RecordBytes(CwItemDnsServers{servers}.Record()));
    }
    case LanCommand::kNoDns:
      f.dns.fill(0);
      return Push(kItemDnsServers, RecordBytes(CwItemDnsServers{}.Record()));
    case LanCommand::kN2n: {
      auto addr = args.Ipv4("addr");
      if (!addr) return Refused(InvalidAddress(v, args, "addr"));
      const auto port = static_cast<uint16_t>(args.U32("port").value_or(0));
      if (f.n2n_addr == addr->s_addr && f.n2n_port == port) return {};
      f.n2n_addr = addr->s_addr;
      f.n2n_port = port;
      return Push(kItemN2nServer, RecordBytes(N2nOf(f).Record()));
    }
    case LanCommand::kNoN2n:
      f.n2n_addr = 0;
      f.n2n_port = 0;
      return Push(kItemN2nServer, RecordBytes(N2nOf(f).Record()));
  }
  return {};
}

// The virtual AP profiles are not built yet: no control block refers to
// one, so no AP isolates by link.
bool LanPortsIsolatedByLink(const CW_WTPCB&) { return false; }

std::string DottedAddress(uint32_t network_order) {
  char text[INET_ADDRSTRLEN];
  in_addr addr{network_order};
  inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

void WriteLanLines(vty* v, const LanFields& f) {
  if (f.n2n_addr != 0) {
    vty_out(v, " n2n-server %s port %d\n", DottedAddress(f.n2n_addr).c_str(), f.n2n_port);
  }
  if (f.lan_addr != 0 || f.lan_prefixlen != 0) {
    vty_out(v, " lan-ip-address %s/%d\n", DottedAddress(f.lan_addr).c_str(),
            static_cast<int>(f.lan_prefixlen));
  }
  if (f.dhcp_low != 0 && f.dhcp_high != 0 && f.dhcp_lease != 0) {
    vty_out(v, " lan-dhcp range %s %s leasetime %d\n", DottedAddress(f.dhcp_low).c_str(),
            DottedAddress(f.dhcp_high).c_str(), static_cast<int>(f.dhcp_lease));
  }
  if (f.dns[0] != 0) {
    vty_out(v, " dns-server");
    for (uint32_t server : f.dns) {
      if (server != 0) vty_out(v, " %s", DottedAddress(server).c_str());
    }
    vty_out(v, "\n");
  }
}

const std::vector<LanCommandRow>& LanCommandRows() {
  static const char* const kNo = "Negate a command or set its defaults";
  static const std::vector<LanCommandRow> rows = {
      {LanCommand::kLanIp, "lan-ip-address A.B.C.D/M",
       {"LAN IP address of the wired side", "Address and prefix length"}, {"prefix"}},
      {LanCommand::kNoLanIp, "no lan-ip-address A.B.C.D/M",
       {kNo, "LAN IP address of the wired side", "Address and prefix length"}, {"prefix"}},
      {LanCommand::kDhcp, "lan-dhcp range A.B.C.D A.B.C.D leasetime <2-11520>",
       {"DHCP service of the wired side", "Address range", "Lowest address", "Highest address",
        "Lease time", "Minutes"},
       {"low", "high", "lease"}},
      {LanCommand::kNoDhcp, "no lan-dhcp", {kNo, "DHCP service of the wired side"}, {}},
      {LanCommand::kDns, "dns-server A.B.C.D (A.B.C.D (A.B.C.D (A.B.C.D |)|)|)",
       {"DNS servers of the wired side", "First server", "Second server", "Third server",
        "Fourth server"},
       {"dns1", "dns2", "dns3", "dns4"}},
      {LanCommand::kNoDns, "no dns-server", {kNo, "DNS servers of the wired side"}, {}},
      {LanCommand::kN2n, "n2n-server A.B.C.D port <1-65535>",
       {"n2n server", "Server address", "Server port", "Port number"}, {"addr", "port"}},
      {LanCommand::kNoN2n, "no n2n-server", {kNo, "n2n server"}, {}},
  };
  return rows;
}
