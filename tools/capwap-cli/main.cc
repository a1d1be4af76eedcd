// capwap-cli: command shell of the capwap daemon over its vty port.
//
//   capwap-cli [-H host] [-P port] [-c command]...
//
// Without -c it is interactive (line editing, history and Tab completion of
// command words when built with libedit and standard input is a terminal).
// Tab asks the daemon itself: the line so far is sent with "?" and the
// keywords of its answer complete the word at the cursor. With -c it runs "enable" and
// then each command, prints only the commands' output and exits 0, or 1 when
// a command printed a line starting with '%'; 2 when the daemon cannot be
// reached, stops answering, or closes the connection before the commands are
// done (a final "exit" or "quit" may close it).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "completion.h"
#include "vty_client.h"

#ifdef CAPWAP_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace {

constexpr int kReplyTimeoutMs = 30000;
constexpr const char* kDefaultPort = "2627";
constexpr const char* kHistoryFile = ".capwap_cli_history";

struct Options {
  std::string host = "127.0.0.1";
  std::string port = kDefaultPort;
  std::vector<std::string> commands;
};

void Usage(const char* program, FILE* out) {
  fprintf(out,
          "Usage: %s [-H host] [-P port] [-c command]...\n"
          "  -H host     vty address (default 127.0.0.1)\n"
          "  -P port     vty port (default 2627, or CAPWAP_VTY_PORT)\n"
          "  -c command  run the command after \"enable\" and exit; repeatable\n",
          program);
}

bool ValidPort(const char* text) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  return *text && !*end && value > 0 && value <= 65535;
}

// -1 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options* opts) {
  if (const char* env = getenv("CAPWAP_VTY_PORT"); env && *env) {
    if (!ValidPort(env)) {
      fprintf(stderr, "capwap-cli: CAPWAP_VTY_PORT is not a port number: %s\n", env);
      return 2;
    }
    opts->port = env;
  }
  int c;
  while ((c = getopt(argc, argv, "H:P:c:h")) != -1) {
    switch (c) {
      case 'H':
        opts->host = optarg;
        break;
      case 'P':
        if (!ValidPort(optarg)) {
          fprintf(stderr, "capwap-cli: not a port number: %s\n", optarg);
          return 2;
        }
        opts->port = optarg;
        break;
      case 'c':
        opts->commands.emplace_back(optarg);
        break;
      case 'h':
        Usage(argv[0], stdout);
        return 0;
      default:
        Usage(argv[0], stderr);
        return 2;
    }
  }
  if (optind < argc) {
    Usage(argv[0], stderr);
    return 2;
  }
  return -1;
}

bool HasErrorLine(const std::string& output) {
  size_t pos = 0;
  while (pos < output.size()) {
    if (output[pos] == '%') return true;
    size_t nl = output.find('\n', pos);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return false;
}

int Fail(const std::string& what) {
  fprintf(stderr, "capwap-cli: %s\n", what.c_str());
  return 2;
}

// The error message for a connection the daemon closed, with its last '%'
// line when that is how the output ends (a refusal or an idle notice).
std::string ClosedBy(const std::string& output) {
  std::string last;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) last = line;
  }
  return last.starts_with('%') ? "the daemon closed the connection: " + last
                               : "the daemon closed the connection";
}

// True for "exit" or "quit" (or a prefix), which end the session at the top.
bool EndsSession(const std::string& line) {
  std::istringstream words(line);
  std::string word, more;
  words >> word;
  if (word.empty() || (words >> more)) return false;
  return std::string_view("exit").starts_with(word) || std::string_view("quit").starts_with(word);
}

int RunOneShot(capwap_cli::VtyClient& client, const std::vector<std::string>& commands) {
  using Result = capwap_cli::VtyClient::Result;
  std::string output, prompt;
  Result greeting = client.ReadResponse(&output, &prompt, kReplyTimeoutMs);
  if (greeting == Result::kClosed) return Fail(ClosedBy(output));
  if (greeting != Result::kPrompt) return Fail("the daemon did not answer");
  if (!client.SendLine("enable") ||
      client.ReadResponse(&output, &prompt, kReplyTimeoutMs) != Result::kPrompt) {
    return Fail("the daemon did not answer \"enable\"");
  }
  bool failed = false;
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::string& command = commands[i];
    if (!client.SendLine(command)) return Fail("connection lost before \"" + command + "\"");
    Result r = client.ReadResponse(&output, &prompt, kReplyTimeoutMs);
    fwrite(output.data(), 1, output.size(), stdout);
    fflush(stdout);
    failed = failed || HasErrorLine(output);
    if (r == Result::kClosed && i + 1 == commands.size() && EndsSession(command)) break;
    if (r == Result::kClosed) {
      return Fail(ClosedBy(output) + " (during \"" + command + "\", " +
                  std::to_string(commands.size() - i - 1) + " command(s) not run)");
    }
    if (r != Result::kPrompt) return Fail("the daemon did not answer \"" + command + "\"");
  }
  fflush(stdout);
  return failed ? 1 : 0;
}

