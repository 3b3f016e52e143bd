#include "kline/TnqKLineView.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "kline/KLineFormatDate.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Screen.h"
#include "widgets/TnqProgressHUD.h"
#include "platform/foundation/ThreadChecker.h"

namespace kline {

namespace L = KLineLayoutMethods;

namespace {

constexpr double kLargestFloat = 3.4028234663852886e38;

struct Period {
  const char* name;
  std::string (*date)(double);
};
constexpr Period kPeriods[] = {
    {"1分钟线", KLineFormatDate::getDateMinString}, {"5分钟线", KLineFormatDate::getDateMinString},
    {"15分钟线", KLineFormatDate::getDateMinString}, {"30分钟线", KLineFormatDate::getDateMinString},
    {"小时线", KLineFormatDate::getDateHourString}, {"4小时线", KLineFormatDate::getDateHourString},
    {"日k", KLineFormatDate::getDateDayString},      {"周K", KLineFormatDate::getDateDayString},
    {"月K", KLineFormatDate::getDateMonString},
};

const pf::Color kGrey = pf::Color::gray();

pf::Color hex(const char* text) { return ColorHelper::helperColorWithHexString(text, 1.0); }

// Single-precision price of a text, widened.
double priceOf(const std::string& text) { return static_cast<double>(floatValueOf(text)); }
double priceOf(const std::optional<std::string>& text) { return static_cast<double>(floatValueOf(text)); }

// Slot centre: i·s in single precision, s/2 in double.
double slotCentre(std::int64_t i, double s) {
  return static_cast<double>(static_cast<float>(i) * static_cast<float>(s)) + s / 2;
}

}  // namespace

std::shared_ptr<TnqKLineView> TnqKLineView::make(const pf::Rect& frame) {
  auto view = std::make_shared<TnqKLineView>(frame);
  view->initData();
  view->drawBox();
  return view;
}

TnqKLineView::TnqKLineView(const pf::Rect& frame) : View(frame) {}

void TnqKLineView::setKlineType(std::int64_t type) { klineType_ = type; }

std::shared_ptr<KLineDataManager> TnqKLineView::klineManager() {
  if (!klineManager_) klineManager_ = KLineDataManager::make();
  return klineManager_;
}

std::shared_ptr<pf::View> TnqKLineView::bottomVolumeView() {
  if (!bottomVolumeView_) {
    bottomVolumeView_ = pf::View::make({0, mainView->frame().height() + 20, boxWidth, volumeHeight});
    bottomVolumeView_->setBackgroundColor(hex("#222222"));
    bottomVolumeView_->layer().setBorderColor(hex("#444444"));
    bottomVolumeView_->layer().setBorderWidth(0.5);
    bottomVolumeView_->setUserInteractionEnabled(true);
  }
  return bottomVolumeView_;
}

std::shared_ptr<pf::Label> TnqKLineView::label(double size, pf::TextAlignment alignment, bool grey) {
  auto l = pf::Label::make();
  l->setFont(pf::Font::systemFont(size));
  l->setTextAlignment(alignment);
  if (grey) l->setTextColor(kGrey);
  return l;
}

void TnqKLineView::initData() {
  if (isFullScreen) {
    pf::Rect screen = pf::Screen::main()->bounds();
    boxWidth = screen.width() - 60;
    boxHeight = screen.height() - 60;
  } else {
    double h = bounds().height();
    boxWidth = bounds().width();
    boxHeight = h + 2 * ((h - 40 - 20) * -0.125) - 20 - 40;
  }
  // A box smaller than the frame's margins has no room, not a negative one.
  boxWidth = std::max(0.0, boxWidth);
  boxHeight = std::max(0.0, boxHeight);
  volumeHeight = 50.0;
  kLineWidth = 10.0;
  kLinePadding = 0.5;
  isUpdateFinish = true;
  if (klineTypeLabel) klineTypeLabel->setText(getKlineTypeStringEncoding());
}

void TnqKLineView::drawBox() {
  const double H = std::max(0.0, bounds().height() - 60);
  std::weak_ptr<TnqKLineView> weak = std::static_pointer_cast<TnqKLineView>(shared_from_this());

  containerView = pf::View::make({0, 40, boxWidth, H});
  containerView->layer().setBorderWidth(0.5);
  containerView->layer().setBorderColor(pf::Color::lightGray());
  mainView = pf::ScrollView::make({0, H / 8, boxWidth, boxHeight});
  mainView->setUserInteractionEnabled(true);
  mainView->delegate = weak;
  mainView->decelerationRate = 0.0;
  mainView->showsHorizontalScrollIndicator = false;
  kline = std::make_shared<Kline>();
  kline->setBackgroundColor(pf::Color::clear());
  kline->ma5Color = *ColorHelper::RGBWithHexString1("#2e8ae6", 1.0);
  kline->ma10Color = *ColorHelper::RGBWithHexString("#ffa622", 1.0);
  kline->ma20Color = *ColorHelper::RGBWithHexString("#CC2996", 1.0);
  pinchGesture = std::make_shared<pf::PinchGestureRecognizer>([weak](pf::GestureRecognizer& r) {
    if (auto self = weak.lock()) self->touchBoxAction(static_cast<pf::PinchGestureRecognizer&>(r));
  });
  longPressGestureRecognizer = std::make_shared<pf::LongPressGestureRecognizer>([weak](pf::GestureRecognizer& r) {
    if (auto self = weak.lock()) self->gestureRecognizerHandle(static_cast<pf::LongPressGestureRecognizer&>(r));
  });
  longPressGestureRecognizer->minimumPressDuration = static_cast<double>(0.2f);
  longPressGestureRecognizer->allowableMovement = 50.0;
  auto clearView = [] {
    auto v = pf::View::make();
    v->setBackgroundColor(pf::Color::clear());
    return v;
  };
  lineSeparate1 = clearView();
  lineSeparate2 = clearView();
  lineSeparate3 = clearView();
  timeSeparate1 = clearView();
  timeSeparate2 = clearView();
  verticalLine = pf::View::make();
  verticalLine->setBackgroundColor(hex("#999999"));
  horizontalLine = pf::View::make();
  horizontalLine->setBackgroundColor(hex("#999999"));
  benginDateLabel = label(10, pf::TextAlignment::Natural);
  endDateLabel = label(10, pf::TextAlignment::Right);
  longPressDateLabel = label(10, pf::TextAlignment::Center);
  longPressDataLabel = label(10, pf::TextAlignment::Center, false);
  longPressDataLabel->setBackgroundColor(hex("#e6e6e6"));
  longPressDataLabel->setTextColor(hex("#666666"));
  longPressDataLabel->setHidden(true);
  klineTypeLabel = label(10, pf::TextAlignment::Left, false);
  klineTypeLabel->setHidden(true);
  klineTypeLabel->setText(getKlineTypeStringEncoding());
  detailLabel = label(10, pf::TextAlignment::Left, false);
  maxValueLabel = label(10, pf::TextAlignment::Left, false);
  minValueLabel = label(10, pf::TextAlignment::Left, false);
  benginLabel = label(10, pf::TextAlignment::Natural);
  endLabel = label(10, pf::TextAlignment::Right);
  highLabel = label(10, pf::TextAlignment::Left);
  openLabel = label(10, pf::TextAlignment::Left);
  closeLabel = label(10, pf::TextAlignment::Left);
  lowLabel = label(10, pf::TextAlignment::Left);
  chooseDayLabel = label(10, pf::TextAlignment::Left);
  MA10Label = label(10, pf::TextAlignment::Left);
  MA20Label = label(10, pf::TextAlignment::Left);
  MA5Label = label(9, pf::TextAlignment::Left);
  for (auto* r : {&ratioLabel1, &ratioLabel2, &ratioLabel3, &ratioLabel4, &ratioLabel5})
    *r = label(9, pf::TextAlignment::Left);

  addSubview(containerView);
  setBackgroundColor(pf::Color::whiteColor());
  mainView->addGestureRecognizer(longPressGestureRecognizer);
  mainView->addGestureRecognizer(pinchGesture);
  for (auto& v : {lineSeparate1, lineSeparate2, lineSeparate3}) containerView->addSubview(v);
  containerView->addSubview(mainView);
  mainView->addSubview(kline);
  for (const std::shared_ptr<pf::View>& v :
       std::initializer_list<std::shared_ptr<pf::View>>{chooseDayLabel, MA5Label, MA10Label, MA20Label, klineTypeLabel,
                                                        benginDateLabel, endDateLabel, verticalLine, horizontalLine,
                                                        longPressDateLabel, longPressDataLabel, detailLabel,
                                                        maxValueLabel, minValueLabel})
    addSubview(v);
  verticalLine->setHidden(true);
  horizontalLine->setHidden(true);
  longPressDateLabel->setHidden(true);
  for (const std::shared_ptr<pf::View>& v :
       std::initializer_list<std::shared_ptr<pf::View>>{benginLabel, endLabel, highLabel, openLabel, closeLabel, lowLabel})
    addSubview(v);
  for (auto& r : {ratioLabel1, ratioLabel2, ratioLabel3, ratioLabel4, ratioLabel5}) containerView->addSubview(r);
  addSubview(timeSeparate1);
  addSubview(timeSeparate2);
}

void TnqKLineView::layoutViews() {
  const double H = std::max(0.0, bounds().height() - 60);
  L::setWidth(*mainView, boxWidth);
  L::setHeight(*mainView, boxHeight);
  L::topInContainer(*mainView, H / 8, false);
  L::leftInContainer(*mainView, 0, false);
  mainView->setBackgroundColor(pf::Color::clear());

  L::widthEqualToView(*containerView, *mainView);
  L::setHeight(*containerView, H);
  L::topInContainer(*containerView, 40, false);
  L::leftEqualToView(*containerView, *mainView);

  L::widthEqualToView(*kline, *mainView);
  L::setHeight(*kline, boxHeight);
  L::leftInContainer(*kline, 0, false);
  L::topInContainer(*kline, 0, false);

  L::setWidth(*benginDateLabel, 100);
  L::setHeight(*benginDateLabel, 20);
  L::leftInContainer(*benginDateLabel, 10, false);
  L::bottomInContainer(*benginDateLabel, 0, false);
  L::setWidth(*endDateLabel, 100);
  L::setHeight(*endDateLabel, 20);
  L::rightInContainer(*endDateLabel, 10, false);
  L::bottomInContainer(*endDateLabel, 0, false);
  L::widthEqualToView(*longPressDateLabel, *benginDateLabel);
  L::heightEqualToView(*longPressDateLabel, *benginDateLabel);
  L::topEqualToView(*longPressDateLabel, *benginDateLabel);

  L::setWidth(*lineSeparate1, boxWidth);
  L::setHeight(*lineSeparate1, 1);
  L::leftEqualToView(*lineSeparate1, *mainView);
  L::topInContainer(*lineSeparate1, 2 * (H / 8), false);
  L::setWidth(*lineSeparate2, boxWidth);
  L::setHeight(*lineSeparate2, 1);
  L::leftEqualToView(*lineSeparate2, *mainView);
  L::topFromView(*lineSeparate2, 2 * (H / 8), *lineSeparate1);
  L::setWidth(*lineSeparate3, boxWidth);
  L::setHeight(*lineSeparate3, 1);
  L::leftEqualToView(*lineSeparate3, *mainView);
  L::topFromView(*lineSeparate3, 2 * (H / 8), *lineSeparate2);
  for (auto& v : {lineSeparate1, lineSeparate2, lineSeparate3}) KLineDrawExtension::drawImaginaryLine(*v);

  L::setWidth(*timeSeparate1, 1);
  L::heightEqualToView(*timeSeparate1, *containerView);
  L::leftInContainer(*timeSeparate1, boxWidth / 3, false);
  L::topEqualToView(*timeSeparate1, *containerView);
  L::setWidth(*timeSeparate2, 1);
  L::heightEqualToView(*timeSeparate2, *containerView);
  L::leftInContainer(*timeSeparate2, 2 * boxWidth / 3, false);
  L::topEqualToView(*timeSeparate2, *containerView);
  for (auto& v : {timeSeparate1, timeSeparate2}) KLineDrawExtension::drawDottedVerticalLineLayer(*v);

  L::setWidth(*longPressDataLabel, 40);
  L::setHeight(*longPressDataLabel, 13);
  L::leftInContainer(*longPressDataLabel, 0, false);
  L::setY(*longPressDataLabel, 0);
  L::setWidth(*klineTypeLabel, 70);
  L::setHeight(*klineTypeLabel, 18);
  L::leftInContainer(*klineTypeLabel, 10, false);
  L::topInContainer(*klineTypeLabel, 0, false);
  L::setWidth(*chooseDayLabel, 105);
  L::setHeight(*chooseDayLabel, 20);
  L::leftInContainer(*chooseDayLabel, 10, false);
  L::topInContainer(*chooseDayLabel, 2, false);

  L::setWidth(*highLabel, std::max(0.0, (L::width(*mainView) - 20) * 0.25));
  L::setHeight(*highLabel, 20);
  L::leftInContainer(*highLabel, 10, false);
  L::topFromView(*highLabel, 0, *klineTypeLabel);
  std::shared_ptr<pf::Label> previous = highLabel;
  for (auto& l : {openLabel, closeLabel, lowLabel}) {
    L::widthEqualToView(*l, *highLabel);
    L::heightEqualToView(*l, *highLabel);
    L::rightFromView(*l, 0, *previous);
    L::topEqualToView(*l, *highLabel);
    previous = l;
  }

  L::setWidth(*ratioLabel1, 50);
  L::setHeight(*ratioLabel1, H / 8);
  L::leftInContainer(*ratioLabel1, 10, false);
  L::setY(*ratioLabel1, 0);
  const std::pair<std::shared_ptr<pf::Label>, double> below[] = {
      {ratioLabel2, H / 16}, {ratioLabel3, H / 8}, {ratioLabel4, H / 8}, {ratioLabel5, H / 16}};
  previous = ratioLabel1;
  for (const auto& [l, gap] : below) {
    L::widthEqualToView(*l, *ratioLabel1);
    L::heightEqualToView(*l, *ratioLabel1);
    L::leftEqualToView(*l, *ratioLabel1);
    L::topFromView(*l, gap, *previous);
    previous = l;
  }

  L::setWidth(*MA5Label, std::max(0.0, (L::width(*mainView) - L::width(*highLabel) - 6) / 3));
  L::heightEqualToView(*MA5Label, *ratioLabel1);
  L::rightFromView(*MA5Label, 2, *ratioLabel1);
  L::topEqualToView(*MA5Label, *ratioLabel1);
  L::widthEqualToView(*MA10Label, *MA5Label);
  L::heightEqualToView(*MA10Label, *highLabel);
  L::rightFromView(*MA10Label, 2, *MA5Label);
  L::centerYEqualToView(*MA10Label, *MA5Label);
  L::widthEqualToView(*MA20Label, *MA5Label);
  L::heightEqualToView(*MA20Label, *highLabel);
  L::rightFromView(*MA20Label, 2, *MA10Label);
  L::centerYEqualToView(*MA20Label, *MA5Label);
}

void TnqKLineView::start() {
  PF_ASSERT_MAIN_THREAD();
  initData();
  layoutViews();
}

void TnqKLineView::reloadData() {
  PF_ASSERT_MAIN_THREAD();
  initData();
  layoutViews();
  if (offset.x == 0)
    offset = {std::max(0.0, static_cast<double>(dataArray.size()) * slot() - mainView->frame().width()), 0};
  setOwnContentOffset(offset);
  L::setX(*kline, offset.x);
  updateLine();
}

void TnqKLineView::drawLine(const TradeRows& rows) {
  PF_ASSERT_MAIN_THREAD();
  dataArray = rows;
  initReady = false;
  startNumber = 0;
  begin();
}

void TnqKLineView::setDataSource(const TradeRows& rows) {
  PF_ASSERT_MAIN_THREAD();
  dataArray = rows;
  reloadData();
}

void TnqKLineView::begin() {
  PF_ASSERT_MAIN_THREAD();
  double total = static_cast<double>(dataArray.size()) * slot();
  offset = total > mainView->frame().width() ? pf::Point{total - boxWidth, 0} : pf::Point{0, 0};
  setOwnContentOffset(offset);
  L::setX(*kline, offset.x);
  updateLine();
  initReady = true;
}

void TnqKLineView::startWithUrl(const std::string& url) {
  PF_ASSERT_MAIN_THREAD();
  start();
  auto self = std::static_pointer_cast<TnqKLineView>(shared_from_this());
  widgets::TnqProgressHUD::showHUDAddedTo(self, true);
  std::weak_ptr<TnqKLineView> weak = self;
  klineManager()->getKLineData(
      url,
      [weak](const TradeRows& rows) {
        auto view = weak.lock();
        if (!view) return;
        pf::logFormat("%@", pf::format("<%zu rows>", rows.size()));
        widgets::TnqProgressHUD::hideAllHUDsForView(view, true);
        view->drawLine(rows);
        if (auto d = view->delegate.lock()) d->endLoadKlineData();
      },
      [weak] {
        auto view = weak.lock();
        if (!view) return;
        widgets::TnqProgressHUD::hideAllHUDsForView(view, true);
        if (auto d = view->delegate.lock()) d->loadKlineDataFailure();
      });
  if (auto d = delegate.lock()) d->beginLoadKlineData();
}

std::string TnqKLineView::getKlineTypeStringEncoding() const {
  return klineType_ >= 0 && klineType_ <= 8 ? kPeriods[klineType_].name : "";
}

std::string TnqKLineView::getTimeWithKlineType(double date) const {
  return klineType_ >= 0 && klineType_ <= 8 ? kPeriods[klineType_].date(date) : "";
}

std::string TnqKLineView::getFormatString() const { return pf::format("%%.0%ldf", static_cast<long>(available_)); }

std::string TnqKLineView::formatPrice(double value) const {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(available_), value);
  return buffer;
}

