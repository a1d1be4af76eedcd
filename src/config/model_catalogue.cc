// The AP model catalogue: the CW_APMODEL record codec, the in-memory built-in
// table and the look-ups used by Discovery, Join and the AP commands.
#include "config/model_catalogue.h"

#include <algorithm>
#include <cctype>

#include "config/db_tables.h"
#include "diag/debug.h"
#include "platform/dbm.h"
#include "platform/identity.h"

std::array<CW_APMODEL, kApModelSlots> g_astCWApdbList;
int g_ApModeNum = 0;

namespace {

constexpr size_t kNameField = 32;
constexpr size_t kRadiosAt = 36;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool EqualsNoCase(const char* a, std::string_view b) { return a && EqualsNoCase(std::string_view(a), b); }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A slot as the catalogue leaves unused slots: every byte zero.
CW_APMODEL ZeroModel() {
  CW_APMODEL model;
  model.lan_ports = 0;
  return model;
}

void EncodeRadio(capwap::HostWriter& w, const ApModelRadio& radio) {
  w.u8(radio.modes);       // +0
  w.zeros(6);              // +1
  w.u8(radio.max_power);   // +7
  w.zeros(281);            // +8
  w.u8(radio.attr_byte);   // +289
  w.u16(radio.attr_word);  // +290
}

void DecodeRadio(capwap::HostReader& r, ApModelRadio& radio) {
  r.u8(radio.modes);
  r.skip(6);
  r.u8(radio.max_power);
  r.skip(281);
  r.u8(radio.attr_byte);
  r.u16(radio.attr_word);
}

}  // namespace

void ApModelEncode(const CW_APMODEL& model, uint8_t out[kApModelRecordSize]) {
  capwap::HostWriter w(out, kApModelRecordSize);
  // The name keeps at least one NUL so the key reads back as a string.
  w.fixed_str(std::string_view(model.name).substr(0, kNameField - 1), kNameField);  // @0
  w.u8(model.radio_count);                                                          // @32
  w.zeros(3);                                                                       // @33
  for (const ApModelRadio& radio : model.radios) EncodeRadio(w, radio);         // @36
  w.zeros(8);                                                                       // @1204
  w.u32(model.vendor_id);                                                           // @1212
  w.u8(model.in_use);                                                               // @1216
  w.u8(model.capability);                                                           // @1217
  w.u8(model.lan_ports);                                                            // @1218
  w.u8(0);                                                                          // @1219
}

std::optional<CW_APMODEL> ApModelDecode(capwap::ByteView record) {
  if (record.size() != kApModelRecordSize) return std::nullopt;
  capwap::HostReader r(record);
  char name[kNameField];
  CW_APMODEL model;
  r.bytes(name, sizeof name);
  r.u8(model.radio_count);
  r.skip(3);
  for (ApModelRadio& radio : model.radios) DecodeRadio(r, radio);
  r.skip(8);
  r.u32(model.vendor_id);
  r.u8(model.in_use);
  r.u8(model.capability);
  r.u8(model.lan_ports);
  r.skip(1);
  if (!r.done()) return std::nullopt;
  size_t len = 0;
  while (len < sizeof name && name[len]) ++len;
  if (len == sizeof name || model.radio_count > model.radios.size()) return std::nullopt;
  model.name.assign(name, len);
  return model;
}

std::optional<std::array<uint8_t, 32>> ApModelKey(std::string_view name) {
  if (name.empty() || name.size() >= kNameField) return std::nullopt;
  std::array<uint8_t, 32> key{};
  std::string lower = Lower(name);
  capwap::HostWriter w(key.data(), key.size());
  w.fixed_str(lower, key.size());
  return key;
}

