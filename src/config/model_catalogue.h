// The AP model catalogue: built-in models of the active vendor profile and
// custom models, kept in DBM table 39 "ap_model" under lower-case names.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/bytes.h"

inline constexpr size_t kApModelRecordSize = 1220;
inline constexpr size_t kApModelRadioEntrySize = 292;
inline constexpr int kApModelSlots = 64;

struct ApModelRadio {
  uint8_t modes = 0;       // bits: 1 b, 2 a, 4 g, 8 n, 16 ac, 32 ax
  uint8_t max_power = 0;   // dBm
  uint8_t attr_byte = 0;
  uint16_t attr_word = 0;
};

struct CW_APMODEL {
  std::string name;        // lower case, at most 31 characters
  uint8_t radio_count = 0;
  std::array<ApModelRadio, 4> radios{};
  uint32_t vendor_id = 0;
  uint8_t in_use = 0;
  uint8_t capability = 0;  // 1 antenna switching, 2 cellular 5G, 4 LAN ports
  uint8_t lan_ports = 1;
};
enum : uint8_t { kModelCapAntenna = 1, kModelCap5g = 2, kModelCapLan = 4 };

// Record codec (1220 bytes). Decode refuses any other size.
void ApModelEncode(const CW_APMODEL& model, uint8_t out[kApModelRecordSize]);
std::optional<CW_APMODEL> ApModelDecode(capwap::ByteView record);

// Runs the selected vendor profile's initialiser (start-up).
void CW_ApModel_Init();
// Built-in model by name (case-insensitive), or null.
const CW_APMODEL* CW_GetApModelInfo_ByModel(std::string_view name);
bool CW_isSupportAntTypeSW(std::string_view name);
// Valid model for AP creation; writes in_use into the stored record.
bool CW_IsValidModel(std::string_view name, uint8_t in_use);
// Writes the in-use flag into the stored record. 0, or 1 when there is no
// (decodable) record under the name.
int ApModelSetInUse(std::string_view name, uint8_t in_use);
// 1 when ap_model holds a record under the name.
int CW_AC_IsValidWTPModel(std::string_view name);
// MAC-range admission of the active vendor; 1 compatible.
int CW_AC_CheckAPMac(const std::array<uint8_t, 6>* mac, std::string_view model);
// Firmware rule of Discovery; 1 compatible.
int CW_AC_CheckAPVersion(const char* hw_version, std::string_view model);
// Model interchange rules of Discovery: true when a reported model may join
// a record configured with `configured` (equal, the interchangeable pair, or
// the wildcard model).
bool ModelsCompatible(std::string_view configured, std::string_view reported);

// --- Storage in ap_model ---------------------------------------------------

// The DBM key of a name: lower-cased, NUL padded to 32 bytes; none for an
// empty name or one of 32 or more characters (no record can hold it).
std::optional<std::array<uint8_t, 32>> ApModelKey(std::string_view name);
// The stored record (looked up case-insensitively), or none when absent or
// undecodable.
std::optional<CW_APMODEL> ApModelFetch(std::string_view name);
// Stores the whole record under its name. 0 / 1.
int ApModelStore(const CW_APMODEL& model);
// The generic record a standard WTP is admitted under: stored (or widened)
// so that it holds at least the radios the WTP reported, radio r with the
// mode bits of its 802.11 radio type (any mode when the type is 0). 0 / 1.
int EnsureStandardApModel(std::string_view name, std::span<const uint32_t, 4> radio_types);
// Deletes the record; 0 also when it did not exist.
int ApModelDelete(std::string_view name);

// --- Catalogue state ------------------------------------------------------

// Built-in models of the active profile; slots from g_ApModeNum on are zero.
extern std::array<CW_APMODEL, kApModelSlots> g_astCWApdbList;
extern int g_ApModeNum;
// Clears the in-memory catalogue (tests; DBM is left alone).
void ApModelReset();

// --- Vendor profiles ------------------------------------------------------

// One compact built-in entry. lan_ports 0 or 1 mean one port; radios beyond
// radio_count are ignored.
struct ModelCompact {
  const char* name;  // lower case, fewer than 32 characters, keyword syntax
  uint8_t radio_count;
  uint8_t capability;
  struct Radio {
    uint8_t modes;
    uint8_t max_power;
    uint8_t attr_byte;
    uint16_t attr_word;
  } radios[4];
  uint8_t lan_ports;
};

// One MAC admission row: APs of `vendor` must carry `oui` and lower 24 bits
// of their MAC within one of the first `range_count` ranges (bounds included).
struct ApAdmission {
  const char* vendor;
  std::array<uint8_t, 3> oui;
  uint32_t range_count;
  std::array<std::array<uint32_t, 2>, 3> ranges;  // {low, high}
};

// Model names a profile gives special treatment; null when the profile has
// no such row.
struct ModelRules {
  const char* interchange_configured = nullptr;  // a record configured with this model
  const char* interchange_reported = nullptr;    // ... admits an AP reporting this one
  const char* wildcard = nullptr;        // a record configured with it admits any model
  const char* version_rule = nullptr;    // hardware version must begin A, B, C, D or T
  std::array<const char*, 2> mac_exempt{};  // never subject to the MAC admission check
};

struct VendorProfile {
  const char* name;  // compared case-insensitively with company_info.vendor_name
  void (*init)();    // the profile's initialiser
  std::span<const ModelCompact> models;
  std::span<const ApAdmission> admission;
  ModelRules rules;
};

// The named profiles in selection order, and the default.
std::span<const VendorProfile> NamedVendorProfiles();
const VendorProfile& DefaultVendorProfile();
// The profile a vendor name selects (first case-insensitive match, else the
// default), and the one selected by company_info.vendor_name.
const VendorProfile& SelectVendorProfile(std::string_view vendor_name);
const VendorProfile& ActiveVendorProfile();
// Special rows of the active profile.
const ModelRules& ActiveModelRules();
// Test hook: makes `vendor_name` the platform vendor name and rebuilds the
// catalogue from the profile it selects.
void SelectModelVendor(std::string_view vendor_name);

void CW_ApModel_Default_Init();
// Fills g_astCWApdbList from a compact table and stores every entry in
// ap_model with in-use 0 (the body of every profile initialiser).
void ApModelLoadCompact(std::span<const ModelCompact> table);
