#include "platform/vty_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cli_host.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/timer.h"

namespace capwap::cli {

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;
constexpr size_t kReadBudget = 64 * 1024;  // per callback, so one peer cannot starve the loop
constexpr size_t kRefusalDrainReads = 16;  // bounds the input read away before a refusal close
constexpr const char* kBanner = "capwap access controller\n";
constexpr const char kRefusal[] = "% Too many vty sessions\r\n";
constexpr const char* kIdleNotice = "% Idle timeout, session closed\n";

enum class Telnet : uint8_t { kData, kIac, kOption, kSub, kSubIac };

std::string PeerText(const sockaddr_in& sa) {
  char addr[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &sa.sin_addr, addr, sizeof addr);
  return std::string(addr) + ":" + std::to_string(ntohs(sa.sin_port));
}

}  // namespace

struct VtyServer::Session {
  VtyServer* server = nullptr;
  int fd = -1;
  std::string peer;
  std::unique_ptr<vty> v;
  Telnet telnet = Telnet::kData;
  bool after_cr = false;
  std::string line;
  bool line_overflow = false;
  std::string pending;  // output the socket has not taken yet
  bool closing = false;
  ExecTimeout idle;
  capwap::Timer idle_timer;
  thread* read_event = nullptr;
  thread* write_event = nullptr;  // armed while output is pending
};

VtyServer::VtyServer(lib_globals* ctx) : ctx_(ctx) {}

VtyServer::~VtyServer() {
  while (!sessions_.empty()) Destroy(sessions_.begin()->first);
  thread_cancel(accept_event_);
  if (listen_fd_ >= 0) close(listen_fd_);
}

int VtyServer::Start(uint16_t port) {
  thread_master* m = ctx_ ? ctx_->master.get() : nullptr;
  if (!m) {
    zlog_err(ctx_, "vty: no event loop, server not started");
    return 1;
  }
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    zlog_err(ctx_, "vty: cannot create the listening socket: %s", strerror(errno));
    return 1;
  }
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    zlog_err(ctx_, "vty: cannot listen on 127.0.0.1:%u: %s", port, strerror(errno));
    return 1;
  }
  port_ = ntohs(sa.sin_port);
  if (!thread_add_read(m, OnAccept, this, listen_fd_, &accept_event_)) {
    zlog_err(ctx_, "vty: cannot register the listener with the event loop");
    return 1;
  }
  zlog_info(ctx_, "vty: listening on 127.0.0.1:%u", port_);
  return 0;
}

void VtyServer::RequestClose(int fd) {
  auto it = sessions_.find(fd);
  if (it != sessions_.end()) it->second->closing = true;
}

void VtyServer::SetIdleTimeout(int fd, ExecTimeout timeout) {
  auto it = sessions_.find(fd);
  if (it == sessions_.end()) return;
  it->second->idle = timeout;
  ArmIdle(it->second.get());
}

// --- Event callbacks -----------------------------------------------------

int VtyServer::OnAccept(thread* t) {
  auto* server = static_cast<VtyServer*>(THREAD_ARG(t));
  if (!thread_rearm(t)) {
    zlog_err(server->ctx_, "vty: cannot re-arm the listener; no new sessions");
  }
  server->AcceptAll();
  return 0;
}

int VtyServer::OnSessionRead(thread* t) {
  auto* s = static_cast<Session*>(THREAD_ARG(t));
  if (!thread_rearm(t)) {
    zlog_err(s->server->ctx_, "vty: cannot re-arm session from %s; closing it", s->peer.c_str());
    s->closing = true;
  }
  s->server->ReadSession(s);
  return 0;
}

int VtyServer::OnSessionWritable(thread* t) {
  auto* s = static_cast<Session*>(THREAD_ARG(t));
  VtyServer* server = s->server;
  server->Flush(s);
  if (s->closing) server->Destroy(s->fd);
  return 0;
}

int VtyServer::OnSessionIdle(thread* t) {
  auto* s = static_cast<Session*>(THREAD_ARG(t));
  s->server->ExpireIdle(s);
  return 0;
}

// --- Sessions ------------------------------------------------------------

void VtyServer::AcceptAll() {
  while (true) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        zlog_err(ctx_, "vty: accept failed: %s", strerror(errno));
      }
      return;
    }
    Admit(fd, PeerText(sa));
  }
}

// Closing a socket with unread input resets the connection, and a reset can
// discard the refusal before the client reads it: input already there is
// read away first (bounded, the socket is non-blocking).
void VtyServer::Refuse(int fd, const std::string& peer) {
  zlog_warn(ctx_, "vty: refusing session from %s: %zu sessions open", peer.c_str(),
            sessions_.size());
  [[maybe_unused]] ssize_t sent = send(fd, kRefusal, sizeof kRefusal - 1, MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  char sink[1024];
  for (size_t i = 0; i < kRefusalDrainReads && recv(fd, sink, sizeof sink, 0) > 0; ++i) {
  }
  close(fd);
}

void VtyServer::Admit(int fd, const std::string& peer) {
  if (sessions_.size() >= kMaxSessions) {
    Refuse(fd, peer);
    return;
  }
  auto owned = std::make_unique<Session>();
  Session* s = owned.get();
  s->server = this;
  s->fd = fd;
  s->peer = peer;
  s->v = vty_new_internal(ctx_, VIEW_NODE);
  s->v->fd = fd;
  s->v->privilege = kPrivilegeUser;
  if (cli_host* host = HostOf(ctx_)) s->idle = host->exec_timeout;
  sessions_[fd] = std::move(owned);
  if (!thread_add_read(ctx_->master.get(), OnSessionRead, s, fd, &s->read_event)) {
    zlog_err(ctx_, "vty: cannot serve session from %s: no read event", peer.c_str());
    Destroy(fd);
    return;
  }
  zlog_info(ctx_, "vty: session from %s", peer.c_str());
  ArmIdle(s);
  Send(s, kBanner);
  Send(s, cli_prompt(ctx_, s->v.get()));
  Flush(s);
  if (s->closing) Destroy(fd);
}

void VtyServer::ReadSession(Session* s) {
  const int fd = s->fd;
  char buf[4096];
  size_t budget = kReadBudget;
  while (budget > 0 && !s->closing) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      if (budget == kReadBudget) ArmIdle(s);  // input, so the idle time starts again
      FeedBytes(s, buf, static_cast<size_t>(n));
      budget -= std::min(budget, static_cast<size_t>(n));
    } else if (n == 0) {
      s->closing = true;
    } else if (errno == EINTR) {
      continue;
    } else {
      if (errno != EAGAIN && errno != EWOULDBLOCK) s->closing = true;
      break;
    }
  }
  Flush(s);
  if (s->closing) Destroy(fd);
}

