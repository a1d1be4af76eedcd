#include "registry/tables.h"

#include <ctime>
#include <list>
#include <new>
#include <string>

#include "config/ap_persist.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "registry/acinfo.h"
#include "registry/hash.h"
#include "registry/wtp_record.h"

std::array<CW_WTPCB*, kMaxApId + 1> g_ppAC_WTPDB_TableById{};
LIST g_pstAC_WTPDBTableById;
std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByMac;
std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByName;
std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableByIp;
std::unique_ptr<HASH_TABLE> g_pstAC_WTPDBTableBySessionId;
wlan_hash* g_pstCwApSnHash = nullptr;
uint32_t g_uiCwApCount = 0;
uint32_t g_uiCwConcurrentWTPS = 0;

namespace {

constexpr uint32_t kTableBuckets = 32;

// The registry's ownership of the blocks. The serial key is the text the
// block is indexed under in g_pstCwApSnHash: the hash table keeps a
// reference to it, so it lives here (list nodes never move) rather than in
// the block, whose serial field Join may rewrite.
struct OwnedWtp {
  std::unique_ptr<CW_WTPCB> block;
  std::string sn_key;
};

std::list<OwnedWtp>& Owned() {
  static std::list<OwnedWtp> owned;
  return owned;
}

OwnedWtp* OwnerOf(const CW_WTPCB* wtp) {
  for (OwnedWtp& entry : Owned()) {
    if (entry.block.get() == wtp) return &entry;
  }
  return nullptr;
}

LIST* BucketOf(HASH_TABLE* table, uint32_t bucket) {
  return table ? &table->buckets[bucket % table->size()] : nullptr;
}

// The bucket of `table` whose ring holds the node: walking the ring from the
// node reaches the bucket's head, the one node without an owner.
LIST* ListHolding(HASH_TABLE* table, LIST_NODE* node) {
  if (!table || !node->Linked()) return nullptr;
  LIST_NODE* head = node->next;
  while (head && head->owner) head = head->next;
  for (LIST& bucket : table->buckets) {
    if (&bucket.head == head) return &bucket;
  }
  return nullptr;
}

// Unlinks the node from wherever it is linked in `table` (also when its key
// field changed since it was entered) and resets it.
void Unlink(HASH_TABLE* table, LIST_NODE* node) {
  if (node->Linked()) {
    LIST unknown;  // stands in for a holder that cannot be found
    LIST* holder = ListHolding(table, node);
    LIST_Del(holder ? holder : &unknown, node);
  }
  LIST_NODE_Init(node);
}

// Enters a node at the end of a bucket; a node already linked somewhere in
// the table leaves its old place first, so it is never linked twice.
void Enter(HASH_TABLE* table, LIST* bucket, LIST_NODE* node) {
  Unlink(table, node);
  LIST_Append(bucket, node);
}

template <typename Match>
CW_WTPCB* FindInBucket(LIST* bucket, Match match) {
  if (!bucket) return nullptr;
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(*bucket)) {
    if (match(*wtp)) return wtp;
  }
  return nullptr;
}

bool MacIsZero(const std::array<uint8_t, 6>& mac) {
  for (uint8_t b : mac) {
    if (b) return false;
  }
  return true;
}

bool SameEndpoint(const CW_ADDR& a, const CW_ADDR& b) {
  return a.addr == b.addr && a.family == b.family && a.port == b.port;
}

void ReleaseTables() {
  g_pstAC_WTPDBTableByMac.reset();
  g_pstAC_WTPDBTableByName.reset();
  g_pstAC_WTPDBTableByIp.reset();
  g_pstAC_WTPDBTableBySessionId.reset();
  free_hash_table(&g_pstCwApSnHash);
}

std::unique_ptr<HASH_TABLE> MakeTable() {
  auto table = HASH_CreatTable(kTableBuckets);
  if (table) HASH_InitTable(table.get());
  return table;
}

}  // namespace

// --- Bucket functions --------------------------------------------------------

uint32_t capwap::MacBucket(const std::array<uint8_t, 6>& mac) {
  return (uint32_t{mac[3]} + mac[4] + mac[5]) % kTableBuckets;
}

// Bucket 31 is never used: the name hash is taken modulo 31.
uint32_t capwap::NameBucket(std::string_view name) {
  uint32_t h = 0;
  for (char c : name) h = (2 * h + static_cast<uint8_t>(c)) % 65536;
  return h % 31;
}

