// The Configuration Update item encoder and sender, the AC host-name vendor
// payload, and WMAC's generic item request (type 14).
#include "relay/cfg_update.h"

#include <cstring>

#include "config/ap_group.h"
#include "config/vap_profile.h"
#include "diag/debug.h"
#include "platform/identity.h"
#include "registry/tables.h"
#include "relay/vap_enc.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/radio_elements.h"
#include "transport/sendq.h"

using capwap::ByteView;
using capwap::HostWriter;
using capwap::WireWriter;

namespace {

constexpr size_t kRefRecordSize = 4;  // u16 length or u8 count, then the reference
constexpr size_t kMacAclEntrySize = 7;
constexpr size_t kImageDescriptorSize = 108;

// What an item's encoder reads and where its element goes.
struct ItemInput {
  CwHostRecord& record;
  ByteView referenced;
  uint32_t vendor_id;
};
using ItemEncoder = void (*)(ItemInput& in, WireWriter& w);

struct ItemRow {
  uint32_t item;
  size_t record_size;
  ItemEncoder encode;
};

uint8_t Low8(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

void WriteMacAcl(ItemInput& in, WireWriter& w) {
  uint8_t count = in.record.U8(0);
  w.u8(count);
  w.bytes(in.referenced.first(count * kMacAclEntrySize));
}

// The encoders of the item table. Offsets are record offsets.
constexpr ItemRow kItems[] = {
    {kItemAcNamePriority, 33,
     [](ItemInput& in, WireWriter& w) {
       w.u8(in.record.U8(0));
       w.bytes(in.record.View(1, 32));
     }},
    {kItemAcTimestamp, 4,
     [](ItemInput& in, WireWriter& w) { w.u32(in.record.U32(0)); }},
    {kItemAddMacAcl, 1, WriteMacAcl},
    {kItemCapwapTimers, 2,
     [](ItemInput& in, WireWriter& w) {
       w.u8(in.record.U8(0));  // discovery interval
       w.u8(in.record.U8(1));  // echo interval
     }},
    {kItemDelMacAcl, 1, WriteMacAcl},
    {kItemIdleTimeout, 4,
     [](ItemInput& in, WireWriter& w) { w.u32(in.record.U32(0)); }},
    {kItemImageId, 4 + kImageDescriptorSize,
     [](ItemInput& in, WireWriter& w) {
       w.u32(in.vendor_id);
       w.bytes(in.record.View(4, kImageDescriptorSize));
     }},
    {kItemLocation, 32,
     [](ItemInput& in, WireWriter& w) { w.bytes(in.record.View(0, 32)); }},
    {kItemStatsTimer, 2,
     [](ItemInput& in, WireWriter& w) { w.u16(in.record.U16(0)); }},
    {kItemVendorPayload, 2,
     [](ItemInput& in, WireWriter& w) { w.bytes(in.referenced.first(in.record.U16(0))); }},
    {kItemWtpFallback, 1,
     [](ItemInput& in, WireWriter& w) { w.u8(in.record.U8(0)); }},
    {kItemWtpName, 32,
     [](ItemInput& in, WireWriter& w) { w.bytes(in.record.View(0, 32)); }},
    {kItemStaticIp, 13,
     [](ItemInput& in, WireWriter& w) {
       w.u32(in.record.U32(0));  // address
       w.u32(in.record.U32(4));  // netmask
       w.u32(in.record.U32(8));  // gateway
       w.u8(in.record.U8(12));   // static flag
     }},
    {kItemLanIp, 8,
     [](ItemInput& in, WireWriter& w) {
       w.u32(in.record.U32(0));
       w.u32(in.record.U32(4));
     }},
    {kItemLanDhcp, 12,
     [](ItemInput& in, WireWriter& w) {
       for (size_t off = 0; off < 12; off += 4) w.u32(in.record.U32(off));
     }},
    {kItemDnsServers, 16,
     [](ItemInput& in, WireWriter& w) {
       for (size_t off = 0; off < 16; off += 4) w.u32(in.record.U32(off));
     }},
    {kItemN2nServer, 6,
     [](ItemInput& in, WireWriter& w) {
       w.u32(in.record.U32(0));
       w.u16(in.record.U16(4));
     }},
    {kItemCloudServer, 130,
     [](ItemInput& in, WireWriter& w) {
       w.bytes(in.record.View(0, 128));
       w.u16(in.record.U16(128));
     }},
    {kItemLedMode, 1,
     [](ItemInput& in, WireWriter& w) { w.u8(in.record.U8(0)); }},
    {kItemAntennaFlags, 1,
     [](ItemInput& in, WireWriter& w) { w.u8(in.record.U8(0)); }},
    {kItemMesh, 3,
     [](ItemInput& in, WireWriter& w) {
       w.u8(in.record.U8(0));  // role
       w.u8(in.record.U8(1));  // mesh ID
       w.u8(in.record.U8(2));  // data path
     }},
    {kItemRetransInterval, 2,
     [](ItemInput& in, WireWriter& w) { w.u8(Low8(in.record.U16(0))); }},
    {kItemLanPortAdmin, 2,
     [](ItemInput& in, WireWriter& w) {
       w.u8(in.record.U8(0));  // port
       w.u8(in.record.U8(1));  // enabled
     }},
    {kItemMaxRetrans, 2,
     [](ItemInput& in, WireWriter& w) { w.u8(Low8(in.record.U16(0))); }},
};

const ItemRow* FindItem(uint32_t item) {
  for (const ItemRow& row : kItems) {
    if (row.item == item) return &row;
  }
  return nullptr;
}

// The per-radio items are the radio element rows marked as items.
const capwap::RadioElementCodec* FindRadioItem(uint32_t item) {
  const capwap::RadioElementCodec* row = capwap::RadioElementFor(item);
  return row && (row->uses & capwap::kRadioInConfigItem) ? row : nullptr;
}

// The referenced bytes an item needs, read from its record (which the
// caller has checked holds the count or length).
size_t ReferencedSize(uint32_t item, ByteView record) {
  CwHostRecord r(record);
  if (item == kItemAddMacAcl || item == kItemDelMacAcl) {
    return r.U8(0) * kMacAclEntrySize;
  }
  if (item == kItemVendorPayload || ItemIsCallerBuilt(item)) return r.U16(0);
  return 0;
}

// True when the data holds everything the item reads; a debug line when not.
bool ItemDataFits(uint32_t item, const CwCfgItem& data) {
  size_t need = ItemRecordSize(item, data.record);
  if (data.record.size() < need) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Configuration Update item %u needs %zu record bytes, %zu given; dropped.", item,
            need, data.record.size());
    return false;
  }
  size_t referenced = ReferencedSize(item, data.record);
  if (data.referenced.size() < referenced) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Configuration Update item %u refers to %zu bytes, %zu given; dropped.", item,
            referenced, data.referenced.size());
    return false;
  }
  return true;
}

