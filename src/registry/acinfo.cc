#include "registry/acinfo.h"

#include <utility>

#include "transport/codec.h"
#include "transport/elements.h"

namespace elem = capwap::elem;

capwap::AcGlobalInfo g_stCW_AC_GlobalInfo;
uint32_t ul_CW_AC_Time = 0;

namespace {
// AC Information sub-element types of the AC Descriptor.
constexpr uint16_t kAcInfoHardware = 4;
constexpr uint16_t kAcInfoSoftware = 5;
}  // namespace

bool capwap::PutAcDescriptor(CW_PKT& pkt, const capwap::AcGlobalInfo& ac, uint32_t vendor_id) {
  CwElementWriter e(pkt, elem::kAcDescriptor);
  capwap::WireWriter& w = e.w();
  w.u16(ac.stations);
  w.u16(ac.limit);
  w.u16(ac.active_wtps);
  w.u16(ac.max_wtps);
  w.u8(ac.security);
  w.u8(ac.rmac);
  w.u8(ac.reserved);
  w.u8(ac.dtls_policy);
  for (const auto& [type, text] : {std::pair{kAcInfoHardware, &ac.hw_version},
                                   std::pair{kAcInfoSoftware, &ac.sw_version}}) {
    w.u32(vendor_id);
    w.u16(type);
    w.u16(static_cast<uint16_t>(text->size()));
    w.bytes(text->data(), text->size());
  }
  return e.ok();
}

bool capwap::PutAcName(CW_PKT& pkt, const capwap::AcGlobalInfo& ac) {
  CwElementWriter e(pkt, elem::kAcName);
  e.w().bytes(ac.ac_name.data(), ac.ac_name.size());
  return e.ok();
}

// IPv4 as four bytes, most significant first (the address is held as a
// host-order word); IPv6 as four words; then the WTP count.
bool capwap::PutAcControlAddress(CW_PKT& pkt, const capwap::AcGlobalInfo& ac, bool ipv6) {
  CwElementWriter e(pkt, ipv6 ? elem::kCapwapControlIpv6Address : elem::kCapwapControlIpv4Address);
  capwap::WireWriter& w = e.w();
  capwap::HostReader words(ac.ctl_addr.data(), ac.ctl_addr.size());
  for (int i = 0; i < (ipv6 ? 4 : 1); ++i) {
    uint32_t word = 0;
    words.u32(word);
    w.u32(word);
  }
  w.u16(static_cast<uint16_t>(ac.wtp_count));
  return e.ok();
}
