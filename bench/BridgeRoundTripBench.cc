// Page calls: a page calls an echo servlet through the bridge and gets the answer in its callback
// (queue, navigation pass, fetch, servlet, task, answer evaluated in the page), against bare duktape
// calling a native function with the same JSON and handing the parsed result to a callback.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "container/LoggerUtil.h"
#include "container/MwJSWebview.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "duktape.h"
#include "platform/foundation/RunLoop.h"

namespace {

const char* const kArguments = "{code: 'USDCNY', price: 7.1234, side: 'buy', memo: '买入'}";

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
  for (auto _ : state) {
    const long long before = EchoServlet::answered;
    while (EchoServlet::answered == before) loop->runInMode(pf::kDefaultRunLoopMode, 0);
  }
  if (page->stringByEvaluatingJavaScriptFromString("String(got)") != std::to_string(state.iterations()))
    state.SkipWithError("answers went missing");
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  container::MwServletManager::getInstance().unregisterServletNamed("echo.do");
}
BENCHMARK(BM_PageEchoRoundTrip);

duk_ret_t nativeEcho(duk_context* ctx) {
  duk_json_decode(ctx, 0);
  duk_json_encode(ctx, 0);
  return 1;
}

void BM_BareDuktapeNativeCall(benchmark::State& state) {
  duk_context* ctx = duk_create_heap_default();
  duk_push_c_function(ctx, nativeEcho, 1);
  duk_put_global_string(ctx, "nativeEcho");
  const std::string setup = std::string("var got = 0, last = null;"
                                        "function done(a) { got++; last = a.code; }"
                                        "function ask() { done(JSON.parse(nativeEcho(JSON.stringify(") +
                            kArguments + ")))); }";
  duk_peval_string_noresult(ctx, setup.c_str());
  for (auto _ : state) {
    duk_get_global_string(ctx, "ask");
    duk_pcall(ctx, 0);
    duk_pop(ctx);
  }
  duk_get_global_string(ctx, "got");
  if (duk_get_number(ctx, -1) != static_cast<double>(state.iterations())) state.SkipWithError("calls went missing");
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  duk_destroy_heap(ctx);
}
BENCHMARK(BM_BareDuktapeNativeCall);

}  // namespace
