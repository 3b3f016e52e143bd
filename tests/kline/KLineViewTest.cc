#include <gtest/gtest.h>

#include <cmath>

#include "ChartScenes.h"
#include "kline/KLineTestSupport.h"
#include "kline/SeriesEncoder.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "kline/TnqKLineView.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Screen.h"

using namespace kline;

namespace {

std::shared_ptr<TnqKLineView> chart(double w = 300, double h = 300) {
  auto v = TnqKLineView::make({0, 0, w, h});
  v->start();
  return v;
}

TradeRow row(double open, double close, double low, double high, double t = 0) {
  auto r = std::make_shared<TradeModel>();
  r->open = priceText(open);
  r->close = priceText(close);
  r->low = priceText(low);
  r->high = priceText(high);
  r->timestamp = t;
  return r;
}

void drainMainQueue() { pf::RunLoop::main()->spinUntil([] { return false; }, 0.02); }

struct Recorder : LineViewProctocol {
  int updates = 0;
  std::size_t visible = 0;
  void klineViewDidUpdate(TnqKLineView&, const std::vector<PointsModel>& v) override {
    ++updates;
    visible = v.size();
  }
};

}  // namespace

TEST(KLineView, LayoutOfA300HighChart) {
  auto v = chart(300, 300);
  EXPECT_EQ(v->containerView->frame(), pf::Rect(0, 40, 300, 240));
  EXPECT_EQ(v->mainView->frame(), pf::Rect(0, 30, 300, 180));
  EXPECT_EQ(v->lineSeparate1->frame().y(), 60);
  EXPECT_EQ(v->lineSeparate2->frame().y(), 121);
  EXPECT_EQ(v->lineSeparate3->frame().y(), 182);
  // Axis labels centred on the grid heights, the first and last covering the frame's edges.
  EXPECT_EQ(v->ratioLabel1->frame(), pf::Rect(10, 0, 50, 30));
  EXPECT_EQ(v->ratioLabel2->center().y, 60);
  EXPECT_EQ(v->ratioLabel3->center().y, 120);
  EXPECT_EQ(v->ratioLabel4->center().y, 180);
  EXPECT_EQ(v->ratioLabel5->frame().y() + v->ratioLabel5->frame().height(), 240);
  EXPECT_EQ(v->benginDateLabel->frame(), pf::Rect(10, 280, 100, 20));
  EXPECT_EQ(v->endDateLabel->frame(), pf::Rect(190, 280, 100, 20));
  EXPECT_EQ(v->highLabel->frame(), pf::Rect(10, 18, 70, 20));
  EXPECT_EQ(v->lowLabel->frame().x(), 220);
  EXPECT_EQ(v->MA5Label->font().pointSize, 9);
  EXPECT_EQ(v->MA10Label->font().pointSize, 10);
  EXPECT_TRUE(v->klineTypeLabel->isHidden());
  EXPECT_EQ(v->timeSeparate1->frame(), pf::Rect(100, 40, 1, 240));
  EXPECT_EQ(v->mainView->decelerationRate, 0.0);
  EXPECT_EQ(v->longPressGestureRecognizer->minimumPressDuration, static_cast<double>(0.2f));

  // Too small a box gives empty sizes, never negative ones.
  auto tiny = chart(10, 20);
  EXPECT_EQ(tiny->boxHeight, 0);
  EXPECT_GE(tiny->containerView->frame().height(), 0);
  tiny->drawLine(chartscenes::series(30));
  EXPECT_LE(tiny->kline->points.size(), 30u);
}

TEST(KLineView, WindowOnTheNewestRows) {
  auto v = chart();
  auto rec = std::make_shared<Recorder>();
  v->delegate = rec;
  v->drawLine(chartscenes::series(100));
  EXPECT_TRUE(v->initReady);
  EXPECT_EQ(v->offset.x, 750);
  EXPECT_EQ(v->kline->points.size(), 29u);
  EXPECT_EQ(v->kline->points.front().data, v->dataArray[71]);
  EXPECT_EQ(v->oldIndex, 100);
  EXPECT_EQ(v->kline->lineWidth, 10.5);
  EXPECT_EQ(v->mainView->contentSize().width, 1060);
  EXPECT_EQ(v->chooseDayModel, v->dataArray[99]);
  EXPECT_EQ(rec->updates, 1);
  EXPECT_EQ(rec->visible, 29u);
  // The candle layer stands over the visible content, its points inside it.
  EXPECT_EQ(v->kline->frame().x(), 750);
  EXPECT_DOUBLE_EQ(v->kline->points.front().open.x, 71 * 10.5 + 5.25 - 750);

  auto few = chart();
  few->drawLine(chartscenes::series(20));
  EXPECT_EQ(few->kline->points.size(), 20u);
  EXPECT_EQ(few->mainView->contentOffset().x, 0);
}

