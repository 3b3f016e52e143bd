// The benchmarks' ratio helper: ratios of medians whatever order the rows ran in, min and max of
// the repetitions' own ratios, verdicts every repetition agrees with, figures from counters,
// aggregates-only display, failed rows, and turns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Ratios.h"
#include "support/TestSupport.h"

namespace {

using BenchRun = benchmark::BenchmarkReporter::Run;

BenchRun repetition(const std::string& function, const std::string& args, double secondsPerIteration,
               benchmark::UserCounters counters = {}) {
  BenchRun run;
  run.run_name.function_name = function;
  run.run_name.args = args;
  run.run_name.time_type = "real_time";
  run.run_name.repetitions = "repeats:3";
  run.iterations = 10;
  run.repetitions = 3;
  run.real_accumulated_time = secondsPerIteration * 10;
  run.counters = std::move(counters);
  return run;
}

TEST(BenchRatios, RatioOfMediansWithMinAndMaxOfTheRepetitionsInAnyOrder) {
  const fxbench::Ratio ratio{"ours / bare", fxbench::rate("BM_Ours/16"), fxbench::rate("BM_Bare/16"),
                             fxbench::atLeast(0.8)};
  // Ours takes 2, 1 and 4 s an iteration (rates 0.5, 1, 0.25; median 0.5), bare 1 s each time. The
  // last repetition alone would give 0.25.
  for (bool bareFirst : {false, true}) {
    fxbench::RatioTable table;
    if (bareFirst)
      for (int i = 0; i < 3; ++i) table.add(repetition("BM_Bare", "16", 1));
    for (double s : {2.0, 1.0, 4.0}) table.add(repetition("BM_Ours", "16", s));
    table.add(repetition("BM_Ours", "1", 100));  // another row of the same function
    if (!bareFirst)
      for (int i = 0; i < 3; ++i) table.add(repetition("BM_Bare", "16", 1));
    const fxbench::Outcome o = table.compute(ratio);
    ASSERT_TRUE(o.ran);
    ASSERT_FALSE(o.failed);
    EXPECT_DOUBLE_EQ(o.value, 0.5);
    EXPECT_DOUBLE_EQ(o.min, 0.25);
    EXPECT_DOUBLE_EQ(o.max, 1.0);
    EXPECT_EQ(o.repetitions, 3u);
    const std::string line = table.line(ratio);
    EXPECT_NE(line.find(" 0.50  min  0.25  max  1.00  n 3  aim >= 0.8 unsettled"), std::string::npos) << line;
    EXPECT_NE(line.find("ours / bare"), std::string::npos);
  }
}

TEST(BenchRatios, AggregatesAreLeftOutAndRowsThatDidNotRunOrFailedAreShown) {
  fxbench::RatioTable table;
  const fxbench::Ratio ratio{"a / b, time", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), fxbench::atMost(2)};
  table.add(repetition("BM_A", "", 3));
  BenchRun aggregate = repetition("BM_A", "", 1000);
  aggregate.run_type = BenchRun::RT_Aggregate;
  aggregate.aggregate_name = "median";
  table.add(aggregate);
  table.add(repetition("BM_B", "", 2));
  EXPECT_DOUBLE_EQ(table.compute(ratio).value, 1.5);
  EXPECT_NE(table.line(ratio).find("aim <= 2 met"), std::string::npos);
  BenchRun failed = repetition("BM_B", "", 1);
  failed.error_occurred = true;
  table.add(failed);
  EXPECT_TRUE(table.compute(ratio).failed);
  EXPECT_NE(table.line(ratio).find("failed"), std::string::npos);
  EXPECT_NE(table.line(ratio).find("\"BM_B\" failed"), std::string::npos) << table.line(ratio);
  // Every failed row has a line of its own, named by a ratio or not, with the library's message.
  BenchRun broken = repetition("BM_C", "8", 1);
  broken.run_name.threads = "threads:2";
  broken.threads = 2;
  broken.error_occurred = true;
  broken.error_message = "no package";
  table.add(broken);
  table.add(repetition("BM_C", "8", 1));
  EXPECT_EQ(table.failedRowLines(), (std::vector<std::string>{"row    failed   BM_B  (no message)",
                                                               "row    failed   BM_C/8/threads:2  (no package)"}));
}

