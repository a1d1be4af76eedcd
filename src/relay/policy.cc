// Security-policy pushes: each becomes one Configuration Update Request (a
// layer-2 ACL possibly several), built here element by element.
#include "relay/policy.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <vector>

#include "config/ap_group.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "config/vap_profile.h"
#include "diag/debug.h"
#include "platform/dbm.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::WireWriter;
namespace vendor_elem = capwap::vendor_elem;

namespace {

constexpr size_t kElemHeaderLen = 4;
constexpr size_t kVendorHeaderLen = 8;  // vendor identifier, element ID, length

// --- Building requests --------------------------------------------------------

// Room left in the packet for the value of one more vendor element.
size_t VendorRoom(const CW_PKT& pkt) {
  const size_t used = pkt.cursor + kElemHeaderLen + kVendorHeaderLen;
  return used < pkt.buffer.size() ? pkt.buffer.size() - used : 0;
}

// Appends a Vendor Specific Payload with the value given in parts. A value
// the packet cannot hold is refused (false) before anything is written:
// the parts may come from a peer, so the size is checked, not trusted.
bool AppendVendor(CW_PKT& pkt, uint32_t vendor_id, uint16_t elem_id,
                  std::initializer_list<ByteView> parts) {
  size_t len = 0;
  for (ByteView part : parts) len += part.size();
  if (len > VendorRoom(pkt)) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Vendor element %u of %zu bytes does not fit in the request; refused.", elem_id, len);
    return false;
  }
  CwElementWriter e(pkt, capwap::elem::kVendorSpecificPayload);
  e.w().u32(vendor_id);
  e.w().u16(elem_id);
  e.w().u16(static_cast<uint16_t>(len));
  for (ByteView part : parts) e.w().bytes(part);
  return e.ok();
}

CwPktPtr NewRequest(const CW_WTPCB* wtp) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR, " No packet for a policy request to AP %u.", wtp->apid);
  }
  return pkt;
}

