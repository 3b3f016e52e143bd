#include "platform/foundation/Timer.h"

#include <cmath>
#include <utility>

#include "platform/foundation/RunLoopInternal.h"

namespace pf {

namespace {

// A repeating timer needs a positive interval; this is the shortest.
constexpr TimeInterval kMinimumRepeatInterval = 0.0001;

TimeInterval normalizedInterval(TimeInterval interval, bool repeats) {
  if (repeats) return std::max(std::isnan(interval) ? 0.0 : interval, kMinimumRepeatInterval);
  return std::isnan(interval) || interval < 0 ? 0.0 : interval;
}

}  // namespace

namespace detail {

// A timer, its state and its callback in one allocation.
struct TimerBlock final : Timer {
  TimerState state;
  TimerBlock(double fireDate, TimeInterval interval, bool repeats, Callback callback)
      : Timer(normalizedInterval(interval, repeats), repeats, &state) {
    state.fireDate = std::isnan(fireDate) ? Clock::now() : fireDate;
    state.callback = std::move(callback);
  }
};

TimerCall::~TimerCall() {
  if (st_.calling.fetch_sub(1) != 1 || st_.valid.load()) return;
  Timer::Callback released;
  {
    MutexLock lock(st_.mutex);
    if (st_.calling.load() == 0) released = std::exchange(st_.callback, nullptr);
  }
  // `released` (and whatever it holds) goes here, outside every lock.
}

}  // namespace detail

Timer::Timer(TimeInterval interval, bool repeats, detail::TimerState* state)
    : interval_(interval), repeats_(repeats), state_(state) {}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::make(TimeInterval interval, bool repeats, Callback callback) {
  double delay = std::isnan(interval) || interval < 0 ? 0 : interval;
  return makeWithDate(Clock::now() + delay, interval, repeats, std::move(callback));
}

std::shared_ptr<Timer> Timer::makeWithDate(double fireDate, TimeInterval interval, bool repeats, Callback callback) {
  return std::make_shared<detail::TimerBlock>(fireDate, interval, repeats, std::move(callback));
}

std::shared_ptr<Timer> Timer::scheduled(TimeInterval interval, bool repeats, Callback callback) {
  auto timer = make(interval, repeats, std::move(callback));
  RunLoop::current()->addTimer(timer, kDefaultRunLoopMode);
  return timer;
}

void Timer::fire() {
  if (!isValid()) return;
  auto keep = shared_from_this();
  {
    detail::TimerCall call(*state_);
    if (call) call(*this);
  }
  if (!repeats_) invalidate();
}

void Timer::invalidate() {
  if (!state_->valid.exchange(false)) return;
  // Declared first, so dropped last: the loop's reference may be the last one.
  std::shared_ptr<Timer> retained;
  Callback callback;
  // Fast path: on its own thread's loop, which lives as long as this thread runs.
  RunLoop* mine = detail::currentLoopIfAny();
  if (mine && state_->owner.load(std::memory_order_relaxed) == mine &&
      detail::removeInvalidatedTimer(*mine, *this, retained, callback))
    return;
  std::shared_ptr<RunLoop> loop;
  {
    MutexLock lock(state_->mutex);
    loop = state_->loop.lock();
    // While a call is in progress the callback stays; the last call to return releases it.
    if (state_->calling.load() == 0) callback = std::exchange(state_->callback, nullptr);
  }
  if (loop) detail::removeInvalidatedTimer(*loop, *this, retained, callback);
  // `callback` (and whatever it holds), then `retained`, are released here, outside every lock.
}

bool Timer::isValid() const { return state_->valid.load(); }

double Timer::fireDate() const { return state_->fireDate.load(std::memory_order_relaxed); }

void Timer::setFireDate(double date) {
  if (std::isnan(date)) return;
  // Fast path: re-armed on its own thread's loop, which lives as long as this thread runs.
  RunLoop* mine = detail::currentLoopIfAny();
  if (mine && state_->owner.load(std::memory_order_relaxed) == mine && detail::rescheduleTimer(*mine, *this, date))
    return;
  std::shared_ptr<RunLoop> loop;
  {
    MutexLock lock(state_->mutex);
    state_->fireDate.store(date, std::memory_order_relaxed);
    loop = state_->loop.lock();
  }
  if (loop && isValid()) detail::rescheduleTimer(*loop, *this, date);
}

std::shared_ptr<RunLoop> Timer::runLoop() const {
  MutexLock lock(state_->mutex);
  return state_->loop.lock();
}

}  // namespace pf
