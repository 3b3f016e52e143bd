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

// Where a timer is scheduled. Guarded by the owning loop's mutex, except `loop`, which is also
// guarded by `mutex` (so that a timer can find its loop from any thread).
struct TimerState {
  std::mutex mutex;                  // guards loop, fireDate, callback
  std::weak_ptr<RunLoop> loop;       // set while in at least one mode
  std::atomic<const RunLoop*> owner{nullptr};  // the same loop, for identity checks only
  double fireDate = 0;
  std::shared_ptr<Timer::Callback> callback;
  std::atomic<bool> valid{true};
  // Loop-guarded:
  struct Slot {
    Mode* mode;
    std::size_t index;  // position in the mode's heap; not in it while firing
  };
  std::list<Slot> slots;             // the modes it is in (stable: heap entries point into it)
  bool inCommonModes = false;
  std::uint64_t generation = 0;      // bumped whenever its date changes
  // Identity of a delayed perform (RunLoop::performAfter), for cancelPerforms.
  const void* target = nullptr;
  std::string name;
};

struct SourceMembership {
  std::mutex mutex;                  // guards loop, callbacks, events
  std::weak_ptr<RunLoop> loop;
  std::uint32_t events = 0;
  std::shared_ptr<RunLoopSource::FdCallback> fdCallback;
  std::shared_ptr<RunLoopSource::SignalCallback> signalCallback;
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
  std::shared_ptr<Timer> timer;
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
void removeInvalidatedTimer(RunLoop& loop, const std::shared_ptr<Timer>& timer);
void rescheduleTimer(RunLoop& loop, Timer& timer, double date);

}  // namespace pf::detail
