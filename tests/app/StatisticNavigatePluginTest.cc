// "statistics.do" reads the device bind key; "openapp.do" opens another application or its
// download address; "HttpEngine.do" answers its one operation. From a real page and directly.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylHttpEnginePlugin.h"
#include "app/PylNavigatePlugin.h"
#include "app/PylStatisticPlugin.h"
#include "container/MwSessionManager.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"

namespace app {
namespace {

using plugintest::PluginPage;

class SmallPluginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Application::shared().reset();
    container::MwSessionManager::resetForTesting();
    plugintest::registerBuiltInPlugins();
  }
  void TearDown() override {
    pf::Application::shared().reset();
    container::MwSessionManager::resetForTesting();
    container::MwServletManager::resetForTesting();
  }
  pf::LogCapture log;
  PluginPage page;
};

TEST_F(SmallPluginsTest, StatisticsAnswersTheBindKey) {
  auto none = page.call("statistics.do", "getStatistic", "{}");
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0]["data"], (pf::Value{{"wdata", ""}})) << "no bind key reads as an empty text";

  container::MwSessionManager::getInstance().setBindKey("bk-7f3a");
  EXPECT_EQ(page.call("statistics.do", "getStatistic", "{}").at(0)["data"], (pf::Value{{"wdata", "bk-7f3a"}}));

  EXPECT_TRUE(page.call("statistics.do", "getstatistic", "{}").empty());
  EXPECT_TRUE(log.contains("handled: NO"));
  StatisticPlugin plugin;
  plugin.setContinueFlag(true);
  plugintest::DirectCall direct(plugin, "statistics.do", "getStatistic", nullptr);
  EXPECT_TRUE(direct.handled);
  EXPECT_FALSE(plugin.continueFlag());
  plugintest::DirectCall unknown(plugin, "statistics.do", "other", nullptr);
  EXPECT_FALSE(unknown.handled);
  EXPECT_TRUE(unknown.recorder->answers.empty());
}

TEST_F(SmallPluginsTest, OpenAppPrefersTheSchemeThenTheDownload) {
  std::vector<std::string> received;
  pf::Application::shared().installApplication("com.example.fxwallet", {"fxwallet"},
                                                [&](const std::string& url, const std::string&) { received.push_back(url); });
  pf::Application::shared().addOpenableScheme("https");

  auto installed = page.call("openapp.do", "opener",
                             "{IOS_URLScheme: 'fxwallet://open?from=fx', IOS_DownloadURL: 'https://example.com/get'}");
  ASSERT_EQ(installed.size(), 1u) << "answered at once";
  EXPECT_EQ(installed[0]["result"], 0);
  EXPECT_FALSE(installed[0].contains("data"));
  plugintest::pump();
  EXPECT_EQ(received, std::vector<std::string>{"fxwallet://open?from=fx"});

  EXPECT_EQ(page.call("openapp.do", "opener", "{IOS_URLScheme: 'nosuchapp://x', IOS_DownloadURL: 'https://example.com/get'}")
                .size(),
            1u);
  EXPECT_EQ(pf::Application::shared().openedURLs().back(), "https://example.com/get");

  // Arguments of other types open nothing and are still answered.
  const std::size_t opened = pf::Application::shared().openedURLs().size();
  EXPECT_EQ(page.call("openapp.do", "opener", "{IOS_URLScheme: 5, IOS_DownloadURL: ['x']}").size(), 1u);
  EXPECT_EQ(page.call("openapp.do", "close", "{}").size(), 1u);
  EXPECT_EQ(pf::Application::shared().openedURLs().size(), opened);
}

TEST_F(SmallPluginsTest, HttpEngineAnswersStartWebnetDirectly) {
  auto answers = page.call("HttpEngine.do", "startWebnet", "{}");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], (pf::Value{{"key", "YES"}, {"result", 0}, {"responseId", answers[0]["responseId"]}}))
      << "not in the answer record";
  EXPECT_TRUE(page.call("HttpEngine.do", "stopWebnet", "{}").empty());
}

}  // namespace
}  // namespace app
