// The Add WLAN records of the byte tables, laid out by hand at their WMAC
// payload offsets, and the elements each must give on the wire; shared with
// the end-to-end run, which checks them on a simulated AP.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "relay/wlan_records.h"
#include "support/truncation.h"

namespace capwap::test {

inline constexpr uint32_t kVendor = 0x0000A1C6;

// The payload with each field written at its offset.
inline Bytes With(Bytes payload, std::initializer_list<std::pair<size_t, Bytes>> fields) {
  for (const auto& [offset, bytes] : fields) std::copy(bytes.begin(), bytes.end(), payload.begin() + static_cast<long>(offset));
  return payload;
}
inline Bytes Payload(size_t size, std::initializer_list<std::pair<size_t, Bytes>> fields) { return With(Bytes(size, 0), fields); }
inline TruncRow Elem(uint16_t type, const Bytes& value, std::string label) {
  return {Cat({U16(type), U16(static_cast<uint16_t>(value.size())), value}), std::move(label)};
}
inline TruncRow Ven(uint16_t id, const Bytes& value, std::string label) {
  return Elem(37, Cat({U32(kVendor), U16(id), U16(static_cast<uint16_t>(value.size())), value}),
              std::move(label));
}
inline uint32_t HostWord(ByteView p, size_t at) { uint32_t v = 0; HostReader(p.subspan(at, 4)).u32(v); return v; }

inline const Bytes kSsid = Fixed("demo", 32);

inline Bytes AddWlanBase() {
  return Payload(CwAddWlanRecord::kSize,
                 {{0, Hex("01 02")}, {2, HostU16(0x0421)}, {4, Hex("03 04")}, {40, Hex("a1a2a3a4a5a6")},
                  {46, Hex("05 06 07 08 09")}, {51, kSsid}, {84, Hex("2d 02 aabb")},
                  {5560, Hex("11 12 13 14")}, {5564, HostU32(0x15161718)},
                  {5568, Hex("21 22 23 24 25")}, {5576, HostU32(0x26272829)}});
}
inline TruncTable IeRows(const Bytes& first) {
  TruncTable rows{Elem(1029, first, "ie slot 1")};
  for (int slot = 2; slot <= 8; ++slot) rows.push_back(Elem(1029, Hex("00 00"), "ie slot " + std::to_string(slot)));
  return rows;
}
inline TruncTable SwitchRows() {
  return {Ven(123, U8(0x11), "vendor 123"), Ven(80, U8(0x12), "vendor 80"), Ven(133, U8(0x13), "vendor 133"),
          Ven(134, Cat({U8(0x14), U32(0x15161718)}), "vendor 134")};
}
inline TruncTable SettingRows() {
  return {Elem(1054, U8(0x21), "1054"), Elem(1055, U8(0x22), "1055"), Elem(1061, U8(0x23), "1061"),
          Elem(1067, U8(0x25), "1067"), Elem(1073, U32(0x26272829), "1073")};
}
inline TruncRow AddWlanElem(const Bytes& key) {
  return Elem(1024, Cat({Hex("01 02 0421 03 04"), U16(static_cast<uint16_t>(key.size())), key, Hex("a1a2a3a4a5a6"),
                         Hex("05 06 07 08 09"), kSsid}),
              "add wlan");
}

// Every optional part present: key, options 3, 125, remote AP in mode 3 with
// P = 2, one media-guarantee address, the web page block, the ninth slot.
inline Bytes AddWlanFull() {
  Bytes p = With(AddWlanBase(), {{6, HostU16(5)}, {8, Str("kkkkk")}, {798, Hex("dd 03 010203")},
                                 {928, HostU32(3)}, {932, HostU32(0x31323334)}, {936, U8(1)},
                                 {956, Hex("41424344")}, {960, HostU32(0x45464748)}, {964, U8(1)}});
  p = With(p, {{968, Hex("515253")}, {976, HostU16(3)}, {978, Fixed("remote", 32)}, {1012, HostU32(2)},
               {1016, Hex("616263")}, {1020, HostU32(0x64656667)}, {1024, Hex("68696a6b")},
               {1040, HostU32(0x71727374)}, {1044, HostU16(0x7576)}, {1046, Fill(0x77, 64)}, {1110, U8(0x81)},
               {1112, HostU32(0x82838485)}, {1116, Hex("86878889")}, {1132, HostU32(0x8a8b8c8d)},
               {1136, HostU16(0x8e8f)}, {1138, Fill(0x90, 64)}});
  p = With(p, {{1204, HostU32(0x1ff)}, {1208, Fixed("Welcome", 65)}, {1273, U8(2)}, {1274, Fixed("t2", 32)},
               {1306, Fill(0x33, 99)}, {1405, Fill(0x42, 4096)}, {5501, Hex("d1d2d3d4")}});
  for (uint32_t i = 0; i < 7; ++i) p = With(p, {{5508 + 4 * i, HostU32(0x1000 + i)}});
  return With(p, {{5536, HostU32(0x2a1)}, {5540, HostU32(0x3b2)}, {5544, U8(1)}, {5548, HostU16(1)},
                  {5550, HostU16(80)}, {5552, HostU16(50)}, {5554, HostU16(1)}, {5556, HostU32(300)}});
}
inline TruncTable AddWlanFullRows(const Bytes& p) {
  Bytes words;
  for (uint32_t i = 0; i < 7; ++i) words = Cat({words, U32(0x1000 + i)});
  TruncTable head{AddWlanElem(Str("kkkkk"))};
  TruncTable rest{
      Ven(124, U32(0x31323334), "vendor 124"), Ven(125, Hex("41424344 45464748"), "vendor 125"),
      Ven(200,
          Cat({Hex("515253 0003"), Fixed("remote", 32), U32(2), Hex("616263"), U32(0x64656667), Hex("68696a6b"),
               Fill(0, 12), U32(0x71727374), U16(0x7576), Fill(0x77, 64), U8(0x81), U32(0x82838485),
               Hex("86878889"), Fill(0, 12), U32(0x8a8b8c8d), U16(0x8e8f), Fill(0x90, 64)}),
          "remote ap, mode 3, P 2"),
      // The address list is read over the single values from 5560 on.
      Ven(201, Cat({U16(1), U16(80), U16(50), U16(1), U32(300), U32(HostWord(p, 5560)),
                    Bytes(p.begin() + 5564, p.begin() + 5580)}),
          "media guarantee, one address")};
  TruncTable web{Ven(180, Cat({Hex("ff 02"), Fixed("Welcome", 65), Fixed("t2", 32), Fill(0x33, 99),
                               Fill(0x42, 4096), Hex("d1d2d3d4"), words, Hex("a1 b2")}),
                     "web page block")};
  TruncTable tail{Elem(1071, U32(1), "options less bit 1"), Elem(1029, Hex("dd03010203"), "ninth ie slot"),
                  Elem(1070, U8(0x24), "1070")};
  return Concat({head, IeRows(Hex("2d02aabb")), rest, SwitchRows(), web, SettingRows(), tail});
}

}  // namespace capwap::test
