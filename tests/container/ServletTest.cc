// Page calls before they reach a page: parsing a queued message, the servlet registry, sorting a
// fetched queue, and the answer channel of a call with its time-out on the virtual clock.

#include <gtest/gtest.h>

#include "PageTaskRecorder.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwServletRequest.h"
#include "container/MwTask.h"
#include "container/MwWebViewMiddleBridge.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace container {
namespace {

using testing::PageTaskRecorder;

TEST(MwServletRequest, ClientAndServerUrlsAndTheirKeys) {
  auto client = MwServletRequest::parse(
      {{"url", "client://chart.do?x=1&action=create%20now"}, {"data", {{"code", "USDCNY"}}}, {"timeout", "12.5"},
       {"waiting", true}, {"callback", "cb"}, {"requestId", 7}, {"block", 1}, {"cancelable", "YES"}});
  ASSERT_TRUE(client);
  EXPECT_EQ(client->getScheme(), kSchemeClient);
  EXPECT_EQ(client->getServletName(), "chart.do");
  EXPECT_EQ(client->getParameterValue(), "create now");
  EXPECT_EQ(client->getData(), (pf::Value{{"code", "USDCNY"}}));
  EXPECT_EQ(client->getRequestId(), "7");
  EXPECT_DOUBLE_EQ(client->getTimeout(), 12.5);
  EXPECT_TRUE(client->isWaiting() && client->isBlock() && client->isCancelable());
  EXPECT_EQ(client->getCallback(), "cb");

  auto server = MwServletRequest::parse({{"url", "https://bank.example/app/trade.do?act=list"}, {"requestId", "r1"}});
  ASSERT_TRUE(server);
  EXPECT_EQ(server->getScheme(), kSchemeServer);
  EXPECT_EQ(server->getBusinessPath(), "trade.do?act=list");
  EXPECT_TRUE(server->getData().is_null());
  EXPECT_LT(server->getTimeout(), 0) << "no waiting time given";
  EXPECT_FALSE(server->isWaiting());

  for (pf::Value junk : {pf::Value("soon"), pf::Value("5s"), pf::Value(true), pf::Value::object()}) {
    auto request = MwServletRequest::parse({{"url", "client://a.do"}, {"requestId", "r"}, {"timeout", junk}});
    ASSERT_TRUE(request);
    EXPECT_LT(request->getTimeout(), 0) << junk.dump() << " is no waiting time";
  }

  auto other = MwServletRequest::parse({{"url", "ftp://x/y"}, {"requestId", "r2"}});
  ASSERT_TRUE(other);
  EXPECT_EQ(other->getScheme(), kSchemeUnknown);

  for (pf::Value bad : {pf::Value::array(), pf::Value{{"url", "client://a.do"}}, pf::Value{{"requestId", "1"}},
                        pf::Value{{"url", 3}, {"requestId", "1"}}, pf::Value{{"url", "client://a.do"}, {"requestId", ""}}}) {
    EXPECT_FALSE(MwServletRequest::parse(bad)) << bad.dump();
  }
}

struct EchoServlet : MwServlet {};
struct OtherServlet : MwServlet {};

TEST(MwServletManager, NamesMapToKnownClassesOnly) {
  MwServletManager::resetForTesting();
  MwServletClasses::shared().add<EchoServlet>("TestEchoServlet");
  MwServletClasses::shared().add<OtherServlet>("TestOtherServlet");
  auto& manager = MwServletManager::getInstance();
  EXPECT_FALSE(manager.registerServletWithName("ghost.do", "NoSuchClass"));
  EXPECT_FALSE(manager.getServletWithName("ghost.do", kSchemeClient));

  EXPECT_TRUE(manager.registerServletWithName("echo.do", "TestOtherServlet"));
  EXPECT_TRUE(manager.registerServletWithName("echo.do", "TestEchoServlet")) << "a later entry replaces";
  auto first = manager.getServletWithName("echo.do", kSchemeClient);
  auto second = manager.getServletWithName("echo.do", kSchemeClient);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(dynamic_cast<EchoServlet*>(first.get()));
  EXPECT_NE(first, second) << "a new instance per call";
  EXPECT_FALSE(manager.getServletWithName("echo.do", kSchemeServer)) << "server calls go to server.do only";
  EXPECT_FALSE(manager.getServletWithName("echo.do", kSchemeUnknown));

  EXPECT_TRUE(manager.registerServletWithName(kServerServletName, "MwServerServlet"));
  EXPECT_TRUE(manager.getServletWithName("anything", kSchemeServer));
  manager.unregisterServletNamed("echo.do");
  EXPECT_FALSE(manager.getServletWithName("echo.do", kSchemeClient));
  MwServletManager::resetForTesting();
}

struct RecordingBridge : MwWebViewMiddleBridgeDelegate {
  std::vector<MwServletRequest> calls;
  std::vector<std::string> refused;  // "<id>: <reason>"
  bool onAsyncJsCommand(const MwServletRequest& request) override {
    calls.push_back(request);
    return false;
  }
  void onRefusedJsCommand(const std::string& requestId, const std::string& reason) override {
    refused.push_back(requestId + ": " + reason);
  }
};

TEST(MwWebViewMiddleBridge, SortsAndDropsWhatIsNoCall) {
  pf::LogCapture log;
  RecordingBridge delegate;
  MwWebViewMiddleBridge bridge(delegate);
  const std::string queue =
      R"({"requestId":"1","url":"client://a.do?action=x"})" "__mwpb_sep__"
      R"({"responseId":"9","data":{}})" "__mwpb_sep__"
      R"([1,2])" "__mwpb_sep__" "__mwpb_sep__"
      R"({"requestId":"2"})" "__mwpb_sep__"
      R"({"timeoutId":"3"})" "__mwpb_sep__" R"({"cancelId":"4"})" "__mwpb_sep__" "not json" "__mwpb_sep__"
      R"({"requestId":"5","url":"client://b.do?action=y","data":{"t":"a\u005f_mwpb_sep__b"}})";
  EXPECT_EQ(bridge.flushMessageQueue(queue), 3u);
  ASSERT_EQ(delegate.calls.size(), 2u);
  EXPECT_EQ(delegate.calls[0].getRequestId(), "1");
  EXPECT_EQ(delegate.calls[1].getData()["t"], "a__mwpb_sep__b") << "an escaped separator stays inside its message";
  EXPECT_EQ(delegate.refused, std::vector<std::string>{"2: the call has no \"url\" text"}) << "a call is answered";
  EXPECT_TRUE(log.contains("\"responseId\" dropped"));
  EXPECT_TRUE(log.contains("\"cancelId\" dropped"));
  EXPECT_TRUE(log.contains("handled: NO")) << "the servlet's answer is logged, not acted on";
  EXPECT_EQ(bridge.flushMessageQueue(""), 0u);
}

// A batch holding a call too large or too deep to read: that call is refused by its request id,
// found without building it, and the calls around it are handled.
TEST(MwWebViewMiddleBridge, EveryCallOfABatchIsAnsweredWhateverItsSize) {
  pf::LogCapture log;
  RecordingBridge delegate;
  MwWebViewMiddleBridge bridge(delegate);
  const std::string large(MwWebViewMiddleBridge::kMaxMessageBytes, 'x');
  const std::string deep = std::string(70, '[') + std::string(70, ']');
  const std::string sep(kBridgeSeparator);
  const std::string queue =
      R"({"requestId":"1","url":"client://store.do?action=set","data":{"key":"small"}})" + sep +
      R"({"url":"client://store.do?action=set","data":{"requestId":"inner","value":")" + large +
      R"("},"requestId":"big"})" + sep +
      R"({"requestId":7,"url":"client://a.do","data":)" + deep + "}" + sep +
      R"({"data":")" + large + R"("})" + sep +
      R"([{"requestId":"in an array"}])" + sep +
      R"({"requestId":"cut","url":"client://a.do?action=x","data":{)" + sep +
      R"({"requestId":"5","url":"client://b.do?action=y"})";
  EXPECT_EQ(bridge.flushMessageQueue(queue), 5u);
  ASSERT_EQ(delegate.calls.size(), 2u);
  EXPECT_EQ(delegate.calls[0].getRequestId(), "1");
  EXPECT_EQ(delegate.calls[1].getRequestId(), "5");
  ASSERT_EQ(delegate.refused.size(), 3u);
  EXPECT_EQ(delegate.refused[0].rfind("big: the call's message of 16777", 0), 0u) << delegate.refused[0];
  EXPECT_EQ(delegate.refused[1].rfind("7: ", 0), 0u) << delegate.refused[1];
  EXPECT_EQ(delegate.refused[2].rfind("cut: ", 0), 0u) << delegate.refused[2];

  EXPECT_EQ(MwWebViewMiddleBridge::topLevelRequestId(R"({"a":{"requestId":"x"},"requestId":"y","requestId":"z"})"), "z");
  EXPECT_EQ(MwWebViewMiddleBridge::topLevelRequestId(R"({"requestId":{"id":"x"}})"), "");
  EXPECT_EQ(MwWebViewMiddleBridge::topLevelRequestId(R"("requestId")"), "");
}

