#include "platform/foundation/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoopInternal.h"
#include "platform/foundation/Thread.h"

namespace pf {
namespace detail {

Mode::~Mode() {
  if (epollFd >= 0) ::close(epollFd);
}

namespace {

enum PerformFlags : std::uint8_t { kInCommon = 1, kInDefault = 2 };

struct PerformItem {
  std::uint64_t sequence;
  int order;
  const void* target;
  std::string name;
  std::uint8_t flags;
  std::vector<std::string> modes;  // besides the flags
  std::function<void()> block;
};

struct Frame {
  Mode* mode;
  double limitDate;
  bool stopped = false;
  Frame* outer;
};

std::uint32_t toEpoll(std::uint32_t events) {
  std::uint32_t bits = 0;
  if (events & kRunLoopRead) bits |= EPOLLIN;
  if (events & kRunLoopWrite) bits |= EPOLLOUT;
  return bits;
}

std::uint32_t fromEpoll(std::uint32_t bits) {
  std::uint32_t events = 0;
  if (bits & (EPOLLIN | EPOLLPRI)) events |= kRunLoopRead;
  if (bits & EPOLLOUT) events |= kRunLoopWrite;
  if (bits & EPOLLERR) events |= kRunLoopError;
  if (bits & EPOLLHUP) events |= kRunLoopHangUp;
  return events;
}

bool contains(const std::vector<Mode*>& modes, const Mode* mode) {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}


}  // namespace

struct RunLoopImpl final : ClockParticipant {
  RunLoop* self;
  long ownerTid;
  bool isMain;

  mutable Mutex mutex;
  std::unordered_map<std::string, std::unique_ptr<Mode>> modes PF_GUARDED_BY(mutex);
  // The last one looked up (a loop mostly uses one or two).
  mutable Mode* lastMode PF_GUARDED_BY(mutex) = nullptr;
  std::vector<std::string> commonModes PF_GUARDED_BY(mutex){kDefaultRunLoopMode};
  std::vector<std::shared_ptr<Timer>> commonTimers PF_GUARDED_BY(mutex);
  std::vector<std::shared_ptr<RunLoopSource>> commonSources PF_GUARDED_BY(mutex);
  std::vector<PerformItem> performs PF_GUARDED_BY(mutex);
  std::vector<std::shared_ptr<Timer>> delayedPerforms PF_GUARDED_BY(mutex);
  std::vector<std::shared_ptr<RunLoopSource>> signalled PF_GUARDED_BY(mutex);
  std::uint64_t sequence PF_GUARDED_BY(mutex) = 0;
  std::uint64_t nestGeneration PF_GUARDED_BY(mutex) = 0;
  Frame* top PF_GUARDED_BY(mutex) = nullptr;
  int depth PF_GUARDED_BY(mutex) = 0;
  bool waiting PF_GUARDED_BY(mutex) = false;
  bool dead PF_GUARDED_BY(mutex) = false;

  int wakeFd = -1;
  std::atomic<bool> wakePending{false};
  std::atomic<bool> waitingFlag{false};
  std::atomic<int> depthFlag{0};

  RunLoopImpl(RunLoop* owner, long tid, bool main) : self(owner), ownerTid(tid), isMain(main) {
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) throw Exception(kInternalInconsistencyException, "run loop: eventfd failed");
    addClockParticipant(this);
  }

