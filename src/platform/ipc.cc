#include "platform/ipc.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"

using capwap::ByteView;
using capwap::Bytes;

namespace {

constexpr int kListenBacklog = 16;
// Connections taken per wake-up of a listener; the rest wait for the next.
constexpr int kAcceptBurst = 16;
// Bytes moved per recv call.
constexpr size_t kReadChunk = 16 * 1024;

struct Listener {
  lib_globals* ctx = nullptr;
  int fd = -1;
  std::string path;
  thread_func reader = nullptr;
  thread* event = nullptr;
};

// Identity of a socket, so that a descriptor closed behind this layer's back
// (and reused by the kernel) is never closed or written a second time.
struct SocketId {
  dev_t dev = 0;
  ino_t ino = 0;
};

SocketId IdOf(int fd) {
  struct stat st{};
  fstat(fd, &st);
  return SocketId{st.st_dev, st.st_ino};
}

bool SameSocket(int fd, const SocketId& id) {
  struct stat st{};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == id.dev &&
         st.st_ino == id.ino;
}

// An accepted connection and the bytes its reader has not taken yet.
struct Connection {
  SocketId id;
  Bytes inbox;
  size_t taken = 0;  // leading bytes of inbox already consumed

  ByteView Pending() const { return ByteView(inbox).subspan(taken); }
  void Compact() {
    inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(taken));
    taken = 0;
  }
};

// A connection this side opened to a peer's listener, with the messages
// the peer has not taken yet, oldest first.
struct Outgoing {
  lib_globals* ctx = nullptr;
  int fd = -1;
  SocketId id;
  std::string path;
  std::deque<Bytes> unsent;
  size_t front_written = 0;  // bytes of unsent.front() already on the socket
  size_t unsent_bytes = 0;
  thread* write_event = nullptr;
};

}  // namespace

struct ipc_state {
  ipc_state() = default;
  ipc_state(const ipc_state&) = delete;
  ipc_state& operator=(const ipc_state&) = delete;
  ~ipc_state();

  std::vector<std::unique_ptr<Listener>> listeners;
  std::map<int, Connection> connections;
  std::map<int, std::unique_ptr<Outgoing>> outgoing;
};

