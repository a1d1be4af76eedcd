// The vty over real TCP sessions on loopback, driven by the event loop:
// telnet-style input, hostile lines, slow readers, session limits and idle
// timeouts, and the capwap-cli client run as a separate process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "cli_fixture.h"
#include "platform/cli_host.h"
#include "platform/fail_inject.h"
#include "platform/log.h"

extern char** environ;

namespace capwap::test {
namespace {

constexpr int kPumpRounds = 6000;  // upper bound on loop turns while waiting for a peer

std::string& Note() {
  static std::string note;
  return note;
}
size_t& BulkSize() {
  static size_t size = 0;
  return size;
}

int SetNote(vty*, const CliArgs& args) {
  Note() = args.Str("text");
  return CLI_SUCCESS;
}

int DropSession(vty* v, const CliArgs&) {
  vty_out(v, "partial\n");
  v->ctx->host->server->RequestClose(v->fd);
  return CLI_SUCCESS;
}

int WriteNote(vty* v) {
  if (!Note().empty()) vty_out(v, "note %s\n", Note().c_str());
  if (BulkSize()) v->out.append(BulkSize(), 'b');
  vty_out(v, "!\n");
  return 0;
}

// One TCP peer of the vty server; every wait turns the daemon's loop.
class VtyPeer {
 public:
  VtyPeer(DaemonContext& lab, uint16_t port, int receive_buffer = 0) : lab_(lab) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(int));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << strerror(errno);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  ~VtyPeer() { close(fd_); }

  void Send(std::string_view bytes) {
    size_t done = 0;
    for (int round = 0; done < bytes.size() && round < kPumpRounds; ++round) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        ASSERT_EQ(errno, EAGAIN) << strerror(errno);
        Pump();
        ReadAvailable();
      }
    }
    ASSERT_EQ(done, bytes.size());
  }
  // Everything up to and including the next prompt, without CRs.
  std::string ReadUntilPrompt() {
    for (int round = 0; round < kPumpRounds; ++round) {
      Pump();
      if (!ReadAvailable() || EndsWithPrompt()) break;
    }
    std::string out;
    for (char c : raw_) {
      if (c != '\r') out += c;
    }
    last_raw_ = std::move(raw_);
    raw_.clear();
    return out;
  }
  std::string Command(std::string_view line) {
    Send(std::string(line) + "\r\n");
    return ReadUntilPrompt();
  }
  // True once the server has closed the connection.
  bool WaitClosed() {
    for (int round = 0; round < kPumpRounds; ++round) {
      Pump();
      if (!ReadAvailable()) return true;
    }
    return false;
  }
  const std::string& raw() const { return raw_; }
  // The bytes behind the last ReadUntilPrompt.
  const std::string& last_raw() const { return last_raw_; }

 private:
  void Pump() { thread_master_poll(lab_.master(), 2); }
  bool ReadAvailable() {
    char buf[65536];
    while (true) {
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        raw_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EAGAIN) return true;
      return false;  // closed or reset
    }
  }
  bool EndsWithPrompt() const {
    size_t nl = raw_.rfind('\n');
    std::string_view tail = std::string_view(raw_).substr(nl == std::string::npos ? 0 : nl + 1);
    return tail.starts_with("capwap") && (tail.ends_with("> ") || tail.ends_with("# "));
  }

  DaemonContext& lab_;
  int fd_ = -1;
  std::string raw_;
  std::string last_raw_;
};

class VtyTcp : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Note().clear();
    BulkSize() = 0;
    Install(CONFIG_NODE, "note WORD", {"text"}, SetNote);
    cli_install_config(ctx(), 108, WriteNote, 0);
    ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
    port_ = host_vty_port(ctx());
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    Note().clear();
    BulkSize() = 0;
    CliTest::TearDown();
  }
  size_t Sessions() { return ctx()->host->server->session_count(); }

  uint16_t port_ = 0;
};

