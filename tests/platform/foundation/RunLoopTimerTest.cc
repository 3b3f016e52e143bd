#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
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

TEST(RunLoopTimer, CallbacksMayInvalidateOrRearmTimersOnlyTheLoopHolds) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  std::vector<std::string> log;
  std::weak_ptr<Timer> later, self, again;
  // All three are due in the same pass; the loop holds the only references.
  {
    auto first = Timer::scheduled(0, false, [&](Timer& t) {
      log.push_back("first");
      later.lock()->invalidate();  // due after it in this very pass
      t.invalidate();
      log.push_back(t.isValid() ? "first valid" : "first done");
    });
    auto second = Timer::scheduled(0, false, [&](Timer&) { log.push_back("second"); });
    auto third = Timer::scheduled(0, false, [&](Timer& t) {
      log.push_back("third");
      if (log.size() < 5) t.setFireDate(Clock::now() + 1);  // a one-shot given a new date stays
    });
    later = second;
    self = first;
    again = third;
  }
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"first", "first done", "third"}), log);
  EXPECT_TRUE(later.expired());
  EXPECT_TRUE(self.expired());
  ASSERT_FALSE(again.expired());
  EXPECT_TRUE(again.lock()->isValid());
  time.advance(1);
  EXPECT_EQ((std::vector<std::string>{"first", "first done", "third", "third"}), log);
  time.advance(1);
  EXPECT_EQ((std::vector<std::string>{"first", "first done", "third", "third", "third"}), log);
  EXPECT_TRUE(again.expired());  // the third firing kept its date: done
}

TEST(RunLoopTimer, InvalidationFromAnotherThreadDuringTheCallbackReleasesItsTargetAfterTheCall) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  auto target = std::make_shared<std::string>("alive");
  std::weak_ptr<std::string> watch = target;
  auto timer = Timer::scheduled(1, true, [target](Timer& t) {
    std::thread([&t] { t.invalidate(); }).join();
    *target += " after";  // still ours while the call runs
  });
  timer->setFireDate(Clock::now());
  target.reset();
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_TRUE(watch.expired());  // released as soon as the call returned
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(nullptr, timer->runLoop());
}

TEST(RunLoopThreads, TimersAddedAndInvalidatedFromAnotherThreadWhileTheLoopFires) {
  constexpr int kTimers = 200;
  auto loop = RunLoop::current();
  std::atomic<int> fired{0};
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watch = held;
  std::vector<std::shared_ptr<Timer>> idle;
  for (int i = 0; i < kTimers; ++i) {
    idle.push_back(Timer::make(3600, false, [held](Timer&) { ++*held; }));
    loop->addTimer(idle.back(), i % 2 ? kRunLoopCommonModes : kDefaultRunLoopMode);
  }
  held.reset();
  std::thread other([&] {
    for (int i = 0; i < kTimers; ++i) {
      loop->addTimer(Timer::make(0, false, [&](Timer&) { ++fired; }), kDefaultRunLoopMode);
      idle[i]->invalidate();
    }
  });
  EXPECT_TRUE(loop->spinUntil([&] { return fired.load() == kTimers; }));
  other.join();
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ(kTimers, fired.load());
  EXPECT_TRUE(watch.expired());  // every idle timer let its callback go
  for (auto& t : idle) EXPECT_EQ(nullptr, t->runLoop());
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
