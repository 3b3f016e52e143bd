// The benchmarks' ratio helper: ratios of medians whatever order the rows ran in, min and max of
// the repetitions' own ratios, figures from counters, aggregates-only display, and turns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Ratios.h"

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
    EXPECT_NE(line.find(" 0.50  min  0.25  max  1.00  n 3  aim >= 0.8 missed"), std::string::npos) << line;
    EXPECT_NE(line.find("ours / bare"), std::string::npos);
  }
}

TEST(BenchRatios, AggregatesAreLeftOutAndRowsThatDidNotRunOrFailedAreShown) {
  fxbench::RatioTable table;
  const fxbench::Ratio ratio{"a / b", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), fxbench::atMost(2)};
  table.add(repetition("BM_A", "", 3));
  BenchRun aggregate = repetition("BM_A", "", 1000);
  aggregate.run_type = BenchRun::RT_Aggregate;
  aggregate.aggregate_name = "median";
  table.add(aggregate);
  EXPECT_FALSE(table.compute(ratio).ran);  // BM_B was filtered out: no line
  EXPECT_EQ(table.line(ratio), "");
  table.add(repetition("BM_B", "", 2));
  EXPECT_DOUBLE_EQ(table.compute(ratio).value, 1.5);
  EXPECT_NE(table.line(ratio).find("aim <= 2 met"), std::string::npos);
  BenchRun failed = repetition("BM_B", "", 1);
  failed.error_occurred = true;
  table.add(failed);
  EXPECT_TRUE(table.compute(ratio).failed);
  EXPECT_NE(table.line(ratio).find("failed"), std::string::npos);
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
  const fxbench::Outcome o = reporter.table.compute({"a / b", fxbench::seconds("BM_A"), fxbench::seconds("BM_B"), {}});
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
  EXPECT_FALSE(turns.take([] { return -1.0; }, [] { return 1.0; }));
  EXPECT_EQ(turns.turns(), 4u);
}

}  // namespace
