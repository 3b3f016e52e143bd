#include <gtest/gtest.h>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Image.h"
#include "share/QxPlatformApp.h"
#include "support/TestSupport.h"

namespace share {
namespace {

using sharetest::QxPlatformApp;

constexpr const char* kAppId = "qxfx2026";

class RecordingDelegate : public QxApiDelegate {
 public:
  void onResp(const QxBaseResp& response) override {
    auto* send = dynamic_cast<const SendMessageToQxResp*>(&response);
    codes.push_back(send ? send->errCode : 999);
  }
  std::vector<int> codes;
};

// The application's delegate hands incoming URLs to the library, as the shell does.
class AppDelegate : public pf::ApplicationDelegate {
 public:
  std::optional<bool> openURL(const std::string& url, const std::string&, const pf::Value&) override {
    bool handled = QxApi::handleOpenURL(url, library);
    answers.push_back(handled);
    return handled;
  }
  std::shared_ptr<RecordingDelegate> library = std::make_shared<RecordingDelegate>();
  std::vector<bool> answers;
};

class QxApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Application::shared().setDelegate(delegate_);
    pf::Application::shared().addOwnURLScheme(kAppId);
  }
  void TearDown() override {
    QxApi::resetForTesting();
    pf::Application::shared().reset();
    pf::Pasteboard::resetAll();
  }
  static SendMessageToQxReq request(pf::Bytes image, int scene = kQxSceneTimeline) {
    auto message = QxMediaMessage::message();
    EXPECT_TRUE(message->setThumbImage(pf::Image::blank(80, 80)));
    auto object = QxImageObject::object();
    object->setImageData(std::move(image));
    message->setMediaObject(object);
    SendMessageToQxReq req;
    req.message = message;
    req.scene = scene;
    return req;
  }
  static pf::Bytes png() { return pf::Image::blank(120, 90)->pngData(); }
  bool spinUntilAnswered(std::size_t count) {
    return pf::RunLoop::main()->spinUntil([&] { return delegate_->answers.size() >= count; }, 5);
  }
  void settle() { pf::RunLoop::main()->spinUntil([] { return false; }, 0.05); }

  std::shared_ptr<AppDelegate> delegate_ = std::make_shared<AppDelegate>();
};

TEST_F(QxApiTest, RegistrationTakesOnlyUrlSchemes) {
  for (const char* bad : {"", "1qx", "qx app", "qx", "QX", "qx/1", "中文"}) EXPECT_FALSE(QxApi::registerApp(bad)) << bad;
  EXPECT_EQ(QxApi::registeredAppId(), "");
  EXPECT_TRUE(QxApi::registerApp(kAppId));
  EXPECT_EQ(QxApi::registeredAppId(), kAppId);
}

TEST_F(QxApiTest, ARequestTravelsToThePlatformAndItsAnswerComesBack) {
  QxPlatformApp platform(kQxErrCodeUserCancel);
  ASSERT_TRUE(QxApi::registerApp(kAppId));
  pf::Bytes image = png();
  ASSERT_TRUE(QxApi::sendReq(request(image)));
  EXPECT_EQ(pf::Application::shared().applicationState(), pf::ApplicationState::Background);
  ASSERT_TRUE(spinUntilAnswered(1));
  EXPECT_EQ(delegate_->answers, std::vector<bool>{true});
  EXPECT_EQ(delegate_->library->codes, std::vector<int>{kQxErrCodeUserCancel});
  EXPECT_EQ(pf::Application::shared().applicationState(), pf::ApplicationState::Active);

  ASSERT_EQ(platform.requests.size(), 1u);
  const pf::Value& sent = platform.requests[0];
  EXPECT_EQ(sent[QxExchange::kSceneKey], kQxSceneTimeline);
  EXPECT_EQ(sent[QxExchange::kTextFlagKey], false);
  EXPECT_EQ(sent[QxExchange::kAppIdKey], kAppId);
  EXPECT_EQ(pf::dataValue(sent[QxExchange::kImageKey]), image);
  EXPECT_TRUE(pf::Image::fromData(pf::dataValue(sent[QxExchange::kThumbKey])));
  std::string transaction = sent[QxExchange::kTransactionKey].get<std::string>();
  EXPECT_EQ(platform.urls, std::vector<std::string>{QxExchange::requestURL(kAppId, transaction)});

  // The answered transaction is spent: the same answer again is refused.
  QxPlatformApp::answer(kAppId, transaction, 0);
  ASSERT_TRUE(spinUntilAnswered(2));
  EXPECT_EQ(delegate_->answers, (std::vector<bool>{true, false}));
  EXPECT_EQ(delegate_->library->codes.size(), 1u);

  // Each request has its own transaction.
  ASSERT_TRUE(QxApi::sendReq(request(image)));
  ASSERT_TRUE(spinUntilAnswered(3));
  EXPECT_NE(platform.requests[1][QxExchange::kTransactionKey], transaction);
}

