// "webnet.do" against a real push server: pages subscribe, receive every pushed text tagged with
// their own id, and end their subscription.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylWebnetPlugin.h"
#include "appnet/TnqPushWebsocket.h"
#include "appnet/TnqWebSocket.h"
#include "appnet/WebSocketTestSupport.h"

namespace app {
namespace {

using plugintest::PluginPage;

// A second connection to the push server: every text sent on it is pushed to every subscriber.
struct Pusher {
  std::shared_ptr<appnet::TnqWebSocket> socket;
  std::shared_ptr<wstest::Recorder> rec = std::make_shared<wstest::Recorder>();
  explicit Pusher(const std::string& url) : socket(appnet::TnqWebSocket::initWithURL(url)) {
    socket->setDelegate(rec);
    socket->open();
  }
  bool waitOpen() { return wstest::spin([&] { return rec->opened || rec->ended(); }) && rec->opened; }
};

class WebnetPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appnet::TnqPushWebsocket::resetSharedInstance();
    plugintest::registerBuiltInPlugins();
  }
  void TearDown() override {
    appnet::TnqPushWebsocket::resetSharedInstance();
    container::MwServletManager::resetForTesting();
  }
  std::string server() const { return "ws://127.0.0.1:" + std::to_string(peer.port()); }
  bool waitFor(const std::function<bool()>& done) { return wstest::spin(done); }

  wstest::Peer peer{wstest::Peer::Kind::Python, "../../app/peers/push_server.py"};
};

TEST_F(WebnetPluginTest, TwoPagesReceiveEveryPushedTextUntilOneUnregisters) {
  PluginPage first, second;
  auto setup = first.call("webnet.do", "setup", "{server: '" + server() + "', subjects: ['A', 'B']}");
  ASSERT_EQ(setup.size(), 1u);
  EXPECT_EQ(setup[0]["data"], (pf::Value{{"success", "success"}}));
  EXPECT_EQ(first.page->openCallCount(), 0u) << "the setup call is not kept";
  auto opened = peer.lineStartingWith("OPEN ");
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, "OPEN /ws/A/B");
  ASSERT_TRUE(waitFor([] { return appnet::TnqPushWebsocket::sharedInstance()->isConnected(); }));

  auto a = first.call("webnet.do", "registerSelf", "{}");
  auto b = second.call("webnet.do", "registerSelf", "{}");
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  // The registration comes nested: the page reads answer.data.data.
  const std::string idA = a[0]["data"]["data"]["moduleId"], idB = b[0]["data"]["data"]["moduleId"];
  EXPECT_NE(idA, idB);
  EXPECT_EQ(a[0]["data"], (pf::Value{{"data", {{"moduleId", idA}, {"wdata", "registerSuccess"}}}}));
  EXPECT_EQ(a[0]["continue"], true);
  EXPECT_EQ(first.page->openCallCount(), 1u) << "the subscribing call stays open";

  Pusher pusher(server() + "/push");
  ASSERT_TRUE(pusher.waitOpen());
  const std::vector<std::string> texts = {"{\"USDJPY\":\"151.2\"}", "line\u2028sep\u2029para", "pair \xF0\x9F\x92\xB1 'q'"};
  for (const auto& t : texts) ASSERT_TRUE(pusher.socket->send(t));
  ASSERT_TRUE(waitFor([&] { return second.pushed().size() >= texts.size(); }));
  for (auto* page : {&first, &second}) {
    auto got = page->pushed();
    ASSERT_EQ(got.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(got[i]["wdata"], texts[i]);
      EXPECT_EQ(got[i]["moduleId"], page == &first ? idA : idB);
    }
  }

  // The first page ends its subscription: its open call closes, the other page goes on.
  const std::size_t before = first.answerCount();
  auto unregistered = first.call("webnet.do", "unregisterSelf", "{moduleId: '" + idA + "'}");
  ASSERT_EQ(unregistered.size(), 2u);
  EXPECT_EQ(unregistered[0]["data"], (pf::Value{{"wdata", "closeServlet"}}));
  EXPECT_EQ(unregistered[0]["responseId"], a[0]["responseId"]);
  EXPECT_EQ(unregistered[1]["data"], (pf::Value{{"moduleId", idA}}));
  EXPECT_EQ(first.answerCount(), before + 2);
  EXPECT_EQ(first.page->openCallCount(), 0u);

  ASSERT_TRUE(pusher.socket->send(std::string("after")));
  ASSERT_TRUE(waitFor([&] { return second.pushed().size() == texts.size() + 1; }));
  EXPECT_EQ(second.pushed().back()["wdata"], "after");
  EXPECT_EQ(first.pushed().size(), texts.size());
}

