#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

using namespace pf;

namespace {

class Heard : public SearchBarDelegate {
 public:
  std::vector<std::string> events;
  void textDidChange(SearchBar&, const std::string& text) override { events.push_back("change " + text); }
  void searchButtonClicked(SearchBar&) override { events.push_back("search"); }
  void cancelButtonClicked(SearchBar&) override { events.push_back("cancel"); }
};

struct TextInput : ::testing::Test {
  std::shared_ptr<Window> window;
  std::shared_ptr<SearchBar> bar;
  std::shared_ptr<Heard> heard = std::make_shared<Heard>();
  void SetUp() override {
    Application::shared().reset();
    Keyboard::shared().reset();
    window = Window::make(Screen::main()->bounds());
    window->makeKeyAndVisible();
    bar = SearchBar::make(Rect(0, 20, 375, 44));
    bar->delegate = heard;
    bar->setPlaceholder("搜索");
    window->addSubview(bar);
    window->layoutIfNeeded();
  }
  void TearDown() override { Keyboard::shared().reset(); }
};

TEST_F(TextInput, TheSearchBarHoldsItsBackgroundThenItsField) {
  ASSERT_EQ(bar->subviews().size(), 1u);
  auto& content = bar->subviews()[0]->subviews();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[0]->className(), "UISearchBarBackground");
  EXPECT_EQ(content[1]->className(), "UISearchBarTextField");
  EXPECT_EQ(bar->textField()->placeholder(), "搜索");
}

TEST_F(TextInput, TypingReachesTheFirstResponderOnlyWhileTheKeyboardIsUp) {
  auto& keyboard = Keyboard::shared();
  EXPECT_FALSE(keyboard.typeText("x"));  // no first responder
  window->tapAt({100, 42});
  ASSERT_TRUE(bar->textField()->isFirstResponder());
  ASSERT_TRUE(keyboard.isVisible());
  EXPECT_EQ(keyboard.window()->frame(), Rect(0, 667 - 216, 375, 216));
  EXPECT_FALSE(bar->textField()->caretRect().isEmpty());

  EXPECT_TRUE(keyboard.typeText("usd"));
  EXPECT_TRUE(keyboard.typeText("美元"));
  EXPECT_FALSE(keyboard.typeText("\xff\xfe"));
  EXPECT_TRUE(keyboard.typeText("👨‍👩‍👧"));
  EXPECT_TRUE(keyboard.deleteBackward());  // the whole family at once
  EXPECT_TRUE(keyboard.deleteBackward());
  EXPECT_EQ(bar->text(), "usd美");
  EXPECT_TRUE(keyboard.pressReturn());
  EXPECT_EQ(heard->events, (std::vector<std::string>{"change usd", "change usd美元", "change usd美元👨‍👩‍👧",
                                                     "change usd美元", "change usd美", "search"}));

  heard->events.clear();
  auto clear = bar->textField()->clearButton();
  ASSERT_FALSE(clear->isHidden());
  window->tapAt(clear->convertPoint(clear->bounds().center(), nullptr));
  EXPECT_EQ(bar->text(), "");
  EXPECT_EQ(heard->events, std::vector<std::string>{"change "});

  EXPECT_TRUE(window->endEditing(true));
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_FALSE(keyboard.deleteBackward());
}

TEST_F(TextInput, AFirstResponderThatLeavesItsWindowResignsAndTakesTheKeyboard) {
  auto& keyboard = Keyboard::shared();
  auto screen = std::make_shared<View>(window->bounds());
  window->addSubview(screen);
  auto field = TextField::make(Rect(20, 100, 200, 30));
  screen->addSubview(field);
  int ended = 0;
  field->addTarget([&](Control&) { ++ended; }, kControlEventEditingDidEnd);
  ASSERT_TRUE(field->becomeFirstResponder());
  ASSERT_TRUE(keyboard.typeText("eu"));

  screen->removeFromSuperview();  // the field goes with its screen
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(keyboard.firstResponder(), nullptr);
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(keyboard.typeText("r"));
  EXPECT_EQ(field->text(), "eu");
  window->addSubview(screen);  // coming back does not bring the keyboard back
  EXPECT_FALSE(keyboard.isVisible());

  // Moving to another window resigns too; a move within the window keeps the responder.
  ASSERT_TRUE(field->becomeFirstResponder());
  auto other = std::make_shared<View>(window->bounds());
  window->addSubview(other);
  other->addSubview(field);
  EXPECT_TRUE(field->isFirstResponder());
  auto second = Window::make(Screen::main()->bounds());
  second->addSubview(field);
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(ended, 2);
}

// The keyboard is up only while its responder sits in the key window, shown: another key window or
// a hidden one takes it away until the window is key and shown again; a window that goes takes
// its responder along.
TEST_F(TextInput, TheKeyboardFollowsTheKeyWindowOfItsResponder) {
  auto& keyboard = Keyboard::shared();
  auto holder = Window::make(Screen::main()->bounds());
  holder->makeKeyAndVisible();
  auto field = TextField::make(Rect(20, 100, 200, 30));
  holder->addSubview(field);
  int ended = 0;
  field->addTarget([&](Control&) { ++ended; }, kControlEventEditingDidEnd);
  ASSERT_TRUE(field->becomeFirstResponder());
  ASSERT_TRUE(keyboard.isVisible());

  window->makeKey();
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_FALSE(keyboard.typeText("x")) << "no keyboard, no typing";
  EXPECT_TRUE(field->isFirstResponder());
  holder->makeKey();
  EXPECT_TRUE(keyboard.isVisible());
  holder->setHidden(true);
  EXPECT_FALSE(keyboard.isVisible());
  holder->setHidden(false);
  ASSERT_TRUE(keyboard.isVisible());
  EXPECT_TRUE(keyboard.typeText("eu"));

  holder.reset();  // the field lives on, its window does not
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(keyboard.firstResponder(), nullptr);
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(keyboard.window(), nullptr);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(keyboard.typeText("r"));
  EXPECT_EQ(field->text(), "eu");
  for (const auto& shown : Application::shared().visibleWindows()) EXPECT_EQ(shown, window);

  // A responder whose window and view go together leaves no keyboard either.
  auto gone = Window::make(Screen::main()->bounds());
  gone->makeKeyAndVisible();
  auto lone = TextField::make(Rect(20, 100, 200, 30));
  gone->addSubview(lone);
  ASSERT_TRUE(lone->becomeFirstResponder());
  lone.reset();
  gone.reset();
  EXPECT_FALSE(keyboard.isVisible());
  EXPECT_EQ(keyboard.firstResponder(), nullptr);
}

TEST_F(TextInput, TheCancelButtonReportsAndDisabledFieldsRefuseFocus) {
  bar->setShowsCancelButton(true);
  window->layoutIfNeeded();
  auto cancel = bar->cancelButton();
  window->tapAt(cancel->convertPoint(cancel->bounds().center(), nullptr));
  EXPECT_EQ(heard->events, std::vector<std::string>{"cancel"});
  bar->textField()->setEnabled(false);
  EXPECT_FALSE(bar->textField()->becomeFirstResponder());
  auto detached = TextField::make(Rect(0, 0, 100, 30));
  EXPECT_FALSE(detached->becomeFirstResponder());  // in no window
}

}  // namespace