void TnqKLineView::changeChooseDay() {
  PF_ASSERT_MAIN_THREAD();
  if (!chooseDayModel) return;
  const TradeModel& row = *chooseDayModel;
  highLabel->setText("高:" + formatPrice(priceOf(row.high)));
  openLabel->setText("开:" + formatPrice(priceOf(row.open)));
  closeLabel->setText("收:" + formatPrice(priceOf(row.close)));
  lowLabel->setText("低:" + formatPrice(priceOf(row.low)));
  chooseDayLabel->setText(getTimeWithKlineType(row.timestamp));
  MA5Label->setText("MA5:" + formatPrice(priceOf(row.MA5)));
  MA10Label->setText("MA10:" + formatPrice(priceOf(row.MA10)));
  MA20Label->setText("MA20:" + formatPrice(priceOf(row.MA20)));
  MA5Label->setTextColor(kline->ma5Color.color());
  MA10Label->setTextColor(kline->ma10Color.color());
  MA20Label->setTextColor(kline->ma20Color.color());
}

pf::Point TnqKLineView::DataToPoint(double x, double value, double min, double height, double range) {
  double y;
  if (range == 0 || !std::isfinite(range)) {
    // No spread: the one price stands at mid-height, any other just beyond the area.
    y = value == min ? height / 2 : (value > min ? -1.0 : height + 1.0);
  } else {
    y = (1 - (value - min) / range) * height;
  }
  return {x, std::isfinite(y) ? y : 0.0};
}

