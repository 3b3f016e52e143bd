// Business tasks: completion through the listener, failure packages, the time-out and cancel paths,
// the busy overlay and what a task must never send.

#include <gtest/gtest.h>

#include "BankServer.h"
#include "platform/foundation/Log.h"
#include "container/HnNetworkOperation.h"
#include "container/MwAnalysisRecord.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwHttpRequest.h"
#include "container/MwHttpTask.h"
#include "container/MwHttpRequestImp.h"
#include "container/MwRequestFactory.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace container {
namespace {

using testing::BankServer;

using Listener = testing::TaskListener;

class HttpTaskTest : public testing::BankServerSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server->running());
    testing::resetContainer(server->baseUrl());
  }
  std::shared_ptr<MwHttpTask> start(const std::string& path, pf::Value options = pf::Value::object(), bool run = true) {
    return MwCommunicationHelper::asynchBusinessTask(path, options, listener, kCryptPlain, run);
  }
  bool waitForEvent(std::size_t count = 1) {
    return pf::RunLoop::main()->spinUntil([&] { return listener->events.size() >= count; });
  }
  // Requests the server has seen for an act.
  static int served(const std::string& act) {
    auto request = MwRequestFactory::getInstance()->createRequest(server->baseUrl() + "/stats", std::nullopt, {}, "GET", 5);
    auto body = request->streamRequest();
    if (!body) return -1;
    auto stats = pf::parseJson(*body);
    return stats ? (*stats)["acts"].value(act, 0) : -1;
  }
  pf::LogCapture log;  // the requests' debug lines stay out of the test output
  std::shared_ptr<Listener> listener = std::make_shared<Listener>();
};

TEST_F(HttpTaskTest, AnswerReachesTheListenerAfterTheRecordIsPosted) {
  testing::NotificationRecorder posted([&] { return listener->events.size(); });
  auto task = start("a.do?act=ok", {{"data", {{"K", "v"}}}});
  ASSERT_TRUE(task);
  EXPECT_EQ(task->getStatus(), kTaskRunning);
  ASSERT_TRUE(waitForEvent());
  EXPECT_EQ(listener->events, (std::vector<std::string>{"success"}));
  ASSERT_TRUE(listener->package);
  EXPECT_EQ(listener->package->businessObject().value()["ECHO"], (pf::Value{{"K", "v"}}));
  EXPECT_EQ(task->getStatus(), kTaskCompleted);
  EXPECT_EQ(task->getHttpStatusCode(), 200);
  auto records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].httpcode, "200");
  EXPECT_EQ(records[0].httpdata, listener->package);
  EXPECT_EQ(posted.listenerEventsAtPost(), (std::vector<std::size_t>{0})) << "posted before the listener heard";
}

TEST_F(HttpTaskTest, FailuresGiveTheirPackages) {
  struct Case {
    const char* script;
    std::int64_t code;
    const char* message;
    const char* retcode;
  } cases[] = {
      {"status=404", 1, "数据解析错误", "2"},
      {"status=500", 1, "数据解析错误", "2"},
      {"drop=1", 1, "数据解析错误", "2"},
      {"status=201", 1, "服务器内部错误", "201"},
  };
  for (const auto& c : cases) {
    listener->events.clear();
    auto task = start(std::string("a.do?act=f&") + c.script);
    ASSERT_TRUE(waitForEvent()) << c.script;
    EXPECT_EQ(listener->events, (std::vector<std::string>{"error"}));
    ASSERT_TRUE(listener->package) << c.script;
    EXPECT_EQ(listener->package->getErrCode(), c.code);
    EXPECT_EQ(listener->package->getErrMsg(), c.message);
    EXPECT_EQ(listener->package->businessObject().value()["RETCODE"], c.retcode) << c.script;
  }
  listener->events.clear();
  start("a.do?act=f&body=empty");
  ASSERT_TRUE(waitForEvent());
  EXPECT_EQ(listener->events, (std::vector<std::string>{"error"}));
  EXPECT_FALSE(listener->package) << "a 200 without a packet";
}

TEST_F(HttpTaskTest, GateRefusalCompletesAtOnce) {
  testing::NotificationRecorder posted;
  MwFramework::getInstance().setCurrentNetworkState(0);
  auto task = start("a.do?act=never");
  EXPECT_EQ(listener->events, (std::vector<std::string>{"error"}));
  ASSERT_TRUE(listener->package);
  EXPECT_EQ(listener->package->getErrCode(), 2);
  EXPECT_EQ(listener->package->getErrMsg(), "网络异常，请检查后重试！");
  EXPECT_EQ(listener->package->businessObject().value()["RETCODE"], "2");
  auto records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].httpcode, "-1");
  EXPECT_TRUE(records[0].url);
  EXPECT_EQ(served("never"), 0);
}

