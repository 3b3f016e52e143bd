#pragma once
// The figures of the benchmarks: ratios between rows, computed from the medians of their
// repetitions, and two roads timed in turns inside one row. Every program in bench/ ends with
// FX_BENCH_MAIN() in place of BENCHMARK_MAIN() and declares its ratios beside its rows:
//
//   FX_BENCH_RATIO("URL facade / bare libcurl, 1 in flight", fxbench::rate("BM_UrlConnection/1"),
//                  fxbench::rate("BM_BareCurlMulti/1"), fxbench::atLeast(0.8));
//
// After the rows have run, each ratio prints one line (to standard error when the display format
// is JSON or CSV):
//
//   ratio  0.55  min 0.50  max 0.61  n 3  aim >= 0.8 missed   URL facade / bare libcurl, 1 in flight
//
// - The verdict is "met" when every repetition's own ratio meets the aim, "missed" when none does,
//   and "unsettled" when min and max lie on both sides of it: the run cannot tell.
// - The value is the median of the numerator's figure over its repetitions
//   (--benchmark_repetitions=N) divided by the median of the denominator's. Min and max are the
//   smallest and largest of the repetitions' own ratios: the k-th repetition of one row against the
//   k-th of the other, in the order they ran. The rows may run in any order
//   (--benchmark_enable_random_interleaving=true runs their repetitions in turns).
// - A row is its function name and arguments as the table shows them ("BM_Fetch/16",
//   "get/store/tmpfs/rows:10000/bytes:16"), without the suffixes the library adds (iterations:,
//   repeats:, real_time), but for "threads:N" when one function runs with several thread counts
//   ("BM_Lock/threads:2"): those rows stay apart, and a name without the count stands for the only
//   count its function ran with.
// - A figure is the row's rate (iterations per second of real time, or of the manual time a row
//   sets), its seconds per iteration, one of its counters, or the rate a time counter stands for
//   (1 / the counter). Two roads timed in turns inside one row (Turns, below) are two counters of
//   that row, and the ratio names the same row twice. A ratio reads as one of rates (above 1: ours
//   is faster) unless its name says what else it divides: "time" for times (one of two rows'
//   seconds that does not say so is shown failed), or another quantity (memory).
// - A ratio whose rows the filter (--benchmark_filter, judged on the row's name) left out prints
//   nothing; one whose row did not run though the filter selected it prints "missing" (a row named
//   wrongly, or not registered); one whose row failed prints "failed". Either makes the program's
//   exit status 1.
// - Each row that failed (SkipWithError, or no iterations) prints a line of its own after the
//   ratios, named by a ratio or not, and makes the program's exit status 1:
//
//   row    failed   BM_Unpack  (no package)
// - The aggregates-only flags (--benchmark_report_aggregates_only,
//   --benchmark_display_aggregates_only, or their environment variables) hide the repetitions from
//   the display only: the ratios still see them (and a --benchmark_out file gets every run). Rows
//   must not ask for aggregates only, nor fix their repetitions, in code.
//
// A program with a main() of its own registers its rows and ratios (fxbench::addRatio) and then
// returns fxbench::runBenchmarks(argc, argv).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace fxbench {

// The median of `values` (0 when there are none).
inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What is read off a row's repetition.
struct Figure {
  enum class Kind { Rate, Seconds, Counter, CounterRate, One };
  std::string row;
  Kind kind = Kind::Rate;
  std::string counter;
};

// Iterations per second of the row's real (or manual) time.
inline Figure rate(std::string row) { return {std::move(row), Figure::Kind::Rate, {}}; }
// Seconds per iteration of the row's real (or manual) time.
inline Figure seconds(std::string row) { return {std::move(row), Figure::Kind::Seconds, {}}; }
// A counter of the row, as reported.
inline Figure counter(std::string row, std::string name) {
  return {std::move(row), Figure::Kind::Counter, std::move(name)};
}
// 1 / a counter of the row: the rate that a time counter ("install_ms") stands for.
inline Figure counterRate(std::string row, std::string name) {
  return {std::move(row), Figure::Kind::CounterRate, std::move(name)};
}
// 1 in every repetition of the numerator's row: the denominator of a counter that is a ratio
// already (Turns' "<ours>_rate_over_<base>").
inline Figure one() { return {{}, Figure::Kind::One, {}}; }

