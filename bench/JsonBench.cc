// The platform JSON reader and writer against nlohmann's own parse() and dump() (the baseline) in
// the same run, on a rate list of about 256 KiB; and format() against snprintf.
#include <cstdio>
#include <random>

#include "Ratios.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"

namespace {

const std::string& rates() {
  static const std::string text = [] {
    std::mt19937 random(7);
    pf::Value list = pf::Value::array();
    std::string json;
    while (json.size() < (256u << 10)) {
      for (int i = 0; i < 64; ++i)
        list.push_back({{"ccy", "USDCNY"},
                        {"bid", 6 + static_cast<double>(random() % 100000) / 1e5},
                        {"ask", 6 + static_cast<double>(random() % 100000) / 1e5},
                        {"time", static_cast<std::int64_t>(random())},
                        {"name", "美元/人民币"}});
      json = list.dump();
    }
    return pf::Value{{"RETCODE", "AAAAAAA"}, {"list", list}}.dump();
  }();
  return text;
}

void BM_JsonRead_Platform(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(pf::parseJson(rates()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rates().size()));
}

void BM_JsonRead_NlohmannBaseline(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(pf::Value::parse(rates()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rates().size()));
}

void BM_JsonWrite_Platform(benchmark::State& state) {
  pf::Value v = pf::Value::parse(rates());
  for (auto _ : state) benchmark::DoNotOptimize(pf::writeJson(v));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rates().size()));
}

void BM_JsonWrite_NlohmannBaseline(benchmark::State& state) {
  pf::Value v = pf::Value::parse(rates());
  for (auto _ : state) benchmark::DoNotOptimize(v.dump());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rates().size()));
}

void BM_Format_Platform(benchmark::State& state) {
  std::string name = "USDCNY";
  for (auto _ : state) benchmark::DoNotOptimize(pf::format("%@/%@?id=%ld&p=%.4f", "https://h", name, 42L, 6.12345));
}

void BM_Format_SnprintfBaseline(benchmark::State& state) {
  std::string name = "USDCNY";
  for (auto _ : state) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, "%s/%s?id=%ld&p=%.4f", "https://h", name.c_str(), 42L, 6.12345);
    benchmark::DoNotOptimize(std::string(buf, static_cast<std::size_t>(n)));
  }
}

}  // namespace

BENCHMARK(BM_JsonRead_Platform);
BENCHMARK(BM_JsonRead_NlohmannBaseline);
BENCHMARK(BM_JsonWrite_Platform);
BENCHMARK(BM_JsonWrite_NlohmannBaseline);
BENCHMARK(BM_Format_Platform);
BENCHMARK(BM_Format_SnprintfBaseline);
FX_BENCH_RATIO("JSON read: pf::parseJson / nlohmann parse", fxbench::rate("BM_JsonRead_Platform"),
               fxbench::rate("BM_JsonRead_NlohmannBaseline"));
FX_BENCH_RATIO("JSON write: pf::writeJson / nlohmann dump", fxbench::rate("BM_JsonWrite_Platform"),
               fxbench::rate("BM_JsonWrite_NlohmannBaseline"));
FX_BENCH_RATIO("format: pf::format / snprintf", fxbench::rate("BM_Format_Platform"),
               fxbench::rate("BM_Format_SnprintfBaseline"));
FX_BENCH_MAIN();
