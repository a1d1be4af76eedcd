// Statistics collection for one or every WTP, the WAPI relay towards the
// WTP's data channel, and the firmware offers of the upgrade command.
#include <gtest/gtest.h>

#include "config/images.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "relay/cfg_update.h"
#include "transport/keepalive.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

// Four WTPs with their own endpoints, in Run, Join, Idle and Configure.
class CollectionTest : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    const uint32_t states[] = {kStateRun, kStateJoin, kStateIdle, kStateConfig};
    for (size_t i = 0; i < 4; ++i) {
      wtps_[i] = WtpAt(endpoints_[i], static_cast<uint32_t>(i + 2), states[i]);
      ASSERT_NE(wtps_[i], nullptr);
    }
    // Distinct sequence positions, so a shared counter would show.
    wtps_[1]->req_seq = 40;
    wtps_[3]->req_seq = 255;
  }
  // The vendor element of the one request endpoint i received, or empty.
  Bytes VendorFrom(size_t i) {
    std::optional<DecodedMessage> msg = OnlyAnswer(endpoints_[i]);
    CwElement e;
    if (!msg || !OneElement(msg, &e)) return {};
    seq_ = msg->ctl.seq;
    Answer(endpoints_[i], msg->ctl.seq);
    return ElementBytes(e);
  }
  std::array<UdpEndpoint, 4> endpoints_;
  std::array<CW_WTPCB*, 4> wtps_{};
  uint8_t seq_ = 0;
};

TEST_F(CollectionTest, NormalCollectionReachesEveryWtpThatIsNotIdle) {
  FromWmac(44, 0, Cat({HostU32(300), Fill(0xEE, 4)}));
  const uint8_t expected_seq[] = {1, 41, 0, 0};
  for (size_t i : {0u, 1u, 3u}) {
    EXPECT_EQ(VendorFrom(i), Hex("0025 000d 00a1b2c3 005d 0005 01 0000012c")) << i;
    EXPECT_EQ(seq_, expected_seq[i]) << i;
    EXPECT_EQ(wtps_[i]->normal_collect, 1);
  }
  EXPECT_TRUE(VendorFrom(2).empty()) << "Idle WTPs are left out";
  EXPECT_EQ(wtps_[2]->normal_collect, 0);

  // One WTP by its ID; an Idle one gets nothing; an unknown one logs.
  FromWmac(44, wtps_[1]->apid, HostU32(60));
  EXPECT_EQ(VendorFrom(1), Hex("0025 000d 00a1b2c3 005d 0005 01 0000003c"));
  FromWmac(44, wtps_[2]->apid, HostU32(60));
  for (size_t i : {0u, 2u, 3u}) EXPECT_TRUE(VendorFrom(i).empty()) << i;
  LogCapture log;
  FromWmac(44, 30, HostU32(60));
  EXPECT_TRUE(log.Contains(" Failed to find AP entry when processing statistics collection message."));
}

TEST_F(CollectionTest, RealTimeCollectionResendsTheSwitchWithTheNewPeriod) {
  wtps_[0]->rt_collect = 1;
  wtps_[2]->rt_collect = 1;  // Idle: left out
  wtps_[3]->rt_collect = 1;
  FromWmac(45, 0, Hex("0f eeeeee"));
  EXPECT_EQ(g_ucApRtCollectTime, 15);
  for (size_t i : {0u, 3u}) EXPECT_EQ(VendorFrom(i), Hex("0025 000e 00a1b2c3 0060 0006 0001 0000000f")) << i;
  EXPECT_TRUE(VendorFrom(1).empty()) << "real-time collection off";
  EXPECT_TRUE(VendorFrom(2).empty()) << "Idle";
  // The period is stored even when no WTP takes it.
  FromWmac(45, wtps_[1]->apid, Hex("07"));
  EXPECT_EQ(g_ucApRtCollectTime, 7);
  // The senders carry their arguments.
  ASSERT_EQ(CW_AC_SndCfgRcollection(wtps_[0], 0, 0xA0B0C0D0), 0);
  EXPECT_EQ(VendorFrom(0), Hex("0025 000e 00a1b2c3 0060 0006 0000 a0b0c0d0"));
  wtps_[0]->normal_collect = 0;
  ASSERT_EQ(CW_AC_SndCfgNormalCollect(wtps_[0], 9), 0);
  EXPECT_EQ(VendorFrom(0), Hex("0025 000d 00a1b2c3 005d 0005 00 00000009"));
}

class WapiRelayTest : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    g_iAC_DataSockId = ac_data_.fd();
  }
  void TearDown() override {
    g_iAC_DataSockId = -1;  // the endpoint closes its own socket
    g_WapiApAddr = sockaddr_in{};
    ControllerLab::TearDown();
  }
  UdpEndpoint ac_data_;
  UdpEndpoint wtp_data_;
};

