#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>
#include <mutex>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

namespace {

using namespace pf;

TEST(DispatchSerial, RunsInOrderOneAtATimeAndSyncWaitsForEarlierBlocks) {
  auto queue = DispatchQueue::makeSerial("test.serial");
  std::vector<int> seen;
  std::atomic<int> inside{0};
  bool overlapped = false;
  for (int i = 0; i < 1000; ++i) {
    queue->async([&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      seen.push_back(i);
      inside.fetch_sub(1);
    });
  }
  std::size_t countAtSync = 0;
  queue->sync([&] { countAtSync = seen.size(); });
  EXPECT_EQ(1000u, countAtSync);
  EXPECT_FALSE(overlapped);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(i, seen[static_cast<std::size_t>(i)]);
}

TEST(DispatchSerial, SyncOntoTheCurrentQueueRaisesInsteadOfDeadlocking) {
  auto queue = DispatchQueue::makeSerial("test.reentry");
  auto other = DispatchQueue::makeSerial("test.other");
  std::string name;
  queue->sync([&] {
    other->sync([&] {
      try {
        queue->sync([] {});
      } catch (const Exception& e) {
        name = e.name();
      }
    });
  });
  EXPECT_EQ(kDispatchDeadlockException, name);
  EXPECT_THROW(DispatchQueue::main()->sync([] {}), Exception);
}

TEST(DispatchMain, MainQueueIsDrainedByTheMainRunLoopInCommonModes) {
  std::atomic<bool> done{false};
  bool onMain = false;
  DispatchQueue::global()->async([&] {
    DispatchQueue::main()->async([&] {
      onMain = Thread::isMainThread() && DispatchQueue::main()->isCurrent();
      done = true;
    });
  });
  EXPECT_TRUE(RunLoop::main()->spinUntil([&] { return done.load(); }, 10));
  EXPECT_TRUE(onMain);
}

TEST(DispatchConcurrent, BarrierWaitsForEarlierBlocksAndHoldsBackLaterOnes) {
  auto queue = DispatchQueue::makeConcurrent("test.concurrent");
  std::mutex m;
  std::vector<std::string> log;
  auto note = [&](std::string s) {
    std::lock_guard lock(m);
    log.push_back(std::move(s));
  };
  auto gate = DispatchSemaphore::make(0);
  for (int i = 0; i < 4; ++i) queue->async([&] { gate->wait(); note("before"); });
  queue->barrierAsync([&] { note("barrier"); });
  for (int i = 0; i < 4; ++i) queue->async([&] { note("after"); });
  for (int i = 0; i < 4; ++i) gate->signal();
  queue->barrierSync([] {});
  ASSERT_EQ(9u, log.size());
  for (int i = 0; i < 4; ++i) EXPECT_EQ("before", log[static_cast<std::size_t>(i)]);
  EXPECT_EQ("barrier", log[4]);
  for (int i = 5; i < 9; ++i) EXPECT_EQ("after", log[static_cast<std::size_t>(i)]);
}

TEST(DispatchConcurrent, SyncReadsRunSideBySideWhileBarrierWritesRunAlone) {
  // The listener-list pattern: changes as barrier blocks, reads as synchronous copies.
  auto queue = DispatchQueue::makeConcurrent("test.listeners");
  std::vector<int> listeners;
  std::atomic<int> readers{0};
  std::atomic<bool> writerOverlapped{false};
  auto group = DispatchGroup::make();
  for (int i = 0; i < 200; ++i) {
    if (i % 10 == 0) {
      queue->barrierAsync([&, i] {
        if (readers.load() != 0) writerOverlapped = true;
        listeners.push_back(i);
      });
    } else {
      DispatchQueue::global()->async(group, [&] {
        std::vector<int> copy;
        queue->sync([&] {
          ++readers;
          copy = listeners;
          --readers;
        });
        EXPECT_LE(copy.size(), 20u);
      });
    }
  }
  EXPECT_TRUE(group->wait(30));
  queue->barrierSync([&] { EXPECT_EQ(20u, listeners.size()); });
  EXPECT_FALSE(writerOverlapped.load());
  // A barrier sync from inside the queue would wait for itself.
  std::string name;
  queue->sync([&] {
    try {
      queue->barrierSync([] {});
    } catch (const Exception& e) {
      name = e.name();
    }
  });
  EXPECT_EQ(kDispatchDeadlockException, name);
}

TEST(DispatchConcurrent, ABurstOfBlocksWakesEnoughIdleThreadsToRunSideBySide) {
  // Idle pool threads are woken one after another: a burst of blocks that can only finish
  // together (waiting without a platform wait, so no thread is added for them) still all start.
  constexpr int kBlocks = 6;
  auto warm = DispatchGroup::make();
  auto gate = DispatchSemaphore::make(0);
  for (int i = 0; i < kBlocks; ++i) DispatchQueue::global()->async(warm, [&] { gate->wait(); });
  for (int i = 0; i < kBlocks; ++i) gate->signal();
  ASSERT_TRUE(warm->wait(30));  // now at least kBlocks threads are idle

  std::mutex mutex;
  std::condition_variable allStarted;
  int started = 0;
  bool together = true;
  auto group = DispatchGroup::make();
  for (int i = 0; i < kBlocks; ++i) {
    DispatchQueue::global()->async(group, [&] {
      std::unique_lock lock(mutex);
      if (++started == kBlocks) allStarted.notify_all();
      if (!allStarted.wait_for(lock, std::chrono::seconds(10), [&] { return started == kBlocks; })) together = false;
    });
  }
  EXPECT_TRUE(group->wait(30));
  EXPECT_TRUE(together);
}

TEST(DispatchQueueLife, AQueueMayBeReleasedFromInsideItsOwnBlock) {
  auto queue = DispatchQueue::makeSerial("test.self.release");
  std::weak_ptr<DispatchQueue> watch = queue;
  auto done = DispatchSemaphore::make(0);
  auto holder = std::make_shared<std::shared_ptr<DispatchQueue>>(queue);
  queue.reset();
  (*holder)->async([holder, done] {
    holder->reset();  // the last reference outside the queue's own machinery
    done->signal();
  });
  EXPECT_TRUE(done->wait(10));
  // Nothing keeps it once the block finished.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!watch.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(watch.expired());
}

TEST(DispatchSpecific, ValuesFollowTheQueueThroughNestedSyncs) {
  static const char kKey = 0;
  static const char kOther = 0;
  auto outer = DispatchQueue::makeSerial("test.outer");
  auto inner = DispatchQueue::makeSerial("test.inner");
  outer->setSpecific(&kKey, std::make_shared<std::string>("outer"));
  inner->setSpecific(&kOther, std::make_shared<std::string>("inner"));
  std::string seenKey, seenOther;
  bool outerCurrent = false;
  outer->sync([&] {
    inner->sync([&] {
      seenKey = *std::static_pointer_cast<std::string>(DispatchQueue::currentSpecific(&kKey));
      seenOther = *std::static_pointer_cast<std::string>(DispatchQueue::currentSpecific(&kOther));
      outerCurrent = outer->isCurrent() && DispatchQueue::current() == inner;
    });
  });
  EXPECT_EQ("outer", seenKey);
  EXPECT_EQ("inner", seenOther);
  EXPECT_TRUE(outerCurrent);
  EXPECT_EQ(nullptr, DispatchQueue::currentSpecific(&kKey));
  EXPECT_EQ(nullptr, DispatchQueue::current());
  outer->setSpecific(&kKey, nullptr);
  EXPECT_EQ(nullptr, outer->getSpecific(&kKey));
}

TEST(DispatchGroup, NotifyRunsOnceEveryMemberLeftAndOverLeavingRaises) {
  auto group = DispatchGroup::make();
  auto queue = DispatchQueue::makeSerial("test.group");
  std::atomic<int> done{0};
  auto gate = DispatchSemaphore::make(0);
  for (int i = 0; i < 5; ++i) queue->async(group, [&] {
    gate->wait();
    ++done;
  });
  std::atomic<int> notifiedAt{-1};
  auto notified = DispatchSemaphore::make(0);
  group->notify(DispatchQueue::global(), [&] {
    notifiedAt = done.load();
    notified->signal();
  });
  EXPECT_FALSE(group->wait(0));
  for (int i = 0; i < 5; ++i) gate->signal();
  EXPECT_TRUE(notified->wait(10));
  EXPECT_EQ(5, notifiedAt.load());
  EXPECT_TRUE(group->wait());
  EXPECT_THROW(group->leave(), Exception);
}

TEST(DispatchSemaphore, CountsUnitsAndWakesOneWaiterPerSignal) {
  auto semaphore = DispatchSemaphore::make(2);
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_FALSE(semaphore->wait(0));
  std::atomic<int> through{0};
  std::vector<std::shared_ptr<Thread>> threads;
  for (int i = 0; i < 3; ++i) threads.push_back(Thread::detach([&] {
    semaphore->wait();
    ++through;
  }));
  for (int i = 0; i < 3; ++i) semaphore->signal();
  for (auto& t : threads) t->join();
  EXPECT_EQ(3, through.load());
  EXPECT_FALSE(semaphore->wait(0));
}

TEST(DispatchOnce, RunsExactlyOnceUnderConcurrentFirstCalls) {
  DispatchOnceFlag flag;
  std::atomic<int> runs{0};
  auto group = DispatchGroup::make();
  for (int i = 0; i < 16; ++i)
    DispatchQueue::global()->async(group, [&] { dispatchOnce(flag, [&] { ++runs; }); });
  group->wait();
  EXPECT_EQ(1, runs.load());
}

TEST(DispatchAfter, BlocksRunInDateOrderOnTheirQueuesInVirtualTime) {
  VirtualTimeScope time;
  std::vector<std::string> log;
  auto queue = DispatchQueue::makeSerial("test.after");
  DispatchQueue::main()->after(3, [&] { log.push_back("main 3"); });
  queue->after(1, [&] { log.push_back("serial 1"); });
  queue->after(2, [&] {
    log.push_back("serial 2");
    queue->after(0.5, [&] { log.push_back("serial 2.5"); });
  });
  auto timer = Timer::scheduled(2.75, false, [&](Timer&) { log.push_back("timer 2.75"); });
  time.advance(2.9);
  EXPECT_EQ((std::vector<std::string>{"serial 1", "serial 2", "serial 2.5", "timer 2.75"}), log);
  time.advance(0.1);
  EXPECT_EQ("main 3", log.back());
}

TEST(DispatchMain, MainQueueGoesOnInsideANestedRunAndSyncFromAnotherThreadRunsOnMain) {
  std::vector<int> order;
  bool nestedDone = false;
  DispatchQueue::main()->async([&] {
    order.push_back(1);
    // A blocking wait on the main thread turns the run loop; later main-queue blocks still run.
    RunLoop::main()->spinUntil([&] { return nestedDone; }, 10);
    order.push_back(4);
  });
  DispatchQueue::main()->async([&] { order.push_back(2); });
  DispatchQueue::main()->async([&] {
    order.push_back(3);
    nestedDone = true;
  });
  RunLoop::main()->spinUntil([&] { return order.size() == 4; }, 10);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), order);

  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  auto worker = Thread::detach([&] {
    DispatchQueue::main()->sync([&] { ranOnMain = Thread::isMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(RunLoop::main()->spinUntil([&] { return returned.load(); }, 10));
  EXPECT_TRUE(ranOnMain.load());
  worker->join();
}

}  // namespace