TEST_F(VtyTcp, TelnetInputInLineMode) {
  VtyPeer peer(lab_, port_);
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap access controller\ncapwap> ");
  // Option negotiation and a subnegotiation before the first command.
  const char negotiation[] = "\xff\xfb\x18\xff\xfd\x01\xff\xfa\x18\x00xterm\xff\xf0";
  peer.Send(std::string_view(negotiation, sizeof negotiation - 1));
  EXPECT_EQ(peer.Command("enable"), "capwap# ");
  peer.Send("configure terminal\r");
  peer.Send(std::string_view("\0", 1));  // CR NUL ends a line as well
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap(config)# ");
  peer.Send("no\xff\xf1te tel\x08net\n");  // IAC NOP and a backspace are dropped
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap(config)# ");
  EXPECT_EQ(Note(), "telnet");
  peer.Send("end\r");
  const std::string unsaved = kCliUnsavedNotice;
  EXPECT_EQ(peer.ReadUntilPrompt(), unsaved + "capwap# ");
  std::string shown = peer.Command("show running-config");
  EXPECT_EQ(shown, "note telnet\n!\n" + unsaved + "capwap# ");
  EXPECT_EQ(peer.Command("show ?"),
            "  running-config  Current operating configuration\ncapwap# ");
  EXPECT_EQ(peer.Command("frobnicate"), "% Unknown command\ncapwap# ");
}

TEST_F(VtyTcp, OutputIsInNetworkForm) {
  VtyPeer peer(lab_, port_);
  peer.ReadUntilPrompt();
  EXPECT_EQ(peer.last_raw(), "capwap access controller\r\ncapwap> ");
  peer.Command("frobnicate");
  EXPECT_EQ(peer.last_raw(), "% Unknown command\r\ncapwap> ");
  // A 0xFF data byte arrives doubled, is stored once and is sent doubled.
  peer.Command("enable");
  peer.Command("configure terminal");
  peer.Command("note a\xff\xff" "b");
  EXPECT_EQ(Note(), "a\xff" "b");
  peer.Command("end");
  peer.Command("write");
  peer.Command("show running-config");
  EXPECT_EQ(peer.last_raw(), "note a\xff\xff" "b\r\n!\r\ncapwap# ");
}

TEST_F(VtyTcp, HugeLineIsRefusedAndTheSessionGoesOn) {
  VtyPeer peer(lab_, port_);
  peer.ReadUntilPrompt();
  EXPECT_EQ(peer.Command("enable"), "capwap# ");
  LogCapture log;
  std::string huge(100 * 1024, 'x');
  huge[500] = '\xff';
  huge[501] = '\xff';  // an escaped data byte inside the line
  peer.Send(huge);
  EXPECT_EQ(peer.Command(""), "% Line too long\ncapwap# ");
  EXPECT_EQ(peer.Command("show running-config"), "!\ncapwap# ");
  // Binary junk with CRs and LFs: every piece gets an answer, the session stays.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xff);
  peer.Send(junk);
  peer.Send("\r\n");
  peer.ReadUntilPrompt();
  EXPECT_EQ(peer.Command("show running-config"), "!\ncapwap# ");
  EXPECT_EQ(Sessions(), 1u);
}

TEST_F(VtyTcp, ExitAtTheTopClosesTheSession) {
  VtyPeer peer(lab_, port_);
  peer.ReadUntilPrompt();
  EXPECT_EQ(Sessions(), 1u);
  EXPECT_EQ(peer.Command("enable"), "capwap# ");
  EXPECT_EQ(peer.Command("configure terminal"), "capwap(config)# ");
  EXPECT_EQ(peer.Command("exit"), "capwap# ");
  peer.Send("exit\r\n");
  EXPECT_TRUE(peer.WaitClosed());
  EXPECT_EQ(Sessions(), 0u);

  VtyPeer quitter(lab_, port_);
  quitter.ReadUntilPrompt();
  quitter.Send("quit\n");
  EXPECT_TRUE(quitter.WaitClosed());
  EXPECT_EQ(Sessions(), 0u);
}

