// Shared by the Discovery and Join tests: requests written down as
// truncation tables, a controller on loopback UDP over a manual-clock
// daemon context (catalogue, registry, vendor handlers and the two message
// handlers installed), simulated WTP endpoints, and a stand-in WMAC that
// reads back the notifications.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ap_persist.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "fsm/handlers.h"
#include "fsm/vendor_handlers.h"
#include "platform/bytes.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "registry/acinfo.h"
#include "config/images.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "support/truncation.h"
#include "transport/codec.h"
#include "transport/sockets.h"

namespace discjoin_test {

using capwap::Bytes;
using capwap::ByteView;
using capwap::test::Outcome;
using capwap::test::TruncRow;
using capwap::test::TruncTable;
using Mac = std::array<uint8_t, 6>;
using SessionId = std::array<uint8_t, 16>;

inline constexpr uint32_t kVendor = 41414;  // the platform's vendor identifier by default
inline constexpr uint32_t kHdrWord0 = 2u << 19;  // version 0, type 0, HLEN 2

// What a test AP reports about itself.
struct ApSpec {
  Mac mac{0x02, 0x00, 0x00, 0x00, 0x01, 0x01};
  std::string model = "ia-210";
  std::string serial = "SN-0001";
  uint32_t vendor = kVendor;
  std::string hw_version = "A1";
  std::string sw_version = "1.0.0";
  std::string location = "lab";
  std::string name = "wtp-1";
  SessionId session{0x5e, 0x55, 0x10, 0x1d, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  uint32_t master_status = 1;
  uint16_t capability = 0;
};

// --- Tables -----------------------------------------------------------------

// One element: its type and length rows, then `body`. A message that ends
// right after the element takes `after`.
inline TruncTable Elem(uint16_t type, const std::string& label, TruncTable body,
                       Outcome after = Outcome::kFail) {
  const Bytes value = capwap::test::Flatten(body);
  TruncTable rows = {{capwap::test::U16(type), label + ": type"},
                     {capwap::test::U16(static_cast<uint16_t>(value.size())), label + ": length"}};
  rows.insert(rows.end(), body.begin(), body.end());
  rows.back().ends_here = after;
  return rows;
}

// A sub-element of type u16 and length u16.
inline TruncTable Sub(uint16_t type, const std::string& label, const Bytes& value) {
  return {{capwap::test::U16(type), label + ": type"},
          {capwap::test::U16(static_cast<uint16_t>(value.size())), label + ": length"},
          {value, label + ": value"}};
}

inline Bytes MacBytes(const Mac& mac) { return Bytes(mac.begin(), mac.end()); }

inline TruncTable BoardDataBody(const ApSpec& ap) {
  using namespace capwap::test;
  return Concat({{{U32(ap.vendor), "board: vendor"}},
                 Sub(0, "board model", Str(ap.model)),
                 Sub(1, "board serial", Str(ap.serial)),
                 Sub(4, "board mac", MacBytes(ap.mac))});
}

inline TruncTable DescriptorSub(uint16_t type, const std::string& label, const std::string& text) {
  using namespace capwap::test;
  return Concat({{{U32(kVendor), label + ": vendor"}}, Sub(type, label, Str(text))});
}

inline TruncTable DescriptorBody(const ApSpec& ap) {
  using namespace capwap::test;
  return Concat({{{U8(2), "desc: max radios"},
                  {U8(2), "desc: radios in use"},
                  {U8(1), "desc: encryption count"},
                  {U8(1), "desc: wbid"},
                  {U16(0), "desc: encryption caps"}},
                 DescriptorSub(0, "desc hw", ap.hw_version),
                 DescriptorSub(1, "desc sw", ap.sw_version)});
}

inline TruncTable RadioInfo(uint8_t radio, const std::string& label, Outcome after) {
  using namespace capwap::test;
  return Elem(1048, label, {{U8(radio), label + ": id"}, {U32(0x0000000D), label + ": type"}},
              after);
}

// The elements of a well-formed Discovery Request of `ap`.
inline TruncTable DiscoveryTable(const ApSpec& ap) {
  using namespace capwap::test;
  return Concat({Elem(20, "discovery type", {{U8(1), "discovery type: value"}}),
                 Elem(38, "board", BoardDataBody(ap)),
                 Elem(39, "desc", DescriptorBody(ap), Outcome::kPass),
                 RadioInfo(1, "radio1", Outcome::kPass),
                 RadioInfo(2, "radio2", Outcome::kPass)});
}

// The vendor payload of a Join Request: master status and capability bits.
inline TruncTable JoinVendorPayload(const ApSpec& ap, Outcome after) {
  using namespace capwap::test;
  return Elem(37, "vendor",
              Concat({{{U32(ap.vendor), "vendor: id"}},
                      Sub(127, "master status", U32(ap.master_status)),
                      Sub(198, "capability", U16(ap.capability))}),
              after);
}

// The elements of a well-formed Join Request of `ap`. Join requires no
// element, so every element boundary is a complete request.
inline TruncTable JoinTable(const ApSpec& ap) {
  using namespace capwap::test;
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

// --- Datagrams --------------------------------------------------------------

inline Bytes Datagram(uint32_t msg_type, uint8_t seq, ByteView elements) {
  Bytes out(kCwHeadersLen + elements.size());
  capwap::WireWriter w(out.data(), out.size());
  w.u32(kHdrWord0);
  w.u32(0);  // fragment ID and offset
  w.u32(msg_type);
  w.u8(seq);
  w.u16(static_cast<uint16_t>(elements.size()));
  w.u8(0);
  w.bytes(elements);
  return out;
}

inline Bytes ElementBytes(uint16_t type, ByteView value) {
  Bytes out(4 + value.size());
  capwap::WireWriter w(out.data(), out.size());
  w.u16(type);
  w.u16(static_cast<uint16_t>(value.size()));
  w.bytes(value);
  return out;
}

inline Bytes DiscoveryRequest(const ApSpec& ap, uint8_t seq = 9) {
  return Datagram(CW_MSG_DISCOVERY_REQ, seq, capwap::test::Flatten(DiscoveryTable(ap)));
}
inline Bytes JoinRequest(const ApSpec& ap, uint8_t seq = 11) {
  return Datagram(CW_MSG_JOIN_REQ, seq, capwap::test::Flatten(JoinTable(ap)));
}

// A received-datagram record holding exactly the datagram's bytes.
inline CW_RCVPKT RcvOf(ByteView datagram, const CW_ADDR& remote = {}, const CW_ADDR& local = {}) {
  CW_RCVPKT rcv;
  rcv.remote = remote;
  rcv.local = local;
  rcv.buffer.assign(datagram.begin(), datagram.end());
  rcv.length = static_cast<uint32_t>(datagram.size());
  if (datagram.size() >= kCwHeadersLen) {
    CW_CTLHDR ctl;
    CW_DEC_CWCtlHdr(&ctl, datagram.data() + kCwHdrLen);
    rcv.msg_type = ctl.msg_type;
    rcv.seq = ctl.seq;
  }
  return rcv;
}

struct ReceivedMessage {
  CW_CTLHDR ctl;
  std::vector<CwElement> elements;
  bool complete = false;
  Bytes storage;

  const CwElement* Find(uint16_t type) const {
    for (const CwElement& e : elements) {
      if (e.type == type) return &e;
    }
    return nullptr;
  }
  std::vector<uint16_t> Types() const {
    std::vector<uint16_t> types;
    for (const CwElement& e : elements) types.push_back(e.type);
    return types;
  }
};

// Taken apart by the project's codec (storage kept alive by the caller's copy).
inline std::optional<ReceivedMessage> Parse(const Bytes& datagram) {
  if (datagram.size() < kCwHeadersLen) return std::nullopt;
  ReceivedMessage m;
  m.storage = datagram;
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, m.storage.data());
  if (CW_CheckCWHdr(&hdr) != 0) return std::nullopt;
  CW_DEC_CWCtlHdr(&m.ctl, m.storage.data() + kCwHdrLen);
  CwElementWalk walk(ByteView(m.storage).subspan(kCwHeadersLen));
  for (const CwElement& e : walk) m.elements.push_back(e);
  m.complete = walk.complete() && m.ctl.elem_len == m.storage.size() - kCwHeadersLen;
  return m;
}

// --- Endpoints --------------------------------------------------------------

// A UDP endpoint standing for a WTP, on 127.0.0.1 or ::1.
using WtpEndpoint = capwap::test::UdpEndpoint;

// WMAC's end of "/tmp/wmac_ac_addr" under the test root.
class WmacListener {
 public:
  struct Message {
    IpcHead head;
    Bytes payload;
  };
  WmacListener() {
    const std::string path = capwap::RootPath("/tmp/wmac_ac_addr");
    capwap::MakeParentDirs(path);
    unlink(path.c_str());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path;
    EXPECT_EQ(listen(fd_, 4), 0);
  }
  ~WmacListener() {
    for (int fd : conns_) close(fd);
    close(fd_);
  }
  WmacListener(const WmacListener&) = delete;
  WmacListener& operator=(const WmacListener&) = delete;

