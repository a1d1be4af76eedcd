// The radio binding: TLV parse and encodings, the WMAC answers of the
// Config state and their completion rule.
#include "relay/radio_binding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <new>

#include "diag/debug.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "relay/wmac.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/radio_elements.h"
#include "transport/sendq.h"

using capwap::ByteView;
using capwap::Bytes;
using capwap::HostReader;
using capwap::WireReader;
using capwap::WireWriter;

namespace {

// Every TLV that is held in a radio slot, by type.
constexpr RadioBindingTlv kRdBindTlvs[] = {
    {1, 10, 1, 1025},   {2, 8, 2, 1028},    {3, 16, 3, 1030},   {4, 8, 4, 1032},
    {5, 8, 5, 0},       {6, 9, 6, 1034},    {7, 9, 7, 1040},    {8, 4, 8, 1041},
    {9, 10, 9, 1042},   {10, 2, 10, 31},    {11, 5, 11, 1048},  {12, 16, 12, 1046},
    {13, 98, 13, 1045}, {14, 10, 14, 37},   {15, 76, 15, 37},   {16, 4, 16, 16},
    {18, 2, 17, 37},    {19, 8, 18, 1049},  {21, 8, 19, 1050},  {22, 8, 20, 1051},
    {23, 2, 21, 1053},  {24, 2, 22, 1058},  {25, 3, 23, 1060},  {26, 4, 24, 1063},
    {27, 7, 25, 1072},
};

// The order of one radio's sub-records towards WMAC and towards the AP.
constexpr uint16_t kWmacOrder[] = {1,  2,  3,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                   15, 14, 16, 18, 19, 21, 22, 23, 24, 25, 26, 27};
constexpr uint16_t kApOrder[] = {1,  2,  3,  4,  6,  7,  8,  9,  10, 11, 12, 13,
                                 16, 14, 15, 18, 19, 21, 22, 23, 24, 25, 26, 27};

constexpr int kRadioSlots = 4;

// The response sender installed by the session state machine.
CwCfgRespSender& RespSender() {
  static CwCfgRespSender sender = nullptr;
  return sender;
}

bool ValidRadio(uint32_t radio_id) { return radio_id >= 1 && radio_id <= kRadioSlots; }

void PutVendorHeader(WireWriter& w, uint32_t vendor_id, uint16_t elem_id, uint16_t length) {
  w.u32(vendor_id);
  w.u16(elem_id);
  w.u16(length);
}

// The element value of a sub-record at its type's fixed size: the vendor
// elements here, every other one through its radio element row.
void PutRadioValue(WireWriter& w, const RadioBindingTlv& tlv, ByteView record, uint32_t vendor_id) {
  switch (tlv.type) {
    case 14:
      PutVendorHeader(w, vendor_id, capwap::vendor_elem::kRadioSlot, 16);
      w.bytes(record);
      w.zeros(6);
      return;
    case 15:
      PutVendorHeader(w, vendor_id, capwap::vendor_elem::kRadioCapabilities, 76);
      w.bytes(record);
      return;
    case 18:
      PutVendorHeader(w, vendor_id, capwap::vendor_elem::kRadioWord, 2);
      w.bytes(record);
      return;
    default:
      if (const capwap::RadioElementCodec* row = capwap::RadioElementFor(tlv.element)) {
        capwap::RadioToWire(*row, record, w);
      }
  }
}

void OutOfBound(int which) {
  printf(" CW_GetRdBind CW_IsMsgOutBound%d\n", which);
  fflush(stdout);
}

// The sub-record copy; false when memory runs out.
bool StoreSub(RadioBindingRadio& radio, const RadioBindingTlv& tlv, ByteView value) {
  try {
    Bytes copy(tlv.size, 0);
    std::copy_n(value.begin(), std::min(value.size(), copy.size()), copy.begin());
    radio.sub[tlv.slot] = std::move(copy);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The WTP a Config-state answer is for, or null after its debug line.
CW_WTPCB* AnswerWtp(uint32_t wtp_id, const char* missing_line) {
  CW_WTPCB* wtp = CW_AC_GetWTPByID(wtp_id);
  if (!wtp) CwDebug(kDbgError, ZLOG_ERR, "%s", missing_line);
  return wtp;
}

// Keeps a WRRM or WIDS answer for the Configuration Status Response.
// False (nothing stored) when it cannot fit the block.
bool StoreAnswerBlock(Bytes& block, const uint8_t* payload, size_t length, const char* peer,
                      uint32_t apid) {
  if (length > kCfgAnswerBlockMax || (length && !payload)) {
    CwDebug(kDbgError, ZLOG_ERR,
            " %s configuration of %zu bytes for AP %u exceeds its %zu-byte block, dropped.", peer,
            length, apid, kCfgAnswerBlockMax);
    return false;
  }
  block.assign(payload, payload + length);
  return true;
}

// A WMAC route to one of the handlers below, which take the payload's bytes.
template <int (*Handler)(uint32_t, const uint8_t*, size_t)>
int Route(const IpcHead& head, const uint8_t* payload) {
  const ByteView bytes = IpcPayload(head, payload);
  return Handler(head.wtp_id, bytes.data(), bytes.size());
}

}  // namespace

const RadioBindingTlv* RdBindTlvByType(uint16_t type) {
  for (const RadioBindingTlv& tlv : kRdBindTlvs) {
    if (tlv.type == type) return &tlv;
  }
  return nullptr;
}

int CW_GetRdBind(RadioBinding* record, const uint8_t* data, size_t length) {
  if (!record) return 1;
  if (length && (!data || reinterpret_cast<uintptr_t>(data) > UINTPTR_MAX - length)) {
    OutOfBound(1);
    return 1;
  }
  WireReader r(data, length);
  bool invalid_radio = false;
  while (r.remaining() > 0) {
    uint16_t type = 0;
    uint16_t declared = 0;
    if (!r.u16(type) || !r.u16(declared) || declared > r.remaining()) {
      OutOfBound(2);
      return 1;
    }
    const RadioBindingTlv* tlv = RdBindTlvByType(type);
    if (!tlv && type != kRdBindIdleTimeoutTlv) {
      r.skip(declared);
      continue;
    }
    // Known types advance by their fixed size, whatever the length field says.
    ByteView value;
    if (!r.view(tlv ? tlv->size : kRdBindIdleTimeoutSize, value)) {
      OutOfBound(2);
      return 1;
    }
    if (!tlv) {
      HostReader(value).u32(record->idle_timeout);
      continue;
    }
    const uint8_t radio_id = value[0];
    if (!ValidRadio(radio_id)) {
      invalid_radio = true;
      continue;
    }
    RadioBindingRadio& radio = record->radios[radio_id - 1];
    radio.radio_id = radio_id;
    if (!StoreSub(radio, *tlv, value)) return 1;
  }
  if (invalid_radio) {
    printf(" Radio num is invalid.\n");
    fflush(stdout);
    record->radio_count = 0;
    return 0;
  }
  record->radio_count = RdBindRadioCount(*record);
  return 0;
}

int CW_FreeRdBind(RadioBinding* record) {
  if (!record) return 0;
  for (RadioBindingRadio& radio : record->radios) {
    for (auto& sub : radio.sub) sub.reset();
  }
  return 0;
}

void ClearRdBind(RadioBinding* record) {
  if (!record) return;
  CW_FreeRdBind(record);
  record->idle_timeout = 0;
  record->radio_count = 0;
  for (RadioBindingRadio& radio : record->radios) radio.radio_id = 0;
}

int RdBindSetSub(RadioBinding& record, uint8_t radio_id, uint16_t type, ByteView value) {
  const RadioBindingTlv* tlv = RdBindTlvByType(type);
  if (!tlv || !ValidRadio(radio_id)) return 1;
  RadioBindingRadio& radio = record.radios[radio_id - 1];
  radio.radio_id = radio_id;
  return StoreSub(radio, *tlv, value) ? 0 : 1;
}

uint32_t RdBindRadioCount(const RadioBinding& record) {
  uint32_t count = 0;
  for (const RadioBindingRadio& radio : record.radios) {
    for (const RadioBindingTlv& tlv : kRdBindTlvs) {
      if (tlv.type != 15 && radio.sub[tlv.slot]) {
        ++count;
        break;
      }
    }
  }
  return count;
}

size_t EncodeRdBindTlv(const RadioBinding& record, std::span<uint8_t> out) {
  WireWriter w(out);
  for (const RadioBindingRadio& radio : record.radios) {
    for (uint16_t type : kWmacOrder) {
      const RadioBindingTlv& tlv = *RdBindTlvByType(type);
      const auto& sub = radio.sub[tlv.slot];
      if (!sub) continue;
      w.u16(tlv.type);
      w.u16(tlv.size);
      // Values are the sub-records byte for byte, always at the fixed size.
      const size_t have = std::min<size_t>(sub->size(), tlv.size);
      w.bytes(sub->data(), have);
      w.zeros(tlv.size - have);
    }
  }
  return w.ok() ? w.size() : 0;
}

int EncodeRdBindElems(CW_PKT& pkt, const RadioBinding& record, uint32_t vendor_id) {
  bool ok = true;
  for (const RadioBindingRadio& radio : record.radios) {
    for (uint16_t type : kApOrder) {
      const RadioBindingTlv& tlv = *RdBindTlvByType(type);
      const auto& sub = radio.sub[tlv.slot];
      if (!sub) continue;
      // A sub-record held shorter than its type reads as zero-padded.
      std::array<uint8_t, capwap::kRadioRecordMax> padded{};
      std::copy_n(sub->begin(), std::min<size_t>(sub->size(), tlv.size), padded.begin());
      CwElementWriter e(pkt, tlv.element);
      PutRadioValue(e.w(), tlv, ByteView(padded).first(tlv.size), vendor_id);
      ok = ok && e.ok();
    }
  }
  return ok ? 0 : 1;
}

int EncodeRdBindElemsRfc(CW_PKT& pkt, const RadioBinding& record,
                         std::span<const uint32_t, 4> radio_types) {
  constexpr uint16_t kDefaultDecryptPeriod = 120;
  constexpr uint16_t kDecryptPeriodTlv = 16;  // radio ID u8, pad, period u16 at 2
  const RadioBindingTlv& decrypt = *RdBindTlvByType(kDecryptPeriodTlv);
  // The product order, with OFDM Control (5) beside Direct Sequence Control.
  constexpr uint16_t kRfcOrder[] = {1, 2, 5, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 16};
  bool ok = true;
  for (const RadioBindingRadio& radio : record.radios) {
    for (uint16_t type : kRfcOrder) {
      const RadioBindingTlv& tlv = *RdBindTlvByType(type);
      const capwap::RadioElementCodec* row = capwap::RfcRadioElementFor(tlv.element);
      const auto& sub = radio.sub[tlv.slot];
      // The radio's administrative state is a WTP's report, not a setting here.
      if (!row || !sub || tlv.slot == decrypt.slot ||
          tlv.element == capwap::elem::kRadioAdministrativeState) {
        continue;
      }
      std::array<uint8_t, capwap::kRadioRecordMax> padded{};
      std::copy_n(sub->begin(), std::min<size_t>(sub->size(), tlv.size), padded.begin());
      CwElementWriter e(pkt, tlv.element);
      ok = capwap::RadioToWire(*row, ByteView(padded).first(tlv.size), e.w()) && e.ok() && ok;
    }
  }
  for (size_t r = 0; r < radio_types.size(); ++r) {
    if (radio_types[r] == 0) continue;
    const auto& sub = record.radios[r].sub[decrypt.slot];
    uint16_t period = kDefaultDecryptPeriod;
    if (sub && sub->size() >= 4) capwap::HostReader(sub->data() + 2, 2).u16(period);
    CwElementWriter e(pkt, capwap::elem::kDecryptionErrorReportPeriod);
    e.w().u8(static_cast<uint8_t>(r + 1));
    e.w().u16(period);
    ok = ok && e.ok();
  }
  return ok ? 0 : 1;
}

int CW_AC_CfgUpdRdBinding(CW_WTPCB* wtp, const RadioBinding& record) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to allocate packet for radio binding of AP %s.\n",
            wtp->name.c_str());
    return 1;
  }
  if (record.idle_timeout != 0) {
    CwElementWriter e(*pkt, capwap::elem::kIdleTimeout);
    e.w().u32(record.idle_timeout);
  }
  if (wtp->rfc) {
    EncodeRdBindElemsRfc(*pkt, record, wtp->radio_types);
  } else {
    EncodeRdBindElems(*pkt, record, wtp->board_vendor_id);
  }
  FinishCtlMsg(*pkt, kMsgCfgUpdateReq, CW_AC_GetSeqNum(wtp, kMsgCfgUpdateReq));
  CW_AC_SendCtlMsg(std::move(pkt), wtp);
  return 0;
}

