// "chart.do" driven by a real page through its web view: charts laid into the page's scroll view,
// moved, loaded, shown, hidden and removed, with the answers the page receives.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylKLinePlugin.h"
#include "app/PylPluginHandle.h"
#include "container/MwJSWebview.h"
#include "container/MwServletManager.h"
#include "kline/KLineManager.h"
#include "kline/SeriesServer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ScrollView.h"
#include "support/TestSupport.h"

namespace app {
namespace {

class ChartPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    container::MwServletManager::resetForTesting();
    kline::PylKLineManager::resetForTesting();
    PylPluginHandle handle;
    handle.setPluginArray(pf::Value::array({pf::Value{{"chart.do", "PylKLinePlugin"}}}));
    handle.registerPlugin();
    page = container::MwJSWebview::make(pf::Rect(0, 0, 375, 667));
    const auto pages = fxtest::dataPath("container/pages");
    page->webView()->setPageRoot(pages.string());
    page->webView()->loadFile((pages / "bridge.html").string());
    ASSERT_TRUE(page->webView()->isLoaded());
  }
  void TearDown() override {
    kline::PylKLineManager::resetForTesting();
    container::MwServletManager::resetForTesting();
    pf::Bundle::setMainPath({});
  }

  // Calls chart.do from the page and answers the page's last answer (null when none came).
  pf::Value call(const std::string& action, const std::string& args) {
    std::size_t before = answerCount();
    page->stringByEvaluatingJavaScriptFromString("call('chart.do', '" + action + "', " + args + ", {})");
    for (int i = 0; i < 6; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
    if (answerCount() == before) return nullptr;
    return pf::parseJson(page->stringByEvaluatingJavaScriptFromString("last()")).value_or(nullptr);
  }
  std::size_t answerCount() {
    return std::stoul("0" + page->stringByEvaluatingJavaScriptFromString("answers.length"));
  }

  pf::LogCapture log;
  std::shared_ptr<container::MwJSWebview> page;
};

TEST_F(ChartPluginTest, ChartsLiveInThePageScrollView) {
  auto scroll = page->scrollView();
  std::size_t pageViews = scroll->subviews().size();
  ASSERT_GE(pageViews, 1u);
  pf::Value created = call("create", "{left: 10, top: 20, right: 310, bottom: 220, zaxis: 1}");
  EXPECT_EQ(created["data"], (pf::Value{{"chartId", "klineId+++1"}}));
  EXPECT_EQ(created["result"], 0);
  auto& charts = kline::PylKLineManager::sharedInstance();
  auto chart = charts.getKLineViewById("klineId+++1");
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->frame(), pf::Rect(10, 20, 300, 200));
  ASSERT_EQ(scroll->subviews().size(), pageViews + 1);
  EXPECT_EQ(scroll->subviews()[1], chart);

  EXPECT_EQ(call("relayout", "{left: 0.9, top: 5, right: 375, bottom: 305, chartId: 'klineId+++1'}")["data"],
            (pf::Value{{"chartId", "klineId+++1"}}));
  EXPECT_EQ(chart->frame(), pf::Rect(0, 5, 375, 300));

  // A series of the application package, without "available": the URL's or 4.
  fxtest::TempDir dir;
  pf::Bundle::setMainPath(dir.path());
  EXPECT_EQ(call("start", "{chartId: 'klineId+++1', url: 'local://x?type=6'}")["data"],
            (pf::Value{{"chartId", "klineId+++1"}, {"url", "local://x?type=6"}}));
  EXPECT_EQ(charts.getKLineManagerByViewId("klineId+++1")->klineDataManager()->available(), 4);

  call("hide", "{chartId: 'klineId+++1'}");
  EXPECT_TRUE(chart->isHidden());
  call("show", "{chartId: 'klineId+++1'}");
  EXPECT_FALSE(chart->isHidden());

  EXPECT_EQ(call("dismiss", "{chartId: 'klineId+++1'}")["data"], (pf::Value{{"chartId", "klineId+++1"}}));
  EXPECT_FALSE(chart->superview());
  EXPECT_FALSE(charts.getSavedKlineModelById("klineId+++1"));
  // Unknown ids still answer success and change nothing.
  EXPECT_EQ(call("show", "{chartId: 'klineId+++1'}")["result"], 0);
  EXPECT_EQ(call("relayout", "{left: 0, top: 0, right: 10, bottom: 10, chartId: 'klineId+++1'}")["result"], 0);
  EXPECT_EQ(chart->frame(), pf::Rect(0, 5, 375, 300));
  // Another word answers nothing: its call stays open until its time-out.
  EXPECT_TRUE(call("spin", "{}").is_null());
  EXPECT_EQ(page->openCallCount(), 1u);
}

// Edges no page has (the ends of the 64-bit range, as numbers or texts, and doubles beyond it)
// make a frame within the page's reach: never a wrapped width, and never undefined arithmetic.
// (A frame of negative sides stands as the same rectangle with positive ones.)
TEST_F(ChartPluginTest, ExtremeEdgesMakeAClampedFrame) {
  const double m = PylKLinePlugin::kMaxPageCoordinate;
  struct Case {
    std::string edges;
    pf::Rect frame;
  };
  for (const Case& c : std::vector<Case>{
           {"left: -9223372036854775808, top: 0, right: 9223372036854775807, bottom: 10", {-m, 0, m, 10}},
           {"left: '-9223372036854775808', top: '-9223372036854775808', right: '9223372036854775807', "
            "bottom: '9223372036854775807'",
            {-m, -m, m, m}},
           {"left: 9223372036854775807, top: 1e308, right: -9223372036854775808, bottom: -1e308", {0, 0, m, m}},
           {"left: '99999999999999999999999', top: 5, right: 12, bottom: 'x'", {0, 0, m, 5}},
           {"left: 10.7, top: 20, right: '310.2', bottom: 220", {10, 20, 300, 200}}}) {
    pf::Value created = call("create", "{" + c.edges + ", zaxis: 1}");
    ASSERT_TRUE(created["data"].contains("chartId")) << c.edges;
    const std::string id = created["data"]["chartId"].get<std::string>();
    auto chart = kline::PylKLineManager::sharedInstance().getKLineViewById(id);
    ASSERT_TRUE(chart) << c.edges;
    EXPECT_EQ(chart->frame(), c.frame) << c.edges;
    call("relayout", "{" + c.edges + ", chartId: '" + id + "'}");
    EXPECT_EQ(chart->frame(), c.frame) << c.edges;
    call("dismiss", "{chartId: '" + id + "'}");
  }
}

