#include "registry/tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ap_persist.h"
#include "config/db_tables.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "registry/acinfo.h"
#include "registry/hash.h"
#include "support/controller.h"
#include "registry/wtp_record.h"

namespace capwap::test {
namespace {

constexpr uint32_t kAnyApid = 0xFFFFFFFFu;

CW_ADDR Ipv4Endpoint(uint32_t host_order, uint16_t port) {
  CW_ADDR a;
  a.SetIpv4(host_order);
  a.port = port;
  return a;
}

std::vector<uint32_t> ListedApids() {
  std::vector<uint32_t> apids;
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    EXPECT_EQ(wtp->id_link.key, wtp->apid);
    apids.push_back(wtp->apid);
  }
  return apids;
}

std::optional<CW_WTPMARK> MarkOf(const std::array<uint8_t, 6>& mac) {
  auto record = DBM_Fetch(kDbCwMark, mac.data(), mac.size());
  if (!record) return std::nullopt;
  return WtpMarkDecode(*record);
}

using RegistryTables = ControllerLab;

TEST_F(RegistryTables, ApidSpaceRunsOutAtThirtyTwoAndReusesTheLowestFreed) {
  for (uint32_t i = 1; i <= kMaxApId; ++i) ASSERT_EQ(MakeAp()->name, "ap" + std::to_string(i));
  EXPECT_EQ(CW_AC_AllocAPID(), -1);
  EXPECT_EQ(CW_AC_CreateWTP("model-x", kAnyApid, "", 1), nullptr);
  CW_AC_FreeWTP(CW_AC_GetWTPByID(5));
  CW_AC_FreeWTP(CW_AC_GetWTPByID(9));
  EXPECT_EQ(CW_AC_GetWTPByID(5), nullptr);
  EXPECT_EQ(MakeAp("again")->apid, 5u);
  std::vector<uint32_t> expected;
  for (uint32_t i = 1; i <= kMaxApId; ++i) {
    if (i != 9) expected.push_back(i);
  }
  EXPECT_EQ(ListedApids(), expected) << "the APID list stays ascending";
  EXPECT_EQ(g_pstAC_WTPDBTableById.count, 31u);
}

TEST_F(RegistryTables, CreationRefusesBadModelsAndApids) {
  EXPECT_EQ(CW_AC_CreateWTP("", kAnyApid, "x", 0), nullptr) << "unknown model";
  EXPECT_EQ(CW_AC_CreateWTP("model-x", 0, "x", 0), nullptr);
  EXPECT_EQ(CW_AC_CreateWTP("model-x", 33, "x", 0), nullptr);
  CW_WTPCB* seven = MakeAp("seven", 7);
  EXPECT_EQ(CW_AC_CreateWTP("model-x", 7, "other", 0), nullptr) << "APID taken";
  EXPECT_EQ(DbmCount(kDbCwAp), 1u);
  EXPECT_EQ(CW_AC_GetWTPByID(33), nullptr);
  EXPECT_EQ(CW_AC_FreeAPID(0), 1);
  EXPECT_EQ(CW_AC_SetWTPByID(33, seven), 1);
}

TEST_F(RegistryTables, CreationSetsDefaultsStoresAndTellsWmac) {
  LogCapture log;
  ul_CW_AC_Time = 4321;
  CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", 3, "lobby", 1);
  ASSERT_NE(wtp, nullptr);
  EXPECT_EQ(wtp->group_id, 1u);
  EXPECT_EQ(wtp->priority, 4);
  EXPECT_EQ(std::vector<int>({wtp->discovery_interval, wtp->echo_interval, wtp->retrans_interval,
                              wtp->stats_interval}),
            std::vector<int>({3, 10, 5, 120}));
  EXPECT_EQ(wtp->frag.rejected_frag_id, 0xFFFFFFFFu);
  EXPECT_EQ(wtp->auto_created, 1);
  EXPECT_GT(wtp->creation_time, 0u);
  EXPECT_TRUE(log.Contains(" AP created with model model-x, ID 3 and name lobby\n"));
  EXPECT_TRUE(log.Contains(" Notifing WMAC to ADD-WTP (name lobby).\n"));

  auto created = DrainWmac(WmacMsg::kCreateAp);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].wtp_id, 3u);
  ASSERT_EQ(created[0].payload.size(), kWmacCreateApSize);
  ByteView rec(created[0].payload);
  EXPECT_EQ(TextAt(rec, 0, 32), "model-x");
  EXPECT_EQ(TextAt(rec, 32, 33), "lobby");
  EXPECT_EQ(rec[71], 1) << "auto-created flag";

  auto decoded = std::make_unique<CW_WTPCB>();
  ASSERT_TRUE(DecodeWtpRecord(DBM_Fetch(kDbCwAp, ApKey(3).data(), 4).value(), decoded.get()));
  EXPECT_EQ(decoded->name, "lobby");
  EXPECT_EQ(decoded->online_tick, 4321u);
}

