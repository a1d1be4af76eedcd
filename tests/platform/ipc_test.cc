#include "platform/ipc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/fail_inject.h"
#include "platform/lib.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/lab.h"

namespace {

constexpr const char* kPath = "/tmp/ipc_test_addr";

// What the connection reader saw; one per test.
struct Inbox {
  std::vector<std::string> messages;
  int closed = 0;
  int failed = 0;
};
Inbox* g_inbox = nullptr;

// Test framing: a host-order u32 length, then that many bytes.
std::vector<uint8_t> Frame(const std::string& text) {
  std::vector<uint8_t> out(4 + text.size());
  capwap::HostWriter writer(out.data(), out.size());
  writer.u32(static_cast<uint32_t>(text.size()));
  writer.bytes(text.data(), text.size());
  return out;
}

// Takes every whole frame from the connection's buffer.
void TakeFrames(lib_globals* ctx, int fd) {
  for (;;) {
    capwap::ByteView pending = IPC_Received(ctx, fd);
    capwap::HostReader reader(pending);
    uint32_t len = 0;
    if (!reader.u32(len) || pending.size() - 4 < len) return;
    g_inbox->messages.emplace_back(pending.begin() + 4, pending.begin() + 4 + len);
    IPC_Consume(ctx, fd, 4 + len);
  }
}

int ReadMessage(thread* t) {
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  int fd = THREAD_FD(t);
  thread_add_read(ctx->master.get(), ReadMessage, ctx, fd);
  IpcReceive received = IPC_Receive(ctx, fd);
  TakeFrames(ctx, fd);
  if (received == IpcReceive::kOpen) return 0;
  ++(received == IpcReceive::kClosed ? g_inbox->closed : g_inbox->failed);
  IPC_CloseConnection(ctx, fd);
  return 0;
}

int Send(lib_globals* ctx, int* cached, const std::string& text) {
  std::vector<uint8_t> frame = Frame(text);
  return IPC_TcpSocketSend(ctx, cached, kPath, frame.data(), frame.size());
}

bool Exists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

// A raw client connected to a path (not on the loop).
int ConnectRaw(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int BindRaw(const std::string& path, int type) {
  capwap::MakeParentDirs(path);
  int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  if (type == SOCK_STREAM) listen(fd, 4);
  return fd;
}

// The sender is the daemon's context; the listening peer has a context and
// loop of its own, so it can stop and come back independently.
class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_inbox = &inbox;
    peer = lib_start();
    peer->master = thread_master_create(lab.clock(), 1000);
  }
  void TearDown() override {
    lib_stop(peer);
    g_inbox = nullptr;
  }

  std::string Full() const { return lab.root().Path(kPath); }
  size_t PeerReaders() { return thread_master_read_count(peer->master.get()); }
  void Settle() {
    for (int round = 0; round < 100; ++round) {
      if (thread_master_settle(lab.master()) + thread_master_settle(peer->master.get()) == 0) {
        return;
      }
    }
  }

  capwap::test::DaemonContext lab;
  std::unique_ptr<lib_globals> peer;
  Inbox inbox;
};

TEST_F(IpcTest, DeliversMessagesOverCachedConnections) {
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  EXPECT_TRUE(Exists(Full())) << "folders of the path are created";

  int first = -1, second = -1;
  EXPECT_EQ(Send(lab.ctx(), &first, "hello"), 9);
  int cached = first;
  EXPECT_GE(cached, 0);
  EXPECT_EQ(Send(lab.ctx(), &first, "world"), 9);
  EXPECT_EQ(first, cached) << "the connection is reused";
  EXPECT_EQ(Send(lab.ctx(), &second, ""), 4);
  Settle();
  // Connections are served in turn, so only each one's own order is fixed.
  std::vector<std::string> got = inbox.messages;
  std::erase(got, std::string());
  EXPECT_EQ(got, (std::vector<std::string>{"hello", "world"}));
  EXPECT_EQ(inbox.messages.size(), 3u);
  EXPECT_EQ(PeerReaders(), 3u) << "listener and two connections";
  IPC_TcpSocketClose(lab.ctx(), &first);
  IPC_TcpSocketClose(lab.ctx(), &second);
  EXPECT_EQ(first, -1);
  Settle();
  EXPECT_EQ(inbox.closed, 2);
}

