#include "app/AppDelegate.h"

#include "app/MwFrameWorkListener.h"
#include "app/PylPlugin.h"
#include "app/TnqShareManager.h"
#include "container/MwConfiguration.h"
#include "container/MwFramework.h"
#include "container/MwServerConfiguration.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "widgets/PylProgressHUD.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

// The launch animation's delegate: forwards to the application delegate without keeping it alive
// (the animation stays on the layer and holds its delegate).
class LaunchAnimationDelegate : public pf::AnimationDelegate {
 public:
  explicit LaunchAnimationDelegate(std::weak_ptr<AppDelegate> owner) : owner_(std::move(owner)) {}
  void animationDidStart(pf::Animation&) override {
    if (auto owner = owner_.lock()) owner->animationDidStart();
  }
  void animationDidStop(pf::Animation&, bool finished) override {
    if (auto owner = owner_.lock()) owner->animationDidStop(finished);
  }

 private:
  std::weak_ptr<AppDelegate> owner_;
};

std::shared_ptr<pf::BasicAnimation> launchMember(const char* keyPath, std::optional<pf::AnimValue> from,
                                                 pf::AnimValue to) {
  auto animation = pf::BasicAnimation::make(keyPath);
  animation->fromValue = std::move(from);
  animation->toValue = std::move(to);
  animation->repeatCount = 1;
  animation->timingFunction = pf::TimingFunction::named("default");
  animation->duration = 1.0;
  animation->removedOnCompletion = false;
  animation->fillMode = pf::FillMode::Forwards;
  return animation;
}

// Runs the member function on the main thread: at once there, else on the main queue.
void onMain(const std::shared_ptr<AppDelegate>& self, void (AppDelegate::*call)(const pf::Notification&),
            const pf::Notification& notification) {
  if (pf::Thread::isMainThread()) {
    ((*self).*call)(notification);
    return;
  }
  pf::DispatchQueue::main()->async([self, call, notification] { ((*self).*call)(notification); });
}

}  // namespace

AppDelegate::~AppDelegate() {
  removeHandshakeNotification();
  removeCheckManifestNotifcation();
}

bool AppDelegate::didFinishLaunchingWithOptions(const pf::Value&) {
  PF_ASSERT_MAIN_THREAD();
  // The server base URL comes from the configuration unless one was set for this run.
  auto& server = container::MwServerConfiguration::getInstance();
  if (server.getServerBaseUrl().empty()) {
    if (auto base = container::MwConfiguration::getInstance().serverBaseUrl()) server.setServerBaseUrl(*base);
  }
  auto& framework = container::MwFramework::getInstance();
  framework.unpackResources();
  framework.initialization();
  framework.addListener(MwFrameWorkListener::sharedInstance());
  framework.openCrashCollect();
  PylSDKManager::sharedInstance().loadShareSDK();
  PylSDKManager::sharedInstance().loadStore();
  registFirstTimeHandshakeNotification();
  registCheckManifestNotification();
  pf::Application::shared().setStatusBarStyle(1);

  window_ = pf::Window::make(pf::Screen::main()->bounds());
  viewController_ = std::make_shared<ViewController>();
  nav_ = pf::NavigationController::make(viewController_);
  window_->setRootViewController(nav_);
  nav_->setNavigationBarHidden(true);
  // Plug-ins that open native screens push them on the application's navigation controller.
  std::weak_ptr<pf::NavigationController> nav = nav_;
  PylPlugin::setApplicationNavController([nav] { return nav.lock(); });
  window_->makeKeyAndVisible();
  window_->addSubview(launchImageView());
  widgets::PylProgressHUD::showHUDAddedTo(window_, true);
  return true;
}

std::optional<bool> AppDelegate::handleOpenURL(const std::string& url) {
  PF_ASSERT_MAIN_THREAD();
  return TnqShareManager::sharedInstance()->handleOpenURL(url);
}

std::optional<bool> AppDelegate::openURL(const std::string& url, const std::string&, const pf::Value&) {
  PF_ASSERT_MAIN_THREAD();
  return TnqShareManager::sharedInstance()->handleOpenURL(url);
}

