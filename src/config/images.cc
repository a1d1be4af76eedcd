#include "config/images.h"

std::array<ImageVendor, kImgVendors> g_aucImgDb;

namespace {

constexpr size_t kFieldChars = 31;  // 32-byte fields keep a terminating NUL

std::string Field(std::string_view text) { return std::string(text.substr(0, kFieldChars)); }

ImageVendor* VendorEntry(uint32_t vendor_id, bool create) {
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
  ImageVendor* entry = VendorEntry(vendor_id, true);
  if (!entry) return 1;
  ImageRecord* slot = nullptr;
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

ImageRecord* ImageRecordOf(uint32_t vendor_id, std::string_view model) {
  ImageVendor* entry = VendorEntry(vendor_id, false);
  if (!entry) return nullptr;
  for (auto& rec : entry->records) {
    if (!rec.model.empty() && rec.model == Field(model)) return &rec;
  }
  return nullptr;
}

int DelApModelVersion(uint32_t vendor_id, std::string_view model) {
  ImageRecord* rec = ImageRecordOf(vendor_id, model);
  if (!rec) return 1;
  *rec = ImageRecord{};
  return 0;
}

namespace {
ImageUrl* UrlEntryOf(ImageVendor* entry, std::string_view model) {
  for (auto& url : entry->urls) {
    if (!url.model.empty() && url.model == model) return &url;
  }
  return nullptr;
}
}  // namespace

int SetApUrlImage(uint32_t vendor_id, std::string_view model, std::string_view url,
                          std::string_view md5) {
  if (vendor_id == 0 || model.empty()) return 1;
  ImageVendor* entry = VendorEntry(vendor_id, true);
  if (!entry) return 1;
  ImageUrl* slot = UrlEntryOf(entry, model);
  for (auto& free_slot : entry->urls) {
    if (slot) break;
    if (free_slot.model.empty()) slot = &free_slot;
  }
  if (!slot) return 1;
  *slot = ImageUrl{std::string(model), std::string(url), std::string(md5)};
  return 0;
}

int DelApUrlImage(uint32_t vendor_id, std::string_view model) {
  ImageVendor* entry = VendorEntry(vendor_id, false);
  ImageUrl* slot = entry ? UrlEntryOf(entry, model) : nullptr;
  if (!slot) return 1;
  *slot = ImageUrl{};
  return 0;
}

void ImageTableReset() { g_aucImgDb = {}; }
