// The application's start-up against the loopback bank: the launch screen and its overlay, the
// handshake and manifest results, the menu and page update, and the first page.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "app/AppDelegate.h"
#include "app/FileController.h"
#include "app/MwFrameWorkListener.h"
#include "app/PylPlugin.h"
#include "app/PylUpdateManager.h"
#include "app/TnqShareManager.h"
#include "container/MwHttpTask.h"
#include "container/MwJSWebview.h"
#include "container/MwServerConfiguration.h"
#include "container/StartupSupport.h"
#include "kvstore/KeyValueStoreLib.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "widgets/PylProgressHUD.h"

namespace app {
namespace {

using container::MwFrameworkDelegate;
using container::testing::control;
using container::testing::RecordingListener;
using container::testing::serverCall;

// Records the update delegate's calls: "begin", progress as "n/d" fractions, "complete".
class RecordingUpdateDelegate : public PylUpdateDelegate {
 public:
  void benginDownloadHTML() override { calls.push_back("begin"); }
  void downloadProgress(double fraction) override { calls.push_back(std::to_string(fraction).substr(0, 4)); }
  void updateCompelete() override { calls.push_back("complete"); }
  bool completed() const { return std::find(calls.begin(), calls.end(), "complete") != calls.end(); }
  std::vector<std::string> calls;
};

class AppStartupTest : public container::testing::StartupFixture {
 protected:
  void SetUp() override {
    StartupFixture::SetUp();
    const pf::Value plist{{"list", {server->baseUrl()}},
                          {"probe-hosts", {"127.0.0.1:" + std::to_string(probePort)}},
                          {"front-url", server->baseUrl() + "/front/"},
                          {"parameters", {{"version", "2.1"}}}};
    ASSERT_TRUE(pf::FileManager::writeFile(bundle / "System.plist",
                                           *pf::writePropertyList(plist, pf::PropertyListFormat::Xml), true));
    container::MwConfiguration::resetForTesting();
    resetApp();
    control(*server, {{"menu", {{"items", pf::Value::array()}}}});
  }
  void TearDown() override {
    resetApp();
    StartupFixture::TearDown();
  }
  static void resetApp() {
    PylUpdateManager::resetForTesting();
    TnqShareManager::resetForTesting();
    kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
    FileController::resetForTesting();
    pf::Image::resetNamed();
    pf::Application::shared().reset();
  }

  static pf::Value item(const std::string& id, const std::string& url, const std::string& version) {
    return {{"id", id}, {"url", url}, {"version", version}};
  }
  void serveMenu(std::vector<pf::Value> items) {
    pf::Value list = pf::Value::array();
    for (auto& entry : items) list.push_back(std::move(entry));
    pf::Value menu = pf::Value::object();
    menu["items"] = list;
    pf::Value command = pf::Value::object();
    command["menu"] = menu;
    control(*server, command);
  }
  int acts(const std::string& act) { return serverCall(server->baseUrl(), "/stats")["acts"].value(act, 0); }
  // The page's update mark in the business file ("" without one, "<none>" without an item).
  static std::string mark(const std::string& url) {
    auto item = container::MwBusinessManager::getInstance().getElementByHTMLUrl(url);
    if (!item) return "<none>";
    auto value = item->attributeForName("update");
    return value ? value->stringValue() : "";
  }

  // Runs the container's start-up until its file-list check: a session with keys is open.
  void openSession() {
    auto listener = std::make_shared<RecordingListener>(std::vector{MwFrameworkDelegate::Operation::CheckManifest});
    container::MwFramework::getInstance().addListener(listener);
    container::MwFramework::getInstance().initialization();
    ASSERT_TRUE(waitForEvents(*listener, 1));
  }

  // Starts an update run with a recording delegate and waits for its end.
  std::shared_ptr<RecordingUpdateDelegate> runUpdate() {
    auto delegate = std::make_shared<RecordingUpdateDelegate>();
    auto manager = PylUpdateManager::sharedInstance();
    manager->setDelegate(delegate);
    manager->benginLoading();
    EXPECT_TRUE(pf::RunLoop::main()->spinUntil([&] { return delegate->completed() && manager->downloadTags() == 0; }, 30));
    container::MwMenusManager::getInstance().waitUntilIdleForTesting();
    pf::RunLoop::main()->spinUntil([] { return false; }, 0.05);
    return delegate;
  }

