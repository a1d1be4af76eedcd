// The firmware image table: 8 vendor entries of 16 image records, filled by
// the start-up scan of the image directory and by the image commands.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr size_t kImgVendors = 8;
inline constexpr size_t kImgRecords = 16;

struct ImageRecord {
  std::string model;      // empty = free record (32-byte field)
  std::string version;    // 32-byte field
  std::string name;       // "%s-%s" of model and version (32-byte field)
  std::string user_file;  // operator-uploaded file name; empty = built-in image
  uint8_t auto_upgrade = 0;
  // The built-in file's own name in the image folder. The image name is only
  // "<model>-<version>" while the file is "<model>-<version>-<anything>".
  std::string file_name;
};

struct ImageUrl {
  std::string model;
  std::string url;
  std::string md5;
};

struct ImageVendor {
  uint32_t vendor_id = 0;  // 0 = free entry
  std::array<ImageRecord, kImgRecords> records{};
  std::array<ImageUrl, kImgRecords> urls{};
};

extern std::array<ImageVendor, kImgVendors> g_aucImgDb;

// Replaces the record of the same model in the vendor's entry or takes the
// first free record; a new vendor takes the first free entry. 0 / 1 (full).
int CW_CMD_Set_ApModelVersion(uint32_t vendor_id, std::string_view model,
                              std::string_view version, std::string_view user_file,
                              uint8_t auto_upgrade);
// Frees the record of the model in the vendor's entry. 0 / 1 (none).
int DelApModelVersion(uint32_t vendor_id, std::string_view model);
// Sets the URL image of the model (replacing the model's entry or taking the
// first free one); the caller has checked the lengths. 0 / 1 (full).
int SetApUrlImage(uint32_t vendor_id, std::string_view model, std::string_view url,
                          std::string_view md5);
// Frees the URL entry of the model. 0 / 1 (none).
int DelApUrlImage(uint32_t vendor_id, std::string_view model);
// The record of a model in the vendor's entry, or null.
ImageRecord* ImageRecordOf(uint32_t vendor_id, std::string_view model);
void ImageTableReset();
