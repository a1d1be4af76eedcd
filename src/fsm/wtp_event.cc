#include "fsm/wtp_event.h"

#include "fsm/vendor_handlers.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <new>

#include "diag/debug.h"
#include "platform/lib.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/side_channels.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;
using capwap::Bytes;
using capwap::ByteView;
using capwap::WtpEventRecord;

namespace capwap {

bool ReportBuffer::Append(uint16_t type, ByteView value, bool network_order) {
  if (data.size() + 4 + value.size() > limit) {
    CwDebug(kDbgError, ZLOG_INFO, " Report element %u of %zu bytes dropped: report full.\n",
            static_cast<unsigned>(type), value.size());
    return true;
  }
  const size_t at = data.size();
  try {
    data.resize(at + 4 + value.size());
  } catch (const std::bad_alloc&) {
    data.resize(at);
    return false;
  }
  const auto length = static_cast<uint16_t>(value.size());
  if (network_order) {
    WireWriter w(data.data() + at, 4);
    w.u16(type);
    w.u16(length);
  } else {
    HostWriter w(data.data() + at, 4);
    w.u16(type);
    w.u16(length);
  }
  std::copy(value.begin(), value.end(), data.begin() + static_cast<ptrdiff_t>(at + 4));
  return true;
}

WtpEventRecord* EventVendorContext(void* ctx) { return VendorDecodeScope<WtpEventRecord>::Target(ctx); }

}  // namespace capwap

