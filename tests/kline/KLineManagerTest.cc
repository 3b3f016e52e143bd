#include <gtest/gtest.h>

#include "kline/KLineManager.h"
#include "kline/KLineTestSupport.h"
#include "kline/SeriesEncoder.h"
#include "kline/SeriesServer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/RunLoop.h"
#include "widgets/TnqProgressHUD.h"

using namespace kline;
using klinetest::SeriesServer;

namespace {

class PylKLineManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { PylKLineManager::resetForTesting(); }
  void TearDown() override { PylKLineManager::resetForTesting(); }
  PylKLineManager& charts = PylKLineManager::sharedInstance();

  std::shared_ptr<SavedKlineModel> create() {
    return charts.create(pf::Value{{"l", 10}, {"t", "20"}, {"w", 300}, {"h", 200.7}});
  }
};

bool spin(const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 20); }

}  // namespace

TEST_F(PylKLineManagerTest, ChartsByIdShownHiddenAndRelaidOut) {
  auto first = create();
  auto second = create();
  EXPECT_EQ(first->moduleId, "klineId+++1");
  EXPECT_EQ(second->moduleId, "klineId+++2");
  EXPECT_EQ(first->kline->frame(), pf::Rect(10, 20, 300, 200));
  EXPECT_EQ(first->klineManager->klineView, first->kline);
  EXPECT_EQ(charts.getKLineViewById("klineId+++2"), second->kline);

  charts.hide(pf::Value{{"chartId", "klineId+++1"}});
  EXPECT_TRUE(first->kline->isHidden());
  charts.show(pf::Value{{"chartId", "klineId+++1"}});
  EXPECT_FALSE(first->kline->isHidden());
  charts.hide(pf::Value{{"chartId", "klineId+++9"}});
  EXPECT_FALSE(second->kline->isHidden());

  first->kline->kLineWidth = 15;
  charts.layoutView(pf::Value{{"chartId", "klineId+++1"}, {"l", 0}, {"t", 0}, {"w", 375}, {"h", 300}});
  EXPECT_EQ(first->kline->frame(), pf::Rect(0, 0, 375, 300));
  EXPECT_EQ(first->kline->mainView->frame().height(), 180);
  EXPECT_EQ(first->kline->kLineWidth, 10);

  EXPECT_EQ(charts.dismiss(pf::Value{{"chartId", "klineId+++2"}}), second);
  charts.removeKLineById("klineId+++2");
  EXPECT_FALSE(charts.getSavedKlineModelById("klineId+++2"));
  EXPECT_FALSE(charts.dismiss(pf::Value{{"chartId", "klineId+++2"}}));
  EXPECT_EQ(create()->moduleId, "klineId+++3");  // ids are never reused
  EXPECT_EQ(charts.addKLineView(first->kline)->klineManager, nullptr);
}

TEST_F(PylKLineManagerTest, RefreshAddressNextToTheHistory) {
  auto m = create()->klineManager;
  m->kLineURL = "https://fx.example/a/b/getGZipRateRange.shtml?code=EURUSD&type=4&x";
  m->parseURL();
  EXPECT_EQ(m->hostAddress, "https://fx.example");
  EXPECT_EQ(m->contentAddresss, "a/b/");
  EXPECT_EQ(m->latestDataURL(), "https://fx.example/a/b/getLastRateRange.shtml?code=EURUSD&type=4");
  m->kLineURL = "https://fx.example/getGZipRateRange.shtml";
  m->parseURL();
  EXPECT_EQ(m->currencyCode, "EURUSD");
  EXPECT_EQ(m->latestDataURL(), "https://fx.example/getLastRateRange.shtml?code=EURUSD&type=4");
}

