// The vendor element registry: vendor identifiers, the element IDs shared by
// all vendors, and the (vendor slot, element slot) handler table that the
// Vendor Specific Payload walk dispatches through.
#include <algorithm>

#include "diag/debug.h"
#include "platform/identity.h"
#include "transport/codec.h"

uint32_t g_aulVendorIdx[kMaxVendors] = {};
uint16_t g_ausVendorElemIdx[kMaxVendorElems] = {};
CwVendorElemFunc g_apfVendorElemProcFunc[kMaxVendors][kMaxVendorElems] = {};

namespace {

// Slot holding `value`, or the first free (zero) slot when `value` is 0.
template <typename T, size_t N>
int FindSlot(const T (&slots)[N], T value) {
  for (size_t i = 0; i < N; ++i) {
    if (slots[i] == value) return static_cast<int>(i);
  }
  return -1;
}

int VendorSlot(uint32_t vendor_id) {
  if (vendor_id == 0) return -1;
  int slot = FindSlot(g_aulVendorIdx, vendor_id);
  if (slot < 0 && g_uiOid != 0 && vendor_isvalid(vendor_id)) {
    slot = FindSlot(g_aulVendorIdx, g_uiOid);
  }
  return slot;
}

int ElementSlot(uint16_t elem_id) {
  if (elem_id == 0) return -1;
  return FindSlot(g_ausVendorElemIdx, elem_id);
}

}  // namespace

int RegVendorId(uint32_t vendor_id) {
  if (vendor_id == 0) return -1;
  const int known = FindSlot(g_aulVendorIdx, vendor_id);
  if (known >= 0) return known;
  const int slot = FindSlot(g_aulVendorIdx, 0u);
  if (slot >= 0) g_aulVendorIdx[slot] = vendor_id;
  return slot;
}

int RegVendorElem(int vendor_slot, uint16_t elem_id, CwVendorElemFunc func) {
  if (vendor_slot < 0 || vendor_slot >= kMaxVendors || elem_id == 0) return -1;
  int slot = ElementSlot(elem_id);
  if (slot < 0) slot = FindSlot(g_ausVendorElemIdx, uint16_t{0});
  if (slot < 0) return -1;
  g_ausVendorElemIdx[slot] = elem_id;
  g_apfVendorElemProcFunc[vendor_slot][slot] = func;
  return slot;
}

CwVendorElemFunc CW_AC_Get_VendorProcFunc(uint32_t vendor_id, uint16_t elem_id) {
  const int vendor_slot = VendorSlot(vendor_id);
  if (vendor_slot < 0) return nullptr;
  const int elem_slot = ElementSlot(elem_id);
  if (elem_slot < 0) return nullptr;
  CwVendorElemFunc func = g_apfVendorElemProcFunc[vendor_slot][elem_slot];
  if (func == nullptr) {
    CwDebug(kDbgError, ZLOG_INFO,
            " Unsupported vendor element found. Vendor index is %d and vendor element index is "
            "%d.\n",
            vendor_slot, elem_slot);
  }
  return func;
}

// Each handler reads from a cursor bounded to its own sub-element, and the
// walk then moves on by the announced length whatever the handler consumed:
// a handler that reads less leaves no stray bytes to be taken for a header,
// and one that needs more than the sub-element holds fails the payload.
int CW_AC_DecVendorElem(void* context, capwap::ByteView value) {
  capwap::WireReader r(value);
  uint32_t vendor_id = 0;
  if (!r.u32(vendor_id)) return 1;
  while (r.remaining() > 0) {
    uint16_t elem_id = 0;
    uint16_t length = 0;
    capwap::ByteView sub;
    if (!r.u16(elem_id) || !r.u16(length) || !r.view(length, sub)) return 1;
    CwVendorElemFunc func = CW_AC_Get_VendorProcFunc(vendor_id, elem_id);
    if (func == nullptr) continue;
    capwap::WireReader cursor(sub);
    if (func(context, cursor, elem_id, length) != 0) return 1;
    if (!cursor.ok()) {
      CwDebug(kDbgError, ZLOG_INFO, " Vendor element %u is shorter than its content.\n",
              static_cast<unsigned>(elem_id));
      return 1;
    }
  }
  return 0;
}

void VendorRegistryReset() {
  std::fill(std::begin(g_aulVendorIdx), std::end(g_aulVendorIdx), 0u);
  std::fill(std::begin(g_ausVendorElemIdx), std::end(g_ausVendorElemIdx), uint16_t{0});
  for (auto& row : g_apfVendorElemProcFunc) std::fill(std::begin(row), std::end(row), nullptr);
}
