// What the simulated WTP does with each datagram from the AC: checks,
// reassembly, matching responses to the outstanding request, and answers to
// the AC's requests.
#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "platform/thread.h"
#include "transport/monitor.h"
#include "wtp-sim/wtp_policy.h"
#include "wtp-sim/wtp_rfc.h"
#include "wtp-sim/wtp_sim.h"
#include "wtp-sim/wtp_wlan.h"

namespace capwap::sim {

namespace {

// A hostile AC must not make the AP hold unbounded data.
constexpr size_t kMaxImageSize = 64u << 20;

SimWtp* Self(thread* t) { return static_cast<SimWtp*>(THREAD_ARG(t)); }

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET6) {
    const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
    return x.sin6_port == y.sin6_port &&
           std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
  }
  const auto& x = reinterpret_cast<const sockaddr_in&>(a);
  const auto& y = reinterpret_cast<const sockaddr_in&>(b);
  return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
}

}  // namespace

int SimWtp::OnControlReadable(thread* t) {
  SimWtp* self = Self(t);
  // Re-arm before anything else: no bad datagram may deafen the socket.
  thread_rearm(t);
  Bytes datagram;
  if (self->Receive(&self->control_, self->ac_control_, &datagram) >= 0) {
    self->HandleControl(std::move(datagram));
  }
  return 0;
}

int SimWtp::OnDataReadable(thread* t) {
  SimWtp* self = Self(t);
  thread_rearm(t);
  Bytes datagram;
  if (self->Receive(&self->data_, self->ac_data_, &datagram) >= 0) {
    self->HandleKeepalive(datagram);
  }
  return 0;
}

// A core-dump acknowledgement: headers (type 177), process index, completion flag.
int SimWtp::OnCoreReadable(thread* t) {
  SimWtp* self = Self(t);
  thread_rearm(t);
  sockaddr_storage monitor = self->ac_control_;
  reinterpret_cast<sockaddr_in*>(&monitor)->sin_port =
      htons(static_cast<uint16_t>(self->ac_.control_port + 2));
  Bytes datagram;
  if (self->Receive(&self->core_, monitor, &datagram) < 0) return 0;
  CW_CTLHDR ctl;
  if (datagram.size() != kMonCoreAckLen) {
    self->ProtocolError("core-dump acknowledgement of %zu octets", datagram.size());
    return 0;
  }
  CW_DEC_CWCtlHdr(&ctl, datagram.data() + kCwHdrLen);
  WireReader r(ByteView(datagram).subspan(kCwHeadersLen));
  uint16_t process = 0;
  uint16_t complete = 0;
  if (ctl.msg_type != kMonCoreMsgType || !r.u16(process) || !r.u16(complete)) {
    self->ProtocolError("core-dump acknowledgement of type %u", ctl.msg_type);
    return 0;
  }
  ++self->counters_.core_chunks_acked;
  if (complete == 1) ++self->counters_.cores_completed;
  return 0;
}

ssize_t SimWtp::Receive(Socket* s, const sockaddr_storage& expected, Bytes* out) {
  sockaddr_storage from{};
  socklen_t len = sizeof from;
  const ssize_t n = recvfrom(s->fd, rx_buffer_.data(), rx_buffer_.size(), MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) Trace("receive failed: %s", strerror(errno));
    return -1;
  }
  ++counters_.datagrams_received;
  if (static_cast<size_t>(n) > rx_buffer_.size()) {
    ProtocolError("datagram of %zd octets exceeds %zu", n, rx_buffer_.size());
    return -1;
  }
  if (!SameEndpoint(from, expected)) {
    ProtocolError("datagram of %zd octets from an unknown endpoint", n);
    return -1;
  }
  out->assign(rx_buffer_.begin(), rx_buffer_.begin() + n);
  if (ac_.scramble && !ac_.ipv6) CW_Encrypt(out->data(), out->size(), kCwScrambleKey);
  return n;
}

