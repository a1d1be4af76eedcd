#include "fsm/image.h"

#include <fcntl.h>
#include <md5.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "diag/debug.h"
#include "platform/identity.h"
#include "platform/paths.h"
#include "registry/session.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/elements.h"
#include "transport/sendq.h"

namespace elem = capwap::elem;

namespace {

constexpr const char* kUserSpaceDir = "/etc/config/vela/userspace";
constexpr const char* kImageDir = "/usr/sbin/apimage";
constexpr size_t kVendorIdLen = 4;
constexpr uint8_t kBlockData = 1;
constexpr uint8_t kBlockEnd = 2;

enum : uint16_t { kIdModel = 0, kIdVersion = 1, kIdName = 2 };

struct RequestedImage {
  std::string model, version, name;
};

RequestedImage ParseIdentifier(const ImageDataReq& record) {
  RequestedImage out;
  capwap::WireReader r(capwap::ByteView(record.identifier).subspan(kVendorIdLen,
                                                                   record.identifier_len));
  uint16_t type = 0, length = 0;
  capwap::ByteView value;
  while (r.u16(type) && r.u16(length) && r.view(length, value)) {
    std::string text(reinterpret_cast<const char*>(value.data()), value.size());
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    if (type == kIdModel) out.model = text;
    if (type == kIdVersion) out.version = text;
    if (type == kIdName) out.name = text;
  }
  return out;
}

const ImageRecord* FindImage(const RequestedImage& wanted) {
  for (const ImageVendor& entry : g_aucImgDb) {
    if (entry.vendor_id != g_uiOid) continue;
    for (const ImageRecord& rec : entry.records) {
      if (!rec.model.empty() && rec.model == wanted.model && rec.version == wanted.version &&
          rec.name == wanted.name) {
        return &rec;
      }
    }
  }
  return nullptr;
}

int EndSession(CW_WTPCB* wtp, const char* reason) {
  __CW_AC_HandleTunnelDown(wtp, reason, __LINE__);
  return 1;
}

int Refuse(CW_WTPCB* wtp, const char* message) {
  CwDebug(kDbgError, ZLOG_ERR, "%s", message);
  CW_AC_SndImgDataRsp(wtp, 1);
  return EndSession(wtp, "CW_AC_ImgDataReqHandler");
}

void ClearDownload(CW_WTPCB* wtp) {
  wtp->image_file.reset();
  wtp->image_downloading = 0;
  wtp->image_size = 0;
  wtp->image_sent = 0;
  wtp->image_path.clear();
}

bool PutBlock(CW_PKT& pkt, CW_WTPCB* wtp, bool last, size_t size) {
  capwap::Bytes block(size);
  if (std::fseek(wtp->image_file.get(), static_cast<long>(wtp->image_sent), SEEK_SET) != 0 ||
      std::fread(block.data(), 1, size, wtp->image_file.get()) != size) {
    return false;
  }
  CwElementWriter e(pkt, elem::kImageData);
  e.w().u8(last ? kBlockEnd : kBlockData);
  e.w().bytes(block);
  if (!e.ok()) return false;
  wtp->image_sent += static_cast<uint32_t>(size);
  return true;
}

}  // namespace

// --- Image Data Request from the AP -----------------------------------------------

int CW_AC_DecImgDataReq(ImageDataReq* record, const CW_RCVPKT* rcv) {
  *record = ImageDataReq{};
  bool have_identifier = false;
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (e.type == elem::kImageIdentifier) {
      if (e.value.size() < kVendorIdLen) return 1;
      capwap::ByteView value = e.value.subspan(kVendorIdLen);
      const size_t room = record->identifier.size() - kVendorIdLen;
      record->identifier.fill(0);
      record->identifier_len = std::min(value.size(), room);
      std::copy_n(value.begin(), record->identifier_len, record->identifier.begin() + kVendorIdLen);
      have_identifier = true;
    } else if (e.type == elem::kInitiateDownload) {
      record->initiate_download = true;
    }
  }
  return walk.complete() && have_identifier && record->initiate_download ? 0 : 1;
}

std::string CW_AC_GetImgFullName(const ImageRecord& record) {
  std::string path;
  // An operator upload names a file of the userspace folder; a name with a
  // directory part would reach elsewhere and is not opened.
  if (!record.user_file.empty()) {
    if (record.user_file.find('/') == std::string::npos) {
      path = capwap::RootPath(kUserSpaceDir) + "/" + record.user_file;
    }
  } else if (!record.file_name.empty()) {
    path = capwap::RootPath(kImageDir) + "/" + record.file_name;
  } else if (!record.name.empty()) {
    path = capwap::RootPath(kImageDir) + "/" + record.name;
  }
  if (path.empty() || access(path.c_str(), R_OK) != 0) {
    CwDebug(kDbgEvent, ZLOG_INFO, " Image file %s doesn't exist.\n", path.c_str());
    return {};
  }
  return path;
}

uint32_t CW_AC_GetImgSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_size);
}

int CW_AC_IsImgExist(CW_WTPCB* wtp, const ImageDataReq& record) {
  const ImageRecord* image = FindImage(ParseIdentifier(record));
  if (!image) return 0;
  std::string path = CW_AC_GetImgFullName(*image);
  if (path.empty()) return 0;
  wtp->image_size = CW_AC_GetImgSize(path);
  wtp->image_path = std::move(path);
  return 1;
}

