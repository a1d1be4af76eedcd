// The vty server: TCP sessions on 127.0.0.1 served from the event loop.
//
// Accept and session reads are one-shot read events that re-arm first.
// Output that the socket does not take at once waits in the session and a
// one-shot write event sends it when the socket drains; a session whose
// unsent output passes kMaxPendingOutput is closed. A session that sends
// nothing for its idle timeout ("exec-timeout", a timer on the loop's clock)
// gets a one-line notice and is closed, so idle connections cannot hold every
// slot for long; a connection beyond kMaxSessions gets a one-line refusal.
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

// An idle timeout as typed ("exec-timeout 10 0"); kept in both parts so it is
// written back exactly as given. 0 0 is never.
struct ExecTimeout {
  uint32_t minutes = 10;
  uint32_t seconds = 0;
  long TotalSeconds() const { return static_cast<long>(minutes) * 60 + seconds; }
  bool operator==(const ExecTimeout&) const = default;
};

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
  // Gives the session on vty fd a new idle timeout, counted from now.
  void SetIdleTimeout(int fd, ExecTimeout timeout);

  struct Session;

 private:
  static int OnAccept(thread* t);
  static int OnSessionRead(thread* t);
  static int OnSessionWritable(thread* t);
  static int OnSessionIdle(thread* t);

  void AcceptAll();
  void Refuse(int fd, const std::string& peer);
  void Admit(int fd, const std::string& peer);
  void ReadSession(Session* s);
  void FeedBytes(Session* s, const char* data, size_t len);
  void EndOfLine(Session* s);
  void ArmIdle(Session* s);
  void ExpireIdle(Session* s);
  void Send(Session* s, std::string_view text);
  void Flush(Session* s);
  void Destroy(int fd);

  lib_globals* ctx_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  thread* accept_event_ = nullptr;
  std::map<int, std::unique_ptr<Session>> sessions_;
};

}  // namespace capwap::cli
