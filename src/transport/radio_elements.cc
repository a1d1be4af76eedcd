#include "transport/radio_elements.h"

#include <algorithm>
#include <array>

#include "transport/elements.h"

namespace capwap {
namespace {

using F = RadioField;
using S = RadioFieldSpec;

// The 10-byte antenna record holds at most 6 antenna bytes and the
// power-level record at most 8 levels. A larger count (a Configuration
// Update item's record can carry one) is sent as the cap: the encoder never
// sends more than the record layout holds, whatever the count byte says.
constexpr uint8_t kMaxAntennas = 6;
constexpr uint8_t kMaxPowerLevels = 8;

constexpr S kAntenna[] = {{F::kBytes, 0, 2}, {F::kAntennas, 3, kMaxAntennas}};
constexpr S kFourBytesWord[] = {{F::kBytes, 0, 4}, {F::kU32, 4}};  // DSSS, OFDM
constexpr S kMacOperation[] = {{F::kBytes, 0, 2}, {F::kU16, 2}, {F::kBytes, 4, 2},
                               {F::kU16, 6},      {F::kU32, 8}, {F::kU32, 12}};
constexpr S kMultiDomain[] = {{F::kBytes, 0, 2}, {F::kU16, 2}, {F::kU16, 4}, {F::kU16, 6}};
constexpr S kRates[] = {{F::kBytes, 0, 1}, {F::kUpTo, 1, 8}};
constexpr S kTwoBytesU16[] = {{F::kBytes, 0, 2}, {F::kU16, 2}};  // Tx power, 1063
constexpr S kPowerLevels[] = {{F::kBytes, 0, 1}, {F::kList, 1, kMaxPowerLevels}};
constexpr S kRadioConfig[] = {{F::kBytes, 0, 10}, {F::kU16, 10}, {F::kBytes, 12, 4}};
constexpr S kRadioU16[] = {{F::kBytes, 0, 1}, {F::kU16, 2}};  // report period
constexpr S kRadioWord[] = {{F::kBytes, 0, 1}, {F::kU32, 4}};
constexpr S kTwoBytes[] = {{F::kBytes, 0, 2}};
constexpr S kThreeBytes[] = {{F::kBytes, 0, 3}};
constexpr S kFiveBytes[] = {{F::kBytes, 0, 5}};
constexpr S kSevenBytes[] = {{F::kBytes, 0, 7}};

// Radio ID, tagging policy, then per queue q the first-table entry q (at 2)
// and the second-table entry q (at 50); an entry is 12 record bytes and 10
// wire bytes: u8 (low byte of a u16), u16, u16, u8 (likewise), u16, u16.
constexpr auto kQos = [] {
  std::array<S, 2 + 4 * 2 * 6> f{};
  size_t i = 0;
  f[i++] = {F::kBytes, 0, 2};
  for (uint8_t q = 0; q < 4; ++q) {
    for (uint8_t table : {uint8_t{2}, uint8_t{50}}) {
      const uint8_t e = static_cast<uint8_t>(table + 12 * q);
      for (uint8_t at = 0; at < 12; at += 2) {
        f[i++] = {at == 0 || at == 6 ? F::kLow8 : F::kU16, static_cast<uint8_t>(e + at)};
      }
    }
  }
  return f;
}();

constexpr uint8_t kIn = kRadioInStatusRequest, kItem = kRadioInConfigItem;

// In the radio binding's sub-record order.
constexpr RadioElementCodec kRows[] = {
    {elem::kIeee80211Antenna, 1, 10, kIn | kItem, 0, kAntenna},
    {elem::kIeee80211DirectSequenceControl, 2, 8, kIn | kItem, 0, kFourBytesWord},
    {elem::kIeee80211MacOperation, 3, 16, kItem, 0, kMacOperation},
    {elem::kIeee80211MultiDomainCapability, 4, 8, kIn | kItem, 0, kMultiDomain},
    // The AP reads a 12-octet value: the 8 record octets, then 4 zero octets.
    {elem::kIeee80211OfdmControl, 5, 8, kIn | kItem, 4, kFourBytesWord},
    {elem::kIeee80211RateSet, 6, 9, kIn | kItem, 0, kRates},
    {elem::kIeee80211SupportedRates, 7, 9, kIn | kItem, 0, kRates},
    {elem::kIeee80211TxPower, 8, 4, kIn | kItem, 0, kTwoBytesU16},
    {elem::kIeee80211TxPowerLevel, 9, 10, kIn | kItem, 0, kPowerLevels},
    {elem::kRadioAdministrativeState, 10, 2, kItem, 0, kTwoBytes},
    {elem::kIeee80211WtpRadioInformation, 11, 5, kIn, 0, kFiveBytes},
    {elem::kIeee80211WtpRadioConfiguration, 12, 16, kIn | kItem, 0, kRadioConfig},
    {elem::kIeee80211WtpQualityOfService, 13, 98, kIn | kItem, 0, kQos},
    {elem::kDecryptionErrorReportPeriod, 16, 4, 0, 0, kRadioU16},
    {1049, 19, 8, kIn, 0, kRadioWord},
    {1050, 21, 8, 0, 0, kRadioWord},
    {1051, 22, 8, 0, 0, kRadioWord},
    {1053, 23, 2, 0, 0, kTwoBytes},
    {1058, 24, 2, 0, 0, kTwoBytes},
    {1060, 25, 3, 0, 0, kThreeBytes},
    {1063, 26, 4, 0, 0, kTwoBytesU16},
    {1072, 27, 7, 0, 0, kSevenBytes},
};

// The standard forms: Antenna as Radio ID, Diversity, Combiner, Antenna
// Count and the selections; OFDM Control without the trailing zeros; Tx
// Power Level with 16-bit levels; rate lists without zero rates.
constexpr S kRfcAntenna[] = {{F::kBytes, 0, 3}, {F::kList, 3, kMaxAntennas}};
constexpr S kRfcPowerLevels[] = {{F::kBytes, 0, 1}, {F::kList16, 1, kMaxPowerLevels}};
constexpr S kRfcRates[] = {{F::kBytes, 0, 1}, {F::kRates, 1, 8}};

constexpr RadioElementCodec kRfcRows[] = {
    {elem::kIeee80211Antenna, 1, 10, kIn | kItem, 0, kRfcAntenna},
    {elem::kIeee80211DirectSequenceControl, 2, 8, kIn | kItem, 0, kFourBytesWord},
    {elem::kIeee80211MacOperation, 3, 16, kIn | kItem, 0, kMacOperation},
    {elem::kIeee80211MultiDomainCapability, 4, 8, kIn | kItem, 0, kMultiDomain},
    {elem::kIeee80211OfdmControl, 5, 8, kIn | kItem, 0, kFourBytesWord},
    {elem::kIeee80211RateSet, 6, 9, kItem, 0, kRfcRates},
    {elem::kIeee80211SupportedRates, 7, 9, kIn | kItem, 0, kRfcRates},
    {elem::kIeee80211TxPower, 8, 4, kIn | kItem, 0, kTwoBytesU16},
    {elem::kIeee80211TxPowerLevel, 9, 10, kIn | kItem, 0, kRfcPowerLevels},
    {elem::kRadioAdministrativeState, 10, 2, kIn | kItem, 0, kTwoBytes},
    {elem::kIeee80211WtpRadioConfiguration, 12, 16, kIn | kItem, 0, kRadioConfig},
    {elem::kDecryptionErrorReportPeriod, 16, 4, kItem, 0, kRadioU16},
};

bool IsList(F kind) { return kind == F::kList || kind == F::kAntennas || kind == F::kList16; }

size_t Width(const S& f) {
  switch (f.kind) {
    case F::kU16:
    case F::kLow8:
      return 2;
    case F::kU32:
      return 4;
    default:
      return f.n;
  }
}

}  // namespace

std::span<const RadioElementCodec> RadioElements() { return kRows; }

const RadioElementCodec* RfcRadioElementFor(uint32_t element) {
  for (const RadioElementCodec& row : kRfcRows) {
    if (row.element == element) return &row;
  }
  return nullptr;
}

const RadioElementCodec* RadioElementFor(uint32_t element) {
  for (const RadioElementCodec& row : kRows) {
    if (row.element == element) return &row;
  }
  return nullptr;
}

size_t RadioRecordNeed(const RadioElementCodec& row, ByteView record) {
  size_t need = 0;
  for (const S& f : row.fields) {
    size_t width = Width(f);
    if (IsList(f.kind)) {
      const uint8_t count = f.offset < record.size() ? record[f.offset] : 0;
      width = 1 + std::min(count, f.n);
    }
    need = std::max(need, f.offset + width);
  }
  return need;
}

bool RadioFromWire(const RadioElementCodec& row, ByteView value, std::span<uint8_t> record) {
  WireReader r(value);
  for (const S& f : row.fields) {
    if (f.offset + (IsList(f.kind) ? 1 + f.n : Width(f)) > record.size()) return false;
    HostWriter w(record.subspan(f.offset));
    ByteView v;
    uint8_t b = 0;
    uint16_t h = 0;
    uint32_t word = 0;
    switch (f.kind) {
      case F::kBytes:
        if (!r.view(f.n, v)) return false;
        w.bytes(v);
        break;
      case F::kU16:
        if (!r.u16(h)) return false;
        w.u16(h);
        break;
      case F::kU32:
        if (!r.u32(word)) return false;
        w.u32(word);
        break;
      case F::kLow8:
        if (!r.u8(b)) return false;
        w.u16(b);
        break;
      case F::kUpTo:
      case F::kRates:
        r.view(std::min(r.remaining(), size_t{f.n}), v);
        w.bytes(v);
        break;
      case F::kList16:
        if (!r.u8(b) || !r.view(size_t{b} * 2, v)) return false;
        w.u8(std::min(b, f.n));
        for (size_t i = 0; i < std::min(b, f.n); ++i) w.u8(v[2 * i + 1]);
        break;
      case F::kList:
        if (!r.u8(b) || !r.view(b, v)) return false;
        v = v.first(std::min(b, f.n));
        w.u8(static_cast<uint8_t>(v.size()));
        w.bytes(v);
        break;
      case F::kAntennas:
        if (!r.u8(b)) return false;
        r.view(std::min(r.remaining(), size_t{f.n}), v);
        w.u8(b);
        w.bytes(v);
        r.skip(r.remaining());
        break;
    }
  }
  return true;
}

bool RadioToWire(const RadioElementCodec& row, ByteView record, WireWriter& w) {
  if (record.size() < RadioRecordNeed(row, record)) return false;
  for (const S& f : row.fields) {
    HostReader r(record.subspan(f.offset));
    ByteView v;
    uint8_t b = 0;
    uint16_t h = 0;
    uint32_t word = 0;
    switch (f.kind) {
      case F::kBytes:
      case F::kUpTo:
        r.view(f.n, v);
        w.bytes(v);
        break;
      case F::kU16:
        r.u16(h);
        w.u16(h);
        break;
      case F::kU32:
        r.u32(word);
        w.u32(word);
        break;
      case F::kLow8:
        r.u16(h);
        w.u8(static_cast<uint8_t>(h));
        break;
      case F::kList:
      case F::kAntennas:
        r.u8(b);
        r.view(std::min(b, f.n), v);
        w.u8(static_cast<uint8_t>(v.size()));
        w.bytes(v);
        break;
      case F::kList16:
        r.u8(b);
        r.view(std::min(b, f.n), v);
        w.u8(static_cast<uint8_t>(v.size()));
        for (uint8_t level : v) w.u16(level);
        break;
      case F::kRates:
        r.view(f.n, v);
        w.bytes(v.first(static_cast<size_t>(std::find(v.begin(), v.end(), 0) - v.begin())));
        break;
    }
  }
  w.zeros(row.wire_pad);
  return w.ok();
}

}  // namespace capwap
