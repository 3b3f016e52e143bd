#include <gtest/gtest.h>

#include <cmath>

#include "app/CurrencySeachViewController.h"
#include "app/PylPluginHandle.h"
#include "app/PylSortPlugin.h"
#include "app/SortViewController.h"
#include "app/TnqStyle.h"
#include "app/TnqUIViewAttribute.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Window.h"

namespace {

using pf::IndexPath;
using pf::Point;
using pf::Value;

const char* kGroups = R"([
  {"name": "外汇", "data": [
    {"product": "USD 美元", "isInterest": "1", "currencyCode": "USD"},
    {"product": "EUR 欧元", "isInterest": 1, "currencyCode": "EUR"},
    {"product": "JPY 日元", "isInterest": "0", "currencyCode": "JPY"},
    {"product": "GBP 英镑", "isInterest": "1", "currencyCode": "GBP"}]},
  {"name": "贵金属", "isOpen": "0", "data": [
    {"product": "XAU 黄金", "isInterest": "1", "currencyCode": "XAU"},
    {"product": "XAG 白银", "currencyCode": "XAG"}]},
  {"name": "指数", "isOpen": 1, "data": [
    {"product": "USD/CNH 美元离岸", "isInterest": "0", "currencyCode": "CNH"},
    {"product": "DXY 美元指数", "isInterest": "1"}]}
])";

class Page : public container::MwJSTaskListener {
 public:
  std::vector<Value> answers;
  std::vector<Value> timeOuts;
  void onSuccessWithResult(const Value& result, int, const std::string&) override { answers.push_back(result); }
  void onTimeOutWithResult(const Value& result, int, const std::string&) override { timeOuts.push_back(result); }
};

// The products of a returned group as "name=flag" texts.
std::vector<std::string> products(const Value& group) {
  std::vector<std::string> out;
  for (auto& p : group["data"]) out.push_back(p["product"].get<std::string>() + "=" + p["isInterest"].get<std::string>());
  return out;
}

class WatchList : public ::testing::Test {
 protected:
  pf::VirtualTimeScope time;
  std::shared_ptr<pf::Window> window;
  std::shared_ptr<pf::NavigationController> nav;
  std::shared_ptr<Page> page = std::make_shared<Page>();
  std::shared_ptr<app::PylSortPlugin> plugin;
  std::shared_ptr<container::MwTask> task;

  void SetUp() override {
    pf::Application::shared().reset();
    pf::Keyboard::shared().reset();
    window = pf::Window::make(pf::Rect(0, 0, 375, 667));
    nav = pf::NavigationController::make(std::make_shared<pf::ViewController>());
    nav->setNavigationBarHidden(true);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    container::MwServletManager::resetForTesting();
    pf::Keyboard::shared().reset();
    pf::Application::shared().reset();
  }

  // Calls "sort.do" the way the container does: a task with a waiting time, then the request.
  bool call(const std::string& action, Value data, bool withNav = true) {
    task = container::MwTask::make(container::kTaskTypePageCall, "r1", page, {});
    task->setTimeoutValue(30);
    auto request = container::MwServletRequest::parse(
        Value{{"url", "client://sort.do?action=" + action}, {"requestId", "r1"}, {"data", std::move(data)}});
    // The servlet the container takes for the call, from the built-in plug-in table.
    app::registerPluginClasses();
    app::PylPluginHandle handle;
    handle.setPluginArray(app::PylPluginHandle::builtInPluginArray());
    handle.registerPlugin();
    plugin = std::dynamic_pointer_cast<app::PylSortPlugin>(
        container::MwServletManager::getInstance().getServletWithName(request->getServletName(), request->getScheme()));
    EXPECT_TRUE(plugin);
    if (!plugin) return false;
    if (withNav) plugin->setNavController(nav);
    bool handled = plugin->handleRequestAndTask(*request, task);
    window->layoutIfNeeded();
    return handled;
  }
  void open() { call("callSortView", pf::parseJson(kGroups).value()); }
  std::shared_ptr<app::SortViewController> sortScreen() {
    return std::dynamic_pointer_cast<app::SortViewController>(nav->topViewController());
  }
  std::shared_ptr<app::CurrencySeachViewController> searchScreen() {
    return std::dynamic_pointer_cast<app::CurrencySeachViewController>(nav->topViewController());
  }
  Point centerOf(const pf::View& v) { return v.convertPoint(v.bounds().center(), nullptr); }
  void tap(const pf::View& v) {
    window->layoutIfNeeded();
    window->tapAt(centerOf(v));
  }
  // A window point on the row at part x of its width.
  Point rowPoint(pf::TableView& table, IndexPath ip, double x) {
    pf::Rect r = table.rectForRowAtIndexPath(ip);
    return table.convertPoint(Point{r.width() * x, r.midY()}, nullptr);
  }
  std::shared_ptr<pf::Button> arrow(pf::TableView& table, int section) {
    window->layoutIfNeeded();
    for (auto& v : table.headerViewForSection(section)->subviews())
      if (auto b = std::dynamic_pointer_cast<pf::Button>(v)) return b;
    return nullptr;
  }
  std::vector<std::string> rowTexts(pf::TableView& table, int section) {
    std::vector<std::string> out;
    for (int r = 0; r < table.numberOfRowsInSection(section); ++r) {
      auto cell = table.cellForRowAtIndexPath({section, r});
      if (!cell) continue;
      auto label = std::dynamic_pointer_cast<pf::Label>(cell->contentView()->viewWithTag(101));
      out.push_back(label ? label->text() : cell->textLabel()->text());
    }
    return out;
  }
  void drag(Point from, double dy) {
    window->touchDown(from);
    for (int i = 1; i <= 10; ++i) window->touchMove({from.x, from.y + dy * i / 10});
    window->touchUp({from.x, from.y + dy});
  }
  void done() { tap(*sortScreen()->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag)); }
};