namespace {

bool CopyBytes(Bytes& out, ByteView value) {
  try {
    out.assign(value.begin(), value.end());
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

// The WRRM single report: a whole element or sub-element, header included.
bool KeepWholeForWrrm(WtpEventRecord* rec, uint16_t type, ByteView value) {
  Bytes whole;
  try {
    whole.resize(4 + value.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  capwap::WireWriter w(whole.data(), whole.size());
  w.u16(type);
  w.u16(static_cast<uint16_t>(value.size()));
  w.bytes(value);
  rec->wrrm_single = std::move(whole);
  return true;
}

// --- Top-level elements ------------------------------------------------------

bool DecodeRadioStatistics(WtpEventRecord* rec, capwap::WireReader& r) {
  uint8_t radio_id = 0;
  capwap::RadioStatistics stats;
  r.u8(radio_id);
  r.u8(stats.last_failure);
  for (uint16_t& counter : stats.counters) r.u16(counter);
  r.u16(stats.noise_floor);
  if (!r.ok()) return false;
  stats.present = true;
  if (radio_id < rec->radio_stats.size()) {
    rec->radio_stats[radio_id] = stats;
  } else {
    CwDebug(kDbgError, ZLOG_INFO, " Radio statistics of radio %u ignored.\n",
            static_cast<unsigned>(radio_id));
  }
  return true;
}

bool DecodeChannelReport(WtpEventRecord* rec, const CwElement& e) {
  capwap::WireReader r(e.value);
  uint8_t reserved = 0;
  r.u8(rec->channel_radio_id);
  r.u8(reserved);
  r.u8(rec->current_channel);
  r.u8(rec->current_cca);
  r.u32(rec->energy_threshold);
  if (!r.ok()) return false;
  rec->channel_report = true;
  return KeepWholeForWrrm(rec, e.type, e.value);
}

// False when the element's value is shorter than its content (or a copy
// could not be had): the whole request is then undecodable.
bool DecodeElement(WtpEventRecord* rec, const CwElement& e) {
  capwap::WireReader r(e.value);
  switch (e.type) {
    case elem::kDeleteStation:
      r.u8(rec->delete_radio_id);
      r.skip(1);  // MAC length: always 6 here
      r.bytes(rec->delete_mac.data(), 6);
      rec->delete_station = r.ok();
      return r.ok();
    case elem::kVendorSpecificPayload: {
      capwap::VendorDecodeScope<WtpEventRecord> scope(rec);
      return CW_AC_DecVendorElem(rec, e.value) == 0;
    }
    case elem::kWtpRadioStatistics:
      return DecodeRadioStatistics(rec, r);
    case elem::kStationIp:
      for (uint32_t& word : rec->station_ip_words) r.u32(word);
      r.u8(rec->station_ip_kind);
      r.bytes(rec->station_ip_mac.data(), 6);
      rec->station_ip = r.ok();
      return r.ok();
    case elem::kStationSync:
      return CopyBytes(rec->station_sync, e.value);
    case elem::kSpecificStationDeletion:
      r.u8(rec->specific_kind);
      r.skip(1);
      r.bytes(rec->specific_mac.data(), 6);
      r.bytes(rec->specific_second_mac.data(), 6);
      r.u32(rec->specific_value);
      rec->specific_deletion = r.ok();
      return r.ok();
    case elem::kSpecificStationDeletionTail:
      return r.u16(rec->specific_tail);
    case elem::kIeee80211DirectSequenceControl:
      return DecodeChannelReport(rec, e);
    case elem::kIeee80211RsnaErrorReportFromStation:
      if (!r.skip(40)) return false;
      ++rec->rsna_reports;
      return true;
    default:  // Decryption Error Report, duplicate addresses, statistics …
      return true;
  }
}

// --- Forwarding -------------------------------------------------------------

template <size_t N>
using Record = std::array<uint8_t, N>;

void ForwardStationReports(const WtpEventRecord& rec, uint32_t apid) {
  if (rec.delete_station) {
    const auto& m = rec.delete_mac;
    CwDebug(kDbgPacket, ZLOG_INFO,
            " Notifing WMAC to DELETE-STA with station MAC address %s.\n",
            capwap::MacText(m).data());
    Record<7> out{};
    capwap::HostWriter w(out.data(), out.size());
    w.bytes(m.data(), 6);
    w.u8(rec.delete_radio_id);
    WMAC_AC_IPC_NotifyDelSta(apid, out.data());
  }
  if (rec.specific_deletion) {
    Record<24> out{};
    capwap::HostWriter w(out.data(), out.size());
    w.bytes(rec.specific_mac.data(), 6);       // 0
    w.bytes(rec.specific_second_mac.data(), 6);  // 6
    w.u8(rec.specific_kind);                   // 12
    w.zeros(3);
    w.u32(rec.specific_value);  // 16
    capwap::WireWriter tail(out.data() + 20, 2);
    tail.u16(rec.specific_tail);  // 20, network order; 22-23 zero
    WMAC_AC_IPC_NotifyDelSpecSta(apid, out.data());
  }
  if (rec.station_ip) {
    Record<24> out{};
    capwap::HostWriter w(out.data(), out.size());
    for (uint32_t word : rec.station_ip_words) w.u32(word);  // 0-15
    w.u8(rec.station_ip_kind);                               // 16
    w.bytes(rec.station_ip_mac.data(), 6);                   // 17; 23 zero
    WMAC_AC_IPC_NotifySatIp(apid, out.data());
  }
  if (rec.channel_report) {
    Record<8> out{};
    capwap::HostWriter w(out.data(), out.size());
    w.u32(apid);
    w.u8(rec.channel_radio_id);
    w.u8(0);
    w.u16(rec.current_channel);
    WMAC_AC_IPC_ReportAutoChl(apid, out.data());
  }
}

void Forward(WtpEventRecord& rec, uint32_t apid) {
  ForwardStationReports(rec, apid);
  if (!rec.wrrm.data.empty()) {
    Wrrm_Ac_Ipc_Notify_ApReport(rec.wrrm.data.data(), rec.wrrm.data.size(), apid,
                                rec.channel_report ? rec.current_channel : 0);
  }
  if (!rec.wrrm_single.empty()) {
    Wrrm_Ac_Ipc_Notify_ApReport(rec.wrrm_single.data(), rec.wrrm_single.size(), apid, 0);
  }
  if (!rec.station_sync.empty()) {
    WMAC_AC_IPC_NotifyStaSync(rec.station_sync.data(), rec.station_sync.size(), apid);
  }
  if (!rec.wids.data.empty()) {
    WIDS_Ac_Ipc_WIDSReport(capwapm, rec.wids.data.data(), rec.wids.data.size(), apid);
  }
  if (!rec.station_scan.data.empty()) {
    WMAC_AC_IPC_NotifyStaScanRpt(rec.station_scan.data.data(), rec.station_scan.data.size(), apid);
  }
  if (!rec.media.data.empty()) {
    WMAC_AC_IPC_NotifyMediaRpt(rec.media.data.data(), rec.media.data.size(), apid);
  }
  if (rec.report_bits & 1u) {
    WMAC_AC_IPC_NotifyBandSteer(rec.band_steer.data(), rec.band_steer.size(), apid);
  }
  if ((rec.report_bits & 2u) && !rec.wireless_connection.empty()) {
    WMAC_AC_IPC_WirelessCON(rec.wireless_connection.data(), rec.wireless_connection.size(), apid);
  }
  if (rec.wapi_client && rec.wapi_flag != 0) {
    WMAC_AC_IPC_NotifyWapiClientInfo(rec.wapi_record.data(), rec.wapi_record.size(), apid);
  }
  if (!rec.dns_info.empty()) {
    WMAC_AC_IPC_NotifyDnsInfo(rec.dns_info.data(), rec.dns_info.size(), apid);
  }
}

}  // namespace

int CW_AC_DecEvtReq(WtpEventRecord* record, ByteView elements) {
  *record = WtpEventRecord{};
  CwElementWalk walk(elements);
  for (const CwElement& e : walk) {
    if (!DecodeElement(record, e)) {
      CwDebug(kDbgError, ZLOG_INFO, " WTP Event Request element %u of %zu bytes is malformed.\n",
              static_cast<unsigned>(e.type), e.value.size());
      return 1;
    }
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_SndEvtResp(CW_WTPCB* wtp) {
  CwPktPtr pkt = CW_AC_PktMalloc(kCwHeadersLen + kCwElemHeaderLen + 4);
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kAcTimestamp);
    e.w().u32(static_cast<uint32_t>(time(nullptr)));
  }
  FinishCtlMsg(*pkt, kMsgWtpEventRsp, CW_AC_GetSeqNum(wtp, kMsgWtpEventRsp));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_AC_EvtReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  // A running AP's statistics and reports keep its session alive like Echo.
  capwap::RefreshLiveness(wtp);
  CW_AC_SndEvtResp(wtp);
  if (wtp->state != kStateRun) return 1;
  // The record holds up to 52 KB of report data: on the heap, per request.
  auto record = std::make_unique<WtpEventRecord>();
  if (CW_AC_DecEvtReq(record.get(), rcv->Elements()) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode WTP Event Requst frame.\n");
    return 1;
  }
  Forward(*record, wtp->apid);
  return 0;
}

// --- Vendor report handlers ----------------------------------------------------
// Each takes its sub-element when the context is an event record and leaves
// it to the walk (which moves on by the sub-element's length) otherwise.
// 1 only when a copy could not be allocated.

namespace {

int AppendReport(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len,
                 capwap::ReportBuffer WtpEventRecord::*buffer, bool network_order,
                 uint32_t WtpEventRecord::*radio_mask = nullptr) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  ByteView value;
  if (!rec || !cur.view(len, value)) return 0;
  if (radio_mask && !value.empty()) rec->*radio_mask |= 1u << (value[0] % 32);
  return (rec->*buffer).Append(id, value, network_order) ? 0 : 1;
}

int CopyReport(void* ctx, capwap::WireReader& cur, uint16_t len, Bytes WtpEventRecord::*out,
               uint32_t report_bit = 0) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  ByteView value;
  if (!rec || !cur.view(len, value)) return 0;
  rec->report_bits |= report_bit;
  return CopyBytes(rec->*out, value) ? 0 : 1;
}

// Device status reports: `fixed` bytes, then `counted` groups of a count
// byte and that many entries of the group's size. Read for their size and
// recorded in the run-information mask; nothing is forwarded.
struct RunInfoLayout {
  uint16_t head;
  std::array<uint16_t, 2> entry_sizes;  // 0: no such group
  uint32_t mask_bit;
};

int ConsumeRunInfo(void* ctx, capwap::WireReader& cur, const RunInfoLayout& layout) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  if (!rec) return 0;
  cur.skip(layout.head);
  for (uint16_t entry_size : layout.entry_sizes) {
    if (entry_size == 0) break;
    uint8_t count = 0;
    cur.u8(count);
    cur.skip(size_t{count} * entry_size);
  }
  if (cur.ok()) rec->run_info_mask |= layout.mask_bit;
  return 0;
}

}  // namespace

int CW_KVENProc_ApChlRepTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  return AppendReport(ctx, cur, id, len, &WtpEventRecord::wrrm, true,
                      &WtpEventRecord::channel_report_radios);
}
int CW_KVENProc_ApNebRepTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  return AppendReport(ctx, cur, id, len, &WtpEventRecord::wrrm, true,
                      &WtpEventRecord::neighbour_report_radios);
}
int CW_KVENProc_WidsRptFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  return AppendReport(ctx, cur, id, len, &WtpEventRecord::wids, true);
}
int CW_KVENProc_MediaRptFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  return AppendReport(ctx, cur, id, len, &WtpEventRecord::media, false);
}
int CW_KVENProc_ScanStaRptTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  return AppendReport(ctx, cur, id, len, &WtpEventRecord::station_scan, false);
}