  std::string localMenu() {
    auto bytes = pf::FileManager::readFile(PylUpdateManager::sharedInstance()->menuFilePath());
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>";
  }
  void writeLocalMenu(const std::string& text) {
    auto manager = PylUpdateManager::sharedInstance();
    ASSERT_TRUE(manager->checkMenuDirExist());
    ASSERT_TRUE(pf::FileManager::writeFile(manager->menuFilePath(), text, true));
  }
};

TEST_F(AppStartupTest, LaunchShowsTheLaunchScreenThenUpdatesAndOpensTheFirstPage) {
  ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
  ASSERT_TRUE(pf::FileManager::writeFile(release() / "index.html", "<html><body><p>home</p></body></html>", true));
  serveMenu({item("1", "html|index.html", "1.0")});
  pf::VirtualTimeScope time;
  auto delegate = std::make_shared<AppDelegate>();
  EXPECT_TRUE(pf::Application::shared().launch(delegate));

  auto window = delegate->mainWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(pf::Application::shared().keyWindow(), window);
  EXPECT_EQ(pf::Application::shared().statusBarStyle(), 1);
  EXPECT_EQ(delegate->launchImageView()->superview(), window);
  EXPECT_TRUE(widgets::PylProgressHUD::HUDForView(window));
  EXPECT_TRUE(delegate->nav()->isNavigationBarHidden());
  EXPECT_EQ(PylPlugin().navController(), delegate->nav()) << "plug-ins push native screens on it";
  EXPECT_TRUE(delegate->observesHandshake());
  EXPECT_TRUE(delegate->observesManifest());
  auto webview = delegate->viewController()->webview();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return webview->pageCount() > 0; }, 30));
  EXPECT_FALSE(delegate->observesHandshake());
  EXPECT_FALSE(delegate->observesManifest());
  EXPECT_EQ(webview->currentPage()->webView()->currentPath(), (release() / "index.html").string());

  // The launch group: scale, slide and fade for one second, kept at their end, then removal.
  auto group = std::dynamic_pointer_cast<pf::AnimationGroup>(delegate->launchImageView()->layer().animationForKey(kLaunchAnimationKey));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->duration, 1.0);
  EXPECT_FALSE(group->removedOnCompletion);
  EXPECT_EQ(group->fillMode, pf::FillMode::Forwards);
  ASSERT_EQ(group->animations.size(), 3u);
  std::vector<std::string> keys;
  for (const auto& member : group->animations) keys.push_back(std::dynamic_pointer_cast<pf::BasicAnimation>(member)->keyPath);
  EXPECT_EQ(keys, (std::vector<std::string>{"transform.scale", "transform.translation.y", "opacity"}));
  time.advance(0.9);
  EXPECT_EQ(delegate->launchImageView()->superview(), window);
  time.advance(0.1);
  pf::RunLoop::main()->spinUntil([&] { return delegate->launchImageView()->superview() == nullptr; }, 5);
  EXPECT_EQ(delegate->launchImageView()->superview(), nullptr);
  EXPECT_FALSE(widgets::PylProgressHUD::HUDForView(window));
}

TEST_F(AppStartupTest, AFailedHandshakeLeavesTheLaunchScreenWithTheFailureText) {
  control(*server, {{"handshake", "refuse"}});
  pf::VirtualTimeScope time;
  auto delegate = std::make_shared<AppDelegate>();
  pf::Application::shared().launch(delegate);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !delegate->observesHandshake(); }, 30));
  EXPECT_FALSE(delegate->observesManifest());
  auto hud = widgets::PylProgressHUD::HUDForView(delegate->mainWindow());
  ASSERT_TRUE(hud);
  EXPECT_EQ(hud->labelText(), kHandshakeFailureText);
  EXPECT_EQ(delegate->launchImageView()->superview(), delegate->mainWindow());
  EXPECT_EQ(delegate->viewController()->webview()->pageCount(), 0u);
}

