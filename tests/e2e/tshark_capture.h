// tshark as an independent check of what the daemon sends: a capture of the
// daemon's ports on the loopback interface, and queries over the file with
// Wireshark's CAPWAP dissector.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace capwap::test {

class LoopbackCapture {
 public:
  // Captures UDP ports base..base+2 on "lo" into `file`. capturing() tells
  // whether it runs; why() says why not (tshark missing, no privilege).
  LoopbackCapture(const std::string& file, uint16_t base);
  ~LoopbackCapture();
  LoopbackCapture(const LoopbackCapture&) = delete;
  LoopbackCapture& operator=(const LoopbackCapture&) = delete;

  // Stops the capture and waits until the file is complete.
  void Stop();
  bool capturing() const { return capturing_; }
  const std::string& why() const { return why_; }

  // tshark output for the frames the daemon sent from its control port that
  // match `filter` (a display filter, may be empty), decoded as CAPWAP.
  // `fields` selects "-T fields -e ..." output when not empty.
  std::string Query(uint16_t control_port, const std::string& filter,
                    const std::string& fields = "") const;

 private:
  std::string file_;
  pid_t pid_ = -1;
  bool capturing_ = false;
  std::string why_;
};

}  // namespace capwap::test
