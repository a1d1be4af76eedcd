#include "platform/dbm.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "support/lab.h"

namespace {

using capwap::Bytes;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes U32Key(uint32_t id) {
  Bytes key(4);
  capwap::HostWriter(key.data(), key.size()).u32(id);
  return key;
}

// Big-endian keys walk in numeric order.
Bytes OrderedKey(uint32_t id) {
  Bytes key(4);
  capwap::WireWriter(key.data(), key.size()).u32(id);
  return key;
}

uint32_t OrderedId(const Bytes& key) {
  uint32_t id = 0;
  capwap::WireReader reader(key.data(), key.size());
  EXPECT_TRUE(reader.u32(id) && reader.done());
  return id;
}

int Store(int table, const Bytes& key, const Bytes& value) {
  return DBM_Store(table, key.data(), key.size(), value.data(), value.size());
}

std::optional<Bytes> Fetch(int table, const Bytes& key) {
  return DBM_Fetch(table, key.data(), key.size());
}

std::vector<Bytes> WalkKeys(int table) {
  std::vector<Bytes> keys;
  for (auto key = DBM_GetFirstKey(table); key; key = DBM_GetNextKey(table, key->data(), key->size())) {
    keys.push_back(*key);
    if (keys.size() > 10'000) break;
  }
  return keys;
}

class DbmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    capwap::test::ResetAllGlobals();
    DBM_Disconnect();
    ASSERT_EQ(DBM_Connect(), 0);
    ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
    ASSERT_EQ(DBM_Open(38, "cw_apgroup"), 0);
  }
  void TearDown() override {
    DBM_Disconnect();
    capwap::test::ResetAllGlobals();
  }

  capwap::test::TempRoot root;
};

TEST_F(DbmTest, StoreFetchReplaceDelete) {
  Bytes key = U32Key(7);
  EXPECT_FALSE(Fetch(37, key));
  ASSERT_EQ(Store(37, key, Bytes(39464, 0xA5)), 0);
  EXPECT_EQ(Fetch(37, key), Bytes(39464, 0xA5));

  // A shorter replacement leaves nothing of the longer record behind.
  ASSERT_EQ(Store(37, key, Text("short")), 0);
  EXPECT_EQ(Fetch(37, key), Text("short"));
  EXPECT_EQ(capwap::DbmCount(37), 1u);

  // The same key in another table is another record.
  ASSERT_EQ(Store(38, key, Text("group")), 0);
  EXPECT_EQ(Fetch(37, key), Text("short"));
  EXPECT_EQ(Fetch(38, key), Text("group"));

  EXPECT_EQ(DBM_Delete(37, key.data(), key.size()), 0);
  EXPECT_FALSE(Fetch(37, key));
  EXPECT_EQ(DBM_Delete(37, key.data(), key.size()), 0) << "deleting a missing key is not an error";
  EXPECT_EQ(capwap::DbmCount(37), 0u);
  EXPECT_EQ(Fetch(38, key), Text("group"));

  // An empty value is a record of its own.
  ASSERT_EQ(DBM_Store(37, key.data(), key.size(), nullptr, 0), 0);
  EXPECT_EQ(Fetch(37, key), Bytes{});
}

TEST_F(DbmTest, WalksKeysInByteOrderAndStepsOverDeletedKeys) {
  EXPECT_FALSE(DBM_GetFirstKey(37));
  const std::vector<std::string> stored = {"b", "ab", "a", "abc", std::string("\0\x01", 2), "\xff",
                                           "B"};
  for (const auto& k : stored) ASSERT_EQ(Store(37, Text(k), Text("v" + k)), 0);

  std::vector<Bytes> expected = {Text(std::string("\0\x01", 2)), Text("B"), Text("a"), Text("ab"),
                                 Text("abc"), Text("b"), Text("\xff")};
  EXPECT_EQ(WalkKeys(37), expected);

  // The successor of a key that no longer exists, and of one never stored.
  ASSERT_EQ(DBM_Delete(37, "ab", 2), 0);
  auto next = DBM_GetNextKey(37, "ab", 2);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, Text("abc"));
  next = DBM_GetNextKey(37, "aa", 2);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, Text("abc"));
  EXPECT_FALSE(DBM_GetNextKey(37, "\xff", 1));
  EXPECT_FALSE(DBM_GetNextKey(37, "\xff\xff", 2));

  // Host-order integer keys walk in byte order, not numeric order.
  for (uint32_t id : {1u, 256u, 2u}) ASSERT_EQ(Store(38, U32Key(id), Text("g")), 0);
  std::vector<Bytes> groups = WalkKeys(38);
  EXPECT_TRUE(std::is_sorted(groups.begin(), groups.end()));
  EXPECT_EQ(groups.size(), 3u);
}

