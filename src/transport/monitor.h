// The AP core-dump monitor channel (UDP 5248).
#pragma once

struct thread;

// Read handler of the monitor socket (re-registers first).
int AC_RcvMonPkt(thread* t);
