// Page calls: a page calls an echo servlet through the bridge and gets the answer in its callback
// (queue, navigation pass, fetch, servlet, task, answer evaluated in the page), against two bare
// duktape calls of a native function with the same arguments, answering {data: arguments}:
// - one that passes JSON text both ways (the page stringifies, the native side decodes and
//   encodes, the page parses the answer), as a bridge built on texts does;
// - the floor of any bridge: the page's object handed to the native function, read into a native
//   value (no text), and the answer built from native values as JSON.parse would make it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "Ratios.h"
#include "container/LoggerUtil.h"
#include "container/MwJSWebview.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "duktape.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"

namespace {

const char* const kArguments = "{code: 'USDCNY', price: 7.1234, side: 'buy', memo: '买入'}";

// Longest wait for one answer before the row gives up.
constexpr std::chrono::seconds kAnswerLimit{10};

struct EchoServlet : container::MwServlet {
  static inline long long answered = 0;
  bool handleRequest(const container::MwServletRequest& request) override {
    task()->successWithResult({{"data", request.getData()}});
    ++answered;
    return true;
  }
};

void BM_PageEchoRoundTrip(benchmark::State& state) {
  container::LoggerUtil::setDebugEnabled(false);
  container::MwServletClasses::shared().add<EchoServlet>("BenchEchoServlet");
  container::MwServletManager::getInstance().registerServletWithName("echo.do", "BenchEchoServlet");
  auto dir = std::filesystem::temp_directory_path() / "bench_bridge_calls";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "calls.html", std::ios::binary | std::ios::trunc)
      << "<html><head><title>Calls</title><script>var got = 0, last = null;"
         "function ask() { MwUI.Bridge.call('echo.do', 'echo', " << kArguments
      << ", {}, function (a) { got++; last = a.data.code; setTimeout(ask, 0); }); }</script></head><body></body></html>";
  auto page = container::MwJSWebview::make(pf::Rect(0, 0, 320, 480));
  page->webView()->setPageRoot(dir.string());
  page->webView()->loadFile((dir / "calls.html").string());
  auto loop = pf::RunLoop::main();
  // Each answer's callback makes the next call from a page timer, as pages call from their events.
  page->doJs("ask()");
  bool lost = false;
  for (auto _ : state) {
    const long long before = EchoServlet::answered;
    const auto limit = std::chrono::steady_clock::now() + kAnswerLimit;
    while (EchoServlet::answered == before && !lost) {
      loop->runInMode(pf::kDefaultRunLoopMode, 0);
      lost = std::chrono::steady_clock::now() > limit;
    }
    if (lost) break;
  }
  if (lost)
    state.SkipWithError("an answer did not come");
  else if (page->stringByEvaluatingJavaScriptFromString("String(got)") != std::to_string(state.iterations()))
    state.SkipWithError("answers went missing");
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  container::MwServletManager::getInstance().unregisterServletNamed("echo.do");
}
BENCHMARK(BM_PageEchoRoundTrip);

// The arguments as JSON text, decoded and answered as text.
duk_ret_t nativeEchoText(duk_context* ctx) {
  duk_json_decode(ctx, 0);
  duk_push_object(ctx);
  duk_dup(ctx, 0);
  duk_put_prop_string(ctx, -2, "data");
  duk_json_encode(ctx, -1);
  return 1;
}

// The value at `from` read into a native value, as a bridge's native side must see its arguments:
// objects and arrays member by member, no text.
pf::Value readValue(duk_context* ctx, duk_idx_t from) {
  from = duk_normalize_index(ctx, from);
  if (duk_is_boolean(ctx, from)) return duk_get_boolean(ctx, from) != 0;
  if (duk_is_number(ctx, from)) return duk_get_number(ctx, from);
  if (duk_is_string(ctx, from)) {
    duk_size_t size = 0;
    const char* text = duk_get_lstring(ctx, from, &size);
    return std::string(text, size);
  }
  if (!duk_is_object(ctx, from) || duk_is_function(ctx, from)) return nullptr;
  pf::Value value = duk_is_array(ctx, from) ? pf::Value::array() : pf::Value::object();
  duk_enum(ctx, from, DUK_ENUM_OWN_PROPERTIES_ONLY);
  while (duk_next(ctx, -1, 1)) {  // enumerator, key, value
    if (value.is_array())
      value.push_back(readValue(ctx, -1));
    else
      value[duk_get_string(ctx, -2)] = readValue(ctx, -1);
    duk_pop_2(ctx);
  }
  duk_pop(ctx);  // the enumerator
  return value;
}

