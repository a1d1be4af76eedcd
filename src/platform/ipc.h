// Local IPC over Unix-domain sockets, on the event loop and never waiting
// for a peer.
//
// Receiving: IPC_TcpSocketInit listens on a stream path (removing a stale
// socket file), accepts connections from the event loop and, for each
// connection, arms a one-shot read event calling `reader` with the
// connection descriptor as THREAD_FD and ctx as THREAD_ARG. The reader
// re-arms itself first (thread_rearm), appends what arrived to the connection's receive buffer (IPC_Receive),
// takes every whole message from it (IPC_Received, IPC_Consume) and leaves
// an unfinished one there for the next wake-up; it closes the connection
// (IPC_CloseConnection) when IPC_Receive says the peer went away or the
// buffer overflowed. So a message may arrive in any number of pieces, at any
// pace, and several messages may arrive in one piece.
//
// Sending: IPC_TcpSocketSend writes what the socket takes at once and queues
// the rest on the connection; the loop writes the queue whenever the peer
// can take more. A queue beyond kIpcSendQueueLimit means the peer stopped
// reading: the connection and its queue are dropped (logged) and the next
// send connects again. The caller's cached descriptor is a handle into this
// layer: it is never closed by the caller (IPC_TcpSocketClose does that).
//
// Return convention: 0 / non-zero, negative for send failures.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "platform/bytes.h"
#include "platform/thread.h"

struct lib_globals;

// Most bytes one accepted connection may hold unread by its reader: room for
// the largest message a peer may send (the readers cap their payloads below
// this) plus what arrived behind it.
inline constexpr size_t kIpcReceiveLimit = 128 * 1024;
// Most bytes a connection may hold unsent before its peer counts as stuck.
inline constexpr size_t kIpcSendQueueLimit = 256 * 1024;

// Listens on `path` (the absolute default path; CAPWAP_ROOT is applied here).
int IPC_TcpSocketInit(lib_globals* ctx, const char* path, thread_func reader);
// Watches an already-connected stream descriptor (one end of a socketpair)
// as an accepted connection read by `reader`. 0, or 1 with fd closed.
int IPC_TcpSocketAdopt(lib_globals* ctx, int fd, thread_func reader);

enum class IpcReceive {
  kOpen,      // whatever was ready is in the buffer (possibly nothing)
  kClosed,    // the peer closed or the connection failed; the buffer keeps
              // what came before, for the reader to take or drop
  kOverflow,  // the buffer was full and its reader had taken nothing (logged)
};
// Appends every byte ready on the accepted connection fd to its receive
// buffer, up to kIpcReceiveLimit, without waiting.
IpcReceive IPC_Receive(lib_globals* ctx, int fd);
// The bytes received on fd and not yet consumed (empty for an unknown fd).
// Valid until the next IPC call on that connection.
capwap::ByteView IPC_Received(lib_globals* ctx, int fd);
// Marks the first n received bytes as taken.
void IPC_Consume(lib_globals* ctx, int fd, size_t n);

// Sends the whole buffer on the cached connection to `path`, connecting on
// first use and again after a failure. What the socket does not take at once
// is queued and written by the loop. Returns len (sent or queued), or -1 when
// it could not connect, the connection failed or the peer stopped reading
// (*cached_fd is then -1).
int IPC_TcpSocketSend(lib_globals* ctx, int* cached_fd, const char* path, const void* buf,
                      size_t len);
// Bytes queued and not yet written on the cached connection.
size_t IPC_TcpSocketUnsent(lib_globals* ctx, int cached_fd);
// Closes the cached connection, dropping what is still queued (logged with a
// count); *cached_fd becomes -1.
void IPC_TcpSocketClose(lib_globals* ctx, int* cached_fd);
// Sends one datagram to the datagram socket at `path`. Bytes sent or -1.
int IPC_SocketSend(lib_globals* ctx, const char* path, const void* buf, size_t len);
// Cancels the connection's events, drops its buffer and closes it.
void IPC_CloseConnection(lib_globals* ctx, int fd);
// Closes every listener and connection (lib_stop). A stop never waits for a
// peer: queued sends are dropped, with a count in a log line.
void IPC_Shutdown(lib_globals* ctx);