void SimWtp::HandleControl(Bytes datagram) {
  if (id_.rfc) {
    Bytes message;
    std::string why;
    switch (standard_reassembler_.Add(datagram, &message, &why)) {
      case rfc::StandardReassembler::Result::kWhole: HandleStandardMessage(datagram); return;
      case rfc::StandardReassembler::Result::kHeld: ++counters_.fragments_received; return;
      case rfc::StandardReassembler::Result::kRejected:
        ProtocolError("fragment dropped: %s", why.c_str());
        return;
      case rfc::StandardReassembler::Result::kComplete:
        ++counters_.fragments_received;
        ++counters_.reassembled;
        HandleStandardMessage(message);
        return;
    }
  }
  if (datagram.size() < kCwHdrLen) {
    ProtocolError("short datagram of %zu octets", datagram.size());
    return;
  }
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, datagram.data());
  if (CW_CheckCWHdr(&hdr) != 0) {
    ProtocolError("illegal CAPWAP header %08x", hdr.word0);
    return;
  }
  if (!hdr.F()) {
    HandleMessage(datagram);
    return;
  }
  ++counters_.fragments_received;
  Bytes message;
  std::string why;
  switch (reassembler_.Add(hdr, datagram, &message, &why)) {
    case Reassembler::Result::kHeld:
      reassembly_timer_.Start(master_, timing_.reassembly_timeout, OnReassemblyTimer, this);
      return;
    case Reassembler::Result::kRejected:
      reassembly_timer_.Cancel();
      ProtocolError("fragment dropped: %s", why.c_str());
      return;
    case Reassembler::Result::kComplete:
      reassembly_timer_.Cancel();
      ++counters_.reassembled;
      HandleMessage(message);
      return;
  }
}

void SimWtp::HandleMessage(const Bytes& datagram) {
  ControlMessage msg;
  std::string why;
  if (!ParseControl(datagram, &msg, &why)) {
    ProtocolError("%s", why.c_str());
    return;
  }
  Dispatch(msg, datagram);
}

// A standard WTP drops what it cannot parse or what lacks an element the RFCs
// make mandatory, and says why in one line.
void SimWtp::HandleStandardMessage(const Bytes& datagram) {
  ControlMessage msg;
  std::string why;
  if (!rfc::ParseStandardControl(datagram, &msg, &why) ||
      !rfc::CheckStandardMandatory(msg, id_.radios.size(), ac_.ipv6, &why)) {
    ++counters_.protocol_errors;
    last_error_ = why;
    if (sink_) sink_(id_.name + " dropped a message of the AC: " + why);
    return;
  }
  if (!rfc::CheckOwnVendorPayloads(msg, id_.vendor_id, &why)) {
    ++counters_.protocol_errors;
    last_error_ = why;
    if (!IsRequest(msg.ctl.msg_type)) {
      if (sink_) sink_(id_.name + " dropped a message of the AC: " + why);
      return;
    }
    if (sink_) sink_(id_.name + " refused a request of the AC: " + why);
    Respond(msg.ctl.msg_type, msg.ctl.seq, {}, rfc::kResultUnrecognizedElement);
    return;
  }
  Dispatch(msg, datagram);
}

void SimWtp::Dispatch(const ControlMessage& msg, const Bytes& datagram) {
  last_received_[msg.ctl.msg_type] = datagram;
  if (tap_) tap_(datagram);
  Trace("< %s seq %u (%zu octets)", MsgTypeName(msg.ctl.msg_type), msg.ctl.seq,
        datagram.size());
  if (IsRequest(msg.ctl.msg_type)) {
    HandleAcRequest(msg);
  } else {
    HandleResponse(msg);
  }
}

// --- Responses to our requests ----------------------------------------------

