// The vendor element registry: slot allocation, the lookup rules, the
// unsupported-element line, and the Vendor Specific Payload walk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "diag/debug.h"
#include "platform/identity.h"
#include "platform/paths.h"
#include "support/lab.h"
#include "support/truncation.h"
#include "transport/codec.h"

namespace {

using namespace capwap::test;

constexpr uint32_t kForeignVendor = 0x00ABCDEF;  // not accepted by vendor_isvalid

// Records each call; the context is the record list.
struct Call {
  uint16_t elem_id;
  uint16_t length;
  capwap::Bytes value;
  bool operator==(const Call&) const = default;
};
using Calls = std::vector<Call>;

int TakeAll(void* context, capwap::WireReader& cursor, uint16_t elem_id, uint16_t length) {
  Call call{elem_id, length, {}};
  call.value.resize(cursor.remaining());
  cursor.bytes(call.value.data(), call.value.size());
  static_cast<Calls*>(context)->push_back(call);
  return 0;
}

// Reads a fixed 4-octet value, whatever the sub-element announces.
int TakeFour(void* context, capwap::WireReader& cursor, uint16_t elem_id, uint16_t length) {
  Call call{elem_id, length, capwap::Bytes(4)};
  cursor.bytes(call.value.data(), 4);
  static_cast<Calls*>(context)->push_back(call);
  return 0;
}

int FailAllocation(void*, capwap::WireReader&, uint16_t, uint16_t) { return 1; }

class VendorRegistry : public ::testing::Test {
 protected:
  void SetUp() override { g_ulCwDebugBitmap = kDbgAll; }
  FreshGlobals fresh_;
  // Registers `ids` for the platform's vendor with `func`; returns its slot.
  int RegisterOwn(std::initializer_list<uint16_t> ids, CwVendorElemFunc func = TakeAll) {
    const int slot = RegVendorId(g_uiOid);
    for (uint16_t id : ids) EXPECT_GE(RegVendorElem(slot, id, func), 0);
    return slot;
  }
};

TEST_F(VendorRegistry, RegistrationTakesFirstFreeSlots) {
  EXPECT_EQ(RegVendorId(0), -1);
  EXPECT_EQ(RegVendorId(41414), 0);
  EXPECT_EQ(RegVendorId(7), 1);
  EXPECT_EQ(RegVendorId(41414), 0);  // already there
  EXPECT_EQ(g_aulVendorIdx[0], 41414u);
  EXPECT_EQ(g_aulVendorIdx[1], 7u);

  EXPECT_EQ(RegVendorElem(0, 133, TakeAll), 0);
  EXPECT_EQ(RegVendorElem(0, 1056, TakeAll), 1);
  EXPECT_EQ(RegVendorElem(1, 133, TakeFour), 0);  // element slots are shared
  EXPECT_EQ(g_ausVendorElemIdx[0], 133);
  EXPECT_EQ(g_apfVendorElemProcFunc[0][0], &TakeAll);
  EXPECT_EQ(g_apfVendorElemProcFunc[1][0], &TakeFour);
  EXPECT_EQ(RegVendorElem(-1, 5, TakeAll), -1);
  EXPECT_EQ(RegVendorElem(kMaxVendors, 5, TakeAll), -1);
  EXPECT_EQ(RegVendorElem(0, 0, TakeAll), -1);
}

TEST_F(VendorRegistry, LookupUsesTheVendorsOwnSlotFirst) {
  RegisterOwn({133});
  const int other = RegVendorId(kForeignVendor);
  RegVendorElem(other, 133, TakeFour);
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(g_uiOid, 133), &TakeAll);
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(kForeignVendor, 133), &TakeFour);
}

