// WLAN configuration: the IEEE 802.11 WLAN Configuration Request built from
// WMAC's Add, Delete and Update WLAN records and its channel-width record,
// and the IP-based VLAN table in a Configuration Update Request.
#include "relay/wlan_cfg.h"

#include <utility>

#include "diag/debug.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

using capwap::ByteView;
using capwap::HostReader;
using capwap::WireWriter;
namespace elem = capwap::elem;
namespace vendor_elem = capwap::vendor_elem;

namespace {

constexpr size_t kVendorHead = 8;  // vendor identifier, element ID, length
constexpr size_t kElemHead = kCwElemHeaderLen;
constexpr size_t kRemoteApLen = 225;
constexpr size_t kWebPageLen = 4328;
constexpr size_t kMediaHeadLen = 12;

// The largest Add WLAN without its media-guarantee list: every optional
// element present and every slot full. The list may take the rest of the
// packet, so nothing the fill writes can overflow it.
constexpr size_t kIeElementsMax = 8 * (kElemHead + 2) + 2 + 18 + 2 + 256 + 255 + 32 + 5 + 128;
constexpr size_t kAddWlanMax =
    (kElemHead + 51 + kCwWlanKeyMax) + kIeElementsMax +
    (kElemHead + kVendorHead + 4) +             // 124
    (kElemHead + kVendorHead + 8) +             // 125
    (kElemHead + kVendorHead + kRemoteApLen) +  // 200
    (kElemHead + kVendorHead + kMediaHeadLen) +  // 201 without its list
    3 * (kElemHead + kVendorHead + 1) +         // 123, 80, 133
    (kElemHead + kVendorHead + 5) +             // 134
    (kElemHead + kVendorHead + kWebPageLen) +   // 180
    4 * (kElemHead + 1) + (kElemHead + 4) +     // 1054, 1055, 1061, 1067, 1073
    (kElemHead + 4) + (kElemHead + 2 + kCwIeNinthRoom) +  // 1071 and the ninth slot
    (kElemHead + 1);                            // 1070
constexpr size_t kPacketRoom = kCwPktBufSize - kCwHeadersLen;
constexpr size_t kMediaEntriesMax = (kPacketRoom - kAddWlanMax) / CwMediaGuarantee::kEntryLen;
static_assert(kMediaEntriesMax > 1000, "the packet holds a long media-guarantee list");

// The IP-based VLAN table in one Configuration Update Request.
constexpr size_t kIpVlanEntriesMax =
    (kPacketRoom - kElemHead - kVendorHead - 6) / CwIpVlanHead::kEntryLen;

bool Refuse(const char* what, unsigned a, unsigned b) {
  CwDebug(kDbgError, ZLOG_ERR, what, a, b);
  return false;
}

// One vendor element under `vendor_id`; `body` writes its value.
template <class Body>
bool WriteVendor(CW_PKT& pkt, uint32_t vendor_id, uint16_t elem_id, Body&& body) {
  CwElementWriter e(pkt, elem::kVendorSpecificPayload);
  WireWriter& w = e.w();
  w.u32(vendor_id);
  w.u16(elem_id);
  const size_t len_at = w.Reserve16();
  body(w);
  w.Patch16(len_at, static_cast<uint16_t>(w.size() - kVendorHead));
  return e.ok();
}

template <class Body>
bool WriteElement(CW_PKT& pkt, uint16_t type, Body&& body) {
  CwElementWriter e(pkt, type);
  body(e.w());
  return e.ok();
}

// An IEEE 802.11 Information Element element: the slot's ID, L, L bytes.
bool WriteIe(CW_PKT& pkt, const CwIeSlot& slot) {
  return WriteElement(pkt, elem::kIeee80211InformationElement, [&](WireWriter& w) {
    w.u8(slot.id);
    w.u8(slot.len);
    w.bytes(slot.data.data(), slot.len);
  });
}

// A slot length beyond the slot would copy the next slot's bytes (or read
// past the record): refused.
bool IeSetFits(const CwIeSet& ies) {
  for (size_t i = 0; i < ies.size(); ++i) {
    if (ies[i].len > kCwIeSlotRoom[i]) {
      return Refuse(" WMAC WLAN record: IE slot %u length %u exceeds its room; dropped.",
                    static_cast<unsigned>(i + 1), ies[i].len);
    }
  }
  return true;
}

bool KeyFits(uint16_t key_len) {
  return key_len <= kCwWlanKeyMax ||
         Refuse(" WMAC WLAN record: key of %u bytes (at most %u); dropped.", key_len,
                kCwWlanKeyMax);
}

// The remote-AP block (vendor element 200): 225 bytes, what M and P do not
// name stays zero.
std::array<uint8_t, kRemoteApLen> RemoteApValue(const CwRemoteApBlock& in) {
  std::array<uint8_t, kRemoteApLen> value{};
  WireWriter w(value.data(), value.size());
  CwHostRecord mode(in.mode_data);
  // Mode data is read at its payload offset.
  constexpr size_t b = CwRemoteApBlock::kModeDataAt;
  w.bytes(in.head.data(), in.head.size());  // 0, 1, 2
  w.u16(in.mode);                            // 3
  w.bytes(in.name.data(), in.name.size());  // 5
  if (in.mode == 1) {
    w.u8(mode.U8(1012 - b));  // 37
  } else if (in.mode == 2) {
    w.u8(mode.U8(1012 - b));             // 37
    w.bytes(mode.View(1013 - b, 65));   // 38
    w.u8(mode.U8(1078 - b));             // 103
  } else if (in.mode == 3) {
    const uint32_t p = mode.U32(1012 - b);
    w.u32(p);                            // 37
    w.u8(mode.U8(1016 - b));             // 41
    w.u8(mode.U8(1017 - b));             // 42
    w.u8(mode.U8(1018 - b));             // 43
    w.u32(mode.U32(1020 - b));           // 44
    w.bytes(mode.View(1024 - b, 4));     // 48
    w.seek(64);
    w.u32(mode.U32(1040 - b));           // 64
    w.u16(mode.U16(1044 - b));           // 68
    w.bytes(mode.View(1046 - b, 64));    // 70
    if (p == 2) {
      w.u8(mode.U8(1110 - b));           // 134
      w.u32(mode.U32(1112 - b));         // 135
      w.bytes(mode.View(1116 - b, 4));   // 139
      w.seek(155);
      w.u32(mode.U32(1132 - b));         // 155
      w.u16(mode.U16(1136 - b));         // 159
      w.bytes(mode.View(1138 - b, 64));  // 161
    }
  }
  return value;
}

bool WriteMediaGuarantee(CW_PKT& pkt, uint32_t vendor_id, const CwMediaGuarantee& m,
                         ByteView payload) {
  CwDebug(kDbgEvent, ZLOG_DEBUG, "AC:PKT:usMediaGuaranteeEnable = %d", m.enable);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "AC:PKT:usMediaThreshold = %d", m.threshold);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "AC:PKT:usChannelRatio = %d", m.ratio);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "AC:PKT:usIpAddrCount = %d", m.count);
  CwDebug(kDbgEvent, ZLOG_DEBUG, "AC:PKT:uiAgingTime = %d", static_cast<int>(m.aging));
  return WriteVendor(pkt, vendor_id, vendor_elem::kWlanMediaGuarantee, [&](WireWriter& w) {
    w.u16(m.enable);
    w.u16(m.threshold);
    w.u16(m.ratio);
    w.u16(m.count);
    w.u32(m.aging);
    // The list lies over the single-value fields from 5560 on (both are
    // read from the same bytes); its length was checked against the payload.
    HostReader list(payload.subspan(CwMediaGuarantee::kListAt));
    for (uint16_t i = 0; i < m.count; ++i) {
      uint32_t word = 0;
      ByteView address;
      list.u32(word);
      list.view(16, address);
      w.u32(word);
      w.bytes(address);
    }
  });
}