// Appends the item's element; false when nothing could be appended for a
// reason other than the item having no element.
bool AppendItem(CW_PKT& pkt, uint32_t item, const CwCfgItem& data, uint32_t vendor_id) {
  if (!ItemDataFits(item, data)) return false;
  if (ItemIsCallerBuilt(item)) {
    CwHostRecord r(data.record);
    return PktAppendRaw(pkt, data.referenced.first(r.U16(0))) == 0;
  }
  if (item == kItemVirtualAp) {
    if (data.record.empty()) return true;
    auto profile = VapProfileDecode(data.record);
    return profile && CAPWAP_ENC_VapMsgIE(pkt, *profile, vendor_id) == 0;
  }
  if (const capwap::RadioElementCodec* radio = FindRadioItem(item)) {
    CwElementWriter element(pkt, static_cast<uint16_t>(item));
    return capwap::RadioToWire(*radio, data.record, element.w()) && element.ok();
  }
  const ItemRow* row = FindItem(item);
  if (!row) return true;  // items 2, 3, 16 and unknown items: no element
  CwHostRecord record(data.record);
  ItemInput in{record, data.referenced, vendor_id};
  CwElementWriter element(pkt, static_cast<uint16_t>(item));
  row->encode(in, element.w());
  return record.ok() && element.ok();
}

