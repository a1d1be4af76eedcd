#include "config/ap_persist.h"

#include <cstring>
#include <string>

#include "config/db_tables.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "platform/util.h"
#include "registry/tables.h"
#include "registry/wtp_record.h"
#include "transport/rfc.h"

uint8_t g_bCwAutoApEnabled = 0;
uint8_t g_bCwAutoApPersistentEnabled = 0;
uint8_t discovery_filter = 0;

namespace {

constexpr char kAutoApKey[] = "g_bCwAutoApEnabled";
constexpr char kBroadcastForbidKey[] = "CwBroadcastForbid";
constexpr char kRfcCompatKey[] = "CwRfcCompat";
constexpr const char* kBroadcastRule = "INPUT -p udp --dport 5246 -d 255.255.255.255/32 -j DROP";

bool MacIsZero(const std::array<uint8_t, 6>& mac) {
  for (uint8_t b : mac) {
    if (b) return false;
  }
  return true;
}

// The MAC of the cw_ap image stored under the block's APID, if any.
std::optional<std::array<uint8_t, 6>> StoredMac(uint32_t apid) {
  uint8_t key[4];
  capwap::HostWriter(key, sizeof key).u32(apid);
  auto record = DBM_Fetch(kDbCwAp, key, sizeof key);
  if (!record) return std::nullopt;
  return WtpRecordMac(*record);
}

std::optional<CW_WTPMARK> FetchMark(const std::array<uint8_t, 6>& mac) {
  auto record = DBM_Fetch(kDbCwMark, mac.data(), mac.size());
  if (!record) return std::nullopt;
  return WtpMarkDecode(*record);
}

void StoreMark(const CW_WTPMARK& mark) {
  uint8_t record[kWtpMarkSize];
  WtpMarkEncode(mark, record);
  DBM_Store(kDbCwMark, mark.mac.data(), mark.mac.size(), record, sizeof record);
}

// Marks are written only once the configuration replay is over, and only
// for blocks whose MAC is known.
bool MarksApply(const CW_WTPCB* wtp) {
  return wtp && lib_check_if_start_complete() && !MacIsZero(wtp->mac);
}

}  // namespace

void WtpMarkEncode(const CW_WTPMARK& mark, uint8_t out[kWtpMarkSize]) {
  capwap::HostWriter w(out, kWtpMarkSize);
  w.u32(mark.apid);                     // @0
  w.bytes(mark.mac.data(), mark.mac.size());  // @4
  w.u16(mark.mark);                     // @10
}

std::optional<CW_WTPMARK> WtpMarkDecode(capwap::ByteView record) {
  if (record.size() != kWtpMarkSize) return std::nullopt;
  capwap::HostReader r(record);
  CW_WTPMARK mark;
  r.u32(mark.apid);
  r.bytes(mark.mac.data(), mark.mac.size());
  r.u16(mark.mark);
  if (!r.done()) return std::nullopt;
  return mark;
}

void CW_WTP_Store_By_Mac(const CW_WTPCB* wtp) {
  if (!wtp) return;
  if (auto old_mac = StoredMac(wtp->apid); old_mac && *old_mac != wtp->mac && !MacIsZero(*old_mac)) {
    DBM_Delete(kDbCwApByMac, old_mac->data(), old_mac->size());
  }
  if (MacIsZero(wtp->mac)) return;
  uint8_t value[4];
  capwap::HostWriter(value, sizeof value).u32(wtp->apid);
  DBM_Store(kDbCwApByMac, wtp->mac.data(), wtp->mac.size(), value, sizeof value);
}

void CW_WTP_Del_By_Mac(const CW_WTPCB* wtp) {
  if (!wtp) return;
  DBM_Delete(kDbCwApByMac, wtp->mac.data(), wtp->mac.size());
}

