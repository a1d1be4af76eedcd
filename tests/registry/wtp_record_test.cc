#include "registry/wtp_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "registry/registry_fixture.h"
#include "transport/types.h"

namespace capwap::test {
namespace {

CW_ADDR Addr(uint8_t family, uint32_t ifindex, uint32_t local, uint8_t first, uint16_t port) {
  CW_ADDR a;
  a.family = family;
  a.ifindex = ifindex;
  a.local_ipv4 = local;
  for (size_t i = 0; i < a.addr.size(); ++i) a.addr[i] = static_cast<uint8_t>(first + i);
  a.port = port;
  return a;
}

// Every imaged field gets a value of its own.
void FillSentinels(CW_WTPCB& w) {
  w.id_link.key = 7;
  w.apid = 7;
  w.group_id = 0x01020304;
  w.local = Addr(1, 0x11121314, 0x15161718, 0x20, 0x2122);
  w.mac = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
  w.name = std::string(32, 'N');
  w.description = "desc-text";
  w.state = CW_STATE_DATA_CHECK;
  w.data_end = Addr(0, 0, 0, 0x40, 0x4142);
  w.remote = Addr(1, 0, 0, 0x60, 0x6162);
  w.auto_created = 0x71;
  w.discovered = 0x72;
  w.priority = 0x73;
  w.capability = 0x7475;
  w.wait_rdbind = 0x76;
  w.session_flag = 0x77;
  w.req_seq = 0x81;
  w.last_rcv_seq = 0x82;
  w.prev_rcv_seq = 0x83;
  w.serial = "SN-0123456789";
  for (size_t i = 0; i < 16; ++i) w.session_id[i] = static_cast<uint8_t>(0x90 + i);
  w.static_ip = {0xB0B1B2B3, 0xB4B5B6B7, 0xB8B9BABB, 1};
  w.model = "model-sentinel";
  for (size_t i = 0; i < w.image_id.size(); ++i) w.image_id[i] = static_cast<uint8_t>(i + 1);
  w.image_downloading = 0xC1;
  w.image_size = 0xC2C3C4C5;
  w.image_sent = 0xC6C7C8C9;
  w.image_path = "/usr/sbin/apimage/img";
  w.descriptor.max_radios = 0xD1;
  w.descriptor.radios_in_use = 0xD2;
  w.descriptor.num_encrypt = 0xD3;
  w.descriptor.encrypt_wbid = 0xD4;
  w.descriptor.encrypt_caps = 0xD5D6;
  SetFieldText(w.descriptor.hw_version, "hw-1.0");
  SetFieldText(w.descriptor.sw_version, "sw-2.0");
  SetFieldText(w.descriptor.boot_version, "boot-3.0");
  SetFieldText(w.descriptor.other_version, "other-4.0");
  w.discovery_interval = 0xE1E2;
  w.echo_interval = 0xE3E4;
  w.retrans_interval = 0xE5E6;
  w.stats_interval = 0xE7E8;
  for (size_t i = 0; i < w.location.size(); ++i) w.location[i] = static_cast<uint8_t>('a' + i % 26);
  w.rdbind.idle_timeout = 0xF1F2F3F4;
  w.rdbind.radio_count = 2;
  for (uint32_t r = 0; r < 4; ++r) w.rdbind.radios[r].radio_id = r + 1;
  for (uint8_t r = 0; r < 4; ++r) {
    w.bssid_table[r].radio_id = static_cast<uint8_t>(r + 1);
    w.bssid_table[r].bssid = {0xBB, r, r, r, r, static_cast<uint8_t>(0xE0 + r)};
  }
  w.master_status = 0x12345678;
  w.rdbind_notify_result = 0x9ABCDEF0;
  for (size_t i = 0; i < 12; ++i) w.radio_states[i] = static_cast<uint8_t>(0x30 + i);
  w.tunnel.state = 2;
  w.tunnel.apid = 7;
  w.tunnel.family = 1;
  w.tunnel.ac_addr.fill(0x5A);
  w.tunnel.wtp_data_addr.fill(0x5B);
  w.tunnel.ac_data_port = 5247;
  w.tunnel.wtp_data_port = 0x5C5D;
  w.tunnel.virtual_ap = 1;
  w.tunnel.scrambled = 1;
  w.wait_wrrm = 0x61;
  w.wrrm_block.assign(8195, 0x62);
  w.creation_time = 0x63646566;
  w.online_tick = 0x6768696A;
  w.wait_wids = 0x6B;
  w.wids_block = {0x6C, 0x6D, 0x6E};
  w.concurrency_flag = 0x6F;
  w.normal_collect = 0x31;
  w.rt_collect = 0x32;
  w.lan_ip_inherited = {0x33343536, 24};
  w.lan_ip = {0x37383940, 16};
  w.lan_dhcp = {0x41424344, 0x45464748, 0x494A4B4C};
  w.n2n = {0x4D4E4F50, 0x5152};
  w.dns = {0x53545556, 0x5758595A, 0x5B5C5D5E, 0x5F606162};
  w.led_quiet = 0x63;
  w.lan_vlan = 0x64656667;
  w.vap_profile_num = 0x68;
  w.antenna_external = 0x69;
  w.mesh_role = 0x6A;
  w.mesh_id = 0x6B;
  w.mesh_data_path = 0x6C;
  w.anti_attack = 0x6D;
  w.tpc = 0x6E;
  w.max_retrans = 0x6F;
  for (uint8_t n = 0; n < 4; ++n) {
    w.lan_port_admin[n] = {static_cast<uint8_t>(n + 1), static_cast<uint8_t>(0x10 + n)};
    w.lan_port_vlan[n] = {static_cast<uint8_t>(n + 1), static_cast<uint16_t>(0x7100 + n)};
  }
  w.board_vendor_id = 0x76777879;
}

void ExpectAddrAt(ByteView rec, size_t off, const CW_ADDR& a) {
  SCOPED_TRACE(off);
  EXPECT_EQ(rec[off], a.family);
  EXPECT_EQ(rec[off + 1] | rec[off + 2] | rec[off + 3], 0);
  EXPECT_EQ(U32At(rec, off + 4), a.ifindex);
  EXPECT_EQ(U32At(rec, off + 8), a.local_ipv4);
  EXPECT_TRUE(std::equal(a.addr.begin(), a.addr.end(), rec.begin() + off + 12));
  EXPECT_EQ(U16At(rec, off + 28), a.port);
  EXPECT_EQ(U16At(rec, off + 30), 0);
}

bool AllZero(ByteView rec, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (rec[i]) return false;
  }
  return true;
}

class WtpRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllGlobals();
    FillSentinels(*wtp_);
    CW_EncodeWtpRecord(*wtp_, record_.data());
  }
  void TearDown() override { ResetAllGlobals(); }

  std::unique_ptr<CW_WTPCB> wtp_ = std::make_unique<CW_WTPCB>();
  Bytes record_ = Bytes(kWtpRecordSize, 0xEE);
};

