#include "platform/ui/ViewController.h"

#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace pf {

ViewController::ViewController() = default;

ViewController::~ViewController() {
  if (view_) view_->setViewController(nullptr);
}

std::shared_ptr<View> ViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) setView(View::make(Screen::main()->bounds()));
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
  if (view_) view_->setViewController(nullptr);
  view_ = std::move(view);
  if (view_) view_->setViewController(this);
}

void ViewController::loadView() {
  PF_ASSERT_MAIN_THREAD();
  auto v = View::make(Screen::main()->bounds());
  v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
  setView(v);
}

InterfaceOrientation ViewController::interfaceOrientation() const {
  return Application::shared().statusBarOrientation();
}

std::shared_ptr<NavigationController> ViewController::navigationController() const {
  for (auto p = parent_.lock(); p; p = p->parent_.lock())
    if (auto nav = std::dynamic_pointer_cast<NavigationController>(p)) return nav;
  return nullptr;
}

void ViewController::presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                                           std::function<void()> completion) {
  if (!controller || presented_) return;
  presented_ = controller;
  controller->presenting_ = weak_from_this();
  auto window = view()->window();
  if (!window) window = Application::shared().keyWindow();
  controller->viewWillAppear(animated);
  if (window) {
    // The presented view covers the window: editing under it ends, and the keyboard goes.
    window->endEditing(true);
    auto v = controller->view();
    v->setFrame(window->bounds());
    window->addSubview(v);
  }
  controller->viewDidAppear(animated);
  if (completion) completion();
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
  // Sent to the presented controller, it dismisses itself through its presenter.
  if (!presented_) {
    if (auto p = presenting_.lock()) return p->dismissViewController(animated, std::move(completion));
    return;
  }
  auto c = presented_;
  c->viewWillDisappear(animated);
  if (c->isViewLoaded()) c->view()->removeFromSuperview();
  c->viewDidDisappear(animated);
  c->presenting_.reset();
  presented_.reset();
  if (completion) completion();
}

std::shared_ptr<NavigationController> NavigationController::make(std::shared_ptr<ViewController> root) {
  auto nav = std::make_shared<NavigationController>();
  if (root) {
    root->setParent(nav);
    nav->stack_.push_back(std::move(root));
  }
  return nav;
}

void NavigationController::viewDidLoad() {
  if (auto top = topViewController()) show(top, nullptr, false);
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
  auto top = topViewController();
  if (top && top->presentedViewController()) return top->presentedViewController();
  return top;
}

void NavigationController::show(const std::shared_ptr<ViewController>& incoming,
                                const std::shared_ptr<ViewController>& outgoing, bool animated) {
  lastAnimated_ = animated;
  if (!isViewLoaded()) return;
  auto container = view();
  if (outgoing) {
    outgoing->viewWillDisappear(animated);
    if (outgoing->isViewLoaded()) outgoing->view()->removeFromSuperview();
    outgoing->viewDidDisappear(animated);
  }
  if (incoming) {
    auto v = incoming->view();  // loaded before it appears
    incoming->viewWillAppear(animated);
    v->setFrame(container->bounds());
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    container->addSubview(v);
    incoming->viewDidAppear(animated);
  }
}

void NavigationController::pushViewController(std::shared_ptr<ViewController> controller, bool animated) {
  if (!controller) return;
  auto outgoing = topViewController();
  controller->setParent(std::static_pointer_cast<ViewController>(shared_from_this()));
  stack_.push_back(controller);
  show(controller, outgoing, animated);
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
  if (stack_.size() <= 1) return nullptr;
  auto outgoing = stack_.back();
  stack_.pop_back();
  show(stack_.back(), outgoing, animated);
  outgoing->setParent(nullptr);
  return outgoing;
}

void NavigationController::popToRootViewController(bool animated) {
  if (stack_.size() <= 1) return;
  auto outgoing = stack_.back();
  for (std::size_t i = 1; i < stack_.size(); ++i) stack_[i]->setParent(nullptr);
  stack_.resize(1);
  show(stack_.front(), outgoing, animated);
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                              bool animated) {
  auto outgoing = topViewController();
  for (auto& c : stack_) c->setParent(nullptr);
  stack_ = std::move(controllers);
  for (auto& c : stack_) c->setParent(std::static_pointer_cast<ViewController>(shared_from_this()));
  auto top = topViewController();
  if (top != outgoing) show(top, outgoing, animated);
}

}  // namespace pf