void VtyServer::FeedBytes(Session* s, const char* data, size_t len) {
  for (size_t i = 0; i < len && !s->closing; ++i) {
    auto c = static_cast<unsigned char>(data[i]);
    switch (s->telnet) {
      case Telnet::kData:
        if (c == kIac) {
          s->telnet = Telnet::kIac;
          continue;
        }
        break;
      case Telnet::kIac:
        if (c == kIac) {
          s->telnet = Telnet::kData;
          break;  // an escaped 0xFF data byte
        }
        s->telnet = c == kSb ? Telnet::kSub
                    : (c >= kWill && c <= kDont) ? Telnet::kOption
                                                 : Telnet::kData;
        continue;
      case Telnet::kOption:
        s->telnet = Telnet::kData;
        continue;
      case Telnet::kSub:
        if (c == kIac) s->telnet = Telnet::kSubIac;
        continue;
      case Telnet::kSubIac:
        s->telnet = c == kSe ? Telnet::kData : Telnet::kSub;
        continue;
    }
    bool was_cr = s->after_cr;
    s->after_cr = c == '\r';
    if (c == '\r' || (c == '\n' && !was_cr)) {
      EndOfLine(s);
    } else if (c == '\n' || c == '\0') {
      // the second half of CR LF or CR NUL
    } else if (c < 0x20 && c != '\t') {
      // other control characters are dropped
    } else if (c == 0x7f) {
    } else if (s->line.size() >= kMaxLineLength) {
      s->line_overflow = true;
    } else {
      s->line += c == '\t' ? ' ' : static_cast<char>(c);
    }
  }
}

void VtyServer::ArmIdle(Session* s) {
  const long seconds = s->idle.TotalSeconds();
  if (seconds == 0) {
    s->idle_timer.Cancel();
    return;
  }
  if (!s->idle_timer.Start(ctx_->master.get(), seconds, OnSessionIdle, s)) {
    zlog_err(ctx_, "vty: cannot time session from %s; closing it", s->peer.c_str());
    s->closing = true;
  }
}

void VtyServer::ExpireIdle(Session* s) {
  zlog_info(ctx_, "vty: closing session from %s: idle for %ld seconds", s->peer.c_str(),
            s->idle.TotalSeconds());
  // On a line of its own: the peer's cursor stands after the prompt.
  Send(s, "\n");
  Send(s, kIdleNotice);
  s->closing = true;
  Flush(s);
  Destroy(s->fd);
}

void VtyServer::EndOfLine(Session* s) {
  std::string line = std::move(s->line);
  s->line.clear();
  vty* v = s->v.get();
  v->out.clear();
  if (s->line_overflow) {
    s->line_overflow = false;
    vty_out(v, "%% Line too long\n");
  } else {
    cli_execute(ctx_, v, line);
  }
  Send(s, v->out);
  v->out.clear();
  if (!s->closing) Send(s, cli_prompt(ctx_, v));
}

// Queues text in network form: LF as CR LF, 0xFF doubled.
void VtyServer::Send(Session* s, std::string_view text) {
  for (char ch : text) {
    if (ch == '\n') s->pending += '\r';
    if (static_cast<unsigned char>(ch) == kIac) s->pending += ch;
    s->pending += ch;
  }
  if (s->pending.size() > kMaxPendingOutput) Flush(s);
}

void VtyServer::Flush(Session* s) {
  while (!s->pending.empty()) {
    ssize_t n = send(s->fd, s->pending.data(), s->pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      s->pending.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      s->closing = true;  // the peer has gone
      s->pending.clear();
    }
  }
  if (s->pending.size() > kMaxPendingOutput && !s->closing) {
    zlog_warn(ctx_, "vty: closing session from %s: %zu bytes of output not taken",
              s->peer.c_str(), s->pending.size());
    s->closing = true;
  }
  if (s->pending.empty() || s->closing) {
    thread_cancel(s->write_event);
  } else if (!s->write_event &&
             !thread_add_write(ctx_->master.get(), OnSessionWritable, s, s->fd,
                               &s->write_event)) {
    zlog_err(ctx_, "vty: cannot wait for output room of %s; closing it", s->peer.c_str());
    s->closing = true;
  }
}

void VtyServer::Destroy(int fd) {
  auto it = sessions_.find(fd);
  if (it == sessions_.end()) return;
  Session* s = it->second.get();
  thread_cancel(s->read_event);
  thread_cancel(s->write_event);
  zlog_info(ctx_, "vty: session from %s closed", s->peer.c_str());
  close(fd);
  sessions_.erase(it);
}

}  // namespace capwap::cli