// The web page block is sent when its title is set, or both its second
// text and its page body are.
bool WebPageSet(const CwWebPageBlock& web) {
  return web.title[0] != 0 || (web.text2[0] != 0 && web.body[0] != 0);
}

bool WriteWebPage(CW_PKT& pkt, uint32_t vendor_id, const CwWebPageBlock& web) {
  return WriteVendor(pkt, vendor_id, vendor_elem::kWlanWebPage, [&](WireWriter& w) {
    w.u8(static_cast<uint8_t>(web.first));
    w.u8(web.second);
    w.bytes(web.title.data(), web.title.size());
    w.bytes(web.text2.data(), web.text2.size());
    w.bytes(web.texts.data(), web.texts.size());
    w.bytes(web.body.data(), web.body.size());
    w.bytes(web.raw.data(), web.raw.size());
    for (uint32_t word : web.words) w.u32(word);
    w.u8(static_cast<uint8_t>(web.last1));
    w.u8(static_cast<uint8_t>(web.last2));
  });
}

bool AddWlanFits(const CwAddWlanRecord& rec, ByteView payload) {
  if (!KeyFits(rec.key_len) || !IeSetFits(rec.ies)) return false;
  // The ninth slot is sent only with element 1071 (an option bit besides bit 1).
  if ((rec.options & ~2u) != 0 && rec.ninth.len > kCwIeNinthRoom) {
    return Refuse(" WMAC WLAN record: IE slot %u length %u exceeds its room; dropped.", 9,
                  rec.ninth.len);
  }
  if (rec.media.send != 1) return true;
  const size_t n = rec.media.count;
  if (n > kMediaEntriesMax) {
    return Refuse(" WMAC ADD-WLAN: %u media-guarantee addresses, at most %u fit; dropped.",
                  static_cast<unsigned>(n), static_cast<unsigned>(kMediaEntriesMax));
  }
  if (CwMediaGuarantee::kListAt + CwMediaGuarantee::kEntryLen * n > payload.size()) {
    return Refuse(" WMAC ADD-WLAN: %u media-guarantee addresses in %u payload bytes; dropped.",
                  static_cast<unsigned>(n), static_cast<unsigned>(payload.size()));
  }
  return true;
}

