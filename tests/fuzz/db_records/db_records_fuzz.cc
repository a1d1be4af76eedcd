// Arbitrary blobs as the database records the daemon reads back: the
// control-block image, the AP model, the AP group, the change mark, the
// tunnel record and the virtual AP profile. The first byte picks the record; the rest is the blob.
// Oracle: a decode either fails or yields a record that encodes back to the
// same bytes (no half-filled records).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/ap_persist.h"
#include "config/ap_group.h"
#include "config/model_catalogue.h"
#include "config/vap_profile.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "registry/wtp_record.h"
#include "relay/wmac.h"

namespace {

// Pads or cuts the input to the record size most of the time, so decoding
// gets past the size check; otherwise leaves it as it is.
capwap::Bytes Shaped(const uint8_t* data, size_t size, size_t record_size, bool exact) {
  capwap::Bytes blob(data, data + size);
  if (exact) blob.resize(record_size, 0);
  return blob;
}

void CheckWtpRecord(const capwap::Bytes& blob) {
  CW_WTPCB wtp;
  if (!DecodeWtpRecord(blob, &wtp)) return;
  std::vector<uint8_t> again(kWtpRecordSize);
  EncodeWtpRecord(wtp, again.data());
  FUZZ_CHECK(again == blob);
}

void CheckModel(const capwap::Bytes& blob) {
  std::optional<CW_APMODEL> model = ApModelDecode(blob);
  if (!model) return;
  uint8_t again[kApModelRecordSize];
  ApModelEncode(*model, again);
  FUZZ_CHECK(ApModelDecode(capwap::ByteView(again, sizeof again)).has_value());
}

void CheckGroup(const capwap::Bytes& blob) {
  std::optional<CW_APGROUP> group = ApGroupDecode(blob);
  if (!group) return;
  uint8_t again[kApGroupRecordSize];
  ApGroupEncode(*group, again);
  std::optional<CW_APGROUP> twice = ApGroupDecode(capwap::ByteView(again, sizeof again));
  FUZZ_CHECK(twice.has_value() && twice->group_id == group->group_id);
}

void CheckMark(const capwap::Bytes& blob) {
  std::optional<CW_WTPMARK> mark = WtpMarkDecode(blob);
  if (!mark) return;
  uint8_t again[kWtpMarkSize];
  WtpMarkEncode(*mark, again);
  FUZZ_CHECK(capwap::Bytes(again, again + sizeof again) == blob);
}

void CheckTunnel(const capwap::Bytes& blob) {
  TunnelRecord rec;
  if (!TunnelRecordDecode(blob, &rec)) return;
  uint8_t again[kTunnelRecordSize];
  TunnelRecordEncode(rec, again);
  TunnelRecord twice;
  FUZZ_CHECK(TunnelRecordDecode(capwap::ByteView(again, sizeof again), &twice));
  FUZZ_CHECK(twice.state == rec.state && twice.apid == rec.apid);
}

void CheckVapProfile(const capwap::Bytes& blob) {
  std::optional<VapProfile> profile = VapProfileDecode(blob);
  if (!profile) return;
  uint8_t again[kVapProfileRecordSize];
  VapProfileEncode(*profile, again);
  FUZZ_CHECK(capwap::Bytes(again, again + sizeof again) == blob);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static capwap::fuzz::QuietDebugLog quiet;
  if (size < 1) return 0;
  const uint8_t pick = data[0];
  const bool exact = (pick & 0x80) == 0;
  ++data;
  --size;
  switch ((pick & 0x7F) % 6) {
    case 0: CheckWtpRecord(Shaped(data, size, kWtpRecordSize, exact)); break;
    case 1: CheckModel(Shaped(data, size, kApModelRecordSize, exact)); break;
    case 2: CheckGroup(Shaped(data, size, kApGroupRecordSize, exact)); break;
    case 3: CheckMark(Shaped(data, size, kWtpMarkSize, exact)); break;
    case 4: CheckTunnel(Shaped(data, size, kTunnelRecordSize, exact)); break;
    case 5: CheckVapProfile(Shaped(data, size, kVapProfileRecordSize, exact)); break;
  }
  return 0;
}