int AC_IPC_ProcSetRdBind(uint32_t wtp_id, const uint8_t* payload, size_t length) {
  CW_WTPCB* wtp = AnswerWtp(
      wtp_id, " Failed to find AP entry when processing Radio Binding message.");
  if (!wtp) return 1;
  ClearRdBind(&wtp->rdbind);
  if (CW_GetRdBind(&wtp->rdbind, payload, length) != 0) {
    ClearRdBind(&wtp->rdbind);
    return 1;
  }
  CW_AC_CfgUpdRdBinding(wtp, wtp->rdbind);
  ClearRdBind(&wtp->rdbind);
  return 0;
}

int AC_IPC_ProcGetRdBind(uint32_t wtp_id, const uint8_t* payload, size_t length) {
  CW_WTPCB* wtp = AnswerWtp(
      wtp_id, " Failed to find AP entry when processing getting radio binding.");
  if (!wtp) return 1;
  ClearRdBind(&wtp->rdbind);
  if (CW_GetRdBind(&wtp->rdbind, payload, length) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " GET RADIO BIND FOR AP %d ERROR.",
            static_cast<int>(wtp->apid));
    ClearRdBind(&wtp->rdbind);
    return 1;
  }
  wtp->wait_rdbind = 0;
  CfgAnswersRendezvous(wtp);
  return 0;
}

