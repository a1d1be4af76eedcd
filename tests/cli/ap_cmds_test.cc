// Every refusal of the AP, AP-group and switch commands, through the CLI on
// a daemon context with the database on disk: the exact message, and not one
// byte changed in the running configuration or in the database.
#include <gtest/gtest.h>

#include "cli/cli_init.h"
#include "config/ap_group.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "daemon/capwap.h"
#include "platform/cli.h"
#include "platform/dbm.h"
#include "registry/tables.h"
#include "support/lab.h"

namespace capwap::test {
namespace {

// Every record of the tables the commands write, in key order.
std::string DatabaseImage() {
  std::string image;
  for (int table : {17, 37, 38, 39, 129, 131}) {
    for (auto key = DBM_GetFirstKey(table); key;
         key = DBM_GetNextKey(table, key->data(), key->size())) {
      auto value = DBM_Fetch(table, key->data(), key->size());
      image += std::to_string(table) + ':' + std::string(key->begin(), key->end()) + '=' +
               std::string(value->begin(), value->end()) + '\n';
    }
  }
  return image;
}

struct Row {
  const char* enter;  // line that enters the node first ("" stays in configuration)
  std::string line;
  const char* message;
};

TEST(ApCommands, EveryRefusalPrintsItsMessageAndChangesNothing) {
  DaemonContext lab;
  host_vty_init(lab.ctx());
  ASSERT_EQ(AC_DataInit(), 0);
  CW_ApModel_Init();
  capwap_cli_init(lab.ctx());
  lib_set_start_complete(true);  // change marks are written from now on
  auto v = vty_new_internal(lab.ctx(), CONFIG_NODE);
  for (const char* line :
       {"wlan ap lab1 model wp-120 apid 1", "mac-address 0200.0000.0a01",
        "lan-ip-address 192.168.10.1/24", "exit", "wlan ap lab2 model ia-210 apid 2",
        "mac-address 0200.0000.0a02", "exit"}) {
    ASSERT_EQ(cli_execute(lab.ctx(), v.get(), line), CLI_SUCCESS) << line << v->out;
  }
  ASSERT_NE(CW_AC_CreateWTP("ia-210", 0xFFFFFFFFu, "auto1", 1), nullptr);
  CW_AC_GetWTPByNAME("lab2")->state = kStateRun;

  const std::string long_name(33, 'n');
  const Row rows[] = {
      {"", "wlan ap " + long_name + " model ia-210",
       "The Ap Name is too long, cannot modify the AP Name\n"},
      {"", "wlan ap new model nosuch",
       "%Failed to create AP, please check ap model, radio count and type.\n"},
      {"", "wlan ap new model ia-210 apid 1",
       "%Illegal input to create AP: duplicate AP name or ID\n"},
      {"", "wlan ap lab1 model ia-210", "The Ap has been created, cannot modify the AP model!\n"},
      {"", "wlan ap lab1 model wp-120 apid 2",
       "The input 'name' and 'ID' belong to different Ap,Can not create Ap!\n"},
      {"", "wlan ap " + long_name, "The Ap Name is too long,cannot modify the AP Name\n"},
      {"", "wlan ap nosuch", "Please specify ap model first.\n"},
      {"", "wlan ap auto1", "the Auto Ap can not be set!\n"},
      {"", "no wlan ap nosuch", "%The AP does not exist.\n"},
      {"", "wlan ap nosuch change-name x", "the nosuch WTP does not exist!\n"},
      {"", "wlan ap lab1 change-name lab2",
       "The input AP name already exist, please change a new one.\n"},
      {"", "wlan ap lab1 change-name " + long_name,
       "The Ap Name is too long,cannot modify the AP Name\n"},
      {"", "wlan auto-ap persistent name nosuch", "the AP nosuch does not exist!\n"},
      {"", "no wlan ap-group 1", "The default AP group can not be deleted!\n"},
      {"", "wlan ap-group 2", "% Unknown command\n"},
      {"", "priority 3", "% Unknown command\n"},
      {"wlan ap lab1", "mac-address 0200.0000.0a02", "The Mac address is in use! \n"},
      {"wlan ap lab1", "mac-address 0200.0000", "% mac 0200.0000 is invalid.\n"},
      {"wlan ap lab1", "mac-address ffff.ffff.ffff", "% mac ffff.ffff.ffff is invalid.\n"},
      {"wlan ap lab1", "retransmit-interval 2",
       "The interval are not allowed to be less than 3 except 0\n"},
      {"wlan ap lab1", "echo-interval 1",
       "The interval are not allowed to be less than 3 except 0\n"},
      {"wlan ap lab1", "echo-interval 256", "% Unknown command\n"},
      {"wlan ap lab1", "description " + std::string(64, 'd'),
       "The ap description is too long, please modify.\n"},
      {"wlan ap lab1", "ip address 10.0.0.2 netmask 255.255.255.255 gateway 10.0.0.1",
       "the netmask is not to be 255.255.255.255!\n"},
      {"wlan ap lab1", "mesh-data-path 5g", "This model wp-120 does not support cellular 5G\n"},
      {"wlan ap lab1", "antenna type external",
       "This model wp-120 does not support internal and external antenna switching\n"},
      {"wlan ap lab1", "lan-port 3 vlan 10", "Error: There are 2 lan ports in Ap lab1.\n"},
      {"wlan ap lab1", "lan-dhcp range 192.168.10.50 192.168.10.20 leasetime 60",
       "Range high should be greater than range low.\n"},
      {"wlan ap lab1", "lan-dhcp range 192.168.9.5 192.168.10.20 leasetime 60",
       "Please check low addr and lan ip address set\n"},
      {"wlan ap lab1", "lan-dhcp range 192.168.10.5 192.168.11.20 leasetime 60",
       "Please check high addr and lan ip address set\n"},
      {"wlan ap lab1", "ac-hostname x", "% Unknown command\n"},
      {"wlan ap lab2", "mac-address 0200.0000.0a09", "AP is Running,can not change Mac address\n"},
      {"wlan ap lab2", "no mac-address", "AP is Running,can not change Mac address\n"},
      {"wlan ap lab2", "lan-port vlan 10", "This model ia-210 does not support lan port\n"},
      {"wlan ap lab2", "lan-port 1 vlan 10",
       "Warning: custorm ap model ia-210 not support lan vlan.\n"},
      {"wlan ap lab2", "lan-dhcp range 10.0.0.1 10.0.0.2 leasetime 60",
       "Please set lan-ip-address first!!\n"},
      {"wlan ap-group 1", "ac-hostname " + long_name, "The ac-hostname is too Long !\n"},
      {"wlan ap-group 1", "lan-dhcp range 10.0.0.1 10.0.0.2 leasetime 60",
       "Please set lan-ip-address first!!\n"},
  };
  const std::string running = cli_running_config(lab.ctx());
  const std::string database = DatabaseImage();
  for (const Row& row : rows) {
    auto session = vty_new_internal(lab.ctx(), CONFIG_NODE);
    if (*row.enter) cli_execute(lab.ctx(), session.get(), row.enter);
    session->out.clear();
    EXPECT_NE(cli_execute(lab.ctx(), session.get(), row.line), CLI_SUCCESS) << row.line;
    EXPECT_EQ(session->out, row.message) << row.line;
    EXPECT_EQ(cli_running_config(lab.ctx()), running) << row.line;
    EXPECT_EQ(DatabaseImage(), database) << row.line;
  }

  // A session's node outlives its AP or group, and then refuses cleanly.
  auto in_ap = vty_new_internal(lab.ctx(), CONFIG_NODE);
  auto in_group = vty_new_internal(lab.ctx(), CONFIG_NODE);
  cli_execute(lab.ctx(), in_ap.get(), "wlan ap lab1");
  cli_execute(lab.ctx(), in_group.get(), "wlan ap-group 1");
  ASSERT_EQ(cli_execute(lab.ctx(), v.get(), "no wlan ap lab1"), CLI_SUCCESS) << v->out;
  ApGroupDelete(1);  // as WMAC may
  in_ap->out.clear();
  in_group->out.clear();
  EXPECT_EQ(cli_execute(lab.ctx(), in_ap.get(), "priority 3"), CLI_WARNING);
  EXPECT_EQ(cli_execute(lab.ctx(), in_group.get(), "ac-hostname x"), CLI_WARNING);
  EXPECT_EQ(in_ap->out + in_group->out, "%The AP does not exist.\n%The AP group does not exist.\n");
}

}  // namespace
}  // namespace capwap::test