std::shared_ptr<pf::ImageView> AppDelegate::launchImageView() {
  if (!launchImageView_) {
    launchImageView_ = pf::ImageView::make(pf::Screen::main()->bounds());
    launchImageView_->setImage(pf::Image::named(kLaunchImageName));
  }
  return launchImageView_;
}

void AppDelegate::registFirstTimeHandshakeNotification() {
  if (handshakeToken_) return;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  handshakeToken_ = pf::NotificationCenter::defaultCenter().addObserver(
      kNotificationHandShakeResult, {}, [weak](const pf::Notification& n) {
        if (auto self = weak.lock()) onMain(self, &AppDelegate::handShakeResult, n);
      });
}

void AppDelegate::registCheckManifestNotification() {
  if (manifestToken_) return;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  manifestToken_ = pf::NotificationCenter::defaultCenter().addObserver(
      kDidCheckManifestWithResultNotification, {}, [weak](const pf::Notification& n) {
        if (auto self = weak.lock()) onMain(self, &AppDelegate::didCheckManifestResult, n);
      });
}

void AppDelegate::removeHandshakeNotification() {
  if (!handshakeToken_) return;
  pf::NotificationCenter::defaultCenter().removeObserver(handshakeToken_);
  handshakeToken_ = 0;
}

void AppDelegate::removeCheckManifestNotifcation() {
  if (!manifestToken_) return;
  pf::NotificationCenter::defaultCenter().removeObserver(manifestToken_);
  manifestToken_ = 0;
}

void AppDelegate::handShakeResult(const pf::Notification& notification) {
  const pf::Value* object = notification.object.value();
  if (!object || !object->is_object()) return;
  const auto result = pf::integerValue(object->contains("result") ? (*object)["result"] : pf::Value());
  if (result == 0) {
    removeHandshakeNotification();
  } else if (result == 1) {
    removeHandshakeNotification();
    removeCheckManifestNotifcation();
    if (!window_) return;
    widgets::PylProgressHUD::hideHUDForView(window_, true);
    widgets::PylProgressHUD::showHUDAddedTo(window_, kHandshakeFailureText, true);
  }
}

void AppDelegate::didCheckManifestResult(const pf::Notification&) {
  auto manager = PylUpdateManager::sharedInstance();
  manager->setDelegate(weak_from_this());
  manager->benginLoading();
  removeCheckManifestNotifcation();
}

void AppDelegate::benginDownloadHTML() {
  PF_ASSERT_MAIN_THREAD();
  if (!window_) return;  // not launched
  widgets::PylProgressHUD::hideHUDForView(window_, true);
  widgets::PylProgressHUD::showHUDAddedTo(window_, true);
}

void AppDelegate::downloadProgress(double) {
  if (window_) widgets::PylProgressHUD::hideHUDForView(window_, true);
}

void AppDelegate::updateCompelete() {
  PF_ASSERT_MAIN_THREAD();
  if (!window_) return;  // not launched
  removeLaunch();
  viewController_->benginWebview();
  widgets::PylProgressHUD::hideHUDForView(window_, true);
}

void AppDelegate::removeLaunch() {
  PF_ASSERT_MAIN_THREAD();
  auto forward = std::make_shared<LaunchAnimationDelegate>(weak_from_this());
  auto scale = launchMember("transform.scale", 1.0, 10.0);
  auto slide = launchMember("transform.translation.y", std::nullopt, 600.0);
  auto fade = launchMember("opacity", 1.0, 0.0);
  fade->delegate = forward;
  auto group = pf::AnimationGroup::make({scale, slide, fade});
  group->timingFunction = pf::TimingFunction::named("default");
  group->duration = 1.0;
  group->removedOnCompletion = false;
  group->fillMode = pf::FillMode::Forwards;
  group->delegate = forward;
  launchImageView()->layer().addAnimation(group, kLaunchAnimationKey);
}

void AppDelegate::animationDidStop(bool) { launchImageView()->removeFromSuperview(); }

int applicationMain() { return pf::Application::main(std::make_shared<AppDelegate>()); }

}  // namespace app