int CW_AC_ImgDataReqHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  capwap::RefreshLiveness(wtp);
  ImageDataReq record;
  if (CW_AC_DecImgDataReq(&record, rcv) != 0) {
    return Refuse(wtp, " Failed to decode Image Data Request.\n");
  }
  if (!CW_AC_IsImgExist(wtp, record)) {
    return Refuse(wtp, " Image data doesn't exist, so failed to process Image Data Request.\n");
  }
  wtp->image_id = record.identifier;
  wtp->join_timer.Cancel();
  if (wtp->state != kStateRun) {
    wtp->state = kStateImage;
    StoreWtp(wtp);
  }
  CW_AC_SndImgDataRsp(wtp, 0);
  return CW_AC_SndImgReq(wtp);
}

int CW_AC_SndImgDataRsp(CW_WTPCB* wtp, uint32_t result) {
  CwPktPtr pkt = CW_AC_PktMalloc(kCwHeadersLen + kCwElemHeaderLen + 4);
  if (!pkt) return 1;
  {
    CwElementWriter e(*pkt, elem::kResultCode);
    e.w().u32(result);
  }
  FinishCtlMsg(*pkt, kMsgImageDataRsp, CW_AC_GetSeqNum(wtp, kMsgImageDataRsp));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

// --- Blocks to the AP --------------------------------------------------------------

int CW_AC_SndImgReq(CW_WTPCB* wtp) {
  if (!wtp->image_downloading) {
    wtp->image_downloading = 1;
    wtp->image_sent = 0;
    wtp->image_file.reset(std::fopen(wtp->image_path.c_str(), "r"));
    if (!wtp->image_file) return EndSession(wtp, "CW_AC_SndImgReq");
  }
  const size_t remaining = wtp->image_size - std::min(wtp->image_sent, wtp->image_size);
  const bool last = remaining <= kImageBlockSize;
  const size_t size = last ? remaining : kImageBlockSize;
  CwPktPtr pkt = CW_AC_PktMalloc();
  if (!pkt || !PutBlock(*pkt, wtp, last, size)) return EndSession(wtp, "CW_AC_SndImgReq");
  if (last) {
    std::array<uint8_t, 20> info{};
    if (CW_AC_GetImgInfo(info, *wtp) != 0) return EndSession(wtp, "CW_AC_SndImgReq");
    CwElementWriter e(*pkt, elem::kImageInformation);
    e.w().bytes(info.data(), info.size());
    if (!e.ok()) return EndSession(wtp, "CW_AC_SndImgReq");
  }
  FinishCtlMsg(*pkt, kMsgImageDataReq, CW_AC_GetSeqNum(wtp, kMsgImageDataReq));
  return CW_AC_SendCtlMsg(std::move(pkt), wtp);
}

void UTIL_MD5Calc(std::array<uint8_t, 16>& digest, capwap::ByteView data) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data.data(), data.size());
  MD5Final(digest.data(), &ctx);
}

int CW_AC_GetImgInfo(std::array<uint8_t, 20>& out, const CW_WTPCB& wtp) {
  const int fd = open(wtp.image_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  std::array<uint8_t, 16> digest{};
  if (wtp.image_size == 0) {
    UTIL_MD5Calc(digest, {});
  } else {
    void* map = mmap(nullptr, wtp.image_size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      close(fd);
      CwDebug(kDbgError, ZLOG_ERR, "CW_AC_GetImgInfo::mmap fail\n");
      return 1;
    }
    UTIL_MD5Calc(digest, capwap::ByteView(static_cast<const uint8_t*>(map), wtp.image_size));
    munmap(map, wtp.image_size);
  }
  close(fd);
  capwap::WireWriter w(out.data(), out.size());
  w.u32(wtp.image_size);
  w.bytes(digest.data(), digest.size());
  return 0;
}

// --- Acknowledgements from the AP --------------------------------------------------

int CW_AC_DecImgDataResp(uint32_t* result, const CW_RCVPKT* rcv) {
  *result = 1;
  bool found = false;
  CwElementWalk walk(rcv->Elements());
  for (const CwElement& e : walk) {
    if (e.type == elem::kResultCode && capwap::WireReader(e.value).u32(*result)) found = true;
  }
  return walk.complete() && found ? 0 : 1;
}

int CW_AC_ImgDataRespHandler(CW_WTPCB* wtp, CW_RCVPKT* rcv) {
  if (!wtp || !rcv) return 1;
  capwap::RefreshLiveness(wtp);
  uint32_t result = 1;
  if (CW_AC_DecImgDataResp(&result, rcv) != 0) result = 1;
  if (result != 0 && wtp->state != kStateRun) {
    EndSession(wtp, "CW_AC_ImgDataRespHandler");
    return 0;
  }
  if (!wtp->image_downloading) return 0;
  if (wtp->image_sent >= wtp->image_size) {
    CwDebug(kDbgEvent, ZLOG_NOTICE, " Image sent to AP %s; it restarts with it.\n",
            wtp->name.c_str());
    ClearDownload(wtp);
    EndSession(wtp, "CW_AC_ImgDataRespHandler");
    return 0;
  }
  return CW_AC_SndImgReq(wtp);
}
