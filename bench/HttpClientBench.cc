// Loopback GETs through the HTTP client's operation manager (raw response serializer) against bare
// libcurl multi, in the same run and against the same small keep-alive server in this process.
//
// Reported: requests per second with one and sixteen in flight ("rate"; the ratio to bare libcurl at
// the same number in flight should be at least 0.7), voluntary context switches per request
// ("switches"), the memory line (peak resident MB, and its growth per 10,000 requests, which stays
// near 0), and the round trip of one request at a time, from handing the operation to the queue to
// its success block, taken in turns with bare libcurl's ("p50_us", "p99_us" against "bare_p50_us",
// "bare_p99_us"; aim: p50 within 1.3x, p99 within 2x). The ratios print after the rows, from the
// medians of their repetitions.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "appnet/TnqHTTPRequestOperationManager.h"
#include "platform/foundation/Dispatch.h"
#include "LoopbackHttp.h"

namespace {

using bench::kRequests;
using bench::server;

// Baseline: `inFlight` easy handles, each reused, driven by one multi handle on this thread.
void BM_BareCurlMulti(benchmark::State& state) { bench::runBareCurlMulti(state); }

// The road of the application's REST calls: a ready-made request handed to the manager, the
// operation added to its queue (at most `inFlight` at a time), the raw bytes delivered to the
// success block (on a serial completion queue, as the main queue needs a running main loop).
void BM_OperationManager(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  const bench::MemoryLine memory;
  auto manager = appnet::TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = appnet::TnqHTTPResponseSerializer::serializer();
  manager->securityPolicy->allowInvalidCertificates = true;
  manager->operationQueue->setMaxConcurrentOperationCount(inFlight);
  manager->completionQueue = pf::DispatchQueue::makeSerial("bench.completion");
  const pf::UrlRequest request(pf::Url::parse(server().url()));
  std::atomic<std::size_t> bytes{0};
  const bench::ContextSwitches switches;
  const auto began = bench::LatencySamples::Clock::now();
  for (auto _ : state) {
    std::atomic<int> done{0};
    auto finished = pf::DispatchSemaphore::make(0);
    auto window = pf::DispatchSemaphore::make(inFlight * 2);  // bounds the queue's backlog
    for (int i = 0; i < kRequests; ++i) {
      window->wait();
      auto operation = manager->HTTPRequestOperationWithRequest(
          request,
          [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const appnet::TnqResponseObject& object) {
            if (auto data = appnet::TnqResponseBytes(object)) bytes += data->size();
            window->signal();
            if (++done == kRequests) finished->signal();
          },
          [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const pf::Error&) {
            window->signal();
            if (++done == kRequests) finished->signal();
          });
      manager->operationQueue->addOperation(operation);
    }
    finished->wait();
  }
  const std::chrono::duration<double> took = bench::LatencySamples::Clock::now() - began;
  state.SetItemsProcessed(state.iterations() * kRequests);
  bench::reportRate(state, state.iterations() * kRequests, took.count(), switches);
  memory.report(state, state.iterations() * kRequests);
  if (bytes.load() != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

// One request at a time through the manager: from adding the operation to the queue until its
// success block has run on the completion queue, in turns with one through bare libcurl.
void BM_OperationManagerLatency(benchmark::State& state) {
  auto manager = appnet::TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = appnet::TnqHTTPResponseSerializer::serializer();
  manager->completionQueue = pf::DispatchQueue::makeSerial("bench.completion");
  const pf::UrlRequest request(pf::Url::parse(server().url()));
  auto answered = pf::DispatchSemaphore::make(0);
  std::atomic<bool> failed{false};
  bench::runPairedLatency(state, [&] {
    auto operation = manager->HTTPRequestOperationWithRequest(
        request, [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const appnet::TnqResponseObject&) {
          answered->signal();
        },
        [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const pf::Error&) {
          failed = true;
          answered->signal();
        });
    manager->operationQueue->addOperation(operation);
    operation.reset();
    answered->wait();
    return !failed.load();
  });
}

}  // namespace

BENCHMARK(BM_BareCurlMulti)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OperationManager)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OperationManagerLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

FX_BENCH_RATIOS(bench::rateRatios("operation manager", "BM_OperationManager", 0.7));
FX_BENCH_RATIOS(bench::latencyRatios("operation manager", "BM_OperationManagerLatency"));

FX_BENCH_MAIN();
