// Shared transport types: transport association ends, the decoded CAPWAP
// headers, the packet being built or sent, the received datagram, and the
// decoded WTP Board Data and WTP Descriptor elements.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/bytes.h"

// One end of a CAPWAP transport association. The 32-byte record image is
// family u8, 3 zero, ifindex u32, local IPv4 u32, address 16, port u16, 2 zero.
struct CW_ADDR {
  uint8_t family = 0;        // 0 IPv4, 1 IPv6
  uint32_t ifindex = 0;      // local end, IPv4: ipi_ifindex of IP_PKTINFO
  uint32_t local_ipv4 = 0;   // local end, IPv4: ipi_spec_dst, host order
  // IPv4: the address as a host-order u32 in the first 4 bytes (memory
  // order), rest zero. IPv6: the 16 address bytes in network order.
  std::array<uint8_t, 16> addr{};
  uint16_t port = 0;         // host order

  bool operator==(const CW_ADDR&) const = default;

  uint32_t Ipv4() const {
    uint32_t v;
    std::memcpy(&v, addr.data(), 4);
    return v;
  }
  void SetIpv4(uint32_t host_order) {
    addr.fill(0);
    std::memcpy(addr.data(), &host_order, 4);
  }
  bool AddrIsZero() const {
    for (uint8_t b : addr) {
      if (b) return false;
    }
    return true;
  }
  // The four 32-bit words of the address as stored (bucket functions).
  uint32_t Word(int i) const {
    uint32_t v;
    std::memcpy(&v, addr.data() + 4 * i, 4);
    return v;
  }
};
inline constexpr size_t kCwAddrRecordSize = 32;

// Decoded transport header. The first word is kept whole, in host order.
struct CW_HDR {
  uint32_t word0 = 0;
  uint16_t frag_id = 0;
  uint16_t frag_offset = 0;  // 13 bits, in 8-octet units
  uint8_t reserved3 = 0;     // high 3 bits of octets 6-7, written back as read

  uint32_t Version() const { return word0 >> 28; }
  uint32_t Type() const { return (word0 >> 24) & 0xF; }
  uint32_t Hlen() const { return (word0 >> 19) & 0x1F; }
  uint32_t Rid() const { return (word0 >> 14) & 0x1F; }
  uint32_t Wbid() const { return (word0 >> 9) & 0x1F; }
  bool T() const { return word0 & (1u << 8); }
  bool F() const { return word0 & (1u << 7); }
  bool L() const { return word0 & (1u << 6); }
  bool W() const { return word0 & (1u << 5); }
  bool M() const { return word0 & (1u << 4); }
  bool K() const { return word0 & (1u << 3); }
  uint32_t Flags() const { return word0 & 0x7; }

  void SetBit(int bit, bool on) {
    word0 = on ? (word0 | (1u << bit)) : (word0 & ~(1u << bit));
  }
  void SetHlen(uint32_t v) { word0 = (word0 & ~(0x1Fu << 19)) | ((v & 0x1F) << 19); }
  void SetRid(uint32_t v) { word0 = (word0 & ~(0x1Fu << 14)) | ((v & 0x1F) << 14); }
  void SetWbid(uint32_t v) { word0 = (word0 & ~(0x1Fu << 9)) | ((v & 0x1F) << 9); }
};
enum : int { kHdrBitT = 8, kHdrBitF = 7, kHdrBitL = 6, kHdrBitW = 5, kHdrBitM = 4, kHdrBitK = 3 };

// Decoded control header.
struct CW_CTLHDR {
  uint32_t msg_type = 0;
  uint8_t seq = 0;
  uint16_t elem_len = 0;  // element octets after the control header
  uint8_t flags = 0;
};

inline constexpr size_t kCwHdrLen = 8;
inline constexpr size_t kCwCtlHdrLen = 8;
inline constexpr size_t kCwHeadersLen = 16;
inline constexpr size_t kCwPktBufSize = 32768;
inline constexpr size_t kCwRcvBufSize = 4096;

// A control message being built or sent. While building, `length` counts
// element octets written from offset 16; once the headers are encoded it
// counts the whole datagram.
struct CW_PKT {
  uint32_t msg_type = 0;
  uint32_t length = 0;
  capwap::Bytes buffer;  // kCwPktBufSize when new; exact size before sending
  size_t cursor = kCwHeadersLen;  // write offset into buffer
  uint32_t seq = 0;
};
using CwPktPtr = std::unique_ptr<CW_PKT>;

// One received control datagram (owns its buffer).
struct CW_RCVPKT {
  CW_ADDR remote;
  CW_ADDR local;
  capwap::Bytes buffer;  // the datagram (or the reassembled message)
  uint32_t length = 0;   // octets of buffer in use
  uint32_t msg_type = 0;
  uint8_t seq = 0;

  capwap::ByteView Datagram() const { return capwap::ByteView(buffer.data(), length); }
  // The message elements: after both headers up to length (empty if short).
  capwap::ByteView Elements() const {
    return length > kCwHeadersLen ? capwap::ByteView(buffer.data() + kCwHeadersLen,
                                                     length - kCwHeadersLen)
                                  : capwap::ByteView{};
  }
};

// Decoded WTP Board Data (element 38).
struct WtpBoardData {
  uint32_t vendor_id = 0;
  std::array<char, 32> model{};     // lower-cased
  std::array<char, 32> serial{};
  std::array<char, 32> board_id{};
  std::array<char, 32> board_rev{};
  std::array<uint8_t, 6> base_mac{};
};

// Decoded WTP Descriptor (element 39); 294 bytes in the control-block record:
// 6 bytes of counts and capabilities, the four 64-byte versions, 32 zero.
struct WtpDescriptor {
  uint8_t max_radios = 0;
  uint8_t radios_in_use = 0;
  uint8_t num_encrypt = 0;
  uint8_t encrypt_wbid = 0;
  uint16_t encrypt_caps = 0;
  std::array<char, 64> hw_version{};
  std::array<char, 64> sw_version{};
  std::array<char, 64> boot_version{};
  std::array<char, 64> other_version{};
};
inline constexpr size_t kWtpDescriptorRecordSize = 294;

// A fixed char field as text (up to the first NUL or the field's end).
template <size_t N>
inline std::string FieldText(const std::array<char, N>& field) {
  size_t len = 0;
  while (len < N && field[len]) ++len;
  return std::string(field.data(), len);
}
template <size_t N>
inline void SetFieldText(std::array<char, N>& field, std::string_view text) {
  field.fill(0);
  std::memcpy(field.data(), text.data(), text.size() < N ? text.size() : N);
}

namespace capwap {
// "aa:bb:cc:dd:ee:ff", lower-case.
std::array<char, 18> MacText(const std::array<uint8_t, 6>& mac);
// The address of an endpoint, IPv4 dotted or IPv6 text (no port).
std::string AddrText(const CW_ADDR& addr);
}  // namespace capwap
