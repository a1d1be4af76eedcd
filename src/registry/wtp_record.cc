#include "registry/wtp_record.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <string>
#include <string_view>

// The tunnel-state record keeps the layout the relay sends to WMAC.
#include "relay/wmac.h"

namespace {

using capwap::ByteView;
using capwap::HostReader;
using capwap::HostWriter;

constexpr size_t kBlockMax = 8195;  // WRRM / WIDS element blocks
constexpr size_t kRadioSlotSize = 104;
constexpr size_t kVersionSize = 64;

// --- Encoding helpers ------------------------------------------------------

void PutAddr(HostWriter& w, const CW_ADDR& a) {
  w.u8(a.family);         // +0
  w.zeros(3);
  w.u32(a.ifindex);       // +4
  w.u32(a.local_ipv4);    // +8
  w.bytes(a.addr.data(), a.addr.size());  // +12
  w.u16(a.port);          // +28
  w.zeros(2);
}

void PutDescriptor(HostWriter& w, const WtpDescriptor& d) {
  w.u8(d.max_radios);     // +0
  w.u8(d.radios_in_use);  // +1
  w.u8(d.num_encrypt);    // +2
  w.u8(d.encrypt_wbid);   // +3
  w.u16(d.encrypt_caps);  // +4
  w.bytes(d.hw_version.data(), kVersionSize);     // +6
  w.bytes(d.sw_version.data(), kVersionSize);     // +70
  w.bytes(d.boot_version.data(), kVersionSize);   // +134
  w.bytes(d.other_version.data(), kVersionSize);  // +198
  w.zeros(32);                                    // +262
}

void PutRdBind(HostWriter& w, const RadioBinding& rb) {
  w.u32(rb.idle_timeout);  // +0
  w.u32(rb.radio_count);   // +4
  for (const RadioBindingRadio& radio : rb.radios) {  // +8, 104 bytes each
    w.u32(radio.radio_id);
    w.zeros(kRadioSlotSize - 4);  // sub-record references
  }
}

void PutBlock(HostWriter& w, const capwap::Bytes& block) {
  size_t len = block.size() < kBlockMax ? block.size() : kBlockMax;
  w.bytes(block.data(), len);
  w.zeros(kBlockMax - len);
  w.u32(static_cast<uint32_t>(len));
}

void PutHead(HostWriter& w, const CW_WTPCB& wtp) {
  w.seek(56);
  w.u32(wtp.id_link.key);  // @56, APID while listed
  w.u32(wtp.apid);         // @60
  w.u32(wtp.group_id);     // @64
  w.seek(72);
  PutAddr(w, wtp.local);   // @72
  w.bytes(wtp.mac.data(), 6);          // @104
  w.fixed_str(wtp.name, 33);           // @110
  w.fixed_str(wtp.description, 64);    // @143
  w.seek(208);
  w.u32(wtp.state);        // @208
  PutAddr(w, wtp.data_end);  // @212
  PutAddr(w, wtp.remote);    // @244
  w.u8(wtp.auto_created);  // @276
  w.u8(wtp.discovered);    // @277
  w.u8(wtp.priority);      // @278
  w.seek(280);
  w.u16(wtp.capability);   // @280
  w.u8(wtp.wait_rdbind);   // @282
  w.u8(wtp.session_flag);  // @283
  w.seek(288);
  w.u8(wtp.req_seq);       // @288
  w.u8(wtp.last_rcv_seq);  // @289
  w.u8(wtp.prev_rcv_seq);  // @290
  w.fixed_str(wtp.serial, 33);  // @291
  w.seek(328);
  w.bytes(wtp.session_id.data(), 16);  // @328; 344.. reassembly and send queue are runtime
}

void PutSessionArea(HostWriter& w, const CW_WTPCB& wtp) {
  w.seek(8592);
  w.u32(wtp.static_ip.addr);       // @8592
  w.u32(wtp.static_ip.mask);       // @8596
  w.u32(wtp.static_ip.gateway);    // @8600
  w.u32(wtp.static_ip.is_static);  // @8604; 8608.. timer handles are runtime
  w.seek(8633);
  w.fixed_str(wtp.model, 32);      // @8633
  w.seek(8668);
  w.bytes(wtp.image_id.data(), wtp.image_id.size());  // @8668; 8780 image stream is runtime
  w.seek(8784);
  w.u8(wtp.image_downloading);     // @8784
  w.seek(8788);
  w.u32(wtp.image_size);           // @8788
  w.u32(wtp.image_sent);           // @8792
  w.fixed_str(wtp.image_path, 64);  // @8796; 8860 crash-data list is runtime
  w.seek(8876);
  PutDescriptor(w, wtp.descriptor);  // @8876
  w.u16(wtp.discovery_interval);   // @9170
  w.u16(wtp.echo_interval);        // @9172
  w.u16(wtp.retrans_interval);     // @9174
  w.u16(wtp.stats_interval);       // @9176
  w.seek(9184);
  w.bytes(wtp.location.data(), wtp.location.size());  // @9184
  PutRdBind(w, wtp.rdbind);        // @9216
  for (const auto& entry : wtp.bssid_table) {  // @9640, 7 bytes each
    w.u8(entry.radio_id);
    w.bytes(entry.bssid.data(), 6);
  }
  w.seek(9696);
  w.u32(wtp.master_status);        // @9696
  w.u32(wtp.rdbind_notify_result);  // @9700
  w.bytes(wtp.radio_states.data(), wtp.radio_states.size());  // @9704
  uint8_t tunnel[kTunnelRecordSize];
  TunnelRecordEncode(wtp.tunnel, tunnel);
  w.bytes(tunnel, sizeof tunnel);  // @9716
}

void PutPeerBlocks(HostWriter& w, const CW_WTPCB& wtp) {
  w.u8(wtp.wait_wrrm);          // @9768
  PutBlock(w, wtp.wrrm_block);  // @9769, length @17964
  w.u32(wtp.creation_time);     // @17968
  w.u32(wtp.online_tick);       // @17972
  w.u8(wtp.wait_wids);          // @17976
  PutBlock(w, wtp.wids_block);  // @17977, length @26172
  w.seek(26248);
  w.u8(wtp.concurrency_flag);   // @26248
}

void PutConfigTail(HostWriter& w, const CW_WTPCB& wtp) {
  w.seek(39284);
  w.u8(wtp.normal_collect);     // @39284
  w.u8(wtp.rt_collect);         // @39285
  w.seek(39304);
  w.u32(wtp.lan_ip_inherited.addr);       // @39304
  w.u32(wtp.lan_ip_inherited.prefixlen);  // @39308
  w.seek(39328);
  w.u32(wtp.lan_ip.addr);       // @39328
  w.u32(wtp.lan_ip.prefixlen);  // @39332
  w.u32(wtp.lan_dhcp.low);      // @39336
  w.u32(wtp.lan_dhcp.high);     // @39340
  w.u32(wtp.lan_dhcp.lease);    // @39344
  w.u32(wtp.n2n.addr);          // @39348
  w.u16(wtp.n2n.port);          // @39352
  w.zeros(2);
  for (uint32_t dns : wtp.dns) w.u32(dns);  // @39356
  w.u8(wtp.led_quiet);          // @39372
  w.seek(39376);
  w.u32(wtp.lan_vlan);          // @39376; 39380 profile reference is runtime
  w.seek(39384);
  w.u8(wtp.vap_profile_num);    // @39384
  w.u8(wtp.antenna_external);   // @39385
  w.u8(wtp.mesh_role);          // @39386
  w.u8(wtp.mesh_id);            // @39387
  w.u8(wtp.mesh_data_path);     // @39388
  w.u8(wtp.anti_attack);        // @39389
  w.u8(wtp.tpc);                // @39390
  w.u8(wtp.max_retrans);        // @39391
  for (const auto& port : wtp.lan_port_admin) {  // @39392, 2 bytes each
    w.u8(port.port);
    w.u8(port.enabled);
  }
  for (const auto& port : wtp.lan_port_vlan) {  // @39400, 4 bytes each
    w.u8(port.port);
    w.zeros(1);
    w.u16(port.vlan);
  }
  w.seek(39460);
  w.u32(wtp.board_vendor_id);   // @39460
}

// --- Decoding helpers ------------------------------------------------------

// Text of a NUL-padded field (up to the first NUL or the field's end).
std::string GetText(HostReader& r, size_t n) {
  ByteView field;
  if (!r.view(n, field)) return {};
  size_t len = 0;
  while (len < n && field[len]) ++len;
  return std::string(reinterpret_cast<const char*>(field.data()), len);
}

void GetAddr(HostReader& r, CW_ADDR& a) {
  r.u8(a.family);
  r.skip(3);
  r.u32(a.ifindex);
  r.u32(a.local_ipv4);
  r.bytes(a.addr.data(), a.addr.size());
  r.u16(a.port);
  r.skip(2);
}

void GetDescriptor(HostReader& r, WtpDescriptor& d) {
  r.u8(d.max_radios);
  r.u8(d.radios_in_use);
  r.u8(d.num_encrypt);
  r.u8(d.encrypt_wbid);
  r.u16(d.encrypt_caps);
  r.bytes(d.hw_version.data(), kVersionSize);
  r.bytes(d.sw_version.data(), kVersionSize);
  r.bytes(d.boot_version.data(), kVersionSize);
  r.bytes(d.other_version.data(), kVersionSize);
  r.skip(32);
}

void GetRdBind(HostReader& r, RadioBinding& rb) {
  r.u32(rb.idle_timeout);
  r.u32(rb.radio_count);
  for (RadioBindingRadio& radio : rb.radios) {
    r.u32(radio.radio_id);
    r.skip(kRadioSlotSize - 4);
  }
}

bool GetBlock(HostReader& r, capwap::Bytes& block) {
  ByteView data;
  uint32_t len = 0;
  if (!r.view(kBlockMax, data) || !r.u32(len) || len > kBlockMax) return false;
  block.assign(data.begin(), data.begin() + len);
  return true;
}

// Positions the reader at an absolute offset at or after the current one.
bool Seek(HostReader& r, size_t offset) {
  return offset >= r.pos() && r.skip(offset - r.pos());
}

void GetHead(HostReader& r, CW_WTPCB& wtp) {
  uint32_t list_key = 0;
  Seek(r, 56);
  r.u32(list_key);
  if (!wtp.id_link.Linked()) wtp.id_link.key = list_key;
  r.u32(wtp.apid);
  r.u32(wtp.group_id);
  Seek(r, 72);
  GetAddr(r, wtp.local);
  r.bytes(wtp.mac.data(), 6);
  wtp.name = GetText(r, 33);
  wtp.description = GetText(r, 64);
  Seek(r, 208);
  r.u32(wtp.state);
  GetAddr(r, wtp.data_end);
  GetAddr(r, wtp.remote);
  r.u8(wtp.auto_created);
  r.u8(wtp.discovered);
  r.u8(wtp.priority);
  Seek(r, 280);
  r.u16(wtp.capability);
  r.u8(wtp.wait_rdbind);
  r.u8(wtp.session_flag);
  Seek(r, 288);
  r.u8(wtp.req_seq);
  r.u8(wtp.last_rcv_seq);
  r.u8(wtp.prev_rcv_seq);
  wtp.serial = GetText(r, 33);
  Seek(r, 328);
  r.bytes(wtp.session_id.data(), 16);
}

void GetSessionArea(HostReader& r, CW_WTPCB& wtp) {
  Seek(r, 8592);
  r.u32(wtp.static_ip.addr);
  r.u32(wtp.static_ip.mask);
  r.u32(wtp.static_ip.gateway);
  r.u32(wtp.static_ip.is_static);
  Seek(r, 8633);
  wtp.model = GetText(r, 32);
  Seek(r, 8668);
  r.bytes(wtp.image_id.data(), wtp.image_id.size());
  Seek(r, 8784);
  r.u8(wtp.image_downloading);
  Seek(r, 8788);
  r.u32(wtp.image_size);
  r.u32(wtp.image_sent);
  wtp.image_path = GetText(r, 64);
  Seek(r, 8876);
  GetDescriptor(r, wtp.descriptor);
  r.u16(wtp.discovery_interval);
  r.u16(wtp.echo_interval);
  r.u16(wtp.retrans_interval);
  r.u16(wtp.stats_interval);
  Seek(r, 9184);
  r.bytes(wtp.location.data(), wtp.location.size());
  GetRdBind(r, wtp.rdbind);
  for (auto& entry : wtp.bssid_table) {
    r.u8(entry.radio_id);
    r.bytes(entry.bssid.data(), 6);
  }
  Seek(r, 9696);
  r.u32(wtp.master_status);
  r.u32(wtp.rdbind_notify_result);
  r.bytes(wtp.radio_states.data(), wtp.radio_states.size());
}

bool GetPeerBlocks(HostReader& r, CW_WTPCB& wtp) {
  ByteView tunnel;
  if (!r.view(kTunnelRecordSize, tunnel) || !TunnelRecordDecode(tunnel, &wtp.tunnel)) {
    return false;
  }
  r.u8(wtp.wait_wrrm);
  if (!GetBlock(r, wtp.wrrm_block)) return false;
  r.u32(wtp.creation_time);
  r.u32(wtp.online_tick);
  r.u8(wtp.wait_wids);
  if (!GetBlock(r, wtp.wids_block)) return false;
  Seek(r, 26248);
  r.u8(wtp.concurrency_flag);
  return r.ok();
}

void GetConfigTail(HostReader& r, CW_WTPCB& wtp) {
  Seek(r, 39284);
  r.u8(wtp.normal_collect);
  r.u8(wtp.rt_collect);
  Seek(r, 39304);
  r.u32(wtp.lan_ip_inherited.addr);
  r.u32(wtp.lan_ip_inherited.prefixlen);
  Seek(r, 39328);
  r.u32(wtp.lan_ip.addr);
  r.u32(wtp.lan_ip.prefixlen);
  r.u32(wtp.lan_dhcp.low);
  r.u32(wtp.lan_dhcp.high);
  r.u32(wtp.lan_dhcp.lease);
  r.u32(wtp.n2n.addr);
  r.u16(wtp.n2n.port);
  r.skip(2);
  for (uint32_t& dns : wtp.dns) r.u32(dns);
  r.u8(wtp.led_quiet);
  Seek(r, 39376);
  r.u32(wtp.lan_vlan);
  Seek(r, 39384);
  r.u8(wtp.vap_profile_num);
  r.u8(wtp.antenna_external);
  r.u8(wtp.mesh_role);
  r.u8(wtp.mesh_id);
  r.u8(wtp.mesh_data_path);
  r.u8(wtp.anti_attack);
  r.u8(wtp.tpc);
  r.u8(wtp.max_retrans);
  for (auto& port : wtp.lan_port_admin) {
    r.u8(port.port);
    r.u8(port.enabled);
  }
  for (auto& port : wtp.lan_port_vlan) {
    r.u8(port.port);
    r.skip(1);
    r.u16(port.vlan);
  }
  Seek(r, 39460);
  r.u32(wtp.board_vendor_id);
}

// Reads every imaged field; false when a length or the tunnel record is bad.
bool GetFields(ByteView record, CW_WTPCB& wtp) {
  HostReader r(record);
  GetHead(r, wtp);
  GetSessionArea(r, wtp);
  if (!GetPeerBlocks(r, wtp)) return false;
  GetConfigTail(r, wtp);
  return r.done();
}

bool PlausibleFields(const CW_WTPCB& wtp) {
  return wtp.apid >= 1 && wtp.apid <= kMaxApId && wtp.state <= kStateReset &&
         wtp.name.size() <= kWtpNameMax && wtp.serial.size() <= 32 && wtp.local.family <= 1 &&
         wtp.data_end.family <= 1 && wtp.remote.family <= 1;
}

}  // namespace

