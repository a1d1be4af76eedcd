// The vty over real TCP sessions on loopback, driven by the event loop:
// telnet-style input, hostile lines, slow readers, session limits and idle
// timeouts, and the capwap-cli client run as a separate process.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "cli_fixture.h"
#include "platform/cli_host.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "support/vty_peer.h"

namespace capwap::test {
namespace {

constexpr int kPumpRounds = 6000;  // upper bound on loop turns while waiting for a peer
std::string note;
size_t bulk = 0;

int SetNote(vty*, const CliArgs& args) {
  note = args.Str("text");
  return CLI_SUCCESS;
}
int DropSession(vty* v, const CliArgs&) {
  vty_out(v, "partial\n");
  v->ctx->host->server->RequestClose(v->fd);
  return CLI_SUCCESS;
}
int WriteNote(vty* v) {
  if (!note.empty()) vty_out(v, "note %s\n", note.c_str());
  v->out.append(bulk, 'b');
  vty_out(v, "!\n");
  return 0;
}

class VtyTcp : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    note.clear();
    bulk = 0;
    Install(CONFIG_NODE, "note WORD", {"text"}, SetNote);
    Install(EXEC_NODE, "drop", {}, DropSession);
    cli_install_config(ctx(), 108, WriteNote, 0);
    ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
    port_ = host_vty_port(ctx());
  }
  size_t Sessions() { return ctx()->host->server->session_count(); }
  // Runs capwap-cli (shell words) with the loop turning: exit status and output.
  std::pair<int, std::string> Client(const std::string& words, const std::string& input = "") {
    std::string line = (input.empty() ? "" : "printf '%s' '" + input + "' | ") +
                       "env -u CAPWAP_VTY_PORT " CAPWAP_BINARY_DIR "/tools/capwap-cli/capwap-cli " +
                       words;
    FILE* out =
        popen(std::regex_replace(line, std::regex("PORT"), std::to_string(port_)).c_str(), "r");
    fcntl(fileno(out), F_SETFL, O_NONBLOCK);
    std::string text;
    char buf[4096];
    for (int round = 0, n = -1; round < kPumpRounds && n != 0; ++round) {
      thread_master_poll(lab_.master(), 5);
      while ((n = static_cast<int>(read(fileno(out), buf, sizeof buf))) > 0)
        text.append(buf, static_cast<size_t>(n));
    }
    int status = pclose(out);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }
  uint16_t port_ = 0;
};

TEST_F(VtyTcp, TelnetInputNetworkOutputAndHostileLines) {
  VtyPeer peer(lab_.master(), port_);
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap access controller\ncapwap> ");
  EXPECT_EQ(peer.last_raw(), "capwap access controller\r\ncapwap> ");
  const char negotiation[] = "\xff\xfb\x18\xff\xfd\x01\xff\xfa\x18\x00xterm\xff\xf0";
  peer.Send(std::string_view(negotiation, sizeof negotiation - 1));
  EXPECT_EQ(peer.Command("enable"), "capwap# ");
  peer.Send(std::string_view("configure terminal\r\0", 20));  // CR NUL ends a line as well
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap(config)# ");
  peer.Send("no\xff\xf1te tel\x08net\n");  // IAC NOP and a backspace are dropped
  EXPECT_EQ(peer.ReadUntilPrompt(), "capwap(config)# ");
  EXPECT_EQ(note, "telnet");
  peer.Command(
      "note a\xff\xff"
      "b");  // a 0xFF data byte arrives doubled, is stored once
  EXPECT_EQ(note,
            "a\xff"
            "b");
  const std::string unsaved = kCliUnsavedNotice;
  EXPECT_EQ(peer.Command("end"), unsaved + "capwap# ");
  EXPECT_EQ(peer.Command("write"), "[OK]\ncapwap# ");
  EXPECT_EQ(peer.Command("show running-config"),
            "note a\xff\xff"
            "b\n!\ncapwap# ");
  EXPECT_EQ(peer.last_raw(),
            "note a\xff\xff"
            "b\r\n!\r\ncapwap# ")
      << "and is sent doubled";

  LogCapture log;
  std::string huge(100 * 1024, 'x');
  huge[500] = huge[501] = '\xff';
  peer.Send(huge);
  EXPECT_EQ(peer.Command(""), "% Line too long\ncapwap# ");
  std::string junk;  // binary junk with CRs and LFs: every piece is answered
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xff);
  peer.Send(junk + "\r\n");
  peer.ReadUntilPrompt();
  EXPECT_EQ(peer.Command("frobnicate"), "% Unknown command\ncapwap# ");
  EXPECT_EQ(peer.Command("configure terminal"), "capwap(config)# ");
  EXPECT_EQ(peer.Command("exit"), "capwap# ");
  peer.Send("exit\r\n");
  EXPECT_TRUE(peer.WaitClosed());
  EXPECT_EQ(Sessions(), 0u);
}