bool SimWtp::MatchResponse(const ControlMessage& msg) {
  const uint32_t type = msg.ctl.msg_type;
  if (!outstanding_) {
    ProtocolError("%s seq %u with no request outstanding", MsgTypeName(type), msg.ctl.seq);
    return false;
  }
  if (type != outstanding_->msg_type + 1) {
    ProtocolError("%s while a %s is outstanding", MsgTypeName(type),
                  MsgTypeName(outstanding_->msg_type));
    return false;
  }
  if (msg.ctl.seq == outstanding_->seq) return true;
  if (type == kMsgEchoRsp && msg.ctl.seq == last_other_seq_) {
    ++counters_.echo_seq_other;
    if (!knobs_.strict_echo_seq && !id_.rfc) return true;
  }
  ProtocolError("%s seq %u, expected %u", MsgTypeName(type), msg.ctl.seq, outstanding_->seq);
  return false;
}

void SimWtp::CompleteOutstanding() {
  retransmit_timer_.Cancel();
  outstanding_.reset();
  ++counters_.responses_matched;
}

void SimWtp::HandleResponse(const ControlMessage& msg) {
  if (!MatchResponse(msg)) return;
  switch (msg.ctl.msg_type) {
    case kMsgDiscoveryRsp:
      OnDiscoveryResponse(msg);
      return;
    case kMsgJoinRsp:
      OnJoinResponse(msg);
      return;
    case kMsgCfgStatusRsp:
      OnConfigStatusResponse(msg);
      return;
    case kMsgImageDataRsp:
      OnImageDataResponse(msg);
      return;
    case kMsgChgStateRsp:
      CompleteOutstanding();
      ++counters_.state_changes;
      if (run_until_ == WtpStep::kChangeState) {
        Hold(WtpStep::kChangeState, "radios enabled");
      } else {
        EnterDataCheck();
      }
      return;
    case kMsgEchoRsp:
      CompleteOutstanding();
      ++counters_.echo_answered;
      if (!id_.rfc && !msg.Find(elem::kAcTimestamp)) ProtocolError("Echo Response without AC Timestamp");
      return;
    case kMsgWtpEventRsp:
      CompleteOutstanding();
      ++counters_.events_answered;
      return;
    case kMsgDataTransferRsp:
      CompleteOutstanding();
      if (FindResultCode(msg).value_or(1) == 0) {
        ++counters_.data_chunks_accepted;
        SendNextDataChunk();
      } else {
        ProtocolError("Data Transfer Response with result %u", FindResultCode(msg).value_or(1));
      }
      return;
    default:
      CompleteOutstanding();
      return;
  }
}

void SimWtp::OnDiscoveryResponse(const ControlMessage& msg) {
  DiscoveryResponseInfo info;
  std::string why;
  if (!id_.rfc && !DecodeDiscoveryResponse(msg, &info, &why)) {
    ProtocolError("Discovery Response: %s", why.c_str());
    return;
  }
  CompleteOutstanding();
  ++counters_.discovery_responses;
  ac_priority_ = info.priority;
  if (run_until_ == WtpStep::kDiscover) {
    Hold(WtpStep::kDiscover, "answered, priority " + std::to_string(info.priority));
    return;
  }
  EnterJoin();
}

void SimWtp::OnJoinResponse(const ControlMessage& msg) {
  JoinResponseInfo info;
  std::string why;
  if (id_.rfc) {
    info.result_code = FindResultCode(msg).value_or(1);
    if (info.result_code == 2) info.result_code = 0;  // success, NAT detected
  } else if (!DecodeJoinResponse(msg, &info, &why)) {
    ProtocolError("Join Response: %s", why.c_str());
    return;
  }
  CompleteOutstanding();
  if (info.result_code != 0) {
    ++counters_.join_refusals;
    GoDown("join refused, result " + std::to_string(info.result_code));
    return;
  }
  ++counters_.joins;
  if (info.has_image) {
    EnterImage(info);
  } else if (knobs_.skip_config_status) {
    SetState(WtpState::kJoin, "configuration status withheld");
  } else if (run_until_ == WtpStep::kJoin) {
    Hold(WtpStep::kJoin, "joined");
  } else {
    EnterConfigure();
  }
}

