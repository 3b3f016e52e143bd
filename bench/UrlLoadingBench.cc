// Loopback GETs through the connection facade against bare libcurl multi, in the same run and
// against the same small keep-alive server (in this process, one thread per connection).
//
// Reported: requests per second with one and sixteen in flight ("rate"; the ratio to bare libcurl at
// the same number in flight should be at least 0.8), voluntary context switches per request
// ("switches"), and the round trip of one request at a time, taken in turns with bare libcurl's
// ("p50_us", "p99_us" against "bare_p50_us", "bare_p99_us"; aim: p50 within 1.3x, p99 within 2x).
// The ratios print after the rows, from the medians of their repetitions.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/UrlConnection.h"
#include "LoopbackHttp.h"

namespace {

using bench::kRequests;
using bench::server;

// Baseline: `inFlight` easy handles, each reused, driven by one multi handle on this thread.
void BM_BareCurlMulti(benchmark::State& state) { bench::runBareCurlMulti(state); }

// The facade: every GET a connection whose calls run on this thread's run loop; `inFlight`
// connections at a time.
class Counter : public pf::UrlConnectionDelegate {
 public:
  explicit Counter(std::function<void()> next) : next_(std::move(next)) {}
  void didReceiveData(pf::UrlConnection&, const pf::Bytes& d) override { bytes += d.size(); }
  void didFinishLoading(pf::UrlConnection&) override { next_(); }
  void didFailWithError(pf::UrlConnection&, const pf::Error&) override {
    failed = true;
    next_();
  }
  std::size_t bytes = 0;
  bool failed = false;

 private:
  std::function<void()> next_;
};

void BM_UrlConnection(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  pf::UrlRequest request(pf::Url::parse(server().url()));
  auto loop = pf::RunLoop::current();
  // An idle source keeps the run loop waiting between deliveries, as an application's main run
  // loop does.
  auto idle = pf::RunLoopSource::makeSignal([](pf::RunLoopSource&) {});
  loop->addSource(idle, pf::kDefaultRunLoopMode);
  int started = 0;
  int done = 0;
  std::shared_ptr<Counter> counter;
  auto launch = [&] {
    ++started;
    auto connection = pf::UrlConnection::make(request, counter);
    connection->scheduleInRunLoop(loop, pf::kDefaultRunLoopMode);
    connection->start();
  };
  counter = std::make_shared<Counter>([&] {
    ++done;
    if (started < kRequests) {
      launch();
    } else if (done == kRequests) {
      loop->stop();
    }
  });
  const bench::ContextSwitches switches;
  const auto began = bench::LatencySamples::Clock::now();
  for (auto _ : state) {
    started = done = 0;
    for (int i = 0; i < inFlight; ++i) launch();
    while (done < kRequests) loop->runInMode(pf::kDefaultRunLoopMode, 10);
    if (counter->failed) {
      state.SkipWithError("a request failed");
      break;
    }
  }
  const std::chrono::duration<double> took = bench::LatencySamples::Clock::now() - began;
  loop->removeSource(idle, pf::kDefaultRunLoopMode);
  state.SetItemsProcessed(state.iterations() * kRequests);
  bench::reportRate(state, state.iterations() * kRequests, took.count(), switches);
  if (counter->bytes != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

// One request at a time through the facade, from start() to didFinishLoading on this thread's
// run loop, in turns with one through bare libcurl.
void BM_UrlConnectionLatency(benchmark::State& state) {
  pf::UrlRequest request(pf::Url::parse(server().url()));
  auto loop = pf::RunLoop::current();
  auto idle = pf::RunLoopSource::makeSignal([](pf::RunLoopSource&) {});
  loop->addSource(idle, pf::kDefaultRunLoopMode);
  bool finished = false;
  auto counter = std::make_shared<Counter>([&] {
    finished = true;
    loop->stop();
  });
  bench::runPairedLatency(state, [&] {
    finished = false;
    auto connection = pf::UrlConnection::make(request, counter);
    connection->scheduleInRunLoop(loop, pf::kDefaultRunLoopMode);
    connection->start();
    while (!finished) loop->runInMode(pf::kDefaultRunLoopMode, 10);
    return !counter->failed;
  });
  loop->removeSource(idle, pf::kDefaultRunLoopMode);
}

BENCHMARK(BM_BareCurlMulti)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlConnection)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlConnectionLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

FX_BENCH_RATIOS(bench::rateRatios("URL facade", "BM_UrlConnection", 0.8));
FX_BENCH_RATIOS(bench::latencyRatios("URL facade", "BM_UrlConnectionLatency"));

FX_BENCH_MAIN();
