#include "app/PylPlugin.h"

#include <mutex>

#include "container/MwJSWebview.h"
#include "platform/ui/ViewController.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {
namespace {

std::mutex providerMutex;
std::function<std::shared_ptr<pf::NavigationController>()>& provider() {
  static std::function<std::shared_ptr<pf::NavigationController>()> p;
  return p;
}

}  // namespace

void PylPlugin::evalJS(const std::string& script) {
  PF_ASSERT_MAIN_THREAD();
  if (auto webView = jsWebView()) webView->stringByEvaluatingJavaScriptFromString(script);
}

std::shared_ptr<pf::NavigationController> PylPlugin::navController() {
  PF_ASSERT_MAIN_THREAD();
  if (auto stored = navController_.lock()) return stored;
  std::function<std::shared_ptr<pf::NavigationController>()> current;
  {
    std::lock_guard lock(providerMutex);
    current = provider();
  }
  auto controller = current ? current() : nullptr;
  navController_ = controller;
  return controller;
}

void PylPlugin::setApplicationNavController(std::function<std::shared_ptr<pf::NavigationController>()> p) {
  std::lock_guard lock(providerMutex);
  provider() = std::move(p);
}

}  // namespace app
