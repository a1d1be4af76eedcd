#include "platform/thread.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/timer.h"

namespace {

struct Recorder {
  std::vector<std::string> events;
};

struct Named {
  Recorder* rec;
  std::string name;
};

int RecordTimer(thread* t) {
  auto* n = static_cast<Named*>(THREAD_ARG(t));
  n->rec->events.push_back(n->name);
  return 0;
}

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { capwap::ResetFailInjection(); }
  capwap::ManualClock clock;
  ThreadMasterPtr master = thread_master_create(clock, 1000);
  Recorder rec;
};

TEST_F(LoopTest, TimersFireInDueOrderThenSchedulingOrder) {
  Named a{&rec, "a5"}, b{&rec, "b3"}, c{&rec, "c3"}, d{&rec, "d1"};
  thread_add_timer(master.get(), RecordTimer, &a, 5);
  thread_add_timer(master.get(), RecordTimer, &b, 3);
  thread_add_timer(master.get(), RecordTimer, &c, 3);
  thread_add_timer(master.get(), RecordTimer, &d, 1);
  thread_master_run_for(master.get(), clock, 2.9);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"d1"}));
  thread_master_run_for(master.get(), clock, 0.1);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"d1", "b3", "c3"}));
  thread_master_run_for(master.get(), clock, 10);
  EXPECT_EQ(rec.events.back(), "a5");
  EXPECT_EQ(thread_master_timer_count(master.get()), 0u);
}

TEST_F(LoopTest, CancelledTimerNeverFiresAndRaiiCancels) {
  Named a{&rec, "a"};
  thread* t = thread_add_timer(master.get(), RecordTimer, &a, 1);
  thread_cancel(t);
  {
    capwap::Timer timer;
    ASSERT_TRUE(timer.Start(master.get(), 1, RecordTimer, &a));
    EXPECT_TRUE(timer.Running());
  }
  thread_master_run_for(master.get(), clock, 5);
  EXPECT_TRUE(rec.events.empty());
}

struct Rearm {
  capwap::Timer timer;
  thread_master* master;
  int fired = 0;
};

int RearmSelf(thread* t) {
  auto* r = static_cast<Rearm*>(THREAD_ARG(t));
  EXPECT_FALSE(r->timer.Running());  // cleared before the callback
  if (++r->fired < 3) r->timer.Start(r->master, 2, RearmSelf, r);
  return 0;
}

TEST_F(LoopTest, CallbackMayRearmItsOwnTimer) {
  Rearm r;
  r.master = master.get();
  r.timer.Start(master.get(), 2, RearmSelf, &r);
  thread_master_run_for(master.get(), clock, 5.9);
  EXPECT_EQ(r.fired, 2);
  thread_master_run_for(master.get(), clock, 0.2);
  EXPECT_EQ(r.fired, 3);
  EXPECT_FALSE(r.timer.Running());
}

TEST_F(LoopTest, TimerMoveKeepsHandleValid) {
  Named a{&rec, "moved"};
  capwap::Timer first;
  first.Start(master.get(), 1, RecordTimer, &a);
  capwap::Timer second = std::move(first);
  EXPECT_FALSE(first.Running());
  EXPECT_TRUE(second.Running());
  thread_master_run_for(master.get(), clock, 1);
  EXPECT_FALSE(second.Running());
  EXPECT_EQ(rec.events, (std::vector<std::string>{"moved"}));
}

