// The annotated lock types against the std ones they wrap (the baseline), each pair taken in turns
// inside one row (Ratios.h), so both meet the same load of the machine: an uncontended lock and
// unlock around a guarded counter, the same contended by two threads, and a condition-variable
// hand-off between two threads through pf::UniqueLock. The two roads of each pair run the same
// machine code but for its place in memory: their ratios should read 1.
#include <barrier>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Ratios.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace {

// Each road's share of a turn: long enough to dwarf the clock and the barrier, short enough that
// a repetition holds many turns.
constexpr int kAdds = 20000;
constexpr int kHandOffs = 500;
constexpr int kTurns = 200;

// Each on a cache line of its own.
struct alignas(64) PfCounter {
  pf::Mutex mutex;
  long value PF_GUARDED_BY(mutex) = 0;
  void add() {
    pf::MutexLock lock(mutex);
    ++value;
  }
};

struct alignas(64) StdCounter {
  std::mutex mutex;
  long value = 0;
  void add() {
    std::lock_guard lock(mutex);
    ++value;
  }
};

// Aligned, so that neither road's loop gains from where the linker put it.
template <class Counter>
[[gnu::noinline, gnu::aligned(64)]] void addMany(Counter& counter) {
  for (int i = 0; i < kAdds; ++i) counter.add();
}

void BM_Lock_Uncontended_InTurns(benchmark::State& state) {
  PfCounter pf;
  StdCounter plain;
  fxbench::Turns turns("pf", "std");
  for (auto _ : state) {
    turns.take([&] { return fxbench::secondsOf([&] { addMany(pf); }); },
               [&] { return fxbench::secondsOf([&] { addMany(plain); }); });
    state.SetIterationTime(turns.lastOursSeconds());
  }
  turns.report(state);
}

// Two threads add to one counter at once: this thread and a partner that joins each road's share
// through a barrier, so a road's time runs from both starting to both having finished.
void BM_Lock_Contended_InTurns(benchmark::State& state) {
  PfCounter pf;
  StdCounter plain;
  std::barrier<> together(2);
  enum class Road { Pf, Std, Stop };
  Road road = Road::Stop;  // written before the first barrier of a share, read after it
  std::thread partner([&] {
    for (;;) {
      together.arrive_and_wait();
      if (road == Road::Stop) return;
      if (road == Road::Pf)
        addMany(pf);
      else
        addMany(plain);
      together.arrive_and_wait();
    }
  });
  const auto share = [&](Road which) {
    road = which;
    return fxbench::secondsOf([&] {
      together.arrive_and_wait();
      if (which == Road::Pf)
        addMany(pf);
      else
        addMany(plain);
      together.arrive_and_wait();
    });
  };
  fxbench::Turns turns("pf", "std");
  for (auto _ : state) {
    turns.take([&] { return share(Road::Pf); }, [&] { return share(Road::Std); });
    state.SetIterationTime(turns.lastOursSeconds());
  }
  road = Road::Stop;
  together.arrive_and_wait();
  partner.join();
  turns.report(state);
}

// A ping-pong of one flag between this thread and a partner thread.
struct PfHandOff {
  pf::Mutex mutex;
  std::condition_variable cv;
  int turn PF_GUARDED_BY(mutex) = 0;

  void wait(int mine) {
    pf::UniqueLock lock(mutex);
    cv.wait(lock.native(), [&]() PF_REQUIRES(mutex) { return turn == mine; });
  }
  void pass(int next) {
    {
      pf::MutexLock lock(mutex);
      turn = next;
    }
    cv.notify_one();
  }
};

struct StdHandOff {
  std::mutex mutex;
  std::condition_variable cv;
  int turn = 0;

  void wait(int mine) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return turn == mine; });
  }
  void pass(int next) {
    {
      std::lock_guard lock(mutex);
      turn = next;
    }
    cv.notify_one();
  }
};

// Both hand-offs with one partner thread, which answers the passes of one road's share at a
// time: the two roads meet the same pair of threads wherever the scheduler put them.
void BM_HandOff_InTurns(benchmark::State& state) {
  PfHandOff pf;
  StdHandOff plain;
  std::barrier<> together(2);
  enum class Road { Pf, Std, Stop };
  Road road = Road::Stop;  // written before the barrier that starts a share, read after it
  const auto answer = [](auto& h) {
    for (int i = 0; i < kHandOffs; ++i) {
      h.wait(1);
      h.pass(0);
    }
  };
  const auto ask = [](auto& h) {
    for (int i = 0; i < kHandOffs; ++i) {
      h.pass(1);
      h.wait(0);
    }
  };
  std::thread partner([&] {
    for (;;) {
      together.arrive_and_wait();
      if (road == Road::Stop) return;
      if (road == Road::Pf)
        answer(pf);
      else
        answer(plain);
    }
  });
  const auto share = [&](Road which) {
    road = which;
    together.arrive_and_wait();
    return fxbench::secondsOf([&] {
      if (which == Road::Pf)
        ask(pf);
      else
        ask(plain);
    });
  };
  fxbench::Turns turns("pf", "std");
  for (auto _ : state) {
    turns.take([&] { return share(Road::Pf); }, [&] { return share(Road::Std); });
    state.SetIterationTime(turns.lastOursSeconds());
  }
  road = Road::Stop;
  together.arrive_and_wait();
  partner.join();
  turns.report(state);
}

}  // namespace

BENCHMARK(BM_Lock_Uncontended_InTurns)->Iterations(kTurns)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lock_Contended_InTurns)->Iterations(kTurns)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandOff_InTurns)->Iterations(kTurns)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The median of the turns' own ratios: the machine's speed may change from one turn to the next.
FX_BENCH_RATIO("locks: pf::Mutex / std::mutex, uncontended (in turns)",
               fxbench::counter("BM_Lock_Uncontended_InTurns", "pf_rate_over_std"), fxbench::one(),
               fxbench::about(1, 0.05));
FX_BENCH_RATIO("locks: pf::Mutex / std::mutex, two threads (in turns)",
               fxbench::counter("BM_Lock_Contended_InTurns", "pf_rate_over_std"), fxbench::one(),
               fxbench::about(1, 0.05));
FX_BENCH_RATIO("locks: pf::UniqueLock / std::unique_lock, condition hand-off (in turns)",
               fxbench::counter("BM_HandOff_InTurns", "pf_rate_over_std"), fxbench::one(), fxbench::about(1, 0.05));

FX_BENCH_MAIN();
