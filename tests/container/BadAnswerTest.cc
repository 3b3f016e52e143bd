// The business road against a server gone bad (support/peers/hostile_http_server.py): answers
// beyond the packet limit, compressed or not, answers cut short after a good status, and payloads
// that are no JSON.

#include <gtest/gtest.h>

#include "BankServer.h"
#include "container/HnNetworkEngine.h"
#include "container/HnNetworkOperation.h"
#include "container/MwAnalysisRecord.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwHttpResponse.h"
#include "container/MwHttpTask.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "support/HostileHttpPeer.h"

namespace container {
namespace {

using fxtest::HostileHttpPeer;

using Listener = testing::TaskListener;

// A plain packet (crypt flag 0) with the payload as its business.
std::string packet(const std::string& payload) {
  MwComPackage p(0, 0, "", std::make_shared<MwDataPackage>(kCryptPlain, 0, 0, pf::toBytes(payload)));
  return p.toJSONString().value();
}

// A peer path as a business path (relative to the base URL).
std::string business(const std::string& peerPath) { return peerPath.substr(1); }

class BadAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::resetContainer(peer.base()); }

  std::shared_ptr<Listener> runTask(const std::string& path) {
    auto listener = std::make_shared<Listener>();
    auto task = MwCommunicationHelper::asynchBusinessTask(business(path), pf::Value::object(), listener, kCryptPlain, true);
    EXPECT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !listener->events.empty(); }, 30)) << path;
    return listener;
  }
  static void expectServerError(const std::shared_ptr<MwComPackage>& p, const std::string& what) {
    ASSERT_TRUE(p) << what;
    EXPECT_EQ(p->getPackageFlag(), 1) << what;
    EXPECT_EQ(p->getErrCode(), 4) << what;
    EXPECT_EQ(p->getErrMsg(), "服务器内部错误") << what;
    EXPECT_EQ(p->businessObject().value_or(nullptr)["RETCODE"], "500") << what;
  }
  static void expectNoResponse(const Listener& listener, const std::string& what) {
    EXPECT_EQ(listener.events, std::vector<std::string>{"error"}) << what;
    ASSERT_TRUE(listener.package) << what;
    EXPECT_EQ(listener.package->getErrMsg(), "数据解析错误") << what;
  }

  HostileHttpPeer& peer = HostileHttpPeer::shared();
  pf::LogCapture log;
};

TEST_F(BadAnswerTest, AnswersBeyondThePacketLimitAreTransportFailuresOnEveryRoad) {
  const std::pair<std::string, const char*> answers[] = {
      {HostileHttpPeer::generated(-1, "chunked"), "an endless chunked answer"},
      {HostileHttpPeer::generated(-1, "close", true), "an endless gzip answer"},
      {HostileHttpPeer::generated(1ll << 30, "close", true), "a gzip bomb"},
      {HostileHttpPeer::generated(1ll << 30, "length"), "an answer announced at 1 GB"},
  };
  for (const auto& [path, what] : answers) {
    expectServerError(MwCommunicationHelper::synchBusinessRequest(business(path), nullptr, kCryptPlain), what);
  }
  testing::NotificationRecorder records;
  expectServerError(MwCommunicationHelper::asynchBusinessRequest(business(answers[0].first), nullptr, kCryptPlain),
                    answers[0].second);
  ASSERT_EQ(records.analysisRecords().size(), 1u);
  EXPECT_EQ(records.analysisRecords()[0].httpcode, "0");
  expectNoResponse(*runTask(answers[2].first), answers[2].second);

  // Just within the limit the packet is read whole (and the padding after it is allowed white space).
  const std::string within = packet(R"({"RETCODE":"AAAAAAA"})");
  auto read = MwCommunicationHelper::synchBusinessRequest(
      business(HostileHttpPeer::answer(within, 0, MwComPackage::kMaxPacketText - within.size())), nullptr, kCryptPlain);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->getErrCode(), 0);
  EXPECT_EQ(read->businessObject().value_or(nullptr)["RETCODE"], "AAAAAAA");
}

TEST_F(BadAnswerTest, AnAnswerCutShortIsAFailureWhateverStatusCameFirst) {
  const std::string whole = packet(R"({"RETCODE":"AAAAAAA","AMOUNT":"100.00"})");
  const std::string cut = business(HostileHttpPeer::answer(whole, 100));
  expectServerError(MwCommunicationHelper::synchBusinessRequest(cut, nullptr, kCryptPlain), "synchronous");

  testing::NotificationRecorder records;
  expectServerError(MwCommunicationHelper::asynchBusinessRequest(cut, nullptr, kCryptPlain), "asynchronous");
  ASSERT_EQ(records.analysisRecords().size(), 1u);
  EXPECT_EQ(records.analysisRecords()[0].httpcode, "0");
  EXPECT_FALSE(records.analysisRecords()[0].hasdata);
  expectNoResponse(*runTask(HostileHttpPeer::answer(whole, 100)), "task");

  // The same packet sent whole is the business answer.
  auto answered = MwCommunicationHelper::synchBusinessRequest(business(HostileHttpPeer::answer(whole)), nullptr, kCryptPlain);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->getErrCode(), 0);
  EXPECT_EQ(answered->businessObject().value_or(nullptr)["AMOUNT"], "100.00");
}

