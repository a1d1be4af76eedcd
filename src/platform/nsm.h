// NSM client: interface addresses from rtnetlink (libmnl). The daemon
// installs a hook for address additions; the client replays the addresses
// that exist at start and then follows RTM_NEWADDR events on the event loop.
// When the kernel drops events (the socket overran), every address is asked
// for again and the answer is read on the loop like the events: nothing
// waits for the kernel once the loop runs.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>

struct lib_globals;
struct nsm_client;

struct nsm_if_address {
  int ifindex = 0;
  int family = 0;        // AF_INET or AF_INET6
  in_addr v4{};
  in6_addr v6{};
  uint8_t prefixlen = 0;
  bool usable = true;    // false for loopback or interfaces that are down
};

enum nsm_hook_type { NSM_IF_ADDR_ADD = 1 };

using nsm_addr_hook = int (*)(const nsm_if_address&);

// Creates the client and stores it in ctx->nc; nullptr on failure.
nsm_client* nsm_client_create(lib_globals* ctx, int flags);
void nsm_client_set_version(nsm_client* nc, int version);
void nsm_client_set_protocol(nsm_client* nc, int protocol);
void nsm_client_set_service(nsm_client* nc, int service);
void ifc_add_hook(nsm_client* nc, nsm_hook_type type, nsm_addr_hook hook);
// Installs a parser for a service's error reports (accepted, kept, unused here).
void nsm_client_set_parser(nsm_client* nc, int service, std::function<int()> parser);
// Opens the netlink socket, replays existing addresses (waiting up to a
// second for them: call it before the loop runs), registers the reader.
int nsm_client_start(nsm_client* nc);

// Interface index owning the IPv4 address (network order), or 0.
int if_lookup_by_ipv4_address(lib_globals* ctx, in_addr_t address);
// IPv4 address (network order) of the interface, or 0.
in_addr_t if_getifaddress_byifindex(lib_globals* ctx, int ifindex);
