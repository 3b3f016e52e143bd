#include "app/PylNavigatePlugin.h"

#include "app/PylPluginArguments.h"
#include "container/MwTask.h"
#include "platform/ui/Application.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

bool NavigatePlugin::canOpen(const std::string& url) { return pf::Application::shared().canOpenURL(url); }

void NavigatePlugin::openURL(const std::string& url) { pf::Application::shared().openURL(url); }

bool NavigatePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() == "opener") {
    const pf::Value& data = request.getData();
    const std::string scheme = PylPluginArguments::text(data, "IOS_URLScheme");
    if (canOpen(scheme))
      openURL(scheme);
    else
      openURL(PylPluginArguments::text(data, "IOS_DownloadURL"));
  }
  task()->successWithResult(pf::Value::object());
  return true;
}

}  // namespace app
