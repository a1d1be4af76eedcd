// The simulated WTP's sockets, sending, timers and progress from one
// exchange to the next. Receiving and the checks of what arrives are in
// wtp_sim_rx.cc.
#include "wtp-sim/wtp_sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "platform/thread.h"
#include "wtp-sim/wtp_rfc.h"

namespace capwap::sim {

namespace {

constexpr size_t kRxBufferSize = 4096;

SimWtp* Self(thread* t) { return static_cast<SimWtp*>(THREAD_ARG(t)); }

std::string SessionText(const SessionId& id) {
  char buf[9];
  snprintf(buf, sizeof buf, "%02x%02x%02x%02x", id[0], id[1], id[2], id[3]);
  return buf;
}

}  // namespace

const char* WtpStateName(WtpState state) {
  switch (state) {
    case WtpState::kIdle: return "Idle";
    case WtpState::kDiscovery: return "Discovery";
    case WtpState::kJoin: return "Join";
    case WtpState::kImage: return "Image";
    case WtpState::kConfigure: return "Configure";
    case WtpState::kDataCheck: return "DataCheck";
    case WtpState::kRun: return "Run";
    case WtpState::kDown: return "Down";
  }
  return "Unknown";
}

WtpCounters& WtpCounters::operator+=(const WtpCounters& o) {
  datagrams_sent += o.datagrams_sent;
  datagrams_received += o.datagrams_received;
  requests_sent += o.requests_sent;
  retransmissions += o.retransmissions;
  responses_matched += o.responses_matched;
  discovery_requests += o.discovery_requests;
  discovery_responses += o.discovery_responses;
  joins += o.joins;
  join_refusals += o.join_refusals;
  configurations += o.configurations;
  state_changes += o.state_changes;
  run_entries += o.run_entries;
  downs += o.downs;
  restarts += o.restarts;
  echo_sent += o.echo_sent;
  echo_answered += o.echo_answered;
  echo_seq_other += o.echo_seq_other;
  keepalives_sent += o.keepalives_sent;
  keepalives_answered += o.keepalives_answered;
  events_sent += o.events_sent;
  events_answered += o.events_answered;
  ac_requests += o.ac_requests;
  ac_requests_repeated += o.ac_requests_repeated;
  ac_requests_ignored += o.ac_requests_ignored;
  policy_settings += o.policy_settings;
  image_blocks += o.image_blocks;
  images_installed += o.images_installed;
  image_failures += o.image_failures;
  fragments_sent += o.fragments_sent;
  fragments_received += o.fragments_received;
  reassembled += o.reassembled;
  data_chunks_sent += o.data_chunks_sent;
  data_chunks_accepted += o.data_chunks_accepted;
  core_chunks_sent += o.core_chunks_sent;
  core_chunks_acked += o.core_chunks_acked;
  cores_completed += o.cores_completed;
  protocol_errors += o.protocol_errors;
  return *this;
}

std::string WtpCounters::Text() const {
  const std::pair<const char*, uint64_t> fields[] = {
      {"sent", datagrams_sent},
      {"received", datagrams_received},
      {"requests", requests_sent},
      {"retransmissions", retransmissions},
      {"matched", responses_matched},
      {"discovery", discovery_requests},
      {"discovered", discovery_responses},
      {"joins", joins},
      {"join_refusals", join_refusals},
      {"configured", configurations},
      {"state_changes", state_changes},
      {"run", run_entries},
      {"down", downs},
      {"restarts", restarts},
      {"echo", echo_sent},
      {"echo_answered", echo_answered},
      {"echo_seq_other", echo_seq_other},
      {"keepalive", keepalives_sent},
      {"keepalive_answered", keepalives_answered},
      {"events", events_sent},
      {"events_answered", events_answered},
      {"ac_requests", ac_requests},
      {"ac_repeated", ac_requests_repeated},
      {"ac_ignored", ac_requests_ignored},
      {"policy", policy_settings},
      {"image_blocks", image_blocks},
      {"images", images_installed},
      {"image_failures", image_failures},
      {"fragments_sent", fragments_sent},
      {"fragments_received", fragments_received},
      {"reassembled", reassembled},
      {"data_chunks", data_chunks_sent},
      {"data_accepted", data_chunks_accepted},
      {"core_chunks", core_chunks_sent},
      {"core_acked", core_chunks_acked},
      {"cores_completed", cores_completed},
      {"errors", protocol_errors},
  };
  std::string text;
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += ' ';
    text += name;
    text += '=';
    text += std::to_string(value);
  }
  return text;
}

