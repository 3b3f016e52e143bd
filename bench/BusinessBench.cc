// Business requests per second through MwCommunicationHelper (3DES packets, the request gate, the
// HTTP engine, session update and packet parsing) against the loopback bank server, next to bare
// POSTs of the same bytes through the URL connection facade in the same run. The ratio of the two
// rates is the cost of the container's layers.
#include <benchmark/benchmark.h>

#include "container/LoggerUtil.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwFramework.h"
#include "container/MwKeyStore.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/UrlConnection.h"
#include "support/TestSupport.h"

namespace {

using namespace container;

const pf::Value kOrder{{"PRODUCT", "USDCNY"}, {"AMOUNT", "100.00"}, {"SIDE", "BUY"}, {"PRICE", "7.1234"}};
constexpr const char* kPath = "trade.do?act=quote";

// The server and an open session (handshake done), made once.
struct Bank {
  fxtest::ChildProcess child{{fxtest::kPython, (fxtest::sourceDir() / "tools/bank_server.py").string(),
                              "--keys", (fxtest::sourceDir() / "tests/data/container/keys").string()}};
  std::string base;
  bool ready = false;

  Bank() {
    auto port = child.readLine(20000);
    if (!port) return;
    base = "http://127.0.0.1:" + *port;
    LoggerUtil::setDebugEnabled(false);
    MwKeyStore::setKeyDirectoryForTesting(fxtest::sourceDir() / "tests/data/container/keys");
    MwServerConfiguration::getInstance().setServerBaseUrl(base);
    MwFramework::getInstance().setCurrentNetworkState(1);
    MwSessionManager::getInstance().setSessionState(1);
    const pf::Value hello{{"CLIENTRANDOM", pf::hexEncode(MwSessionManager::getInstance().getClientRandom())}};
    auto answer = MwCommunicationHelper::asynchBusinessRequest("mwframework.do?act=handshake", hello, kCryptRsa);
    ready = answer && MwSessionManager::getInstance().getSessionState() == 4;
  }
};

Bank& bank() {
  static Bank instance;
  return instance;
}

void BM_Business_CommunicationHelper(benchmark::State& state) {
  if (!bank().ready) return state.SkipWithError("no bank server");
  for (auto _ : state) {
    auto answer = MwCommunicationHelper::synchBusinessRequest(kPath, kOrder);
    if (!answer || !answer->businessObject()) return state.SkipWithError("no answer");
  }
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// One POST of the given body on the main run loop, waited for by turning that loop.
// The end signals a run-loop source so that the waiting run returns at once.
struct BarePost : pf::UrlConnectionDelegate {
  std::shared_ptr<pf::RunLoopSource> wake;
  pf::Bytes body;
  bool done = false;
  bool ok = false;
  void didReceiveData(pf::UrlConnection&, const pf::Bytes& data) override { body.insert(body.end(), data.begin(), data.end()); }
  void didFinishLoading(pf::UrlConnection&) override {
    done = ok = true;
    wake->signal();
  }
  void didFailWithError(pf::UrlConnection&, const pf::Error&) override {
    done = true;
    wake->signal();
  }
};

void BM_Business_BareUrlConnection(benchmark::State& state) {
  if (!bank().ready) return state.SkipWithError("no bank server");
  // The very bytes the helper sends: one 3DES packet of the same order.
  const auto packet = MwCommunicationHelper::requestBody(kOrder, kCrypt3Des);
  pf::UrlRequest request(pf::Url::parse(bank().base + "/" + kPath), 60);
  request.setHttpMethod("POST");
  request.setValue("*/*; charset=utf-8", "Content-Type");
  request.setHttpBody(*packet);
  auto loop = pf::RunLoop::main();
  auto wake = pf::RunLoopSource::makeSignal([](pf::RunLoopSource&) {});
  loop->addSource(wake, pf::kDefaultRunLoopMode);
  for (auto _ : state) {
    auto delegate = std::make_shared<BarePost>();
    delegate->wake = wake;
    auto connection = pf::UrlConnection::make(request, delegate);
    connection->scheduleInRunLoop(loop, pf::kRunLoopCommonModes);
    connection->start();
    while (!delegate->done) loop->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + 0.2);
    if (!delegate->ok || delegate->body.empty()) return state.SkipWithError("no answer");
  }
  wake->invalidate();
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Business_BareUrlConnection)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Business_CommunicationHelper)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_MAIN();
