// One simulated WTP: its own control and data sockets, its timers on a
// thread_master, and the AP's side of Discovery, Join, image download,
// Configuration Status, Change State, the data-channel keepalive and Run.
// Every datagram received is checked; what fails a check is counted as a
// protocol error and dropped.
//
// Ownership: the SimWtp owns its sockets, read events and timers; the
// thread_master must outlive it. Start/Stop may be called repeatedly.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/timer.h"
#include "wtp-sim/wtp_frag.h"
#include "wtp-sim/wtp_messages.h"
#include "wtp-sim/wtp_rfc.h"

namespace capwap::sim {

enum class WtpState : uint8_t { kIdle, kDiscovery, kJoin, kImage, kConfigure, kDataCheck, kRun, kDown };
// "Idle", "Discovery", "Join", "Image", "Configure", "DataCheck", "Run", "Down".
const char* WtpStateName(WtpState state);

// How far an AP goes on its own before it waits for SetRunUntil: it
// completes the named exchange and holds (scenario verbs step through them).
enum class WtpStep : uint8_t { kDiscover, kJoin, kConfigure, kChangeState, kRun };

struct AcEndpoint {
  std::string address = "127.0.0.1";  // IPv4 or IPv6 literal
  bool ipv6 = false;
  uint16_t control_port = 5246;
  uint16_t data_port = 5247;
  bool scramble = false;  // IPv4 control and keepalives XORed with the shared key
  // IPv4 address the AP's sockets bind to (empty: any). With one, the control
  // socket takes the AC's control port number, as a real AP does, so that the
  // AC recognises the AP's core-dump uploads.
  std::string local_address;
};

// Seconds.
struct WtpTiming {
  uint32_t discovery_interval = 5;
  uint32_t echo_interval = 10;      // until the AC sets CAPWAP Timers
  uint32_t keepalive_interval = 30;
  uint32_t retransmit_interval = 3;
  uint32_t max_retransmit = 5;      // transmissions of one request
  uint32_t restart_delay = 5;       // Down -> Discovery
  bool stay_down = false;           // never restart after Down
  uint32_t image_idle_timeout = 30; // no block for this long ends a download
  uint32_t reassembly_timeout = 30;
};

// Ways to misbehave, for tests of the AC's supervision.
struct WtpKnobs {
  bool join_directly = false;         // after Start, Join the AC without Discovery
  bool silent_echo = false;           // in Run, send no Echo Requests
  bool silent_keepalive = false;      // in Run, send no keepalives
  bool skip_config_status = false;    // after Join, never send Configuration Status
  bool skip_change_state = false;     // after Configuration Status, never send Change State
  bool ignore_config_update = false;  // leave Configuration Update Requests unanswered
  uint32_t config_updates_to_ignore = 0;  // leave only the next N unanswered
  std::map<uint32_t, uint32_t> result_codes;  // AC request type -> our result code
  // Policy element (vendor element ID, or 64 for a layer-2 ACL) -> the
  // result code of a Configuration Update Request carrying it.
  std::map<uint16_t, uint32_t> policy_results;
  uint32_t event_interval = 0;        // WTP Event Requests in Run every N s (0: none)
  size_t event_padding = 0;           // extra report octets per WTP Event Request
  size_t config_status_padding = 0;   // extra octets in the Configuration Status Request
  // Fragmentation of the AP's own large messages.
  FragmentFaults frag_faults;         // on each fragmented request's first transmission
  bool frag_same_id = false;          // retransmit under the first transmission's fragment ID
  uint16_t first_frag_id = 0;         // ID of the first fragmented message after Start
  // The AC answers an Echo Request with the sequence number of the AP's last
  // other request; strict mode counts that as a protocol error.
  bool strict_echo_seq = false;
  // Uploaded once in the first Run after Start: crash data as Data Transfer
  // Requests, and a core dump (of process 0) on the monitor port.
  size_t data_transfer_bytes = 0;
  size_t core_dump_bytes = 0;
};

struct WtpCounters {
  uint64_t datagrams_sent = 0;
  uint64_t datagrams_received = 0;
  uint64_t requests_sent = 0;
  uint64_t retransmissions = 0;
  uint64_t responses_matched = 0;
  uint64_t discovery_requests = 0;
  uint64_t discovery_responses = 0;
  uint64_t joins = 0;
  uint64_t join_refusals = 0;
  uint64_t configurations = 0;
  uint64_t state_changes = 0;
  uint64_t run_entries = 0;
  uint64_t downs = 0;
  uint64_t restarts = 0;
  uint64_t echo_sent = 0;
  uint64_t echo_answered = 0;
  uint64_t echo_seq_other = 0;
  uint64_t keepalives_sent = 0;
  uint64_t keepalives_answered = 0;
  uint64_t events_sent = 0;
  uint64_t events_answered = 0;
  uint64_t ac_requests = 0;
  uint64_t ac_requests_repeated = 0;
  uint64_t ac_requests_ignored = 0;
  uint64_t policy_settings = 0;  // policy elements taken from Configuration Updates
  uint64_t image_blocks = 0;
  uint64_t images_installed = 0;
  uint64_t image_failures = 0;
  uint64_t fragments_sent = 0;
  uint64_t fragments_received = 0;
  uint64_t reassembled = 0;
  uint64_t data_chunks_sent = 0;
  uint64_t data_chunks_accepted = 0;  // answered with result 0
  uint64_t core_chunks_sent = 0;
  uint64_t core_chunks_acked = 0;
  uint64_t cores_completed = 0;     // acknowledgements carrying the completion flag
  uint64_t protocol_errors = 0;

