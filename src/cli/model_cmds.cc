// Custom AP models: "wlan ap-model", "no wlan ap-model", the AP-model node's
// sub-commands, and the node writer that prints the custom models back.
//
// The node's context is the model record fetched when the node was entered.
// Every sub-command fetches the stored record again (a deleted or in-use
// model is refused), applies its change to that fresh copy, stores it and
// keeps it as the new context, so two sessions editing one model never undo
// each other's changes.
#include <cctype>
#include <climits>
#include <string>

#include "cli/cli_init.h"
#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/cli.h"
#include "platform/dbm.h"

namespace {

constexpr const char* kMsgTooLong = "The APModel is too long . \n";
constexpr const char* kMsgAllocFailed = "Failed to allocate AP model memory.\n";
constexpr const char* kMsgBuiltIn = "The input AP Model is not Custom-ap, please check ApModel.\n";
constexpr const char* kMsgNotExist = "The input AP Model is not exist, please check ApModel.\n";
constexpr const char* kMsgUsedNoDelete = "The input AP Model is used, can not be delete .\n";
constexpr const char* kMsgNotCreated =
    "The ApModel has not been created, please first create apModel!\n";
constexpr const char* kMsgNotCreatedVendor =
    "The ApModel has  t been created, please first create apModel!\n";
constexpr const char* kMsgUsedNoChange = "The input Ap Model is used, please first delete Ap.\n";

struct ModeKeyword {
  const char* keyword;
  uint8_t modes;
};
constexpr ModeKeyword kModeKeywords[] = {
    {"11a", 2},   {"11b", 1},   {"11g", 4},    {"11an", 10},  {"11gn", 12},
    {"11bgn", 13}, {"11ac", 26}, {"11axg", 45}, {"11axa", 58},
};

enum : uint8_t { kModeB = 1, kModeA = 2, kModeG = 4, kModeN = 8, kModeAc = 16, kModeAx = 32 };

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The keyword a mode byte is written back as, or null for no line.
const char* ModeKeywordOf(uint8_t modes) {
  bool b = modes & kModeB, a = modes & kModeA, g = modes & kModeG, n = modes & kModeN;
  if (modes & kModeAx) return a ? "11axa" : g ? "11axg" : nullptr;
  if (a) return (modes & kModeAc) ? "11ac" : n ? "11an" : "11a";
  if (g && n && b) return "11bgn";
  if (g && n) return "11gn";
  if (g) return "11g";
  if (b) return "11b";
  return nullptr;
}

int Refuse(vty* v, const char* message) {
  vty_out(v, "%s", message);
  return CLI_WARNING;
}

// The stored record of the node's model when it may still be changed; else
// prints the refusal and returns none.
std::optional<CW_APMODEL> EditableModel(vty* v, const char* missing_message) {
  const auto* context = std::any_cast<CW_APMODEL>(&v->index);
  std::optional<CW_APMODEL> stored;
  if (context) stored = ApModelFetch(context->name);
  if (!stored) {
    vty_out(v, "%s", missing_message);
    return std::nullopt;
  }
  if (stored->in_use) {
    vty_out(v, "%s", kMsgUsedNoChange);
    return std::nullopt;
  }
  return stored;
}

// Stores the changed record and makes it the node's context. A failed store
// is logged and leaves the context as it was.
int Commit(vty* v, const CW_APMODEL& model) {
  if (ApModelStore(model) == 0) v->index = model;
  return CLI_SUCCESS;
}

int ApModelEnter(vty* v, const CliArgs& args) {
  std::string name = args.Str("model");
  if (name.size() >= 32) return Refuse(v, kMsgTooLong);
  name = Lower(name);
  if (CW_GetApModelInfo_ByModel(name)) return Refuse(v, kMsgBuiltIn);
  std::optional<CW_APMODEL> model = ApModelFetch(name);
  if (!model) {
    CW_APMODEL fresh;
    fresh.name = name;
    fresh.lan_ports = 0;
    if (ApModelStore(fresh) != 0) return Refuse(v, kMsgAllocFailed);
    model = std::move(fresh);
  }
  v->index = std::move(*model);
  v->node = kApModelNode;
  return CLI_SUCCESS;
}

int NoApModel(vty* v, const CliArgs& args) {
  std::string name = Lower(args.Str("model"));
  auto key = ApModelKey(name);
  auto stored = key ? DBM_Fetch(kDbApModel, key->data(), key->size()) : std::nullopt;
  if (!stored) return Refuse(v, kMsgNotExist);
  // A damaged record cannot be in use by anything; it may be removed.
  auto model = ApModelDecode(*stored);
  if (model && model->in_use) return Refuse(v, kMsgUsedNoDelete);
  ApModelDelete(name);
  return CLI_SUCCESS;
}

int RadioCount(vty* v, const CliArgs& args) {
  auto model = EditableModel(v, kMsgNotCreated);
  if (!model) return CLI_WARNING;
  model->radio_count = static_cast<uint8_t>(args.U32("count").value_or(0));
  return Commit(v, *model);
}

int VendorId(vty* v, const CliArgs& args) {
  auto model = EditableModel(v, kMsgNotCreatedVendor);
  if (!model) return CLI_WARNING;
  // Read as a signed 32-bit number: larger values saturate.
  uint32_t value = args.U32("vendor").value_or(0);
  model->vendor_id = value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : value;
  return Commit(v, *model);
}

int RadioMode(vty* v, const CliArgs& args) {
  auto model = EditableModel(v, kMsgNotCreated);
  if (!model) return CLI_WARNING;
  uint32_t radio = args.U32("radio").value_or(0);
  if (radio < 1 || radio > model->radios.size()) return CLI_WARNING;
  std::string mode = args.Str("mode");
  ApModelRadio& entry = model->radios[radio - 1];
  for (const ModeKeyword& keyword : kModeKeywords) {
    if (mode == keyword.keyword) entry.modes = keyword.modes;
  }
  entry.max_power = static_cast<uint8_t>(args.U32("power").value_or(0));
  entry.attr_byte = 2;
  return Commit(v, *model);
}

bool IsBuiltInName(const std::string& name) {
  for (int i = 0; i < g_ApModeNum && i < kApModelSlots; ++i) {
    if (g_astCWApdbList[i].name == name) return true;
  }
  return false;
}

void WriteModel(vty* v, const CW_APMODEL& model) {
  vty_out(v, "wlan ap-model %s\n", model.name.c_str());
  if (model.radio_count != 0) vty_out(v, " radio-count %d\n", model.radio_count);
  if (model.vendor_id != 0) vty_out(v, " vender-id %d\n", static_cast<int32_t>(model.vendor_id));
  for (size_t r = 0; r < model.radio_count && r < model.radios.size(); ++r) {
    const char* keyword = ModeKeywordOf(model.radios[r].modes);
    if (!keyword) continue;
    vty_out(v, " radio %d mode %s max-power %d\n", static_cast<int>(r + 1), keyword,
            model.radios[r].max_power);
  }
}

const std::vector<std::string> kModeHelp = {
    "IEEE 802.11a",          "IEEE 802.11b",          "IEEE 802.11g",
    "IEEE 802.11a/n",        "IEEE 802.11g/n",        "IEEE 802.11b/g/n",
    "IEEE 802.11a/n/ac",     "IEEE 802.11b/g/n/ax",   "IEEE 802.11a/n/ac/ax",
};

std::vector<std::string> RadioModeHelp() {
  std::vector<std::string> help = {"Radio settings", "Radio number", "Supported 802.11 modes"};
  help.insert(help.end(), kModeHelp.begin(), kModeHelp.end());
  help.insert(help.end(), {"Maximum transmit power", "Power in dBm"});
  return help;
}

}  // namespace