TEST_F(WatchList, ReorderWithinAGroupAndTheAnswerWaitsForDone) {
  open();
  auto screen = sortScreen();
  ASSERT_TRUE(screen);
  auto table = screen->mainTableView();
  EXPECT_TRUE(table->isEditing());
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"USD 美元", "EUR 欧元", "GBP 英镑"}));
  EXPECT_EQ(table->numberOfRowsInSection(1), 0);  // closed

  drag(rowPoint(*table, {0, 0}, 0.97), 88);  // two rows down
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"EUR 欧元", "GBP 英镑", "USD 美元"}));
  drag(rowPoint(*table, {0, 1}, 0.97), 44 * 3 + 44 * 2);  // into the third group: comes back
  time.advance(1);
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"EUR 欧元", "GBP 英镑", "USD 美元"}));
  EXPECT_EQ(rowTexts(*table, 2), (std::vector<std::string>{"DXY 美元指数"}));

  time.advance(3600);  // the call has no time-out while the screen is up
  EXPECT_TRUE(page->answers.empty());
  EXPECT_TRUE(page->timeOuts.empty());
  done();
  ASSERT_EQ(page->answers.size(), 1u);
  const Value& answer = page->answers[0];
  EXPECT_EQ(answer["result"], 0);
  EXPECT_EQ(answer["continue"], false);
  const Value& groups = answer["data"];
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(products(groups[0]), (std::vector<std::string>{"EUR 欧元=1", "GBP 英镑=1", "USD 美元=1", "JPY 日元=0"}));
  EXPECT_EQ(products(groups[1]), (std::vector<std::string>{"XAU 黄金=1", "XAG 白银=0"}));
  EXPECT_EQ(products(groups[2]), (std::vector<std::string>{"DXY 美元指数=1", "USD/CNH 美元离岸=0"}));
  for (auto& g : groups) {
    EXPECT_FALSE(g.contains("isOpen"));
    for (auto& p : g["data"]) EXPECT_TRUE(p.contains("currencyCode"));
  }
  EXPECT_EQ(groups[2]["data"][0]["currencyCode"], "");
  EXPECT_EQ(nav->topViewController(), nav->viewControllers().front());
}

TEST_F(WatchList, DeleteByControlAndConfirmationReturnsTheProductAtItsInputPlace) {
  open();
  auto table = sortScreen()->mainTableView();
  window->tapAt(rowPoint(*table, {0, 1}, 0.03));  // EUR's delete control
  window->layoutIfNeeded();
  window->tapAt(rowPoint(*table, {0, 1}, 0.95));  // "Delete"
  time.advance(pf::TableView::kRowAnimationDuration + 0.01);
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"USD 美元", "GBP 英镑"}));
  // The favourite without a currency code goes too, and its record comes back.
  window->tapAt(rowPoint(*table, {2, 0}, 0.03));
  window->layoutIfNeeded();
  window->tapAt(rowPoint(*table, {2, 0}, 0.95));
  time.advance(1);
  EXPECT_EQ(table->numberOfRowsInSection(2), 0);
  done();
  ASSERT_EQ(page->answers.size(), 1u);
  const Value& groups = page->answers[0]["data"];
  EXPECT_EQ(products(groups[0]), (std::vector<std::string>{"USD 美元=1", "GBP 英镑=1", "EUR 欧元=0", "JPY 日元=0"}));
  EXPECT_EQ(products(groups[2]), (std::vector<std::string>{"USD/CNH 美元离岸=0", "DXY 美元指数=0"}));
}

