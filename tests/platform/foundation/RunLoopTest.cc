#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

namespace {

using namespace pf;

struct SocketPair {
  int fd[2];
  SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fd)); }
  ~SocketPair() {
    close(fd[0]);
    close(fd[1]);
  }
  void send(const std::string& s) { ASSERT_EQ(static_cast<ssize_t>(s.size()), write(fd[1], s.data(), s.size())); }
  std::string drain() {
    char buf[256];
    ssize_t n = read(fd[0], buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
};

TEST(RunLoopModes, ItemsFireOnlyInTheirModesAndCommonModesIncludeLaterOnes) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  static int run = 0;  // the main loop outlives the test: a fresh mode name per run
  const std::string tracking = "TestTracking" + std::to_string(++run);
  std::vector<std::string> log;
  auto timer = [&](const std::string& name) {
    return Timer::make(0, false, [&log, &loop, name](Timer&) { log.push_back(name + "@" + *loop->currentMode()); });
  };
  auto inDefault = timer("default");
  auto inTracking = timer("tracking");
  auto inCommon = timer("common");
  loop->addTimer(inDefault, kDefaultRunLoopMode);
  loop->addTimer(inTracking, tracking);
  loop->addTimer(inCommon, kRunLoopCommonModes);

  loop->runInMode(tracking, 0);
  EXPECT_EQ((std::vector<std::string>{"tracking@" + tracking}), log);  // the common set is only the default mode
  log.clear();

  loop->addCommonMode(tracking);
  EXPECT_TRUE(loop->containsTimer(inCommon, tracking));
  loop->runInMode(tracking, 0);
  EXPECT_EQ((std::vector<std::string>{"common@" + tracking}), log);
  log.clear();

  // Fired once in one of its modes, the common timer does not fire again in the other.
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"default@" + kDefaultRunLoopMode}), log);
  EXPECT_FALSE(inCommon->isValid());
  EXPECT_FALSE(loop->containsTimer(inCommon, tracking));
  loop->runInMode(tracking, 0);
  EXPECT_TRUE(log.size() == 1);
}

TEST(RunLoopSources, ReadinessIsHeldWhileAnotherModeRunsAndInvalidationRemovesEverywhere) {
  auto loop = RunLoop::current();
  SocketPair pair;
  std::vector<std::string> got;
  auto source = RunLoopSource::makeFd(pair.fd[0], kRunLoopRead, [&](RunLoopSource&, std::uint32_t events) {
    EXPECT_TRUE(events & kRunLoopRead);
    got.push_back(pair.drain());
  });
  loop->addSource(source, "TestOther");
  auto keep = Timer::make(100, false, [](Timer&) {});
  loop->addTimer(keep, kDefaultRunLoopMode);
  pair.send("hello");
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(RunLoopResult::HandledSource, loop->runInMode("TestOther", 5, true));
  EXPECT_EQ((std::vector<std::string>{"hello"}), got);

  loop->addSource(source, kDefaultRunLoopMode);
  source->invalidate();
  EXPECT_FALSE(loop->containsSource(source, "TestOther"));
  EXPECT_FALSE(loop->containsSource(source, kDefaultRunLoopMode));
  pair.send("again");
  loop->runInMode("TestOther", 0);
  EXPECT_EQ(1u, got.size());
  keep->invalidate();
}

TEST(RunLoopRunning, NestedRunsAndPerformOrder) {
  auto loop = RunLoop::current();
  std::vector<int> order;
  loop->perform([&] {
    order.push_back(1);
    loop->perform([&] { order.push_back(3); });
    // A nested run handles the perform queued from here.
    loop->runInMode(kDefaultRunLoopMode, 0);
    order.push_back(4);
  });
  loop->performOrdered(nullptr, "b", 5, [&] { order.push_back(2); });
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<int>{1, 3, 4, 2}), order);
}

TEST(RunLoopThreads, CrossThreadPerformWakesAWaitingLoop) {
  auto worker = Thread::makeRunLoopThread("test.worker");
  auto loop = worker->runLoop();
  ASSERT_TRUE(loop);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) loop->perform([&] { ++ran; });
  bool onWorker = false;
  EXPECT_TRUE(worker->perform([&] { onWorker = RunLoop::current() == loop; }, true));
  EXPECT_TRUE(onWorker);
  EXPECT_EQ(100, ran.load());
  worker->cancel();
  worker->join();
  EXPECT_TRUE(worker->isFinished());
  EXPECT_FALSE(worker->perform([] {}, true));
}

