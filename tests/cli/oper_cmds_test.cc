// The operational and virtual-AP-profile commands over the daemon's vty on
// TCP, with a simulated AP in Run: each command, its refusals and what it
// left behind; then the reset of the AP by name.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/cli_init.h"
#include "config/images.h"
#include "config/vap_profile.h"
#include "diag/debug.h"
#include "platform/cli.h"
#include "platform/identity.h"
#include "platform/lib.h"
#include "registry/wtpcb.h"
#include "support/scenario.h"
#include "support/vty_peer.h"
#include "capwap-cli/completion.h"

namespace capwap::test {
namespace {

// The answer to a line, without the prompt that ends it.
std::string Answer(VtyPeer& vty, const std::string& line) {
  std::string text = vty.Command(line);
  size_t end = text.rfind('\n');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

TEST(OperCommands, EachCommandWithItsRefusalsThenAResetByName) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  const size_t ap = lab.AddAp();
  ASSERT_TRUE(lab.Run(ap)) << lab.ap(ap).last_error();
  CW_WTPCB* wtp = lab.Wtpcb(ap);
  ASSERT_NE(wtp, nullptr);
  const std::string model = wtp->model, name = wtp->name;
  std::ofstream(lab.root().Path("/etc/config/vela/userspace/fw-2.1-a.bin")) << "image";
  VtyPeer vty(lab.master(), host_vty_port(capwapm));
  vty.ReadUntilPrompt();

  const std::string md5 = "0123456789ABCDEF0123456789abcdef";
  const std::pair<std::string, std::string> rows[] = {
      {"enable", ""},
      {"clear wlan ap name nosuch", "%The AP does not exist!\n"},
      {"clear wlan ap ap-group 2", "% Unknown command\n"},
      {"wlan upgrade ap name nosuch", "update ap image fail!\n"},
      {"wlan upgrade ap name " + name, "update ap image fail!\n"},  // no image yet
      {"configure terminal", ""},
      {"clear wlan ap all", "% Unknown command\n"},
      {"restore wlan ap name nosuch", "%The AP does not exist!\n"},
      {"wlan ap-image model " + std::string(32, 'm') + " fw-2.1-a.bin auto",
       "the ap model " + std::string(32, 'm') + " too long\n"},
      {"wlan ap-image model " + model + " ../fw-2.1-a.bin auto", "the ap image path invalid\n"},
      {"wlan ap-image model " + model + " none-2.1-a.bin auto", "update the ap image fail!\n"},
      {"wlan ap-image model " + model + " fw-2.1-a.bin manual", ""},
      {"no wlan ap-image model other", "cancel update the ap image fail!\n"},
      {"wlan ap-image model " + model + " url http://i/fw md5 abc",
       "the ap image md5 value must be 32 hexadecimal digits\n"},
      {"wlan ap-image model " + model + " url " + std::string(128, 'u') + " md5 " + md5,
       "the ap image path too long, less than 128\n"},
      {"wlan ap-image model " + model + " url http://i/fw md5 " + md5, ""},
      {"no wlan ap-image model other url", "cancel update the ap image fail!\n"},
      {"network-isolation mode link", "% Unknown command\n"},
      {"wlan virtual-ap-profile 2", "% Unknown command\n"},
      {"no wlan virtual-ap-profile 1", ""},
      {"no wlan virtual-ap-profile 1", "% Error:Cant't find wlan virtual ap profile 1.\n"},
      {"wlan virtual-ap-profile 1", ""},
      {"network-isolation mode link", ""},
      {"network-isolation ac-ip 10.0.0.9", ""},
      {"end", kCliUnsavedNotice},
      {"show wlan virtual-ap-profile 1",
       "wlan virtual-ap-profile 1\n\t controlled-ac ip : 10.0.0.9\n\t isolation mode   : link\n"
       "\t ---------------------------------------------------\n\t AP              STATUS\n"},
      {"wlan upgrade ap name " + name + " url", ""},
  };
  for (const auto& [line, out] : rows) EXPECT_EQ(Answer(vty, line), out) << line;

  const ImageRecord* image = ImageRecordOf(g_uiOid, model);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->name, model + "-2.1");
  EXPECT_EQ(image->user_file, "fw-2.1-a.bin");
  EXPECT_EQ(image->auto_upgrade, 0);
  for (const ImageVendor& entry : g_aucImgDb) {
    if (entry.vendor_id != g_uiOid) continue;
    EXPECT_EQ(entry.urls[0].md5, "0123456789abcdef0123456789abcdef");
  }
  EXPECT_NE(cli_running_config(capwapm).find(
                "wlan virtual-ap-profile 1\n network-isolation ac-ip 10.0.0.9\n"
                " network-isolation mode link\n!\n"),
            std::string::npos);
  EXPECT_EQ(capwap_cli::HelpKeywords(vty.Command("clear wlan ap ?")),
            (std::vector<std::string>{"all", "ap-group", "name"}))
      << "what capwap-cli completes with Tab";

  // Binding in the AP node, kept in the record and written in the AP block.
  auto in_ap = vty_new_internal(capwapm, kApNode);
  in_ap->index = wtp->apid;
  EXPECT_EQ(cli_execute(capwapm, in_ap.get(), "virtual-ap-profile 1"), CLI_SUCCESS);
  EXPECT_EQ(wtp->vap_profile, CAPWAP_VapProfileLookup(1));
  in_ap->out.clear();
  capwap_ap_virtual_write(in_ap.get(), *wtp);
  EXPECT_EQ(in_ap->out, " virtual-ap-profile 1\n");

  lab.RunFor(10);  // the offers and the profile are answered
  EXPECT_EQ(Answer(vty, "clear wlan ap name " + name), "");
  lab.RunFor(5);
  std::optional<DecodedMessage> reset = lab.Received(ap, kMsgResetReq);
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->Count(capwap::elem::kImageIdentifier), 1u);
}

}  // namespace
}  // namespace capwap::test
