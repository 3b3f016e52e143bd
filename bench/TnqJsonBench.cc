// The app's JSON helpers on the texts they carry most: changeToString of a push delivery and of
// an eight-row bridge answer against nlohmann's dump(2), and JSONOBJ of the same texts against
// Value::parse, in the same run. The figure is the ratio of each pair's throughput.
#include "Ratios.h"
#include "app/TnqDataExtension.h"
#include "app/TnqStringExtension.h"
#include "platform/foundation/Value.h"

namespace {

pf::Value pushDelivery() {
  return {{"msgType", "quote"},
          {"content", {{"ccyPair", "USDCNY"}, {"bid", "6.8123"}, {"ask", "6.8145"}, {"time", "20261207 11:15:02"},
                       {"text", "美元兑人民币报价更新"}}},
          {"msgId", 1733570102123LL},
          {"badge", 3}};
}

pf::Value bridgeAnswer() {
  pf::Value rows = pf::Value::array();
  for (int i = 0; i < 8; ++i)
    rows.push_back({{"ccy", "EURUSD"}, {"name", "欧元/美元"}, {"bid", 1.0812 + i * 1e-4}, {"ask", 1.0815 + i * 1e-4},
                    {"high", 1.09}, {"low", 1.07}, {"change", "-0.12%"}, {"seq", i}});
  return {{"code", "0"}, {"msg", "成功"}, {"data", {{"list", rows}, {"count", 8}}}};
}

const pf::Value& sample(int which) {
  static const pf::Value push = pushDelivery(), answer = bridgeAnswer();
  return which == 0 ? push : answer;
}

void BM_ChangeToString(benchmark::State& state) {
  const auto& v = sample(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(app::TnqExtension::changeToString(v));
}

void BM_ChangeToString_Dump2Baseline(benchmark::State& state) {
  const auto& v = sample(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(v.dump(2));
}

void BM_JSONOBJ(benchmark::State& state) {
  std::string text = *app::TnqExtension::changeToString(sample(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(app::TnqJSON::JSONOBJ(text));
}

void BM_JSONOBJ_ParseBaseline(benchmark::State& state) {
  std::string text = *app::TnqExtension::changeToString(sample(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(pf::Value::parse(text));
}

}  // namespace

// Argument 0: the push delivery; 1: the bridge answer.
BENCHMARK(BM_ChangeToString)->Arg(0)->Arg(1);
BENCHMARK(BM_ChangeToString_Dump2Baseline)->Arg(0)->Arg(1);
BENCHMARK(BM_JSONOBJ)->Arg(0)->Arg(1);
BENCHMARK(BM_JSONOBJ_ParseBaseline)->Arg(0)->Arg(1);

FX_BENCH_RATIOS([] {
  for (const char* which : {"0", "1"}) {
    const std::string what = which[0] == '0' ? "push delivery" : "8-row answer";
    fxbench::addRatio("changeToString / dump(2), " + what, fxbench::rate(std::string("BM_ChangeToString/") + which),
                      fxbench::rate(std::string("BM_ChangeToString_Dump2Baseline/") + which), fxbench::atLeast(0.7));
    fxbench::addRatio("JSONOBJ / Value::parse, " + what, fxbench::rate(std::string("BM_JSONOBJ/") + which),
                      fxbench::rate(std::string("BM_JSONOBJ_ParseBaseline/") + which), fxbench::atLeast(0.7));
  }
  return true;
}());

FX_BENCH_MAIN();