TEST_F(WatchList, GroupsOpenAndCloseByTheirArrow) {
  open();
  auto table = sortScreen()->mainTableView();
  auto rows = table->visibleCells();
  tap(*arrow(*table, 0));
  EXPECT_EQ(table->numberOfRowsInSection(0), 0);
  EXPECT_NEAR(std::atan2(arrow(*table, 0)->transform().b, arrow(*table, 0)->transform().a), M_PI, 1e-9);
  time.advance(pf::TableView::kRowAnimationDuration + 0.01);
  for (auto& cell : rows) {
    if (cell->textLabel()->text() != "DXY 美元指数") {
      EXPECT_EQ(cell->superviewRaw(), nullptr);
    }
  }
  tap(*arrow(*table, 0));
  tap(*arrow(*table, 1));
  time.advance(1);
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"USD 美元", "EUR 欧元", "GBP 英镑"}));
  EXPECT_EQ(rowTexts(*table, 1), (std::vector<std::string>{"XAU 黄金"}));
  EXPECT_TRUE(arrow(*table, 0)->transform().isIdentity());
}

TEST_F(WatchList, SearchTypeChooseClearAndGoBack) {
  open();
  tap(*sortScreen()->addButton());
  auto search = searchScreen();
  ASSERT_TRUE(search);
  window->layoutIfNeeded();
  auto table = search->tableView();
  EXPECT_EQ(table->numberOfSections(), 3);
  EXPECT_EQ(rowTexts(*table, 0).size(), 4u);
  EXPECT_EQ(table->numberOfRowsInSection(1), 0);  // closed on the watch list too

  tap(*search->searchBar()->textField());
  auto& keyboard = pf::Keyboard::shared();
  ASSERT_TRUE(keyboard.isVisible());
  keyboard.typeText("usd");
  window->layoutIfNeeded();
  EXPECT_EQ(rowTexts(*table, 0), (std::vector<std::string>{"USD 美元"}));
  EXPECT_EQ(table->numberOfRowsInSection(1), 0);
  EXPECT_EQ(rowTexts(*table, 2), (std::vector<std::string>{"USD/CNH 美元离岸"}));
  for (int i = 0; i < 3; ++i) keyboard.deleteBackward();
  EXPECT_EQ(rowTexts(*table, 0).size(), 4u);
  keyboard.typeText("美元");
  EXPECT_EQ(rowTexts(*table, 2), (std::vector<std::string>{"USD/CNH 美元离岸", "DXY 美元指数"}));

  auto chooseButton = [&](IndexPath ip) {
    window->layoutIfNeeded();
    return std::static_pointer_cast<pf::Button>(table->cellForRowAtIndexPath(ip)->contentView()->viewWithTag(100));
  };
  EXPECT_FALSE(chooseButton({2, 1})->isEnabled());  // already a favourite
  tap(*chooseButton({2, 0}));  // with the filter
  EXPECT_FALSE(chooseButton({2, 0})->isEnabled());
  tap(*arrow(*table, 0));  // closes the filtered copy only
  EXPECT_EQ(table->numberOfRowsInSection(0), 0);
  tap(*search->searchBar()->textField()->clearButton());
  EXPECT_EQ(search->searchBar()->text(), "");
  EXPECT_EQ(rowTexts(*table, 0).size(), 4u);
  tap(*chooseButton({0, 2}));  // JPY, without a filter
  tap(*search->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag));

  auto screen = sortScreen();
  ASSERT_TRUE(screen);
  window->layoutIfNeeded();
  auto sortTable = screen->mainTableView();
  EXPECT_EQ(rowTexts(*sortTable, 0), (std::vector<std::string>{"USD 美元", "EUR 欧元", "GBP 英镑", "JPY 日元"}));
  EXPECT_EQ(rowTexts(*sortTable, 2), (std::vector<std::string>{"DXY 美元指数", "USD/CNH 美元离岸"}));
  done();
  const Value& groups = page->answers.at(0)["data"];
  EXPECT_EQ(products(groups[0]),
            (std::vector<std::string>{"USD 美元=1", "EUR 欧元=1", "GBP 英镑=1", "JPY 日元=1"}));
  EXPECT_EQ(products(groups[2]), (std::vector<std::string>{"DXY 美元指数=1", "USD/CNH 美元离岸=1"}));
}

