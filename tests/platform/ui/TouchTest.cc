#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
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
  // A scroll view across the window's middle, holding content of that size.
  std::shared_ptr<ScrollView> scroller(Size content) {
    auto s = ScrollView::make(Rect(0, 100, 320, 200));
    s->setContentSize(content);
    root->addSubview(s);
    return s;
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
  auto scroller = this->scroller({320, 1000});
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
  auto scroller = this->scroller({320, 1000});
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

// What a recognizer's targets heard: its state, and where (in the window) or at what scale.
struct Heard {
  std::vector<std::string> events;
  void operator()(GestureRecognizer& g) {
    static const char* const names[] = {"possible", "began", "changed", "ended", "cancelled", "failed"};
    std::string what = names[static_cast<int>(g.state())];
    if (auto* pinch = dynamic_cast<PinchGestureRecognizer*>(&g)) {
      char scale[32];
      std::snprintf(scale, sizeof scale, " x%.2f", pinch->scale);
      what += scale;
    }
    const Point p = g.locationInView(nullptr);
    events.push_back(what + " " + std::to_string(static_cast<int>(p.x)) + "," + std::to_string(static_cast<int>(p.y)));
  }
};

// Lets the main loop run the timers that are due at the clock's time.
void runDueTimers() {
  RunLoop::main()->spinUntil([] { return false; }, 0.01);
}

TEST_F(Touches, ALongPressBeginsOnceTheFingerRestsAndThenHasTheTouch) {
  VirtualTimeScope time;
  auto target = std::make_shared<Recorder>(Rect(0, 0, 320, 240));
  root->addSubview(target);
  auto heard = std::make_shared<Heard>();
  auto press = std::make_shared<LongPressGestureRecognizer>([heard](GestureRecognizer& g) { (*heard)(g); });
  press->minimumPressDuration = 0.5;
  press->allowableMovement = 20;
  root->addGestureRecognizer(press);  // above the hit view: found on the way up
  int taps = 0;
  target->addGestureRecognizer(std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++taps; }));

  // Held still (within the allowed movement, beyond the tap's slop) past the duration: it begins
  // where the finger is, and the tap and the view lose the touch.
  window->touchDown({100, 100});
  time.advance(0.4);
  runDueTimers();
  window->touchMove({112, 100});
  EXPECT_TRUE(heard->events.empty());
  time.advance(0.2);
  runDueTimers();
  window->touchMove({150, 120});
  window->touchUp({160, 130});
  EXPECT_EQ(heard->events, (std::vector<std::string>{"began 112,100", "changed 150,120", "ended 160,130"}));
  EXPECT_EQ(target->events, (std::vector<std::string>{"began 100,100", "moved 112,100", "cancelled 112,100"}));
  EXPECT_EQ(taps, 0);

  // Lifted before the duration: a tap, and the press's timer does nothing later.
  heard->events.clear();
  target->events.clear();
  window->touchDown({100, 100});
  time.advance(0.3);
  runDueTimers();
  window->touchUp({100, 100});
  time.advance(0.5);
  runDueTimers();
  EXPECT_EQ(taps, 1);
  EXPECT_TRUE(heard->events.empty());

  // Moved beyond the allowed movement first: no long press, the views keep the touch.
  target->events.clear();
  window->touchDown({100, 100});
  window->touchMove({130, 100});
  time.advance(1);
  runDueTimers();
  window->touchUp({130, 100});
  EXPECT_TRUE(heard->events.empty());
  EXPECT_EQ(target->events, (std::vector<std::string>{"began 100,100", "moved 130,100", "ended 130,100"}));

  // A finger outside the recognizer's view is not its touch.
  auto other = std::make_shared<Recorder>(Rect(0, 300, 320, 100));
  window->addSubview(other);
  window->touchDown({100, 350});
  time.advance(1);
  runDueTimers();
  window->touchUp({100, 350});
  EXPECT_TRUE(heard->events.empty());
}

TEST_F(Touches, ASecondFingerInsideAPinchRecognizersViewPinchesAndOthersGoNowhere) {
  auto scroller = this->scroller({1000, 200});
  auto content = std::make_shared<Recorder>(Rect(0, 0, 1000, 200));
  scroller->addSubview(content);
  auto heard = std::make_shared<Heard>();
  auto pinch = std::make_shared<PinchGestureRecognizer>([heard](GestureRecognizer& g) { (*heard)(g); });
  scroller->addGestureRecognizer(pinch);

  // A second finger outside the pinch's view, or with no pinch at all, is ignored.
  window->touchDown({100, 200});
  window->touchDown({100, 50}, 1);
  window->touchMove({100, 40}, 1);
  window->touchUp({100, 40}, 1);
  EXPECT_TRUE(heard->events.empty());
  EXPECT_TRUE(window->isTracking());
  window->touchUp({100, 200});
  EXPECT_EQ(content->events, (std::vector<std::string>{"began 100,100", "ended 100,100"}));

  // Inside: the content hears a cancel; moves of either finger scale by their distance, located
  // at their middle; the first lift ends it and the other finger's events go nowhere.
  content->events.clear();
  window->touchDown({100, 200});
  window->touchDown({200, 200}, 1);
  window->touchMove({150, 200}, 1);
  window->touchMove({125, 200});
  window->touchUp({125, 200});
  window->touchMove({300, 200}, 1);
  window->touchUp({300, 200}, 1);
  EXPECT_EQ(heard->events,
            (std::vector<std::string>{"began x0.50 125,200", "changed x0.25 137,200", "ended x0.25 137,200"}));
  EXPECT_EQ(content->events, (std::vector<std::string>{"began 100,100", "cancelled 100,100"}));
  EXPECT_FALSE(window->isTracking());
  EXPECT_DOUBLE_EQ(scroller->contentOffset().x, 0);

  // Two fingers lifted without a move: no pinch.
  heard->events.clear();
  window->touchDown({100, 200});
  window->touchDown({200, 200}, 1);
  window->touchUp({200, 200}, 1);
  window->touchUp({100, 200});
  EXPECT_TRUE(heard->events.empty());
}

// A pinch's second finger takes the touch from a long press that began: the press is cancelled, and
// the views, which heard the touch go when the press began, hear nothing more.
TEST_F(Touches, APinchTakesTheTouchFromABegunLongPress) {
  VirtualTimeScope time;
  auto target = std::make_shared<Recorder>(Rect(0, 0, 320, 240));
  root->addSubview(target);
  auto heard = std::make_shared<Heard>();
  auto hear = [heard](GestureRecognizer& g) { (*heard)(g); };
  target->addGestureRecognizer(std::make_shared<LongPressGestureRecognizer>(hear));
  target->addGestureRecognizer(std::make_shared<PinchGestureRecognizer>(hear));

  window->touchDown({100, 100});
  time.advance(0.6);
  runDueTimers();
  window->touchDown({200, 100}, 1);
  window->touchMove({150, 100}, 1);
  window->touchUp({150, 100}, 1);
  EXPECT_EQ(heard->events, (std::vector<std::string>{"began 100,100", "cancelled 100,100", "began x0.50 125,100",
                                                     "ended x0.50 125,100"}));
  EXPECT_EQ(target->events, (std::vector<std::string>{"began 100,100", "cancelled 100,100"}));
  EXPECT_FALSE(window->isTracking());
}

}  // namespace
