// The security-policy requests WMAC sends to the controller, written as one
// line of text each (the peer-sim command line and script files):
//
//   user-isolation APID B0 B1 B2        type 61
//   acl-rule APID WORD B4 B5 HEX        type 68 (u32, two bytes, u32 n, n bytes)
//   wlan-acl APID B0 B1 B2 WORD         type 69
//   l2-acl APID OP RADIO WLAN ACL [MAC] type 109 (7 bytes, 13 with a station MAC)
//   l2-acl-2 APID OP RADIO WLAN ACL [MAC]  type 110, the same payload
//   dhcp-snooping KIND [HEX]            type 111, header parameter KIND, WTP ID 0
//   vlan-isolate APID HEX               type 113, the payload as given
//   portal-domain APID WORD DOMAIN      type 114 (u16, 6 zero bytes, the text, NUL)
//   raw TYPE APID PARAM [HEX]           any type, the payload as given
//   wait SECONDS                        pause before the next line
//
// Numbers are decimal or 0x hexadecimal; payload words are host order, as
// WMAC writes them. Blank lines and lines starting with '#' are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

struct thread;
struct thread_master;

namespace capwap::sim {

class PeerSim;

struct PolicyCommand {
  uint32_t wait_ms = 0;  // a "wait" line: nothing to send
  uint32_t type = 0;
  uint32_t wtp_id = 0;
  uint32_t param = 0;
  Bytes payload;
};

// One line; false with *why when it is not a known, well-formed command.
// A blank or comment line gives true with type 0 and no wait.
bool ParsePolicyCommand(std::string_view line, PolicyCommand* out, std::string* why);

// Every line of a script file; false with *why (naming the line) at the
// first bad one or when the file cannot be read.
bool LoadPolicyScript(const std::string& path, std::vector<PolicyCommand>* out,
                      std::string* why);

// Sends the commands to the controller as WMAC, in order, on the loop,
// honouring the waits. The runner must outlive the loop's use of it.
class PolicyRunner {
 public:
  PolicyRunner(thread_master* master, PeerSim* peers, std::vector<PolicyCommand> commands);
  ~PolicyRunner();
  PolicyRunner(const PolicyRunner&) = delete;
  PolicyRunner& operator=(const PolicyRunner&) = delete;
  void Start();
  bool done() const { return next_ >= commands_.size(); }
  size_t sent() const { return sent_; }

 private:
  static int OnDue(thread* t);
  void Step();

  thread_master* master_;
  PeerSim* peers_;
  std::vector<PolicyCommand> commands_;
  size_t next_ = 0;
  size_t sent_ = 0;
  thread* event_ = nullptr;
};

}  // namespace capwap::sim
