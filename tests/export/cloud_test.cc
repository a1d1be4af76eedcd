// Cloud reporting: the connection manager's two messages byte for byte, the
// three JSON documents field by field, the online list in batches of 100,
// and the cloud server commands with what each leaves behind (item 57, the
// agent and gateway files, the registration, the running configuration).
#include <gtest/gtest.h>
#include <cjson/cJSON.h>

#include <fstream>
#include <sstream>

#include "cli/cli_init.h"
#include "daemon/capwap.h"
#include "export/cloud.h"
#include "platform/cli.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "side-sim/side_sim.h"
#include "support/file_text.h"
#include "support/lab.h"

namespace capwap::test {
namespace {

const std::array<uint8_t, 6> kMac = {0x00, 0x0c, 0x29, 0xab, 0xcd, 0xef};

TEST(CloudRecords, ConmMessagesByteForByteAndHostileFraming) {
  const auto reg = ConmRegisterEncode({"gateway", "reconnect"});
  ASSERT_TRUE(reg);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reg->data())), "gateway");       // @0
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reg->data() + 64)), "reconnect");  // @64
  EXPECT_EQ(std::count(reg->begin(), reg->end(), 0), 192 - 7 - 9);
  EXPECT_EQ(ConmRegisterDecode(*reg)->topic, "reconnect");
  EXPECT_FALSE(ConmRegisterDecode(ByteView(*reg).first(191)));
  EXPECT_FALSE(ConmRegisterEncode({std::string(64, 's'), "t"})) << "no room for the NUL";

  const Bytes msg = ConmPublishEncode("t/1", "{}");
  const Bytes expected = {3, 0, 0, 0, 2, 0, 0, 0, 't', '/', '1', '{', '}'};
  EXPECT_EQ(msg, expected);
  ConmPublication out;
  size_t used = 0;
  for (size_t n = 0; n < msg.size(); ++n) {
    EXPECT_EQ(ConmPublishDecode(ByteView(msg).first(n), &out, &used), ConmDecode::kNeedMore) << n;
  }
  Bytes two = msg;
  two.insert(two.end(), msg.begin(), msg.end());
  ASSERT_EQ(ConmPublishDecode(two, &out, &used), ConmDecode::kDone);
  EXPECT_EQ(used, msg.size());
  EXPECT_EQ(out.topic + out.payload, "t/1{}");
  for (auto [topic_len, payload_len] : {std::pair{0xFFFFFFFFu, 0u}, {0u, 0xFFFFFFFFu},
                                        {uint32_t{kConmPublishMax}, 1u}}) {
    Bytes head(8);
    HostWriter w(head.data(), head.size());
    w.u32(topic_len);
    w.u32(payload_len);
    EXPECT_EQ(ConmPublishDecode(head, &out, &used), ConmDecode::kBad) << topic_len;
  }
}

TEST(CloudRecords, DocumentsCarryTheirFieldsInOrderAndTheOnlineListComesInHundreds) {
  CloudApFacts online;
  online.mac = kMac;
  online.model = "ia-220r";  // shown under its display name
  online.ac = 0xC0A80101;
  CloudApFacts offline = online;
  offline.model = "ia-310";
  offline.ac.reset();  // reached over IPv6
  offline.mesh = true;
  offline.virtual_ap = true;
  offline.online_seconds = 3600;
  CloudApFacts no_ac = online;
  no_ac.ac = 0;

  struct Row {
    std::optional<std::string> doc;
    const char* expected;
  };
  const Row rows[] = {
      {CloudUpdateDocument(online, "online"),
       R"({"model":"ia-220","capwapstatus":"online","capwaponlinetime":0,"acip":"192.168.1.1",)"
       R"("isvirtualap":0,"workmode":"fit"})"},
      {CloudUpdateDocument(offline, "offline"),
       R"({"model":"ia-310","capwapstatus":"offline","capwaponlinetime":3600,"acip":"",)"
       R"("isvirtualap":1,"workmode":"mesh"})"},
      {CloudUpdateDocument(no_ac, "online"),
       R"({"model":"ia-220","capwapstatus":"online","capwaponlinetime":0,"acip":"0.0.0.0",)"
       R"("isvirtualap":0,"workmode":"fit"})"},
      {CloudDiscoveredDocument(kMac, "ia-220r", 0x0A000007, false),
       R"({"cmd":"discoveredap","data":[{"mac":"00:0C:29:AB:CD:EF","model":"IA-220",)"
       R"("ipaddr":"10.0.0.7","workmode":"fit"}]})"},
      {CloudDiscoveredDocument(kMac, "wp-120", std::nullopt, true),
       R"({"cmd":"discoveredap","data":[{"mac":"00:0C:29:AB:CD:EF","model":"WP-120",)"
       R"("ipaddr":"","workmode":"mesh"}]})"},
      {CloudOnlineSyncDocuments({offline}, 0x0A000001).at(0),
       R"({"acip":"10.0.0.1","data":[{"mac":"00:0C:29:AB:CD:EF","model":"ia-310",)"
       R"("capwapstatus":"online","capwaponlinetime":3600,"isvirtualap":1,"workmode":"mesh"}]})"},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(row.doc) << row.expected;
    EXPECT_EQ(*row.doc, row.expected);
  }
  EXPECT_EQ(CloudUpdateTopic(kMac), "wifiap/update/00:0C:29:AB:CD:EF");
  FailNext(FailFamily::kJsonAlloc, 1);
  EXPECT_FALSE(CloudUpdateDocument(online, "online")) << "an allocation failure abandons it";
  ResetFailInjection();

  // The online list goes in batches of 100.
  std::vector<CloudApFacts> running(250);
  const auto docs = CloudOnlineSyncDocuments(running, 0x0A000001);
  ASSERT_EQ(docs.size(), 3u);
  for (size_t i = 0; i < docs.size(); ++i) {
    cJSON* doc = cJSON_Parse(docs[i].c_str());
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(cJSON_GetObjectItem(doc, "acip")->valuestring, "10.0.0.1");
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(doc, "data")), i < 2 ? 100 : 50);
    cJSON_Delete(doc);
  }
  EXPECT_TRUE(CloudOnlineSyncDocuments({}, 0x0A000001).empty());
}

