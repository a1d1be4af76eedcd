// The per-radio message elements (the IEEE 802.11 binding elements and this
// system's radio extensions) in both directions, one row each: the
// host-order record a radio sub-record holds (WMAC radio binding,
// Configuration Update items) and the element value on the wire, described
// once as a list of fields that the encoder and the decoder walk in order.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"

namespace capwap {

enum class RadioField : uint8_t {
  kBytes,     // n bytes at the record offset, copied as they are
  kU16,       // host u16 at the offset, big-endian on the wire
  kU32,       // host u32 at the offset, big-endian on the wire
  kLow8,      // host u16 at the offset, its low byte on the wire (read back zero-extended)
  kUpTo,      // n bytes on the way out; on the way in what the value has left, at most n
  kList,      // count byte at the offset, then that many bytes; at most n are kept or sent,
              // and a decoded count names bytes the value must hold
  kAntennas,  // out as kList; in: the AP's combiner byte lands on the count, then the
              // rest of the value (count and selections) up to n bytes, as the AP reports it
  kList16,    // as kList, each byte a big-endian u16 on the wire (its low byte kept)
  kRates,     // in as kUpTo; out: the n bytes up to the first zero
};

struct RadioFieldSpec {
  RadioField kind;
  uint8_t offset;
  uint8_t n = 0;
};

// Where a row is used besides the radio binding (which writes every row its
// sub-record names): decoded from a Configuration Status Request, encoded as
// a Configuration Update item.
enum : uint8_t { kRadioInStatusRequest = 1, kRadioInConfigItem = 2 };

// The largest record (WTP Quality of Service).
inline constexpr size_t kRadioRecordMax = 98;

struct RadioElementCodec {
  uint16_t element;
  uint16_t rdbind_tlv;   // the radio-binding sub-record it fills or is written from
  uint16_t record_size;  // the host-order record (WMAC, items, database)
  uint8_t uses;
  uint8_t wire_pad;      // zero octets the AP expects after the fields (not read back)
  std::span<const RadioFieldSpec> fields;
};

std::span<const RadioElementCodec> RadioElements();
// The row of an element type in its RFC 5416 form (the standard dialect),
// or null when the element has none this system sends or reads. Records are
// the same as the product rows'; only the wire differs.
const RadioElementCodec* RfcRadioElementFor(uint32_t element);
// The row of an element type, or null.
const RadioElementCodec* RadioElementFor(uint32_t element);
// The record bytes the encoder reads (list rows: by their capped count).
size_t RadioRecordNeed(const RadioElementCodec& row, ByteView record);
// Wire value to record. `record` is zero-filled and record_size long; false
// when the value is shorter than its fields (extra octets are ignored).
bool RadioFromWire(const RadioElementCodec& row, ByteView value, std::span<uint8_t> record);
// Record to wire value; false when the record is shorter than
// RadioRecordNeed or the writer overflowed.
bool RadioToWire(const RadioElementCodec& row, ByteView record, WireWriter& w);

}  // namespace capwap
