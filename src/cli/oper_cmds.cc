// Operational commands that act on running APs without changing their
// configuration: reset and factory restore, firmware upgrade, and the
// assignment of firmware files and URLs to models.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "cli/cli_init.h"
#include "config/images.h"
#include "config/model_catalogue.h"
#include "daemon/capwap.h"
#include "diag/debug.h"
#include "fsm/reset.h"
#include "platform/cli.h"
#include "platform/identity.h"
#include "platform/paths.h"
#include "registry/tables.h"
#include "relay/cfg_update.h"

namespace {

// Uploaded images are served from here (the download reads the same place).
constexpr const char* kUserImageDir = "/etc/config/vela/userspace";
constexpr size_t kImagePathField = 64;  // the control block's image path, with its NUL
constexpr size_t kModelMax = 31;        // 32-byte model fields
constexpr size_t kUrlMax = 127;
constexpr size_t kMd5Digits = 32;

int Print(vty* v, const char* message) {
  vty_out(v, "%s", message);
  return CLI_WARNING;
}

// --- Reset and restore ------------------------------------------------------

int ResetAps(vty* v, const CliArgs& args, bool restore) {
  std::string selector = args.Has("name") ? "name" : args.Has("ap-group") ? "ap-group" : "all";
  std::string argument = selector == "name" ? args.Str("name") : args.Str("group");
  if (CW_CMD_ResetAp(selector, argument, restore) != 0) return Print(v, "%The AP does not exist!\n");
  return CLI_SUCCESS;
}

int ClearAp(vty* v, const CliArgs& args) { return ResetAps(v, args, false); }
int RestoreAp(vty* v, const CliArgs& args) { return ResetAps(v, args, true); }

// --- Upgrade ----------------------------------------------------------------

// Offers the model's image (file or URL) to a running AP. A URL image the AP
// fetches itself. For a file image the AP answers with Image Data Requests
// naming the image, and the image download exchange serves the file and
// ends the session.
int OfferImage(CW_WTPCB* wtp, bool url) {
  return url ? CW_AC_Send_ApUpdUrlimg(wtp) : CW_AC_Send_ApUpdImg(wtp);
}

int UpgradeAp(vty* v, const CliArgs& args) {
  bool url = args.Has("url");
  if (args.Has("name")) {
    CW_WTPCB* wtp = CW_AC_GetWTPByNAME(args.Str("name"));
    if (!wtp || wtp->state != kStateRun || OfferImage(wtp, url) != 0) {
      return Print(v, "update ap image fail!\n");
    }
    return CLI_SUCCESS;
  }
  std::string model = args.Str("model");
  for (CW_WTPCB* wtp : ListOwners<CW_WTPCB>(g_pstAC_WTPDBTableById)) {
    if (wtp->state == kStateRun && wtp->model == model) OfferImage(wtp, url);
  }
  return CLI_SUCCESS;
}

// --- Image assignment -------------------------------------------------------

bool PlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         std::string(kUserImageDir).size() + 1 + name.size() < kImagePathField;
}

int SetImage(vty* v, const CliArgs& args) {
  std::string model = args.Str("model");
  std::string file = args.Str("file");
  if (model.size() > kModelMax) {
    vty_out(v, "the ap model %s too long\n", model.c_str());
    return CLI_WARNING;
  }
  if (!PlainFileName(file)) return Print(v, "the ap image path invalid\n");
  std::string path = capwap::RootPath(kUserImageDir) + "/" + file;
  capwap::ApVersion ver;
  bool ok = true;
  if (access(path.c_str(), R_OK) != 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, "ImgFile Is not exist\n");
    ok = false;
  } else if (CW_AC_GetApVer(&ver, file.c_str()) != 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, "CW_AC_GetApVer Fail\n");
    ok = false;
  }
  // The image name "<model>-<version>" must fit its 32-byte field whole:
  // cut, two images could look alike.
  std::string version = ok ? ver.version : "";
  ok = ok && model.size() + 1 + version.size() <= kModelMax &&
       CW_CMD_Set_ApModelVersion(g_uiOid, model, version, file,
                                 args.Str("mode").starts_with('a') ? 1 : 0) == 0;
  return ok ? CLI_SUCCESS : Print(v, "update the ap image fail!\n");
}

