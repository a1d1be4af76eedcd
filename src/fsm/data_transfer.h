// Data Transfer: an AP pushes crash data or a memory dump in chunks; the
// controller keeps the chunks in the AP's crash-data list until the end
// chunk (or an error chunk, or teardown) and answers each with a result.
#pragma once

#include <cstdint>
#include <list>

#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

// Decoded Data Transfer Data element (13).
struct DataTransferData {
  uint8_t type = 0;  // 1 data, 2 end of data, 5 error
  uint8_t mode = 0;  // 1 crash data, 2 memory dump
  capwap::Bytes data;
};
enum : uint8_t { kChunkData = 1, kChunkEnd = 2, kChunkError = 5 };

// Message type 21, any session state: saves the chunk and answers it.
// Always 0.
int CW_AC_DataTransReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// 1 when an element header or value runs past the message. A data length
// beyond its element is cut to the element; of several Data Transfer Data
// elements the last one counts.
int CW_AC_DecDataTransReq(DataTransferData* record, const CW_RCVPKT* rcv);
// Appends the chunk (or releases the list at an end or error chunk). 0, or 1
// when the node could not be had (the list is then released).
int CW_AC_SaveTransData(CW_WTPCB* wtp, DataTransferData& record);
void CW_AC_FreeCrashData(std::list<capwap::Bytes>& list);
// End of a transfer: the data has been received whole; it is released.
void CW_AC_DealCrashData(std::list<capwap::Bytes>& list);
int CW_AC_SndDataTransRsp(CW_WTPCB* wtp, uint32_t result);
// Asks the AP for its data (mode 1 crash data, 2 memory dump). 0 / 1.
int CW_AC_SndDataTransReq(CW_WTPCB* wtp, uint8_t mode);

// Message type 22: the AP's answer to CW_AC_SndDataTransReq. 0 when it
// reports success.
int CW_AC_DataTransRspHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecDataTransRsp(uint32_t* result, const CW_RCVPKT* rcv);