int capwap_model_write(vty* v) {
  for (auto key = DBM_GetFirstKey(kDbApModel); key;
       key = DBM_GetNextKey(kDbApModel, key->data(), key->size())) {
    auto value = DBM_Fetch(kDbApModel, key->data(), key->size());
    if (!value) continue;
    auto model = ApModelDecode(*value);
    if (!model) {
      CwDebug(kDbgError, ZLOG_ERR, " Skipping damaged AP model record (%zu bytes).\n",
              value->size());
      continue;
    }
    if (model->name.empty() || IsBuiltInName(model->name)) continue;
    WriteModel(v, *model);
  }
  return 0;
}

std::span<const CliCommand> capwap_model_commands() {
  static const CliCommand table[] = {
      {CONFIG_NODE,
       "wlan ap-model WORD",
       {"Wireless LAN settings", "Define a custom AP model", "Model name (up to 31 characters)"},
       {"model"},
       ApModelEnter},
      {CONFIG_NODE,
       "no wlan ap-model WORD",
       {"Negate a command", "Wireless LAN settings", "Delete a custom AP model", "Model name"},
       {"model"},
       NoApModel},
      {kApModelNode,
       "radio-count <1-4>",
       {"Number of radios of the model", "Radio count"},
       {"count"},
       RadioCount},
      {kApModelNode,
       "vender-id <0-4294967295>",
       {"Vendor identifier reported by APs of the model", "Vendor identifier"},
       {"vendor"},
       VendorId},
      {kApModelNode,
       "radio <1-4> mode (11a|11b|11g|11an|11gn|11bgn|11ac|11axg|11axa) max-power <5-33>",
       RadioModeHelp(),
       {"radio", "mode", "power"},
       RadioMode},
  };
  return table;
}
