// Configuration Update items: the encoder that turns one (item type, item
// data) pair into one message element of a Configuration Update Request
// (type 7), the sender of such a request, the AC host-name vendor payload,
// and the WMAC handlers that each send one Configuration Update Request.
//
// Return convention: 0 success (request handed to the send queue), 1 when
// nothing was sent. Item data is owned by the caller and only read during
// the call. Item records are in host order; every multi-byte value is
// written big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/elements.h"
#include "transport/types.h"

struct CW_APGROUP;
struct IpcHead;

// Item types; each is the type of the element it produces. The per-radio
// items (31 and the IEEE 802.11 elements) are the radio element rows marked
// as items (transport/radio_elements.h).
enum : uint32_t {
  kItemAcNamePriority = capwap::elem::kAcNameWithPriority,
  kItemAcTimestamp = capwap::elem::kAcTimestamp,
  kItemAddMacAcl = capwap::elem::kAddMacAclEntry,
  kItemCapwapTimers = capwap::elem::kCapwapTimers,
  kItemDelMacAcl = capwap::elem::kDeleteMacAclEntry,
  kItemIdleTimeout = capwap::elem::kIdleTimeout,
  kItemImageId = capwap::elem::kImageIdentifier,
  kItemLocation = capwap::elem::kLocationData,
  kItemStatsTimer = capwap::elem::kStatisticsTimer,
  kItemVendorPayload = capwap::elem::kVendorSpecificPayload,
  kItemWtpFallback = capwap::elem::kWtpFallback,
  kItemWtpName = capwap::elem::kWtpName,
  kItemStaticIp = capwap::elem::kWtpStaticIpAddressInformation,
  kItemLanIp = capwap::elem::kLanIp,
  kItemLanDhcp = capwap::elem::kLanDhcp,
  kItemDnsServers = capwap::elem::kDnsServers,
  kItemN2nServer = capwap::elem::kN2nServer,
  kItemCloudServer = capwap::elem::kCloudServer,
  kItemLedMode = capwap::elem::kLedMode,
  kItemVirtualAp = capwap::elem::kVirtualAp,
  kItemAntennaFlags = capwap::elem::kAntennaType,
  kItemMesh = capwap::elem::kMeshRole,
  kItemRetransInterval = capwap::elem::kRetransmitInterval,
  kItemLanPortAdmin = capwap::elem::kLanPortAdmin,
  kItemMaxRetrans = capwap::elem::kMaxRetransmissions,
};
// Items 183, 184, 193 and 195 carry an element the caller built whole
// (header included); it is copied as it is.
inline bool ItemIsCallerBuilt(uint32_t item) {
  return item == 183 || item == 184 || item == 193 || item == 195;
}

// One item's data. `record` is the fixed part, laid out as the item table
// gives it. Items 7 and 17 (u8 entry count at 0) and 37, 183, 184, 193, 195
// (u16 length at 0) refer to further memory: in-process callers pass it as
// `referenced`; in a WMAC payload, which cannot carry a pointer, those bytes
// follow inline from offset 4 of the record. Item 61 (in-process callers
// only): `record` is the profile's 8-byte record (VapProfileEncode) that
// CAPWAP_ENC_VapMsgIE encodes; an empty record writes nothing.
struct CwCfgItem {
  CwCfgItem() = default;
  CwCfgItem(capwap::ByteView rec, capwap::ByteView ref = {}) : record(rec), referenced(ref) {}
  capwap::ByteView record;
  capwap::ByteView referenced;
};

// The record of a by-reference item together with the memory it refers to
// (the memory stays the caller's).
struct CwRefItem {
  std::array<uint8_t, 4> record{};
  capwap::ByteView referenced;

  // Items 37, 183, 184, 193, 195: `length` bytes of `bytes`.
  static CwRefItem Length(uint16_t length, capwap::ByteView bytes);
  // Items 7, 17: `count` entries of 7 bytes (length 6, MAC) in `entries`.
  static CwRefItem Count(uint8_t count, capwap::ByteView entries);
  CwCfgItem Item() const { return CwCfgItem(record, referenced); }
};