double TnqKLineView::pointToData(pf::Point point, double min, double height, double range) {
  if (height == 0 || !std::isfinite(height)) return min;
  double v = (1 - point.y / height) * range + min;
  return std::isfinite(v) ? v : min;
}

double TnqKLineView::valueFromPoint(pf::Point point, const pf::Rect& frame) const {
  return pointToData(point, minValue, frame.height(), static_cast<double>(maxValue - minValue));
}

std::vector<PointsModel> TnqKLineView::changeToPointFromDataWithFrame(const pf::Rect& frame) const {
  const double s = slot(), h = frame.height(), min = minValue;
  const double range = static_cast<double>(maxValue - minValue);
  std::vector<PointsModel> points;
  points.reserve(dataArray.size());
  for (std::size_t i = 0; i < dataArray.size(); ++i) {
    const TradeModel& row = *dataArray[i];
    PointsModel p;
    p.data = dataArray[i];
    double x = slotCentre(static_cast<std::int64_t>(i), s);
    p.high = DataToPoint(x, priceOf(row.high), min, h, range);
    p.low = DataToPoint(x, priceOf(row.low), min, h, range);
    p.open = DataToPoint(x, priceOf(row.open), min, h, range);
    p.close = DataToPoint(x, priceOf(row.close), min, h, range);
    p.MA5 = DataToPoint(x, priceOf(row.MA5), min, h, range);
    p.MA10 = DataToPoint(x, priceOf(row.MA10), min, h, range);
    p.MA20 = DataToPoint(x, priceOf(row.MA20), min, h, range);
    points.push_back(std::move(p));
  }
  return points;
}

