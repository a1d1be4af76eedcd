// The core-dump monitor port over loopback UDP: chunks appended in order and
// acknowledged with the completion flag, repeats written once, a stalled
// upload deleted, an AP not at its control port ignored.
#include "transport/monitor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/paths.h"
#include "support/controller.h"
#include "transport/sockets.h"

namespace capwap::test {
namespace {

namespace fs = std::filesystem;

Bytes ChunkDatagram(uint8_t seq, uint32_t process, uint32_t total, Bytes data) {
  return ControlDatagram(kMonCoreMsgType, seq, Cat({U32(process), U32(total), std::move(data)}));
}

class CoreMonitor : public ControllerLab {
 protected:
  void SetUp() override {
    ControllerLab::SetUp();
    ASSERT_EQ(AC_MonitorSock_Init(INADDR_LOOPBACK), 0);
  }
  // The chunk goes out from `uploader`; the acknowledgements it got come back.
  std::vector<Bytes> Upload(const WtpEndpoint& uploader, const Bytes& chunk) {
    Deliver(uploader, CapwapPort(kMonitorPort), chunk);
    return uploader.Drain();
  }
  static std::vector<fs::path> CoreFiles() {
    std::vector<fs::path> files;
    const fs::path dir = RootPath("/etc/config/vela/userspace/corefile");
    if (fs::exists(dir)) {
      for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
    }
    return files;
  }
};

TEST_F(CoreMonitor, ChunksAreStoredAcknowledgedAndAStalledUploadIsDeleted) {
  WtpEndpoint control, uploader;
  CW_WTPCB* wtp = MakeWtp(control, 1, kStateRun);
  EXPECT_TRUE(Upload(uploader, ChunkDatagram(1, 0, 10, Fill(1, 10))).empty())
      << "no AP at the uploader's address and control port";

  CW_ADDR at_control_port = uploader.Addr();
  at_control_port.port = ControlPort();
  CW_AC_AddWTPByIP(at_control_port, wtp);
  struct Row {
    uint8_t seq;
    size_t size;
    const char* ack;  // process index, completion flag
  };
  const Row rows[] = {{1, 1000, "0003 0000"}, {2, 1000, "0003 0000"},
                      {2, 1000, "0003 0000"},  // a repeat: answered, not written
                      {3, 500, "0003 0001"}};
  for (const Row& row : rows) {
    std::vector<Bytes> acks =
        Upload(uploader, ChunkDatagram(row.seq, 3, 2500, Fill(row.seq, row.size)));
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0], Cat({Hex("00100000 00000000"), U32(kMonCoreMsgType), U8(row.seq),
                            Hex("0004 00"), Hex(row.ack)}));
  }
  std::vector<fs::path> files = CoreFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("core-ap" + std::to_string(wtp->apid) + "-wids_ap-"),
            std::string::npos);
  std::ifstream in(files[0], std::ios::binary);
  const Bytes stored{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(stored, Cat({Fill(1, 1000), Fill(2, 1000), Fill(3, 500)}));

  EXPECT_EQ(Upload(uploader, ChunkDatagram(1, 1, 5000, Fill(7, 100))).size(), 1u);
  EXPECT_EQ(Upload(uploader, ChunkDatagram(2, 1, 5000, Fill(8, 100))).size(), 1u);
  EXPECT_EQ(CoreFiles().size(), 2u);
  lab_.RunFor(kMonCoreStallSeconds - 1);
  EXPECT_EQ(CoreFiles().size(), 2u);
  lab_.RunFor(2);
  EXPECT_EQ(CoreFiles(), files) << "the stalled upload is deleted, the complete one kept";
}

}  // namespace
}  // namespace capwap::test
