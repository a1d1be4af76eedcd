#include "fsm/vendor_handlers.h"

#include <cstdio>

#include "diag/debug.h"
#include "fsm/config_status.h"
#include "fsm/join.h"
#include "platform/identity.h"
#include "relay/radio_binding.h"
#include "transport/codec.h"
#include "transport/elements.h"

namespace vendor_elem = capwap::vendor_elem;

namespace {

struct VendorHandlerRow {
  uint16_t elem_id;
  CwVendorElemFunc func;
};

// Registration order of the element handlers.
constexpr VendorHandlerRow kVendorHandlers[] = {
    {vendor_elem::kChannelReport, CW_KVENProc_ApChlRepTLVFunc},
    {vendor_elem::kNeighbourReport, CW_KVENProc_ApNebRepTLVFunc},
    {vendor_elem::kWrrmReportA, CW_KVENProc_ApWrrmRptTLVFunc},
    {vendor_elem::kWrrmReportB, CW_KVENProc_ApWrrmRptTLVFunc},
    {vendor_elem::kWidsReportA, CW_KVENProc_WidsRptFunc},
    {vendor_elem::kWidsReportB, CW_KVENProc_WidsRptFunc},
    {vendor_elem::kMediaReport, CW_KVENProc_MediaRptFunc},
    {vendor_elem::kStationScan, CW_KVENProc_ScanStaRptTLVFunc},
    {vendor_elem::kRadioCapabilities, CW_KVENProc_Ap11NRDCAPTLVFunc},
    {vendor_elem::kMasterStatus, CW_KVENPROC_MASTERSTATUS},
    {vendor_elem::kBandSteering, CW_KVENPROC_BANDSTEER},
    {vendor_elem::kWirelessConnection, CW_KVENPROC_WIRELESSCONTION},
    {vendor_elem::kRunInfo, CW_KVENPROC_WTPRUNINFO},
    {vendor_elem::kInterfaceCounters, CW_KVENPROC_WTPIFINTERFACE},
    {vendor_elem::kInterfaceInfo, CW_KVENPROC_WTPINTERFACEINFOR},
    {vendor_elem::kDeviceDescription, CW_KVENPROC_APDEVICE_DES},
    {vendor_elem::kDeviceStatistics, CW_KVENPROC_WTPDEVICESTATIS},
    {vendor_elem::kInterface, CW_KVENPROC_WTP_INTERFACE},
    {vendor_elem::kRealTimeCollection, CW_KVENPROC_WTPRTCOLLECTINFO},
    {vendor_elem::kSyncTimeTrap, CW_KVENPROC_WTP_SYNCTIMETRAP},
    {vendor_elem::kWapiClient, CW_KVENProc_WAPIClientFunc},
    {vendor_elem::kDnsInfo, CW_KVENProc_DnsInfoFunc},
    {vendor_elem::kCapabilities, CW_KVENPROC_CAPBILITIES},
};

}  // namespace

int RegisterVendorHandlers() {
  int vendor_slot = RegVendorId(g_uiOid);
  if (vendor_slot < 0) {
    printf("CW_REG_VENDORID Fail!\n");
    return 1;
  }
  for (const auto& row : kVendorHandlers) {
    if (RegVendorElem(vendor_slot, row.elem_id, row.func) < 0) {
      printf("CW_REG_VENDOR_ELEM_ID Fail!\n");
      return 1;
    }
  }
  return 0;
}


namespace {

// A fixed-size value announced shorter than its size is not read: the
// sub-element is skipped (the walk moves on by the announced length) and
// the rest of the message still decodes.
bool HoldsFixed(uint16_t id, uint16_t len, uint16_t size, const char* message) {
  if (len >= size) return true;
  CwDebug(kDbgError, ZLOG_INFO,
          " Vendor element %u of %u bytes in %s skipped, %u bytes needed.\n",
          static_cast<unsigned>(id), static_cast<unsigned>(len), message,
          static_cast<unsigned>(size));
  return false;
}

}  // namespace

// Master status (u32) and capability bits (u16) describe the AP at Join;
// other messages' records have no place for them, so there the sub-element
// is skipped by its length.
int CW_KVENPROC_MASTERSTATUS(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  CW_JOIN_REQ_INFO* join = JoinVendorContext(ctx);
  if (!join || !HoldsFixed(id, len, 4, "Join Request")) return 0;
  cur.u32(join->master_status);
  return 0;
}

int CW_KVENPROC_CAPBILITIES(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  CW_JOIN_REQ_INFO* join = JoinVendorContext(ctx);
  if (!join || !HoldsFixed(id, len, 2, "Join Request")) return 0;
  cur.u16(join->capability);
  return 0;
}

// Radio capability record of one radio (76 bytes: 12 bytes and four 16-byte
// fields), hung in the radio's slot of the Configuration Status Request's
// radio binding, which sends it back to the AP as it came. In any other
// message, and for a radio ID outside 1-4, it is skipped. 1 only when the
// copy could not be allocated (the request is then undecodable).
int CW_KVENProc_Ap11NRDCAPTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id,
                                  uint16_t len) {
  constexpr uint16_t kRadioCapSize = 76;
  CfgStatusReqInfo* req = CfgReqOf(ctx);
  if (!req || !HoldsFixed(id, len, kRadioCapSize, "Config Request")) return 0;
  capwap::ByteView record;
  if (!cur.view(kRadioCapSize, record)) return 0;
  const uint8_t radio_id = record[0];
  if (radio_id < 1 || radio_id > 4) return 0;
  if (RdBindSetSub(req->rdbind, radio_id, 15, record) != 0) {
    req->no_memory = true;
    return 1;
  }
  return 0;
}