TEST(BenchRatios, ARowThatDidNotRunIsMissingUnlessTheFilterLeftItOut) {
  fxbench::RatioTable table;
  const fxbench::Ratio misnamed{"ours / bare", fxbench::rate("BM_Ours/16"), fxbench::rate("BM_Bare/61"), {}};
  table.add(repetition("BM_Ours", "16", 1));
  table.add(repetition("BM_Bare", "16", 1));
  for (const char* filter : {"", "all", "BM_", "/16|/61", "-BM_Fetch"}) {
    table.setFilter(filter);
    const fxbench::Outcome o = table.compute(misnamed);
    EXPECT_TRUE(o.missing) << filter;
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(table.line(misnamed), "ratio  missing" + std::string(33, ' ') + "ours / bare  (no row \"BM_Bare/61\")");
  }
  for (const char* filter : {"BM_Ours", "/16$", "-Bare", "-/61"}) {
    table.setFilter(filter);
    EXPECT_FALSE(table.compute(misnamed).missing) << filter;
    EXPECT_EQ(table.line(misnamed), "") << filter;
  }
  table.setFilter("");
  const fxbench::Ratio neither{"x / y", fxbench::rate("BM_X"), fxbench::rate("BM_Y"), {}};
  EXPECT_NE(table.line(neither).find("(no row \"BM_X\" nor \"BM_Y\")"), std::string::npos) << table.line(neither);
  // A counter over 1 names one row only: that row is missing, whatever filter selected it.
  const fxbench::Ratio turns{"in turns", fxbench::counter("BM_Ours/61", "ours_rate_over_base"), fxbench::one(), {}};
  for (const char* filter : {"", "BM_Ours"}) {
    table.setFilter(filter);
    EXPECT_TRUE(table.compute(turns).missing) << filter;
    EXPECT_EQ(table.line(turns), "ratio  missing" + std::string(33, ' ') + "in turns  (no row \"BM_Ours/61\")")
        << filter;
  }
}

TEST(BenchRatios, RowsOfOneFunctionWithSeveralThreadCountsStayApart) {
  fxbench::RatioTable table;
  const auto withThreads = [](double seconds, int threads) {
    BenchRun run = repetition("BM_Lock", "", seconds);
    run.run_name.threads = "threads:" + std::to_string(threads);
    run.threads = threads;
    return run;
  };
  for (int i = 0; i < 3; ++i) {
    table.add(withThreads(1, 1));
    table.add(withThreads(4, 2));
  }
  const fxbench::Outcome two = table.compute({"two / one", fxbench::rate("BM_Lock/threads:2"), fxbench::rate("BM_Lock/threads:1"), {}});
  EXPECT_DOUBLE_EQ(two.value, 0.25);
  EXPECT_EQ(two.repetitions, 3u);
  const fxbench::Ratio unnamed{"lock / lock", fxbench::rate("BM_Lock"), fxbench::rate("BM_Lock/threads:1"), {}};
  EXPECT_TRUE(table.compute(unnamed).failed);
  EXPECT_NE(table.line(unnamed).find("several thread counts"), std::string::npos) << table.line(unnamed);
  // One count alone: the name without it is that row.
  BenchRun other = withThreads(2, 2);
  other.run_name.function_name = "BM_Other";
  table.add(other);
  EXPECT_DOUBLE_EQ(table.compute({"other / one", fxbench::rate("BM_Other"), fxbench::rate("BM_Lock/threads:1"), {}}).value, 0.5);
  EXPECT_TRUE(table.compute({"x", fxbench::rate("BM_Other/threads:3"), fxbench::rate("BM_Other"), {}}).missing);
}

TEST(BenchRatios, AnAboutAimWithAMarginGivesAVerdict) {
  fxbench::RatioTable table;
  table.add(repetition("BM_A", "", 1));
  table.add(repetition("BM_B", "", 1.04));  // A's rate is 1.04 times B's
  const auto aim = [&](fxbench::Aim a) { return table.line({"a / b", fxbench::rate("BM_A"), fxbench::rate("BM_B"), a}); };
  EXPECT_NE(aim(fxbench::about(1, 0.05)).find("aim ~1 within 5% met "), std::string::npos) << aim(fxbench::about(1, 0.05));
  EXPECT_NE(aim(fxbench::about(1, 0.03)).find("aim ~1 within 3% missed "), std::string::npos);
  EXPECT_NE(aim(fxbench::about(1)).find("aim ~1 "), std::string::npos);
  EXPECT_EQ(aim(fxbench::about(1)).find("met"), std::string::npos);
}

