// The demo tour. Once the start-up has opened the bank's home page, the runner uses the client the
// way a customer would and the way the product drives it: pages call plug-ins by name through the
// bridge, against the demo bank. It touches the screen where a finger would (at the element's
// drawn position through the window's touch road, never by calling the page's scripts), types on
// the on-screen keyboard, rests a finger on the chart and pinches it with two, and sends the
// application to the background and back. What it reads to judge a step (page texts, views, the
// pixels of the screen, the bank's facts) it only reads.
//
// Every step states what it expects, waits for it (real time, the clock standing), writes
// tour-NN-<name>.png and a line "step NN <name>: ok" or "... FAILED: <what it saw>".

#include "FxTour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>

#include "app/AppDelegate.h"
#include "app/CurrencySeachViewController.h"
#include "app/PylGesturePlugin.h"
#include "app/SortViewController.h"
#include "app/TnqSearchBar.h"
#include "app/TnqStyle.h"
#include "container/MwJSWebview.h"
#include "container/MwWebview.h"
#include "kline/KLineDrawing.h"
#include "kline/TnqKLineView.h"
#include "kvstore/KeyValueStoreLib.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "share/QxApi.h"

namespace fxtour {

namespace {

using pf::Point;
using pf::Rect;
using Texts = std::vector<std::string>;

constexpr double kStepLimit = 15;        // real seconds a step waits for what it expects
constexpr double kAnimations = 0.5;      // virtual seconds for animations to end before a shot
constexpr double kChartRefresh = 5.0;    // the charts ask for new rows this often
constexpr double kLongPress = 0.5;       // how long a finger rests for a long press
const char* const kFavourites[] = {"USD/CNY", "EUR/CNY", "EUR/USD", "XAU/USD"};
// What the tour keeps in the pages' store, and sets up afresh at its start.
const char* const kTourKeys[] = {"watchList", "visits"};

std::string join(const Texts& texts, const char* separator = ", ") {
  std::string out;
  for (const auto& t : texts) out += (out.empty() ? "" : separator) + t;
  return out;
}

// A failed expectation: what was seen instead.
struct Unexpected {
  std::string seen;
};

// How many quotes the bank's answer to "pushNext" says it pushed.
std::int64_t pushedBy(const pf::Value& answer) {
  if (!answer.is_object() || !answer.contains("push") || !answer["push"].is_object()) return 0;
  return pf::integerValue(answer["push"].value("pushed", pf::Value()));
}

// The bank's answer as the log tells it.
std::string told(const pf::Value& answer) {
  return answer.is_null() ? std::string("no answer") : pf::writeJson(answer).value_or("?");
}

// Whether one price is below another, both written with the same decimal places (whatever the
// locale's numbers).
bool priceBelow(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// Pixels of a picture inside a rectangle (in points) for which test(x, y) holds, and how many
// pixels the rectangle has there.
std::pair<int, int> countPixelsAt(const pf::Image& image, const Rect& area, const std::function<bool(int, int)>& test) {
  const double scale = image.scale();
  const int left = std::max(0, static_cast<int>(std::lround(area.x() * scale)));
  const int top = std::max(0, static_cast<int>(std::lround(area.y() * scale)));
  const int right = std::min(image.pixelWidth(), static_cast<int>(std::lround((area.x() + area.width()) * scale)));
  const int bottom = std::min(image.pixelHeight(), static_cast<int>(std::lround((area.y() + area.height()) * scale)));
  int count = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (test(x, y)) ++count;
  return {count, std::max(0, right - left) * std::max(0, bottom - top)};
}

// Pixels of a picture inside a rectangle (in points) for which test(colour) holds.
int countPixels(const pf::Image& image, const Rect& area, const std::function<bool(const pf::Color&)>& test) {
  return countPixelsAt(image, area, [&](int x, int y) { return test(image.pixel(x, y)); }).first;
}

// Pixels inside a rectangle (in points) for which test(colour, other colour) holds, of two pictures
// of the screen at the same scale, and how many pixels the rectangle has there.
std::pair<int, int> comparePixels(const pf::Image& image, const pf::Image& other, const Rect& area,
                                  const std::function<bool(const pf::Color&, const pf::Color&)>& test) {
  if (other.pixelWidth() != image.pixelWidth() || other.pixelHeight() != image.pixelHeight()) return {0, 0};
  return countPixelsAt(image, area, [&](int x, int y) { return test(image.pixel(x, y), other.pixel(x, y)); });
}

double brightness(const pf::Color& c) { return (c.r + c.g + c.b) / 3; }

double colourDistance(const pf::Color& a, const pf::Color& b) {
  return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// The colours the chart draws rising and falling candles in.
const pf::Color& risingColour() {
  static const pf::Color colour = kline::ColorHelper::helperColorWithHexString(kline::kRisingColor, 1);
  return colour;
}
const pf::Color& fallingColour() {
  static const pf::Color colour = kline::ColorHelper::helperColorWithHexString(kline::kFallingColor, 1);
  return colour;
}
bool isCandle(const pf::Color& c) {
  return colourDistance(c, risingColour()) < 0.1 || colourDistance(c, fallingColour()) < 0.1;
}

void expect(bool holds, const std::string& seen) {
  if (!holds) throw Unexpected{seen};
}

class Tour {
 public:
  Tour(Driver& driver, std::shared_ptr<app::AppDelegate> delegate) : d_(driver), app_(std::move(delegate)) {}
  int run();

 private:
  struct Step {
    const char* name;
    const char* expects;
    void (Tour::*body)();
  };

  // ---- the pages
  std::shared_ptr<container::MwJSWebview> page() const {
    auto webview = app_->viewController()->webview();
    return webview ? webview->currentPage() : nullptr;
  }
  std::string eval(const std::string& script) const {
    auto p = page();
    return p ? p->stringByEvaluatingJavaScriptFromString(script) : "";
  }
  std::string text(const std::string& id) const {
    return eval("(function(){var e=document.getElementById('" + id + "');return e?e.textContent:'';})()");
  }
  std::string currentPath() const {
    auto p = page();
    return p && p->webView()->isLoaded() ? p->webView()->currentPath() : "";
  }
  // The board's rows as drawn texts (no-break spaces made plain).
  Texts boardRows() const {
    std::string all = eval(
        "(function(){var b=document.getElementById('board');if(!b)return '';var r=[];"
        "for(var i=0;i<b.children.length;i++)r.push(b.children[i].textContent);return r.join('\\n');})()");
    Texts rows;
    std::string row;
    std::istringstream in(all);
    while (std::getline(in, row)) {
      for (std::size_t at; (at = row.find("\xc2\xa0")) != std::string::npos;) row.replace(at, 2, 1, ' ');
      if (!row.empty()) rows.push_back(row);
    }
    return rows;
  }
  int pushes() const { return std::atoi(eval("state.pushes").c_str()); }

  // ---- the finger
  // The window a finger at this screen point touches: the highest visible one holding it.
  std::shared_ptr<pf::Window> windowAt(Point p) const {
    std::shared_ptr<pf::Window> top;
    for (const auto& w : pf::Application::shared().visibleWindows())
      if (w->frame().contains(p)) top = w;
    return top;
  }
  void tapScreen(Point p) {
    auto window = windowAt(p);
    expect(window != nullptr, "no window under the finger at " + describe(p));
    window->tapAt(inWindow(*window, p));
  }
  // A rectangle of the view on the screen.
  static Rect screenRect(const pf::View& view, const Rect& r) {
    Rect out = view.convertRect(r, nullptr);
    if (auto window = view.window()) out.origin = Point{out.x() + window->frame().x(), out.y() + window->frame().y()};
    return out;
  }
  // A point of the view on the screen.
  static Point screenPoint(const pf::View& view, Point p) {
    p = view.convertPoint(p, nullptr);
    auto window = view.window();
    return window ? Point{p.x + window->frame().x(), p.y + window->frame().y()} : p;
  }
  // A view's centre on the screen, where a finger aims at it.
  static Point centreOf(const pf::View& view) { return screenPoint(view, view.bounds().center()); }
  // A screen point in the window's own coordinates, where its touches land.
  static Point inWindow(const pf::Window& window, Point p) {
    return Point{p.x - window.frame().x(), p.y - window.frame().y()};
  }
  void tapView(const std::shared_ptr<pf::View>& view, const std::string& what) {
    expect(view && view->window(), what + " is not on the screen");
    view->window()->layoutIfNeeded();
    tapScreen(centreOf(*view));
  }
  // A tap on a page element where it is drawn.
  void tapElement(pf::WebView& web, const std::string& id) {
    auto frame = web.elementFrame(id);
    expect(frame.has_value(), "the page has no element #" + id);
    expect(web.bounds().contains(frame->center()), "#" + id + " lies outside the page's view");
    auto window = web.window();
    expect(window != nullptr, "the page is not on the screen");
    const Point p = screenPoint(web, frame->center());
    auto over = windowAt(p);
    if (over != window) {
      char level[32];
      std::snprintf(level, sizeof level, "%g", over ? over->windowLevel() : 0.0);
      throw Unexpected{std::string("a window of level ") + level + " lies over #" + id +
                       (over && over == pf::Keyboard::shared().window() ? " (the keyboard)" : "")};
    }
    tapScreen(p);
  }
  void tapElement(const std::string& id) {
    auto p = page();
    expect(p != nullptr, "no page is open");
    tapElement(*p->webView(), id);
  }
  // A finger pressing at `from`, moving to `to` in steps, lifting there.
  void drag(Point from, Point to) {
    auto window = windowAt(from);
    expect(window != nullptr, "no window under the finger");
    auto at = [&](double f) {
      return inWindow(*window, Point{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f});
    };
    window->touchDown(at(0));
    for (int i = 1; i <= 12; ++i) window->touchMove(at(i / 12.0));
    window->touchUp(at(1));
  }
  // A finger resting at a screen point for `seconds`, then lifting.
  void longPress(Point p, double seconds) {
    auto window = windowAt(p);
    expect(window != nullptr, "no window under the finger at " + describe(p));
    const Point at = inWindow(*window, p);
    window->touchDown(at);
    d_.advance(seconds);
    window->touchUp(at);
  }
  // Two fingers on a line through `middle`, `from` points either side of it, closing (or opening)
  // to `to` in `moves` steps of both, as quickly as a hand does it.
  void pinchAt(Point middle, double from, double to, int moves) {
    auto window = windowAt(middle);
    expect(window != nullptr, "no window under the fingers at " + describe(middle));
    auto at = [&](double spread, int side) { return inWindow(*window, Point{middle.x + side * spread, middle.y}); };
    window->touchDown(at(from, -1));
    window->touchDown(at(from, 1), 1);
    for (int i = 1; i <= moves; ++i) {
      const double spread = from + (to - from) * i / moves;
      window->touchMove(at(spread, -1));
      window->touchMove(at(spread, 1), 1);
    }
    window->touchUp(at(to, -1));
    window->touchUp(at(to, 1), 1);
  }
  static std::string describe(Point p) {
    char out[48];
    std::snprintf(out, sizeof out, "(%.1f, %.1f)", p.x, p.y);
    return out;
  }
  static std::string describe(const Rect& r) {
    char out[96];
    std::snprintf(out, sizeof out, "(%.1f, %.1f) %.1fx%.1f", r.x(), r.y(), r.width(), r.height());
    return out;
  }

  // ---- waiting
  // Every chart load asked for has come back (the data manager logs each request and each answer).
  bool chartsSettled() {
    int asked = 0, answered = 0;
    for (const auto& line : d_.logLines()) {
      if (line.rfind("url -----------------", 0) == 0) ++asked;
      else if ((line.size() > 6 && line.front() == '<' && line.find(" rows>") != std::string::npos) || line == "请求失败")
        ++answered;
    }
    return answered >= asked;
  }
  void settle() { d_.waitFor([&] { return chartsSettled(); }, kStepLimit); }
  // Waits for the condition; a step whose condition never comes fails with what `seen` says.
  void await(const std::function<bool()>& done, const std::function<std::string()>& seen) {
    if (!d_.waitFor(done, kStepLimit)) throw Unexpected{seen()};
  }
  // The clock moves (timers, animations, the charts' refresh), the loopback answers come in.
  void pass(double seconds) {
    d_.advance(seconds);
    settle();
  }

  // ---- screens
  std::shared_ptr<pf::ViewController> top() const { return app_->nav()->topViewController(); }
  std::shared_ptr<kline::TnqKLineView> chart() const {
    auto p = page();
    if (!p) return nullptr;
    for (const auto& v : p->scrollView()->subviews())
      if (auto c = std::dynamic_pointer_cast<kline::TnqKLineView>(v)) return c;
    return nullptr;
  }
  // The text a row shows: the search screen's label, else the cell's own.
  static std::string cellText(pf::TableViewCell& cell) {
    auto label = std::dynamic_pointer_cast<pf::Label>(cell.contentView()->viewWithTag(101));
    return label ? label->text() : cell.textLabel()->text();
  }
  static Texts rowTexts(pf::TableView& table, int section) {
    Texts out;
    for (int r = 0; r < table.numberOfRowsInSection(section); ++r)
      if (auto cell = table.cellForRowAtIndexPath({section, r})) out.push_back(cellText(*cell));
    return out;
  }
  static std::shared_ptr<pf::TableViewCell> cellNamed(pf::TableView& table, const std::string& name) {
    for (int s = 0; s < table.numberOfSections(); ++s)
      for (int r = 0; r < table.numberOfRowsInSection(s); ++r)
        if (auto cell = table.cellForRowAtIndexPath({s, r}); cell && cellText(*cell) == name) return cell;
    return nullptr;
  }
  std::shared_ptr<container::MwWebview> lockView() const {
    auto window = app_->mainWindow();
    if (!window) return nullptr;
    for (const auto& v : window->subviews())
      if (auto w = std::dynamic_pointer_cast<container::MwWebview>(v)) return w;
    return nullptr;
  }
  // Every chart view in the application's windows, wherever it lies in their view trees.
  static std::vector<std::shared_ptr<kline::TnqKLineView>> chartsInWindows() {
    std::vector<std::shared_ptr<kline::TnqKLineView>> found;
    std::function<void(const std::shared_ptr<pf::View>&)> walk = [&](const std::shared_ptr<pf::View>& view) {
      if (auto chart = std::dynamic_pointer_cast<kline::TnqKLineView>(view)) found.push_back(chart);
      for (const auto& sub : view->subviews()) walk(sub);
    };
    for (const auto& window : pf::Application::shared().windows()) walk(window);
    return found;
  }
  // The bank's facts: what it served and pushed.
  pf::Value market() { return d_.bankGet("/market"); }
  // Series requests (histories and refreshes) the bank has served.
  std::int64_t seriesServed() {
    const pf::Value requests = market()["chartRequests"];
    expect(requests.is_object(), "the bank told no series requests: " + told(requests));
    std::int64_t served = 0;
    for (const auto& [name, count] : requests.items()) served += pf::integerValue(count);
    return served;
  }
  // Business requests of an act that the bank holds unanswered now.
  std::int64_t heldByBank(const std::string& act) {
    const pf::Value held = d_.bankGet("/stats")["held"];
    return held.is_object() && held.contains(act) ? pf::integerValue(held[act]) : 0;
  }
  // Where the page's overlay draws its box: a square in the middle of the page's view.
  static Rect overlayBox(const pf::View& page) {
    const Rect area = screenRect(page, page.bounds());
    constexpr double kSide = 60;
    return Rect(area.center().x - kSide / 2, area.center().y - kSide / 2, kSide, kSide);
  }
  std::int64_t pushedTexts() { return pf::integerValue(market()["push"]["sent"]); }
  // The quote the bank pushed last for a pair, as the board shows it: "买 <bid> 卖 <ask>".
  std::string quoteText(const pf::Value& quotes, const std::string& code) {
    if (!quotes.is_object() || !quotes.contains(code) || !quotes[code].is_object()) return "(no quote for " + code + ")";
    const pf::Value& q = quotes[code];
    return "买 " + q.value("bid", std::string()) + "   卖 " + q.value("ask", std::string());
  }
  void expectBoard(const Texts& names, const std::string& why);

  // ---- the steps
  void home();
  void quotes();
  void chartRefresh();
  void crossHair();
  void pinch();
  void watchList();
  void search();
  void searchAdd();
  void watchListBack();
  void reorder();
  void boardOrder();
  void alert();
  void alertAnswer();
  void screenshot();
  void share();
  void environment();
  void store();
  void lockArmed();
  void lock();
  void unlock();
  void news();
  void homeAgain();
  void waiting();
  void waitingAnswer();

  Driver& d_;
  std::shared_ptr<app::AppDelegate> app_;
  pf::Value facts_;               // GET /market at the start
  std::string seen_;              // what the current step saw, for its "ok" line
  std::shared_ptr<pf::Image> unwaited_;  // the screen before the waiting call
};

// The board shows these pairs in this order, each with the bank's last quote.
void Tour::expectBoard(const Texts& names, const std::string& why) {
  const pf::Value quotes = market()["push"]["quotes"];
  Texts rows = boardRows();
  expect(rows.size() == names.size(), why + ": the board has " + std::to_string(rows.size()) + " rows: " + join(rows, " | "));
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string code = names[i];
    code.erase(std::remove(code.begin(), code.end(), '/'), code.end());
    expect(rows[i].rfind(names[i], 0) == 0, why + ": row " + std::to_string(i + 1) + " is " + rows[i]);
    const std::string wanted = quoteText(quotes, code);
    expect(rows[i].find(wanted) != std::string::npos, why + ": row " + rows[i] + " does not show " + wanted);
  }
}

void Tour::home() {
  auto c = chart();
  expect(c != nullptr, "no chart in the page");
  expectBoard({std::begin(kFavourites), std::end(kFavourites)}, "first quotes");
  // The page subscribes to every pair of the market and hears one quote of each.
  const int subscribed = std::atoi(eval("state.subscribed").c_str());
  expect(subscribed == static_cast<int>(facts_["push"]["quotes"].size()) && pushes() == subscribed,
         "pushed quotes: " + std::to_string(pushes()) + " for " + std::to_string(subscribed) + " pairs subscribed");
  auto slot = page()->webView()->elementFrame("chart-slot");
  expect(slot.has_value(), "the page has no chart slot");
  const Rect laid = c->superview()->convertRect(c->frame(), page()->webView().get());
  auto near = [](double a, double b) { return std::abs(a - b) < 0.5; };
  expect(near(laid.x(), slot->x()) && near(laid.y(), slot->y()) && near(laid.width(), slot->width()) &&
             near(laid.height(), slot->height()),
         "the chart stands at " + describe(laid) + ", its slot at " + describe(*slot));
  pf::Value& series = facts_["charts"]["USDCNY"];  // missing facts read as null
  expect(c->dataArray.size() == static_cast<std::size_t>(pf::integerValue(series["rows"])),
         "the chart has " + std::to_string(c->dataArray.size()) + " rows");
  // The rows are dated as the bank dated them, whatever the device's calendar.
  const auto first = static_cast<long long>(c->dataArray.front()->timestamp);
  const auto last = static_cast<long long>(c->dataArray.back()->timestamp);
  const auto bankFirst = static_cast<long long>(pf::doubleValue(series["first"]));
  const auto bankLast = static_cast<long long>(pf::doubleValue(series["last"]));
  expect(first == bankFirst && last == bankLast,
         "the chart's rows run from " + std::to_string(first) + " to " + std::to_string(last) + ", the bank's from " +
             std::to_string(bankFirst) + " to " + std::to_string(bankLast));
  expect(!c->kline->points.empty(), "the chart draws no candles");
  // Where the checks of the pictures look.
  auto web = page()->webView();
  auto board = web->elementFrame("board");
  expect(board.has_value(), "the page has no board");
  seen_ = "chart at " + describe(screenRect(*web, *slot)) + ", board at " + describe(screenRect(*web, *board)) +
          " on the screen";
}

void Tour::quotes() {
  const int before = pushes();
  const pf::Value answer = d_.bankControl({{"pushNext", true}});
  const int sent = static_cast<int>(pushedBy(answer));
  expect(sent > 0, "the bank pushed nothing: " + told(answer));
  await([&] { return pushes() >= before + sent; },
        [&] { return "the page got " + std::to_string(pushes() - before) + " of " + std::to_string(sent) + " quotes"; });
  expectBoard({std::begin(kFavourites), std::end(kFavourites)}, "second quotes");
  for (const auto& row : boardRows())
    expect(row.find("▲") != std::string::npos || row.find("▼") != std::string::npos, "no change marked in " + row);
  expect(eval("state.last") == "XAUUSD", "the last change marked is " + eval("state.last"));
}

void Tour::chartRefresh() {
  auto c = chart();
  expect(c != nullptr, "no chart in the page");
  const std::size_t rows = c->dataArray.size();
  pass(kChartRefresh);
  await([&] { return c->dataArray.size() > rows; },
        [&] { return "the chart still has " + std::to_string(c->dataArray.size()) + " rows"; });
  pf::Value& series = facts_["charts"]["USDCNY"];  // missing facts read as null
  expect(c->dataArray.size() == rows + 1, "the refresh brought " + std::to_string(c->dataArray.size() - rows) + " rows");
  expect(c->dataArray.back()->timestamp == pf::doubleValue(series["refreshed"]),
         "the new row is dated " + std::to_string(static_cast<long long>(c->dataArray.back()->timestamp)));
  pf::Value requests = market()["chartRequests"];
  expect(pf::integerValue(requests["getLastRateRange.shtml"]) >= 1, "the bank served no refresh");
  // The new day is drawn: its candle stands among the chart's candles in the colour of the bank's
  // move of that day, from its high to its low and no further.
  const pf::Value bankRows = d_.bankGet("/market/series?code=USDCNY")["rows"];
  expect(bankRows.is_array() && !bankRows.empty(), "the bank told no series");
  const pf::Value& day = bankRows.back();
  expect(pf::doubleValue(day.value("time", pf::Value())) == c->dataArray.back()->timestamp,
         "the bank's last day is not the chart's new row");
  const auto& drawn = c->kline->points;
  auto newest = std::find_if(drawn.begin(), drawn.end(),
                             [&](const kline::PointsModel& p) { return p.data == c->dataArray.back(); });
  expect(newest != drawn.end(), "the new day is not among the " + std::to_string(drawn.size()) + " candles drawn");
  const bool rising = !priceBelow(day.value("close", std::string()), day.value("open", std::string()));
  const pf::Color& colour = rising ? risingColour() : fallingColour();
  const double scale = pf::Screen::main()->scale();
  auto shot = pf::render::screen(scale);
  expect(shot != nullptr, "the screen could not be drawn");
  const Point high = screenPoint(*c->kline, newest->high), low = screenPoint(*c->kline, newest->low);
  // Pixel rows of the candle's column (its middle and a pixel either side) holding its colour.
  const int x = static_cast<int>(std::lround(high.x * scale));
  auto coloured = [&](int y) {
    for (int dx = -1; dx <= 1; ++dx)
      if (x + dx >= 0 && x + dx < shot->pixelWidth() && y >= 0 && y < shot->pixelHeight() &&
          colourDistance(shot->pixel(x + dx, y), colour) < 0.25)
        return true;
    return false;
  };
  const int top = static_cast<int>(std::lround(high.y * scale)), bottom = static_cast<int>(std::lround(low.y * scale));
  int inside = 0, outside = 0;
  for (int y = top; y <= bottom; ++y) inside += coloured(y);
  const int reach = static_cast<int>(4 * scale);
  for (int y = top - 12 * reach; y < top - reach; ++y) outside += coloured(y);
  for (int y = bottom + reach + 1; y <= bottom + 12 * reach; ++y) outside += coloured(y);
  const std::string where = "at x " + std::to_string(static_cast<int>(std::lround(high.x))) + " from y " +
                            std::to_string(static_cast<int>(std::lround(high.y))) + " to " +
                            std::to_string(static_cast<int>(std::lround(low.y)));
  expect(inside * 10 >= (bottom - top + 1) * 9,
         "the new day's " + std::string(rising ? "rising" : "falling") + " candle " + where + " shows its colour in " +
             std::to_string(inside) + " of " + std::to_string(bottom - top + 1) + " pixel rows");
  expect(outside == 0, "the new day's candle column " + where + " shows its colour in " + std::to_string(outside) +
                           " pixel rows beyond its high and low");
  seen_ = "the new day " + day.value("date", std::string()) + " drawn " + where;
}

void Tour::crossHair() {
  auto c = chart();
  expect(c != nullptr, "no chart in the page");
  const pf::Value rows = d_.bankGet("/market/series?code=USDCNY")["rows"];
  expect(rows.is_array() && !rows.empty(), "the bank told no series");
  // The visible window as a person reads it: the day under the chart's left end, then a candle
  // per day, left to right. (The device writes the bank's days in its own calendar.)
  auto shown = [&](const pf::Value& row) {
    return c->getTimeWithKlineType(pf::doubleValue(row.value("time", pf::Value())));
  };
  const std::string firstShown = c->benginDateLabel->text();
  std::optional<std::size_t> first;
  for (std::size_t i = 0; i < rows.size() && !first; ++i)
    if (shown(rows[i]) == firstShown) first = i;
  expect(first.has_value(), "the chart begins on \"" + firstShown + "\", a day the bank's series does not have");
  const auto& drawn = c->kline->points;
  expect(!drawn.empty(), "the chart draws no candles");
  // A finger rests on the middle of the candle drawn three quarters across the price area.
  const Rect area = screenRect(*c->mainView, c->mainView->bounds());
  auto centre = [&](const kline::PointsModel& p) { return screenRect(*c->kline, Rect(p.open.x, 0, 0, 0)).x(); };
  const double aim = area.x() + area.width() * 0.75;
  std::size_t k = 0;
  for (std::size_t i = 1; i < drawn.size(); ++i)
    if (std::abs(centre(drawn[i]) - aim) < std::abs(centre(drawn[k]) - aim)) k = i;
  expect(*first + k < rows.size(), "the chart draws more days than the bank's series has");
  const pf::Value& row = rows[*first + k];
  const std::string day = shown(row);
  const Point finger{centre(drawn[k]), area.y() + area.height() * 0.5};
  longPress(finger, kLongPress);
  settle();
  expect(!c->verticalLine->isHidden() && !c->horizontalLine->isHidden(), "no cross-hair");
  // The cross-hair stands on the candle under the finger, which is the bank's row of that day in
  // the colour of its move, and says its day; the header gives that day's prices.
  const double line = screenRect(*c, c->verticalLine->frame()).x();
  expect(std::abs(line - finger.x) < 1, "the cross-hair stands at x " + describe(Point{line, finger.y}) +
                                            ", the finger on the candle at " + describe(finger));
  const bool rising = !priceBelow(row.value("close", std::string()), row.value("open", std::string()));
  auto shot = pf::render::screen(1);
  expect(shot != nullptr, "the screen could not be drawn");
  const Rect column(finger.x - 3, area.y(), 6, area.height());
  const int own = countPixels(*shot, column, [&](const pf::Color& p) {
    return colourDistance(p, rising ? risingColour() : fallingColour()) < 0.1;
  });
  expect(own > 0, "no " + std::string(rising ? "rising" : "falling") + " candle under the finger, where the bank's " +
                      day + " is " + (rising ? "rising" : "falling"));
  expect(c->longPressDateLabel->text() == day,
         "the cross-hair says " + c->longPressDateLabel->text() + ", the candle under the finger is the bank's " + day);
  expect(c->chooseDayLabel->text() == day,
         "the header shows " + c->chooseDayLabel->text() + ", the finger is on " + day);
  const std::pair<const std::shared_ptr<pf::Label>&, const char*> prices[] = {
      {c->highLabel, "high"}, {c->openLabel, "open"}, {c->closeLabel, "close"}, {c->lowLabel, "low"}};
  for (const auto& [label, key] : prices) {
    const std::string text = label->text(), wanted = row.value(key, std::string());
    expect(text.size() > wanted.size() && text.compare(text.size() - wanted.size(), wanted.size(), wanted) == 0 &&
               text.find(':') == text.size() - wanted.size() - 1,
           "the header shows " + text + ", the bank's " + key + " of " + day + " is " + wanted);
  }
  expect(!c->longPressDataLabel->text().empty(), "the cross-hair shows no price");
  seen_ = "the finger on " + row.value("date", std::string()) + ", the bank's day " + std::to_string(*first + k + 1) +
          " of " + std::to_string(rows.size());
}

void Tour::pinch() {
  auto c = chart();
  expect(c != nullptr, "no chart in the page");
  const double width = c->kLineWidth;
  const auto newest = c->dataArray.back();
  // Two fingers on the chart closing: more days come into sight. The moves come faster than the
  // chart redraws, as they do under a quick hand.
  const Rect area = screenRect(*c->mainView, c->mainView->bounds());
  // (Above the middle, where the cross-hair's line is not.)
  pinchAt(Point{area.center().x, area.y() + area.height() * 0.4}, area.width() * 0.35, area.width() * 0.1, 16);
  settle();
  d_.waitFor([] { return false; }, 0.05);  // the queued redraws
  expect(c->kLineWidth < width - 1, "the candles are " + std::to_string(c->kLineWidth) + " wide, were " +
                                        std::to_string(width));
  // The zoomed window keeps its right end on the newest day and is full of candles.
  const auto& points = c->kline->points;
  expect(!points.empty(), "no candles after the pinch");
  expect(points.back().data == newest, "the window ends on " + points.back().data->date.value_or("?") + ", not on " +
                                           newest->date.value_or("?"));
  const double box = c->kline->bounds().width();
  expect(points.size() + 1 >= static_cast<std::size_t>(box / (c->kLineWidth + c->kLinePadding)),
         std::to_string(points.size()) + " candles drawn across " + std::to_string(static_cast<int>(box)) + " points");
  // What a person sees: candles from the chart's left end to its right end.
  auto shot = pf::render::screen(1);
  expect(shot != nullptr, "the screen could not be drawn");
  const double fifth = area.width() / 5;
  for (const auto& [side, part] : {std::pair{"left", Rect(area.x(), area.y(), fifth, area.height())},
                                   {"middle", Rect(area.x() + 2 * fifth, area.y(), fifth, area.height())},
                                   {"right", Rect(area.x() + area.width() - fifth, area.y(), fifth, area.height())}}) {
    const int pixels = countPixels(*shot, part, isCandle);
    expect(pixels >= 30, std::to_string(pixels) + " candle pixels in the chart's " + side + " fifth");
  }
}

void Tour::watchList() {
  tapElement("act-watch");
  await([&] { return std::dynamic_pointer_cast<app::SortViewController>(top()) != nullptr; },
        [] { return std::string("the watch list did not open"); });
  pass(kAnimations);
  auto screen = std::dynamic_pointer_cast<app::SortViewController>(top());
  auto table = screen->mainTableView();
  expect(table->numberOfSections() == 3, std::to_string(table->numberOfSections()) + " groups");
  expect(rowTexts(*table, 0) == Texts{"USD/CNY 美元人民币", "EUR/CNY 欧元人民币"}, "first group: " + join(rowTexts(*table, 0)));
  expect(rowTexts(*table, 1) == Texts{"EUR/USD 欧元美元"}, "second group: " + join(rowTexts(*table, 1)));
  expect(table->numberOfRowsInSection(2) == 0, "the closed group shows rows");
}

void Tour::search() {
  auto sort = std::dynamic_pointer_cast<app::SortViewController>(top());
  expect(sort != nullptr, "not on the watch list");
  tapView(sort->addButton(), "the add button");
  await([&] { return std::dynamic_pointer_cast<app::CurrencySeachViewController>(top()) != nullptr; },
        [] { return std::string("the currency search did not open"); });
  auto screen = std::dynamic_pointer_cast<app::CurrencySeachViewController>(top());
  screen->view()->layoutIfNeeded();
  tapView(screen->searchBar()->textField(), "the search field");
  expect(pf::Keyboard::shared().isVisible(), "no keyboard after a tap on the search field");
  for (const char* key : {"u", "s", "d"}) expect(pf::Keyboard::shared().typeText(key), std::string("the key ") + key + " went nowhere");
  pass(kAnimations);
  auto table = screen->tableView();
  Texts shown;
  for (int s = 0; s < table->numberOfSections(); ++s)
    for (const auto& t : rowTexts(*table, s)) shown.push_back(t);
  expect(shown == Texts{"USD/CNY 美元人民币", "EUR/USD 欧元美元", "USD/JPY 美元日元", "GBP/USD 英镑美元", "AUD/USD 澳元美元"},
         "the list shows " + join(shown));
  expect(screen->searchBar()->textField()->text() == "usd", "the field holds \"" + screen->searchBar()->textField()->text() + "\"");
}

void Tour::searchAdd() {
  auto screen = std::dynamic_pointer_cast<app::CurrencySeachViewController>(top());
  expect(screen != nullptr, "not on the currency search");
  auto cell = cellNamed(*screen->tableView(), "USD/JPY 美元日元");
  expect(cell != nullptr, "no USD/JPY row");
  auto button = std::dynamic_pointer_cast<pf::Button>(cell->contentView()->viewWithTag(100));
  expect(button && button->isEnabled(), "USD/JPY cannot be chosen");
  tapView(button, "USD/JPY's add button");
  pass(kAnimations);
  expect(!button->isEnabled(), "USD/JPY's button is still enabled");
}

void Tour::watchListBack() {
  auto screen = std::dynamic_pointer_cast<app::CurrencySeachViewController>(top());
  expect(screen != nullptr, "not on the currency search");
  tapView(screen->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag), "the back button");
  screen.reset();
  await([&] { return std::dynamic_pointer_cast<app::SortViewController>(top()) != nullptr; },
        [] { return std::string("the watch list did not come back"); });
  pass(kAnimations);
  auto sort = std::dynamic_pointer_cast<app::SortViewController>(top());
  expect(rowTexts(*sort->mainTableView(), 1) == Texts{"EUR/USD 欧元美元", "USD/JPY 美元日元"},
         "second group: " + join(rowTexts(*sort->mainTableView(), 1)));
  expect(!pf::Keyboard::shared().isVisible(), "the keyboard is still on the screen after leaving the search");
}

void Tour::reorder() {
  auto sort = std::dynamic_pointer_cast<app::SortViewController>(top());
  expect(sort != nullptr, "not on the watch list");
  auto table = sort->mainTableView();
  auto cell = table->cellForRowAtIndexPath({0, 1});
  expect(cell && cell->reorderControl(), "EUR/CNY has no reorder control");
  // The row's grip, dragged one row up.
  const Point grip = centreOf(*cell->reorderControl());
  drag(grip, Point{grip.x, grip.y - table->rectForRowAtIndexPath({0, 1}).height()});
  pass(kAnimations);
  expect(rowTexts(*table, 0) == Texts{"EUR/CNY 欧元人民币", "USD/CNY 美元人民币"}, "first group: " + join(rowTexts(*table, 0)));
}

void Tour::boardOrder() {
  auto sort = std::dynamic_pointer_cast<app::SortViewController>(top());
  expect(sort != nullptr, "not on the watch list");
  tapView(sort->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag), "完成");
  sort.reset();
  await([&] { return text("res-watch").rfind("已更新", 0) == 0; },
        [&] { return "the page shows \"" + text("res-watch") + "\""; });
  pass(kAnimations);
  expect(top() == app_->nav()->viewControllers().front(), "the watch list is still open");
  expectBoard({"EUR/CNY", "USD/CNY", "EUR/USD", "USD/JPY", "XAU/USD"}, "the new order");
  expect(text("res-watch") == "已更新，自选 5 个", "the page shows \"" + text("res-watch") + "\"");
}

void Tour::alert() {
  tapElement("act-alert");
  await([] { return !pf::Application::shared().visibleAlerts().empty(); }, [] { return std::string("no alert"); });
  pass(kAnimations);
  auto shown = pf::Application::shared().visibleAlerts().back();
  expect(shown->title == "到价提醒", "the alert is titled " + shown->title);
  expect(shown->numberOfButtons() == 2 && shown->buttonTitleAtIndex(0) == "取消" && shown->buttonTitleAtIndex(1) == "提醒我",
         "the alert has " + std::to_string(shown->numberOfButtons()) + " buttons");
}

void Tour::alertAnswer() {
  auto alerts = pf::Application::shared().visibleAlerts();
  expect(!alerts.empty(), "no alert");
  auto shown = alerts.back();
  // Where the second button is drawn: the middle of the points the alert gives to it.
  std::optional<Rect> box;
  const Rect bounds = shown->bounds();
  for (double y = 0; y < bounds.height(); y += 2)
    for (double x = 0; x < bounds.width(); x += 2)
      if (shown->buttonIndexAtPoint({x, y}) == 1) box = box ? box->unionWith(Rect(x, y, 2, 2)) : Rect(x, y, 2, 2);
  expect(box.has_value(), "the alert draws no second button");
  tapScreen(screenPoint(*shown, box->center()));
  await([&] { return text("res-alert").rfind("选择了", 0) == 0; }, [&] { return "the page shows \"" + text("res-alert") + "\""; });
  pass(kAnimations);
  expect(text("res-alert") == "选择了第 1 个按钮（提醒我）", "the page shows \"" + text("res-alert") + "\"");
  expect(pf::Application::shared().visibleAlerts().empty(), "the alert is still up");
}

void Tour::screenshot() {
  tapElement("act-shot");
  await([&] { return text("res-shot").rfind("已保存", 0) == 0 || text("res-shot") == "截屏失败"; },
        [&] { return "the page shows \"" + text("res-shot") + "\""; });
  expect(text("res-shot") == "已保存 screenShot.png", "the page shows \"" + text("res-shot") + "\"");
  const std::string file = eval("state.shot");
  auto image = pf::Image::fromFile(file);
  expect(image != nullptr, "no picture at " + file);
  // The page's web view at the screen's scale.
  const double scale = pf::Screen::main()->scale();
  const auto size = image->size();
  auto web = page()->webView();
  const Rect bounds = web->bounds();
  expect(size.width == bounds.width() * scale && size.height == bounds.height() * scale,
         "the picture is " + describe(Rect(0, 0, size.width, size.height)) + " pixels, the page " + describe(bounds) +
             " points at scale " + std::to_string(scale));
  // What it shows is what the window shows: the chart and the board, pixel for pixel.
  auto screen = pf::render::screen(scale);
  expect(screen != nullptr, "the screen could not be drawn");
  const Point origin = screenRect(*web, bounds).origin;
  auto slot = web->elementFrame("chart-slot");
  auto board = web->elementFrame("board");
  expect(slot && board, "the page has no chart slot or no board");
  int candles = 0;
  for (const auto& [what, area] : {std::pair{"chart", screenRect(*web, *slot)}, {"board", screenRect(*web, *board)}}) {
    const bool chart = std::string(what) == "chart";
    int differing = 0, total = 0;
    for (int y = static_cast<int>(area.y() * scale); y < static_cast<int>((area.y() + area.height()) * scale); ++y)
      for (int x = static_cast<int>(area.x() * scale); x < static_cast<int>((area.x() + area.width()) * scale); ++x) {
        const pf::Color seen = screen->pixel(x, y);
        if (chart && isCandle(seen)) ++candles;
        differing += colourDistance(seen, image->pixel(x - static_cast<int>(origin.x * scale),
                                                       y - static_cast<int>(origin.y * scale))) > 0.25;
        ++total;
      }
    expect(total > 0 && differing * 50 <= total, "the picture's " + std::string(what) +
                                                     " differs from the window's in " + std::to_string(differing) +
                                                     " of " + std::to_string(total) + " pixels");
  }
  expect(candles >= 100, "the window's chart shows " + std::to_string(candles) + " candle pixels");
}

void Tour::share() {
  tapElement("act-share");
  await([&] { return text("res-share").find("（") != std::string::npos; }, [&] { return "the page shows \"" + text("res-share") + "\""; });
  // Headless there is no messaging platform to share to: the share fails at once and says so.
  expect(text("res-share") == "分享失败（-3）", "the page shows \"" + text("res-share") + "\"");
  const std::string scheme = share::QxApi::registeredAppId();
  expect(pf::Application::shared().isOwnURLScheme(scheme), "the platform's answers on " + scheme + " could not come back");
}

void Tour::environment() {
  const std::size_t before = d_.bankGet("/stats")["handshakes"].size();
  tapElement("act-envir");
  await([&] { return text("res-envir").find("握手") != std::string::npos; },
        [&] { return "the page shows \"" + text("res-envir") + "\""; });
  expect(text("res-envir") == "当前：第二环境，握手成功", "the page shows \"" + text("res-envir") + "\"");
  const pf::Value handshakes = d_.bankGet("/stats")["handshakes"];
  expect(handshakes.size() > before, "the bank saw no new key negotiation");
  const std::string path = handshakes.back().value("path", std::string());
  expect(path.rfind("/mnfront/", 0) == 0, "the new key negotiation went to " + path);
}

void Tour::store() {
  tapElement("act-store");
  await([&] { return text("res-store").rfind("已记录", 0) == 0 || text("res-store") == "保存失败"; },
        [&] { return "the page shows \"" + text("res-store") + "\""; });
  expect(text("res-store") == "已记录第 1 次", "the page shows \"" + text("res-store") + "\"");
  // What the client keeps, not what the page counted.
  auto stores = kvstore::KeyValueStoreLib::sharedInstance();
  auto store = stores ? stores->sqlStore() : nullptr;
  expect(store != nullptr, "the client has no store");
  const auto kept = store->getStringById("visits");
  expect(kept && *kept == "1", "the client's store keeps visits " + (kept ? told(*kept) : std::string("nowhere")));
}

void Tour::lockArmed() {
  tapElement("act-lock");
  await([&] { return text("res-lock") != "未开启"; }, [&] { return "the page shows \"" + text("res-lock") + "\""; });
  expect(text("res-lock") == "已开启：回到前台时锁定", "the page shows \"" + text("res-lock") + "\"");
  // The client's own lock, not the page's word for it.
  const auto& lock = app::PylGestureManger::sharedInstance();
  expect(lock.needGesture(), "the page says the lock is armed; the client's lock is not");
  expect(lock.gestureURL() == "lock/lock.html", "the client's lock would open \"" + lock.gestureURL() + "\"");
  expect(lockView() == nullptr, "the lock shows before the application has left");
}

void Tour::lock() {
  expect(app::PylGestureManger::sharedInstance().needGesture(), "the lock is not armed");
  pf::Application::shared().enterBackground();
  pass(1.0);
  pf::Application::shared().enterForeground();
  await([&] {
    auto view = lockView();
    return view && view->currentPage() && view->currentPage()->webView()->isLoaded();
  }, [] { return std::string("no lock page over the window"); });
  pass(kAnimations);
  auto view = lockView();
  expect(app_->mainWindow()->subviews().back() == view, "the lock page is not the topmost view");
  expect(view->frame() == pf::Screen::main()->bounds(), "the lock page does not cover the screen");
  expect(view->currentPage()->webView()->title() == "Lock", "the lock shows " + view->currentPage()->webView()->title());
}

void Tour::unlock() {
  auto view = lockView();
  expect(view && view->currentPage(), "no lock page");
  tapElement(*view->currentPage()->webView(), "unlock");
  view.reset();
  await([&] { return lockView() == nullptr; }, [] { return std::string("the lock page stays"); });
  pass(kAnimations);
  expect(currentPath().find("index.html") != std::string::npos, "the home page is not there: " + currentPath());
}

void Tour::news() {
  tapElement("act-news");
  await([&] { return currentPath().find("news/news.html") != std::string::npos; },
        [&] { return "the page is " + currentPath(); });
  settle();
  pass(kAnimations);
  // The home page left with its chart up: the client takes the chart away with it, and its
  // refresh with it.
  const auto charts = chartsInWindows();
  expect(charts.empty(), std::to_string(charts.size()) + " chart view(s) stay in the window over the news");
  const std::int64_t served = seriesServed();
  pass(3 * kChartRefresh);
  const std::int64_t later = seriesServed() - served;
  expect(later == 0, "the bank served " + std::to_string(later) + " series requests in " +
                         std::to_string(static_cast<int>(3 * kChartRefresh)) + " s after the home page went");
  // The home page has gone: what the bank pushes now reaches no page.
  const std::size_t logged = d_.logLines().size();
  const pf::Value answer = d_.bankControl({{"pushNext", true}});
  const std::int64_t sent = pushedBy(answer);
  expect(sent > 0, "the bank pushed nothing while the news was open: " + told(answer));
  d_.waitFor([] { return false; }, 0.5);
  const auto lines = d_.logLines();
  for (std::size_t i = logged; i < lines.size(); ++i)
    expect(lines[i].find("MOWebData") == std::string::npos, "a push still reached the news page: " + lines[i]);
  seen_ = std::to_string(sent) + " quotes pushed, none delivered";
}

void Tour::homeAgain() {
  // Every quote the bank pushes from now on goes to this one client, for the home page.
  const std::int64_t sentBefore = pushedTexts();
  tapElement("back");
  await([&] {
    return currentPath().find("index.html") != std::string::npos && eval("state.chartShown") == "true" && chart() &&
           !chart()->dataArray.empty();
  }, [&] { return "the home page did not come back: " + currentPath(); });
  settle();
  // One more quote series: the page has one subscription, so it gets each quote once.
  d_.bankControl({{"pushNext", true}});
  const std::int64_t sent = pushedTexts() - sentBefore;
  await([&] { return pushes() >= sent; },
        [&] { return "the page got " + std::to_string(pushes()) + " of " + std::to_string(sent) + " quotes pushed since it opened"; });
  d_.waitFor([] { return false; }, 0.3);  // a second delivery would come now
  pass(kAnimations);
  seen_ = std::to_string(sent) + " quotes pushed, " + std::to_string(pushes()) + " delivered";
  expect(pushes() == sent, "the page got " + std::to_string(pushes()) + " deliveries of " + std::to_string(sent) +
                               " quotes pushed since it opened");
  expectBoard({"EUR/CNY", "USD/CNY", "EUR/USD", "USD/JPY", "XAU/USD"}, "the kept order");
  expect(chart()->dataArray.size() >= 200, "the chart has " + std::to_string(chart()->dataArray.size()) + " rows");
  // The page tells the client's state as it is: the second environment, the lock armed.
  expect(text("res-envir") == "当前：第二环境",
         "the page shows \"" + text("res-envir") + "\" on the second environment");
  expect(text("res-lock") == "已开启：回到前台时锁定",
         "the page shows \"" + text("res-lock") + "\" with the lock armed");
}

void Tour::waiting() {
  auto web = page() ? page()->webView() : nullptr;
  expect(web != nullptr, "no page is open");
  const pf::Value hold = d_.bankControl({{"hold", {"quote"}}});
  expect(hold.is_object(), "the bank did not take the hold: " + told(hold));
  const double scale = pf::Screen::main()->scale();
  unwaited_ = pf::render::screen(scale);
  expect(unwaited_ != nullptr, "the screen could not be drawn");
  tapElement("act-refresh");
  await([&] { return heldByBank("quote") > 0; },
        [&] { return "the bank holds no price request; the page shows \"" + text("res-refresh") + "\""; });
  expect(text("res-refresh") == "询价中…", "the page shows \"" + text("res-refresh") + "\" while its call waits");
  // The overlay's box is drawn over the page's middle: darker than the page without it.
  auto shot = pf::render::screen(scale);
  expect(shot != nullptr, "the screen could not be drawn");
  const auto [darkened, total] =
      comparePixels(*shot, *unwaited_, overlayBox(*web), [](const pf::Color& with, const pf::Color& without) {
        return brightness(with) < 0.35 && brightness(without) - brightness(with) > 0.3;
      });
  seen_ = std::to_string(darkened) + " of " + std::to_string(total) + " pixels at the page's middle darkened";
  expect(total > 0 && darkened * 2 >= total, "no overlay over the waiting call: " + seen_);
}

void Tour::waitingAnswer() {
  const pf::Value release = d_.bankControl({{"hold", pf::Value::array()}});
  expect(release.is_object(), "the bank did not let the request go: " + told(release));
  await([&] { return text("res-refresh") != "询价中…"; }, [] { return std::string("the call was not answered"); });
  pass(kAnimations);
  // The price the bank gave the first page's own request.
  std::string price = text("quote");
  price.erase(0, std::min(price.size(), std::string("quote: ").size()));
  expect(text("res-refresh") == price, "the page shows \"" + text("res-refresh") + "\", the bank's price is " + price);
  expect(unwaited_ != nullptr, "no picture of the page before the call");
  auto web = page() ? page()->webView() : nullptr;
  expect(web != nullptr, "no page is open");
  const double scale = pf::Screen::main()->scale();
  auto shot = pf::render::screen(scale);
  expect(shot != nullptr, "the screen could not be drawn");
  const auto [differing, total] =
      comparePixels(*shot, *unwaited_, overlayBox(*web),
                    [](const pf::Color& now, const pf::Color& before) { return colourDistance(now, before) > 0.25; });
  expect(total > 0 && differing * 50 <= total, "the page's middle still differs from before the call in " +
                                      std::to_string(differing) + " of " + std::to_string(total) + " pixels");
}

int Tour::run() {
  static const Step kSteps[] = {
      {"home", "the board shows the bank's first quotes of 4 favourites; the chart has 200 day candles over its slot",
       &Tour::home},
      {"quotes", "the bank's next quotes reach the board, each change marked", &Tour::quotes},
      {"chart-refresh", "5 s later the chart asks for new rows, appends the new day and draws its candle",
       &Tour::chartRefresh},
      {"crosshair", "a long press on the chart shows the cross-hair on a candle and its prices", &Tour::crossHair},
      {"pinch", "a pinch brings more days into sight, the window still full and ending on the newest day",
       &Tour::pinch},
      {"watchlist", "编辑自选 opens the watch list: 3 groups with their favourites", &Tour::watchList},
      {"search", "+ opens the currency search; \"usd\" typed on the keyboard filters it", &Tour::search},
      {"search-add", "+ on USD/JPY makes it a favourite", &Tour::searchAdd},
      {"watchlist-back", "back on the watch list: USD/JPY among the favourites, no keyboard", &Tour::watchListBack},
      {"reorder", "EUR/CNY dragged above USD/CNY", &Tour::reorder},
      {"board-order", "完成 returns the list: the board shows the new order", &Tour::boardOrder},
      {"alert", "到价提醒 shows a native alert with two buttons", &Tour::alert},
      {"alert-answer", "the second button answers 1 to the page", &Tour::alertAnswer},
      {"screenshot", "截屏 saves a picture of the page", &Tour::screenshot},
      {"share", "分享截屏 fails headless with (-3, 分享失败) and the page says so", &Tour::share},
      {"environment", "切换环境 negotiates keys with the second environment", &Tour::environment},
      {"store", "本地存储 counts the visit in the client's store", &Tour::store},
      {"lock-armed", "手势锁屏 arms the client's lock; nothing shows yet", &Tour::lockArmed},
      {"lock", "back from the background: the lock page covers the window", &Tour::lock},
      {"unlock", "解锁 on the lock page removes it", &Tour::unlock},
      {"news",
       "财经新闻 opens the news; the chart left up goes with the home page and asks for no more rows, and no push "
       "reaches the news",
       &Tour::news},
      {"home-again",
       "back home: the kept order, each pushed quote delivered once, the environment and the lock as they are",
       &Tour::homeAgain},
      {"waiting", "刷新报价 asks the bank, which holds the answer: the client's overlay is drawn over the page",
       &Tour::waiting},
      {"waiting-answer", "the bank answers: the page shows its price and the overlay has gone", &Tour::waitingAnswer},
  };
  facts_ = market();
  Texts failed;
  int number = 0;
  for (const Step& step : kSteps) {
    ++number;
    char numbered[16];
    std::snprintf(numbered, sizeof numbered, "step %02d", number);
    if (d_.expired()) {
      d_.log(std::string("tour: the run's deadline passed before ") + numbered);
      failed.push_back(numbered);
      break;
    }
    char tag[64];
    std::snprintf(tag, sizeof tag, "tour-%02d-%s", number, step.name);
    const std::string heading = std::string(numbered) + " " + step.name;
    d_.log(heading + ": expects " + step.expects);
    seen_.clear();
    std::string outcome;
    try {
      (this->*step.body)();
    } catch (const Unexpected& u) {
      outcome = u.seen;
    } catch (const std::exception& e) {  // an answer of another shape than the step reads
      outcome = std::string("the step could not read what it saw: ") + e.what();
    }
    settle();
    if (!d_.snapshot(tag))
      outcome += std::string(outcome.empty() ? "" : "; ") + "the picture " + tag + ".png could not be written";
    if (outcome.empty()) {
      d_.log(heading + ": ok" + (seen_.empty() ? "" : " (" + seen_ + ")"));
    } else {
      d_.log(heading + ": FAILED: " + outcome);
      failed.push_back(heading);
    }
  }
  if (failed.empty()) {
    d_.log("tour: every step saw what it expects");
    return 0;
  }
  d_.log("tour failed at " + failed.front() + (failed.size() > 1 ? " (also " + join({failed.begin() + 1, failed.end()}) + ")" : ""));
  return kTourFailed;
}

}  // namespace

int run(Driver& driver, const std::shared_ptr<app::AppDelegate>& delegate) { return Tour(driver, delegate).run(); }

void prepare(Driver& driver) {
  auto stores = kvstore::KeyValueStoreLib::sharedInstance();
  auto store = stores ? stores->sqlStore() : nullptr;
  if (!store) return;
  std::vector<std::string> kept;
  for (const char* key : kTourKeys)
    if (auto value = store->getStringById(key); value && !value->is_null()) kept.emplace_back(key);
  if (kept.empty()) return;
  store->deleteObjectsByIdArray(kept);
  driver.log("tour: set up afresh: " + join(kept) + " of an earlier tour removed from the pages' store");
}

}  // namespace fxtour
