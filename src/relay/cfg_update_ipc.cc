// The WMAC requests that each become one Configuration Update Request to an
// AP (scans, sniffer, signals, band steering, 802.11v, environment monitor,
// DPI, RFID, DNS, group keys, station synchronisation, statistics
// collection), the WAPI relay towards the AP's data channel, and the
// firmware offers of the upgrade command.
#include <cerrno>
#include <cstring>
#include <vector>

#include "diag/debug.h"
#include "platform/identity.h"
#include "config/images.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/keepalive.h"
#include "transport/sendq.h"
#include "transport/sockets.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::WireWriter;

uint8_t g_ucApRtCollectTime = 0;

void CfgUpdateReset() { g_ucApRtCollectTime = 0; }

namespace {

constexpr size_t kVendorHeaderLen = 8;  // vendor identifier, element ID, length
// The largest vendor element value a request can carry: the packet buffer
// less both headers, the element header and the vendor header.
constexpr size_t kVendorValueMax = kCwPktBufSize - kCwHeadersLen - 4 - kVendorHeaderLen;

bool PayloadHolds(const IpcHead& head, ByteView payload, size_t need) {
  if (payload.size() >= need) return true;
  CwDebug(kDbgError, ZLOG_ERR,
          " WMAC message %u carries %zu payload bytes, %zu needed; dropped.", head.msg_type,
          payload.size(), need);
  return false;
}

// The payload's fixed record; false after the debug line when it is short.
template <class R>
bool PayloadRecord(const IpcHead& head, ByteView payload, R* out) {
  return PayloadHolds(head, payload, R::kSize) && WmacRecordDecode(payload, out);
}

bool FitsVendorElement(const IpcHead& head, size_t value_len) {
  if (value_len <= kVendorValueMax) return true;
  CwDebug(kDbgError, ZLOG_ERR,
          " WMAC message %u carries %zu bytes, more than one request holds; dropped.",
          head.msg_type, value_len);
  return false;
}

// One vendor element under the WTP's vendor identifier, sent as item 37.
// `declared_len` is the element's length field, normally the value's size.
int SendVendorElement(CW_WTPCB* wtp, uint16_t elem_id, ByteView value, uint16_t declared_len) {
  Bytes payload(kVendorHeaderLen + value.size());
  WireWriter w(payload.data(), payload.size());
  w.u32(wtp->board_vendor_id);
  w.u16(elem_id);
  w.u16(declared_len);
  w.bytes(value);
  if (!w.ok() || payload.size() > UINT16_MAX) return 1;
  CwRefItem item = CwRefItem::Length(static_cast<uint16_t>(payload.size()), payload);
  return CW_AC_SndCfgUpdReqItem(wtp, kItemVendorPayload, item.Item());
}
int SendVendorElement(CW_WTPCB* wtp, uint16_t elem_id, ByteView value) {
  return SendVendorElement(wtp, elem_id, value, static_cast<uint16_t>(value.size()));
}

// A request whose elements WMAC encoded: the payload is the element list.
int SendElementList(CW_WTPCB* wtp, ByteView elements) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) return 1;
  if (PktAppendRaw(*pkt, elements) != 0) return 1;
  FinishCtlMsg(*pkt, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int RelayElementList(const IpcHead& head, const uint8_t* payload, const char* missing_line) {
  CW_WTPCB* wtp = FindWtp(head, missing_line);
  if (!wtp) return 1;
  return SendElementList(wtp, IpcPayload(head, payload));
}

// The first 16 payload bytes as the vendor element's value.
int RelaySixteenBytes(const IpcHead& head, const uint8_t* payload, uint16_t elem_id,
                      const char* missing_line) {
  constexpr size_t kValueLen = 16;
  CW_WTPCB* wtp = FindWtp(head, missing_line);
  if (!wtp) return 1;
  ByteView bytes = IpcPayload(head, payload);
  if (!PayloadHolds(head, bytes, kValueLen)) return 1;
  return SendVendorElement(wtp, elem_id, bytes.first(kValueLen));
}

// A signal threshold: byte 0 and the u16 at 2.
int RelaySignal(const IpcHead& head, const uint8_t* payload, uint16_t elem_id,
                const char* missing_line) {
  CW_WTPCB* wtp = FindWtp(head, missing_line);
  if (!wtp) return 1;
  WmacSignalRecord in;
  if (!PayloadRecord(head, IpcPayload(head, payload), &in)) return 1;
  std::array<uint8_t, 3> value{};
  WireWriter w(value.data(), value.size());
  w.u8(in.byte0);
  w.u16(in.threshold);
  return SendVendorElement(wtp, elem_id, value);
}

// The whole payload as the value of a vendor element, for a running AP.
int RelayCopy(const IpcHead& head, const uint8_t* payload, uint16_t elem_id,
              const char* missing_line) {
  CW_WTPCB* wtp = FindRunningWtp(head, missing_line);
  if (!wtp) return 1;
  ByteView bytes = IpcPayload(head, payload);
  if (!FitsVendorElement(head, bytes.size())) return 1;
  return SendVendorElement(wtp, elem_id, bytes);
}

}  // namespace