// The value a ratio should reach, shown beside it.
struct Aim {
  enum class Kind { None, AtLeast, AtMost, About };
  Kind kind = Kind::None;
  double value = 0;
  double within = 0;  // About: the share of `value` the ratio may stray by (0: no verdict)
};
inline Aim atLeast(double value) { return {Aim::Kind::AtLeast, value}; }
inline Aim atMost(double value) { return {Aim::Kind::AtMost, value}; }
// The two rows should cost the same: "aim ~1", without a verdict; with `within` (0.05: 5%), met
// when the ratio is that close ("aim ~1 within 5% met").
inline Aim about(double value, double within = 0) { return {Aim::Kind::About, value, within}; }
inline Aim noAim() { return {}; }

struct Ratio {
  std::string name;
  Figure numerator;
  Figure denominator;
  Aim aim;
};

// A ratio's outcome over the repetitions that ran.
struct Outcome {
  bool ran = false;      // both rows ran
  bool failed = false;   // a row reported an error, or a figure was missing or not positive
  bool missing = false;  // a row the filter selected did not run
  std::string why;       // what failed or is missing
  double value = 0;
  double min = 0;
  double max = 0;
  std::size_t repetitions = 0;
};

// The figures of every row of a run, and the ratios computed from them.
class RatioTable {
 public:
  using Run = benchmark::BenchmarkReporter::Run;

  // The row a run belongs to: its function name and arguments.
  static std::string rowOf(const Run& run) {
    return run.run_name.args.empty() ? run.run_name.function_name
                                     : run.run_name.function_name + "/" + run.run_name.args;
  }

  // The rows the filter selects (the library's --benchmark_filter: a regular expression searched
  // in the name, "-" before it selecting what it does not match; empty or "all" selects all).
  void setFilter(std::string filter) { filter_ = std::move(filter); }

  // Keeps a repetition's figures (aggregates are left out: ratios come from the repetitions).
  void add(const Run& run) {
    if (run.run_type != Run::RT_Iteration) return;
    Row& row = rows_[rowOf(run) + kThreads + std::to_string(run.threads)];
    if (run.error_occurred || run.iterations <= 0) {
      if (!row.failed) {
        row.shown = run.run_name.threads.empty() ? rowOf(run) : rowOf(run) + "/" + run.run_name.threads;
        row.error = !run.error_occurred ? "it ran no iterations" : run.error_message.empty() ? "no message" : run.error_message;
      }
      row.failed = true;
      return;
    }
    Repetition r;
    r.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
    for (const auto& [name, value] : run.counters) r.counters[name] = value.value;
    row.repetitions.push_back(std::move(r));
  }

