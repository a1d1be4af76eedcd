#include "config/images.h"

std::array<CW_IMGVENDOR, kImgVendors> g_aucImgDb;

namespace {

constexpr size_t kFieldChars = 31;  // 32-byte fields keep a terminating NUL

std::string Field(std::string_view text) { return std::string(text.substr(0, kFieldChars)); }

CW_IMGVENDOR* VendorEntry(uint32_t vendor_id, bool create) {
  for (auto& entry : g_aucImgDb) {
    if (entry.vendor_id == vendor_id) return &entry;
  }
  if (!create) return nullptr;
  for (auto& entry : g_aucImgDb) {
    if (entry.vendor_id == 0) {
      entry.vendor_id = vendor_id;
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace

int CW_CMD_Set_ApModelVersion(uint32_t vendor_id, std::string_view model,
                              std::string_view version, std::string_view user_file,
                              uint8_t auto_upgrade) {
  if (vendor_id == 0 || model.empty()) return 1;
  CW_IMGVENDOR* entry = VendorEntry(vendor_id, true);
  if (!entry) return 1;
  CW_IMGREC* slot = nullptr;
  for (auto& rec : entry->records) {
    if (rec.model == Field(model)) {
      slot = &rec;
      break;
    }
  }
  for (auto& rec : entry->records) {
    if (slot) break;
    if (rec.model.empty()) slot = &rec;
  }
  if (!slot) return 1;
  slot->model = Field(model);
  slot->version = Field(version);
  slot->name = Field(slot->model + "-" + slot->version);
  slot->user_file = std::string(user_file.substr(0, 127));
  slot->file_name.clear();
  slot->auto_upgrade = auto_upgrade;
  return 0;
}

CW_IMGREC* ImageRecordOf(uint32_t vendor_id, std::string_view model) {
  CW_IMGVENDOR* entry = VendorEntry(vendor_id, false);
  if (!entry) return nullptr;
  for (auto& rec : entry->records) {
    if (!rec.model.empty() && rec.model == Field(model)) return &rec;
  }
  return nullptr;
}

void ImageTableReset() { g_aucImgDb = {}; }