// The last of these in a request wins: WRRM takes it whole, header included.
int CW_KVENProc_ApWrrmRptTLVFunc(void* ctx, capwap::WireReader& cur, uint16_t id, uint16_t len) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  ByteView value;
  if (!rec || !cur.view(len, value)) return 0;
  return KeepWholeForWrrm(rec, id, value) ? 0 : 1;
}

int CW_KVENPROC_WIRELESSCONTION(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t len) {
  return CopyReport(ctx, cur, len, &WtpEventRecord::wireless_connection, 2u);
}
int CW_KVENProc_DnsInfoFunc(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t len) {
  return CopyReport(ctx, cur, len, &WtpEventRecord::dns_info);
}

// 30 bytes on the wire; WMAC takes them as a 40-byte host-order record with
// its fields at their natural alignment.
int CW_KVENPROC_BANDSTEER(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  if (!rec) return 0;
  uint8_t mac[6] = {}, pad[2] = {}, b16 = 0, b17 = 0;
  uint16_t a8 = 0, a10 = 0, a18 = 0, a20 = 0;
  uint32_t a12 = 0, a24 = 0, a28 = 0;
  cur.bytes(mac, 6);
  cur.bytes(pad, 2);
  cur.u16(a8);
  cur.u16(a10);
  cur.u32(a12);
  cur.u8(b16);
  cur.u8(b17);
  cur.u16(a18);
  cur.u16(a20);
  cur.u32(a24);
  cur.u32(a28);
  if (!cur.ok()) return 0;
  rec->band_steer.fill(0);
  capwap::HostWriter w(rec->band_steer.data(), rec->band_steer.size());
  w.bytes(mac, 6);  // 0
  w.bytes(pad, 2);  // 6
  w.u16(a8);        // 8
  w.u16(a10);       // 10
  w.u32(a12);       // 12
  w.u8(b16);        // 16
  w.u8(b17);        // 17
  w.u16(a18);       // 18
  w.u16(a20);       // 20
  w.zeros(2);
  w.u32(a24);  // 24
  w.u32(a28);  // 28; 32-39 zero
  rec->report_bits |= 1u;
  return 0;
}