TEST_F(RegistryTables, NamesAreCutTo32AndHashedOverUnsignedCharacters) {
  std::string forty(40, 'x');
  CW_WTPCB* wtp = MakeAp(forty);
  EXPECT_EQ(wtp->name, forty.substr(0, 32));
  EXPECT_EQ(CW_AC_GetWTPByNAME(forty.substr(0, 32)), wtp);
  EXPECT_EQ(capwap::NameBucket("\xff"), 255u % 31) << "characters are unsigned";
  CW_WTPCB* ab = MakeAp("ab");
  CW_WTPCB* ba = MakeAp("ba");
  EXPECT_EQ(g_pstAC_WTPDBTableByName->buckets[13].count, 1u);
  EXPECT_EQ(g_pstAC_WTPDBTableByName->buckets[14].count, 1u);
  EXPECT_EQ(CW_AC_GetWTPByNAME("ba"), ba);
  EXPECT_EQ(CW_AC_DelWtpFromName(ab), 0);
  EXPECT_TRUE(ab->name.empty());
  EXPECT_EQ(CW_AC_GetWTPByNAME("ab"), nullptr);
}

TEST_F(RegistryTables, BucketFunctionsSumBytesAndWordsWithWrap) {
  EXPECT_EQ(capwap::MacBucket({0xFF, 0xFF, 0xFF, 200, 100, 50}), 350u % 32);
  CW_ADDR a;
  HostWriter w(a.addr.data(), a.addr.size());
  for (uint32_t word : {0xFFFFFFFFu, 2u, 0x20u, 0x40u}) w.u32(word);
  EXPECT_EQ(capwap::IpBucket(a), (1u + 0x20 + 0x40) % 32) << "0xFFFFFFFF + 2 wraps to 1";
  std::array<uint8_t, 16> sid{};
  HostWriter s(sid.data(), sid.size());
  for (uint32_t word : {0x80000000u, 0x80000000u, 7u, 3u}) s.u32(word);
  EXPECT_EQ(capwap::SessionIdBucket(sid), 10u);
}

TEST_F(RegistryTables, EndpointIndexTellsNatPortsApartAndNeverHoldsAZeroAddress) {
  CW_WTPCB* first = MakeAp("first");
  CW_WTPCB* second = MakeAp("second");
  CW_ADDR one = Ipv4Endpoint(0xC0A80001, 40000);
  CW_ADDR two = Ipv4Endpoint(0xC0A80001, 40001);
  ASSERT_EQ(CW_AC_AddWTPByIP(one, first), 0);
  ASSERT_EQ(CW_AC_AddWTPByIP(two, second), 0);
  EXPECT_EQ(CW_AC_GetWTPByIP(one), first);
  EXPECT_EQ(CW_AC_GetWTPByIP(two), second);
  CW_ADDR v6 = one;
  v6.family = 1;
  EXPECT_EQ(CW_AC_GetWTPByIP(v6), nullptr) << "the family is part of the key";
  CW_ADDR moved = Ipv4Endpoint(0x0A000002, 5246);
  ASSERT_EQ(CW_AC_AddWTPByIP(moved, first), 0);
  EXPECT_EQ(CW_AC_GetWTPByIP(one), nullptr) << "re-entering leaves the old endpoint";
  EXPECT_EQ(CW_AC_GetWTPByIP(moved), first);
  EXPECT_EQ(CW_AC_DelWtpFromIpTable(second), 0);
  EXPECT_TRUE(second->remote.AddrIsZero());

  CW_ADDR zero;
  zero.port = 5246;
  CW_AC_AddWTPByIP(zero, second);
  EXPECT_EQ(CW_AC_GetWTPByIP(zero), nullptr);
  EXPECT_EQ(CW_AC_DelWtpFromIpTable(second), 1);
  second->remote = Ipv4Endpoint(0x01020304, 1);
  EXPECT_EQ(CW_AC_DelWtpFromIpTable(second), 1) << "an empty bucket: nothing to remove";
}

TEST_F(RegistryTables, SessionIdsReplaceTheirPredecessor) {
  CW_WTPCB* wtp = MakeAp("sess");
  std::array<uint8_t, 16> first{}, second{};
  first.fill(0x11);
  second.fill(0x22);
  CW_AC_AddWTPBySESSID(first, wtp);
  CW_AC_AddWTPBySESSID(second, wtp);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(first), nullptr);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(second), wtp);
  CW_AC_DelWtpFromSessTable(wtp);
  EXPECT_EQ(CW_AC_GetWTPBySESSID(second), nullptr);
  EXPECT_EQ(wtp->session_id, (std::array<uint8_t, 16>{}));
}