int SendRequest(CW_WTPCB* wtp, CwPktPtr pkt) {
  FinishCtlMsg(*pkt, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

// One request holding one vendor element under the WTP's vendor identifier.
int SendVendor(CW_WTPCB* wtp, uint16_t elem_id, std::initializer_list<ByteView> parts) {
  CwPktPtr pkt = NewRequest(wtp);
  if (!pkt) return 1;
  if (!AppendVendor(*pkt, wtp->board_vendor_id, elem_id, parts)) return 1;
  return SendRequest(wtp, std::move(pkt));
}

// --- WMAC requests ------------------------------------------------------------

// 1, after the line saying why.
int Refuse(const char* what, size_t have, size_t need) {
  CwDebug(kDbgError, ZLOG_ERR, " %s of %zu bytes, %zu needed; refused.", what, have, need);
  return 1;
}

// --- Layer-2 ACL ----------------------------------------------------------------

constexpr size_t kAclRequestShort = 7;
constexpr size_t kAclRequestWithMac = 13;
// The ACL record: kind at 4, entry count at 276, entries from 280.
constexpr size_t kAclKindAt = 4;
constexpr size_t kAclCountAt = 276;
constexpr size_t kAclEntriesAt = 280;
constexpr size_t kAclElementHead = 8;  // operation, radio, WLAN, kind byte, u32 n

struct AclRequest {
  uint8_t operation = 0, radio_id = 0, wlan_id = 0;
  std::array<uint8_t, 4> number{};  // the database key as WMAC sent it
  std::optional<std::array<uint8_t, 6>> station;
};

struct AclLayout {
  size_t per_request;  // entries per request
  uint8_t kind_byte;
  size_t record_entry;  // entry size in the record
  size_t wire_entry;    // entry size in the element
};

std::optional<AclLayout> LayoutOf(uint32_t kind, bool with_station) {
  if (kind == 1) return AclLayout{46, 1, 36, 30};
  if (kind == 3 && with_station) return AclLayout{26, 10, 80, 53};
  if (kind == 3) return AclLayout{34, 3, 80, 41};
  return std::nullopt;
}

// Kind 3 from the u16 at 4 onward (40 bytes). The constant 4 after the
// protocol byte is part of the AP's entry format.
void WriteKind3Tail(WireWriter& w, CwHostRecord& e) {
  w.u8(static_cast<uint8_t>(e.U16(4)));
  w.u8(4);
  w.u32(e.U32(12));
  w.u8(e.U8(9));
  for (size_t at : {28, 32, 36, 44}) w.u32(e.U32(at));
  w.u8(e.U8(41));
  for (size_t at : {60, 64, 68, 72}) w.u32(e.U32(at));
}

void WriteAclEntry(WireWriter& w, ByteView entry, uint32_t kind, const AclRequest& req) {
  CwHostRecord e(entry);
  w.u8(static_cast<uint8_t>(e.U32(0)));
  if (kind == 1) {
    w.u8(static_cast<uint8_t>(e.U32(8)));
    w.u32(e.U32(4));
    w.bytes(e.View(12, 24));
    return;
  }
  if (req.station) {
    w.bytes(req.station->data(), req.station->size());
    for (int i = 0; i < 6; ++i) w.u8(0xFF);
  }
  WriteKind3Tail(w, e);
}

bool DecodeAclRequest(ByteView bytes, AclRequest* out) {
  if (bytes.size() != kAclRequestShort && bytes.size() != kAclRequestWithMac) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Layer-2 ACL request of %zu bytes (7 or 13 expected); refused.", bytes.size());
    return false;
  }
  capwap::HostReader r(bytes);
  r.u8(out->operation);
  r.u8(out->radio_id);
  r.u8(out->wlan_id);
  r.bytes(out->number.data(), out->number.size());
  if (bytes.size() == kAclRequestWithMac) {
    std::array<uint8_t, 6> mac{};
    r.bytes(mac.data(), mac.size());
    out->station = mac;
  }
  return r.ok();
}

// Sends the entries [first, first + n) of the record as one request.
bool SendAclChunk(CW_WTPCB* wtp, const AclRequest& req, uint32_t kind, const AclLayout& layout,
                  ByteView entries, size_t first, size_t n, size_t total) {
  CwPktPtr pkt = NewRequest(wtp);
  if (!pkt) return false;
  size_t element_len = 0;
  {
    CwElementWriter e(*pkt, capwap::elem::kL2Acl);
    WireWriter& w = e.w();
    w.u8(req.operation);
    w.u8(req.radio_id);
    w.u8(req.wlan_id);
    w.u8(layout.kind_byte);
    w.u32(static_cast<uint32_t>(n));
    for (size_t i = first; i < first + n; ++i) {
      WriteAclEntry(w, entries.subspan(i * layout.record_entry, layout.record_entry), kind, req);
    }
    if (!e.ok()) return false;
    element_len = w.size();
  }
  CwDebug(kDbgEvent, ZLOG_NOTICE, "Send acl to AP %d,count %d, msglen %d ucRdId %d, ucWlanId %d",
          static_cast<int>(wtp->apid), static_cast<int>(total), static_cast<int>(element_len),
          req.radio_id, req.wlan_id);
  return SendRequest(wtp, std::move(pkt)) == 0;
}

// --- Switch protection ----------------------------------------------------------

// A settings-table record by its NUL-terminated key. The key is looked up
// with its NUL, then, for records written by name only, without it.
std::optional<Bytes> FetchSetting(const char* key) {
  const size_t len = std::strlen(key);
  std::optional<Bytes> value = DBM_Fetch(kDbDaemonSettings, key, len + 1);
  return value ? value : DBM_Fetch(kDbDaemonSettings, key, len);
}

size_t AppendIfFits(CW_PKT& pkt, uint32_t vendor_id, std::initializer_list<ByteView> parts) {
  const uint32_t before = pkt.length;
  if (!AppendVendor(pkt, vendor_id, vendor_elem::kSwitchProtection, parts)) return 0;
  return pkt.length - before;
}

int SendSnoopingTo(CW_WTPCB* wtp, uint32_t kind, ByteView payload) {
  CwPktPtr pkt = NewRequest(wtp);
  if (!pkt) return 1;
  const uint32_t vendor = wtp->board_vendor_id;
  const uint8_t kind_byte[1] = {static_cast<uint8_t>(kind)};
  const uint8_t one[2] = {0, 1};  // u16 1
  bool ok = true;
  switch (kind) {
    case 1:
    case 4:
      ok = AppendVendor(*pkt, vendor, vendor_elem::kSwitchProtection, {kind_byte, payload});
      break;
    case 2:
    case 3:
      ok = AppendVendor(*pkt, vendor, vendor_elem::kSwitchProtection, {kind_byte, one, payload});
      break;
    default:  // no element: the request goes out empty
      break;
  }
  if (!ok) return 1;
  return SendRequest(wtp, std::move(pkt));
}

// --- Wired LAN ------------------------------------------------------------------

// The per-port table has four slots, whatever the model claims.
constexpr uint32_t kPortSlots = 4;

bool IsolatedByLink(const CW_WTPCB& wtp) { return LanIsolatedByLink(wtp.vap_profile); }

}  // namespace

