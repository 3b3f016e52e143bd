// Dispatch queues, main-queue hops and timers against a plain baseline in the same run: a queue
// of std::function guarded by a mutex and a condition variable, drained by a std::thread (or by
// the benchmark thread standing in for the main thread), and a mutex-guarded min-heap of timers.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "Ratios.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"

namespace {

constexpr int kBlocks = 10000;

// ---- the baseline: one mutex, one condition variable, one consumer thread
class PlainQueue {
 public:
  void push(std::function<void()> block) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(block));
    }
    cv_.notify_one();
  }
  // Runs items until `stop` (checked after each).
  void drain(const std::function<bool()>& stop) {
    while (!stop()) {
      std::function<void()> block;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !items_.empty(); });
        block = std::move(items_.front());
        items_.pop_front();
      }
      block();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> items_;
};

// Waits for a count reached on another thread.
struct Counter {
  std::mutex mutex;
  std::condition_variable cv;
  int value = 0;
  void add() {
    std::lock_guard lock(mutex);
    if (++value % kBlocks == 0) cv.notify_all();
  }
  void waitFor(int target) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return value >= target; });
  }
};

// ---- async throughput onto one serial queue

void BM_SerialAsync_Baseline(benchmark::State& state) {
  PlainQueue queue;
  Counter counter;
  std::atomic<bool> quit{false};
  std::thread consumer([&] { queue.drain([&] { return quit.load(); }); });
  int target = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; ++i) queue.push([&counter] { counter.add(); });
    target += kBlocks;
    counter.waitFor(target);
  }
  queue.push([&] { quit = true; });
  consumer.join();
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

void BM_SerialAsync_DispatchQueue(benchmark::State& state) {
  auto queue = pf::DispatchQueue::makeSerial("bench.serial");
  Counter counter;
  int target = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; ++i) queue->async([&counter] { counter.add(); });
    target += kBlocks;
    counter.waitFor(target);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// ---- hops onto the main thread: another thread posts, the main thread runs them

