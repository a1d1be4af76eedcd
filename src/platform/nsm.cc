#include "platform/nsm.h"

#include <ifaddrs.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/lib.h"
#include "platform/log.h"

namespace {

// Large enough for one datagram of an address dump.
constexpr size_t kNetlinkBufferSize = 32768;
// The start-up dump runs before the event loop does, so it may wait.
constexpr int kStartDumpTimeoutSeconds = 1;
constexpr int kDatagramsPerWake = 64;

struct MnlCloser {
  void operator()(mnl_socket* nl) const { mnl_socket_close(nl); }
};
using MnlPtr = std::unique_ptr<mnl_socket, MnlCloser>;

}  // namespace

struct nsm_client {
  lib_globals* ctx = nullptr;
  int version = 0;
  int protocol = 0;
  std::vector<int> services;
  std::vector<nsm_addr_hook> add_hooks;
  std::map<int, std::function<int()>> parsers;
  MnlPtr events;             // subscribed to the address groups
  thread* read_event = nullptr;
  // A dump asked on the event socket after lost events: its replies arrive
  // among the events and end with a message carrying dump_seq.
  bool dump_running = false;
  bool dump_again = false;   // events were lost again while it ran
  uint32_t dump_seq = 0;
};

namespace {

// Interface name without an alias label ("eth0:1" -> "eth0").
std::string BaseName(const char* name) {
  std::string base(name ? name : "");
  size_t colon = base.find(':');
  if (colon != std::string::npos) base.resize(colon);
  return base;
}

// Up and not loopback; an interface that cannot be asked is not usable.
bool InterfaceUsable(int ifindex) {
  char name[IF_NAMESIZE] = {};
  if (!if_indextoname(static_cast<unsigned>(ifindex), name)) return false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq req{};
  std::memcpy(req.ifr_name, name, sizeof req.ifr_name);  // both IF_NAMESIZE, NUL-padded
  bool asked = ioctl(fd, SIOCGIFFLAGS, &req) == 0;
  close(fd);
  if (!asked) return false;
  unsigned flags = static_cast<unsigned short>(req.ifr_flags);
  return (flags & IFF_UP) && !(flags & IFF_LOOPBACK);
}

struct AddrAttrs {
  const nlattr* address = nullptr;
  const nlattr* local = nullptr;
};

int CollectAddrAttr(const nlattr* attr, void* data) {
  auto* attrs = static_cast<AddrAttrs*>(data);
  if (mnl_attr_type_valid(attr, IFA_MAX) < 0) return MNL_CB_OK;  // newer kernel attribute
  switch (mnl_attr_get_type(attr)) {
    case IFA_ADDRESS:
      attrs->address = attr;
      break;
    case IFA_LOCAL:
      attrs->local = attr;
      break;
    default:
      break;
  }
  return MNL_CB_OK;
}

// Fills the address from an attribute of the expected size; false otherwise.
bool CopyAddress(const nlattr* attr, nsm_if_address& out) {
  if (!attr) return false;
  size_t len = mnl_attr_get_payload_len(attr);
  const void* payload = mnl_attr_get_payload(attr);
  if (out.family == AF_INET && len == sizeof out.v4) {
    std::memcpy(&out.v4, payload, sizeof out.v4);
    return true;
  }
  if (out.family == AF_INET6 && len == sizeof out.v6) {
    std::memcpy(&out.v6, payload, sizeof out.v6);
    return true;
  }
  return false;
}

void Deliver(nsm_client& nc, const nsm_if_address& address) {
  for (nsm_addr_hook hook : nc.add_hooks) hook(address);
}

// The IPv4 addresses that the interface look-ups answer from. Reading them
// (getifaddrs) is a netlink dump, so the copy is kept for kAddressTableTtl,
// or until an address event arrives: a WTP whose local address no interface
// owns then costs one read per interval instead of one per datagram sent.
struct Ipv4AddressTable {
  struct Entry {
    in_addr_t address = 0;  // network order
    int ifindex = 0;
  };
  std::vector<Entry> entries;
  std::chrono::steady_clock::time_point read_at{};
  bool valid = false;
};
constexpr std::chrono::seconds kAddressTableTtl{1};
Ipv4AddressTable ipv4_address_table;

void InvalidateAddressTable() { ipv4_address_table.valid = false; }

const Ipv4AddressTable& CurrentAddressTable() {
  Ipv4AddressTable& table = ipv4_address_table;
  auto now = std::chrono::steady_clock::now();
  if (table.valid && now - table.read_at < kAddressTableTtl) return table;
  // A failed read counts as an empty table until the interval ends.
  table.entries.clear();
  table.read_at = now;
  table.valid = true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return table;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    // Alias labels ("eth0:1") name the interface they sit on.
    int ifindex = static_cast<int>(if_nametoindex(BaseName(it->ifa_name).c_str()));
    if (ifindex == 0) continue;
    const auto* sin = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    table.entries.push_back(Ipv4AddressTable::Entry{sin->sin_addr.s_addr, ifindex});
  }
  freeifaddrs(list);
  return table;
}