double TnqKLineView::getMax(std::int64_t start, std::int64_t end) {
  double max = 0.0, best = 0.0;
  std::int64_t stop = std::min<std::int64_t>(end, static_cast<std::int64_t>(dataArray.size()));
  for (std::int64_t i = std::max<std::int64_t>(0, start); i < stop; ++i) {
    const TradeModel& row = *dataArray[static_cast<std::size_t>(i)];
    if (floatValueOf(row.close) == 0) continue;
    double high = priceOf(row.high);
    max = std::max(max, high);
    if (row.MA5 && row.MA10 && row.MA20) max = std::max({max, priceOf(row.MA5), priceOf(row.MA10), priceOf(row.MA20)});
    if (high > best) {
      best = high;
      maxPointModel = PointsModel();
      maxPointModel.data = std::make_shared<TradeModel>();
      maxPointModel.data->high = row.high;
    }
  }
  maxValue = static_cast<float>(max);
  return max;
}

double TnqKLineView::getMin(std::int64_t start, std::int64_t end) {
  double min = kLargestFloat, best = kLargestFloat;
  std::int64_t stop = std::min<std::int64_t>(end, static_cast<std::int64_t>(dataArray.size()));
  for (std::int64_t i = std::max<std::int64_t>(0, start); i < stop; ++i) {
    const TradeModel& row = *dataArray[static_cast<std::size_t>(i)];
    if (floatValueOf(row.close) == 0) continue;
    double low = priceOf(row.low);
    min = std::min(min, low);
    if (row.MA5 && row.MA10 && row.MA20) min = std::min({min, priceOf(row.MA5), priceOf(row.MA10), priceOf(row.MA20)});
    if (low < best) {
      best = low;
      minPointModel = PointsModel();
      minPointModel.data = std::make_shared<TradeModel>();
      minPointModel.data->low = row.low;
    }
  }
  minValue = static_cast<float>(min);
  return min;
}

