// The security-policy requests WMAC sends to the controller, as lines of the
// peer simulator's WMAC script (wlan_script.h: --send and --script):
//
//   user-isolation AP B0 B1 B2         type 61
//   acl-rule AP WORD B4 B5 HEX         type 68 (u32, two bytes, u32 n, n bytes)
//   wlan-acl AP B0 B1 B2 WORD          type 69
//   l2-acl AP OP RADIO WLAN ACL [MAC]  type 109 (7 bytes, 13 with a station MAC)
//   l2-acl-2 AP OP RADIO WLAN ACL [MAC]  type 110, the same payload
//   dhcp-snooping KIND [HEX]           type 111, header parameter KIND, WTP ID 0
//   vlan-isolate AP HEX                type 113, the payload as given
//   portal-domain AP WORD DOMAIN       type 114 (u16, 6 zero bytes, the text, NUL)
//
// AP is the controller's AP ID; numbers are decimal or 0x hexadecimal;
// payload words are host order, as WMAC writes them; MAC is
// aa:bb:cc:dd:ee:ff.
#pragma once

#include <string>
#include <string_view>

#include "peer-sim/wlan_script.h"

namespace capwap::sim {

// True for the first word of one of the lines above.
bool IsPolicyVerb(std::string_view verb);
// One policy line; false with *why when it is not well-formed.
bool ParsePolicyLine(std::string_view line, ScriptStep* out, std::string* why);

}  // namespace capwap::sim
