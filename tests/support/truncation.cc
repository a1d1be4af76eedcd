#include "support/truncation.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace capwap::test {
namespace {

constexpr size_t kMaxReportedLines = 24;

template <typename Put>
Bytes Encode(size_t n, Put put) {
  Bytes out(n);
  Writer<Order::Big> big(out.data(), out.size());
  Writer<Order::Host> host(out.data(), out.size());
  put(big, host);
  return out;
}

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::kFail:
      return "fail";
    case Outcome::kPass:
      return "pass";
    case Outcome::kAny:
      return "any";
  }
  return "?";
}

bool Matches(Outcome expected, bool decoded) {
  return expected == Outcome::kAny || (expected == Outcome::kPass) == decoded;
}

// Runs the decoder over an exactly-sized copy, so over-reads are caught.
bool DecodeCopy(const DecodeFn& decode, ByteView input) {
  Bytes exact(input.begin(), input.end());
  return decode(ByteView(exact.data(), exact.size()));
}

std::string HexOf(ByteView bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", bytes[i]);
    out += buf;
  }
  return out;
}

// The label of the row in which `offset` lies (or the table end).
std::string RowAt(const TruncTable& table, size_t offset) {
  size_t start = 0;
  for (const TruncRow& row : table) {
    if (offset < start + row.bytes.size()) {
      return "'" + row.label + "' +" + std::to_string(offset - start);
    }
    start += row.bytes.size();
  }
  return "end";
}

int NibbleOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Mutation {
  const char* name;
  long value;  // -1: not applicable
  Outcome expected;
};

}  // namespace

// --- Field bytes --------------------------------------------------------

Bytes U8(uint8_t v) { return Bytes{v}; }
Bytes U16(uint16_t v) {
  return Encode(2, [v](auto& big, auto&) { big.u16(v); });
}
Bytes U32(uint32_t v) {
  return Encode(4, [v](auto& big, auto&) { big.u32(v); });
}
Bytes HostU16(uint16_t v) {
  return Encode(2, [v](auto&, auto& host) { host.u16(v); });
}
Bytes HostU32(uint32_t v) {
  return Encode(4, [v](auto&, auto& host) { host.u32(v); });
}
Bytes Str(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes Fixed(std::string_view s, size_t n) {
  Bytes out(n, 0);
  Writer<Order::Big> w(out.data(), out.size());
  w.fixed_str(s, n);
  return out;
}

Bytes Hex(std::string_view hex) {
  Bytes out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ':' || c == '-' || c == '\n') continue;
    const int nibble = NibbleOf(c);
    if (nibble < 0) throw std::invalid_argument("Hex: bad digit in \"" + std::string(hex) + "\"");
    if (high < 0) {
      high = nibble;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | nibble));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("Hex: odd digit count in \"" + std::string(hex) + "\"");
  return out;
}

