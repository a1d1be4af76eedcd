// Discovery and Join Requests written down as truncation tables, shared by
// the Discovery and Join tests.
#pragma once

#include <string>

#include "support/controller.h"

namespace capwap::test {

// What a test AP reports about itself.
struct ApSpec {
  Mac mac{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};
  std::string model = "ia-210";
  std::string serial = "SN-0001";
  uint32_t vendor = kPlatformVendor;
  std::string hw_version = "A1";
  std::string sw_version = "1.0.0";
  std::string location = "lab";
  std::string name = "wtp-1";
  SessionId session{0x5e, 0x55, 0x10, 0x1d, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  uint32_t master_status = 1;
  uint16_t capability = 0;
};

// One element: its type and length rows, then `body`. A message that ends
// right after the element takes `after`.
inline TruncTable Elem(uint16_t type, const std::string& label, TruncTable body,
                       Outcome after = Outcome::kFail) {
  const Bytes value = Flatten(body);
  TruncTable rows = {{U16(type), label + ": type"},
                     {U16(static_cast<uint16_t>(value.size())), label + ": length"}};
  rows.insert(rows.end(), body.begin(), body.end());
  rows.back().ends_here = after;
  return rows;
}

// A sub-element of type u16 and length u16.
inline TruncTable Sub(uint16_t type, const std::string& label, const Bytes& value) {
  return {{U16(type), label + ": type"},
          {U16(static_cast<uint16_t>(value.size())), label + ": length"},
          {value, label + ": value"}};
}

inline TruncTable BoardDataBody(const ApSpec& ap) {
  return Concat({{{U32(ap.vendor), "board: vendor"}},
                 Sub(0, "board model", Str(ap.model)),
                 Sub(1, "board serial", Str(ap.serial)),
                 Sub(4, "board mac", Bytes(ap.mac.begin(), ap.mac.end()))});
}

inline TruncTable DescriptorSub(uint16_t type, const std::string& label, const std::string& text) {
  return Concat({{{U32(kPlatformVendor), label + ": vendor"}}, Sub(type, label, Str(text))});
}

inline TruncTable DescriptorBody(const ApSpec& ap) {
  return Concat({{{U8(2), "desc: max radios"},
                  {U8(2), "desc: radios in use"},
                  {U8(1), "desc: encryption count"},
                  {U8(1), "desc: wbid"},
                  {U16(0), "desc: encryption caps"}},
                 DescriptorSub(0, "desc hw", ap.hw_version),
                 DescriptorSub(1, "desc sw", ap.sw_version)});
}

inline Bytes BoardAndDescriptor(const ApSpec& ap) {
  return Cat({Flatten(Elem(38, "board", BoardDataBody(ap))),
              Flatten(Elem(39, "desc", DescriptorBody(ap)))});
}

inline TruncTable RadioInfo(uint8_t radio, const std::string& label, Outcome after) {
  return Elem(1048, label, {{U8(radio), label + ": id"}, {U32(0x0000000D), label + ": type"}},
              after);
}

// The elements of a well-formed Discovery Request of `ap`.
inline TruncTable DiscoveryTable(const ApSpec& ap) {
  return Concat({Elem(20, "discovery type", {{U8(1), "discovery type: value"}}),
                 Elem(38, "board", BoardDataBody(ap)),
                 Elem(39, "desc", DescriptorBody(ap), Outcome::kPass),
                 RadioInfo(1, "radio1", Outcome::kPass),
                 RadioInfo(2, "radio2", Outcome::kPass)});
}

// The vendor payload of a Join Request: master status and capability bits.
inline TruncTable JoinVendorPayload(const ApSpec& ap, Outcome after) {
  return Elem(37, "vendor",
              Concat({{{U32(ap.vendor), "vendor: id"}},
                      Sub(127, "master status", U32(ap.master_status)),
                      Sub(198, "capability", U16(ap.capability))}),
              after);
}

// The elements of a well-formed Join Request of `ap`. Join requires no
// element, so every element boundary is a complete request.
inline TruncTable JoinTable(const ApSpec& ap) {
  return Concat({{{{}, "empty request", Outcome::kPass}},
                 Elem(28, "location", {{Str(ap.location), "location: value"}}, Outcome::kPass),
                 Elem(38, "board", BoardDataBody(ap), Outcome::kPass),
                 Elem(39, "desc", DescriptorBody(ap), Outcome::kPass),
                 Elem(45, "name", {{Str(ap.name), "name: value"}}, Outcome::kPass),
                 Elem(35, "session", {{Bytes(ap.session.begin(), ap.session.end()),
                                       "session: value"}}, Outcome::kPass),
                 Elem(41, "tunnel", {{U8(2), "tunnel: value"}}, Outcome::kPass),
                 Elem(44, "mac type", {{U8(1), "mac type: value"}}, Outcome::kPass),
                 JoinVendorPayload(ap, Outcome::kPass),
                 RadioInfo(1, "radio1", Outcome::kPass),
                 RadioInfo(2, "radio2", Outcome::kPass)});
}

inline Bytes DiscoveryRequest(const ApSpec& ap, uint8_t seq = 9) {
  return ControlDatagram(kMsgDiscoveryReq, seq, Flatten(DiscoveryTable(ap)));
}
inline Bytes JoinRequest(const ApSpec& ap, uint8_t seq = 11) {
  return ControlDatagram(kMsgJoinReq, seq, Flatten(JoinTable(ap)));
}

}  // namespace capwap::test
