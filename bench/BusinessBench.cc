// Business requests per second through MwCommunicationHelper (3DES packets, the request gate, the
// HTTP engine, session update and packet parsing) next to bare POSTs of the same bytes through the
// URL connection facade, in the same run, against two peers:
// - the loopback bank server (Python), which decrypts each packet and answers it, about 350 us a
//   request: the ratio is the whole road's, but the server's time hides most of the container's;
// - a native loopback peer in this process (LoopbackHttp.h) that answers every request at once
//   with the bank's own answer to the same packet, captured once: the same bytes and headers
//   reach the client, so the ratio is the container's own cost.
// Each row also reports this process's CPU time per request ("cpu_us"; the Python bank's is not in
// it, the native peer's is, in both rows alike) and its voluntary context switches per request
// ("switches": thread hand-offs, the native peer's threads included).
#include <sys/resource.h>

#include "LoopbackHttp.h"
#include "Ratios.h"
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

// One POST of the given body on the main run loop, waited for by turning that loop.
// The end signals a run-loop source so that the waiting run returns at once.
struct BarePost : pf::UrlConnectionDelegate {
  std::shared_ptr<pf::RunLoopSource> wake;
  pf::Bytes body;
  pf::HttpHeaders headers;
  bool done = false;
  bool ok = false;
  void didReceiveResponse(pf::UrlConnection&, const pf::UrlResponse& response) override {
    headers = response.allHeaderFields();
  }
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

// Posts the helper's packet of the order to `base` + kPath as the helper would; nullptr on a failure.
class BarePoster {
 public:
  explicit BarePoster(const std::string& base) : request_(pf::Url::parse(base + "/" + kPath), 60) {
    request_.setHttpMethod("POST");
    request_.setValue("*/*; charset=utf-8", "Content-Type");
    request_.setHttpBody(*MwCommunicationHelper::requestBody(kOrder, kCrypt3Des));
    loop_->addSource(wake_, pf::kDefaultRunLoopMode);
  }
  ~BarePoster() { wake_->invalidate(); }
  BarePoster(const BarePoster&) = delete;
  BarePoster& operator=(const BarePoster&) = delete;

  std::shared_ptr<BarePost> post() {
    auto delegate = std::make_shared<BarePost>();
    delegate->wake = wake_;
    auto connection = pf::UrlConnection::make(request_, delegate);
    connection->scheduleInRunLoop(loop_, pf::kRunLoopCommonModes);
    connection->start();
    while (!delegate->done) loop_->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + 0.2);
    return delegate->ok && !delegate->body.empty() ? delegate : nullptr;
  }

 private:
  pf::UrlRequest request_;
  std::shared_ptr<pf::RunLoop> loop_ = pf::RunLoop::main();
  std::shared_ptr<pf::RunLoopSource> wake_ = pf::RunLoopSource::makeSignal([](pf::RunLoopSource&) {});
};

// The bank and an open session (handshake done), then the native peer answering with the bank's
// answer to the order; made once.
struct Peers {
  fxtest::ChildProcess child{{fxtest::kPython, (fxtest::sourceDir() / "tools/bank_server.py").string(),
                              "--keys", (fxtest::sourceDir() / "tests/data/container/keys").string()}};
  std::string bankBase;
  bench::LoopbackServer* native = nullptr;  // never torn down, as bench::server()
  bool ready = false;

  Peers() {
    auto port = child.readLine(20000);
    if (!port) return;
    bankBase = "http://127.0.0.1:" + *port;
    LoggerUtil::setDebugEnabled(false);
    MwKeyStore::setKeyDirectoryForTesting(fxtest::sourceDir() / "tests/data/container/keys");
    MwServerConfiguration::getInstance().setServerBaseUrl(bankBase);
    MwFramework::getInstance().setCurrentNetworkState(1);
    MwSessionManager::getInstance().setSessionState(1);
    const pf::Value hello{{"CLIENTRANDOM", pf::hexEncode(MwSessionManager::getInstance().getClientRandom())}};
    auto answer = MwCommunicationHelper::asynchBusinessRequest("mwframework.do?act=handshake", hello, kCryptRsa);
    if (!answer || MwSessionManager::getInstance().getSessionState() != 4) return;
    // The bank's answer to the order, as the native peer's: body, content type, session state.
    auto captured = BarePoster(bankBase).post();
    if (!captured) return;
    std::string headers;
    if (auto state = captured->headers.value("sessionState")) headers += "sessionState: " + *state + "\r\n";
    native = new bench::LoopbackServer(
        std::string(captured->body.begin(), captured->body.end()),
        captured->headers.value("Content-Type").value_or("application/json; charset=utf-8"), headers);
    ready = true;
  }
  std::string base(bool nativePeer) const { return nativePeer ? native->base() : bankBase; }
};

Peers& peers() {
  static Peers instance;
  return instance;
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void reportRequests(benchmark::State& state, double cpuBefore, const bench::ContextSwitches& switches) {
  const double n = static_cast<double>(state.iterations());
  state.counters["requests/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
  state.counters["cpu_us"] = n > 0 ? (cpuSeconds() - cpuBefore) / n * 1e6 : 0;
  state.counters["switches"] = switches.perRequest(state.iterations());
}

void BM_Business_CommunicationHelper(benchmark::State& state, bool nativePeer) {
  if (!peers().ready) return state.SkipWithError("no bank server");
  MwServerConfiguration::getInstance().setServerBaseUrl(peers().base(nativePeer));
  const double cpu = cpuSeconds();
  const bench::ContextSwitches switches;
  for (auto _ : state) {
    auto answer = MwCommunicationHelper::synchBusinessRequest(kPath, kOrder);
    if (!answer || !answer->businessObject()) return state.SkipWithError("no answer");
  }
  reportRequests(state, cpu, switches);
}

void BM_Business_BareUrlConnection(benchmark::State& state, bool nativePeer) {
  if (!peers().ready) return state.SkipWithError("no bank server");
  // The very bytes the helper sends: one 3DES packet of the same order.
  BarePoster poster(peers().base(nativePeer));
  const double cpu = cpuSeconds();
  const bench::ContextSwitches switches;
  for (auto _ : state)
    if (!poster.post()) return state.SkipWithError("no answer");
  reportRequests(state, cpu, switches);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Business_BareUrlConnection, bank, false)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Business_CommunicationHelper, bank, false)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Business_BareUrlConnection, native, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Business_CommunicationHelper, native, true)->Unit(benchmark::kMicrosecond)->UseRealTime();

FX_BENCH_RATIO("business: communication helper / bare POSTs, Python bank",
               fxbench::rate("BM_Business_CommunicationHelper/bank"), fxbench::rate("BM_Business_BareUrlConnection/bank"),
               fxbench::atLeast(0.7));
FX_BENCH_RATIO("business: communication helper / bare POSTs, native peer",
               fxbench::rate("BM_Business_CommunicationHelper/native"),
               fxbench::rate("BM_Business_BareUrlConnection/native"), fxbench::atLeast(0.7));
FX_BENCH_RATIO("business: requests per CPU second, communication helper / bare POSTs, native peer",
               fxbench::counterRate("BM_Business_CommunicationHelper/native", "cpu_us"),
               fxbench::counterRate("BM_Business_BareUrlConnection/native", "cpu_us"));

FX_BENCH_MAIN();