SimWtp::SimWtp(thread_master* master, WtpIdentity identity, AcEndpoint ac, WtpTiming timing,
               WtpKnobs knobs, LineSink sink, uint64_t seed)
    : master_(master),
      id_(std::move(identity)),
      ac_(std::move(ac)),
      timing_(timing),
      knobs_(std::move(knobs)),
      sink_(std::move(sink)),
      rng_(seed),
      rx_buffer_(kRxBufferSize),
      echo_interval_(timing.echo_interval) {
  next_seq_ = static_cast<uint8_t>(rng_());
}

SimWtp::~SimWtp() { Stop(); }

int SimWtp::Start() {
  Stop();
  if (!ResolveAc()) {
    SetState(WtpState::kDown, "bad AC address " + ac_.address);
    return 1;
  }
  const uint16_t control_port = ac_.local_address.empty() ? 0 : ac_.control_port;
  if (!OpenSocket(&control_, OnControlReadable, control_port) ||
      !OpenSocket(&data_, OnDataReadable)) {
    SetState(WtpState::kDown, std::string("socket: ") + strerror(errno));
    CloseSocket(&control_);
    CloseSocket(&data_);
    return 1;
  }
  holding_ = false;
  uploads_done_ = false;
  echo_interval_ = timing_.echo_interval;
  next_frag_id_ = knobs_.first_frag_id;
  if (knobs_.join_directly) {
    CancelSession();
    NewSessionId();
    EnterJoin();
  } else {
    EnterDiscovery();
  }
  return 0;
}

void SimWtp::Stop() {
  CancelSession();
  state_timer_.Cancel();
  CloseSocket(&control_);
  CloseSocket(&data_);
  CloseSocket(&core_);
  holding_ = false;
  state_ = WtpState::kIdle;
  detail_.clear();
}

void SimWtp::SetRunUntil(WtpStep step) {
  run_until_ = step;
  if (holding_ && step > held_at_) {
    holding_ = false;
    Continue(held_at_);
  }
}

bool SimWtp::SendEvent(ByteView extra) {
  if (state_ != WtpState::kRun || outstanding_) return false;
  SendRequest(BuildEventRequest(id_, TakeSeq(), knobs_.event_padding, extra));
  ++counters_.events_sent;
  return true;
}

const Bytes* SimWtp::LastReceived(uint32_t msg_type) const {
  auto it = last_received_.find(msg_type);
  return it == last_received_.end() ? nullptr : &it->second;
}

// --- Sockets and sending -----------------------------------------------------

bool SimWtp::ResolveAc() {
  ac_control_ = {};
  ac_data_ = {};
  if (ac_.ipv6) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, ac_.address.c_str(), &sa.sin6_addr) != 1) return false;
    sa.sin6_port = htons(ac_.control_port);
    std::memcpy(&ac_control_, &sa, sizeof sa);
    sa.sin6_port = htons(ac_.data_port);
    std::memcpy(&ac_data_, &sa, sizeof sa);
    ac_len_ = sizeof sa;
    return true;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (inet_pton(AF_INET, ac_.address.c_str(), &sa.sin_addr) != 1) return false;
  sa.sin_port = htons(ac_.control_port);
  std::memcpy(&ac_control_, &sa, sizeof sa);
  sa.sin_port = htons(ac_.data_port);
  std::memcpy(&ac_data_, &sa, sizeof sa);
  ac_len_ = sizeof sa;
  return true;
}

