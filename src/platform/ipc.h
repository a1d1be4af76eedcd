// Local IPC over Unix-domain sockets.
//
// IPC_TcpSocketInit listens on a stream path (removing a stale socket file),
// accepts connections from the event loop and, for each connection, arms a
// one-shot read event calling `reader` with the connection descriptor as
// THREAD_FD and ctx as THREAD_ARG. The reader re-arms itself with
// thread_add_read(ctx->master.get(), reader, ctx, fd) or closes the fd
// (IPC_CloseConnection) when the peer went away.
//
// Return convention: 0 / non-zero, negative for send failures.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "platform/thread.h"

struct lib_globals;

// Listens on `path` (the absolute default path; CAPWAP_ROOT is applied here).
int IPC_TcpSocketInit(lib_globals* ctx, const char* path, thread_func reader);
// Sends the whole buffer on the cached connection to `path`, connecting on
// first use and again after a failure. Never blocks the loop for more than a
// short bounded wait. Returns the bytes sent, or -1 (the cache is then -1).
int IPC_TcpSocketSend(lib_globals* ctx, int* cached_fd, const char* path, const void* buf,
                      size_t len);
// Sends one datagram to the datagram socket at `path`. Bytes sent or -1.
int IPC_SocketSend(lib_globals* ctx, const char* path, const void* buf, size_t len);
// Reads up to n bytes, waiting a short bounded time for the rest; returns the
// count read (less than n when the peer stalls or closes), -1 on error.
ssize_t readn(int fd, void* buf, size_t n);
// Writes all n bytes (bounded wait on a full socket); count written or -1.
ssize_t writen(int fd, const void* buf, size_t n);
// Cancels the connection's read event and closes it.
void IPC_CloseConnection(lib_globals* ctx, int fd);
// Closes every listener and connection (lib_stop).
void IPC_Shutdown(lib_globals* ctx);