pf::Point TnqKLineView::maxPointToSelf(std::int64_t index) const {
  double v = maxPointModel.data ? priceOf(maxPointModel.data->high) : 0;
  return {slotCentre(index, slot()),
          DataToPoint(0, v, minValue, mainView->frame().height(), static_cast<double>(maxValue - minValue)).y};
}

pf::Point TnqKLineView::minPointToSelf(std::int64_t index) const {
  double v = minPointModel.data ? priceOf(minPointModel.data->low) : 0;
  return {slotCentre(index, slot()),
          DataToPoint(0, v, minValue, mainView->frame().height(), static_cast<double>(maxValue - minValue)).y};
}

std::vector<PointsModel> TnqKLineView::visibleSlice(std::int64_t start, std::int64_t end) const {
  std::int64_t count = static_cast<std::int64_t>(pointArray.size());
  if (count == 0) return {};
  if (start >= count) start = count - 1;
  end = std::min(end, count);
  std::vector<PointsModel> visible;
  for (std::int64_t i = start; i < end; ++i) {
    const PointsModel& p = pointArray[static_cast<std::size_t>(i)];
    PointsModel q;
    q.data = p.data;
    q.open = mainView->convertPoint(p.open, kline.get());
    q.high = mainView->convertPoint(p.high, kline.get());
    q.low = mainView->convertPoint(p.low, kline.get());
    q.close = mainView->convertPoint(p.close, kline.get());
    q.MA5 = mainView->convertPoint(p.MA5, kline.get());
    q.MA10 = mainView->convertPoint(p.MA10, kline.get());
    q.MA20 = mainView->convertPoint(p.MA20, kline.get());
    visible.push_back(std::move(q));
  }
  return visible;
}

