#include "ChartScenes.h"

#include <cmath>
#include <functional>
#include <map>

#include "kline/KLineDataManager.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"

namespace chartscenes {

namespace {

using Builder = std::function<Stage()>;

void drainMainQueue() {
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.02);
}

const std::map<std::string, Builder>& builders() {
  static const std::map<std::string, Builder> map = {
      {"chart-100", [] { return buildChart(100); }},
      {"chart-zoomed",
       [] {
         Stage s = buildChart(100);
         for (int i = 0; i < 40; ++i) s.chart->pinchGesture->injectPinch(pf::GestureState::Changed, 1.5);
         s.chart->pinchGesture->injectPinch(pf::GestureState::Ended, 1.5);
         drainMainQueue();
         return s;
       }},
      {"chart-crosshair",
       [] {
         Stage s = buildChart(100);
         auto& press = *s.chart->longPressGestureRecognizer;
         press.setLocationInView({s.chart->mainView->contentOffset().x + 150, 60});
         press.injectState(pf::GestureState::Began);
         return s;
       }},
  };
  return map;
}

}  // namespace

std::vector<std::string> names() {
  std::vector<std::string> out;
  for (const auto& [name, builder] : builders()) out.push_back(name);
  return out;
}

kline::TradeRows series(int n) {
  kline::TradeRows rows;
  double price = 6.5;
  for (int i = 0; i < n; ++i) {
    auto row = std::make_shared<kline::TradeModel>();
    double open = price;
    double close = open + 0.04 * std::sin(i * 0.7) + 0.01 * std::cos(i * 2.3);
    if (i % 9 == 4) close = open;  // a flat candle now and then
    double high = std::max(open, close) + 0.01 + 0.01 * std::fabs(std::sin(i * 1.3));
    double low = std::min(open, close) - 0.01 - 0.01 * std::fabs(std::cos(i * 0.9));
    row->open = kline::priceText(open);
    row->close = kline::priceText(close);
    row->high = kline::priceText(high);
    row->low = kline::priceText(low);
    row->timestamp = 1767225600.0 + 3600.0 * i;
    row->date = "";
    rows.push_back(row);
    price = close;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i]->MA5 = kline::KLineDataManager::sumAndAverage(rows, i, 5);
    rows[i]->MA10 = kline::KLineDataManager::sumAndAverage(rows, i, 10);
    rows[i]->MA20 = kline::KLineDataManager::sumAndAverage(rows, i, 20);
  }
  return rows;
}

Stage buildChart(int rows) {
  pf::setDefaultTimeZone("Asia/Shanghai");
  pf::Screen::main()->setBounds(pf::Rect(0, 0, 375, 300));
  Stage s;
  s.window = pf::Window::make(pf::Rect(0, 0, 375, 300));
  s.window->setBackgroundColor(pf::Color::white(0.93));
  s.window->setHidden(false);
  s.chart = kline::TnqKLineView::make({0, 0, 375, 300});
  s.chart->start();
  s.window->addSubview(s.chart);
  s.chart->setKlineType(4);
  s.chart->setAvailable(4);
  s.chart->drawLine(series(rows));
  return s;
}

std::shared_ptr<pf::Image> render(const std::string& name, double scale) {
  auto it = builders().find(name);
  if (it == builders().end()) return nullptr;
  Stage stage = it->second();
  auto image = pf::render::screen(scale);
  stage.window->setHidden(true);
  pf::Screen::main()->reset();
  return image;
}

}  // namespace chartscenes
