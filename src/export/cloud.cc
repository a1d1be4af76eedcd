// Cloud reporting. Documents are built with cJSON and printed unformatted;
// every publication is one message on the connection manager's stream
// socket, sent through the IPC layer (queued, never waited for).
#include "export/cloud.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/scm.h"
#include "platform/timer.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::HostWriter;

uint8_t g_bCwAutoAptoCloud = 0;
CloudServerSetting G_cloud_server;

namespace {

constexpr const char* kAgentFile = "/tmp/agent.system";
constexpr const char* kGatewayFile = "/tmp/mqtt.gateway.cfg";
constexpr const char* kDisableMarker = "/etc/config/vela/userspace/.disable_agent";
constexpr const char* kRegisterBase = "/tmp/conm_lib_addr";
constexpr const char* kPublishBase = "/tmp/conm_mqtts_addr";
constexpr const char* kServiceConm = "conmgmt";
constexpr const char* kServiceAgent = "agent";
constexpr size_t kConmPairs = 64;
// A registration datagram the manager cannot take at once is tried this
// many times in a row and then given up (logged): the loop never spins.
constexpr int kRegisterAttempts = 3;

struct CloudState {
  std::string publisher;  // the first service name ever registered
  int publish_fd = -1;    // cached connection of the IPC layer
  std::vector<ConmRegistration> pairs;
  std::set<std::array<uint8_t, 6>> discovered;  // published in this window
  capwap::Timer agent_timer;
};

CloudState& State() {
  static CloudState state;
  return state;
}

bool FileExists(const char* abs_path) {
  struct stat st;
  return stat(capwap::RootPath(abs_path).c_str(), &st) == 0;
}

bool AgentDisabled() { return FileExists(kDisableMarker); }

// Writes the whole text to the file under CAPWAP_ROOT. False when it could
// not be opened or written.
bool WriteTextFile(const char* abs_path, const std::string& text) {
  const std::string path = capwap::RootPath(abs_path);
  capwap::MakeParentDirs(path);
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  const bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && written;
}

std::string Dotted(uint32_t host_order) {
  char buf[INET_ADDRSTRLEN] = {};
  const uint32_t net = htonl(host_order);
  inet_ntop(AF_INET, &net, buf, sizeof buf);
  return buf;
}

std::string MacUpper(const std::array<uint8_t, 6>& mac) {
  char text[18];
  snprintf(text, sizeof text, "%02hhX:%02hhX:%02hhX:%02hhX:%02hhX:%02hhX", mac[0], mac[1],
           mac[2], mac[3], mac[4], mac[5]);
  return text;
}

// The service whose sockets carry a name: "tav" and "kbus" share "qrx".
std::string SocketService(std::string_view service) {
  return service == "tav" || service == "kbus" ? "qrx" : std::string(service);
}

// --- cJSON ownership -------------------------------------------------------

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

JsonPtr NewObject() {
  if (capwap::ShouldFail(capwap::FailFamily::kJsonAlloc)) return nullptr;
  return JsonPtr(cJSON_CreateObject());
}

JsonPtr NewArray() {
  if (capwap::ShouldFail(capwap::FailFamily::kJsonAlloc)) return nullptr;
  return JsonPtr(cJSON_CreateArray());
}

std::optional<std::string> Print(const cJSON* doc) {
  char* text = cJSON_PrintUnformatted(doc);
  if (!text) return std::nullopt;
  std::string out(text);
  cJSON_free(text);
  return out;
}

// Adds the members of one AP shared by the update document (with the AC
// address) and the sync entries (without).
bool AddApMembers(cJSON* obj, const CloudApFacts& ap, const char* status,
                  const std::string* acip) {
  return cJSON_AddStringToObject(obj, "model", AC_TranslateMode(ap.model).c_str()) &&
         cJSON_AddStringToObject(obj, "capwapstatus", status) &&
         cJSON_AddNumberToObject(obj, "capwaponlinetime", ap.online_seconds) &&
         (!acip || cJSON_AddStringToObject(obj, "acip", acip->c_str())) &&
         cJSON_AddNumberToObject(obj, "isvirtualap", ap.virtual_ap ? 1 : 0) &&
         cJSON_AddStringToObject(obj, "workmode", ap.mesh ? "mesh" : "fit");
}

std::string AcText(std::optional<uint32_t> ac) { return ac ? Dotted(*ac) : std::string(); }

int AgentStartTimer(thread*) {
  SCM_ServiceStart(kServiceAgent, 0);
  return 0;
}

void StopServices() {
  SCM_ServiceStop(kServiceConm, 0);
  SCM_ServiceStop(kServiceAgent, 0);
}

// Reconnects, pushes item 57 to every running AP, rewrites the agent file.
CloudSetResult Apply(const std::string& agent_host, int agent_port) {
  const bool reconnected = capwap_scm_cloudapp_reconnect() == 0;
  std::array<uint8_t, kCloudItemSize> item{};
  agent_cloud_server_get(item.data());
  CW_AP_ALL_CmdSet(kItemCloudServer, CwCfgItem(item));
  AgentWriteSystemConf(agent_host.c_str(), agent_port);
  return reconnected ? CloudSetResult::kDone : CloudSetResult::kReconnectFailed;
}

}  // namespace