// Choosing a product adds every product of its code in the groups of its name, but never one
// that is a favourite already: no favourite comes back twice.
TEST_F(WatchList, ChoosingAddsNoFavouriteTwice) {
  call("callSortView", pf::parseJson(R"json([
    {"name": "外汇", "data": [
      {"product": "USD 美元", "isInterest": "1", "currencyCode": "USD"},
      {"product": "USD 美元现钞", "isInterest": "0", "currencyCode": "USD"},
      {"product": "EUR 欧元", "isInterest": "0", "currencyCode": "EUR"}]},
    {"name": "外汇", "data": [
      {"product": "USD 美元(二)", "isInterest": "1", "currencyCode": "USD"},
      {"product": "USD 美元现钞(二)", "isInterest": "0", "currencyCode": "USD"}]}])json").value());
  tap(*sortScreen()->addButton());
  auto search = searchScreen();
  ASSERT_TRUE(search);
  window->layoutIfNeeded();
  auto table = search->tableView();
  auto button = std::static_pointer_cast<pf::Button>(table->cellForRowAtIndexPath({0, 1})->contentView()->viewWithTag(100));
  ASSERT_TRUE(button->isEnabled());
  tap(*button);
  tap(*search->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag));
  window->layoutIfNeeded();
  auto sortTable = sortScreen()->mainTableView();
  EXPECT_EQ(rowTexts(*sortTable, 0), (std::vector<std::string>{"USD 美元", "USD 美元现钞"}));
  EXPECT_EQ(rowTexts(*sortTable, 1), (std::vector<std::string>{"USD 美元(二)", "USD 美元现钞(二)"}));
  done();
  const Value& groups = page->answers.at(0)["data"];
  EXPECT_EQ(products(groups[0]), (std::vector<std::string>{"USD 美元=1", "USD 美元现钞=1", "EUR 欧元=0"}));
  EXPECT_EQ(products(groups[1]), (std::vector<std::string>{"USD 美元(二)=1", "USD 美元现钞(二)=1"}));
}

TEST_F(WatchList, DoneWithoutADelegateClosesTheScreenWithoutAnAnswer) {
  open();
  ASSERT_TRUE(sortScreen());
  plugin.reset();  // the screen holds its delegate weakly
  done();
  EXPECT_TRUE(page->answers.empty());
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(WatchList, CallsThatOpenNoScreenAreAnsweredAtOnce) {
  call("callSortView", Value{{"name", "no array"}});
  EXPECT_EQ(page->answers.size(), 1u);
  call("callSortView", Value::array(), false);  // no navigation controller
  EXPECT_EQ(page->answers.size(), 2u);
  call("other", Value::array());
  EXPECT_EQ(page->answers.size(), 3u);
  EXPECT_EQ(page->answers[2], (Value{{"result", 0}}));
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(WatchList, IncompleteRecordsComeBackCompleteAndAFourthGroupReusesTheColours) {
  call("callSortView", pf::parseJson(R"([{"data": [{"isInterest": "1"}, 7, "x", {"product": "A"}]}, 3,
      {"name": "b"}, {"name": "c"}, {"name": "d"}])").value());
  auto screen = sortScreen();
  ASSERT_EQ(screen->showDataArray().size(), 4u);
  EXPECT_EQ(app::groupMarkColor(3), app::groupMarkColor(0));
  // A bound section that no longer exists does nothing.
  auto stray = pf::Button::make();
  app::TnqUIViewAttribute::setUserBindDictionary(*stray, Value{{"section", 9}});
  screen->touchBtnAction(*stray);
  done();
  const Value& groups = page->answers.at(0)["data"];
  EXPECT_EQ(groups[0], pf::parseJson(R"({"name": "", "data": [
      {"product": "", "isInterest": "1", "currencyCode": ""},
      {"product": "A", "isInterest": "0", "currencyCode": ""}]})").value());
  EXPECT_EQ(groups[1], pf::parseJson(R"({"name": "b", "data": []})").value());
}

}  // namespace
