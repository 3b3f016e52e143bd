#include "platform/foundation/Dispatch.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <queue>
#include <thread>
#include <vector>

#include "platform/foundation/ClockInternal.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/RunLoopInternal.h"

namespace pf {
namespace detail {

namespace {

// ---------------------------------------------------------------- the thread pool

struct PoolTask {
  virtual ~PoolTask() = default;
  virtual void run() = 0;
  PoolTask* next = nullptr;
};

class Pool {
 public:
  static Pool& shared() {
    static Pool* pool = new Pool;  // never destroyed: workers may run during exit
    return *pool;
  }

  void submit(PoolTask* task) {
    bool spawn;
    bool wake = false;
    {
      MutexLock lock(mutex_);
      task->next = nullptr;
      if (tail_)
        tail_->next = task;
      else
        head_ = task;
      tail_ = task;
      ++queued_;
      spawn = needThreadLocked();
      if (!spawn) wake = wakeIdleLocked();
    }
    if (spawn)
      std::thread([this] { work(); }).detach();
    else if (wake)
      cv_.notify_one();
  }

 private:
  // Threads running blocks at once; threads blocked in a platform wait (a sync, a semaphore...)
  // do not count, so blocks waiting on other blocks cannot starve the pool.
  static constexpr int kMaxRunning = 64;
  static constexpr int kMaxThreads = 512;
  // Idle threads beyond this many leave after a while.
  static constexpr int kKeptThreads = 8;

  // Whether an idle thread is to be woken for the queued blocks. One at a time: the woken thread
  // wakes the next if blocks are still waiting when it takes one, so a burst of short blocks does
  // not wake every idle thread (most of which would find nothing left), and the submitting thread
  // (a network or run-loop thread, often) pays for at most one wake-up.
  bool wakeIdleLocked() PF_REQUIRES(mutex_) {
    if (idle_ == 0 || waking_ > 0 || !head_) return false;
    ++waking_;
    return true;
  }

  bool needThreadLocked() PF_REQUIRES(mutex_) {
    if (queued_ <= idle_ || threads_ >= kMaxThreads || threads_ - blocked_ >= kMaxRunning) return false;
    ++threads_;
    return true;
  }

  static void blockingHook(bool blocking) { shared().blocking(blocking); }

  void blocking(bool blocking) {
    bool spawn = false;
    {
      MutexLock lock(mutex_);
      if (blocking) {
        ++blocked_;
        spawn = needThreadLocked();
      } else {
        --blocked_;
      }
    }
    if (spawn) std::thread([this] { work(); }).detach();
  }

  void work() {
    tBlockingHook = &Pool::blockingHook;
    UniqueLock lock(mutex_);
    for (;;) {
      while (!head_) {
        ++idle_;
        bool woken = cv_.wait_for(lock.native(), std::chrono::seconds(20)) == std::cv_status::no_timeout;
        --idle_;
        // Whoever comes out of the wait takes the place of the thread being woken.
        if (waking_ > 0) --waking_;
        if (!woken && !head_ && threads_ > kKeptThreads) {
          --threads_;
          return;
        }
      }
      PoolTask* task = head_;
      head_ = task->next;
      if (!head_) tail_ = nullptr;
      --queued_;
      const bool wake = wakeIdleLocked();
      lock.unlock();
      if (wake) cv_.notify_one();
      task->run();
      lock.lock();
    }
  }

