// The AP core-dump monitor channel (UDP 5248, IPv4): a crashed process's
// core file arrives in numbered chunks, each acknowledged, appended to a
// file under the userspace folder; a transfer that stalls is deleted.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "platform/bytes.h"
#include "registry/wtpcb.h"

struct thread;

inline constexpr uint32_t kMonCoreMsgType = 177;
inline constexpr size_t kMonCoreAckLen = 20;
inline constexpr long kMonCoreStallSeconds = 300;
extern const char* const g_aucMonApProcName[6];

// Read handler of the monitor socket (re-registers first).
int AC_RcvMonPkt(thread* t);
// One datagram from `source`. 1 when the header is bad or no AP holds the
// source address at the control port; 0 otherwise.
int AC_MonHandlePkt(capwap::ByteView datagram, int is_ipv6, const sockaddr* source);
// One chunk of `wtp`: recorded, written, acknowledged. 1 when too short.
int CW_AC_DecMonCore(capwap::ByteView datagram, CW_WTPCB* wtp, const sockaddr_in& source);
// Appends to the file (created when absent). 0 / 1 (the chunk is lost).
int CW_AC_WriteCoreToFlash(const std::string& file_name, capwap::ByteView data);
// The 20-octet acknowledgement of a chunk, sent without waiting.
void CW_AC_MonCoreRep(const capwap::MonCore& record, uint8_t seq, const sockaddr_in& source);
// Stall timer: the partial file is deleted and the transfer ends.
int CW_AC_MonTimeOut(thread* t);
// The core file of one upload: <userspace>/corefile/core-ap<APID>-<process>-<time>.
std::string MonCoreFileName(uint32_t apid, const char* process, long now);
