// "gesture.do": the lock page covers the window on the return to the foreground while armed, takes
// the taps, and goes when its own page asks.

#include <gtest/gtest.h>

#include "PluginPageSupport.h"
#include "app/PylGesturePlugin.h"
#include "container/MwWebview.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace app {
namespace {

using plugintest::PluginPage;

struct WindowDelegate : pf::ApplicationDelegate {
  std::shared_ptr<pf::Window> mainWindow = pf::Window::make(pf::Screen::main()->bounds());
  std::optional<std::shared_ptr<pf::Window>> window() override { return mainWindow; }
};

class GesturePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Sandbox::setHome(home.path());
    std::filesystem::create_directories(home.path() / "Documents");
    std::filesystem::copy(fxtest::dataPath("app/release"), home.path() / "Documents/release");
    pf::Application::shared().reset();
    pf::Application::shared().setDelegate(delegate);
    delegate->mainWindow->setBackgroundColor(pf::Color::rgb(1, 0, 0));
    delegate->mainWindow->makeKeyAndVisible();
    PylGestureManger::resetForTesting();
    plugintest::registerBuiltInPlugins();
  }
  void TearDown() override {
    PylGestureManger::resetForTesting();
    plugintest::pump();
    container::MwServletManager::resetForTesting();
    pf::Application::shared().reset();
    pf::Device::current()->reset();
    pf::Sandbox::setHome({});
  }
  static void foreground() {
    pf::NotificationCenter::defaultCenter().post(pf::kApplicationWillEnterForegroundNotification);
    plugintest::pump();
  }
  static std::shared_ptr<container::MwWebview> lock() { return PylGestureManger::sharedInstance().gestureWebview(); }
  std::size_t windowViews() const { return delegate->mainWindow->subviews().size(); }

  pf::LogCapture quiet;
  fxtest::TempDir home;
  std::shared_ptr<WindowDelegate> delegate = std::make_shared<WindowDelegate>();
  PluginPage page;
};

TEST_F(GesturePluginTest, LockShowsOnReturnCoversTheWindowAndGoesWithItsOwnPage) {
  auto armed = page.call("gesture.do", "registerGesture", "{gestureURL: 'lock.html'}");
  ASSERT_EQ(armed.size(), 1u);
  EXPECT_EQ(armed[0]["result"], 0);
  EXPECT_FALSE(lock()) << "not at registration";

  foreground();
  auto shown = lock();
  ASSERT_TRUE(shown);
  foreground();
  EXPECT_EQ(lock(), shown) << "never twice";
  EXPECT_EQ(windowViews(), 1u);
  EXPECT_EQ(delegate->mainWindow->subviews().back(), shown);
  EXPECT_EQ(shown->frame(), pf::Rect(0, 0, 375, 667));
  ASSERT_EQ(shown->pageCount(), 1u);
  EXPECT_EQ(shown->currentPage()->webView()->title(), "Lock");

  // The render shows the lock page, not the window beneath it.
  auto screen = pf::render::screen();
  const auto corner = screen->colorAt(pf::Point(370, 660));
  EXPECT_NEAR(corner.r, 0x20 / 255.0, 0.02) << "the page's own background, not the red window beneath";
  EXPECT_NEAR(corner.g, 0x30 / 255.0, 0.02);
  EXPECT_NEAR(corner.b, 0x40 / 255.0, 0.02);
  EXPECT_LT(screen->colorAt(pf::Point(60, 50)).r, 0.95) << "the page's button";

  // A tap on the page's button: the page itself hides the lock while nothing else holds it.
  auto lockPage = std::weak_ptr(shown->currentPage());
  shown.reset();
  delegate->mainWindow->tapAt(pf::Point(60, 50));
  plugintest::pump();
  EXPECT_FALSE(lock());
  EXPECT_EQ(windowViews(), 0u);
  EXPECT_TRUE(lockPage.expired()) << "the removed page is let go once its call has returned";

  // Still armed: the next return shows it again; its hiding call is answered in the removed page.
  foreground();
  ASSERT_TRUE(lock());
  auto again = lock()->currentPage();
  delegate->mainWindow->tapAt(pf::Point(60, 50));
  plugintest::pump();
  EXPECT_FALSE(lock());
  EXPECT_EQ(again->stringByEvaluatingJavaScriptFromString("hidden && hidden.result"), "0");

  // Disarmed: a lock shown stays until hidden, and no return shows it again.
  foreground();
  ASSERT_TRUE(lock());
  page.call("gesture.do", "unregisterGesture", "{}");
  EXPECT_TRUE(lock()) << "a shown lock stays after disarming";
  page.call("gesture.do", "hideGesture", "{}");
  EXPECT_FALSE(lock());
  page.call("gesture.do", "hideGesture", "{}");
  foreground();
  EXPECT_FALSE(lock());
  EXPECT_EQ(page.call("gesture.do", "lockNow", "{}").size(), 1u);
}

