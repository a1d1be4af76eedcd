#include "platform/thread.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <deque>
#include <map>
#include <utility>

#include "platform/fail_inject.h"
#include "platform/log.h"

struct thread_master {
  capwap::Clock* clock = nullptr;
  std::unique_ptr<capwap::SteadyClock> owned_clock;
  uint32_t second_ms = 1000;
  uint64_t next_seq = 0;
  bool stopped = false;
  // Read and write events in registration order; re-armed readers go to the
  // back, so ready descriptors are served round-robin.
  std::vector<std::unique_ptr<thread>> reads;
  // Events the last poll found ready, delivered in order before polling again,
  // so one poll serves every descriptor that was ready at that instant.
  std::deque<std::unique_ptr<thread>> ready;
  // Timers by (due time, scheduling order).
  std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<thread>> timers;
};

namespace {

constexpr int kSlowCallbackMs = 100;

void ClearRef(thread* t) {
  if (t->ref && *t->ref == t) *t->ref = nullptr;
}

std::unique_ptr<thread> NewEvent(thread_master* m, ThreadType type, thread_func func,
                                 void* arg, int fd, thread** ref, std::source_location where) {
  auto t = std::make_unique<thread>();
  t->type = type;
  t->master = m;
  t->func = func;
  t->arg = arg;
  t->fd = fd;
  t->due_ms = 0;
  t->seq = m->next_seq++;
  t->postponed = false;
  t->postponed_due_ms = 0;
  t->postponed_seq = 0;
  t->ref = ref;
  t->where = where;
  if (ref) *ref = t.get();
  return t;
}

thread* AddTimerMs(thread_master* m, thread_func func, void* arg, uint64_t delay_ms,
                   thread** ref, std::source_location where) {
  if (!m || capwap::ShouldFail(capwap::FailFamily::kTimerCreate)) {
    if (ref) *ref = nullptr;
    return nullptr;
  }
  std::unique_ptr<thread> t = NewEvent(m, ThreadType::kTimer, func, arg, -1, ref, where);
  t->due_ms = m->clock->NowMs() + delay_ms;
  thread* raw = t.get();
  m->timers.emplace(std::make_pair(raw->due_ms, raw->seq), std::move(t));
  return raw;
}

// Moves the event out of the master into *fetch and clears the owner's
// handle; the copy keeps the handle's address for thread_rearm.
thread* Deliver(std::unique_ptr<thread> t, thread* fetch) {
  ClearRef(t.get());
  *fetch = *t;
  return fetch;
}

// Files a postponed timer under its new due time (the same node: no
// allocation, and its handle stays valid).
void Refile(thread_master* m, std::map<std::pair<uint64_t, uint64_t>,
                                       std::unique_ptr<thread>>::iterator at) {
  auto node = m->timers.extract(at);
  thread* t = node.mapped().get();
  t->due_ms = t->postponed_due_ms;
  t->seq = t->postponed_seq;
  t->postponed = false;
  node.key() = std::make_pair(t->due_ms, t->seq);
  m->timers.insert(std::move(node));
}

thread* TakeDueTimer(thread_master* m, thread* fetch) {
  const uint64_t now = m->clock->NowMs();
  while (!m->timers.empty()) {
    auto first = m->timers.begin();
    if (first->first.first > now) return nullptr;
    if (first->second->postponed) {
      Refile(m, first);
      continue;
    }
    std::unique_ptr<thread> t = std::move(first->second);
    m->timers.erase(first);
    return Deliver(std::move(t), fetch);
  }
  return nullptr;
}

// Returns the next ready descriptor event, polling (up to timeout_ms) only
// when none is left from the previous poll. With no descriptor registered it
// sleeps for the timeout instead of spinning.
thread* TakeReadyRead(thread_master* m, thread* fetch, int timeout_ms) {
  if (m->ready.empty()) {
    if (m->reads.empty()) {
      if (timeout_ms != 0) poll(nullptr, 0, timeout_ms);
      return nullptr;
    }
    std::vector<pollfd> fds;
    fds.reserve(m->reads.size());
    for (const auto& r : m->reads) {
      short events = r->type == ThreadType::kWrite ? POLLOUT : POLLIN;
      fds.push_back(pollfd{r->fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), timeout_ms) <= 0) return nullptr;
    std::vector<std::unique_ptr<thread>> waiting;
    waiting.reserve(m->reads.size());
    for (size_t i = 0; i < fds.size(); ++i) {
      (fds[i].revents != 0 ? m->ready.emplace_back(std::move(m->reads[i]))
                           : waiting.emplace_back(std::move(m->reads[i])));
    }
    m->reads = std::move(waiting);
  }
  if (m->ready.empty()) return nullptr;
  std::unique_ptr<thread> t = std::move(m->ready.front());
  m->ready.pop_front();
  return Deliver(std::move(t), fetch);
}

// Removes the events matching `match` from a queue, clearing their refs.
template <typename Queue, typename Match>
void EraseEvents(Queue& queue, Match match) {
  for (auto it = queue.begin(); it != queue.end();) {
    if (match(it->get())) {
      ClearRef(it->get());
      it = queue.erase(it);
    } else {
      ++it;
    }
  }
}

int MsUntilFirstTimer(const thread_master* m) {
  if (m->timers.empty()) return -1;
  uint64_t due = m->timers.begin()->first.first;
  uint64_t now = m->clock->NowMs();
  if (due <= now) return 0;
  uint64_t wait = due - now;
  return wait > 60'000 ? 60'000 : static_cast<int>(wait);
}

}  // namespace

