// The built-in catalogue and its look-ups: profile selection, the tables'
// contents, model validity for AP creation, and the Discovery checks.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "config/db_tables.h"
#include "config/model_catalogue.h"
#include "platform/cli.h"
#include "platform/cli_grammar.h"
#include "platform/dbm.h"
#include "platform/identity.h"
#include "support/lab.h"

namespace {

using capwap::test::DaemonContext;

constexpr DbTable kTable = kDbApModel;

class ModelCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { CW_ApModel_Init(); }

  static void StoreCustom(const std::string& name, uint8_t count,
                          std::initializer_list<uint8_t> modes) {
    CW_APMODEL m;
    m.name = name;
    m.radio_count = count;
    size_t r = 0;
    for (uint8_t mode : modes) m.radios[r++] = {mode, 20, 2, 0};
    ASSERT_EQ(ApModelStore(m), 0);
  }
  static uint8_t StoredInUse(const std::string& name) {
    auto m = ApModelFetch(name);
    EXPECT_TRUE(m) << name;
    return m ? m->in_use : 0xFF;
  }

  DaemonContext lab_;
};

TEST_F(ModelCatalogueTest, DefaultProfileFillsMemoryAndDatabaseByTheCompactRules) {
  EXPECT_STREQ(ActiveVendorProfile().name, "default");
  ASSERT_EQ(g_ApModeNum, 55);
  EXPECT_EQ(capwap::DbmCount(kTable), 55u);
  for (int i = 0; i < g_ApModeNum; ++i) {
    const CW_APMODEL& slot = g_astCWApdbList[i];
    auto stored = ApModelFetch(slot.name);
    ASSERT_TRUE(stored) << slot.name;
    EXPECT_EQ(stored->in_use, 0);
    EXPECT_EQ(stored->radio_count, slot.radio_count);
    EXPECT_EQ(stored->radios[0].modes, slot.radios[0].modes);
    EXPECT_EQ(stored->lan_ports, slot.lan_ports);
  }
  // The compact entries' rules.
  const CW_APMODEL* single = CW_GetApModelInfo_ByModel("ia-110");
  const CW_APMODEL* plate = CW_GetApModelInfo_ByModel("wp-124");
  const CW_APMODEL* quad = CW_GetApModelInfo_ByModel("ia-340");
  ASSERT_TRUE(single && plate && quad);
  EXPECT_EQ(single->lan_ports, 1) << "a table count of 0 means one port";
  EXPECT_EQ(single->radios[1].modes, 0) << "radios beyond the count stay empty";
  EXPECT_EQ(plate->lan_ports, 4);
  EXPECT_EQ(plate->capability, kModelCapLan);
  EXPECT_EQ(quad->radio_count, 4);
  EXPECT_EQ(quad->radios[3].modes, 26);
  EXPECT_EQ(quad->radios[3].attr_byte, 2);
}

// Every profile's rows are valid keyword names with one to four radios, and
// its special rows name models of its own table.
TEST_F(ModelCatalogueTest, EveryProfileTableIsWellFormed) {
  std::vector<const VendorProfile*> all = {&DefaultVendorProfile()};
  for (const auto& p : NamedVendorProfiles()) all.push_back(&p);
  for (const VendorProfile* p : all) {
    SCOPED_TRACE(p->name);
    std::set<std::string> names;
    for (const ModelCompact& e : p->models) {
      std::string name = e.name;
      EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
      EXPECT_LT(name.size(), 32u);
      for (char c : name) EXPECT_TRUE(std::islower(c) || std::isdigit(c) || c == '-') << name;
      EXPECT_TRUE(e.radio_count >= 1 && e.radio_count <= 4) << name;
      EXPECT_EQ((e.capability & kModelCapLan) != 0, e.lan_ports >= 2) << name;
    }
    for (const char* special : {p->rules.interchange_configured, p->rules.interchange_reported,
                                p->rules.wildcard, p->rules.version_rule,
                                p->rules.mac_exempt[0], p->rules.mac_exempt[1]}) {
      if (special) {
        EXPECT_TRUE(names.count(special)) << special;
      }
    }
  }
}