// Records of the fixed items that the daemon itself sends.
std::array<uint8_t, 1> ItemU8(uint8_t value);    // 40, 58, 62
std::array<uint8_t, 2> ItemU16(uint16_t value);  // 36, 65, 67 (65, 67 send the low byte)
std::array<uint8_t, 4> ItemU32(uint32_t value);  // 6, 23
struct CwItemStaticIp {  // 49
  uint32_t addr = 0, netmask = 0, gateway = 0;
  uint8_t is_static = 0;
  std::array<uint8_t, 13> Record() const;
};
struct CwItemLanIp {  // 50
  uint32_t addr = 0, prefixlen = 0;
  std::array<uint8_t, 8> Record() const;
};
struct CwItemDhcpRange {  // 51
  uint32_t low = 0, high = 0, lease = 0;
  std::array<uint8_t, 12> Record() const;
};
struct CwItemDnsServers {  // 52
  std::array<uint32_t, 4> servers{};
  std::array<uint8_t, 16> Record() const;
};
struct CwItemN2nServer {  // 54
  uint32_t addr = 0;
  uint16_t port = 0;
  std::array<uint8_t, 6> Record() const;
};

// Reads a host-order record at fixed offsets, each read through HostReader.
// The first read past the end fails the record; that read and every later
// one give zeros, so a run of reads needs one ok() check.
class CwHostRecord {
 public:
  explicit CwHostRecord(capwap::ByteView data) : data_(data) {}
  uint8_t U8(size_t offset) {
    uint8_t v = 0;
    capwap::HostReader r = At(offset);
    return r.u8(v) ? v : Fail<uint8_t>();
  }
  uint16_t U16(size_t offset) {
    uint16_t v = 0;
    capwap::HostReader r = At(offset);
    return r.u16(v) ? v : Fail<uint16_t>();
  }
  uint32_t U32(size_t offset) {
    uint32_t v = 0;
    capwap::HostReader r = At(offset);
    return r.u32(v) ? v : Fail<uint32_t>();
  }
  // The n bytes from offset (empty when they are not all there).
  capwap::ByteView View(size_t offset, size_t n) {
    capwap::ByteView v;
    capwap::HostReader r = At(offset);
    return r.view(n, v) ? v : Fail<capwap::ByteView>();
  }
  bool ok() const { return ok_; }
  size_t size() const { return data_.size(); }

 private:
  capwap::HostReader At(size_t offset) const {
    capwap::HostReader r(data_);
    r.skip(offset);
    return r;
  }
  template <typename T>
  T Fail() {
    ok_ = false;
    return T{};
  }
  capwap::ByteView data_;
  bool ok_ = true;
};

// The smallest record the item needs, given its leading bytes (the counts
// of items 7, 17, 1025 and 1042 live in the record); 0 for items that read
// nothing.
size_t ItemRecordSize(uint32_t item, capwap::ByteView record);

// Appends the item's element to pkt; an unknown item, items 2, 3 and 16,
// and data too short for the item append nothing (the last with a debug
// line). Always 0.
int CW_AC_FillSCfgUpdReqItem(CW_PKT& pkt, uint32_t item, const CwCfgItem& data,
                             uint32_t vendor_id);
// Builds one Configuration Update Request carrying the item (the WTP's
// vendor identifier for items that need one) with the WTP's next type-7
// sequence number and hands it to the send queue. Does not look at the
// session state. 1 when no packet could be had, when the data is too short
// for the item, or when the send queue refuses the request.
int CW_AC_SndCfgUpdReqItem(CW_WTPCB* wtp, uint32_t item, const CwCfgItem& data);

// Pushes the item to every AP in Run. Always 0.
int CW_AP_ALL_CmdSet(uint32_t item, const CwCfgItem& data);

