// The AP model catalogue: built-in models of the active vendor profile and
// custom models, kept in DBM table 39 "ap_model" under lower-case names.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bytes.h"

inline constexpr size_t kApModelRecordSize = 1220;
inline constexpr size_t kApModelRadioEntrySize = 292;
inline constexpr int kApModelSlots = 64;

struct CW_APMODEL_RADIO {
  uint8_t modes = 0;       // bits: 1 b, 2 a, 4 g, 8 n, 16 ac, 32 ax
  uint8_t max_power = 0;   // dBm
  uint8_t attr_byte = 0;
  uint16_t attr_word = 0;
};

struct CW_APMODEL {
  std::string name;        // lower case, at most 31 characters
  uint8_t radio_count = 0;
  std::array<CW_APMODEL_RADIO, 4> radios{};
  uint32_t vendor_id = 0;
  uint8_t in_use = 0;
  uint8_t capability = 0;  // 1 antenna switching, 2 cellular 5G, 4 LAN ports
  uint8_t lan_ports = 1;
};
enum : uint8_t { CW_MODEL_CAP_ANTENNA = 1, CW_MODEL_CAP_5G = 2, CW_MODEL_CAP_LAN = 4 };

// Record codec (1220 bytes). Decode refuses any other size.
void CW_ApModelEncode(const CW_APMODEL& model, uint8_t out[kApModelRecordSize]);
std::optional<CW_APMODEL> CW_ApModelDecode(capwap::ByteView record);

// Runs the selected vendor profile's initialiser (start-up).
void CW_ApModel_Init();
// Built-in model by name (case-insensitive), or null.
const CW_APMODEL* CW_GetApModelInfo_ByModel(std::string_view name);
bool CW_isSupportAntTypeSW(std::string_view name);
// Valid model for AP creation; writes in_use into the stored record.
bool CW_IsValidModel(std::string_view name, uint8_t in_use);
// 1 when ap_model holds a record under the name.
int CW_AC_IsValidWTPModel(std::string_view name);
// MAC-range admission of the active vendor; 1 compatible.
int CW_AC_CheckAPMac(const std::array<uint8_t, 6>* mac, std::string_view model);
// Firmware rule of Discovery; 1 compatible.
int CW_AC_CheckAPVersion(const char* hw_version, std::string_view model);
// Model interchange rules of Discovery: true when a reported model may join
// a record configured with `configured` (equal, the interchangeable pair, or
// the wildcard model).
bool CW_ModelsCompatible(std::string_view configured, std::string_view reported);