Bytes Fill(uint8_t v, size_t n) { return Bytes(n, v); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// --- Tables -------------------------------------------------------------

Bytes Flatten(const TruncTable& table) {
  Bytes out;
  for (const TruncRow& row : table) out.insert(out.end(), row.bytes.begin(), row.bytes.end());
  return out;
}

TruncTable Concat(std::initializer_list<TruncTable> tables) {
  TruncTable out;
  for (const TruncTable& t : tables) out.insert(out.end(), t.begin(), t.end());
  return out;
}

namespace {

long OffsetOf(const TruncTable& table, std::string_view label) {
  long offset = 0;
  for (const TruncRow& row : table) {
    if (row.label == label) return offset;
    offset += static_cast<long>(row.bytes.size());
  }
  return -1;
}

Outcome PrefixOutcome(const TruncTable& table, size_t prefix_len) {
  size_t start = 0;
  const TruncRow* ending_here = nullptr;
  for (const TruncRow& row : table) {
    const size_t end = start + row.bytes.size();
    if (end == prefix_len) ending_here = &row;
    if (prefix_len >= start && prefix_len < end && !ending_here) return row.cut_inside;
    if (end > prefix_len) break;
    start = end;
  }
  if (ending_here) return ending_here->ends_here;
  return Outcome::kFail;
}

}  // namespace

// --- Checks -------------------------------------------------------------

::testing::AssertionResult CheckTruncations(const TruncTable& table, const DecodeFn& decode) {
  const Bytes full = Flatten(table);
  std::ostringstream problems;
  size_t count = 0;
  if (!DecodeCopy(decode, full)) {
    problems << "  full message (" << full.size() << " octets) failed to decode\n";
    ++count;
  }
  for (size_t len = 0; len < full.size(); ++len) {
    const Outcome expected = PrefixOutcome(table, len);
    const bool decoded = DecodeCopy(decode, ByteView(full.data(), len));
    if (Matches(expected, decoded)) continue;
    if (++count <= kMaxReportedLines) {
      problems << "  prefix of " << len << " octets (cut at " << RowAt(table, len)
               << "): expected " << OutcomeName(expected) << ", decoder "
               << (decoded ? "passed" : "failed") << "\n";
    }
  }
  if (count == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << count << " truncation mismatch(es):\n" << problems.str();
}

::testing::AssertionResult CheckLengthMutations(const TruncTable& table, std::string_view label,
                                                const DecodeFn& decode,
                                                const LengthExpect& expect) {
  const long row_offset = OffsetOf(table, label);
  if (row_offset < 0) return ::testing::AssertionFailure() << "no row labelled '" << label << "'";
  const size_t at = static_cast<size_t>(row_offset) + expect.offset;
  Bytes message = Flatten(table);
  if (at + 2 > message.size()) {
    return ::testing::AssertionFailure() << "row '" << label << "' holds no 16-bit field at +"
                                         << expect.offset;
  }
  auto read16 = [&](const Bytes& m) {
    uint16_t v = 0;
    if (expect.big_endian) {
      Reader<Order::Big>(m.data() + at, 2).u16(v);
    } else {
      Reader<Order::Host>(m.data() + at, 2).u16(v);
    }
    return v;
  };
  auto write16 = [&](Bytes& m, uint16_t v) {
    if (expect.big_endian) {
      Writer<Order::Big>(m.data() + at, 2).u16(v);
    } else {
      Writer<Order::Host>(m.data() + at, 2).u16(v);
    }
  };
  const uint16_t original = read16(message);
  const Mutation mutations[] = {
      {"+1", original == 0xFFFF ? -1 : original + 1L, expect.plus_one},
      {"-1", original == 0 ? -1 : original - 1L, expect.minus_one},
      {"0", original == 0 ? -1 : 0L, expect.zero},
      {"0xFFFF", original == 0xFFFF ? -1 : 0xFFFFL, expect.max},
  };
  std::ostringstream problems;
  bool ok = true;
  for (const Mutation& m : mutations) {
    if (m.value < 0) continue;
    write16(message, static_cast<uint16_t>(m.value));
    const bool decoded = DecodeCopy(decode, message);
    if (!Matches(m.expected, decoded)) {
      ok = false;
      problems << "  '" << label << "' " << original << " -> " << m.value << " (" << m.name
               << "): expected " << OutcomeName(m.expected) << ", decoder "
               << (decoded ? "passed" : "failed") << "\n";
    }
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "length mutation mismatch:\n" << problems.str();
}

::testing::AssertionResult BytesMatch(ByteView actual, const TruncTable& expected) {
  const size_t expected_size = Flatten(expected).size();
  std::ostringstream diff;
  bool same = actual.size() == expected_size;
  size_t offset = 0;
  for (const TruncRow& row : expected) {
    const size_t avail = offset < actual.size() ? actual.size() - offset : 0;
    const ByteView got = actual.subspan(offset < actual.size() ? offset : actual.size(),
                                        std::min(avail, row.bytes.size()));
    const bool row_same = got.size() == row.bytes.size() &&
                          std::equal(got.begin(), got.end(), row.bytes.begin());
    same = same && row_same;
    diff << (row_same ? "   " : ">> ") << "@" << offset << " " << row.label << ": expected ["
         << HexOf(row.bytes) << "]";
    if (!row_same) diff << " actual [" << HexOf(got) << "]";
    diff << "\n";
    offset += row.bytes.size();
  }
  if (actual.size() > expected_size) {
    diff << ">> @" << expected_size << " unexpected trailing octets: ["
         << HexOf(actual.subspan(expected_size)) << "]\n";
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "built " << actual.size() << " octets, expected "
                                       << expected_size << ":\n" << diff.str();
}

bool WriteFuzzSeed(const TruncTable& table, std::string_view surface, std::string_view name) {
  const char* root = std::getenv("CAPWAP_FUZZ_SEED_DIR");
  if (root == nullptr || *root == '\0') return false;
  const std::filesystem::path dir =
      std::filesystem::path(root) / std::string(surface) / "corpus";
  std::filesystem::create_directories(dir);
  const Bytes bytes = Flatten(table);
  std::ofstream out(dir / std::string(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace capwap::test