  Outcome compute(const Ratio& ratio) const {
    Outcome out;
    std::string why;
    const bool overOne = ratio.denominator.kind == Figure::Kind::One;
    if (ratio.numerator.kind == Figure::Kind::One) why = "1 is a denominator only";
    const Row* top = find(ratio.numerator.row, &why);
    const Row* bottom = overOne ? top : find(ratio.denominator.row, &why);
    if (!why.empty()) {
      out.failed = true;
      out.why = why;
      return out;
    }
    if (!top || !bottom) {
      std::vector<std::string> absent;  // (1 names no row)
      if (!top) absent.push_back(ratio.numerator.row);
      if (!bottom && !overOne) absent.push_back(ratio.denominator.row);
      for (const std::string& row : absent)
        if (!selected(row)) return out;  // the filter left it out
      out.missing = true;
      out.why = "no row \"" + absent[0] + "\"";
      if (absent.size() == 2 && absent[1] != absent[0]) out.why += " nor \"" + absent[1] + "\"";
      return out;
    }
    out.ran = true;
    if (ratio.numerator.kind == Figure::Kind::Seconds && ratio.denominator.kind == Figure::Kind::Seconds &&
        ratio.name.find("time") == std::string::npos) {
      out.failed = true;
      out.why = "a ratio of times says \"time\" in its name";
      return out;
    }
    // Why a row's figures cannot be read, or "" when `values` holds them.
    const auto read = [](const Row& row, const Figure& figure, std::vector<double>* values) -> std::string {
      if (row.failed) return "\"" + figure.row + "\" failed";
      if (!figures(row, figure, values))
        return figure.counter.empty() ? "\"" + figure.row + "\" took no time"
                                      : "\"" + figure.row + "\" has no positive \"" + figure.counter + "\"";
      if (values->empty()) return "\"" + figure.row + "\" has no repetitions";
      return {};
    };
    std::vector<double> a, b;
    out.why = read(*top, ratio.numerator, &a);
    if (out.why.empty() && overOne) b.assign(a.size(), 1.0);
    if (out.why.empty() && !overOne) out.why = read(*bottom, ratio.denominator, &b);
    if (!out.why.empty()) {
      out.failed = true;
      return out;
    }
    out.value = median(a) / median(b);
    out.repetitions = std::min(a.size(), b.size());
    out.min = out.max = a[0] / b[0];
    for (std::size_t k = 1; k < out.repetitions; ++k) {
      out.min = std::min(out.min, a[k] / b[k]);
      out.max = std::max(out.max, a[k] / b[k]);
    }
    return out;
  }

  // The lines of the rows that failed, in the order of their names.
  std::vector<std::string> failedRowLines() const {
    std::vector<std::string> lines;
    for (const auto& [key, row] : rows_)
      if (row.failed) lines.push_back("row    failed   " + row.shown + "  (" + row.error + ")");
    return lines;
  }

  // The verdict on an aim: "met" when every repetition's ratio (from min to max) meets it,
  // "missed" when none does, "unsettled" when they fall on both sides; "" without a verdict.
  static std::string verdict(const Aim& aim, const Outcome& o) {
    bool allMet = false, noneMet = false;
    switch (aim.kind) {
      case Aim::Kind::AtLeast:
        allMet = o.min >= aim.value;
        noneMet = o.max < aim.value;
        break;
      case Aim::Kind::AtMost:
        allMet = o.max <= aim.value;
        noneMet = o.min > aim.value;
        break;
      case Aim::Kind::About: {
        if (!(aim.within > 0)) return {};
        const double low = aim.value - aim.within * aim.value, high = aim.value + aim.within * aim.value;
        allMet = o.min >= low && o.max <= high;
        noneMet = o.max < low || o.min > high;
        break;
      }
      case Aim::Kind::None:
        return {};
    }
    return allMet ? "met" : noneMet ? "missed" : "unsettled";
  }

  // The line printed for a ratio, or "" when the filter left its rows out.
  std::string line(const Ratio& ratio) const { return line(ratio, compute(ratio)); }
  static std::string line(const Ratio& ratio, const Outcome& o) {
    char text[1024];
    if (o.failed || o.missing) {
      std::snprintf(text, sizeof text, "ratio  %-7s%33s%s  (%s)", o.failed ? "failed" : "missing", "",
                    ratio.name.c_str(), o.why.c_str());
      return text;
    }
    if (!o.ran) return {};
    std::string aim;
    char buffer[64];
    if (ratio.aim.kind == Aim::Kind::About && ratio.aim.within > 0) {
      std::snprintf(buffer, sizeof buffer, "aim ~%g within %g%% %s", ratio.aim.value, ratio.aim.within * 100,
                    verdict(ratio.aim, o).c_str());
      aim = buffer;
    } else if (ratio.aim.kind == Aim::Kind::About) {
      std::snprintf(buffer, sizeof buffer, "aim ~%g", ratio.aim.value);
      aim = buffer;
    } else if (ratio.aim.kind != Aim::Kind::None) {
      const bool atLeast = ratio.aim.kind == Aim::Kind::AtLeast;
      std::snprintf(buffer, sizeof buffer, "aim %s %g %s", atLeast ? ">=" : "<=", ratio.aim.value,
                    verdict(ratio.aim, o).c_str());
      aim = buffer;
    }
    std::snprintf(text, sizeof text, "ratio  %5.2f  min %5.2f  max %5.2f  n %zu  %-20s  %s", o.value, o.min, o.max,
                  o.repetitions, aim.c_str(), ratio.name.c_str());
    return text;
  }

