// Start-up scan of the firmware image directory.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon/capwap.h"
#include "diag/debug.h"
#include "platform/identity.h"
#include "platform/paths.h"
#include "config/images.h"

namespace {
constexpr const char* kImageDir = "/usr/sbin/apimage";
constexpr size_t kMaxNameChars = 127;
constexpr size_t kMaxTokens = 64;
}  // namespace

int CW_AC_GetApVer(capwap::ApVersion* out, const char* file_name) {
  std::memset(out, 0, sizeof *out);
  std::string name(file_name ? file_name : "");
  name.resize(std::min(name.size(), kMaxNameChars));
  std::vector<std::string> tokens;
  size_t pos = 0;
  while (pos <= name.size() && tokens.size() < kMaxTokens) {
    size_t dash = name.find('-', pos);
    std::string token = name.substr(pos, dash == std::string::npos ? std::string::npos : dash - pos);
    if (!token.empty()) tokens.push_back(token);
    if (dash == std::string::npos) break;
    pos = dash + 1;
  }
  // A single token has no second-to-last token: a name without version.
  if (tokens.size() < 2) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to get AP firmware version.\n");
    return 1;
  }
  std::string model;
  for (size_t i = 0; i + 2 < tokens.size(); ++i) {
    if (i) model += "-";
    model += tokens[i];
  }
  const std::string& version = tokens[tokens.size() - 2];
  std::strncpy(out->model, model.c_str(), sizeof out->model - 1);
  std::strncpy(out->version, version.c_str(), sizeof out->version - 1);
  return 0;
}

int AC_ApVerDbInit(const char* model) {
  std::string dir_path = capwap::RootPath(kImageDir);
  DIR* dir = opendir(dir_path.c_str());
  if (!dir) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to create AP database.\n");
    return 1;
  }
  while (dirent* entry = readdir(dir)) {
    struct stat st;
    std::string path = dir_path + "/" + entry->d_name;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    capwap::ApVersion ver;
    if (CW_AC_GetApVer(&ver, entry->d_name) != 0) continue;
    if (model && std::strcmp(model, ver.model) != 0) continue;
    if (CW_CMD_Set_ApModelVersion(g_uiOid, ver.model, ver.version, "", 0) != 0) continue;
    if (ImageRecord* image = ImageRecordOf(g_uiOid, ver.model)) image->file_name = entry->d_name;
  }
  closedir(dir);
  return 0;
}