// --- Setting ------------------------------------------------------------------

std::string CloudDefaultHost() {
  return capwapm && (capwapm->flags & 2) ? "169.254.8.2" : "127.0.0.1";
}

bool CloudHostIsLocal(std::string_view host) {
  return host == "local" || host == CloudDefaultHost();
}

int agent_cloud_server_get(uint8_t out[kCloudItemSize]) {
  HostWriter w(out, kCloudItemSize);
  const CloudServerSetting& s = G_cloud_server;
  if (s.host.empty() || CloudHostIsLocal(s.host)) {
    w.zeros(128);                   // @0, 128: host
    w.u16(kCloudDefaultPort);       // @128
  } else {
    w.fixed_str(s.host, 128);       // @0, 128: host (at most 127 characters)
    w.u16(s.port ? s.port : kCloudDefaultPort);  // @128
  }
  return 0;
}

CloudSetResult CloudServerSet(std::string_view host, uint16_t port, uint8_t domain) {
  CloudServerSetting& s = G_cloud_server;
  if (s.host == host && s.port == port) return CloudSetResult::kUnchanged;
  s.host.assign(host.substr(0, kCloudHostMax));
  s.port = port;
  s.domain = domain;
  return Apply(s.host, s.port);
}

CloudSetResult CloudServerClear() {
  if (AgentDisabled()) StopServices();
  CloudServerSetting& s = G_cloud_server;
  if (s.host.empty()) return CloudSetResult::kUnchanged;
  s = CloudServerSetting{};
  return Apply(CloudDefaultHost(), kCloudDefaultPort);
}

void agent_cloud_server_init() {
  if (!G_cloud_server.host.empty()) return;
  G_cloud_server = CloudServerSetting{};
  capwap_scm_cloudapp_start();
  AgentWriteSystemConf(CloudDefaultHost().c_str(), kCloudDefaultPort);
}

int capwap_cloudapp_conf_save() {
  const CloudServerSetting& s = G_cloud_server;
  // "local" names the local server, which the gateway knows by its address.
  const bool configured = !s.host.empty() && s.port != 0 && s.host != "local";
  const std::string host = configured ? s.host : CloudDefaultHost();
  const int port = configured ? s.port : kCloudDefaultPort;
  const std::string text =
      "mqserver=" + host + "\nmqport=" + std::to_string(port) + "\nmqca=1\n";
  if (!WriteTextFile(kGatewayFile, text)) {
    CwDebug(kDbgError, ZLOG_ERR, " Cannot write %s.\n", kGatewayFile);
    return 1;
  }
  return 0;
}

int capwap_scm_cloudapp_start() {
  const int saved = capwap_cloudapp_conf_save();
  if (AgentDisabled()) {
    StopServices();
    return saved;
  }
  SCM_ServiceStart(kServiceConm, 0);
  thread_master* master = capwapm && capwapm->master ? capwapm->master.get() : nullptr;
  if (master && !State().agent_timer.Start(master, 1, AgentStartTimer, nullptr)) {
    CwDebug(kDbgError, ZLOG_ERR, " The agent service start could not be scheduled.\n");
    return 1;
  }
  return saved;
}

