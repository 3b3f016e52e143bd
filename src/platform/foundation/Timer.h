#pragma once
// Timers: one-shot or repeating, fired by the run loop they are scheduled on, in its modes.
//
// A timer is made unscheduled (make) or scheduled on the current run loop in the default mode
// (scheduled). While scheduled the run loop keeps it alive, and the timer keeps its callback (and
// so whatever the callback holds) alive until it is invalidated. A one-shot timer is invalidated
// after it fires; a repeating one moves on to the next multiple of its interval after now (missed
// firings are skipped, never bunched). The callback may invalidate the timer, or reschedule it.

#include <functional>
#include <memory>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace pf {

namespace detail {
struct TimerState;
struct TimerBlock;
}

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Callback = std::function<void(Timer& timer)>;

  // Unscheduled; first fire date now + interval.
  static std::shared_ptr<Timer> make(TimeInterval interval, bool repeats, Callback callback);
  // Unscheduled; first fire date `fireDate`.
  static std::shared_ptr<Timer> makeWithDate(double fireDate, TimeInterval interval, bool repeats, Callback callback);
  // Made and added to the current run loop in the default mode.
  static std::shared_ptr<Timer> scheduled(TimeInterval interval, bool repeats, Callback callback);

  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Calls the callback now (on the calling thread). A one-shot timer is then invalidated; a
  // repeating one keeps its schedule.
  void fire();
  // Stops the timer for good: removes it from its run loop and releases the callback.
  // Thread-safe; may be called from the callback.
  void invalidate();
  bool isValid() const;

  double fireDate() const;
  // Moves the next firing (also of a scheduled timer).
  void setFireDate(double date);
  TimeInterval timeInterval() const { return interval_; }
  bool repeats() const { return repeats_; }

  // The run loop the timer is in (in at least one mode), or null.
  std::shared_ptr<RunLoop> runLoop() const;

 private:
  Timer(TimeInterval interval, bool repeats, detail::TimerState* state);
  friend struct detail::RunLoopImpl;
  friend struct detail::TimerBlock;
  friend class RunLoop;

  const TimeInterval interval_;
  const bool repeats_;
  detail::TimerState* const state_;  // in the same allocation as the timer
};

}  // namespace pf