void ThreadMasterDeleter::operator()(thread_master* m) const {
  if (!m) return;
  for (auto& r : m->reads) ClearRef(r.get());
  for (auto& r : m->ready) ClearRef(r.get());
  for (auto& [key, t] : m->timers) ClearRef(t.get());
  delete m;
}

ThreadMasterPtr thread_master_create() {
  ThreadMasterPtr m(new thread_master);
  m->owned_clock = std::make_unique<capwap::SteadyClock>();
  m->clock = m->owned_clock.get();
  m->second_ms = capwap::SecondMsFromEnv();
  return m;
}

ThreadMasterPtr thread_master_create(capwap::Clock& clock, uint32_t second_ms) {
  ThreadMasterPtr m(new thread_master);
  m->clock = &clock;
  m->second_ms = second_ms ? second_ms : 1000;
  return m;
}

namespace {

thread* AddIo(thread_master* m, ThreadType type, thread_func func, void* arg, int fd,
              thread** ref, std::source_location where) {
  if (!m || fd < 0 || capwap::ShouldFail(capwap::FailFamily::kTimerCreate)) {
    if (ref) *ref = nullptr;
    return nullptr;
  }
  m->reads.push_back(NewEvent(m, type, func, arg, fd, ref, where));
  return m->reads.back().get();
}

}  // namespace

thread* thread_add_read(thread_master* m, thread_func func, void* arg, int fd, thread** ref,
                        std::source_location where) {
  return AddIo(m, ThreadType::kRead, func, arg, fd, ref, where);
}

thread* thread_add_write(thread_master* m, thread_func func, void* arg, int fd, thread** ref,
                         std::source_location where) {
  return AddIo(m, ThreadType::kWrite, func, arg, fd, ref, where);
}

bool thread_rearm(thread* fetched) {
  if (fetched->type == ThreadType::kTimer) return false;
  return AddIo(fetched->master, fetched->type, fetched->func, fetched->arg, fetched->fd,
               fetched->ref, fetched->where) != nullptr;
}

thread* thread_add_timer(thread_master* m, thread_func func, void* arg, long seconds,
                         thread** ref, std::source_location where) {
  uint64_t secs = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
  uint32_t unit = m ? m->second_ms : 1000;
  return AddTimerMs(m, func, arg, secs * unit, ref, where);
}

thread* thread_add_timer_msec(thread_master* m, thread_func func, void* arg, long msec,
                              thread** ref, std::source_location where) {
  return AddTimerMs(m, func, arg, msec > 0 ? static_cast<uint64_t>(msec) : 0, ref, where);
}

bool thread_timer_postpone(thread* t, long seconds) {
  if (!t || t->type != ThreadType::kTimer) return false;
  thread_master* m = t->master;
  uint64_t secs = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
  uint64_t due = m->clock->NowMs() + secs * m->second_ms;
  if (due < t->due_ms) return false;
  t->postponed = true;
  t->postponed_due_ms = due;
  t->postponed_seq = m->next_seq++;
  return true;
}

