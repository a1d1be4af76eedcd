// The WTP registry: creation and deletion of control blocks, the APID
// space 1-32 and the indexes by APID, MAC, name, remote endpoint, session ID
// and serial number.
//
// Return convention: 0 success / 1 failure; lookups return the WTP or null.
// The registry owns every CW_WTPCB; pointers stay valid until CW_AC_FreeWTP.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "registry/list.h"
#include "registry/wtpcb.h"

struct wlan_hash;  // chained string hash (registry/hash.h)

// Process-wide registry (reset with WtpTableReset).
extern std::array<CW_WTPCB*, kMaxApId + 1> g_ppAC_WTPDB_TableById;  // slot 0 unused
extern LIST g_pstAC_WTPDBTableById;                                  // ascending APID
extern std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByMac;
extern std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByName;
extern std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByIp;
extern std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableBySessionId;
extern wlan_hash* g_pstCwApSnHash;
// Admission counters: APs in Run (virtual APs not counted) and APs between
// Join and Run (at most g_uiCwMaxConcurrentWTPS).
extern uint32_t g_uiCwApCount;
extern uint32_t g_uiCwConcurrentWTPS;
inline constexpr uint32_t g_uiCwMaxConcurrentWTPS = 20;

// True, after its debug line, when the online APs have reached the
// platform's maximum (get_max_apcnt): Discovery and Join admit no more.
namespace capwap {
bool OnlineLimitReached();
}  // namespace capwap

// Bucket functions (exposed for tests).
namespace capwap {
uint32_t MacBucket(const std::array<uint8_t, 6>& mac);
uint32_t NameBucket(std::string_view name);
uint32_t IpBucket(const CW_ADDR& addr);
uint32_t SessionIdBucket(const std::array<uint8_t, 16>& session_id);
}  // namespace capwap

// What the registry tells the WMAC side when an AP is created or deleted and
// when a running AP's tunnel goes down. The relay registers them at start-up;
// unset ones are skipped. WtpTableReset leaves them alone.
struct ApEventHooks {
  void (*created)(const CW_WTPCB& wtp) = nullptr;
  void (*deleted)(uint32_t apid) = nullptr;
  void (*tunnel_state)(const TunnelRecord& record) = nullptr;
};
void SetApEventHooks(const ApEventHooks& hooks);
const ApEventHooks& ApEvents();

// Allocates the tables. 0 / 1.
int CW_AC_WtpTableInit();
// Frees every WTP and every table (tests and shutdown).
void WtpTableReset();

int CW_AC_AllocAPID();                 // lowest free APID or -1
int CW_AC_FreeAPID(uint32_t apid);     // 0, or 1 outside 1-32
CW_WTPCB* CW_AC_GetWTPByID(uint32_t apid);
int CW_AC_SetWTPByID(uint32_t apid, CW_WTPCB* wtp);

CW_WTPCB* CW_AC_GetWTPByMac(const std::array<uint8_t, 6>& mac);
int CW_AC_AddWTPByMac(const std::array<uint8_t, 6>& mac, CW_WTPCB* wtp);
int CW_AC_DelWtpFromMacTable(CW_WTPCB* wtp);

CW_WTPCB* CW_AC_GetWTPByNAME(std::string_view name);
int CW_AC_AddWTPByNAME(std::string_view name, CW_WTPCB* wtp);
int CW_AC_DelWtpFromName(CW_WTPCB* wtp);

CW_WTPCB* CW_AC_GetWTPByIP(const CW_ADDR& remote);
int CW_AC_AddWTPByIP(const CW_ADDR& remote, CW_WTPCB* wtp);
int CW_AC_DelWtpFromIpTable(CW_WTPCB* wtp);

CW_WTPCB* CW_AC_GetWTPBySESSID(const std::array<uint8_t, 16>& session_id);
int CW_AC_AddWTPBySESSID(const std::array<uint8_t, 16>& session_id, CW_WTPCB* wtp);
int CW_AC_DelWtpFromSessTable(CW_WTPCB* wtp);

namespace capwap {
CW_WTPCB* FindWtpBySerial(std::string_view serial);
}  // namespace capwap
int CW_AC_AddWtpFromSn(CW_WTPCB* wtp);
int CW_AC_DelWtpFromSn(CW_WTPCB* wtp);

// Resets a zeroed block to its creation defaults. 0.
int CW_InitWTPCB(CW_WTPCB* wtp);
// Creates a WTP: model must be valid, apid 1-32 and free, or -1 (0xFFFFFFFF)
// for the lowest free one; name empty gives "ap<APID>". Null on failure
// (also when memory runs out).
CW_WTPCB* CW_AC_CreateWTP(std::string_view model, uint32_t apid, std::string_view name,
                          uint8_t auto_created);
// Deletes the AP for good (indexes, APID, DBM records, WMAC told). Its
// timers and queued requests go with the block, whatever its state; a live
// session must have been torn down first so that its peers hear of it.
void CW_AC_FreeWTP(CW_WTPCB* wtp);
// The same for a deletion WMAC asked for (DEL-WTP): WMAC is not told back.
void FreeWtpAtWmacRequest(CW_WTPCB* wtp);
// Tells WMAC the AP is deleted.
void CW_AC_DeleteWTP(CW_WTPCB* wtp);
// Stores the whole block in DBM table 37 under its APID. 0; 1 when the
// store fails or the record image cannot be allocated.
int StoreWtp(const CW_WTPCB* wtp);

// Next sequence number for a message of this type: requests advance the
// request counter (8-bit wrap); responses echo the last received request.
uint8_t CW_AC_GetSeqNum(CW_WTPCB* wtp, uint32_t msg_type);

// Number of WTPs in the APID table.
uint32_t WtpCount();