TEST(RunLoopThreads, TimersAndSourcesAddedFromAnotherThreadWakeTheLoop) {
  auto worker = Thread::makeRunLoopThread("test.wake");
  auto loop = worker->runLoop();
  auto done = DispatchSemaphore::make(0);
  std::atomic<bool> timerOnWorker{false};
  while (!loop->isWaiting()) std::this_thread::yield();
  loop->addTimer(Timer::make(0, false, [&](Timer&) {
                   timerOnWorker = RunLoop::current() == loop;
                   done->signal();
                 }),
                 kDefaultRunLoopMode);
  EXPECT_TRUE(done->wait(10));
  EXPECT_TRUE(timerOnWorker.load());

  SocketPair pair;
  std::atomic<int> reads{0};
  auto source = RunLoopSource::makeFd(pair.fd[0], kRunLoopRead, [&](RunLoopSource&, std::uint32_t) {
    pair.drain();
    ++reads;
    done->signal();
  });
  while (!loop->isWaiting()) std::this_thread::yield();
  loop->addSource(source, kRunLoopCommonModes);
  pair.send("x");
  EXPECT_TRUE(done->wait(10));
  EXPECT_EQ(1, reads.load());
  source->invalidate();
  worker->cancel();
  worker->join();
}

TEST(RunLoopThreads, StopFromAnotherThreadEndsTheInnermostRun) {
  std::atomic<RunLoop*> loopSeen{nullptr};
  std::atomic<int> result{-1};
  auto thread = Thread::detach([&] {
    auto loop = RunLoop::current();
    auto keep = Timer::make(1000, false, [](Timer&) {});
    loop->addTimer(keep, kDefaultRunLoopMode);
    loopSeen = loop.get();
    result = static_cast<int>(loop->runInMode(kDefaultRunLoopMode, 1000));
  });
  while (!loopSeen.load() || !loopSeen.load()->isWaiting()) std::this_thread::yield();
  thread->runLoop()->stop();
  thread->join();
  EXPECT_EQ(static_cast<int>(RunLoopResult::Stopped), result.load());
}

TEST(RunLoopThreads, AThreadsLoopIsTornDownWhenTheThreadEnds) {
  auto target = std::make_shared<int>(0);
  std::weak_ptr<int> watch = target;
  std::shared_ptr<RunLoop> loop;
  auto thread = Thread::detach([&, target]() mutable {
    loop = RunLoop::current();
    Timer::scheduled(5, true, [target](Timer&) { ++*target; });
    target.reset();
  });
  target.reset();
  thread->join();
  ASSERT_TRUE(loop);
  EXPECT_TRUE(watch.expired());
  bool ran = false;
  loop->perform([&] { ran = true; });  // dropped: nobody will ever run it
  EXPECT_FALSE(ran);
  EXPECT_EQ(nullptr, thread->runLoop());
}

TEST(RunLoopRunning, RunReturnsAtOnceForAnEmptyModeAndAtTheLimitOtherwise) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  EXPECT_EQ(RunLoopResult::Finished, loop->runInMode("TestEmptyMode", 100));
  EXPECT_FALSE(loop->runMode("TestEmptyMode", kDistantFuture));
  auto keep = Timer::make(100, false, [](Timer&) {});
  loop->addTimer(keep, "TestLimitMode");
  EXPECT_EQ(RunLoopResult::TimedOut, loop->runInMode("TestLimitMode", 0));
  keep->invalidate();
}

TEST(RunLoopRunning, AnExceptionFromACallbackLeavesTheRestPending) {
  VirtualTimeScope time;
  auto loop = RunLoop::current();
  std::vector<std::string> log;
  loop->perform([&] { log.push_back("p1"); });
  loop->perform([] { throw std::runtime_error("perform"); });
  loop->perform([&] { log.push_back("p3"); });
  EXPECT_THROW(loop->runInMode(kDefaultRunLoopMode, 0), std::runtime_error);
  EXPECT_EQ((std::vector<std::string>{"p1"}), log);
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"p1", "p3"}), log);

  log.clear();
  auto a = Timer::scheduled(1, false, [](Timer&) { throw std::runtime_error("timer"); });
  auto b = Timer::scheduled(1, true, [&](Timer&) { log.push_back("b"); });
  auto c = Timer::scheduled(1, false, [&](Timer&) { log.push_back("c"); });
  EXPECT_THROW(time.advance(1), std::runtime_error);
  EXPECT_FALSE(a->isValid());  // it fired
  EXPECT_TRUE(log.empty());
  loop->runInMode(kDefaultRunLoopMode, 0);
  EXPECT_EQ((std::vector<std::string>{"b", "c"}), log);
  time.advance(1);
  EXPECT_EQ((std::vector<std::string>{"b", "c", "b"}), log);
  b->invalidate();
}

TEST(RunLoopTimers, VirtualTimeFiresInTimeOrderAcrossAMinute) {
  VirtualTimeScope time;
  std::vector<std::string> log;
  int ticks = 0;
  auto repeating = Timer::scheduled(5, true, [&](Timer&) { ++ticks; });
  auto once = Timer::scheduled(31, false, [&](Timer&) { log.push_back("31 at " + std::to_string(ticks)); });
  RunLoop::current()->performAfter(21, nullptr, "x", [&] { log.push_back("21 at " + std::to_string(ticks)); });
  time.advance(60);
  EXPECT_EQ(12, ticks);
  EXPECT_EQ((std::vector<std::string>{"21 at 4", "31 at 6"}), log);
  EXPECT_FALSE(once->isValid());
  repeating->invalidate();
}

}  // namespace
