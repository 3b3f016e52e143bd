// "shareoperation.do" from a real page: the screenshot reaches the messaging platform's
// application, whose answer comes back through the application's open-URL entry to the page.

#include <gtest/gtest.h>

#include <fstream>

#include "PluginPageSupport.h"
#include "app/PylSharePlugin.h"
#include "app/TnqShareManager.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Image.h"
#include "platform/ui/Pasteboard.h"
#include "share/QxPlatformApp.h"

namespace app {
namespace {

using plugintest::PluginPage;

// The shell's open-URL entry: the share manager reads the platform's answers.
struct ShellDelegate : pf::ApplicationDelegate {
  std::optional<bool> openURL(const std::string& url, const std::string&, const pf::Value&) override {
    return TnqShareManager::sharedInstance()->handleOpenURL(url);
  }
};

class SharePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugintest::registerBuiltInPlugins();
    pf::Application::shared().setDelegate(std::make_shared<ShellDelegate>());
    pf::Application::shared().addOwnURLScheme(kTnqQxRegistrationId);
    TnqShareManager::sharedInstance()->setQxKey(kTnqQxRegistrationId);
    TnqShareManager::sharedInstance()->shareRegister();
    ASSERT_TRUE(pf::Image::blank(300, 200)->writePNG(dir.path() / "shot.png"));
  }
  void TearDown() override {
    TnqShareManager::resetForTesting();
    share::QxApi::resetForTesting();
    pf::Application::shared().reset();
    pf::Pasteboard::resetAll();
    container::MwServletManager::resetForTesting();
  }
  std::string shareArgs(const char* scene) const {
    return "{shareType: " + std::string(scene) + ", filePath: '" + (dir.path() / "shot.png").string() + "'}";
  }
  bool waitForAnswers(std::size_t n) {
    return pf::RunLoop::main()->spinUntil([&] { return page.answerCount() >= n; }, 10);
  }

  pf::LogCapture quiet;
  fxtest::TempDir dir;
  PluginPage page;
};

TEST_F(SharePluginTest, ThePlatformsAnswerReachesThePage) {
  sharetest::QxPlatformApp platform(0);
  page.call("shareoperation.do", "shareQxImage", shareArgs("1"), "{timeout: 5}");
  ASSERT_TRUE(waitForAnswers(1));
  EXPECT_EQ(page.answersFrom(0)[0]["data"], (pf::Value{{"resultCode", 0}, {"content", "分享成功"}}));
  ASSERT_EQ(platform.requests.size(), 1u);
  EXPECT_EQ(platform.requests[0]["scene"], 1);
  EXPECT_EQ(page.page->openCallCount(), 0u);

  platform.answerWith(share::kQxErrCodeUserCancel);
  page.call("shareoperation.do", "shareQxImage", shareArgs("'0'"));
  ASSERT_TRUE(waitForAnswers(2));
  EXPECT_EQ(page.answersFrom(1)[0]["data"],
            (pf::Value{{"resultCode", share::kQxErrCodeUserCancel}, {"content", "分享失败"}}));
}

TEST_F(SharePluginTest, UnknownOperationsAndUnreadableFiles) {
  sharetest::QxPlatformApp platform(0);
  auto other = page.call("shareoperation.do", "shareText", shareArgs("0"));
  ASSERT_EQ(other.size(), 1u);
  EXPECT_FALSE(other[0].contains("data"));
  plugintest::pump();
  EXPECT_TRUE(platform.requests.empty()) << "nothing shared";

  // A share refused on the way is answered at once, and the call does not stay open.
  auto refused = page.call("shareoperation.do", "shareQxImage", "{shareType: 0, filePath: 42}");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0]["data"]["content"], "分享失败");
  EXPECT_EQ(page.page->openCallCount(), 0u);

  // A platform that has not answered yet leaves the call open, without time-out.
  platform.answerWith(std::nullopt);
  auto plugin = std::make_shared<SharePlugin>();
  plugintest::DirectCall call(*plugin, "shareoperation.do", "shareQxImage",
                              pf::Value{{"shareType", 0}, {"filePath", (dir.path() / "shot.png").string()}});
  plugintest::pump();
  EXPECT_TRUE(call.recorder->answers.empty());
  EXPECT_TRUE(plugin->continueFlag());
  EXPECT_EQ(call.task->timeoutValue(), 0);
}

// A page's "filePath" may name a FIFO or a device: nothing is read from it and the call fails at
// once. Should a read block on the FIFO, a writer feeds it a real picture, so the test ends and
// the share that should not have happened shows.
TEST_F(SharePluginTest, OnlyRegularFilesAreShared) {
  sharetest::QxPlatformApp platform(0);
  fxtest::FifoFeeder fifo(dir.path() / "pipe.png", pf::toString(*pf::FileManager::readFile(dir.path() / "shot.png")));
  for (const std::string& path : {fifo.path().string(), std::string("/dev/zero"), std::string("/dev/null"),
                                  (dir.path() / "../" / dir.path().filename() / "pipe.png").string()}) {
    auto answers = page.call("shareoperation.do", "shareQxImage", "{shareType: 1, filePath: '" + path + "'}");
    ASSERT_EQ(answers.size(), 1u) << path;
    EXPECT_EQ(answers[0]["data"], (pf::Value{{"resultCode", share::kQxErrCodeSentFail}, {"content", "分享失败"}})) << path;
  }
  EXPECT_TRUE(platform.requests.empty()) << "nothing reached the platform";
  EXPECT_EQ(page.page->openCallCount(), 0u);

  // A regular file still shares, and one over the platform's bound does not.
  auto shared = page.call("shareoperation.do", "shareQxImage", shareArgs("1"));
  ASSERT_TRUE(waitForAnswers(5));
  EXPECT_EQ(page.answersFrom(4)[0]["data"]["resultCode"], 0);
  {
    std::ofstream big(dir.path() / "big.png", std::ios::binary);
    big << std::string(share::QxExchange::kMaxRequestBytes + 1, 'x');
  }
  auto tooLarge = page.call("shareoperation.do", "shareQxImage",
                            "{shareType: 1, filePath: '" + (dir.path() / "big.png").string() + "'}");
  ASSERT_EQ(tooLarge.size(), 1u);
  EXPECT_EQ(tooLarge[0]["data"]["resultCode"], share::kQxErrCodeSentFail);
}

}  // namespace
}  // namespace app
