#include "side-sim/side_sim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "export/apm.h"
#include "platform/paths.h"
#include "platform/thread.h"

namespace capwap::sim {

namespace {

constexpr size_t kReadChunk = 64 * 1024;

bool UnixAddress(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A bound socket of `type` at the path under CAPWAP_ROOT, or -1.
int BindUnix(const std::string& abs_path, int type) {
  const std::string path = RootPath(abs_path);
  sockaddr_un addr;
  if (!UnixAddress(path, &addr)) return -1;
  MakeParentDirs(path);
  unlink(path.c_str());
  const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      (type == SOCK_STREAM && listen(fd, 8) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ConmSim::ConmSim(thread_master* master, std::string service,
                 std::function<void(std::string_view)> log)
    : master_(master), service_(std::move(service)), log_(std::move(log)) {}

ConmSim::~ConmSim() { Stop(); }

int ConmSim::Start() {
  const std::string stream_path = ConmPublishPath(service_);
  const std::string datagram_path = ConmRegisterPath(service_);
  listen_fd_ = BindUnix(stream_path, SOCK_STREAM);
  datagram_fd_ = BindUnix(datagram_path, SOCK_DGRAM);
  if (listen_fd_ < 0 || datagram_fd_ < 0) {
    if (log_) log_("CONM  cannot bind " + stream_path + " / " + datagram_path);
    Stop();
    return 1;
  }
  bound_paths_ = {RootPath(stream_path), RootPath(datagram_path)};
  thread_add_read(master_, OnAccept, this, listen_fd_, &listen_event_);
  thread_add_read(master_, OnDatagram, this, datagram_fd_, &datagram_event_);
  return 0;
}

void ConmSim::Stop() {
  thread_cancel(listen_event_);
  thread_cancel(datagram_event_);
  while (!connections_.empty()) CloseConnection(connections_.begin()->first);
  for (int* fd : {&listen_fd_, &datagram_fd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  for (const std::string& path : bound_paths_) unlink(path.c_str());
  bound_paths_.clear();
}

std::vector<const ConmPublication*> ConmSim::On(std::string_view topic_prefix) const {
  std::vector<const ConmPublication*> out;
  for (const ConmPublication& p : published_) {
    if (p.topic.starts_with(topic_prefix)) out.push_back(&p);
  }
  return out;
}

int ConmSim::OnAccept(thread* t) {
  auto* self = static_cast<ConmSim*>(THREAD_ARG(t));
  thread_add_read(self->master_, OnAccept, self, self->listen_fd_, &self->listen_event_);
  const int fd = accept4(self->listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return 0;
  Connection& c = self->connections_[fd];
  thread_add_read(self->master_, OnStream, self, fd, &c.event);
  return 0;
}

int ConmSim::OnStream(thread* t) {
  auto* self = static_cast<ConmSim*>(THREAD_ARG(t));
  const int fd = THREAD_FD(t);
  Connection& c = self->connections_[fd];
  thread_add_read(self->master_, OnStream, self, fd, &c.event);
  Bytes chunk(kReadChunk);
  const ssize_t n = recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    self->CloseConnection(fd);
    return 0;
  }
  if (n < 0) return 0;
  c.pending.insert(c.pending.end(), chunk.begin(), chunk.begin() + n);
  for (;;) {
    ConmPublication publication;
    size_t used = 0;
    const ConmDecode result = ConmPublishDecode(c.pending, &publication, &used);
    if (result == ConmDecode::kNeedMore) break;
    if (result == ConmDecode::kBad) {
      ++self->bad_streams_;
      if (self->log_) self->log_("CONM  bad publication framing; connection closed");
      self->CloseConnection(fd);
      return 0;
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<long>(used));
    if (self->log_) self->log_(publication.topic + " " + publication.payload);
    self->published_.push_back(std::move(publication));
  }
  return 0;
}

int ConmSim::OnDatagram(thread* t) {
  auto* self = static_cast<ConmSim*>(THREAD_ARG(t));
  thread_add_read(self->master_, OnDatagram, self, self->datagram_fd_, &self->datagram_event_);
  uint8_t buf[kConmRegisterSize + 1];
  const ssize_t n = recv(self->datagram_fd_, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0) return 0;
  auto reg = ConmRegisterDecode(ByteView(buf, static_cast<size_t>(n)));
  if (!reg) {
    if (self->log_) self->log_("CONM  registration of " + std::to_string(n) + " bytes ignored");
    return 0;
  }
  if (self->log_) self->log_("register " + reg->service + " " + reg->topic);
  self->registrations_.push_back(std::move(*reg));
  return 0;
}

void ConmSim::CloseConnection(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  thread_cancel(it->second.event);
  close(fd);
  connections_.erase(it);
}

bool ApmClient::Connect() {
  Close();
  sockaddr_un addr;
  if (!UnixAddress(RootPath("/tmp/apm_ac_address"), &addr)) return false;
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Close();
    return false;
  }
  return true;
}

bool ApmClient::Write(ByteView bytes) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool ApmClient::Send(uint32_t type, ByteView payload) {
  return Write(ApmEventEncode(type, payload));
}

void ApmClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool SendCmdLine(ByteView datagram) {
  sockaddr_un addr;
  if (!UnixAddress(RootPath("/tmp/wlancfg_capwap_addr"), &addr)) return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t n = sendto(fd, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  close(fd);
  return n == static_cast<ssize_t>(datagram.size());
}

}  // namespace capwap::sim