namespace {

ipc_state& IpcOf(lib_globals* ctx) {
  if (!ctx->ipc) ctx->ipc.reset(std::make_unique<ipc_state>().release());
  return *ctx->ipc;
}

thread_master* MasterOf(lib_globals* ctx) { return ctx ? ctx->master.get() : nullptr; }

// Forgets an outgoing connection: its events, its queue (logged when not
// empty, with `why`) and its descriptor.
void DropOutgoing(ipc_state& ipc, int fd, const char* why) {
  auto it = ipc.outgoing.find(fd);
  if (it == ipc.outgoing.end()) return;
  Outgoing& out = *it->second;
  if (!out.unsent.empty()) {
    zlog_warn(out.ctx, "IPC: %s: %zu unsent messages (%zu bytes) to %s dropped", why,
              out.unsent.size(), out.unsent_bytes, out.path.c_str());
  }
  // The write event is the only one this layer registers on the descriptor.
  thread_cancel(out.write_event);
  if (SameSocket(fd, out.id)) close(fd);
  ipc.outgoing.erase(it);
}

void CloseAll(ipc_state& ipc, thread_master* master) {
  for (auto& listener : ipc.listeners) {
    if (master) thread_cancel_fd(master, listener->fd);
    close(listener->fd);
    unlink(listener->path.c_str());
  }
  ipc.listeners.clear();
  for (const auto& [fd, conn] : ipc.connections) {
    if (!SameSocket(fd, conn.id)) continue;
    if (master) thread_cancel_fd(master, fd);
    close(fd);
  }
  ipc.connections.clear();
  while (!ipc.outgoing.empty()) DropOutgoing(ipc, ipc.outgoing.begin()->first, "stop");
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// The listener socket at `path`, or -1. A socket file left by an earlier run
// is removed; anything else at the path is not touched.
int BindListener(lib_globals* ctx, const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    zlog_err(ctx, "IPC: socket path too long: %s", path.c_str());
    return -1;
  }
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      zlog_err(ctx, "IPC: %s exists and is not a socket", path.c_str());
      return -1;
    }
    unlink(path.c_str());
  }
  if (!capwap::MakeParentDirs(path)) {
    zlog_err(ctx, "IPC: cannot create the folder of %s: %s", path.c_str(), strerror(errno));
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    zlog_err(ctx, "IPC: socket for %s: %s", path.c_str(), strerror(errno));
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fd, kListenBacklog) != 0) {
    zlog_err(ctx, "IPC: cannot listen on %s: %s", path.c_str(), strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

// Arms the reader on a connected descriptor and records it; false (fd
// closed) when the loop cannot watch it.
bool WatchConnection(lib_globals* ctx, int conn_fd, thread_func reader) {
  if (!thread_add_read(MasterOf(ctx), reader, ctx, conn_fd)) {
    close(conn_fd);
    return false;
  }
  IpcOf(ctx).connections[conn_fd] = Connection{IdOf(conn_fd), {}, 0};
  return true;
}

int AcceptReady(thread* t) {
  auto* listener = static_cast<Listener*>(THREAD_ARG(t));
  lib_globals* ctx = listener->ctx;
  if (!thread_rearm(t)) {
    zlog_err(ctx, "IPC: cannot re-arm the listener on %s", listener->path.c_str());
  }
  for (int i = 0; i < kAcceptBurst; ++i) {
    int conn_fd = accept4(listener->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (conn_fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        zlog_err(ctx, "IPC: accept on %s: %s", listener->path.c_str(), strerror(errno));
      }
      break;
    }
    if (!WatchConnection(ctx, conn_fd, listener->reader)) {
      zlog_err(ctx, "IPC: cannot watch a connection on %s, closed it", listener->path.c_str());
    }
  }
  return 0;
}

Connection* FindConnection(lib_globals* ctx, int fd) {
  if (!ctx || !ctx->ipc) return nullptr;
  auto it = ctx->ipc->connections.find(fd);
  return it == ctx->ipc->connections.end() ? nullptr : &it->second;
}

// --- Sending ---------------------------------------------------------------

int ConnectTo(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A Unix stream connect completes at once or fails (EAGAIN: the peer's
  // backlog is full); it never leaves a connection half open.
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Writes what the socket takes now; returns the count, with errno telling
// why it stopped short (EAGAIN: the socket is full).
size_t WriteNow(int fd, const uint8_t* data, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = send(fd, data + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0) errno = EPIPE;
      break;
    }
  }
  return done;
}

bool SocketFull(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

bool StaleConnectionError(int err) {
  return err == EPIPE || err == ECONNRESET || err == ENOTCONN;
}

// Writes queued messages in order until the socket is full or the queue is
// empty. False when the connection failed (errno tells why).
bool Flush(Outgoing& out) {
  while (!out.unsent.empty()) {
    const Bytes& front = out.unsent.front();
    size_t left = front.size() - out.front_written;
    size_t n = WriteNow(out.fd, front.data() + out.front_written, left);
    out.front_written += n;
    out.unsent_bytes -= n;
    if (n < left) return SocketFull(errno);
    out.unsent.pop_front();
    out.front_written = 0;
  }
  return true;
}

int OnWritable(thread* t);

bool ArmWrite(Outgoing& out) {
  if (out.write_event) return true;
  return thread_add_write(MasterOf(out.ctx), OnWritable, &out, out.fd, &out.write_event) !=
         nullptr;
}

int OnWritable(thread* t) {
  auto* out = static_cast<Outgoing*>(THREAD_ARG(t));
  ipc_state& ipc = IpcOf(out->ctx);
  if (!Flush(*out)) {
    zlog_err(out->ctx, "IPC: send to %s failed: %s", out->path.c_str(), strerror(errno));
    DropOutgoing(ipc, out->fd, "connection failed");
    return 0;
  }
  if (!out->unsent.empty() && !ArmWrite(*out)) {
    zlog_err(out->ctx, "IPC: cannot watch the connection to %s", out->path.c_str());
    DropOutgoing(ipc, out->fd, "no write event");
  }
  return 0;
}

// The outgoing connection behind a cached descriptor, or null (the cache
// then reads -1). A number this layer no longer owns is forgotten, never
// closed: it may belong to someone else by now.
Outgoing* CachedConnection(ipc_state& ipc, int* cached_fd, const std::string& path) {
  if (*cached_fd < 0) return nullptr;
  auto it = ipc.outgoing.find(*cached_fd);
  Outgoing* out = it == ipc.outgoing.end() ? nullptr : it->second.get();
  if (out && !SameSocket(out->fd, out->id)) {
    DropOutgoing(ipc, out->fd, "closed elsewhere");
    out = nullptr;
  }
  if (!out || out->path != path) {
    *cached_fd = -1;
    return nullptr;
  }
  return out;
}

Outgoing* OpenOutgoing(lib_globals* ctx, ipc_state& ipc, const std::string& path) {
  int fd = ConnectTo(path);
  if (fd < 0) {
    zlog_err(ctx, "IPC: cannot connect to %s: %s", path.c_str(), strerror(errno));
    return nullptr;
  }
  auto out = std::make_unique<Outgoing>();
  out->ctx = ctx;
  out->fd = fd;
  out->id = IdOf(fd);
  out->path = path;
  Outgoing* raw = out.get();
  DropOutgoing(ipc, fd, "closed elsewhere");  // a stale entry under the reused number
  ipc.outgoing[fd] = std::move(out);
  return raw;
}

// Queues the part of a message the socket did not take. False (connection
// dropped) when that makes the queue too long or the loop cannot watch it.
bool Enqueue(ipc_state& ipc, Outgoing& out, const uint8_t* data, size_t len) {
  if (out.unsent_bytes + len > kIpcSendQueueLimit) {
    zlog_err(out.ctx, "IPC: %s is not reading (%zu bytes unsent), connection dropped",
             out.path.c_str(), out.unsent_bytes);
    DropOutgoing(ipc, out.fd, "peer not reading");
    errno = ENOBUFS;
    return false;
  }
  out.unsent.emplace_back(data, data + len);
  out.unsent_bytes += len;
  if (ArmWrite(out)) return true;
  zlog_err(out.ctx, "IPC: cannot watch the connection to %s", out.path.c_str());
  DropOutgoing(ipc, out.fd, "no write event");
  errno = EIO;
  return false;
}

}  // namespace

ipc_state::~ipc_state() { CloseAll(*this, nullptr); }

void IpcStateDeleter::operator()(ipc_state* ipc) const { std::default_delete<ipc_state>()(ipc); }

int IPC_TcpSocketInit(lib_globals* ctx, const char* path, thread_func reader) {
  if (!ctx || !ctx->master || !path || !reader) {
    zlog_err(ctx, "IPC: listener needs a context with an event loop, a path and a reader");
    return 1;
  }
  std::string full = capwap::RootPath(path);
  int fd = BindListener(ctx, full);
  if (fd < 0) return 1;
  auto listener = std::make_unique<Listener>();
  listener->ctx = ctx;
  listener->fd = fd;
  listener->path = full;
  listener->reader = reader;
  if (!thread_add_read(ctx->master.get(), AcceptReady, listener.get(), fd, &listener->event)) {
    zlog_err(ctx, "IPC: cannot watch the listener on %s", full.c_str());
    close(fd);
    unlink(full.c_str());
    return 1;
  }
  IpcOf(ctx).listeners.push_back(std::move(listener));
  return 0;
}

int IPC_TcpSocketAdopt(lib_globals* ctx, int fd, thread_func reader) {
  if (fd < 0) return 1;
  int flags = fcntl(fd, F_GETFL, 0);
  if (!ctx || !reader || flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    close(fd);
    return 1;
  }
  return WatchConnection(ctx, fd, reader) ? 0 : 1;
}

IpcReceive IPC_Receive(lib_globals* ctx, int fd) {
  Connection* conn = FindConnection(ctx, fd);
  if (!conn) {
    zlog_err(ctx, "IPC: read on descriptor %d, which is no IPC connection", fd);
    return IpcReceive::kClosed;
  }
  conn->Compact();
  if (conn->inbox.size() >= kIpcReceiveLimit) {
    zlog_err(ctx, "IPC: connection %d holds %zu bytes without a whole message", fd,
             conn->inbox.size());
    return IpcReceive::kOverflow;
  }
  uint8_t chunk[kReadChunk];
  while (conn->inbox.size() < kIpcReceiveLimit) {
    size_t room = std::min(sizeof chunk, kIpcReceiveLimit - conn->inbox.size());
    ssize_t n = recv(fd, chunk, room, MSG_DONTWAIT);
    if (n > 0) {
      conn->inbox.insert(conn->inbox.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && SocketFull(errno)) break;
    return IpcReceive::kClosed;  // end of stream, or the connection failed
  }
  return IpcReceive::kOpen;
}

ByteView IPC_Received(lib_globals* ctx, int fd) {
  const Connection* conn = FindConnection(ctx, fd);
  return conn ? conn->Pending() : ByteView{};
}

void IPC_Consume(lib_globals* ctx, int fd, size_t n) {
  Connection* conn = FindConnection(ctx, fd);
  if (!conn) return;
  conn->taken += std::min(n, conn->inbox.size() - conn->taken);
  if (conn->taken == conn->inbox.size()) {
    conn->inbox.clear();
    conn->taken = 0;
  }
}

int IPC_TcpSocketSend(lib_globals* ctx, int* cached_fd, const char* path, const void* buf,
                      size_t len) {
  if (!ctx || !cached_fd || !path || (!buf && len > 0)) return -1;
  ipc_state& ipc = IpcOf(ctx);
  std::string full = capwap::RootPath(path);
  Outgoing* out = CachedConnection(ipc, cached_fd, full);
  if (capwap::ShouldFail(capwap::FailFamily::kIpcSend)) {
    zlog_err(ctx, "IPC: send to %s failed (injected)", path);
    if (out) DropOutgoing(ipc, out->fd, "injected failure");
    *cached_fd = -1;
    errno = EIO;
    return -1;
  }
  const auto* data = static_cast<const uint8_t*>(buf);
  // A cached connection whose peer has gone fails before the first byte; it
  // is replaced once, so a restarted peer loses nothing.
  bool may_retry = out != nullptr;
  for (;;) {
    if (!out) out = OpenOutgoing(ctx, ipc, full);
    if (!out) break;
    *cached_fd = out->fd;
    // Behind a queue, a message waits its turn.
    size_t written = out->unsent.empty() ? WriteNow(out->fd, data, len) : 0;
    int err = errno;
    if (written == len) return static_cast<int>(len);
    if (!out->unsent.empty() || SocketFull(err)) {
      if (!Enqueue(ipc, *out, data + written, len - written)) break;
      return static_cast<int>(len);
    }
    DropOutgoing(ipc, out->fd, "connection failed");
    out = nullptr;
    if (written == 0 && may_retry && StaleConnectionError(err)) {
      may_retry = false;
      continue;
    }
    zlog_err(ctx, "IPC: send to %s failed after %zu of %zu bytes: %s", full.c_str(), written,
             len, strerror(err));
    errno = err;
    break;
  }
  *cached_fd = -1;
  return -1;
}

size_t IPC_TcpSocketUnsent(lib_globals* ctx, int cached_fd) {
  if (!ctx || !ctx->ipc) return 0;
  auto it = ctx->ipc->outgoing.find(cached_fd);
  return it == ctx->ipc->outgoing.end() ? 0 : it->second->unsent_bytes;
}

void IPC_TcpSocketClose(lib_globals* ctx, int* cached_fd) {
  if (!cached_fd) return;
  if (ctx && ctx->ipc && *cached_fd >= 0) DropOutgoing(*ctx->ipc, *cached_fd, "closed");
  *cached_fd = -1;
}

int IPC_SocketSend(lib_globals* ctx, const char* path, const void* buf, size_t len) {
  if (!path || (!buf && len > 0)) return -1;
  if (capwap::ShouldFail(capwap::FailFamily::kIpcSend)) {
    zlog_err(ctx, "IPC: datagram to %s failed (injected)", path);
    errno = EIO;
    return -1;
  }
  std::string full = capwap::RootPath(path);
  sockaddr_un addr;
  if (!FillAddress(full, addr)) {
    zlog_err(ctx, "IPC: socket path too long: %s", full.c_str());
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    zlog_err(ctx, "IPC: datagram socket: %s", strerror(errno));
    return -1;
  }
  ssize_t n = sendto(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int err = errno;
  close(fd);
  if (n < 0) {
    zlog_err(ctx, "IPC: datagram to %s failed: %s", full.c_str(), strerror(err));
    errno = err;
    return -1;
  }
  return static_cast<int>(n);
}

void IPC_CloseConnection(lib_globals* ctx, int fd) {
  if (fd < 0) return;
  if (thread_master* master = MasterOf(ctx)) thread_cancel_fd(master, fd);
  if (ctx && ctx->ipc) ctx->ipc->connections.erase(fd);
  close(fd);
}

void IPC_Shutdown(lib_globals* ctx) {
  if (!ctx || !ctx->ipc) return;
  CloseAll(*ctx->ipc, ctx->master.get());
}
