// The firmware image table: 8 vendor entries of 16 image records, filled by
// the start-up scan of the image directory and by the image commands.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr size_t kImgVendors = 8;
inline constexpr size_t kImgRecords = 16;

struct CW_IMGREC {
  std::string model;      // empty = free record (32-byte field)
  std::string version;    // 32-byte field
  std::string name;       // "%s-%s" of model and version (32-byte field)
  std::string user_file;  // operator-uploaded file name; empty = built-in image
  uint8_t auto_upgrade = 0;
  // The built-in file's own name in the image folder. The image name is only
  // "<model>-<version>" while the file is "<model>-<version>-<anything>".
  std::string file_name;
};

struct CW_IMGURL {
  std::string model;
  std::string url;
  std::string md5;
};

struct CW_IMGVENDOR {
  uint32_t vendor_id = 0;  // 0 = free entry
  std::array<CW_IMGREC, kImgRecords> records{};
  std::array<CW_IMGURL, kImgRecords> urls{};
};

extern std::array<CW_IMGVENDOR, kImgVendors> g_aucImgDb;

// Replaces the record of the same model in the vendor's entry or takes the
// first free record; a new vendor takes the first free entry. 0 / 1 (full).
int CW_CMD_Set_ApModelVersion(uint32_t vendor_id, std::string_view model,
                              std::string_view version, std::string_view user_file,
                              uint8_t auto_upgrade);
// The record of a model in the vendor's entry, or null.
CW_IMGREC* ImageRecordOf(uint32_t vendor_id, std::string_view model);
void ImageTableReset();
