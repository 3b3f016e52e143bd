// The whole demo tour against the start-up alone: fxclient run as the README runs it, each run its
// own process with its own demo bank, on virtual time. Report only: the tour's wall time over the
// start-up's, what a newcomer waits for beyond the first page. The two are run in turns (who goes
// first alternates), so both meet the same load on the machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "Ratios.h"
#include "support/TestSupport.h"

extern char** environ;

namespace {

// Seconds of one fxclient run, or a negative number when it could not run or did not end well (a
// failed tour step fails the run: a tour that stops short is not the tour measured). `failure`
// says what went wrong.
double runClient(const fxtest::TempDir& work, bool tour, std::string* failure) {
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
  const std::string what = tour ? "the tour" : "the start-up";
  if (spawned != 0) {
    *failure = what + ": fxclient did not start";
    return -1;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    *failure = what + ": fxclient did not exit";
    return -1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WEXITSTATUS(status) != 0) {
    *failure = what + ": fxclient's exit status " + std::to_string(WEXITSTATUS(status));
    return -1;
  }
  return seconds;
}

// Each iteration runs the start-up alone and the whole tour once, in turns; the iteration time is
// the tour's, the counters the medians of both.
void BM_TourOverStartup(benchmark::State& state) {
  fxtest::TempDir work;
  std::string failure;
  fxbench::Turns("tour", "startup").run(state, [&] { return runClient(work, true, &failure); },
                                        [&] { return runClient(work, false, &failure); }, failure);
}

BENCHMARK(BM_TourOverStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

FX_BENCH_RATIO("tour: the whole tour, time / the start-up alone's (in turns, report only)",
               fxbench::counter("BM_TourOverStartup", "tour_ms"), fxbench::counter("BM_TourOverStartup", "startup_ms"),
               fxbench::noAim());

}  // namespace
FX_BENCH_MAIN();
