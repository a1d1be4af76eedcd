// Fixture of the registry tests: a daemon context with the database open,
// the registry tables made, every debug category on, and a stand-in WMAC
// listening on its Unix stream socket so the notifications can be read back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/bytes.h"
#include "platform/cli.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"

namespace capwap::test {

struct WmacMessage {
  IpcHead head;
  Bytes payload;
};

// WMAC's end of "/tmp/wmac_ac_addr": accepts the daemon's cached connection
// and splits what arrived into messages.
class WmacPeer {
 public:
  WmacPeer() {
    std::string path = RootPath("/tmp/wmac_ac_addr");
    MakeParentDirs(path);
    unlink(path.c_str());
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    EXPECT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path;
    EXPECT_EQ(listen(listen_fd_, 8), 0);
  }
  ~WmacPeer() {
    for (int fd : conns_) close(fd);
    if (listen_fd_ >= 0) close(listen_fd_);
  }
  WmacPeer(const WmacPeer&) = delete;
  WmacPeer& operator=(const WmacPeer&) = delete;

  // Every complete message received since the last call.
  std::vector<WmacMessage> Drain() {
    for (int fd; (fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      conns_.push_back(fd);
    }
    uint8_t chunk[4096];
    for (int fd : conns_) {
      for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        pending_.insert(pending_.end(), chunk, chunk + n);
      }
    }
    std::vector<WmacMessage> out;
    size_t at = 0;
    while (pending_.size() - at >= kIpcHeadSize) {
      WmacMessage msg;
      if (!IpcHeadDecode(ByteView(pending_).subspan(at, kIpcHeadSize), &msg.head)) break;
      size_t need = kIpcHeadSize + msg.head.payload_len;
      if (pending_.size() - at < need) break;
      msg.payload.assign(pending_.begin() + at + kIpcHeadSize, pending_.begin() + at + need);
      out.push_back(std::move(msg));
      at += need;
    }
    pending_.erase(pending_.begin(), pending_.begin() + at);
    return out;
  }
  // Messages of one type from a fresh drain.
  std::vector<WmacMessage> DrainType(uint32_t type) {
    std::vector<WmacMessage> out;
    for (auto& msg : Drain()) {
      if (msg.head.msg_type == type) out.push_back(std::move(msg));
    }
    return out;
  }

 private:
  int listen_fd_ = -1;
  std::vector<int> conns_;
  Bytes pending_;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;  // the model every test AP is created with
    model.name = "model-x";
    model.radio_count = 1;
    model.radios[0].modes = 1;
    ASSERT_EQ(ApModelStore(model), 0);
    WMAC_AC_IPC_SetZg(lab_.ctx());
    g_ulCwDebugBitmap = kDbgAll;
    lib_set_start_complete(false);
  }
  void TearDown() override {
    lib_set_start_complete(false);
    ResetAllGlobals();
    WmacIpcReset();
  }

  // A configured AP (not auto-created) with the given name.
  CW_WTPCB* Make(const std::string& name = "", uint32_t apid = 0xFFFFFFFFu) {
    CW_WTPCB* wtp = CW_AC_CreateWTP("model-x", apid, name, 0);
    EXPECT_NE(wtp, nullptr);
    return wtp;
  }
  static Bytes ApKey(uint32_t apid) {
    Bytes key(4);
    HostWriter(key.data(), key.size()).u32(apid);
    return key;
  }

  DaemonContext lab_;
  WmacPeer wmac_;
};

// Host-order fields of a record, for offset checks.
inline uint32_t U32At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 4));
  uint32_t v = 0;
  r.u32(v);
  return v;
}
inline uint16_t U16At(ByteView rec, size_t off) {
  HostReader r(rec.subspan(off, 2));
  uint16_t v = 0;
  r.u16(v);
  return v;
}
inline std::string TextAt(ByteView rec, size_t off, size_t width) {
  std::string text(reinterpret_cast<const char*>(rec.data() + off), width);
  return text.substr(0, text.find('\0'));
}

}  // namespace capwap::test