int capwap_scm_cloudapp_reconnect() {
  if (capwap_cloudapp_conf_save() != 0) return 1;
  if (AgentDisabled()) {
    StopServices();
    return 0;
  }
  CONM_Register("gateway", "reconnect");
  return 0;
}

int AgentWriteSystemConf(const char* host, int port) {
  std::array<uint8_t, 6> id{};
  // A base MAC that is not in its "xxxx-xxxx-xxxx" form gives a zero ID.
  if (sscanf(company_info.base_mac.c_str(), "%02hhx%02hhx-%02hhx%02hhx-%02hhx%02hhx", &id[0],
             &id[1], &id[2], &id[3], &id[4], &id[5]) != 6) {
    id.fill(0);
  }
  char text[512];
  snprintf(text, sizeof text,
           "[system]\n"
           "    systemid = %s\n"
           "    systemmodel = %s\n"
           "    cloudhost = %s\n"
           "    cloudport = %d\n"
           "    systemversion = %s\n",
           MacUpper(id).c_str(), company_info.model.c_str(), host ? host : "", port,
           company_info.version.c_str());
  if (!WriteTextFile(kAgentFile, text)) {
    CwDebug(kDbgError, ZLOG_ERR, " Cannot write %s.\n", kAgentFile);
    return 1;
  }
  return 0;
}

// --- Connection manager ---------------------------------------------------------

std::optional<std::array<uint8_t, kConmRegisterSize>> ConmRegisterEncode(
    const ConmRegistration& reg) {
  if (reg.service.size() >= kConmServiceLen || reg.topic.size() >= kConmTopicLen) {
    return std::nullopt;
  }
  std::array<uint8_t, kConmRegisterSize> out{};
  HostWriter w(out.data(), out.size());
  w.fixed_str(reg.service, kConmServiceLen);  // @0, 64
  w.fixed_str(reg.topic, kConmTopicLen);      // @64, 128
  return out;
}

std::optional<ConmRegistration> ConmRegisterDecode(ByteView datagram) {
  if (datagram.size() != kConmRegisterSize) return std::nullopt;
  auto text = [&](size_t offset, size_t cap) {
    ByteView field = datagram.subspan(offset, cap);
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return std::string(field.begin(), end);
  };
  return ConmRegistration{text(0, kConmServiceLen), text(kConmServiceLen, kConmTopicLen)};
}

Bytes ConmPublishEncode(std::string_view topic, std::string_view payload) {
  Bytes out(kConmPublishHeadSize + topic.size() + payload.size());
  HostWriter w(out.data(), out.size());
  w.u32(static_cast<uint32_t>(topic.size()));    // @0
  w.u32(static_cast<uint32_t>(payload.size()));  // @4
  w.bytes(topic.data(), topic.size());           // @8
  w.bytes(payload.data(), payload.size());
  return out;
}

ConmDecode ConmPublishDecode(ByteView stream, ConmPublication* out, size_t* used) {
  HostReader r(stream);
  uint32_t topic_len = 0;
  uint32_t payload_len = 0;
  if (!r.u32(topic_len) || !r.u32(payload_len)) return ConmDecode::kNeedMore;
  // Compared one by one, so the sum cannot wrap.
  if (topic_len > kConmPublishMax || payload_len > kConmPublishMax - topic_len) {
    return ConmDecode::kBad;
  }
  ByteView topic;
  ByteView payload;
  if (!r.view(topic_len, topic) || !r.view(payload_len, payload)) return ConmDecode::kNeedMore;
  out->topic.assign(topic.begin(), topic.end());
  out->payload.assign(payload.begin(), payload.end());
  *used = kConmPublishHeadSize + topic_len + payload_len;
  return ConmDecode::kDone;
}

std::string ConmRegisterPath(std::string_view service) {
  return std::string(kRegisterBase) + "." + SocketService(service);
}

std::string ConmPublishPath(std::string_view service) {
  return std::string(kPublishBase) + "." + SocketService(service);
}