void SimWtp::OnConfigStatusResponse(const ControlMessage& msg) {
  CompleteOutstanding();
  ++counters_.configurations;
  config_elements_.clear();
  for (const CwElement& e : msg.list) config_elements_.push_back(e.type);
  if (auto timers = FindCapwapTimers(msg)) echo_interval_ = timers->echo;
  if (knobs_.skip_change_state) {
    SetState(WtpState::kConfigure, "change state withheld");
  } else if (run_until_ == WtpStep::kConfigure) {
    Hold(WtpStep::kConfigure, "configured");
  } else {
    EnterChangeState();
  }
}

void SimWtp::OnImageDataResponse(const ControlMessage& msg) {
  const std::optional<uint32_t> result = FindResultCode(msg);
  if (!result) {
    ProtocolError("Image Data Response without Result Code");
    return;
  }
  CompleteOutstanding();
  if (*result != 0) {
    ++counters_.image_failures;
    GoDown("image refused, result " + std::to_string(*result));
    return;
  }
  SetState(WtpState::kImage, "downloading " + image_.version);
  state_timer_.Start(master_, timing_.image_idle_timeout, OnStateTimer, this);
}

// --- Requests of the AC -------------------------------------------------------

bool SimWtp::AcceptsAcRequests() const {
  switch (state_) {
    case WtpState::kJoin:
    case WtpState::kImage:
    case WtpState::kConfigure:
    case WtpState::kDataCheck:
    case WtpState::kRun:
      return true;
    default:
      return false;
  }
}

void SimWtp::HandleAcRequest(const ControlMessage& msg) {
  const uint32_t type = msg.ctl.msg_type;
  const uint8_t seq = msg.ctl.seq;
  if (last_answer_ && last_answer_->request_type == type && last_answer_->seq == seq) {
    // The AC did not get our answer: the same answer again, nothing redone.
    ++counters_.ac_requests_repeated;
    Transmit(last_answer_->datagram);
    return;
  }
  if (!AcceptsAcRequests()) {
    ++counters_.ac_requests_ignored;
    Trace("%s ignored in %s", MsgTypeName(type), WtpStateName(state_));
    return;
  }
  switch (type) {
    case kMsgCfgUpdateReq:
      OnConfigUpdate(msg);
      return;
    case kMsgStaCfgReq:
      ++counters_.ac_requests;
      if (sink_) sink_(id_.name + " " + DescribeWlanRequest(msg));
      Respond(type, seq);
      return;
    case kMsgWlanCfgReq:
      ++counters_.ac_requests;
      if (sink_) sink_(id_.name + " " + DescribeWlanRequest(msg));
      Respond(type, seq, AssignedBssidElements(id_, msg.elements));
      return;
    case kMsgResetReq:
      ++counters_.ac_requests;
      Respond(type, seq);
      GoDown("reset by AC");
      return;
    case kMsgImageDataReq:
      OnImageBlock(msg);
      return;
    default:
      ProtocolError("unexpected %s (type %u) from the AC", MsgTypeName(type), type);
      return;
  }
}