int RemoveImage(vty* v, const CliArgs& args) {
  std::string model = args.Str("model");
  if (model.size() > kModelMax) return Print(v, "the ap model invalid\n");
  if (DelApModelVersion(g_uiOid, model) != 0) {
    return Print(v, "cancel update the ap image fail!\n");
  }
  return CLI_SUCCESS;
}

int SetUrlImage(vty* v, const CliArgs& args) {
  std::string model = args.Str("model");
  std::string url = args.Str("url");
  std::string md5 = args.Str("md5");
  if (model.size() > kModelMax) return Print(v, "the ap model invalid\n");
  if (url.size() > kUrlMax) return Print(v, "the ap image path too long, less than 128\n");
  if (md5.size() > kUrlMax) return Print(v, "the ap image md5 value too long, less than 128\n");
  // The AP is sent a 33-byte MD5 field: only a whole digest fits.
  if (md5.size() != kMd5Digits ||
      !std::all_of(md5.begin(), md5.end(), [](unsigned char c) { return std::isxdigit(c); })) {
    return Print(v, "the ap image md5 value must be 32 hexadecimal digits\n");
  }
  std::transform(md5.begin(), md5.end(), md5.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (SetApUrlImage(g_uiOid, model, url, md5) != 0) {
    return Print(v, "update the ap image fail!\n");
  }
  return CLI_SUCCESS;
}

int RemoveUrlImage(vty* v, const CliArgs& args) {
  std::string model = args.Str("model");
  if (model.size() > kModelMax) return Print(v, "the ap model invalid\n");
  if (DelApUrlImage(g_uiOid, model) != 0) {
    return Print(v, "cancel update the ap image fail!\n");
  }
  return CLI_SUCCESS;
}

// --- Table ------------------------------------------------------------------

using Help = std::vector<std::string>;

Help operator+(Help a, const Help& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "(WORD | m1 | m2 ...)" with the active profile's models, and its help.
struct ModelChoice {
  std::string grammar = "(WORD";
  Help help = {"Model name"};
};

ModelChoice Models() {
  ModelChoice choice;
  for (const ModelCompact& model : ActiveVendorProfile().models) {
    choice.grammar += std::string(" | ") + model.name;
    choice.help.push_back(std::string("Model ") + model.name);
  }
  choice.grammar += ")";
  return choice;
}

}  // namespace

std::span<const CliCommand> capwap_oper_commands() {
  static std::vector<CliCommand> table;
  const ModelChoice m = Models();
  const Help wlan_ap = {"Wireless LAN", "Access points"};
  const Help select = {"One AP by name", "AP name", "APs of a group", "Group number", "All APs"};
  const Help image = {"Wireless LAN", "Firmware image of a model", "By model"};
  table = {
      {EXEC_NODE, "clear wlan ap (name WORD|ap-group<1-1>|all)",
       Help{"Reset functions"} + wlan_ap + select, {"name", "group"}, ClearAp},
      {CONFIG_NODE, "restore wlan ap (name WORD|ap-group<1-1>|all)",
       Help{"Restore factory settings"} + wlan_ap + select, {"name", "group"}, RestoreAp},
      {EXEC_NODE, "wlan upgrade ap (name WORD|model " + m.grammar + ") (url|)",
       Help{"Wireless LAN", "Upgrade firmware", "Access points", "One AP by name", "AP name",
            "APs of a model"} +
           m.help + Help{"From the model's URL image"},
       {"name", "model", "url"}, UpgradeAp},
      {CONFIG_NODE, "wlan ap-image model " + m.grammar + " WORD (auto|manual)",
       image + m.help +
           Help{"Image file name (uploaded)", "Upgrade joining APs", "Upgrade on command"},
       {"model", "file", "mode"}, SetImage},
      {CONFIG_NODE, "no wlan ap-image model " + m.grammar, Help{"Negate a command"} + image + m.help,
       {"model"}, RemoveImage},
      {CONFIG_NODE, "wlan ap-image model " + m.grammar + " url WORD md5 WORD",
       image + m.help + Help{"Image on a server", "URL", "Digest of the image", "MD5 (hex)"},
       {"model", "url", "md5"}, SetUrlImage},
      {CONFIG_NODE, "no wlan ap-image model " + m.grammar + " url",
       Help{"Negate a command"} + image + m.help + Help{"Image on a server"}, {"model"},
       RemoveUrlImage},
  };
  return table;
}
