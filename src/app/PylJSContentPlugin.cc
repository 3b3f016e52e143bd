#include "app/PylJSContentPlugin.h"

#include "container/MwJSWebview.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

std::shared_ptr<pf::WebView> PylJSContentPlugin::context() {
  PF_ASSERT_MAIN_THREAD();
  if (auto stored = context_.lock()) return stored;
  auto page = jsWebView();
  std::shared_ptr<pf::WebView> context = page ? page->webView() : nullptr;
  context_ = context;
  return context;
}

}  // namespace app
