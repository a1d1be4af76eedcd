// Built-in vendor profiles: each profile's compact model table, its
// initialiser, its MAC admission rows and its special model rows.
//
// Radio attribute byte: the band the radio serves (1 = 2.4 GHz, 2 = 5 GHz).
// Radio attribute word: the radio's spatial streams (0-4). This daemon
// stores both and never reads them; other readers of ap_model may.
//
// Special rows of the default profile:
//   - "ia-220" and "ia-220r" are one AP in two hardware revisions: a record
//     configured as ia-220 admits an AP reporting ia-220r (not the reverse).
//   - "generic-ap" is the wildcard: a record configured with it admits an AP
//     reporting any model.
//   - "oa-560" early boards are not supported: its hardware version must
//     begin with 'A', 'B', 'C', 'D' or 'T'.
//   - "ek-110" and "ek-310" (evaluation kits) skip the MAC admission check.
//   - One admission row: platforms branded "Quorvane" admit only APs with
//     the OUI 02:c4:5a (a locally administered block) whose lower 24 MAC bits
//     lie in 000000-0fffff, 400000-4fffff or a00000-a0ffff.
// The named profiles have no admission row; Kestrelon has its own
// interchangeable pair and Vireaux its own hardware-version rule.
#include "config/model_catalogue.h"

