#include "app/ViewController.h"

#include "app/TnqAutoLayout.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "widgets/TnqColor.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {
pf::Rect screenBounds() { return pf::Screen::main()->bounds(); }
}  // namespace

std::shared_ptr<pf::View> ViewController::statusBarView() {
  if (!statusBarView_) {
    statusBarView_ = pf::View::make();
    statusBarView_->setBackgroundColor(widgets::TnqColor::colorWithHexString("#db2e2e"));
    statusBarView_->setAutoresizingMask(pf::kAutoresizingFlexibleWidth);
  }
  return statusBarView_;
}

std::shared_ptr<pf::View> ViewController::containerView() {
  if (!containerView_) {
    containerView_ = pf::View::make();
    containerView_->setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
  }
  return containerView_;
}

std::shared_ptr<container::MwWebview> ViewController::webview() {
  if (!webview_) {
    auto bounds = screenBounds();
    webview_ = container::MwWebview::initWithFrame({0, 0, bounds.size.width, bounds.size.height});
    webview_->setBackgroundColor(pf::Color::whiteColor());
    auto d = webviewDelegate();
    webview_->setDelegate(d);
    webview_->setInitDelegate(d);
    webview_->setSetingDelegate(d);
    webview_->setEventListener(d);
  }
  return webview_;
}

std::shared_ptr<PylWebviewDelegate> ViewController::webviewDelegate() {
  if (!webviewDelegate_) webviewDelegate_ = std::make_shared<PylWebviewDelegate>();
  return webviewDelegate_;
}

std::shared_ptr<PylPluginHandle> ViewController::pluginHandle() {
  if (!pluginHandle_) pluginHandle_ = std::make_shared<PylPluginHandle>();
  return pluginHandle_;
}

std::shared_ptr<pf::Button> ViewController::testBtn() {
  if (!testBtn_) testBtn_ = pf::Button::make();
  return testBtn_;
}

std::shared_ptr<pf::View> ViewController::loadingView() {
  if (!loadingView_) loadingView_ = pf::View::make();
  return loadingView_;
}

void ViewController::viewDidLoad() {
  PF_ASSERT_MAIN_THREAD();
  pf::ViewController::viewDidLoad();
  initSubstrate();
  registerPluginClasses();
  pluginHandle_ = std::make_shared<PylPluginHandle>();
  pluginHandle_->registerPlugin();
}

void ViewController::initSubstrate() {
  auto bounds = screenBounds();
  auto root = view();
  statusBarView()->setFrame({0, 0, bounds.size.width, kStatusBarHeight});
  root->addSubview(statusBarView());
  containerView()->setFrame({0, kStatusBarHeight, bounds.size.width, bounds.size.height});
  root->addSubview(containerView());
  // The page host is laid into the view and pinned to its container's edges.
  root->addSubview(webview());
  webview()->setTranslatesAutoresizingMaskIntoConstraints(false);
  using namespace TnqAutoLayout;
  for (auto make : {&constraintsRightInContainer, &constraintsLeftInContainer, &constraintsBottomInContainer,
                    &constraintsTopInContainer})
    root->addConstraints(make(webview(), 0));
}

void ViewController::viewWillLayoutSubviews() {
  PF_ASSERT_MAIN_THREAD();
  pf::ViewController::viewWillLayoutSubviews();
  statusBarView()->setHidden(pf::Application::shared().statusBarFrame().size.height != kStatusBarHeight);
}

void ViewController::benginWebview() { webview()->openUrl("index.html"); }

}  // namespace app