  Mutex mutex_;
  std::condition_variable cv_;
  PoolTask* head_ PF_GUARDED_BY(mutex_) = nullptr;
  PoolTask* tail_ PF_GUARDED_BY(mutex_) = nullptr;
  int queued_ PF_GUARDED_BY(mutex_) = 0;
  int idle_ PF_GUARDED_BY(mutex_) = 0;
  int threads_ PF_GUARDED_BY(mutex_) = 0;
  int blocked_ PF_GUARDED_BY(mutex_) = 0;
  int waking_ PF_GUARDED_BY(mutex_) = 0;  // idle threads notified and not yet out of their wait
};

// ---------------------------------------------------------------- virtual-time accounting

// Blocks submitted in virtual time and not yet finished (main queue excluded: its run loop
// accounts for it).
std::atomic<long> gInFlight{0};
thread_local long tRunningCounted = 0;

class InFlight final : public ClockParticipant {
 public:
  static InFlight& shared() {
    static InFlight* p = [] {
      auto* q = new InFlight;
      addClockParticipant(q);
      return q;
    }();
    return *p;
  }
  double nextDeadline(double) override { return kForever; }
  bool busy() override { return gInFlight.load() - tRunningCounted > 0; }
  void kick() override {}
};

// Registered when the program starts: a first block queued from inside an advance (which holds
// the clock's participant list) must not have to register anything.
[[maybe_unused]] const bool gInFlightRegistered = (InFlight::shared(), true);

bool countIn() {
  if (!virtualClock()) return false;
  gInFlight.fetch_add(1);
  return true;
}

void countOut(bool counted) {
  if (counted && gInFlight.fetch_sub(1) == 1) clockParticipantIdle();
}

void runGuarded(const std::function<void()>& block, const char* where) {
  try {
    block();
  } catch (...) {
    logCurrentException(std::string("a block on ") + where);
  }
}

// Handed from a queue to a thread waiting in sync().
struct SyncWait {
  Mutex mutex;
  std::condition_variable cv;
  bool go PF_GUARDED_BY(mutex) = false;
  std::function<void()> const* block = nullptr;  // main queue: run by the main thread
  std::exception_ptr error;

  void release() {
    MutexLock lock(mutex);
    go = true;
    cv.notify_all();
  }
  void await() {
    UniqueLock lock(mutex);
    waitOnClock(lock.native(), cv, kForever, [&]() PF_REQUIRES(mutex) { return go; });
  }
};

}  // namespace

// ---------------------------------------------------------------- queues

struct Frame {
  QueueImpl* queue;
  Frame* outer;
};
thread_local Frame* tFrames = nullptr;

struct FrameScope {
  Frame frame;
  explicit FrameScope(QueueImpl* q) : frame{q, tFrames} { tFrames = &frame; }
  ~FrameScope() { tFrames = frame.outer; }
};

struct Item {
  std::function<void()> block;
  SyncWait* sync = nullptr;
  bool barrier = false;
  bool counted = false;
};

struct QueueImpl : PoolTask {
  DispatchQueue* self = nullptr;
  DispatchQueue::Kind kind;
  bool global = false;
  std::string label;

  Mutex mutex;
  std::deque<Item> items PF_GUARDED_BY(mutex);
  std::vector<std::pair<const void*, std::shared_ptr<void>>> specifics PF_GUARDED_BY(mutex);

  // Serial: a drainer or a sync caller owns the queue.
  bool owned PF_GUARDED_BY(mutex) = false;
  std::shared_ptr<DispatchQueue> keepAlive PF_GUARDED_BY(mutex);
  std::deque<Item> batch;  // the drainer's items taken from `items` (the owner's alone)

  // Concurrent.
  int running PF_GUARDED_BY(mutex) = 0;
  bool barrierRunning PF_GUARDED_BY(mutex) = false;

  // Main.
  std::shared_ptr<RunLoopSource> mainSource;
  bool mainSignalled PF_GUARDED_BY(mutex) = false;

  bool onStack() const {
    for (Frame* f = tFrames; f; f = f->outer)
      if (f->queue == this) return true;
    return false;
  }

  // ---- serial
  void serialAsync(Item item) {
    bool schedule = false;
    {
      MutexLock lock(mutex);
      items.push_back(std::move(item));
      if (!owned) {
        owned = true;
        schedule = true;
        keepAlive = self->shared_from_this();
      }
    }
    if (schedule) Pool::shared().submit(this);
  }

  // Ownership ends: hand it to the next sync waiter, a new drain (true: submit the queue once
  // the lock is given up), or nobody.
  bool releaseOwnershipLocked() PF_REQUIRES(mutex) {
    if (items.empty()) {
      owned = false;
      return false;
    }
    if (!keepAlive) keepAlive = self->shared_from_this();
    return true;
  }