bool SimWtp::OpenSocket(Socket* s, int (*reader)(thread*), uint16_t port) {
  const int family = ac_.ipv6 ? AF_INET6 : AF_INET;
  s->fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s->fd < 0) return false;
  sockaddr_storage local{};
  local.ss_family = static_cast<sa_family_t>(family);
  if (!ac_.ipv6 && !ac_.local_address.empty()) {
    auto* sa = reinterpret_cast<sockaddr_in*>(&local);
    if (inet_pton(AF_INET, ac_.local_address.c_str(), &sa->sin_addr) != 1) return false;
    sa->sin_port = htons(port);
    // The AC holds the same port on the wildcard address, also reusable.
    const int on = 1;
    if (port != 0 && setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      return false;
    }
  }
  if (bind(s->fd, reinterpret_cast<sockaddr*>(&local), ac_len_) != 0) return false;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(s->fd, reinterpret_cast<sockaddr*>(&bound), &len);
  s->port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                     : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return thread_add_read(master_, reader, this, s->fd, &s->read) != nullptr;
}

void SimWtp::CloseSocket(Socket* s) {
  if (s->read) thread_cancel(s->read);
  s->read = nullptr;
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
  s->port = 0;
}

void SimWtp::SendToAc(int fd, const sockaddr_storage& to, const Bytes& datagram) {
  if (fd < 0) return;
  Bytes wire = datagram;
  if (ac_.scramble && !ac_.ipv6) CW_Encrypt(wire.data(), wire.size(), kCwScrambleKey);
  if (sendto(fd, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to), ac_len_) <
      0) {
    Trace("send failed: %s", strerror(errno));
    return;
  }
  ++counters_.datagrams_sent;
}

void SimWtp::Transmit(const Bytes& datagram, std::optional<uint16_t> frag_id,
                      const FragmentFaults* faults) {
  // The standard WTP's messages stay well below the MTU.
  if (datagram.size() < kSimFragThreshold || id_.rfc) {
    SendToAc(control_.fd, ac_control_, datagram);
    return;
  }
  std::vector<Bytes> fragments = FragmentDatagram(datagram, frag_id ? *frag_id : next_frag_id_++);
  if (faults) fragments = ApplyFragmentFaults(std::move(fragments), *faults);
  for (const Bytes& fragment : fragments) {
    SendToAc(control_.fd, ac_control_, fragment);
    ++counters_.fragments_sent;
  }
}

void SimWtp::SendData(const Bytes& datagram) { SendToAc(data_.fd, ac_data_, datagram); }

void SimWtp::SendRequest(Bytes datagram) {
  CW_CTLHDR ctl;
  if (id_.rfc) {
    rfc::PeekTypeSeq(datagram, &ctl.msg_type, &ctl.seq);
  } else {
    CW_DEC_CWCtlHdr(&ctl, datagram.data() + kCwHdrLen);
  }
  Outstanding out;
  out.msg_type = ctl.msg_type;
  out.seq = ctl.seq;
  out.datagram = std::move(datagram);
  out.transmissions = 1;
  if (ctl.msg_type != kMsgEchoReq) last_other_seq_ = ctl.seq;
  Trace("> %s seq %u (%zu octets)", MsgTypeName(ctl.msg_type), ctl.seq, out.datagram.size());
  if (out.datagram.size() >= kSimFragThreshold) out.frag_id = next_frag_id_++;
  Transmit(out.datagram, out.frag_id, &knobs_.frag_faults);
  ++counters_.requests_sent;
  const uint32_t wait = ctl.msg_type == kMsgDiscoveryReq ? timing_.discovery_interval
                                                              : timing_.retransmit_interval;
  outstanding_ = std::move(out);
  retransmit_timer_.Start(master_, wait, OnRetransmit, this);
}

void SimWtp::Respond(uint32_t request_type, uint8_t seq, ByteView extra,
                     std::optional<uint32_t> forced) {
  auto code = knobs_.result_codes.find(request_type);
  const uint32_t result = forced ? *forced : code == knobs_.result_codes.end() ? 0 : code->second;
  Answer answer;
  answer.request_type = request_type;
  answer.seq = seq;
  answer.datagram = id_.rfc ? rfc::BuildResponse(request_type + 1, seq, result)
                            : BuildResponse(request_type + 1, seq, result, extra);
  Trace("> %s seq %u result %u", MsgTypeName(request_type + 1), seq, result);
  Transmit(answer.datagram);
  last_answer_ = std::move(answer);
}

Bytes SimWtp::DiscoveryRequest() {
  return id_.rfc ? rfc::BuildDiscoveryRequest(id_, TakeSeq()) : BuildDiscoveryRequest(id_, TakeSeq());
}

