#include "platform/foundation/Clock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "platform/foundation/ClockInternal.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoopInternal.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {
namespace detail {

std::atomic<bool> gVirtualClock{false};
std::atomic<double> gVirtualNow{Clock::kVirtualStart};

namespace {

struct Registry {
  Mutex mutex;  // held while advancing calls into the participants
  std::vector<ClockParticipant*> participants PF_GUARDED_BY(mutex);
  Mutex idleMutex;
  std::condition_variable idleCv;
  std::uint64_t idleGeneration PF_GUARDED_BY(idleMutex) = 0;
  RecursiveMutex advanceMutex;  // one advance at a time
  std::atomic<long> advancing{0};
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every thread that may still use it at exit
  return *r;
}

// Real time an advance waits for busy participants before going on without them.
constexpr auto kSettleLimit = std::chrono::seconds(2);

bool anyBusy() {
  auto& r = registry();
  MutexLock lock(r.mutex);
  for (auto* p : r.participants)
    if (p->busy()) return true;
  return false;
}

void kickAll() {
  auto& r = registry();
  MutexLock lock(r.mutex);
  for (auto* p : r.participants) p->kick();
}

double nextDeadlineAfter(double date) {
  auto& r = registry();
  MutexLock lock(r.mutex);
  double next = kForever;
  for (auto* p : r.participants) {
    double d = p->nextDeadline(date);
    if (d > date && d < next) next = d;
  }
  return next;
}

// Waits (in real time, bounded) until no other participant is busy.
void waitForOthers() {
  auto& r = registry();
  auto limit = std::chrono::steady_clock::now() + kSettleLimit;
  while (anyBusy()) {
    UniqueLock lock(r.idleMutex);
    auto generation = r.idleGeneration;
    auto until = std::min(limit, std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
    if (r.idleCv.wait_until(lock.native(), until,
                            [&]() PF_REQUIRES(r.idleMutex) { return r.idleGeneration != generation; }))
      continue;
    if (std::chrono::steady_clock::now() >= limit) {
      logLine("Clock: advancing virtual time past work still running after 2 s of real time");
      return;
    }
  }
}

// Lets everything due at the current virtual date run: the calling thread's own run loop here,
// everybody else on their threads, until nobody has anything left to do.
void settle() {
  for (int round = 0; round < 10000; ++round) {
    waitForOthers();
    if (!runCurrentLoopDueWork()) return;
  }
}

}  // namespace

void addClockParticipant(ClockParticipant* participant) {
  auto& r = registry();
  MutexLock lock(r.mutex);
  r.participants.push_back(participant);
}

void removeClockParticipant(ClockParticipant* participant) {
  auto& r = registry();
  {
    MutexLock lock(r.mutex);
    std::erase(r.participants, participant);
  }
  clockParticipantIdle();
}

void clockParticipantIdle() {
  if (!virtualClock()) return;
  auto& r = registry();
  {
    MutexLock lock(r.idleMutex);
    ++r.idleGeneration;
  }
  r.idleCv.notify_all();
}

struct ThreadActivity final : ClockParticipant {
  std::atomic<long> tid{0};
  std::atomic<int> blocked{0};
  double nextDeadline(double) override { return kForever; }
  bool busy() override { return blocked.load() == 0 && tid.load() != advancingThread(); }
  void kick() override {}
  ~ThreadActivity() override = default;
};

namespace {
thread_local std::shared_ptr<ThreadActivity> tActivity;
}

std::shared_ptr<ThreadActivity> beginThreadActivity() {
  auto activity = std::make_shared<ThreadActivity>();
  activity->tid = -1;  // not yet known: counts as busy
  addClockParticipant(activity.get());
  return activity;
}

void adoptThreadActivity(std::shared_ptr<ThreadActivity> activity) {
  if (activity) activity->tid = currentThreadId();
  tActivity = std::move(activity);
}

void endThreadActivity() {
  if (auto activity = std::move(tActivity)) removeClockParticipant(activity.get());
}

thread_local void (*tBlockingHook)(bool blocking) = nullptr;

BlockingScope::BlockingScope() : activity_(tActivity.get()), hooked_(tBlockingHook != nullptr) {
  if (hooked_) tBlockingHook(true);
  if (activity_ && activity_->blocked.fetch_add(1) == 0) clockParticipantIdle();
}

void BlockingScope::end() {
  if (activity_) activity_->blocked.fetch_sub(1);
  activity_ = nullptr;
  if (hooked_) tBlockingHook(false);
  hooked_ = false;
}

long currentThreadId() {
  thread_local long tid = static_cast<long>(syscall(SYS_gettid));
  return tid;
}

long advancingThread() { return registry().advancing.load(std::memory_order_acquire); }

}  // namespace detail

using namespace detail;

double Clock::now() {
  if (virtualClock()) return gVirtualNow.load(std::memory_order_acquire);
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

double Clock::monotonic() {
  if (virtualClock()) return gVirtualNow.load(std::memory_order_acquire);
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool Clock::isVirtual() { return virtualClock(); }

void Clock::useVirtualTime(double startDate) {
  gVirtualNow.store(startDate, std::memory_order_release);
  gVirtualClock.store(true, std::memory_order_release);
  kickAll();
}

void Clock::useRealTime() {
  gVirtualClock.store(false, std::memory_order_release);
  kickAll();
}

void Clock::advance(TimeInterval seconds) {
  if (!(seconds > 0)) seconds = 0;
  advanceTo(now() + seconds);
}

void Clock::advanceTo(double date) {
  if (!virtualClock()) return;
  auto& r = registry();
  MutexLock guard(r.advanceMutex);
  struct Advancing {
    Registry& r;
    long previous;
    ~Advancing() { r.advancing.store(previous, std::memory_order_release); }
  } advancing{r, r.advancing.exchange(currentThreadId())};
  settle();
  for (;;) {
    double current = gVirtualNow.load();
    double next = nextDeadlineAfter(current);
    if (next > date) break;
    gVirtualNow.store(next, std::memory_order_release);
    kickAll();
    settle();
  }
  if (date > gVirtualNow.load()) {
    gVirtualNow.store(date, std::memory_order_release);
    kickAll();
    settle();
  }
}

namespace {

// A thread sleeping on the virtual clock.
class Sleeper final : public ClockParticipant {
 public:
  explicit Sleeper(double deadline) : deadline_(deadline) {}
  double nextDeadline(double after) override { return deadline_ > after ? deadline_ : kForever; }
  // Due and not yet gone: still on its way out of the sleep.
  bool busy() override { return gVirtualNow.load() >= deadline_; }
  void kick() override {
    MutexLock lock(mutex_);
    cv_.notify_all();
  }
  void sleep() {
    UniqueLock lock(mutex_);
    cv_.wait(lock.native(), [&] { return !virtualClock() || gVirtualNow.load() >= deadline_; });
  }

 private:
  double deadline_;
  Mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace

void Clock::sleep(TimeInterval seconds) {
  if (std::isnan(seconds) || seconds <= 0) return;
  sleepUntil(now() + seconds);
}

void Clock::sleepUntil(double date) {
  if (virtualClock()) {
    if (gVirtualNow.load() >= date) return;
    Sleeper sleeper(date);
    addClockParticipant(&sleeper);  // before counting as blocked: the date must be known first
    BlockingScope blocking;
    sleeper.sleep();
    blocking.end();
    removeClockParticipant(&sleeper);
    return;
  }
  std::mutex m;  // for the wait only: it guards nothing
  std::condition_variable cv;
  std::unique_lock lock(m);
  waitOnClock(lock, cv, date, [] { return false; });
}

}  // namespace pf
