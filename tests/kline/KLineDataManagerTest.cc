#include <gtest/gtest.h>

#include "kline/KLineDataManager.h"
#include "kline/KLineTestSupport.h"
#include "kline/SeriesEncoder.h"
#include "kline/SeriesServer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/net/BodyDecoder.h"
#include "platform/net/Loader.h"
#include "platform/net/UrlError.h"
#include "support/HostileHttpPeer.h"

using namespace kline;
using klinetest::SeriesServer;

namespace {

// Counts the callbacks of one request and checks that they run on the main thread.
struct Outcome {
  int completions = 0;
  int failures = 0;
  bool offMain = false;
  TradeRows rows;

  KLineDataManager::Completion complete() {
    return [this](const TradeRows& r) {
      offMain |= !pf::Thread::isMainThread();
      ++completions;
      rows = r;
    };
  }
  KLineDataManager::Failure failure() {
    return [this] {
      offMain |= !pf::Thread::isMainThread();
      ++failures;
    };
  }
  bool done() const { return completions + failures > 0; }
};

bool waitFor(const Outcome& o, double seconds = 20) {
  return pf::RunLoop::main()->spinUntil([&] { return o.done(); }, seconds);
}

}  // namespace

TEST(KLineDataManager, QueryOfTheLastPathComponent) {
  auto m = KLineDataManager::make();
  EXPECT_EQ(m->available(), 4);
  m->kLineURL = "https://h/a/getGZipRateRange.shtml?code=X&type=4&available=5&bad&x=1";
  m->parseURL();
  EXPECT_EQ(m->currencyCode, "X");
  EXPECT_EQ(m->klineType, "4");
  EXPECT_EQ(m->available(), 5);
  m->kLineURL = "https://h/a?code=Y/getGZipRateRange.shtml";  // the query is not in the last component
  m->parseURL();
  EXPECT_EQ(m->currencyCode, "X");
  m->kLineURL = "x?available=-3";
  m->parseURL();
  EXPECT_EQ(m->available(), 0);
  m->setAvailable(1000);
  EXPECT_EQ(m->available(), KLineDataManager::kMaxAvailable);
}

TEST(KLineDataManager, PagesOfAHundredRows) {
  auto m = KLineDataManager::make();
  std::vector<std::string> texts = {"100#0#0#0#0#0#20260101000000"};
  for (int i = 1; i < 250; ++i) texts.push_back("1#1#1#1#" + std::to_string(i) + "m");
  ASSERT_TRUE(m->decode(klinetest::deflateBytes(klinetest::packetOf(texts))));
  auto page1 = m->reformData(1);
  ASSERT_TRUE(page1);
  ASSERT_EQ(page1->size(), 100u);
  EXPECT_EQ(page1->front(), m->tradeArray()[100]);
  EXPECT_FALSE(m->reformData(2));
  EXPECT_FALSE(m->reformData(-1));
  texts.resize(80);
  ASSERT_TRUE(m->decode(klinetest::deflateBytes(klinetest::packetOf(texts))));
  EXPECT_EQ(m->reformData(7)->size(), 80u);
}

TEST(KLineDataManager, BadPacketsFailOnceAndKeepTheRows) {
  auto m = KLineDataManager::make();
  ASSERT_TRUE(m->decode(klinetest::deflateBytes(klinetest::packetOf({"100#0#0#0#0#0#20260101000000"}))));
  for (const pf::Bytes& bad : {pf::Bytes{}, pf::Bytes{0x1f}, klinetest::deflateBytes({}), pf::Bytes(64, 0xee)}) {
    Outcome o;
    m->getKLineData("bundle?type=none", o.complete(), o.failure());  // fails: no such file
    EXPECT_EQ(o.failures, 1);
    Outcome p;
    m->getKLineData("http://127.0.0.1:1/x", p.complete(), p.failure());
    m->engine()->cancel();
    m->parseData(bad);
    EXPECT_EQ(p.failures, 1);
    m->parseData(bad);  // the callbacks are gone
    EXPECT_EQ(p.failures, 1);
    EXPECT_EQ(p.completions, 0);
    EXPECT_EQ(m->tradeArray().size(), 1u);
  }
}