void thread_cancel(thread* t) {
  if (!t) return;
  thread_master* m = t->master;
  ClearRef(t);
  if (t->type == ThreadType::kTimer) {
    m->timers.erase(std::make_pair(t->due_ms, t->seq));
    return;
  }
  auto is_t = [t](const thread* e) { return e == t; };
  EraseEvents(m->reads, is_t);
  EraseEvents(m->ready, is_t);
}

void thread_cancel_fd(thread_master* m, int fd) {
  if (!m) return;
  auto on_fd = [fd](const thread* e) { return e->fd == fd; };
  EraseEvents(m->reads, on_fd);
  EraseEvents(m->ready, on_fd);
}

thread* thread_fetch(thread_master* m, thread* fetch) {
  while (!m->stopped && (!m->reads.empty() || !m->ready.empty() || !m->timers.empty())) {
    if (thread* t = TakeDueTimer(m, fetch)) return t;
    int timeout = MsUntilFirstTimer(m);
    if (thread* t = TakeReadyRead(m, fetch, timeout)) return t;
  }
  return nullptr;
}

void thread_call(thread* t) {
  using namespace std::chrono;
  auto start = steady_clock::now();
  t->func(t);
  auto spent = duration_cast<milliseconds>(steady_clock::now() - start).count();
  if (spent > kSlowCallbackMs) {
    zlog_warn(nullptr, "slow callback: %lld ms in event scheduled at %s:%u",
              static_cast<long long>(spent), t->where.file_name(),
              static_cast<unsigned>(t->where.line()));
  }
}

void thread_master_stop(thread_master* m) { m->stopped = true; }

int thread_master_poll(thread_master* m, int timeout_ms) {
  int ran = 0;
  thread fetched;
  // Timers first, then every descriptor ready at this instant.
  while (TakeDueTimer(m, &fetched)) {
    thread_call(&fetched);
    ++ran;
  }
  int wait = timeout_ms;
  while (TakeReadyRead(m, &fetched, wait)) {
    thread_call(&fetched);
    ++ran;
    wait = 0;
  }
  while (TakeDueTimer(m, &fetched)) {
    thread_call(&fetched);
    ++ran;
  }
  return ran;
}

int thread_master_settle(thread_master* m) {
  int total = 0;
  for (int round = 0; round < 10'000; ++round) {
    int ran = thread_master_poll(m, 0);
    if (ran == 0) break;
    total += ran;
  }
  return total;
}

void thread_master_run_for(thread_master* m, capwap::ManualClock& clock, double seconds) {
  uint64_t target =
      clock.NowMs() + static_cast<uint64_t>(std::llround(seconds * m->second_ms));
  thread_master_settle(m);
  while (!m->timers.empty() && m->timers.begin()->first.first <= target) {
    uint64_t due = m->timers.begin()->first.first;
    if (due > clock.NowMs()) clock.SetMs(due);
    thread_master_settle(m);
  }
  if (clock.NowMs() < target) clock.SetMs(target);
  thread_master_settle(m);
}

std::vector<PendingTimer> thread_master_pending_timers(const thread_master* m) {
  std::vector<PendingTimer> out;
  for (const auto& [key, t] : m->timers) {
    out.push_back(PendingTimer{std::string(t->where.file_name()) + ":" +
                                   std::to_string(t->where.line()),
                               thread_timer_remaining(t.get())});
  }
  return out;
}

size_t thread_master_read_count(const thread_master* m) {
  return m->reads.size() + m->ready.size();
}
size_t thread_master_timer_count(const thread_master* m) { return m->timers.size(); }
uint32_t thread_master_second_ms(const thread_master* m) { return m->second_ms; }
const capwap::Clock& thread_master_clock(const thread_master* m) { return *m->clock; }

double thread_timer_remaining(const thread* t) {
  if (!t || t->type != ThreadType::kTimer) return 0;
  uint64_t now = t->master->clock->NowMs();
  uint64_t due = t->postponed ? t->postponed_due_ms : t->due_ms;
  if (due <= now) return 0;
  return static_cast<double>(due - now) / t->master->second_ms;
}
