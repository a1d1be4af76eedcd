// Daemon start-up, main loop and shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"

struct lib_globals;
struct thread_master;

struct CapwapOptions {
  bool daemon = false;
  std::string config_file;  // empty: the framework's default file
  int vty_port = 2627;
  std::string program_name = "capwap";
};

// Parses the command line ("df:hP:rv"). Returns -1 to go on, otherwise the
// exit status to leave with (help, version, bad option).
int capwap_parse_options(int argc, char** argv, CapwapOptions* options);
// main: umask, options, signals, start; always exits 0 after the loop.
int capwap_main(int argc, char** argv);
// Brings the daemon up, runs the event loop until it ends (a stop signal, or
// nothing left to wait for), then runs the orderly stop. 0 after the loop, -1
// when the framework context cannot be created.
int capwap_start(int daemon, const char* config_file, int vty_port, const char* program_name);
// Orderly stop, on the loop's thread after the loop ended: closes the tables,
// disconnects the database (flushing it), stops the framework. The PID file
// stays.
void capwap_stop();

// Start-up without the loop (tests embed the daemon this way). With a clock
// the event loop runs on it with the given second length; otherwise on the
// steady clock scaled by CAPWAP_SECOND_MS. 0 / -1.
int capwap_boot(const CapwapOptions& options, capwap::Clock* clock = nullptr,
                uint32_t second_ms = 1000);
// Runs the loop of a booted daemon until it ends.
void capwap_run();

int AC_Init();
int AC_DataInit();
int AC_TimerInit();
int AC_TimerTickHandler(struct thread* t);
// Installs the signal handlers. They only record the signal; the loop acts
// on it once signal_watch has registered the reader.
void signal_init();
// Registers the loop's reader of recorded signals (nothing without
// signal_init). 0 / 1.
int signal_watch(thread_master* loop);
int AC_ApVerDbInit(const char* model);

// A firmware file name split into model and version (64-byte fields).
namespace capwap {
struct ApVersion {
  char model[64];
  char version[64];
};
}  // namespace capwap
int CW_AC_GetApVer(capwap::ApVersion* out, const char* file_name);
int capwap_nsm_init(lib_globals* ctx);
