// The scripted loopback AC of the WTP simulator tests.
#include "tools/fake_ac.h"

#include <arpa/inet.h>
#include <md5.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace capwap::simtest {

namespace {

constexpr uint32_t kVendor = 41414;
constexpr size_t kImageBlock = 1024;

FakeAc* Self(thread* t) { return static_cast<FakeAc*>(THREAD_ARG(t)); }

void PutFixed(WireWriter& w, uint16_t type, const std::string& text) {
  w.u16(type);
  w.u16(32);
  w.fixed_str(text, 32);
}

}  // namespace

Bytes AcMessage(uint32_t msg_type, uint8_t seq, const std::function<void(CW_PKT&)>& body) {
  CW_PKT pkt;
  pkt.buffer.assign(kCwPktBufSize, 0);
  if (body) body(pkt);
  CW_FinishCtlMsg(pkt, msg_type, seq);
  pkt.buffer.resize(pkt.length);
  return pkt.buffer;
}

Bytes DiscoveryResponse(uint8_t seq, uint8_t priority) {
  return AcMessage(CW_MSG_DISCOVERY_RSP, seq, [priority](CW_PKT& pkt) {
    {
      CwElementWriter e(pkt, 1);  // AC Descriptor
      e.w().zeros(12);
      for (uint16_t sub : {4, 5}) {
        e.w().u32(kVendor);
        e.w().u16(sub);
        e.w().u16(64);
        e.w().zeros(64);
      }
    }
    { CwElementWriter e(pkt, 4); e.w().zeros(32); }
    { CwElementWriter e(pkt, 10); e.w().zeros(6); }
    {
      CwElementWriter e(pkt, 37);
      e.w().u32(kVendor);
      e.w().u16(128);
      e.w().u16(1);
      e.w().u8(priority);
    }
  });
}

Bytes JoinResponse(uint8_t seq, uint32_t result, const Bytes* image_identifier) {
  return AcMessage(CW_MSG_JOIN_RSP, seq, [&](CW_PKT& pkt) {
    { CwElementWriter e(pkt, 33); e.w().u32(result); }
    if (result != 0) return;
    { CwElementWriter e(pkt, 1); e.w().zeros(156); }
    { CwElementWriter e(pkt, 4); e.w().zeros(32); }
    { CwElementWriter e(pkt, 10); e.w().zeros(6); }
    { CwElementWriter e(pkt, 51); e.w().u8(2); }
    if (image_identifier) {
      CwElementWriter e(pkt, 25);
      e.w().bytes(*image_identifier);
    }
  });
}

Bytes ConfigStatusResponse(uint8_t seq, std::optional<uint8_t> echo_interval) {
  return AcMessage(CW_MSG_CFG_STATUS_RSP, seq, [&](CW_PKT& pkt) {
    if (echo_interval) {
      CwElementWriter e(pkt, 12);
      e.w().u8(3);
      e.w().u8(*echo_interval);
    }
    { CwElementWriter e(pkt, 28); e.w().zeros(32); }
    { CwElementWriter e(pkt, 36); e.w().u16(120); }
    { CwElementWriter e(pkt, 52); e.w().zeros(16); }
  });
}

Bytes EchoResponse(uint8_t seq) {
  return AcMessage(CW_MSG_ECHO_RSP, seq, [](CW_PKT& pkt) {
    CwElementWriter e(pkt, 6);
    e.w().u32(1700000000);
  });
}

Bytes ResultResponse(uint32_t msg_type, uint8_t seq, uint32_t result) {
  return AcMessage(msg_type, seq, [result](CW_PKT& pkt) {
    CwElementWriter e(pkt, 33);
    e.w().u32(result);
  });
}

Bytes ImageIdentifierValue(const std::string& model, const std::string& version,
                           const std::string& name) {
  Bytes out(112, 0);
  WireWriter w(out.data(), out.size());
  w.u32(kVendor);
  PutFixed(w, 0, model);
  PutFixed(w, 1, version);
  PutFixed(w, 2, name);
  return out;
}

// --- Sockets ---------------------------------------------------------------

FakeAc::FakeAc(thread_master* master, bool ipv6, uint16_t control_port, uint16_t data_port)
    : master_(master), control_port_(control_port), data_port_(data_port) {
  wtp_len_ = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  control_fd_ = Open(ipv6, &control_port_);
  data_fd_ = Open(ipv6, &data_port_);
  if (ok()) {
    thread_add_read(master_, OnControl, this, control_fd_, &control_read_);
    thread_add_read(master_, OnData, this, data_fd_, &data_read_);
  }
}

FakeAc::~FakeAc() {
  thread_cancel(control_read_);
  thread_cancel(data_read_);
  if (control_fd_ >= 0) close(control_fd_);
  if (data_fd_ >= 0) close(data_fd_);
}

int FakeAc::Open(bool ipv6, uint16_t* port) {
  int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_storage local{};
  if (ipv6) {
    auto& sa = reinterpret_cast<sockaddr_in6&>(local);
    sa.sin6_family = AF_INET6;
    sa.sin6_addr = in6addr_loopback;
    sa.sin6_port = htons(*port);
  } else {
    auto& sa = reinterpret_cast<sockaddr_in&>(local);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(*port);
  }
  socklen_t len = wtp_len_;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(local).sin6_port
                     : reinterpret_cast<sockaddr_in&>(local).sin_port);
  return fd;
}