TEST(KLineView, ScrollingMovesOneSlotPerNotification) {
  auto v = chart();
  v->drawLine(chartscenes::series(100));
  v->mainView->setContentOffset({500, 0});
  EXPECT_EQ(v->offset.x, 739.5);
  EXPECT_EQ(v->kline->points.front().data, v->dataArray[70]);
  v->mainView->setContentOffset({740, 0});
  EXPECT_EQ(v->offset.x, 750);
  v->mainView->dragBy(3, 0);
  EXPECT_EQ(v->offset.x, 760.5);
  EXPECT_EQ(v->oldIndex, 100);
  // Every visible candle stands at its row's slot in the window.
  EXPECT_DOUBLE_EQ(v->kline->points.back().open.x + v->kline->frame().x(), 99 * 10.5 + 5.25);
  v->mainView->setContentOffset({-5, 0});
  EXPECT_EQ(v->offset.x, 0);
  EXPECT_EQ(v->kline->points.front().data, v->dataArray[0]);
  // Beyond the right end: the window moves without a redraw.
  v->mainView->setContentOffset({900, 0});
  EXPECT_EQ(v->offset.x, 1060 - 300);
  EXPECT_EQ(v->kline->points.front().data, v->dataArray[0]);
}

TEST(KLineView, PinchStaysWithinItsBoundsAndReloadResetsIt) {
  auto v = chart();
  v->drawLine(chartscenes::series(100));
  for (int i = 0; i < 150; ++i) v->pinchGesture->injectPinch(pf::GestureState::Changed, 1.2);
  EXPECT_FALSE(v->initReady);
  drainMainQueue();
  EXPECT_NEAR(v->kLineWidth, 20.0, 0.1);
  EXPECT_EQ(v->oldIndex, 100);
  EXPECT_EQ(v->kline->points.back().data, v->dataArray[99]);
  for (int i = 0; i < 300; ++i) v->pinchGesture->injectPinch(pf::GestureState::Changed, 0.8);
  drainMainQueue();
  EXPECT_LE(v->kLineWidth, 4.0);
  EXPECT_GT(v->kLineWidth, 3.89);
  v->pinchGesture->injectPinch(pf::GestureState::Changed, 1.0);
  v->pinchGesture->injectPinch(pf::GestureState::Ended, 1.0);
  EXPECT_TRUE(v->initReady);
  v->reloadData();
  EXPECT_EQ(v->kLineWidth, 10.0);
}

// The redraws a pinch queued run after it ended: each keeps the window's right end, and the
// offsets they set are not taken for the user's scrolls.
TEST(KLineView, LateZoomRedrawsKeepTheNewestRowsInView) {
  auto v = chart();
  v->drawLine(chartscenes::series(100));
  for (int i = 0; i < 60; ++i) v->pinchGesture->injectPinch(pf::GestureState::Changed, 0.5);
  v->pinchGesture->injectPinch(pf::GestureState::Ended, 0.5);
  EXPECT_TRUE(v->initReady);
  drainMainQueue();
  const double s = v->slot();
  ASSERT_NEAR(s, 4.5, 1e-9);
  // 67 slots fit (300 / 4.5 = 66.7, plus one): rows 33..99, the last ending at the box's edge.
  const std::int64_t end = 100, c = static_cast<std::int64_t>(300 / s) + 1;
  EXPECT_EQ(v->oldIndex, end);
  EXPECT_DOUBLE_EQ(v->mainView->contentOffset().x, end * s - 300 + v->kLinePadding);
  EXPECT_EQ(v->offset, v->mainView->contentOffset());
  EXPECT_EQ(v->kline->frame().x(), v->offset.x);
  ASSERT_EQ(v->kline->points.size(), static_cast<std::size_t>(c));
  EXPECT_EQ(v->kline->points.front().data, v->dataArray[end - c]);
  EXPECT_EQ(v->kline->points.back().data, v->dataArray[99]);
  // Candles cover the box from edge to edge.
  EXPECT_LT(v->kline->points.front().open.x, s);
  EXPECT_GT(v->kline->points.back().open.x, 300 - s);
  // A real scroll afterwards still moves the window by one slot.
  double before = v->offset.x;
  v->mainView->dragBy(-2, 0);
  EXPECT_DOUBLE_EQ(v->offset.x, before - s);
}