TEST_F(DbmTest, RecordsSurviveReconnection) {
  ASSERT_EQ(Store(37, U32Key(1), Text("one")), 0);
  ASSERT_EQ(Store(38, U32Key(1), Text("group one")), 0);
  DBM_Disconnect();
  DBM_Disconnect();  // idempotent
  capwap::LogCapture log;
  EXPECT_FALSE(Fetch(37, U32Key(1))) << "nothing is readable while disconnected";

  ASSERT_EQ(DBM_Connect(), 0);
  ASSERT_EQ(DBM_Connect(), 0);
  ASSERT_EQ(DBM_Open(38, "cw_apgroup"), 0);
  ASSERT_EQ(DBM_Open(40, "cw_ap"), 0) << "a table is found by its name";
  EXPECT_EQ(Fetch(40, U32Key(1)), Text("one"));
  EXPECT_EQ(Fetch(38, U32Key(1)), Text("group one"));
}

TEST_F(DbmTest, OnlyOpenTablesAreUsedAndAClosedTableStaysClosed) {
  ASSERT_EQ(Store(37, U32Key(3), Text("x")), 0);
  DBM_Close(37);
  DBM_Close(37);
  capwap::LogCapture log;
  EXPECT_EQ(Store(37, U32Key(4), Text("y")), 1);
  EXPECT_FALSE(Fetch(37, U32Key(3)));
  EXPECT_FALSE(DBM_GetFirstKey(37));
  EXPECT_EQ(DBM_Delete(37, U32Key(3).data(), 4), 1);
  EXPECT_EQ(Store(55, U32Key(1), Text("z")), 1) << "a number never opened";
  EXPECT_TRUE(log.Contains("store on table 37, which is not open")) << log.text();
  EXPECT_TRUE(log.Contains("table 55, which is not open")) << log.text();
  ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
  EXPECT_EQ(Fetch(37, U32Key(3)), Text("x"));
  EXPECT_FALSE(Fetch(37, U32Key(4)));

  // The settings table is open from the connection on, across reconnections,
  // and closes like any other.
  const std::string key = "g_bCwAutoApEnabled";
  ASSERT_EQ(DBM_Store(17, key.data(), key.size(), "\x01\0\0\0", 4), 0);
  DBM_Disconnect();
  ASSERT_EQ(DBM_Connect(), 0);
  EXPECT_EQ(Fetch(17, Text(key)), Bytes({1, 0, 0, 0}));
  DBM_Close(17);
  EXPECT_EQ(DBM_Store(17, key.data(), key.size(), "\0\0\0\0", 4), 1);
}

TEST_F(DbmTest, ChangesAreFlushedOnTheLoopWithinASecond) {
  capwap::ManualClock clock;
  ThreadMasterPtr loop = thread_master_create(clock, 1000);
  capwap::DbmFlushOn(loop.get());
  thread_master_run_for(loop.get(), clock, 1.0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u) << "nothing to flush, nothing pending";
  ASSERT_EQ(Store(37, U32Key(1), Text("a")), 0);
  ASSERT_EQ(Store(37, U32Key(2), Text("b")), 0);
  auto pending = thread_master_pending_timers(loop.get());
  ASSERT_EQ(pending.size(), 1u) << "one flush for both changes";
  EXPECT_LE(pending[0].remaining_seconds, 1.0);
  thread_master_run_for(loop.get(), clock, 1.0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u);
  EXPECT_EQ(DBM_Delete(37, U32Key(1).data(), 4), 0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 1u) << "the next change arms it again";
  DBM_Disconnect();
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u) << "flushed and forgotten at disconnect";
}