// --- Element lists, signals and fixed values ------------------------------

int AC_IPC_PwrScan(const IpcHead& head, const uint8_t* payload) {
  return RelayElementList(head, payload,
                          " Failed to find AP entry when processing Power Scanning message.");
}

int AC_IPC_WlanSniffer(const IpcHead& head, const uint8_t* payload) {
  return RelayElementList(head, payload,
                          " Failed to find AP entry when processing WLAN sniffer message.");
}

int AC_IPC_UpdWidsCfg(const IpcHead& head, const uint8_t* payload) {
  return RelayElementList(head, payload,
                          " Failed to find AP entry when processing WIDS updating message.");
}

int AC_IPC_BlockChannel(const IpcHead& head, const uint8_t* payload) {
  return RelaySixteenBytes(head, payload, capwap::vendor_elem::kBlockChannel,
                           " Failed to find AP entry when processing block channel message.");
}

int AC_IPC_11vPara(const IpcHead& head, const uint8_t* payload) {
  return RelaySixteenBytes(head, payload, capwap::vendor_elem::kBss11v,
                           " Failed to find AP entry when processing 802.11v parameters.");
}

int AC_IPC_RoamingSignal(const IpcHead& head, const uint8_t* payload) {
  return RelaySignal(head, payload, capwap::vendor_elem::kRoamingSignal,
                     " Failed to find AP entry when processing roaming signal message.");
}

int AC_IPC_ClientSignal(const IpcHead& head, const uint8_t* payload) {
  return RelaySignal(head, payload, capwap::vendor_elem::kClientSignal,
                     " Failed to find AP entry when processing station signal message.");
}

int AC_IPC_ReceiveSignal(const IpcHead& head, const uint8_t* payload) {
  return RelaySignal(head, payload, capwap::vendor_elem::kReceiveSignal,
                     " Failed to find AP entry when processing signal updating message.");
}

int AC_IPC_ProcBandSteer(const IpcHead& head, const uint8_t* payload) {
  // The AP reads the element's length field as 12 over a 10-byte value.
  constexpr uint16_t kDeclaredLen = 12;
  CW_WTPCB* wtp = FindWtp(head, " Failed to find AP entry when processing band steering message.");
  if (!wtp) return 1;
  WmacBandSteerRecord in;
  if (!PayloadRecord(head, IpcPayload(head, payload), &in)) return 1;
  std::array<uint8_t, 10> value{};
  WireWriter w(value.data(), value.size());
  w.u8(in.byte0);
  w.u8(in.byte1);
  w.u32(in.word4);
  w.u32(in.word8);
  return SendVendorElement(wtp, capwap::vendor_elem::kBandSteering, value, kDeclaredLen);
}

// --- Requests for running APs ---------------------------------------------