  void run() override {  // serial drain on a pool thread
    std::shared_ptr<DispatchQueue> keep;
    UniqueLock lock(mutex);
    keep = std::move(keepAlive);
    FrameScope scope(this);
    int handled = 0;
    for (;;) {
      if (items.empty()) {
        owned = false;
        return;  // `lock` unlocks before `keep` lets go
      }
      if (handled >= 256) {  // let other queues have the pool
        keepAlive = std::move(keep);
        lock.unlock();
        Pool::shared().submit(this);
        return;
      }
      batch.swap(items);
      lock.unlock();
      while (!batch.empty()) {
        Item& item = batch.front();
        if (item.sync) {
          SyncWait* wait = item.sync;
          batch.pop_front();
          lock.lock();
          // Put the rest back in front, then hand the queue to the waiting thread.
          items.insert(items.begin(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
          batch.clear();
          lock.unlock();
          wait->release();
          return;  // `keep` lets go; the waiter holds its own reference
        }
        auto block = std::move(item.block);
        bool counted = item.counted;
        batch.pop_front();
        tRunningCounted += counted;
        runGuarded(block, label.c_str());
        block = nullptr;
        tRunningCounted -= counted;
        countOut(counted);
        ++handled;
      }
      lock.lock();
    }
  }

  void serialSync(const std::function<void()>& block) {
    if (onStack())
      throw Exception(kDispatchDeadlockException,
                      "dispatch sync onto the serial queue \"" + label + "\" from its own block would deadlock");
    auto keep = self->shared_from_this();
    {
      UniqueLock lock(mutex);
      if (!owned) {
        owned = true;
      } else {
        SyncWait wait;
        items.push_back(Item{nullptr, &wait, false, false});
        lock.unlock();
        wait.await();
      }
    }
    struct Release {
      QueueImpl& q;
      ~Release() {
        bool submit;
        {
          MutexLock lock(q.mutex);
          submit = q.releaseOwnershipLocked();
        }
        if (submit) Pool::shared().submit(&q);
      }
    } release{*this};
    FrameScope scope(this);
    block();
  }

  // ---- concurrent
  struct Task : PoolTask {
    std::shared_ptr<DispatchQueue> queue;
    QueueImpl* impl = nullptr;
    Item item;
    void run() override;
  };

  void submitTask(Item item) {
    auto* task = new Task;
    task->queue = self->shared_from_this();
    task->impl = this;
    task->item = std::move(item);
    Pool::shared().submit(task);
  }

  void concurrentAsync(Item item) {
    if (global) item.barrier = false;
    {
      MutexLock lock(mutex);
      if (item.barrier) {
        if (running > 0 || barrierRunning || !items.empty()) {
          items.push_back(std::move(item));
          return;
        }
        barrierRunning = true;
        running = 1;
      } else {
        if (barrierRunning || !items.empty()) {
          items.push_back(std::move(item));
          return;
        }
        ++running;
      }
    }
    submitTask(std::move(item));
  }

  // A block (or a sync caller) finished: start what may run now.
  void concurrentDone(bool wasBarrier) {
    std::vector<Item> start;
    {
      MutexLock lock(mutex);
      --running;
      if (wasBarrier) barrierRunning = false;
      while (!items.empty() && !barrierRunning) {
        Item& front = items.front();
        if (front.barrier) {
          if (running > 0) break;
          barrierRunning = true;
        }
        ++running;
        start.push_back(std::move(front));
        items.pop_front();
        if (barrierRunning) break;
      }
    }
    for (auto& item : start) {
      if (item.sync)
        item.sync->release();
      else
        submitTask(std::move(item));
    }
  }

  void concurrentSync(const std::function<void()>& block, bool barrier) {
    if (global) barrier = false;
    {
      UniqueLock lock(mutex);
      bool now = barrier ? (running == 0 && !barrierRunning && items.empty()) : (!barrierRunning && items.empty());
      if (now) {
        ++running;
        if (barrier) barrierRunning = true;
      } else {
        if (onStack())
          throw Exception(kDispatchDeadlockException,
                          "dispatch sync onto the queue \"" + label + "\" from its own block would deadlock");
        SyncWait wait;
        items.push_back(Item{nullptr, &wait, barrier, false});
        lock.unlock();
        wait.await();
      }
    }
    auto keep = self->shared_from_this();
    struct Done {
      QueueImpl& q;
      bool barrier;
      ~Done() { q.concurrentDone(barrier); }
    } done{*this, barrier};
    FrameScope scope(this);
    block();
  }

  // ---- main
  void mainAsync(Item item) {
    bool signal = false;
    {
      MutexLock lock(mutex);
      items.push_back(std::move(item));
      if (!mainSignalled) {
        mainSignalled = true;
        signal = true;
      }
    }
    if (signal) mainSource->signal();
  }

  // Called by the main run loop (common modes). Runs what was queued when it started, one block at
  // a time (a block may run the loop again, and the queue then goes on in order inside it).
  void mainDrain() {
    std::size_t count;
    {
      MutexLock lock(mutex);
      mainSignalled = false;
      count = items.size();
    }
    FrameScope scope(this);
    for (std::size_t i = 0; i < count; ++i) {
      Item item;
      bool signal = false;
      {
        MutexLock lock(mutex);
        if (items.empty()) break;
        item = std::move(items.front());
        items.pop_front();
        // If this block runs the loop again, the rest must be drained inside that run.
        if (!items.empty() && !mainSignalled) mainSignalled = signal = true;
      }
      if (signal) mainSource->signal();
      if (item.sync) {
        try {
          (*item.sync->block)();
        } catch (...) {
          item.sync->error = std::current_exception();
        }
        item.sync->release();
      } else {
        runGuarded(item.block, label.c_str());
      }
    }
    bool again = false;
    {
      MutexLock lock(mutex);
      if (!items.empty() && !mainSignalled) {
        mainSignalled = true;
        again = true;
      }
    }
    if (again) mainSource->signal();
  }

  void mainSync(const std::function<void()>& block) {
    if (RunLoop::main()->isCurrent())
      throw Exception(kDispatchDeadlockException, "dispatch sync onto the main queue from the main thread would deadlock");
    SyncWait wait;
    wait.block = &block;
    mainAsync(Item{nullptr, &wait, false, false});
    wait.await();
    if (wait.error) std::rethrow_exception(wait.error);
  }
};

void QueueImpl::Task::run() {
  std::unique_ptr<Task> self(this);
  auto* q = impl;
  bool counted = item.counted;
  tRunningCounted += counted;
  {
    FrameScope scope(q);
    runGuarded(item.block, q->label.c_str());
    item.block = nullptr;
  }
  tRunningCounted -= counted;
  q->concurrentDone(item.barrier);
  countOut(counted);
}

// ---------------------------------------------------------------- after()

namespace {

class AfterScheduler final : public ClockParticipant {
 public:
  static AfterScheduler& shared() {
    static AfterScheduler* s = [] {
      InFlight::shared();  // registered now: kick() must not register anything
      auto* p = new AfterScheduler;  // never destroyed: its thread runs until exit
      addClockParticipant(p);
      std::thread([p] { p->work(); }).detach();
      return p;
    }();
    return *s;
  }

  void add(double date, std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
    {
      MutexLock lock(mutex_);
      heap_.push_back(Entry{date, ++sequence_, std::move(queue), std::move(block)});
      std::push_heap(heap_.begin(), heap_.end());
    }
    cv_.notify_all();
  }

  double nextDeadline(double after) override {
    MutexLock lock(mutex_);
    double next = kForever;
    for (auto& e : heap_)
      if (e.date > after && e.date < next) next = e.date;
    return next;
  }
  bool busy() override { return false; }
  // Virtual time: post what is due from the advancing thread, so it is counted at once.
  void kick() override {
    postDue();
    cv_.notify_all();
  }

 private:
  struct Entry {
    double date;
    std::uint64_t sequence;
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> block;
    bool operator<(const Entry& other) const {
      return date > other.date || (date == other.date && sequence > other.sequence);
    }
  };

  void postDue() {
    std::vector<Entry> due;
    {
      MutexLock lock(mutex_);
      double now = Clock::now();
      while (!heap_.empty() && heap_.front().date <= now) {
        std::pop_heap(heap_.begin(), heap_.end());
        due.push_back(std::move(heap_.back()));
        heap_.pop_back();
      }
    }
    for (auto& e : due) e.queue->async(std::move(e.block));
  }

  void work() {
    for (;;) {
      // In virtual time only the advancing thread posts (kick), so that it knows what it posted.
      if (!virtualClock()) postDue();
      UniqueLock lock(mutex_);
      double next = heap_.empty() ? kForever : heap_.front().date;
      if (virtualClock() || next == kForever) {
        cv_.wait_for(lock.native(), std::chrono::seconds(1));
      } else {
        double left = next - Clock::now();
        if (left > 0) cv_.wait_for(lock.native(), std::chrono::duration<double>(std::min(left, 1.0)));
      }
    }
  }

  Mutex mutex_;
  std::condition_variable cv_;
  std::vector<Entry> heap_ PF_GUARDED_BY(mutex_);  // max-heap by Entry::operator<, i.e. earliest first
  std::uint64_t sequence_ PF_GUARDED_BY(mutex_) = 0;
};

}  // namespace

struct GroupImpl {
  Mutex mutex;
  std::condition_variable cv;
  long count PF_GUARDED_BY(mutex) = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifies PF_GUARDED_BY(mutex);
};

struct SemaphoreImpl {
  explicit SemaphoreImpl(long initial) : value(initial) {}
  Mutex mutex;
  std::condition_variable cv;
  long value PF_GUARDED_BY(mutex);
  long waiters PF_GUARDED_BY(mutex) = 0;
};

}  // namespace detail

using detail::Item;
using detail::QueueImpl;

// ---------------------------------------------------------------- DispatchQueue

DispatchQueue::DispatchQueue() : impl_(std::make_unique<QueueImpl>()) { impl_->self = this; }
DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label) {
  std::shared_ptr<DispatchQueue> q(new DispatchQueue);
  q->impl_->kind = Kind::Serial;
  q->impl_->label = std::move(label);
  return q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeConcurrent(std::string label) {
  std::shared_ptr<DispatchQueue> q(new DispatchQueue);
  q->impl_->kind = Kind::Concurrent;
  q->impl_->label = std::move(label);
  return q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  static auto* queue = [] {
    auto* holder = new std::shared_ptr<DispatchQueue>(new DispatchQueue);
    auto& q = **holder;
    q.impl_->kind = Kind::Main;
    q.impl_->label = "main";
    auto* impl = q.impl_.get();
    // Like the main queue itself, the source keeps the main loop's common modes from being empty.
    impl->mainSource = RunLoopSource::makeSignal([impl](RunLoopSource&) { impl->mainDrain(); });
    RunLoop::main()->addSource(impl->mainSource, kRunLoopCommonModes);
    return holder;
  }();
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(Priority priority) {
  static auto* queues = [] {
    auto* all = new std::vector<std::shared_ptr<DispatchQueue>>;
    for (const char* name : {"global.high", "global.default", "global.low", "global.background"}) {
      std::shared_ptr<DispatchQueue> q(new DispatchQueue);
      q->impl_->kind = Kind::Concurrent;
      q->impl_->global = true;
      q->impl_->label = name;
      all->push_back(q);
    }
    return all;
  }();
  return (*queues)[static_cast<std::size_t>(priority)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::current() {
  if (!detail::tFrames) return nullptr;
  return detail::tFrames->queue->self->shared_from_this();
}

const std::string& DispatchQueue::label() const { return impl_->label; }
DispatchQueue::Kind DispatchQueue::kind() const { return impl_->kind; }
bool DispatchQueue::isCurrent() const { return impl_->onStack(); }

void DispatchQueue::async(std::function<void()> block) {
  if (!block) return;
  switch (impl_->kind) {
    case Kind::Serial:
      impl_->serialAsync(Item{std::move(block), nullptr, false, detail::countIn()});
      break;
    case Kind::Concurrent:
      impl_->concurrentAsync(Item{std::move(block), nullptr, false, detail::countIn()});
      break;
    case Kind::Main:
      impl_->mainAsync(Item{std::move(block), nullptr, false, false});
      break;
  }
}

void DispatchQueue::sync(const std::function<void()>& block) {
  if (!block) return;
  switch (impl_->kind) {
    case Kind::Serial:
      impl_->serialSync(block);
      break;
    case Kind::Concurrent:
      impl_->concurrentSync(block, false);
      break;
    case Kind::Main:
      impl_->mainSync(block);
      break;
  }
}

void DispatchQueue::barrierAsync(std::function<void()> block) {
  if (!block) return;
  if (impl_->kind != Kind::Concurrent) return async(std::move(block));
  impl_->concurrentAsync(Item{std::move(block), nullptr, true, detail::countIn()});
}

void DispatchQueue::barrierSync(const std::function<void()>& block) {
  if (!block) return;
  if (impl_->kind != Kind::Concurrent) return sync(block);
  if (isCurrent() && !impl_->global)
    throw Exception(kDispatchDeadlockException,
                    "dispatch barrier sync onto the queue \"" + impl_->label + "\" from its own block would deadlock");
  impl_->concurrentSync(block, true);
}

void DispatchQueue::after(TimeInterval delay, std::function<void()> block) {
  if (!block) return;
  if (!(delay > 0)) delay = 0;
  detail::AfterScheduler::shared().add(Clock::now() + delay, shared_from_this(), std::move(block));
}

void DispatchQueue::async(const std::shared_ptr<DispatchGroup>& group, std::function<void()> block) {
  if (!group) return async(std::move(block));
  group->enter();
  async([group, block = std::move(block)] {
    struct Leave {
      DispatchGroup& g;
      ~Leave() { g.leave(); }
    } leave{*group};
    if (block) block();
  });
}

void DispatchQueue::setSpecific(const void* key, std::shared_ptr<void> value) {
  MutexLock lock(impl_->mutex);
  auto& specifics = impl_->specifics;
  auto it = std::find_if(specifics.begin(), specifics.end(), [&](auto& p) { return p.first == key; });
  if (it != specifics.end()) {
    if (value)
      it->second = std::move(value);
    else
      specifics.erase(it);
  } else if (value) {
    specifics.emplace_back(key, std::move(value));
  }
}

std::shared_ptr<void> DispatchQueue::getSpecific(const void* key) const {
  MutexLock lock(impl_->mutex);
  for (auto& [k, v] : impl_->specifics)
    if (k == key) return v;
  return nullptr;
}

std::shared_ptr<void> DispatchQueue::currentSpecific(const void* key) {
  for (auto* f = detail::tFrames; f; f = f->outer)
    if (auto v = f->queue->self->getSpecific(key)) return v;
  return nullptr;
}

// ---------------------------------------------------------------- DispatchGroup

DispatchGroup::DispatchGroup() : impl_(std::make_unique<detail::GroupImpl>()) {}
DispatchGroup::~DispatchGroup() = default;

std::shared_ptr<DispatchGroup> DispatchGroup::make() { return std::shared_ptr<DispatchGroup>(new DispatchGroup); }

void DispatchGroup::enter() {
  MutexLock lock(impl_->mutex);
  ++impl_->count;
}

void DispatchGroup::leave() {
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifies;
  {
    MutexLock lock(impl_->mutex);
    if (impl_->count <= 0)
      throw Exception(kInternalInconsistencyException, "dispatch group left more often than entered");
    if (--impl_->count > 0) return;
    notifies.swap(impl_->notifies);
    impl_->cv.notify_all();
  }
  for (auto& [queue, block] : notifies) queue->async(std::move(block));
}

bool DispatchGroup::wait(TimeInterval timeout) {
  UniqueLock lock(impl_->mutex);
  double deadline = timeout == kForever ? kForever : Clock::now() + std::max(0.0, timeout);
  return detail::waitOnClock(lock.native(), impl_->cv, deadline,
                             [&]() PF_REQUIRES(impl_->mutex) { return impl_->count == 0; });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
  if (!queue || !block) return;
  {
    MutexLock lock(impl_->mutex);
    if (impl_->count > 0) {
      impl_->notifies.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

// ---------------------------------------------------------------- DispatchSemaphore

DispatchSemaphore::DispatchSemaphore(long value) : impl_(std::make_unique<detail::SemaphoreImpl>(value)) {}
DispatchSemaphore::~DispatchSemaphore() = default;

std::shared_ptr<DispatchSemaphore> DispatchSemaphore::make(long value) {
  return std::make_shared<DispatchSemaphore>(value);
}

bool DispatchSemaphore::wait(TimeInterval timeout) {
  UniqueLock lock(impl_->mutex);
  if (impl_->value > 0) {
    --impl_->value;
    return true;
  }
  double deadline = timeout == kForever ? kForever : Clock::now() + std::max(0.0, timeout);
  ++impl_->waiters;
  bool got = detail::waitOnClock(lock.native(), impl_->cv, deadline,
                                 [&]() PF_REQUIRES(impl_->mutex) { return impl_->value > 0; });
  --impl_->waiters;
  if (got) --impl_->value;
  return got;
}

bool DispatchSemaphore::signal() {
  MutexLock lock(impl_->mutex);
  ++impl_->value;
  bool woke = impl_->waiters > 0;
  if (woke) impl_->cv.notify_one();
  return woke;
}

}  // namespace pf
