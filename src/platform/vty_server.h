// The vty server: TCP sessions on 127.0.0.1 served from the event loop.
//
// Accept and session reads are one-shot read events that re-arm first.
// Output that the socket does not take at once waits in the session; an
// epoll descriptor, itself watched by a read event, reports when sockets
// drain. A session whose unsent output passes kMaxPendingOutput is closed.
// Telnet option negotiation is stripped; lines end at CR, LF or CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/cli.h"
#include "platform/thread.h"

namespace capwap::cli {

inline constexpr size_t kMaxLineLength = 4096;
inline constexpr size_t kMaxPendingOutput = 1 << 20;
inline constexpr size_t kMaxSessions = 32;

class VtyServer {
 public:
  explicit VtyServer(lib_globals* ctx);
  ~VtyServer();
  VtyServer(const VtyServer&) = delete;
  VtyServer& operator=(const VtyServer&) = delete;

  // Listens on 127.0.0.1:port (0: ephemeral). 0 / 1 (logged).
  int Start(uint16_t port);
  uint16_t port() const { return port_; }
  size_t session_count() const { return sessions_.size(); }
  // Ends the session on vty fd once its pending output has been tried.
  void RequestClose(int fd);

  struct Session;

 private:
  static int OnAccept(thread* t);
  static int OnSessionRead(thread* t);
  static int OnDrain(thread* t);

  void AcceptAll();
  void Admit(int fd, const std::string& peer);
  void ReadSession(Session* s);
  void FeedBytes(Session* s, const char* data, size_t len);
  void EndOfLine(Session* s);
  void Send(Session* s, std::string_view text);
  void Flush(Session* s);
  void WatchDrain(Session* s, bool on);
  void Destroy(int fd);

  lib_globals* ctx_;
  int listen_fd_ = -1;
  int epoll_fd_ = -1;
  uint16_t port_ = 0;
  thread* accept_event_ = nullptr;
  thread* drain_event_ = nullptr;
  std::map<int, std::unique_ptr<Session>> sessions_;
};

}  // namespace capwap::cli