// Draws rows start..end (the candle layer already stands over the visible content) and
// writes the header, tips and axis texts.
void TnqKLineView::finishRedraw(std::int64_t start, std::int64_t end) {
  kline->setClearsContextBeforeDrawing(true);
  std::vector<PointsModel> visible = visibleSlice(start, end);
  kline->points = visible;
  kline->lineWidth = slot();
  kline->setNeedsDisplay();
  if (visible.empty()) return;
  chooseDayModel = visible.back().data;
  updateMaxAndMinValueTip(visible);
  if (auto d = delegate.lock()) d->klineViewDidUpdate(*this, visible);
  updateDataDisplay(visible);
}

// Price range of rows start..end, the points of every row, and the content they span.
void TnqKLineView::measure(std::int64_t start, std::int64_t end) {
  getMax(start, end);
  getMin(start, end);
  pointArray = changeToPointFromDataWithFrame(mainView->bounds());
  mainView->setContentSize({static_cast<double>(pointArray.size()) * slot() + 10.0, mainView->frame().height()});
}

void TnqKLineView::updateLine() {
  const std::int64_t n = static_cast<std::int64_t>(dataArray.size());
  if (n == 0) return;
  const double s = slot();
  const double fit = boxWidth / s;
  std::int64_t start, end;
  if (static_cast<double>(n) > fit) {
    auto k = static_cast<std::int64_t>(fit);
    double f = offset.x / s;
    if (f > static_cast<double>(n - k)) f = static_cast<double>(n - k);
    start = static_cast<std::int64_t>(f);
    end = static_cast<std::int64_t>((offset.x + boxWidth) / s + 1.0);
    setOwnContentOffset(offset);
  } else {
    start = 0;
    end = n;
  }
  start = std::clamp<std::int64_t>(start, 0, n);
  end = std::clamp<std::int64_t>(end, start, n);
  oldIndex = end;
  measure(start, end);
  // The candle layer moves over the visible content before the points are converted into it,
  // so the candles stand where their rows are.
  L::setX(*kline, mainView->contentOffset().x);
  finishRedraw(start, end);
}

