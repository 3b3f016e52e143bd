// "handshakemanager.do" against the loopback bank server: the environment switch forgets the
// cookies and the session, negotiates anew under "/front/" or "/mnfront/" and answers the page
// once with the outcome.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylHandShakePlugin.h"
#include "container/StartupSupport.h"

namespace app {
namespace {

using plugintest::PluginPage;

// What the application's framework listener does with a key negotiation's result.
struct HandShakeReposter : container::MwFrameworkDelegate {
  bool implements(Operation operation) const override { return operation == Operation::HandShake; }
  void didHandShakeWithResult(const pf::Value& result) override {
    pf::NotificationCenter::defaultCenter().post(HandShakePlugin::kResultNotification, result);
  }
};

class HandShakePluginTest : public container::testing::StartupFixture {
 protected:
  void SetUp() override {
    StartupFixture::SetUp();
    plugintest::registerBuiltInPlugins();
    HandShakePlugin::setFrontHost("");
  }
  void TearDown() override {
    container::MwFramework::getInstance().waitForStartupForTesting();
    plugintest::pump();
    container::MwServletManager::resetForTesting();
    StartupFixture::TearDown();
  }
  pf::Value handshakes() { return container::testing::serverCall(server->baseUrl(), "/stats")["handshakes"]; }
  static bool waitForAnswers(PluginPage& page, std::size_t count) {
    return pf::RunLoop::main()->spinUntil([&] { return page.answerCount() >= count; }, 30);
  }
};

TEST_F(HandShakePluginTest, SwitchNegotiatesAnewWithoutOldCookies) {
  auto reposter = std::make_shared<HandShakeReposter>();
  auto events = std::make_shared<container::testing::RecordingListener>(
      std::vector{container::MwFrameworkDelegate::Operation::HandShake});
  auto& framework = container::MwFramework::getInstance();
  framework.addListener(reposter);
  framework.addListener(events);
  framework.initialization();
  ASSERT_TRUE(waitForEvents(*events, 1));
  ASSERT_FALSE(pf::CookieStorage::shared().cookies().empty()) << "the first session left its cookie";
  const std::size_t before = handshakes().size();

  PluginPage page;
  EXPECT_TRUE(page.call("handshakemanager.do", "changeHandShake", "{envirType: '1'}", "{timeout: 5}").empty());
  ASSERT_TRUE(waitForAnswers(page, 1));
  EXPECT_EQ(page.answersFrom(0)[0]["data"], (pf::Value{{"success", "success"}}));
  EXPECT_EQ(container::MwServerConfiguration::getInstance().getServerBaseUrl(), server->baseUrl() + "/front");
  auto seen = handshakes();
  ASSERT_EQ(seen.size(), before + 1);
  EXPECT_EQ(seen.back(), (pf::Value{{"path", "/front/mwframework.do"}, {"cookie", ""}}));

  // A refused negotiation answers failure to every call that was open, once.
  container::testing::control(*server, {{"refusePath", "/mnfront/"}});
  PluginPage other;
  page.call("handshakemanager.do", "changeHandShake", "{envirType: 2}");
  other.call("handshakemanager.do", "changeHandShake", "{envirType: 'x'}");
  ASSERT_TRUE(waitForAnswers(page, 2));
  ASSERT_TRUE(waitForAnswers(other, 1));
  framework.waitForStartupForTesting();
  plugintest::pump();
  EXPECT_EQ(page.answersFrom(1).size(), 1u);
  EXPECT_EQ(page.answersFrom(1)[0]["data"], (pf::Value{{"success", "failure"}}));
  EXPECT_EQ(other.answersFrom(0).size(), 1u);
  EXPECT_EQ(other.answersFrom(0)[0]["data"], (pf::Value{{"success", "failure"}}));
  EXPECT_EQ(handshakes().back()["path"], "/mnfront/mwframework.do");
  EXPECT_EQ(container::MwServerConfiguration::getInstance().getServerBaseUrl(), server->baseUrl() + "/mnfront")
      << "the new environment stays after a failure";
  EXPECT_EQ(page.page->openCallCount(), 0u);
  EXPECT_EQ(other.page->openCallCount(), 0u);

  auto unknown = page.call("handshakemanager.do", "status", "{}");
  ASSERT_EQ(unknown.size(), 1u);
  EXPECT_FALSE(unknown[0].contains("data"));
}

TEST_F(HandShakePluginTest, OnlyDictionariesWithResultZeroOrOneAnswer) {
  for (const auto& [type, path] : std::vector<std::pair<pf::Value, std::string>>{
           {1, "/front/"}, {"1", "/front/"}, {" 1", "/front/"}, {0, "/mnfront/"}, {"0", "/mnfront/"},
           {2, "/mnfront/"}, {"abc", "/mnfront/"}, {nullptr, "/mnfront/"}, {pf::Value::array({1}), "/mnfront/"}})
    EXPECT_EQ(HandShakePlugin::environmentBaseUrl(pf::integerValue(type)), server->baseUrl() + path) << type.dump();
  HandShakePlugin::setFrontHost("https://fx.example:8443");
  EXPECT_EQ(HandShakePlugin::environmentBaseUrl(1), "https://fx.example:8443/front/");
  HandShakePlugin::setFrontHost("");

  // No framework listener reposts here: the results below are the only ones.
  auto plugin = std::make_shared<HandShakePlugin>();
  plugintest::DirectCall call(*plugin, "handshakemanager.do", "changeHandShake", pf::Value{{"envirType", 1}});
  EXPECT_TRUE(call.handled);
  EXPECT_TRUE(plugin->continueFlag());
  EXPECT_EQ(call.task->timeoutValue(), 0);
  auto& center = pf::NotificationCenter::defaultCenter();
  center.post(HandShakePlugin::kResultNotification, 0);
  center.post(HandShakePlugin::kResultNotification, pf::Value{{"result", 2}});
  EXPECT_TRUE(call.recorder->answers.empty());
  center.post(HandShakePlugin::kResultNotification, pf::Value{{"result", "1"}, {"reason", "passwd"}});
  center.post(HandShakePlugin::kResultNotification, pf::Value{{"result", 0}});
  ASSERT_EQ(call.data().size(), 1u) << "answered once";
  EXPECT_EQ(call.data()[0], (pf::Value{{"success", "failure"}}));
  EXPECT_FALSE(plugin->continueFlag());
}

}  // namespace
}  // namespace app