int CW_KVENProc_WAPIClientFunc(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  WtpEventRecord* rec = capwap::EventVendorContext(ctx);
  if (!rec) return 0;
  uint32_t value = 0;
  uint8_t mac[6] = {};
  cur.u32(value);
  cur.bytes(mac, 6);
  cur.u16(rec->wapi_flag);
  if (!cur.ok()) return 0;
  capwap::HostWriter w(rec->wapi_record.data(), rec->wapi_record.size());
  w.u32(value);      // 0
  w.bytes(mac, 6);   // 4
  w.u16(rec->wapi_flag);  // 10
  rec->wapi_client = true;
  return 0;
}

int CW_KVENPROC_WTPRUNINFO(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {258, {0, 0}, 0x200000});
}
int CW_KVENPROC_WTPIFINTERFACE(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {0, {12, 0}, 2});
}
int CW_KVENPROC_WTPINTERFACEINFOR(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {0, {16, 0}, 2});
}
int CW_KVENPROC_APDEVICE_DES(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {140, {0, 0}, 0});
}
int CW_KVENPROC_WTPDEVICESTATIS(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {32, {0, 0}, 8});
}
int CW_KVENPROC_WTP_INTERFACE(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {0, {50, 0}, 2});
}
int CW_KVENPROC_WTPRTCOLLECTINFO(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {8, {16, 40}, 0x400000});
}
int CW_KVENPROC_WTP_SYNCTIMETRAP(void* ctx, capwap::WireReader& cur, uint16_t, uint16_t) {
  return ConsumeRunInfo(ctx, cur, {1, {0, 0}, 0});
}