void TnqKLineView::zoomLine() {
  const std::int64_t n = static_cast<std::int64_t>(dataArray.size());
  if (n == 0) return;
  const double s = slot();
  const double fit = boxWidth / s;
  const std::int64_t c = static_cast<std::int64_t>(fit) + 1;
  std::int64_t start, end;
  if (static_cast<double>(n) > fit) {
    start = oldIndex - c;
    end = oldIndex;
    if (start < 0) {
      start = 0;
      end = c;
    }
  } else {
    start = 0;
    end = n;
  }
  end = std::clamp<std::int64_t>(end, 0, n);
  start = std::clamp<std::int64_t>(start, 0, end);
  measure(start, end);
  if (c > n)
    setOwnContentOffset({0, 0});
  else
    setOwnContentOffset({static_cast<double>(end) * s - boxWidth + kLinePadding, 0});
  offset = mainView->contentOffset();
  L::setX(*kline, offset.x);
  finishRedraw(start, end);
}

void TnqKLineView::updateMaxAndMinValueTip(const std::vector<PointsModel>& visible) {
  if (maxPointModel.data && minPointModel.data) {
    float high = floatValueOf(maxPointModel.data->high), low = floatValueOf(minPointModel.data->low);
    bool maxFound = false, minFound = false;
    for (std::size_t i = 0; i < visible.size() && !(maxFound && minFound); ++i) {
      const TradeModel& row = *visible[i].data;
      if (!maxFound && floatValueOf(row.high) == high) {
        realMaxPoint = maxPointToSelf(static_cast<std::int64_t>(i));
        maxFound = true;
      }
      if (!minFound && floatValueOf(row.low) == low) {
        realMinPoint = minPointToSelf(static_cast<std::int64_t>(i));
        minFound = true;
      }
    }
  }
  const double W = pf::Screen::main()->bounds().width();
  const double top = (bounds().height() - 60) / 8 + 40;
  for (auto [labelView, point] : {std::pair{maxValueLabel, realMaxPoint}, {minValueLabel, realMinPoint}}) {
    L::setWidth(*labelView, W * 120 / 750);
    L::setHeight(*labelView, W * 20 / 750);
    double x = point.x < boxWidth / 2 ? point.x + W * 60 / 750 : point.x - W * 60 / 750;
    labelView->setCenter({x, point.y + top});
  }
  maxValueLabel->setText(formatPrice(maxPointModel.data ? priceOf(maxPointModel.data->high) : 0));
  minValueLabel->setText(formatPrice(minPointModel.data ? priceOf(minPointModel.data->low) : 0));
}

void TnqKLineView::updateDataDisplay(const std::vector<PointsModel>& visible) {
  if (visible.empty()) return;
  changeChooseDay();
  const double max = maxValue, min = minValue;
  const double step = (max - min) / 6;
  ratioLabel1->setText(formatPrice(max + step));
  ratioLabel2->setText(formatPrice(max - step));
  ratioLabel3->setText(formatPrice(max - 3 * step));
  ratioLabel4->setText(formatPrice(min + step));
  ratioLabel5->setText(formatPrice(min - step));
  refreshStartEnd(visible);
}

void TnqKLineView::refreshStartEnd(const std::vector<PointsModel>& visible) {
  if (visible.empty()) return;
  benginDateLabel->setText(getTimeWithKlineType(visible.front().data->timestamp));
  endDateLabel->setText(getTimeWithKlineType(visible.back().data->timestamp));
}

void TnqKLineView::scrollViewDidScroll(pf::ScrollView& scrollView) {
  for (auto& v : std::initializer_list<std::shared_ptr<pf::View>>{verticalLine, horizontalLine, longPressDateLabel,
                                                                  longPressDataLabel})
    v->setHidden(true);
  benginDateLabel->setHidden(false);
  endDateLabel->setHidden(false);
  if (!initReady || settingOwnOffset_) return;
  const double x = scrollView.contentOffset().x;
  if (x <= 0) {
    offset = {0, 0};
    updateLine();
    return;
  }
  if (x > scrollView.contentSize().width - scrollView.bounds().width()) {
    offset = {scrollView.contentSize().width - boxWidth, scrollView.contentOffset().y};
    return;
  }
  scrollDistance = x - offset.x;
  if (scrollDistance > 0)
    setOwnContentOffset({offset.x + kLineWidth + kLinePadding, 0});
  else if (scrollDistance < 0)
    setOwnContentOffset({offset.x - kLinePadding - kLineWidth, 0});
  offset = scrollView.contentOffset();
  updateLine();
}

