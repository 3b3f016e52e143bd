#include <gtest/gtest.h>

#include "app/CurrencySeachViewController.h"
#include "app/SortViewController.h"
#include "app/TnqStyle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Window.h"

namespace {

// The keyboard belongs to the screen that asked for it: leaving the search screen while typing
// takes it away, and later typing reaches nobody.
class ScreenKeyboard : public ::testing::Test {
 protected:
  pf::VirtualTimeScope time;
  std::shared_ptr<pf::Window> window;
  std::shared_ptr<pf::NavigationController> nav;

  void SetUp() override {
    pf::Application::shared().reset();
    pf::Keyboard::shared().reset();
    window = pf::Window::make(pf::Rect(0, 0, 375, 667));
    auto watchList = std::make_shared<app::SortViewController>();
    watchList->dataSource["all"] = pf::parseJson(R"([{"name": "外汇", "data": [
        {"product": "USD 美元", "isInterest": "1", "currencyCode": "USD"},
        {"product": "EUR 欧元", "currencyCode": "EUR"}]}])").value();
    nav = pf::NavigationController::make(watchList);
    nav->setNavigationBarHidden(true);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
  }
  void TearDown() override {
    pf::Keyboard::shared().reset();
    pf::Application::shared().reset();
  }
  void tap(const pf::View& v) {
    window->layoutIfNeeded();
    window->tapAt(v.convertPoint(v.bounds().center(), nullptr));
  }
  // Opens the search screen from the watch list and types the text into its bar.
  std::shared_ptr<app::CurrencySeachViewController> typeOnTheSearchScreen(const std::string& text) {
    auto watchList = std::dynamic_pointer_cast<app::SortViewController>(nav->topViewController());
    tap(*watchList->addButton());
    auto search = std::dynamic_pointer_cast<app::CurrencySeachViewController>(nav->topViewController());
    if (!search) return nullptr;
    tap(*search->searchBar()->textField());
    if (!pf::Keyboard::shared().isVisible() || !pf::Keyboard::shared().typeText(text)) return nullptr;
    return search;
  }
};

TEST_F(ScreenKeyboard, GoingBackWhileTypingTakesTheKeyboardAway) {
  auto watchList = nav->topViewController();
  auto search = typeOnTheSearchScreen("eu");
  ASSERT_TRUE(search);
  auto bar = search->searchBar();
  auto& keyboard = pf::Keyboard::shared();

  tap(*search->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag));
  ASSERT_EQ(nav->topViewController(), watchList);
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(keyboard.window(), nullptr);
  EXPECT_EQ(keyboard.firstResponder(), nullptr);
  EXPECT_FALSE(bar->textField()->isFirstResponder());
  // Typing now reaches nothing, the search screen (still alive here) included.
  EXPECT_FALSE(keyboard.typeText("r"));
  EXPECT_FALSE(keyboard.deleteBackward());
  EXPECT_EQ(bar->text(), "eu");
  // Nothing but the watch list is on screen.
  auto shown = pf::Application::shared().visibleWindows();
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown.size() == 1 && shown[0] == window);
}

// A screen presented over the search screen covers it: the typing there ends, and the keyboard
// does not come back when the presented screen goes.
TEST_F(ScreenKeyboard, APresentationOverTheSearchScreenTakesTheKeyboardAway) {
  auto search = typeOnTheSearchScreen("us");
  ASSERT_TRUE(search);
  auto bar = search->searchBar();
  auto& keyboard = pf::Keyboard::shared();

  auto modal = std::make_shared<pf::ViewController>();
  search->presentViewController(modal, false);
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(keyboard.firstResponder(), nullptr);
  EXPECT_FALSE(keyboard.typeText("d"));
  EXPECT_EQ(bar->text(), "us");
  search->dismissViewController(false);
  EXPECT_FALSE(keyboard.isVisible());
  // The field takes the keyboard again when tapped.
  tap(*bar->textField());
  EXPECT_TRUE(keyboard.isVisible());
}

}  // namespace