TEST_F(PylKLineManagerTest, FirstLoadUnderAnOverlayThenRefreshEveryFiveSeconds) {
  auto& server = SeriesServer::shared();
  pf::VirtualTimeScope time;
  auto a = create(), b = create();
  charts.start(pf::Value{{"chartId", a->moduleId},
                         {"url", server.http("/fx/getGZipRateRange.shtml?code=USD&type=4")},
                         {"available", "4"}});
  EXPECT_TRUE(widgets::TnqProgressHUD::HUDForView(a->kline));
  EXPECT_TRUE(a->klineManager->loadingData);
  EXPECT_EQ(a->kline->getKlineType(), 4);
  ASSERT_TRUE(spin([&] { return !a->klineManager->loadingData; }));
  EXPECT_FALSE(widgets::TnqProgressHUD::HUDForView(a->kline));
  EXPECT_EQ(a->klineManager->dataArray.size(), static_cast<std::size_t>(SeriesServer::kRows));
  EXPECT_EQ(a->kline->dataArray.size(), a->klineManager->dataArray.size());
  ASSERT_TRUE(a->klineManager->refreshTimer);
  charts.start(pf::Value{{"chartId", b->moduleId}, {"url", server.http("/fx/getGZipRateRange.shtml?type=4")}});
  ASSERT_TRUE(spin([&] { return !b->klineManager->loadingData; }));

  // The refresh packet brings three rows after the last one drawn.
  time.advance(5);
  ASSERT_TRUE(spin([&] { return a->klineManager->dataArray.size() == SeriesServer::kRows + 3; }));
  const TradeRows& rows = a->klineManager->dataArray;
  EXPECT_GT(rows.back()->timestamp, rows[SeriesServer::kRows - 1]->timestamp);
  // Their averages run over the chart's rows, not over the four-row packet alone.
  for (std::size_t i = SeriesServer::kRows; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i]->MA5, KLineDataManager::sumAndAverage(rows, i, 5));
    EXPECT_EQ(rows[i]->MA20, KLineDataManager::sumAndAverage(rows, i, 20));
    EXPECT_TRUE(rows[i]->MA20);
  }
  EXPECT_EQ(a->kline->dataArray.size(), rows.size());
  ASSERT_TRUE(spin([&] { return b->klineManager->dataArray.size() == SeriesServer::kRows + 3; }));

  // Closing one chart stops its refresh only; the other goes on (and finds nothing new).
  charts.removeKLineById(a->moduleId);
  EXPECT_FALSE(a->klineManager->refreshTimer);
  EXPECT_FALSE(a->kline->superview());
  ASSERT_TRUE(b->klineManager->refreshTimer);
  EXPECT_TRUE(b->klineManager->refreshTimer->isValid());
  time.advance(5);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.3);
  EXPECT_EQ(b->klineManager->dataArray.size(), SeriesServer::kRows + 3u);
}

TEST_F(PylKLineManagerTest, FailedFirstLoadHidesTheOverlayAndStartsNoRefresh) {
  fxtest::TempDir dir;
  pf::Bundle::setMainPath(dir.path());
  auto record = create();
  charts.start(pf::Value{{"chartId", record->moduleId}, {"url", "local://rates/getGZipRateRange.shtml?type=2"}});
  EXPECT_FALSE(widgets::TnqProgressHUD::HUDForView(record->kline));
  EXPECT_TRUE(record->klineManager->loadingData);
  EXPECT_FALSE(record->klineManager->refreshTimer);

  // With the package series: loaded at once; the refresh finds the same rows and adds none.
  pf::FileManager::writeFile(dir / "getGZipRateRange2.shtml",
                             klinetest::deflateBytes(klinetest::packetOf({"100#0#1#2#3#4#20260101000000", "1#1#1#1#1h"})),
                             false);
  charts.start(pf::Value{{"chartId", record->moduleId},
                         {"url", "local://rates/getGZipRateRange.shtml?type=2"},
                         {"available", 2}});
  EXPECT_FALSE(record->klineManager->loadingData);
  EXPECT_EQ(record->kline->available(), 4);  // the data manager already existed
  ASSERT_EQ(record->klineManager->dataArray.size(), 2u);
  auto before = record->klineManager->dataArray;
  record->klineManager->getLatestData();
  EXPECT_EQ(record->klineManager->dataArray, before);
  pf::Bundle::setMainPath({});
}
