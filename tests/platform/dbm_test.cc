#include "platform/dbm.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
// Big-endian keys walk in numeric order.
Bytes Key(uint32_t id) {
  Bytes key(4);
  capwap::WireWriter(key.data(), key.size()).u32(id);
  return key;
}
int Store(int table, const Bytes& key, const Bytes& value) {
  return DBM_Store(table, key.data(), key.size(), value.data(), value.size());
}
std::optional<Bytes> Fetch(int table, const Bytes& key) {
  return DBM_Fetch(table, key.data(), key.size());
}
int Delete(int table, const Bytes& key) { return DBM_Delete(table, key.data(), key.size()); }
std::vector<Bytes> Walk(int table) {
  std::vector<Bytes> keys;
  for (auto k = DBM_GetFirstKey(table); k && keys.size() < 10'000;
       k = DBM_GetNextKey(table, k->data(), k->size())) {
    keys.push_back(*k);
  }
  return keys;
}

class DbmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DBM_Disconnect();
    ASSERT_EQ(DBM_Connect(), 0);
    ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
    ASSERT_EQ(DBM_Open(38, "cw_apgroup"), 0);
  }
  void TearDown() override { DBM_Disconnect(); }
  capwap::test::FreshGlobals fresh_;
  capwap::test::TempRoot root;
  capwap::LogCapture log;
};

TEST_F(DbmTest, RecordsPerTableWalkInByteOrderAndSurviveReconnection) {
  ASSERT_EQ(Store(37, Key(7), Bytes(39464, 0xA5)) + Store(37, Key(7), B("short")), 0);
  ASSERT_EQ(Store(38, Key(7), B("group")), 0);
  EXPECT_EQ(Fetch(37, Key(7)), B("short")) << "nothing of the longer record stays";
  EXPECT_EQ(Delete(37, Key(7)) + Delete(37, Key(7)), 0) << "deleting a missing key is no error";
  EXPECT_FALSE(Fetch(37, Key(7)));
  EXPECT_EQ(Fetch(38, Key(7)), B("group"));
  ASSERT_EQ(DBM_Store(37, "e", 1, nullptr, 0), 0);
  EXPECT_EQ(Fetch(37, B("e")), Bytes{}) << "an empty value is a record";

  for (const std::string& k : std::vector<std::string>{"b", "ab", "a", "abc", std::string("\0\x01", 2), "\xff", "B"}) {
    ASSERT_EQ(Store(37, B(k), B("v")), 0);
  }
  EXPECT_EQ(Walk(37), (std::vector<Bytes>{B(std::string("\0\x01", 2)), B("B"), B("a"), B("ab"),
                                          B("abc"), B("b"), B("e"), B("\xff")}));
  ASSERT_EQ(Delete(37, B("ab")), 0);
  for (std::string gone : {"ab", "aa"}) EXPECT_EQ(DBM_GetNextKey(37, gone.data(), 2), B("abc"));
  EXPECT_FALSE(DBM_GetNextKey(37, "\xff\xff", 2));

  DBM_Disconnect();
  DBM_Disconnect();  // idempotent
  EXPECT_FALSE(Fetch(37, B("a"))) << "nothing is readable while disconnected";
  ASSERT_EQ(DBM_Connect() + DBM_Connect(), 0);
  ASSERT_EQ(DBM_Open(40, "cw_ap"), 0) << "a table is found by its name";
  EXPECT_EQ(Fetch(40, B("abc")), B("v"));
}

TEST_F(DbmTest, ClosedTablesAndInvalidUseAreRefusedWithALogLine) {
  ASSERT_EQ(Store(37, Key(3), B("x")), 0);
  DBM_Close(37);
  DBM_Close(37);
  EXPECT_EQ(Store(37, Key(4), B("y")) + Delete(37, Key(3)) + Store(55, Key(1), B("z")), 3);
  EXPECT_FALSE(Fetch(37, Key(3)) || DBM_GetFirstKey(37));
  EXPECT_TRUE(log.Contains("store on table 37, which is not open")) << log.text();
  EXPECT_TRUE(log.Contains("table 55, which is not open")) << log.text();
  ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
  EXPECT_EQ(Fetch(37, Key(3)), B("x"));

  EXPECT_EQ(DBM_Store(37, "", 0, "v", 1) + Store(37, Bytes(4096, 'k'), B("v")) +
                DBM_Delete(37, nullptr, 4) + DBM_Store(37, "k", 1, nullptr, 3) +
                DBM_Open(41, nullptr) + DBM_Open(41, ""),
            6);
  EXPECT_TRUE(log.Contains("invalid key")) << log.text();

  // The settings table is open from the connection on, across reconnections.
  ASSERT_EQ(Store(17, B("g_bCwAutoApEnabled"), Bytes{1, 0, 0, 0}), 0);
  DBM_Disconnect();
  EXPECT_EQ(Store(37, Key(1), B("v")) + DBM_Open(37, "cw_ap"), 2);
  EXPECT_TRUE(log.Contains("not connected")) << log.text();
  ASSERT_EQ(DBM_Connect(), 0);
  EXPECT_EQ(Fetch(17, B("g_bCwAutoApEnabled")), (Bytes{1, 0, 0, 0}));
  DBM_Close(17);
  EXPECT_EQ(Store(17, B("g_bCwAutoApEnabled"), Bytes{0, 0, 0, 0}), 1);
}

