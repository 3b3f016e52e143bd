#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace {

using namespace pf;

struct Log {
  std::mutex mutex;
  std::vector<std::string> lines;
  void add(std::string s) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(s));
  }
  std::vector<std::string> get() {
    std::lock_guard lock(mutex);
    return lines;
  }
  std::size_t indexOf(const std::string& s) {
    auto all = get();
    return static_cast<std::size_t>(std::find(all.begin(), all.end(), s) - all.begin());
  }
};

TEST(OperationDependencies, ADependentStartsOnlyAfterItsDependencyFinishedAndCompleted) {
  auto queue = OperationQueue::make("test.deps");
  Log log;
  auto first = BlockOperation::make([&] { log.add("first"); });
  auto second = BlockOperation::make([&] { log.add("second"); });
  auto third = BlockOperation::make([&] { log.add("third"); });
  first->setCompletionBlock([&] { log.add("first done"); });
  second->addDependency(first);
  third->addDependency(second);
  EXPECT_FALSE(second->isReady());
  // Added in reverse: readiness, not arrival, decides.
  queue->addOperations({third, second, first}, true);
  EXPECT_EQ((std::vector<std::string>{"first", "first done", "second", "third"}), log.get());
  EXPECT_TRUE(third->isFinished());
  EXPECT_EQ(0u, queue->operationCount());
}

TEST(OperationStates, ObserversSeeEachChangeAndTheCompletionBlockRunsOnceAfterFinishing) {
  auto op = BlockOperation::make([] {});
  Log log;
  op->addObserver([&](Operation& o, OperationKey key) {
    switch (key) {
      case OperationKey::Executing:
        log.add(o.isExecuting() ? "executing" : "not executing");
        break;
      case OperationKey::Finished:
        log.add(o.isFinished() ? "finished" : "not finished");
        break;
      case OperationKey::Ready:
        log.add("ready");
        break;
      case OperationKey::Cancelled:
        log.add("cancelled");
        break;
    }
  });
  int completions = 0;
  op->setCompletionBlock([&] {
    EXPECT_TRUE(op->isFinished());
    ++completions;
  });
  op->start();
  EXPECT_EQ((std::vector<std::string>{"executing", "not executing", "finished"}), log.get());
  EXPECT_EQ(1, completions);
  EXPECT_FALSE(op->completionBlock());
  EXPECT_THROW(op->start(), Exception);
  op->waitUntilFinished();  // returns at once
}

TEST(OperationStates, ACancelledOperationBecomesReadyAndFinishesWithoutRunning) {
  auto queue = OperationQueue::make();
  auto blocker = BlockOperation::make([] {});
  bool ran = false;
  auto op = BlockOperation::make([&] { ran = true; });
  op->addDependency(blocker);
  EXPECT_FALSE(op->isReady());
  op->cancel();
  EXPECT_TRUE(op->isReady());
  queue->addOperation(op);
  op->waitUntilFinished();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(op->isCancelled());
}

// A self-finishing operation: start() hands the work to another thread, which finishes it.
class AsyncOperation : public Operation {
 public:
  explicit AsyncOperation(Log& log) : log_(log) {}
  bool isAsynchronous() const override { return true; }
  void start() override {
    setExecuting(true);
    auto self = std::static_pointer_cast<AsyncOperation>(shared_from_this());
    DispatchQueue::global()->after(0.01, [self] {
      self->log_.add("async work");
      self->setExecuting(false);
      self->setFinished(true);
    });
  }

 private:
  Log& log_;
};

TEST(OperationQueue, AsynchronousOperationsHoldTheirSlotUntilTheyFinishThemselves) {
  auto queue = OperationQueue::make();
  queue->setMaxConcurrentOperationCount(1);
  Log log;
  auto async = std::make_shared<AsyncOperation>(log);
  queue->addOperation(async);
  queue->addOperation([&] { log.add("next"); });
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ((std::vector<std::string>{"async work", "next"}), log.get());
  EXPECT_TRUE(async->isConcurrent());
}

TEST(OperationQueue, MaximumSuspensionAndCancelAll) {
  auto queue = OperationQueue::make("test.width");
  queue->setMaxConcurrentOperationCount(2);
  std::atomic<int> running{0}, peak{0}, done{0};
  auto gate = DispatchSemaphore::make(0);
  for (int i = 0; i < 6; ++i) {
    queue->addOperation([&] {
      int now = ++running;
      int seen = peak.load();
      while (now > seen && !peak.compare_exchange_weak(seen, now)) {
      }
      gate->wait();
      --running;
      ++done;
    });
  }
  // Two start and hold their slots; nothing else starts meanwhile.
  while (running.load() < 2) std::this_thread::yield();
  for (int i = 0; i < 6; ++i) gate->signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(6, done.load());
  EXPECT_EQ(2, peak.load());

  queue->setSuspended(true);
  std::atomic<int> ran{0};
  std::vector<std::shared_ptr<BlockOperation>> ops;
  for (int i = 0; i < 3; ++i) {
    ops.push_back(BlockOperation::make([&] { ++ran; }));
    queue->addOperation(ops.back());
  }
  EXPECT_EQ(3u, queue->operationCount());
  queue->cancelAllOperations();
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(0, ran.load());
  for (auto& op : ops) EXPECT_TRUE(op->isCancelled() && op->isFinished());
  EXPECT_THROW(queue->addOperation(ops[0]), Exception);
}

TEST(OperationQueue, TheMainOperationQueueRunsOnTheMainThreadAndCurrentIsKnown) {
  std::atomic<bool> done{false};
  bool onMain = false;
  std::shared_ptr<OperationQueue> seen;
  OperationQueue::main()->addOperation([&] {
    onMain = Thread::isMainThread();
    seen = OperationQueue::current();
    done = true;
  });
  EXPECT_TRUE(RunLoop::main()->spinUntil([&] { return done.load(); }, 10));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(OperationQueue::main(), seen);
  EXPECT_EQ(nullptr, OperationQueue::current());
}

}  // namespace