TEST_F(RegistryTables, SerialIndexKeepsTheFirstHolderOfASerial) {
  CW_WTPCB* a = MakeAp("a");
  CW_WTPCB* b = MakeAp("b");
  a->serial = b->serial = "SN1";
  EXPECT_EQ(CW_AC_AddWtpFromSn(a), 0);
  EXPECT_EQ(CW_AC_AddWtpFromSn(b), 0);
  CW_AC_DelWtpFromSn(b);
  EXPECT_EQ(capwap::FindWtpBySerial("SN1"), a) << "b never held the entry";
  a->serial = std::string(31, 'L');
  EXPECT_EQ(capwap::FindWtpBySerial("SN1"), a) << "the entry keeps its key";
  CW_AC_AddWtpFromSn(a);
  EXPECT_EQ(capwap::FindWtpBySerial("SN1"), nullptr);
  EXPECT_EQ(capwap::FindWtpBySerial(a->serial), a);
  CW_AC_DelWtpFromSn(a);
  CW_AC_AddWtpFromSn(MakeAp("empty"));
  EXPECT_EQ(g_pstCwApSnHash->count, 0u) << "an empty serial is not indexed";
}

TEST_F(RegistryTables, FreeingRemovesEveryRecordAndIndexAndTellsWmac) {
  CW_WTPCB* wtp = MakeAp("cycle", 4);
  wtp->mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_EQ(CW_AC_AddWTPByMac(wtp->mac, wtp), 0);
  EXPECT_EQ(CW_AC_GetWTPByMac(wtp->mac), wtp);
  EXPECT_EQ(U32At(DBM_Fetch(kDbCwApByMac, wtp->mac.data(), 6).value(), 0), wtp->apid);
  EXPECT_EQ(DbmCount(kDbCwMark), 0u) << "no marks while the configuration is replayed";
  DrainWmac();
  LogCapture log;
  std::array<uint8_t, 6> mac = wtp->mac;
  CW_AC_FreeWTP(wtp);
  for (DbTable table : {kDbCwAp, kDbCwApByMac, kDbCwMark}) EXPECT_EQ(DbmCount(table), 0u);
  EXPECT_EQ(CW_AC_GetWTPByMac(mac), nullptr);
  EXPECT_EQ(CW_AC_GetWTPByNAME("cycle"), nullptr);
  EXPECT_EQ(WtpCount(), 0u);
  EXPECT_TRUE(log.Contains(" Notifing WMAC to DELETE-WTP (name cycle).\n"));
  auto deleted = DrainWmac(WmacMsg::kDeleteAp);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].wtp_id, 4u);
  EXPECT_TRUE(deleted[0].payload.empty());
}

TEST_F(RegistryTables, ChangeMarksAfterStartUp) {
  lib_set_start_complete(true);
  CW_WTPCB* added = MakeAp("added");
  added->mac = {0x02, 0, 0, 0, 0, 0x07};
  CW_AC_AddWTPByMac(added->mac, added);
  EXPECT_EQ(MarkOf(added->mac).value().mark, kMarkAdded) << "the stored record had no MAC";
  EXPECT_EQ(MarkOf(added->mac).value().apid, added->apid);
  CW_WTP_Mark_Store(added);
  EXPECT_EQ(MarkOf(added->mac).value().mark, kMarkAdded) << "an added mark stays";
  std::array<uint8_t, 6> mac = added->mac;
  CW_AC_FreeWTP(added);
  EXPECT_FALSE(MarkOf(mac)) << "added and never synchronised: the mark goes";

  CW_WTPCB* wtp = MakeAp("synced");
  wtp->mac = {0x02, 0, 0, 0, 0, 0x08};
  StoreWtp(wtp);  // a record with this MAC already exists
  CW_WTP_Mark_Store(wtp);
  EXPECT_EQ(MarkOf(wtp->mac).value().mark, kMarkChanged);
  CW_AC_DelWtpFromMacTable(wtp);  // the mark follows the old MAC
  EXPECT_EQ(MarkOf({0x02, 0, 0, 0, 0, 0x08}).value().mark, kMarkDeleted);
  EXPECT_EQ(WtpRecordMac(DBM_Fetch(kDbCwAp, ApKey(wtp->apid).data(), 4).value()).value(),
            (std::array<uint8_t, 6>{}));
  wtp->mac = {0x02, 0, 0, 0, 0, 0x08};
  CW_WTP_Mark_Store(wtp);
  EXPECT_EQ(MarkOf(wtp->mac).value().mark, kMarkChanged) << "deleted then stored again";
}

