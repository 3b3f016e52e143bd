#pragma once
// Private to the concurrency files: the run loop's state, shared with Timer.cc and Dispatch.cc.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/ClockInternal.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"

namespace pf::detail {

struct Mode;

inline constexpr std::size_t kNotInHeap = static_cast<std::size_t>(-1);

// Where a timer is scheduled. Guarded by the owning loop's mutex, except where said. It lives in
// the same allocation as its timer (see Timer.cc); what firing touches comes first, on as few
// cache lines as can be.
struct TimerState {
  struct Slot {
    Mode* mode;
    std::size_t index;  // position in the mode's heap; not in it while firing
  };

  std::atomic<bool> valid{true};
  std::atomic<int> calling{0};  // calls of the callback in progress (see TimerCall)
  // Written under the owning loop's mutex while scheduled, else under `mutex`; read anywhere (it
  // publishes nothing else: relaxed).
  std::atomic<double> fireDate{0};
  std::uint64_t generation = 0;  // bumped whenever its date changes
  // The modes it is in: most timers are in one, kept inline; the others in `more` (a list: heap
  // entries point into the slots).
  Slot home{nullptr, kNotInHeap};
  // The loop's reference while it is scheduled (in a mode or the common set): heap entries and
  // slots point at the timer without owning it.
  std::shared_ptr<Timer> retained;
  // Stays in place while a call is in progress; released, under `mutex`, by whoever sees the
  // timer invalid and no call in progress.
  Timer::Callback callback;

  Mutex mutex;  // guards loop, and the release of callback
  std::weak_ptr<RunLoop> loop PF_GUARDED_BY(mutex);  // set while in at least one mode
  std::atomic<const RunLoop*> owner{nullptr};  // the same loop, for identity checks only
  std::list<Slot> more;
  bool inCommonModes = false;
  // Identity of a delayed perform (RunLoop::performAfter), for cancelPerforms.
  const void* target = nullptr;
  std::string name;

  bool scheduled() const { return home.mode || !more.empty(); }
  Slot* slotOf(const Mode* m) {
    if (home.mode == m) return &home;
    for (auto& slot : more)
      if (slot.mode == m) return &slot;
    return nullptr;
  }
  // `f` may require the caller's lock, which the analysis does not see here.
  template <class F>
  void forEachSlot(F&& f) PF_NO_THREAD_SAFETY_ANALYSIS {
    if (home.mode) f(home);
    for (auto& slot : more) f(slot);
  }
  Slot& addSlot(Mode* m) {
    if (!home.mode) {
      home = Slot{m, kNotInHeap};
      return home;
    }
    return more.emplace_back(Slot{m, kNotInHeap});
  }
  // Some mode it is in (it must be in one).
  Mode* anyMode() const { return home.mode ? home.mode : more.back().mode; }
  // Forgets mode `m`; returns its heap index (kNotInHeap also when it was not in `m`).
  bool removeSlot(const Mode* m, std::size_t& index) {
    if (home.mode == m) {
      index = home.index;
      home = Slot{nullptr, kNotInHeap};
      return true;
    }
    for (auto it = more.begin(); it != more.end(); ++it) {
      if (it->mode != m) continue;
      index = it->index;
      more.erase(it);
      return true;
    }
    return false;
  }
};

// A call of a timer's callback, without locks. Entering counts the call, then looks at `valid`;
// invalidate() clears `valid`, then looks at the count: one of the two sees the other, so the
// callback is never released under a call that went ahead. Leaving releases the callback (outside
// every lock) if the timer was invalidated meanwhile.
class TimerCall {
 public:
  explicit TimerCall(TimerState& st) : st_(st) {
    st_.calling.fetch_add(1);
    entered_ = st_.valid.load();
  }
  ~TimerCall();
  TimerCall(const TimerCall&) = delete;
  TimerCall& operator=(const TimerCall&) = delete;
  // False when the timer was already invalidated: then there is nothing to call.
  explicit operator bool() const { return entered_; }
  void operator()(Timer& timer) {
    if (st_.callback) st_.callback(timer);
  }

 private:
  TimerState& st_;
  bool entered_;
};

struct SourceMembership {
  SourceMembership(std::uint32_t interest, std::shared_ptr<RunLoopSource::FdCallback> onFd,
                   std::shared_ptr<RunLoopSource::SignalCallback> onSignal)
      : events(interest), fdCallback(std::move(onFd)), signalCallback(std::move(onSignal)) {}

  Mutex mutex;
  std::weak_ptr<RunLoop> loop PF_GUARDED_BY(mutex);
  std::uint32_t events PF_GUARDED_BY(mutex);
  std::shared_ptr<RunLoopSource::FdCallback> fdCallback PF_GUARDED_BY(mutex);
  std::shared_ptr<RunLoopSource::SignalCallback> signalCallback PF_GUARDED_BY(mutex);
  std::atomic<bool> valid{true};
  std::atomic<bool> signalled{false};
  // Loop-guarded:
  std::vector<Mode*> modes;
  bool inCommonModes = false;
  bool queuedAsSignalled = false;
};

struct TimerEntry {
  double date;
  std::uint64_t sequence;
  Timer* timer;        // kept alive by its TimerState::retained
  std::size_t* index;  // the timer's slot index for this mode
};

struct FdWatch {
  std::uint32_t interest = 0;  // epoll bits registered
  std::vector<std::shared_ptr<RunLoopSource>> sources;
};

struct Mode {
  std::string name;
  int epollFd = -1;
  std::unordered_map<int, FdWatch> fds;
  std::vector<std::shared_ptr<RunLoopSource>> signalSources;
  std::vector<TimerEntry> heap;  // indexed min-heap by (date, sequence)
  std::size_t liveTimers = 0;
  std::size_t aliveSources = 0;  // sources that keep the mode from being empty
  ~Mode();
};

// Runs the calling thread's run loop (if it has one) for everything due now, without waiting:
// in the mode it is running, else the default mode. True when something was done.
bool runCurrentLoopDueWork();

// Tears the calling thread's run loop down now (as at thread end).
void endCurrentRunLoop();

// The calling thread's run loop if it has one (alive as long as the thread runs), else null.
RunLoop* currentLoopIfAny();

// Timer support (Timer.cc).
// Takes an invalidated timer out of `loop`; false (nothing done) when it is not on `loop`. The
// loop's reference comes back in `retained`, and the callback (unless a call is in progress) in
// `callback`, for the caller to drop outside every lock.
bool removeInvalidatedTimer(RunLoop& loop, Timer& timer, std::shared_ptr<Timer>& retained,
                            Timer::Callback& callback);
// Gives a timer scheduled on `loop` a new date; false (nothing done) when it is not on `loop`.
bool rescheduleTimer(RunLoop& loop, Timer& timer, double date);

}  // namespace pf::detail
