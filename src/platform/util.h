// String and address helpers of the framework library.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

struct prefix_ipv4 {
  uint8_t family = AF_INET;
  uint8_t prefixlen = 0;
  in_addr prefix{};  // network order
};

// "A.B.C.D/M" -> prefix. 1 on success, 0 on a malformed text.
int str2prefix_ipv4(const char* text, prefix_ipv4* out);
// Netmask of a prefix length (network order).
void masklen2ip(int masklen, in_addr* netmask);
// 1 when text is a MAC in "HHHH.HHHH.HHHH" form (hex digits, either case).
int cli_is_mac(const char* text);
// Lower-cases in place and returns s.
char* lib_strtolower(char* s);
// Runs a shell command line (or only logs it; see identity.h system_commands).
// Returns the command's exit status, or -1.
int lib_system(const char* command_line);
