// The Configuration Status exchange: decode of the radio description an AP
// reports after Join (or after a firmware download), the request handler
// that hands it to WMAC, asks WIDS for its part and waits in Config, and
// the builder of the response that carries the AP's whole start-up
// configuration.
//
// The response goes out only when the radio binding (WMAC), the scan
// settings (WRRM) and the WIDS configuration have all arrived; that rule is
// run by the answer handlers of relay/radio_binding.h, which reach
// CW_AC_SndCfgResp through the sender this module installs at start-up.
//
// Return convention: 0 success, 1 failure.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

struct CW_APGROUP;

// A decoded Configuration Status Request. The radio binding owns its
// sub-records and releases them with the record.
struct CfgStatusReqInfo {
  uint32_t reserved = 0;  // leading word, unused
  RadioBinding rdbind;       // the radios as reported, radio ID r in radios[r - 1]
  std::string ac_name;    // AC Name (4), as received
  bool no_memory = false; // a sub-record copy could not be allocated
};

// Entry from the receive path (type 5). 0 when the session reached Config;
// 1 for no AP, the wrong state (no answer), an undecodable request (the
// session is torn down) or an IPC wait timer that could not be created.
int CW_AC_CfgReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// Pure decode of the message elements into a zeroed *info. 1 for fewer than
// 4 octets of elements, an element that runs past the end, or memory
// exhaustion. A value too short for its fields and a malformed vendor
// payload are skipped with a debug line.
// A standard WTP's request (rfc) is read in the RFC 5415/5416 forms: the
// 802.11 elements and the Radio Administrative State into the radio
// binding, Statistics Timer and WTP Reboot Statistics checked for length,
// vendor payloads in the standard layout skipped.
int CW_AC_DecCfgReq(CfgStatusReqInfo* info, capwap::ByteView elements, bool rfc = false);

// Builds and sends the response; releases the AP's radio binding. 1 when no
// packet could be taken (nothing is sent), otherwise CW_AC_SendCtlMsg's result.
int CW_AC_SndCfgResp(CW_WTPCB* wtp);
// Writes the response elements for the AP at the packet's cursor (nothing
// when the AP's group record is missing). 0, or 1 when the packet overflowed.
int CW_AC_FillCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp);

// What the response reads from outside the control block.
struct CwCfgRespSources {
  const CW_APGROUP* group = nullptr;    // null: the response carries no element
  std::array<uint8_t, 130> cloud{};     // as agent_cloud_server_get fills it
  bool antenna_switch = false;          // the AP's model switches antenna type
  uint32_t oid = 0;                     // the controller's vendor identifier
};
CwCfgRespSources CfgRespSourcesOf(const CW_WTPCB& wtp);
// The pure builder behind CW_AC_FillCfgResp. 0, or 1 when the packet overflowed.
int BuildCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp, const CwCfgRespSources& sources);
// The response elements of a standard WTP: CAPWAP Timers, Idle Timeout, WTP
// Fallback, AC IPv4 (IPv6) List, WTP Static IP Address Information, then the
// radio binding's 802.11 elements in their RFC form and a Decryption Error
// Report Period per reported radio. None of this system's own elements.
// 0, or 1 when the packet overflowed.
int BuildRfcCfgResp(CW_PKT& pkt, const CW_WTPCB& wtp);

// The request record that vendor sub-element 129 fills: `context` while a
// Configuration Status Request is being decoded into it, otherwise null (the
// same vendor dispatcher serves other messages' records too).
CfgStatusReqInfo* CfgReqOf(void* context);

// Installs the request handler (type 5) and the response sender.
void CfgStatusRegister();