TEST_F(RegistryTables, EnteringTwiceOrAfterAKeyChangeKeepsTheBucketsSound) {
  CW_WTPCB* wtp = MakeAp("twice");
  CW_WTPCB* neighbour = MakeAp("neighbour");
  wtp->mac = {0x0A, 0, 0, 0, 0, 3};
  neighbour->mac = {0x0B, 0, 0, 0, 0, 3};  // same bucket
  CW_AC_AddWTPByMac(wtp->mac, wtp);
  CW_AC_AddWTPByMac(neighbour->mac, neighbour);
  CW_AC_AddWTPByMac(wtp->mac, wtp);  // the same MAC bound again
  LIST& bucket = g_pstAC_WTPDBTableByMac->buckets[capwap::MacBucket(wtp->mac)];
  EXPECT_EQ(bucket.count, 2u);
  EXPECT_EQ(CW_AC_GetWTPByMac(neighbour->mac), neighbour);
  uint32_t old_bucket = capwap::NameBucket("twice");
  wtp->name = "xyz";  // rewritten behind the index's back
  CW_AC_DelWtpFromName(wtp);
  EXPECT_EQ(g_pstAC_WTPDBTableByName->buckets[old_bucket].count, 0u);
  CW_AC_FreeWTP(wtp);
  CW_AC_FreeWTP(neighbour);
  EXPECT_TRUE(bucket.Empty());
}

TEST_F(RegistryTables, MacRecordFollowsTheStoredImage) {
  CW_WTPCB* wtp = MakeAp("mover");
  wtp->mac = {0x0A, 0, 0, 0, 0, 1};
  StoreWtp(wtp);
  std::array<uint8_t, 6> old = wtp->mac;
  wtp->mac = {0x0A, 0, 0, 0, 0, 2};
  CW_WTP_Store_By_Mac(wtp);  // the stored image still names the old MAC
  EXPECT_FALSE(DBM_Fetch(kDbCwApByMac, old.data(), 6));
  EXPECT_TRUE(DBM_Fetch(kDbCwApByMac, wtp->mac.data(), 6));
  CW_WTP_Del_By_Mac(wtp);
  EXPECT_EQ(DbmCount(kDbCwApByMac), 0u);
}

TEST_F(RegistryTables, StoreFailureLeavesThePreviousRecord) {
  CW_WTPCB* wtp = MakeAp("durable");
  wtp->description = "changed";
  for (FailFamily family : {FailFamily::kDbmStore, FailFamily::kWtpAlloc}) {
    FailNext(family, 1);
    EXPECT_EQ(StoreWtp(wtp), 1);
    EXPECT_EQ(TextAt(DBM_Fetch(kDbCwAp, ApKey(wtp->apid).data(), 4).value(), 143, 64), "");
  }
  EXPECT_EQ(StoreWtp(wtp), 0);
  EXPECT_EQ(TextAt(DBM_Fetch(kDbCwAp, ApKey(wtp->apid).data(), 4).value(), 143, 64), "changed");
}

TEST_F(RegistryTables, SequenceNumbersAndAutoApSwitch) {
  CW_WTPCB* wtp = MakeAp("seq");
  wtp->req_seq = 254;
  wtp->last_rcv_seq = 77;
  EXPECT_EQ(CW_AC_GetSeqNum(wtp, 7), 255);
  EXPECT_EQ(CW_AC_GetSeqNum(wtp, 13), 0) << "8-bit wrap";
  EXPECT_EQ(CW_AC_GetSeqNum(wtp, 4), 77) << "responses echo the request";

  CW_CMD_Set_AutoEnable(1);
  CW_CMD_Set_AutoEnable(0);
  EXPECT_EQ(g_bCwAutoApEnabled, 0);
  auto stored = DBM_Fetch(kDbDaemonSettings, "g_bCwAutoApEnabled", 18);
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, Bytes(4, 0));
}

TEST(WtpMarkRecord, FieldsLandAtTheirOffsetsAndOtherSizesAreRefused) {
  CW_WTPMARK mark{0x01020304, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, kMarkChanged};
  uint8_t rec[kWtpMarkSize];
  WtpMarkEncode(mark, rec);
  ByteView r(rec, sizeof rec);
  EXPECT_EQ(U32At(r, 0), 0x01020304u);
  EXPECT_EQ(r[4], 0xA1);
  EXPECT_EQ(r[9], 0xA6);
  EXPECT_EQ(U16At(r, 10), 4);
  auto back = WtpMarkDecode(r);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mac, mark.mac);
  EXPECT_FALSE(WtpMarkDecode(r.first(11)));
  uint8_t longer[13] = {};
  EXPECT_FALSE(WtpMarkDecode(ByteView(longer, sizeof longer)));
}

}  // namespace
}  // namespace capwap::test
