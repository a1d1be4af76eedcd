// WTP Event Request → WTP Event Response, then (in Run) the AP's reports
// decoded into one event record and forwarded to WMAC, WRRM and WIDS.
#pragma once

#include <array>
#include <cstdint>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

namespace capwap {

// Report data accumulated over the sub-elements of one request. A piece
// that would take a buffer past its bound is dropped with a debug line; the
// pieces before it are kept.
struct ReportBuffer {
  size_t limit = 0;
  Bytes data;
  bool Append(uint16_t type, ByteView value, bool network_order);
};

struct RadioStatistics {
  bool present = false;
  uint8_t last_failure = 0;
  std::array<uint16_t, 8> counters{};  // reset … band change
  uint16_t noise_floor = 0;
};

// The 40-byte band-steering record WMAC takes, fields in host order.
inline constexpr size_t kBandSteerRecordSize = 40;
// The 12-byte WAPI client record WMAC takes.
inline constexpr size_t kWapiClientRecordSize = 12;

// Everything one WTP Event Request reports.
struct WtpEventRecord {
  uint32_t report_bits = 0;  // 1: band steering, 2: wireless connection
  std::array<RadioStatistics, 4> radio_stats{};

  bool delete_station = false;
  uint8_t delete_radio_id = 0;
  std::array<uint8_t, 6> delete_mac{};

  bool specific_deletion = false;
  uint8_t specific_kind = 0;
  std::array<uint8_t, 6> specific_mac{}, specific_second_mac{};
  uint32_t specific_value = 0;
  uint16_t specific_tail = 0;  // element 59

  bool station_ip = false;
  std::array<uint32_t, 4> station_ip_words{};
  uint8_t station_ip_kind = 0;
  std::array<uint8_t, 6> station_ip_mac{};

  bool channel_report = false;
  uint8_t channel_radio_id = 0;
  uint8_t current_channel = 0;
  uint8_t current_cca = 0;
  uint32_t energy_threshold = 0;

  uint32_t rsna_reports = 0;  // decoded, not forwarded

  ReportBuffer station_scan{4096, {}};
  ReportBuffer media{16384, {}};
  ReportBuffer wrrm{16384, {}};
  uint32_t channel_report_radios = 0;
  uint32_t neighbour_report_radios = 0;
  Bytes wrrm_single;  // a whole element, header included
  Bytes station_sync;
  ReportBuffer wids{16384, {}};
  std::array<uint8_t, kBandSteerRecordSize> band_steer{};
  Bytes wireless_connection;
  uint32_t run_info_mask = 0;  // device status reports: decoded, not forwarded
  bool wapi_client = false;
  std::array<uint8_t, kWapiClientRecordSize> wapi_record{};
  uint16_t wapi_flag = 0;
  Bytes dns_info;
};

// The record a vendor handler fills while an event request is decoded;
// null for any other context.
WtpEventRecord* EventVendorContext(void* ctx);

}  // namespace capwap

// Message type 9. 1 when the AP or packet is missing, the session is not in
// Run (the request is still answered) or the request does not decode;
// 0 after forwarding.
int CW_AC_EvtReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// 1 on an element or vendor sub-element that runs past its container.
int CW_AC_DecEvtReq(capwap::WtpEventRecord* record, capwap::ByteView elements);
// The WTP Event Response: the AC Timestamp, the request's sequence number.
int CW_AC_SndEvtResp(CW_WTPCB* wtp);
