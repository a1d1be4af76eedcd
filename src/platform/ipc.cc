#include "platform/ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace {

// Longest a send or read may hold the loop while the peer catches up.
constexpr int kBoundedWaitMs = 100;
constexpr int kListenBacklog = 16;
// Connections taken per wake-up of a listener; the rest wait for the next.
constexpr int kAcceptBurst = 16;

struct Listener {
  lib_globals* ctx = nullptr;
  int fd = -1;
  std::string path;
  thread_func reader = nullptr;
  thread* event = nullptr;
};

// Identity of an accepted socket, so that a descriptor the reader already
// closed (and the kernel reused) is never closed a second time.
struct Connection {
  dev_t dev = 0;
  ino_t ino = 0;
};

}  // namespace

struct ipc_state {
  ipc_state() = default;
  ipc_state(const ipc_state&) = delete;
  ipc_state& operator=(const ipc_state&) = delete;
  ~ipc_state();

  std::vector<std::unique_ptr<Listener>> listeners;
  std::map<int, Connection> connections;
};

namespace {

bool SameSocket(int fd, const Connection& conn) {
  struct stat st{};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == conn.dev &&
         st.st_ino == conn.ino;
}

void CloseAll(ipc_state& ipc, thread_master* master) {
  for (auto& listener : ipc.listeners) {
    if (master) thread_cancel_fd(master, listener->fd);
    close(listener->fd);
    unlink(listener->path.c_str());
  }
  ipc.listeners.clear();
  for (const auto& [fd, conn] : ipc.connections) {
    if (!SameSocket(fd, conn)) continue;
    if (master) thread_cancel_fd(master, fd);
    close(fd);
  }
  ipc.connections.clear();
}

ipc_state& IpcOf(lib_globals* ctx) {
  if (!ctx->ipc) ctx->ipc.reset(std::make_unique<ipc_state>().release());
  return *ctx->ipc;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

using Deadline = std::chrono::steady_clock::time_point;

Deadline DeadlineFromNow() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundedWaitMs);
}

// Waits for `events` on fd until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, Deadline deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{fd, events, 0};
    int n = poll(&pfd, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
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

void AdoptConnection(Listener& listener, int conn_fd) {
  lib_globals* ctx = listener.ctx;
  if (!thread_add_read(ctx->master.get(), listener.reader, ctx, conn_fd)) {
    zlog_err(ctx, "IPC: cannot watch a connection on %s, closing it", listener.path.c_str());
    close(conn_fd);
    return;
  }
  struct stat st{};
  fstat(conn_fd, &st);
  IpcOf(ctx).connections[conn_fd] = Connection{st.st_dev, st.st_ino};
}

int AcceptReady(thread* t) {
  auto* listener = static_cast<Listener*>(THREAD_ARG(t));
  lib_globals* ctx = listener->ctx;
  if (!thread_add_read(ctx->master.get(), AcceptReady, listener, listener->fd,
                       &listener->event)) {
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
    AdoptConnection(*listener, conn_fd);
  }
  return 0;
}

int ConnectTo(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Writes everything before the deadline; returns the bytes written, which is
// less than len on error or time-out (errno tells which).
size_t WriteUntil(int fd, const uint8_t* data, size_t len, Deadline deadline) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = send(fd, data + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, data + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(fd, POLLOUT, deadline)) continue;
      errno = ETIMEDOUT;
    }
    break;
  }
  return done;
}

bool StaleConnectionError(int err) {
  return err == EPIPE || err == ECONNRESET || err == ENOTCONN;
}

void DropCached(int* cached_fd) {
  if (*cached_fd >= 0) close(*cached_fd);
  *cached_fd = -1;
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

int IPC_TcpSocketSend(lib_globals* ctx, int* cached_fd, const char* path, const void* buf,
                      size_t len) {
  if (!cached_fd || !path || (!buf && len > 0)) return -1;
  if (capwap::ShouldFail(capwap::FailFamily::kIpcSend)) {
    zlog_err(ctx, "IPC: send to %s failed (injected)", path);
    DropCached(cached_fd);
    errno = EIO;
    return -1;
  }
  std::string full = capwap::RootPath(path);
  const auto* data = static_cast<const uint8_t*>(buf);
  Deadline deadline = DeadlineFromNow();
  // A cached connection whose peer has gone fails before the first byte; it
  // is replaced once, so a restarted peer loses nothing.
  bool may_retry = *cached_fd >= 0;
  for (;;) {
    if (*cached_fd < 0) {
      *cached_fd = ConnectTo(full);
      if (*cached_fd < 0) {
        zlog_err(ctx, "IPC: cannot connect to %s: %s", full.c_str(), strerror(errno));
        return -1;
      }
    }
    size_t written = WriteUntil(*cached_fd, data, len, deadline);
    if (written == len) return static_cast<int>(len);
    int err = errno;
    DropCached(cached_fd);
    if (written == 0 && may_retry && StaleConnectionError(err)) {
      may_retry = false;
      continue;
    }
    zlog_err(ctx, "IPC: send to %s failed after %zu of %zu bytes: %s", full.c_str(), written,
             len, strerror(err));
    errno = err;
    return -1;
  }
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

ssize_t readn(int fd, void* buf, size_t n) {
  auto* out = static_cast<uint8_t*>(buf);
  size_t done = 0;
  Deadline deadline = DeadlineFromNow();
  while (done < n) {
    ssize_t got = read(fd, out + done, n - done);
    if (got > 0) {
      done += static_cast<size_t>(got);
      continue;
    }
    if (got == 0) break;  // end of stream
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLIN, deadline)) continue;
    // Nothing at all within the wait is reported as an error (EAGAIN), so
    // that 0 keeps meaning "the peer closed".
    if (done == 0) return -1;
    break;
  }
  return static_cast<ssize_t>(done);
}

ssize_t writen(int fd, const void* buf, size_t n) {
  size_t done = WriteUntil(fd, static_cast<const uint8_t*>(buf), n, DeadlineFromNow());
  if (done < n && done == 0 && n > 0) return -1;
  return static_cast<ssize_t>(done);
}

void IPC_CloseConnection(lib_globals* ctx, int fd) {
  if (fd < 0) return;
  if (ctx && ctx->master) thread_cancel_fd(ctx->master.get(), fd);
  if (ctx && ctx->ipc) ctx->ipc->connections.erase(fd);
  close(fd);
}

void IPC_Shutdown(lib_globals* ctx) {
  if (!ctx || !ctx->ipc) return;
  CloseAll(*ctx->ipc, ctx->master.get());
}
