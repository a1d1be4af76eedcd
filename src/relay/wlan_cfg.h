// WLAN and station configuration from WMAC: the IEEE 802.11 WLAN
// Configuration Request (Add, Delete, Update WLAN and the channel width),
// the IP-based VLAN table in a Configuration Update Request, and the Station
// Configuration Request (Add, Delete Station and the per-station traffic
// limit). The responses are handled with the other response handlers
// (fsm/config_rsp.h), which tell WMAC the assigned BSSID.
//
// Return convention: 0 when the request was handed to the send queue, 1
// when nothing was sent (unknown AP, AP not in Run, a payload that does not
// hold its record or names more than it holds, no packet). Payloads are
// owned by the caller and only read during the call.
#pragma once

#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

struct IpcHead;

// Operations of the fill functions.
enum : uint32_t {
  kWlanOpAdd = 0,
  kWlanOpDel = 1,
  kWlanOpUpdate = 2,
  kWlanOpWidth = 3,
};
enum : uint32_t {
  kStaOpAdd = 0,
  kStaOpDel = 1,
  kStaOpTraffic = 3,
};

// Appends the elements of one WLAN operation (Add, Delete, Update) built
// from its WMAC record. 1 (nothing appended) for another operation or a
// record that is short, carries a key longer than 32 or a slot length
// beyond its slot, or a media-guarantee list the payload or packet cannot
// hold.
int CW_AC_FillWlanCfgReq(CW_PKT& pkt, uint32_t op, capwap::ByteView payload, uint32_t vendor_id);
// The channel-width vendor element; only operation 3.
int CW_AC_FillWidthCfgReq(CW_PKT& pkt, uint32_t op, capwap::ByteView payload, uint32_t vendor_id);
// One IEEE 802.11 WLAN Configuration Request to the WTP with its next
// sequence number; no state check here.
int CW_AC_SndWlanCfgReq(CW_WTPCB* wtp, uint32_t op, capwap::ByteView payload);
int CW_AC_SndWidthCfgReq(CW_WTPCB* wtp, uint32_t op, capwap::ByteView payload);
// The IP-based VLAN vendor element; the payload must be exactly 8 + 12 N
// bytes for its count N (and N must fit the packet).
int FillIpBasedVlan(CW_PKT& pkt, capwap::ByteView payload, uint32_t vendor_id);
// A Configuration Update Request carrying that element.
int CW_AC_SndIpBasedVlan(CW_WTPCB* wtp, capwap::ByteView payload);

// Appends the elements of one station operation: Add (the WMAC record),
// Delete (the WMAC record) or the traffic limit (a CwStaTrafficRecord of 20
// bytes). 1 (nothing appended) for another operation, a short record or a
// key longer than 256.
int CW_AC_FillStaCfgReq(CW_PKT& pkt, uint32_t op, capwap::ByteView record, uint32_t vendor_id);
// One Station Configuration Request to the WTP; no state check here.
int CW_AC_SndStaCfgReq(CW_WTPCB* wtp, uint32_t op, capwap::ByteView record);

// WMAC handlers. WLAN, width and IP-VLAN requests, like station requests, go
// only to an AP in Run; the others are dropped with a debug line.
int AC_IPC_ProcWlanCfg(const IpcHead& head, uint32_t op, const uint8_t* payload);  // 4, 5, 6
int AC_IPC_ProcWidthCfg(const IpcHead& head, uint32_t op, const uint8_t* payload);  // 36
int AC_IPC_ProcIpBasedVlan(const IpcHead& head, const uint8_t* payload);           // 84
int AC_IPC_ProcStaCfg(const IpcHead& head, uint32_t op, const uint8_t* payload);    // 7, 8
// Type 96: the AP is named by the payload; an AP not in Run is skipped
// quietly (0).
int AC_IPC_Set_ApStaTraffic(const IpcHead& head, const uint8_t* payload);
// Installs the handlers above. 0, or 1 when a route was refused.
int RegisterWlanHandlers();