  ~RunLoopImpl() override {
    removeClockParticipant(this);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  bool onOwnerThread() const { return currentThreadId() == ownerTid; }

  static RunLoopImpl& of(const RunLoop& loop) { return *loop.impl_; }

  // ---- waking (mutex held)
  void wakeLocked() PF_REQUIRES(mutex) {
    if (takeWaiter()) signalWakeFd();
  }

  // Whether the loop waits (it will not count as waiting any more): the caller then signals the
  // wake descriptor once it has let go of the mutex, so the woken thread does not find it held.
  bool takeWaiter() PF_REQUIRES(mutex) {
    if (!waiting) return false;
    waiting = false;
    waitingFlag.store(false, std::memory_order_release);
    return true;
  }

  void signalWakeFd() {
    if (!wakePending.exchange(true, std::memory_order_acq_rel)) {
      std::uint64_t one = 1;
      ssize_t n = ::write(wakeFd, &one, sizeof one);
      (void)n;
    }
  }

  void drainWakeFd() {
    // One read takes an eventfd's whole count.
    std::uint64_t value;
    ssize_t n = ::read(wakeFd, &value, sizeof value);
    (void)n;
    wakePending.store(false, std::memory_order_release);
  }

  // ---- modes (mutex held)
  Mode* findMode(const std::string& name) const PF_REQUIRES(mutex) {
    if (lastMode && lastMode->name == name) return lastMode;
    auto it = modes.find(name);
    if (it == modes.end()) return nullptr;
    lastMode = it->second.get();
    return lastMode;
  }

  Mode* mode(const std::string& name) PF_REQUIRES(mutex) {
    if (auto* m = findMode(name)) return m;
    auto m = std::make_unique<Mode>();
    m->name = name;
    m->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (m->epollFd < 0) throw Exception(kInternalInconsistencyException, "run loop: epoll_create1 failed");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wakeFd;
    ::epoll_ctl(m->epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
    auto* raw = m.get();
    modes.emplace(name, std::move(m));
    return raw;
  }

  bool isCommon(const std::string& name) const PF_REQUIRES(mutex) {
    return std::find(commonModes.begin(), commonModes.end(), name) != commonModes.end();
  }

  // ---- sources (mutex held)
  void updateInterest(Mode* m, int fd) PF_REQUIRES(mutex) {
    auto it = m->fds.find(fd);
    std::uint32_t want = 0;
    if (it != m->fds.end()) {
      for (auto& s : it->second.sources) {
        MutexLock lock(s->state_->mutex);
        if (s->state_->valid.load()) want |= toEpoll(s->state_->events);
      }
    }
    std::uint32_t had = it == m->fds.end() ? 0 : it->second.interest;
    if (want == had) {
      if (it != m->fds.end() && it->second.sources.empty()) m->fds.erase(it);
      return;
    }
    epoll_event ev{};
    ev.events = want;
    ev.data.fd = fd;
    if (want == 0) {
      ::epoll_ctl(m->epollFd, EPOLL_CTL_DEL, fd, &ev);
    } else if (had == 0) {
      if (::epoll_ctl(m->epollFd, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST)
        ::epoll_ctl(m->epollFd, EPOLL_CTL_MOD, fd, &ev);
    } else {
      if (::epoll_ctl(m->epollFd, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT)
        ::epoll_ctl(m->epollFd, EPOLL_CTL_ADD, fd, &ev);
    }
    if (it != m->fds.end()) {
      it->second.interest = want;
      if (it->second.sources.empty()) m->fds.erase(it);
    }
  }

  void addSourceToMode(const std::shared_ptr<RunLoopSource>& source, Mode* m) PF_REQUIRES(mutex) {
    auto& st = *source->state_;
    if (contains(st.modes, m)) return;
    st.modes.push_back(m);
    ++m->aliveSources;
    if (source->fd_ >= 0) {
      m->fds[source->fd_].sources.push_back(source);
      updateInterest(m, source->fd_);
    } else {
      m->signalSources.push_back(source);
      if (st.signalled.load() && !st.queuedAsSignalled) {
        st.queuedAsSignalled = true;
        signalled.push_back(source);
      }
    }
    if (!onOwnerThread()) wakeLocked();
  }

  void removeSourceFromMode(const std::shared_ptr<RunLoopSource>& source, Mode* m) PF_REQUIRES(mutex) {
    auto& st = *source->state_;
    auto it = std::find(st.modes.begin(), st.modes.end(), m);
    if (it == st.modes.end()) return;
    st.modes.erase(it);
    --m->aliveSources;
    if (source->fd_ >= 0) {
      auto w = m->fds.find(source->fd_);
      if (w != m->fds.end()) std::erase(w->second.sources, source);
      updateInterest(m, source->fd_);
    } else {
      std::erase(m->signalSources, source);
    }
  }

  void releaseSourceIfUnscheduled(const std::shared_ptr<RunLoopSource>& source) PF_REQUIRES(mutex) {
    auto& st = *source->state_;
    if (!st.modes.empty() || st.inCommonModes) return;
    if (st.queuedAsSignalled) {
      st.queuedAsSignalled = false;
      std::erase(signalled, source);
    }
    MutexLock lock(st.mutex);
    st.loop.reset();
  }

  void removeSourceEverywhere(const std::shared_ptr<RunLoopSource>& source) PF_REQUIRES(mutex) {
    auto& st = *source->state_;
    if (st.inCommonModes) {
      st.inCommonModes = false;
      std::erase(commonSources, source);
    }
    while (!st.modes.empty()) removeSourceFromMode(source, st.modes.back());
    releaseSourceIfUnscheduled(source);
  }

  // ---- timers (mutex held). Each mode keeps an indexed min-heap: a timer knows its position in
  // the heap of every mode it is in, so removing or moving it costs O(log n) and no stale entry
  // ever stays behind.
  static inline bool earlier(const TimerEntry& a, const TimerEntry& b) {
    return a.date < b.date || (a.date == b.date && a.sequence < b.sequence);
  }

  static void place(Mode* m, std::size_t i) { *m->heap[i].index = i; }

  static void siftUp(Mode* m, std::size_t i) {
    auto& h = m->heap;
    while (i > 0) {
      std::size_t parent = (i - 1) / 2;
      if (!earlier(h[i], h[parent])) break;
      std::swap(h[i], h[parent]);
      place(m, i);
      i = parent;
    }
    place(m, i);
  }

  static void siftDown(Mode* m, std::size_t i) {
    auto& h = m->heap;
    for (;;) {
      std::size_t least = i, l = 2 * i + 1, r = l + 1;
      if (l < h.size() && earlier(h[l], h[least])) least = l;
      if (r < h.size() && earlier(h[r], h[least])) least = r;
      if (least == i) break;
      std::swap(h[i], h[least]);
      place(m, i);
      i = least;
    }
    place(m, i);
  }

  // Restores the heap around entry `i` after its key changed or it was replaced.
  static void fix(Mode* m, std::size_t i) {
    if (i > 0 && earlier(m->heap[i], m->heap[(i - 1) / 2]))
      siftUp(m, i);
    else
      siftDown(m, i);
  }

  void heapInsert(Mode* m, Timer& timer, double date, TimerState::Slot& slot) PF_REQUIRES(mutex) {
    m->heap.push_back(TimerEntry{date, ++sequence, &timer, &slot.index});
    siftUp(m, m->heap.size() - 1);
  }

  // Takes entry `i` out; its timer's slot must be marked kNotInHeap by the caller.
  static Timer* heapErase(Mode* m, std::size_t i) {
    auto& h = m->heap;
    Timer* timer = h[i].timer;
    std::size_t last = h.size() - 1;
    if (i != last) h[i] = std::move(h[last]);
    h.pop_back();
    if (i < h.size()) fix(m, i);
    return timer;
  }

  bool owns(const Timer& timer) const { return timer.state_->owner.load(std::memory_order_relaxed) == self; }

  static double fireDateOf(const std::shared_ptr<Timer>& timer) {
    return timer->state_->fireDate.load(std::memory_order_relaxed);
  }

  void addTimerToMode(const std::shared_ptr<Timer>& timer, Mode* m, double fireDate) PF_REQUIRES(mutex) {
    auto& st = *timer->state_;
    if (st.slotOf(m)) return;
    auto& slot = st.addSlot(m);
    ++m->liveTimers;
    if (!st.retained) st.retained = timer;
    heapInsert(m, *timer, fireDate, slot);
    if (!onOwnerThread()) wakeLocked();
  }

  void removeTimerFromMode(Timer& timer, Mode* m) PF_REQUIRES(mutex) {
    auto& st = *timer.state_;
    std::size_t index;
    if (!st.removeSlot(m, index)) return;
    --m->liveTimers;
    if (index != kNotInHeap) {
      auto& h = m->heap;
      std::size_t last = h.size() - 1;
      if (index != last) h[index] = std::move(h[last]);
      h.pop_back();
      if (index < h.size()) fix(m, index);
    }
  }

  // Returns the loop's reference once the timer is in no mode: the caller drops it after unlocking
  // (it may be the last one). `callback`, when given, receives the callback of an invalidated
  // timer with no call in progress, for the caller to drop after unlocking too.
  [[nodiscard]] static std::shared_ptr<Timer> releaseTimerIfUnscheduled(Timer& timer,
                                                                        Timer::Callback* callback = nullptr) {
    auto& st = *timer.state_;
    if (st.scheduled() || st.inCommonModes) return nullptr;
    {
      MutexLock lock(st.mutex);
      st.loop.reset();
      st.owner.store(nullptr, std::memory_order_relaxed);
      if (callback && st.callback && st.calling.load() == 0) *callback = std::exchange(st.callback, nullptr);
    }
    return std::move(st.retained);
  }

  [[nodiscard]] std::shared_ptr<Timer> removeTimerEverywhere(Timer& timer, Timer::Callback* callback) PF_REQUIRES(mutex) {
    auto& st = *timer.state_;
    if (st.inCommonModes) {
      st.inCommonModes = false;
      std::erase_if(commonTimers, [&](auto& t) { return t.get() == &timer; });
    }
    while (st.scheduled()) removeTimerFromMode(timer, st.anyMode());
    return releaseTimerIfUnscheduled(timer, callback);
  }

  // A new fire date for a scheduled timer: its entry in every mode moves (or comes back).
  void reschedule(Timer& timer, double date) PF_REQUIRES(mutex) {
    auto& st = *timer.state_;
    ++st.generation;
    st.forEachSlot([&](TimerState::Slot& slot) PF_REQUIRES(mutex) {
      Mode* m = slot.mode;
      if (slot.index == kNotInHeap) {
        heapInsert(m, timer, date, slot);
      } else {
        std::size_t i = slot.index;
        m->heap[i].date = date;
        m->heap[i].sequence = ++sequence;
        fix(m, i);
      }
    });
    if (!onOwnerThread()) wakeLocked();
  }

  // setFireDate on a timer of this loop: false when it is not one.
  bool rearm(Timer& timer, double date) PF_REQUIRES(mutex) {
    if (!owns(timer)) return false;
    timer.state_->fireDate.store(date, std::memory_order_relaxed);
    if (timer.isValid()) reschedule(timer, date);
    return true;
  }

  // Takes the timer out of every heap (it stays in its modes) while its one-shot firing runs.
  void unheap(const std::shared_ptr<Timer>& timer) {
    timer->state_->forEachSlot([](TimerState::Slot& slot) {
      if (slot.index == kNotInHeap) return;
      std::size_t i = slot.index;
      slot.index = kNotInHeap;
      heapErase(slot.mode, i);
    });
  }

  // ---- performs (mutex held)
  bool performMatches(const PerformItem& item, const Mode* m) const PF_REQUIRES(mutex) {
    if ((item.flags & kInDefault) && m->name == kDefaultRunLoopMode) return true;
    if ((item.flags & kInCommon) && isCommon(m->name)) return true;
    return std::find(item.modes.begin(), item.modes.end(), m->name) != item.modes.end();
  }

  bool hasPerformFor(const Mode* m) const PF_REQUIRES(mutex) {
    for (auto& p : performs)
      if (performMatches(p, m)) return true;
    return false;
  }

  bool hasSignalledIn(const Mode* m) const PF_REQUIRES(mutex) {
    for (auto& s : signalled)
      if (contains(s->state_->modes, m)) return true;
    return false;
  }

  bool isEmpty(const Mode* m) const PF_REQUIRES(mutex) {
    return m->liveTimers == 0 && m->aliveSources == 0 && !hasSignalledIn(m) && !hasPerformFor(m);
  }

  // Answers whether the caller must wake the loop (see takeWaiter).
  [[nodiscard]] bool addPerform(PerformItem item) PF_REQUIRES(mutex) {
    if (dead) return false;
    item.sequence = ++sequence;
    performs.push_back(std::move(item));
    return takeWaiter();
  }

  static PerformItem makePerform(const void* target, std::string name, int order, std::function<void()> block,
                                 const std::vector<RunLoopMode>& modes) {
    PerformItem item{0, order, target, std::move(name), 0, {}, std::move(block)};
    for (auto& m : modes) {
      if (m == kRunLoopCommonModes)
        item.flags |= kInCommon;
      else if (m == kDefaultRunLoopMode)
        item.flags |= kInDefault;
      else
        item.modes.push_back(m);
    }
    return item;
  }

  // ---- running (owner thread)
  // Gives the lock up around `f` and takes it back, through the caller's lock (the analysis cannot
  // follow a lock given up and taken again in a helper's local object).
  template <class F>
  void unlocked(UniqueLock<Mutex>& lock, F&& f) PF_REQUIRES(mutex) PF_NO_THREAD_SAFETY_ANALYSIS {
    lock.unlock();
    struct Relock {
      UniqueLock<Mutex>& l;
      ~Relock() PF_NO_THREAD_SAFETY_ANALYSIS { l.lock(); }
    } relock{lock};
    f();
  }

  bool runPerforms(UniqueLock<Mutex>& lock, Mode* m) PF_REQUIRES(mutex) {
    if (performs.empty()) return false;
    std::vector<PerformItem> batch;
    for (auto it = performs.begin(); it != performs.end();) {
      if (performMatches(*it, m)) {
        batch.push_back(std::move(*it));
        it = performs.erase(it);
      } else {
        ++it;
      }
    }
    if (batch.empty()) return false;
    std::stable_sort(batch.begin(), batch.end(), [](auto& a, auto& b) { return a.order < b.order; });
    std::size_t i = 0;
    try {
      unlocked(lock, [&] {
        for (; i < batch.size(); ++i) {
          auto block = std::move(batch[i].block);
          batch[i].block = nullptr;
          block();
        }
      });
    } catch (...) {
      // A block raised: the ones after it stay pending, ahead of anything queued since.
      performs.insert(performs.begin(), std::make_move_iterator(batch.begin() + static_cast<std::ptrdiff_t>(i + 1)),
                      std::make_move_iterator(batch.end()));
      throw;
    }
    return true;
  }

  struct DueKey {
    double date;
    std::uint64_t sequence;
    std::size_t index;
  };
  std::vector<DueKey> dueKeys PF_GUARDED_BY(mutex);  // scratch of fireTimers (used before any callback runs)

  bool fireTimers(UniqueLock<Mutex>& lock, Mode* m) PF_REQUIRES(mutex) {
    if (m->heap.empty()) return false;
    double now = Clock::now();
    if (m->heap.front().date > now) return false;
    // Everything due now is taken out first, so a timer scheduled from a callback waits for the
    // next pass.
    struct Due {
      std::shared_ptr<Timer> timer;
      std::uint64_t generation;
    };
    std::vector<Due> due;
    auto& h = m->heap;
    if (std::all_of(h.begin(), h.end(), [now](auto& e) { return e.date <= now; })) {
      // All due (a burst of 0 s timers): one sort instead of a pop per timer, of plain keys.
      auto& keys = dueKeys;
      keys.clear();
      keys.reserve(h.size());
      for (std::size_t i = 0; i < h.size(); ++i) keys.push_back({h[i].date, h[i].sequence, i});
      std::sort(keys.begin(), keys.end(), [](const DueKey& a, const DueKey& b) {
        return a.date < b.date || (a.date == b.date && a.sequence < b.sequence);
      });
      due.reserve(h.size());
      for (auto& key : keys) {
        auto& e = h[key.index];
        *e.index = kNotInHeap;
        auto& st = *e.timer->state_;
        due.push_back({st.retained, st.generation});
      }
      h.clear();
    }
    while (!h.empty() && h.front().date <= now) {
      *h.front().index = kNotInHeap;
      auto& st = *h.front().timer->state_;
      auto generation = st.generation;
      due.push_back({st.retained, generation});
      heapErase(m, 0);
    }
    bool fired = false;
    std::size_t k = 0;
    struct Requeue {  // a callback raised: timers taken out but not fired go back in their heap
      RunLoopImpl& impl;
      Mode* m;
      std::vector<Due>& due;
      std::size_t& k;
      // Runs as fireTimers unwinds, with its lock held.
      ~Requeue() PF_NO_THREAD_SAFETY_ANALYSIS {
        if (!std::uncaught_exceptions()) return;
        for (std::size_t j = k + 1; j < due.size(); ++j) {
          auto& timer = due[j].timer;
          auto& st = *timer->state_;
          auto* slot = st.slotOf(m);
          if (st.valid.load() && slot && slot->index == kNotInHeap) impl.heapInsert(m, *timer, impl.fireDateOf(timer), *slot);
        }
      }
    } requeue{*this, m, due, k};
    for (; k < due.size(); ++k) {
      auto& d = due[k];
      auto& timer = d.timer;
      auto& st = *timer->state_;
      // An earlier callback (or a nested run) may have changed it.
      auto* slot = st.slotOf(m);
      if (!st.valid.load() || !slot || d.generation != st.generation) continue;
      double next = 0;
      if (timer->repeats_) {
        double interval = timer->interval_;
        next = st.fireDate.load(std::memory_order_relaxed) + interval;
        if (next <= now) next += std::ceil((now - next) / interval + 1e-9) * interval;
        if (next <= now) next = now + interval;
        st.fireDate.store(next, std::memory_order_relaxed);
      }
      if (timer->repeats_) {
        reschedule(*timer, next);  // also moves it on in its other modes: one firing per date
      } else {
        unheap(timer);  // not again in another mode, nor in a nested run
      }
      std::uint64_t generation = st.generation;
      fired = true;
      unlocked(lock, [&] {
        // A one-shot timer is done once fired (even if its callback raised), unless its callback
        // gave it a new date.
        struct Done {
          Timer& timer;
          TimerState& st;
          std::uint64_t generation;
          ~Done() {
            if (!timer.repeats_ && st.generation == generation) timer.invalidate();
          }
        } done{*timer, st, generation};
        // Ends before `done`, so that the invalidation releases the callback at once.
        TimerCall call(st);
        if (call) call(*timer);
      });
    }
    return fired;
  }

  bool fireSignals(UniqueLock<Mutex>& lock, Mode* m) PF_REQUIRES(mutex) {
    if (signalled.empty()) return false;
    std::vector<std::shared_ptr<RunLoopSource>> batch;
    for (auto it = signalled.begin(); it != signalled.end();) {
      auto& st = *(*it)->state_;
      if (contains(st.modes, m)) {
        st.queuedAsSignalled = false;
        batch.push_back(std::move(*it));
        it = signalled.erase(it);
      } else {
        ++it;
      }
    }
    if (batch.empty()) return false;
    bool handled = false;
    std::size_t k = 0;
    struct Requeue {  // a callback raised: sources not yet called stay signalled
      RunLoopImpl& impl;
      std::vector<std::shared_ptr<RunLoopSource>>& batch;
      std::size_t& k;
      // Runs as fireSignals unwinds, with its lock held.
      ~Requeue() PF_NO_THREAD_SAFETY_ANALYSIS {
        if (!std::uncaught_exceptions()) return;
        for (std::size_t j = k + 1; j < batch.size(); ++j) {
          auto& st = *batch[j]->state_;
          if (st.signalled.load() && !st.queuedAsSignalled) {
            st.queuedAsSignalled = true;
            impl.signalled.push_back(batch[j]);
          }
        }
      }
    } requeue{*this, batch, k};
    for (; k < batch.size(); ++k) {
      auto& s = batch[k];
      auto& st = *s->state_;
      if (!st.valid.load() || !contains(st.modes, m)) continue;
      st.signalled.store(false);
      std::shared_ptr<RunLoopSource::SignalCallback> callback;
      {
        MutexLock sl(st.mutex);
        callback = st.signalCallback;
      }
      if (!callback || !*callback) continue;
      handled = true;
      unlocked(lock, [&] { (*callback)(*s); });
    }
    return handled;
  }

  bool handleFd(UniqueLock<Mutex>& lock, Mode* m, int fd, std::uint32_t bits) PF_REQUIRES(mutex) {
    auto it = m->fds.find(fd);
    if (it == m->fds.end()) return false;
    std::uint32_t events = fromEpoll(bits);
    std::vector<std::shared_ptr<RunLoopSource>> targets = it->second.sources;
    bool handled = false;
    for (auto& s : targets) {
      auto& st = *s->state_;
      if (!st.valid.load() || !contains(st.modes, m)) continue;
      std::shared_ptr<RunLoopSource::FdCallback> callback;
      std::uint32_t interest;
      {
        MutexLock sl(st.mutex);
        callback = st.fdCallback;
        interest = st.events;
      }
      std::uint32_t mine = events & (interest | kRunLoopError | kRunLoopHangUp);
      if (mine & (kRunLoopError | kRunLoopHangUp)) mine |= interest;
      if (!(mine & interest) || !callback || !*callback) continue;
      handled = true;
      unlocked(lock, [&] { (*callback)(*s, mine); });
    }
    return handled;
  }

  // Milliseconds to wait (-1: without limit), given the mode's next timer and the run's limit.
  int waitTimeout(Mode* m, double limitDate) {
    double next = limitDate;
    if (!m->heap.empty()) next = std::min(next, m->heap.front().date);
    double now = Clock::now();
    if (next <= now) return 0;
    if (virtualClock()) return -1;
    double ms = std::ceil((next - now) * 1000.0);
    if (ms > 3600000.0) return 3600000;
    return static_cast<int>(ms);
  }

  // `realSlice` >= 0 also ends the run (TimedOut) after that many seconds of real time.
  RunLoopResult run(const std::string& name, double limitDate, bool returnAfterSourceHandled, bool* didSomething,
                    double realSlice = -1) {
    if (!onOwnerThread())
      throw Exception(kInternalInconsistencyException, "a run loop can only be run by its own thread");
    UniqueLock lock(mutex);
    if (dead || name == kRunLoopCommonModes) return RunLoopResult::Finished;
    Mode* m = mode(name);
    if (isEmpty(m)) return RunLoopResult::Finished;
    Frame frame{m, limitDate, false, top};
    top = &frame;
    ++depth;
    ++nestGeneration;
    depthFlag.store(depth, std::memory_order_release);
    struct Pop {
      RunLoopImpl& impl;
      Frame& frame;
      // Runs as run() returns, with its lock held.
      ~Pop() PF_NO_THREAD_SAFETY_ANALYSIS {
        impl.top = frame.outer;
        --impl.depth;
        impl.depthFlag.store(impl.depth, std::memory_order_release);
        ++impl.nestGeneration;
      }
    } pop{*this, frame};

    epoll_event events[16];
    auto realEnd = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(std::max(realSlice, 0.0)));
    for (;;) {
      bool handled = false;
      bool did = runPerforms(lock, m);
      did |= fireTimers(lock, m);
      if (fireSignals(lock, m)) handled = did = true;
      if (didSomething && did) *didSomething = true;
      if (frame.stopped) return RunLoopResult::Stopped;
      if (handled && returnAfterSourceHandled) return RunLoopResult::HandledSource;
      if (dead) return RunLoopResult::Finished;

      int timeout = waitTimeout(m, limitDate);
      if (timeout != 0 && (hasPerformFor(m) || hasSignalledIn(m))) timeout = 0;
      if (realSlice >= 0 && timeout != 0) {
        auto left = std::chrono::duration<double>(realEnd - std::chrono::steady_clock::now()).count();
        int ms = left <= 0 ? 0 : static_cast<int>(std::ceil(left * 1000.0));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
      }
      if (timeout != 0) {
        waiting = true;
        waitingFlag.store(true, std::memory_order_release);
      }
      std::uint64_t generation = nestGeneration;
      int n;
      {
        lock.unlock();
        BlockingScope blocking;
        if (timeout == 0) blocking.end();
        if (timeout != 0) clockParticipantIdle();
        n = ::epoll_wait(m->epollFd, events, 16, timeout);
        lock.lock();
      }
      waiting = false;
      waitingFlag.store(false, std::memory_order_release);
      for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == wakeFd) {
          drainWakeFd();
          continue;
        }
        if (handleFd(lock, m, events[i].data.fd, events[i].events)) {
          handled = true;
          if (didSomething) *didSomething = true;
        }
        // A nested run may have consumed the rest; the descriptors stay ready if they still are.
        if (nestGeneration != generation || frame.stopped || (handled && returnAfterSourceHandled)) break;
      }
      if (frame.stopped) return RunLoopResult::Stopped;
      if (handled && returnAfterSourceHandled) return RunLoopResult::HandledSource;
      if (Clock::now() >= limitDate) return RunLoopResult::TimedOut;
      if (realSlice >= 0 && std::chrono::steady_clock::now() >= realEnd) return RunLoopResult::TimedOut;
      if (dead || isEmpty(m)) return RunLoopResult::Finished;
    }
  }

  // ---- participant
  double nextDeadline(double after) override {
    MutexLock lock(mutex);
    double next = kForever;
    if (dead) return next;
    for (auto& [name, m] : modes) {
      // Entries not later than `after` belong to a mode that is not running: look past them.
      for (auto& e : m->heap)
        if (e.date > after && e.date < next) next = e.date;
    }
    for (Frame* f = top; f; f = f->outer)
      if (f->limitDate > after) next = std::min(next, f->limitDate);
    return next;
  }

  bool busy() override {
    return depthFlag.load(std::memory_order_acquire) > 0 && !waitingFlag.load(std::memory_order_acquire) &&
           ownerTid != advancingThread();
  }

  void kick() override {
    MutexLock lock(mutex);
    wakeLocked();
  }

  // ---- teardown (thread end)
  void teardown() {
    std::vector<std::shared_ptr<Timer>> timers;
    std::vector<std::shared_ptr<RunLoopSource>> sources;
    std::vector<PerformItem> dropped;
    {
      MutexLock lock(mutex);
      dead = true;
      for (auto& [name, m] : modes) {
        for (auto& e : m->heap) timers.push_back(e.timer->state_->retained);
        for (auto& [fd, w] : m->fds) sources.insert(sources.end(), w.sources.begin(), w.sources.end());
        sources.insert(sources.end(), m->signalSources.begin(), m->signalSources.end());
      }
      timers.insert(timers.end(), commonTimers.begin(), commonTimers.end());
      sources.insert(sources.end(), commonSources.begin(), commonSources.end());
      dropped = std::move(performs);
      performs.clear();
      delayedPerforms.clear();
      signalled.clear();
    }
    for (auto& t : timers) t->invalidate();
    for (auto& s : sources) s->invalidate();
    MutexLock lock(mutex);
    commonTimers.clear();
    commonSources.clear();
    lastMode = nullptr;
    modes.clear();
  }
};

namespace {

bool isMainThreadId() { return currentThreadId() == static_cast<long>(::getpid()); }

std::shared_ptr<RunLoop>& mainLoopStorage() {
  static auto* loop = new std::shared_ptr<RunLoop>;  // never destroyed: threads may use it at exit
  return *loop;
}

struct CurrentLoop {
  std::shared_ptr<RunLoop> loop;
  ~CurrentLoop() {
    if (loop && !loop->isMain()) RunLoopImpl::of(*loop).teardown();
  }
};

thread_local CurrentLoop tCurrent;

}  // namespace

RunLoop* currentLoopIfAny() {
  if (tCurrent.loop) return tCurrent.loop.get();
  return isMainThreadId() ? mainLoopStorage().get() : nullptr;
}

void endCurrentRunLoop() {
  auto loop = std::move(tCurrent.loop);
  tCurrent.loop.reset();
  if (loop && !loop->isMain()) RunLoopImpl::of(*loop).teardown();
}

bool runCurrentLoopDueWork() {
  auto loop = tCurrent.loop;
  if (!loop && isMainThreadId()) loop = mainLoopStorage();
  if (!loop) return false;
  auto& impl = RunLoopImpl::of(*loop);
  std::string mode;
  {
    MutexLock lock(impl.mutex);
    mode = impl.top ? impl.top->mode->name : kDefaultRunLoopMode;
  }
  bool did = false;
  impl.run(mode, Clock::now(), false, &did);
  return did;
}

bool removeInvalidatedTimer(RunLoop& loop, Timer& timer, std::shared_ptr<Timer>& retained,
                            Timer::Callback& callback) {
  auto& impl = RunLoopImpl::of(loop);
  MutexLock lock(impl.mutex);
  if (!impl.owns(timer)) return false;
  retained = impl.removeTimerEverywhere(timer, &callback);
  return true;
}

bool rescheduleTimer(RunLoop& loop, Timer& timer, double date) {
  auto& impl = RunLoopImpl::of(loop);
  MutexLock lock(impl.mutex);
  return impl.rearm(timer, date);
}


}  // namespace detail

using detail::RunLoopImpl;

// ---------------------------------------------------------------- RunLoopSource

std::shared_ptr<RunLoopSource> RunLoopSource::makeFd(int fd, std::uint32_t events, FdCallback callback) {
  if (fd < 0) throw Exception(kInvalidArgumentException, "run loop source: invalid file descriptor");
  std::shared_ptr<RunLoopSource> source(new RunLoopSource);
  source->fd_ = fd;
  source->state_ = std::make_shared<detail::SourceMembership>(events & (kRunLoopRead | kRunLoopWrite),
                                                              std::make_shared<FdCallback>(std::move(callback)), nullptr);
  return source;
}

std::shared_ptr<RunLoopSource> RunLoopSource::makeSignal(SignalCallback callback) {
  std::shared_ptr<RunLoopSource> source(new RunLoopSource);
  source->state_ = std::make_shared<detail::SourceMembership>(
      0, nullptr, std::make_shared<SignalCallback>(std::move(callback)));
  return source;
}

RunLoopSource::~RunLoopSource() = default;

void RunLoopSource::setEvents(std::uint32_t events) {
  events &= (kRunLoopRead | kRunLoopWrite);
  std::shared_ptr<RunLoop> loop;
  {
    MutexLock lock(state_->mutex);
    if (state_->events == events) return;
    state_->events = events;
    loop = state_->loop.lock();
  }
  if (!loop || fd_ < 0) return;
  auto& impl = *loop->impl_;
  MutexLock lock(impl.mutex);
  for (auto* m : state_->modes) impl.updateInterest(m, fd_);
  if (!impl.onOwnerThread()) impl.wakeLocked();
}

std::uint32_t RunLoopSource::events() const {
  MutexLock lock(state_->mutex);
  return state_->events;
}

void RunLoopSource::signal() {
  if (!state_->valid.load()) return;
  state_->signalled.store(true, std::memory_order_release);
  std::shared_ptr<RunLoop> loop;
  {
    MutexLock lock(state_->mutex);
    loop = state_->loop.lock();
  }
  if (!loop) return;
  auto& impl = *loop->impl_;
  bool wake;
  {
    MutexLock lock(impl.mutex);
    if (!state_->queuedAsSignalled && !state_->modes.empty() && state_->signalled.load()) {
      state_->queuedAsSignalled = true;
      impl.signalled.push_back(shared_from_this());
    }
    wake = impl.takeWaiter();
  }
  if (wake) impl.signalWakeFd();
}

bool RunLoopSource::isSignalled() const { return state_->signalled.load(); }

void RunLoopSource::invalidate() {
  if (!state_->valid.exchange(false)) return;
  std::shared_ptr<RunLoop> loop;
  std::shared_ptr<FdCallback> fdCallback;
  std::shared_ptr<SignalCallback> signalCallback;
  {
    MutexLock lock(state_->mutex);
    loop = state_->loop.lock();
    fdCallback = std::move(state_->fdCallback);
    signalCallback = std::move(state_->signalCallback);
  }
  if (loop) {
    auto& impl = *loop->impl_;
    MutexLock lock(impl.mutex);
    impl.removeSourceEverywhere(shared_from_this());
  }
}

bool RunLoopSource::isValid() const { return state_->valid.load(); }

// ---------------------------------------------------------------- RunLoop

RunLoop::RunLoop() = default;
RunLoop::~RunLoop() = default;

std::shared_ptr<RunLoop> RunLoop::current() {
  auto& slot = detail::tCurrent.loop;
  if (slot) return slot;
  if (detail::isMainThreadId()) {
    slot = main();
    return slot;
  }
  std::shared_ptr<RunLoop> loop(new RunLoop);
  loop->impl_ = std::make_unique<RunLoopImpl>(loop.get(), detail::currentThreadId(), false);
  slot = loop;
  return loop;
}

std::shared_ptr<RunLoop> RunLoop::main() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::shared_ptr<RunLoop> loop(new RunLoop);
    loop->impl_ = std::make_unique<RunLoopImpl>(loop.get(), static_cast<long>(::getpid()), true);
    detail::mainLoopStorage() = loop;
  });
  return detail::mainLoopStorage();
}

