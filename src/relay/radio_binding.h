// The radio binding of an AP: the IEEE 802.11 radio settings of up to four
// radios held as owned sub-records in RadioBinding (registry/wtpcb.h).
//
// It travels three ways: as a TLV list to and from WMAC (notification 3,
// GET-RDBIND 3, SET-RDBIND 2; values are the sub-records byte for byte, so
// host order), as CAPWAP message elements to the AP (big-endian), and as
// the decoded radio description of a Configuration Status Request. This
// module also holds the three Config-state answers (radio binding, WRRM
// scan settings, WIDS configuration) and the rule that sends the
// Configuration Status Response once all three are in.
//
// Return convention: 0 success, 1 failure (the message is dropped with a
// debug line). The record owns its sub-records; CW_FreeRdBind releases them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

// One TLV type of the binding: the fixed size of its sub-record, the slot
// word (1-25) of the radio block that holds it, and the message element it
// becomes for the AP (37 for the vendor elements; 0: not sent to the AP).
struct RadioBindingTlv {
  uint16_t type;
  uint16_t size;
  uint8_t slot;
  uint16_t element;
};
// TLV 17 is the idle timeout, held in the record itself, not in a radio slot.
inline constexpr uint16_t kRdBindIdleTimeoutTlv = 17;
inline constexpr uint16_t kRdBindIdleTimeoutSize = 4;
// The stored WRRM and WIDS answers are at most this long.
inline constexpr size_t kCfgAnswerBlockMax = 8195;

// The TLV type of a sub-record kind, or null (17, 20, 0, 28 and above).
const RadioBindingTlv* RdBindTlvByType(uint16_t type);

// Parses a TLV list into `record` (which the caller has cleared). Prints
// " CW_GetRdBind CW_IsMsgOutBound1" / "...2" on standard output and returns
// 1 for a malformed list, 1 when memory runs out; a radio ID outside 1-4
// prints " Radio num is invalid." and still returns 0 (radio count 0).
// A sub-record that was stored before a failure stays in the record.
int CW_GetRdBind(RadioBinding* record, const uint8_t* data, size_t length);
// Releases every sub-record of the four radio slots. Always 0.
int CW_FreeRdBind(RadioBinding* record);
// Releases the sub-records and zeroes every word of the record.
void ClearRdBind(RadioBinding* record);
// Stores a copy of `value` as the sub-record of TLV `type` of radio
// `radio_id` (1-4): the type's fixed size, zero-padded or cut. Sets the
// slot's radio ID word. 0; 1 for an unknown type, a radio ID outside 1-4 or
// when memory runs out.
int RdBindSetSub(RadioBinding& record, uint8_t radio_id, uint16_t type, capwap::ByteView value);
// Radios holding any sub-record other than TLV 15 (vendor element 129).
uint32_t RdBindRadioCount(const RadioBinding& record);

// The TLV list for WMAC: radio slots 1-4, each present sub-record as one
// entry of its type and fixed length, in the WMAC order (sub-record 4 and
// the idle timeout stay here). Returns the bytes written, or 0 when there
// is nothing to send or `out` is too small.
size_t EncodeRdBindTlv(const RadioBinding& record, std::span<uint8_t> out);

// The per-radio elements for the AP: radio slots 1-4, each present
// sub-record as its element, in the AP order (sub-record 5 is not sent).
// Vendor elements carry `vendor_id`. 0, or 1 when the packet overflowed.
int EncodeRdBindElems(CW_PKT& pkt, const RadioBinding& record, uint32_t vendor_id);
// The same for a standard WTP: only sub-records whose element has an RFC 5416
// form, in that form (no vendor elements, no WTP Quality of Service), then a
// Decryption Error Report Period for each radio the WTP reported (the
// record's, else 120 seconds). 0, or 1 when the packet overflowed.
int EncodeRdBindElemsRfc(CW_PKT& pkt, const RadioBinding& record,
                         std::span<const uint32_t, 4> radio_types);
// One Configuration Update Request (type 7): Idle Timeout when non-zero,
// then the per-radio elements. 1 only when no packet could be allocated.
int CW_AC_CfgUpdRdBinding(CW_WTPCB* wtp, const RadioBinding& record);

// WMAC handlers (IPC types 2, 3, 16, 25). 0, or 1 when dropped.
int AC_IPC_ProcSetRdBind(uint32_t wtp_id, const uint8_t* payload, size_t length);
int AC_IPC_ProcGetRdBind(uint32_t wtp_id, const uint8_t* payload, size_t length);
int AC_IPC_ProcWrrmScan(uint32_t wtp_id, const uint8_t* payload, size_t length);
int AC_IPC_ProcWIDSCfg(uint32_t wtp_id, const uint8_t* payload, size_t length);
// Installs the four handlers. 0, or 1 when a route was refused.
int RegisterRdBindHandlers();

// The Configuration Status Response is built by the session state machine,
// which installs its sender here at start-up; the relay calls it through
// this pointer only, so it never depends on the state machine.
using CwCfgRespSender = int (*)(CW_WTPCB* wtp);
void SetCfgRespSender(CwCfgRespSender sender);

// The completion rule, run after each answer: in Config with none of the
// three answers pending, send the response, release the binding, cancel the
// configuration IPC wait and start the 10-second change-state wait. Once
// the change-state wait runs the response has gone out, and a repeated
// answer sends nothing. 1 when the response was sent now, else 0.
int CfgAnswersRendezvous(CW_WTPCB* wtp);

// Forgets the response sender (tests).
void RdBindReset();