// The value of the AC host-name vendor payload (item 37): g_uiOid, vendor
// element 2, length 32, the group's host name in 32 bytes. Writes it into
// `buffer` and points `item` at it (length 40). Always 0.
inline constexpr size_t kAcHostNameElemSize = 40;
int AC_Enc_AcHostNameElem(const CW_APGROUP& group, CwRefItem& item,
                          std::array<uint8_t, kAcHostNameElemSize>& buffer);

// WMAC type 14: the item named by the header parameter, with the payload as
// its data (item 61 is refused). Any session state.
int AC_IPC_ProcCfgUpdReq(const IpcHead& head, const uint8_t* payload);

// --- The WMAC handlers that send one Configuration Update Request ---------
int AC_IPC_PwrScan(const IpcHead& head, const uint8_t* payload);           // 15
int AC_IPC_WlanSniffer(const IpcHead& head, const uint8_t* payload);       // 20
int AC_IPC_BlockChannel(const IpcHead& head, const uint8_t* payload);      // 21
int AC_IPC_UpdWidsCfg(const IpcHead& head, const uint8_t* payload);        // 26, 27
int AC_IPC_ProcBandSteer(const IpcHead& head, const uint8_t* payload);     // 40
int AC_SetNomalCollect_Foreach(const IpcHead& head, const uint8_t* payload);  // 44
int AC_SetRTCollect_Foreach(const IpcHead& head, const uint8_t* payload);     // 45
int AC_IPC_RoamingSignal(const IpcHead& head, const uint8_t* payload);     // 52
int AC_IPC_ClientSignal(const IpcHead& head, const uint8_t* payload);      // 53
int AC_IPC_ReceiveSignal(const IpcHead& head, const uint8_t* payload);     // 54
int AC_IPC_ProEnvir_Monitor(const IpcHead& head, const uint8_t* payload);  // 62, Run only
int AC_IPC_ProRfid_Track(const IpcHead& head, const uint8_t* payload);     // 67, Run only
int AC_ASU_To_Wapid(const IpcHead& head, const uint8_t* payload);          // 72
int AC_IPC_Dpi_Server(const IpcHead& head, const uint8_t* payload);        // 75, Run only
int AC_IPC_ProApGtkUpdate(const IpcHead& head, const uint8_t* payload);    // 88, Run only
int AC_IPC_ProApStaSync(const IpcHead& head, const uint8_t* payload);      // 89, Run only
int AC_IPC_11vPara(const IpcHead& head, const uint8_t* payload);           // 92
int AC_IPC_ProApDnsInfo(const IpcHead& head, const uint8_t* payload);      // 97, Run only
// Installs the handlers above and type 14. 0, or 1 when a route was refused.
int RegisterCfgUpdateHandlers();

// --- Statistics collection ------------------------------------------------
// Real-time collection period last set by WMAC (type 45); 0 = not set.
extern uint8_t g_ucApRtCollectTime;
// Vendor element 93: the WTP's normal-collection flag, then `value`.
int CW_AC_SndCfgNormalCollect(CW_WTPCB* wtp, uint32_t value);
// Vendor element 96: the real-time collection switch, then the period.
int CW_AC_SndCfgRcollection(CW_WTPCB* wtp, uint16_t on, uint32_t period);
// Sends the WTP's real-time collection switch with g_ucApRtCollectTime.
int CW_Snmp_Set_WTPRcollectionOff(CW_WTPCB* wtp);

// --- Firmware offers to a running AP ---------------------------------------
// Item 25 naming the image of the WTP's model in the daemon's image set
// (g_uiOid); 1 when the set has no image for the model.
int CW_AC_Send_ApUpdImg(CW_WTPCB* wtp);
// Vendor element 84: the URL image's 128-byte path and 33-byte MD5 text; 1
// when the set has no URL image for the model.
int CW_AC_Send_ApUpdUrlimg(CW_WTPCB* wtp);

// Resets this module's globals (tests).
void CfgUpdateReset();