TEST_F(QxApiTest, RequestsTheLibraryRefuses) {
  auto unregistered = request(png());
  EXPECT_FALSE(QxApi::sendReq(unregistered));
  ASSERT_TRUE(QxApi::registerApp(kAppId));
  EXPECT_FALSE(QxApi::sendReq(request(png())));  // no platform application answers "qx"
  EXPECT_FALSE(pf::Pasteboard::withName(QxExchange::kPasteboardName, true)->dataForType(QxExchange::kRequestType));

  QxPlatformApp platform;
  EXPECT_FALSE(QxApi::sendReq(request({})));
  EXPECT_FALSE(QxApi::sendReq(request(pf::Bytes(QxExchange::kMaxRequestBytes + 1, 7))));
  SendMessageToQxReq noMessage;
  EXPECT_FALSE(QxApi::sendReq(noMessage));
  EXPECT_FALSE(QxApi::sendReq(QxBaseReq()));
  settle();
  EXPECT_TRUE(platform.urls.empty());
}

TEST_F(QxApiTest, ForgedStaleAndUnknownAnswersCallNothing) {
  QxPlatformApp platform(std::nullopt);  // never answers by itself
  ASSERT_TRUE(QxApi::registerApp(kAppId));
  ASSERT_TRUE(QxApi::sendReq(request(png())));
  settle();
  ASSERT_EQ(platform.requests.size(), 1u);
  std::string first = platform.requests[0][QxExchange::kTransactionKey].get<std::string>();
  ASSERT_TRUE(QxApi::sendReq(request(png())));  // replaces the pending transaction
  settle();
  std::string second = platform.requests[1][QxExchange::kTransactionKey].get<std::string>();

  auto board = pf::Pasteboard::withName(QxExchange::kPasteboardName, true);
  auto respond = [&](const pf::Value& response) {
    board->setData(*pf::writePropertyList(response, pf::PropertyListFormat::Binary), QxExchange::kResponseType);
  };
  auto library = std::make_shared<RecordingDelegate>();
  respond({{"transaction", second}, {"errCode", 0}});
  for (const std::string& url :
       {QxExchange::answerURL(kAppId, first), QxExchange::answerURL("qxother", second),
        QxExchange::answerURL(kAppId, second) + "&x=1", QxExchange::answerURL(kAppId, std::string(32, '0')),
        std::string(kAppId) + "://resp?transaction=" + second.substr(1), "http://resp?transaction=" + second,
        std::string(kAppId) + "://resq?transaction=" + second})
    EXPECT_FALSE(QxApi::handleOpenURL(url, library)) << url;

  std::string url = QxExchange::answerURL(kAppId, second);
  for (const pf::Value& bad : {pf::Value{{"transaction", first}, {"errCode", 0}}, pf::Value{{"transaction", second}},
                               pf::Value{{"transaction", second}, {"errCode", "0"}},
                               pf::Value{{"transaction", second}, {"errCode", 1LL << 40}}}) {
    respond(bad);
    EXPECT_FALSE(QxApi::handleOpenURL(url, library));
  }
  board->setData({'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xFF}, QxExchange::kResponseType);
  EXPECT_FALSE(QxApi::handleOpenURL(url, library));
  EXPECT_TRUE(library->codes.empty());

  respond({{"transaction", second}, {"errCode", -4}});
  EXPECT_TRUE(QxApi::handleOpenURL(url, library));
  EXPECT_EQ(library->codes, std::vector<int>{-4});
  respond({{"transaction", second}, {"errCode", 0}});
  EXPECT_FALSE(QxApi::handleOpenURL(url, library));  // stale now
}

TEST_F(QxApiTest, PythonReadsTheRequestAndItsImages) {
  QxPlatformApp platform(std::nullopt);
  ASSERT_TRUE(QxApi::registerApp(kAppId));
  auto req = request(png(), kQxSceneFavorite);
  ASSERT_TRUE(QxApi::sendReq(req));
  settle();
  ASSERT_EQ(platform.rawRequests.size(), 1u);
  fxtest::TempDir dir;
  ASSERT_TRUE(pf::FileManager::writeFile(dir / "request.plist", platform.rawRequests[0], false));
  fxtest::ChildProcess peer({fxtest::kPython, (fxtest::sourceDir() / "tests/share/peers/read_request.py").string(),
                             (dir / "request.plist").string()});
  auto line = peer.readLine(20000);
  ASSERT_TRUE(line) << "the peer did not answer";
  auto read = pf::parseJson(*line);
  ASSERT_TRUE(read);
  EXPECT_EQ((*read)["version"], QxExchange::kVersion);
  EXPECT_EQ((*read)["appId"], kAppId);
  EXPECT_EQ((*read)["scene"], kQxSceneFavorite);
  EXPECT_EQ((*read)["bText"], false);
  EXPECT_EQ((*read)["text"], "");
  EXPECT_EQ((*read)["transaction"].get<std::string>().size(), 32u);
  EXPECT_EQ((*read)["thumb"], (pf::Value{{"format", "PNG"}, {"size", {80, 80}}}));
  EXPECT_EQ((*read)["image"], (pf::Value{{"format", "PNG"}, {"size", {120, 90}}}));
  EXPECT_EQ((*read)["imageLength"], png().size());
  EXPECT_EQ(peer.wait(), 0);
}

}  // namespace
}  // namespace share
