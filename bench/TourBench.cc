// The whole demo tour against the start-up alone: fxclient run as the README runs it, each run its
// own process with its own demo bank, on virtual time. Report only: the tour's wall time over the
// start-up's, what a newcomer waits for beyond the first page. The two are run in turns (who goes
// first alternates), so both meet the same load on the machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace {

// Seconds of one fxclient run, or a negative number when it could not run or stopped short of
// what it was asked (the tour's failed steps still count: it went through them all).
double runClient(const fxtest::TempDir& work, bool tour) {
  const std::string out = (work.path() / (tour ? "tour" : "startup")).string();
  const std::string keys = (work.path() / "keys").string();
  std::vector<std::string> args{FX_FXCLIENT, "--out", out, "--keys", keys};
  if (tour) args.emplace_back("--tour");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WEXITSTATUS(status);
  return code == 0 || (tour && code == 3) ? seconds : -1;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each iteration runs the start-up alone and the whole tour once, in turns; the iteration time is
// the tour's. The counters and the printed line give both medians, their ratio and the ratio's
// range over the turns.
void BM_TourOverStartup(benchmark::State& state) {
  fxtest::TempDir work;
  std::vector<double> startups, tours, ratios;
  bool tourFirst = false;
  for (auto _ : state) {
    double startup = 0, tour = 0;
    if (tourFirst) {
      tour = runClient(work, true);
      startup = runClient(work, false);
    } else {
      startup = runClient(work, false);
      tour = runClient(work, true);
    }
    tourFirst = !tourFirst;
    if (startup <= 0 || tour <= 0) return state.SkipWithError("fxclient did not run through");
    state.SetIterationTime(tour);
    startups.push_back(startup);
    tours.push_back(tour);
    ratios.push_back(tour / startup);
  }
  const double ratio = median(tours) / median(startups);
  state.counters["startup_ms"] = median(startups) * 1e3;
  state.counters["tour_ms"] = median(tours) * 1e3;
  state.counters["ratio"] = ratio;
  std::printf("The whole tour %.0f ms, the start-up alone %.0f ms (medians of %zu turns): %.2f times the start-up "
              "(min %.2f, max %.2f)\n",
              median(tours) * 1e3, median(startups) * 1e3, tours.size(), ratio,
              *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
}

BENCHMARK(BM_TourOverStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
BENCHMARK_MAIN();