bool FillAddWlan(CW_PKT& pkt, ByteView payload, uint32_t vendor_id) {
  CwAddWlanRecord rec;
  if (!WmacRecordDecode(payload, &rec)) {
    return Refuse(" WMAC ADD-WLAN of %u bytes, %u needed; dropped.",
                  static_cast<unsigned>(payload.size()), CwAddWlanRecord::kSize);
  }
  if (!AddWlanFits(rec, payload)) return false;
  bool ok = WriteElement(pkt, elem::kIeee80211AddWlan, [&](WireWriter& w) {
    w.u8(rec.radio_id);
    w.u8(rec.wlan_id);
    w.u16(rec.capability);
    w.u8(rec.key_index);
    w.u8(rec.key_status);
    w.u16(rec.key_len);
    w.bytes(rec.key.data(), rec.key_len);
    w.bytes(rec.group_tsc.data(), rec.group_tsc.size());
    w.u8(rec.qos);
    w.u8(rec.auth_type);
    w.u8(rec.mac_mode);
    w.u8(rec.tunnel_mode);
    w.u8(rec.suppress_ssid);
    w.bytes(rec.ssid.data(), rec.ssid.size());
  });
  for (const CwIeSlot& slot : rec.ies) ok = ok && WriteIe(pkt, slot);
  uint32_t options = rec.options;
  if (options & 2u) {
    ok = ok && WriteVendor(pkt, vendor_id, vendor_elem::kWlanValue124,
                           [&](WireWriter& w) { w.u32(rec.value124); });
    options &= ~2u;  // bit 1 does not count towards element 1071
  }
  if (rec.send125 == 1) {
    ok = ok && WriteVendor(pkt, vendor_id, vendor_elem::kWlanValue125, [&](WireWriter& w) {
      w.bytes(rec.value125a.data(), rec.value125a.size());
      w.u32(rec.value125b);
    });
  }
  if (rec.send_remote_ap == 1) {
    const auto value = RemoteApValue(rec.remote_ap);
    ok = ok && WriteVendor(pkt, vendor_id, vendor_elem::kWlanRemoteAp,
                           [&](WireWriter& w) { w.bytes(value.data(), value.size()); });
  }
  if (rec.media.send == 1) ok = ok && WriteMediaGuarantee(pkt, vendor_id, rec.media, payload);
  const std::pair<uint16_t, uint8_t> switches[] = {
      {vendor_elem::kWlanSwitch123, rec.value123},
      {vendor_elem::kWlanSwitch80, rec.value80},
      {vendor_elem::kWlanSwitch133, rec.value133}};
  for (const auto& [id, value] : switches) {
    const uint8_t octet = value;  // clang 14 cannot capture a structured binding
    ok = ok && WriteVendor(pkt, vendor_id, id, [&](WireWriter& w) { w.u8(octet); });
  }
  ok = ok && WriteVendor(pkt, vendor_id, vendor_elem::kWlanValue134, [&](WireWriter& w) {
    w.u8(rec.value134a);
    w.u32(rec.value134b);
  });
  if (WebPageSet(rec.web)) ok = ok && WriteWebPage(pkt, vendor_id, rec.web);
  const std::pair<uint16_t, uint8_t> settings[] = {{elem::kWlanSetting1054, rec.value1054},
                                                   {elem::kWlanSetting1055, rec.value1055},
                                                   {elem::kWlanSetting1061, rec.value1061},
                                                   {elem::kWlanSetting1067, rec.value1067}};
  for (const auto& [type, value] : settings) {
    const uint8_t octet = value;
    ok = ok && WriteElement(pkt, type, [&](WireWriter& w) { w.u8(octet); });
  }
  ok = ok && WriteElement(pkt, elem::kWlanSetting1073, [&](WireWriter& w) { w.u32(rec.value1073); });
  if (options != 0) {
    ok = ok && WriteElement(pkt, elem::kWlanOptions, [&](WireWriter& w) { w.u32(options); });
    ok = ok && WriteIe(pkt, rec.ninth);
  }
  return ok && WriteElement(pkt, elem::kWlanSetting1070, [&](WireWriter& w) { w.u8(rec.value1070); });
}