class MwTaskTest : public ::testing::Test {
 protected:
  std::shared_ptr<MwTask> makeTask(const std::string& id = "r1") {
    return MwTask::make(kTaskTypePageCall, id, recorder, recorder);
  }
  pf::VirtualTimeScope time;
  std::shared_ptr<PageTaskRecorder> recorder = std::make_shared<PageTaskRecorder>();
};

TEST_F(MwTaskTest, AnswersSetTheirResultAndEndTheCall) {
  auto task = makeTask();
  task->successWithResult({{"data", 1}, {"result", 55}});
  task->successWithResult(nullptr, false);
  task->error({{"data", "x"}});
  task->error({{"result", 1}});
  ASSERT_EQ(recorder->answers.size(), 4u);
  EXPECT_EQ(recorder->answers[0].result, (pf::Value{{"data", 1}, {"result", 0}}));
  EXPECT_EQ(recorder->answers[1].result, (pf::Value{{"result", 0}})) << "null answers an empty dictionary";
  EXPECT_EQ(recorder->answers[2].result["result"], 100);
  EXPECT_EQ(recorder->answers[3].result["result"], 1) << "a failure code of the servlet's own stays";
  EXPECT_EQ(recorder->answers[0].taskID, "r1");
  EXPECT_EQ(recorder->unregistered, (std::vector<std::string>{"r1", "r1", "r1", "r1"}));

  task->cancel();
  task->cancel();
  task->successWithResult({});
  EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"success", "success", "error", "error", "cancel", "success"}));
  EXPECT_EQ(recorder->answers[4].result, (pf::Value{{"result", 200}}));
}

