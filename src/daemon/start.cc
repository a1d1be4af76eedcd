// Start-up order, the one-second tick, the event loop and the orderly stop.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/ap_persist.h"
#include "config/db_tables.h"
#include "config/ap_group.h"
#include "cli/cli_init.h"
#include "config/model_catalogue.h"
#include "daemon/capwap.h"
#include "daemon/state.h"
#include "diag/debug.h"
#include "export/apm.h"
#include "fsm/handlers.h"
#include "fsm/vendor_handlers.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "platform/identity.h"
#include "platform/lib.h"
#include "platform/nsm.h"
#include "platform/paths.h"
#include "platform/scm.h"
#include "registry/acinfo.h"
#include "config/images.h"
#include "registry/tables.h"
#include "relay/relay.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/sockets.h"

namespace {

constexpr int kProtocolCapwap = 27;
constexpr const char* kPidFile = "/var/run/capwap.pid";

// The daemon's own context; capwapm (debug.h) is its published view.
std::unique_ptr<lib_globals> daemon_context;

const char* ProgramName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void PrintUsage(const char* program) {
  printf(
      "Usage : %s [OPTION...]\nDaemon which manages MSTP \n\n"
      "-d, --daemon       Runs in daemon mode\n"
      "-f, --config_file  Set configuration file name\n"
      "-P, --vty_port     Set vty's port number\n"
      "-v, --version      Print program version\n"
      "-h, --help         Display this help and exit\n\n"
      "Report bugs to %s\n",
      program, " ");
}

void WritePidFile() {
  std::string path = capwap::RootPath(kPidFile);
  capwap::MakeParentDirs(path);
  FILE* fp = fopen(path.c_str(), "w");
  if (!fp) return;
  chmod(path.c_str(), 0644);
  fprintf(fp, "%d\n", static_cast<int>(getpid()));
  fclose(fp);
}

void pal_daemonize() {
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return;
  }
  if (pid > 0) _exit(0);
  if (setsid() < 0) {
    perror("setsid");
    return;
  }
  if (chdir("/") != 0) perror("chdir");
  FILE* in = freopen("/dev/null", "r", stdin);
  FILE* out = freopen("/dev/null", "w", stdout);
  FILE* err = freopen("/dev/null", "w", stderr);
  (void)in;
  (void)out;
  (void)err;
  umask(027);
}

void OpenTables() {
  DBM_Connect();
  for (const auto& [table, name] : kDbTables) DBM_Open(table, name);
}

int NsmV6AddrHook(const nsm_if_address& address) { return capwap_nsm_if_v6addr_add(address); }

}  // namespace

int capwap_parse_options(int argc, char** argv, CapwapOptions* options) {
  static const option kLongOptions[] = {
      {"daemon", no_argument, nullptr, 'd'},
      {"config_file", required_argument, nullptr, 'f'},
      {"help", no_argument, nullptr, 'h'},
      {"vty_port", required_argument, nullptr, 'P'},
      {"version", no_argument, nullptr, 'v'},
      {nullptr, 0, nullptr, 0},
  };
  options->program_name = ProgramName(argv[0]);
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, "df:hP:rv", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'd':
        options->daemon = true;
        break;
      case 'f':
        options->config_file = optarg;
        break;
      case 'P':
        options->vty_port = atoi(optarg);
        break;
      case 'v':
        print_version(options->program_name.c_str());
        return 0;
      case 'h':
        PrintUsage(options->program_name.c_str());
        return 0;
      default:
        fprintf(stderr, "Try `%s --help' for more information.\n",
                options->program_name.c_str());
        return 1;
    }
  }
  return -1;
}

int capwap_main(int argc, char** argv) {
  umask(027);
  CapwapOptions options;
  int status = capwap_parse_options(argc, argv, &options);
  if (status >= 0) return status;
  signal_init();
  capwap_start(options.daemon, options.config_file.c_str(), options.vty_port,
               options.program_name.c_str());
  return 0;
}