// A standard WTP names the address it sends from: the one the kernel routes
// towards the AC.
Bytes SimWtp::JoinRequest() {
  if (!id_.rfc) return BuildJoinRequest(id_, TakeSeq());
  rfc::LocalAddress local;
  local.ipv6 = ac_.ipv6;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  const int fd = socket(ac_control_.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&ac_control_), ac_len_) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0) {
    if (ac_.ipv6) {
      std::memcpy(local.octets.data(), &reinterpret_cast<sockaddr_in6*>(&bound)->sin6_addr, 16);
    } else {
      std::memcpy(local.octets.data(), &reinterpret_cast<sockaddr_in*>(&bound)->sin_addr, 4);
    }
  }
  if (fd >= 0) close(fd);
  return rfc::BuildJoinRequest(id_, TakeSeq(), local);
}

Bytes SimWtp::EchoRequest() {
  return id_.rfc ? rfc::BuildEchoRequest(TakeSeq()) : BuildEchoRequest(id_, TakeSeq());
}

Bytes SimWtp::Keepalive() const {
  return id_.rfc ? rfc::BuildKeepalive(id_.session_id) : BuildKeepalive(id_.session_id);
}

// --- Progress ----------------------------------------------------------------

void SimWtp::SetState(WtpState state, std::string detail) {
  if (state == state_ && detail == detail_) return;
  state_ = state;
  detail_ = std::move(detail);
  if (!sink_) return;
  std::string line = id_.name + " " + MacText(id_.mac) + " " + WtpStateName(state_);
  if (!detail_.empty()) line += " " + detail_;
  sink_(line);
}

void SimWtp::Hold(WtpStep step, std::string detail) {
  holding_ = true;
  held_at_ = step;
  SetState(state_, std::move(detail));
}

void SimWtp::Continue(WtpStep after) {
  switch (after) {
    case WtpStep::kDiscover: EnterJoin(); break;
    case WtpStep::kJoin: EnterConfigure(); break;
    case WtpStep::kConfigure: EnterChangeState(); break;
    case WtpStep::kChangeState: EnterDataCheck(); break;
    case WtpStep::kRun: break;
  }
}

