// The sibling daemons the controller talks to over local sockets, played by
// one object on an event loop:
//   WMAC  listens on "/tmp/wmac_ac_addr" (stream) for the AC's notifications;
//   WRRM  receives AP reports on "/tmp/wrrm_ac_addr" (datagram);
//   WIDS  receives configuration requests and reports on "/tmp/wids_ac_addr"
//         (datagram).
// Answers go to the AC's listener "/tmp/cw_ac_addr" as IpcHead messages,
// one stream connection per peer. All paths lie under CAPWAP_ROOT.
//
// Answers, as the real peers give them:
//   notification 3 (radio binding of a Configuration Status Request):
//     WMAC answers GET-RDBIND (type 3) with the reported TLVs or an override,
//     WRRM answers the scan settings (type 16);
//   WIDS get-configuration (type 0): WIDS answers type 25.
//
// The simulator runs on any thread_master: the peer-sim tool on the steady
// clock, in-process tests on the daemon's manual-clock loop. Answers delayed
// with delay_ms use millisecond timers of that loop.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

struct thread;
struct thread_master;
struct IpcHead;

namespace capwap::sim {

enum class Peer : uint8_t { kWmac = 0, kWrrm = 1, kWids = 2 };
const char* PeerName(Peer peer);

// Name of a notification the AC sends to WMAC ("ADD-WTP", ...; "UNKNOWN").
const char* NotificationName(uint32_t type);
// Name of a message a peer sends to the AC ("GET-RDBIND", ...; "UNKNOWN").
const char* AnswerName(uint32_t type);

// The default answers: one Vendor Specific Payload element each, carrying a
// small settings record under the given vendor identifier.
Bytes DefaultWrrmScanElements(uint32_t vendor_id);
Bytes DefaultWidsConfigElements(uint32_t vendor_id);
inline constexpr uint32_t kDefaultVendorId = 41414;

struct PeerSimOptions {
  bool silent_wmac = false;  // receive and log, never answer
  bool silent_wrrm = false;
  bool silent_wids = false;
  uint32_t delay_ms = 0;     // every answer waits this long on the loop
  // Every message to the AC is written in two halves this far apart (the
  // second half carries along whatever is sent meanwhile); 0 writes it whole.
  uint32_t split_ms = 0;
  // WMAC stops reading the AC's notifications after this many (see StallWmac).
  std::optional<uint32_t> stall_wmac_after;
  std::optional<Bytes> rdbind_override;  // GET-RDBIND payload instead of the echo
  Bytes wrrm_scan_elements = DefaultWrrmScanElements(kDefaultVendorId);
  Bytes wids_config_elements = DefaultWidsConfigElements(kDefaultVendorId);
  // One call per log line (no trailing newline); null keeps quiet.
  std::function<void(std::string_view line)> log;
};

// Something a peer received from the AC.
struct PeerMessage {
  Peer peer = Peer::kWmac;
  uint32_t type = 0;
  uint32_t wtp_id = 0;
  uint32_t radio_id = 0;  // WRRM reports
  Bytes header;           // the header as received
  Bytes payload;
};

// Something a peer sent to the AC.
struct PeerAnswer {
  Peer peer = Peer::kWmac;
  uint32_t type = 0;
  uint32_t wtp_id = 0;
  Bytes payload;
};

class PeerSim {
 public:
  PeerSim(thread_master* master, PeerSimOptions options);
  ~PeerSim();
  PeerSim(const PeerSim&) = delete;
  PeerSim& operator=(const PeerSim&) = delete;

  // Opens the three sockets and arms their readers. 0 / 1 (logged).
  int Start();
  // Cancels every event, closes every socket and removes the socket files.
  void Stop();

  const std::vector<PeerMessage>& received() const { return received_; }
  const std::vector<PeerAnswer>& answered() const { return answered_; }
  size_t CountReceived(Peer peer, uint32_t type) const;
  size_t CountAnswered(Peer peer, uint32_t type) const;
  // The last message of that peer and type, or null.
  const PeerMessage* LastReceived(Peer peer, uint32_t type) const;
  void ClearHistory();

  // Sends one message to the AC as `peer` (tests use it to play WMAC
  // requests). True when written whole.
  bool SendToAc(Peer peer, const IpcHead& head, ByteView payload);
  bool SendToAc(Peer peer, uint32_t type, uint32_t wtp_id, ByteView payload);
  // Writes raw bytes on the peer's connection to the AC (framing tests).
  bool SendRawToAc(Peer peer, ByteView bytes);
  // Closes the peer's connection to the AC (it reconnects on the next send).
  void DisconnectFromAc(Peer peer);
  // WMAC stops (true) or resumes (false) reading the AC's notifications: its
  // connections stay open while the AC's bytes pile up in them.
  void StallWmac(bool stalled);

 private:
  struct Connection {
    Bytes pending;
    thread* event = nullptr;
  };
  struct Delayed {
    uint64_t due_ms;
    PeerAnswer answer;
  };
  // The second half of a split message, and what was sent behind it.
  struct Tail {
    PeerSim* self = nullptr;
    Peer peer = Peer::kWmac;
    Bytes bytes;
    thread* event = nullptr;
  };

  static int OnAccept(thread* t);
  static int OnWmacRead(thread* t);
  static int OnWrrmRead(thread* t);
  static int OnWidsRead(thread* t);
  static int OnDelayExpired(thread* t);
  static int OnTailDue(thread* t);

  int OpenListener();
  int OpenDatagram(const char* abs_path, int* fd, thread** event, int (*reader)(thread*));
  void ArmWmac(int fd);
  void CloseWmacConnection(int fd);
  void ParseWmacStream(int fd);
  void HandleNotification(const IpcHead& head, Bytes header, ByteView payload);
  void HandleWrrm(ByteView datagram);
  void HandleWids(ByteView datagram);
  void Answer(PeerAnswer answer);
  void ArmDelayTimer();
  void Deliver(const PeerAnswer& answer);
  bool Transmit(Peer peer, ByteView bytes);
  bool WriteToAc(Peer peer, ByteView bytes);
  void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  thread_master* master_;
  PeerSimOptions options_;
  int listen_fd_ = -1;
  thread* listen_event_ = nullptr;
  int wrrm_fd_ = -1;
  thread* wrrm_event_ = nullptr;
  int wids_fd_ = -1;
  thread* wids_event_ = nullptr;
  std::map<int, Connection> wmac_connections_;
  std::array<int, 3> ac_fd_{-1, -1, -1};
  std::deque<Delayed> delayed_;
  thread* delay_event_ = nullptr;
  std::array<Tail, 3> tails_;
  bool wmac_stalled_ = false;
  uint64_t wmac_notifications_ = 0;
  std::vector<std::string> bound_paths_;
  std::vector<PeerMessage> received_;
  std::vector<PeerAnswer> answered_;
};

}  // namespace capwap::sim