MacBind ApBindMac(CW_WTPCB& wtp, const std::array<uint8_t, 6>& mac) {
  CW_WTPCB* holder = CW_AC_GetWTPByMac(mac);
  if (holder && holder != &wtp) return MacBind::kInUse;
  if (wtp.state != kStateIdle) return MacBind::kNotIdle;
  if (wtp.mac != std::array<uint8_t, 6>{} && wtp.mac != mac) {
    CW_WTP_Del_By_Mac(&wtp);  // while the block still names the old MAC
    CW_AC_DelWtpFromMacTable(&wtp);
  }
  wtp.mac = mac;
  CW_AC_AddWTPByMac(mac, &wtp);
  return MacBind::kBound;
}

void CW_WTP_Mark_Store(const CW_WTPCB* wtp) {
  if (!MarksApply(wtp)) return;
  if (auto mark = FetchMark(wtp->mac)) {
    if (mark->mark == kMarkDeleted) {
      mark->mark = kMarkChanged;
      StoreMark(*mark);
    }
    return;
  }
  CW_WTPMARK mark;
  mark.apid = wtp->apid;
  mark.mac = wtp->mac;
  auto stored_mac = StoredMac(wtp->apid);
  mark.mark = stored_mac && !MacIsZero(*stored_mac) ? kMarkChanged : kMarkAdded;
  StoreMark(mark);
}

void CW_WTP_Mark_Delete(const CW_WTPCB* wtp) {
  if (!MarksApply(wtp)) return;
  auto mark = FetchMark(wtp->mac);
  if (mark && mark->mark == kMarkAdded) {
    // Added and never synchronised: nothing for the other side to learn.
    DBM_Delete(kDbCwMark, wtp->mac.data(), wtp->mac.size());
    return;
  }
  if (!mark) {
    mark = CW_WTPMARK{};
    mark->apid = wtp->apid;
    mark->mac = wtp->mac;
  }
  mark->mark = kMarkDeleted;
  StoreMark(*mark);
}

void CW_CMD_Set_AutoEnable(uint8_t enabled) {
  g_bCwAutoApEnabled = enabled ? 1 : 0;
  uint8_t value[4];
  capwap::HostWriter(value, sizeof value).u32(g_bCwAutoApEnabled);
  DBM_Store(kDbDaemonSettings, kAutoApKey, std::strlen(kAutoApKey), value, sizeof value);
}

void CW_CMD_Set_Autoap_PresistentEnable(uint8_t enabled) {
  g_bCwAutoApPersistentEnabled = enabled ? 1 : 0;
}

void SetBroadcastForbid(bool forbid) {
  const bool set = discovery_filter & kDiscoveryFilterBroadcast;
  if (set == forbid) return;
  // The rule outlives the daemon (its bit starts clear at every start): it
  // is added only when the firewall does not hold it already, so replaying
  // the command after a restart never stacks a second copy.
  const std::string rule = kBroadcastRule;
  lib_system((forbid ? "iptables -C " + rule + " 2>/dev/null || iptables -A " + rule
                     : "iptables -D " + rule)
                 .c_str());
  if (forbid) {
    discovery_filter |= kDiscoveryFilterBroadcast;
    DBM_Store(kDbDaemonSettings, kBroadcastForbidKey, std::strlen(kBroadcastForbidKey),
              &discovery_filter, 1);
  } else {
    discovery_filter &= static_cast<uint8_t>(~kDiscoveryFilterBroadcast);
    DBM_Delete(kDbDaemonSettings, kBroadcastForbidKey, std::strlen(kBroadcastForbidKey));
  }
}

void SetRfcCompat(bool on) {
  capwap::SetRfcCompatFlag(on);
  if (on) {
    const uint8_t value = 1;
    DBM_Store(kDbDaemonSettings, kRfcCompatKey, std::strlen(kRfcCompatKey), &value, 1);
  } else {
    DBM_Delete(kDbDaemonSettings, kRfcCompatKey, std::strlen(kRfcCompatKey));
  }
}

void AutoApSwitchesReset() {
  capwap::SetRfcCompatFlag(false);
  g_bCwAutoApEnabled = 0;
  g_bCwAutoApPersistentEnabled = 0;
  discovery_filter = 0;
}