TEST_F(WtpRecordTest, HeadFieldsLandAtTheirOffsets) {
  ByteView r(record_);
  EXPECT_TRUE(AllZero(r, 0, 56)) << "links";
  EXPECT_EQ(U32At(r, 56), 7u) << "APID-list key";
  EXPECT_EQ(U32At(r, 60), 7u);
  EXPECT_EQ(U32At(r, 64), 0x01020304u);
  ExpectAddrAt(r, 72, wtp_->local);
  EXPECT_TRUE(std::equal(wtp_->mac.begin(), wtp_->mac.end(), r.begin() + 104));
  EXPECT_EQ(TextAt(r, 110, 33), std::string(32, 'N'));
  EXPECT_EQ(r[142], 0) << "name terminator";
  EXPECT_EQ(TextAt(r, 143, 64), "desc-text");
  EXPECT_TRUE(AllZero(r, 143 + 9, 208)) << "description padding";
  EXPECT_EQ(U32At(r, 208), uint32_t{CW_STATE_DATA_CHECK});
  ExpectAddrAt(r, 212, wtp_->data_end);
  EXPECT_EQ(U16At(r, 240), 0x4142) << "data port";
  ExpectAddrAt(r, 244, wtp_->remote);
  EXPECT_EQ(r[276], 0x71);
  EXPECT_EQ(r[277], 0x72);
  EXPECT_EQ(r[278], 0x73);
  EXPECT_EQ(U16At(r, 280), 0x7475);
  EXPECT_EQ(r[282], 0x76);
  EXPECT_EQ(r[283], 0x77);
  EXPECT_EQ(r[288], 0x81);
  EXPECT_EQ(r[289], 0x82);
  EXPECT_EQ(r[290], 0x83);
  EXPECT_EQ(TextAt(r, 291, 33), "SN-0123456789");
  EXPECT_TRUE(std::equal(wtp_->session_id.begin(), wtp_->session_id.end(), r.begin() + 328));
  EXPECT_TRUE(AllZero(r, 344, 8592)) << "reassembly state and send queue";
}

