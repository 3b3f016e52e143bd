#pragma once
// The native candlestick chart a page lays over its web view: a horizontally scrolling price
// area with the candle layer, price-axis labels, dotted grid lines, first and last dates, a
// header with the chosen row's prices and averages, a long-press cross-hair and tips at the
// visible highest and lowest prices. Scrolling moves the window by whole candles, a pinch
// changes the candle width between 4 and 20 points.
//
// Main thread only. Made with make(frame); fed with setKlineType, setAvailable and drawLine.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kline/KLineDataManager.h"
#include "kline/KLineDrawing.h"
#include "kline/TradeModel.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace kline {

class TnqKLineView;

// What the chart tells its delegate; every operation is optional.
class LineViewProctocol {
 public:
  virtual ~LineViewProctocol() = default;
  virtual void beginLoadKlineData() {}
  virtual void endLoadKlineData() {}
  virtual void loadKlineDataFailure() {}
  virtual void klineViewDidUpdate(TnqKLineView& view, const std::vector<PointsModel>& visible) {}
  virtual void lineViewWillDraw() {}
  virtual void klineViewDisplay() {}
};

class TnqKLineView : public pf::View, public pf::ScrollViewDelegate {
 public:
  static std::shared_ptr<TnqKLineView> make(const pf::Rect& frame);
  std::string className() const override { return "TnqKLineView"; }

  // Chart periods 0..8 and decimal places 0..10 (other values are clamped).
  std::int64_t getKlineType() const { return klineType_; }
  void setKlineType(std::int64_t type);
  std::int64_t available() const { return available_; }
  void setAvailable(std::int64_t places) { available_ = KLineDataManager::clampAvailable(places); }

  std::weak_ptr<LineViewProctocol> delegate;
  bool isFullScreen = false;
  double boxWidth = 0, boxHeight = 0;
  double kLineWidth = 10.0, kLinePadding = 0.5, volumeHeight = 50.0;
  float minValue = 0, maxValue = 0;
  std::vector<TradeRow> dataArray;
  std::vector<PointsModel> pointArray;
  pf::Point offset;
  double scrollDistance = 0;
  std::int64_t oldIndex = 0;
  std::int64_t startNumber = 0, endNumber = 0;
  bool initReady = false;
  bool isUpdateFinish = false;
  bool needUpdataData = false;
  pf::Rect visableRect;
  TradeRow chooseDayModel;
  PointsModel maxPointModel, minPointModel;
  pf::Point realMaxPoint, realMinPoint;

  std::shared_ptr<KLineDataManager> klineManager();

  // ---- subviews
  std::shared_ptr<pf::View> containerView;
  std::shared_ptr<pf::ScrollView> mainView;
  std::shared_ptr<Kline> kline;
  std::shared_ptr<pf::PinchGestureRecognizer> pinchGesture;
  std::shared_ptr<pf::LongPressGestureRecognizer> longPressGestureRecognizer;
  std::shared_ptr<pf::View> lineSeparate1, lineSeparate2, lineSeparate3, timeSeparate1, timeSeparate2;
  std::shared_ptr<pf::Label> ratioLabel1, ratioLabel2, ratioLabel3, ratioLabel4, ratioLabel5;
  std::shared_ptr<pf::Label> benginDateLabel, endDateLabel, klineTypeLabel;
  std::shared_ptr<pf::Label> chooseDayLabel, highLabel, openLabel, closeLabel, lowLabel, MA5Label, MA10Label, MA20Label;
  std::shared_ptr<pf::View> verticalLine, horizontalLine;
  std::shared_ptr<pf::Label> longPressDateLabel, longPressDataLabel, maxValueLabel, minValueLabel;
  std::shared_ptr<pf::Label> benginLabel, endLabel, detailLabel;
  // Never shown: made on first use.
  std::shared_ptr<pf::View> bottomVolumeView();

  // ---- entry points
  void start();
  void reloadData();
  void drawLine(const TradeRows& rows);
  void setDataSource(const TradeRows& rows);
  void begin();
  // Loads and shows a series by itself (with an overlay), telling the delegate.
  void startWithUrl(const std::string& url);

  std::string getKlineTypeStringEncoding() const;
  std::string getTimeWithKlineType(double date) const;
  // "%.0<available>f".
  std::string getFormatString() const;
  // A number through getFormatString().
  std::string formatPrice(double value) const;
  void changeChooseDay();

  // ---- the window over the rows
  static pf::Point DataToPoint(double x, double value, double min, double height, double range);
  static double pointToData(pf::Point point, double min, double height, double range);
  double valueFromPoint(pf::Point point, const pf::Rect& frame) const;
  std::vector<PointsModel> changeToPointFromDataWithFrame(const pf::Rect& frame) const;
  double getMax(std::int64_t start, std::int64_t end);
  double getMin(std::int64_t start, std::int64_t end);
  pf::Point maxPointToSelf(std::int64_t index) const;
  pf::Point minPointToSelf(std::int64_t index) const;
  void updateLine();
  void zoomLine();
  void updateMaxAndMinValueTip(const std::vector<PointsModel>& visible);
  void updateDataDisplay(const std::vector<PointsModel>& visible);
  void refreshStartEnd(const std::vector<PointsModel>& visible);
  void changeLine(pf::GestureRecognizer& recognizer);
  void clearAxisDatesForCrossHair();
  void touchBoxAction(pf::PinchGestureRecognizer& recognizer);
  void gestureRecognizerHandle(pf::LongPressGestureRecognizer& recognizer);

  void scrollViewDidScroll(pf::ScrollView& scrollView) override;
  void scrollViewDidEndDragging(pf::ScrollView& scrollView, bool willDecelerate) override;
  void scrollViewDidEndDecelerating(pf::ScrollView& scrollView) override;

  // Slot width: one candle and its gap.
  double slot() const { return kLineWidth + kLinePadding; }

  explicit TnqKLineView(const pf::Rect& frame);

 private:
  void initData();
  void drawBox();
  void layoutViews();
  void measure(std::int64_t start, std::int64_t end);
  std::vector<PointsModel> visibleSlice(std::int64_t start, std::int64_t end) const;
  void finishRedraw(std::int64_t start, std::int64_t end);
  // Moves the content without the move counting as the user's scroll (the scroll handling
  // hides the cross-hair and nothing else).
  void setOwnContentOffset(pf::Point target);
  std::shared_ptr<pf::Label> label(double size, pf::TextAlignment alignment, bool grey = true);

  std::int64_t klineType_ = 0;
  std::int64_t available_ = 4;
  std::shared_ptr<KLineDataManager> klineManager_;
  std::shared_ptr<pf::View> bottomVolumeView_;
  bool settingOwnOffset_ = false;
};

}  // namespace kline