 private:
  static constexpr const char* kThreads = "/threads:";

  struct Repetition {
    double seconds = 0;
    std::map<std::string, double> counters;
  };
  struct Row {
    bool failed = false;
    std::string shown;  // the failed row's name, with its thread count when the library showed one
    std::string error;  // why it failed
    std::vector<Repetition> repetitions;
  };

  // The row of a name: with its thread count, that row; without, the only count its function ran
  // with (several set `why`).
  const Row* find(const std::string& name, std::string* why) const {
    const std::size_t at = name.rfind(kThreads);
    const bool counted = at != std::string::npos && at + std::strlen(kThreads) < name.size() &&
                         name.find_first_not_of("0123456789", at + std::strlen(kThreads)) == std::string::npos;
    if (counted) {
      auto it = rows_.find(name);
      return it == rows_.end() ? nullptr : &it->second;
    }
    const std::string prefix = name + kThreads;
    const Row* found = nullptr;
    for (auto it = rows_.lower_bound(prefix); it != rows_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
      if (it->first.find('/', prefix.size()) != std::string::npos) continue;
      if (found) {
        *why = "\"" + name + "\" ran with several thread counts: name one, \"" + prefix + "N\"";
        return nullptr;
      }
      found = &it->second;
    }
    return found;
  }

  bool selected(const std::string& row) const {
    std::string pattern = filter_;
    if (pattern.empty() || pattern == "all") return true;
    const bool negative = pattern[0] == '-';
    if (negative) pattern.erase(0, 1);
    try {
      return std::regex_search(row, std::regex(pattern, std::regex::extended | std::regex::nosubs)) != negative;
    } catch (const std::regex_error&) {
      return false;  // the library refuses it too, and runs nothing
    }
  }

  // The figure of each repetition of `row`; false when one is missing or not positive.
  static bool figures(const Row& row, const Figure& figure, std::vector<double>* out) {
    for (const Repetition& r : row.repetitions) {
      double value = r.seconds;
      if (figure.kind == Figure::Kind::Counter || figure.kind == Figure::Kind::CounterRate) {
        auto it = r.counters.find(figure.counter);
        if (it == r.counters.end()) return false;
        value = it->second;
      }
      if (!(value > 0)) return false;
      if (figure.kind == Figure::Kind::Rate || figure.kind == Figure::Kind::CounterRate) value = 1 / value;
      out->push_back(value);
    }
    return true;
  }

  std::string filter_;
  std::map<std::string, Row> rows_;
};

// The ratios the program declared.
inline std::vector<Ratio>& declaredRatios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

inline bool addRatio(std::string name, Figure numerator, Figure denominator, Aim aim = {}) {
  declaredRatios().push_back({std::move(name), std::move(numerator), std::move(denominator), aim});
  return true;
}

// Hands every run to the table and the display reporter the library's flags chose; with an
// aggregates-only flag the display gets only the aggregates of repeated rows.
class CollectingReporter : public benchmark::BenchmarkReporter {
 public:
  CollectingReporter(benchmark::BenchmarkReporter* display, bool aggregatesOnly)
      : display_(display), aggregatesOnly_(aggregatesOnly) {}

  bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      table.add(run);
      if (!aggregatesOnly_ || run.run_type != Run::RT_Iteration || run.repetitions <= 1) shown.push_back(run);
    }
    if (!shown.empty()) display_->ReportRuns(shown);
  }
  void Finalize() override { display_->Finalize(); }

  RatioTable table;

 private:
  benchmark::BenchmarkReporter* display_;
  bool aggregatesOnly_;
};