TEST_F(GesturePluginTest, RegistrationWithoutAPageAddressChangesNothing) {
  for (const char* args : {"{}", "{gestureURL: ''}", "{gestureURL: 5}", "{gestureURL: ['lock.html']}", "'lock.html'"}) {
    auto answer = page.call("gesture.do", "registerGesture", args);
    ASSERT_EQ(answer.size(), 1u) << args;
    EXPECT_EQ(answer[0]["result"], 100) << args;
  }
  EXPECT_FALSE(PylGestureManger::sharedInstance().needGesture());
  EXPECT_EQ(PylGestureManger::sharedInstance().gestureURL(), "");
  foreground();
  EXPECT_FALSE(lock());
}

// Only a page that exists inside the page tree arms the lock; a lock page that does not load when
// shown is taken away again, so nothing covers the window for good.
TEST_F(GesturePluginTest, OnlyAnExistingPageOfThePageTreeArmsTheLock) {
  const auto release = home.path() / "Documents/release";
  ASSERT_TRUE(pf::FileManager::writeFile(home.path() / "Documents/outside.html", "<html><title>Out</title></html>", true));
  std::filesystem::create_symlink(home.path() / "Documents/outside.html", release / "link.html");
  std::filesystem::create_directories(release / "folder.html");
  for (const std::string& url : std::vector<std::string>{"missing.html", "../outside.html", "sub/../../outside.html", "link.html", "folder.html",
                                (home.path() / "Documents/outside.html").string(), "/etc/hostname", "lock.html?x=1",
                                "../../../../../../../../etc/passwd", ".", "/"}) {
    auto answer = page.call("gesture.do", "registerGesture", pf::Value{{"gestureURL", url}}.dump());
    ASSERT_EQ(answer.size(), 1u) << url;
    EXPECT_EQ(answer[0]["result"], 100) << url;
  }
  EXPECT_FALSE(PylGestureManger::sharedInstance().needGesture());
  foreground();
  EXPECT_FALSE(lock());
  EXPECT_EQ(windowViews(), 0u);

  // A page of the tree, reached through a folder and back, is accepted.
  auto armed = page.call("gesture.do", "registerGesture", "{gestureURL: 'sub/../lock.html'}");
  ASSERT_EQ(armed.size(), 1u);
  EXPECT_EQ(armed[0]["result"], 0);

  // The page goes before the lock shows: the lock is taken away and the failure logged.
  ASSERT_TRUE(pf::FileManager::removeItem(release / "lock.html"));
  foreground();
  EXPECT_FALSE(lock());
  EXPECT_EQ(windowViews(), 0u);
  EXPECT_TRUE(quiet.contains("lock page")) << "logged";
  EXPECT_TRUE(PylGestureManger::sharedInstance().needGesture()) << "still armed: the next return tries again";

  // Back again: it shows, and a later failed navigation of the shown lock page leaves it shown.
  ASSERT_TRUE(pf::FileManager::writeFile(release / "lock.html", "<html><title>Lock</title></html>", true));
  foreground();
  ASSERT_TRUE(lock());
  lock()->currentPage()->webView()->loadFile((release / "gone.html").string());
  plugintest::pump();
  EXPECT_TRUE(lock());
}

TEST_F(GesturePluginTest, OlderSystemsSwapTheScreenSides) {
  pf::Device::current()->setSystemVersion("7.1");
  GesturePlugin plugin;
  plugintest::DirectCall call(plugin, "gesture.do", "registerGesture", pf::Value{{"gestureURL", "lock.html"}});
  EXPECT_EQ(call.recorder->kinds(), std::vector<std::string>{"success"});
  foreground();
  ASSERT_TRUE(lock());
  EXPECT_EQ(lock()->frame(), pf::Rect(0, 0, 667, 375));
}

}  // namespace
}  // namespace app
