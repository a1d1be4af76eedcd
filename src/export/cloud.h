// Cloud reporting through the local connection manager (CONM): the cloud
// server setting (item 57 for the APs, the agent and gateway files under
// /tmp, the conmgmt and agent services), and AP events published as JSON
// documents on the manager's message bus.
//
// Return convention: 0 success, 1 failure. Publishing to a connection
// manager that is not there (no socket file) is a successful no-op.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

// 1 while the discovered-AP window is open (WMAC type 76).
extern uint8_t g_bCwAutoAptoCloud;

// --- The cloud server setting ---------------------------------------------

inline constexpr uint16_t kCloudDefaultPort = 8883;
inline constexpr size_t kCloudHostMax = 127;  // characters, char[128] field

struct CloudServerSetting {
  std::string host;    // empty: none configured
  uint16_t port = 0;   // 0: none
  uint8_t domain = 0;  // 0 entered as an IPv4 address, 1 as a name
};
extern CloudServerSetting G_cloud_server;

// "169.254.8.2" when the framework flags word has bit value 2, else "127.0.0.1".
std::string CloudDefaultHost();
// "local" or the default local server.
bool CloudHostIsLocal(std::string_view host);

// The item-57 value: host (128 bytes, NUL padded; empty for the local
// server) then the port (host-order u16; 8883 when none is set). 0.
inline constexpr size_t kCloudItemSize = 130;
int agent_cloud_server_get(uint8_t out[kCloudItemSize]);

enum class CloudSetResult {
  kUnchanged,        // the same host and port: nothing done
  kDone,             // set, reconnected, pushed, agent file rewritten
  kReconnectFailed,  // as kDone, but the gateway file could not be written
};
// "cloud server [ip] HOST port PORT": the host must be 1-127 characters.
CloudSetResult CloudServerSet(std::string_view host, uint16_t port, uint8_t domain);
// "no cloud server".
CloudSetResult CloudServerClear();

// At CLI installation: with no host set, starts the cloud application and
// writes the agent file for the default local server.
void agent_cloud_server_init();
// Writes the gateway file. 0 / 1.
int capwap_cloudapp_conf_save();
// Saves the gateway file and starts conmgmt, then agent one second later
// (both stopped instead when the disable marker exists). 0 / 1.
int capwap_scm_cloudapp_start();
// Saves the gateway file and makes the connection manager reconnect (or
// stops the services when the disable marker exists). 1 when the file could
// not be written.
int capwap_scm_cloudapp_reconnect();
// Rewrites the agent file for host and port. 0 / 1.
int AgentWriteSystemConf(const char* host, int port);

// --- The connection manager's messages -----------------------------------

// Registration datagram: service name (64 bytes) then topic (128 bytes),
// each NUL padded; longer texts are refused.
inline constexpr size_t kConmServiceLen = 64;
inline constexpr size_t kConmTopicLen = 128;
inline constexpr size_t kConmRegisterSize = kConmServiceLen + kConmTopicLen;
struct ConmRegistration {
  std::string service;
  std::string topic;
};
std::optional<std::array<uint8_t, kConmRegisterSize>> ConmRegisterEncode(
    const ConmRegistration& reg);
std::optional<ConmRegistration> ConmRegisterDecode(capwap::ByteView datagram);

// Publish message on the stream: topic length (u32), payload length (u32),
// both host order, then the topic and payload bytes without terminators.
inline constexpr size_t kConmPublishHeadSize = 8;
inline constexpr size_t kConmPublishMax = 1024 * 1024;  // largest topic + payload accepted
struct ConmPublication {
  std::string topic;
  std::string payload;
};
capwap::Bytes ConmPublishEncode(std::string_view topic, std::string_view payload);
enum class ConmDecode { kDone, kNeedMore, kBad };
// Takes one message from the front of a stream buffer; *used is its size.
ConmDecode ConmPublishDecode(capwap::ByteView stream, ConmPublication* out, size_t* used);

// The socket paths (absolute defaults; CAPWAP_ROOT is applied when used).
std::string ConmRegisterPath(std::string_view service);
std::string ConmPublishPath(std::string_view service);

// Registers (service, topic) with the connection manager; see cloud.cc. 0 / 1.
int CONM_Register(const char* service, const char* topic);
// Publishes the payload on the topic. 0 / 1.
int CONM_Publish(const char* topic, const char* payload);

// --- Documents --------------------------------------------------------------

// What the documents say about one AP.
struct CloudApFacts {
  std::array<uint8_t, 6> mac{};
  std::string model;           // as stored; translated when printed
  std::optional<uint32_t> ac;  // the AC address it reached (host order); none for IPv6
  bool mesh = false;
  bool virtual_ap = false;
  uint32_t online_seconds = 0;
};
CloudApFacts CloudFactsOf(const CW_WTPCB& wtp, uint32_t online_seconds);

// The display form of a model name.
std::string AC_TranslateMode(std::string_view model);
// Topic "wifiap/update/<MAC>" and its document; nullopt when JSON memory ran out.
std::string CloudUpdateTopic(const std::array<uint8_t, 6>& mac);
std::optional<std::string> CloudUpdateDocument(const CloudApFacts& ap, const char* status);
// "wifiac/discoveredap".
std::optional<std::string> CloudDiscoveredDocument(const std::array<uint8_t, 6>& mac,
                                                   std::string_view model,
                                                   std::optional<uint32_t> source, bool mesh);
// "wifiac/aponlinesync": the running APs in documents of at most 100 entries.
inline constexpr size_t kCloudSyncBatch = 100;
std::vector<std::string> CloudOnlineSyncDocuments(const std::vector<CloudApFacts>& running,
                                                  std::optional<uint32_t> acip);

// Publishes the AP's update document ("online" / "offline"). 0 / 1.
int Report_ApStatus(const char* status, const CW_WTPCB* wtp, uint32_t online_seconds);
// Publishes a discovered AP, each MAC once per discovered-AP window. 0 / 1.
int PubAutoAptoCloud(const WtpBoardData& board, const CW_RCVPKT& rcv, uint16_t workmode);
// A new discovered-AP window: every MAC may be published again.
void CloudDiscoveredWindowOpened();
// Publishes the list of running APs. 0 / 1.
int AC_Report_ALL_AP_Status();
// Hands an AP event to the framework's system log.
void mirta_logger(const uint8_t mac[6], int code, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Setting, registrations, publisher and timers back to start (tests, stop).
void CloudReset();
