// Node writer of the firmware image assignments of the daemon's vendor.
#include "cli/cli_init.h"
#include "config/images.h"
#include "platform/cli.h"
#include "platform/identity.h"

int capwap_apver_mode_write(vty* v) {
  const ImageVendor* own = nullptr;
  for (const ImageVendor& entry : g_aucImgDb) {
    if (entry.vendor_id == g_uiOid) {
      own = &entry;
      break;
    }
  }
  if (own) {
    // Images found by the start-up scan carry no file name and need no line.
    for (const ImageRecord& rec : own->records) {
      if (rec.model.empty() || rec.user_file.empty()) continue;
      vty_out(v, "wlan ap-image model %s %s %s\n", rec.model.c_str(), rec.user_file.c_str(),
              rec.auto_upgrade == 1 ? "auto" : "manual");
    }
    vty_out(v, "!\n");
    for (const ImageUrl& url : own->urls) {
      if (url.model.empty() || url.url.empty()) continue;
      vty_out(v, "wlan ap-image model %s url %s md5 %s\n", url.model.c_str(), url.url.c_str(),
              url.md5.c_str());
    }
  }
  vty_out(v, "!\n");
  return 0;
}
