// A share from the page's road to the platform's application and back through the application
// delegate's open-URL entry to the waiting callback.
#include <gtest/gtest.h>

#include "app/TnqShareManager.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Image.h"
#include "share/QxPlatformApp.h"
#include "support/TestSupport.h"

namespace app {
namespace {

using sharetest::QxPlatformApp;

constexpr const char* kRegistrationId = kTnqQxRegistrationId;

// The shell's application delegate: both open-URL entries answer what the share manager says.
class ShellDelegate : public pf::ApplicationDelegate {
 public:
  std::optional<bool> openURL(const std::string& url, const std::string&, const pf::Value&) override {
    return handleOpenURL(url);
  }
  std::optional<bool> handleOpenURL(const std::string& url) override {
    bool handled = TnqShareManager::sharedInstance()->handleOpenURL(url);
    answers.push_back(handled);
    return handled;
  }
  std::vector<bool> answers;
};

struct Result {
  long code;
  std::string text;
  bool operator==(const Result&) const = default;
};

class ShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Application::shared().setDelegate(delegate_);
    pf::Application::shared().addOwnURLScheme(kRegistrationId);
    auto manager = TnqShareManager::sharedInstance();
    manager->setQxKey(kRegistrationId);
    manager->shareRegister();  // at start-up
    auto image = pf::Image::blank(300, 200);
    ASSERT_TRUE(image->writePNG(dir_ / "shot.png"));
  }
  void TearDown() override {
    TnqShareManager::resetForTesting();
    share::QxApi::resetForTesting();
    pf::Application::shared().reset();
    pf::Pasteboard::resetAll();
  }
  // The page's call: {"sceneType": shareType, "contentType": "1", "filePath": path}.
  TnqShareOutcome sharePage(const std::string& path, std::vector<Result>& results, const char* scene = "0") {
    auto model = TnqQxShareModel::initWihtDict({{"sceneType", scene}, {"contentType", "1"}, {"filePath", path}});
    return TnqShareManager::sharedInstance()->share(
        model, [&results](long code, const std::string& text) { results.push_back({code, text}); });
  }
  void spinUntil(const std::function<bool()>& done) { pf::RunLoop::main()->spinUntil(done, 5); }
  void settle() { pf::RunLoop::main()->spinUntil([] { return false; }, 0.05); }

  fxtest::TempDir dir_;
  std::shared_ptr<ShellDelegate> delegate_ = std::make_shared<ShellDelegate>();
};

TEST_F(ShareTest, AnsweredSharesReachTheWaitingCallback) {
  QxPlatformApp platform(0);
  std::vector<Result> results;
  EXPECT_EQ(sharePage((dir_ / "shot.png").string(), results, "1"), TnqShareOutcome::Sent);
  EXPECT_TRUE(results.empty());
  spinUntil([&] { return !results.empty(); });
  EXPECT_EQ(results, (std::vector<Result>{{0, "分享成功"}}));
  EXPECT_EQ(delegate_->answers, std::vector<bool>{true});
  ASSERT_EQ(platform.requests.size(), 1u);
  EXPECT_EQ(platform.requests[0]["scene"], 1);
  auto thumb = pf::Image::fromData(pf::dataValue(platform.requests[0]["thumbData"]));
  ASSERT_TRUE(thumb);
  EXPECT_EQ(thumb->size(), (pf::Size{80, 80}));
  EXPECT_EQ(pf::dataValue(platform.requests[0]["imageData"]), *pf::FileManager::readFile(dir_ / "shot.png"));

  platform.answerWith(share::kQxErrCodeUserCancel);
  results.clear();
  sharePage((dir_ / "shot.png").string(), results);
  spinUntil([&] { return !results.empty(); });
  EXPECT_EQ(results, (std::vector<Result>{{share::kQxErrCodeUserCancel, "分享失败"}}));
}

TEST_F(ShareTest, RefusedSharesEndAtOnce) {
  std::vector<Result> results;
  EXPECT_EQ(sharePage((dir_ / "shot.png").string(), results), TnqShareOutcome::Refused);  // no platform app
  EXPECT_EQ(results, (std::vector<Result>{{share::kQxErrCodeSentFail, "分享失败"}}));

  QxPlatformApp platform(0);
  ASSERT_TRUE(pf::FileManager::writeFile(dir_ / "notes.txt", "not an image", false));
  for (const auto& path : {(dir_ / "missing.png").string(), (dir_ / "notes.txt").string(), std::string()}) {
    results.clear();
    EXPECT_EQ(sharePage(path, results), TnqShareOutcome::Refused) << path;
    EXPECT_EQ(results, (std::vector<Result>{{share::kQxErrCodeSentFail, "分享失败"}}));
  }
  settle();
  EXPECT_TRUE(platform.urls.empty());
}