// Items a standard WTP reads in the form written here: the RFC 5415
// elements whose layout this system shares.
bool HasStandardForm(uint32_t item) {
  switch (item) {
    case kItemAcTimestamp:
    case kItemAddMacAcl:
    case kItemCapwapTimers:
    case kItemDelMacAcl:
    case kItemIdleTimeout:
    case kItemLocation:
    case kItemStatsTimer:
    case kItemWtpFallback:
    case kItemWtpName:
    case kItemStaticIp:
      return true;
    default:
      return false;
  }
}

// A standard WTP's item: a radio element in its RFC form, or an item of
// the shared layout. False when the item has no standard form.
bool AppendStandardItem(CW_PKT& pkt, uint32_t item, const CwCfgItem& data) {
  const capwap::RadioElementCodec* radio = capwap::RfcRadioElementFor(item);
  if (radio && (radio->uses & capwap::kRadioInConfigItem)) {
    if (!ItemDataFits(item, data)) return false;
    CwElementWriter element(pkt, static_cast<uint16_t>(item));
    return capwap::RadioToWire(*radio, data.record, element.w()) && element.ok();
  }
  return HasStandardForm(item) && AppendItem(pkt, item, data, 0);
}

int SendRequest(CW_WTPCB* wtp, CwPktPtr pkt) {
  FinishCtlMsg(*pkt, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

}  // namespace

// --- Records --------------------------------------------------------------

CwRefItem CwRefItem::Length(uint16_t length, ByteView bytes) {
  CwRefItem item;
  HostWriter(item.record.data(), item.record.size()).u16(length);
  item.referenced = bytes;
  return item;
}

CwRefItem CwRefItem::Count(uint8_t count, ByteView entries) {
  CwRefItem item;
  item.record[0] = count;
  item.referenced = entries;
  return item;
}

std::array<uint8_t, 1> ItemU8(uint8_t value) { return {value}; }

std::array<uint8_t, 2> ItemU16(uint16_t value) {
  std::array<uint8_t, 2> out{};
  HostWriter(out.data(), out.size()).u16(value);
  return out;
}

std::array<uint8_t, 4> ItemU32(uint32_t value) {
  std::array<uint8_t, 4> out{};
  HostWriter(out.data(), out.size()).u32(value);
  return out;
}

std::array<uint8_t, 13> CwItemStaticIp::Record() const {
  std::array<uint8_t, 13> out{};
  HostWriter w(out.data(), out.size());
  w.u32(addr);     // @0
  w.u32(netmask);  // @4
  w.u32(gateway);  // @8
  w.u8(is_static);  // @12
  return out;
}

std::array<uint8_t, 8> CwItemLanIp::Record() const {
  std::array<uint8_t, 8> out{};
  HostWriter w(out.data(), out.size());
  w.u32(addr);       // @0
  w.u32(prefixlen);  // @4
  return out;
}

std::array<uint8_t, 12> CwItemDhcpRange::Record() const {
  std::array<uint8_t, 12> out{};
  HostWriter w(out.data(), out.size());
  w.u32(low);    // @0
  w.u32(high);   // @4
  w.u32(lease);  // @8
  return out;
}

std::array<uint8_t, 16> CwItemDnsServers::Record() const {
  std::array<uint8_t, 16> out{};
  HostWriter w(out.data(), out.size());
  for (uint32_t server : servers) w.u32(server);  // @0, 4, 8, 12
  return out;
}

std::array<uint8_t, 6> CwItemN2nServer::Record() const {
  std::array<uint8_t, 6> out{};
  HostWriter w(out.data(), out.size());
  w.u32(addr);  // @0
  w.u16(port);  // @4
  return out;
}

// --- Encoder and sender ---------------------------------------------------

size_t ItemRecordSize(uint32_t item, ByteView record) {
  if (item == kItemAddMacAcl || item == kItemDelMacAcl) return 1;
  if (item == kItemVendorPayload || ItemIsCallerBuilt(item)) return 2;
  if (const capwap::RadioElementCodec* radio = FindRadioItem(item)) {
    return capwap::RadioRecordNeed(*radio, record);
  }
  const ItemRow* row = FindItem(item);
  return row ? row->record_size : 0;
}

int CW_AC_FillSCfgUpdReqItem(CW_PKT& pkt, uint32_t item, const CwCfgItem& data,
                             uint32_t vendor_id) {
  AppendItem(pkt, item, data, vendor_id);
  return 0;
}

int CW_AC_SndCfgUpdReqItem(CW_WTPCB* wtp, uint32_t item, const CwCfgItem& data) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR,
            " No packet for the Configuration Update Request of item %u to AP %u.", item,
            wtp->apid);
    return 1;
  }
  if (wtp->rfc) {
    if (!AppendStandardItem(*pkt, item, data)) {
      CwDebug(kDbgEvent, ZLOG_INFO,
              " Configuration Update item %u has no standard form; not sent to AP %s.\n", item,
              wtp->name.c_str());
      return 1;
    }
    return SendRequest(wtp, std::move(pkt));
  }
  if (!AppendItem(*pkt, item, data, wtp->board_vendor_id)) return 1;
  return SendRequest(wtp, std::move(pkt));
}