namespace {
uint32_t SumWords(const uint8_t* bytes) {
  capwap::HostReader r(bytes, 16);
  uint32_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t word = 0;
    r.u32(word);
    sum += word;
  }
  return sum;
}
}  // namespace

uint32_t capwap::IpBucket(const CW_ADDR& addr) { return SumWords(addr.addr.data()) % kTableBuckets; }

uint32_t capwap::SessionIdBucket(const std::array<uint8_t, 16>& session_id) {
  return SumWords(session_id.data()) % kTableBuckets;
}

// --- Tables ------------------------------------------------------------------

int CW_AC_WtpTableInit() {
  if (g_pstAC_WTPDBTableByMac) return 0;
  g_ppAC_WTPDB_TableById.fill(nullptr);
  g_pstAC_WTPDBTableByMac = MakeTable();
  g_pstAC_WTPDBTableByName = MakeTable();
  g_pstAC_WTPDBTableByIp = MakeTable();
  g_pstAC_WTPDBTableBySessionId = MakeTable();
  bool made = g_pstAC_WTPDBTableByMac && g_pstAC_WTPDBTableByName && g_pstAC_WTPDBTableByIp &&
              g_pstAC_WTPDBTableBySessionId &&
              new_hash(&g_pstCwApSnHash, nullptr, nullptr, kTableBuckets, do_string_hash,
                       __FILE__, __LINE__) == 1;
  if (!made) {
    ReleaseTables();
    return 1;
  }
  INIT_List(&g_pstAC_WTPDBTableById);
  return 0;
}

namespace {
ApEventHooks& Hooks() {
  static ApEventHooks hooks;
  return hooks;
}
}  // namespace

void SetApEventHooks(const ApEventHooks& hooks) { Hooks() = hooks; }

const ApEventHooks& ApEvents() { return Hooks(); }

void WtpTableReset() {
  // Serial entries go back to the node pool (freeing the table would not).
  for (OwnedWtp& entry : Owned()) CW_AC_DelWtpFromSn(entry.block.get());
  g_ppAC_WTPDB_TableById.fill(nullptr);
  INIT_List(&g_pstAC_WTPDBTableById);
  ReleaseTables();
  Owned().clear();
  g_uiCwApCount = 0;
  g_uiCwConcurrentWTPS = 0;
}

uint32_t WtpCount() {
  uint32_t n = 0;
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    if (g_ppAC_WTPDB_TableById[apid]) ++n;
  }
  return n;
}

// --- APID space --------------------------------------------------------------

int CW_AC_AllocAPID() {
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    if (!g_ppAC_WTPDB_TableById[apid]) return static_cast<int>(apid);
  }
  return -1;
}

int CW_AC_FreeAPID(uint32_t apid) {
  if (apid < 1 || apid > kMaxApId) return 1;
  if (CW_WTPCB* wtp = g_ppAC_WTPDB_TableById[apid]) {
    LIST_Del(&g_pstAC_WTPDBTableById, &wtp->id_link);
    LIST_NODE_Init(&wtp->id_link);
  }
  g_ppAC_WTPDB_TableById[apid] = nullptr;
  return 0;
}

CW_WTPCB* CW_AC_GetWTPByID(uint32_t apid) {
  if (apid < 1 || apid > kMaxApId) return nullptr;
  return g_ppAC_WTPDB_TableById[apid];
}

int CW_AC_SetWTPByID(uint32_t apid, CW_WTPCB* wtp) {
  if (apid < 1 || apid > kMaxApId || !wtp) return 1;
  if (wtp->id_link.Linked()) LIST_Del(&g_pstAC_WTPDBTableById, &wtp->id_link);
  g_ppAC_WTPDB_TableById[apid] = wtp;
  wtp->id_link.key = apid;
  LIST_Insert_Sort(&g_pstAC_WTPDBTableById, &wtp->id_link);
  return 0;
}

// --- MAC index ---------------------------------------------------------------

CW_WTPCB* CW_AC_GetWTPByMac(const std::array<uint8_t, 6>& mac) {
  return FindInBucket(BucketOf(g_pstAC_WTPDBTableByMac.get(), capwap::MacBucket(mac)),
                      [&](const CW_WTPCB& wtp) { return wtp.mac == mac; });
}

