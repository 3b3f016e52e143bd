// The annotated lock types against the std ones they wrap (the baseline), each pair taken in turns
// inside one row (Ratios.h), so both meet the same load of the machine: an uncontended lock and
// unlock around a guarded counter, the same contended by two threads, and a condition-variable
// hand-off between two threads through pf::UniqueLock. The two roads of each pair run the same
// machine code but for its place in memory: their ratios should read 1.
#include <barrier>
#include <condition_variable>
#include <functional>
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
  fxbench::Turns("pf", "std").run(state, [&] { return fxbench::secondsOf([&] { addMany(pf); }); },
                                  [&] { return fxbench::secondsOf([&] { addMany(plain); }); });
}

// A partner thread that joins this one for each road's share of a turn: both start together
// through a barrier, each does its part, and the share's time runs until both have finished.
class Partner {
 public:
  // `part(pf)`: the partner's part of a share of the pf road (true) or the std one.
  explicit Partner(std::function<void(bool)> part)
      : thread_([this, part = std::move(part)] {
          for (;;) {
            together_.arrive_and_wait();
            if (stop_) return;
            part(pf_);
            together_.arrive_and_wait();
          }
        }) {}
  ~Partner() {
    stop_ = true;
    together_.arrive_and_wait();
    thread_.join();
  }
  Partner(const Partner&) = delete;
  Partner& operator=(const Partner&) = delete;

  // This thread's part of a share; its seconds.
  double share(bool pf, const std::function<void()>& mine) {
    pf_ = pf;
    together_.arrive_and_wait();
    const double seconds = fxbench::secondsOf([&] {
      mine();
      together_.arrive_and_wait();
    });
    return seconds;
  }

 private:
  std::barrier<> together_{2};
  bool pf_ = false;    // written before the barrier that starts a share, read after it
  bool stop_ = false;  // likewise
  std::thread thread_;
};

// The pf road and the std one in turns, on two threads: this one does `mine` to the road's
// object, the partner `theirs`.
template <class Pf, class Std, class Mine, class Theirs>
void withPartnerInTurns(benchmark::State& state, Pf& pf, Std& plain, Mine mine, Theirs theirs) {
  Partner partner([&](bool isPf) {
    if (isPf)
      theirs(pf);
    else
      theirs(plain);
  });
  fxbench::Turns("pf", "std").run(state, [&] { return partner.share(true, [&] { mine(pf); }); },
                                  [&] { return partner.share(false, [&] { mine(plain); }); });
}

// Two threads add to one counter at once.
void BM_Lock_Contended_InTurns(benchmark::State& state) {
  PfCounter pf;
  StdCounter plain;
  const auto add = [](auto& counter) { addMany(counter); };
  withPartnerInTurns(state, pf, plain, add, add);
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

template <class HandOff>
void answerMany(HandOff& h) {
  for (int i = 0; i < kHandOffs; ++i) {
    h.wait(1);
    h.pass(0);
  }
}

template <class HandOff>
void askMany(HandOff& h) {
  for (int i = 0; i < kHandOffs; ++i) {
    h.pass(1);
    h.wait(0);
  }
}

// Both hand-offs with one partner thread: the two roads meet the same pair of threads wherever
// the scheduler put them.
void BM_HandOff_InTurns(benchmark::State& state) {
  PfHandOff pf;
  StdHandOff plain;
  withPartnerInTurns(
      state, pf, plain, [](auto& h) { askMany(h); }, [](auto& h) { answerMany(h); });
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