TEST_F(WtpRecordTest, SessionFieldsLandAtTheirOffsets) {
  ByteView r(record_);
  EXPECT_EQ(U32At(r, 8592), 0xB0B1B2B3u);
  EXPECT_EQ(U32At(r, 8596), 0xB4B5B6B7u);
  EXPECT_EQ(U32At(r, 8600), 0xB8B9BABBu);
  EXPECT_EQ(U32At(r, 8604), 1u);
  EXPECT_TRUE(AllZero(r, 8608, 8633)) << "timer handles";
  EXPECT_EQ(TextAt(r, 8633, 32), "model-sentinel");
  EXPECT_EQ(r[8668], 1);
  EXPECT_EQ(r[8668 + 111], 112);
  EXPECT_TRUE(AllZero(r, 8780, 8784)) << "image stream";
  EXPECT_EQ(r[8784], 0xC1);
  EXPECT_EQ(U32At(r, 8788), 0xC2C3C4C5u);
  EXPECT_EQ(U32At(r, 8792), 0xC6C7C8C9u);
  EXPECT_EQ(TextAt(r, 8796, 64), "/usr/sbin/apimage/img");
  EXPECT_TRUE(AllZero(r, 8860, 8876)) << "crash-data list";
  EXPECT_EQ(r[8876], 0xD1);
  EXPECT_EQ(r[8879], 0xD4);
  EXPECT_EQ(U16At(r, 8880), 0xD5D6);
  EXPECT_EQ(TextAt(r, 8882, 64), "hw-1.0");
  EXPECT_EQ(TextAt(r, 8946, 64), "sw-2.0");
  EXPECT_EQ(TextAt(r, 9010, 64), "boot-3.0");
  EXPECT_EQ(TextAt(r, 9074, 64), "other-4.0");
  EXPECT_EQ(U16At(r, 9170), 0xE1E2);
  EXPECT_EQ(U16At(r, 9172), 0xE3E4);
  EXPECT_EQ(U16At(r, 9174), 0xE5E6);
  EXPECT_EQ(U16At(r, 9176), 0xE7E8);
  EXPECT_EQ(r[9184], 'a');
  EXPECT_EQ(r[9215], 'a' + 31 % 26);
  EXPECT_EQ(U32At(r, 9216), 0xF1F2F3F4u);
  EXPECT_EQ(U32At(r, 9220), 2u);
  for (uint32_t k = 0; k < 4; ++k) {
    size_t slot = 9224 + 104 * k;
    EXPECT_EQ(U32At(r, slot), k + 1);
    EXPECT_TRUE(AllZero(r, slot + 4, slot + 104)) << "sub-record references";
  }
  EXPECT_EQ(r[9640], 1);
  EXPECT_EQ(r[9641], 0xBB);
  EXPECT_EQ(r[9640 + 21], 4) << "fourth BSSID row";
  EXPECT_EQ(r[9640 + 27], 0xE3);
  EXPECT_EQ(U32At(r, 9696), 0x12345678u);
  EXPECT_EQ(U32At(r, 9700), 0x9ABCDEF0u);
  EXPECT_EQ(r[9704], 0x30);
  EXPECT_EQ(r[9715], 0x3B);
}

