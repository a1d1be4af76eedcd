// Core-dump uploads are not stored by this daemon yet: chunks are read and
// dropped so the socket never stays readable.
#include "transport/monitor.h"

#include <sys/socket.h>

#include "platform/lib.h"
#include "platform/thread.h"

int AC_RcvMonPkt(thread* t) {
  int fd = THREAD_FD(t);
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  thread_add_read(ctx->master.get(), AC_RcvMonPkt, ctx, fd);
  uint8_t buffer[4096];
  (void)recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  return 0;
}