  std::vector<Message> Drain() {
    for (int fd; (fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) conns_.push_back(fd);
    uint8_t chunk[4096];
    for (int fd : conns_) {
      for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        pending_.insert(pending_.end(), chunk, chunk + n);
      }
    }
    std::vector<Message> out;
    size_t at = 0;
    while (pending_.size() - at >= kIpcHeadSize) {
      Message m;
      if (!IpcHeadDecode(ByteView(pending_).subspan(at, kIpcHeadSize), &m.head)) break;
      const size_t need = kIpcHeadSize + m.head.payload_len;
      if (pending_.size() - at < need) break;
      m.payload.assign(pending_.begin() + static_cast<long>(at + kIpcHeadSize),
                       pending_.begin() + static_cast<long>(at + need));
      out.push_back(std::move(m));
      at += need;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(at));
    return out;
  }

 private:
  int fd_ = -1;
  std::vector<int> conns_;
  Bytes pending_;
};

// The AP name carried by a create-AP notification (model 32, name 33, ...).
inline std::string CreatedName(const Bytes& payload) {
  if (payload.size() < kWmacCreateApSize) return {};
  const char* name = reinterpret_cast<const char*>(payload.data() + 32);
  return std::string(name, strnlen(name, 33));
}

// --- The controller -----------------------------------------------------------

class DiscJoinLab : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ulCwDebugBitmap = CW_DBG_ALL;
    CW_ApModel_Init();
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_CMD_Set_AutoEnable(1);
    g_stCW_AC_GlobalInfo = CW_AC_GLOBALINFO{};
    ImageTableReset();
    ASSERT_EQ(CW_RegisterVendorHandlers(), 0);
    CW_FsmRegisterHandlers();
    WMAC_AC_IPC_SetZg(lab_.ctx());
    ac_port_ = capwap::test::FreePortBase();
    ASSERT_NE(ac_port_, 0);
    g_iAC_IP4SockId = AC_SockIP4Init(INADDR_LOOPBACK, ac_port_);
    ASSERT_GE(g_iAC_IP4SockId, 0);
  }
  void TearDown() override {
    AC_SockClose();
    g_stCW_AC_GlobalInfo = CW_AC_GLOBALINFO{};
    ImageTableReset();
  }