int AC_IPC_ProEnvir_Monitor(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp = FindRunningWtp(
      head, " Failed to find AP entry when processing environment monitor message.");
  if (!wtp) return 1;
  WmacEnvMonitorRecord in;
  if (!PayloadRecord(head, IpcPayload(head, payload), &in)) return 1;
  std::array<uint8_t, 42> value{};
  WireWriter w(value.data(), value.size());
  w.u8(in.byte0);
  w.u32(in.word4);
  w.u32(in.word36);
  w.u32(in.word8);
  w.bytes(in.data.data(), in.data.size());
  w.bytes(wtp->mac.data(), wtp->mac.size());
  return SendVendorElement(wtp, capwap::vendor_elem::kEnvMonitor, value);
}

int AC_IPC_Dpi_Server(const IpcHead& head, const uint8_t* payload) {
  CW_WTPCB* wtp =
      FindRunningWtp(head, " Failed to find AP entry when processing DPI server message.");
  if (!wtp) return 1;
  WmacDpiServerRecord in;
  if (!PayloadRecord(head, IpcPayload(head, payload), &in)) return 1;
  std::array<uint8_t, 8> value{};
  WireWriter w(value.data(), value.size());
  w.u32(in.word0);
  w.u32(in.word4);
  return SendVendorElement(wtp, capwap::vendor_elem::kDpiServer, value);
}

int AC_IPC_ProRfid_Track(const IpcHead& head, const uint8_t* payload) {
  constexpr size_t kEntryLen = 8;
  CW_WTPCB* wtp =
      FindRunningWtp(head, " Failed to find AP entry when processing RFID tracking message.");
  if (!wtp) return 1;
  ByteView bytes = IpcPayload(head, payload);
  WmacRfidHead in;
  if (!PayloadRecord(head, bytes, &in) || !FitsVendorElement(head, bytes.size())) return 1;
  if (in.count > (bytes.size() - WmacRfidHead::kSize) / kEntryLen) {
    CwDebug(kDbgError, ZLOG_ERR,
            " RFID tracking message names %u tags in %zu bytes; dropped.", in.count, bytes.size());
    return 1;
  }
  // The value keeps the payload's length; what the fields leave is zero.
  Bytes value(bytes.size(), 0);
  WireWriter w(value.data(), value.size());
  w.u8(in.byte0);
  w.u8(in.byte1);
  for (uint32_t word : in.words) w.u32(word);
  w.u32(in.count);
  capwap::HostReader entries(bytes.subspan(WmacRfidHead::kSize));
  for (size_t i = 0; i < in.count; ++i) {  // @32 + 8 i: u16, MAC
    uint16_t tag = 0;
    ByteView mac;
    entries.u16(tag);
    entries.view(6, mac);
    w.u16(tag);
    w.bytes(mac);
  }
  return SendVendorElement(wtp, capwap::vendor_elem::kRfid, value);
}

int AC_IPC_ProApDnsInfo(const IpcHead& head, const uint8_t* payload) {
  return RelayCopy(head, payload, capwap::vendor_elem::kDnsServers,
                   " Failed to find AP entry when processing DNS information message.");
}

int AC_IPC_ProApGtkUpdate(const IpcHead& head, const uint8_t* payload) {
  return RelayCopy(head, payload, capwap::vendor_elem::kGtkUpdate,
                   " Failed to find AP entry when processing group key update message.");
}

int AC_IPC_ProApStaSync(const IpcHead& head, const uint8_t* payload) {
  return RelayCopy(head, payload, capwap::vendor_elem::kStaSync,
                   " Failed to find AP entry when processing station synchronisation message.");
}

// --- Statistics collection ------------------------------------------------

int CW_AC_SndCfgNormalCollect(CW_WTPCB* wtp, uint32_t value) {
  std::array<uint8_t, 5> element{};
  WireWriter w(element.data(), element.size());
  w.u8(wtp->normal_collect);
  w.u32(value);
  return SendVendorElement(wtp, capwap::vendor_elem::kNormalCollection, element);
}

