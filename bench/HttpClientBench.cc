// Loopback GETs through the HTTP client's operation manager (raw response serializer) against bare
// libcurl multi, in the same run and against the same small keep-alive server in this process.
//
// Reported per benchmark: requests per second ("items_per_second") and the memory line (peak
// resident MB, and its growth per 10,000 requests, which stays near 0). The figure to watch is the
// ratio manager / bare at the same number of requests in flight (aim: at least 0.7).

#include <benchmark/benchmark.h>

#include <atomic>
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
  state.SetItemsProcessed(state.iterations() * kRequests);
  memory.report(state, state.iterations() * kRequests);
  if (bytes.load() != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

}  // namespace

BENCHMARK(BM_BareCurlMulti)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OperationManager)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
