// The annotated lock types against the std ones they wrap (the baseline) in the same run: an
// uncontended lock and unlock around a guarded counter, the same contended by two threads, and a
// condition-variable hand-off between two threads through pf::UniqueLock.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Ratios.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace {

struct PfCounter {
  pf::Mutex mutex;
  long value PF_GUARDED_BY(mutex) = 0;
  void add() {
    pf::MutexLock lock(mutex);
    ++value;
  }
};

struct StdCounter {
  std::mutex mutex;
  long value = 0;
  void add() {
    std::lock_guard lock(mutex);
    ++value;
  }
};

template <class Counter>
void uncontended(benchmark::State& state) {
  static Counter counter;
  for (auto _ : state) counter.add();
}

// Both benchmark threads hit one counter.
template <class Counter>
void contended(benchmark::State& state) {
  static Counter counter;
  for (auto _ : state) counter.add();
}

void BM_Lock_Uncontended_Pf(benchmark::State& state) { uncontended<PfCounter>(state); }
void BM_Lock_Uncontended_StdBaseline(benchmark::State& state) { uncontended<StdCounter>(state); }
void BM_Lock_Contended_Pf(benchmark::State& state) { contended<PfCounter>(state); }
void BM_Lock_Contended_StdBaseline(benchmark::State& state) { contended<StdCounter>(state); }

// A ping-pong of one flag between the benchmark thread and a helper thread.
struct PfHandOff {
  pf::Mutex mutex;
  std::condition_variable cv;
  int turn PF_GUARDED_BY(mutex) = 0;
  bool stop PF_GUARDED_BY(mutex) = false;

  void wait(int mine) {
    pf::UniqueLock lock(mutex);
    cv.wait(lock.native(), [&]() PF_REQUIRES(mutex) { return turn == mine || stop; });
  }
  void pass(int next) {
    {
      pf::MutexLock lock(mutex);
      turn = next;
    }
    cv.notify_one();
  }
  void finish() {
    {
      pf::MutexLock lock(mutex);
      stop = true;
    }
    cv.notify_all();
  }
  bool stopped() {
    pf::MutexLock lock(mutex);
    return stop;
  }
};

struct StdHandOff {
  std::mutex mutex;
  std::condition_variable cv;
  int turn = 0;
  bool stop = false;

  void wait(int mine) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return turn == mine || stop; });
  }
  void pass(int next) {
    {
      std::lock_guard lock(mutex);
      turn = next;
    }
    cv.notify_one();
  }
  void finish() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    cv.notify_all();
  }
  bool stopped() {
    std::lock_guard lock(mutex);
    return stop;
  }
};

template <class HandOff>
void handOff(benchmark::State& state) {
  HandOff h;
  std::thread partner([&h] {
    for (;;) {
      h.wait(1);
      if (h.stopped()) return;
      h.pass(0);
    }
  });
  for (auto _ : state) {
    h.pass(1);
    h.wait(0);
  }
  h.finish();
  partner.join();
}

void BM_HandOff_Pf(benchmark::State& state) { handOff<PfHandOff>(state); }
void BM_HandOff_StdBaseline(benchmark::State& state) { handOff<StdHandOff>(state); }

}  // namespace

BENCHMARK(BM_Lock_Uncontended_Pf);
BENCHMARK(BM_Lock_Uncontended_StdBaseline);
BENCHMARK(BM_Lock_Contended_Pf)->Threads(2);
BENCHMARK(BM_Lock_Contended_StdBaseline)->Threads(2);
BENCHMARK(BM_HandOff_Pf)->UseRealTime();
BENCHMARK(BM_HandOff_StdBaseline)->UseRealTime();

FX_BENCH_RATIO("locks: pf::Mutex / std::mutex, uncontended", fxbench::rate("BM_Lock_Uncontended_Pf"),
               fxbench::rate("BM_Lock_Uncontended_StdBaseline"), fxbench::about(1));
FX_BENCH_RATIO("locks: pf::Mutex / std::mutex, two threads", fxbench::rate("BM_Lock_Contended_Pf"),
               fxbench::rate("BM_Lock_Contended_StdBaseline"), fxbench::about(1));
FX_BENCH_RATIO("locks: pf::UniqueLock / std::unique_lock, condition hand-off", fxbench::rate("BM_HandOff_Pf"),
               fxbench::rate("BM_HandOff_StdBaseline"), fxbench::about(1));

FX_BENCH_MAIN();
