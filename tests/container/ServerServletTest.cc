// "server.do": page commands to the loopback bank server through business tasks, and how their
// successes, failures, time-outs and cancels reach the page call.

#include <gtest/gtest.h>

#include "BankServer.h"
#include "PageTaskRecorder.h"
#include "container/MwCommunicationHelper.h"
#include "container/HnNetworkOperation.h"
#include "container/MwHttpRequest.h"
#include "container/MwHttpTask.h"
#include "container/MwJSWebview.h"
#include "container/MwServerServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "support/HostileHttpPeer.h"
#include "support/TestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Base64.h"

namespace container {
namespace {

using testing::BankServer;
using testing::PageTaskRecorder;

class ServerServletTest : public testing::BankServerSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server->running());
    testing::resetContainer(server->baseUrl(), 1, 1);
    const pf::Value business{{"CLIENTRANDOM", pf::hexEncode(MwSessionManager::getInstance().getClientRandom())}};
    ASSERT_TRUE(MwCommunicationHelper::asynchBusinessRequest("mwframework.do?act=handshake", business, kCryptRsa));
    ASSERT_EQ(MwFramework::getInstance().getSessionState(), 4);
    MwServletManager::resetForTesting();
    MwServletManager::getInstance().registerServletWithName(kServerServletName, "MwServerServlet");
  }
  // One page command: the servlet the registry gives for an http URL, its page task and the answer.
  std::shared_ptr<MwServerServlet> call(pf::Value message) {
    auto request = MwServletRequest::parse(message);
    EXPECT_TRUE(request);
    auto servlet = std::dynamic_pointer_cast<MwServerServlet>(
        MwServletManager::getInstance().getServletWithName(request->getServletName(), request->getScheme()));
    EXPECT_TRUE(servlet);
    auto task = MwTask::make(kTaskTypePageCall, request->getRequestId(), recorder, recorder);
    task->setTimeoutValue(request->getTimeout() < 0 ? 100 : request->getTimeout());
    servlet->handleRequestAndTask(*request, task);
    open.push_back(servlet);  // the page's web view keeps its open calls
    return servlet;
  }
  bool waitForAnswer() {
    return pf::RunLoop::main()->spinUntil([&] { return !recorder->answers.empty(); });
  }
  pf::Value command(const std::string& path, pf::Value extra = pf::Value::object()) {
    pf::Value message{{"url", "http://any.host/pages/" + path}, {"requestId", "c1"}};
    message.update(extra);
    return message;
  }
  pf::LogCapture log;
  std::shared_ptr<PageTaskRecorder> recorder = std::make_shared<PageTaskRecorder>();
  std::vector<std::shared_ptr<MwServerServlet>> open;
};

TEST_F(ServerServletTest, BusinessAnswerReachesThePageThroughThreeDes) {
  auto servlet = call(command("trade.do?act=quote", {{"data", {{"PRODUCT", "USDCNY"}, {"MEMO", "买入"}}},
                                                     {"cancelable", true}, {"timeout", 30}}));
  ASSERT_TRUE(servlet->businessTask());
  EXPECT_EQ(servlet->businessTask()->getTag(), MwServerServlet::kBusinessTaskTag);
  EXPECT_TRUE(servlet->businessTask()->isAbolishable());
  EXPECT_DOUBLE_EQ(servlet->businessTask()->getTimeoutInterval(), 30);
  EXPECT_DOUBLE_EQ(servlet->task()->timeoutValue(), 0) << "the business task carries the waiting time";
  ASSERT_TRUE(waitForAnswer());
  ASSERT_EQ(recorder->kinds(), (std::vector<std::string>{"success"}));
  const pf::Value& answer = recorder->answers[0].result;
  EXPECT_EQ(answer["result"], 0);
  EXPECT_EQ(answer["data"]["RETCODE"], "AAAAAAA");
  EXPECT_EQ(answer["data"]["ACT"], "quote");
  EXPECT_EQ(answer["data"]["ECHO"], (pf::Value{{"PRODUCT", "USDCNY"}, {"MEMO", "买入"}}));
  EXPECT_EQ(recorder->unregistered, (std::vector<std::string>{"c1"}));
}

TEST_F(ServerServletTest, FailuresAnswerResultOneWithTheirTexts) {
  call(command("trade.do?act=x&status=201"));
  ASSERT_TRUE(waitForAnswer());
  EXPECT_EQ(recorder->answers[0].result["result"], 1);
  EXPECT_EQ(recorder->answers[0].result["data"]["RETCODE"], "201");

  recorder->answers.clear();
  call(command("trade.do?act=x&body=empty"));
  ASSERT_TRUE(waitForAnswer());
  EXPECT_EQ(recorder->answers[0].result,
            (pf::Value{{"result", 1}, {"data", {{"ERRMSG", kServerRequestFailedMessage}}}}));
}

