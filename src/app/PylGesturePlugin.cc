#include "app/PylGesturePlugin.h"

#include <filesystem>
#include <functional>
#include <mutex>

#include "app/PylPluginArguments.h"
#include "container/MwMenusManager.h"
#include "container/MwTask.h"
#include "container/MwWebview.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "platform/web/WebView.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

PylGestureManger* gManager = nullptr;

// Hears how the lock page's first load ends; later navigations of a shown lock page do not count.
class LockPageWatcher : public container::MwWebviewStatusDelegate {
 public:
  explicit LockPageWatcher(std::weak_ptr<container::MwWebview> view) : view_(std::move(view)) {}
  void didPageStatus(bool loaded) override {
    if (settled_) return;
    settled_ = true;
    if (!loaded) {
      if (auto view = view_.lock()) failed(view);
    }
  }
  std::function<void(const std::shared_ptr<container::MwWebview>&)> failed;

 private:
  std::weak_ptr<container::MwWebview> view_;
  bool settled_ = false;
};

}  // namespace

PylGestureManger& PylGestureManger::sharedInstance() {
  static std::once_flag once;
  std::call_once(once, [] { gManager = new PylGestureManger(); });
  return *gManager;
}

void PylGestureManger::resetForTesting() {
  auto& manager = sharedInstance();
  manager.removeNotification();
  if (manager.gestureWebview_) manager.gestureWebview_->removeFromSuperview();
  manager.gestureWebview_.reset();
  manager.loadWatcher_.reset();
  manager.needGesture_ = false;
  manager.gestureURL_.clear();
}

void PylGestureManger::setURL(const std::string& url) {
  gestureURL_ = url;
  removeNotification();
  registNotification();
}

std::string PylGestureManger::pageRoot() { return container::MwMenusManager::releasePath().string(); }

bool PylGestureManger::isLockPage(const std::string& url) {
  return !url.empty() && pf::WebView::isPageInTree(pageRoot(), (std::filesystem::path(pageRoot()) / url).string());
}

void PylGestureManger::registNotification() {
  if (observer_) return;
  observer_ = pf::NotificationCenter::defaultCenter().addObserver(
      pf::kApplicationWillEnterForegroundNotification, {},
      [this](const pf::Notification& notification) { applicationWillEnterForeground(notification); });
}

void PylGestureManger::removeNotification() {
  if (!observer_) return;
  pf::NotificationCenter::defaultCenter().removeObserver(observer_);
  observer_ = 0;
}

void PylGestureManger::applicationWillEnterForeground(const pf::Notification&) {
  if (needGesture_) openGestureView();
}

void PylGestureManger::openGestureView() {
  if (gestureWebview_) return;
  auto delegate = pf::Application::shared().delegate();
  const auto window = delegate ? delegate->window() : std::nullopt;
  if (!window || !*window) return;
  const pf::Rect bounds = pf::Screen::main()->bounds();
  const bool swapped = pf::Device::current()->systemVersionBelow("8.0");
  const pf::Rect frame(0, 0, swapped ? bounds.height() : bounds.width(), swapped ? bounds.width() : bounds.height());
  gestureWebview_ = container::MwWebview::initWithFrame(frame);
  gestureWebview_->setPageRoot(pageRoot());
  auto watcher = std::make_shared<LockPageWatcher>(gestureWebview_);
  watcher->failed = [this](const std::shared_ptr<container::MwWebview>& view) { lockPageFailed(view); };
  loadWatcher_ = watcher;
  gestureWebview_->setStatusDelegate(watcher);
  (*window)->addSubview(gestureWebview_);
  gestureWebview_->openUrl(gestureURL_);
}

void PylGestureManger::lockPageFailed(const std::shared_ptr<container::MwWebview>& view) {
  if (view != gestureWebview_) return;  // a lock already taken away
  pf::logLine("gesture: the lock page \"" + gestureURL_ + "\" did not load; the lock is taken away");
  removeGestureView();
}

void PylGestureManger::removeGestureView() {
  auto view = std::move(gestureWebview_);
  gestureWebview_.reset();
  loadWatcher_.reset();
  if (!view) return;
  view->removeFromSuperview();
  // The lock page may be the caller: its page lives until the call has returned.
  pf::DispatchQueue::main()->async([view] {});
}

bool GesturePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  const std::string& op = request.getParameterValue();
  if (op == "hideGesture") {
    hideGesture();
  } else if (op == "registerGesture") {
    const std::string url = PylPluginArguments::text(request.getData(), "gestureURL");
    // Without a page of the page tree the lock would cover the window with nothing to end it.
    if (!PylGestureManger::isLockPage(url)) {
      task()->error(pf::Value::object());
      return true;
    }
    registGesture(url);
  } else if (op == "unregisterGesture") {
    unregistGesture();
  }
  task()->successWithResult(pf::Value::object(), true);
  return true;
}

void GesturePlugin::registGesture(const std::string& url) {
  auto& manager = PylGestureManger::sharedInstance();
  manager.setNeedGesture(true);
  manager.setURL(url);
}

void GesturePlugin::unregistGesture() { PylGestureManger::sharedInstance().setNeedGesture(false); }

void GesturePlugin::hideGesture() { PylGestureManger::sharedInstance().removeGestureView(); }

}  // namespace app