TEST_F(VtyTcp, SlowReadersAndSessionsThatCannotBeRearmedAreClosedOthersGoOn) {
  bulk = 256 * 1024;
  LogCapture log;
  VtyPeer sleeper(lab_.master(), port_, 4096), unlucky(lab_.master(), port_), other(lab_.master(), port_);
  for (VtyPeer* p : {&sleeper, &unlucky, &other}) p->ReadUntilPrompt();
  std::string burst = "enable\r\n";
  for (int i = 0; i < 48; ++i) burst += "show running-config\r\n";
  sleeper.Send(burst);
  EXPECT_TRUE(sleeper.WaitClosed());
  EXPECT_TRUE(log.Contains("bytes of output not taken")) << log.text();
  FailNext(FailFamily::kTimerCreate, 1);
  unlucky.Send("enable\r\n");
  EXPECT_TRUE(unlucky.WaitClosed());
  EXPECT_TRUE(log.Contains("cannot re-arm session")) << log.text();
  EXPECT_EQ(Sessions(), 1u);
  EXPECT_EQ(other.Command("enable"), "capwap# ");
}

TEST_F(VtyTcp, CapwapCliRunsCommandsAndReportsErrorsByExitStatus) {
  using Run = std::pair<int, std::string>;
  EXPECT_EQ(
      Client("-P PORT -c 'configure terminal' -c 'note hello' -c end -c write -c "
             "'show running-config'"),
      Run(0, std::string(kCliUnsavedNotice) + "[OK]\nnote hello\n!\n"));
  EXPECT_EQ(Client("-H 127.0.0.1 -P PORT -c 'show running-config' -c frobnicate"),
            Run(1, "note hello\n!\n% Unknown command\n"));
  EXPECT_EQ(Client("-P PORT -c 'show running-config' -c drop -c 'show running-config'"),
            Run(2, "note hello\n!\npartial\n"))
      << "closed before the commands were done";
  EXPECT_EQ(Client("-P 70000 -c end").first, 2);
  EXPECT_EQ(Client("-P " + std::to_string(FreePortBase()) + " -c end"), Run(2, ""))
      << "unreachable";
  // Standard input not a terminal: plain reading, no prompts echoed.
  EXPECT_EQ(Client("-P PORT", "enable\nconf t\nnote piped\nend\nwrite\nshow running-config\nexit\n"),
            Run(0, "capwap access controller\n" + std::string(kCliUnsavedNotice) +
                       "[OK]\nnote piped\n!\n"));
}

TEST_F(VtyTcp, SessionLimitAndIdleTimeout) {
  std::vector<std::unique_ptr<VtyPeer>> idle;
  for (size_t i = 0; i < cli::kMaxSessions; ++i) {
    idle.push_back(std::make_unique<VtyPeer>(lab_.master(), port_));
    idle.back()->ReadUntilPrompt();
  }
  VtyPeer extra(lab_.master(), port_);
  EXPECT_TRUE(extra.WaitClosed());
  EXPECT_EQ(extra.raw(), "% Too many vty sessions\r\n");
  // Ten minutes by default, counted from the last input.
  VtyPeer& op = *idle.front();
  lab_.RunFor(300);
  EXPECT_EQ(op.Command("enable"), "capwap# ");
  lab_.RunFor(300);
  EXPECT_EQ(Sessions(), 1u);
  EXPECT_TRUE(idle.back()->WaitClosed());
  EXPECT_EQ(idle.back()->raw(), "\r\n% Idle timeout, session closed\r\n");
  // Set in a session: applies to it at once and is written back.
  for (const char* line : {"configure terminal", "line vty", "exec-timeout 1 30", "end"}) {
    op.Command(line);
  }
  EXPECT_EQ(op.Command("write"), "[OK]\ncapwap# ");
  lab_.RunFor(89);
  EXPECT_EQ(Sessions(), 1u);
  lab_.RunFor(1);
  EXPECT_TRUE(op.WaitClosed());
  // A restart replays it for new sessions; 0 0 is never.
  host_vty_init(ctx());
  ASSERT_EQ(host_config_start(ctx(), nullptr, 0), 0);
  EXPECT_EQ(cli_running_config(ctx()), "line vty\n exec-timeout 1 30\n!\n");
  VtyPeer after(lab_.master(), host_vty_port(ctx())), forever(lab_.master(), host_vty_port(ctx()));
  after.ReadUntilPrompt();
  forever.ReadUntilPrompt();
  for (const char* line : {"enable", "configure terminal", "line vty", "exec-timeout 0 0"})
    forever.Command(line);
  lab_.RunFor(90);
  EXPECT_TRUE(after.WaitClosed());
  lab_.RunFor(100000);
  EXPECT_EQ(Sessions(), 1u);
}

}  // namespace
}  // namespace capwap::test