  WtpCounters& operator+=(const WtpCounters& other);
  // "name=value ..." of every counter.
  std::string Text() const;
};

// Receives one line at a time, without a trailing newline.
using LineSink = std::function<void(std::string_view line)>;

class SimWtp {
 public:
  SimWtp(thread_master* master, WtpIdentity identity, AcEndpoint ac, WtpTiming timing,
         WtpKnobs knobs, LineSink sink, uint64_t seed);
  ~SimWtp();
  SimWtp(const SimWtp&) = delete;
  SimWtp& operator=(const SimWtp&) = delete;

  // Opens the sockets and starts Discovery. 0 / 1 (the reason goes to the sink).
  int Start();
  // Cancels everything, closes the sockets; state Idle.
  void Stop();

  void SetRunUntil(WtpStep step);
  WtpStep run_until() const { return run_until_; }
  // Waiting at its run-until step.
  bool holding() const { return holding_; }

  WtpState state() const { return state_; }
  const std::string& detail() const { return detail_; }
  const WtpIdentity& identity() const { return id_; }
  WtpIdentity& identity() { return id_; }
  WtpKnobs& knobs() { return knobs_; }
  AcEndpoint& ac() { return ac_; }  // takes effect at the next Start
  WtpTiming& timing() { return timing_; }
  const WtpCounters& counters() const { return counters_; }
  const std::string& last_error() const { return last_error_; }
  void set_verbose(bool on) { verbose_ = on; }

  // The last control message of this type received (reassembled and
  // descrambled), or null.
  const Bytes* LastReceived(uint32_t msg_type) const;
  // Called with every control message received, reassembled and descrambled,
  // before it is handled (tests keep the whole sequence through it).
  void set_tap(std::function<void(const Bytes& message)> tap) { tap_ = std::move(tap); }
  // Element types of the last Configuration Status Response, in order.
  const std::vector<uint16_t>& config_elements() const { return config_elements_; }
  uint8_t ac_priority() const { return ac_priority_; }
  uint32_t echo_interval() const { return echo_interval_; }
  uint16_t control_port() const { return control_.port; }
  uint16_t data_port() const { return data_.port; }
  // Sends a WTP Event Request now (Run, nothing outstanding), with `extra`
  // elements after the periodic reports. True when sent.
  bool SendEvent(ByteView extra = {});

 private:
  struct Socket {
    int fd = -1;
    uint16_t port = 0;
    thread* read = nullptr;
  };
  struct Outstanding {
    uint32_t msg_type = 0;
    uint8_t seq = 0;
    Bytes datagram;
    uint32_t transmissions = 0;
    uint16_t frag_id = 0;  // of the first transmission, when fragmented
  };
  struct Answer {
    uint32_t request_type = 0;
    uint8_t seq = 0;
    Bytes datagram;
  };
  struct ImageDownload {
    bool active = false;
    Bytes identifier;
    std::string version;
    Bytes data;
  };

  // Sockets and sending (wtp_sim.cc).
  bool ResolveAc();
  bool OpenSocket(Socket* s, int (*reader)(thread*), uint16_t port = 0);
  void CloseSocket(Socket* s);
  // Sends a control message; a large one as fragments under `frag_id` (by
  // default the next ID), with `faults` applied when given.
  void Transmit(const Bytes& datagram, std::optional<uint16_t> frag_id = std::nullopt,
                const FragmentFaults* faults = nullptr);
  void SendData(const Bytes& datagram);
  void SendToAc(int fd, const sockaddr_storage& to, const Bytes& datagram);
  uint8_t TakeSeq() { return next_seq_++; }
  void SendRequest(Bytes datagram);
  // This AP's dialect of each request (product or standard).
  Bytes DiscoveryRequest();
  Bytes JoinRequest();
  Bytes EchoRequest();
  Bytes Keepalive() const;
  // `result` overrides the result code the knobs give for the type.
  void Respond(uint32_t request_type, uint8_t seq, ByteView extra = {},
               std::optional<uint32_t> result = std::nullopt);