int capwap_boot(const CapwapOptions& options, capwap::Clock* clock, uint32_t second_ms) {
  memory_init(kProtocolCapwap);
  daemon_context = lib_start();
  if (!daemon_context) return -1;
  capwapm = daemon_context.get();
  capwapm->protocol = kProtocolCapwap;
  capwapm->flags = 0;
  // In the foreground lines go to standard output; detached, to syslog.
  openzlog(capwapm, "capwap", kProtocolCapwap, options.daemon ? ZLOG_SYSLOG : ZLOG_STDOUT,
           ZLOG_DEBUG);
  capwapm->master = clock ? thread_master_create(*clock, second_ms) : thread_master_create();
  signal_watch(capwapm->master.get());
  OpenTables();
  capwap::DbmFlushOn(capwapm->master.get());
  host_vty_init(capwapm);
  AC_Init();
  capwap_nsm_init(capwapm);
  capwap_cli_init(capwapm);
  if (options.daemon) pal_daemonize();
  WritePidFile();
  host_config_start(capwapm, options.config_file.empty() ? nullptr : options.config_file.c_str(),
                    static_cast<uint16_t>(options.vty_port));
  Register_Monitor(capwapm);
  Register_Scm(capwapm, "ac");
  return 0;
}

void capwap_run() {
  if (!capwapm) return;
  thread fetched;
  while (capwapm && thread_fetch(capwapm->master.get(), &fetched)) thread_call(&fetched);
  DeRegister_Scm();
}

int capwap_start(int daemon, const char* config_file, int vty_port, const char* program_name) {
  CapwapOptions options;
  options.daemon = daemon != 0;
  options.config_file = config_file ? config_file : "";
  options.vty_port = vty_port;
  options.program_name = program_name ? program_name : "capwap";
  if (capwap_boot(options) != 0) return -1;
  capwap_run();
  capwap_stop();
  return 0;
}

void capwap_stop() {
  for (DbTable table : kDbCloseOrder) DBM_Close(table);
  DBM_Disconnect();
  capwap::CloseSockets();
  capwap_reset_state();
  capwapm = nullptr;
  lib_stop(daemon_context);
}

int AC_Init() {
  CW_ApModel_Init();
  if (AC_DataInit() != 0) return 1;
  WMAC_AC_IPC_SetZg(capwapm);
  if (AC_IPCInit() != 0) return 1;
  if (AC_TimerInit() != 0) return 1;
  Capwap_Init_CmdSock();
  if (AC_SockInit() != 0) return 2;
  CwDebug(kDbgEvent, ZLOG_INFO, "MTYP_CAPWAP=%d\n", 609);
  AC_ApVerDbInit(nullptr);
  return 0;
}

int AC_DataInit() {
  g_stCW_AC_GlobalInfo = capwap::AcGlobalInfo{};
  if (CW_AC_WtpTableInit() != 0) return 1;
  CW_CMD_Set_AutoEnable(1);
  CW_CMD_Set_Autoap_PresistentEnable(1);
  ImageTableReset();
  ApGroupReset();
  CW_APGROUP* group = ApGroupCreate(1);
  if (!group) return 1;
  VendorRegistryReset();
  if (RegisterVendorHandlers() != 0) return 1;
  FsmRegisterHandlers();
  if (RegisterIpcHandlers() != 0) return 1;
  RegisterApEventHooks();
  return 0;
}

int AC_TimerTickHandler(thread* t) {
  thread_add_timer(t->master, AC_TimerTickHandler, nullptr, 1);
  ++ul_CW_AC_Time;
  return 0;
}

int AC_TimerInit() {
  ul_CW_AC_Time = 0;
  return thread_add_timer(capwapm->master.get(), AC_TimerTickHandler, nullptr, 1) ? 0 : 1;
}

int capwap_nsm_init(lib_globals* ctx) {
  nsm_client* nc = nsm_client_create(ctx, 0);
  if (!nc) return 0;
  nsm_client_set_version(nc, 1);
  nsm_client_set_protocol(nc, kProtocolCapwap);
  for (int service : {0, 2, 24, 28}) nsm_client_set_service(nc, service);
  ifc_add_hook(nc, NSM_IF_ADDR_ADD, NsmV6AddrHook);
  // VLAN-add error reports are parsed and ignored.
  nsm_client_set_parser(nc, 28, [] { return 0; });
  nsm_client_start(nc);
  return 0;
}