TEST_F(DbmTest, ChangesFlushOnTheLoopAndAFailedStoreKeepsTheOldValue) {
  capwap::ManualClock clock;
  ThreadMasterPtr loop = thread_master_create(clock, 1000);
  capwap::DbmFlushOn(loop.get());
  thread_master_run_for(loop.get(), clock, 1.0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u) << "nothing to flush, nothing pending";
  ASSERT_EQ(Store(37, Key(1), B("old")), 0);
  ASSERT_EQ(Store(37, Key(2), B("b")), 0);
  auto pending = thread_master_pending_timers(loop.get());
  ASSERT_EQ(pending.size(), 1u) << "one flush for both changes";
  EXPECT_LE(pending[0].remaining_seconds, 1.0);
  thread_master_run_for(loop.get(), clock, 1.0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u);

  capwap::FailNext(capwap::FailFamily::kDbmStore, 1);
  EXPECT_EQ(Store(37, Key(1), B("new")), 1);
  EXPECT_TRUE(log.Contains("store on table 37 failed")) << log.text();
  EXPECT_EQ(Fetch(37, Key(1)), B("old"));
  EXPECT_EQ(Delete(37, Key(2)), 0);
  EXPECT_EQ(thread_master_timer_count(loop.get()), 1u) << "the next change arms it again";
  DBM_Disconnect();
  EXPECT_EQ(thread_master_timer_count(loop.get()), 0u) << "flushed and forgotten at disconnect";
}

// Length and bytes depend on the number, so a torn write shows.
Bytes CrashRecord(uint32_t id) {
  Bytes value(500 + (id * 7919) % 6000);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(id * 31 + i);
  return value;
}

// Last number read from fd before it ends, or the first one at least `until`.
int64_t LastReported(int fd, int64_t until = INT64_MAX) {
  int64_t last = -1;
  for (uint32_t id = 0; last < until && read(fd, &id, sizeof id) == sizeof id;) last = id;
  return last;
}

TEST(DbmCrashTest, KilledWriterKeepsEveryStoreThatReturnedAndOnlyWholeRecords) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 3; ++round) {
    capwap::test::TempRoot root;
    DBM_Disconnect();  // the parent holds no environment across the fork
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {  // stores 0, 1, 2, ... and reports each number once stored
      if (DBM_Connect() != 0 || DBM_Open(37, "cw_ap") != 0) _exit(2);
      for (uint32_t id = 0;; ++id) {
        if (Store(37, Key(id), CrashRecord(id)) != 0) _exit(3);
        if (write(report[1], &id, sizeof id) != sizeof id) _exit(4);
      }
    }
    close(report[1]);
    ASSERT_EQ(LastReported(report[0], 20), 20) << "the writer died before storing";
    usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 40'000)(random)));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer exited with " << WEXITSTATUS(status);
    int64_t last = std::max<int64_t>(20, LastReported(report[0]));
    close(report[0]);

    ASSERT_EQ(DBM_Connect(), 0);
    ASSERT_EQ(DBM_Open(37, "cw_ap"), 0);
    std::vector<Bytes> keys = Walk(37);
    ASSERT_GT(static_cast<int64_t>(keys.size()), last) << "a store that returned was lost";
    for (uint32_t id = 0; id < keys.size(); ++id) {
      ASSERT_EQ(keys[id], Key(id)) << "records must form a prefix";
      ASSERT_EQ(Fetch(37, keys[id]), CrashRecord(id)) << "record " << id;
    }
    EXPECT_EQ(Store(37, Key(0), B("after")), 0) << "still writable after the crash";
    DBM_Disconnect();
  }
}

}  // namespace