int CW_AC_SndCfgRcollection(CW_WTPCB* wtp, uint16_t on, uint32_t period) {
  std::array<uint8_t, 6> element{};
  WireWriter w(element.data(), element.size());
  w.u16(on);
  w.u32(period);
  return SendVendorElement(wtp, capwap::vendor_elem::kRtCollectTime, element);
}

int CW_Snmp_Set_WTPRcollectionOff(CW_WTPCB* wtp) {
  return CW_AC_SndCfgRcollection(wtp, wtp->rt_collect, g_ucApRtCollectTime);
}

namespace {

// The WTPs a collection message is for: every WTP of the ID table that is
// not Idle (WTP ID 0), or the named one if it is not Idle.
std::vector<CW_WTPCB*> CollectionTargets(const IpcHead& head) {
  std::vector<CW_WTPCB*> targets;
  if (head.wtp_id != 0) {
    CW_WTPCB* wtp = FindWtp(
        head, " Failed to find AP entry when processing statistics collection message.");
    if (wtp && wtp->state != kStateIdle) targets.push_back(wtp);
    return targets;
  }
  LIST& ids = g_pstAC_WTPDBTableById;
  for (LIST_NODE* node = ids.First(); node; node = ids.Next(node)) {
    auto* wtp = static_cast<CW_WTPCB*>(node->owner);
    if (wtp && wtp->state != kStateIdle) targets.push_back(wtp);
  }
  return targets;
}

}  // namespace

int AC_SetNomalCollect_Foreach(const IpcHead& head, const uint8_t* payload) {
  ByteView bytes = IpcPayload(head, payload);
  if (!PayloadHolds(head, bytes, 4)) return 1;
  uint32_t value = CwHostRecord(bytes).U32(0);
  for (CW_WTPCB* wtp : CollectionTargets(head)) {
    wtp->normal_collect = 1;
    CW_AC_SndCfgNormalCollect(wtp, value);
  }
  return 0;
}

int AC_SetRTCollect_Foreach(const IpcHead& head, const uint8_t* payload) {
  ByteView bytes = IpcPayload(head, payload);
  if (!PayloadHolds(head, bytes, 1)) return 1;
  g_ucApRtCollectTime = CwHostRecord(bytes).U8(0);
  for (CW_WTPCB* wtp : CollectionTargets(head)) {
    if (wtp->rt_collect == 1) CW_Snmp_Set_WTPRcollectionOff(wtp);
  }
  return 0;
}

// --- WAPI relay -----------------------------------------------------------

int AC_ASU_To_Wapid(const IpcHead& head, const uint8_t* payload) {
  ByteView frame = IpcPayload(head, payload);
  SendDesc desc;
  desc.fd = g_iAC_DataSockId;
  desc.remote = AddrFromSockaddr4(g_WapiApAddr);
  if (desc.remote.AddrIsZero()) {
    CwDebug(kDbgError, ZLOG_ERR, " No AP has sent WAPI data yet; ASU data dropped.");
    return 1;
  }
  Bytes datagram(kCwHdrLen + frame.size(), 0);
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, datagram.data());
  WireWriter body(datagram.data() + kCwHdrLen, frame.size());
  body.bytes(frame);
  CwDebug(kDbgEvent, ZLOG_INFO, "%s:: AC capwap send ASU wapi data to wtp", "AC_ASU_To_Wapid");
  if (CW_SockSnd(&desc, datagram.data(), datagram.size(), g_ucNeedEncrypt) != 0) {
    int saved = errno;
    CwDebug(kDbgError, ZLOG_ERR, "Send mange frame msg to 0x%x:%d error %s",
            desc.remote.Ipv4(), desc.remote.port, strerror(saved));
    return 1;
  }
  return 0;
}

// --- Firmware offers ------------------------------------------------------

