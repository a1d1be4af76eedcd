// The security-policy pushes, each caught where the WTP receives it
// (loopback UDP) and decoded with the project's codec: the WMAC requests
// played by the peer simulator, the layer-2 ACL read from the database, the
// switch-protection batch and the wired-LAN VLAN senders.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "config/ap_group.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "config/vap_profile.h"
#include "platform/dbm.h"
#include "relay/policy.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

class PolicyPush : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    wtp_ = WtpAt(endpoint_, 5);
    ASSERT_NE(wtp_, nullptr);
  }
  // The elements of each request the WTP gets, answering each in turn;
  // nullopt when nothing came.
  std::optional<std::vector<Bytes>> NextRequest() {
    std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
    if (!msg) return std::nullopt;
    EXPECT_EQ(msg->ctl.msg_type, kMsgCfgUpdateReq);
    EXPECT_TRUE(msg->complete);
    std::vector<Bytes> elements;
    for (const CwElement& e : msg->elements) elements.push_back(ElementBytes(e));
    Answer(endpoint_, msg->ctl.seq);
    return elements;
  }
  // The one element of the next request (empty after a failure).
  Bytes Only() {
    std::optional<std::vector<Bytes>> got = NextRequest();
    if (got && got->size() == 1) return got->front();
    ADD_FAILURE() << "expected one request with one element";
    return {};
  }
  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = nullptr;
};

// An ACL record of table 127: kind at 4, count at 276, entries from 280.
Bytes AclRecord(uint32_t kind, uint32_t count, size_t entries) {
  const size_t size = kind == 1 ? 36 : 80;
  Bytes rec = Cat({HostU32(0), HostU32(kind), Fill(0, 268), HostU32(count)});
  for (size_t i = 0; i < entries; ++i) {
    Bytes e(size, 0);
    for (size_t b = 0; b < size; ++b) e[b] = static_cast<uint8_t>(0x10 + b);
    e[0] = static_cast<uint8_t>(i);
    rec = Cat({rec, e});
  }
  return rec;
}

TEST_F(PolicyPush, EachWmacPolicyMessageWritesItsElement) {
  const Bytes none{};  // a request without elements
  const Bytes domain = Cat({HostU16(0x0102), Fill(0xEE, 6), Str("portal.lan"), U8(0), Str("junk")});
  const struct {
    uint32_t type, param;
    Bytes payload;
    std::optional<Bytes> element;  // nullopt: no request at all
  } rows[] = {
      {61, 0, Hex("010203ff"), Vendor(123, Hex("010203"))},
      // Length is what is written: 10 + n, not the payload's 12 + n.
      {68, 0, Cat({HostU32(0x01020304), Hex("0506eeee"), HostU32(3), Hex("aabbcc ff")}),
       Vendor(82, Hex("01020304 0506 00000003 aabbcc"))},
      {69, 0, Cat({Hex("010203ee"), HostU32(0x0a0b0c0d), Hex("ff")}), Vendor(83, Hex("010203 0a0b0c0d"))},
      {113, 0, Hex("0102030405"), Vendor(214, Hex("0102030405"))},
      {114, 0, domain, Vendor(215, Cat({Hex("0102 000a"), Str("portal.lan")}))},
      {114, 0, Cat({HostU16(7), Fill(0, 6)}), Vendor(215, Hex("0007 0000"))},
      // A domain without its NUL ends with the payload.
      {114, 0, Cat({HostU16(7), Fill(0, 6), Str("ab")}), Vendor(215, Hex("0007 0002 6162"))},
      {111, 1, Hex("abcd"), Vendor(212, Hex("01 abcd"))},
      {111, 2, Hex("ab"), Vendor(212, Hex("02 0001 ab"))},
      {111, 3, Hex(""), Vendor(212, Hex("03 0001"))},
      {111, 4, Hex("0a0b"), Vendor(212, Hex("04 0a0b"))},
      {111, 7, Hex("0a0b"), none},
      // Refused: kind 0, short records, a rule count past the payload.
      {111, 0, Hex("0a0b"), std::nullopt},
      {61, 0, Hex("0102"), std::nullopt},
      {68, 0, Cat({HostU32(1), Hex("0506eeee"), HostU32(4), Hex("aabbcc")}), std::nullopt},
      {68, 0, Hex("0102030405060708090a0b"), std::nullopt},
      {69, 0, Hex("01020304050607"), std::nullopt},
      {114, 0, Hex("01020304050607"), std::nullopt},
      {113, 0, Fill(1, 40000), std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.type << "/" << row.param << " " << row.payload.size());
    FromWmacWithParam(row.type, wtp_->apid, row.param, row.payload);
    std::optional<std::vector<Bytes>> got = NextRequest();
    ASSERT_EQ(got.has_value(), row.element.has_value());
    if (!got) continue;
    if (row.element->empty()) {
      EXPECT_TRUE(got->empty());
    } else {
      ASSERT_EQ(got->size(), 1u);
      EXPECT_TRUE(BytesMatch(got->front(), {{*row.element, "element"}}));
    }
  }
  // Outside Run nothing goes, whatever the message; DHCP snooping goes to
  // every AP in Run and to nobody else.
  wtp_->state = kStateConfig;
  for (uint32_t type : {61u, 68u, 69u, 113u, 114u, 109u}) FromWmac(type, wtp_->apid, Fill(1, 16));
  FromWmacWithParam(111, 0, 1, Hex("01"));
  EXPECT_FALSE(NextRequest().has_value());
  EXPECT_EQ(wtp_->sndq.count, 0u);
}