// --- Layer-2 ACL ----------------------------------------------------------------

int AC_IPC_SetL2Acl(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  ByteView bytes = IpcPayload(head, payload);
  if (!wtp || bytes.empty() || wtp->state != kStateRun) return 1;
  AclRequest req;
  if (!DecodeAclRequest(bytes, &req)) return 1;
  if (req.radio_id == 0 || req.wlan_id == 0) {
    CwDebug(kDbgError, ZLOG_ERR, "Failed to get radioid or wlanId[%d,%d] when sending acl to AP",
            req.radio_id, req.wlan_id);
    return 1;
  }
  std::optional<Bytes> record = DBM_Fetch(kDbAcl, req.number.data(), req.number.size());
  uint32_t number = 0;
  std::memcpy(&number, req.number.data(), sizeof number);
  if (!record) {
    CwDebug(kDbgError, ZLOG_ERR, "Failed to get acl-info when sending acl to AP,acl num is %d",
            static_cast<int>(number));
    return 1;
  }
  CwHostRecord rec(*record);
  const uint32_t kind = rec.U32(kAclKindAt);
  const uint32_t declared = rec.U32(kAclCountAt);
  if (!rec.ok()) return Refuse("ACL record", record->size(), kAclEntriesAt);
  std::optional<AclLayout> layout = LayoutOf(kind, req.station.has_value());
  if (!layout) {
    CwDebug(kDbgError, ZLOG_ERR, " ACL %u has kind %u; not sent.", number, kind);
    return 1;
  }
  // The count is the record's word; the entries are what the record holds.
  ByteView entries = ByteView(*record).subspan(kAclEntriesAt);
  const size_t held = entries.size() / layout->record_entry;
  size_t total = declared;
  if (total > held) {
    CwDebug(kDbgError, ZLOG_ERR, " ACL %u counts %u entries but holds %zu; %zu sent.", number,
            declared, held, held);
    total = held;
  }
  const size_t requests = total == 0 ? 1 : (total + layout->per_request - 1) / layout->per_request;
  const size_t free_slots = kSndQueSize - std::min<size_t>(wtp->sndq.count, kSndQueSize);
  if (requests > free_slots) {
    CwDebug(kDbgError, ZLOG_ERR,
            " ACL %u needs %zu requests, AP %u's queue has room for %zu; not sent.", number,
            requests, wtp->apid, free_slots);
    return 1;
  }
  size_t sent = 0;
  do {
    const size_t n = std::min(layout->per_request, total - sent);
    if (!SendAclChunk(wtp, req, kind, *layout, entries, sent, n, total)) return 1;
    sent += n;
  } while (sent < total);
  return 0;
}

// --- Switch protection ----------------------------------------------------------

int AC_IPC_SendDhcpSnooping(CW_WTPCB* wtp, uint32_t kind, ByteView payload) {
  if (!wtp) return 1;
  return SendSnoopingTo(wtp, kind, payload);
}

int AC_IPC_ProcDhcpSnooping(const IpcHead& head, const uint8_t* payload) {
  const uint32_t kind = head.param;
  if (kind == 0) return 0;
  std::vector<CW_WTPCB*> running;
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->state == kStateRun) running.push_back(wtp);
  }
  for (CW_WTPCB* wtp : running) AC_IPC_SendDhcpSnooping(wtp, kind, IpcPayload(head, payload));
  return 0;
}

size_t CW_EncDhcpSnooping_FromDbm(CW_PKT& pkt, uint32_t vendor_id) {
  std::optional<Bytes> value = FetchSetting(capwap::kDhcpSnoopKey);
  if (!value) return 0;
  const uint8_t kind[1] = {1};
  return AppendIfFits(pkt, vendor_id, {kind, *value});
}

size_t CW_EncArpInspection_FromDbm(CW_PKT& pkt, uint32_t vendor_id) {
  constexpr size_t kBitmapWords = 128;
  constexpr uint32_t kLastVlan = 4094;
  std::optional<Bytes> value = FetchSetting(capwap::kArpInspectKey);
  if (!value) return 0;
  if (value->size() != capwap::kArpInspectRecordSize) {
    CwDebug(kDbgError, ZLOG_ERR, " ARP inspection record of %zu bytes (%zu expected); skipped.",
            value->size(), capwap::kArpInspectRecordSize);
    return 0;
  }
  CwHostRecord rec(*value);
  const uint32_t limit = rec.U32(kBitmapWords * 4);
  if (limit == 0) return 0;
  std::vector<uint32_t> ids;
  for (uint32_t v = 1; v <= kLastVlan && ids.size() < limit; ++v) {
    if (rec.U32((v / 32) * 4) & (1u << (v % 32))) ids.push_back(v);
  }
  Bytes vlans(ids.size() * 4);
  WireWriter w(vlans.data(), vlans.size());
  for (uint32_t id : ids) w.u32(id);
  const uint8_t head[3] = {2, static_cast<uint8_t>(ids.size() >> 8),
                           static_cast<uint8_t>(ids.size())};
  return AppendIfFits(pkt, vendor_id, {head, vlans});
}

