// Image download: the AP asks for the image its Join Response named (or an
// upgrade command gave it); the controller pushes the file in 1024-byte
// Image Data Requests, one per acknowledgement, the last with the size and
// MD5 digest, and ends the session after the last acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/images.h"
#include "platform/bytes.h"
#include "registry/wtpcb.h"
#include "transport/types.h"

inline constexpr size_t kImageBlockSize = 1024;

// Decoded Image Data Request: the Image Identifier after its vendor
// identifier (model, version and image name sub-elements), clipped to 112.
struct ImageDataReq {
  std::array<uint8_t, 112> identifier{};  // 4 zero bytes, then the value
  size_t identifier_len = 0;
  bool initiate_download = false;
};

// Message type 15. 0 when the download started; 1 after answering result 1
// and ending the session.
int CW_AC_ImgDataReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
// 0 when both Image Identifier and Initiate Download are present.
int CW_AC_DecImgDataReq(ImageDataReq* record, const CW_RCVPKT* rcv);
// 1 when the named image is in the controller's own table and its file
// exists; its size and path are then in the control block.
int CW_AC_IsImgExist(CW_WTPCB* wtp, const ImageDataReq& record);
// The file of an image record: an operator upload in the userspace folder,
// else the built-in file in the image folder. Empty when the file is missing.
std::string CW_AC_GetImgFullName(const ImageRecord& record);
uint32_t CW_AC_GetImgSize(const std::string& path);
int CW_AC_SndImgDataRsp(CW_WTPCB* wtp, uint32_t result);
// The next block (the first opens the file). 0 / 1 (the session has ended).
int CW_AC_SndImgReq(CW_WTPCB* wtp);
// Message type 16: the AP's acknowledgement of a block.
int CW_AC_ImgDataRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv);
int CW_AC_DecImgDataResp(uint32_t* result, const CW_RCVPKT* rcv);
// Size (u32, big-endian) and MD5 digest of the image being sent. 0 / 1.
int CW_AC_GetImgInfo(std::array<uint8_t, 20>& out, const CW_WTPCB& wtp);
void UTIL_MD5Calc(std::array<uint8_t, 16>& digest, capwap::ByteView data);