TEST_F(IpcTest, PeerCloseAndOverflowEndOneConnectionAndListenerKeepsAccepting) {
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  int client = ConnectRaw(Full());
  ASSERT_GE(client, 0);
  Settle();
  EXPECT_EQ(PeerReaders(), 2u);
  close(client);
  Settle();
  EXPECT_EQ(inbox.closed, 1);
  EXPECT_EQ(PeerReaders(), 1u) << "the closed connection is no longer watched";

  // A frame longer than a connection may hold never completes: the
  // connection goes once its buffer is full.
  capwap::LogCapture log;
  int cached = -1;
  std::vector<uint8_t> huge = Frame(std::string(kIpcReceiveLimit, 'h'));
  EXPECT_EQ(IPC_TcpSocketSend(lab.ctx(), &cached, kPath, huge.data(), huge.size()),
            static_cast<int>(huge.size()));
  Settle();
  EXPECT_EQ(inbox.failed, 1);
  EXPECT_TRUE(log.Contains("without a whole message")) << log.text();
  EXPECT_TRUE(inbox.messages.empty());

  EXPECT_EQ(Send(lab.ctx(), &cached, "again"), 9);
  Settle();
  EXPECT_EQ(inbox.messages, std::vector<std::string>{"again"});
  IPC_TcpSocketClose(lab.ctx(), &cached);
}

TEST_F(IpcTest, StaleSocketFileIsReplacedButOtherFilesAreNot) {
  int stale = BindRaw(Full(), SOCK_STREAM);
  ASSERT_GE(stale, 0);
  close(stale);  // leaves the socket file behind
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  int cached = -1;
  EXPECT_EQ(Send(lab.ctx(), &cached, "x"), 5);
  Settle();
  EXPECT_EQ(inbox.messages.size(), 1u);
  IPC_TcpSocketClose(lab.ctx(), &cached);

  const char* other = "/tmp/ipc_test_file";
  std::ofstream(lab.root().Path(other)) << "not a socket";
  capwap::LogCapture log;
  EXPECT_NE(IPC_TcpSocketInit(peer.get(), other, ReadMessage), 0);
  EXPECT_TRUE(log.Contains("is not a socket")) << log.text();
  EXPECT_TRUE(Exists(lab.root().Path(other)));
}

TEST_F(IpcTest, SenderReconnectsAfterThePeerRestarts) {
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  int cached = -1;
  ASSERT_EQ(Send(lab.ctx(), &cached, "one"), 7);
  Settle();

  // The peer goes away: its listener and connections are closed.
  IPC_Shutdown(peer.get());
  EXPECT_FALSE(Exists(Full()));
  capwap::LogCapture log;
  EXPECT_EQ(Send(lab.ctx(), &cached, "lost"), -1);
  EXPECT_EQ(cached, -1);
  EXPECT_TRUE(log.Contains("cannot connect")) << log.text();

  // It comes back; the next send connects again.
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  EXPECT_EQ(Send(lab.ctx(), &cached, "two"), 7);
  EXPECT_GE(cached, 0);
  Settle();

  // A restart between two sends with the connection still cached loses
  // nothing either.
  IPC_Shutdown(peer.get());
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  EXPECT_EQ(Send(lab.ctx(), &cached, "three"), 9);
  Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"one", "two", "three"}));
  IPC_TcpSocketClose(lab.ctx(), &cached);
}

// Reads whatever the raw connection holds now.
void DrainInto(int fd, std::vector<uint8_t>& out) {
  uint8_t chunk[65536];
  for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) {
    out.insert(out.end(), chunk, chunk + n);
  }
}

