// WTP Event Requests: what the decoder keeps and refuses.
#include "fsm/wtp_event.h"

#include <gtest/gtest.h>

#include "fsm/vendor_handlers.h"
#include "platform/identity.h"
#include "support/controller.h"

namespace capwap::test {
namespace {

Bytes Vendor(std::initializer_list<Bytes> subs) {
  Bytes value = U32(g_uiOid);
  for (const Bytes& sub : subs) value.insert(value.end(), sub.begin(), sub.end());
  return Element(37, value);
}
Bytes Sub(uint16_t id, Bytes value) {
  return Cat({U16(id), U16(static_cast<uint16_t>(value.size())), value});
}
const Bytes kDeleteStation = Element(18, Hex("02 06 00 11 22 33 44 55"));

TEST(WtpEventDecoder, KeepsEveryReportAndRefusesShortValues) {
  ResetAllGlobals();
  ASSERT_EQ(RegisterVendorHandlers(), 0);
  struct Row {
    const char* name;
    Bytes elements;
    bool decodes;
    std::function<void(const WtpEventRecord&)> check;
  };
  const Row rows[] = {
      {"OFDM control, then Delete Station", Cat({Element(1033, Fill(0, 5)), kDeleteStation}), true,
       [](const WtpEventRecord& r) {
         EXPECT_TRUE(r.delete_station);
         EXPECT_EQ(r.delete_radio_id, 2);
         EXPECT_EQ(r.delete_mac[5], 0x55);
       }},
      {"channel reports of two radios", Vendor({Sub(133, Hex("01 06")), Sub(133, Hex("02 24"))}),
       true,
       [](const WtpEventRecord& r) {
         EXPECT_EQ(r.wrrm.data, Hex("0085 0002 0106 0085 0002 0224"));
         EXPECT_EQ(r.channel_report_radios, 0b110u);
       }},
      {"two WRRM reports, the second kept whole",
       Vendor({Sub(1056, Hex("aa")), Sub(1056, Hex("bb cc"))}), true,
       [](const WtpEventRecord& r) { EXPECT_EQ(r.wrrm_single, Hex("0420 0002 bbcc")); }},
      {"media report in host order", Vendor({Sub(203, Hex("01"))}), true,
       [](const WtpEventRecord& r) { EXPECT_EQ(r.media.data, Cat({HostU16(203), HostU16(1), Hex("01")})); }},
      {"band steering and WAPI client",
       Vendor({Sub(126, Cat({Hex("0011 2233 4455 0000 0102 0304"), U32(5), Hex("06 07"),
                             U16(8), U16(9), U32(10), U32(11)})),
               Sub(181, Cat({U32(1), Hex("0a0b0c0d0e0f"), U16(3)}))}),
       true,
       [](const WtpEventRecord& r) {
         EXPECT_EQ(r.report_bits, 1u);
         EXPECT_EQ(HostU32(5), Bytes(r.band_steer.begin() + 12, r.band_steer.begin() + 16));
         EXPECT_EQ(HostU32(11), Bytes(r.band_steer.begin() + 28, r.band_steer.begin() + 32));
         EXPECT_TRUE(r.wapi_client);
         EXPECT_EQ(r.wapi_flag, 3);
       }},
      {"interface counters of two ports", Vendor({Sub(51, Cat({U8(2), Fill(1, 24)}))}), true,
       [](const WtpEventRecord& r) { EXPECT_EQ(r.run_info_mask, 2u); }},
      {"interface counters shorter than their count", Vendor({Sub(51, Cat({U8(2), Fill(1, 23)}))}),
       false, nullptr},
      {"Delete Station of 5 bytes", Element(18, Fill(0, 5)), false, nullptr},
      {"second element runs past the message", Cat({kDeleteStation, U16(18), U16(9), Fill(0, 8)}),
       false, nullptr},
  };
  for (const Row& row : rows) {
    WtpEventRecord record;
    EXPECT_EQ(CW_AC_DecEvtReq(&record, row.elements) == 0, row.decodes) << row.name;
    if (row.decodes && row.check) row.check(record);
  }
}

}  // namespace
}  // namespace capwap::test