TEST_F(WtpRecordTest, TunnelPeerBlocksAndConfigurationLandAtTheirOffsets) {
  ByteView r(record_);
  EXPECT_EQ(U32At(r, 9716), 2u);
  EXPECT_EQ(U32At(r, 9720), 7u);
  EXPECT_EQ(r[9724], 1);
  EXPECT_EQ(r[9728], 0x5A);
  EXPECT_EQ(r[9744], 0x5B);
  EXPECT_EQ(U16At(r, 9760), 5247);
  EXPECT_EQ(U16At(r, 9762), 0x5C5D);
  EXPECT_EQ(r[9764], 1);
  EXPECT_EQ(r[9768], 0x61);
  EXPECT_EQ(r[9769], 0x62);
  EXPECT_EQ(r[9769 + 8194], 0x62);
  EXPECT_EQ(U32At(r, 17964), 8195u);
  EXPECT_EQ(U32At(r, 17968), 0x63646566u);
  EXPECT_EQ(U32At(r, 17972), 0x6768696Au);
  EXPECT_EQ(r[17976], 0x6B);
  EXPECT_EQ(r[17977], 0x6C);
  EXPECT_EQ(r[17979], 0x6E);
  EXPECT_TRUE(AllZero(r, 17980, 26172));
  EXPECT_EQ(U32At(r, 26172), 3u);
  EXPECT_EQ(r[26248], 0x6F);
  EXPECT_TRUE(AllZero(r, 26249, 39284)) << "runtime core-dump state";
  EXPECT_EQ(r[39284], 0x31);
  EXPECT_EQ(r[39285], 0x32);
  EXPECT_EQ(U32At(r, 39304), 0x33343536u);
  EXPECT_EQ(U32At(r, 39308), 24u);
  EXPECT_EQ(U32At(r, 39328), 0x37383940u);
  EXPECT_EQ(U32At(r, 39332), 16u);
  EXPECT_EQ(U32At(r, 39336), 0x41424344u);
  EXPECT_EQ(U32At(r, 39340), 0x45464748u);
  EXPECT_EQ(U32At(r, 39344), 0x494A4B4Cu);
  EXPECT_EQ(U32At(r, 39348), 0x4D4E4F50u);
  EXPECT_EQ(U16At(r, 39352), 0x5152);
  EXPECT_EQ(U16At(r, 39354), 0);
  EXPECT_EQ(U32At(r, 39356), 0x53545556u);
  EXPECT_EQ(U32At(r, 39368), 0x5F606162u);
  EXPECT_EQ(r[39372], 0x63);
  EXPECT_EQ(U32At(r, 39376), 0x64656667u);
  EXPECT_EQ(U32At(r, 39380), 0u) << "profile reference";
  const uint8_t bytes_39384[] = {0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F};
  EXPECT_TRUE(std::equal(std::begin(bytes_39384), std::end(bytes_39384), r.begin() + 39384));
  EXPECT_EQ(r[39392], 1);
  EXPECT_EQ(r[39393], 0x10);
  EXPECT_EQ(r[39398], 4);
  EXPECT_EQ(r[39399], 0x13);
  EXPECT_EQ(r[39400], 1);
  EXPECT_EQ(r[39401], 0);
  EXPECT_EQ(U16At(r, 39402), 0x7100);
  EXPECT_EQ(r[39412], 4);
  EXPECT_EQ(U16At(r, 39414), 0x7103);
  EXPECT_EQ(U32At(r, 39460), 0x76777879u);
}