TEST_F(IpcTest, SendsQueueBehindASlowPeerAndAStuckPeerIsDropped) {
  int listener = BindRaw(Full(), SOCK_STREAM);
  ASSERT_GE(listener, 0);
  auto message = [](size_t i) { return std::string(16 * 1024, static_cast<char>('a' + i % 26)); };
  int cached = -1;
  // Nobody reads yet: the socket fills, then the messages wait in order.
  size_t sent = 0;
  while (IPC_TcpSocketUnsent(lab.ctx(), cached) == 0 && sent < 1000) {
    ASSERT_EQ(Send(lab.ctx(), &cached, message(sent)), 16 * 1024 + 4);
    ++sent;
  }
  for (int more = 0; more < 3; ++more, ++sent) {
    ASSERT_EQ(Send(lab.ctx(), &cached, message(sent)), 16 * 1024 + 4) << "queued is sent";
  }
  EXPECT_GT(IPC_TcpSocketUnsent(lab.ctx(), cached), 3u * 16 * 1024);

  // The peer reads: the loop writes the queue as room appears.
  int conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(conn, 0);
  std::vector<uint8_t> stream;
  for (int round = 0; round < 1000 && IPC_TcpSocketUnsent(lab.ctx(), cached) > 0; ++round) {
    DrainInto(conn, stream);
    lab.Settle();
  }
  DrainInto(conn, stream);
  ASSERT_EQ(stream.size(), sent * (16 * 1024 + 4));
  for (size_t i = 0; i < sent; ++i) {
    std::vector<uint8_t> expected = Frame(message(i));
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                           stream.begin() + static_cast<long>(i * expected.size())))
        << "message " << i << " intact and in order";
  }

  // It stops reading for good: past the queue's bound the connection goes.
  capwap::LogCapture log;
  int result = 0;
  for (int i = 0; i < 1000 && result >= 0; ++i) result = Send(lab.ctx(), &cached, message(i));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(cached, -1);
  EXPECT_TRUE(log.Contains("is not reading")) << log.text();
  EXPECT_TRUE(log.Contains("unsent messages")) << log.text();
  char byte;
  while (recv(conn, &byte, 1, MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(recv(conn, &byte, 1, MSG_DONTWAIT), 0) << "the dropped connection is closed";

  // The next send starts a new connection.
  EXPECT_EQ(Send(lab.ctx(), &cached, "small"), 9);
  EXPECT_GE(cached, 0);
  IPC_TcpSocketClose(lab.ctx(), &cached);
  close(conn);
  close(listener);
}

TEST_F(IpcTest, InjectedSendFailureDropsTheCachedConnection) {
  ASSERT_EQ(IPC_TcpSocketInit(peer.get(), kPath, ReadMessage), 0);
  int cached = -1;
  ASSERT_EQ(Send(lab.ctx(), &cached, "a"), 5);
  capwap::FailNext(capwap::FailFamily::kIpcSend, 1);
  EXPECT_EQ(Send(lab.ctx(), &cached, "b"), -1);
  EXPECT_EQ(cached, -1);
  EXPECT_EQ(Send(lab.ctx(), &cached, "c"), 5);
  Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(inbox.failed, 0);
  IPC_TcpSocketClose(lab.ctx(), &cached);
}

TEST(IpcLifecycleTest, ContextTeardownClosesEverythingAndDropsUnsentMessages) {
  capwap::test::TempRoot root;
  capwap::ManualClock clock;
  std::unique_ptr<lib_globals> ctx = lib_start();
  ctx->master = thread_master_create(clock, 1000);
  Inbox inbox;
  g_inbox = &inbox;
  ASSERT_EQ(IPC_TcpSocketInit(ctx.get(), kPath, ReadMessage), 0);
  int client = ConnectRaw(root.Path(kPath));
  ASSERT_GE(client, 0);
  thread_master_settle(ctx->master.get());
  EXPECT_EQ(thread_master_read_count(ctx->master.get()), 2u);
  // A peer that does not read holds messages in this side's queue.
  int stuck = BindRaw(root.Path("/tmp/ipc_test_stuck"), SOCK_STREAM);
  ASSERT_GE(stuck, 0);
  int cached = -1;
  std::vector<uint8_t> frame = Frame(std::string(16 * 1024, 's'));
  while (IPC_TcpSocketUnsent(ctx.get(), cached) == 0) {
    ASSERT_GT(IPC_TcpSocketSend(ctx.get(), &cached, "/tmp/ipc_test_stuck", frame.data(),
                                frame.size()), 0);
  }

  capwap::LogCapture log;
  lib_stop(ctx);
  EXPECT_TRUE(log.Contains("stop: 1 unsent messages")) << log.text();
  close(stuck);
  EXPECT_FALSE(Exists(root.Path(kPath)));
  pollfd pfd{client, POLLIN, 0};
  ASSERT_EQ(poll(&pfd, 1, 1000), 1);
  char byte;
  EXPECT_EQ(recv(client, &byte, 1, 0), 0) << "the accepted connection was closed";
  close(client);
  g_inbox = nullptr;
}

TEST(IpcLifecycleTest, RefusesWithoutAnEventLoop) {
  capwap::test::TempRoot root;
  std::unique_ptr<lib_globals> ctx = lib_start();
  capwap::LogCapture log;
  EXPECT_NE(IPC_TcpSocketInit(ctx.get(), kPath, ReadMessage), 0);
  EXPECT_NE(IPC_TcpSocketInit(nullptr, kPath, ReadMessage), 0);
  EXPECT_FALSE(log.text().empty());
  std::string too_long = "/tmp/" + std::string(200, 'p');
  ctx->master = thread_master_create();
  EXPECT_NE(IPC_TcpSocketInit(ctx.get(), too_long.c_str(), ReadMessage), 0);
  EXPECT_TRUE(log.Contains("too long")) << log.text();
}

}  // namespace
