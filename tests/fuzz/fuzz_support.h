// Helpers shared by the fuzz surfaces.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

#include <netinet/in.h>

#include <initializer_list>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/bytes.h"
#include "platform/log.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/types.h"

// An invariant of the code under test; a violation is a finding.
#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace capwap::fuzz {

// Turns every debug category on and discards the lines, so the diagnostic
// paths format hostile data too without flooding the fuzzer's output.
// Keep one for the life of the process.
class QuietDebugLog {
 public:
  QuietDebugLog() { g_ulCwDebugBitmap = kDbgAll; }

 private:
  LogCapture capture_{[](int, std::string_view) {}};
};

// A received control message of `type` (sequence number 1) holding exactly
// `elements`, from 127.0.0.1:port to 127.0.0.1.
inline CW_RCVPKT Received(uint32_t type, ByteView elements, uint16_t port) {
  CW_RCVPKT rcv;
  rcv.buffer.resize(kCwHeadersLen + elements.size());  // exactly the datagram
  WireWriter w(rcv.buffer.data(), rcv.buffer.size());
  w.u32(2u << 19);
  w.u32(0);
  w.u32(type);
  w.u8(1);
  w.u16(static_cast<uint16_t>(elements.size()));
  w.u8(0);
  w.bytes(elements);
  rcv.length = static_cast<uint32_t>(rcv.buffer.size());
  rcv.msg_type = type;
  rcv.seq = 1;
  rcv.remote.SetIpv4(0x7F000001);
  rcv.remote.port = port;
  rcv.local.SetIpv4(0x7F000001);
  return rcv;
}

// An AP model named `name` with one radio per entry of `modes`.
inline void StoreModel(const char* name, std::initializer_list<uint8_t> modes) {
  CW_APMODEL model;
  model.name = name;
  model.radio_count = static_cast<uint8_t>(modes.size());
  size_t r = 0;
  for (uint8_t m : modes) model.radios[r++].modes = m;
  FUZZ_CHECK(ApModelStore(model) == 0);
}

// A fresh session table holding one AP of `model` in `state`, served on
// loopback and bound to 127.0.0.1:port, where nobody listens.
inline CW_WTPCB* LoneSession(const char* model, uint32_t apid, uint32_t state,
                             uint16_t port = 41999) {
  WtpTableReset();
  FUZZ_CHECK(CW_AC_WtpTableInit() == 0);
  CW_WTPCB* wtp = CW_AC_CreateWTP(model, apid, "", 0);
  FUZZ_CHECK(wtp != nullptr);
  wtp->state = state;
  wtp->master_status = 1;
  wtp->local.SetIpv4(INADDR_LOOPBACK);
  wtp->local.ifindex = 1;
  CW_ADDR remote;
  remote.SetIpv4(INADDR_LOOPBACK);
  remote.port = port;
  CW_AC_AddWTPByIP(remote, wtp);
  return wtp;
}

// Descriptors open in this process: an input that ends with more than it
// started with leaked one.
inline size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

// A non-blocking stream client of the target: what the socket does not take
// at once is dropped (the peer's back-pressure is part of the input).
class StreamClient {
 public:
  StreamClient() = default;
  ~StreamClient() { Close(); }
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  // Connects to addr without waiting (closing a previous connection);
  // false when refused (a full backlog refuses a Unix stream connect).
  bool Connect(int family, const sockaddr* addr, socklen_t len) {
    Close();
    fd_ = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || (connect(fd_, addr, len) != 0 && errno != EINPROGRESS)) Close();
    return fd_ >= 0;
  }
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }
  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Write(const uint8_t* data, size_t len) {
    if (fd_ >= 0 && len > 0) send(fd_, data, len, MSG_NOSIGNAL);
  }
  // Reads at most max bytes that are waiting, appending them to out; false
  // once the peer has closed.
  bool Read(size_t max, std::string* out = nullptr) {
    char buf[4096];
    while (fd_ >= 0 && max > 0) {
      ssize_t n = recv(fd_, buf, std::min(max, sizeof buf), MSG_DONTWAIT);
      if (n == 0) return false;
      if (n < 0) return true;
      if (out) out->append(buf, static_cast<size_t>(n));
      max -= static_cast<size_t>(n);
    }
    return true;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace capwap::fuzz