int OnAddressMessage(const nlmsghdr* nlh, void* data) {
  auto* nc = static_cast<nsm_client*>(data);
  InvalidateAddressTable();  // added or removed: the look-ups read again
  if (nlh->nlmsg_type != RTM_NEWADDR) return MNL_CB_OK;
  if (nlh->nlmsg_len < mnl_nlmsg_size(sizeof(ifaddrmsg))) {
    zlog_warn(nc->ctx, "NSM: dropped a short address message (%u bytes)", nlh->nlmsg_len);
    return MNL_CB_OK;
  }
  const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
  if (ifa->ifa_family != AF_INET && ifa->ifa_family != AF_INET6) return MNL_CB_OK;
  AddrAttrs attrs;
  if (mnl_attr_parse(nlh, sizeof(ifaddrmsg), CollectAddrAttr, &attrs) < 0) {
    zlog_warn(nc->ctx, "NSM: dropped an address message with broken attributes");
    return MNL_CB_OK;
  }
  nsm_if_address address;
  address.ifindex = static_cast<int>(ifa->ifa_index);
  address.family = ifa->ifa_family;
  address.prefixlen = ifa->ifa_prefixlen;
  // On point-to-point links IFA_ADDRESS is the peer; IFA_LOCAL is ours.
  const nlattr* own = attrs.local ? attrs.local : attrs.address;
  if (!CopyAddress(own, address)) {
    zlog_warn(nc->ctx, "NSM: dropped an address message without a valid address");
    return MNL_CB_OK;
  }
  address.usable = InterfaceUsable(address.ifindex);
  Deliver(*nc, address);
  return MNL_CB_OK;
}

// Receives one datagram from the kernel; -1 on error, 0 when none is queued.
ssize_t ReceiveFromKernel(mnl_socket* nl, std::vector<char>& buf, int flags) {
  sockaddr_nl from{};
  socklen_t from_len = sizeof from;
  ssize_t n = recvfrom(mnl_socket_get_fd(nl), buf.data(), buf.size(), flags | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&from), &from_len);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  if (static_cast<size_t>(n) > buf.size()) {
    errno = ENOSPC;
    return -1;
  }
  if (from_len != sizeof from || from.nl_pid != 0) {
    errno = EPERM;  // only the kernel speaks on this socket
    return -1;
  }
  return n;
}

// Fills the request for every address of every family.
nlmsghdr* PutDumpRequest(std::vector<char>& buf, uint32_t seq) {
  nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
  nlh->nlmsg_type = RTM_GETADDR;
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  nlh->nlmsg_seq = seq;
  auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
  ifa->ifa_family = AF_UNSPEC;
  return nlh;
}

