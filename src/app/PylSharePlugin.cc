#include "app/PylSharePlugin.h"

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "app/TnqShareManager.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

bool SharePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() != "shareQxImage") {
    task()->successWithResult(pf::Value::object());
    return true;
  }
  const pf::Value& data = request.getData();
  pf::Value share{{"contentType", "1"}};
  if (const pf::Value& scene = PylPluginArguments::argument(data, "shareType"); !scene.is_null())
    share["sceneType"] = scene;
  if (const pf::Value& path = PylPluginArguments::argument(data, "filePath"); !path.is_null())
    share["filePath"] = path;
  // The call waits for the platform; a share refused on the way is answered at once, the same way.
  setContinueFlag(true);
  task()->setTimeoutValue(0);
  std::weak_ptr<container::MwServlet> weak = shared_from_this();
  TnqShareManager::sharedInstance()->share(TnqQxShareModel::initWihtDict(share),
                                           [weak](long code, const std::string& text) {
                                             auto self = weak.lock();
                                             if (!self) return;
                                             self->setContinueFlag(false);
                                             if (self->task())
                                               self->task()->successWithResult(
                                                   PylResult(pf::Value{{"resultCode", code}, {"content", text}})
                                                       .getSuccessResult());
                                           });
  return true;
}

}  // namespace app
