#include "app/PylHttpEnginePlugin.h"

#include "app/TnqStringExtension.h"
#include "container/MwHttpRequestImp.h"
#include "container/MwRequestFactory.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

bool PylHttpEnginePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() != "startWebnet") return false;
  task()->successWithResult(pf::Value{{"key", "YES"}});
  return true;
}

void PylHttpEnginePlugin::sendMessage(const pf::Value& dictionary) {
  // The JSON text has U+2028 and U+2029 escaped: the page's script engine refuses them raw.
  if (const auto json = TnqExtension::changeToString(dictionary)) evalJS(*json);
}

void PylHttpEnginePlugin::httpTest() {
  auto request = container::MwRequestFactory::getInstance()->createRequest(kTestAddress, std::nullopt, {}, "POST", 15);
  if (request) request->asynchronousRequest([](auto&&...) {});
}

}  // namespace app
