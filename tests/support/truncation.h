// Truncation tables: a message written down as a list of labelled fields,
// used three ways by decoder and builder tests.
//
//   1. CheckTruncations: the whole message must decode, and every strictly
//      shorter prefix must give the outcome its row declares (by default:
//      fail). Each input is copied into a buffer of exactly its size, so a
//      decoder that reads one byte too far trips AddressSanitizer.
//   2. CheckLengthMutations: a 16-bit length field named by its row label is
//      set to length+1, length-1, 0 and 0xFFFF in turn; each mutated message
//      must give the declared outcome (by default: fail) and never crash.
//   3. BytesMatch: a builder's output compared byte for byte with the table;
//      a mismatch prints every row with its offset, label, expected and
//      actual octets, marking the rows that differ.
//
// Outcome of a prefix: a prefix that ends exactly after row i takes row i's
// `ends_here`; one that ends inside row i takes row i's `cut_inside`. When
// several rows end at the same offset (zero-length rows), the last one
// counts; a leading zero-length row therefore sets the outcome of the empty
// input, which otherwise is the first row's `cut_inside`.
//
// Rows after which a shorter message is still valid (an optional trailing
// element) say so: {U16(6), "mac: value", Outcome::kPass}. Use Outcome::kAny
// where only "no crash" can be asserted (a length 0 that turns a value into
// elements that happen to parse).
//
// The same tables seed the fuzzers: WriteFuzzSeed(table, "board_data",
// "full") writes Flatten(table) to <dir>/board_data/corpus/full when the
// environment variable CAPWAP_FUZZ_SEED_DIR names the fuzz directory
// (tests/fuzz), and does nothing otherwise.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace capwap::test {

enum class Outcome { kFail, kPass, kAny };

struct TruncRow {
  Bytes bytes;                         // the field's octets
  std::string label;                   // names the field in diffs and look-ups
  Outcome ends_here = Outcome::kFail;  // the input ends right after this row
  Outcome cut_inside = Outcome::kFail; // the input ends inside this row
};
using TruncTable = std::vector<TruncRow>;

// True when the decoder accepts the input.
using DecodeFn = std::function<bool(ByteView)>;

// --- Field bytes --------------------------------------------------------
Bytes U8(uint8_t v);
Bytes U16(uint16_t v);  // big-endian
Bytes U32(uint32_t v);  // big-endian
Bytes HostU16(uint16_t v);
Bytes HostU32(uint32_t v);
Bytes Str(std::string_view s);                // the characters, no NUL
Bytes Fixed(std::string_view s, size_t n);    // clipped to n, NUL-padded to n
Bytes Hex(std::string_view hex);              // "00 af 12" or "00af12"
Bytes Fill(uint8_t v, size_t n);
Bytes Cat(std::initializer_list<Bytes> parts);

// --- Tables -------------------------------------------------------------
// The table's bytes in order.
Bytes Flatten(const TruncTable& table);
// The tables one after the other.
TruncTable Concat(std::initializer_list<TruncTable> tables);

// --- Checks -------------------------------------------------------------
// The full message decodes, and every shorter prefix gives its row's outcome.
::testing::AssertionResult CheckTruncations(const TruncTable& table, const DecodeFn& decode);

struct LengthExpect {
  Outcome plus_one = Outcome::kFail;
  Outcome minus_one = Outcome::kFail;
  Outcome zero = Outcome::kFail;
  Outcome max = Outcome::kFail;  // 0xFFFF
  size_t offset = 0;             // of the 16-bit field inside the row
  bool big_endian = true;        // false for host-order records and IPC
};
// Mutates the 16-bit length field of the row labelled `label` (values equal
// to the original are skipped) and checks each outcome.
::testing::AssertionResult CheckLengthMutations(const TruncTable& table, std::string_view label,
                                                const DecodeFn& decode,
                                                const LengthExpect& expect = {});

// Byte-for-byte comparison with an annotated hex diff on mismatch.
::testing::AssertionResult BytesMatch(ByteView actual, const TruncTable& expected);

// Writes the table's bytes as a fuzz seed when CAPWAP_FUZZ_SEED_DIR is set.
// True when a file was written.
bool WriteFuzzSeed(const TruncTable& table, std::string_view surface, std::string_view name);

}  // namespace capwap::test