TEST_F(WtpRecordTest, RuntimeMembersNeverReachTheImage) {
  int dummy = 0;
  wtp_->vap_profile = &dummy;
  wtp_->crash_data.push_back(Bytes{1, 2, 3});
  wtp_->sndq.ring[0] = std::make_unique<CW_PKT>();
  wtp_->sndq.count = 1;
  wtp_->frag.in_progress = 1;
  wtp_->rdbind.radios[0].sub[3] = Bytes{9, 9};
  Bytes again(kWtpRecordSize);
  CW_EncodeWtpRecord(*wtp_, again.data());
  EXPECT_EQ(again, record_);
}

TEST_F(WtpRecordTest, RoundTripRestoresEveryImagedField) {
  auto copy = std::make_unique<CW_WTPCB>();
  copy->crash_data.push_back(Bytes{4});
  ASSERT_TRUE(CW_DecodeWtpRecord(record_, copy.get()));
  Bytes again(kWtpRecordSize);
  CW_EncodeWtpRecord(*copy, again.data());
  EXPECT_EQ(again, record_);
  EXPECT_EQ(copy->name, wtp_->name);
  EXPECT_EQ(copy->serial, wtp_->serial);
  EXPECT_EQ(copy->remote, wtp_->remote);
  EXPECT_EQ(copy->wrrm_block, wtp_->wrrm_block);
  EXPECT_EQ(copy->wids_block, wtp_->wids_block);
  EXPECT_EQ(copy->lan_port_vlan[3].vlan, 0x7103);
  EXPECT_EQ(copy->crash_data.size(), 1u) << "runtime members are left alone";
}

TEST_F(WtpRecordTest, WrongSizesAndGarbageNeverHalfFillABlock) {
  auto target = std::make_unique<CW_WTPCB>();
  target->name = "keep";
  target->apid = 3;
  auto refused = [&](ByteView bytes) {
    bool ok = CW_DecodeWtpRecord(bytes, target.get());
    return !ok && target->name == "keep" && target->apid == 3 && target->state == 0;
  };
  Bytes longer = record_;
  longer.push_back(0);
  EXPECT_TRUE(refused(ByteView(record_).first(kWtpRecordSize - 1)));
  EXPECT_TRUE(refused(longer));
  EXPECT_TRUE(refused(ByteView{}));

  std::mt19937 gen(12345);
  Bytes garbage(kWtpRecordSize);
  for (int round = 0; round < 8; ++round) {
    for (auto& b : garbage) b = static_cast<uint8_t>(gen());
    EXPECT_TRUE(refused(garbage));
  }

  struct Mutation {
    size_t offset;
    uint8_t value;
    const char* what;
  };
  const Mutation mutations[] = {
      {60, 0, "APID 0"},          {60, 33, "APID 33"},           {208, 7, "state 7"},
      {142, 'x', "name without terminator"},                      {323, 'x', "serial padding"},
      {20, 1, "link word"},       {400, 1, "send queue"},        {8610, 1, "timer handle"},
      {9230, 1, "sub-record reference"},                          {39381, 1, "profile reference"},
      {17966, 1, "WRRM length over 8195"},                       {72, 2, "address family"},
      {9716, 9, "tunnel state"},  {160, 1, "after the description terminator"},
  };
  for (const Mutation& m : mutations) {
    Bytes bad = record_;
    bad[m.offset] = m.value;
    EXPECT_TRUE(refused(bad)) << m.what;
  }
}

TEST_F(WtpRecordTest, MacOfAStoredImage) {
  auto mac = CW_WtpRecordMac(record_);
  ASSERT_TRUE(mac);
  EXPECT_EQ(*mac, wtp_->mac);
  EXPECT_FALSE(CW_WtpRecordMac(ByteView(record_).first(109)));
}

}  // namespace
}  // namespace capwap::test
