// The controller information record described to WTPs in Discovery and Join
// Responses. Only the active-WTP count changes at run time.
#pragma once

#include <array>
#include <cstdint>

namespace capwap {
struct AcGlobalInfo {
  uint8_t family = 0;                    // 1 would mean IPv6
  std::array<uint8_t, 16> ctl_addr{};    // never filled in: 0.0.0.0
  uint32_t ifindex = 0;
  uint16_t ctl_port = 0;
  uint16_t stations = 0;
  uint16_t limit = 0;
  uint16_t active_wtps = 0;              // g_uiCwApCount at the last Discovery Response
  uint16_t max_wtps = 0;
  uint8_t security = 0;
  uint8_t rmac = 0;
  uint8_t reserved = 0;
  uint8_t dtls_policy = 0;
  std::array<char, 64> hw_version{};
  std::array<char, 64> sw_version{};
  std::array<char, 32> ac_name{};
  uint32_t wtp_count = 0;
};
}  // namespace capwap

extern capwap::AcGlobalInfo g_stCW_AC_GlobalInfo;
// Unsigned count of one-second ticks since the daemon's tick started.
extern uint32_t ul_CW_AC_Time;

// The controller's description in Discovery and Join Responses: the AC
// Descriptor (1) with hardware and software versions under the given vendor
// identifier, the AC Name (4), and the control address (10 IPv4, 11 IPv6)
// with the WTP count. False when the packet is full.
struct CW_PKT;
namespace capwap {
bool PutAcDescriptor(CW_PKT& pkt, const AcGlobalInfo& ac, uint32_t vendor_id);
bool PutAcName(CW_PKT& pkt, const AcGlobalInfo& ac);
bool PutAcControlAddress(CW_PKT& pkt, const AcGlobalInfo& ac, bool ipv6);
}  // namespace capwap