TEST_F(WebnetPluginTest, SubjectsMissingOrOneTextAndUnknownOperations) {
  PluginPage page;
  {
    // An unknown operation is never answered, and no time-out answers it either.
    pf::VirtualTimeScope clock;
    EXPECT_TRUE(page.call("webnet.do", "subscribe", "{}", "{timeout: 5}").empty());
    clock.advance(200);
    plugintest::pump();
    EXPECT_EQ(page.answerCount(), 0u);
  }
  page.call("webnet.do", "setup", "{server: '" + server() + "'}");
  EXPECT_EQ(*peer.lineStartingWith("OPEN "), "OPEN /ws/");
  appnet::TnqPushWebsocket::sharedInstance()->close();
  appnet::TnqPushWebsocket::resetSharedInstance();
  page.call("webnet.do", "setup", "{server: '" + server() + "', subjects: 'EURUSD'}");
  EXPECT_EQ(*peer.lineStartingWith("OPEN "), "OPEN /ws/EURUSD");

  // Unregistering an id nobody holds answers the id and closes nothing.
  auto answer = page.call("webnet.do", "unregisterSelf", "{moduleId: 7}");
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0]["data"], (pf::Value{{"moduleId", ""}}));
}

TEST_F(WebnetPluginTest, APageThatGoesEndsItsSubscription) {
  auto hub = appnet::TnqPushWebsocket::sharedInstance();
  PluginPage setup, page;
  setup.call("webnet.do", "setup", "{server: '" + server() + "', subjects: ['A']}");
  ASSERT_TRUE(waitFor([&] { return hub->isConnected(); }));
  auto before = page.call("webnet.do", "registerSelf", "{}");
  ASSERT_EQ(before.size(), 1u);
  const std::string oldId = before[0]["data"]["data"]["moduleId"];

  // The page reloads and subscribes again: its new call has the old call's id.
  page.eval("location.reload()");
  plugintest::pump();
  ASSERT_EQ(page.answerCount(), 0u) << "the page has reloaded";
  auto after = page.call("webnet.do", "registerSelf", "{}");
  ASSERT_EQ(after.size(), 1u);
  const std::string newId = after[0]["data"]["data"]["moduleId"];
  EXPECT_EQ(after[0]["responseId"], before[0]["responseId"]);
  EXPECT_EQ(hub->servletArray().size(), 1u) << "the hub let go of the page that went";

  Pusher pusher(server() + "/push");
  ASSERT_TRUE(pusher.waitOpen());
  ASSERT_TRUE(pusher.socket->send(std::string("once")));
  ASSERT_TRUE(waitFor([&] { return !page.pushed().empty(); }));
  plugintest::pump();
  ASSERT_EQ(page.pushed().size(), 1u) << "one delivery";
  EXPECT_EQ(page.pushed()[0], (pf::Value{{"moduleId", newId}, {"wdata", "once"}}));

  // Unregistering the old id reaches nothing of the page but its own answer...
  auto unregistered = page.call("webnet.do", "unregisterSelf", "{moduleId: '" + oldId + "'}");
  ASSERT_EQ(unregistered.size(), 1u);
  EXPECT_EQ(unregistered[0]["data"], (pf::Value{{"moduleId", oldId}}));
  // ...and the new subscription keeps its callback: its close still reaches it.
  unregistered = page.call("webnet.do", "unregisterSelf", "{moduleId: '" + newId + "'}");
  ASSERT_EQ(unregistered.size(), 2u);
  EXPECT_EQ(unregistered[0]["data"], (pf::Value{{"wdata", "closeServlet"}}));
  EXPECT_EQ(unregistered[0]["responseId"], after[0]["responseId"]);

  // A subscribing page whose web view goes leaves no listener behind.
  {
    PluginPage gone;
    ASSERT_EQ(gone.call("webnet.do", "registerSelf", "{}").size(), 1u);
    EXPECT_EQ(hub->servletArray().size(), 1u);
  }
  EXPECT_TRUE(hub->servletArray().empty());
}

TEST(PylWebnetPlugin, DirectCallsAnswerThroughTheirTask) {
  appnet::TnqPushWebsocket::resetSharedInstance();
  auto plugin = std::make_shared<PylWebnetPlugin>();
  plugintest::DirectCall reg(*plugin, "webnet.do", "registerSelf", nullptr);
  EXPECT_FALSE(reg.handled);
  EXPECT_EQ(reg.task->timeoutValue(), 0);
  EXPECT_TRUE(plugin->continueFlag());
  ASSERT_EQ(reg.data().size(), 1u);
  EXPECT_EQ(reg.data()[0], (pf::Value{{"data", {{"moduleId", plugin->servletId()}, {"wdata", "registerSuccess"}}}}));

  // A text reaching a plug-in whose page has gone is dropped; the close still answers.
  plugin->receiveMessage("lost");
  auto other = std::make_shared<PylWebnetPlugin>();
  plugintest::DirectCall unreg(*other, "webnet.do", "unregisterSelf", pf::Value{{"moduleId", plugin->servletId()}});
  EXPECT_TRUE(unreg.handled);
  EXPECT_FALSE(plugin->continueFlag());
  EXPECT_EQ(reg.data().back(), (pf::Value{{"wdata", "closeServlet"}}));
  EXPECT_TRUE(appnet::TnqPushWebsocket::sharedInstance()->servletArray().empty());

  plugin->keepTask(reg.task);
  plugin->keepTask(reg.task);
  plugin->keepTask(unreg.task);
  plugin->removeTaskById("direct1");
  EXPECT_EQ(plugin->taskArray().size(), 1u);
  appnet::TnqPushWebsocket::resetSharedInstance();
}

}  // namespace
}  // namespace app
