#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

namespace {

using namespace pf;

// A log of (virtual second, what) shared by several threads.
struct Log {
  std::mutex mutex;
  std::vector<std::pair<double, std::string>> entries;
  void add(std::string what) {
    std::lock_guard lock(mutex);
    entries.emplace_back(Clock::now() - Clock::kVirtualStart, std::move(what));
  }
  int count(const std::string& what) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (auto& e : entries) n += e.second == what;
    return n;
  }
};

TEST(ClockVirtual, AdvancingAMinuteFiresEverythingInTimeOrderOnItsOwnThread) {
  VirtualTimeScope time;
  Log log;
  // The main loop: a 5 s refresh timer.
  auto refresh = Timer::scheduled(5, true, [&](Timer&) { log.add("main"); });
  // A network thread with its own loop: a 10 s ping.
  auto network = Thread::makeRunLoopThread("test.network");
  auto ping = Timer::make(10, true, [&](Timer&) {
    EXPECT_FALSE(Thread::isMainThread());
    log.add("ping");
  });
  network->runLoop()->addTimer(ping, kDefaultRunLoopMode);
  // A serial queue retrying every 30 s through after().
  auto queue = DispatchQueue::makeSerial("test.retry");
  std::function<void()> retry = [&] {
    log.add("retry");
    if (log.count("retry") < 2) queue->after(30, retry);
  };
  queue->after(30, retry);
  // A plain thread sleeping in 20 s steps on the clock.
  auto sleeper = Thread::detach([&] {
    for (int i = 0; i < 3; ++i) {
      Thread::sleep(20);
      log.add("sleep");
    }
  });

  time.advance(60);

  EXPECT_EQ(60.0, Clock::now() - Clock::kVirtualStart);
  EXPECT_EQ(12, log.count("main"));
  EXPECT_EQ(6, log.count("ping"));
  EXPECT_EQ(2, log.count("retry"));
  EXPECT_EQ(3, log.count("sleep"));
  double last = 0;
  for (auto& [when, what] : log.entries) {
    EXPECT_LE(last, when) << what;
    last = when;
    // Everything fired exactly on its date.
    double step = what == "main" ? 5 : what == "ping" ? 10 : what == "retry" ? 30 : 20;
    EXPECT_EQ(0.0, std::fmod(when, step)) << what << " at " << when;
  }
  refresh->invalidate();
  ping->invalidate();
  network->cancel();
  network->join();
  sleeper->join();
}

TEST(ClockVirtual, TimedWaitsTimeOutOnlyWhenTheClockIsAdvanced) {
  VirtualTimeScope time;
  auto semaphore = DispatchSemaphore::make(0);
  std::atomic<int> result{-1};
  auto waiter = Thread::detach([&] { result = semaphore->wait(5) ? 1 : 0; });
  time.advance(4.5);
  EXPECT_EQ(-1, result.load());
  time.advance(0.5);
  waiter->join();
  EXPECT_EQ(0, result.load());

  auto group = DispatchGroup::make();
  group->enter();
  EXPECT_FALSE(group->wait(0));
  DispatchQueue::global()->after(2, [group] { group->leave(); });
  time.advance(2);
  EXPECT_TRUE(group->wait(0));
}

TEST(ClockVirtual, ARunLimitIsAStepAndAnotherThreadCanAdvanceWhileTheMainLoopRuns) {
  VirtualTimeScope time;
  std::atomic<bool> advanced{false};
  auto keep = Timer::scheduled(1000, false, [](Timer&) {});
  auto advancer = Thread::detach([&] {
    while (!RunLoop::main()->isWaiting()) std::this_thread::yield();
    Clock::advance(0.2);
    advanced = true;
  });
  // Polling the way blocking waits do: 0.2 s steps of the run loop.
  auto result = RunLoop::current()->runInMode(kDefaultRunLoopMode, 0.2, true);
  EXPECT_EQ(RunLoopResult::TimedOut, result);
  advancer->join();
  EXPECT_TRUE(advanced.load());
  keep->invalidate();
}

TEST(ClockVirtual, RealSocketsWorkWhileVirtualTimeStandsStill) {
  VirtualTimeScope time;
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ASSERT_EQ(0, listen(listener, 1));
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

  bool accepted = false;
  bool timedOut = false;
  auto timeout = Timer::scheduled(2, false, [&](Timer&) { timedOut = true; });
  auto source = RunLoopSource::makeFd(listener, kRunLoopRead, [&](RunLoopSource&, std::uint32_t) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) close(fd);
    accepted = true;
  });
  RunLoop::main()->addSource(source, kDefaultRunLoopMode);
  // The peer is slow in real time; the 2 s virtual time-out must not fire meanwhile.
  auto peer = Thread::detach([port = addr.sin_port] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = port;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
  });
  EXPECT_TRUE(RunLoop::main()->spinUntil([&] { return accepted; }, 10));
  EXPECT_FALSE(timedOut);
  time.advance(2);
  EXPECT_TRUE(timedOut);
  peer->join();
  source->invalidate();
  close(listener);
}

TEST(ClockReal, SwitchingBackGivesTheSystemDateAndSleepIsOnTheClock) {
  {
    VirtualTimeScope time(1000);
    EXPECT_TRUE(Clock::isVirtual());
    EXPECT_EQ(1000, Clock::now());
    Clock::advanceTo(1500);
    EXPECT_EQ(1500, Clock::now());
    Clock::advanceTo(1200);  // never backwards
    EXPECT_EQ(1500, Clock::now());
    Clock::sleep(0);  // nothing to wait for
  }
  EXPECT_FALSE(Clock::isVirtual());
  EXPECT_GT(Clock::now(), 1.7e9);
  double before = Clock::monotonic();
  Clock::advance(100);  // ignored in real time
  EXPECT_LT(Clock::monotonic() - before, 50.0);
}

}  // namespace
