#include "app/PylPlugin.h"

#include <mutex>

#include "container/MwJSWebview.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/ViewController.h"

namespace app {
namespace {

pf::Mutex providerMutex;
std::function<std::shared_ptr<pf::NavigationController>()>& provider() PF_REQUIRES(providerMutex) {
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
    pf::MutexLock lock(providerMutex);
    current = provider();
  }
  auto controller = current ? current() : nullptr;
  navController_ = controller;
  return controller;
}

void PylPlugin::setApplicationNavController(std::function<std::shared_ptr<pf::NavigationController>()> p) {
  pf::MutexLock lock(providerMutex);
  provider() = std::move(p);
}

}  // namespace app