// A native value pushed as JSON.parse would make it: fresh objects and arrays, no text.
void pushValue(duk_context* ctx, const pf::Value& value) {
  switch (value.type()) {
    case pf::Value::value_t::boolean: duk_push_boolean(ctx, value.get<bool>()); return;
    case pf::Value::value_t::number_integer:
    case pf::Value::value_t::number_unsigned:
    case pf::Value::value_t::number_float: duk_push_number(ctx, value.get<double>()); return;
    case pf::Value::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      duk_push_lstring(ctx, text.data(), text.size());
      return;
    }
    case pf::Value::value_t::array: {
      const duk_idx_t array = duk_push_array(ctx);
      duk_uarridx_t index = 0;
      for (const auto& item : value) {
        pushValue(ctx, item);
        duk_put_prop_index(ctx, array, index++);
      }
      return;
    }
    case pf::Value::value_t::object: {
      const duk_idx_t object = duk_push_object(ctx);
      for (const auto& [key, item] : value.items()) {
        pushValue(ctx, item);
        duk_put_prop_lstring(ctx, object, key.data(), key.size());
      }
      return;
    }
    default: duk_push_null(ctx); return;
  }
}

// The page's object read into a native value and answered, as native values, with {data: it}.
duk_ret_t nativeEchoObject(duk_context* ctx) {
  pf::Value answer = pf::Value::object();
  answer["data"] = readValue(ctx, 0);
  pushValue(ctx, answer);
  return 1;
}

// The page asks `ask()` once per iteration; the answer's callback counts it.
void runBareCalls(benchmark::State& state, duk_c_function native, const char* call) {
  duk_context* ctx = duk_create_heap_default();
  duk_push_c_function(ctx, native, 1);
  duk_put_global_string(ctx, "nativeEcho");
  const std::string setup = std::string("var got = 0, last = null;"
                                        "function done(a) { got++; last = a.data.code; }"
                                        "function ask() { done(") +
                            call + "); }";
  if (duk_peval_string_noresult(ctx, setup.c_str()) != 0) state.SkipWithError("the page did not load");
  for (auto _ : state) {
    duk_get_global_string(ctx, "ask");
    duk_pcall(ctx, 0);
    duk_pop(ctx);
  }
  duk_peval_string(ctx, "last === 'USDCNY' ? got : -1");
  if (duk_get_number(ctx, -1) != static_cast<double>(state.iterations())) state.SkipWithError("calls went missing");
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  duk_destroy_heap(ctx);
}

void BM_BareDuktapeJsonTextCall(benchmark::State& state) {
  runBareCalls(state, nativeEchoText, (std::string("JSON.parse(nativeEcho(JSON.stringify(") + kArguments + ")))").c_str());
}
BENCHMARK(BM_BareDuktapeJsonTextCall);

void BM_BareDuktapeObjectCall(benchmark::State& state) {
  runBareCalls(state, nativeEchoObject, (std::string("nativeEcho(") + kArguments + ")").c_str());
}
BENCHMARK(BM_BareDuktapeObjectCall);

FX_BENCH_RATIO("page echo round trips / bare duktape native calls passing JSON text",
               fxbench::rate("BM_PageEchoRoundTrip"), fxbench::rate("BM_BareDuktapeJsonTextCall"),
               fxbench::atLeast(0.5));
FX_BENCH_RATIO("page echo round trips / bare duktape native calls passing the object (floor)",
               fxbench::rate("BM_PageEchoRoundTrip"), fxbench::rate("BM_BareDuktapeObjectCall"));

}  // namespace