// A verdict stands only when every repetition agrees with it; repetitions on both sides of the
// aim leave it unsettled, whatever side the median falls on.
TEST(BenchRatios, AVerdictIsUnsettledWhileTheRepetitionsLieOnBothSidesOfTheAim) {
  const auto verdict = [](fxbench::Aim aim, double min, double max) {
    fxbench::Outcome o;
    o.ran = true;
    o.value = (min + max) / 2;
    o.min = min;
    o.max = max;
    o.repetitions = 3;
    return fxbench::RatioTable::verdict(aim, o);
  };
  EXPECT_EQ(verdict(fxbench::atLeast(0.7), 0.7, 0.9), "met");
  EXPECT_EQ(verdict(fxbench::atLeast(0.7), 0.5, 0.69), "missed");
  EXPECT_EQ(verdict(fxbench::atLeast(0.7), 0.59, 0.84), "unsettled");
  EXPECT_EQ(verdict(fxbench::atMost(1.3), 1.0, 1.3), "met");
  EXPECT_EQ(verdict(fxbench::atMost(1.3), 1.31, 2.0), "missed");
  EXPECT_EQ(verdict(fxbench::atMost(1.3), 1.2, 1.4), "unsettled");
  EXPECT_EQ(verdict(fxbench::about(1, 0.05), 0.97, 1.05), "met");
  EXPECT_EQ(verdict(fxbench::about(1, 0.05), 1.06, 1.2), "missed");
  EXPECT_EQ(verdict(fxbench::about(1, 0.05), 0.8, 0.9), "missed");
  EXPECT_EQ(verdict(fxbench::about(1, 0.05), 0.97, 1.07), "unsettled");
  EXPECT_EQ(verdict(fxbench::about(1, 0.05), 0.9, 1.1), "unsettled");  // the median would say met
  EXPECT_EQ(verdict(fxbench::about(1), 0.5, 2), "");
  EXPECT_EQ(verdict(fxbench::noAim(), 0.5, 2), "");
}

TEST(BenchRatios, ARatioOfTimesSaysTimeInItsName) {
  fxbench::RatioTable table;
  table.add(repetition("BM_A", "", 2));
  table.add(repetition("BM_B", "", 1));
  const fxbench::Outcome asRate = table.compute({"a / b", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), {}});
  EXPECT_TRUE(asRate.failed);
  EXPECT_EQ(asRate.why, "a ratio of times says \"time\" in its name");
  EXPECT_DOUBLE_EQ(table.compute({"a, time / b's", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), {}}).value, 2);
}

TEST(BenchRatios, TurnsOfOneRowAreTwoCountersAndATimeCounterReadsAsARate) {
  fxbench::RatioTable table;
  table.add(repetition("BM_Turns", "", 1, {{"ours_ms", 10}, {"base_ms", 5}}));
  table.add(repetition("BM_Turns", "", 1, {{"ours_ms", 20}, {"base_ms", 8}}));
  table.add(repetition("BM_Turns", "", 1, {{"ours_ms", 12}, {"base_ms", 6}}));
  const fxbench::Outcome rate = table.compute(
      {"ours / base", fxbench::counterRate("BM_Turns", "ours_ms"), fxbench::counterRate("BM_Turns", "base_ms"), {}});
  EXPECT_DOUBLE_EQ(rate.value, 6.0 / 12.0);
  EXPECT_DOUBLE_EQ(rate.min, 8.0 / 20.0);
  EXPECT_DOUBLE_EQ(rate.max, 6.0 / 12.0);
  const fxbench::Outcome times =
      table.compute({"ours / base", fxbench::counter("BM_Turns", "ours_ms"), fxbench::counter("BM_Turns", "base_ms"), {}});
  EXPECT_DOUBLE_EQ(times.value, 2.0);
  EXPECT_TRUE(table.compute({"x", fxbench::counter("BM_Turns", "none"), fxbench::rate("BM_Turns"), {}}).failed);
}

