// The WMAC payloads of WLAN and station configuration (types 4, 5, 6, 7, 8,
// 36, 84, 96), in host order. Each record lists its fields once, each at its
// absolute payload offset; the same list decodes a payload and encodes one
// (the peer simulator sends them). Decode (WmacRecordDecode) is false when
// the payload is shorter than the record; octets past it are not read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"

// Moves a record reader or writer to an absolute payload offset at or after
// its position (skipping, or zero-filling, the gap).
inline bool WlanAt(capwap::HostReader& r, size_t offset) {
  return offset >= r.pos() && r.skip(offset - r.pos());
}
inline bool WlanAt(capwap::HostWriter& w, size_t offset) { return w.seek(offset); }

// One information-element slot: 802.11 element ID, length L, then the data
// room of the slot (L must not exceed it).
struct CwIeSlot {
  uint8_t id = 0;
  uint8_t len = 0;
  std::array<uint8_t, 256> data{};
  template <class IO, class Self>
  static bool Fields(IO& io, Self& s, size_t room) {
    return io.u8(s.id) && io.u8(s.len) && io.bytes(s.data.data(), room);
  }
};
// The IE set: eight slots in a row, 714 bytes.
inline constexpr std::array<size_t, 8> kCwIeSlotOffset = {0, 4, 24, 28, 286, 543, 577, 584};
inline constexpr std::array<size_t, 8> kCwIeSlotRoom = {2, 18, 2, 256, 255, 32, 5, 128};
inline constexpr size_t kCwIeSetSize = 714;
inline constexpr size_t kCwIeNinthRoom = 128;
using CwIeSet = std::array<CwIeSlot, 8>;
template <class IO, class Set>
bool IeSetFields(IO& io, Set& set, size_t base) {
  for (size_t i = 0; i < set.size(); ++i) {
    if (!WlanAt(io, base + kCwIeSlotOffset[i]) ||
        !CwIeSlot::Fields(io, set[i], kCwIeSlotRoom[i])) {
      return false;
    }
  }
  return WlanAt(io, base + kCwIeSetSize);
}

inline constexpr size_t kCwWlanKeyMax = 32;

// Remote-AP block of an Add-WLAN record (payload offsets 968 to 1201). The
// bytes from 1012 on are read by mode M (the u16 at 976), see the encoder.
struct CwRemoteApBlock {
  static constexpr size_t kModeDataAt = 1012;
  static constexpr size_t kModeDataLen = 190;  // up to 1202
  std::array<uint8_t, 3> head{};  // @968
  uint16_t mode = 0;              // @976
  std::array<uint8_t, 32> name{};  // @978
  std::array<uint8_t, kModeDataLen> mode_data{};  // @1012
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return WlanAt(io, 968) && io.bytes(r.head.data(), 3) &&         // @968, 3
           WlanAt(io, 976) && io.u16(r.mode) &&                     // @976
           io.bytes(r.name.data(), r.name.size()) &&                // @978, 32
           WlanAt(io, kModeDataAt) && io.bytes(r.mode_data.data(), kModeDataLen);  // @1012
  }
};

// Web page block of an Add-WLAN record (payload offsets 1204 to 5543).
struct CwWebPageBlock {
  uint32_t first = 0;                   // @1204, the low byte is sent
  std::array<uint8_t, 65> title{};      // @1208
  uint8_t second = 0;                   // @1273
  std::array<uint8_t, 32> text2{};      // @1274
  std::array<uint8_t, 99> texts{};      // @1306, three of 33
  std::array<uint8_t, 4096> body{};     // @1405
  std::array<uint8_t, 4> raw{};         // @5501
  std::array<uint32_t, 7> words{};      // @5508
  uint32_t last1 = 0, last2 = 0;        // @5536, @5540, low bytes sent
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    bool ok = WlanAt(io, 1204) && io.u32(r.first) &&                        // @1204
              io.bytes(r.title.data(), r.title.size()) && io.u8(r.second) &&  // @1208 @1273
              io.bytes(r.text2.data(), r.text2.size()) &&                   // @1274
              io.bytes(r.texts.data(), r.texts.size()) &&                   // @1306
              io.bytes(r.body.data(), r.body.size()) &&                     // @1405
              io.bytes(r.raw.data(), r.raw.size()) && WlanAt(io, 5508);     // @5501
    for (auto& word : r.words) ok = ok && io.u32(word);                     // @5508 to @5532
    return ok && io.u32(r.last1) && io.u32(r.last2);                        // @5536 @5540
  }
};