bool RunLoop::isMain() const { return impl_->isMain; }
bool RunLoop::isCurrent() const { return impl_->onOwnerThread(); }

void RunLoop::addCommonMode(const RunLoopMode& mode) {
  if (mode == kRunLoopCommonModes) return;
  MutexLock lock(impl_->mutex);
  if (impl_->isCommon(mode)) return;
  impl_->commonModes.push_back(mode);
  auto* m = impl_->mode(mode);
  for (auto& s : impl_->commonSources) impl_->addSourceToMode(s, m);
  for (auto& t : impl_->commonTimers) impl_->addTimerToMode(t, m, RunLoopImpl::fireDateOf(t));
}

std::vector<RunLoopMode> RunLoop::commonModes() const {
  MutexLock lock(impl_->mutex);
  return impl_->commonModes;
}

std::optional<RunLoopMode> RunLoop::currentMode() const {
  MutexLock lock(impl_->mutex);
  if (!impl_->top) return std::nullopt;
  return impl_->top->mode->name;
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode) {
  if (!source || !source->isValid()) return;
  auto& impl = *impl_;
  MutexLock lock(impl.mutex);
  if (impl.dead) return;
  {
    MutexLock sl(source->state_->mutex);
    auto owner = source->state_->loop.lock();
    if (owner && owner.get() != this)
      throw Exception(kInvalidArgumentException, "run loop source is already scheduled on another run loop");
    if (!owner) source->state_->loop = weak_from_this();
  }
  if (mode == kRunLoopCommonModes) {
    if (source->state_->inCommonModes) return;
    source->state_->inCommonModes = true;
    impl.commonSources.push_back(source);
    for (auto& name : impl.commonModes) impl.addSourceToMode(source, impl.mode(name));
  } else {
    impl.addSourceToMode(source, impl.mode(mode));
  }
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode) {
  if (!source) return;
  auto& impl = *impl_;
  MutexLock lock(impl.mutex);
  {
    MutexLock sl(source->state_->mutex);
    if (source->state_->loop.lock().get() != this) return;
  }
  if (mode == kRunLoopCommonModes) {
    if (!source->state_->inCommonModes) return;
    source->state_->inCommonModes = false;
    std::erase(impl.commonSources, source);
    for (auto& name : impl.commonModes)
      if (auto* m = impl.findMode(name)) impl.removeSourceFromMode(source, m);
  } else if (auto* m = impl.findMode(mode)) {
    impl.removeSourceFromMode(source, m);
  }
  impl.releaseSourceIfUnscheduled(source);
}