int AC_IPC_ProcWrrmScan(uint32_t wtp_id, const uint8_t* payload, size_t length) {
  CW_WTPCB* wtp = AnswerWtp(
      wtp_id, " Failed to find AP entry when processing rrm scanning message.");
  if (!wtp) return 1;
  if (!StoreAnswerBlock(wtp->wrrm_block, payload, length, "WRRM", wtp->apid)) return 1;
  wtp->wait_wrrm = 0;
  CfgAnswersRendezvous(wtp);
  return 0;
}

int AC_IPC_ProcWIDSCfg(uint32_t wtp_id, const uint8_t* payload, size_t length) {
  CW_WTPCB* wtp = AnswerWtp(
      wtp_id, " Failed to find AP entry when processing WIDS config message.");
  if (!wtp) return 1;
  if (!StoreAnswerBlock(wtp->wids_block, payload, length, "WIDS", wtp->apid)) return 1;
  wtp->wait_wids = 0;
  CfgAnswersRendezvous(wtp);
  return 0;
}

int RegisterRdBindHandlers() {
  static constexpr WmacRoute kRoutes[] = {{WmacIn::kSetRdBind, Route<AC_IPC_ProcSetRdBind>},
                                          {WmacIn::kGetRdBind, Route<AC_IPC_ProcGetRdBind>},
                                          {WmacIn::kWrrmScan, Route<AC_IPC_ProcWrrmScan>},
                                          {WmacIn::kWidsCfg, Route<AC_IPC_ProcWIDSCfg>}};
  return InstallIpcRoutes(kRoutes);
}

void SetCfgRespSender(CwCfgRespSender sender) { RespSender() = sender; }

int CfgAnswersRendezvous(CW_WTPCB* wtp) {
  if (!wtp || wtp->state != kStateConfig) return 0;
  if (wtp->wait_rdbind || wtp->wait_wrrm || wtp->wait_wids) return 0;
  if (wtp->chg_state_timer.Running()) return 0;
  if (CwCfgRespSender send = RespSender()) {
    send(wtp);
  } else {
    CwDebug(kDbgError, ZLOG_ERR, " No Config Status Response sender for AP %s.\n",
            wtp->name.c_str());
  }
  CW_FreeRdBind(&wtp->rdbind);
  wtp->cfg_ipc_timer.Cancel();
  ArmSessionTimer(wtp, wtp->chg_state_timer, 10, CW_AC_ChgStateTimerHandler, "change state",
                  TimerArming::kStartIfIdle);
  return 1;
}

void RdBindReset() { RespSender() = nullptr; }