std::optional<CW_APMODEL> ApModelFetch(std::string_view name) {
  auto key = ApModelKey(name);
  if (!key) return std::nullopt;
  auto value = DBM_Fetch(kDbApModel, key->data(), key->size());
  if (!value) return std::nullopt;
  auto model = ApModelDecode(*value);
  if (!model) {
    CwDebug(kDbgError, ZLOG_ERR, " Stored AP model %.*s is damaged (%zu bytes), ignored.\n",
            static_cast<int>(name.size()), name.data(), value->size());
  }
  return model;
}

int ApModelStore(const CW_APMODEL& model) {
  auto key = ApModelKey(model.name);
  if (!key) return 1;
  uint8_t record[kApModelRecordSize];
  ApModelEncode(model, record);
  if (DBM_Store(kDbApModel, key->data(), key->size(), record, sizeof record) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to store AP model %s.\n", model.name.c_str());
    return 1;
  }
  return 0;
}

int EnsureStandardApModel(std::string_view name, std::span<const uint32_t, 4> radio_types) {
  // 802.11 radio type bits (b 1, a 2, g 4, n 8) are the model's mode bits.
  constexpr uint8_t kAnyMode = 0x0F;
  constexpr uint8_t kStandardMaxPower = 20;
  CW_APMODEL model = ApModelFetch(name).value_or(CW_APMODEL{});
  const CW_APMODEL before = model;
  model.name = std::string(name);
  for (size_t r = 0; r < radio_types.size(); ++r) {
    if (radio_types[r] == 0 && r >= model.radio_count) continue;
    ApModelRadio& radio = model.radios[r];
    radio.modes |= static_cast<uint8_t>(radio_types[r] & 0x3F);
    if (radio.modes == 0) radio.modes = kAnyMode;
    if (radio.max_power == 0) radio.max_power = kStandardMaxPower;
    model.radio_count = std::max<uint8_t>(model.radio_count, static_cast<uint8_t>(r + 1));
  }
  if (model.radio_count == 0) {
    model.radio_count = 1;
    model.radios[0] = {kAnyMode, kStandardMaxPower, 0, 0};
  }
  bool same = before.name == model.name && before.radio_count == model.radio_count;
  for (size_t r = 0; same && r < model.radios.size(); ++r) {
    same = before.radios[r].modes == model.radios[r].modes;
  }
  return same ? 0 : ApModelStore(model);
}

int ApModelDelete(std::string_view name) {
  auto key = ApModelKey(name);
  if (!key) return 1;
  return DBM_Delete(kDbApModel, key->data(), key->size()) == 0 ? 0 : 1;
}

void ApModelReset() {
  g_astCWApdbList.fill(ZeroModel());
  g_ApModeNum = 0;
}

void ApModelLoadCompact(std::span<const ModelCompact> table) {
  ApModelReset();
  for (size_t i = 0; i < table.size() && i < g_astCWApdbList.size(); ++i) {
    const ModelCompact& entry = table[i];
    CW_APMODEL& slot = g_astCWApdbList[i];
    slot.name = entry.name;
    slot.radio_count = entry.radio_count;
    slot.capability = entry.capability;
    slot.lan_ports = entry.lan_ports >= 2 ? entry.lan_ports : 1;
    for (size_t r = 0; r < entry.radio_count && r < slot.radios.size(); ++r) {
      slot.radios[r] = {entry.radios[r].modes, entry.radios[r].max_power,
                        entry.radios[r].attr_byte, entry.radios[r].attr_word};
    }
    ApModelStore(slot);
    g_ApModeNum = static_cast<int>(i) + 1;
  }
}

void CW_ApModel_Init() {
  ActiveVendorProfile().init();
  // No AP exists before the configuration replay, which sets the flag again
  // for every model it creates an AP of; a custom model kept in the database
  // must not stay locked by an AP that was never saved.
  for (auto key = DBM_GetFirstKey(kDbApModel); key;
       key = DBM_GetNextKey(kDbApModel, key->data(), key->size())) {
    auto value = DBM_Fetch(kDbApModel, key->data(), key->size());
    auto model = value ? ApModelDecode(*value) : std::nullopt;
    if (model && model->in_use) {
      model->in_use = 0;
      ApModelStore(*model);
    }
  }
}

