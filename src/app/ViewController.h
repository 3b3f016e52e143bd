#pragma once
// The root view controller: a red status bar strip, the page host filling its container below it,
// and every page plug-in registered before any page runs. Main thread only.

#include <memory>

#include "app/PylPluginHandle.h"
#include "app/PylWebviewDelegate.h"
#include "container/MwWebview.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"

namespace app {

class ViewController : public pf::ViewController {
 public:
  std::string className() const override { return "ViewController"; }

  // Made on first use.
  std::shared_ptr<pf::View> statusBarView();
  std::shared_ptr<pf::View> containerView();
  std::shared_ptr<container::MwWebview> webview();
  std::shared_ptr<PylWebviewDelegate> webviewDelegate();
  std::shared_ptr<PylPluginHandle> pluginHandle();
  std::shared_ptr<pf::Button> testBtn();
  std::shared_ptr<pf::View> loadingView();
  void testBtnAction() {}

  void viewDidLoad() override;
  void initSubstrate();
  // The status bar strip shows only while the status bar is exactly 20 points high.
  void viewWillLayoutSubviews() override;
  // Opens "index.html" of the page tree.
  void benginWebview();

  bool prefersStatusBarHidden() const override { return false; }
  int preferredStatusBarStyle() const override { return 1; }

  static constexpr double kStatusBarHeight = 20;

 private:
  std::shared_ptr<pf::View> statusBarView_;
  std::shared_ptr<pf::View> containerView_;
  std::shared_ptr<container::MwWebview> webview_;
  std::shared_ptr<PylWebviewDelegate> webviewDelegate_;
  std::shared_ptr<PylPluginHandle> pluginHandle_;
  std::shared_ptr<pf::Button> testBtn_;
  std::shared_ptr<pf::View> loadingView_;
};

}  // namespace app