size_t CW_EncArpAntiAttack_FromDbm(CW_PKT& pkt, uint32_t vendor_id) {
  std::optional<Bytes> value = FetchSetting(capwap::kArpAntiAttackKey);
  if (!value) return 0;
  const uint8_t kind[1] = {4};
  return AppendIfFits(pkt, vendor_id, {kind, *value});
}

int AC_IPC_SendDhcpSnooping_Batch(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  CwPktPtr pkt = NewRequest(wtp);
  if (!pkt) return 1;
  const uint32_t vendor = wtp->board_vendor_id;
  size_t total = CW_EncDhcpSnooping_FromDbm(*pkt, vendor);
  total += CW_EncArpInspection_FromDbm(*pkt, vendor);
  total += CW_EncArpAntiAttack_FromDbm(*pkt, vendor);
  CwDebug(kDbgEvent, ZLOG_NOTICE, "Send dhcpsnooping batch to AP %d, msglen %d",
          static_cast<int>(wtp->apid), static_cast<int>(total));
  return SendRequest(wtp, std::move(pkt));
}

// --- Isolation, rules, WLAN ACL, portal domain ------------------------------------

int AC_IPC_ProcUsrsolation(const IpcHead& head, const uint8_t* payload) {
  // Only an AP with a running session takes it: a request queued to an
  // offline AP would be retransmitted to nobody until its budget ran out.
  CW_WTPCB* wtp = FindRunningWtp(head, " Failed to find AP entry when processing user isolation.");
  if (!wtp) return 1;
  ByteView bytes = IpcPayload(head, payload);
  if (bytes.size() < 3) return Refuse("User isolation message", bytes.size(), 3);
  return SendVendor(wtp, vendor_elem::kUserIsolation, {bytes.first(3)});
}

int AC_IPC_SndVlanIsolate(CW_WTPCB* wtp, ByteView payload) {
  return SendVendor(wtp, vendor_elem::kVlanIsolation, {payload});
}

int AC_IPC_ProcVlanIsolate(const IpcHead& head, const uint8_t* payload) {
  return SendToRunningWtp(
      head, payload, " Failed to find AP entry when processing VLAN isolation message.",
      AC_IPC_SndVlanIsolate);
}

int AC_IPC_SndAclRule(CW_WTPCB* wtp, ByteView payload) {
  constexpr size_t kFixed = 12;
  CwHostRecord rec(payload);
  const uint32_t word0 = rec.U32(0);
  const uint32_t n = rec.U32(8);
  if (!rec.ok()) return Refuse("ACL rule message", payload.size(), kFixed);
  if (n > payload.size() - kFixed) {
    CwDebug(kDbgError, ZLOG_ERR, " ACL rule message names %u rule bytes in %zu; refused.", n,
            payload.size());
    return 1;
  }
  // The element carries what is written: 10 + n bytes.
  std::array<uint8_t, 10> fixed{};
  WireWriter w(fixed.data(), fixed.size());
  w.u32(word0);
  w.bytes(payload.subspan(4, 2));
  w.u32(n);
  return SendVendor(wtp, vendor_elem::kAclRule, {fixed, payload.subspan(kFixed, n)});
}

int AC_IPC_ProApAclRule(const IpcHead& head, const uint8_t* payload) {
  return SendToRunningWtp(
      head, payload, " Failed to find AP entry when processing ACL rule message.",
      AC_IPC_SndAclRule);
}

int AC_IPC_SndUpdateWlanAcl(CW_WTPCB* wtp, ByteView payload) {
  constexpr size_t kRecord = 8;
  CwHostRecord rec(payload);
  const uint32_t word4 = rec.U32(4);
  if (!rec.ok()) return Refuse("WLAN ACL message", payload.size(), kRecord);
  // Seven bytes written, seven declared.
  std::array<uint8_t, 7> value{};
  WireWriter w(value.data(), value.size());
  w.bytes(payload.first(3));
  w.u32(word4);
  return SendVendor(wtp, vendor_elem::kWlanAcl, {value});
}