TEST(KLineView, HeaderAxisAndFormats) {
  klinetest::LocaleScope gregorian("en_US_POSIX");  // the texts expected are Gregorian, in ASCII digits
  klinetest::ZoneScope zone("Asia/Shanghai");
  auto v = chart();
  v->setAvailable(4);
  auto r = row(1.2, 1.25, 1.1, 1.3, 1767317400);
  v->drawLine({r});
  EXPECT_EQ(v->maxValue, 1.3f);
  EXPECT_EQ(v->minValue, 1.1f);
  EXPECT_EQ(v->ratioLabel1->text(), "1.3333");
  EXPECT_EQ(v->ratioLabel2->text(), "1.2667");
  EXPECT_EQ(v->ratioLabel3->text(), "1.2000");
  EXPECT_EQ(v->ratioLabel4->text(), "1.1333");
  EXPECT_EQ(v->ratioLabel5->text(), "1.0667");
  EXPECT_EQ(v->MA10Label->text(), "MA10:0.0000");
  EXPECT_EQ(v->highLabel->text(), "高:1.3000");
  EXPECT_EQ(v->chooseDayLabel->text(), "2026-01-02 09:30");
  EXPECT_EQ(v->getFormatString(), "%.04f");
  v->setAvailable(2);
  v->changeChooseDay();
  EXPECT_EQ(v->highLabel->text(), "高:1.30");
  EXPECT_EQ(v->getFormatString(), "%.02f");
  v->setAvailable(-3);
  EXPECT_EQ(v->getFormatString(), "%.00f");
  v->setKlineType(6);
  EXPECT_EQ(v->getKlineTypeStringEncoding(), "日k");
  EXPECT_EQ(v->getTimeWithKlineType(1767317400), "2026-01-02");
  v->setKlineType(8);
  EXPECT_EQ(v->getTimeWithKlineType(1767317400), "2026-01");
  v->setKlineType(9);
  EXPECT_EQ(v->getKlineTypeStringEncoding(), "");
  EXPECT_EQ(v->getTimeWithKlineType(1767317400), "");
}

TEST(KLineView, TipsStandAtTheEarliestExtremeTowardsTheMiddle) {
  pf::Screen::main()->setBounds({0, 0, 375, 667});
  auto v = chart();
  v->drawLine({row(1.2, 1.25, 1.1, 1.3), row(1.2, 1.25, 1.15, 1.3), row(1.2, 1.25, 1.12, 1.2)});
  // The first of the two highest candles, in the left half: the tip to its right.
  EXPECT_DOUBLE_EQ(v->realMaxPoint.x, 5.25);
  EXPECT_DOUBLE_EQ(v->maxValueLabel->center().x, 5.25 + 375 * 60.0 / 750);
  EXPECT_DOUBLE_EQ(v->maxValueLabel->center().y, 0 + 30 + 40);
  EXPECT_EQ(v->maxValueLabel->text(), "1.3000");
  EXPECT_EQ(v->minValueLabel->text(), "1.1000");

  auto wide = chart();
  auto rows = chartscenes::series(100);
  wide->drawLine(rows);
  double highest = 0;
  std::size_t at = 0;
  for (std::size_t i = 71; i < 100; ++i)
    if (floatValueOf(rows[i]->high) > highest) highest = floatValueOf(rows[at = i]->high);
  double x = wide->realMaxPoint.x;
  EXPECT_DOUBLE_EQ(x, (at - 71) * 10.5 + 5.25);
  EXPECT_DOUBLE_EQ(wide->maxValueLabel->center().x, x < 150 ? x + 30 : x - 30);
  pf::Screen::main()->reset();
}

TEST(KLineView, CrossHairSnapsToTheCandleUnderTheFinger) {
  klinetest::ZoneScope zone("Asia/Shanghai");
  auto v = chart();
  v->setKlineType(4);
  v->drawLine(chartscenes::series(100));
  auto& press = *v->longPressGestureRecognizer;
  // Between the candles of rows 80 and 81 (content x 850 lies in row 80's slot).
  press.setLocationInView({850, 90});
  press.injectState(pf::GestureState::Began);
  EXPECT_FALSE(v->verticalLine->isHidden());
  EXPECT_DOUBLE_EQ(v->verticalLine->frame().x(), 80 * 10.5 + 5.25 - 750);
  EXPECT_EQ(v->horizontalLine->frame(), pf::Rect(0, 90 + 30 + 40, 300, 1));
  EXPECT_EQ(v->chooseDayModel, v->dataArray[80]);
  EXPECT_EQ(v->longPressDateLabel->text(), v->getTimeWithKlineType(v->dataArray[80]->timestamp));
  EXPECT_EQ(v->longPressDataLabel->text(), v->formatPrice(v->valueFromPoint({0, 90}, v->mainView->frame())));
  EXPECT_DOUBLE_EQ(v->longPressDateLabel->center().x, v->verticalLine->center().x);
  // Beyond the last candle: the lines follow the finger, the labels stay.
  std::string date = v->longPressDateLabel->text();
  press.setLocationInView({1055, 40});
  press.injectState(pf::GestureState::Changed);
  EXPECT_DOUBLE_EQ(v->verticalLine->frame().x(), 1055 - 750);
  EXPECT_EQ(v->longPressDateLabel->text(), date);
  press.injectState(pf::GestureState::Ended);
  EXPECT_FALSE(v->verticalLine->isHidden());
  v->mainView->setContentOffset({700, 0});
  EXPECT_TRUE(v->verticalLine->isHidden());
  EXPECT_TRUE(v->longPressDataLabel->isHidden());
}

