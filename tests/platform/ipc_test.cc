#include "platform/ipc.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/lab.h"

namespace {

constexpr const char* kPath = "/tmp/ipc_test_addr";

struct Inbox {
  std::vector<std::string> messages;
  int closed = 0, failed = 0;
} inbox;

// Test framing: a host-order u32 length, then that many bytes.
capwap::Bytes Frame(const std::string& text) {
  capwap::Bytes out(4 + text.size());
  capwap::HostWriter writer(out.data(), out.size());
  writer.u32(static_cast<uint32_t>(text.size()));
  writer.bytes(text.data(), text.size());
  return out;
}

// Takes every whole frame; an unfinished one waits in the buffer.
int ReadMessages(thread* t) {
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  int fd = THREAD_FD(t);
  thread_rearm(t);
  IpcReceive received = IPC_Receive(ctx, fd);
  for (uint32_t len = 0;;) {
    capwap::ByteView pending = IPC_Received(ctx, fd);
    if (!capwap::HostReader(pending).u32(len) || pending.size() - 4 < len) break;
    inbox.messages.emplace_back(pending.begin() + 4, pending.begin() + 4 + len);
    IPC_Consume(ctx, fd, 4 + len);
  }
  if (received == IpcReceive::kOpen) return 0;
  ++(received == IpcReceive::kClosed ? inbox.closed : inbox.failed);
  IPC_CloseConnection(ctx, fd);
  return 0;
}

// A raw client connected to, or a listener bound at, a path (not on the loop).
int Raw(const std::string& path, bool listen_here) {
  capwap::MakeParentDirs(path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  auto* sa = reinterpret_cast<sockaddr*>(&addr);
  if (listen_here ? bind(fd, sa, sizeof addr) != 0 || listen(fd, 4) != 0
                  : connect(fd, sa, sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The sender is the daemon's context; the listening peer has a context and
// loop of its own, so it can stop and come back independently.
class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inbox = Inbox{};
    capwap::ResetFailInjection();
    peer = lib_start();
    peer->master = thread_master_create(lab.clock(), 1000);
  }
  void TearDown() override { lib_stop(peer); }
  int Listen() { return IPC_TcpSocketInit(peer.get(), kPath, ReadMessages); }
  int Send(int* cached, const std::string& text) {
    capwap::Bytes frame = Frame(text);
    return IPC_TcpSocketSend(lab.ctx(), cached, kPath, frame.data(), frame.size());
  }
  void Settle() {
    for (int round = 0; round < 100; ++round) {
      if (thread_master_settle(lab.master()) + thread_master_settle(peer->master.get()) == 0)
        return;
    }
  }
  std::string Full() const { return lab.root().Path(kPath); }

  capwap::test::DaemonContext lab;
  std::unique_ptr<lib_globals> peer;
  capwap::LogCapture log;
};

TEST_F(IpcTest, MessagesInTurnAndAPeerThatClosesOrOverflows) {
  int stale = Raw(Full(), true);
  close(stale);  // leaves a socket file behind, which is replaced
  ASSERT_EQ(Listen(), 0);
  int cached = -1, other = -1;
  EXPECT_EQ(Send(&cached, "hello"), 9);
  EXPECT_EQ(Send(&cached, "world"), 9);
  Settle();  // connections are served in turn: only each one's own order is fixed
  EXPECT_EQ(Send(&other, ""), 4);
  Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"hello", "world", ""}));
  EXPECT_EQ(thread_master_read_count(peer->master.get()), 3u) << "listener and two connections";
  IPC_TcpSocketClose(lab.ctx(), &other);

  Settle();
  EXPECT_EQ(inbox.closed, 1);
  // Frames in pieces are the WMAC channel's test (relay/wmac_channel_test).

  // A frame longer than a connection may hold never completes: it goes.
  capwap::Bytes huge = Frame(std::string(kIpcReceiveLimit, 'h'));
  EXPECT_EQ(IPC_TcpSocketSend(lab.ctx(), &cached, kPath, huge.data(), huge.size()),
            static_cast<int>(huge.size()));
  Settle();
  EXPECT_EQ(inbox.failed, 1);
  EXPECT_TRUE(log.Contains("without a whole message")) << log.text();
  IPC_TcpSocketClose(lab.ctx(), &cached);
  std::ofstream(lab.root().Path("/tmp/ipc_test_file")) << "not a socket";
  EXPECT_NE(IPC_TcpSocketInit(peer.get(), "/tmp/ipc_test_file", ReadMessages), 0)
      << "only sockets are replaced";
}

