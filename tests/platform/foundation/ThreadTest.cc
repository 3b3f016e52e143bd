#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace {

using namespace pf;

TEST(Thread, NamedThreadKnowsItselfAndIsNotMain) {
  EXPECT_TRUE(Thread::isMainThread());
  EXPECT_TRUE(Thread::current()->isMain());
  EXPECT_EQ(Thread::mainThread(), Thread::current());
  std::string osName, ownName;
  bool main = true, same = false;
  auto thread = Thread::make(
      [&] {
        char buf[32] = {};
        pthread_getname_np(pthread_self(), buf, sizeof buf);
        osName = buf;
        ownName = Thread::current()->name();
        main = Thread::isMainThread();
        same = RunLoop::current() != RunLoop::main();
      },
      "test.named.thread.long");
  EXPECT_FALSE(thread->isExecuting());
  thread->start();
  EXPECT_THROW(thread->start(), Exception);
  thread->join();
  EXPECT_EQ("test.named.thre", osName);  // the OS keeps 15 bytes
  EXPECT_EQ("test.named.thread.long", ownName);
  EXPECT_FALSE(main);
  EXPECT_TRUE(same);
  EXPECT_TRUE(thread->isFinished());
}

TEST(Thread, PerformOnAThreadWithAndWithoutWaiting) {
  auto worker = Thread::makeRunLoopThread("test.perform");
  std::atomic<int> order{0};
  std::atomic<int> asyncAt{-1};
  worker->perform([&] { asyncAt = order++; }, false);
  int syncAt = -1;
  bool onWorker = false;
  worker->perform(
      [&] {
        syncAt = order++;
        onWorker = Thread::current() == worker;
      },
      true);
  EXPECT_EQ(0, asyncAt.load());  // performs keep their order
  EXPECT_EQ(1, syncAt);
  EXPECT_TRUE(onWorker);
  // On the thread itself, waiting runs the block at once.
  bool inline_ = false;
  worker->perform(
      [&] {
        bool ran = false;
        Thread::current()->perform([&] { ran = true; }, true);
        inline_ = ran;
      },
      true);
  EXPECT_TRUE(inline_);
  worker->cancel();
  worker->join();
  EXPECT_TRUE(worker->isCancelled());
}

TEST(Thread, PerformOnMainThreadWaitsForTheMainLoop) {
  std::atomic<bool> ran{false}, returned{false};
  auto worker = Thread::detach([&] {
    Thread::performOnMainThread([&] { ran = Thread::isMainThread(); }, true);
    returned = true;
  });
  EXPECT_TRUE(RunLoop::main()->spinUntil([&] { return returned.load(); }, 10));
  EXPECT_TRUE(ran.load());
  worker->join();
}

}  // namespace
