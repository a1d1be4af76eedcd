// capwap-dbm-bench: how many records per second the configuration database
// stores, on the disk under the benchmark's temporary root (not a tmpfs).
//
// Store/WtpRecord is the daemon's hottest write: the whole 39,464-byte AP
// record, stored after every change of an AP (about six times per AP per
// join), here round-robin over 32 APs. Store/SmallRecord is a group or
// setting record. Flush is one store followed by the explicit flush the
// daemon runs at most once a second: the longest the event loop waits on the
// disk.
//
// Usage: capwap-dbm-bench [--dir DIR] [Google Benchmark flags]
// DIR (default: the system's temporary directory) must be on the file system
// whose speed is wanted.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/dbm.h"
#include "registry/wtpcb.h"

namespace {

constexpr int kApTable = 37;
constexpr int kGroupTable = 38;
constexpr uint32_t kAps = 32;

std::string g_bench_dir = std::filesystem::temp_directory_path().string();

// A database under a fresh CAPWAP_ROOT for one benchmark run.
class ScratchDatabase {
 public:
  ScratchDatabase() {
    root_ = g_bench_dir + "/capwap-dbm-bench-XXXXXX";
    if (!mkdtemp(root_.data())) root_.clear();
    setenv("CAPWAP_ROOT", root_.c_str(), 1);
    ok_ = !root_.empty() && DBM_Connect() == 0 && DBM_Open(kApTable, "cw_ap") == 0 &&
          DBM_Open(kGroupTable, "cw_apgroup") == 0;
  }
  ~ScratchDatabase() {
    DBM_Disconnect();
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }
  bool ok() const { return ok_; }

 private:
  std::string root_;
  bool ok_ = false;
};

capwap::Bytes Key(uint32_t id) {
  capwap::Bytes key(4);
  capwap::HostWriter(key.data(), key.size()).u32(id);
  return key;
}

void StoreRoundRobin(benchmark::State& state, int table, size_t record_size) {
  ScratchDatabase db;
  if (!db.ok()) {
    state.SkipWithError("cannot open the database");
    return;
  }
  std::vector<uint8_t> record(record_size, 0x5A);
  uint32_t id = 0;
  for (auto _ : state) {
    capwap::Bytes key = Key(id % kAps);
    record[0] = static_cast<uint8_t>(id);  // every store really changes the record
    if (DBM_Store(table, key.data(), key.size(), record.data(), record.size()) != 0) {
      state.SkipWithError("store failed");
      return;
    }
    ++id;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(record_size));
}

void BM_StoreWtpRecord(benchmark::State& state) {
  StoreRoundRobin(state, kApTable, kWtpRecordSize);
}
BENCHMARK(BM_StoreWtpRecord)->Name("Store/WtpRecord")->UseRealTime();

void BM_StoreSmallRecord(benchmark::State& state) {
  StoreRoundRobin(state, kGroupTable, 176);
}
BENCHMARK(BM_StoreSmallRecord)->Name("Store/SmallRecord")->UseRealTime();

void BM_Flush(benchmark::State& state) {
  ScratchDatabase db;
  if (!db.ok()) {
    state.SkipWithError("cannot open the database");
    return;
  }
  std::vector<uint8_t> record(kWtpRecordSize, 0xA5);
  capwap::Bytes key = Key(1);
  uint8_t round = 0;
  for (auto _ : state) {
    record[0] = round++;
    DBM_Store(kApTable, key.data(), key.size(), record.data(), record.size());
    capwap::DbmFlush();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Flush)->Name("Flush")->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
      g_bench_dir = argv[++i];
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