TEST_F(IpcTest, SenderReconnectsAfterThePeerRestartsOrAFailedSend) {
  ASSERT_EQ(Listen(), 0);
  int cached = -1;
  ASSERT_EQ(Send(&cached, "one"), 7);
  int client = Raw(Full(), false);
  Settle();
  IPC_Shutdown(peer.get());
  EXPECT_NE(access(Full().c_str(), F_OK), 0);
  char byte;
  EXPECT_EQ(recv(client, &byte, 1, MSG_DONTWAIT), 0) << "accepted connections are closed";
  close(client);
  EXPECT_TRUE(Send(&cached, "lost") == -1 && cached == -1);
  EXPECT_TRUE(log.Contains("cannot connect")) << log.text();
  ASSERT_EQ(Listen(), 0);
  EXPECT_EQ(Send(&cached, "two"), 7);
  Settle();
  IPC_Shutdown(peer.get());  // between two sends, the connection still cached
  ASSERT_EQ(Listen(), 0);
  EXPECT_EQ(Send(&cached, "three"), 9) << "the listener keeps accepting";
  capwap::FailNext(capwap::FailFamily::kIpcSend, 1);
  EXPECT_TRUE(Send(&cached, "failed") == -1 && cached == -1);
  EXPECT_EQ(Send(&cached, "four"), 8);
  Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(inbox.failed, 0);
  IPC_TcpSocketClose(lab.ctx(), &cached);
}

TEST_F(IpcTest, SendsQueueBehindASlowPeerAndAStuckPeerIsDropped) {
  int listener = Raw(Full(), true);
  auto message = [](size_t i) { return std::string(16 * 1024, static_cast<char>('a' + i % 26)); };
  int cached = -1;
  size_t sent = 0;  // nobody reads yet: the socket fills, then messages wait in order
  for (; sent < 1000 && IPC_TcpSocketUnsent(lab.ctx(), cached) < 3u * 16 * 1024; ++sent) {
    ASSERT_EQ(Send(&cached, message(sent)), 16 * 1024 + 4) << "queued is sent";
  }
  int conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  capwap::Bytes stream;
  auto drain = [&] {
    uint8_t chunk[65536];
    for (ssize_t n; (n = recv(conn, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
      stream.insert(stream.end(), chunk, chunk + n);
  };
  for (int round = 0; round < 1000 && IPC_TcpSocketUnsent(lab.ctx(), cached) > 0; ++round) {
    drain();
    lab.Settle();
  }
  drain();
  ASSERT_EQ(stream.size(), sent * (16 * 1024 + 4));
  for (size_t i = 0; i < sent; ++i) {
    capwap::Bytes expected = Frame(message(i));
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                           stream.begin() + static_cast<long>(i * expected.size())))
        << "message " << i << " intact and in order";
  }
  int result = 0;  // it stops reading for good: past the bound the connection goes
  for (int i = 0; i < 1000 && result >= 0; ++i) result = Send(&cached, message(i));
  EXPECT_EQ(cached, -1);
  EXPECT_TRUE(log.Contains("is not reading")) << log.text();
  drain();
  char byte;
  EXPECT_EQ(recv(conn, &byte, 1, MSG_DONTWAIT), 0) << "the dropped connection is closed";
  EXPECT_EQ(Send(&cached, "small"), 9) << "the next send connects again";

  // A stop never waits for a peer: what is queued is dropped and counted.
  while (IPC_TcpSocketUnsent(lab.ctx(), cached) == 0) ASSERT_GT(Send(&cached, message(0)), 0);
  IPC_Shutdown(lab.ctx());
  EXPECT_TRUE(log.Contains("stop: 1 unsent messages")) << log.text();
  close(conn);
  close(listener);
}

TEST(IpcLifecycleTest, RefusesWithoutALoopOrWithALongPath) {
  capwap::test::TempRoot root;
  std::unique_ptr<lib_globals> ctx = lib_start();
  capwap::LogCapture log;
  EXPECT_NE(IPC_TcpSocketInit(ctx.get(), kPath, ReadMessages), 0);
  EXPECT_NE(IPC_TcpSocketInit(nullptr, kPath, ReadMessages), 0);
  ctx->master = thread_master_create();
  EXPECT_NE(IPC_TcpSocketInit(ctx.get(), ("/tmp/" + std::string(200, 'p')).c_str(), ReadMessages),
            0);
  EXPECT_TRUE(log.Contains("too long")) << log.text();
}

}  // namespace