namespace detail {

// Whether a flag's value (after "=", or the whole environment value) means true, as the library reads it.
inline bool truthy(const char* value) {
  if (!value || !*value) return true;
  for (const char* no : {"0", "false", "False", "FALSE", "no", "No", "NO", "n", "N", "f", "F", "off", "Off", "OFF"})
    if (std::strcmp(value, no) == 0) return false;
  return true;
}

// What `arg` gives `--<flag>` (named `name`): its value, "" for the bare flag, null when `arg`
// is another argument.
inline const char* flagIn(const char* arg, const std::string& name) {
  if (std::strncmp(arg, name.c_str(), name.size()) != 0) return nullptr;
  if (arg[name.size()] == '\0') return arg + name.size();
  return arg[name.size()] == '=' ? arg + name.size() + 1 : nullptr;
}

// The value of `--<flag>=value` (the last one; "" for a bare `--<flag>`), else of its environment
// variable, else nothing.
inline std::optional<std::string> flagValue(int argc, char** argv, const char* flag, const char* environment) {
  std::optional<std::string> value;
  if (const char* text = std::getenv(environment)) value = text;
  const std::string name = std::string("--") + flag;
  for (int i = 1; i < argc; ++i)
    if (const char* given = flagIn(argv[i], name)) value = given;
  return value;
}

// Removes `--<flag>` and `--<flag>=value` from the arguments (and its environment variable);
// answers whether the last one said true.
inline bool takeBoolFlag(int* argc, char** argv, const char* flag, const char* environment) {
  const std::optional<std::string> value = flagValue(*argc, argv, flag, environment);
  ::unsetenv(environment);
  const std::string name = std::string("--") + flag;
  int kept = 1;
  for (int i = 1; i < *argc; ++i)
    if (!flagIn(argv[i], name)) argv[kept++] = argv[i];
  *argc = kept;
  argv[kept] = nullptr;
  return value && truthy(value->c_str());
}

// Whether the display format is the console's (the ratio lines then follow the table on stdout).
inline bool consoleFormat(int argc, char** argv) {
  return flagValue(argc, argv, "benchmark_format", "BENCHMARK_FORMAT").value_or("console") == "console";
}

}  // namespace detail

// Runs the benchmarks the flags select and prints the declared ratios and the rows that failed;
// the program's exit status (1 when a row failed or a ratio failed or is missing).
inline int runBenchmarks(int argc, char** argv) {
  bool aggregatesOnly = detail::takeBoolFlag(&argc, argv, "benchmark_report_aggregates_only",
                                             "BENCHMARK_REPORT_AGGREGATES_ONLY");
  aggregatesOnly |= detail::takeBoolFlag(&argc, argv, "benchmark_display_aggregates_only",
                                         "BENCHMARK_DISPLAY_AGGREGATES_ONLY");
  const bool console = detail::consoleFormat(argc, argv);
  const std::optional<std::string> listing =
      detail::flagValue(argc, argv, "benchmark_list_tests", "BENCHMARK_LIST_TESTS");
  // The library read the aggregates-only variables when it was loaded: the flags say false
  // explicitly, so that the repetitions reach the ratios.
  static std::string reportAll = "--benchmark_report_aggregates_only=false",
                     displayAll = "--benchmark_display_aggregates_only=false";
  std::vector<char*> args(argv, argv + argc);
  args.push_back(reportAll.data());
  args.push_back(displayAll.data());
  args.push_back(nullptr);
  int count = argc + 2;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  CollectingReporter reporter(benchmark::CreateDefaultDisplayReporter(), aggregatesOnly);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fflush(stdout);
  if (listing && detail::truthy(listing->c_str())) return 0;  // nothing ran
  reporter.table.setFilter(benchmark::GetBenchmarkFilter());
  std::setlocale(LC_NUMERIC, "C");  // "0.55" whatever locale a row chose
  FILE* out = console ? stdout : stderr;
  bool first = true;
  int status = 0;
  for (const Ratio& ratio : declaredRatios()) {
    const Outcome outcome = reporter.table.compute(ratio);
    const std::string line = RatioTable::line(ratio, outcome);
    if (line.empty()) continue;
    if (first) std::fputc('\n', out);
    first = false;
    std::fprintf(out, "%s\n", line.c_str());
    if (outcome.failed || outcome.missing) status = 1;
  }
  for (const std::string& line : reporter.table.failedRowLines()) {
    if (first) std::fputc('\n', out);
    first = false;
    std::fprintf(out, "%s\n", line.c_str());
    status = 1;
  }
  std::fflush(out);
  benchmark::Shutdown();
  return status;
}