TEST_F(VtyTcp, PeerThatStopsReadingIsClosedPastOneMebibyte) {
  BulkSize() = 256 * 1024;
  LogCapture log;
  {
    VtyPeer sleeper(lab_, port_, 4096);
    sleeper.ReadUntilPrompt();
    std::string burst = "enable\r\n";
    for (int i = 0; i < 48; ++i) burst += "show running-config\r\n";
    sleeper.Send(burst);
    for (int round = 0; round < kPumpRounds && Sessions() != 0; ++round) {
      thread_master_poll(lab_.master(), 2);
    }
    EXPECT_EQ(Sessions(), 0u);
    EXPECT_TRUE(log.Contains("bytes of output not taken")) << log.text();
  }
  // The server still serves others.
  BulkSize() = 0;
  VtyPeer next(lab_, port_);
  EXPECT_EQ(next.ReadUntilPrompt(), "capwap access controller\ncapwap> ");
}

TEST_F(VtyTcp, SessionThatCannotBeRearmedIsClosedOthersGoOn) {
  VtyPeer unlucky(lab_, port_);
  unlucky.ReadUntilPrompt();
  VtyPeer other(lab_, port_);
  other.ReadUntilPrompt();
  LogCapture log;
  FailNext(FailFamily::kTimerCreate, 1);
  unlucky.Send("enable\r\n");
  EXPECT_TRUE(unlucky.WaitClosed());
  EXPECT_TRUE(log.Contains("cannot re-arm session")) << log.text();
  EXPECT_EQ(Sessions(), 1u);
  EXPECT_EQ(other.Command("enable"), "capwap# ");
}

// --- capwap-cli ------------------------------------------------------------

struct CliRun {
  int status = -1;
  std::string out;
};