int AC_IPC_ProApUpdateWlanAcl(const IpcHead& head, const uint8_t* payload) {
  return SendToRunningWtp(
      head, payload, " Failed to find AP entry when processing WLAN ACL message.",
      AC_IPC_SndUpdateWlanAcl);
}

int AC_IPC_SndPortalPageDomain(CW_WTPCB* wtp, ByteView payload) {
  constexpr size_t kDomainAt = 8;
  CwHostRecord rec(payload);
  const uint16_t word0 = rec.U16(0);
  if (payload.size() < kDomainAt) return Refuse("Portal domain message", payload.size(), kDomainAt);
  // The text need not end inside the payload: it ends at its NUL or at the
  // payload's end, whichever comes first.
  ByteView rest = payload.subspan(kDomainAt);
  const auto nul = std::find(rest.begin(), rest.end(), uint8_t{0});
  ByteView domain = rest.first(static_cast<size_t>(nul - rest.begin()));
  if (domain.size() > UINT16_MAX) return Refuse("Portal domain", domain.size(), UINT16_MAX);
  std::array<uint8_t, 4> head{};
  WireWriter w(head.data(), head.size());
  w.u16(word0);
  w.u16(static_cast<uint16_t>(domain.size()));
  return SendVendor(wtp, vendor_elem::kPortalDomain, {head, domain});
}

int AC_IPC_ProApPortalPageDomain(const IpcHead& head, const uint8_t* payload) {
  return SendToRunningWtp(
      head, payload, " Failed to find AP entry when processing portal domain message.",
      AC_IPC_SndPortalPageDomain);
}

// --- Wired LAN ------------------------------------------------------------------

int AC_IPC_SndWiredLanVlan(CW_WTPCB* wtp, uint32_t vlan) {
  if (!wtp) return 1;
  std::array<uint8_t, 4> value{};
  WireWriter(value.data(), value.size()).u32(vlan);
  return SendVendor(wtp, vendor_elem::kWiredLanVlan, {value});
}

int AC_SndWiredLanVlan(CW_WTPCB* wtp) {
  if (!wtp || IsolatedByLink(*wtp)) return 0;
  uint32_t vlan = wtp->lan_vlan;
  if (vlan == 0) {
    const CW_APGROUP* group = ApGroupGet(wtp->group_id);
    vlan = group ? group->lan_vlan : 0;
  }
  return AC_IPC_SndWiredLanVlan(wtp, vlan);
}

int AC_IPC_SndWiredLanVlan2(CW_WTPCB* wtp, uint32_t ports) {
  if (!wtp) return 1;
  // A model may claim more ports than the table has slots; only the slots
  // are read.
  const uint32_t p = std::min(ports, kPortSlots);
  std::array<uint8_t, 1 + 3 * kPortSlots> value{};
  WireWriter w(value.data(), value.size());
  w.u8(static_cast<uint8_t>(p));
  for (uint32_t i = 1; i <= p; ++i) {
    w.u8(static_cast<uint8_t>(i));
    w.u16(wtp->lan_port_vlan[i - 1].vlan);
  }
  return SendVendor(wtp, vendor_elem::kPortVlans, {ByteView(value).first(w.size())});
}

int AC_SndWiredLanVlan2(CW_WTPCB* wtp) {
  if (!wtp || IsolatedByLink(*wtp)) return 0;
  const CW_APMODEL* model = CW_GetApModelInfo_ByModel(wtp->model);
  if (!model) return 0;
  return AC_IPC_SndWiredLanVlan2(wtp, model->lan_ports);
}

// --- Routes -----------------------------------------------------------------------

namespace capwap {

int RegisterPolicyRoutes() {
  static constexpr WmacRoute kRoutes[] = {
      {WmacIn::kUserIsolation, AC_IPC_ProcUsrsolation},
      {WmacIn::kAclRule, AC_IPC_ProApAclRule},
      {WmacIn::kWlanAcl, AC_IPC_ProApUpdateWlanAcl},
      {WmacIn::kL2Acl, AC_IPC_SetL2Acl, true},
      {WmacIn::kL2Acl2, AC_IPC_SetL2Acl, true},
      {WmacIn::kDhcpSnooping, AC_IPC_ProcDhcpSnooping},
      {WmacIn::kVlanIsolate, AC_IPC_ProcVlanIsolate},
      {WmacIn::kPortalDomain, AC_IPC_ProApPortalPageDomain},
  };
  return InstallIpcRoutes(kRoutes);
}

}  // namespace capwap