bool FillDelWlan(CW_PKT& pkt, ByteView payload) {
  CwDelWlanRecord rec;
  if (!WmacRecordDecode(payload, &rec)) {
    return Refuse(" WMAC DEL-WLAN of %u bytes, %u needed; dropped.",
                  static_cast<unsigned>(payload.size()), CwDelWlanRecord::kSize);
  }
  return WriteElement(pkt, elem::kIeee80211DeleteWlan, [&](WireWriter& w) {
    w.u8(rec.radio_id);
    w.u8(rec.wlan_id);
  });
}

bool FillUpdWlan(CW_PKT& pkt, ByteView payload) {
  CwUpdWlanRecord rec;
  if (!WmacRecordDecode(payload, &rec)) {
    return Refuse(" WMAC UPDATE-WLAN of %u bytes, %u needed; dropped.",
                  static_cast<unsigned>(payload.size()), CwUpdWlanRecord::kSize);
  }
  if (!KeyFits(rec.key_len) || !IeSetFits(rec.ies)) return false;
  // No key-status byte: the element is 7 + key length long.
  bool ok = WriteElement(pkt, elem::kIeee80211UpdateWlan, [&](WireWriter& w) {
    w.u8(rec.radio_id);
    w.u8(rec.wlan_id);
    w.u8(0);
    w.u8(rec.capability);
    w.u8(rec.key_index);
    w.u16(rec.key_len);
    w.bytes(rec.key.data(), rec.key_len);
  });
  for (const CwIeSlot& slot : rec.ies) ok = ok && WriteIe(pkt, slot);
  return ok;
}

using FillFn = int (*)(CW_PKT&, uint32_t, ByteView, uint32_t);

int SendRequest(CW_WTPCB* wtp, uint32_t op, ByteView payload, FillFn fill) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR,
            " No packet for the WLAN Configuration Request (operation %u) to AP %u.", op,
            wtp->apid);
    return 1;
  }
  if (fill(*pkt, op, payload, wtp->board_vendor_id) != 0) return 1;
  FinishCtlMsg(*pkt, kMsgWlanCfgReq, CW_AC_GetSeqNum(wtp, kMsgWlanCfgReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

// The WTP of a WLAN request: it must exist and be in Run (a queued request
// to an AP without a session would be retransmitted into the void and tear
// down an AP that has nothing to tear down).
CW_WTPCB* RunningWtp(const IpcHead& head, const char* missing_line) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, "%s", missing_line);
    return nullptr;
  }
  if (wtp->state != kStateRun) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to proc WLAN config message (type %u) since AP is not under RUNNING state.",
            head.msg_type);
    return nullptr;
  }
  return wtp;
}

}  // namespace

int CW_AC_FillWlanCfgReq(CW_PKT& pkt, uint32_t op, ByteView payload, uint32_t vendor_id) {
  const size_t cursor = pkt.cursor;
  const uint32_t length = pkt.length;
  bool ok = false;
  if (op == kWlanOpAdd) ok = FillAddWlan(pkt, payload, vendor_id);
  if (op == kWlanOpDel) ok = FillDelWlan(pkt, payload);
  if (op == kWlanOpUpdate) ok = FillUpdWlan(pkt, payload);
  if (ok) return 0;
  // Nothing half-built goes out.
  pkt.cursor = cursor;
  pkt.length = length;
  return 1;
}