TEST_F(AppStartupTest, OnlyAHandshakeDictionaryOfZeroOrOneChangesTheStartUp) {
  auto delegate = std::make_shared<AppDelegate>();
  delegate->registFirstTimeHandshakeNotification();
  delegate->registCheckManifestNotification();
  auto& center = pf::NotificationCenter::defaultCenter();
  MwFrameWorkListener::sharedInstance()->didCheckMenuWithResult(1);  // the menu-check relay: a number
  center.post(kNotificationHandShakeResult, pf::Value{{"result", 2}});
  center.post(kNotificationHandShakeResult, pf::Value("1"));
  EXPECT_TRUE(delegate->observesHandshake());
  EXPECT_TRUE(delegate->observesManifest());
  MwFrameWorkListener::sharedInstance()->didHandShakeWithResult({{"result", 0}});
  EXPECT_FALSE(delegate->observesHandshake());
  EXPECT_TRUE(delegate->observesManifest());
}

TEST_F(AppStartupTest, AFailedManifestCheckStillStartsTheUpdateOnTheMainQueue) {
  openSession();
  auto delegate = std::make_shared<AppDelegate>();
  delegate->registCheckManifestNotification();
  MwFrameWorkListener::sharedInstance()->didCheckManifestWithResult(1);
  EXPECT_TRUE(delegate->observesManifest());  // posted later, on the main queue
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !delegate->observesManifest(); }, 5));
  EXPECT_EQ(PylUpdateManager::sharedInstance()->delegate(), delegate);
  // Started without a menu of its own: the menu file is fetched, no check is sent.
  pf::RunLoop::main()->spinUntil([&] { return localMenu() != "<none>"; }, 10);
  EXPECT_NE(localMenu(), "<none>");
}

TEST_F(AppStartupTest, ATallStatusBarHidesTheRedStripAndThePageFillsTheView) {
  auto controller = std::make_shared<ViewController>();
  auto window = pf::Window::make(pf::Screen::main()->bounds());
  window->setRootViewController(controller);
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  EXPECT_FALSE(controller->statusBarView()->isHidden());
  EXPECT_EQ(controller->statusBarView()->frame().size.height, 20);
  EXPECT_EQ(controller->webview()->frame(), controller->view()->bounds());
  pf::Application::shared().setStatusBarHeight(40);
  controller->view()->setNeedsLayout();
  window->layoutIfNeeded();
  EXPECT_TRUE(controller->statusBarView()->isHidden());
  pf::Application::shared().setStatusBarHeight(20);
  controller->view()->setNeedsLayout();
  window->layoutIfNeeded();
  EXPECT_FALSE(controller->statusBarView()->isHidden());
}

TEST_F(AppStartupTest, WithoutAMenuTheMenuIsFetchedAndEachMarkedPageDownloadsOnce) {
  openSession();
  const int checks = acts("updateMenu");
  serveMenu({item("1", "html|index.html", "2"), item("2", "html|news.html", "1"), item("3", "html|quote.html", "1"),
             item("4", "html|index.html", "2"), item("5", "no-bar.html", "1"), item("6", "image|logo.png", "1")});
  auto delegate = runUpdate();
  EXPECT_EQ(acts("updateMenu"), checks);  // no check without a menu of our own
  // Three pages marked new (the second index entry is the same page): completion and the menu
  // save come before the last progress step.
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"begin", "0.33", "0.66", "complete", "1.00"}));
  EXPECT_EQ(PylUpdateManager::sharedInstance()->downloadCount(), 3);
  auto& business = container::MwBusinessManager::getInstance();
  EXPECT_FALSE(business.getElementByHTMLUrl("no-bar.html"));
  EXPECT_FALSE(business.getElementByHTMLUrl("image|logo.png"));
  // These pages have no package facts, so none installed: they keep their marks, and the next
  // run, told that its menu is current, downloads them again.
  EXPECT_NE(localMenu(), "<none>");
  auto again = runUpdate();
  EXPECT_EQ(acts("updateMenu"), checks + 1);
  EXPECT_EQ(again->calls, (std::vector<std::string>{"begin", "0.33", "0.66", "complete", "1.00"}));
}

