// An AP's uploads against the real binary: crash data in several Data
// Transfer Requests, each accepted, and a core dump on the monitor port,
// stored under the userspace folder with the octets the AP sent. The AP binds
// its own loopback address at the AC's control port number, as a real AP
// does, which is how the AC recognises the sender of a core dump.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e/binary_lab.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class Uploads : public BinaryLab {
 protected:
  void SetUp() override { Boot(300); }
};

TEST_F(Uploads, CrashDataChunksAndCoreDump) {
  sim::SimWtp& ap = AddAp(0);
  ap.ac().local_address = "127.0.0.2";
  ap.knobs().data_transfer_bytes = 3500;  // three data chunks and the end chunk
  ap.knobs().core_dump_bytes = 2500;      // chunks of 1000, 1000 and 500
  ASSERT_EQ(ap.Start(), 0);
  ASSERT_TRUE(RunUntil(
      [&] {
        return ap.counters().data_chunks_accepted == 4 && ap.counters().cores_completed == 1;
      },
      30s))
      << ap.last_error() << " " << ap.counters().Text() << daemon_->output();
  EXPECT_EQ(ap.counters().data_chunks_sent, 4u);
  EXPECT_EQ(ap.counters().core_chunks_acked, 3u);
  EXPECT_EQ(ap.counters().protocol_errors, 0u) << ap.last_error();

  const fs::path dir = daemon_->root().path() + "/etc/config/vela/userspace/corefile";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename().string().rfind("core-ap", 0), 0u) << files[0];
  EXPECT_NE(files[0].filename().string().find("-WTP-"), std::string::npos) << files[0];
  std::ifstream in(files[0], std::ios::binary);
  const Bytes stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes sent(2500);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = sim::DumpOctet(i);
  EXPECT_TRUE(stored == sent) << stored.size() << " octets stored";
}

}  // namespace
}  // namespace capwap::test