// Asks the kernel for every address and hands each to the hooks, waiting for
// the answer on a socket of its own: start-up only, before the loop runs.
// 0 / 1.
int DumpAddresses(nsm_client& nc) {
  MnlPtr nl(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!nl || mnl_socket_bind(nl.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    zlog_warn(nc.ctx, "NSM: cannot open a netlink socket for the address dump: %s",
              strerror(errno));
    return 1;
  }
  timeval timeout{kStartDumpTimeoutSeconds, 0};
  setsockopt(mnl_socket_get_fd(nl.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::vector<char> buf(kNetlinkBufferSize);
  uint32_t seq = static_cast<uint32_t>(time(nullptr));
  nlmsghdr* nlh = PutDumpRequest(buf, seq);
  uint32_t portid = mnl_socket_get_portid(nl.get());
  if (mnl_socket_sendto(nl.get(), nlh, nlh->nlmsg_len) < 0) {
    zlog_warn(nc.ctx, "NSM: address dump request failed: %s", strerror(errno));
    return 1;
  }
  for (;;) {
    ssize_t n = ReceiveFromKernel(nl.get(), buf, 0);
    if (n <= 0) {
      zlog_warn(nc.ctx, "NSM: address dump ended early: %s", strerror(errno));
      return 1;
    }
    int rc = mnl_cb_run(buf.data(), static_cast<size_t>(n), seq, portid, OnAddressMessage, &nc);
    if (rc == MNL_CB_STOP) return 0;
    if (rc < 0) {
      zlog_warn(nc.ctx, "NSM: address dump failed: %s", strerror(errno));
      return 1;
    }
  }
}

// Asks for every address again on the event socket, without waiting: the
// replies are read by ReadEvents like any event. One dump at a time; a
// request while one runs is remembered and made when it ends.
void RequestDump(nsm_client& nc) {
  if (nc.dump_running) {
    nc.dump_again = true;
    return;
  }
  std::vector<char> buf(MNL_SOCKET_BUFFER_SIZE);
  nlmsghdr* nlh = PutDumpRequest(buf, ++nc.dump_seq);
  if (mnl_socket_sendto(nc.events.get(), nlh, nlh->nlmsg_len) < 0) {
    zlog_warn(nc.ctx, "NSM: address dump request failed: %s", strerror(errno));
    return;
  }
  nc.dump_running = true;
}

// True when the datagram holds the end (or the failure) of the running dump.
bool EndsDump(const nsm_client& nc, const char* buf, size_t len) {
  int left = static_cast<int>(len);
  for (auto* nlh = reinterpret_cast<const nlmsghdr*>(buf); mnl_nlmsg_ok(nlh, left);
       nlh = mnl_nlmsg_next(nlh, &left)) {
    bool last = nlh->nlmsg_type == NLMSG_DONE || nlh->nlmsg_type == NLMSG_ERROR;
    if (last && nlh->nlmsg_seq == nc.dump_seq) return true;
  }
  return false;
}

void ConsumeDatagram(nsm_client& nc, const char* buf, size_t len) {
  if (mnl_cb_run(buf, len, 0, 0, OnAddressMessage, &nc) < 0) {
    zlog_warn(nc.ctx, "NSM: dropped a malformed netlink datagram: %s", strerror(errno));
  }
  if (!nc.dump_running || !EndsDump(nc, buf, len)) return;
  nc.dump_running = false;
  if (nc.dump_again) {
    nc.dump_again = false;
    RequestDump(nc);
  }
}

int ReadEvents(thread* t) {
  auto* nc = static_cast<nsm_client*>(THREAD_ARG(t));
  if (!thread_rearm(t)) {
    zlog_err(nc->ctx, "NSM: cannot re-arm the netlink reader");
  }
  std::vector<char> buf(kNetlinkBufferSize);
  // The rest of a long burst (a dump of many addresses) waits for the next
  // turn, so other descriptors are served in between.
  for (int taken = 0; taken < kDatagramsPerWake; ++taken) {
    ssize_t n = ReceiveFromKernel(nc->events.get(), buf, MSG_DONTWAIT);
    if (n == 0) return 0;
    if (n > 0) {
      ConsumeDatagram(*nc, buf.data(), static_cast<size_t>(n));
      continue;
    }
    if (errno != ENOBUFS) {
      zlog_warn(nc->ctx, "NSM: netlink receive: %s", strerror(errno));
      return 0;
    }
    // Events were lost: read the whole table again, as later events.
    zlog_warn(nc->ctx, "NSM: netlink overrun, reading the addresses again");
    RequestDump(*nc);
  }
  return 0;
}

// The subscribed event socket, or nullptr.
MnlPtr OpenEventSocket(lib_globals* ctx) {
  MnlPtr nl(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!nl) {
    zlog_warn(ctx, "NSM: netlink unavailable: %s", strerror(errno));
    return nullptr;
  }
  if (mnl_socket_bind(nl.get(), RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR, MNL_SOCKET_AUTOPID) <
      0) {
    zlog_warn(ctx, "NSM: cannot subscribe to address events: %s", strerror(errno));
    return nullptr;
  }
  return nl;
}

}  // namespace

void NsmClientDeleter::operator()(nsm_client* nc) const {
  if (!nc) return;
  thread_cancel(nc->read_event);
  std::default_delete<nsm_client>()(nc);
}

nsm_client* nsm_client_create(lib_globals* ctx, int /*flags*/) {
  if (!ctx) return nullptr;
  ctx->nc.reset(std::make_unique<nsm_client>().release());
  ctx->nc->ctx = ctx;
  return ctx->nc.get();
}

void nsm_client_set_version(nsm_client* nc, int version) {
  if (nc) nc->version = version;
}

void nsm_client_set_protocol(nsm_client* nc, int protocol) {
  if (nc) nc->protocol = protocol;
}

void nsm_client_set_service(nsm_client* nc, int service) {
  if (nc) nc->services.push_back(service);
}

void ifc_add_hook(nsm_client* nc, nsm_hook_type type, nsm_addr_hook hook) {
  if (nc && hook && type == NSM_IF_ADDR_ADD) nc->add_hooks.push_back(hook);
}

void nsm_client_set_parser(nsm_client* nc, int service, std::function<int()> parser) {
  if (nc) nc->parsers[service] = std::move(parser);
}

int nsm_client_start(nsm_client* nc) {
  if (!nc) return 1;
  // Subscribe before the dump, so an address added in between arrives as an
  // event rather than being missed.
  nc->events = OpenEventSocket(nc->ctx);
  int dumped = DumpAddresses(*nc);
  if (!nc->events) return 1;
  thread_master* master = nc->ctx->master.get();
  int fd = mnl_socket_get_fd(nc->events.get());
  if (!master || !thread_add_read(master, ReadEvents, nc, fd, &nc->read_event)) {
    zlog_warn(nc->ctx, "NSM: no event loop to follow address changes on");
    return 1;
  }
  return dumped;
}

int if_lookup_by_ipv4_address(lib_globals* /*ctx*/, in_addr_t address) {
  for (const auto& entry : CurrentAddressTable().entries) {
    if (entry.address == address) return entry.ifindex;
  }
  return 0;
}

in_addr_t if_getifaddress_byifindex(lib_globals* /*ctx*/, int ifindex) {
  if (ifindex <= 0) return 0;
  for (const auto& entry : CurrentAddressTable().entries) {
    if (entry.ifindex == ifindex) return entry.address;
  }
  return 0;
}
