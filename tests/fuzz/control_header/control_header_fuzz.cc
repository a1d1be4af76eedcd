// Arbitrary bytes as a received control datagram: transport header decode
// and check, control header decode, the element walk, and the Vendor
// Specific Payload walk through a registry with handlers of each shape.
// Oracles: an accepted header re-encodes to the same octets; a complete walk
// accounts for every octet and rebuilds, element by element, to the input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "platform/identity.h"
#include "transport/codec.h"

namespace {

int ConsumeAll(void*, capwap::WireReader& cursor, uint16_t, uint16_t) {
  return cursor.skip(cursor.remaining()) ? 0 : 1;
}

int ReadFixed(void*, capwap::WireReader& cursor, uint16_t, uint16_t) {
  uint32_t a = 0;
  uint16_t b = 0;
  cursor.u32(a);
  cursor.u16(b);
  return 0;
}

int ReadCounted(void*, capwap::WireReader& cursor, uint16_t, uint16_t) {
  uint8_t count = 0;
  cursor.u8(count);
  for (uint8_t i = 0; i < count && cursor.ok(); ++i) cursor.skip(12);
  return 0;
}

int RefuseAlways(void*, capwap::WireReader&, uint16_t, uint16_t) { return 1; }

struct Setup {
  Setup() {
    identity_reset();
    VendorRegistryReset();
    const int own = RegVendorId(g_uiOid);
    RegVendorElem(own, 133, ConsumeAll);
    RegVendorElem(own, 127, ReadFixed);
    RegVendorElem(own, 51, ReadCounted);
    RegVendorElem(own, 181, RefuseAlways);
    const int other = RegVendorId(0x00ABCDEF);
    RegVendorElem(other, 300, ConsumeAll);  // an empty entry for the platform's vendor
  }
  capwap::fuzz::QuietDebugLog log;
};

void CheckTransportHeader(capwap::ByteView in) {
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, in.data());
  FUZZ_CHECK(hdr.frag_offset <= 0x1FFF && hdr.reserved3 <= 7);
  if (CW_CheckCWHdr(&hdr) != 0) return;
  FUZZ_CHECK(hdr.Version() == 0 && hdr.Type() == 0 && hdr.Hlen() == 2);
  uint8_t again[kCwHdrLen];
  CW_EncCwHdr(&hdr, again);
  FUZZ_CHECK(std::memcmp(again, in.data(), kCwHdrLen) == 0);
}

void CheckControlHeader(capwap::ByteView in) {
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, in.data() + kCwHdrLen);
  uint8_t again[kCwCtlHdrLen];
  CW_EncCwCtlHdr(&ctl, again);
  FUZZ_CHECK(std::memcmp(again, in.data() + kCwHdrLen, kCwCtlHdrLen - 1) == 0);
  FUZZ_CHECK(again[kCwCtlHdrLen - 1] == 0);
  FUZZ_CHECK(MsgTypeName(ctl.msg_type) != nullptr);
}

// Walks the elements; when the walk is complete, writes them again through
// the element writer and expects the same octets.
void CheckElements(capwap::ByteView elements) {
  CwElementWalk walk(elements);
  CwPktPtr rebuilt = CW_AC_PktMalloc();
  FUZZ_CHECK(rebuilt != nullptr);
  size_t consumed = 0;
  for (const CwElement& e : walk) {
    FUZZ_CHECK(e.value.data() >= elements.data() &&
               e.value.data() + e.value.size() <= elements.data() + elements.size());
    consumed += 4 + e.value.size();
    if (e.type == 37) CW_AC_DecVendorElem(nullptr, e.value);
    CwElementWriter w(*rebuilt, e.type);
    w.w().bytes(e.value);
  }
  FUZZ_CHECK(walk.complete() == (!walk.failed() && consumed == elements.size()));
  if (!walk.complete() || elements.size() > kCwPktBufSize - kCwHeadersLen) return;
  FUZZ_CHECK(rebuilt->length == elements.size());
  FUZZ_CHECK(std::memcmp(rebuilt->buffer.data() + kCwHeadersLen, elements.data(),
                         elements.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  const capwap::ByteView in(data, size);
  if (size >= kCwHdrLen) CheckTransportHeader(in);
  if (size >= kCwHeadersLen) {
    CheckControlHeader(in);
    CheckElements(in.subspan(kCwHeadersLen));
  }
  // The same bytes as a bare element list and as a vendor payload.
  CheckElements(in);
  CW_AC_DecVendorElem(nullptr, in);
  return 0;
}
