#include "vty_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace capwap_cli {

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;

enum TelnetState { kData, kIacSeen, kOption, kSub, kSubIac };

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.';
}

}  // namespace

bool IsPrompt(std::string_view line) {
  if (line.size() < 3 || line.back() != ' ') return false;
  char mark = line[line.size() - 2];
  if (mark != '#' && mark != '>') return false;
  std::string_view head = line.substr(0, line.size() - 2);
  size_t i = 0;
  while (i < head.size() && IsNameChar(head[i])) ++i;
  if (i == 0) return false;
  if (i == head.size()) return true;
  if (head[i] != '(' || head.back() != ')') return false;
  std::string_view inner = head.substr(i + 1, head.size() - i - 2);
  return inner.find_first_of("()") == std::string_view::npos;
}

VtyClient::~VtyClient() {
  if (fd_ >= 0) close(fd_);
}

bool VtyClient::Connect(const std::string& host, const std::string& port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) {
    *error = gai_strerror(rc);
    return false;
  }
  *error = "no address";
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      *error = strerror(errno);
      continue;
    }
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
      fd_ = fd;
      break;
    }
    *error = strerror(errno);
    close(fd);
  }
  freeaddrinfo(found);
  return fd_ >= 0;
}

bool VtyClient::SendLine(std::string_view line) {
  std::string data(line);
  data += '\n';
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Drops carriage returns and telnet commands; keeps escaped 0xFF bytes.
void VtyClient::Decode(const char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(data[i]);
    switch (telnet_state_) {
      case kData:
        if (c == kIac) telnet_state_ = kIacSeen;
        else if (c != '\r') text_ += static_cast<char>(c);
        break;
      case kIacSeen:
        if (c == kIac) {
          text_ += static_cast<char>(c);
          telnet_state_ = kData;
        } else {
          telnet_state_ = c == kSb ? kSub : (c >= kWill && c <= kDont) ? kOption : kData;
        }
        break;
      case kOption:
        telnet_state_ = kData;
        break;
      case kSub:
        if (c == kIac) telnet_state_ = kSubIac;
        break;
      default:
        telnet_state_ = c == kSe ? kData : kSub;
        break;
    }
  }
}

bool VtyClient::TakeResponse(std::string* output, std::string* prompt) {
  size_t nl = text_.rfind('\n');
  size_t tail_start = nl == std::string::npos ? 0 : nl + 1;
  std::string_view tail = std::string_view(text_).substr(tail_start);
  if (!IsPrompt(tail)) return false;
  *prompt = std::string(tail);
  *output = text_.substr(0, tail_start);
  text_.clear();
  return true;
}

VtyClient::Result VtyClient::ReadResponse(std::string* output, std::string* prompt,
                                          int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!TakeResponse(output, prompt)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Result::kTimeout;
    pollfd pfd{fd_, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Result::kError;
    if (ready == 0) continue;
    char buf[8192];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *output = std::move(text_);
      text_.clear();
      prompt->clear();
      return n == 0 || errno == ECONNRESET ? Result::kClosed : Result::kError;
    }
    Decode(buf, static_cast<size_t>(n));
  }
  return Result::kPrompt;
}

}  // namespace capwap_cli