// Each command, then the item-57 value the APs get, the agent file's cloud
// lines, the registrations the connection manager saw and the writer lines.
TEST(CloudCommands, EachSettingLeavesItsItemFilesAndLines) {
  DaemonContext lab;
  host_vty_init(lab.ctx());
  ASSERT_EQ(AC_DataInit(), 0);
  sim::ConmSim conm(lab.master(), "gateway");
  ASSERT_EQ(conm.Start(), 0);
  capwap_cli_init(lab.ctx());  // starts the cloud application for the local server
  EXPECT_EQ(FileText(RootPath("/tmp/mqtt.gateway.cfg")), "mqserver=127.0.0.1\nmqport=8883\nmqca=1\n");
  EXPECT_NE(FileText(RootPath("/tmp/agent.system")).find("[system]\n    systemid = "), std::string::npos);
  auto v = vty_new_internal(lab.ctx(), CONFIG_NODE);

  struct Row {
    const char* line;
    const char* item_host;
    uint16_t item_port;
    const char* agent;  // the agent file's host and port lines
    size_t registrations;
    const char* written;
  };
  const Row rows[] = {
      {"cloud server ip 10.9.8.7 port 1883", "10.9.8.7", 1883,
       "    cloudhost = 10.9.8.7\n    cloudport = 1883\n", 1,
       "cloud server ip 10.9.8.7 port 1883\n!\n"},
      {"cloud server ip 10.9.8.7 port 1883", "10.9.8.7", 1883,
       "    cloudhost = 10.9.8.7\n    cloudport = 1883\n", 1,  // the same: nothing done
       "cloud server ip 10.9.8.7 port 1883\n!\n"},
      {"cloud server ip 127.0.0.1 port 8883", "", 8883,
       "    cloudhost = 127.0.0.1\n    cloudport = 8883\n", 2, ""},
      {"cloud server local port 1234", "", 8883, "    cloudhost = local\n    cloudport = 1234\n",
       3, ""},
      {"cloud server cloud.example.net port 8884", "cloud.example.net", 8884,
       "    cloudhost = cloud.example.net\n    cloudport = 8884\n", 4,
       "cloud server cloud.example.net port 8884\n!\n"},
      {"no cloud server", "", 8883, "    cloudhost = 127.0.0.1\n    cloudport = 8883\n", 5, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ASSERT_EQ(cli_execute(lab.ctx(), v.get(), row.line), CLI_SUCCESS) << v->out;
    lab.Settle();
    std::array<uint8_t, kCloudItemSize> item{};
    agent_cloud_server_get(item.data());
    EXPECT_STREQ(reinterpret_cast<const char*>(item.data()), row.item_host);
    uint16_t port = 0;
    std::memcpy(&port, item.data() + 128, 2);
    EXPECT_EQ(port, row.item_port);
    EXPECT_NE(FileText(RootPath("/tmp/agent.system")).find(row.agent), std::string::npos)
        << FileText(RootPath("/tmp/agent.system"));
    ASSERT_EQ(conm.registrations().size(), row.registrations);
    EXPECT_EQ(conm.registrations().back().topic, "reconnect");
    auto writer = vty_new_internal(lab.ctx(), CONFIG_NODE);
    agent_cloud_server_config_write(writer.get());
    EXPECT_EQ(writer->out, row.written);
  }
  EXPECT_EQ(FileText(RootPath("/tmp/mqtt.gateway.cfg")), "mqserver=127.0.0.1\nmqport=8883\nmqca=1\n");

  // With the disable marker, "no cloud server" stops both services even
  // when no server is set.
  const std::string marker = RootPath("/etc/config/vela/userspace/.disable_agent");
  MakeParentDirs(marker);
  std::ofstream(marker).put('\n');
  LogCapture log;
  ASSERT_EQ(cli_execute(lab.ctx(), v.get(), "no cloud server"), CLI_SUCCESS);
  EXPECT_TRUE(log.Contains("SCM: stop service conmgmt")) << log.text();
  EXPECT_TRUE(log.Contains("SCM: stop service agent")) << log.text();
  conm.Stop();
}

}  // namespace
}  // namespace capwap::test