int CW_AC_AddWTPByMac(const std::array<uint8_t, 6>& mac, CW_WTPCB* wtp) {
  LIST* bucket = BucketOf(g_pstAC_WTPDBTableByMac.get(), capwap::MacBucket(mac));
  if (!bucket || !wtp) return 1;
  Enter(g_pstAC_WTPDBTableByMac.get(), bucket, &wtp->mac_link);
  CW_WTP_Mark_Store(wtp);
  StoreWtp(wtp);
  if (!MacIsZero(wtp->mac)) CW_WTP_Store_By_Mac(wtp);
  return 0;
}

int CW_AC_DelWtpFromMacTable(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  Unlink(g_pstAC_WTPDBTableByMac.get(), &wtp->mac_link);
  CW_WTP_Mark_Delete(wtp);
  wtp->mac.fill(0);
  StoreWtp(wtp);
  return 0;
}

// --- Name index --------------------------------------------------------------

CW_WTPCB* CW_AC_GetWTPByNAME(std::string_view name) {
  return FindInBucket(BucketOf(g_pstAC_WTPDBTableByName.get(), capwap::NameBucket(name)),
                      [&](const CW_WTPCB& wtp) { return wtp.name == name; });
}

int CW_AC_AddWTPByNAME(std::string_view name, CW_WTPCB* wtp) {
  LIST* bucket = BucketOf(g_pstAC_WTPDBTableByName.get(), capwap::NameBucket(name));
  if (!bucket || !wtp) return 1;
  Enter(g_pstAC_WTPDBTableByName.get(), bucket, &wtp->name_link);
  return 0;
}

int CW_AC_DelWtpFromName(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  Unlink(g_pstAC_WTPDBTableByName.get(), &wtp->name_link);
  wtp->name.clear();
  return 0;
}

// --- Remote endpoint index ---------------------------------------------------

CW_WTPCB* CW_AC_GetWTPByIP(const CW_ADDR& remote) {
  if (remote.AddrIsZero()) return nullptr;
  return FindInBucket(BucketOf(g_pstAC_WTPDBTableByIp.get(), capwap::IpBucket(remote)),
                      [&](const CW_WTPCB& wtp) { return SameEndpoint(wtp.remote, remote); });
}

int CW_AC_AddWTPByIP(const CW_ADDR& remote, CW_WTPCB* wtp) {
  LIST* bucket = BucketOf(g_pstAC_WTPDBTableByIp.get(), capwap::IpBucket(remote));
  if (!bucket || !wtp) return 1;
  if (!wtp->remote.AddrIsZero() && CW_AC_GetWTPByIP(wtp->remote)) CW_AC_DelWtpFromIpTable(wtp);
  wtp->remote = remote;
  Enter(g_pstAC_WTPDBTableByIp.get(), bucket, &wtp->ip_link);
  return 0;
}

int CW_AC_DelWtpFromIpTable(CW_WTPCB* wtp) {
  if (!wtp || wtp->remote.AddrIsZero()) return 1;
  LIST* bucket = BucketOf(g_pstAC_WTPDBTableByIp.get(), capwap::IpBucket(wtp->remote));
  if (!bucket || bucket->Empty()) return 1;
  Unlink(g_pstAC_WTPDBTableByIp.get(), &wtp->ip_link);
  wtp->remote = CW_ADDR{};
  return 0;
}

// --- Session-ID index --------------------------------------------------------

CW_WTPCB* CW_AC_GetWTPBySESSID(const std::array<uint8_t, 16>& session_id) {
  return FindInBucket(BucketOf(g_pstAC_WTPDBTableBySessionId.get(), capwap::SessionIdBucket(session_id)),
                      [&](const CW_WTPCB& wtp) { return wtp.session_id == session_id; });
}

int CW_AC_AddWTPBySESSID(const std::array<uint8_t, 16>& session_id, CW_WTPCB* wtp) {
  LIST* bucket = BucketOf(g_pstAC_WTPDBTableBySessionId.get(), capwap::SessionIdBucket(session_id));
  if (!bucket || !wtp) return 1;
  if (CW_AC_GetWTPBySESSID(wtp->session_id)) CW_AC_DelWtpFromSessTable(wtp);
  wtp->session_id = session_id;
  Enter(g_pstAC_WTPDBTableBySessionId.get(), bucket, &wtp->sess_link);
  return 0;
}

int CW_AC_DelWtpFromSessTable(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  Unlink(g_pstAC_WTPDBTableBySessionId.get(), &wtp->sess_link);
  wtp->session_id.fill(0);
  return 0;
}

// --- Serial-number index -----------------------------------------------------