void TnqKLineView::setOwnContentOffset(pf::Point target) {
  bool outer = settingOwnOffset_;
  settingOwnOffset_ = true;
  mainView->setContentOffset(target);
  settingOwnOffset_ = outer;
}

void TnqKLineView::scrollViewDidEndDragging(pf::ScrollView&, bool) {}
void TnqKLineView::scrollViewDidEndDecelerating(pf::ScrollView&) {}

void TnqKLineView::touchBoxAction(pf::PinchGestureRecognizer& recognizer) {
  switch (recognizer.state()) {
    case pf::GestureState::Changed: {
      initReady = false;
      bool changed = false;
      if (recognizer.scale > 1.0 && kLineWidth < 20.0) {
        kLineWidth += 0.1;
        changed = true;
      } else if (recognizer.scale < 1.0 && kLineWidth > 4.0) {
        kLineWidth -= 0.1;
        changed = true;
      }
      if (changed) {
        std::weak_ptr<TnqKLineView> weak = std::static_pointer_cast<TnqKLineView>(shared_from_this());
        pf::DispatchQueue::main()->async([weak] {
          if (auto self = weak.lock()) self->zoomLine();
        });
      }
      break;
    }
    case pf::GestureState::Ended:
      initReady = true;
      isUpdateFinish = true;
      break;
    default:
      break;
  }
}

void TnqKLineView::gestureRecognizerHandle(pf::LongPressGestureRecognizer& recognizer) {
  switch (recognizer.state()) {
    case pf::GestureState::Began:
      for (auto& v : std::initializer_list<std::shared_ptr<pf::View>>{horizontalLine, verticalLine, longPressDateLabel,
                                                                      longPressDataLabel})
        v->setHidden(false);
      changeLine(recognizer);
      break;
    case pf::GestureState::Changed:
      changeLine(recognizer);
      break;
    default:
      break;
  }
}

void TnqKLineView::changeLine(pf::GestureRecognizer& recognizer) {
  pf::Point p = recognizer.locationInView(mainView.get());
  const double half = slot() / 2;
  for (const PointsModel& q : pointArray) {
    if (q.open.x - half <= p.x && p.x < q.open.x + half) {
      p.x = q.open.x;
      longPressDateLabel->setText(getTimeWithKlineType(q.data->timestamp));
      chooseDayModel = q.data;
      longPressDataLabel->setText(formatPrice(valueFromPoint(p, mainView->frame())));
      break;
    }
  }
  pf::Point c = mainView->convertPoint(p, this);
  horizontalLine->setFrame({0, c.y, bounds().width(), 1.0});
  verticalLine->setFrame({c.x, 0, 1.0, bounds().height()});
  L::centerXEqualToView(*longPressDateLabel, *verticalLine);
  L::centerYEqualToView(*longPressDataLabel, *horizontalLine);
  clearAxisDatesForCrossHair();
  changeChooseDay();
}

namespace {

// Where a one-line label's text stands along x, in its superview's coordinates.
std::pair<double, double> textSpan(const pf::Label& label) {
  const double width = label.sizeThatFits({0, 0}).width;
  const pf::Rect f = label.frame();
  switch (label.textAlignment()) {
    case pf::TextAlignment::Center: return {f.midX() - width / 2, f.midX() + width / 2};
    case pf::TextAlignment::Right: return {f.maxX() - width, f.maxX()};
    default: return {f.x(), f.x() + width};
  }
}

}  // namespace

// The cross-hair's date stands on the axis dates' line: an axis date it would be written over
// gives way until the cross-hair goes.
void TnqKLineView::clearAxisDatesForCrossHair() {
  constexpr double kGap = 4;
  const auto [left, right] = textSpan(*longPressDateLabel);
  for (pf::Label* axis : {benginDateLabel.get(), endDateLabel.get()}) {
    const auto [axisLeft, axisRight] = textSpan(*axis);
    axis->setHidden(axisLeft < right + kGap && left < axisRight + kGap);
  }
}

}  // namespace kline