TEST(KLineDataManager, SeriesOfTheApplicationPackage) {
  fxtest::TempDir dir;
  pf::Bundle::setMainPath(dir.path());
  pf::FileManager::writeFile(dir / "getGZipRateRange3.shtml",
                             klinetest::deflateBytes(klinetest::packetOf({"100#0#1#2#3#4#20260101000000", "1#1#1#1#1h"})),
                             false);
  auto m = KLineDataManager::make();
  Outcome o;
  m->getKLineData("local://rates?code=EUR&type=3", o.complete(), o.failure());
  EXPECT_EQ(o.completions, 1);
  EXPECT_FALSE(o.offMain);
  ASSERT_EQ(o.rows.size(), 2u);
  EXPECT_EQ(m->klineType, "3");
  for (const char* bad : {"local://rates?type=../getGZipRateRange3", "local://rates?code=x", "local://rates?type=4"}) {
    Outcome f;
    m->getKLineData(bad, f.complete(), f.failure());
    EXPECT_EQ(f.failures, 1) << bad;
  }
  pf::Bundle::setMainPath({});
}

TEST(KLineDataManager, LoadsOverHttpAndTrustedHttps) {
  auto& server = SeriesServer::shared();
  auto m = KLineDataManager::make();
  Outcome plain;
  m->getKLineData(server.http("/fx/getGZipRateRange.shtml?code=USD&type=6&available=4"), plain.complete(),
                  plain.failure());
  ASSERT_TRUE(waitFor(plain));
  EXPECT_EQ(plain.completions, 1);
  EXPECT_FALSE(plain.offMain);
  EXPECT_EQ(plain.rows.size(), static_cast<std::size_t>(SeriesServer::kRows));
  EXPECT_EQ(m->currencyCode, "USD");

  // The test certificate chains to no system root: refused, then accepted under its anchor.
  Outcome untrusted;
  m->getKLineData(server.https("/fx/getGZipRateRange.shtml"), untrusted.complete(), untrusted.failure());
  ASSERT_TRUE(waitFor(untrusted));
  EXPECT_EQ(untrusted.failures, 1);
  KLineHttpsEngine::setTestAnchors({server.anchor()});
  Outcome trusted;
  m->getKLineData(server.https("/fx/getGZipRateRange.shtml"), trusted.complete(), trusted.failure());
  ASSERT_TRUE(waitFor(trusted));
  KLineHttpsEngine::setTestAnchors({});
  EXPECT_EQ(trusted.completions, 1);
  EXPECT_EQ(trusted.rows.size(), plain.rows.size());
  EXPECT_FALSE(trusted.offMain);
}

TEST(KLineDataManager, ErrorAnswersFail) {
  auto& server = SeriesServer::shared();
  auto m = KLineDataManager::make();
  for (const char* path : {"/missing", "/drop", "/huge"}) {
    Outcome o;
    m->getKLineData(server.http(path), o.complete(), o.failure());
    ASSERT_TRUE(waitFor(o)) << path;
    EXPECT_EQ(o.failures, 1) << path;
    EXPECT_FALSE(o.offMain);
  }
  Outcome unparsable;
  m->getKLineData("http://[bad", unparsable.complete(), unparsable.failure());
  EXPECT_EQ(unparsable.failures, 1);
}

