#pragma once
// Private to the concurrency files: how run loops, dispatch and sleepers take part in virtual time.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf::detail {

// Something the virtual clock steps to and waits for while advancing.
class ClockParticipant {
 public:
  virtual ~ClockParticipant() = default;
  // The earliest date later than `after` at which it has something to do (infinity for none).
  virtual double nextDeadline(double after) = 0;
  // Whether it is still working on what fell due (never counting the advancing thread itself).
  virtual bool busy() = 0;
  // The virtual date moved: look at it (wake up, post what is due).
  virtual void kick() = 0;
};

// Registration (the participant must not hold a lock of its own that kick() or busy() takes).
void addClockParticipant(ClockParticipant* participant);
void removeClockParticipant(ClockParticipant* participant);
// Tells an advancing thread that a participant may have become idle (cheap; virtual time only).
void clockParticipantIdle();

extern std::atomic<bool> gVirtualClock;
extern std::atomic<double> gVirtualNow;

inline bool virtualClock() { return gVirtualClock.load(std::memory_order_acquire); }

// The OS thread id of the calling thread (cached).
long currentThreadId();
// The thread currently advancing the virtual clock (0 when none).
long advancingThread();

// ---- threads started through pf::Thread take part too: such a thread counts as busy whenever it is
// not blocked in one of the platform's waits (run loop, sleep, semaphore, group, sync, join...).
struct ThreadActivity;
// Made by the starting thread (so the new thread counts as busy before it even runs).
std::shared_ptr<ThreadActivity> beginThreadActivity();
// On the new thread: this activity is the calling thread's until endThreadActivity().
void adoptThreadActivity(std::shared_ptr<ThreadActivity> activity);
void endThreadActivity();

// Called with true when a thread of the dispatch pool starts blocking in a platform wait, and false
// when it goes on (the pool then lets another thread take its place).
extern thread_local void (*tBlockingHook)(bool blocking);

// Marks the calling thread blocked in a platform wait for its lifetime (or until end()).
class BlockingScope {
 public:
  BlockingScope();
  ~BlockingScope() { end(); }
  BlockingScope(const BlockingScope&) = delete;
  BlockingScope& operator=(const BlockingScope&) = delete;
  void end();

 private:
  ThreadActivity* activity_;
  bool hooked_;
};

// A thread waiting in waitOnClock in virtual time: busy once its deadline has come or its
// condition holds (checked without blocking), until it has returned.
template <class Mutex, class Pred>
class ClockWaiter final : public ClockParticipant {
 public:
  ClockWaiter(Mutex& mutex, Pred& pred, double deadline) : mutex_(mutex), pred_(pred), deadline_(deadline) {}
  double nextDeadline(double after) override { return deadline_ > after ? deadline_ : kForever; }
  // Tries the waiter's lock and asks its condition under it: the analysis does not see a lock
  // taken through a std::unique_lock of the native mutex.
  bool busy() override PF_NO_THREAD_SAFETY_ANALYSIS {
    if (done_.load()) return false;
    if (gVirtualNow.load() >= deadline_) return true;
    std::unique_lock<Mutex> lock(mutex_, std::try_to_lock);
    return !lock.owns_lock() || pred_();
  }
  void kick() override {}
  void finish() { done_.store(true); }

 private:
  Mutex& mutex_;
  Pred& pred_;
  double deadline_;
  std::atomic<bool> done_{false};
};

// Waits on `cv` (with `lock` held) until `pred()` or the clock reaches `deadline` (a date;
// infinity waits without limit). Virtual time included. Returns pred().
// `pred` may require the waiter's lock: it is called with `lock` held, which the analysis cannot
// tell from a std::unique_lock.
template <class Lock, class Cv, class Pred>
bool waitOnClock(Lock& lock, Cv& cv, double deadline, Pred pred) PF_NO_THREAD_SAFETY_ANALYSIS {
  using namespace std::chrono;
  if (pred()) return true;
  if (!virtualClock()) {
    BlockingScope blocking;
    for (;;) {
      if (pred()) return true;
      if (deadline == kForever) {
        cv.wait(lock);
        continue;
      }
      double left = deadline - Clock::now();
      if (left <= 0) return pred();
      if (virtualClock()) break;
      cv.wait_for(lock, duration<double>(std::min(left, 1.0)));
    }
    blocking.end();
    if (pred()) return true;
  }
  // Virtual time: registered so that advancing steps to the deadline and waits for this thread
  // once it may go on; a timed wait polls because the date moves under another lock.
  using Mutex = typename Lock::mutex_type;
  ClockWaiter<Mutex, Pred> waiter(*lock.mutex(), pred, deadline);
  addClockParticipant(&waiter);  // before counting as blocked: the deadline must be known first
  BlockingScope blocking;
  bool result = false;
  for (;;) {
    if (pred()) {
      result = true;
      break;
    }
    if (gVirtualNow.load() >= deadline || !virtualClock()) break;
    if (deadline == kForever)
      cv.wait(lock);
    else
      cv.wait_for(lock, milliseconds(1));
  }
  blocking.end();
  waiter.finish();
  lock.unlock();
  removeClockParticipant(&waiter);
  lock.lock();
  if (result || pred()) return true;
  if (!virtualClock()) return waitOnClock(lock, cv, deadline, pred);  // back in real time: go on
  return false;
}

}  // namespace pf::detail