// Two roads timed in turns inside one row, for what drifts while a program runs (a shared
// machine's load, a file system's churn): each take() runs both once, the one that goes first
// alternating, so both meet the same conditions. Each road times its own part (set-up it should
// not pay for left out) and answers its seconds, or a negative number when it failed.
class Turns {
 public:
  // The counters report() sets are "<ours>_ms" and "<base>_ms", the medians of each road's
  // turns, and "<ours>_rate_over_<base>", the median of the turns' own ratios of our rate to the
  // base's: the steadier figure when the machine's speed changes from one turn to the next
  // (declare it over fxbench::one()).
  Turns(std::string ours, std::string base) : oursName_(std::move(ours)), baseName_(std::move(base)) {}

  template <class Ours, class Base>
  bool take(Ours&& ours, Base&& base) {
    double a = 0, b = 0;
    if (ours_.size() % 2 == 0) {
      a = ours();
      b = base();
    } else {
      b = base();
      a = ours();
    }
    if (a < 0 || b < 0) return false;
    ours_.push_back(a);
    base_.push_back(b);
    return true;
  }

  // The whole row: a turn each iteration, the iteration's manual time our road's, then the
  // counters (report()). False, the row skipped with `failure` (read when a road fails), when one
  // did.
  template <class Ours, class Base>
  bool run(benchmark::State& state, Ours&& ours, Base&& base, const std::string& failure = "a road failed") {
    for (auto _ : state) {
      if (!take(ours, base)) {
        state.SkipWithError(failure.c_str());
        return false;
      }
      state.SetIterationTime(lastOursSeconds());
    }
    report(state);
    return true;
  }

  // Our road's time in the last turn (a row's manual iteration time).
  double lastOursSeconds() const { return ours_.empty() ? 0 : ours_.back(); }
  double oursSeconds() const { return median(ours_); }
  double baseSeconds() const { return median(base_); }
  // The median over the turns of the base's time over ours (0 when a turn took no time).
  double rateOverBase() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours_.size(); ++i) {
      if (!(ours_[i] > 0)) return 0;
      ratios.push_back(base_[i] / ours_[i]);
    }
    return median(ratios);
  }
  std::size_t turns() const { return ours_.size(); }

  // Sets the row's counters: the medians of the turns, in milliseconds, and of their ratios.
  void report(benchmark::State& state) const {
    state.counters[oursName_ + "_ms"] = oursSeconds() * 1e3;
    state.counters[baseName_ + "_ms"] = baseSeconds() * 1e3;
    state.counters[oursName_ + "_rate_over_" + baseName_] = rateOverBase();
  }

 private:
  std::string oursName_, baseName_;
  std::vector<double> ours_, base_;
};

// Seconds spent in `work`.
template <class Work>
double secondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace fxbench

#define FX_BENCH_CONCAT_(a, b) a##b
#define FX_BENCH_CONCAT(a, b) FX_BENCH_CONCAT_(a, b)
// Declares a ratio (name, numerator figure, denominator figure[, aim]) printed after the run.
#define FX_BENCH_RATIO(...) \
  [[maybe_unused]] static const bool FX_BENCH_CONCAT(fxBenchRatio_, __COUNTER__) = ::fxbench::addRatio(__VA_ARGS__)
// Runs an expression that declares several ratios (fxbench::addRatio) when the program starts.
#define FX_BENCH_RATIOS(declare) \
  [[maybe_unused]] static const bool FX_BENCH_CONCAT(fxBenchRatios_, __COUNTER__) = (declare)
// The program's main(): runs the selected rows, then prints the declared ratios.
#define FX_BENCH_MAIN()                                                                \
  int main(int argc, char** argv) { return ::fxbench::runBenchmarks(argc, argv); } \
  int main(int, char**)
