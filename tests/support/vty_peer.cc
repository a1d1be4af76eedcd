#include "support/vty_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/thread.h"

namespace capwap::test {

namespace {
constexpr int kPumpRounds = 6000;  // upper bound on loop turns while waiting for the daemon
}

VtyPeer::VtyPeer(thread_master* master, uint16_t port, int receive_buffer) : master_(master) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(int));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << strerror(errno);
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

VtyPeer::~VtyPeer() { close(fd_); }

void VtyPeer::Send(std::string_view bytes) {
  size_t done = 0;
  for (int round = 0; done < bytes.size() && round < kPumpRounds; ++round) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      ASSERT_EQ(errno, EAGAIN) << strerror(errno);
      Pump();
      ReadAvailable();
    }
  }
  ASSERT_EQ(done, bytes.size());
}

std::string VtyPeer::ReadUntilPrompt() {
  for (int round = 0; round < kPumpRounds; ++round) {
    Pump();
    if (!ReadAvailable() || EndsWithPrompt()) break;
  }
  std::string out;
  for (char c : raw_) {
    if (c != '\r') out += c;
  }
  last_raw_ = std::move(raw_);
  raw_.clear();
  return out;
}

std::string VtyPeer::Command(std::string_view line) {
  Send(std::string(line) + "\r\n");
  return ReadUntilPrompt();
}

bool VtyPeer::WaitClosed() {
  for (int round = 0; round < kPumpRounds; ++round) {
    Pump();
    if (!ReadAvailable()) return true;
  }
  return false;
}

void VtyPeer::Pump() { thread_master_poll(master_, 2); }

bool VtyPeer::ReadAvailable() {
  char buf[65536];
  while (true) {
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      raw_.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EAGAIN) return true;
    return false;  // closed or reset
  }
}

bool VtyPeer::EndsWithPrompt() const {
  size_t nl = raw_.rfind('\n');
  std::string_view tail = std::string_view(raw_).substr(nl == std::string::npos ? 0 : nl + 1);
  return tail.starts_with("capwap") && (tail.ends_with("> ") || tail.ends_with("# "));
}

}  // namespace capwap::test
