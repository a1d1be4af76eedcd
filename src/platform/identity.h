// Platform identity and limits, read from a small settings file:
// "/etc/config/vela/platform.conf" (under CAPWAP_ROOT), lines "key = value",
// '#' comments. Keys and defaults:
//   vendor_id        41414         g_uiOid, the platform's vendor identifier
//   vendor_ids       (empty)       further accepted vendor identifiers, comma separated
//   vendor_name      "capwap"      selects the model-catalogue vendor profile
//   base_mac         "0200.0000.0001" style, stored as "xxxx-xxxx-xxxx" text
//   model            "WAC-1000"
//   version          "1.0.0"
//   max_aps          32            get_max_apcnt()
//   service.<name>.start / service.<name>.stop   shell commands run by SCM calls
//   system_commands  "log" | "run" lib_system: only log the command, or run it
#pragma once

#include <cstdint>
#include <string>

extern uint32_t g_uiOid;

struct company_info_t {
  std::string vendor_name;
  std::string base_mac;  // "%02hhx%02hhx-%02hhx%02hhx-%02hhx%02hhx"
  std::string model;
  std::string version;
};
extern company_info_t company_info;

// Loads the settings file (missing file: defaults). Called by lib_start; tests
// call it again after changing CAPWAP_ROOT.
void identity_load();
// Restores the defaults without reading any file.
void identity_reset();
// 1 when the vendor identifier is the platform's or one of vendor_ids.
int vendor_isvalid(uint32_t vendor_id);
uint32_t get_max_apcnt();
// Prints "<program> version <version>" on standard output.
void print_version(const char* program_name);
// A setting by key ("" when absent).
std::string identity_setting(const std::string& key);