// A run killed while its pages downloaded left them marked in the business file and its menu copy
// current: the next start downloads them although the server says the menu is up to date. So does
// a start after the resource package came back (its zipMD5 lost): what it replaced is marked again.
TEST_F(AppStartupTest, MarkedPagesDownloadAtTheNextStartWhateverTheMenuCheckSays) {
  openSession();
  auto& business = container::MwBusinessManager::getInstance();
  const auto hash = control(*server, {{"package", {{"name", "index.zip"}, {"files", {{"p.html", "v2"}}}}}})["hash"];
  ASSERT_TRUE(business.refreshBusinessWithHTMLUrl("html|index.html", "2"));
  ASSERT_TRUE(business.setPackageFacts("html|index.html", {"index.zip", hash.get<std::string>(), "index"}));
  writeLocalMenu("<menus><menu id=\"1\" url=\"html|index.html\" version=\"2\"/></menus>");
  const int checks = acts("updateMenu");
  auto delegate = runUpdate();
  EXPECT_EQ(acts("updateMenu"), checks + 1);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"begin", "complete", "1.00"}));
  EXPECT_EQ(*pf::FileManager::readFile(release() / "index" / "p.html"), pf::toBytes("v2"));
  EXPECT_EQ(mark("html|index.html"), "");
  EXPECT_EQ(runUpdate()->calls, (std::vector<std::string>{"complete"})) << "nothing left to download";

  // The resource package installed again over the downloaded tree: its business file knows the
  // package's version only, and the page it replaced is marked again and comes back.
  const auto archive = bundle / "data.zip";
  const auto zip = control(*server, {{"package", {{"name", "data.zip"}, {"files", {{"index/p.html", "v1"}}}}}})["zip"];
  ASSERT_TRUE(pf::FileManager::writeFile(archive, *pf::base64DecodeStrict(zip.get<std::string>()), true));
  container::MwFramework::getInstance().unpackResources();
  EXPECT_EQ(*pf::FileManager::readFile(release() / "index" / "p.html"), pf::toBytes("v1"));
  EXPECT_EQ(mark("html|index.html"), "i");
  ASSERT_TRUE(business.setPackageFacts("html|index.html", {"index.zip", hash.get<std::string>(), "index"}));
  EXPECT_EQ(runUpdate()->calls, (std::vector<std::string>{"begin", "complete", "1.00"}));
  EXPECT_EQ(*pf::FileManager::readFile(release() / "index" / "p.html"), pf::toBytes("v2"));
}

// A comparison whose business file write fails (past a file size limit here) marks nothing and
// downloads nothing, and the new menu does not become the menu copy: the next start compares again.
TEST_F(AppStartupTest, AComparisonThatCannotWriteTheBusinessFileLeavesTheOldMenu) {
  openSession();
  auto& business = container::MwBusinessManager::getInstance();
  ASSERT_TRUE(business.performBatch([&] {
    for (int i = 0; i < 150; ++i) business.setPackageFacts("html|filler" + std::to_string(i) + ".html", {"f.zip", "AA", "f"});
  }));
  const auto before = *pf::FileManager::readFile(business.filePath());
  serveMenu({item("1", "html|index.html", "2")});
  std::shared_ptr<RecordingUpdateDelegate> delegate;
  {
    fxtest::FileSizeLimit limit(4096);
    delegate = runUpdate();
  }
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"complete"}));
  EXPECT_EQ(localMenu(), "<none>");
  EXPECT_EQ(*pf::FileManager::readFile(business.filePath()), before);
  EXPECT_TRUE(log.contains("update: business file not written; no page is downloaded"));

  PylUpdateManager::resetForTesting();
  delegate = runUpdate();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"begin", "complete", "1.00"}));
  EXPECT_NE(localMenu(), "<none>");
  EXPECT_EQ(mark("html|index.html"), "i");
}

TEST_F(AppStartupTest, AnUpToDateMenuCompletesAtOnceWithoutComparing) {
  openSession();
  writeLocalMenu("<menus><menu id=\"1\" url=\"html|index.html\" version=\"9\"/></menus>");
  // What a write of the menu copy killed before its rename left beside it goes with the next run.
  const auto leftover = std::filesystem::path(PylUpdateManager::sharedInstance()->menuDirPath()) / ".menu.xml.write-k1LLed";
  ASSERT_TRUE(pf::FileManager::writeFile(leftover, "<menus>", false));
  const auto copy = std::filesystem::path(PylUpdateManager::sharedInstance()->menuDirPath()) / ".menu.xml.before";
  ASSERT_TRUE(pf::FileManager::writeFile(copy, "<menus>", false));
  const int checks = acts("updateMenu");
  auto delegate = runUpdate();
  EXPECT_EQ(acts("updateMenu"), checks + 1);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"complete"}));
  EXPECT_FALSE(container::MwBusinessManager::getInstance().getElementByHTMLUrl("html|index.html"));
  EXPECT_EQ(PylUpdateManager::sharedInstance()->httpTask()->getTag(), PylUpdateManager::kMenuCheckTag);
  EXPECT_FALSE(pf::FileManager::fileExists(leftover));
  EXPECT_TRUE(pf::FileManager::fileExists(copy));
  EXPECT_TRUE(log.contains("removed " + leftover.string() + ", the temporary file of an interrupted write"));
}

