#include "relay/vap_enc.h"

#include "config/vap_profile.h"
#include "transport/codec.h"
#include "transport/elements.h"

int CAPWAP_ENC_VapMsgIE(CW_PKT& pkt, const VapProfile& profile, uint32_t vendor_id) {
  {
    CwElementWriter e(pkt, capwap::elem::kVirtualAp);
    e.w().u32(profile.ac_ip);
    e.w().u8(profile.mode);
    if (!e.ok()) return 1;
  }
  if (profile.ac_ip == 0 || profile.mode != kVapIsolateLink) return 0;
  CwElementWriter e(pkt, capwap::elem::kVendorSpecificPayload);
  e.w().u32(vendor_id);
  e.w().u16(capwap::vendor_elem::kWiredLanVlan);
  e.w().u16(4);
  e.w().u32(0);
  return e.ok() ? 0 : 1;
}

int CAPWAP_ENC_VapMsgBackupAc(CW_PKT& pkt, const VapProfile& profile) {
  if (profile.ac_ip == 0) return 0;
  CwElementWriter e(pkt, capwap::elem::kAcIpv4List);
  e.w().u32(profile.ac_ip);
  return e.ok() ? 0 : 1;
}
