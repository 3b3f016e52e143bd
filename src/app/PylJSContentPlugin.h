#pragma once
// A plug-in that works with its page's script context: here the page host (pf::WebView), through
// which every script of the page is evaluated. In no registry table.

#include <memory>

#include "app/PylPlugin.h"

namespace pf {
class WebView;
}

namespace app {

class PylJSContentPlugin : public PylPlugin {
 public:
  // Does nothing.
  void registerNativePlugin() {}
  // The stored context, or else the page's (stored weakly and returned); null without a page.
  std::shared_ptr<pf::WebView> context();
  void setContext(const std::shared_ptr<pf::WebView>& context) { context_ = context; }

 private:
  std::weak_ptr<pf::WebView> context_;
};

}  // namespace app
