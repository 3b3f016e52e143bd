// A plug-in called by a real page: registered by name, it answers through the page task with its
// answer record, and answers again while it keeps the call open.

#include <gtest/gtest.h>

#include "app/PylJSContentPlugin.h"
#include "app/PylPlugin.h"
#include "app/PylPluginHandle.h"
#include "app/PylResult.h"
#include "container/MwJSWebview.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ViewController.h"
#include "support/TestSupport.h"

namespace app {
namespace {

// A plug-in as the app's are written: operation from getParameterValue, arguments from getData.
struct QuotePlugin : PylPlugin {
  static inline std::weak_ptr<QuotePlugin> subscribed;
  bool handleRequest(const container::MwServletRequest& request) override {
    const std::string& op = request.getParameterValue();
    if (op == "quote") {
      task()->successWithResult(PylResult(pf::Value{{"code", request.getData()["code"]}, {"price", 7.1}}).getSuccessResult());
      evalJS("document.title = 'quoted'");
      return true;
    }
    if (op == "subscribe") {
      task()->setTimeoutValue(0);
      setContinueFlag(true);
      subscribed = std::static_pointer_cast<QuotePlugin>(shared_from_this());
      return false;
    }
    return false;
  }
};

class PluginCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    container::MwServletManager::resetForTesting();
    container::MwServletClasses::shared().add<QuotePlugin>("TestQuotePlugin");
    PylPluginHandle handle;
    handle.setPluginArray(pf::Value::array({pf::Value{{"quote.do", "TestQuotePlugin"}}}));
    handle.registerPlugin();
    const auto pages = fxtest::dataPath("container/pages");
    page = container::MwJSWebview::make(pf::Rect(0, 0, 320, 480));
    page->webView()->setPageRoot(pages.string());
    page->webView()->loadFile((pages / "bridge.html").string());
  }
  void TearDown() override { container::MwServletManager::resetForTesting(); }
  std::string eval(const std::string& s) { return page->stringByEvaluatingJavaScriptFromString(s); }
  static void pump() {
    for (int i = 0; i < 4; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
  }
  pf::LogCapture log;
  std::shared_ptr<container::MwJSWebview> page;
};

TEST_F(PluginCallTest, RegisteredPluginAnswersItsRecord) {
  eval("call('quote.do', 'quote', {code: 'USDJPY'}, {})");
  pump();
  EXPECT_EQ(pf::parseJson(eval("last()")),
            (pf::Value{{"data", {{"code", "USDJPY"}, {"price", 7.1}}}, {"result", 0}, {"continue", false}, {"responseId", "mwpb1"}}));
  EXPECT_EQ(page->webView()->title(), "quoted") << "evalJS reaches the page";

  eval("call('quote.do', 'nosuch', {}, {})");
  pump();
  EXPECT_EQ(eval("String(answers.length)"), "1") << "a NO from handleRequest answers nothing by itself";
  EXPECT_TRUE(log.contains("handled: NO"));
}

TEST_F(PluginCallTest, ContinuingPluginAnswersThreeTimes) {
  eval("call('quote.do', 'subscribe', {}, {})");
  pump();
  auto plugin = QuotePlugin::subscribed.lock();
  ASSERT_TRUE(plugin);
  EXPECT_EQ(plugin->jsWebView(), page);
  for (int i = 0; i < 3; ++i) plugin->task()->successWithResult(PylResult(pf::Value(i), true).getSuccessResult());
  EXPECT_EQ(eval("answers.map(function (a) { return a.data + ':' + a['continue']; }).join()"), "0:true,1:true,2:true");
  EXPECT_EQ(page->openCallCount(), 1u);
}

TEST_F(PluginCallTest, ContentPluginsContextIsTheirPage) {
  PylJSContentPlugin plugin;
  EXPECT_FALSE(plugin.context());
  plugin.awareAboutJSWebView(page);
  EXPECT_EQ(plugin.context(), page->webView());
  auto other = pf::WebView::make(pf::Rect(0, 0, 10, 10));
  plugin.setContext(other);
  EXPECT_EQ(plugin.context(), other);
}

TEST(PylPlugin, NavControllerFallsBackToTheApplications) {
  auto root = std::make_shared<pf::ViewController>();
  auto appNav = pf::NavigationController::make(root);
  PylPlugin::setApplicationNavController([&] { return appNav; });
  PylPlugin plugin;
  EXPECT_EQ(plugin.navController(), appNav);
  auto own = pf::NavigationController::make(std::make_shared<pf::ViewController>());
  plugin.setNavController(own);
  EXPECT_EQ(plugin.navController(), own);
  own.reset();
  EXPECT_EQ(plugin.navController(), appNav) << "a controller that has gone is replaced";
  PylPlugin::setApplicationNavController({});
}

}  // namespace
}  // namespace app
