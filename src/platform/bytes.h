// Checked byte reader and writer: the only place that turns wire or record
// bytes into integers and back.
//
// Reader: every read returns bool, compares n against remaining() (never
// pos + n), and stays failed after the first failure, so a run of reads needs
// one check at the end. Writer: writes into a fixed span, fails on overflow
// and stays failed; Reserve16/Patch16 back-fill a 16-bit length.
//
// The Order parameter chooses wire order (big-endian, CAPWAP fields) or host
// order (database records, local IPC payloads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace capwap {

enum class Order { Big, Host };

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

template <Order O>
class Reader {
 public:
  Reader() = default;
  explicit Reader(ByteView data) : data_(data) {}
  Reader(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data), size) {}

  bool u8(uint8_t& out) {
    if (!Need(1)) return false;
    out = data_[pos_++];
    return true;
  }
  bool u16(uint16_t& out) {
    uint8_t b[2];
    if (!Copy(b, 2)) return false;
    out = O == Order::Big ? static_cast<uint16_t>((b[0] << 8) | b[1]) : Host16(b);
    return true;
  }
  bool u32(uint32_t& out) {
    uint8_t b[4];
    if (!Copy(b, 4)) return false;
    out = O == Order::Big ? (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) |
                                (uint32_t{b[2]} << 8) | uint32_t{b[3]}
                          : Host32(b);
    return true;
  }
  // Copies exactly n bytes into out.
  bool bytes(void* out, size_t n) { return Copy(static_cast<uint8_t*>(out), n); }
  // Copies min(n, cap) bytes into out (the rest of out untouched) and
  // consumes n bytes: for fixed-size record fields fed from longer values.
  bool bytes_clipped(void* out, size_t cap, size_t n) {
    if (!Need(n)) return false;
    std::memcpy(out, data_.data() + pos_, n < cap ? n : cap);
    pos_ += n;
    return true;
  }
  // A view of the next n bytes without copying.
  bool view(size_t n, ByteView& out) {
    if (!Need(n)) return false;
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  bool skip(size_t n) {
    if (!Need(n)) return false;
    pos_ += n;
    return true;
  }
  // The rest of the input (empty when failed).
  ByteView rest() const { return ok_ ? data_.subspan(pos_) : ByteView{}; }

  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  size_t pos() const { return pos_; }
  bool ok() const { return ok_; }
  bool done() const { return ok_ && pos_ == data_.size(); }

 private:
  bool Need(size_t n) {
    if (!ok_ || n > data_.size() - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  bool Copy(uint8_t* out, size_t n) {
    if (!Need(n)) return false;
    if (n) std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  static uint16_t Host16(const uint8_t* b) {
    uint16_t v;
    std::memcpy(&v, b, 2);
    return v;
  }
  static uint32_t Host32(const uint8_t* b) {
    uint32_t v;
    std::memcpy(&v, b, 4);
    return v;
  }

  ByteView data_{};
  size_t pos_ = 0;
  bool ok_ = true;
};

template <Order O>
class Writer {
 public:
  explicit Writer(std::span<uint8_t> buf) : buf_(buf) {}
  Writer(void* buf, size_t size) : buf_(static_cast<uint8_t*>(buf), size) {}

  bool u8(uint8_t v) { return Put(&v, 1); }
  bool u16(uint16_t v) {
    uint8_t b[2];
    if (O == Order::Big) {
      b[0] = static_cast<uint8_t>(v >> 8);
      b[1] = static_cast<uint8_t>(v);
    } else {
      std::memcpy(b, &v, 2);
    }
    return Put(b, 2);
  }
  bool u32(uint32_t v) {
    uint8_t b[4];
    if (O == Order::Big) {
      b[0] = static_cast<uint8_t>(v >> 24);
      b[1] = static_cast<uint8_t>(v >> 16);
      b[2] = static_cast<uint8_t>(v >> 8);
      b[3] = static_cast<uint8_t>(v);
    } else {
      std::memcpy(b, &v, 4);
    }
    return Put(b, 4);
  }
  bool bytes(const void* src, size_t n) { return Put(static_cast<const uint8_t*>(src), n); }
  bool bytes(ByteView v) { return Put(v.data(), v.size()); }
  // Writes min(strlen, n) bytes of s, then zero padding up to n.
  bool fixed_str(std::string_view s, size_t n) {
    size_t len = s.size() < n ? s.size() : n;
    return Put(reinterpret_cast<const uint8_t*>(s.data()), len) && zeros(n - len);
  }
  bool zeros(size_t n) {
    if (!Need(n)) return false;
    if (n) std::memset(buf_.data() + pos_, 0, n);
    pos_ += n;
    return true;
  }
  // Moves the cursor to an absolute offset at or after the current one,
  // zero-filling the gap (record encoders use it to land on fixed offsets).
  bool seek(size_t offset) {
    if (offset < pos_) {
      ok_ = false;
      return false;
    }
    return zeros(offset - pos_);
  }
  // Reserves a 16-bit slot and returns its offset, to be filled by Patch16.
  size_t Reserve16() {
    size_t at = pos_;
    u16(0);
    return at;
  }
  bool Patch16(size_t at, uint16_t v) {
    if (!ok_ || at + 2 > pos_) return ok_ = false;
    Writer<O> w(buf_.subspan(at, 2));
    return w.u16(v);
  }

  size_t size() const { return pos_; }
  size_t remaining() const { return ok_ ? buf_.size() - pos_ : 0; }
  bool ok() const { return ok_; }
  std::span<uint8_t> written() const { return buf_.first(pos_); }

 private:
  bool Need(size_t n) {
    if (!ok_ || n > buf_.size() - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  bool Put(const uint8_t* src, size_t n) {
    if (!Need(n)) return false;
    if (n) std::memcpy(buf_.data() + pos_, src, n);
    pos_ += n;
    return true;
  }

  std::span<uint8_t> buf_;
  size_t pos_ = 0;
  bool ok_ = true;
};

using WireReader = Reader<Order::Big>;
using HostReader = Reader<Order::Host>;
using WireWriter = Writer<Order::Big>;
using HostWriter = Writer<Order::Host>;

}  // namespace capwap
