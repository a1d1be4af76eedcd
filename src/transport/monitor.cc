#include "transport/monitor.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "diag/debug.h"
#include "platform/lib.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "registry/tables.h"
#include "transport/codec.h"
#include "transport/sockets.h"

const char* const g_aucMonApProcName[6] = {"WTP", "WMAC_AP", "wscan", "wids_ap", "dhcpcd", "daq_ap"};

namespace {

constexpr size_t kMonBufferSize = 4096;
constexpr size_t kChunkHeadLen = kCwHeadersLen + 8;  // headers, process index, total size
constexpr const char* kUserSpaceDir = "/etc/config/vela/userspace";

// First chunk of a new upload: a fresh file whose name holds nothing the AP
// sent but the process index (bounded), so no upload can write elsewhere.
void BeginUpload(CW_WTPCB* wtp, capwap::MonCore& record, uint32_t proc_index) {
  record.proc_index = static_cast<uint8_t>(proc_index);
  record.proc_name = g_aucMonApProcName[proc_index];
  record.file_name = MonCoreFileName(wtp->apid, record.proc_name.c_str(), time(nullptr));
  record.last_seq = 0;
  record.total = 0;
  record.received = 0;
  record.in_progress = 1;
  if (!record.stall_timer.Running() && capwapm && capwapm->master) {
    record.stall_timer.Start(capwapm->master.get(), kMonCoreStallSeconds, CW_AC_MonTimeOut,
                             &record);
  }
}

}  // namespace

std::string MonCoreFileName(uint32_t apid, const char* process, long now) {
  char name[96];
  std::snprintf(name, sizeof name, "/corefile/core-ap%u-%s-%ld", apid, process, now);
  return capwap::RootPath(kUserSpaceDir) + name;
}

int AC_RcvMonPkt(thread* t) {
  thread_rearm(t);
  capwap::Bytes buffer(kMonBufferSize);
  sockaddr_in source{};
  socklen_t source_len = sizeof source;
  const ssize_t n = recvfrom(THREAD_FD(t), buffer.data(), buffer.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&source), &source_len);
  if (n <= 0) return 0;
  AC_MonHandlePkt(capwap::ByteView(buffer.data(), static_cast<size_t>(n)), 0,
                  reinterpret_cast<const sockaddr*>(&source));
  return 0;
}

int AC_MonHandlePkt(capwap::ByteView datagram, int is_ipv6, const sockaddr* source) {
  if (is_ipv6 || datagram.size() < kCwHeadersLen || !source) return 1;
  CW_HDR hdr;
  CW_DEC_CWHdr(&hdr, datagram.data());
  if (CW_CheckCWHdr(&hdr) != 0) return 1;
  sockaddr_in from{};
  std::memcpy(&from, source, sizeof from);
  // The AP is known by its address at its control port: the upload comes
  // from another port of the same host.
  CW_ADDR control = AddrFromSockaddr4(from);
  control.port = capwap::CapwapPort(capwap::kControlPort);
  CW_WTPCB* wtp = CW_AC_GetWTPByIP(control);
  if (!wtp) {
    CwDebug(kDbgEvent, ZLOG_INFO, " Core-dump chunk from %s: no AP at its control port.\n",
            capwap::AddrText(control).c_str());
    return 1;
  }
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, datagram.data() + kCwHdrLen);
  if (ctl.msg_type != kMonCoreMsgType) return 0;
  return CW_AC_DecMonCore(datagram, wtp, from);
}

int CW_AC_DecMonCore(capwap::ByteView datagram, CW_WTPCB* wtp, const sockaddr_in& source) {
  if (datagram.size() < kChunkHeadLen) return 1;
  capwap::WireReader r(datagram.subspan(kCwHeadersLen));
  uint32_t proc_index = 0;
  uint32_t total = 0;
  r.u32(proc_index);
  r.u32(total);
  if (proc_index >= wtp->mon_core.size()) return 0;
  CW_CTLHDR ctl;
  CW_DEC_CWCtlHdr(&ctl, datagram.data() + kCwHdrLen);
  const uint8_t seq = ctl.seq;
  capwap::MonCore& record = wtp->mon_core[proc_index];
  if (seq == 1 && !record.in_progress) BeginUpload(wtp, record, proc_index);

  // A chunk the AP sends again (its acknowledgement was lost) is answered
  // again but not appended twice; after completion nothing more is written.
  const bool repeated = record.last_seq == seq && record.received > 0;
  const bool writable = record.in_progress && !repeated;
  capwap::ByteView data = datagram.subspan(kChunkHeadLen);
  record.proc_index = static_cast<uint8_t>(proc_index);
  record.proc_name = g_aucMonApProcName[proc_index];
  record.total = total;
  if (writable) {
    record.received += static_cast<uint32_t>(data.size());
    record.last_seq = seq;
    if (!record.file_name.empty()) CW_AC_WriteCoreToFlash(record.file_name, data);
    if (record.received >= record.total) {
      record.in_progress = 0;
      record.stall_timer.Cancel();
      CwDebug(kDbgEvent, ZLOG_NOTICE, " Core file of %s from AP %s stored in %s.\n",
              record.proc_name.c_str(), wtp->name.c_str(), record.file_name.c_str());
    }
  }
  CW_AC_MonCoreRep(record, seq, source);
  return 0;
}

int CW_AC_WriteCoreToFlash(const std::string& file_name, capwap::ByteView data) {
  if (!capwap::MakeParentDirs(file_name)) return 1;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(file_name.c_str(), "ab"));
  if (!file) {
    CwDebug(kDbgError, ZLOG_ERR, " Failed to open core file %s.\n", file_name.c_str());
    return 1;
  }
  return std::fwrite(data.data(), 1, data.size(), file.get()) == data.size() ? 0 : 1;
}

void CW_AC_MonCoreRep(const capwap::MonCore& record, uint8_t seq, const sockaddr_in& source) {
  uint8_t ack[kMonCoreAckLen] = {};
  CW_HDR hdr;
  CW_EncCwHdr(&hdr, ack);
  CW_CTLHDR ctl;
  ctl.msg_type = kMonCoreMsgType;
  ctl.seq = seq;
  ctl.elem_len = 4;
  CW_EncCwCtlHdr(&ctl, ack + kCwHdrLen);
  capwap::WireWriter w(ack + kCwHeadersLen, 4);
  w.u16(record.proc_index);
  w.u16(record.in_progress == 0 && record.received >= record.total ? 1 : 0);
  sendto(g_iAC_MonCoreFd, ack, sizeof ack, MSG_DONTWAIT,
         reinterpret_cast<const sockaddr*>(&source), sizeof source);
}

int CW_AC_MonTimeOut(thread* t) {
  auto* record = static_cast<capwap::MonCore*>(THREAD_ARG(t));
  if (!record || !record->in_progress) return 0;
  CwDebug(kDbgError, ZLOG_ERR, " Core file %s stalled; deleted.\n", record->file_name.c_str());
  // The file is unlinked directly: no shell, and no file-system-wide sync,
  // which would stall the loop and is not needed for a deletion.
  if (!record->file_name.empty()) unlink(record->file_name.c_str());
  record->in_progress = 0;
  record->file_name.clear();
  return 0;
}