TEST(KLineDataManager, ANewRequestCancelsTheRunningOne) {
  auto& server = SeriesServer::shared();
  auto m = KLineDataManager::make();
  // A request still loading is cancelled: its connection is let go at once.
  Outcome slow, second;
  m->getKLineData(server.http("/slow/getGZipRateRange.shtml"), slow.complete(), slow.failure());
  std::weak_ptr<pf::UrlConnection> running = m->engine()->connection();
  ASSERT_FALSE(running.expired());
  m->getKLineData(server.http("/fx/getLastRateRange.shtml"), second.complete(), second.failure());
  EXPECT_TRUE(running.expired());
  ASSERT_TRUE(waitFor(second));
  EXPECT_EQ(second.completions, 1);
  EXPECT_EQ(second.rows.size(), 4u);

  // A request whose answer has arrived and is being decoded when the next one is made: only
  // the next one's rows are heard, and only they become the manager's.
  Outcome history, refresh;
  m->getKLineData(server.http("/fx/getGZipRateRange.shtml"), history.complete(), history.failure());
  auto engine = m->engine();
  auto arrived = std::move(engine->successCallBack);
  engine->successCallBack = [&, arrived](const pf::Bytes& body) {
    arrived(body);  // the decode is on its way
    m->getKLineData(server.http("/fx/getLastRateRange.shtml"), refresh.complete(), refresh.failure());
  };
  ASSERT_TRUE(waitFor(refresh));
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.3);
  EXPECT_EQ(history.completions + history.failures, 0);
  EXPECT_EQ(refresh.completions, 1);
  EXPECT_EQ(refresh.rows.size(), 4u);
  EXPECT_EQ(m->tradeArray().size(), 4u);
  EXPECT_FALSE(slow.done());
}

TEST(KLineDataManager, AnswersOfAnOlderRequestAreDropped) {
  fxtest::TempDir dir;
  pf::Bundle::setMainPath(dir.path());
  pf::FileManager::writeFile(dir / "getGZipRateRange1.shtml",
                             klinetest::deflateBytes(klinetest::packetOf({"100#0#1#2#3#4#20260101000000"})), false);
  auto& server = SeriesServer::shared();
  auto m = KLineDataManager::make();
  Outcome network, local;
  m->getKLineData(server.http("/fx/getGZipRateRange.shtml"), network.complete(), network.failure());
  // A newer request from the package is answered at once; the network load goes on...
  m->getKLineData("local://x?type=1", local.complete(), local.failure());
  EXPECT_EQ(local.completions, 1);
  const double localTime = m->baseTimestamp;
  EXPECT_EQ(m->basePrice, 100);
  // ...and its rows, decoded later, reach nobody and leave the manager's rows and base alone.
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !m->engine()->connection(); }, 20));
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.3);
  EXPECT_EQ(network.completions + network.failures, 0);
  EXPECT_EQ(local.completions, 1);
  EXPECT_EQ(local.rows.size(), 1u);
  EXPECT_EQ(m->tradeArray().size(), 1u);
  EXPECT_EQ(m->basePrice, 100);
  EXPECT_EQ(m->baseTimestamp, localTime);
  pf::Bundle::setMainPath({});
}

TEST(KLineDataManager, IdleLoadsTimeOutAfterTenSeconds) {
  auto& server = SeriesServer::shared();
  pf::VirtualTimeScope time;
  auto m = KLineDataManager::make();
  Outcome o;
  m->getKLineData(server.http("/slow/getGZipRateRange.shtml"), o.complete(), o.failure());
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.2);
  time.advance(9.5);
  EXPECT_FALSE(pf::RunLoop::main()->spinUntil([&] { return o.done(); }, 0.2));
  time.advance(1.0);
  ASSERT_TRUE(waitFor(o, 5));
  EXPECT_EQ(o.failures, 1);
}

TEST(KLineHttpEngine, SynchronousSendsAnswerBodiesOrAnErrorRecord) {
  auto& server = SeriesServer::shared();
  pf::Bytes body = KLineHttpEngine::getToAddr(server.http("/fx/getGZipRateRange.shtml"), std::nullopt, 10);
  EXPECT_TRUE(unCompressGzip(body));
  pf::Bytes refused = KLineHttpEngine::getToAddr("http://127.0.0.1:1/", std::nullopt, 10);
  auto record = pf::parseJson(refused);
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["status"], "2");
  EXPECT_EQ((*record)["textStatus"], "-1004");
  EXPECT_TRUE((*record)["errorThrown"].is_string());
  // A description with quotes stays one JSON string.
  pf::Value info = pf::Value::object();
  info["NSLocalizedDescription"] = "say \"no\" \\ here";
  pf::Bytes quoted = KLineHttpEngine::postToAddr(server.http("/x"), {}, pf::Error("D", 7, info), 10);
  auto parsed = pf::parseJson(quoted);
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["errorThrown"], "say \"no\" \\ here");
  EXPECT_EQ((*parsed)["textStatus"], "7");
}