TEST_F(HttpTaskTest, StartingTwiceSendsOnceAndCancelledTasksCanStartAgain) {
  auto task = start("a.do?act=twice&delay=0.3", pf::Value::object(), false);
  task->doTask();
  auto first = task->getTaskRequest()->getHnNetworkOperation();
  task->doTask();
  EXPECT_EQ(task->getTaskRequest()->getHnNetworkOperation(), first);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([] { return served("twice") == 1; }));
  task->cancel();
  task->cancel();
  EXPECT_EQ(listener->events, (std::vector<std::string>{"cancel"}));
  EXPECT_EQ(task->getStatus(), kTaskNew);
  EXPECT_TRUE(first->isCancelled());

  task->doTask();
  EXPECT_NE(task->getTaskRequest()->getHnNetworkOperation(), first);
  ASSERT_TRUE(waitForEvent(2));
  EXPECT_EQ(listener->events, (std::vector<std::string>{"cancel", "success"}));
  EXPECT_EQ(served("twice"), 2);
}

TEST_F(HttpTaskTest, TimedOutTaskIgnoresItsLateAnswer) {
  pf::VirtualTimeScope time;
  testing::NotificationRecorder posted;
  auto task = start("a.do?act=slow&delay=0.25", {{"timeout", 5.0}, {"preventable", true}});
  EXPECT_TRUE(MwActivity::isDelegate(task.get()));
  time.advance(5);
  EXPECT_EQ(listener->events, (std::vector<std::string>{"timeout"}));
  EXPECT_EQ(task->getStatus(), kTaskTimedOut);
  EXPECT_FALSE(MwActivity::isShown()) << "a timed-out task takes its overlay away";

  auto operation = task->getTaskRequest()->getHnNetworkOperation();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return operation->isFinished(); }));
  EXPECT_EQ(listener->events.size(), 1u);
  EXPECT_TRUE(posted.analysisRecords().empty());
}

TEST_F(HttpTaskTest, NothingGoesOutWhenTheTaskEndsDuringTheGate) {
  MwFramework::getInstance().setCurrentNetworkState(3);
  auto task = start("a.do?act=late", {{"preventable", true}}, false);
  // While the gate waits for the network, the user removes the overlay; then the network comes.
  pf::RunLoop::main()->perform([] {
    MwActivity::dismissByUser();
    MwFramework::getInstance().setCurrentNetworkState(1);
  });
  task->doTask();
  EXPECT_EQ(listener->events, (std::vector<std::string>{"cancel"}));
  EXPECT_FALSE(task->getTaskRequest()->getHnNetworkOperation());
  EXPECT_EQ(served("late"), 0);
}

TEST_F(HttpTaskTest, DataThatIsNoDictionaryFailsLocally) {
  for (pf::Value data : {pf::Value(nullptr), pf::Value("text"), pf::Value::array({1})}) {
    listener->events.clear();
    auto task = start("a.do?act=baddata", {{"data", data}});
    ASSERT_TRUE(task);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"error"}));
    ASSERT_TRUE(listener->package);
    EXPECT_EQ(listener->package->getErrMsg(), "参数错误");
  }
  EXPECT_EQ(served("baddata"), 0);
}

TEST_F(HttpTaskTest, OptionsAreReadThePlatformWay) {
  EXPECT_FALSE(start("", pf::Value::object(), false));
  auto task = start("a.do", {{"timeout", "12.5"}, {"abolishable", "YES"}, {"preventable", nullptr}}, false);
  EXPECT_DOUBLE_EQ(task->getTimeoutInterval(), 12.5);
  EXPECT_TRUE(task->isAbolishable());
  EXPECT_FALSE(task->isPreventable());
  EXPECT_EQ(start("a.do", {{"timeout", nullptr}}, false)->getTimeoutInterval(), -1.0);
  EXPECT_EQ(start("a.do", {{"timeout", "1e39"}}, false)->getTimeoutInterval(), -1.0) << "not finite as a float";
  EXPECT_EQ(start("a.do", {{"timeout", 100000}}, false)->getTimeoutInterval(), 100000.0) << "long but valid";
  EXPECT_EQ(start("a.do", {{"timeout", 1e9}}, false)->getTimeoutInterval(), 1e9);
  EXPECT_EQ(start("a.do", {{"timeout", 1e19}}, false)->getTimeoutInterval(), -1.0) << "beyond 64-bit seconds";
  auto request = task->getTaskRequest();
  EXPECT_EQ(request->getUrl(), server->baseUrl() + "/a.do");
}

TEST_F(HttpTaskTest, ListenerThatWentAwayHearsNothing) {
  auto task = start("a.do?act=gone");
  listener.reset();
  auto operation = task->getTaskRequest()->getHnNetworkOperation();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return operation->isFinished(); }));
  EXPECT_EQ(task->getStatus(), kTaskCompleted);
}

}  // namespace
}  // namespace container