  // Progress through the exchanges (wtp_sim.cc).
  void SetState(WtpState state, std::string detail);
  void Hold(WtpStep step, std::string detail);
  void Continue(WtpStep after);
  void EnterDiscovery();
  void EnterJoin();
  void EnterImage(const JoinResponseInfo& info);
  void EnterConfigure();
  void EnterChangeState();
  void EnterDataCheck();
  void EnterRun();
  void GoDown(std::string reason);
  void CancelSession();
  void NewSessionId();
  void ArmRunTimers();
  void SendNextDataChunk();
  void SendCoreDump();

  // Timer callbacks.
  static int OnRetransmit(thread* t);
  static int OnStateTimer(thread* t);
  static int OnEchoTimer(thread* t);
  static int OnKeepaliveTimer(thread* t);
  static int OnEventTimer(thread* t);
  static int OnReassemblyTimer(thread* t);
  static int OnDataChannelDead(thread* t);
  void ArmDataChannelDead();
  void RetransmitDue();
  void EchoDue();
  void KeepaliveDue();

  // Receiving (wtp_sim_rx.cc).
  static int OnControlReadable(thread* t);
  static int OnDataReadable(thread* t);
  static int OnCoreReadable(thread* t);
  ssize_t Receive(Socket* s, const sockaddr_storage& expected, Bytes* out);
  void HandleControl(Bytes datagram);
  void HandleMessage(const Bytes& datagram);
  void HandleStandardMessage(const Bytes& datagram);
  void Dispatch(const ControlMessage& msg, const Bytes& datagram);
  void HandleResponse(const ControlMessage& msg);
  bool MatchResponse(const ControlMessage& msg);
  void CompleteOutstanding();
  void OnDiscoveryResponse(const ControlMessage& msg);
  void OnJoinResponse(const ControlMessage& msg);
  void OnConfigStatusResponse(const ControlMessage& msg);
  void OnImageDataResponse(const ControlMessage& msg);
  void HandleAcRequest(const ControlMessage& msg);
  bool AcceptsAcRequests() const;
  void OnConfigUpdate(const ControlMessage& msg);
  void OnImageBlock(const ControlMessage& msg);
  void FinishImage(const ImageBlock& block);
  void HandleKeepalive(ByteView datagram);
  void ProtocolError(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void Trace(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  thread_master* master_;
  WtpIdentity id_;
  AcEndpoint ac_;
  WtpTiming timing_;
  WtpKnobs knobs_;
  LineSink sink_;
  std::mt19937_64 rng_;
  bool verbose_ = false;

  sockaddr_storage ac_control_{};
  sockaddr_storage ac_data_{};
  socklen_t ac_len_ = 0;
  Socket control_;
  Socket data_;
  Socket core_;  // core-dump uploads to the monitor port
  Bytes rx_buffer_;

  WtpState state_ = WtpState::kIdle;
  std::string detail_;
  WtpStep run_until_ = WtpStep::kRun;
  bool holding_ = false;
  WtpStep held_at_ = WtpStep::kRun;
  uint8_t next_seq_ = 0;
  uint16_t next_frag_id_ = 0;
  uint8_t last_other_seq_ = 0;  // our last request other than Echo
  uint32_t echo_interval_ = 10;
  uint32_t keepalive_tries_ = 0;

  std::optional<Outstanding> outstanding_;
  std::optional<Answer> last_answer_;
  Reassembler reassembler_;
  rfc::StandardReassembler standard_reassembler_;
  ImageDownload image_;
  bool uploads_done_ = false;  // this Start's crash data and core dump were sent
  size_t data_sent_ = 0;       // crash-data octets sent so far

  Timer retransmit_timer_;
  Timer state_timer_;  // restart after Down, image download supervision
  Timer echo_timer_;
  Timer keepalive_timer_;
  Timer event_timer_;
  Timer reassembly_timer_;
  Timer data_dead_timer_;  // standard WTP in Run: no keepalive answer for this long

  std::map<uint32_t, Bytes> last_received_;
  std::function<void(const Bytes&)> tap_;
  std::vector<uint16_t> config_elements_;
  uint8_t ac_priority_ = 0;
  WtpCounters counters_;
  std::string last_error_;
};

}  // namespace capwap::sim