bool FakeAc::Read(int fd, Datagram* out) {
  uint8_t buf[65536];
  out->from_len = sizeof out->from;
  ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&out->from),
                       &out->from_len);
  if (n < 0) return false;
  out->bytes.assign(buf, buf + n);
  if (scramble) CW_Encrypt(out->bytes.data(), out->bytes.size(), kCwScrambleKey);
  return true;
}

int FakeAc::OnControl(thread* t) {
  FakeAc* self = Self(t);
  thread_add_read(self->master_, OnControl, self, self->control_fd_, &self->control_read_);
  Datagram d;
  if (!self->Read(self->control_fd_, &d)) return 0;
  self->wtp_control_ = d.from;
  self->control.push_back(d);
  if (self->on_control) {
    self->on_control(*self, d);
  } else {
    self->Answer(d);
  }
  return 0;
}

int FakeAc::OnData(thread* t) {
  FakeAc* self = Self(t);
  thread_add_read(self->master_, OnData, self, self->data_fd_, &self->data_read_);
  Datagram d;
  if (!self->Read(self->data_fd_, &d)) return 0;
  self->wtp_data_ = d.from;
  self->data.push_back(d);
  if (self->script.keepalive) self->SendData(d.bytes);  // keepalives are echoed as they came
  return 0;
}

void FakeAc::SendTo(int fd, const sockaddr_storage& to, socklen_t len, Bytes bytes) {
  if (scramble) CW_Encrypt(bytes.data(), bytes.size(), kCwScrambleKey);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), len);
}

void FakeAc::SendControl(const Bytes& bytes) { SendTo(control_fd_, wtp_control_, wtp_len_, bytes); }
void FakeAc::SendData(const Bytes& bytes) { SendTo(data_fd_, wtp_data_, wtp_len_, bytes); }

uint8_t FakeAc::SendRequest(uint32_t msg_type, const std::function<void(CW_PKT&)>& body) {
  const uint8_t seq = next_ac_seq_++;
  SendControl(AcMessage(msg_type, seq, body));
  return seq;
}

std::vector<Decoded> FakeAc::Received(uint32_t msg_type) const {
  std::vector<Decoded> out;
  for (const Datagram& d : control) {
    Decoded decoded = Decode(d.bytes);
    if (decoded.ctl.msg_type == msg_type && !decoded.hdr.F()) out.push_back(std::move(decoded));
  }
  return out;
}

size_t FakeAc::CountReceived(uint32_t msg_type) const { return Received(msg_type).size(); }

// --- Scripted answers ------------------------------------------------------

void FakeAc::SendNextImageBlock() {
  const Bytes& image = script.image;
  if (image_sent_ >= image.size()) return;
  const size_t n = std::min(kImageBlock, image.size() - image_sent_);
  const bool last = image_sent_ + n == image.size();
  const size_t at = image_sent_;
  image_sent_ += n;
  SendRequest(CW_MSG_IMAGE_DATA_REQ, [&](CW_PKT& pkt) {
    {
      CwElementWriter e(pkt, 24);
      e.w().u8(last ? 2 : 1);
      e.w().bytes(image.data() + at, n);
    }
    if (!last) return;
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, image.data(), image.size());
    uint8_t digest[16];
    MD5Final(digest, &ctx);
    if (script.corrupt_digest) digest[0] ^= 0xFF;
    CwElementWriter e(pkt, 26);
    e.w().u32(static_cast<uint32_t>(image.size()));
    e.w().bytes(digest, sizeof digest);
  });
}

void FakeAc::Answer(const Datagram& d) {
  const Decoded m = Decode(d.bytes);
  if (m.hdr.F()) return;  // fragments are the test's business
  const uint8_t seq = m.ctl.seq;
  const uint32_t type = m.ctl.msg_type;
  const uint16_t port = d.from.ss_family == AF_INET6
                            ? ntohs(reinterpret_cast<const sockaddr_in6&>(d.from).sin6_port)
                            : ntohs(reinterpret_cast<const sockaddr_in&>(d.from).sin_port);
  if (CW_IsRequest(type) && type != CW_MSG_ECHO_REQ) last_request_seq_[port] = seq;
  switch (type) {
    case CW_MSG_DISCOVERY_REQ:
      if (script.discovery) SendControl(DiscoveryResponse(seq, script.priority));
      return;
    case CW_MSG_JOIN_REQ:
      if (!script.join) return;
      image_sent_ = 0;
      SendControl(JoinResponse(seq, script.join_result,
                               script.image_identifier ? &*script.image_identifier : nullptr));
      return;
    case CW_MSG_IMAGE_DATA_REQ:
      SendControl(ResultResponse(CW_MSG_IMAGE_DATA_RSP, seq, 0));
      SendNextImageBlock();
      return;
    case CW_MSG_IMAGE_DATA_RSP:
      SendNextImageBlock();
      return;
    case CW_MSG_CFG_STATUS_REQ:
      if (script.config_status) SendControl(ConfigStatusResponse(seq, script.echo_interval));
      return;
    case CW_MSG_CHG_STATE_REQ:
      if (script.change_state) SendControl(AcMessage(CW_MSG_CHG_STATE_RSP, seq));
      return;
    case CW_MSG_ECHO_REQ:
      // Numbered like the daemon does: after the WTP's last other request.
      if (script.echo) SendControl(EchoResponse(last_request_seq_[port]));
      return;
    case CW_MSG_WTP_EVENT_REQ:
      if (!script.event) return;
      SendControl(AcMessage(CW_MSG_WTP_EVENT_RSP, seq, [](CW_PKT& pkt) {
        CwElementWriter e(pkt, 6);
        e.w().u32(1700000000);
      }));
      return;
    default:
      return;
  }
}

}  // namespace capwap::simtest
