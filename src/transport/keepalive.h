// The CAPWAP data channel: keepalives that open and refresh a WTP's data
// channel (the first one in Data Check completes the join), and WAPI frames
// relayed to WMAC.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

struct thread;

// Read handlers of the IPv4 and IPv6 data sockets (re-register first).
int AC_RcvDataPkt(thread* t);
int AC_Rcv6DataPkt(thread* t);
