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

int ReadMessage(thread* t) {
  auto* ctx = static_cast<lib_globals*>(THREAD_ARG(t));
  int fd = THREAD_FD(t);
  uint8_t head[4];
  ssize_t got = readn(fd, head, sizeof head);
  if (got == 0) {
    ++g_inbox->closed;
    IPC_CloseConnection(ctx, fd);
    return 0;
  }
  thread_add_read(ctx->master.get(), ReadMessage, ctx, fd);
  uint32_t len = 0;
  capwap::HostReader reader(head, got > 0 ? static_cast<size_t>(got) : 0);
  if (!reader.u32(len) || len > 1 << 20) {
    ++g_inbox->failed;
    return 0;
  }
  std::string body(len, '\0');
  if (readn(fd, body.data(), len) != static_cast<ssize_t>(len)) {
    ++g_inbox->failed;
    return 0;
  }
  g_inbox->messages.push_back(body);
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

class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override { g_inbox = &inbox; }
  void TearDown() override { g_inbox = nullptr; }

  std::string Full() const { return lab.root().Path(kPath); }
  size_t Readers() { return thread_master_read_count(lab.master()); }

  capwap::test::DaemonContext lab;
  Inbox inbox;
};

TEST_F(IpcTest, DeliversMessagesOverCachedConnections) {
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  EXPECT_TRUE(Exists(Full())) << "folders of the path are created";

  int first = -1, second = -1;
  EXPECT_EQ(Send(lab.ctx(), &first, "hello"), 9);
  int cached = first;
  EXPECT_GE(cached, 0);
  EXPECT_EQ(Send(lab.ctx(), &first, "world"), 9);
  EXPECT_EQ(first, cached) << "the connection is reused";
  EXPECT_EQ(Send(lab.ctx(), &second, ""), 4);
  lab.Settle();
  // Connections are served in turn, so only each one's own order is fixed.
  std::vector<std::string> got = inbox.messages;
  std::erase(got, std::string());
  EXPECT_EQ(got, (std::vector<std::string>{"hello", "world"}));
  EXPECT_EQ(inbox.messages.size(), 3u);
  EXPECT_EQ(Readers(), 3u) << "listener and two connections";
  close(first);
  close(second);
}

TEST_F(IpcTest, PeerCloseIsSeenAsEndOfStreamAndListenerKeepsAccepting) {
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  int client = ConnectRaw(Full());
  ASSERT_GE(client, 0);
  lab.Settle();
  EXPECT_EQ(Readers(), 2u);
  close(client);
  lab.Settle();
  EXPECT_EQ(inbox.closed, 1);
  EXPECT_EQ(Readers(), 1u) << "the closed connection is no longer watched";

  int cached = -1;
  EXPECT_EQ(Send(lab.ctx(), &cached, "again"), 9);
  lab.Settle();
  EXPECT_EQ(inbox.messages, std::vector<std::string>{"again"});
  close(cached);
}

TEST_F(IpcTest, StaleSocketFileIsReplacedButOtherFilesAreNot) {
  int stale = BindRaw(Full(), SOCK_STREAM);
  ASSERT_GE(stale, 0);
  close(stale);  // leaves the socket file behind
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  int cached = -1;
  EXPECT_EQ(Send(lab.ctx(), &cached, "x"), 5);
  lab.Settle();
  EXPECT_EQ(inbox.messages.size(), 1u);
  close(cached);

  const char* other = "/tmp/ipc_test_file";
  std::ofstream(lab.root().Path(other)) << "not a socket";
  capwap::LogCapture log;
  EXPECT_NE(IPC_TcpSocketInit(lab.ctx(), other, ReadMessage), 0);
  EXPECT_TRUE(log.Contains("is not a socket")) << log.text();
  EXPECT_TRUE(Exists(lab.root().Path(other)));
}

TEST_F(IpcTest, SenderReconnectsAfterThePeerRestarts) {
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  int cached = -1;
  ASSERT_EQ(Send(lab.ctx(), &cached, "one"), 7);
  lab.Settle();

  // The peer goes away: its listener and connections are closed.
  IPC_Shutdown(lab.ctx());
  EXPECT_FALSE(Exists(Full()));
  capwap::LogCapture log;
  EXPECT_EQ(Send(lab.ctx(), &cached, "lost"), -1);
  EXPECT_EQ(cached, -1);
  EXPECT_TRUE(log.Contains("cannot connect")) << log.text();

  // It comes back; the next send connects again.
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  EXPECT_EQ(Send(lab.ctx(), &cached, "two"), 7);
  EXPECT_GE(cached, 0);
  lab.Settle();

  // A restart between two sends with the connection still cached loses
  // nothing either.
  IPC_Shutdown(lab.ctx());
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  EXPECT_EQ(Send(lab.ctx(), &cached, "three"), 9);
  lab.Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"one", "two", "three"}));
  close(cached);
}