TEST_F(PolicyPush, LayerTwoAclIsReadByNumberAndSentInChunks) {
  const uint32_t kAcl = 0x00000107;
  const Bytes request = Cat({Hex("02 01 03"), HostU32(kAcl)});
  const Bytes station = Hex("a0a1a2a3a4a5");
  const struct {
    uint32_t kind, count;
    size_t entries;
    bool with_station;
    uint8_t kind_byte;
    size_t entry_size;
    std::vector<uint32_t> chunks;
  } rows[] = {
      {1, 100, 100, false, 1, 30, {46, 46, 8}},
      {3, 27, 27, true, 10, 53, {26, 1}},
      {1, 0, 0, false, 1, 30, {0}},
      // A count beyond the record's entries sends what is there.
      {1, 1000000, 2, false, 1, 30, {2}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "kind " << row.kind << " count " << row.count);
    const Bytes rec = AclRecord(row.kind, row.count, row.entries);
    ASSERT_EQ(DBM_Store(kDbAcl, &kAcl, 4, rec.data(), rec.size()), 0);
    FromWmac(row.with_station ? 110 : 109, wtp_->apid, row.with_station ? Cat({request, station}) : request);
    for (uint32_t n : row.chunks) {
      const Bytes e = Only();
      EXPECT_TRUE(BytesMatch(ByteView(e).first(12), {{Cat({U16(64), U16(static_cast<uint16_t>(8 + n * row.entry_size))}), "header"},
                                                      {Hex("02 01 03"), "op radio wlan"},
                                                      {U8(row.kind_byte), "kind"},
                                                      {U32(n), "count"}}));
      EXPECT_EQ(e.size(), 12 + n * row.entry_size);
    }
    EXPECT_FALSE(NextRequest().has_value());
  }
  // One entry of each encoding, byte for byte.
  const Bytes kind1 = Cat({U8(0x00), U8(0x18), U32(0x17161514), Hex("1c1d1e1f20212223242526272829 2a2b2c2d2e2f30313233")});
  const Bytes tail3 = Cat({U8(0x14), U8(4), U32(0x1f1e1d1c), U8(0x19), U32(0x2f2e2d2c), U32(0x33323130),
                           U32(0x37363534), U32(0x3f3e3d3c), U8(0x39), U32(0x4f4e4d4c), U32(0x53525150),
                           U32(0x57565554), U32(0x5b5a5958)});
  for (const auto& [kind, payload, entry] :
       {std::tuple{1u, request, kind1}, std::tuple{3u, request, Cat({U8(0), tail3})},
        std::tuple{3u, Cat({request, station}), Cat({U8(0), station, Fill(0xFF, 6), tail3})}}) {
    const Bytes rec = AclRecord(kind, 1, 1);
    ASSERT_EQ(DBM_Store(kDbAcl, &kAcl, 4, rec.data(), rec.size()), 0);
    FromWmac(109, wtp_->apid, payload);
    const Bytes e = Only();
    ASSERT_GE(e.size(), 12u);
    EXPECT_TRUE(BytesMatch(ByteView(e).subspan(12), {{entry, "entry"}}));
  }
  // Refusals: radio 0, an unknown number, a kind of neither layout, a
  // payload of neither size, a record too short for its count field.
  const uint32_t kOther = 9;
  const Bytes kind2 = AclRecord(2, 1, 1), stub = Fill(0, 100);
  ASSERT_EQ(DBM_Store(kDbAcl, &kOther, 4, kind2.data(), kind2.size()), 0);
  for (const Bytes& bad : {Cat({Hex("02 00 03"), HostU32(kAcl)}), Cat({Hex("02 01 03"), HostU32(77)}),
                           Cat({Hex("02 01 03"), HostU32(kOther)}), Cat({request, Hex("00")})}) {
    FromWmac(109, wtp_->apid, bad);
  }
  ASSERT_EQ(DBM_Store(kDbAcl, &kAcl, 4, stub.data(), stub.size()), 0);
  FromWmac(109, wtp_->apid, request);
  EXPECT_FALSE(NextRequest().has_value());
}