TEST_F(WapiRelayTest, AsuDataGoesToTheLastWapiSenderBehindADataHeader) {
  LogCapture log;
  FromWmac(72, 0, Hex("01"));
  EXPECT_TRUE(log.Contains(" No AP has sent WAPI data yet; ASU data dropped."));
  g_WapiApAddr = wtp_data_.Sockaddr();
  const Bytes frame = Hex("88b4 0102 aabbccdd eeff");
  FromWmac(72, 0, frame);
  EXPECT_TRUE(log.Contains("AC_ProcIPCPkt::AC capwap recv ASU wapi data len :10"));
  EXPECT_TRUE(log.Contains("AC_ASU_To_Wapid:: AC capwap send ASU wapi data to wtp"));
  std::vector<Bytes> got = wtp_data_.Drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(BytesMatch(got[0], {{Hex("0010 0000"), "version 0, type 0, HLEN 2"},
                                  {Hex("0000 0000"), "fragment ID and offset"},
                                  {frame, "frame"}}));
  // Scrambled on the data socket when the daemon scrambles.
  g_ucNeedEncrypt = 1;
  FromWmac(72, 0, frame);
  got = wtp_data_.Drain();
  ASSERT_EQ(got.size(), 1u);
  Bytes plain = got[0];
  CW_Encrypt(plain.data(), plain.size(), kCwScrambleKey);
  EXPECT_EQ(plain, Cat({Hex("00100000 00000000"), frame}));

  FailNext(FailFamily::kDatagramSend, 1);
  FromWmac(72, 0, Hex("01"));
  char line[96];
  snprintf(line, sizeof line, "Send mange frame msg to 0x7f000001:%d error ", wtp_data_.port());
  EXPECT_TRUE(log.Contains(line)) << log.text();
  EXPECT_TRUE(wtp_data_.Drain().empty());
  FromWmac(72, 0, Hex("02"));
  EXPECT_EQ(wtp_data_.Drain().size(), 1u) << "the next one goes out";
}

using ImageOfferTest = ControllerLab;  // the image table starts empty

TEST_F(ImageOfferTest, ImagesOfTheModelGoOutAsImageIdentifierAndVendorElement84) {
  UdpEndpoint endpoint_;
  CW_WTPCB* wtp_ = WtpAt(endpoint_, 9);
  ASSERT_NE(wtp_, nullptr);
  EXPECT_EQ(CW_AC_Send_ApUpdImg(wtp_), 1) << "no image for the model yet";
  EXPECT_EQ(CW_AC_Send_ApUpdUrlimg(wtp_), 1);
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(g_uiOid + 1, "model-x", "3.0", "", 0), 0);
  EXPECT_EQ(CW_AC_Send_ApUpdImg(wtp_), 1) << "another vendor's set";
  EXPECT_FALSE(OnlyAnswer(endpoint_).has_value());

  ASSERT_EQ(CW_CMD_Set_ApModelVersion(g_uiOid, "other-model", "9.9", "", 0), 0);
  ASSERT_EQ(CW_CMD_Set_ApModelVersion(g_uiOid, "model-x", "2.1.5", "", 1), 0);
  LogCapture log;
  EXPECT_EQ(CW_AC_Send_ApUpdImg(wtp_), 0);
  EXPECT_TRUE(log.Contains(" aucSwVer:2.1.5"));
  std::optional<DecodedMessage> msg = OnlyAnswer(endpoint_);
  CwElement e;
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_TRUE(BytesMatch(ElementBytes(e), {{U16(25), "element type"},
                                           {U16(112), "element length"},
                                           {U32(kWtpVendor), "WTP vendor identifier"},
                                           {Cat({U16(0), U16(32)}), "model header"},
                                           {Fixed("model-x", 32), "model"},
                                           {Cat({U16(1), U16(32)}), "version header"},
                                           {Fixed("2.1.5", 32), "version"},
                                           {Cat({U16(2), U16(32)}), "name header"},
                                           {Fixed("model-x-2.1.5", 32), "image name"}}));
  Answer(endpoint_, msg->ctl.seq);

  ImageVendor* set = nullptr;
  for (ImageVendor& entry : g_aucImgDb) {
    if (entry.vendor_id == g_uiOid) set = &entry;
  }
  ASSERT_NE(set, nullptr);
  set->urls[0] = {"other-model", "http://x/other.bin", "00"};
  set->urls[3] = {"model-x", "http://fw.example/wa.bin", "0123456789abcdef0123456789abcdef"};
  EXPECT_EQ(CW_AC_Send_ApUpdUrlimg(wtp_), 0);
  EXPECT_TRUE(log.Contains("aucFilePath:http://fw.example/wa.bin"));
  EXPECT_TRUE(log.Contains("image md5 vlaue:0123456789abcdef0123456789abcdef"));
  msg = OnlyAnswer(endpoint_);
  ASSERT_TRUE(OneElement(msg, &e));
  EXPECT_EQ(ElementBytes(e), Cat({Hex("0025 00a9"), U32(kWtpVendor), Hex("0054 00a1"),
                                  Fixed("http://fw.example/wa.bin", 128),
                                  Fixed("0123456789abcdef0123456789abcdef", 33)}));
}

}  // namespace
}  // namespace capwap::test
