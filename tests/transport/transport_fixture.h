// Hand-built CAPWAP datagrams and the recording message handlers of the
// transport tests (the datagram helpers are shared with the exchange tests).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/bytes.h"
#include "platform/dbm.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "support/lab.h"
#include "support/udp_endpoint.h"
#include "transport/codec.h"
#include "transport/frag.h"
#include "transport/recv.h"
#include "transport/sendq.h"
#include "transport/sockets.h"

namespace transport_test {

using capwap::Bytes;

inline constexpr uint32_t kHdrWord0 = 2u << 19;  // version 0, type 0, HLEN 2

// A CAPWAP control datagram as a WTP would send it.
inline Bytes ControlDatagram(uint32_t msg_type, uint8_t seq, const Bytes& elements = {}) {
  Bytes out(kCwHeadersLen + elements.size());
  capwap::WireWriter w(out.data(), out.size());
  w.u32(kHdrWord0);
  w.u16(0);  // fragment ID
  w.u16(0);  // offset
  w.u32(msg_type);
  w.u8(seq);
  w.u16(static_cast<uint16_t>(elements.size()));
  w.u8(0);
  w.bytes(elements.data(), elements.size());
  EXPECT_TRUE(w.ok());
  return out;
}

inline Bytes Element(uint16_t type, const Bytes& value) {
  Bytes out(4 + value.size());
  capwap::WireWriter w(out.data(), out.size());
  w.u16(type);
  w.u16(static_cast<uint16_t>(value.size()));
  w.bytes(value.data(), value.size());
  return out;
}

inline Bytes SessionIdElement(const std::array<uint8_t, 16>& id) {
  return Element(35, Bytes(id.begin(), id.end()));
}

// One fragment datagram: its own transport header, then the payload slice.
inline Bytes FragmentDatagram(uint16_t frag_id, uint16_t offset_units, bool last,
                              const Bytes& payload) {
  Bytes out(kCwHdrLen + payload.size());
  capwap::WireWriter w(out.data(), out.size());
  w.u32(kHdrWord0 | (1u << 7) | (last ? (1u << 6) : 0u));
  w.u16(frag_id);
  w.u16(offset_units & 0x1FFF);
  w.bytes(payload.data(), payload.size());
  return out;
}

// Splits a whole datagram's payload (after its 8-octet header) into slices
// of `chunk` octets as fragment datagrams.
inline std::vector<Bytes> Fragment(const Bytes& datagram, uint16_t frag_id, size_t chunk) {
  std::vector<Bytes> out;
  Bytes payload(datagram.begin() + kCwHdrLen, datagram.end());
  for (size_t start = 0; start < payload.size(); start += chunk) {
    size_t end = std::min(payload.size(), start + chunk);
    Bytes slice(payload.begin() + static_cast<long>(start), payload.begin() + static_cast<long>(end));
    out.push_back(FragmentDatagram(frag_id, static_cast<uint16_t>(start / 8), end == payload.size(),
                                   slice));
  }
  return out;
}

// A request packet as the controller's senders build it.
inline CwPktPtr RequestPacket(CW_WTPCB* wtp, uint32_t msg_type, size_t element_octets = 8) {
  CwPktPtr pkt = CW_AC_PktMalloc();
  EXPECT_TRUE(pkt);
  if (!pkt) return pkt;
  Bytes value(element_octets, 0);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 7 + msg_type);
  EXPECT_EQ(PktAppendRaw(*pkt, Element(37, value)), 0);
  FinishCtlMsg(*pkt, msg_type, CW_AC_GetSeqNum(wtp, msg_type));
  return pkt;
}

// A UDP endpoint on 127.0.0.1 standing for a WTP (or the NAT in front of it).
using WtpEndpoint = capwap::test::UdpEndpoint;

// Message type and sequence number of a plain control datagram.
inline uint32_t MsgTypeOf(const Bytes& d) {
  capwap::WireReader r(d.data(), d.size());
  uint32_t type = 0;
  r.skip(8);
  r.u32(type);
  return type;
}
inline uint8_t SeqOf(const Bytes& d) { return d.size() > 12 ? d[12] : 0; }

// Records what the dispatch table hands to the handlers.
struct Dispatched {
  uint32_t msg_type;
  CW_WTPCB* wtp;
  Bytes message;
  CW_ADDR remote;
  CW_ADDR local;
};
inline std::vector<Dispatched>& DispatchLog() {
  static std::vector<Dispatched> log;
  return log;
}
inline int RecordingHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  DispatchLog().push_back(Dispatched{rcv->msg_type, wtp,
                                    Bytes(rcv->buffer.begin(), rcv->buffer.begin() + rcv->length),
                                    rcv->remote, rcv->local});
  return 0;
}
// Answers a Discovery Request with an empty Discovery Response.
inline int AnsweringDiscoveryHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  RecordingHandler(wtp, rcv);
  Bytes reply = ControlDatagram(kMsgDiscoveryRsp, rcv->seq);
  SendDesc desc;
  desc.fd = rcv->remote.family == 1 ? g_iAC_IP6SockId : g_iAC_IP4SockId;
  desc.remote = rcv->remote;
  desc.local = rcv->local;
  return CW_SockSndMsg(&desc, reply.data(), reply.size(), g_ucNeedEncrypt);
}

}  // namespace transport_test