int CW_AP_ALL_CmdSet(uint32_t item, const CwCfgItem& data) {
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->state == kStateRun) CW_AC_SndCfgUpdReqItem(wtp, item, data);
  }
  return 0;
}

int AC_Enc_AcHostNameElem(const CW_APGROUP& group, CwRefItem& item,
                          std::array<uint8_t, kAcHostNameElemSize>& buffer) {
  constexpr uint16_t kHostNameLen = 32;
  WireWriter w(buffer.data(), buffer.size());
  w.u32(g_uiOid);
  w.u16(capwap::vendor_elem::kAcHostName);
  w.u16(kHostNameLen);
  w.fixed_str(group.ac_hostname, kHostNameLen);
  item = CwRefItem::Length(kAcHostNameElemSize, buffer);
  return 0;
}

// --- WMAC type 14 ---------------------------------------------------------

namespace {

// A WMAC payload as item data: by-reference items carry their bytes inline
// from offset 4, where an in-process record would hold the pointer.
CwCfgItem ItemFromPayload(uint32_t item, ByteView payload) {
  bool by_reference = item == kItemAddMacAcl || item == kItemDelMacAcl ||
                      item == kItemVendorPayload || ItemIsCallerBuilt(item);
  if (!by_reference) return CwCfgItem(payload);
  if (payload.size() <= kRefRecordSize) return CwCfgItem(payload);
  return CwCfgItem(payload.first(kRefRecordSize), payload.subspan(kRefRecordSize));
}

}  // namespace

int AC_IPC_ProcCfgUpdReq(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to find AP entry when processing Config Update Request.");
    return 1;
  }
  if (head.param == kItemVirtualAp) {
    // The virtual AP encoder reads a profile object, which no payload is.
    CwDebug(kDbgError, ZLOG_ERR, " Configuration Update item %u is not taken from WMAC.",
            head.param);
    return 1;
  }
  return CW_AC_SndCfgUpdReqItem(wtp, head.param,
                                ItemFromPayload(head.param, IpcPayload(head, payload)));
}