TEST_F(BadAnswerTest, ACompressedAnswerCutShortIsAFailureOnEveryRoad) {
  // The packet padded with spaces (allowed white space) so that its compressed form is long enough
  // to lose real data when cut.
  const std::string whole = packet(R"({"RETCODE":"AAAAAAA","AMOUNT":"100.00","NOTE":")" +
                                   HostileHttpPeer::digits(20000) + R"("})");
  const std::string cut = business(HostileHttpPeer::packed(whole, "gzip", 200));
  expectServerError(MwCommunicationHelper::synchBusinessRequest(cut, nullptr, kCryptPlain), "synchronous");
  testing::NotificationRecorder records;
  expectServerError(MwCommunicationHelper::asynchBusinessRequest(cut, nullptr, kCryptPlain), "asynchronous");
  ASSERT_EQ(records.analysisRecords().size(), 1u);
  EXPECT_EQ(records.analysisRecords()[0].httpcode, "0");
  expectNoResponse(*runTask(HostileHttpPeer::packed(whole, "gzip", 200)), "task");

  // Sent whole, compressed, it is the business answer.
  for (const char* coding : {"gzip", "deflate", "raw"}) {
    auto answered =
        MwCommunicationHelper::synchBusinessRequest(business(HostileHttpPeer::packed(whole, coding)), nullptr, kCryptPlain);
    ASSERT_TRUE(answered) << coding;
    EXPECT_EQ(answered->getErrCode(), 0) << coding;
    EXPECT_EQ(answered->businessObject().value_or(nullptr)["AMOUNT"], "100.00") << coding;
  }
}

TEST_F(BadAnswerTest, AnAnswerAtThePacketLimitIsHeldInNoMoreThanTheLimit) {
  // Compressed to less than half and announced by its compressed length: room taken for that
  // length and doubled held the body in about 1.7 times the limit.
  constexpr auto kLimit = static_cast<std::int64_t>(MwComPackage::kMaxPacketText);
  auto engine = HnNetworkEngine::make();
  auto operation = engine->operationWithURLString(
      peer.http(HostileHttpPeer::generated(kLimit, "length", true, 200, true)), {}, "GET", 30);
  operation->setMaximumResponseLength(kLimit);
  bool done = false;
  operation->addCompletionHandler([&](HnNetworkOperation&) { done = true; }, [&](HnNetworkOperation&, const pf::Error&) { done = true; });
  engine->enqueueOperation(operation);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done; }, 30));
  EXPECT_FALSE(operation->error());
  EXPECT_EQ(operation->responseData().size(), MwComPackage::kMaxPacketText);
  EXPECT_LE(operation->responseData().capacity(), MwComPackage::kMaxPacketText);
}

TEST_F(BadAnswerTest, APayloadThatDoesNotReadAsJsonIsTheTasksError) {
  for (const std::string payload : {"not json at all", "{\"RETCODE\":"}) {
    auto listener = runTask(HostileHttpPeer::answer(packet(payload)));
    EXPECT_EQ(listener->events, std::vector<std::string>{"error"}) << payload;
    EXPECT_TRUE(listener->package) << "the listener still gets the package: " << payload;
  }
  // An encrypted payload may hold any bytes: ones that are no UTF-8 do not read either.
  MwSessionManager::setClientRandomForTesting(pf::Bytes(24, 1));
  struct ServerRandom : MwHttpResponse {
    pf::HttpHeaders headers{{{"Service-Number", "R1"}}};
    const pf::HttpHeaders& getHeaders() const override { return headers; }
  } serverRandom;
  MwSessionManager::getInstance().updateSession(nullptr, &serverRandom);
  auto listener = runTask(HostileHttpPeer::answer(testing::encryptedAnswer(pf::toBytes("{\"RETCODE\":\"\xff\xfe\"}"))));
  EXPECT_EQ(listener->events, std::vector<std::string>{"error"});

  listener = runTask(HostileHttpPeer::answer(testing::encryptedAnswer(pf::toBytes(R"({"RETCODE":"AAAAAAA"})"))));
  EXPECT_EQ(listener->events, std::vector<std::string>{"success"});
}

}  // namespace
}  // namespace container
