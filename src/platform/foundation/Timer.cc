#include "platform/foundation/Timer.h"

#include <cmath>

#include "platform/foundation/RunLoopInternal.h"

namespace pf {

namespace {

// A repeating timer needs a positive interval; this is the shortest.
constexpr TimeInterval kMinimumRepeatInterval = 0.0001;

}  // namespace

Timer::Timer(double fireDate, TimeInterval interval, bool repeats, Callback callback)
    : interval_(repeats ? std::max(std::isnan(interval) ? 0.0 : interval, kMinimumRepeatInterval)
                        : (std::isnan(interval) || interval < 0 ? 0.0 : interval)),
      repeats_(repeats),
      state_(std::make_unique<detail::TimerState>()) {
  state_->fireDate = std::isnan(fireDate) ? Clock::now() : fireDate;
  state_->callback = std::make_shared<Callback>(std::move(callback));
}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::make(TimeInterval interval, bool repeats, Callback callback) {
  double delay = std::isnan(interval) || interval < 0 ? 0 : interval;
  return makeWithDate(Clock::now() + delay, interval, repeats, std::move(callback));
}

std::shared_ptr<Timer> Timer::makeWithDate(double fireDate, TimeInterval interval, bool repeats, Callback callback) {
  return std::shared_ptr<Timer>(new Timer(fireDate, interval, repeats, std::move(callback)));
}

std::shared_ptr<Timer> Timer::scheduled(TimeInterval interval, bool repeats, Callback callback) {
  auto timer = make(interval, repeats, std::move(callback));
  RunLoop::current()->addTimer(timer, kDefaultRunLoopMode);
  return timer;
}

void Timer::fire() {
  if (!isValid()) return;
  std::shared_ptr<Callback> callback;
  {
    std::lock_guard lock(state_->mutex);
    callback = state_->callback;
  }
  auto keep = shared_from_this();
  if (callback && *callback) (*callback)(*this);
  if (!repeats_) invalidate();
}

void Timer::invalidate() {
  if (!state_->valid.exchange(false)) return;
  std::shared_ptr<RunLoop> loop;
  std::shared_ptr<Callback> callback;
  {
    std::lock_guard lock(state_->mutex);
    loop = state_->loop.lock();
    callback = std::move(state_->callback);
  }
  if (loop) detail::removeInvalidatedTimer(*loop, shared_from_this());
  // `callback` (and whatever it holds) is released here, outside every lock.
}

bool Timer::isValid() const { return state_->valid.load(); }

double Timer::fireDate() const {
  std::lock_guard lock(state_->mutex);
  return state_->fireDate;
}

void Timer::setFireDate(double date) {
  if (std::isnan(date)) return;
  // Fast path: re-armed on its own thread's loop, which lives as long as this thread runs.
  RunLoop* mine = detail::currentLoopIfAny();
  std::shared_ptr<RunLoop> loop;
  bool onMine = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->fireDate = date;
    onMine = mine && state_->owner.load(std::memory_order_relaxed) == mine;
    if (!onMine) loop = state_->loop.lock();
  }
  if (!isValid()) return;
  if (onMine)
    detail::rescheduleTimer(*mine, *this, date);
  else if (loop)
    detail::rescheduleTimer(*loop, *this, date);
}

std::shared_ptr<RunLoop> Timer::runLoop() const {
  std::lock_guard lock(state_->mutex);
  return state_->loop.lock();
}

}  // namespace pf