TEST_F(AppStartupTest, ABadMenuDownloadKeepsTheOldMenu) {
  openSession();
  const std::string old = "<menus><menu id=\"1\" url=\"html|index.html\" version=\"1\"/></menus>";
  writeLocalMenu(old);
  control(*server, {{"needUpdate", 1}});
  for (const pf::Value& site : {pf::Value{{"status", {{"menu.xml", 404}}}},
                                pf::Value{{"status", {{"menu.xml", 200}}},
                                          {"package", {{"name", "menu.xml"}, {"files", {{"a.txt", "x"}}}}}}}) {
    control(*server, site);
    PylUpdateManager::resetForTesting();
    pf::FileManager::removeItem(container::MwBusinessManager::getInstance().filePath());  // the page is new again
    container::MwBusinessManager::resetForTesting();
    auto package = control(*server, {{"package", {{"name", "index.zip"}, {"files", {{"p.html", "page"}}}}}});
    container::MwBusinessManager::getInstance().setPackageFacts(
        "html|index.html", {"index.zip", package["hash"].get<std::string>(), "index"});
    auto delegate = runUpdate();
    EXPECT_EQ(localMenu(), old);
    // The comparison ran on the menu in place: its page is marked and downloaded.
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"begin", "complete", "1.00"}));
  }
}

TEST_F(AppStartupTest, AFailedMenuCheckCompletesTheRun) {
  openSession();
  writeLocalMenu("<menus/>");
  container::MwServerConfiguration::resetForTesting("http://127.0.0.1:" + std::to_string(closedPort));
  auto delegate = runUpdate();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"complete"}));
}

TEST_F(AppStartupTest, AnUnreadableMenuCountsAsAbsentAndStrayEndsAreIgnored) {
  openSession();
  auto manager = PylUpdateManager::sharedInstance();
  ASSERT_TRUE(manager->checkMenuDirExist());
  ASSERT_TRUE(pf::FileManager::createDirectory(manager->menuFilePath(), false));  // a folder where the file goes
  EXPECT_FALSE(manager->checkMenuFileExist());
  const int checks = acts("updateMenu");
  auto delegate = runUpdate();
  EXPECT_EQ(acts("updateMenu"), checks);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"complete"}));

  manager->didDownloadMenuCompletedWithResult({{"url", "html|index.html"}, {"result", 0}});
  manager->completeLoading();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"complete"}));
  EXPECT_EQ(manager->downloadTags(), 0);

  // A FIFO there is not read either (its feeder would hand a blocking read a menu).
  ASSERT_TRUE(pf::FileManager::removeItem(manager->menuFilePath()));
  fxtest::FifoFeeder fifo(manager->menuFilePath(), "<menus><menu id=\"1\" url=\"html|index.html\" version=\"9\"/></menus>");
  EXPECT_FALSE(manager->checkMenuFileExist());
  EXPECT_TRUE(manager->readMenuXML().empty());
}

// Counts the atomic writes of a file: each writes a temporary file beside it (".<name>.write-XXXXXX",
// a new name every time) and renames it over the file.
class AtomicWriteWatch {
 public:
  explicit AtomicWriteWatch(const std::filesystem::path& file)
      : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), prefix_("." + file.filename().string() + ".") {
    if (fd_ >= 0) ::inotify_add_watch(fd_, file.parent_path().c_str(), IN_MOVED_FROM);
  }
  ~AtomicWriteWatch() { ::close(fd_); }
  int count() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0 && std::string_view(event->name).starts_with(prefix_)) ++count_;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return count_;
  }

 private:
  int fd_;
  std::string prefix_;
  int count_ = 0;
};

