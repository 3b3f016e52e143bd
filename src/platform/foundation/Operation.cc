#include "platform/foundation/Operation.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "platform/foundation/ClockInternal.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"

namespace pf {
namespace detail {

struct OperationState {
  mutable RecursiveMutex mutex;
  std::condition_variable_any cv;
  std::string name PF_GUARDED_BY(mutex);
  bool executing PF_GUARDED_BY(mutex) = false;
  bool finished PF_GUARDED_BY(mutex) = false;
  bool cancelled PF_GUARDED_BY(mutex) = false;
  bool started PF_GUARDED_BY(mutex) = false;
  bool completed PF_GUARDED_BY(mutex) = false;  // the finishing steps started
  bool released PF_GUARDED_BY(mutex) = false;   // waiters may go
  std::vector<std::shared_ptr<Operation>> dependencies PF_GUARDED_BY(mutex);
  std::vector<std::weak_ptr<Operation>> dependents PF_GUARDED_BY(mutex);
  std::function<void()> completion PF_GUARDED_BY(mutex);
  std::vector<std::pair<std::uint64_t, Operation::Observer>> observers PF_GUARDED_BY(mutex);
  std::uint64_t nextToken PF_GUARDED_BY(mutex) = 1;
  std::weak_ptr<OperationQueue> queue PF_GUARDED_BY(mutex);
  bool inQueue PF_GUARDED_BY(mutex) = false;
  bool startedByQueue PF_GUARDED_BY(mutex) = false;
};

struct OperationQueueImpl {
  mutable Mutex mutex;
  std::condition_variable cv;
  std::string name PF_GUARDED_BY(mutex);
  int maxConcurrent PF_GUARDED_BY(mutex) = OperationQueue::kDefaultMaxConcurrentOperationCount;
  bool suspended PF_GUARDED_BY(mutex) = false;
  bool main PF_GUARDED_BY(mutex) = false;
  int executing PF_GUARDED_BY(mutex) = 0;
  std::vector<std::shared_ptr<Operation>> operations PF_GUARDED_BY(mutex);

  int width() const PF_REQUIRES(mutex) {
    if (main) return 1;
    if (maxConcurrent > 0) return maxConcurrent;
    // Asked once: the library reads a file for it.
    static const int kDefaultWidth = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
    return kDefaultWidth;
  }

  static OperationQueueImpl& of(OperationQueue& q) { return *q.impl_; }
  static OperationState& state(Operation& op) { return *op.d_; }

  // Starts ready operations while there is room.
  static void schedule(const std::shared_ptr<OperationQueue>& queue) {
    auto& impl = of(*queue);
    std::vector<std::shared_ptr<Operation>> start;
    bool onMain;
    {
      MutexLock lock(impl.mutex);
      if (impl.suspended) return;
      onMain = impl.main;
      for (auto& op : impl.operations) {
        if (impl.executing >= impl.width()) break;
        auto& st = state(*op);
        bool take;
        {
          MutexLock ol(st.mutex);
          take = !st.startedByQueue;
        }
        if (!take || !op->isReady()) continue;
        {
          MutexLock ol(st.mutex);
          if (st.startedByQueue) continue;
          st.startedByQueue = true;
        }
        ++impl.executing;
        start.push_back(op);
      }
    }
    auto target = onMain ? DispatchQueue::main() : DispatchQueue::global();
    for (auto& op : start) {
      std::weak_ptr<OperationQueue> weak = queue;
      target->async([op, weak] {
        auto previous = currentQueue();
        currentQueue() = weak;
        struct Restore {
          std::weak_ptr<OperationQueue> previous;
          ~Restore() { currentQueue() = previous; }
        } restore{previous};
        op->start();
      });
    }
  }

  static void finished(const std::shared_ptr<OperationQueue>& queue, const std::shared_ptr<Operation>& op) {
    auto& impl = of(*queue);
    {
      MutexLock lock(impl.mutex);
      auto it = std::find(impl.operations.begin(), impl.operations.end(), op);
      if (it == impl.operations.end()) return;
      impl.operations.erase(it);
      auto& st = state(*op);
      MutexLock ol(st.mutex);
      if (st.startedByQueue) --impl.executing;
      st.inQueue = false;
    }
    impl.cv.notify_all();
    schedule(queue);
  }