void SimWtp::OnConfigUpdate(const ControlMessage& msg) {
  if (knobs_.ignore_config_update || knobs_.config_updates_to_ignore > 0) {
    if (knobs_.config_updates_to_ignore > 0) --knobs_.config_updates_to_ignore;
    ++counters_.ac_requests_ignored;
    return;
  }
  ++counters_.ac_requests;
  if (auto timers = FindCapwapTimers(msg)) {
    echo_interval_ = timers->echo;
    if (state_ == WtpState::kRun) ArmRunTimers();
    if (id_.rfc && sink_) {
      sink_(id_.name + " CAPWAP Timers: discovery " + std::to_string(timers->discovery) +
            " s, echo " + std::to_string(timers->echo) + " s");
    }
  }
  if (id_.rfc) {
    Respond(msg.ctl.msg_type, msg.ctl.seq);
    return;
  }
  const PolicyCheck policy = CheckPolicyElements(msg, knobs_.policy_results);
  counters_.policy_settings += policy.settings;
  if (!policy.error.empty()) ProtocolError("Configuration Update: %s", policy.error.c_str());
  Respond(msg.ctl.msg_type, msg.ctl.seq, {}, policy.result);
  // Told to upgrade while running: ask for the named image, under this AP's
  // vendor when the AC left the identifier's vendor empty.
  const CwElement* upgrade = msg.Find(elem::kImageIdentifier);
  if (!upgrade || state_ != WtpState::kRun || image_.active) return;
  JoinResponseInfo info;
  std::string why;
  if (!DecodeUpgradeImage(upgrade->value, &info, &why)) {
    ProtocolError("Configuration Update: %s", why.c_str());
    return;
  }
  WireReader vendor_field(info.image_identifier);
  uint32_t vendor = 0;
  if (vendor_field.u32(vendor) && vendor == 0) {
    WireWriter(info.image_identifier.data(), 4).u32(id_.vendor_id);
  }
  image_ = ImageDownload{};
  image_.active = true;
  image_.identifier = info.image_identifier;
  image_.version = info.image_version;
  outstanding_.reset();
  retransmit_timer_.Cancel();
  SendRequest(BuildImageDataRequest(TakeSeq(), image_.identifier));
}

void SimWtp::OnImageBlock(const ControlMessage& msg) {
  ImageBlock block;
  std::string why;
  if (!DecodeImageBlock(msg, &block, &why)) {
    ProtocolError("Image Data Request: %s", why.c_str());
    return;
  }
  if (state_ != WtpState::kImage && state_ != WtpState::kRun) {
    ++counters_.ac_requests_ignored;
    return;
  }
  if (!image_.active) {
    // An upgrade pushed while running: the version is not known in advance.
    image_ = ImageDownload{};
    image_.active = true;
  }
  if (block.data.size() > kMaxImageSize - image_.data.size()) {
    ++counters_.image_failures;
    ProtocolError("image larger than %zu octets", kMaxImageSize);
    GoDown("image too large");
    return;
  }
  image_.data.insert(image_.data.end(), block.data.begin(), block.data.end());
  ++counters_.image_blocks;
  ++counters_.ac_requests;
  Respond(msg.ctl.msg_type, msg.ctl.seq);
  if (block.data_type == kImageDataEof) {
    FinishImage(block);
  } else if (state_ == WtpState::kImage) {
    state_timer_.Start(master_, timing_.image_idle_timeout, OnStateTimer, this);
  }
}

void SimWtp::FinishImage(const ImageBlock& block) {
  if (block.size != image_.data.size() || Md5Of(image_.data) != block.md5) {
    ++counters_.image_failures;
    ProtocolError("image of %zu octets does not match Image Information (size %u)",
                  image_.data.size(), block.size);
    GoDown("image digest mismatch");
    return;
  }
  ++counters_.images_installed;
  if (!image_.version.empty()) id_.sw_version = image_.version;
  GoDown("image " + id_.sw_version + " installed");
}

// --- Data channel ---------------------------------------------------------------

void SimWtp::HandleKeepalive(ByteView datagram) {
  SessionId session_id{};
  std::string why;
  const bool ok = id_.rfc ? rfc::DecodeKeepalive(datagram, &session_id, &why)
                          : DecodeKeepalive(datagram, &session_id, &why);
  if (!ok) {
    ProtocolError("%s", why.c_str());
    return;
  }
  if (session_id != id_.session_id) {
    ProtocolError("keepalive for another session");
    return;
  }
  if (state_ == WtpState::kDataCheck) {
    ++counters_.keepalives_answered;
    EnterRun();
  } else if (state_ == WtpState::kRun) {
    ++counters_.keepalives_answered;
    ArmDataChannelDead();
  } else {
    Trace("keepalive answer ignored in %s", WtpStateName(state_));
  }
}

}  // namespace capwap::sim
