#include "platform/thread.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/timer.h"

namespace {

std::vector<std::string> fired;

int Record(thread* t) {
  fired.push_back(static_cast<const char*>(THREAD_ARG(t)));
  return 0;
}

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    capwap::ResetFailInjection();
    fired.clear();
  }
  void Run(double seconds) { thread_master_run_for(m.get(), clock, seconds); }
  capwap::ManualClock clock;
  ThreadMasterPtr m = thread_master_create(clock, 1000);
};

TEST_F(LoopTest, TimersRunInDueThenSchedulingOrderAndCancelledOnesNever) {
  for (auto [name, s] : {std::pair{"a5", 5}, {"b3", 3}, {"c3", 3}, {"d1", 1}}) {
    thread_add_timer(m.get(), Record, const_cast<char*>(name), s);
  }
  thread_cancel(thread_add_timer(m.get(), Record, const_cast<char*>("cancelled"), 1));
  capwap::Timer kept;
  {
    capwap::Timer scoped, moved;  // the scope's end cancels "raii"
    ASSERT_TRUE(scoped.Start(m.get(), 1, Record, const_cast<char*>("raii")));
    ASSERT_TRUE(moved.Start(m.get(), 4, Record, const_cast<char*>("moved")));
    kept = std::move(moved);
    EXPECT_FALSE(moved.Running());
  }
  Run(2.9);
  EXPECT_EQ(fired, (std::vector<std::string>{"d1"}));
  Run(0.1);
  EXPECT_EQ(fired, (std::vector<std::string>{"d1", "b3", "c3"}));
  auto pending = thread_master_pending_timers(m.get());
  EXPECT_TRUE(pending.size() == 2 && pending[0].remaining_seconds == 1.0);
  EXPECT_NE(pending.at(0).where.find("thread_test.cc"), std::string::npos);
  Run(10);
  EXPECT_EQ(fired, (std::vector<std::string>{"d1", "b3", "c3", "moved", "a5"}));
  EXPECT_EQ(thread_master_timer_count(m.get()), 0u);
}

struct SelfArming {
  capwap::Timer timer;
  thread_master* m;
  int runs = 0;
};

int ArmAgain(thread* t) {
  auto* s = static_cast<SelfArming*>(THREAD_ARG(t));
  EXPECT_FALSE(s->timer.Running()) << "cleared before the callback";
  if (++s->runs < 3) s->timer.Start(s->m, 2, ArmAgain, s);
  return 0;
}

TEST_F(LoopTest, CallbackRearmsAndRestartMovesTheRun) {
  SelfArming s{{}, m.get()};
  s.timer.Start(m.get(), 2, ArmAgain, &s);
  Run(5.9);
  EXPECT_EQ(s.runs, 2);
  Run(0.2);
  EXPECT_EQ(s.runs, 3);

  char a[] = "a", b[] = "b";
  capwap::Timer timer;
  ASSERT_TRUE(timer.Restart(m.get(), 10, Record, a));
  thread_add_timer(m.get(), Record, b, 12);
  Run(8);
  ASSERT_TRUE(timer.Restart(m.get(), 10, Record, a));  // later: moved in place
  EXPECT_EQ(thread_master_timer_count(m.get()), 2u);
  Run(9.999);
  EXPECT_EQ(fired, (std::vector<std::string>{"b"}));
  EXPECT_DOUBLE_EQ(timer.RemainingSeconds(), 0.001);
  Run(0.001);
  EXPECT_EQ(fired, (std::vector<std::string>{"b", "a"}));
  ASSERT_TRUE(timer.Restart(m.get(), 10, Record, a));
  ASSERT_TRUE(timer.Restart(m.get(), 3, Record, a));  // earlier: re-armed
  Run(3);
  EXPECT_EQ(fired.size(), 3u);
  EXPECT_EQ(thread_master_timer_count(m.get()), 0u);

  capwap::FailNext(capwap::FailFamily::kTimerCreate, 1);
  EXPECT_FALSE(timer.Start(m.get(), 1, Record, a) || timer.Running());
  EXPECT_TRUE(timer.Start(m.get(), 1, Record, a));
}

struct Reader {
  int calls = 0;
  bool rearm = false;
  thread* other = nullptr;
  thread* handle = nullptr;
};

int ReadOne(thread* t) {
  auto* r = static_cast<Reader*>(THREAD_ARG(t));
  if (r->rearm) {
    EXPECT_TRUE(thread_rearm(t));
  }
  char buf[16];
  (void)read(THREAD_FD(t), buf, sizeof buf);
  ++r->calls;
  thread_cancel(r->other);
  return 0;
}

TEST_F(LoopTest, ReadsAreOneShotUnlessRearmedAndACancelledReadyEventDoesNotRun) {
  int a[2], b[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, a), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, b), 0);
  Reader once, again{0, true};
  thread_add_read(m.get(), ReadOne, &once, a[0]);
  thread_add_read(m.get(), ReadOne, &again, b[0], &again.handle);
  for (int fd : {a[1], a[1], b[1], b[1]}) ASSERT_EQ(write(fd, "x", 1), 1);
  thread_master_settle(m.get());
  EXPECT_EQ(once.calls, 1) << "not re-armed: the second datagram waits";
  EXPECT_EQ(again.calls, 2);
  EXPECT_NE(again.handle, nullptr) << "thread_rearm fills the owner's handle again";
  thread_cancel(again.handle);
  EXPECT_EQ(again.handle, nullptr);

  // Two descriptors ready at one poll: the first callback cancels the other.
  Reader first, second;
  first.other = thread_add_read(m.get(), ReadOne, &second, b[0]);
  second.other = thread_add_read(m.get(), ReadOne, &first, a[0]);
  for (int fd : {a[1], b[1]}) ASSERT_EQ(write(fd, "y", 1), 1);
  thread_master_settle(m.get());
  EXPECT_EQ(first.calls + second.calls, 1);
  EXPECT_EQ(thread_master_read_count(m.get()), 0u);

  Reader writable;
  thread_add_write(
      m.get(), [](thread* t) { return ++static_cast<Reader*>(THREAD_ARG(t))->calls; }, &writable,
      a[0]);
  thread_master_settle(m.get());
  EXPECT_EQ(writable.calls, 1);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

}  // namespace