TEST_F(ModelCatalogueTest, VendorNameSelectsProfileCaseInsensitively) {
  EXPECT_STREQ(SelectVendorProfile("kestrelon").name, "Kestrelon");
  EXPECT_STREQ(SelectVendorProfile("VIREAUX").name, "Vireaux");
  EXPECT_STREQ(SelectVendorProfile("Kestrelo").name, "default") << "no prefix match";
  EXPECT_STREQ(SelectVendorProfile("").name, "default");
  EXPECT_STREQ(SelectVendorProfile("Quorvane").name, "default");

  SelectModelVendor("TAMSYNET");
  EXPECT_EQ(g_ApModeNum, 1);
  EXPECT_TRUE(CW_GetApModelInfo_ByModel("tn-one"));
  EXPECT_FALSE(CW_GetApModelInfo_ByModel("ia-220")) << "the larger table left no slots behind";
  EXPECT_TRUE(g_astCWApdbList[1].name.empty());

  SelectModelVendor("kestrelon");
  EXPECT_EQ(g_ApModeNum, static_cast<int>(SelectVendorProfile("kestrelon").models.size()));
}

TEST_F(ModelCatalogueTest, LookupsInMemoryFindBuiltInsOnlyDiscoveryAsksTheDatabase) {
  StoreCustom("lab-1", 1, {13});
  EXPECT_EQ(CW_GetApModelInfo_ByModel("IA-325E")->name, "ia-325e");
  EXPECT_FALSE(CW_GetApModelInfo_ByModel("lab-1"));
  EXPECT_TRUE(CW_isSupportAntTypeSW("MX-325E"));
  EXPECT_FALSE(CW_isSupportAntTypeSW("ia-320"));
  EXPECT_EQ(CW_AC_IsValidWTPModel("ia-110"), 1);
  EXPECT_EQ(CW_AC_IsValidWTPModel("lab-1"), 1);
  EXPECT_EQ(CW_AC_IsValidWTPModel("lab-2"), 0);
  EXPECT_EQ(CW_AC_IsValidWTPModel(std::string(32, 'i')), 0);
}

TEST_F(ModelCatalogueTest, ValidityNeedsEveryRadioUpToTheCountAndAWholeRecord) {
  StoreCustom("two-of-one", 2, {13});
  StoreCustom("extra-radio", 2, {13, 26, 26});
  StoreCustom("no-radios", 0, {13});
  EXPECT_FALSE(CW_IsValidModel("two-of-one", 1));
  EXPECT_EQ(StoredInUse("two-of-one"), 0) << "an invalid model is not marked";
  EXPECT_FALSE(CW_IsValidModel("no-radios", 1));
  EXPECT_FALSE(CW_IsValidModel("missing", 1));
  EXPECT_FALSE(CW_IsValidModel(std::string(40, 'z'), 1));

  EXPECT_TRUE(CW_IsValidModel("extra-radio", 1));
  EXPECT_EQ(StoredInUse("extra-radio"), 1);
  EXPECT_TRUE(CW_IsValidModel("extra-radio", 1));
  EXPECT_TRUE(CW_IsValidModel("extra-radio", 0)) << "deletion clears the single flag";
  EXPECT_EQ(StoredInUse("extra-radio"), 0);

  EXPECT_TRUE(CW_IsValidModel("ia-340", 1));
  EXPECT_EQ(StoredInUse("ia-340"), 1);
  CW_ApModel_Init();
  EXPECT_EQ(StoredInUse("ia-340"), 0) << "a restart clears the flag of built-ins";

  auto key = ApModelKey("broken");
  const uint8_t junk[100] = {'b'};
  ASSERT_EQ(DBM_Store(kTable, key->data(), key->size(), junk, sizeof junk), 0);
  EXPECT_FALSE(CW_IsValidModel("broken", 1));
  EXPECT_EQ(DBM_Fetch(kTable, key->data(), key->size())->size(), sizeof junk) << "left alone";
  EXPECT_EQ(CW_AC_IsValidWTPModel("broken"), 1) << "Discovery only asks whether a record exists";
}