bool RunLoop::containsSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode) const {
  if (!source) return false;
  MutexLock lock(impl_->mutex);
  if (mode == kRunLoopCommonModes) return source->state_->inCommonModes;
  auto* m = impl_->findMode(mode);
  return m && detail::contains(source->state_->modes, m);
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) {
  if (!timer || !timer->isValid()) return;
  auto& impl = *impl_;
  MutexLock lock(impl.mutex);
  if (impl.dead) return;
  double fireDate;
  {
    auto& st = *timer->state_;
    MutexLock tl(st.mutex);
    // Without an owner (the usual case) there is no loop to look at.
    auto owner = st.owner.load(std::memory_order_relaxed) ? st.loop.lock() : nullptr;
    if (owner && owner.get() != this)
      throw Exception(kInvalidArgumentException, "timer is already scheduled on another run loop");
    if (!owner) {
      st.loop = weak_from_this();
      st.owner.store(this, std::memory_order_relaxed);
    }
    fireDate = st.fireDate.load(std::memory_order_relaxed);
  }
  if (mode == kRunLoopCommonModes) {
    if (timer->state_->inCommonModes) return;
    timer->state_->inCommonModes = true;
    impl.commonTimers.push_back(timer);
    for (auto& name : impl.commonModes) impl.addTimerToMode(timer, impl.mode(name), fireDate);
  } else {
    impl.addTimerToMode(timer, impl.mode(mode), fireDate);
  }
}

