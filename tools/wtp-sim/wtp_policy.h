// The simulated AP's reading of the security-policy settings the AC sends
// in Configuration Update Requests: the layer-2 ACL element (64) and the
// policy vendor elements (ACL rule, WLAN ACL, wired-LAN VLANs, user and
// VLAN isolation, switch protection, portal domain). Each is checked for
// the lengths its own fields announce; a test or the command line may ask
// the AP to refuse one kind with a result code.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "wtp-sim/wtp_messages.h"

namespace capwap::sim {

// What the AP makes of one Configuration Update Request.
struct PolicyCheck {
  size_t settings = 0;             // policy elements found
  std::optional<uint32_t> result;  // the refusal asked for, if one applies
  std::string error;               // the first malformed policy element
};

// `results`: element key (the vendor element ID, or 64 for the ACL element)
// -> the result code to answer with.
PolicyCheck CheckPolicyElements(const ControlMessage& msg,
                                const std::map<uint16_t, uint32_t>& results);

// "ELEM=CODE" of --fail-policy: answer requests carrying that policy
// element with CODE. False when malformed.
bool ParsePolicyResult(const char* text, std::map<uint16_t, uint32_t>* results);

}  // namespace capwap::sim
