// Handlers of the vendor elements of this system's own vendor identifier,
// registered at start-up in a fixed order. Each consumes its sub-element
// from the cursor (see CwVendorElemFunc in transport/codec.h).
#pragma once

#include <cstdint>

#include "platform/bytes.h"

int CW_KVENProc_ApChlRepTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_ApNebRepTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_ApWrrmRptTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_WidsRptFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_MediaRptFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_ScanStaRptTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_Ap11NRDCAPTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_MASTERSTATUS(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_BANDSTEER(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WIRELESSCONTION(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTPRUNINFO(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTPIFINTERFACE(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTPINTERFACEINFOR(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_APDEVICE_DES(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTPDEVICESTATIS(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTP_INTERFACE(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTPRTCOLLECTINFO(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_WTP_SYNCTIMETRAP(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_WAPIClientFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENProc_DnsInfoFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);
int CW_KVENPROC_CAPBILITIES(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len);

// Registers the 23 handlers for the platform's vendor identifier, in order.
// 0; 1 after printing "CW_REG_VENDORID Fail!" or "CW_REG_VENDOR_ELEM_ID Fail!".
int RegisterVendorHandlers();
