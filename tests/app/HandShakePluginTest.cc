// "handshakemanager.do" against the loopback bank server: the environment switch forgets the
// cookies and the session, negotiates anew under "/front/" or "/mnfront/" and answers the page
// once with the outcome.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylHandShakePlugin.h"
#include "container/StartupSupport.h"
#include "platform/net/Url.h"

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

// The environments keep the front-end host as written (an IPv6 literal bracketed, its zone id
// with it), taken from the configuration's "front-url" where it is set.
TEST_F(HandShakePluginTest, EnvironmentsKeepTheHostAsWritten) {
  struct Case {
    std::string base, front, mnfront;
  };
  for (const Case& c : std::vector<Case>{
           {"https://[2001:db8::1]:8443/", "https://[2001:db8::1]:8443/front/", "https://[2001:db8::1]:8443/mnfront/"},
           {"https://[2001:db8::1]/mnfront", "https://[2001:db8::1]/front/", "https://[2001:db8::1]/mnfront/"},
           {"http://[fe80::1%25eth0]:8080/front/x?y=1#z", "http://[fe80::1%25eth0]:8080/front/",
            "http://[fe80::1%25eth0]:8080/mnfront/"},
           {"http://[::ffff:127.0.0.1]:1", "http://[::ffff:127.0.0.1]:1/front/", "http://[::ffff:127.0.0.1]:1/mnfront/"},
           {"https://fx.example/deep/path?q=1", "https://fx.example/front/", "https://fx.example/mnfront/"}}) {
    container::MwServerConfiguration::getInstance().setServerBaseUrl(c.base);
    EXPECT_EQ(HandShakePlugin::environmentBaseUrl(1), c.front) << c.base;
    EXPECT_EQ(HandShakePlugin::environmentBaseUrl(7), c.mnfront) << c.base;
  }
  auto& configuration = container::MwConfiguration::getInstance();
  configuration.setValue("https://[2001:db8::2]:9443/front/", "front-url");
  EXPECT_EQ(HandShakePlugin::environmentBaseUrl(1), "https://[2001:db8::2]:9443/front/");
  EXPECT_EQ(HandShakePlugin::environmentBaseUrl(0), "https://[2001:db8::2]:9443/mnfront/");

  // A switch from a page: the loopback bank under its IPv6 name refuses the connection, the
  // negotiation fails, and the base URL in force is the bracketed one, which still parses.
  const std::string port = std::to_string(*pf::Url::parse(server->baseUrl())->port());
  configuration.setValue("http://[::1]:" + port + "/front/", "front-url");
  auto reposter = std::make_shared<HandShakeReposter>();
  container::MwFramework::getInstance().addListener(reposter);
  PluginPage page;
  page.call("handshakemanager.do", "changeHandShake", "{envirType: 1}");
  ASSERT_TRUE(waitForAnswers(page, 1));
  const std::string inForce = container::MwServerConfiguration::getInstance().getServerBaseUrl();
  EXPECT_EQ(inForce, "http://[::1]:" + port + "/front");
  ASSERT_TRUE(pf::Url::parse(inForce));
  EXPECT_EQ(pf::Url::parse(inForce)->host(), "::1");

  // Neither a configured nor a current host: nothing to switch to, the call fails at once and
  // the base URL stays.
  configuration.setValue("not a url", "front-url");
  container::MwServerConfiguration::getInstance().setServerBaseUrl("");
  auto stranded = page.call("handshakemanager.do", "changeHandShake", "{envirType: 1}");
  ASSERT_EQ(stranded.size(), 1u);
  EXPECT_EQ(stranded[0]["data"], (pf::Value{{"success", "failure"}}));
  EXPECT_EQ(container::MwServerConfiguration::getInstance().getServerBaseUrl(), "");
}

TEST_F(HandShakePluginTest, OnlyDictionariesWithResultZeroOrOneAnswer) {
  for (const auto& [type, path] : std::vector<std::pair<pf::Value, std::string>>{
           {1, "/front/"}, {"1", "/front/"}, {" 1", "/front/"}, {0, "/mnfront/"}, {"0", "/mnfront/"},
           {2, "/mnfront/"}, {"abc", "/mnfront/"}, {nullptr, "/mnfront/"}, {pf::Value::array({1}), "/mnfront/"}})
    EXPECT_EQ(HandShakePlugin::environmentBaseUrl(pf::integerValue(type)), server->baseUrl() + path) << type.dump();

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