TEST_F(ServerServletTest, AnAnswerWhosePayloadDoesNotReadIsAFailureForThePage) {
  // The same session, a server gone bad: its packets decrypt, their payloads are no JSON text.
  auto& peer = fxtest::HostileHttpPeer::shared();
  MwServerConfiguration::getInstance().setServerBaseUrl(peer.base());
  for (const std::string payload : {"{\"RETCODE\":\"AAAAAAA\"", "\xff\xfe\x00 binary"}) {
    recorder->answers.clear();
    call(command(fxtest::HostileHttpPeer::answer(testing::encryptedAnswer(pf::toBytes(payload))).substr(1)));
    ASSERT_TRUE(waitForAnswer());
    EXPECT_EQ(recorder->answers[0].result,
              (pf::Value{{"result", 1}, {"data", {{"ERRMSG", kServerRequestFailedMessage}}}}));
  }
  recorder->answers.clear();
  call(command(fxtest::HostileHttpPeer::answer(testing::encryptedAnswer(pf::toBytes(R"({"RETCODE":"AAAAAAA"})"))).substr(1)));
  ASSERT_TRUE(waitForAnswer());
  EXPECT_EQ(recorder->answers[0].result, (pf::Value{{"result", 0}, {"data", {{"RETCODE", "AAAAAAA"}}}}));
}

TEST_F(ServerServletTest, RefusedWithoutNetworkSessionOrPath) {
  MwFramework::getInstance().setCurrentNetworkState(0);
  call(command("trade.do?act=x"));
  MwFramework::getInstance().setCurrentNetworkState(1);
  MwFramework::getInstance().setSessionState(3);
  call(command("trade.do?act=x"));
  MwFramework::getInstance().setSessionState(4);
  call({{"url", "http://any.host"}, {"requestId", "c2"}});
  ASSERT_EQ(recorder->kinds(), (std::vector<std::string>{"error", "error", "error"})) << "answered at once";
  EXPECT_EQ(recorder->answers[0].result["data"]["ERRMSG"], kGateNoNetworkMessage);
  EXPECT_EQ(recorder->answers[1].result["data"]["ERRMSG"], kGateNoSessionMessage);
  EXPECT_EQ(recorder->answers[2].result["data"]["ERRMSG"], kServerRequestFailedMessage);
  for (const auto& a : recorder->answers) EXPECT_EQ(a.result["result"], 1);
}

TEST_F(ServerServletTest, TimeOutAndCancelOfTheBusinessTask) {
  {
    pf::VirtualTimeScope time;
    auto servlet = call(command("trade.do?act=slow&delay=0.3", {{"timeout", 5}}));
    time.advance(5);
    ASSERT_EQ(recorder->kinds(), (std::vector<std::string>{"error"}));
    EXPECT_EQ(recorder->answers[0].result,
              (pf::Value{{"result", 1}, {"data", {{"ERRMSG", kServerRequestTimeoutMessage}, {"RETCODE", "TIMEOUT"}}}}));
    recorder->answers.clear();
    auto cancelled = call(command("trade.do?act=slow&delay=0.3"));
    cancelled->businessTask()->cancel();
    ASSERT_EQ(recorder->kinds(), (std::vector<std::string>{"cancel"}));
    EXPECT_EQ(recorder->answers[0].result, (pf::Value{{"result", 200}}));
    // The timed-out request's late answer comes and goes.
    auto late = servlet->businessTask()->getTaskRequest()->getHnNetworkOperation();
    ASSERT_TRUE(late);
    ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return late->isFinished(); }));
  }
  EXPECT_EQ(recorder->answers.size(), 1u);
}

TEST_F(ServerServletTest, APageReachesTheBankServer) {
  auto page = MwJSWebview::make(pf::Rect(0, 0, 320, 480));
  const auto pages = fxtest::dataPath("container/pages");
  page->webView()->setPageRoot(pages.string());
  page->webView()->loadFile((pages / "bridge.html").string());
  page->doJs("call('http://bank.example/pages/trade.do?act=quote', null, {PRODUCT: 'EURUSD'}, {timeout: 20})");
  auto answers = [&] { return page->stringByEvaluatingJavaScriptFromString("String(answers.length)"); };
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return answers() == "1"; }));
  auto answer = pf::parseJson(page->stringByEvaluatingJavaScriptFromString("last()"));
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)["result"], 0);
  EXPECT_EQ((*answer)["responseId"], "mwpb1");
  EXPECT_EQ((*answer)["data"]["ECHO"], (pf::Value{{"PRODUCT", "EURUSD"}}));
  EXPECT_EQ(page->openCallCount(), 0u);
}

}  // namespace
}  // namespace container