TEST_F(IpcTest, PeerThatNeverReadsDoesNotBlockTheSender) {
  int listener = BindRaw(Full(), SOCK_STREAM);
  ASSERT_GE(listener, 0);
  std::string big(256 * 1024, 'z');
  int cached = -1;
  capwap::LogCapture log;
  int result = 0;
  int calls = 0;
  auto slowest = std::chrono::milliseconds(0);
  while (result >= 0 && calls < 64) {
    auto start = std::chrono::steady_clock::now();
    result = Send(lab.ctx(), &cached, big);
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    slowest = std::max(slowest, spent);
    ++calls;
  }
  EXPECT_EQ(result, -1) << "a full socket ends in failure, not in waiting";
  EXPECT_EQ(cached, -1);
  EXPECT_LT(slowest.count(), 1000) << "each send waits only a short bounded time";
  EXPECT_TRUE(log.Contains("failed after")) << log.text();

  // The next send starts a new connection.
  EXPECT_EQ(Send(lab.ctx(), &cached, "small"), 9);
  EXPECT_GE(cached, 0);
  close(cached);
  close(listener);
}

TEST_F(IpcTest, InjectedSendFailureDropsTheCachedConnection) {
  ASSERT_EQ(IPC_TcpSocketInit(lab.ctx(), kPath, ReadMessage), 0);
  int cached = -1;
  ASSERT_EQ(Send(lab.ctx(), &cached, "a"), 5);
  capwap::FailNext(capwap::FailFamily::kIpcSend, 1);
  EXPECT_EQ(Send(lab.ctx(), &cached, "b"), -1);
  EXPECT_EQ(cached, -1);
  EXPECT_EQ(Send(lab.ctx(), &cached, "c"), 5);
  lab.Settle();
  EXPECT_EQ(inbox.messages, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(inbox.failed, 0);
  close(cached);
}

TEST_F(IpcTest, DatagramSend) {
  capwap::LogCapture log;
  EXPECT_EQ(IPC_SocketSend(lab.ctx(), "/tmp/wids_ac_addr", "x", 1), -1);
  EXPECT_TRUE(log.Contains("datagram to")) << log.text();

  int peer = BindRaw(lab.root().Path("/tmp/wids_ac_addr"), SOCK_DGRAM);
  ASSERT_GE(peer, 0);
  const uint8_t payload[20] = {2, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0};
  EXPECT_EQ(IPC_SocketSend(lab.ctx(), "/tmp/wids_ac_addr", payload, sizeof payload), 20);
  capwap::FailNext(capwap::FailFamily::kIpcSend, 1);
  EXPECT_EQ(IPC_SocketSend(lab.ctx(), "/tmp/wids_ac_addr", "y", 1), -1);

  uint8_t got[64];
  EXPECT_EQ(recv(peer, got, sizeof got, MSG_DONTWAIT), 20);
  EXPECT_EQ(std::memcmp(got, payload, 20), 0);
  EXPECT_EQ(recv(peer, got, sizeof got, MSG_DONTWAIT), -1) << "the injected failure sent nothing";
  close(peer);
}

TEST(IpcReadWriteTest, BoundedReadsAndWrites) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  char buf[16] = {};
  errno = 0;
  EXPECT_EQ(readn(pair[0], buf, sizeof buf), -1) << "nothing arrived within the wait";
  EXPECT_EQ(errno, EAGAIN);

  EXPECT_EQ(writen(pair[1], "abcdef", 6), 6);
  EXPECT_EQ(readn(pair[0], buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  // The peer stalls after two more bytes: the short count comes back.
  EXPECT_EQ(readn(pair[0], buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(readn(pair[0], buf, 0), 0);

  close(pair[1]);
  EXPECT_EQ(readn(pair[0], buf, 8), 0) << "end of stream";
  EXPECT_EQ(writen(pair[0], "x", 1), -1) << "the peer is gone (and no SIGPIPE)";
  close(pair[0]);
}

TEST(IpcLifecycleTest, ContextTeardownClosesListenersAndConnections) {
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

  lib_stop(ctx);
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
