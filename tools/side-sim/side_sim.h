// The controller's side doors, played from outside:
//   ConmSim   the cloud connection manager: takes registrations on
//             "/tmp/conm_lib_addr.<service>" (datagram) and publications on
//             "/tmp/conm_mqtts_addr.<service>" (stream), decoded with the
//             daemon's own message codec;
//   ApmClient the AP management process: events on "/tmp/apm_ac_address";
//   SendCmdLine  the web configuration: one datagram to
//             "/tmp/wlancfg_capwap_addr".
// All paths lie under CAPWAP_ROOT. ConmSim runs on any thread_master (the
// tool's steady clock, or a test's loop).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "export/cloud.h"
#include "platform/bytes.h"

struct thread;
struct thread_master;

namespace capwap::sim {

class ConmSim {
 public:
  // `log` gets one line per registration and publication (may be null).
  ConmSim(thread_master* master, std::string service,
          std::function<void(std::string_view line)> log = {});
  ~ConmSim();
  ConmSim(const ConmSim&) = delete;
  ConmSim& operator=(const ConmSim&) = delete;

  // Binds both sockets and arms their readers. 0 / 1.
  int Start();
  // Cancels every event, closes every socket and removes the socket files.
  void Stop();

  const std::vector<ConmPublication>& published() const { return published_; }
  const std::vector<ConmRegistration>& registrations() const { return registrations_; }
  // Publications whose topic starts with the prefix.
  std::vector<const ConmPublication*> On(std::string_view topic_prefix) const;
  // Connections closed because they sent something that is no publication.
  size_t bad_streams() const { return bad_streams_; }

 private:
  struct Connection {
    Bytes pending;
    thread* event = nullptr;
  };
  static int OnAccept(thread* t);
  static int OnStream(thread* t);
  static int OnDatagram(thread* t);
  void CloseConnection(int fd);

  thread_master* master_;
  std::string service_;
  std::function<void(std::string_view)> log_;
  int listen_fd_ = -1;
  int datagram_fd_ = -1;
  thread* listen_event_ = nullptr;
  thread* datagram_event_ = nullptr;
  std::map<int, Connection> connections_;
  std::vector<std::string> bound_paths_;
  std::vector<ConmPublication> published_;
  std::vector<ConmRegistration> registrations_;
  size_t bad_streams_ = 0;
};

// One blocking stream connection to the APM socket.
class ApmClient {
 public:
  ApmClient() = default;
  ~ApmClient() { Close(); }
  ApmClient(const ApmClient&) = delete;
  ApmClient& operator=(const ApmClient&) = delete;
  bool Connect();
  // Writes the bytes whole (an event, part of one, or several).
  bool Write(ByteView bytes);
  bool Send(uint32_t type, ByteView payload);
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Sends one datagram to the command socket. True when it was taken.
bool SendCmdLine(ByteView datagram);

}  // namespace capwap::sim
