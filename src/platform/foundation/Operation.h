#pragma once
// Operations and operation queues.
//
// An operation is ready once every dependency has finished (or once it is cancelled), executes,
// and finishes. A plain operation does its work in main() and finishes when main() returns. A
// concurrent (self-finishing) operation overrides start() (and isAsynchronous() to answer true),
// reports its own state changes with willChange()/didChange() around its stores, and finishes
// later from any thread; it may override isExecuting()/isFinished() to read its own state.
// Observers hear every change of the four states. The completion block runs once, after the
// operation finished, on the thread that finished it.
//
// An operation queue starts ready operations (in the order they were added) on the thread pool, at most
// maxConcurrentOperationCount at a time; the main operation queue runs them one at a time on the
// main queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

class OperationQueue;
class DispatchQueue;

enum class OperationKey { Ready, Executing, Finished, Cancelled };

namespace detail {
struct OperationQueueImpl;
struct OperationState;
}

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  using Observer = std::function<void(Operation& operation, OperationKey key)>;

  Operation();
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Runs the operation on the calling thread: a cancelled operation finishes without running
  // main(); starting one that is not ready, executing or finished raises pf::Exception
  // (kInvalidArgumentException).
  virtual void start();
  // The work of a plain operation.
  virtual void main() {}
  virtual bool isAsynchronous() const { return false; }
  bool isConcurrent() const { return isAsynchronous(); }

  virtual bool isReady() const;
  virtual bool isExecuting() const;
  virtual bool isFinished() const;
  bool isCancelled() const;
  // Marks the operation cancelled (it becomes ready); it is up to main() to look.
  virtual void cancel();

  // Dependencies must not form a cycle; adding one to an operation that has started is ignored.
  void addDependency(const std::shared_ptr<Operation>& operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // Runs once after the operation finished; cleared afterwards.
  void setCompletionBlock(std::function<void()> block);
  std::function<void()> completionBlock() const;

  // Blocks until the operation is finished (does not run the run loop).
  void waitUntilFinished();

  std::string name() const;
  void setName(std::string name);

  // Observers of the four states. Called on the thread making the change, after it.
  std::uint64_t addObserver(Observer observer);
  void removeObserver(std::uint64_t token);

 protected:
  // For self-finishing operations and subclasses with state of their own: announce a change
  // around the store. didChange(Finished) with isFinished() true completes the operation.
  void willChange(OperationKey key);
  void didChange(OperationKey key);
  // Stores used by the default isExecuting()/isFinished(), each announced with will/didChange.
  void setExecuting(bool executing);
  void setFinished(bool finished);

 private:
  friend struct detail::OperationQueueImpl;
  friend class OperationQueue;
  void notify(OperationKey key);
  void completeIfFinished();
  std::unique_ptr<detail::OperationState> d_;
};

// An operation running one or more blocks (all on the thread that starts it, in order).
class BlockOperation : public Operation {
 public:
  static std::shared_ptr<BlockOperation> make(std::function<void()> block);
  BlockOperation() = default;
  void addExecutionBlock(std::function<void()> block);
  std::vector<std::function<void()>> executionBlocks() const;
  void main() override;

 private:
  mutable Mutex blocksMutex_;
  std::vector<std::function<void()>> blocks_ PF_GUARDED_BY(blocksMutex_);
};

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  static std::shared_ptr<OperationQueue> make(std::string name = {});
  // The queue running its operations on the main queue, one at a time.
  static std::shared_ptr<OperationQueue> main();
  // The queue of the operation the calling thread is running, or null.
  static std::shared_ptr<OperationQueue> current();

  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // Adding an operation that is in a queue, executing or finished raises pf::Exception
  // (kInvalidArgumentException).
  void addOperation(const std::shared_ptr<Operation>& operation);
  void addOperation(std::function<void()> block);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);

  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;

  // -1 (the default) lets the queue choose (the pool's width); 1 makes it serial.
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;

  void setSuspended(bool suspended);
  bool isSuspended() const;

  void cancelAllOperations();
  // Blocks until every operation in the queue has finished (does not run the run loop).
  void waitUntilAllOperationsAreFinished();

  std::string name() const;
  void setName(std::string name);

 private:
  friend struct detail::OperationQueueImpl;
  friend class Operation;
  OperationQueue();
  std::unique_ptr<detail::OperationQueueImpl> impl_;
};

}  // namespace pf
