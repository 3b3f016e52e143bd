#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

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

}  // namespace