void SimWtp::NewSessionId() {
  for (size_t i = 0; i < id_.session_id.size(); i += 8) {
    const uint64_t r = rng_();
    for (size_t k = 0; k < 8; ++k) id_.session_id[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
}

void SimWtp::CancelSession() {
  retransmit_timer_.Cancel();
  echo_timer_.Cancel();
  keepalive_timer_.Cancel();
  event_timer_.Cancel();
  reassembly_timer_.Cancel();
  data_dead_timer_.Cancel();
  outstanding_.reset();
  last_answer_.reset();
  reassembler_.Clear();
  standard_reassembler_.Clear();
  image_ = ImageDownload{};
  keepalive_tries_ = 0;
}

void SimWtp::EnterDiscovery() {
  CancelSession();
  NewSessionId();
  SetState(WtpState::kDiscovery,
           "ac " + ac_.address + " port " + std::to_string(ac_.control_port));
  SendRequest(DiscoveryRequest());
  ++counters_.discovery_requests;
}

void SimWtp::EnterJoin() {
  SetState(WtpState::kJoin, "session " + SessionText(id_.session_id));
  SendRequest(JoinRequest());
}

void SimWtp::EnterImage(const JoinResponseInfo& info) {
  image_ = ImageDownload{};
  image_.active = true;
  image_.identifier = info.image_identifier;
  image_.version = info.image_version;
  SetState(WtpState::kImage, "requesting " + info.image_version);
  SendRequest(BuildImageDataRequest(TakeSeq(), image_.identifier));
}

void SimWtp::EnterConfigure() {
  SetState(WtpState::kConfigure, "configuration status");
  SendRequest(id_.rfc ? rfc::BuildConfigStatusRequest(id_, TakeSeq())
                      : BuildConfigStatusRequest(id_, TakeSeq(), knobs_.config_status_padding));
}

void SimWtp::EnterChangeState() {
  SetState(WtpState::kConfigure, "change state");
  SendRequest(id_.rfc ? rfc::BuildChangeStateRequest(id_, TakeSeq())
                      : BuildChangeStateRequest(id_, TakeSeq()));
}

void SimWtp::EnterDataCheck() {
  SetState(WtpState::kDataCheck, "keepalive to port " + std::to_string(ac_.data_port));
  keepalive_tries_ = 1;
  SendData(Keepalive());
  ++counters_.keepalives_sent;
  keepalive_timer_.Start(master_, timing_.retransmit_interval, OnKeepaliveTimer, this);
}

void SimWtp::EnterRun() {
  keepalive_timer_.Cancel();
  ++counters_.run_entries;
  SetState(WtpState::kRun, "echo " + std::to_string(echo_interval_) + " s");
  ArmRunTimers();
  ArmDataChannelDead();
  if (!uploads_done_) {
    uploads_done_ = true;
    data_sent_ = 0;
    if (knobs_.data_transfer_bytes > 0) SendNextDataChunk();
    if (knobs_.core_dump_bytes > 0) SendCoreDump();
  }
}

namespace {
constexpr size_t kUploadChunk = 1000;

Bytes DumpBytes(size_t from, size_t count) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = DumpOctet(from + i);
  return out;
}
}  // namespace

void SimWtp::SendNextDataChunk() {
  const size_t total = knobs_.data_transfer_bytes;
  if (state_ != WtpState::kRun || outstanding_ || data_sent_ >= total) return;
  const size_t count = std::min(kUploadChunk, total - data_sent_);
  const uint8_t type = data_sent_ + count >= total ? 2 : 1;  // end of data : data
  SendRequest(BuildDataTransferRequest(TakeSeq(), type, DumpBytes(data_sent_, count)));
  data_sent_ += count;
  ++counters_.data_chunks_sent;
}

// The monitor channel is IPv4 only; chunks go out at once and are numbered
// from 1, each acknowledged by the AC.
void SimWtp::SendCoreDump() {
  if (ac_.ipv6 || !OpenSocket(&core_, OnCoreReadable)) return;
  sockaddr_storage to = ac_control_;
  reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(static_cast<uint16_t>(ac_.control_port + 2));
  const size_t total = knobs_.core_dump_bytes;
  uint8_t chunk_no = 1;
  for (size_t at = 0; at < total; at += kUploadChunk, ++chunk_no) {
    const size_t count = std::min(kUploadChunk, total - at);
    const Bytes chunk = BuildCoreChunk(chunk_no, 0, static_cast<uint32_t>(total),
                                       DumpBytes(at, count));
    // Never scrambled: the monitor channel carries the chunks in clear.
    if (sendto(core_.fd, chunk.data(), chunk.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               ac_len_) < 0) {
      Trace("core chunk %u not sent: %s", chunk_no, strerror(errno));
      return;
    }
    ++counters_.datagrams_sent;
    ++counters_.core_chunks_sent;
  }
}

void SimWtp::ArmRunTimers() {
  echo_timer_.Cancel();
  if (echo_interval_ > 0 && !knobs_.silent_echo) {
    echo_timer_.Start(master_, echo_interval_, OnEchoTimer, this);
  }
  if (timing_.keepalive_interval > 0 && !knobs_.silent_keepalive) {
    keepalive_timer_.StartIfIdle(master_, timing_.keepalive_interval, OnKeepaliveTimer, this);
  }
  if (knobs_.event_interval > 0) {
    event_timer_.StartIfIdle(master_, knobs_.event_interval, OnEventTimer, this);
  }
}

void SimWtp::GoDown(std::string reason) {
  CancelSession();
  holding_ = false;
  ++counters_.downs;
  SetState(WtpState::kDown, std::move(reason));
  if (!timing_.stay_down) state_timer_.Start(master_, timing_.restart_delay, OnStateTimer, this);
}

// --- Timers ------------------------------------------------------------------

int SimWtp::OnRetransmit(thread* t) {
  Self(t)->RetransmitDue();
  return 0;
}

void SimWtp::RetransmitDue() {
  if (!outstanding_) return;
  if (outstanding_->msg_type == kMsgDiscoveryReq) {
    // Each Discovery Request is new; the AC may be down or busy for a while.
    outstanding_.reset();
    SendRequest(DiscoveryRequest());
    ++counters_.discovery_requests;
    return;
  }
  if (outstanding_->transmissions >= timing_.max_retransmit) {
    GoDown(std::string("no ") + MsgTypeName(outstanding_->msg_type + 1));
    return;
  }
  ++outstanding_->transmissions;
  ++counters_.retransmissions;
  Trace("> %s seq %u again", MsgTypeName(outstanding_->msg_type), outstanding_->seq);
  Transmit(outstanding_->datagram,
           knobs_.frag_same_id ? std::optional<uint16_t>(outstanding_->frag_id) : std::nullopt);
  retransmit_timer_.Start(master_, timing_.retransmit_interval, OnRetransmit, this);
}

int SimWtp::OnStateTimer(thread* t) {
  SimWtp* self = Self(t);
  if (self->state_ == WtpState::kDown) {
    ++self->counters_.restarts;
    self->EnterDiscovery();
  } else if (self->state_ == WtpState::kImage) {
    ++self->counters_.image_failures;
    self->GoDown("image download stalled");
  }
  return 0;
}

int SimWtp::OnEchoTimer(thread* t) {
  Self(t)->EchoDue();
  return 0;
}

void SimWtp::EchoDue() {
  if (state_ != WtpState::kRun || knobs_.silent_echo || echo_interval_ == 0) return;
  if (!outstanding_) {
    SendRequest(EchoRequest());
    ++counters_.echo_sent;
  }
  echo_timer_.Start(master_, echo_interval_, OnEchoTimer, this);
}

int SimWtp::OnKeepaliveTimer(thread* t) {
  Self(t)->KeepaliveDue();
  return 0;
}

void SimWtp::KeepaliveDue() {
  if (state_ == WtpState::kDataCheck) {
    if (keepalive_tries_ >= timing_.max_retransmit) {
      GoDown("no keepalive answer");
      return;
    }
    ++keepalive_tries_;
    SendData(Keepalive());
    ++counters_.keepalives_sent;
    keepalive_timer_.Start(master_, timing_.retransmit_interval, OnKeepaliveTimer, this);
    return;
  }
  if (state_ != WtpState::kRun || knobs_.silent_keepalive) return;
  SendData(Keepalive());
  ++counters_.keepalives_sent;
  keepalive_timer_.Start(master_, timing_.keepalive_interval, OnKeepaliveTimer, this);
}

int SimWtp::OnEventTimer(thread* t) {
  SimWtp* self = Self(t);
  if (self->state_ != WtpState::kRun || self->knobs_.event_interval == 0) return 0;
  self->SendEvent();
  self->event_timer_.Start(self->master_, self->knobs_.event_interval, OnEventTimer, self);
  return 0;
}

// RFC 5415 DataChannelDeadInterval: 60 s, at least twice the keepalive
// interval; a standard WTP that hears no keepalive for that long resets.
void SimWtp::ArmDataChannelDead() {
  if (!id_.rfc || timing_.keepalive_interval == 0) return;
  data_dead_timer_.Start(master_, std::max<uint32_t>(60, 2 * timing_.keepalive_interval),
                         OnDataChannelDead, this);
}

int SimWtp::OnDataChannelDead(thread* t) {
  SimWtp* self = Self(t);
  if (self->state_ == WtpState::kRun) self->GoDown("data channel dead: no keepalive answered");
  return 0;
}

int SimWtp::OnReassemblyTimer(thread* t) {
  SimWtp* self = Self(t);
  if (self->reassembler_.InProgress()) {
    self->reassembler_.Clear();
    self->ProtocolError("fragmented message incomplete after %u s",
                        self->timing_.reassembly_timeout);
  }
  return 0;
}

void SimWtp::ProtocolError(const char* fmt, ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  ++counters_.protocol_errors;
  last_error_ = buf;
  if ((verbose_ || id_.rfc) && sink_) sink_(id_.name + " error: " + last_error_);
}

void SimWtp::Trace(const char* fmt, ...) {
  if (!verbose_ || !sink_) return;
  char buf[256];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  sink_(id_.name + " " + buf);
}

}  // namespace capwap::sim