TEST_F(LoopTest, RestartMovesTheRunLaterInPlaceAndEarlierByReArming) {
  Named a{&rec, "a"}, b{&rec, "b"};
  capwap::Timer timer;
  ASSERT_TRUE(timer.Restart(master.get(), 10, RecordTimer, &a));
  thread_add_timer(master.get(), RecordTimer, &b, 12);
  thread_master_run_for(master.get(), clock, 8);
  ASSERT_TRUE(timer.Restart(master.get(), 10, RecordTimer, &a));  // now runs at 18
  EXPECT_EQ(thread_master_timer_count(master.get()), 2u);
  EXPECT_DOUBLE_EQ(timer.RemainingSeconds(), 10);
  thread_master_run_for(master.get(), clock, 9.999);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"b"}));
  EXPECT_TRUE(timer.Running());
  EXPECT_DOUBLE_EQ(timer.RemainingSeconds(), 0.001);
  thread_master_run_for(master.get(), clock, 0.001);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"b", "a"}));
  EXPECT_FALSE(timer.Running());

  ASSERT_TRUE(timer.Restart(master.get(), 10, RecordTimer, &a));
  ASSERT_TRUE(timer.Restart(master.get(), 3, RecordTimer, &a));
  thread_master_run_for(master.get(), clock, 3);
  EXPECT_EQ(rec.events.size(), 3u);
  EXPECT_EQ(thread_master_timer_count(master.get()), 0u);
}

TEST_F(LoopTest, InjectedTimerFailureReturnsNull) {
  capwap::FailNext(capwap::FailFamily::kTimerCreate, 1);
  capwap::Timer timer;
  Named a{&rec, "x"};
  EXPECT_FALSE(timer.Start(master.get(), 1, RecordTimer, &a));
  EXPECT_FALSE(timer.Running());
  EXPECT_TRUE(timer.Start(master.get(), 1, RecordTimer, &a));
}

struct ReadCount {
  int calls = 0;
  int fd = -1;
};

int ReadOnce(thread* t) {
  auto* r = static_cast<ReadCount*>(THREAD_ARG(t));
  char buf[16];
  (void)read(THREAD_FD(t), buf, sizeof buf);
  ++r->calls;
  return 0;
}

TEST_F(LoopTest, ReadEventsAreOneShot) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, sv), 0);
  ReadCount r;
  thread_add_read(master.get(), ReadOnce, &r, sv[0]);
  ASSERT_EQ(write(sv[1], "a", 1), 1);
  ASSERT_EQ(write(sv[1], "b", 1), 1);
  thread_master_settle(master.get());
  EXPECT_EQ(r.calls, 1);  // not re-armed, the second datagram waits
  thread_add_read(master.get(), ReadOnce, &r, sv[0]);
  thread_master_settle(master.get());
  EXPECT_EQ(r.calls, 2);
  close(sv[0]);
  close(sv[1]);
}

// Two descriptors ready at one poll: the first callback cancels the second
// event (as closing a connection does), which then must not run; a write
// event fires once the socket can take bytes.
struct CancelOther {
  thread* other = nullptr;
  int calls = 0;
};

int CancelTheOther(thread* t) {
  auto* c = static_cast<CancelOther*>(THREAD_ARG(t));
  ++c->calls;
  thread_cancel(c->other);
  return 0;
}

TEST_F(LoopTest, CancelledReadyEventDoesNotRunAndWriteEventsFire) {
  int a[2], b[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, a), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, b), 0);
  CancelOther first, second;
  thread* ta = thread_add_read(master.get(), CancelTheOther, &first, a[0]);
  thread* tb = thread_add_read(master.get(), CancelTheOther, &second, b[0]);
  first.other = tb;
  second.other = ta;
  ASSERT_EQ(write(a[1], "a", 1), 1);
  ASSERT_EQ(write(b[1], "b", 1), 1);
  thread_master_settle(master.get());
  EXPECT_EQ(first.calls + second.calls, 1);
  EXPECT_EQ(thread_master_read_count(master.get()), 0u);

  ReadCount w;
  thread_add_write(master.get(), [](thread* t) {
    ++static_cast<ReadCount*>(THREAD_ARG(t))->calls;
    return 0;
  }, &w, a[0]);
  thread_master_settle(master.get());
  EXPECT_EQ(w.calls, 1);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

TEST_F(LoopTest, PendingTimersReportRemainingSeconds) {
  Named a{&rec, "a"};
  thread_add_timer(master.get(), RecordTimer, &a, 40);
  clock.AdvanceMs(10'000);
  auto pending = thread_master_pending_timers(master.get());
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_DOUBLE_EQ(pending[0].remaining_seconds, 30.0);
  EXPECT_NE(pending[0].where.find("thread_test.cc"), std::string::npos);
}

}  // namespace
