// Byte layouts of the WMAC channel: the IpcHead, the fixed notification
// records and the radio-binding TLV list. Every field goes through the
// host-order writer at its offset; the comments give offset and width.
#include <algorithm>

#include "relay/wmac.h"

using capwap::ByteView;
using capwap::HostReader;
using capwap::HostWriter;

void IpcHeadEncode(const IpcHead& head, uint8_t out[kIpcHeadSize]) {
  HostWriter w(out, kIpcHeadSize);
  w.u32(head.reserved);     // @0
  w.u32(head.kind);         // @4
  w.u32(head.msg_type);     // @8
  w.u32(head.wtp_id);       // @12
  w.u32(head.param);        // @16
  w.u32(head.payload_len);  // @20
  w.u32(head.frame_param);  // @24
}

bool IpcHeadDecode(ByteView bytes, IpcHead* head) {
  if (bytes.size() < kIpcHeadSize) return false;
  HostReader r(bytes.first(kIpcHeadSize));
  IpcHead h;
  r.u32(h.reserved);
  r.u32(h.kind);
  r.u32(h.msg_type);
  r.u32(h.wtp_id);
  r.u32(h.param);
  r.u32(h.payload_len);
  r.u32(h.frame_param);
  if (!r.done()) return false;
  *head = h;
  return true;
}

void WmacCreateApEncode(const WmacCreateApRecord& rec, uint8_t out[kWmacCreateApSize]) {
  HostWriter w(out, kWmacCreateApSize);
  w.fixed_str(rec.model, 32);                                // @0, 32
  w.fixed_str(std::string_view(rec.name).substr(0, 32), 33);  // @32, 33, NUL-terminated
  w.bytes(rec.mac.data(), rec.mac.size());                   // @65, 6
  w.u8(rec.auto_created);                                    // @71
}

void WmacApInfoEncode(const WmacApInfoRecord& rec, uint8_t out[kWmacApInfoSize]) {
  HostWriter w(out, kWmacApInfoSize);
  w.u32(rec.apid);                        // @0
  w.seek(36);
  w.fixed_str(rec.serial, 32);            // @36, 32
  w.fixed_str(rec.sw_version, 64);        // @68, 64
  w.bytes(rec.mac.data(), rec.mac.size());  // @132, 6
  w.fixed_str(rec.hw_version, 31);        // @138, 31
  w.seek(172);
  w.u32(rec.vendor_id);                   // @172
}

WmacApInfoRecord WmacApInfoOf(const CW_WTPCB& wtp) {
  WmacApInfoRecord rec;
  rec.apid = wtp.apid;
  rec.serial = wtp.serial;
  rec.sw_version = FieldText(wtp.descriptor.sw_version);
  rec.mac = wtp.mac;
  rec.hw_version = FieldText(wtp.descriptor.hw_version);
  rec.vendor_id = wtp.board_vendor_id;
  return rec;
}

void TunnelRecordEncode(const TunnelRecord& rec, uint8_t out[kTunnelRecordSize]) {
  HostWriter w(out, kTunnelRecordSize);
  w.u32(rec.state);          // @0
  w.u32(rec.apid);           // @4
  w.u8(rec.family);          // @8
  w.seek(12);
  w.bytes(rec.ac_addr.data(), rec.ac_addr.size());              // @12, 16
  w.bytes(rec.wtp_data_addr.data(), rec.wtp_data_addr.size());  // @28, 16
  w.u16(rec.ac_data_port);   // @44
  w.u16(rec.wtp_data_port);  // @46
  w.u8(rec.virtual_ap);      // @48
  w.u8(rec.scrambled);       // @49
  w.zeros(2);                // @50
}

bool TunnelRecordDecode(ByteView bytes, TunnelRecord* rec) {
  if (bytes.size() != kTunnelRecordSize) return false;
  HostReader r(bytes);
  TunnelRecord t;
  uint8_t pad[3];
  uint8_t tail[2];
  r.u32(t.state);
  r.u32(t.apid);
  r.u8(t.family);
  r.bytes(pad, sizeof pad);
  r.bytes(t.ac_addr.data(), t.ac_addr.size());
  r.bytes(t.wtp_data_addr.data(), t.wtp_data_addr.size());
  r.u16(t.ac_data_port);
  r.u16(t.wtp_data_port);
  r.u8(t.virtual_ap);
  r.u8(t.scrambled);
  r.bytes(tail, sizeof tail);
  if (!r.done()) return false;
  // The encoder writes only these values and zero padding.
  bool pads_zero = (pad[0] | pad[1] | pad[2] | tail[0] | tail[1]) == 0;
  if (t.state > 2 || t.family > 1 || t.virtual_ap > 1 || t.scrambled > 1 || !pads_zero) {
    return false;
  }
  *rec = t;
  return true;
}

namespace {

constexpr size_t kApmProfileMin = 128;
constexpr size_t kApmRadioMin = 76;

// The NUL-terminated text at `offset`, at most `cap` characters (the record
// field keeps room for its terminator).
std::string TextAt(ByteView payload, size_t offset, size_t cap) {
  ByteView field = payload.subspan(offset, cap);
  size_t len = std::find(field.begin(), field.end(), uint8_t{0}) - field.begin();
  return std::string(reinterpret_cast<const char*>(field.data()), len);
}

uint32_t U32At(ByteView payload, size_t offset) {
  HostReader r(payload.subspan(offset));
  uint32_t v = 0;
  r.u32(v);
  return v;
}

}  // namespace

bool WmacProfileRecordFromApm(ByteView apm_payload, uint32_t apid,
                              uint8_t out[kWmacProfileRecordSize]) {
  if (apm_payload.size() < kApmProfileMin) return false;
  HostWriter w(out, kWmacProfileRecordSize);
  w.u32(apid);                                   // @0
  w.seek(8);
  w.bytes(apm_payload.first(6));                 // @8, 6: AP MAC
  w.fixed_str(TextAt(apm_payload, 6, 32), 33);   // @14..46: text from payload @6
  w.bytes(apm_payload.subspan(39, 65));          // @47, 65: payload @39
  w.u32(U32At(apm_payload, 104));                // @112
  w.u32(U32At(apm_payload, 120));                // @116
  w.u32(U32At(apm_payload, 124));                // @120
  w.u32(U32At(apm_payload, 108));                // @124
  w.u8(apm_payload[112]);                        // @128
  w.u8(0);                                       // @129
  w.bytes(apm_payload.subspan(113, 7));          // @130, 7: payload 113-119
  w.seek(kWmacProfileRecordSize);
  return w.ok();
}

bool WmacRadioRecordFromApm(ByteView apm_payload, uint32_t apid,
                            uint8_t out[kWmacProfileRecordSize]) {
  if (apm_payload.size() < kApmRadioMin) return false;
  HostWriter w(out, kWmacProfileRecordSize);
  w.u32(apid);                      // @0
  w.u32(U32At(apm_payload, 8));     // @4
  w.seek(140);
  for (size_t r = 0; r < 4; ++r) {
    w.bytes(apm_payload.subspan(12 + 16 * r, 8));  // @140 + 16r, 8
    w.bytes(apm_payload.subspan(20 + 16 * r, 8));  // @148 + 16r, 8
  }
  return w.ok() && w.size() == kWmacProfileRecordSize;
}