TEST_F(ShareTest, WithoutRegistrationNothingReachesThePlatform) {
  share::QxApi::resetForTesting();
  TnqShareManager::resetForTesting();
  TnqShareManager::sharedInstance()->shareRegister();  // no key: no registration
  QxPlatformApp platform(0);
  std::vector<Result> results;
  EXPECT_EQ(sharePage((dir_ / "shot.png").string(), results), TnqShareOutcome::Refused);
  EXPECT_EQ(results.size(), 1u);
  EXPECT_TRUE(platform.urls.empty());
}

TEST_F(ShareTest, ASecondShareEndsThePendingOneAndItsLateAnswerIsRefused) {
  QxPlatformApp platform(std::nullopt);
  std::vector<Result> first, second;
  EXPECT_EQ(sharePage((dir_ / "shot.png").string(), first), TnqShareOutcome::Sent);
  settle();
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(sharePage((dir_ / "shot.png").string(), second), TnqShareOutcome::Sent);
  EXPECT_EQ(first, (std::vector<Result>{{share::kQxErrCodeSentFail, "分享失败"}}));
  settle();
  ASSERT_EQ(platform.requests.size(), 2u);

  QxPlatformApp::answer(kRegistrationId, platform.requests[0]["transaction"].get<std::string>(), 0);
  spinUntil([&] { return delegate_->answers.size() == 1; });
  EXPECT_EQ(delegate_->answers, std::vector<bool>{false});
  EXPECT_TRUE(second.empty());

  QxPlatformApp::answer(kRegistrationId, platform.requests[1]["transaction"].get<std::string>(), 0);
  spinUntil([&] { return !second.empty(); });
  EXPECT_EQ(second, (std::vector<Result>{{0, "分享成功"}}));
  EXPECT_EQ(first.size(), 1u);
}

TEST_F(ShareTest, ModelsWithoutASenderSendNothing) {
  QxPlatformApp platform(0);
  auto manager = TnqShareManager::sharedInstance();
  auto video = TnqQxShareModel::initWihtDict({{"contentType", 2}, {"filePath", (dir_ / "shot.png").string()}});
  EXPECT_EQ(manager->sendContent(video), TnqShareOutcome::NothingSent);
  auto other = std::make_shared<TnqShareModel>();
  other->type = 2;
  EXPECT_EQ(manager->sendContent(other), TnqShareOutcome::NothingSent);
  std::vector<Result> results;
  EXPECT_EQ(manager->share(video, [&](long code, const std::string& text) { results.push_back({code, text}); }),
            TnqShareOutcome::NothingSent);
  EXPECT_EQ(results, (std::vector<Result>{{share::kQxErrCodeUnsupport, "分享失败"}}));  // a waiting page still hears
  settle();
  EXPECT_TRUE(platform.urls.empty());

  auto model = TnqQxShareModel::initWihtDict({{"sceneType", "2"}, {"title", "t"}, {"text", 5}});
  EXPECT_EQ(model->type, 1);
  EXPECT_EQ(model->sceneType, 2);
  EXPECT_EQ(model->contentType, std::nullopt);
  EXPECT_EQ(model->title, "t");
  EXPECT_EQ(model->shareText, "5");
  EXPECT_EQ(model->link, std::nullopt);
}

TEST_F(ShareTest, ForeignUrlsAreNotTheManagersAndAnswersWithoutACallbackDoNothing) {
  EXPECT_FALSE(TnqShareManager::sharedInstance()->handleOpenURL("fxother://resp?transaction=1"));
  QxPlatformApp platform(0);
  auto manager = TnqShareManager::sharedInstance();
  auto model = TnqQxShareModel::initWihtDict({{"contentType", "1"}, {"filePath", (dir_ / "shot.png").string()}});
  EXPECT_EQ(manager->sendContent(model), TnqShareOutcome::Sent);  // no callback set
  spinUntil([&] { return !delegate_->answers.empty(); });
  EXPECT_EQ(delegate_->answers, std::vector<bool>{true});
  EXPECT_FALSE(manager->callback());
}

}  // namespace
}  // namespace app
