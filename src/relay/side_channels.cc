// WRRM and WIDS side channels: one datagram per message, no reply on the
// sending socket.
#include "relay/side_channels.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/fail_inject.h"
#include "platform/ipc.h"
#include "platform/paths.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::HostWriter;

namespace {

constexpr const char* kWidsPath = "/tmp/wids_ac_addr";

constexpr const char* kModulePaths[WRRM_MOD_COUNT] = {
    "/tmp/wmac_ac_addr", "/tmp/wmac_ap_addr", "/tmp/cw_ac_addr",
    "/tmp/cw_ap_addr",   "/tmp/wrrm_ac_addr", "/tmp/wrrm_ap_addr",
};

// Sends one datagram on a fresh non-blocking socket and closes it.
int SendDatagram(const std::string& path, const uint8_t* buf, size_t len) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    fprintf(stderr, "Wrrm_Ipc_Send::path too long: %s\n", path.c_str());
    return 1;
  }
  path.copy(addr.sun_path, path.size());
  int fd = capwap::ShouldFail(capwap::FailFamily::kIpcSend)
               ? -1
               : socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    perror("Wrrm_Ipc_Send::Create socket error!");
    return 1;
  }
  ssize_t sent = sendto(fd, buf, len, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr),
                        sizeof addr);
  if (sent < 0) perror("Wrrm_Ipc_Send::sendto");
  close(fd);
  return sent == static_cast<ssize_t>(len) ? 0 : 1;
}

}  // namespace

void WrrmHeadEncode(const WrrmHead& head, uint8_t out[kWrrmHeadSize]) {
  HostWriter w(out, kWrrmHeadSize);
  w.u8(head.src);        // @0
  w.u8(head.dst);        // @1
  w.u8(head.type);       // @2
  w.u8(0);               // @3
  w.u32(head.data_len);  // @4
  w.u32(head.apid);      // @8
  w.u32(head.radio_id);  // @12
}

bool WrrmHeadDecode(ByteView bytes, WrrmHead* head) {
  HostReader r(bytes);
  WrrmHead h;
  uint8_t zero = 0;
  r.u8(h.src);
  r.u8(h.dst);
  r.u8(h.type);
  r.u8(zero);
  r.u32(h.data_len);
  r.u32(h.apid);
  r.u32(h.radio_id);
  if (!r.ok()) return false;
  *head = h;
  return true;
}

void WidsHeadEncode(const WidsHead& head, uint8_t out[kWidsHeadSize]) {
  HostWriter w(out, kWidsHeadSize);
  w.u8(head.src);        // @0
  w.u8(head.dst);        // @1
  w.u8(head.type);       // @2
  w.u8(0);               // @3
  w.u32(head.data_len);  // @4
  w.zeros(8);            // @8
  w.u32(head.apid);      // @16
}

bool WidsHeadDecode(ByteView bytes, WidsHead* head) {
  HostReader r(bytes);
  WidsHead h;
  r.u8(h.src);
  r.u8(h.dst);
  r.u8(h.type);
  r.skip(1);
  r.u32(h.data_len);
  r.skip(8);
  r.u32(h.apid);
  if (!r.ok()) return false;
  *head = h;
  return true;
}

int Wrrm_Ipc_Send(WrrmHead head, const uint8_t* data, size_t length) {
  if (head.dst >= WRRM_MOD_COUNT) {
    printf("Wrrm_Ipc_Send::IpcHead Error!\n");
    fflush(stdout);
    return 1;
  }
  size_t used = data ? std::min(length, kWrrmBufSize - kWrrmHeadSize) : 0;
  head.data_len = static_cast<uint32_t>(used);
  Bytes buffer(kWrrmBufSize, 0);
  WrrmHeadEncode(head, buffer.data());
  HostWriter body(buffer.data() + kWrrmHeadSize, used);
  body.bytes(data, used);
  return SendDatagram(capwap::RootPath(kModulePaths[head.dst]), buffer.data(),
                      kWrrmHeadSize + used);
}

int Wrrm_Ac_Ipc_Notify_ApReport(const uint8_t* data, size_t length, uint32_t apid,
                                uint32_t radio_id) {
  WrrmHead head;
  head.dst = WRRM_MOD_WRRM_AC;
  head.type = WRRM_MSG_AP_REPORT;
  head.apid = apid;
  head.radio_id = radio_id;
  return Wrrm_Ipc_Send(head, data, length);
}

namespace {

int WidsSend(lib_globals* ctx, uint8_t type, const uint8_t* data, size_t length,
             uint32_t apid) {
  size_t used = data ? std::min(length, kWidsBufSize - kWidsHeadSize) : 0;
  WidsHead head;
  head.type = type;
  head.data_len = static_cast<uint32_t>(used);
  head.apid = apid;
  Bytes buffer(kWidsBufSize, 0);
  WidsHeadEncode(head, buffer.data());
  HostWriter body(buffer.data() + kWidsHeadSize, used);
  body.bytes(data, used);
  if (IPC_SocketSend(ctx, kWidsPath, buffer.data(), kWidsHeadSize + used) < 0) {
    perror("WIDS_Ac_Ipc_Send::send error!");
    return 1;
  }
  return 0;
}

}  // namespace

int WIDS_Ac_Ipc_GetCfg(lib_globals* ctx, uint32_t apid) {
  return WidsSend(ctx, WIDS_MSG_GET_CFG, nullptr, 0, apid);
}

int WIDS_Ac_Ipc_WIDSReport(lib_globals* ctx, const uint8_t* data, size_t length,
                           uint32_t apid) {
  return WidsSend(ctx, WIDS_MSG_REPORT, data, length, apid);
}