namespace {

using Radio = ModelCompact::Radio;

// Mode bits: 1 b, 2 a, 4 g, 8 n, 16 ac, 32 ax.
constexpr uint8_t kBG = 5;
constexpr uint8_t kBGN = 13;
constexpr uint8_t kGAX = 45;
constexpr uint8_t kA = 2;
constexpr uint8_t kAN = 10;
constexpr uint8_t kAC = 26;
constexpr uint8_t kAAX = 58;

constexpr uint8_t kAnt = kModelCapAntenna;
constexpr uint8_t k5G = kModelCap5g;
constexpr uint8_t kLan = kModelCapLan;

constexpr Radio G(uint8_t modes, uint8_t power, uint16_t streams) {
  return {modes, power, 1, streams};
}
constexpr Radio A(uint8_t modes, uint8_t power, uint16_t streams) {
  return {modes, power, 2, streams};
}

// name, radio count, capability bits, radios, LAN ports.
constexpr ModelCompact kDefaultModels[] = {
    // Indoor, single band.
    {"ia-110", 1, 0, {G(kBGN, 20, 2)}, 0},
    {"ia-115", 1, 0, {G(kBGN, 23, 2)}, 0},
    {"ia-120", 1, 0, {G(kGAX, 22, 2)}, 0},
    // Indoor, dual band.
    {"ia-210", 2, 0, {G(kBGN, 20, 2), A(kAN, 20, 2)}, 0},
    {"ia-215", 2, 0, {G(kBGN, 22, 3), A(kAN, 22, 3)}, 0},
    {"ia-220", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ia-220r", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ia-225", 2, 0, {G(kBGN, 23, 2), A(kAC, 26, 2)}, 0},
    {"ia-230", 2, 0, {G(kBGN, 23, 4), A(kAC, 26, 4)}, 0},
    {"ia-235e", 2, kAnt, {G(kBGN, 23, 4), A(kAC, 26, 4)}, 0},
    {"ia-310", 2, 0, {G(kGAX, 20, 2), A(kAAX, 23, 2)}, 0},
    {"ia-315", 2, 0, {G(kGAX, 22, 2), A(kAAX, 24, 2)}, 0},
    {"ia-320", 2, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 0},
    {"ia-325e", 2, kAnt, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 0},
    // Indoor, tri and quad radio (the last radio of the quads scans).
    {"ia-330", 3, 0, {G(kGAX, 23, 2), A(kAAX, 24, 2), A(kAAX, 24, 2)}, 0},
    {"ia-335", 3, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4), A(kAAX, 26, 2)}, 0},
    {"ia-340", 4, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4), A(kAAX, 26, 4), A(kAC, 20, 1)}, 0},
    {"ia-360", 4, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4), A(kAAX, 26, 4), G(kGAX, 20, 1)}, 0},
    // Legacy.
    {"la-100", 1, 0, {G(kBG, 18, 1)}, 0},
    {"la-105", 1, 0, {A(kA, 17, 1)}, 0},
    {"la-110", 2, 0, {G(kBG, 18, 1), A(kA, 17, 1)}, 0},
    {"la-120", 2, 0, {G(kBGN, 20, 1), A(kAN, 20, 1)}, 0},
    // Wall plates with wired LAN ports.
    {"wp-110", 1, kLan, {G(kBGN, 18, 2)}, 2},
    {"wp-120", 2, kLan, {G(kBGN, 18, 2), A(kAC, 20, 2)}, 2},
    {"wp-124", 2, kLan, {G(kBGN, 18, 2), A(kAC, 20, 2)}, 4},
    {"wp-310", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 2},
    {"wp-314", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 4},
    {"wp-314p", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 4},
    {"wp-324", 3, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2), A(kAAX, 22, 2)}, 4},
    // Outdoor; the "e" variants take external antennas.
    {"oa-180", 1, 0, {A(kAC, 30, 2)}, 0},
    {"oa-185e", 1, kAnt, {A(kAAX, 30, 2)}, 0},
    {"oa-210", 2, 0, {G(kBGN, 26, 2), A(kAN, 27, 2)}, 0},
    {"oa-220", 2, 0, {G(kBGN, 27, 2), A(kAC, 28, 2)}, 0},
    {"oa-225e", 2, kAnt, {G(kBGN, 27, 2), A(kAC, 30, 2)}, 0},
    {"oa-230", 2, 0, {G(kBGN, 27, 4), A(kAC, 30, 4)}, 0},
    {"oa-310", 2, 0, {G(kGAX, 27, 2), A(kAAX, 28, 2)}, 0},
    {"oa-320", 2, 0, {G(kGAX, 27, 4), A(kAAX, 30, 4)}, 0},
    {"oa-325e", 2, kAnt, {G(kGAX, 27, 4), A(kAAX, 30, 4)}, 0},
    {"oa-330", 3, 0, {G(kGAX, 27, 2), A(kAAX, 30, 2), A(kAAX, 30, 2)}, 0},
    {"oa-560", 2, kAnt, {G(kGAX, 27, 4), A(kAAX, 30, 4)}, 0},
    {"oa-560s", 3, kAnt, {G(kGAX, 27, 4), A(kAAX, 30, 4), A(kAAX, 30, 2)}, 0},
    // Mesh nodes with a cellular 5G uplink.
    {"mx-220", 2, k5G, {G(kBGN, 23, 2), A(kAC, 26, 2)}, 0},
    {"mx-310", 2, k5G, {G(kGAX, 23, 2), A(kAAX, 26, 2)}, 0},
    {"mx-320", 2, k5G, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 0},
    {"mx-320w", 2, k5G | kLan, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 2},
    {"mx-325e", 2, k5G | kAnt, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 0},
    {"mx-330", 3, k5G, {G(kGAX, 23, 2), A(kAAX, 26, 2), A(kAAX, 26, 2)}, 0},
    {"mx-530", 3, k5G | kAnt, {G(kGAX, 27, 2), A(kAAX, 30, 2), A(kAAX, 30, 2)}, 0},
    // Hospitality, vehicle and sensor units.
    {"ha-210", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ha-310", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 23, 2)}, 4},
    {"ta-300", 2, k5G, {G(kGAX, 23, 2), A(kAAX, 24, 2)}, 0},
    {"sa-200", 2, 0, {G(kBGN, 20, 2), A(kAC, 20, 2)}, 0},
    // Evaluation kits and the wildcard.
    {"ek-110", 1, 0, {G(kBGN, 18, 2)}, 0},
    {"ek-310", 2, 0, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 0},
    {"generic-ap", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
};
static_assert(std::size(kDefaultModels) == 55);

constexpr ApAdmission kDefaultAdmission[] = {
    {"Quorvane",
     {0x02, 0xc4, 0x5a},
     3,
     {{{0x000000, 0x0fffff}, {0x400000, 0x4fffff}, {0xa00000, 0xa0ffff}}}},
};

constexpr ModelCompact kKestrelonModels[] = {
    {"ks-11", 1, 0, {G(kBGN, 20, 2)}, 0},
    {"ks-21", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ks-21b", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ks-22", 2, 0, {G(kBGN, 23, 4), A(kAC, 26, 4)}, 0},
    {"ks-22e", 2, kAnt, {G(kBGN, 23, 4), A(kAC, 26, 4)}, 0},
    {"ks-31", 2, 0, {G(kGAX, 22, 2), A(kAAX, 24, 2)}, 0},
    {"ks-32", 2, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4)}, 0},
    {"ks-33", 3, 0, {G(kGAX, 23, 2), A(kAAX, 26, 2), A(kAAX, 26, 2)}, 0},
    {"ks-w2", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 2},
    {"ks-w4", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 4},
    {"ks-o3", 2, kAnt, {G(kGAX, 27, 4), A(kAAX, 30, 4)}, 0},
    {"ks-m3", 2, k5G, {G(kGAX, 23, 2), A(kAAX, 26, 2)}, 0},
};