// One comparison writes (and signs) the business file once, however many pages it marks, and
// the file holds what refreshing the pages one by one gives.
TEST_F(AppStartupTest, AComparisonWritesTheBusinessFileOnce) {
  auto& business = container::MwBusinessManager::getInstance();
  std::string menu = "<menus>";
  auto entry = [&](int id, const std::string& url, const std::string& version) {
    menu += "<menu id=\"" + std::to_string(id) + "\" url=\"" + url + "\" version=\"" + version + "\"/>";
  };
  for (int i = 0; i < 60; ++i) {
    const std::string url = "html|p" + std::to_string(i) + ".html";
    if (i >= 20) {  // known pages: 20 to 39 change, 40 to 59 stay
      business.refreshBusinessWithHTMLUrl(url, "1");
      business.clearUpdateMark(url);
    }
    entry(i, url, i < 40 ? "2" : "1.0");
  }
  entry(60, "html|p3.html", "2");     // listed twice
  entry(61, "html|blank.html", "");   // no version
  entry(62, "image|logo.png", "1");   // no page
  menu += "</menus>";
  writeLocalMenu(menu);
  const auto before = *pf::FileManager::readFile(business.filePath());

  auto delegate = std::make_shared<RecordingUpdateDelegate>();
  auto manager = PylUpdateManager::sharedInstance();
  manager->setDelegate(delegate);
  AtomicWriteWatch writes(business.filePath());
  manager->compareMenuInsideList();
  EXPECT_EQ(writes.count(), 1);
  EXPECT_EQ(manager->downloadCount(), 40);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return delegate->completed() && manager->downloadTags() == 0; }, 30));
  container::MwMenusManager::getInstance().waitUntilIdleForTesting();
  EXPECT_EQ(delegate->calls.front(), "begin");
  EXPECT_EQ(delegate->calls.back(), "1.00");
  const auto compared = *pf::FileManager::readFile(business.filePath());

  // The same pages refreshed one by one from the same file.
  ASSERT_TRUE(pf::FileManager::writeFile(business.filePath(), before, true));
  container::MwBusinessManager::resetForTesting();
  for (const auto& model : MenuXMLModel::parseMenu(menu))
    if (model.type == "html") business.refreshBusinessWithHTMLUrl(model.intactUrl, model.version);
  EXPECT_EQ(compared, *pf::FileManager::readFile(business.filePath()));

  container::MwBusinessManager::resetForTesting();  // the file verifies and reads back
  EXPECT_EQ(business.getElementByHTMLUrl("html|p5.html")->attributeForName("update")->stringValue(), "i");
  EXPECT_EQ(business.getElementByHTMLUrl("html|p25.html")->attributeForName("update")->stringValue(), "u");
  EXPECT_FALSE(business.getElementByHTMLUrl("html|p45.html")->attributeForName("update"));
  EXPECT_FALSE(business.getElementByHTMLUrl("html|blank.html"));
}

TEST_F(AppStartupTest, UrlsTheMessagingPlatformDoesNotKnowAreRefusedByBothEntries) {
  auto delegate = std::make_shared<AppDelegate>();
  EXPECT_EQ(delegate->handleOpenURL("fxother://anything?x=1"), false);
  EXPECT_EQ(delegate->openURL("fxother://anything?x=1", "org.example.other", pf::Value()), false);
}

TEST(MenuXMLModelTest, EntriesSplitTheirUrlAtTheFirstBar) {
  auto models = MenuXMLModel::parseMenu(
      "<menus><m id=\"1\" url=\"html|a/b.html\" version=\"2\"/><m id=\"2\" url=\"plain.html\"/>"
      "<m url=\"html|x.html|extra\"/>text<!-- c --></menus>");
  ASSERT_EQ(models.size(), 3u);
  EXPECT_EQ(models[0].type, "html");
  EXPECT_EQ(models[0].url, "a/b.html");
  EXPECT_EQ(models[0].intactUrl, "html|a/b.html");
  EXPECT_EQ(models[0].version, "2");
  EXPECT_EQ(models[0].menuId, "1");
  EXPECT_TRUE(models[1].type.empty() && models[1].url.empty());
  EXPECT_EQ(models[2].url, "x.html");
  EXPECT_TRUE(MenuXMLModel::parseMenu("not xml").empty());
  EXPECT_TRUE(MenuXMLModel::parseMenu("").empty());
}

}  // namespace
}  // namespace app