TEST_F(MwTaskTest, TimeOutAnswersOnceAndSilencesTheTask) {
  auto task = makeTask();
  task->setTimeoutValue(10);
  time.advance(9.9);
  EXPECT_TRUE(recorder->answers.empty());
  time.advance(0.1);
  EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"timeout"}));
  EXPECT_EQ(recorder->answers[0].result, (pf::Value{{"result", 300}}));
  EXPECT_EQ(recorder->unregistered, (std::vector<std::string>{"r1!"}));

  task->successWithResult({{"late", true}});
  task->error({});
  task->cancel();
  EXPECT_EQ(recorder->answers.size(), 1u) << "nothing follows a time-out";
  EXPECT_EQ(recorder->unregistered.size(), 3u) << "late answers still end the call";
}

TEST_F(MwTaskTest, TimeOutValueRestartsStopsOrIsRefused) {
  auto restarted = makeTask("a");
  restarted->setTimeoutValue(5);
  time.advance(4);
  restarted->setTimeoutValue(5);  // a new timer from now
  time.advance(4);
  EXPECT_TRUE(recorder->answers.empty());
  time.advance(1);
  EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"timeout"}));

  auto stopped = makeTask("b");
  stopped->setTimeoutValue(5);
  stopped->setTimeoutValue(0);
  auto answered = makeTask("c");
  answered->setTimeoutValue(5);
  answered->successWithResult({});
  time.advance(1000);
  EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"timeout", "success"}));

  for (double odd : {-1.0, std::nan(""), HUGE_VAL}) {
    auto task = makeTask("d");
    task->setTimeoutValue(odd);
    time.advance(1e6);
  }
  EXPECT_EQ(recorder->answers.size(), 2u);
}

TEST_F(MwTaskTest, AGoneOwnerHearsNothingAndATaskLetGoStopsItsTimer) {
  auto task = makeTask();
  task->setTimeoutValue(1);
  recorder.reset();
  time.advance(2);
  task->successWithResult({});  // no crash: the page has gone

  auto owner = std::make_shared<PageTaskRecorder>();
  auto dropped = MwTask::make(kTaskTypePageCall, "x", owner, owner);
  dropped->setTimeoutValue(1);
  dropped.reset();
  time.advance(2);
  EXPECT_TRUE(owner->answers.empty());
}

}  // namespace
}  // namespace container