#ifdef CAPWAP_HAVE_LIBEDIT
// The session Tab asks, and the words of its last answer.
capwap_cli::VtyClient* g_completion_client = nullptr;
std::vector<std::string> g_completion_words;

char* NextCompletion(const char* text, int state) {
  static size_t next = 0;
  if (state == 0) next = 0;
  while (next < g_completion_words.size()) {
    const std::string& word = g_completion_words[next++];
    if (word.starts_with(text)) return strdup(word.c_str());
  }
  return nullptr;
}

char** CompleteFromDaemon(const char* text, int, int) {
  using Result = capwap_cli::VtyClient::Result;
  rl_attempted_completion_over = 1;  // never file names
  g_completion_words.clear();
  std::string output, prompt;
  std::string_view typed(rl_line_buffer, static_cast<size_t>(rl_point));
  if (g_completion_client && g_completion_client->SendLine(capwap_cli::HelpQuery(typed)) &&
      g_completion_client->ReadResponse(&output, &prompt, kReplyTimeoutMs) == Result::kPrompt) {
    g_completion_words = capwap_cli::HelpKeywords(output);
  }
  return rl_completion_matches(text, NextCompletion);
}

std::string HistoryPath() {
  const char* home = getenv("HOME");
  return home && *home ? std::string(home) + "/" + kHistoryFile : std::string();
}
#endif

// Reads one line; false at end of input.
bool ReadLine(const std::string& prompt, bool editing, std::string* line) {
#ifdef CAPWAP_HAVE_LIBEDIT
  if (editing) {
    char* text = readline(prompt.c_str());
    if (!text) return false;
    *line = text;
    free(text);
    if (line->find_first_not_of(" \t") != std::string::npos) add_history(line->c_str());
    return true;
  }
#else
  (void)editing;
#endif
  if (isatty(STDIN_FILENO)) {
    fputs(prompt.c_str(), stdout);
    fflush(stdout);
  }
  return static_cast<bool>(std::getline(std::cin, *line));
}

int RunInteractive(capwap_cli::VtyClient& client) {
  using Result = capwap_cli::VtyClient::Result;
  bool editing = isatty(STDIN_FILENO) != 0;
#ifdef CAPWAP_HAVE_LIBEDIT
  std::string history = HistoryPath();
  if (editing) {
    stifle_history(1000);
    if (!history.empty()) read_history(history.c_str());
    g_completion_client = &client;
    rl_attempted_completion_function = CompleteFromDaemon;
  }
#endif
  std::string output, prompt, line;
  Result r = client.ReadResponse(&output, &prompt, kReplyTimeoutMs);
  fwrite(output.data(), 1, output.size(), stdout);
  fflush(stdout);
  while (r == Result::kPrompt && ReadLine(prompt, editing, &line)) {
    output.clear();
    r = client.SendLine(line) ? client.ReadResponse(&output, &prompt, kReplyTimeoutMs)
                              : Result::kClosed;
    fwrite(output.data(), 1, output.size(), stdout);
    fflush(stdout);
  }
#ifdef CAPWAP_HAVE_LIBEDIT
  if (editing && !history.empty()) write_history(history.c_str());
#endif
  if (r == Result::kTimeout || r == Result::kError) return Fail("the daemon did not answer");
  if (r == Result::kClosed && !EndsSession(line)) return Fail(ClosedBy(output));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opts;
  int status = ParseOptions(argc, argv, &opts);
  if (status >= 0) return status;
  capwap_cli::VtyClient client;
  std::string error;
  if (!client.Connect(opts.host, opts.port, &error)) {
    fprintf(stderr, "capwap-cli: cannot connect to %s port %s: %s\n", opts.host.c_str(),
            opts.port.c_str(), error.c_str());
    return 2;
  }
  if (!opts.commands.empty()) return RunOneShot(client, opts.commands);
  return RunInteractive(client);
}