  // Opens the IPv6 control socket (bound to any address) on the lab's port.
  bool OpenIpv6() {
    const char* old = std::getenv("CAPWAP_PORT_BASE");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("CAPWAP_PORT_BASE", std::to_string(ac_port_).c_str(), 1);
    const bool ok = AC_SockIP6Init() == 0;
    if (saved) setenv("CAPWAP_PORT_BASE", saved->c_str(), 1);
    else unsetenv("CAPWAP_PORT_BASE");
    return ok;
  }

  void Deliver(const WtpEndpoint& from, const Bytes& datagram) {
    from.SendTo(ac_port_, datagram);
    lab_.Settle();
  }
  // The one answer the endpoint got (failing when there are more).
  std::optional<ReceivedMessage> OnlyAnswer(const WtpEndpoint& at) {
    std::vector<Bytes> got = at.Drain();
    EXPECT_LE(got.size(), 1u);
    if (got.empty()) return std::nullopt;
    return Parse(got.front());
  }

  // A configured AP (auto flag 0) bound to `mac`.
  CW_WTPCB* ConfiguredAp(const std::string& model, const Mac& mac, uint8_t priority = 4) {
    CW_WTPCB* wtp = CW_AC_CreateWTP(model, 0xFFFFFFFF, "", 0);
    EXPECT_NE(wtp, nullptr);
    if (!wtp) return nullptr;
    wtp->mac = mac;
    wtp->priority = priority;
    CW_AC_AddWTPByMac(mac, wtp);
    return wtp;
  }

  // True when a line containing `text` was written (at `level`, if given).
  // The log drops a line's final newline, so a quoted text's is ignored.
  bool Logged(std::string_view text, int level = -1) const {
    if (text.ends_with('\n')) text.remove_suffix(1);
    for (const LogLine& line : lines_) {
      if (line.text.find(text) != std::string::npos && (level < 0 || line.level == level)) {
        return true;
      }
    }
    return false;
  }
  std::string LogText() const {
    std::string all;
    for (const LogLine& line : lines_) all += std::to_string(line.level) + ":" + line.text + "\n";
    return all;
  }

  struct LogLine {
    int level;
    std::string text;
  };
  capwap::test::DaemonContext lab_;
  std::vector<LogLine> lines_;
  capwap::LogCapture log_{[this](int level, std::string_view text) {
    lines_.push_back(LogLine{level, std::string(text)});
  }};
  WmacListener wmac_;
  uint16_t ac_port_ = 0;
};

}  // namespace discjoin_test