void BM_MainHop_Baseline(benchmark::State& state) {
  PlainQueue mainQueue;
  for (auto _ : state) {
    int ran = 0;
    std::thread producer([&] {
      for (int i = 0; i < kBlocks; ++i) mainQueue.push([&ran] { ++ran; });
    });
    mainQueue.drain([&] { return ran == kBlocks; });
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

void BM_MainHop_MainQueue(benchmark::State& state) {
  auto main = pf::DispatchQueue::main();
  auto loop = pf::RunLoop::main();
  for (auto _ : state) {
    int ran = 0;
    std::thread producer([&] {
      for (int i = 0; i < kBlocks; ++i) main->async([&ran] { ++ran; });
    });
    while (ran < kBlocks) loop->runInMode(pf::kDefaultRunLoopMode, 1.0, true);
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// ---- round trips: the main thread hands work to a background queue, which answers on main

void BM_RoundTrip_Baseline(benchmark::State& state) {
  PlainQueue background, mainQueue;
  std::atomic<bool> quit{false};
  std::thread worker([&] { background.drain([&] { return quit.load(); }); });
  for (auto _ : state) {
    bool back = false;
    background.push([&] { mainQueue.push([&] { back = true; }); });
    mainQueue.drain([&] { return back; });
  }
  background.push([&] { quit = true; });
  worker.join();
  state.SetItemsProcessed(state.iterations());
}

void BM_RoundTrip_DispatchMainQueue(benchmark::State& state) {
  auto background = pf::DispatchQueue::makeSerial("bench.background");
  auto main = pf::DispatchQueue::main();
  auto loop = pf::RunLoop::main();
  for (auto _ : state) {
    bool back = false;
    background->async([&] { main->async([&] { back = true; }); });
    while (!back) loop->runInMode(pf::kDefaultRunLoopMode, 1.0, true);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- timer creation and firing: make a batch of timers due now and fire them all

constexpr int kTimers = 1000;

void BM_TimerFire_Baseline(benchmark::State& state) {
  struct Entry {
    std::chrono::steady_clock::time_point due;
    std::uint64_t sequence;
    std::function<void()> fire;
    bool operator<(const Entry& o) const { return due > o.due || (due == o.due && sequence > o.sequence); }
  };
  std::mutex mutex;
  std::priority_queue<Entry> heap;
  std::uint64_t sequence = 0;
  int fired = 0;
  for (auto _ : state) {
    auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < kTimers; ++i) {
      std::lock_guard lock(mutex);
      heap.push(Entry{now, ++sequence, [&fired] { ++fired; }});
    }
    auto at = std::chrono::steady_clock::now();
    for (;;) {
      std::function<void()> fire;
      {
        std::lock_guard lock(mutex);
        if (heap.empty() || heap.top().due > at) break;
        fire = std::move(const_cast<Entry&>(heap.top()).fire);
        heap.pop();
      }
      fire();
    }
  }
  benchmark::DoNotOptimize(fired);
  state.SetItemsProcessed(state.iterations() * kTimers);
}

void BM_TimerFire_RunLoop(benchmark::State& state) {
  auto loop = pf::RunLoop::current();
  int fired = 0;
  for (auto _ : state) {
    for (int i = 0; i < kTimers; ++i)
      loop->addTimer(pf::Timer::make(0, false, [&fired](pf::Timer&) { ++fired; }), pf::kDefaultRunLoopMode);
    loop->runInMode(pf::kDefaultRunLoopMode, 0);
  }
  if (fired != static_cast<int>(state.iterations()) * kTimers) state.SkipWithError("timers missed");
  state.SetItemsProcessed(state.iterations() * kTimers);
}

// ---- re-arming: the same timers (retries, pings, time-outs) get a new date and fire again

void BM_TimerRearm_Baseline(benchmark::State& state) {
  struct Record {
    std::function<void()> fire;
  };
  struct Entry {
    std::chrono::steady_clock::time_point due;
    std::uint64_t sequence;
    Record* record;
    bool operator<(const Entry& o) const { return due > o.due || (due == o.due && sequence > o.sequence); }
  };
  int fired = 0;
  std::vector<Record> records(kTimers, Record{[&fired] { ++fired; }});
  std::mutex mutex;
  std::priority_queue<Entry> heap;
  std::uint64_t sequence = 0;
  for (auto _ : state) {
    auto now = std::chrono::steady_clock::now();
    for (auto& r : records) {
      std::lock_guard lock(mutex);
      heap.push(Entry{now, ++sequence, &r});
    }
    auto at = std::chrono::steady_clock::now();
    for (;;) {
      Record* r;
      {
        std::lock_guard lock(mutex);
        if (heap.empty() || heap.top().due > at) break;
        r = heap.top().record;
        heap.pop();
      }
      r->fire();
    }
  }
  benchmark::DoNotOptimize(fired);
  state.SetItemsProcessed(state.iterations() * kTimers);
}

void BM_TimerRearm_RunLoop(benchmark::State& state) {
  auto loop = pf::RunLoop::current();
  int fired = 0;
  std::vector<std::shared_ptr<pf::Timer>> timers;
  for (int i = 0; i < kTimers; ++i) {
    // Repeating with a long interval: each firing moves it an hour on; setFireDate brings it back.
    timers.push_back(pf::Timer::make(3600, true, [&fired](pf::Timer&) { ++fired; }));
    loop->addTimer(timers.back(), pf::kDefaultRunLoopMode);
  }
  for (auto _ : state) {
    double now = pf::Clock::now();
    for (auto& t : timers) t->setFireDate(now);
    loop->runInMode(pf::kDefaultRunLoopMode, 0);
  }
  if (fired != static_cast<int>(state.iterations()) * kTimers) state.SkipWithError("timers missed");
  for (auto& t : timers) t->invalidate();
  state.SetItemsProcessed(state.iterations() * kTimers);
}

}  // namespace

BENCHMARK(BM_SerialAsync_Baseline)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialAsync_DispatchQueue)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainHop_Baseline)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainHop_MainQueue)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip_Baseline)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTrip_DispatchMainQueue)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerFire_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerFire_RunLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerRearm_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerRearm_RunLoop)->Unit(benchmark::kMicrosecond);

FX_BENCH_RATIO("dispatch: serial queue async / mutex-and-condition queue", fxbench::rate("BM_SerialAsync_DispatchQueue"),
               fxbench::rate("BM_SerialAsync_Baseline"), fxbench::atLeast(0.5));
FX_BENCH_RATIO("dispatch: main-queue hops / mutex-and-condition queue", fxbench::rate("BM_MainHop_MainQueue"),
               fxbench::rate("BM_MainHop_Baseline"), fxbench::atLeast(0.5));
FX_BENCH_RATIO("dispatch: main-queue round trips / mutex-and-condition queues",
               fxbench::rate("BM_RoundTrip_DispatchMainQueue"), fxbench::rate("BM_RoundTrip_Baseline"),
               fxbench::atLeast(0.5));
FX_BENCH_RATIO("timers: make, schedule and fire / mutex-guarded heap", fxbench::rate("BM_TimerFire_RunLoop"),
               fxbench::rate("BM_TimerFire_Baseline"), fxbench::atLeast(0.5));
FX_BENCH_RATIO("timers: re-arm and fire / mutex-guarded heap", fxbench::rate("BM_TimerRearm_RunLoop"),
               fxbench::rate("BM_TimerRearm_Baseline"), fxbench::atLeast(0.5));
FX_BENCH_MAIN();