void EncodeWtpRecord(const CW_WTPCB& wtp, uint8_t out[kWtpRecordSize]) {
  HostWriter w(out, kWtpRecordSize);
  PutHead(w, wtp);
  PutSessionArea(w, wtp);
  PutPeerBlocks(w, wtp);
  PutConfigTail(w, wtp);
  // Every offset above is fixed: ending anywhere but the record's end is a
  // bug in this encoder.
  assert(w.ok() && w.size() == kWtpRecordSize);
}

bool DecodeWtpRecord(ByteView record, CW_WTPCB* wtp) {
  if (!wtp || record.size() != kWtpRecordSize) return false;
  // Decode into a scratch block and accept the image only when encoding that
  // block gives the same bytes back: padding, runtime areas and string tails
  // must be zero, so the target is filled only from a well-formed image.
  auto scratch = std::make_unique<CW_WTPCB>();
  if (!GetFields(record, *scratch) || !PlausibleFields(*scratch)) return false;
  auto again = std::make_unique<uint8_t[]>(kWtpRecordSize);
  EncodeWtpRecord(*scratch, again.get());
  if (!std::equal(record.begin(), record.end(), again.get())) return false;
  return GetFields(record, *wtp);
}

std::optional<std::array<uint8_t, 6>> WtpRecordMac(ByteView record) {
  HostReader r(record);
  std::array<uint8_t, 6> mac{};
  if (!r.skip(104) || !r.bytes(mac.data(), mac.size())) return std::nullopt;
  return mac;
}