constexpr ModelCompact kVireauxModels[] = {
    {"vx-100", 1, 0, {G(kBGN, 20, 2)}, 0},
    {"vx-200", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"vx-300", 2, 0, {G(kGAX, 22, 2), A(kAAX, 24, 2)}, 0},
    {"vx-304w", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 4},
    {"vx-o5", 2, kAnt, {G(kGAX, 27, 4), A(kAAX, 30, 4)}, 0},
    {"vx-m5", 3, k5G | kAnt, {G(kGAX, 27, 2), A(kAAX, 30, 2), A(kAAX, 30, 2)}, 0},
};

constexpr ModelCompact kTamsynetModels[] = {
    {"tn-one", 2, 0, {G(kGAX, 22, 2), A(kAAX, 24, 2)}, 0},
};

constexpr ModelCompact kOrlumeModels[] = {
    {"ol-2", 2, 0, {G(kBGN, 20, 2), A(kAC, 23, 2)}, 0},
    {"ol-3", 2, 0, {G(kGAX, 22, 2), A(kAAX, 24, 2)}, 0},
    {"ol-3w", 2, kLan, {G(kGAX, 20, 2), A(kAAX, 22, 2)}, 2},
    {"ol-4q", 4, 0, {G(kGAX, 23, 4), A(kAAX, 26, 4), A(kAAX, 26, 4), A(kAC, 20, 1)}, 0},
};

void InitKestrelonModel() { ApModelLoadCompact(kKestrelonModels); }
void InitVireauxModel() { ApModelLoadCompact(kVireauxModels); }
void InitTamsynetModel() { ApModelLoadCompact(kTamsynetModels); }
void InitOrlumeModel() { ApModelLoadCompact(kOrlumeModels); }

const VendorProfile kDefaultProfile = {
    "default",
    CW_ApModel_Default_Init,
    kDefaultModels,
    kDefaultAdmission,
    {.interchange_configured = "ia-220",
     .interchange_reported = "ia-220r",
     .wildcard = "generic-ap",
     .version_rule = "oa-560",
     .mac_exempt = {"ek-110", "ek-310"}},
};

// Selection order.
const VendorProfile kNamedProfiles[] = {
    {"Kestrelon", InitKestrelonModel, kKestrelonModels, {},
     {.interchange_configured = "ks-21", .interchange_reported = "ks-21b"}},
    {"Vireaux", InitVireauxModel, kVireauxModels, {}, {.version_rule = "vx-o5"}},
    {"Tamsynet", InitTamsynetModel, kTamsynetModels, {}, {}},
    {"Orlume", InitOrlumeModel, kOrlumeModels, {}, {}},
};

}  // namespace

void CW_ApModel_Default_Init() { ApModelLoadCompact(kDefaultModels); }

std::span<const VendorProfile> NamedVendorProfiles() { return kNamedProfiles; }

const VendorProfile& DefaultVendorProfile() { return kDefaultProfile; }
