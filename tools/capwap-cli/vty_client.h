// A TCP connection to the daemon's vty: sends command lines and collects the
// output of each, which ends where the server prints its next prompt.
#pragma once

#include <string>
#include <string_view>

namespace capwap_cli {

// True when `line` (text after the last newline) is a vty prompt such as
// "capwap> ", "capwap# " or "capwap(config-ap)# ".
bool IsPrompt(std::string_view line);

class VtyClient {
 public:
  VtyClient() = default;
  ~VtyClient();
  VtyClient(const VtyClient&) = delete;
  VtyClient& operator=(const VtyClient&) = delete;

  // Connects to host:port. False with *error set on failure.
  bool Connect(const std::string& host, const std::string& port, std::string* error);
  // Sends one command line (a newline is added).
  bool SendLine(std::string_view line);

  enum class Result { kPrompt, kClosed, kTimeout, kError };
  // Reads until the next prompt: *output gets the text before it (CR and
  // telnet commands removed), *prompt the prompt. kClosed when the server
  // ended the session (output holds what came before).
  Result ReadResponse(std::string* output, std::string* prompt, int timeout_ms);

 private:
  bool TakeResponse(std::string* output, std::string* prompt);
  void Decode(const char* data, size_t len);

  int fd_ = -1;
  std::string text_;  // decoded bytes not yet handed out
  int telnet_state_ = 0;
};

}  // namespace capwap_cli