int CW_AC_FillWidthCfgReq(CW_PKT& pkt, uint32_t op, ByteView payload, uint32_t vendor_id) {
  CwWidthRecord rec;
  if (op != kWlanOpWidth) return 1;
  if (!WmacRecordDecode(payload, &rec)) {
    Refuse(" WMAC channel width of %u bytes, %u needed; dropped.",
           static_cast<unsigned>(payload.size()), CwWidthRecord::kSize);
    return 1;
  }
  bool ok = WriteVendor(pkt, vendor_id, vendor_elem::kChannelWidth, [&](WireWriter& w) {
    w.bytes(rec.raw.data(), rec.raw.size());
    for (uint32_t word : rec.words) w.u32(word);
  });
  return ok ? 0 : 1;
}

int CW_AC_SndWlanCfgReq(CW_WTPCB* wtp, uint32_t op, ByteView payload) {
  return SendRequest(wtp, op, payload, CW_AC_FillWlanCfgReq);
}

int CW_AC_SndWidthCfgReq(CW_WTPCB* wtp, uint32_t op, ByteView payload) {
  return SendRequest(wtp, op, payload, CW_AC_FillWidthCfgReq);
}

int FillIpBasedVlan(CW_PKT& pkt, ByteView payload, uint32_t vendor_id) {
  CwIpVlanHead head;
  if (!WmacRecordDecode(payload, &head) || head.count > kIpVlanEntriesMax ||
      payload.size() != CwIpVlanHead::kSize + CwIpVlanHead::kEntryLen * head.count) {
    CwDebug(kDbgError, ZLOG_ERR,
            " WMAC IP-based VLAN table of %zu bytes does not hold its %u entries (at most "
            "%zu); dropped.",
            payload.size(), head.count, kIpVlanEntriesMax);
    return 1;
  }
  // The header value, the count, then the entries as big-endian words; both
  // lengths follow from the count.
  bool ok = WriteVendor(pkt, vendor_id, vendor_elem::kIpBasedVlan, [&](WireWriter& w) {
    w.u16(head.header);
    w.u32(head.count);
    HostReader entries(payload.subspan(CwIpVlanHead::kSize));
    for (size_t i = 0; i < 3 * head.count; ++i) {
      uint32_t word = 0;
      entries.u32(word);
      w.u32(word);
    }
  });
  return ok ? 0 : 1;
}

int CW_AC_SndIpBasedVlan(CW_WTPCB* wtp, ByteView payload) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR, " No packet for the IP-based VLAN table to AP %u.", wtp->apid);
    return 1;
  }
  if (FillIpBasedVlan(*pkt, payload, wtp->board_vendor_id) != 0) return 1;
  FinishCtlMsg(*pkt, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int AC_IPC_ProcWlanCfg(const IpcHead& head, uint32_t op, const uint8_t* payload) {
  CW_WTPCB* wtp = RunningWtp(head, " Failed to find AP entry when processing WLAN Config message.");
  if (!wtp) return 1;
  return CW_AC_SndWlanCfgReq(wtp, op, IpcPayload(head, payload));
}

int AC_IPC_ProcWidthCfg(const IpcHead& head, uint32_t op, const uint8_t* payload) {
  CW_WTPCB* wtp =
      RunningWtp(head, " Failed to find AP entry when processing setting width message.");
  if (!wtp) return 1;
  return CW_AC_SndWidthCfgReq(wtp, op, IpcPayload(head, payload));
}

int AC_IPC_ProcIpBasedVlan(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp =
      RunningWtp(head, " Failed to find AP entry when processing IP based VLAN message.");
  if (!wtp) return 1;
  return CW_AC_SndIpBasedVlan(wtp, IpcPayload(head, payload));
}

int RegisterWlanHandlers() {
  static constexpr WmacRoute kRoutes[] = {
      {WmacIn::kAddWlan, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcWlanCfg(h, kWlanOpAdd, p);
       }},
      {WmacIn::kDelWlan, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcWlanCfg(h, kWlanOpDel, p);
       }},
      {WmacIn::kUpdateWlan, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcWlanCfg(h, kWlanOpUpdate, p);
       }},
      {WmacIn::kWidthCfg, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcWidthCfg(h, kWlanOpWidth, p);
       }},
      {WmacIn::kIpVlan, AC_IPC_ProcIpBasedVlan},
      {WmacIn::kAddSta, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcStaCfg(h, kStaOpAdd, p);
       }},
      {WmacIn::kDelSta, [](const IpcHead& h, const uint8_t* p) {
         return AC_IPC_ProcStaCfg(h, kStaOpDel, p);
       }},
      {WmacIn::kStaTraffic, AC_IPC_Set_ApStaTraffic},
  };
  return InstallIpcRoutes(kRoutes);
}