  static std::weak_ptr<OperationQueue>& currentQueue() {
    thread_local std::weak_ptr<OperationQueue> current;
    return current;
  }
};

}  // namespace detail

using detail::OperationQueueImpl;

// ---------------------------------------------------------------- Operation

Operation::Operation() : d_(std::make_unique<detail::OperationState>()) {}
Operation::~Operation() = default;

void Operation::start() {
  {
    MutexLock lock(d_->mutex);
    if (d_->finished || d_->executing || d_->started)
      throw Exception(kInvalidArgumentException, "operation started while executing or finished");
    if (!d_->cancelled && !isReady()) throw Exception(kInvalidArgumentException, "operation started before it is ready");
    d_->started = true;
  }
  auto keep = shared_from_this();
  if (isCancelled()) {
    setFinished(true);
    return;
  }
  setExecuting(true);
  struct Finish {
    Operation& op;
    ~Finish() {
      op.setExecuting(false);
      op.setFinished(true);
    }
  } finish{*this};
  main();
}

bool Operation::isReady() const {
  MutexLock lock(d_->mutex);
  if (d_->cancelled) return true;
  for (auto& dep : d_->dependencies)
    if (!dep->isFinished()) return false;
  return true;
}

bool Operation::isExecuting() const {
  MutexLock lock(d_->mutex);
  return d_->executing;
}

bool Operation::isFinished() const {
  MutexLock lock(d_->mutex);
  return d_->finished;
}

bool Operation::isCancelled() const {
  MutexLock lock(d_->mutex);
  return d_->cancelled;
}

void Operation::cancel() {
  {
    MutexLock lock(d_->mutex);
    if (d_->cancelled || d_->finished) return;
  }
  willChange(OperationKey::Cancelled);
  {
    MutexLock lock(d_->mutex);
    d_->cancelled = true;
  }
  didChange(OperationKey::Cancelled);
  didChange(OperationKey::Ready);
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  {
    MutexLock lock(d_->mutex);
    if (d_->started || d_->executing || d_->finished) return;
    if (std::find(d_->dependencies.begin(), d_->dependencies.end(), operation) != d_->dependencies.end()) return;
    d_->dependencies.push_back(operation);
  }
  {
    MutexLock lock(operation->d_->mutex);
    operation->d_->dependents.push_back(weak_from_this());
  }
  didChange(OperationKey::Ready);
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  {
    MutexLock lock(d_->mutex);
    auto it = std::find(d_->dependencies.begin(), d_->dependencies.end(), operation);
    if (it == d_->dependencies.end()) return;
    d_->dependencies.erase(it);
  }
  {
    MutexLock lock(operation->d_->mutex);
    std::erase_if(operation->d_->dependents, [this](auto& w) {
      auto p = w.lock();
      return !p || p.get() == this;
    });
  }
  didChange(OperationKey::Ready);
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  MutexLock lock(d_->mutex);
  return d_->dependencies;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  MutexLock lock(d_->mutex);
  if (d_->completed) return;
  d_->completion = std::move(block);
}

std::function<void()> Operation::completionBlock() const {
  MutexLock lock(d_->mutex);
  return d_->completion;
}

void Operation::waitUntilFinished() {
  UniqueLock lock(d_->mutex);
  detail::waitOnClock(lock.native(), d_->cv, kForever, [&]() PF_REQUIRES(d_->mutex) { return d_->released; });
}

std::string Operation::name() const {
  MutexLock lock(d_->mutex);
  return d_->name;
}

void Operation::setName(std::string name) {
  MutexLock lock(d_->mutex);
  d_->name = std::move(name);
}

std::uint64_t Operation::addObserver(Observer observer) {
  MutexLock lock(d_->mutex);
  auto token = d_->nextToken++;
  d_->observers.emplace_back(token, std::move(observer));
  return token;
}

void Operation::removeObserver(std::uint64_t token) {
  MutexLock lock(d_->mutex);
  std::erase_if(d_->observers, [token](auto& p) { return p.first == token; });
}

void Operation::willChange(OperationKey) {}

void Operation::didChange(OperationKey key) {
  notify(key);
  if (key == OperationKey::Finished) completeIfFinished();
  if (key == OperationKey::Ready) {
    std::shared_ptr<OperationQueue> queue;
    {
      MutexLock lock(d_->mutex);
      if (d_->inQueue) queue = d_->queue.lock();
    }
    if (queue) OperationQueueImpl::schedule(queue);
  }
}

void Operation::setExecuting(bool executing) {
  {
    MutexLock lock(d_->mutex);
    if (d_->executing == executing) return;
  }
  willChange(OperationKey::Executing);
  {
    MutexLock lock(d_->mutex);
    d_->executing = executing;
  }
  didChange(OperationKey::Executing);
}

void Operation::setFinished(bool finished) {
  {
    MutexLock lock(d_->mutex);
    if (d_->finished == finished) return;
  }
  willChange(OperationKey::Finished);
  {
    MutexLock lock(d_->mutex);
    d_->finished = finished;
  }
  didChange(OperationKey::Finished);
}

void Operation::notify(OperationKey key) {
  std::vector<Observer> observers;
  {
    MutexLock lock(d_->mutex);
    for (auto& [token, observer] : d_->observers) observers.push_back(observer);
  }
  for (auto& observer : observers) observer(*this, key);
}

void Operation::completeIfFinished() {
  if (!isFinished()) return;
  auto self = shared_from_this();
  std::function<void()> completion;
  std::vector<std::shared_ptr<Operation>> dependents;
  std::shared_ptr<OperationQueue> queue;
  {
    MutexLock lock(d_->mutex);
    if (d_->completed) return;
    d_->completed = true;
    d_->executing = false;
    completion = std::move(d_->completion);
    d_->completion = nullptr;
    for (auto& w : d_->dependents)
      if (auto p = w.lock()) dependents.push_back(std::move(p));
    if (d_->inQueue) queue = d_->queue.lock();
  }
  // Order: the completion block, the queue's bookkeeping, waiters, then the dependents.
  if (completion) completion();
  completion = nullptr;
  if (queue) OperationQueueImpl::finished(queue, self);
  {
    MutexLock lock(d_->mutex);
    d_->released = true;
    d_->cv.notify_all();
  }
  for (auto& dependent : dependents) dependent->didChange(OperationKey::Ready);
}

// ---------------------------------------------------------------- BlockOperation

std::shared_ptr<BlockOperation> BlockOperation::make(std::function<void()> block) {
  auto op = std::make_shared<BlockOperation>();
  op->addExecutionBlock(std::move(block));
  return op;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  if (!block) return;
  if (isExecuting() || isFinished())
    throw Exception(kInvalidArgumentException, "execution block added to an operation that has started");
  MutexLock lock(blocksMutex_);
  blocks_.push_back(std::move(block));
}

std::vector<std::function<void()>> BlockOperation::executionBlocks() const {
  MutexLock lock(blocksMutex_);
  return blocks_;
}

void BlockOperation::main() {
  std::vector<std::function<void()>> blocks;
  {
    MutexLock lock(blocksMutex_);
    blocks = blocks_;
  }
  for (auto& block : blocks) block();
}

// ---------------------------------------------------------------- OperationQueue

OperationQueue::OperationQueue() : impl_(std::make_unique<OperationQueueImpl>()) {}
OperationQueue::~OperationQueue() = default;

std::shared_ptr<OperationQueue> OperationQueue::make(std::string name) {
  std::shared_ptr<OperationQueue> queue(new OperationQueue);
  MutexLock lock(queue->impl_->mutex);
  queue->impl_->name = std::move(name);
  return queue;
}

std::shared_ptr<OperationQueue> OperationQueue::main() {
  static auto* holder = [] {
    auto* h = new std::shared_ptr<OperationQueue>(new OperationQueue);
    MutexLock lock((*h)->impl_->mutex);
    (*h)->impl_->main = true;
    (*h)->impl_->maxConcurrent = 1;
    (*h)->impl_->name = "main";
    return h;
  }();
  return *holder;
}

std::shared_ptr<OperationQueue> OperationQueue::current() { return OperationQueueImpl::currentQueue().lock(); }

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  {
    auto& st = OperationQueueImpl::state(*operation);
    MutexLock ol(st.mutex);
    if (st.inQueue) throw Exception(kInvalidArgumentException, "operation is already in a queue");
    if (st.executing || st.finished || st.started)
      throw Exception(kInvalidArgumentException, "operation is executing or finished and cannot be queued");
    st.inQueue = true;
    st.queue = weak_from_this();
  }
  {
    MutexLock lock(impl_->mutex);
    impl_->operations.push_back(operation);
  }
  OperationQueueImpl::schedule(shared_from_this());
}