struct CountingDisplay : benchmark::BenchmarkReporter {
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override { shown += static_cast<int>(runs.size()); }
  int shown = 0;
};

TEST(BenchRatios, AggregatesOnlyHidesRepetitionsFromTheDisplayButNotFromTheRatios) {
  std::string a0 = "bench", a1 = "--benchmark_report_aggregates_only", a2 = "--benchmark_repetitions=3",
              a3 = "--benchmark_display_aggregates_only=false";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  int argc = 4;
  EXPECT_TRUE(fxbench::detail::takeBoolFlag(&argc, argv, "benchmark_report_aggregates_only",
                                            "BENCHMARK_REPORT_AGGREGATES_ONLY"));
  EXPECT_FALSE(fxbench::detail::takeBoolFlag(&argc, argv, "benchmark_display_aggregates_only",
                                             "BENCHMARK_DISPLAY_AGGREGATES_ONLY"));
  ASSERT_EQ(argc, 2);
  EXPECT_STREQ(argv[1], "--benchmark_repetitions=3");

  CountingDisplay display;
  fxbench::CollectingReporter reporter(&display, true);
  std::vector<BenchRun> runs{repetition("BM_A", "", 1), repetition("BM_A", "", 3), repetition("BM_A", "", 2)};
  reporter.ReportRuns(runs);
  BenchRun median = repetition("BM_A", "", 2);
  median.run_type = BenchRun::RT_Aggregate;
  reporter.ReportRuns({median});
  EXPECT_EQ(display.shown, 1);
  reporter.ReportRuns({repetition("BM_B", "", 1)});
  const fxbench::Outcome o = reporter.table.compute({"a / b, time", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), {}});
  EXPECT_DOUBLE_EQ(o.value, 2.0);
  EXPECT_EQ(o.repetitions, 1u);
}

TEST(BenchRatios, TurnsAlternateWhoGoesFirstAndReportMedians) {
  fxbench::Turns turns("ours", "base");
  std::string order;
  double t = 0;
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(turns.take([&] { order += 'o'; return t += 1; }, [&] { order += 'b'; return 0.5; }));
  EXPECT_EQ(order, "obboobbo");
  EXPECT_DOUBLE_EQ(turns.oursSeconds(), 2.5);  // ours took 1, 2, 3, 4 s
  EXPECT_DOUBLE_EQ(turns.baseSeconds(), 0.5);
  EXPECT_DOUBLE_EQ(turns.rateOverBase(), (0.5 / 2 + 0.5 / 3) / 2);
  EXPECT_FALSE(turns.take([] { return -1.0; }, [] { return 1.0; }));
  EXPECT_EQ(turns.turns(), 4u);
}

// The load of a shared machine comes and goes between turns: the base met it in one turn of four
// and the machine was slower for the last two. The roads' medians then say 2 s against 3.3 s; the
// turns' own ratios say 1.1 three times out of four.
TEST(BenchRatios, TurnsReportTheMedianOfTheirOwnRatios) {
  fxbench::Turns turns("ours", "base");
  const double ours[] = {1, 1, 3, 3}, base[] = {1.1, 3.3, 3.3, 3.3};
  for (int i = 0; i < 4; ++i) turns.take([&] { return ours[i]; }, [&] { return base[i]; });
  EXPECT_DOUBLE_EQ(turns.baseSeconds() / turns.oursSeconds(), 1.65);
  EXPECT_DOUBLE_EQ(turns.rateOverBase(), 1.1);
  fxbench::RatioTable table;
  table.add(repetition("BM_Turns", "", 1, {{"ours_rate_over_base", 1.1}}));
  table.add(repetition("BM_Turns", "", 1, {{"ours_rate_over_base", 0.9}}));
  table.add(repetition("BM_Turns", "", 1, {{"ours_rate_over_base", 1.0}}));
  const fxbench::Outcome o = table.compute({"paired", fxbench::counter("BM_Turns", "ours_rate_over_base"), fxbench::one(), {}});
  EXPECT_DOUBLE_EQ(o.value, 1.0);
  EXPECT_DOUBLE_EQ(o.min, 0.9);
  EXPECT_DOUBLE_EQ(o.max, 1.1);
  EXPECT_EQ(o.repetitions, 3u);
  EXPECT_TRUE(table.compute({"upside down", fxbench::one(), fxbench::rate("BM_Turns"), {}}).failed);
}

