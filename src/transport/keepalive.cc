// Data-channel reader. Keepalive handling is not built yet: datagrams are
// read and dropped so the socket never stays readable.
#include "transport/keepalive.h"

#include <sys/socket.h>

#include "platform/lib.h"
#include "platform/thread.h"

namespace {
int DrainAndRearm(thread* t, thread_func self) {
  int fd = THREAD_FD(t);
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  thread_add_read(ctx->master.get(), self, ctx, fd);
  uint8_t buffer[4096];
  (void)recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  return 0;
}
}  // namespace

int AC_RcvDataPkt(thread* t) { return DrainAndRearm(t, AC_RcvDataPkt); }
int AC_Rcv6DataPkt(thread* t) { return DrainAndRearm(t, AC_Rcv6DataPkt); }