TEST_F(DbmTest, InvalidUseIsRefusedWithALogLine) {
  capwap::LogCapture log;
  EXPECT_EQ(DBM_Store(37, "", 0, "v", 1), 1);
  EXPECT_TRUE(log.Contains("invalid key")) << log.text();
  Bytes huge(4096, 'k');
  EXPECT_EQ(Store(37, huge, Text("v")), 1);
  EXPECT_FALSE(Fetch(37, huge));
  EXPECT_EQ(DBM_Delete(37, nullptr, 4), 1);
  EXPECT_EQ(DBM_Store(37, "k", 1, nullptr, 3), 1);
  EXPECT_EQ(DBM_Open(41, nullptr), 1);
  EXPECT_EQ(DBM_Open(41, ""), 1);
  EXPECT_EQ(capwap::DbmCount(37), 0u);

  DBM_Disconnect();
  log.Clear();
  EXPECT_EQ(Store(37, U32Key(1), Text("v")), 1);
  EXPECT_EQ(DBM_Open(37, "cw_ap"), 1);
  EXPECT_FALSE(DBM_GetFirstKey(37));
  EXPECT_TRUE(log.Contains("not connected")) << log.text();
}

TEST_F(DbmTest, InjectedStoreFailureKeepsTheOldValue) {
  Bytes key = U32Key(9);
  ASSERT_EQ(Store(37, key, Text("old")), 0);
  capwap::LogCapture log;
  capwap::FailNext(capwap::FailFamily::kDbmStore, 1);
  EXPECT_EQ(Store(37, key, Text("new")), 1);
  EXPECT_TRUE(log.Contains("store on table 37 failed")) << log.text();
  EXPECT_EQ(Fetch(37, key), Text("old"));
  EXPECT_EQ(Store(37, key, Text("new")), 0);
  EXPECT_EQ(Fetch(37, key), Text("new"));
}

// A record whose length and bytes both depend on its number, so a torn write
// shows.
Bytes CrashRecord(uint32_t id) {
  Bytes value(500 + (id * 7919) % 6000);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(id * 31 + i);
  return value;
}

// Stores records 0, 1, 2, ... and reports each number the moment its store
// returned.
[[noreturn]] void RunWriter(int report_fd) {
  if (DBM_Connect() != 0 || DBM_Open(37, "cw_ap") != 0) _exit(2);
  for (uint32_t id = 0; id < 1'000'000; ++id) {
    if (Store(37, OrderedKey(id), CrashRecord(id)) != 0) _exit(3);
    if (write(report_fd, &id, sizeof id) != sizeof id) _exit(4);
  }
  _exit(0);
}

// The last number reported before `fd` ends or, with `until`, the first one
// at least `until`; -1 when none.
int64_t LastReported(int fd, int64_t until = INT64_MAX) {
  int64_t last = -1;
  uint32_t id = 0;
  while (last < until && read(fd, &id, sizeof id) == sizeof id) last = id;
  return last;
}

TEST(DbmCrashTest, KilledWriterKeepsEveryStoreThatReturnedAndOnlyWholeRecords) {
  std::random_device seed;
  std::mt19937 random(seed());
  for (int round = 0; round < 3; ++round) {
    capwap::test::TempRoot root;
    DBM_Disconnect();  // the parent holds no environment across the fork
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(report[0]);
      RunWriter(report[1]);
    }
    close(report[1]);
    ASSERT_EQ(LastReported(report[0], 20), 20) << "the writer died before storing";
    int delay_us = std::uniform_int_distribution<int>(0, 40'000)(random);
    SCOPED_TRACE("killed " + std::to_string(delay_us) + " us after the 21st record");
    usleep(static_cast<useconds_t>(delay_us));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer exited with " << WEXITSTATUS(status);
    int64_t last = std::max<int64_t>(20, LastReported(report[0]));
    close(report[0]);

    ASSERT_EQ(DBM_Connect(), 0);
    ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
    std::vector<Bytes> keys = WalkKeys(37);
    ASSERT_GT(static_cast<int64_t>(keys.size()), last) << "a store that returned was lost";
    for (uint32_t expected = 0; expected < keys.size(); ++expected) {
      ASSERT_EQ(OrderedId(keys[expected]), expected) << "records must form a prefix";
      ASSERT_EQ(Fetch(37, keys[expected]), CrashRecord(expected)) << "record " << expected;
    }
    // The database is still writable after the crash.
    EXPECT_EQ(Store(37, OrderedKey(0), Text("after")), 0);
    DBM_Disconnect();
  }
}

}  // namespace