TEST_F(VendorRegistry, EmptyHandlerLogsBothSlots) {
  RegisterOwn({133, 134});
  const int other = RegVendorId(kForeignVendor);  // slot 1, no handlers
  RegVendorElem(other, 200, TakeAll);             // element slot 2
  capwap::LogCapture log;
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(g_uiOid, 200), nullptr);
  EXPECT_TRUE(log.Contains(
      " Unsupported vendor element found. Vendor index is 0 and vendor element index is 2.\n"))
      << log.text();
  log.Clear();
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(kForeignVendor, 134), nullptr);
  EXPECT_TRUE(log.Contains("Vendor index is 1 and vendor element index is 1.")) << log.text();
  // An element nobody registered is skipped without a line.
  log.Clear();
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(g_uiOid, 4242), nullptr);
  EXPECT_EQ(CW_AC_Get_VendorProcFunc(g_uiOid, 0), nullptr);
  EXPECT_EQ(log.text(), "");
}

// A payload of the platform's vendor: a handled element, an element with an
// empty handler entry, an unknown one, and a second handled one.
const TruncTable kPayload = {
    {U32(41414), "vendor id", Outcome::kPass},
    {U16(133), "channel report: id"},
    {U16(3), "channel report: length"},
    {Hex("01 06 2a"), "channel report: value", Outcome::kPass},
    {U16(300), "no handler: id"},
    {U16(2), "no handler: length"},
    {Hex("aa bb"), "no handler: value", Outcome::kPass},
    {U16(999), "unknown: id"},
    {U16(1), "unknown: length"},
    {Hex("cc"), "unknown: value", Outcome::kPass},
    {U16(1056), "wrrm report: id"},
    {U16(0), "wrrm report: length", Outcome::kPass},
};

TEST_F(VendorRegistry, PayloadWalkDispatchesAndSkips) {
  RegisterOwn({133, 1056});
  RegVendorElem(RegVendorId(kForeignVendor), 300, TakeAll);
  Calls calls;
  capwap::LogCapture log;
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, Flatten(kPayload)), 0);
  EXPECT_EQ(calls, (Calls{{133, 3, {0x01, 0x06, 0x2a}}, {1056, 0, {}}}));
  EXPECT_TRUE(log.Contains("Vendor index is 0 and vendor element index is 2.")) << log.text();
}

TEST_F(VendorRegistry, PayloadTruncationTableAndLengthMutations) {
  RegisterOwn({133, 1056});
  Calls calls;
  DecodeFn decode = [&calls](capwap::ByteView in) {
    return CW_AC_DecVendorElem(&calls, in) == 0;
  };
  EXPECT_TRUE(CheckTruncations(kPayload, decode));
  EXPECT_TRUE(CheckLengthMutations(kPayload, "channel report: length", decode));
  EXPECT_TRUE(CheckLengthMutations(kPayload, "unknown: length", decode));
  // The last element: 0 is its own value, 0xFFFF runs off the end.
  EXPECT_TRUE(CheckLengthMutations(kPayload, "wrrm report: length", decode));
  WriteFuzzSeed(kPayload, "control_header", "vendor_payload");
}

TEST_F(VendorRegistry, HandlerNeverReadsPastItsSubElement) {
  RegisterOwn({127}, TakeFour);
  Calls calls;
  // Announces 2 octets, the handler wants 4: the payload is malformed even
  // though 4 octets follow in the payload.
  const capwap::Bytes short_sub = Cat({U32(41414), U16(127), U16(2), Hex("00 01"), U16(1), U16(0)});
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, short_sub), 1);
  // Announces 6, the handler takes 4: the walk resumes after all 6.
  calls.clear();
  const capwap::Bytes long_sub =
      Cat({U32(41414), U16(127), U16(6), Hex("00 00 00 09 ff ff"), U16(127), U16(4), U32(10)});
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, long_sub), 0);
  EXPECT_EQ(calls, (Calls{{127, 6, U32(9)}, {127, 4, U32(10)}}));
}

TEST_F(VendorRegistry, HandlerFailureAndShortPayload) {
  RegisterOwn({181}, FailAllocation);
  Calls calls;
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, Cat({U32(41414), U16(181), U16(1), U8(0)})), 1);
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, Hex("00 00 a1")), 1);
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, capwap::ByteView{}), 1);
  // Unknown vendor: every sub-element skipped by its length.
  EXPECT_EQ(CW_AC_DecVendorElem(&calls, Cat({U32(kForeignVendor), U16(181), U16(1), U8(0)})), 0);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