namespace {

constexpr size_t kImageFieldLen = 32;

const ImageUrl* FindUrlImage(std::string_view model) {
  for (const ImageVendor& entry : g_aucImgDb) {
    if (g_uiOid == 0 || entry.vendor_id != g_uiOid) continue;
    for (const ImageUrl& url : entry.urls) {
      if (!url.model.empty() && url.model == model) return &url;
    }
  }
  return nullptr;
}

// The Image Identifier record: 4 unused bytes, then the image descriptor as
// it goes on the wire: (0, 32, model), (1, 32, version), (2, 32, name).
std::array<uint8_t, 112> ImageIdRecord(const ImageRecord& image) {
  std::array<uint8_t, 112> record{};
  WireWriter w(record.data(), record.size());
  w.zeros(4);
  const std::string* fields[] = {&image.model, &image.version, &image.name};
  for (uint16_t type = 0; type < 3; ++type) {
    w.u16(type);
    w.u16(kImageFieldLen);
    w.fixed_str(*fields[type], kImageFieldLen);
  }
  return record;
}

}  // namespace

int CW_AC_Send_ApUpdImg(CW_WTPCB* wtp) {
  const ImageRecord* image = ImageRecordOf(g_uiOid, wtp->model);
  if (!image) return 1;
  CwDebug(kDbgEvent, ZLOG_DEBUG, " aucSwVer:%s", image->version.c_str());
  std::array<uint8_t, 112> record = ImageIdRecord(*image);
  return CW_AC_SndCfgUpdReqItem(wtp, kItemImageId, CwCfgItem(record));
}

int CW_AC_Send_ApUpdUrlimg(CW_WTPCB* wtp) {
  const ImageUrl* image = FindUrlImage(wtp->model);
  if (!image) return 1;
  CwDebug(kDbgEvent, ZLOG_DEBUG, "aucFilePath:%s", image->url.c_str());
  CwDebug(kDbgEvent, ZLOG_DEBUG, "image md5 vlaue:%s", image->md5.c_str());
  std::array<uint8_t, kUrlImageValueSize> value{};
  WireWriter w(value.data(), value.size());
  w.fixed_str(image->url, kUrlImagePathLen);
  w.fixed_str(image->md5, kUrlImageMd5Len);
  return SendUrlImageElement(wtp, value);
}

int SendUrlImageElement(CW_WTPCB* wtp, ByteView value) {
  if (!wtp || value.size() != kUrlImageValueSize) return 1;
  return SendVendorElement(wtp, capwap::vendor_elem::kUrlImage, value);
}

// --- Registration ---------------------------------------------------------

int RegisterCfgUpdateHandlers() {
  static constexpr WmacRoute kRoutes[] = {
      {WmacIn::kCfgUpdateReq, AC_IPC_ProcCfgUpdReq},
      {WmacIn::kPwrScan, AC_IPC_PwrScan},
      {WmacIn::kWlanSniffer, AC_IPC_WlanSniffer},
      {WmacIn::kBlockChannel, AC_IPC_BlockChannel},
      {WmacIn::kUpdWidsCfg, AC_IPC_UpdWidsCfg},
      {WmacIn::kUpdWidsCfg2, AC_IPC_UpdWidsCfg},
      {WmacIn::kBandSteer, AC_IPC_ProcBandSteer},
      {WmacIn::kNormalCollect, AC_SetNomalCollect_Foreach},
      {WmacIn::kRtCollect, AC_SetRTCollect_Foreach},
      {WmacIn::kRoamingSignal, AC_IPC_RoamingSignal},
      {WmacIn::kClientSignal, AC_IPC_ClientSignal},
      {WmacIn::kReceiveSignal, AC_IPC_ReceiveSignal},
      {WmacIn::kEnvMonitor, AC_IPC_ProEnvir_Monitor},
      {WmacIn::kRfidTrack, AC_IPC_ProRfid_Track},
      {WmacIn::kWapi, AC_ASU_To_Wapid},
      {WmacIn::kDpiServer, AC_IPC_Dpi_Server},
      {WmacIn::kGtkUpdate, AC_IPC_ProApGtkUpdate, true},
      {WmacIn::kStaSync, AC_IPC_ProApStaSync, true},
      {WmacIn::kDot11v, AC_IPC_11vPara},
      {WmacIn::kDnsInfo, AC_IPC_ProApDnsInfo},
  };
  return InstallIpcRoutes(kRoutes);
}