TEST(KLineHttpEngine, ACompressedAnswerCutShortIsAFailure) {
  auto& peer = fxtest::HostileHttpPeer::shared();
  const std::string text = fxtest::HostileHttpPeer::digits();
  const std::string cut = peer.http(fxtest::HostileHttpPeer::packed(text, "gzip", 200));
  auto engine = KLineHttpEngine::make();
  int successes = 0;
  std::optional<pf::Error> error;
  engine->getUrl(cut, [&](const pf::Bytes&) { ++successes; }, [&](const pf::Error& e) { error = e; });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return successes > 0 || error; }, 20));
  EXPECT_EQ(successes, 0);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kNetworkConnectionLost);
  // The synchronous send answers its error record.
  auto record = pf::parseJson(KLineHttpEngine::getToAddr(cut, std::nullopt, 10));
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["textStatus"], "-1005");
  // Whole, the body is the text.
  pf::Bytes body;
  engine->getUrl(peer.http(fxtest::HostileHttpPeer::packed(text, "gzip")), [&](const pf::Bytes& b) { body = b; },
                 [&](const pf::Error&) {});
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !body.empty(); }, 20));
  EXPECT_EQ(pf::toString(body), text);
}

TEST(KLineHttpEngine, ABodyEncodedTwiceWaitsNoMoreThanTheHighWaterOnItsWayToTheEngine) {
  using fxtest::HostileHttpPeer;
  auto& peer = HostileHttpPeer::shared();
  auto engine = KLineHttpEngine::make();
  int successes = 0;
  std::optional<pf::Error> error;
  // 64 MiB compressed twice over, a few hundred bytes: refused at the engine's limit.
  engine->getUrl(peer.http(HostileHttpPeer::generated(64ll << 20, "length", 2)), [&](const pf::Bytes&) { ++successes; },
                 [&](const pf::Error& e) { error = e; });
  // The engine's bytes looked at between the run loop's blocks: at most one hand-over of the
  // connection's events comes between two looks, and what it brings waited at once on its way to
  // this thread.
  struct Looks {
    std::size_t last = 0;
    std::size_t largest = 0;
  };
  auto looks = std::make_shared<Looks>();
  auto look = std::make_shared<std::function<void()>>();
  *look = [looks, weakEngine = std::weak_ptr<KLineHttpEngine>(engine), weakLook = std::weak_ptr(look)] {
    auto engine = weakEngine.lock();
    auto again = weakLook.lock();
    if (!engine || !again) return;
    looks->largest = std::max(looks->largest, engine->receiveData.size() - std::min(looks->last, engine->receiveData.size()));
    looks->last = engine->receiveData.size();
    pf::RunLoop::main()->perform(*again);
  };
  pf::RunLoop::main()->perform(*look);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return successes > 0 || error; }, 30));
  look.reset();
  EXPECT_EQ(successes, 0);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kDataLengthExceedsMaximum);
  EXPECT_LE(looks->largest, pf::LoadEventChannel::kHighWater + pf::BodyDecoder::kPiece);

  // Gzip members one after another read back whole.
  const std::string text = HostileHttpPeer::digits();
  pf::Bytes body;
  engine->getUrl(peer.http(HostileHttpPeer::members(text, 3, true)), [&](const pf::Bytes& b) { body = b; },
                 [&](const pf::Error&) {});
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !body.empty(); }, 20));
  EXPECT_TRUE(pf::toString(body) == text);
}

TEST(KLineHttpEngine, PostsAnswerThroughTheCallbacks) {
  auto& server = SeriesServer::shared();
  auto engine = KLineHttpEngine::make();
  int failures = 0, successes = 0;
  engine->postUrl(server.http("/fx/getGZipRateRange.shtml"), pf::Bytes{'a'}, [&](const pf::Bytes&) { ++successes; },
                  [&](const pf::Error&) { ++failures; });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return successes + failures > 0; }, 20));
  EXPECT_EQ(failures, 1);  // the peer answers POST with 501
  EXPECT_FALSE(engine->connection());
}