// A chart belongs to the page load that created it. When that page goes (a reload, a link, another
// file, the web view's end) its charts leave the page and the pool, and their refresh asks the
// server nothing more however long the clock runs.
TEST_F(ChartPluginTest, ChartsGoWithTheirPage) {
  auto& server = klinetest::SeriesServer::shared();
  const auto pages = fxtest::dataPath("container/pages");
  const std::string url = server.http("/fx/getGZipRateRange.shtml?code=USD&type=4");
  pf::VirtualTimeScope time;
  auto& charts = kline::PylKLineManager::sharedInstance();
  auto spin = [](const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 20); };
  auto chartViewsOnPage = [](const std::shared_ptr<pf::ScrollView>& scroll) {
    std::size_t n = 0;
    for (const auto& view : scroll->subviews()) n += view->className() == "TnqKLineView";
    return n;
  };
  const std::vector<std::string> ways = {"reload", "link", "loadFile", "web view"};
  for (const std::string& way : ways) {
    SCOPED_TRACE(way);
    std::vector<std::weak_ptr<kline::KLineManager>> managers;
    std::vector<std::shared_ptr<pf::View>> views;
    for (int i = 0; i < 2; ++i) {
      const pf::Value id = call("create", "{left: 0, top: 0, right: 300, bottom: 200, zaxis: 1}")["data"]["chartId"];
      ASSERT_TRUE(id.is_string());
      call("start", "{chartId: '" + id.get<std::string>() + "', url: '" + url + "'}");
      auto manager = charts.getKLineManagerByViewId(id.get<std::string>());
      ASSERT_TRUE(manager);
      ASSERT_TRUE(spin([&] { return !manager->loadingData; }));
      managers.push_back(manager);
      views.push_back(manager->klineView);
    }
    auto scroll = page->scrollView();
    ASSERT_EQ(chartViewsOnPage(scroll), 2u);
    // While the page lives, each chart asks every 5 seconds.
    const int living = server.asked();
    log.clear();
    time.advance(5);
    ASSERT_TRUE(spin([&] { return server.asked() >= living + 2; }));
    EXPECT_TRUE(log.contains("getLastRateRange"));

    if (way == "reload") {
      page->stringByEvaluatingJavaScriptFromString("location.reload()");
    } else if (way == "link") {
      page->stringByEvaluatingJavaScriptFromString(
          "var a = document.createElement('a'); a.href = 'second.html'; document.body.appendChild(a); a.click()");
    } else if (way == "loadFile") {
      page->webView()->loadFile((pages / "second.html").string());
    } else {
      page.reset();
    }
    for (int i = 0; i < 6; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
    if (page) {
      EXPECT_EQ(std::filesystem::path(page->webView()->currentPath()).filename(),
                way == "reload" ? "bridge.html" : "second.html");
    }

    EXPECT_TRUE(charts.klineManagerPool.empty());
    EXPECT_EQ(chartViewsOnPage(scroll), 0u);
    for (const auto& view : views) EXPECT_FALSE(view->superview());
    for (const auto& manager : managers) EXPECT_TRUE(manager.expired()) << "nothing is left to ask";
    log.clear();
    const int gone = server.asked();
    for (int period = 0; period < 6; ++period) {
      time.advance(5);
      for (int i = 0; i < 6; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
    }
    EXPECT_FALSE(log.contains("RateRange")) << "no refresh was asked for";
    EXPECT_EQ(server.asked(), gone);

    if (!page) break;
    page->webView()->loadFile((pages / "bridge.html").string());
    ASSERT_TRUE(page->webView()->isLoaded());
  }
}

// A "create" that arrives after its page has gone makes no chart: nothing would ever dismiss it.
TEST_F(ChartPluginTest, NoChartOutlivesAGonePage) {
  auto plugin = std::make_shared<PylKLinePlugin>();
  auto gone = container::MwJSWebview::make(pf::Rect(0, 0, 375, 667));
  plugin->awareAboutJSWebView(gone);
  gone.reset();
  plugintest::DirectCall late(*plugin, "chart.do", "create",
                              pf::Value{{"left", 0}, {"top", 0}, {"right", 100}, {"bottom", 100}, {"zaxis", 0}});
  EXPECT_TRUE(kline::PylKLineManager::sharedInstance().klineManagerPool.empty());
  EXPECT_EQ(late.recorder->kinds(), std::vector<std::string>{"error"}) << "the call ends";

  // The next chart of a living page is the first one.
  EXPECT_EQ(call("create", "{left: 0, top: 0, right: 10, bottom: 10}")["data"]["chartId"], "klineId+++1");
  EXPECT_EQ(kline::PylKLineManager::sharedInstance().klineManagerPool.size(), 1u);
}

}  // namespace
}  // namespace app