// The library reads its environment variables when it is loaded, so a program of rows and ratios
// runs in a child process (this test again) with the variable set; it prints its ratio lines.
TEST(BenchRatios, TheAggregatesOnlyEnvironmentKeepsTheRatiosAndAMissingRowFailsTheProgram) {
  if (std::getenv("FX_RATIOS_PROGRAM")) {
    const auto spin = [](benchmark::State& state) {
      for (auto _ : state) benchmark::DoNotOptimize(state.iterations() * 3);
    };
    benchmark::RegisterBenchmark("BM_Spin", spin)->Threads(1)->Threads(2);
    benchmark::RegisterBenchmark("BM_Other", spin);
    fxbench::addRatio("two threads / one", fxbench::rate("BM_Spin/threads:2"), fxbench::rate("BM_Spin/threads:1"));
    fxbench::addRatio("other / one thread", fxbench::rate("BM_Other"), fxbench::rate("BM_Spin/threads:1"));
    fxbench::addRatio("other / a row never registered", fxbench::rate("BM_Other"), fxbench::rate("BM_Gone"));
    std::freopen("/dev/null", "w", stderr);  // the library's context lines
    std::string a0 = "ratios", a1 = "--benchmark_repetitions=3", a2 = "--benchmark_min_time=0.001";
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    std::exit(fxbench::runBenchmarks(3, argv));
  }
  for (const char* variable : {"BENCHMARK_REPORT_AGGREGATES_ONLY=true", "BENCHMARK_DISPLAY_AGGREGATES_ONLY=1"}) {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    fxtest::ChildProcess program({"/proc/self/exe", "--gtest_filter=BenchRatios." + test},
                                 {variable, "FX_RATIOS_PROGRAM=1"});
    std::vector<std::string> ratios;
    bool repetitionShown = false;
    while (auto line = program.readLine(60000)) {
      if (line->rfind("ratio ", 0) == 0) ratios.push_back(*line);
      // Aggregates only still hides the repetitions from the display.
      repetitionShown |= line->rfind("BM_Other/repeats:3 ", 0) == 0;
    }
    EXPECT_EQ(program.wait(), 1) << variable;
    ASSERT_EQ(ratios.size(), 3u) << variable;
    EXPECT_NE(ratios[0].find("n 3"), std::string::npos) << ratios[0];
    EXPECT_NE(ratios[0].find("two threads / one"), std::string::npos) << ratios[0];
    EXPECT_NE(ratios[1].find("n 3"), std::string::npos) << ratios[1];
    EXPECT_NE(ratios[2].find("missing"), std::string::npos) << ratios[2];
    EXPECT_FALSE(repetitionShown) << variable;
  }
}

// A row that fails makes the program fail, though no ratio names it.
TEST(BenchRatios, ARowThatFailsFailsTheProgramThoughNoRatioNamesIt) {
  if (std::getenv("FX_RATIOS_PROGRAM")) {
    benchmark::RegisterBenchmark("BM_Fine", [](benchmark::State& state) {
      for (auto _ : state) benchmark::DoNotOptimize(state.iterations() * 3);
    });
    benchmark::RegisterBenchmark("BM_Broken", [](benchmark::State& state) {
      state.SkipWithError("no peer");
      for (auto _ : state) {
      }
    });
    fxbench::addRatio("fine / fine", fxbench::rate("BM_Fine"), fxbench::rate("BM_Fine"));
    std::freopen("/dev/null", "w", stderr);
    std::string a0 = "ratios", a1 = "--benchmark_repetitions=2", a2 = "--benchmark_min_time=0.001";
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    std::exit(fxbench::runBenchmarks(3, argv));
  }
  const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
  fxtest::ChildProcess program({"/proc/self/exe", "--gtest_filter=BenchRatios." + test}, {"FX_RATIOS_PROGRAM=1"});
  std::vector<std::string> lines;
  while (auto line = program.readLine(60000))
    if (line->rfind("ratio ", 0) == 0 || line->rfind("row ", 0) == 0) lines.push_back(*line);
  EXPECT_EQ(program.wait(), 1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("fine / fine"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "row    failed   BM_Broken  (no peer)");
}

}  // namespace
