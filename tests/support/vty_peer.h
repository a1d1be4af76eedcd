// One TCP peer of the daemon's vty server on loopback; every wait turns the
// daemon's event loop, so the daemon may run in the same thread.
#pragma once

#include <string>
#include <string_view>

struct thread_master;

namespace capwap::test {

class VtyPeer {
 public:
  VtyPeer(thread_master* master, uint16_t port, int receive_buffer = 0);
  ~VtyPeer();
  VtyPeer(const VtyPeer&) = delete;
  VtyPeer& operator=(const VtyPeer&) = delete;

  void Send(std::string_view bytes);
  // Everything up to and including the next prompt, without CRs.
  std::string ReadUntilPrompt();
  // Sends the line and returns its answer with the prompt.
  std::string Command(std::string_view line);
  // True once the server has closed the connection.
  bool WaitClosed();
  const std::string& raw() const { return raw_; }
  // The bytes behind the last ReadUntilPrompt.
  const std::string& last_raw() const { return last_raw_; }

 private:
  void Pump();
  bool ReadAvailable();
  bool EndsWithPrompt() const;

  thread_master* master_;
  int fd_ = -1;
  std::string raw_;
  std::string last_raw_;
};

}  // namespace capwap::test