// Media-guarantee header of an Add-WLAN record (5544 to 5559); its address
// list (20 bytes per entry: u32, 16 address bytes) starts at 5560, over the
// single-value fields.
struct CwMediaGuarantee {
  static constexpr size_t kListAt = 5560;
  static constexpr size_t kEntryLen = 20;
  uint8_t send = 0;       // @5544
  uint16_t enable = 0;    // @5548 usMediaGuaranteeEnable
  uint16_t threshold = 0;  // @5550 usMediaThreshold
  uint16_t ratio = 0;     // @5552 usChannelRatio
  uint16_t count = 0;     // @5554 usIpAddrCount
  uint32_t aging = 0;     // @5556 uiAgingTime
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return WlanAt(io, 5544) && io.u8(r.send) && WlanAt(io, 5548) && io.u16(r.enable) &&
           io.u16(r.threshold) && io.u16(r.ratio) && io.u16(r.count) && io.u32(r.aging);
  }
};

// Add-WLAN record (type 4), 5580 bytes.
struct CwAddWlanRecord {
  static constexpr size_t kSize = 5580;
  uint8_t radio_id = 0, wlan_id = 0;   // @0 @1
  uint16_t capability = 0;             // @2
  uint8_t key_index = 0, key_status = 0;  // @4 @5
  uint16_t key_len = 0;                // @6
  std::array<uint8_t, 32> key{};       // @8
  std::array<uint8_t, 6> group_tsc{};  // @40
  uint8_t qos = 0, auth_type = 0, mac_mode = 0, tunnel_mode = 0, suppress_ssid = 0;  // @46-50
  std::array<uint8_t, 32> ssid{};      // @51
  CwIeSet ies{};                       // @84
  CwIeSlot ninth{};                    // @798
  uint32_t options = 0;                // @928
  uint32_t value124 = 0;               // @932
  uint8_t send125 = 0;                 // @936
  std::array<uint8_t, 4> value125a{};  // @956
  uint32_t value125b = 0;              // @960
  uint8_t send_remote_ap = 0;          // @964
  CwRemoteApBlock remote_ap{};         // @968
  CwWebPageBlock web{};                // @1204
  CwMediaGuarantee media{};            // @5544
  uint8_t value123 = 0, value80 = 0, value133 = 0, value134a = 0;  // @5560-5563
  uint32_t value134b = 0;              // @5564
  uint8_t value1054 = 0, value1055 = 0, value1061 = 0, value1070 = 0, value1067 = 0;  // @5568-5572
  uint32_t value1073 = 0;              // @5576
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.radio_id) && io.u8(r.wlan_id) && io.u16(r.capability) &&    // @0 @1 @2
           io.u8(r.key_index) && io.u8(r.key_status) && io.u16(r.key_len) &&   // @4 @5 @6
           io.bytes(r.key.data(), r.key.size()) &&                             // @8
           io.bytes(r.group_tsc.data(), r.group_tsc.size()) &&                 // @40
           io.u8(r.qos) && io.u8(r.auth_type) && io.u8(r.mac_mode) &&          // @46 @47 @48
           io.u8(r.tunnel_mode) && io.u8(r.suppress_ssid) &&                   // @49 @50
           io.bytes(r.ssid.data(), r.ssid.size()) &&                           // @51
           IeSetFields(io, r.ies, 84) &&                                       // @84
           CwIeSlot::Fields(io, r.ninth, kCwIeNinthRoom) &&                    // @798
           WlanAt(io, 928) && io.u32(r.options) && io.u32(r.value124) &&      // @928 @932
           io.u8(r.send125) && WlanAt(io, 956) &&                              // @936
           io.bytes(r.value125a.data(), r.value125a.size()) &&                 // @956
           io.u32(r.value125b) && io.u8(r.send_remote_ap) &&                   // @960 @964
           CwRemoteApBlock::Fields(io, r.remote_ap) &&                         // @968
           CwWebPageBlock::Fields(io, r.web) &&                                // @1204
           CwMediaGuarantee::Fields(io, r.media) &&                            // @5544
           io.u8(r.value123) && io.u8(r.value80) && io.u8(r.value133) &&       // @5560-5562
           io.u8(r.value134a) && io.u32(r.value134b) &&                        // @5563 @5564
           io.u8(r.value1054) && io.u8(r.value1055) && io.u8(r.value1061) &&   // @5568-5570
           io.u8(r.value1070) && io.u8(r.value1067) &&                         // @5571 @5572
           WlanAt(io, 5576) && io.u32(r.value1073);                            // @5576
  }
};