void OperationQueue::addOperation(std::function<void()> block) { addOperation(BlockOperation::make(std::move(block))); }

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
  for (auto& op : operations) addOperation(op);
  if (waitUntilFinished)
    for (auto& op : operations)
      if (op) op->waitUntilFinished();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  MutexLock lock(impl_->mutex);
  return impl_->operations;
}

std::size_t OperationQueue::operationCount() const {
  MutexLock lock(impl_->mutex);
  return impl_->operations.size();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  {
    MutexLock lock(impl_->mutex);
    if (impl_->main) return;
    impl_->maxConcurrent = count <= 0 ? kDefaultMaxConcurrentOperationCount : count;
  }
  OperationQueueImpl::schedule(shared_from_this());
}

int OperationQueue::maxConcurrentOperationCount() const {
  MutexLock lock(impl_->mutex);
  return impl_->maxConcurrent;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    MutexLock lock(impl_->mutex);
    impl_->suspended = suspended;
  }
  if (!suspended) OperationQueueImpl::schedule(shared_from_this());
}

bool OperationQueue::isSuspended() const {
  MutexLock lock(impl_->mutex);
  return impl_->suspended;
}

void OperationQueue::cancelAllOperations() {
  for (auto& op : operations()) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  UniqueLock lock(impl_->mutex);
  detail::waitOnClock(lock.native(), impl_->cv, kForever,
                      [&]() PF_REQUIRES(impl_->mutex) { return impl_->operations.empty(); });
}

std::string OperationQueue::name() const {
  MutexLock lock(impl_->mutex);
  return impl_->name;
}

void OperationQueue::setName(std::string name) {
  MutexLock lock(impl_->mutex);
  impl_->name = std::move(name);
}

}  // namespace pf