void RunLoop::removeTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) {
  if (!timer) return;
  auto& impl = *impl_;
  MutexLock lock(impl.mutex);
  {
    MutexLock tl(timer->state_->mutex);
    if (timer->state_->loop.lock().get() != this) return;
  }
  if (mode == kRunLoopCommonModes) {
    if (!timer->state_->inCommonModes) return;
    timer->state_->inCommonModes = false;
    std::erase(impl.commonTimers, timer);
    for (auto& name : impl.commonModes)
      if (auto* m = impl.findMode(name)) impl.removeTimerFromMode(*timer, m);
  } else if (auto* m = impl.findMode(mode)) {
    impl.removeTimerFromMode(*timer, m);
  }
  // Not the last reference: the caller holds `timer`.
  (void)impl.releaseTimerIfUnscheduled(*timer);
}

bool RunLoop::containsTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) const {
  if (!timer) return false;
  MutexLock lock(impl_->mutex);
  {
    MutexLock tl(timer->state_->mutex);
    if (timer->state_->loop.lock().get() != this) return false;
  }
  if (mode == kRunLoopCommonModes) return timer->state_->inCommonModes;
  auto* m = impl_->findMode(mode);
  return m && timer->state_->slotOf(m);
}

void RunLoop::perform(std::function<void()> block, const std::vector<RunLoopMode>& modes) {
  auto item = RunLoopImpl::makePerform(nullptr, {}, 0, std::move(block), modes);
  bool wake;
  {
    MutexLock lock(impl_->mutex);
    wake = impl_->addPerform(std::move(item));
  }
  if (wake) impl_->signalWakeFd();
}

