// Arbitrary bytes as the value of a WTP Board Data or WTP Descriptor
// element. Board Data runs twice: as given, and with the vendor identifier
// replaced by the platform's, so the sub-element walk is reached without the
// fuzzer first having to guess an accepted vendor.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/identity.h"
#include "transport/codec.h"

namespace {

struct Setup {
  Setup() { identity_reset(); }
  capwap::fuzz::QuietDebugLog log;
};

void CheckBoardData(const uint8_t* data, size_t size) {
  WtpBoardData bd;
  if (CW_DEC_IE_WtpBD(&bd, data, size) != 0) return;
  FUZZ_CHECK(size >= 4 + 4 + 4);  // vendor, and a header each for model and MAC
  FUZZ_CHECK(vendor_isvalid(bd.vendor_id));
  for (char c : bd.model) FUZZ_CHECK(c < 'A' || c > 'Z');
}

void CheckDescriptor(const uint8_t* data, size_t size) {
  WtpDescriptor desc;
  if (CW_DEC_IE_WtpDesc(&desc, data, size) != 0) return;
  FUZZ_CHECK(size >= 6);
  FUZZ_CHECK(desc.max_radios == data[0] && desc.encrypt_wbid == data[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  CheckBoardData(data, size);
  CheckDescriptor(data, size);
  if (size >= 4) {
    std::vector<uint8_t> own(data, data + size);
    capwap::WireWriter(own.data(), 4).u32(g_uiOid);
    CheckBoardData(own.data(), own.size());
  }
  return 0;
}
