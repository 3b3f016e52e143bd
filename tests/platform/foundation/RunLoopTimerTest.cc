#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

namespace {

using namespace pf;

TEST(RunLoopTimer, ZeroSecondTimerWaitsForTheNextPass) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  std::vector<std::string> log;
  auto first = Timer::scheduled(0, false, [&](Timer&) {
    log.push_back("first");
    Timer::scheduled(0, false, [&](Timer&) { log.push_back("second"); });
    log.push_back("scheduled");
  });
  EXPECT_TRUE(log.empty());  // scheduling never fires
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"first", "scheduled"}), log);
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"first", "scheduled", "second"}), log);
}

TEST(RunLoopTimer, RepeatingTimerMayInvalidateItselfAndKeepsItsTargetAliveUntilThen) {
  VirtualTimeScope time;
  struct Target {
    int hits = 0;
  };
  auto target = std::make_shared<Target>();
  std::weak_ptr<Target> watch = target;
  std::weak_ptr<Timer> timerWatch;
  {
    auto timer = Timer::scheduled(1, true, [target](Timer& t) {
      if (++target->hits == 3) t.invalidate();
    });
    timerWatch = timer;
  }
  target.reset();
  EXPECT_FALSE(watch.expired());      // the scheduled timer holds it
  EXPECT_FALSE(timerWatch.expired());  // the run loop holds the timer
  time.advance(10);
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(timerWatch.expired());
}

TEST(RunLoopTimer, TimerInTwoModesFiresOncePerIntervalAndSkipsMissedFirings) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  int fired = 0;
  auto timer = Timer::make(1, true, [&](Timer&) { ++fired; });
  loop->addTimer(timer, kDefaultRunLoopMode);
  loop->addTimer(timer, "TestOtherMode");
  time.advance(3);
  EXPECT_EQ(3, fired);
  loop->runInMode("TestOtherMode", 0);
  EXPECT_EQ(3, fired);  // already fired for this date in the default mode

  // Late by 4.5 intervals: one firing, then back on the original grid.
  Clock::useVirtualTime(Clock::now() + 4.5);
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ(4, fired);
  EXPECT_DOUBLE_EQ(Clock::kVirtualStart + 3 + 5, timer->fireDate());
  timer->invalidate();
}

TEST(RunLoopTimer, RemovedTimerStaysValidAndMovesToAnotherLoopKeepingItsFireDate) {
  VirtualTimeScope time;
  auto main = RunLoop::current();
  auto worker = Thread::makeRunLoopThread("test.timer.move");
  auto workerLoop = worker->runLoop();
  std::atomic<bool> firedOnWorker{false};
  std::atomic<double> firedAt{0};
  auto timer = Timer::scheduled(10, false, [&](Timer&) {
    firedOnWorker = RunLoop::current() == workerLoop;
    firedAt = Clock::now();
  });
  double date = timer->fireDate();
  time.advance(4);
  main->removeTimer(timer, kDefaultRunLoopMode);
  EXPECT_TRUE(timer->isValid());
  EXPECT_EQ(nullptr, timer->runLoop());
  workerLoop->addTimer(timer, kDefaultRunLoopMode);
  EXPECT_EQ(workerLoop, timer->runLoop());
  EXPECT_EQ(date, timer->fireDate());
  time.advance(6);
  EXPECT_TRUE(firedOnWorker.load());
  EXPECT_EQ(date, firedAt.load());
  worker->cancel();
  worker->join();
}

TEST(RunLoopTimer, TimerOnAnotherLoopIsRefusedAndFireDateCanMove) {
  VirtualTimeScope time;
  auto worker = Thread::makeRunLoopThread("test.timer.refuse");
  int fired = 0;
  auto timer = Timer::scheduled(10, false, [&](Timer&) { ++fired; });
  EXPECT_THROW(worker->runLoop()->addTimer(timer, kDefaultRunLoopMode), Exception);
  timer->setFireDate(Clock::now() + 2);
  time.advance(2);
  EXPECT_EQ(1, fired);
  worker->cancel();
  worker->join();
}

TEST(RunLoopPerform, DelayedPerformsRunInTheirModesAndCancelByTargetAndName) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  int a = 0, b = 0;
  std::vector<std::string> log;
  loop->performAfter(1, &a, "read", [&] { log.push_back("a.read"); });
  loop->performAfter(1, &a, "write", [&] { log.push_back("a.write"); });
  loop->performAfter(1, &b, "read", [&] { log.push_back("b.read"); });
  loop->performAfter(1, &b, "other", [&] { log.push_back("b.other"); }, {"TestOtherMode"});
  loop->performOrdered(&a, "ordered", 0, [&] { log.push_back("a.ordered"); });
  loop->cancelPerforms(&a, "read");
  loop->cancelPerforms(&b);
  time.advance(1);
  EXPECT_EQ((std::vector<std::string>{"a.ordered", "a.write"}), log);
  // A cancelled perform never comes back.
  EXPECT_EQ(RunLoopResult::Finished, loop->runInMode("TestOtherMode", 0));
  time.advance(10);
  EXPECT_EQ(2u, log.size());
}

TEST(RunLoopPerform, PerformAfterZeroIsNotRunInline) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  bool ran = false;
  loop->performAfter(0, nullptr, "x", [&] { ran = true; });
  EXPECT_FALSE(ran);
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_TRUE(ran);
}

}  // namespace
