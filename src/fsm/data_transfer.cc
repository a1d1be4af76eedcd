#include "fsm/data_transfer.h"

#include <new>

#include "diag/debug.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;

namespace {

constexpr size_t kDataHeaderLen = 4;  // type, mode, length

bool DecodeData(DataTransferData* record, capwap::ByteView value) {
  capwap::WireReader r(value);
  uint16_t length = 0;
  if (!r.u8(record->type) || !r.u8(record->mode) || !r.u16(length)) return false;
  const size_t present = value.size() - kDataHeaderLen;
  if (length > present) {
    CwDebug(kDbgError, ZLOG_INFO,
            " Data Transfer Data announces %u bytes and carries %zu; the rest is not read.\n",
            static_cast<unsigned>(length), present);
  }
  capwap::ByteView data = value.subspan(kDataHeaderLen, std::min<size_t>(length, present));
  record->data.assign(data.begin(), data.end());
  return true;
}

}  // namespace

int CW_AC_DecDataTransReq(DataTransferData* record, const CW_RCVPKT* rcv) {
  *record = DataTransferData{};
  CwElementWalk walk(rcv->Elements());
  try {
    for (const CwElement& e : walk) {
      if (e.type == elem::kDataTransferData && !DecodeData(record, e.value)) return 1;
    }
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return walk.complete() ? 0 : 1;
}

void CW_AC_FreeCrashData(std::list<capwap::Bytes>& list) { list.clear(); }

void CW_AC_DealCrashData(std::list<capwap::Bytes>& list) {
  CwDebug(kDbgEvent, ZLOG_INFO, " Data transfer complete: %zu chunks received.\n", list.size());
  CW_AC_FreeCrashData(list);
}

int CW_AC_SaveTransData(CW_WTPCB* wtp, DataTransferData& record) {
  if (record.type == kChunkError) {
    CW_AC_FreeCrashData(wtp->crash_data);
    return 0;
  }
  try {
    wtp->crash_data.push_back(std::move(record.data));
  } catch (const std::bad_alloc&) {
    CW_AC_FreeCrashData(wtp->crash_data);
    return 1;
  }
  if (record.type == kChunkEnd) CW_AC_DealCrashData(wtp->crash_data);
  return 0;
}

int CW_AC_SndDataTransRsp(CW_WTPCB* wtp, uint32_t result) {
  CwPktPtr pkt = CW_AC_PktMalloc(kCwHeadersLen + kCwElemHeaderLen + 4);
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kResultCode);
    e.w().u32(result);
  }
  FinishCtlMsg(*pkt, kMsgDataTransferRsp,
                  CW_AC_GetSeqNum(wtp, kMsgDataTransferRsp));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_AC_DataTransReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 0;
  capwap::RefreshLiveness(wtp);
  DataTransferData record;
  uint32_t result = 1;
  if (CW_AC_DecDataTransReq(&record, rcv) == 0) {
    result = CW_AC_SaveTransData(wtp, record);
  } else {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Data Transfer Request frame.\n");
  }
  CW_AC_SndDataTransRsp(wtp, result);
  return 0;
}

int CW_AC_SndDataTransReq(CW_WTPCB* wtp, uint8_t mode) {
  if (!wtp) return 1;
  CwPktPtr pkt = CW_AC_PktMalloc(kCwHeadersLen + kCwElemHeaderLen + 1);
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kDataTransferMode);
    e.w().u8(mode);
  }
  FinishCtlMsg(*pkt, kMsgDataTransferReq, CW_AC_GetSeqNum(wtp, kMsgDataTransferReq));
  CwDebug(kDbgPacket, ZLOG_NOTICE, " Sending Data Transmit Request to AP.\n");
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

int CW_AC_DecDataTransRsp(uint32_t* result, const CW_RCVPKT* rcv) {
  *result = 0;
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (e.type == elem::kResultCode && !capwap::WireReader(e.value).u32(*result)) return 1;
  }
  return walk.complete() ? 0 : 1;
}

int CW_AC_DataTransRspHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  CwDebug(kDbgPacket, ZLOG_NOTICE, " Receiving Data Transmit Response from AP.\n");
  capwap::RefreshLiveness(wtp);
  uint32_t result = 0;
  if (CW_AC_DecDataTransRsp(&result, rcv) != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to decode Data Transfer Response frame.\n");
    return 1;
  }
  if (result != 0) {
    CwDebug(kDbgError, ZLOG_ERR, " Result code %d from Data Transfer Response frame.\n",
            static_cast<int>(result));
    return 1;
  }
  return 0;
}
