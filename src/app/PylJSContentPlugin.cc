#include "app/PylJSContentPlugin.h"

#include "container/MwJSWebview.h"

namespace app {

std::shared_ptr<pf::WebView> PylJSContentPlugin::context() {
  if (auto stored = context_.lock()) return stored;
  auto page = jsWebView();
  std::shared_ptr<pf::WebView> context = page ? page->webView() : nullptr;
  context_ = context;
  return context;
}

}  // namespace app
