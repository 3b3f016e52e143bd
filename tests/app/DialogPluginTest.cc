// "nativedialog.do": the page's alert is drawn over the screen; a tap on a drawn button answers
// the page with the button's index; a call that can show no alert ends at once.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylDialogPlugin.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Window.h"

namespace app {
namespace {

using plugintest::PluginPage;

class DialogPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Application::shared().reset();
    plugintest::registerBuiltInPlugins();
  }
  void TearDown() override {
    for (auto& alert : pf::Application::shared().visibleAlerts()) alert->dismissWithClickedButtonIndex(0, false);
    pf::Application::shared().reset();
    container::MwServletManager::resetForTesting();
  }
  static std::shared_ptr<pf::AlertView> shownAlert() {
    auto alerts = pf::Application::shared().visibleAlerts();
    return alerts.size() == 1 ? alerts[0] : nullptr;
  }
  // Taps the middle of the drawn button (a tap in the alert's window, as a finger would).
  static void tapButton(pf::AlertView& alert, int index) {
    const pf::Rect f = alert.frame();
    const double w = f.width() / alert.numberOfButtons();
    alert.window()->tapAt(pf::Point(f.x() + w * (index + 0.5), f.y() + f.height() - 22));
  }

  pf::LogCapture quiet;
  PluginPage page;
};

TEST_F(DialogPluginTest, TappingADrawnButtonAnswersItsIndex) {
  EXPECT_TRUE(page.call("nativedialog.do", "showAlert",
                        "{title: 'Order', content: 'Buy 1000 USDJPY?', buttons: ['Cancel', 'Buy']}", "{timeout: 5}")
                  .empty());
  auto alert = shownAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title, "Order");
  EXPECT_EQ(alert->message, "Buy 1000 USDJPY?");
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "Cancel");
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "Buy");

  // The alert is drawn: dark title text in its upper part, blue button titles in its lowest row.
  auto shot = pf::render::screen();
  const pf::Rect f = alert->frame();
  auto countPixels = [&](double top, double bottom, auto&& match) {
    int n = 0;
    for (double y = top; y < bottom; y += 0.5)
      for (double x = f.x(); x < f.x() + f.width(); x += 0.5) n += match(shot->colorAt(pf::Point(x, y)));
    return n;
  };
  EXPECT_GT(countPixels(f.y(), f.y() + 36, [](pf::Color c) { return c.r < 0.3 && c.b < 0.3; }), 20);
  EXPECT_GT(countPixels(f.y() + f.height() - 44, f.y() + f.height(),
                        [](pf::Color c) { return c.b > 0.8 && c.r < 0.4; }),
            20);

  // A tap on the box outside the buttons does nothing; a tap on "Buy" answers 1.
  alert->window()->tapAt(pf::Point(f.x() + 20, f.y() + 10));
  EXPECT_TRUE(alert->isVisible());
  tapButton(*alert, 1);
  plugintest::pump();
  EXPECT_FALSE(alert->isVisible());
  auto answers = page.answersFrom(0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["data"], (pf::Value{{"wdata", 1}}));
  EXPECT_EQ(answers[0]["result"], 0);
  EXPECT_EQ(page.page->openCallCount(), 0u);

  page.call("nativedialog.do", "showAlert", "{title: 'Note', buttons: ['OK']}");
  alert = shownAlert();
  ASSERT_TRUE(alert);
  tapButton(*alert, 0);
  plugintest::pump();
  EXPECT_EQ(page.answersFrom(1).at(0)["data"], (pf::Value{{"wdata", 0}}));
}

TEST_F(DialogPluginTest, CallsThatShowNoAlertEndAtOnce) {
  for (const char* args : {"{buttons: []}", "{buttons: ['a', 'b', 'c']}", "{buttons: ['a', 2]}", "{buttons: 'OK'}",
                           "{}", "[1]"}) {
    auto answers = page.call("nativedialog.do", "showAlert", args);
    ASSERT_EQ(answers.size(), 1u) << args;
    EXPECT_EQ(answers[0]["result"], 100) << args;
    EXPECT_FALSE(shownAlert()) << args;
  }
  auto other = page.call("nativedialog.do", "showToast", "{buttons: ['OK']}");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0]["result"], 0);
  EXPECT_FALSE(other[0].contains("data"));
  EXPECT_EQ(page.page->openCallCount(), 0u);
}

TEST_F(DialogPluginTest, DirectCallWaitsWithoutTimeOutForTheButton) {
  auto plugin = std::make_shared<PylDialogPlugin>();
  plugintest::DirectCall call(*plugin, "nativedialog.do", "showAlert",
                              pf::Value{{"title", 7}, {"content", "c"}, {"buttons", {"No", "Yes"}}});
  EXPECT_TRUE(call.handled);
  EXPECT_EQ(call.task->timeoutValue(), 0);
  EXPECT_TRUE(call.recorder->answers.empty());
  auto alert = shownAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title, "") << "a title that is no text is empty";
  alert->clickButtonAtIndex(0);
  ASSERT_EQ(call.data().size(), 1u);
  EXPECT_EQ(call.data()[0], (pf::Value{{"wdata", 0}}));
}

}  // namespace
}  // namespace app
