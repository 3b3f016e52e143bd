// Calls of the REST API layer against the bare operation road of the same HTTP client, in the same
// run and against the same small keep-alive server in this process (answer {"success":1}).
//
// Rows (requests per second, "items_per_second"), each with 1 and 16 calls in flight:
//   BM_OperationManagerRaw  a ready-made request handed to the proxy's own manager (raw bytes, the
//                           main queue as completion queue): the baseline
//   BM_ApiProxyPost         TnqApiProxy callPostWithParams with a small dictionary, the answer
//                           parsed into a TnqURLResponse
//   BM_LoginManager         TnqLoginManager loadData (parameters, proxy, answer check, delegate)
// The figures to watch are the ratios proxy / raw at the same number in flight (aim: at least
// 0.85), printed after the rows from the medians of their repetitions (--benchmark_repetitions).

#include <cstdlib>
#include <functional>
#include <string>

#include "LoopbackHttp.h"
#include "app/TnqApiManagers.h"
#include "app/TnqApiProxy.h"
#include "app/TnqApiRequestBuilder.h"
#include "app/TnqApiServices.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"

namespace {

using bench::kRequests;

const pf::Value& params() {
  static const pf::Value p{{"custId", "C000123"}, {"token", "a1b2c3d4e5f6"}, {"state", 1}};
  return p;
}

// Both services on the in-process server, through a bundle of our own.
void pointServicesAtServer() {
  static bool done = [] {
    char dir[] = "/tmp/fx-apibench-XXXXXX";
    if (!::mkdtemp(dir)) std::abort();
    const std::string base = bench::jsonServer().base();
    pf::Value config{{app::kTnqInfoServiceBaseUrlKey, base}, {app::kTnqTradePreServiceBaseUrlKey, base}};
    pf::FileManager::writeFile(std::string(dir) + "/System.plist",
                               *pf::writePropertyList(config, pf::PropertyListFormat::Xml), true);
    pf::Bundle::setMainPath(dir);
    return true;
  }();
  (void)done;
}

// Runs kRequests calls, `inFlight` at a time: `launch(next)` starts one call whose end runs next.
void drive(benchmark::State& state, const std::function<void(std::function<void(bool)>)>& launch) {
  const int inFlight = static_cast<int>(state.range(0));
  std::size_t good = 0;
  for (auto _ : state) {
    int started = 0, finished = 0;
    std::function<void(bool)> next = [&](bool ok) {
      good += ok;
      ++finished;
      if (started < kRequests) ++started, launch(next);
    };
    for (; started < inFlight;) ++started, launch(next);
    pf::RunLoop::main()->spinUntil([&] { return finished == kRequests; }, 120);
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
  if (good != static_cast<std::size_t>(kRequests) * static_cast<std::size_t>(state.iterations()))
    state.SkipWithError("failed calls");
}

void BM_OperationManagerRaw(benchmark::State& state) {
  pointServicesAtServer();
  auto manager = app::TnqApiProxy::sharedInstance()->tnqNetManager();
  const auto request = *app::TnqRequestBuilder::sharedInstance()->buildPostRequestWithServiceIdentifier(
      "serviceInfo", params(), "/refreshTheAppleUserToken.action");
  drive(state, [&](std::function<void(bool)> next) {
    auto operation = manager->HTTPRequestOperationWithRequest(
        request,
        [next](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const appnet::TnqResponseObject& object) {
          auto bytes = appnet::TnqResponseBytes(object);
          next(bytes && bytes->size() == 13);
        },
        [next](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const pf::Error&) { next(false); });
    manager->operationQueue->addOperation(operation);
  });
}

void BM_ApiProxyPost(benchmark::State& state) {
  pointServicesAtServer();
  auto proxy = app::TnqApiProxy::sharedInstance();
  drive(state, [&](std::function<void(bool)> next) {
    proxy->callPostWithParams(
        params(), "serviceInfo", "/refreshTheAppleUserToken.action",
        [next](const std::shared_ptr<app::TnqURLResponse>& r) { next(r->content && r->content->is_object()); },
        [next](const std::shared_ptr<app::TnqURLResponse>&) { next(false); });
  });
}

// Hears the manager's outcome and starts the next call.
class Relay : public app::TnqAPIManagerCallbackDelegate {
 public:
  std::function<void(bool)> next;
  void managerCallAPIDidSuccess(app::TnqAPIBaseManager&) override { next(true); }
  void managerCallAPIDidFailed(app::TnqAPIBaseManager&) override { next(false); }
};

void BM_LoginManager(benchmark::State& state) {
  pointServicesAtServer();
  auto relay = std::make_shared<Relay>();
  auto login = app::TnqLoginManager::make();
  login->custId = "C000123";
  login->digest = "a1b2c3d4e5f6";
  login->delegate = relay;
  drive(state, [&](std::function<void(bool)> next) {
    relay->next = next;
    login->loadData();
  });
}

}  // namespace

BENCHMARK(BM_OperationManagerRaw)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiProxyPost)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoginManager)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

FX_BENCH_RATIOS([] {
  for (std::string inFlight : {"1", "16"}) {
    fxbench::addRatio("API proxy / raw operations, " + inFlight + " in flight", fxbench::rate("BM_ApiProxyPost/" + inFlight),
                      fxbench::rate("BM_OperationManagerRaw/" + inFlight), fxbench::atLeast(0.85));
    fxbench::addRatio("API login manager / raw operations, " + inFlight + " in flight",
                      fxbench::rate("BM_LoginManager/" + inFlight), fxbench::rate("BM_OperationManagerRaw/" + inFlight));
  }
  return true;
}());

FX_BENCH_MAIN();
