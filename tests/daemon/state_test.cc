// One reset returns the whole daemon to its state before start-up, also
// after APs reached Run.
#include "daemon/state.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/ap_group.h"
#include "config/ap_persist.h"
#include "config/images.h"
#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "registry/acinfo.h"
#include "registry/tables.h"
#include "support/scenario.h"
#include "transport/codec.h"

namespace capwap::test {
namespace {

TEST(DaemonState, ResetAfterTwoApsInRunLeavesEveryGlobalAtItsStart) {
  ScenarioLab lab;
  ASSERT_TRUE(lab.booted());
  if (!lab.peers()) GTEST_SKIP() << "the peer simulator is not built";
  for (size_t ap : {lab.AddAp(), lab.AddAp()}) {
    ASSERT_TRUE(lab.Discover(ap) && lab.Join(ap) && lab.Configure(ap) && lab.Run(ap))
        << lab.ap(ap).last_error();
  }
  ASSERT_EQ(g_uiCwApCount, 2u);
  g_ulCwDebugBitmap = kDbgAll;
  logcapmacaddr[0] = '0';
  g_ucNeedEncrypt = 1;

  capwap_reset_state();
  EXPECT_EQ(g_ulCwDebugBitmap, 0u);
  EXPECT_EQ(logcapmacaddr[0], 0);
  EXPECT_EQ(ul_CW_AC_Time, 0u);
  EXPECT_EQ(g_uiCwApCount, 0u);
  EXPECT_EQ(g_uiCwConcurrentWTPS, 0u);
  EXPECT_TRUE(std::all_of(g_ppAC_WTPDB_TableById.begin(), g_ppAC_WTPDB_TableById.end(),
                          [](CW_WTPCB* wtp) { return wtp == nullptr; }));
  EXPECT_EQ(g_pstAC_WTPDBTableById.count, 0u);
  EXPECT_FALSE(g_pstAC_WTPDBTableByMac || g_pstAC_WTPDBTableByName || g_pstAC_WTPDBTableByIp ||
               g_pstAC_WTPDBTableBySessionId);
  EXPECT_EQ(g_pstCwApSnHash, nullptr);
  EXPECT_EQ(g_bCwAutoApEnabled + g_bCwAutoApPersistentEnabled + g_ucNeedEncrypt, 0);
  EXPECT_TRUE(std::all_of(g_pstCwApGroupList.begin(), g_pstCwApGroupList.end(),
                          [](const auto& group) { return group == nullptr; }));
  EXPECT_TRUE(std::all_of(g_aucImgDb.begin(), g_aucImgDb.end(),
                          [](const ImageVendor& v) { return v.vendor_id == 0; }));
  EXPECT_EQ(g_ApModeNum, 0);
  EXPECT_TRUE(g_astCWApdbList[0].name.empty());
  EXPECT_EQ(g_stCW_AC_GlobalInfo.active_wtps, 0);
}

}  // namespace
}  // namespace capwap::test
