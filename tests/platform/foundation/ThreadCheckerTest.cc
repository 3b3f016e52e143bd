// Where code runs: the main thread, a named run-loop thread, a serial queue.

#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"

namespace {

using pf::ThreadChecker;

TEST(ThreadChecker, TellsMainThreadNamedThreadAndSerialQueueApart) {
  auto thread = pf::Thread::makeRunLoopThread("checker.thread");
  auto queue = pf::DispatchQueue::makeSerial("checker.queue");
  const auto onMain = ThreadChecker::mainThread();
  const auto onThread = ThreadChecker::thread(thread);
  const auto onQueue = ThreadChecker::queue(queue);

  EXPECT_TRUE(onMain.isCurrent());
  EXPECT_FALSE(onThread.isCurrent());
  EXPECT_FALSE(onQueue.isCurrent());

  bool mainThere = true, threadThere = false, queueThere = true;
  thread->perform([&] { mainThere = onMain.isCurrent(), threadThere = onThread.isCurrent(), queueThere = onQueue.isCurrent(); },
                  true);
  EXPECT_FALSE(mainThere);
  EXPECT_TRUE(threadThere);
  EXPECT_FALSE(queueThere);

  bool inQueue = false, threadInQueue = true;
  queue->sync([&] { inQueue = onQueue.isCurrent(), threadInQueue = onThread.isCurrent(); });
  EXPECT_TRUE(inQueue);
  EXPECT_FALSE(threadInQueue);

  std::thread([&] { mainThere = onMain.isCurrent(); }).join();
  EXPECT_FALSE(mainThere);
  thread->cancel();
  thread->join();
  EXPECT_FALSE(ThreadChecker::thread(nullptr).isCurrent());
}

#ifndef NDEBUG
TEST(ThreadCheckerDeathTest, AFailedCheckNamesThePlaceAndStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = pf::DispatchQueue::makeSerial("checker.only");
  EXPECT_DEATH(PF_ASSERT_ON(ThreadChecker::queue(queue)), "thread check failed: .* runs on queue \"checker.only\" only");
}
#endif

}  // namespace
