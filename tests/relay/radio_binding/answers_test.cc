// The WMAC answers of the Config state (radio binding 3, scan settings 16,
// WIDS configuration 25), their completion rule, and SET-RDBIND (2), all
// through the WMAC dispatcher on a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "config/model_catalogue.h"
#include "diag/debug.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/radio_binding.h"
#include "relay/wmac.h"
#include "support/lab.h"
#include "support/scenario.h"
#include "support/truncation.h"
#include "transport/sendq.h"

namespace capwap::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// How often the response sender ran, and whether the binding was there.
struct SenderLog {
  int calls = 0;
  bool binding_present = false;
};
SenderLog& Sends() {
  static SenderLog log;
  return log;
}
int RecordingSender(CW_WTPCB* wtp) {
  ++Sends().calls;
  Sends().binding_present = wtp->rdbind.radios[0].sub[10].has_value();
  return 0;
}

const Bytes kBinding = Cat({U16(10), U16(2), Hex("01 01"), U16(17), U16(4), HostU32(300)});
const Bytes kScan = Hex("00 25 00 02 aa bb");
const Bytes kWids = Hex("00 25 00 01 cc");

class RdBindAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CW_AC_WtpTableInit(), 0);
    CW_APMODEL model;
    model.name = "model-x";
    model.radio_count = 1;
    model.radios[0].modes = 1;
    ASSERT_EQ(ApModelStore(model), 0);
    wtp_ = CW_AC_CreateWTP("model-x", 1, "ap1", 0);
    ASSERT_NE(wtp_, nullptr);
    ASSERT_EQ(RegisterRdBindHandlers(), 0);
    SetCfgRespSender(RecordingSender);
    Sends() = SenderLog{};
    g_ulCwDebugBitmap = kDbgAll;
  }
  // The state a decoded Configuration Status Request leaves.
  void EnterConfig() {
    wtp_->state = kStateConfig;
    wtp_->wait_rdbind = wtp_->wait_wrrm = wtp_->wait_wids = 1;
    ASSERT_TRUE(wtp_->cfg_ipc_timer.Start(lab_.master(), 10, CW_AC_IPCTimerHandler, wtp_));
  }
  void Deliver(uint32_t type, const Bytes& payload, uint32_t wtp_id = 1) {
    IpcHead head;
    head.msg_type = type;
    head.wtp_id = wtp_id;
    head.payload_len = static_cast<uint32_t>(payload.size());
    AC_ProcIPCPkt(head, payload.empty() ? nullptr : payload.data());
  }
  static const Bytes& AnswerOf(uint32_t type) {
    return type == WmacIn::kGetRdBind ? kBinding : type == WmacIn::kWrrmScan ? kScan : kWids;
  }
  // The elements of the one queued request, which is then dropped.
  std::vector<CwElement> QueuedElements() {
    EXPECT_EQ(wtp_->sndq.count, 1u);
    if (wtp_->sndq.count != 1) return {};
    const CW_PKT& request = *wtp_->sndq.ring[wtp_->sndq.head];
    decoded_ = DecodeMessage(ByteView(request.buffer).first(request.length));
    EXPECT_EQ(decoded_.ctl.msg_type, static_cast<uint32_t>(kMsgCfgUpdateReq));
    CW_FreeSndQue(&wtp_->sndq);
    wtp_->retrans_timer.Cancel();
    return decoded_.elements;
  }

  DaemonContext lab_;
  LogCapture log_;
  CW_WTPCB* wtp_ = nullptr;
  DecodedMessage decoded_;
};