// Delete-WLAN record (type 5).
struct CwDelWlanRecord {
  static constexpr size_t kSize = 2;
  uint8_t radio_id = 0, wlan_id = 0;
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.radio_id) && io.u8(r.wlan_id);  // @0 @1
  }
};

// Update-WLAN record (type 6), 754 bytes.
struct CwUpdWlanRecord {
  static constexpr size_t kSize = 754;
  uint8_t radio_id = 0, wlan_id = 0;        // @0 @1
  uint8_t capability = 0, key_index = 0;    // @4 @5
  uint16_t key_len = 0;                     // @6
  std::array<uint8_t, 32> key{};            // @8
  CwIeSet ies{};                            // @40
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.radio_id) && io.u8(r.wlan_id) && WlanAt(io, 4) &&           // @0 @1
           io.u8(r.capability) && io.u8(r.key_index) && io.u16(r.key_len) &&   // @4 @5 @6
           io.bytes(r.key.data(), r.key.size()) && IeSetFields(io, r.ies, 40);  // @8 @40
  }
};

// Channel-width record (type 36): 4 raw bytes, then four u32.
struct CwWidthRecord {
  static constexpr size_t kSize = 20;
  std::array<uint8_t, 4> raw{};
  std::array<uint32_t, 4> words{};
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    bool ok = io.bytes(r.raw.data(), r.raw.size());  // @0
    for (auto& word : r.words) ok = ok && io.u32(word);  // @4 to @16
    return ok;
  }
};

// IP-based VLAN record head (type 84); `count` entries of three u32 follow
// from offset 8.
struct CwIpVlanHead {
  static constexpr size_t kSize = 8;
  static constexpr size_t kEntryLen = 12;
  uint16_t header = 0;  // @0
  uint32_t count = 0;   // @4
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u16(r.header) && WlanAt(io, 4) && io.u32(r.count);
  }
};

inline constexpr size_t kCwStaKeyMax = 256;