TEST_F(PolicyPush, RunEntryBatchAndWiredLanVlansComeFromTheSettings) {
  // None of the keys: a request without elements.
  ASSERT_EQ(AC_IPC_SendDhcpSnooping_Batch(wtp_), 0);
  std::optional<std::vector<Bytes>> got = NextRequest();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->empty());

  Bytes bitmap(kArpInspectRecordSize, 0);
  for (uint32_t v : {0u, 5u, 33u, 4095u, 200u}) bitmap[(v / 32) * 4 + (v % 32) / 8] |= static_cast<uint8_t>(1u << (v % 8));
  HostWriter(bitmap.data() + 512, 4).u32(2);  // at most two of 5, 33, 200
  const std::pair<const char*, Bytes> settings[] = {
      {kDhcpSnoopKey, Hex("0101")}, {kArpInspectKey, bitmap}, {kArpAntiAttackKey, Hex("07")}};
  for (const auto& [key, value] : settings) {
    ASSERT_EQ(DBM_Store(kDbDaemonSettings, key, strlen(key) + 1, value.data(), value.size()), 0);
  }
  ASSERT_EQ(AC_IPC_SendDhcpSnooping_Batch(wtp_), 0);
  got = NextRequest();
  ASSERT_TRUE(got && got->size() == 3);
  EXPECT_EQ((*got)[0], Vendor(212, Hex("01 0101")));
  EXPECT_EQ((*got)[1], Vendor(212, Hex("02 0002 00000005 00000021")));
  EXPECT_EQ((*got)[2], Vendor(212, Hex("04 07")));

  // Wired LAN: the AP's own VLAN, else its group's, else 0.
  ASSERT_NE(ApGroupCreate(3), nullptr);
  ApGroupGet(3)->lan_vlan = 300;
  wtp_->group_id = 3;
  for (const auto& [own, expect] : {std::pair{20u, 20u}, std::pair{0u, 300u}}) {
    wtp_->lan_vlan = own;
    ASSERT_EQ(AC_SndWiredLanVlan(wtp_), 0);
    EXPECT_EQ(Only(), Vendor(85, U32(expect)));
  }
  wtp_->group_id = 0;
  ASSERT_EQ(AC_SndWiredLanVlan(wtp_), 0);
  EXPECT_EQ(Only(), Vendor(85, U32(0)));
  // Per port: the model's ports, at most the table's four slots.
  wtp_->lan_port_vlan[0] = {1, 0x0101};
  wtp_->lan_port_vlan[3] = {4, 0x0404};
  ASSERT_EQ(AC_IPC_SndWiredLanVlan2(wtp_, 8), 0);
  EXPECT_EQ(Only(), Vendor(213, Hex("04 01 0101 02 0000 03 0000 04 0404")));
  g_astCWApdbList[0].name = "model-x";
  g_astCWApdbList[0].lan_ports = 2;
  ASSERT_EQ(AC_SndWiredLanVlan2(wtp_), 0);
  EXPECT_EQ(Only(), Vendor(213, Hex("02 01 0101 02 0000")));
  // A profile that isolates the AP by link owns its LAN ports.
  VapProfile profile{1, kVapIsolateLink, 0x0A000001};
  wtp_->vap_profile = &profile;
  EXPECT_EQ(AC_SndWiredLanVlan(wtp_) + AC_SndWiredLanVlan2(wtp_), 0);
  EXPECT_FALSE(NextRequest().has_value());
  wtp_->vap_profile = nullptr;
}

}  // namespace
}  // namespace capwap::test
