#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Window.h"

using namespace pf;

namespace {

class Recorder : public View {
 public:
  using View::View;
  std::vector<std::string> events;
  void touchesBegan(const Touch& t) override { events.push_back("began " + where(t)); }
  void touchesMoved(const Touch& t) override { events.push_back("moved " + where(t)); }
  void touchesEnded(const Touch& t) override { events.push_back("ended " + where(t)); }
  void touchesCancelled(const Touch& t) override { events.push_back("cancelled " + where(t)); }
  static std::string where(const Touch& t) {
    return std::to_string(static_cast<int>(t.location.x)) + "," + std::to_string(static_cast<int>(t.location.y));
  }
};

struct Touches : ::testing::Test {
  std::shared_ptr<Window> window;
  std::shared_ptr<Recorder> root;
  std::vector<std::string> actions;
  void SetUp() override {
    Application::shared().reset();
    window = Window::make(Rect(0, 0, 320, 480));
    root = std::make_shared<Recorder>(Rect(0, 0, 320, 480));
    window->addSubview(root);
    window->makeKeyAndVisible();
  }
  std::shared_ptr<Control> control(Rect frame, View& parent) {
    auto c = std::make_shared<Control>(frame);
    c->addTarget([this](Control&) { actions.push_back("down"); }, kControlEventTouchDown);
    c->addTarget([this](Control&) { actions.push_back("inside"); }, kControlEventTouchUpInside);
    c->addTarget([this](Control&) { actions.push_back("outside"); }, kControlEventTouchUpOutside);
    c->addTarget([this](Control&) { actions.push_back("cancel"); }, kControlEventTouchCancel);
    parent.addSubview(c);
    return c;
  }
};

TEST_F(Touches, ControlsTrackTheFingerAndDisabledOnesPassTheTouchUp) {
  auto c = control(Rect(10, 10, 100, 40), *root);
  window->touchDown({20, 20});
  EXPECT_TRUE(c->isHighlighted());
  window->touchMove({200, 200});
  EXPECT_FALSE(c->isHighlighted());
  window->touchUp({200, 200});
  window->tapAt({50, 30});
  EXPECT_EQ(actions, (std::vector<std::string>{"down", "outside", "down", "inside"}));

  c->setEnabled(false);
  actions.clear();
  window->touchDown({20, 20});
  window->touchMove({25, 22});
  window->touchUp({25, 22});
  EXPECT_TRUE(actions.empty());
  // The plain child passes the touch to its superview, in the superview's coordinates.
  EXPECT_EQ(root->events, (std::vector<std::string>{"began 20,20", "moved 25,22", "ended 25,22"}));
}

TEST_F(Touches, AScrollViewTakesOverATouchThatMovesTenPoints) {
  auto scroller = ScrollView::make(Rect(0, 100, 320, 200));
  scroller->setContentSize({320, 1000});
  root->addSubview(scroller);
  auto c = control(Rect(0, 0, 320, 44), *scroller);
  window->touchDown({100, 120});
  window->touchMove({100, 115});  // within the slop: still the control's
  EXPECT_TRUE(c->isHighlighted());
  window->touchMove({100, 105});
  EXPECT_FALSE(c->isHighlighted());
  EXPECT_DOUBLE_EQ(scroller->contentOffset().y, 15);
  window->touchMove({100, 60});
  window->touchUp({100, 60});
  EXPECT_DOUBLE_EQ(scroller->contentOffset().y, 60);
  EXPECT_EQ(actions, (std::vector<std::string>{"down", "cancel"}));
  // The content stays within its size.
  window->touchDown({100, 120});
  window->touchMove({100, 400});
  window->touchUp({100, 400});
  EXPECT_DOUBLE_EQ(scroller->contentOffset().y, 0);
}

TEST_F(Touches, ATapRecognizerTakesTapsButADragEndsInTheViewsAndAControlComesFirst) {
  int taps = 0;
  auto tap = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++taps; });
  root->addGestureRecognizer(tap);
  control(Rect(10, 10, 100, 40), *root);
  // A tap: the view hears the touch begin, and the recognised tap cancels it there.
  window->tapAt({200, 200});
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(root->events, (std::vector<std::string>{"began 200,200", "cancelled 200,200"}));
  // A drag: the recognizer fails past the slop and the touch ends in the view.
  root->events.clear();
  window->touchDown({200, 200});
  window->touchMove({205, 200});
  EXPECT_EQ(tap->state(), GestureState::Possible);
  window->touchMove({240, 200});
  EXPECT_EQ(tap->state(), GestureState::Failed);
  window->touchMove({200, 200});  // back near the start: still no tap
  window->touchUp({200, 200});
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(root->events, (std::vector<std::string>{"began 200,200", "moved 205,200", "moved 240,200",
                                                     "moved 200,200", "ended 200,200"}));
  // A lift beyond the slop without a move in between fails as well; the next tap counts again.
  root->events.clear();
  window->touchDown({200, 200});
  window->touchUp({200, 260});
  EXPECT_EQ(root->events, (std::vector<std::string>{"began 200,200", "ended 200,260"}));
  window->tapAt({100, 300});
  EXPECT_EQ(taps, 2);
  // A recognizer that leaves the touch to the views ends it there after the tap.
  root->events.clear();
  tap->cancelsTouchesInView = false;
  window->tapAt({100, 300});
  EXPECT_EQ(taps, 3);
  EXPECT_EQ(root->events, (std::vector<std::string>{"began 100,300", "ended 100,300"}));

  window->tapAt({20, 20});
  EXPECT_EQ(taps, 3);
  EXPECT_EQ(actions, (std::vector<std::string>{"down", "inside"}));
}

TEST_F(Touches, ADragThatAScrollViewTakesFailsTheTapAndCancelsTheView) {
  auto scroller = ScrollView::make(Rect(0, 100, 320, 200));
  scroller->setContentSize({320, 1000});
  root->addSubview(scroller);
  auto content = std::make_shared<Recorder>(Rect(0, 0, 320, 200));
  scroller->addSubview(content);
  int taps = 0;
  content->addGestureRecognizer(std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++taps; }));
  window->touchDown({100, 150});
  window->touchMove({100, 130});
  window->touchUp({100, 130});
  EXPECT_EQ(taps, 0);
  EXPECT_DOUBLE_EQ(scroller->contentOffset().y, 20);
  EXPECT_EQ(content->events, (std::vector<std::string>{"began 100,50", "cancelled 100,30"}));
}

}  // namespace
