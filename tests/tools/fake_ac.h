// A scripted access controller on loopback UDP for the WTP simulator's
// tests: control and data sockets on the test's event loop, automatic
// answers that can be switched off one by one, and AC messages built and
// datagrams decoded with the project's own codec.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/thread.h"
#include "support/scenario.h"
#include "transport/codec.h"

namespace capwap::simtest {

// One received datagram, descrambled, with its source.
struct Datagram {
  Bytes bytes;
  sockaddr_storage from{};
  socklen_t from_len = 0;
};

// A control datagram taken apart by the project's decoders.
using Decoded = test::DecodedMessage;
inline Decoded Decode(const Bytes& datagram) { return test::DecodeMessage(datagram); }

// AC messages, built like the daemon builds them.
Bytes AcMessage(uint32_t msg_type, uint8_t seq, const std::function<void(CW_PKT&)>& body = {});
Bytes DiscoveryResponse(uint8_t seq, uint8_t priority = 4);
Bytes JoinResponse(uint8_t seq, uint32_t result = 0, const Bytes* image_identifier = nullptr);
Bytes ConfigStatusResponse(uint8_t seq, std::optional<uint8_t> echo_interval = std::nullopt);
Bytes EchoResponse(uint8_t seq);
Bytes ResultResponse(uint32_t msg_type, uint8_t seq, uint32_t result);
// An Image Identifier value: vendor, then model, version and image name of
// 32 octets each (112 octets).
Bytes ImageIdentifierValue(const std::string& model, const std::string& version,
                           const std::string& name);

struct FakeAcScript {
  bool discovery = true;
  uint8_t priority = 4;
  bool join = true;
  uint32_t join_result = 0;
  std::optional<Bytes> image_identifier;  // Join Response asks for a download
  Bytes image;                            // what the download delivers
  bool corrupt_digest = false;
  bool config_status = true;
  std::optional<uint8_t> echo_interval;   // CAPWAP Timers in the response
  bool change_state = true;
  bool echo = true;
  bool event = true;
  bool keepalive = true;
};

class FakeAc {
 public:
  // Ports 0 take ephemeral ports.
  FakeAc(thread_master* master, bool ipv6 = false, uint16_t control_port = 0,
         uint16_t data_port = 0);
  ~FakeAc();
  FakeAc(const FakeAc&) = delete;
  FakeAc& operator=(const FakeAc&) = delete;

  bool ok() const { return control_fd_ >= 0 && data_fd_ >= 0; }
  uint16_t control_port() const { return control_port_; }
  uint16_t data_port() const { return data_port_; }

  FakeAcScript script;
  bool scramble = false;
  // Replaces the scripted answers when set.
  std::function<void(FakeAc&, const Datagram&)> on_control;

  // Everything received, in order (descrambled).
  std::vector<Datagram> control;
  std::vector<Datagram> data;
  // Control messages of that type received so far, decoded.
  std::vector<Decoded> Received(uint32_t msg_type) const;
  size_t CountReceived(uint32_t msg_type) const;

  // Sends to the last control (or data) source; scrambles when asked.
  void SendControl(const Bytes& bytes);
  void SendData(const Bytes& bytes);
  // Sends a request to the WTP with the next AC sequence number; returns it.
  uint8_t SendRequest(uint32_t msg_type, const std::function<void(CW_PKT&)>& body = {});

  // Answers as scripted (the default control handler).
  void Answer(const Datagram& d);

 private:
  static int OnControl(thread* t);
  static int OnData(thread* t);
  int Open(bool ipv6, uint16_t* port);  // binds *port (0: any), stores the bound one
  bool Read(int fd, Datagram* out);
  void SendTo(int fd, const sockaddr_storage& to, socklen_t len, Bytes bytes);
  void SendNextImageBlock();

  thread_master* master_;
  int control_fd_ = -1;
  int data_fd_ = -1;
  uint16_t control_port_ = 0;
  uint16_t data_port_ = 0;
  thread* control_read_ = nullptr;
  thread* data_read_ = nullptr;
  sockaddr_storage wtp_control_{};
  sockaddr_storage wtp_data_{};
  socklen_t wtp_len_ = 0;
  // Each WTP's last request other than Echo, by its source port.
  std::map<uint16_t, uint8_t> last_request_seq_;
  uint8_t next_ac_seq_ = 100;
  size_t image_sent_ = 0;
};

}  // namespace capwap::simtest