TEST(KLineView, TheCrossHairsDateIsNeverWrittenOverAnAxisDate) {
  klinetest::ZoneScope zone("Asia/Shanghai");
  auto v = chart();
  v->setKlineType(4);
  v->drawLine(chartscenes::series(100));
  auto& press = *v->longPressGestureRecognizer;
  const auto shown = [&] { return std::pair(!v->benginDateLabel->isHidden(), !v->endDateLabel->isHidden()); };
  // The last candle: its date stands where the end date is written.
  press.setLocationInView({99 * 10.5 + 5.25, 90});
  press.injectState(pf::GestureState::Began);
  EXPECT_EQ(shown(), std::pair(true, false));
  // The first visible candle: the begin date gives way instead.
  press.setLocationInView({72 * 10.5, 90});
  press.injectState(pf::GestureState::Changed);
  EXPECT_EQ(shown(), std::pair(false, true));
  // Mid-chart: both axis dates stand beside it.
  press.setLocationInView({86 * 10.5, 90});
  press.injectState(pf::GestureState::Changed);
  EXPECT_EQ(shown(), std::pair(true, true));
  press.setLocationInView({99 * 10.5 + 5.25, 90});
  press.injectState(pf::GestureState::Changed);
  press.injectState(pf::GestureState::Ended);
  // The cross-hair goes with the next scroll, and the axis dates come back.
  v->mainView->setContentOffset({700, 0});
  EXPECT_EQ(shown(), std::pair(true, true));
}

TEST(KLineView, FlatAndEmptySeriesDrawNoNonsense) {
  auto v = chart();
  v->drawLine({row(1.5, 1.5, 1.5, 1.5), row(1.5, 1.5, 1.5, 1.5)});
  EXPECT_EQ(v->maxValue, v->minValue);
  for (const auto& p : v->kline->points) {
    EXPECT_DOUBLE_EQ(p.open.y, 90);  // mid-height of the price area
    EXPECT_TRUE(std::isfinite(p.high.y));
  }
  EXPECT_EQ(TnqKLineView::pointToData({0, 50}, 1.5, 0, 0), 1.5);
  EXPECT_EQ(v->ratioLabel1->text(), "1.5000");
  // Rows with a zero close do not count: the range stays empty, every price at the top.
  auto zero = chart();
  zero->drawLine({row(1, 0, 1, 2)});
  EXPECT_EQ(zero->maxValue, 0.0f);
  EXPECT_EQ(zero->minValue, 3.4028234663852886e38f);
  EXPECT_NEAR(zero->kline->points[0].high.y, 0, 1e-6);
  // An empty series keeps what was drawn.
  v->drawLine({});
  EXPECT_EQ(v->kline->points.size(), 2u);
}

TEST(KLineView, LoadsASeriesByItselfAndTellsItsDelegate) {
  struct Listener : LineViewProctocol {
    std::vector<std::string> heard;
    void beginLoadKlineData() override { heard.push_back("begin"); }
    void endLoadKlineData() override { heard.push_back("end"); }
    void loadKlineDataFailure() override { heard.push_back("failure"); }
  };
  fxtest::TempDir dir;
  pf::Bundle::setMainPath(dir.path());
  auto v = chart();
  auto listener = std::make_shared<Listener>();
  v->delegate = listener;
  v->startWithUrl("local://x?type=5");
  EXPECT_EQ(listener->heard, (std::vector<std::string>{"failure", "begin"}));
  pf::FileManager::writeFile(dir / "getGZipRateRange5.shtml",
                             klinetest::deflateBytes(klinetest::packetOf({"100#0#1#2#3#4#20260101000000", "1#1#1#1#1h"})),
                             false);
  listener->heard.clear();
  v->startWithUrl("local://x?type=5");
  EXPECT_EQ(listener->heard, (std::vector<std::string>{"end", "begin"}));
  EXPECT_EQ(v->dataArray.size(), 2u);
  pf::Bundle::setMainPath({});
}