TEST_F(RdBindAnswers, EveryOrderCompletesOnTheLastAnswerAndSendsOnce) {
  std::array<uint32_t, 3> order{WmacIn::kGetRdBind, WmacIn::kWrrmScan, WmacIn::kWidsCfg};
  std::sort(order.begin(), order.end());
  do {
    const std::string name = std::to_string(order[0]) + "," + std::to_string(order[1]) + "," +
                             std::to_string(order[2]);
    __CW_AC_HandleTunnelDown(wtp_, "test", __LINE__);
    Sends() = SenderLog{};
    EnterConfig();
    Deliver(order[0], AnswerOf(order[0]));
    Deliver(order[1], AnswerOf(order[1]));
    EXPECT_EQ(Sends().calls, 0) << name;
    EXPECT_TRUE(wtp_->cfg_ipc_timer.Running()) << name;
    Deliver(order[2], AnswerOf(order[2]));
    EXPECT_EQ(Sends().calls, 1) << name;
    EXPECT_TRUE(Sends().binding_present) << name << ": the response carries the binding";
    EXPECT_FALSE(wtp_->rdbind.radios[0].sub[10]) << name << ": released after the response";
    EXPECT_FALSE(wtp_->cfg_ipc_timer.Running()) << name;
    EXPECT_TRUE(wtp_->chg_state_timer.Running()) << name;
    EXPECT_EQ(wtp_->wrrm_block, kScan) << name;
    EXPECT_EQ(wtp_->wids_block, kWids) << name;
    // A repeated answer while the change-state wait runs sends nothing more.
    Deliver(order[1], AnswerOf(order[1]));
    EXPECT_EQ(Sends().calls, 1) << name;
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(RdBindAnswers, AnswersOutsideConfigAreKeptAndAnEmptyScanCounts) {
  wtp_->state = kStateJoin;
  for (uint32_t type : {WmacIn::kGetRdBind, WmacIn::kWrrmScan, WmacIn::kWidsCfg}) Deliver(type, AnswerOf(type));
  EXPECT_EQ(Sends().calls, 0);
  EXPECT_TRUE(wtp_->rdbind.radios[0].sub[10]) << "parsed and kept";
  EXPECT_EQ(wtp_->wids_block, kWids);
  EXPECT_FALSE(wtp_->chg_state_timer.Running());

  EnterConfig();
  Deliver(WmacIn::kWidsCfg, kWids);
  Deliver(WmacIn::kWrrmScan, {});
  EXPECT_EQ(wtp_->wait_wrrm, 0);
  EXPECT_TRUE(wtp_->wrrm_block.empty());
  EXPECT_EQ(Sends().calls, 0);
  Deliver(WmacIn::kGetRdBind, kBinding);
  EXPECT_EQ(Sends().calls, 1);
  EXPECT_EQ(wtp_->rdbind.idle_timeout, 300u) << "the idle timeout stays for the response";
}

TEST_F(RdBindAnswers, DroppedAnswersKeepTheirFlags) {
  EnterConfig();
  CaptureStdout();
  Deliver(WmacIn::kGetRdBind, Hex("00 0a 00 05 01 01"));
  EXPECT_EQ(GetCapturedStdout(), " CW_GetRdBind CW_IsMsgOutBound2\n");
  EXPECT_TRUE(log_.Contains(" GET RADIO BIND FOR AP 1 ERROR."));
  EXPECT_EQ(wtp_->wait_rdbind, 1);
  EXPECT_FALSE(wtp_->rdbind.radios[0].sub[10]);
  Deliver(WmacIn::kWrrmScan, Bytes(kCfgAnswerBlockMax + 1, 0x37));
  EXPECT_EQ(wtp_->wait_wrrm, 1);
  EXPECT_TRUE(wtp_->wrrm_block.empty());
  Deliver(WmacIn::kWidsCfg, Bytes(kCfgAnswerBlockMax, 0x25));
  EXPECT_EQ(wtp_->wait_wids, 0) << "a block of the largest size is kept";
  EXPECT_EQ(Sends().calls, 0);

  log_.Clear();
  for (uint32_t type : {WmacIn::kSetRdBind, WmacIn::kGetRdBind, WmacIn::kWrrmScan, WmacIn::kWidsCfg}) {
    Deliver(type, AnswerOf(type), 9);
  }
  for (const char* line : {" Failed to find AP entry when processing Radio Binding message.",
                           " Failed to find AP entry when processing getting radio binding.",
                           " Failed to find AP entry when processing rrm scanning message.",
                           " Failed to find AP entry when processing WIDS config message."}) {
    EXPECT_TRUE(log_.Contains(line)) << line;
  }
}

TEST_F(RdBindAnswers, SetRdBindSendsOneConfigurationUpdateInAnyState) {
  wtp_->board_vendor_id = 0x0000A1B2;
  Deliver(WmacIn::kSetRdBind, kBinding);
  std::vector<CwElement> elements = QueuedElements();
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0].type, 23) << "Idle Timeout first";
  EXPECT_EQ(Bytes(elements[0].value.begin(), elements[0].value.end()), U32(300));
  EXPECT_EQ(elements[1].type, 31);
  EXPECT_FALSE(wtp_->rdbind.radios[0].sub[10]) << "released once sent";
  EXPECT_EQ(wtp_->rdbind.idle_timeout, 0u);

  // An idle timeout of 0 gives no Idle Timeout element; a bad list, no request.
  Deliver(WmacIn::kSetRdBind, Cat({U16(17), U16(4), HostU32(0), U16(10), U16(2), Hex("02 01")}));
  elements = QueuedElements();
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0].type, 31);
  CaptureStdout();
  Deliver(WmacIn::kSetRdBind, Hex("00 0a"));
  GetCapturedStdout();
  EXPECT_EQ(wtp_->sndq.count, 0u);
  FailNext(FailFamily::kPacketAlloc, 1);
  EXPECT_EQ(CW_AC_CfgUpdRdBinding(wtp_, RadioBinding{}), 1);
}

}  // namespace
}  // namespace capwap::test
