#include "peer-sim/peer_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/paths.h"
#include "platform/thread.h"
#include "relay/side_channels.h"
#include "relay/wmac.h"
#include "transport/elements.h"

namespace capwap::sim {

namespace {

constexpr const char* kWmacPath = "/tmp/wmac_ac_addr";
constexpr const char* kWrrmPath = "/tmp/wrrm_ac_addr";
constexpr const char* kWidsPath = "/tmp/wids_ac_addr";
constexpr const char* kAcPath = "/tmp/cw_ac_addr";

// Answer types on the AC's listener.
constexpr uint32_t kGetRdBind = 3;
constexpr uint32_t kWrrmScan = 16;
constexpr uint32_t kWidsConfig = 25;

// A notification larger than this is a broken stream: the connection goes.
constexpr uint32_t kMaxNotification = 1u << 20;
constexpr size_t kReadChunk = 65536;
constexpr int kWriteWaitMs = 200;

bool FillUnixAddr(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  path.copy(addr->sun_path, path.size());
  return true;
}

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// One Vendor Specific Payload element: vendor id, element id, length,
// value.
Bytes VendorElement(uint32_t vendor_id, uint16_t element_id, ByteView value) {
  Bytes out(4 + 8 + value.size());
  WireWriter w(out);
  w.u16(capwap::elem::kVendorSpecificPayload);
  w.u16(static_cast<uint16_t>(8 + value.size()));
  w.u32(vendor_id);
  w.u16(element_id);
  w.u16(static_cast<uint16_t>(value.size()));
  w.bytes(value);
  return out;
}

}  // namespace

const char* PeerName(Peer peer) {
  switch (peer) {
    case Peer::kWmac:
      return "WMAC";
    case Peer::kWrrm:
      return "WRRM";
    case Peer::kWids:
      return "WIDS";
  }
  return "?";
}

const char* NotificationName(uint32_t type) {
  switch (type) {
    case 0: return "ADD-WTP";
    case 1: return "DELETE-WTP";
    case 3: return "RADIO-BINDING";
    case 8: return "DELETE-STA";
    case 11: return "RADIO-STATE";
    case 12: return "TUNNEL-STATE";
    case 23: return "BAND-STEER";
    case 24: return "STA-IP";
    case 30: return "SET-BSSID";
    case 31: return "AP-NAME";
    case 38: return "STA-SCAN-REPORT";
    case 43: return "AC-CAPABILITY";
    case 58: return "MEDIA-REPORT";
    case 59: return "WIRELESS-CONNECTION";
    case 63: return "AP-INFO";
    case 64: return "APM-PROFILE";
    case 65: return "APM-PROFILE-UPDATE";
    case 66: return "AP-RADIO-INFO";
    case 71: return "WAPI-DATA";
    case 73: return "WAPI-CLIENT";
    case 89: return "STA-SYNC";
    case 93: return "DELETE-SPECIFIC-STA";
    case 94: return "AUTO-CHANNEL";
    case 97: return "DNS-INFO";
    case 112: return "MESH-INFO";
    case 115: return "AP-SERIAL";
    default: return "UNKNOWN";
  }
}

const char* AnswerName(uint32_t type) {
  switch (type) {
    case 1: return "DEL-WTP";
    case 2: return "SET-RDBIND";
    case 3: return "GET-RDBIND";
    case 16: return "WRRM-SCAN";
    case 25: return "WIDS-CONFIG";
    case 28: return "MANAGEMENT-FRAME";
    case 32: return "ADD-AP-GROUP";
    case 33: return "DEL-AP-GROUP";
    case 34: return "ADD-AP-TO-GROUP";
    case 35: return "REMOVE-AP-FROM-GROUP";
    case 43: return "GET-AC-CAPABILITY";
    case 76: return "AP-STATUS-REQUEST";
    default: return "UNKNOWN";
  }
}

Bytes DefaultWrrmScanElements(uint32_t vendor_id) {
  // Scan settings: enabled, background mode, interval 300 s.
  const uint8_t value[4] = {1, 0, 0x01, 0x2C};
  return VendorElement(vendor_id, 20, ByteView(value, sizeof value));
}

Bytes DefaultWidsConfigElements(uint32_t vendor_id) {
  // Intrusion detection: enabled, level 1, report interval 60 s.
  const uint8_t value[4] = {1, 1, 0x00, 0x3C};
  return VendorElement(vendor_id, 21, ByteView(value, sizeof value));
}

PeerSim::PeerSim(thread_master* master, PeerSimOptions options)
    : master_(master), options_(std::move(options)) {}

PeerSim::~PeerSim() { Stop(); }

void PeerSim::Log(const char* fmt, ...) {
  if (!options_.log) return;
  char line[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  options_.log(line);
}

int PeerSim::Start() {
  wmac_stalled_ = options_.stall_wmac_after == 0u;
  if (OpenListener() != 0) return 1;
  if (OpenDatagram(kWrrmPath, &wrrm_fd_, &wrrm_event_, OnWrrmRead) != 0) return 1;
  if (OpenDatagram(kWidsPath, &wids_fd_, &wids_event_, OnWidsRead) != 0) return 1;
  return 0;
}

int PeerSim::OpenListener() {
  std::string path = RootPath(kWmacPath);
  sockaddr_un addr;
  MakeParentDirs(path);
  unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || !FillUnixAddr(path, &addr) ||
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    Log("WMAC  cannot listen on %s: %s", path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return 1;
  }
  listen_fd_ = fd;
  bound_paths_.push_back(path);
  thread_add_read(master_, OnAccept, this, fd, &listen_event_);
  return 0;
}

int PeerSim::OpenDatagram(const char* abs_path, int* fd_out, thread** event,
                          int (*reader)(thread*)) {
  std::string path = RootPath(abs_path);
  sockaddr_un addr;
  MakeParentDirs(path);
  unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || !FillUnixAddr(path, &addr) ||
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Log("cannot bind %s: %s", path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return 1;
  }
  *fd_out = fd;
  bound_paths_.push_back(path);
  thread_add_read(master_, reader, this, fd, event);
  return 0;
}

void PeerSim::Stop() {
  thread_cancel(listen_event_);
  thread_cancel(wrrm_event_);
  thread_cancel(wids_event_);
  thread_cancel(delay_event_);
  delayed_.clear();
  for (Tail& tail : tails_) {
    thread_cancel(tail.event);
    tail.bytes.clear();
  }
  while (!wmac_connections_.empty()) CloseWmacConnection(wmac_connections_.begin()->first);
  for (int* fd : {&listen_fd_, &wrrm_fd_, &wids_fd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  for (int& fd : ac_fd_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  for (const std::string& path : bound_paths_) unlink(path.c_str());
  bound_paths_.clear();
}

size_t PeerSim::CountReceived(Peer peer, uint32_t type) const {
  size_t n = 0;
  for (const PeerMessage& m : received_) n += (m.peer == peer && m.type == type);
  return n;
}

size_t PeerSim::CountAnswered(Peer peer, uint32_t type) const {
  size_t n = 0;
  for (const PeerAnswer& a : answered_) n += (a.peer == peer && a.type == type);
  return n;
}

const PeerMessage* PeerSim::LastReceived(Peer peer, uint32_t type) const {
  for (auto it = received_.rbegin(); it != received_.rend(); ++it) {
    if (it->peer == peer && it->type == type) return &*it;
  }
  return nullptr;
}

void PeerSim::ClearHistory() {
  received_.clear();
  answered_.clear();
}

// --- WMAC: the notification stream --------------------------------------

int PeerSim::OnAccept(thread* t) {
  auto* self = static_cast<PeerSim*>(THREAD_ARG(t));
  thread_rearm(t);
  int fd = accept4(self->listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return 0;
  self->wmac_connections_[fd];
  self->ArmWmac(fd);
  return 0;
}

void PeerSim::ArmWmac(int fd) {
  Connection& conn = wmac_connections_[fd];
  if (!wmac_stalled_ && !conn.event) thread_add_read(master_, OnWmacRead, this, fd, &conn.event);
}

void PeerSim::StallWmac(bool stalled) {
  if (stalled != wmac_stalled_) Log("WMAC  %s reading", stalled ? "stops" : "resumes");
  wmac_stalled_ = stalled;
  for (auto& [fd, conn] : wmac_connections_) {
    if (stalled) {
      thread_cancel(conn.event);
    } else {
      ArmWmac(fd);
    }
  }
}

void PeerSim::CloseWmacConnection(int fd) {
  auto it = wmac_connections_.find(fd);
  if (it == wmac_connections_.end()) return;
  thread_cancel(it->second.event);
  wmac_connections_.erase(it);
  close(fd);
}

int PeerSim::OnWmacRead(thread* t) {
  auto* self = static_cast<PeerSim*>(THREAD_ARG(t));
  int fd = THREAD_FD(t);
  self->ArmWmac(fd);
  uint8_t chunk[kReadChunk];
  ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    self->CloseWmacConnection(fd);
    return 0;
  }
  if (n < 0) return 0;
  Bytes& pending = self->wmac_connections_[fd].pending;
  pending.insert(pending.end(), chunk, chunk + n);
  self->ParseWmacStream(fd);
  return 0;
}

void PeerSim::ParseWmacStream(int fd) {
  Bytes& pending = wmac_connections_[fd].pending;
  size_t used = 0;
  while (pending.size() - used >= kIpcHeadSize) {
    IpcHead head;
    IpcHeadDecode(ByteView(pending).subspan(used), &head);
    if (head.payload_len > kMaxNotification) {
      Log("WMAC  <- notification of %u bytes refused, connection dropped", head.payload_len);
      CloseWmacConnection(fd);
      return;
    }
    size_t whole = kIpcHeadSize + head.payload_len;
    if (pending.size() - used < whole) break;
    ByteView payload = ByteView(pending).subspan(used + kIpcHeadSize, head.payload_len);
    // The handler may answer and touch the map; copy first.
    Bytes header(pending.begin() + static_cast<long>(used),
                 pending.begin() + static_cast<long>(used + kIpcHeadSize));
    Bytes copy(payload.begin(), payload.end());
    used += whole;
    HandleNotification(head, std::move(header), copy);
    if (!wmac_connections_.count(fd)) return;
  }
  Bytes& rest = wmac_connections_[fd].pending;
  rest.erase(rest.begin(), rest.begin() + static_cast<long>(used));
}

void PeerSim::HandleNotification(const IpcHead& head, Bytes header, ByteView payload) {
  Log("WMAC  <- %s (type %u) wtp %u len %u", NotificationName(head.msg_type), head.msg_type,
      head.wtp_id, head.payload_len);
  received_.push_back(PeerMessage{Peer::kWmac, head.msg_type, head.wtp_id, 0, std::move(header),
                                  Bytes(payload.begin(), payload.end())});
  ++wmac_notifications_;
  if (options_.stall_wmac_after && wmac_notifications_ >= *options_.stall_wmac_after) {
    StallWmac(true);
  }
  if (head.msg_type != WmacMsg::kRdBind) return;
  if (!options_.silent_wmac) {
    Bytes binding = options_.rdbind_override.value_or(Bytes(payload.begin(), payload.end()));
    Answer(PeerAnswer{Peer::kWmac, kGetRdBind, head.wtp_id, std::move(binding)});
  }
  if (!options_.silent_wrrm) {
    Answer(PeerAnswer{Peer::kWrrm, kWrrmScan, head.wtp_id, options_.wrrm_scan_elements});
  }
}

// --- WRRM and WIDS datagrams --------------------------------------------

int PeerSim::OnWrrmRead(thread* t) {
  auto* self = static_cast<PeerSim*>(THREAD_ARG(t));
  thread_rearm(t);
  uint8_t datagram[kWrrmBufSize + 64];
  ssize_t n = recv(self->wrrm_fd_, datagram, sizeof datagram, MSG_DONTWAIT);
  if (n > 0) self->HandleWrrm(ByteView(datagram, static_cast<size_t>(n)));
  return 0;
}

void PeerSim::HandleWrrm(ByteView datagram) {
  WrrmHead head;
  if (!WrrmHeadDecode(datagram, &head)) {
    Log("WRRM  <- short datagram of %zu bytes dropped", datagram.size());
    return;
  }
  ByteView data = datagram.subspan(kWrrmHeadSize);
  const char* name = head.type == WRRM_MSG_AP_REPORT ? "AP-REPORT" : "UNKNOWN";
  Log("WRRM  <- %s (type %u) wtp %u radio %u len %u", name, head.type, head.apid,
      head.radio_id, head.data_len);
  received_.push_back(PeerMessage{Peer::kWrrm, head.type, head.apid, head.radio_id,
                                  Bytes(datagram.begin(), datagram.begin() + kWrrmHeadSize),
                                  Bytes(data.begin(), data.end())});
}

int PeerSim::OnWidsRead(thread* t) {
  auto* self = static_cast<PeerSim*>(THREAD_ARG(t));
  thread_rearm(t);
  Bytes datagram(kWidsBufSize + 64);
  ssize_t n = recv(self->wids_fd_, datagram.data(), datagram.size(), MSG_DONTWAIT);
  if (n > 0) self->HandleWids(ByteView(datagram.data(), static_cast<size_t>(n)));
  return 0;
}

void PeerSim::HandleWids(ByteView datagram) {
  WidsHead head;
  if (!WidsHeadDecode(datagram, &head)) {
    Log("WIDS  <- short datagram of %zu bytes dropped", datagram.size());
    return;
  }
  ByteView data = datagram.subspan(kWidsHeadSize);
  const char* name = head.type == WIDS_MSG_GET_CFG  ? "GET-CONFIG"
                     : head.type == WIDS_MSG_REPORT ? "WIDS-REPORT"
                                                    : "UNKNOWN";
  Log("WIDS  <- %s (type %u) wtp %u len %u", name, head.type, head.apid, head.data_len);
  received_.push_back(PeerMessage{Peer::kWids, head.type, head.apid, 0,
                                  Bytes(datagram.begin(), datagram.begin() + kWidsHeadSize),
                                  Bytes(data.begin(), data.end())});
  if (head.type == WIDS_MSG_GET_CFG && !options_.silent_wids) {
    Answer(PeerAnswer{Peer::kWids, kWidsConfig, head.apid, options_.wids_config_elements});
  }
}

// --- Answers to the AC ---------------------------------------------------

void PeerSim::Answer(PeerAnswer answer) {
  if (options_.delay_ms == 0) {
    Deliver(answer);
    return;
  }
  uint64_t now = thread_master_clock(master_).NowMs();
  delayed_.push_back(Delayed{now + options_.delay_ms, std::move(answer)});
  ArmDelayTimer();
}

void PeerSim::ArmDelayTimer() {
  if (delay_event_ || delayed_.empty()) return;
  uint64_t now = thread_master_clock(master_).NowMs();
  uint64_t due = delayed_.front().due_ms;
  long wait = due > now ? static_cast<long>(due - now) : 0;
  thread_add_timer_msec(master_, OnDelayExpired, this, wait, &delay_event_);
}

int PeerSim::OnDelayExpired(thread* t) {
  auto* self = static_cast<PeerSim*>(THREAD_ARG(t));
  uint64_t now = thread_master_clock(self->master_).NowMs();
  while (!self->delayed_.empty() && self->delayed_.front().due_ms <= now) {
    PeerAnswer answer = std::move(self->delayed_.front().answer);
    self->delayed_.pop_front();
    self->Deliver(answer);
  }
  self->ArmDelayTimer();
  return 0;
}

void PeerSim::Deliver(const PeerAnswer& answer) {
  IpcHead head;
  head.kind = 1;
  head.msg_type = answer.type;
  head.wtp_id = answer.wtp_id;
  if (SendToAc(answer.peer, head, answer.payload)) answered_.push_back(answer);
}

bool PeerSim::SendToAc(Peer peer, uint32_t type, uint32_t wtp_id, ByteView payload) {
  IpcHead head;
  head.kind = 1;
  head.msg_type = type;
  head.wtp_id = wtp_id;
  return SendToAc(peer, head, payload);
}

bool PeerSim::SendToAc(Peer peer, const IpcHead& head_in, ByteView payload) {
  IpcHead head = head_in;
  head.payload_len = static_cast<uint32_t>(payload.size());
  Bytes message(kIpcHeadSize + payload.size());
  IpcHeadEncode(head, message.data());
  HostWriter w(message.data() + kIpcHeadSize, payload.size());
  w.bytes(payload);
  bool ok = Transmit(peer, message);
  Log("%-5s -> %s (type %u) wtp %u len %zu%s", PeerName(peer), AnswerName(head.msg_type),
      head.msg_type, head.wtp_id, payload.size(), ok ? "" : " failed: AC not reachable");
  return ok;
}

bool PeerSim::SendRawToAc(Peer peer, ByteView bytes) { return Transmit(peer, bytes); }

bool PeerSim::Transmit(Peer peer, ByteView bytes) {
  if (options_.split_ms == 0) return WriteToAc(peer, bytes);
  Tail& tail = tails_[static_cast<size_t>(peer)];
  if (tail.event) {
    tail.bytes.insert(tail.bytes.end(), bytes.begin(), bytes.end());
    return true;
  }
  size_t half = bytes.size() / 2;
  if (!WriteToAc(peer, bytes.first(half))) return false;
  tail.self = this;
  tail.peer = peer;
  tail.bytes.assign(bytes.begin() + static_cast<long>(half), bytes.end());
  thread_add_timer_msec(master_, OnTailDue, &tail, options_.split_ms, &tail.event);
  return true;
}

int PeerSim::OnTailDue(thread* t) {
  auto* tail = static_cast<Tail*>(THREAD_ARG(t));
  Bytes bytes = std::move(tail->bytes);
  tail->bytes.clear();
  if (!tail->self->WriteToAc(tail->peer, bytes)) {
    tail->self->Log("%-5s -> second half of %zu bytes failed: AC not reachable",
                    PeerName(tail->peer), bytes.size());
  }
  return 0;
}

void PeerSim::DisconnectFromAc(Peer peer) {
  int& fd = ac_fd_[static_cast<size_t>(peer)];
  if (fd >= 0) close(fd);
  fd = -1;
}

namespace {

int ConnectTo(const std::string& path) {
  sockaddr_un addr;
  if (!FillUnixAddr(path, &addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  SetNonBlocking(fd);
  return fd;
}

// Writes everything, waiting a bounded time whenever the socket is full.
bool WriteAll(int fd, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, kWriteWaitMs) > 0) continue;
    }
    return false;
  }
  return true;
}

}  // namespace

bool PeerSim::WriteToAc(Peer peer, ByteView bytes) {
  int& fd = ac_fd_[static_cast<size_t>(peer)];
  // A cached connection the AC has closed fails once; reconnect and retry.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (fd < 0) fd = ConnectTo(RootPath(kAcPath));
    if (fd < 0) return false;
    if (WriteAll(fd, bytes)) return true;
    close(fd);
    fd = -1;
  }
  return false;
}

}  // namespace capwap::sim