void SelectModelVendor(std::string_view vendor_name) {
  company_info.vendor_name = std::string(vendor_name);
  CW_ApModel_Init();
}

const VendorProfile& SelectVendorProfile(std::string_view vendor_name) {
  for (const VendorProfile& profile : NamedVendorProfiles()) {
    if (EqualsNoCase(profile.name, vendor_name)) return profile;
  }
  return DefaultVendorProfile();
}

const VendorProfile& ActiveVendorProfile() {
  return SelectVendorProfile(company_info.vendor_name);
}

const CW_APMODEL* CW_GetApModelInfo_ByModel(std::string_view name) {
  // An empty name would otherwise match the first unused slot.
  if (name.empty()) return nullptr;
  for (const CW_APMODEL& slot : g_astCWApdbList) {
    if (EqualsNoCase(slot.name, name)) return &slot;
  }
  return nullptr;
}

bool CW_isSupportAntTypeSW(std::string_view name) {
  const CW_APMODEL* model = CW_GetApModelInfo_ByModel(name);
  return model && (model->capability & kModelCapAntenna);
}

bool CW_IsValidModel(std::string_view name, uint8_t in_use) {
  auto model = ApModelFetch(name);
  if (!model || model->radio_count == 0) return false;
  for (size_t r = 0; r < model->radio_count; ++r) {
    if (model->radios[r].modes == 0) return false;
  }
  model->in_use = in_use;
  ApModelStore(*model);
  return true;
}

int ApModelSetInUse(std::string_view name, uint8_t in_use) {
  auto model = ApModelFetch(name);
  if (!model) return 1;
  if (model->in_use != in_use) {
    model->in_use = in_use;
    ApModelStore(*model);
  }
  return 0;
}

int CW_AC_IsValidWTPModel(std::string_view name) {
  auto key = ApModelKey(name);
  return key && DBM_Fetch(kDbApModel, key->data(), key->size()) ? 1 : 0;
}

int CW_AC_CheckAPMac(const std::array<uint8_t, 6>* mac, std::string_view model) {
  if (!mac) return 0;
  const VendorProfile& profile = ActiveVendorProfile();
  for (const char* exempt : profile.rules.mac_exempt) {
    if (EqualsNoCase(exempt, model)) return 1;
  }
  const ApAdmission* row = nullptr;
  for (const ApAdmission& candidate : profile.admission) {
    if (EqualsNoCase(candidate.vendor, company_info.vendor_name)) {
      row = &candidate;
      break;
    }
  }
  if (!row) return 1;
  const std::array<uint8_t, 6>& m = *mac;
  if (m[0] != row->oui[0] || m[1] != row->oui[1] || m[2] != row->oui[2]) return 0;
  uint32_t low24 = (uint32_t{m[3]} << 16) | (uint32_t{m[4]} << 8) | m[5];
  for (uint32_t i = 0; i < row->range_count && i < row->ranges.size(); ++i) {
    if (low24 >= row->ranges[i][0] && low24 <= row->ranges[i][1]) return 1;
  }
  return 0;
}

int CW_AC_CheckAPVersion(const char* hw_version, std::string_view model) {
  if (!EqualsNoCase(ActiveVendorProfile().rules.version_rule, model)) return 1;
  if (!hw_version) return 0;
  switch (hw_version[0]) {
    case 'A': case 'B': case 'C': case 'D': case 'T':
      return 1;
    default:
      return 0;
  }
}

bool ModelsCompatible(std::string_view configured, std::string_view reported) {
  if (configured == reported) return true;
  const ModelRules& rules = ActiveVendorProfile().rules;
  if (rules.interchange_configured && rules.interchange_reported &&
      configured == rules.interchange_configured && reported == rules.interchange_reported) {
    return true;
  }
  return rules.wildcard && configured == rules.wildcard;
}

const ModelRules& ActiveModelRules() { return ActiveVendorProfile().rules; }
