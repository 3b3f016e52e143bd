#pragma once
// Private to the concurrency files: how run loops, dispatch and sleepers take part in virtual time.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/foundation/Clock.h"

namespace pf::detail {

// Something the virtual clock steps to and waits for while advancing.
class ClockParticipant {
 public:
  virtual ~ClockParticipant() = default;
  // The earliest date at which it has something to do (infinity for none). Dates not later than
  // the current virtual date are ignored when choosing the next step.
  virtual double nextDeadline() = 0;
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

// Waits on `cv` (with `lock` held) until `pred()` or the clock reaches `deadline` (a date;
// infinity waits without limit). Virtual time included. Returns pred().
template <class Pred>
bool waitOnClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double deadline, Pred pred);

// Implementation detail of waitOnClock for virtual time.
class TimedWaiter final : public ClockParticipant {
 public:
  TimedWaiter(std::condition_variable& cv, double deadline) : cv_(cv), deadline_(deadline) {}
  double nextDeadline() override { return deadline_; }
  bool busy() override { return gVirtualNow.load() >= deadline_ && !done_.load(); }
  void kick() override { cv_.notify_all(); }
  void finish() { done_.store(true); }

 private:
  std::condition_variable& cv_;
  double deadline_;
  std::atomic<bool> done_{false};
};

template <class Pred>
bool waitOnClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double deadline, Pred pred) {
  using namespace std::chrono;
  for (;;) {
    if (pred()) return true;
    if (deadline == kForever) {
      cv.wait(lock);
      continue;
    }
    if (!virtualClock()) {
      double left = deadline - Clock::now();
      if (left <= 0) return pred();
      cv.wait_for(lock, duration<double>(std::min(left, 3600.0)));
      continue;
    }
    // Virtual time: registered so that advancing steps to the deadline; polled because the date
    // moves under another lock.
    TimedWaiter waiter(cv, deadline);
    addClockParticipant(&waiter);
    bool result = false;
    while (virtualClock()) {
      if (pred()) {
        result = true;
        break;
      }
      if (gVirtualNow.load() >= deadline) break;
      cv.wait_for(lock, milliseconds(1));
    }
    waiter.finish();
    lock.unlock();
    removeClockParticipant(&waiter);
    lock.lock();
    if (result || pred()) return true;
    if (virtualClock()) return false;
    // Switched back to real time while waiting: the virtual deadline means nothing now.
    return pred();
  }
}

}  // namespace pf::detail