// Add-station record (type 7), 482 bytes.
struct CwAddStaRecord {
  static constexpr size_t kSize = 482;
  uint8_t radio_id = 0;                  // @0
  std::array<uint8_t, 6> mac{};          // @2
  uint32_t add_word = 0;                 // @8
  uint8_t sta_radio_id = 0;              // @12
  uint16_t assoc_id = 0;                 // @14
  uint8_t flags = 0;                     // @16
  std::array<uint8_t, 6> sta_mac{};      // @17
  uint16_t capabilities = 0;             // @24
  uint8_t wlan_id = 0;                   // @26
  std::array<uint8_t, 126> rates{};      // @27
  std::array<uint8_t, 6> qos_mac{};      // @154
  uint16_t qos = 0;                      // @160
  std::array<uint8_t, 6> key_mac{};      // @162
  std::array<uint8_t, 2> key_flags{};    // @168
  std::array<uint8_t, 6> tsc{};          // @170
  std::array<uint8_t, 6> rsc{};          // @176
  std::array<uint8_t, 256> key{};        // @182
  uint16_t key_len = 0;                  // @438
  uint8_t send130 = 0;                   // @440
  std::array<uint8_t, 6> mac130{};       // @442
  std::array<uint8_t, 8> raw130{};       // @448
  uint16_t first130 = 0, second130 = 0;  // @456 @458
  uint8_t byte130 = 0;                   // @460
  std::array<uint8_t, 10> tail130{};     // @461
  uint32_t value1062 = 0;                // @476
  uint16_t value1064 = 0;                // @480
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.radio_id) && WlanAt(io, 2) && io.bytes(r.mac.data(), 6) &&      // @0 @2
           io.u32(r.add_word) && io.u8(r.sta_radio_id) && WlanAt(io, 14) &&        // @8 @12
           io.u16(r.assoc_id) && io.u8(r.flags) && io.bytes(r.sta_mac.data(), 6) &&  // @14 @16 @17
           WlanAt(io, 24) && io.u16(r.capabilities) && io.u8(r.wlan_id) &&         // @24 @26
           io.bytes(r.rates.data(), r.rates.size()) && WlanAt(io, 154) &&          // @27
           io.bytes(r.qos_mac.data(), 6) && io.u16(r.qos) &&                       // @154 @160
           io.bytes(r.key_mac.data(), 6) && io.bytes(r.key_flags.data(), 2) &&     // @162 @168
           io.bytes(r.tsc.data(), 6) && io.bytes(r.rsc.data(), 6) &&               // @170 @176
           io.bytes(r.key.data(), r.key.size()) && io.u16(r.key_len) &&            // @182 @438
           io.u8(r.send130) && WlanAt(io, 442) && io.bytes(r.mac130.data(), 6) &&  // @440 @442
           io.bytes(r.raw130.data(), 8) && io.u16(r.first130) &&                   // @448 @456
           io.u16(r.second130) && io.u8(r.byte130) &&                              // @458 @460
           io.bytes(r.tail130.data(), r.tail130.size()) && WlanAt(io, 476) &&      // @461
           io.u32(r.value1062) && io.u16(r.value1064);                             // @476 @480
  }
};

// Delete-station record (type 8), 16 bytes.
struct CwDelStaRecord {
  static constexpr size_t kSize = 16;
  uint8_t radio_id = 0;          // @0
  std::array<uint8_t, 6> mac{};  // @2
  uint16_t value1064 = 0;        // @14
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u8(r.radio_id) && WlanAt(io, 2) && io.bytes(r.mac.data(), 6) &&
           WlanAt(io, 14) && io.u16(r.value1064);
  }
};

// Station traffic request: the 20-byte record of operation 3, built from
// WMAC type 96 or by a local command.
struct CwStaTrafficRecord {
  static constexpr size_t kSize = 20;
  std::array<uint8_t, 6> mac{};  // @0
  uint32_t first = 0;            // @8
  uint32_t second = 0;           // @12
  uint32_t traffic_type = 0;     // @16
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.bytes(r.mac.data(), 6) && WlanAt(io, 8) && io.u32(r.first) &&
           io.u32(r.second) && io.u32(r.traffic_type);
  }
};

// Station-traffic message (type 96), 24 bytes: it names its AP itself.
struct CwStaTrafficMsg {
  static constexpr size_t kSize = 24;
  uint32_t wtp_id = 0;           // @0
  CwStaTrafficRecord traffic{};  // @4 MAC, @12 @16 @20 the three values
  template <class IO, class Self>
  static bool Fields(IO& io, Self& r) {
    return io.u32(r.wtp_id) && io.bytes(r.traffic.mac.data(), 6) && WlanAt(io, 12) &&
           io.u32(r.traffic.first) && io.u32(r.traffic.second) &&
           io.u32(r.traffic.traffic_type);
  }
};
