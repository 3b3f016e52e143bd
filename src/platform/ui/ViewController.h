#pragma once
// View controllers: a root view made on first use (loadView, then viewDidLoad), appearance and
// layout calls, rotation questions, presentation; and the navigation controller, a stack of
// controllers whose top one's view fills its own. Transitions happen at once (the animated flag
// is recorded).

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace pf {

class NavigationController;

// Masks of supported orientations.
enum InterfaceOrientationMask : unsigned {
  kOrientationMaskPortrait = 1 << 1,
  kOrientationMaskPortraitUpsideDown = 1 << 2,
  kOrientationMaskLandscapeRight = 1 << 3,
  kOrientationMaskLandscapeLeft = 1 << 4,
  kOrientationMaskAll = (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4),
  kOrientationMaskAllButUpsideDown = (1 << 1) | (1 << 3) | (1 << 4),
};

class ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  ViewController();
  virtual ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  virtual std::string className() const { return "UIViewController"; }

  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(std::shared_ptr<View> view);

  std::string title;

  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}

  virtual bool prefersStatusBarHidden() const { return false; }
  virtual int preferredStatusBarStyle() const { return 0; }
  virtual unsigned supportedInterfaceOrientations() const { return kOrientationMaskAllButUpsideDown; }
  virtual bool shouldAutorotate() const { return true; }
  virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) const {
    return o == InterfaceOrientation::Portrait;
  }
  // The orientation of the interface (the status bar's).
  InterfaceOrientation interfaceOrientation() const;
  bool wantsFullScreenLayout = false;

  std::shared_ptr<NavigationController> navigationController() const;
  std::shared_ptr<ViewController> parentViewController() const { return parent_.lock(); }
  std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
  std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

  // The presented controller's view covers the key window until dismissed.
  void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion = {});
  void dismissViewController(bool animated, std::function<void()> completion = {});

  // Internal: containment.
  void setParent(const std::shared_ptr<ViewController>& parent) { parent_ = parent; }

 private:
  std::shared_ptr<View> view_;
  std::weak_ptr<ViewController> parent_;
  std::shared_ptr<ViewController> presented_;
  std::weak_ptr<ViewController> presenting_;
};

class NavigationController : public ViewController {
 public:
  static std::shared_ptr<NavigationController> make(std::shared_ptr<ViewController> root);
  std::string className() const override { return "UINavigationController"; }

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  std::shared_ptr<ViewController> topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  std::shared_ptr<ViewController> visibleViewController() const;

  void pushViewController(std::shared_ptr<ViewController> controller, bool animated);
  std::shared_ptr<ViewController> popViewController(bool animated);
  void popToRootViewController(bool animated);
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated);

  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false) { barHidden_ = hidden; }
  bool lastTransitionAnimated() const { return lastAnimated_; }

  void viewDidLoad() override;

 private:
  void show(const std::shared_ptr<ViewController>& incoming, const std::shared_ptr<ViewController>& outgoing,
            bool animated);
  std::vector<std::shared_ptr<ViewController>> stack_;
  bool barHidden_ = false;
  bool lastAnimated_ = false;
};

}  // namespace pf
