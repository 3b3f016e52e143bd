#include "ScreenScenes.h"

#include "app/CurrencySeachViewController.h"
#include "app/PylSortPlugin.h"
#include "app/SortViewController.h"
#include "container/MwTask.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace screens {

namespace {

const char* kGroups = R"([
  {"name": "外汇", "data": [
    {"product": "USD 美元", "isInterest": "1", "currencyCode": "USD"},
    {"product": "EUR 欧元", "isInterest": "1", "currencyCode": "EUR"},
    {"product": "JPY 日元", "isInterest": "0", "currencyCode": "JPY"},
    {"product": "GBP 英镑", "isInterest": "1", "currencyCode": "GBP"}]},
  {"name": "贵金属", "isOpen": "0", "data": [
    {"product": "XAU 黄金", "isInterest": "1", "currencyCode": "XAU"},
    {"product": "XAG 白银", "currencyCode": "XAG"}]},
  {"name": "指数", "data": [
    {"product": "USD/CNH 美元离岸", "isInterest": "0", "currencyCode": "CNH"},
    {"product": "DXY 美元指数", "isInterest": "1", "currencyCode": "DXY"}]}
])";

pf::Point centerOf(const pf::View& v) { return v.convertPoint(v.bounds().center(), nullptr); }

}  // namespace

WatchListStage openWatchList(const pf::Value& groups) {
  WatchListStage stage;
  stage.window = pf::Window::make(pf::Rect(0, 0, 375, 667));
  stage.nav = pf::NavigationController::make(std::make_shared<pf::ViewController>());
  stage.nav->setNavigationBarHidden(true);
  stage.window->setRootViewController(stage.nav);
  stage.window->makeKeyAndVisible();
  stage.task = container::MwTask::make(container::kTaskTypePageCall, "scene", {}, {});
  stage.plugin = std::make_shared<app::PylSortPlugin>();
  stage.plugin->setNavController(stage.nav);
  auto request = container::MwServletRequest::parse(
      pf::Value{{"url", "client://sort.do?action=callSortView"}, {"requestId", "scene"}, {"data", groups}});
  stage.plugin->handleRequestAndTask(*request, stage.task);
  stage.window->layoutIfNeeded();
  stage.screen = std::dynamic_pointer_cast<app::SortViewController>(stage.nav->topViewController());
  return stage;
}

std::vector<std::string> names() { return {"watchlist", "watchlist-delete", "search"}; }

std::shared_ptr<pf::Image> render(const std::string& name, double scale, const std::filesystem::path& imageDir) {
  auto known = names();
  if (std::find(known.begin(), known.end(), name) == known.end()) return nullptr;
  pf::VirtualTimeScope time;
  pf::Application::shared().reset();
  pf::Keyboard::shared().reset();
  pf::Screen::main()->setBounds(pf::Rect(0, 0, 375, 667));
  pf::Image::addSearchDirectory(imageDir);
  std::shared_ptr<pf::Image> image;
  {
    auto stage = openWatchList(*pf::parseJson(kGroups));
    auto& window = stage.window;
    auto& nav = stage.nav;
    auto& sort = stage.screen;
    auto table = sort->mainTableView();
    if (name == "watchlist-delete") {
      pf::Rect row = table->rectForRowAtIndexPath({0, 1});
      window->tapAt(table->convertPoint({10, row.midY()}, nullptr));
    } else if (name == "search") {
      window->tapAt(centerOf(*sort->addButton()));
      window->layoutIfNeeded();
      auto search = std::dynamic_pointer_cast<app::CurrencySeachViewController>(nav->topViewController());
      window->tapAt(centerOf(*search->searchBar()->textField()));
      pf::Keyboard::shared().typeText("美元");
    }
    time.advance(1);
    pf::render::layoutWindows();
    image = pf::render::screen(scale);
    pf::Keyboard::shared().reset();
  }
  pf::Application::shared().reset();
  pf::Image::resetNamed();
  return image;
}

}  // namespace screens