CW_WTPCB* capwap::FindWtpBySerial(std::string_view serial) {
  hash_value value = 0;
  if (serial.empty() ||
      !wlan_hash_lookup(&value, g_pstCwApSnHash, serial.data(), serial.size())) {
    return nullptr;
  }
  return reinterpret_cast<CW_WTPCB*>(value);
}

int CW_AC_AddWtpFromSn(CW_WTPCB* wtp) {
  OwnedWtp* owner = OwnerOf(wtp);
  if (!owner || !g_pstCwApSnHash) return 1;
  if (wtp->serial.empty() || capwap::FindWtpBySerial(wtp->serial)) return 0;
  if (!owner->sn_key.empty()) CW_AC_DelWtpFromSn(wtp);  // indexed under an older serial
  owner->sn_key = wtp->serial;
  if (!add_hash(g_pstCwApSnHash, owner->sn_key.c_str(), 0, reinterpret_cast<hash_value>(wtp))) {
    owner->sn_key.clear();
    return 1;
  }
  return 0;
}

// Removes only this block's own entry, so a block that shares a serial with
// the indexed one cannot take the other's entry away.
int CW_AC_DelWtpFromSn(CW_WTPCB* wtp) {
  OwnedWtp* owner = OwnerOf(wtp);
  if (!owner || owner->sn_key.empty()) return 0;
  delete_hash_entry(g_pstCwApSnHash, owner->sn_key.c_str(), 0);
  owner->sn_key.clear();
  return 0;
}

// --- Blocks ------------------------------------------------------------------

int CW_InitWTPCB(CW_WTPCB* wtp) {
  if (!wtp) return 1;
  ForEachSessionTimer(*wtp, [](const char*, capwap::Timer& timer) { timer.Cancel(); });
  for (LIST_NODE* link :
       {&wtp->ip_link, &wtp->mac_link, &wtp->name_link, &wtp->sess_link, &wtp->id_link}) {
    LIST_NODE_Init(link);
  }
  wtp->frag.timer.Cancel();
  wtp->frag.rejected_frag_id = 0xFFFFFFFF;
  wtp->frag.fragments.clear();
  wtp->crash_data.clear();
  wtp->discovery_interval = 3;
  wtp->echo_interval = 10;
  wtp->retrans_interval = 5;
  wtp->stats_interval = 120;
  wtp->group_id = 1;
  return 0;
}

