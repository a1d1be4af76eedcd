// Station configuration: the Station Configuration Request built from
// WMAC's Add and Delete Station records and from a per-station traffic
// limit (WMAC type 96, or a local command).
#include <utility>

#include "diag/debug.h"
#include "registry/tables.h"
#include "relay/wlan_cfg.h"
#include "relay/wlan_records.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

using capwap::ByteView;
using capwap::WireWriter;
namespace elem = capwap::elem;

namespace {

constexpr uint8_t kMacLen = 6;

bool ShortRecord(const char* name, size_t have, size_t need) {
  CwDebug(kDbgError, ZLOG_ERR, " WMAC %s of %zu bytes, %zu needed; dropped.", name, have,
          need);
  return false;
}

template <class Body>
bool WriteElement(CW_PKT& pkt, uint16_t type, Body&& body) {
  CwElementWriter e(pkt, type);
  body(e.w());
  return e.ok();
}

bool FillAddSta(CW_PKT& pkt, ByteView payload, uint32_t vendor_id) {
  CwAddStaRecord rec;
  if (!WmacRecordDecode(payload, &rec)) {
    return ShortRecord("ADD-STA", payload.size(), CwAddStaRecord::kSize);
  }
  if (rec.key_len > kCwStaKeyMax) {
    // More than the key field holds: copying it would read the next fields
    // and beyond the record.
    CwDebug(kDbgError, ZLOG_ERR, " WMAC ADD-STA: key of %u bytes (at most %zu); dropped.",
            rec.key_len, kCwStaKeyMax);
    return false;
  }
  bool ok = WriteElement(pkt, elem::kAddStation, [&](WireWriter& w) {
    w.u8(rec.radio_id);
    w.u8(kMacLen);
    w.bytes(rec.mac.data(), kMacLen);
    w.u32(rec.add_word);
  });
  ok = ok && WriteElement(pkt, elem::kIeee80211Station, [&](WireWriter& w) {
    w.u8(rec.sta_radio_id);
    w.u16(rec.assoc_id);
    w.u8(rec.flags);
    w.bytes(rec.sta_mac.data(), kMacLen);
    w.u16(rec.capabilities);
    w.u8(rec.wlan_id);
    w.bytes(rec.rates.data(), rec.rates.size());  // always all 126 bytes
  });
  ok = ok && WriteElement(pkt, elem::kIeee80211StationQosProfile, [&](WireWriter& w) {
    w.bytes(rec.qos_mac.data(), kMacLen);
    w.u16(rec.qos);
  });
  ok = ok && WriteElement(pkt, elem::kIeee80211StationSessionKey, [&](WireWriter& w) {
    w.bytes(rec.key_mac.data(), kMacLen);
    w.bytes(rec.key_flags.data(), rec.key_flags.size());  // as stored
    w.bytes(rec.tsc.data(), rec.tsc.size());
    w.bytes(rec.rsc.data(), rec.rsc.size());
    w.bytes(rec.key.data(), rec.key_len);
  });
  if (rec.send130 == 1) {
    ok = ok && WriteElement(pkt, elem::kVendorSpecificPayload, [&](WireWriter& w) {
      w.u32(vendor_id);
      w.u16(capwap::vendor_elem::kStationSetting130);
      w.u16(29);
      w.bytes(rec.mac130.data(), kMacLen);
      w.bytes(rec.raw130.data(), rec.raw130.size());
      w.u16(rec.first130);
      w.u16(rec.second130);
      w.u8(rec.byte130);
      w.bytes(rec.tail130.data(), rec.tail130.size());
    });
  }
  ok = ok && WriteElement(pkt, elem::kStationSetting1062, [&](WireWriter& w) { w.u32(rec.value1062); });
  return ok && WriteElement(pkt, elem::kStationSetting1064, [&](WireWriter& w) { w.u16(rec.value1064); });
}

bool FillDelSta(CW_PKT& pkt, ByteView payload) {
  CwDelStaRecord rec;
  if (!WmacRecordDecode(payload, &rec)) {
    return ShortRecord("DEL-STA", payload.size(), CwDelStaRecord::kSize);
  }
  bool ok = WriteElement(pkt, elem::kDeleteStation, [&](WireWriter& w) {
    w.u8(rec.radio_id);
    w.u8(kMacLen);
    w.bytes(rec.mac.data(), kMacLen);
  });
  return ok && WriteElement(pkt, elem::kStationSetting1064, [&](WireWriter& w) { w.u16(rec.value1064); });
}

bool FillTraffic(CW_PKT& pkt, ByteView record) {
  CwStaTrafficRecord rec;
  if (!WmacRecordDecode(record, &rec)) {
    return ShortRecord("station traffic", record.size(), CwStaTrafficRecord::kSize);
  }
  return WriteElement(pkt, elem::kStationTraffic, [&](WireWriter& w) {
    w.bytes(rec.mac.data(), kMacLen);
    w.u32(rec.first);
    w.u32(rec.second);
    w.u32(rec.traffic_type);
  });
}

}  // namespace

int CW_AC_FillStaCfgReq(CW_PKT& pkt, uint32_t op, ByteView record, uint32_t vendor_id) {
  const size_t cursor = pkt.cursor;
  const uint32_t length = pkt.length;
  bool ok = false;
  if (op == kStaOpAdd) ok = FillAddSta(pkt, record, vendor_id);
  if (op == kStaOpDel) ok = FillDelSta(pkt, record);
  if (op == kStaOpTraffic) ok = FillTraffic(pkt, record);
  if (ok) return 0;
  pkt.cursor = cursor;
  pkt.length = length;
  return 1;
}

int CW_AC_SndStaCfgReq(CW_WTPCB* wtp, uint32_t op, ByteView record) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR,
            " No packet for the Station Configuration Request (operation %u) to AP %u.", op,
            wtp->apid);
    return 1;
  }
  if (CW_AC_FillStaCfgReq(*pkt, op, record, wtp->board_vendor_id) != 0) return 1;
  FinishCtlMsg(*pkt, kMsgStaCfgReq, CW_AC_GetSeqNum(wtp, kMsgStaCfgReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int AC_IPC_ProcStaCfg(const IpcHead& head, uint32_t op, const uint8_t* payload) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(head.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to find AP entry when processing STA config message.");
    return 1;
  }
  if (wtp->state != kStateRun) {
    CwDebug(kDbgError, ZLOG_ERR,
            " Failed to proc STA config message since AP is not under RUNNING state.");
    return 1;
  }
  return CW_AC_SndStaCfgReq(wtp, op, IpcPayload(head, payload));
}

int AC_IPC_Set_ApStaTraffic(const IpcHead& head, const uint8_t* payload) {
  CwStaTrafficMsg msg;
  const ByteView bytes = IpcPayload(head, payload);
  if (!WmacRecordDecode(bytes, &msg)) {
    ShortRecord("station traffic", bytes.size(), CwStaTrafficMsg::kSize);
    return 1;
  }
  CwDebug(kDbgEvent, ZLOG_INFO, "Traffic type %d", static_cast<int>(msg.traffic.traffic_type));
  CW_WTPCB* wtp = CW_AC_GetWTPByID(msg.wtp_id);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, "Failed to find AP when sending Sta Traffic");
    return 1;
  }
  if (wtp->state != kStateRun) return 0;
  CwDebug(kDbgEvent, ZLOG_INFO, "Traffic type %d", static_cast<int>(msg.traffic.traffic_type));
  const auto record = WmacRecordEncode(msg.traffic);
  return CW_AC_SndStaCfgReq(wtp, kStaOpTraffic, record);
}
