#include "registry/wtp_record.h"

#include <gtest/gtest.h>

#include <memory>

#include "config/vap_profile.h"
#include "support/controller.h"
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
  w.state = kStateDataCheck;
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
    FillSentinels(*wtp_);
    EncodeWtpRecord(*wtp_, record_.data());
  }
  FreshGlobals fresh_;

  std::unique_ptr<CW_WTPCB> wtp_ = std::make_unique<CW_WTPCB>();
  Bytes record_ = Bytes(kWtpRecordSize, 0xEE);
};

// Every sentinel at its offset and width; the gaps between fields (links,
// queues, timer handles, runtime references) stay zero.
TEST_F(WtpRecordTest, FieldsLandAtTheirOffsets) {
  struct Field {
    size_t off;
    int width;  // 1, 2 or 4
    uint32_t value;
  };
  const Field fields[] = {
      {56, 4, 7}, {60, 4, 7}, {64, 4, 0x01020304}, {142, 1, 0}, {208, 4, kStateDataCheck},
      {240, 2, 0x4142}, {276, 1, 0x71}, {277, 1, 0x72}, {278, 1, 0x73}, {280, 2, 0x7475},
      {282, 1, 0x76}, {283, 1, 0x77}, {288, 1, 0x81}, {289, 1, 0x82}, {290, 1, 0x83},
      {328, 1, 0x90}, {343, 1, 0x9F}, {8592, 4, 0xB0B1B2B3}, {8604, 4, 1}, {8668, 1, 1},
      {8779, 1, 112}, {8784, 1, 0xC1}, {8788, 4, 0xC2C3C4C5}, {8792, 4, 0xC6C7C8C9},
      {8876, 1, 0xD1}, {8879, 1, 0xD4}, {8880, 2, 0xD5D6}, {9170, 2, 0xE1E2}, {9172, 2, 0xE3E4},
      {9174, 2, 0xE5E6}, {9176, 2, 0xE7E8}, {9184, 1, 'a'}, {9215, 1, 'a' + 31 % 26},
      {9216, 4, 0xF1F2F3F4}, {9220, 4, 2}, {9224, 4, 1}, {9536, 4, 4}, {9640, 1, 1},
      {9641, 1, 0xBB}, {9661, 1, 4}, {9667, 1, 0xE3}, {9696, 4, 0x12345678},
      {9700, 4, 0x9ABCDEF0}, {9704, 1, 0x30}, {9715, 1, 0x3B}, {9716, 4, 2}, {9720, 4, 7},
      {9724, 1, 1}, {9728, 1, 0x5A}, {9744, 1, 0x5B}, {9760, 2, 5247}, {9762, 2, 0x5C5D},
      {9764, 1, 1}, {9768, 1, 0x61}, {9769, 1, 0x62}, {17963, 1, 0x62}, {17964, 4, 8195},
      {17968, 4, 0x63646566}, {17972, 4, 0x6768696A}, {17976, 1, 0x6B}, {17977, 1, 0x6C},
      {17979, 1, 0x6E}, {26172, 4, 3}, {26248, 1, 0x6F}, {39284, 1, 0x31}, {39285, 1, 0x32},
      {39304, 4, 0x33343536}, {39308, 4, 24}, {39328, 4, 0x37383940}, {39332, 4, 16},
      {39336, 4, 0x41424344}, {39340, 4, 0x45464748}, {39344, 4, 0x494A4B4C},
      {39348, 4, 0x4D4E4F50}, {39352, 2, 0x5152}, {39356, 4, 0x53545556},
      {39368, 4, 0x5F606162}, {39372, 1, 0x63}, {39376, 4, 0x64656667}, {39384, 1, 0x68},
      {39391, 1, 0x6F}, {39392, 1, 1}, {39393, 1, 0x10}, {39398, 1, 4}, {39399, 1, 0x13},
      {39400, 1, 1}, {39402, 2, 0x7100}, {39412, 1, 4}, {39414, 2, 0x7103},
      {39460, 4, 0x76777879},
  };
  ByteView r(record_);
  for (const Field& f : fields) {
    uint32_t got = f.width == 1 ? r[f.off] : f.width == 2 ? U16At(r, f.off) : U32At(r, f.off);
    EXPECT_EQ(got, f.value) << "offset " << f.off;
  }
  const std::pair<size_t, std::string> texts[] = {
      {110, std::string(32, 'N')}, {143, "desc-text"}, {291, "SN-0123456789"},
      {8633, "model-sentinel"}, {8796, "/usr/sbin/apimage/img"}, {8882, "hw-1.0"},
      {8946, "sw-2.0"}, {9010, "boot-3.0"}, {9074, "other-4.0"},
  };
  for (const auto& [off, text] : texts) EXPECT_EQ(TextAt(r, off, 64), text) << "offset " << off;
  ExpectAddrAt(r, 72, wtp_->local);
  ExpectAddrAt(r, 212, wtp_->data_end);
  ExpectAddrAt(r, 244, wtp_->remote);
  EXPECT_TRUE(std::equal(wtp_->mac.begin(), wtp_->mac.end(), r.begin() + 104));
  const std::pair<size_t, size_t> zero[] = {{0, 56},         {152, 208},       {344, 8592},
                                            {8608, 8633},    {8780, 8784},     {8860, 8876},
                                            {9228, 9328},    {17980, 26172},   {26249, 39284},
                                            {39380, 39384}};
  for (const auto& [from, to] : zero) EXPECT_TRUE(AllZero(r, from, to)) << from << ".." << to;
}