TEST_F(ModelCatalogueTest, MacAdmissionOfTheVendorRow) {
  using Mac = std::array<uint8_t, 6>;
  auto check = [](Mac mac, const char* model = "ia-220") { return CW_AC_CheckAPMac(&mac, model); };
  // The identity's default vendor has no row: everything passes.
  EXPECT_EQ(check({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}), 1);
  EXPECT_EQ(CW_AC_CheckAPMac(nullptr, "ia-220"), 0);

  company_info.vendor_name = "quorvane";
  const std::pair<Mac, int> rows[] = {
      {{0x02, 0xc4, 0x5b, 0x00, 0x00, 0x00}, 0}, {{0x02, 0xc4, 0x5a, 0x00, 0x00, 0x00}, 1},
      {{0x02, 0xc4, 0x5a, 0x0f, 0xff, 0xff}, 1}, {{0x02, 0xc4, 0x5a, 0x10, 0x00, 0x00}, 0},
      {{0x02, 0xc4, 0x5a, 0x3f, 0xff, 0xff}, 0}, {{0x02, 0xc4, 0x5a, 0x40, 0x00, 0x00}, 1},
      {{0x02, 0xc4, 0x5a, 0xa0, 0xff, 0xff}, 1}, {{0x02, 0xc4, 0x5a, 0xa1, 0x00, 0x00}, 0},
      {{0x5a, 0xc4, 0x02, 0x00, 0x00, 0x01}, 0},  // OUI bytes in order
  };
  for (const auto& [mac, admitted] : rows) EXPECT_EQ(check(mac), admitted) << int{mac[3]};

  // The evaluation kits are exempt, whatever their MAC.
  EXPECT_EQ(check({0x00, 0x00, 0x00, 0xff, 0xff, 0xff}, "ek-110"), 1);
  EXPECT_EQ(check({0x00, 0x00, 0x00, 0xff, 0xff, 0xff}, "ek-111"), 0);
  EXPECT_EQ(CW_AC_CheckAPMac(nullptr, "ek-110"), 0) << "no MAC, no admission";

  // A named profile has no row: any MAC passes.
  company_info.vendor_name = "Orlume";
  EXPECT_EQ(check({0x00, 0x00, 0x00, 0xff, 0xff, 0xff}), 1);
}

TEST_F(ModelCatalogueTest, HardwareVersionRuleOfOneModel) {
  for (const char* ok : {"A1", "B", "C.2", "D-rev", "T3"}) {
    EXPECT_EQ(CW_AC_CheckAPVersion(ok, "oa-560"), 1) << ok;
  }
  for (const char* bad : {"E1", "a1", "", " A", "1.0"}) {
    EXPECT_EQ(CW_AC_CheckAPVersion(bad, "oa-560"), 0) << bad;
  }
  EXPECT_EQ(CW_AC_CheckAPVersion(nullptr, "oa-560"), 0);
  EXPECT_EQ(CW_AC_CheckAPVersion("E1", "oa-560s"), 1);
  EXPECT_EQ(CW_AC_CheckAPVersion("", "ia-220"), 1);

  SelectModelVendor("Vireaux");
  EXPECT_EQ(CW_AC_CheckAPVersion("E1", "oa-560"), 1) << "rules follow the active profile";
  EXPECT_EQ(CW_AC_CheckAPVersion("E1", "vx-o5"), 0);
}

TEST_F(ModelCatalogueTest, ModelInterchangeRules) {
  EXPECT_TRUE(ModelsCompatible("ia-310", "ia-310"));
  EXPECT_FALSE(ModelsCompatible("ia-310", "ia-315"));
  EXPECT_TRUE(ModelsCompatible("ia-220", "ia-220r"));
  EXPECT_FALSE(ModelsCompatible("ia-220r", "ia-220")) << "the pair works one way";
  EXPECT_TRUE(ModelsCompatible("generic-ap", "anything-at-all"));
  EXPECT_FALSE(ModelsCompatible("ia-310", "generic-ap"));
  EXPECT_FALSE(ModelsCompatible("IA-310", "ia-310")) << "exact comparison";
  EXPECT_STREQ(ActiveModelRules().wildcard, "generic-ap");
}

}  // namespace