void RunLoop::performOrdered(const void* target, std::string name, int order, std::function<void()> block,
                             const std::vector<RunLoopMode>& modes) {
  auto item = RunLoopImpl::makePerform(target, std::move(name), order, std::move(block), modes);
  bool wake;
  {
    MutexLock lock(impl_->mutex);
    wake = impl_->addPerform(std::move(item));
  }
  if (wake) impl_->signalWakeFd();
}

void RunLoop::performAfter(TimeInterval delay, const void* target, std::string name, std::function<void()> block,
                           const std::vector<RunLoopMode>& modes) {
  if (!(delay > 0)) delay = 0;
  auto timer = Timer::make(delay, false, [block = std::move(block)](Timer&) { block(); });
  timer->state_->target = target;
  timer->state_->name = std::move(name);
  {
    MutexLock lock(impl_->mutex);
    if (impl_->dead) return;
    std::erase_if(impl_->delayedPerforms, [](auto& t) { return !t->isValid(); });
    impl_->delayedPerforms.push_back(timer);
  }
  for (auto& m : modes) addTimer(timer, m);
}

void RunLoop::cancelPerforms(const void* target) {
  std::vector<std::shared_ptr<Timer>> cancelled;
  std::vector<detail::PerformItem> dropped;
  {
    auto& impl = *impl_;
    MutexLock lock(impl.mutex);
    for (auto it = impl.performs.begin(); it != impl.performs.end();) {
      if (it->target == target && target) {
        dropped.push_back(std::move(*it));
        it = impl.performs.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(impl.delayedPerforms, [&](auto& t) {
      if (t->state_->target != target || !target) return !t->isValid();
      cancelled.push_back(t);
      return true;
    });
  }
  for (auto& t : cancelled) t->invalidate();
}

void RunLoop::cancelPerforms(const void* target, std::string_view name) {
  std::vector<std::shared_ptr<Timer>> cancelled;
  std::vector<detail::PerformItem> dropped;
  {
    auto& impl = *impl_;
    MutexLock lock(impl.mutex);
    for (auto it = impl.performs.begin(); it != impl.performs.end();) {
      if (target && it->target == target && it->name == name) {
        dropped.push_back(std::move(*it));
        it = impl.performs.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(impl.delayedPerforms, [&](auto& t) {
      if (!target || t->state_->target != target || t->state_->name != name) return !t->isValid();
      cancelled.push_back(t);
      return true;
    });
  }
  for (auto& t : cancelled) t->invalidate();
}

RunLoopResult RunLoop::runInMode(const RunLoopMode& mode, TimeInterval seconds, bool returnAfterSourceHandled) {
  if (std::isnan(seconds) || seconds < 0) seconds = 0;
  double limit = seconds == kForever ? kDistantFuture : Clock::now() + seconds;
  return impl_->run(mode, limit, returnAfterSourceHandled, nullptr);
}

bool RunLoop::runMode(const RunLoopMode& mode, double limitDate) {
  return impl_->run(mode, limitDate, true, nullptr) != RunLoopResult::Finished;
}

void RunLoop::runUntil(double limitDate) {
  while (Clock::now() < limitDate) {
    if (impl_->run(kDefaultRunLoopMode, limitDate, true, nullptr) == RunLoopResult::Finished) return;
  }
}

void RunLoop::run() {
  while (impl_->run(kDefaultRunLoopMode, kDistantFuture, false, nullptr) == RunLoopResult::TimedOut) {
  }
}

bool RunLoop::spinUntil(const std::function<bool()>& done, TimeInterval realLimit, const RunLoopMode& mode) {
  using namespace std::chrono;
  auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(realLimit));
  while (!done()) {
    double left = duration<double>(deadline - steady_clock::now()).count();
    if (left <= 0) return done();
    // Real-time slices: virtual time does not move while spinning.
    double slice = std::min(left, 0.05);
    if (impl_->run(mode, kDistantFuture, true, nullptr, slice) == RunLoopResult::Finished)
      std::this_thread::sleep_for(duration<double>(std::min(slice, 0.002)));
  }
  return true;
}

void RunLoop::stop() {
  MutexLock lock(impl_->mutex);
  if (impl_->top) impl_->top->stopped = true;
  if (!impl_->onOwnerThread()) impl_->signalWakeFd();
}

void RunLoop::wakeUp() { impl_->signalWakeFd(); }

bool RunLoop::isWaiting() const { return impl_->waitingFlag.load(); }

}  // namespace pf