TEST_F(WtpRecordTest, RuntimeMembersNeverReachTheImage) {
  VapProfile profile;
  wtp_->vap_profile = &profile;
  wtp_->crash_data.push_back(Bytes{1, 2, 3});
  wtp_->sndq.ring[0] = std::make_unique<CW_PKT>();
  wtp_->sndq.count = 1;
  wtp_->frag.in_progress = 1;
  wtp_->rdbind.radios[0].sub[3] = Bytes{9, 9};
  Bytes again(kWtpRecordSize);
  EncodeWtpRecord(*wtp_, again.data());
  EXPECT_EQ(again, record_);
}

TEST_F(WtpRecordTest, RoundTripRestoresEveryImagedField) {
  auto copy = std::make_unique<CW_WTPCB>();
  copy->crash_data.push_back(Bytes{4});
  ASSERT_TRUE(DecodeWtpRecord(record_, copy.get()));
  Bytes again(kWtpRecordSize);
  EncodeWtpRecord(*copy, again.data());
  EXPECT_EQ(again, record_) << "every imaged field came back";
  EXPECT_EQ(copy->crash_data.size(), 1u) << "runtime members are left alone";
}

TEST_F(WtpRecordTest, WrongSizesAndGarbageNeverHalfFillABlock) {
  auto target = std::make_unique<CW_WTPCB>();
  target->name = "keep";
  target->apid = 3;
  auto refused = [&](ByteView bytes) {
    bool ok = DecodeWtpRecord(bytes, target.get());
    return !ok && target->name == "keep" && target->apid == 3 && target->state == 0;
  };
  Bytes longer = record_;
  longer.push_back(0);
  EXPECT_TRUE(refused(ByteView(record_).first(kWtpRecordSize - 1)));
  EXPECT_TRUE(refused(longer));
  EXPECT_TRUE(refused(ByteView{}));
  // Random images are the db_records fuzz target's job.

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
  auto mac = WtpRecordMac(record_);
  ASSERT_TRUE(mac);
  EXPECT_EQ(*mac, wtp_->mac);
  EXPECT_FALSE(WtpRecordMac(ByteView(record_).first(109)));
}

}  // namespace
}  // namespace capwap::test