class CapwapCli : public VtyTcp {
 protected:
  CliRun RunClient(std::vector<std::string> args, std::vector<std::string> env = {},
                   int stdin_fd = -1) {
    const std::string binary = CAPWAP_BINARY_DIR "/tools/capwap-cli/capwap-cli";
    CliRun run;
    EXPECT_EQ(access(binary.c_str(), X_OK), 0) << binary << " is not built";
    int pipefd[2];
    EXPECT_EQ(pipe2(pipefd, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    if (stdin_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
    args.insert(args.begin(), binary);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e; ++e) {
      if (!std::string_view(*e).starts_with("CAPWAP_VTY_PORT=")) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipefd[1]);
    EXPECT_EQ(spawned, 0);
    fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
    bool exited = spawned != 0, drained = false;
    for (int round = 0; round < kPumpRounds && !(exited && drained); ++round) {
      thread_master_poll(lab_.master(), 5);
      char buf[4096];
      ssize_t n;
      while ((n = read(pipefd[0], buf, sizeof buf)) > 0) run.out.append(buf, static_cast<size_t>(n));
      drained = n == 0;
      int status = 0;
      if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    close(pipefd[0]);
    EXPECT_TRUE(exited && drained) << "capwap-cli did not finish";
    return run;
  }
  std::string Port() { return std::to_string(port_); }
};

TEST_F(CapwapCli, OneShotCommandsPrintOnlyTheirOutput) {
  CliRun run = RunClient({"-P", Port(), "-c", "configure terminal", "-c", "note hello", "-c",
                          "end", "-c", "write", "-c", "show running-config"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kCliUnsavedNotice) + "[OK]\nnote hello\n!\n");
  EXPECT_EQ(Note(), "hello");
}

TEST_F(CapwapCli, ExitsOneWhenACommandPrintsAnError) {
  CliRun run = RunClient({"-H", "127.0.0.1", "-P", Port(), "-c", "show running-config", "-c",
                          "frobnicate", "-c", "show ?"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "!\n% Unknown command\n  running-config  Current operating configuration\n");
}

TEST_F(CapwapCli, PortFromTheEnvironment) {
  CliRun run = RunClient({"-c", "show running-config"}, {"CAPWAP_VTY_PORT=" + Port()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "!\n");
}

TEST_F(CapwapCli, UnreachableDaemonIsAnError) {
  uint16_t unused = FreePortBase();
  ASSERT_NE(unused, 0);
  CliRun run = RunClient({"-P", std::to_string(unused), "-c", "show running-config"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(RunClient({"-P", "70000", "-c", "x"}).status, 2);
}

TEST_F(CapwapCli, InteractiveFromAPipe) {
  // Standard input is not a terminal here: plain reading, no prompts echoed.
  int in[2];
  ASSERT_EQ(pipe(in), 0);
  std::string script = "enable\nconfigure terminal\nnote piped\nexit\nwrite\nshow running-config\nexit\n";
  ASSERT_EQ(write(in[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));
  close(in[1]);
  CliRun run = RunClient({"-P", Port()}, {}, in[0]);
  close(in[0]);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "capwap access controller\n" + std::string(kCliUnsavedNotice) +
                        "[OK]\nnote piped\n!\n");
}

TEST_F(CapwapCli, IdleSessionsGiveUpTheirSlotsAfterTheExecTimeout) {
  std::vector<std::unique_ptr<VtyPeer>> idle;
  for (size_t i = 0; i < cli::kMaxSessions; ++i) {
    idle.push_back(std::make_unique<VtyPeer>(lab_, port_));
    idle.back()->ReadUntilPrompt();
  }
  VtyPeer extra(lab_, port_);
  EXPECT_TRUE(extra.WaitClosed());
  EXPECT_EQ(extra.raw(), "% Too many vty sessions\r\n");
  EXPECT_EQ(RunClient({"-P", Port(), "-c", "show running-config"}).status, 2);
  // Ten minutes by default, counted from the last input.
  VtyPeer& op = *idle.front();
  lab_.RunFor(300);
  EXPECT_EQ(op.Command("enable"), "capwap# ");
  lab_.RunFor(300);
  EXPECT_EQ(Sessions(), 1u);
  EXPECT_TRUE(idle.back()->WaitClosed());
  EXPECT_EQ(idle.back()->raw(), "\r\n% Idle timeout, session closed\r\n");
  EXPECT_EQ(RunClient({"-P", Port(), "-c", "show running-config"}).status, 0);
  // Set in a session: applies to it at once and is written back.
  op.Command("configure terminal");
  EXPECT_EQ(op.Command("line vty"), "capwap(config-line)# ");
  EXPECT_EQ(op.Command("exec-timeout 1 30"), "capwap(config-line)# ");
  EXPECT_EQ(op.Command("end"), std::string(kCliUnsavedNotice) + "capwap# ");
  EXPECT_EQ(op.Command("write"), "[OK]\ncapwap# ");
  lab_.RunFor(89);
  EXPECT_EQ(Sessions(), 1u);
  lab_.RunFor(1);
  EXPECT_TRUE(op.WaitClosed());
  // A restart replays it for new sessions; 0 0 is never.
  host_vty_init(ctx());
  ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
  EXPECT_EQ(cli_running_config(ctx()), "line vty\n exec-timeout 1 30\n!\n");
  VtyPeer after(lab_, host_vty_port(ctx())), forever(lab_, host_vty_port(ctx()));
  after.ReadUntilPrompt();
  forever.ReadUntilPrompt();
  for (const char* line : {"enable", "configure terminal", "line vty", "exec-timeout 0 0"}) {
    forever.Command(line);
  }
  lab_.RunFor(90);
  EXPECT_TRUE(after.WaitClosed());
  lab_.RunFor(100000);
  EXPECT_EQ(Sessions(), 1u);
}

TEST_F(CapwapCli, ConnectionClosedBeforeTheCommandsAreDoneIsAnError) {
  Install(EXEC_NODE, "drop", {}, DropSession);
  CliRun run = RunClient({"-P", Port(), "-c", "show running-config", "-c", "drop", "-c",
                          "show running-config"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "!\npartial\n");
  EXPECT_EQ(RunClient({"-P", Port(), "-c", "exit", "-c", "show running-config"}).status, 2);
  EXPECT_EQ(RunClient({"-P", Port(), "-c", "show running-config", "-c", "exit"}).status, 0);
}

}  // namespace
}  // namespace capwap::test