int CONM_Register(const char* service, const char* topic) {
  if (!service || !*service || !topic || !*topic) return 1;
  CloudState& st = State();
  if (st.publisher.empty()) st.publisher = service;
  const ConmRegistration reg{service, topic};
  const bool reconnect = reg.topic == "reconnect";
  if (!reconnect) {
    // The table only remembers pairs: the result is failure in every case.
    const bool known = std::any_of(st.pairs.begin(), st.pairs.end(), [&](const auto& p) {
      return p.service == reg.service && p.topic == reg.topic;
    });
    if (known || st.pairs.size() >= kConmPairs) return 1;
    st.pairs.push_back(reg);
  }
  const auto datagram = ConmRegisterEncode(reg);
  if (!datagram) return 1;
  const std::string path = ConmRegisterPath(reg.service);
  if (!FileExists(path.c_str())) return reconnect ? 0 : 1;
  int attempt = 0;
  while (IPC_SocketSend(capwapm, path.c_str(), datagram->data(), datagram->size()) < 0) {
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || ++attempt >= kRegisterAttempts) {
      CwDebug(kDbgError, ZLOG_ERR, " Registration %s/%s not taken by the connection manager.\n",
              reg.service.c_str(), reg.topic.c_str());
      break;
    }
  }
  return reconnect ? 0 : 1;
}

int CONM_Publish(const char* topic, const char* payload) {
  if (!topic || !payload || !capwapm) return 1;
  CloudState& st = State();
  const std::string path = ConmPublishPath(st.publisher.empty() ? "gateway" : st.publisher);
  if (!FileExists(path.c_str())) return 0;
  Bytes message;
  try {
    message = ConmPublishEncode(topic, payload);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return IPC_TcpSocketSend(capwapm, &st.publish_fd, path.c_str(), message.data(),
                           message.size()) < 0
             ? 1
             : 0;
}

// --- Documents ----------------------------------------------------------------

std::string AC_TranslateMode(std::string_view model) {
  // Two catalogue names shown under the names the cloud knows them by: the
  // second hardware revision of the ia-220, and the wildcard model.
  static constexpr std::pair<std::string_view, std::string_view> kRows[] = {
      {"ia-220r", "ia-220"},
      {"generic-ap", "generic"},
  };
  for (const auto& [name, display] : kRows) {
    if (model == name) return std::string(display);
  }
  return std::string(model);
}

CloudApFacts CloudFactsOf(const CW_WTPCB& wtp, uint32_t online_seconds) {
  CloudApFacts f;
  f.mac = wtp.mac;
  f.model = wtp.model;
  if (wtp.local.family == 0) f.ac = wtp.local.Ipv4();
  f.mesh = (wtp.capability & 2) != 0;
  f.virtual_ap = wtp.master_status == 0;
  f.online_seconds = online_seconds;
  return f;
}

std::string CloudUpdateTopic(const std::array<uint8_t, 6>& mac) {
  return "wifiap/update/" + MacUpper(mac);
}

std::optional<std::string> CloudUpdateDocument(const CloudApFacts& ap, const char* status) {
  JsonPtr doc = NewObject();
  const std::string acip = AcText(ap.ac);
  if (!doc || !AddApMembers(doc.get(), ap, status, &acip)) return std::nullopt;
  return Print(doc.get());
}

std::optional<std::string> CloudDiscoveredDocument(const std::array<uint8_t, 6>& mac,
                                                   std::string_view model,
                                                   std::optional<uint32_t> source, bool mesh) {
  JsonPtr doc = NewObject();
  JsonPtr data = NewArray();
  JsonPtr entry = NewObject();
  if (!doc || !data || !entry) return std::nullopt;
  std::string display = AC_TranslateMode(model);
  for (char& c : display) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!cJSON_AddStringToObject(entry.get(), "mac", MacUpper(mac).c_str()) ||
      !cJSON_AddStringToObject(entry.get(), "model", display.c_str()) ||
      !cJSON_AddStringToObject(entry.get(), "ipaddr", AcText(source).c_str()) ||
      !cJSON_AddStringToObject(entry.get(), "workmode", mesh ? "mesh" : "fit") ||
      !cJSON_AddStringToObject(doc.get(), "cmd", "discoveredap")) {
    return std::nullopt;
  }
  cJSON_AddItemToArray(data.get(), entry.release());
  cJSON_AddItemToObject(doc.get(), "data", data.release());
  return Print(doc.get());
}