namespace {

// Step 2 of creation: the given APID when free, or the lowest free one for -1.
int PickApid(uint32_t apid) {
  if (apid == 0xFFFFFFFFu) return CW_AC_AllocAPID();
  if (apid < 1 || apid > kMaxApId || g_ppAC_WTPDB_TableById[apid]) return -1;
  return static_cast<int>(apid);
}

// Steps 3 and 4 of creation: the zeroed block with its APID, model and name,
// in the registry's ownership but in no index yet. Null when memory ran out.
CW_WTPCB* NewBlock(int apid, std::string_view model, std::string_view name) {
  if (capwap::ShouldFail(capwap::FailFamily::kWtpAlloc)) return nullptr;
  try {
    auto block = std::make_unique<CW_WTPCB>();
    CW_InitWTPCB(block.get());
    block->apid = static_cast<uint32_t>(apid);
    block->model = std::string(model.substr(0, 32));
    block->name = name.empty() ? "ap" + std::to_string(apid)
                               : std::string(name.substr(0, kWtpNameMax));
    Owned().push_back(OwnedWtp{std::move(block), {}});
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return Owned().back().block.get();
}

// Steps 7 to 9 once the block is indexed: WMAC is told, the change mark and
// the record are stored. Memory running out here loses the notification or
// the mark as a failed send or store would; the AP exists all the same.
void AnnounceCreated(CW_WTPCB* wtp) {
  try {
    if (ApEvents().created) ApEvents().created(*wtp);
    CW_WTP_Mark_Store(wtp);
  } catch (const std::bad_alloc&) {
    CwDebug(kDbgError, ZLOG_ERR, " No memory to announce AP %u.\n", wtp->apid);
  }
  StoreWtp(wtp);
}

// Deleting an AP: every index, the APID, the database records, and the
// block. Destroying the block cancels every timer it owns (session,
// retransmit, reassembly, core-dump stall) and releases its send queue,
// whatever its state, so nothing queued or armed outlives it.
void FreeBlock(CW_WTPCB* wtp, bool tell_wmac) {
  if (!OwnerOf(wtp)) return;
  CW_AC_DelWtpFromSessTable(wtp);
  CW_AC_DelWtpFromIpTable(wtp);
  CW_AC_DelWtpFromSn(wtp);
  // MAC and name stay in the block until it is gone: the delete mark, the
  // MAC record and WMAC's delete line below still need them.
  Unlink(g_pstAC_WTPDBTableByMac.get(), &wtp->mac_link);
  Unlink(g_pstAC_WTPDBTableByName.get(), &wtp->name_link);
  CW_AC_FreeAPID(wtp->apid);

  uint8_t key[4];
  capwap::HostWriter(key, sizeof key).u32(wtp->apid);
  DBM_Delete(kDbCwAp, key, sizeof key);
  CW_WTP_Mark_Delete(wtp);
  CW_WTP_Del_By_Mac(wtp);
  if (tell_wmac) CW_AC_DeleteWTP(wtp);
  Owned().remove_if([wtp](const OwnedWtp& entry) { return entry.block.get() == wtp; });
}

}  // namespace

CW_WTPCB* CW_AC_CreateWTP(std::string_view model, uint32_t apid, std::string_view name,
                          uint8_t auto_created) {
  // The APID first: validating the model marks it in use, which a refusal
  // for want of an APID must not leave behind.
  int chosen = PickApid(apid);
  if (!g_pstAC_WTPDBTableByName || chosen < 0 || !CW_IsValidModel(model, 1)) return nullptr;
  CW_WTPCB* wtp = NewBlock(chosen, model, name);
  if (!wtp) {
    CwDebug(kDbgError, ZLOG_ERR, " No memory to create AP with ID %d.\n", chosen);
    return nullptr;
  }

  CW_AC_SetWTPByID(wtp->apid, wtp);
  CW_AC_AddWTPByNAME(wtp->name, wtp);
  CwDebug(kDbgEvent, ZLOG_INFO, " AP created with model %s, ID %d and name %s\n",
          wtp->model.c_str(), chosen, wtp->name.c_str());
  CwDebug(kDbgEvent, ZLOG_INFO, " Notifing WMAC to ADD-WTP (name %s).\n", wtp->name.c_str());

  wtp->auto_created = auto_created;
  wtp->creation_time = static_cast<uint32_t>(time(nullptr));
  wtp->online_tick = ul_CW_AC_Time;
  AnnounceCreated(wtp);
  return wtp;
}

void CW_AC_FreeWTP(CW_WTPCB* wtp) { FreeBlock(wtp, true); }

void FreeWtpAtWmacRequest(CW_WTPCB* wtp) { FreeBlock(wtp, false); }

void CW_AC_DeleteWTP(CW_WTPCB* wtp) {
  if (!wtp) return;
  CwDebug(kDbgEvent, ZLOG_INFO, " Notifing WMAC to DELETE-WTP (name %s).\n", wtp->name.c_str());
  if (ApEvents().deleted) ApEvents().deleted(wtp->apid);
}

int StoreWtp(const CW_WTPCB* wtp) {
  if (!wtp) return 1;
  std::unique_ptr<uint8_t[]> record;
  if (!capwap::ShouldFail(capwap::FailFamily::kWtpAlloc)) {
    try {
      record = std::make_unique<uint8_t[]>(kWtpRecordSize);
    } catch (const std::bad_alloc&) {
    }
  }
  if (!record) {
    CwDebug(kDbgError, ZLOG_ERR, " No memory to store AP %u in the database.\n", wtp->apid);
    return 1;
  }
  EncodeWtpRecord(*wtp, record.get());
  uint8_t key[4];
  capwap::HostWriter(key, sizeof key).u32(wtp->apid);
  if (DBM_Store(kDbCwAp, key, sizeof key, record.get(), kWtpRecordSize) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to store AP %u in the database.\n", wtp->apid);
    return 1;
  }
  return 0;
}

uint8_t CW_AC_GetSeqNum(CW_WTPCB* wtp, uint32_t msg_type) {
  if (msg_type & 1) return ++wtp->req_seq;
  return wtp->last_rcv_seq;
}

bool capwap::OnlineLimitReached() {
  const uint32_t max_online = get_max_apcnt();
  if (g_uiCwApCount < max_online) return false;
  CwDebug(kDbgError, ZLOG_ERR,
          " [Discovery state] The current online AP number %d has reached the maximum %d, so no "
          "more APs can be connected to this AC.\n",
          static_cast<int>(g_uiCwApCount), static_cast<int>(max_online));
  return true;
}