std::vector<std::string> CloudOnlineSyncDocuments(const std::vector<CloudApFacts>& running,
                                                  std::optional<uint32_t> acip) {
  std::vector<std::string> docs;
  JsonPtr doc = NewObject();
  if (!doc || !cJSON_AddStringToObject(doc.get(), "acip", acip ? Dotted(*acip).c_str() : "")) {
    return docs;
  }
  size_t i = 0;
  while (i < running.size()) {
    JsonPtr data = NewArray();
    if (!data) return docs;
    for (size_t n = 0; n < kCloudSyncBatch && i < running.size(); ++n, ++i) {
      JsonPtr entry = NewObject();
      if (!entry || !cJSON_AddStringToObject(entry.get(), "mac", MacUpper(running[i].mac).c_str()) ||
          !AddApMembers(entry.get(), running[i], "online", nullptr)) {
        return docs;
      }
      cJSON_AddItemToArray(data.get(), entry.release());
    }
    cJSON_AddItemToObject(doc.get(), "data", data.release());
    if (auto text = Print(doc.get())) docs.push_back(std::move(*text));
    cJSON_DeleteItemFromObject(doc.get(), "data");
  }
  return docs;
}

int Report_ApStatus(const char* status, const CW_WTPCB* wtp, uint32_t online_seconds) {
  if (!wtp || !status) return 1;
  CwDebug(kDbgEvent, ZLOG_DEBUG, " Cloud report of AP %s: %s after %u seconds.\n",
          wtp->name.c_str(), status, online_seconds);
  auto doc = CloudUpdateDocument(CloudFactsOf(*wtp, online_seconds), status);
  if (!doc) return 1;
  return CONM_Publish(CloudUpdateTopic(wtp->mac).c_str(), doc->c_str());
}

int PubAutoAptoCloud(const WtpBoardData& board, const CW_RCVPKT& rcv, uint16_t workmode) {
  // One publication per MAC and window: a flood of requests from one AP (or
  // spoofed for it) costs one document.
  if (!State().discovered.insert(board.base_mac).second) return 0;
  // The model field need not hold a NUL when full.
  const auto end = std::find(board.model.begin(), board.model.end(), '\0');
  const std::string model(board.model.begin(), end);
  std::optional<uint32_t> source;
  if (rcv.remote.family == 0) source = rcv.remote.Ipv4();
  auto doc = CloudDiscoveredDocument(board.base_mac, model, source, (workmode & 2) != 0);
  if (!doc) return 1;
  return CONM_Publish("wifiac/discoveredap", doc->c_str());
}

void CloudDiscoveredWindowOpened() { State().discovered.clear(); }

int AC_Report_ALL_AP_Status() {
  std::vector<CloudApFacts> running;
  std::optional<uint32_t> acip;
  bool first = true;
  for (uint32_t apid = 1; apid <= kMaxApId; ++apid) {
    const CW_WTPCB* wtp = CW_AC_GetWTPByID(apid);
    if (!wtp) continue;
    if (first) {
      // The first AP of the table gives the AC address, "0.0.0.0" when it
      // has none; empty when it reached the AC over IPv6.
      if (wtp->local.family == 0) acip = wtp->local.Ipv4();
      first = false;
    }
    if (wtp->state == kStateRun) {
      running.push_back(CloudFactsOf(*wtp, ul_CW_AC_Time - wtp->online_tick));
    }
  }
  int failed = 0;
  for (const std::string& doc : CloudOnlineSyncDocuments(running, acip)) {
    failed |= CONM_Publish("wifiac/aponlinesync", doc.c_str());
  }
  return failed;
}

void mirta_logger(const uint8_t mac[6], int code, const char* fmt, ...) {
  char subject[32];
  snprintf(subject, sizeof subject, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
           mac[3], mac[4], mac[5]);
  char message[2048];
  va_list args;
  va_start(args, fmt);
  vsnprintf(message, sizeof message, fmt, args);
  va_end(args);
  zlog_sys(capwapm, code, ZLOG_INFO, subject, "%s", message);
}

void CloudReset() {
  CloudState& st = State();
  if (st.publish_fd >= 0 && capwapm) IPC_TcpSocketClose(capwapm, &st.publish_fd);
  st.publish_fd = -1;
  st.publisher.clear();
  st.pairs.clear();
  st.discovered.clear();
  st.agent_timer.Cancel();
  G_cloud_server = CloudServerSetting{};
  g_bCwAutoAptoCloud = 0;
}
