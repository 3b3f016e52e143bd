#include "app/PylWebnetPlugin.h"

#include <algorithm>
#include <utility>

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "app/TnqStringExtension.h"
#include "appnet/TnqPushWebsocket.h"
#include "container/MwJSWebview.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

// A missing argument is registered as the empty text; anything else as the page sent it.
pf::Value registered(const pf::Value& data, const char* key) {
  const pf::Value& value = PylPluginArguments::argument(data, key);
  return value.is_null() ? pf::Value("") : value;
}

}  // namespace

bool PylWebnetPlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  const std::string& op = request.getParameterValue();
  const pf::Value& data = request.getData();
  task()->setTimeoutValue(0);
  auto hub = appnet::TnqPushWebsocket::sharedInstance();
  if (op == "setup") {
    hub->registerWebsocket(pf::Value{{"url", registered(data, "server")}, {"title", registered(data, "subjects")}});
    hub->connect();
    hub->setDelegate(std::dynamic_pointer_cast<PylWebnetPlugin>(shared_from_this()));
    task()->successWithResult(PylResult(pf::Value{{"success", "success"}}).getSuccessResult());
    return false;
  }
  if (op == "registerSelf") {
    setContinueFlag(true);
    servletId_ = hub->addListener(std::dynamic_pointer_cast<PylWebnetPlugin>(shared_from_this()));
    hub_ = hub;
    // The registration nests under "data" of the answer's data: the page reads answer.data.data.
    const pf::Value registration{{"moduleId", servletId_}, {"wdata", "registerSuccess"}};
    task()->successWithResult(PylResult(pf::Value{{"data", registration}}, true).getSuccessResult(), false);
    return false;
  }
  if (op == "unregisterSelf") {
    setContinueFlag(false);
    const std::string moduleId = PylPluginArguments::text(data, "moduleId");
    hub->removeListenerById(moduleId);
    task()->successWithResult(PylResult(pf::Value{{"moduleId", moduleId}}).getSuccessResult());
    return true;
  }
  return true;
}

void PylWebnetPlugin::receiveMessage(const std::string& text) {
  // Without a listener id (the "setup" instance while it is the hub's delegate) a text could not
  // be told apart by the page: it is not delivered.
  if (servletId_.empty()) return;
  auto page = jsWebView();
  if (!page) return;
  const auto json = TnqExtension::changeToString(pf::Value{{"moduleId", servletId_}, {"wdata", text}});
  if (!json) return;
  page->doJs("MOWebData(" + *json + ");");
}

void PylWebnetPlugin::sendCloseSign() {
  setContinueFlag(false);
  if (task()) task()->successWithResult(PylResult(pf::Value{{"wdata", "closeServlet"}}).getSuccessResult());
}

void PylWebnetPlugin::pageDidGo() {
  // Its close sign answers a task that reaches no page any more.
  const std::string id = std::exchange(servletId_, std::string());
  if (auto hub = hub_.lock(); hub && !id.empty()) hub->removeListenerById(id);
}

void PylWebnetPlugin::keepTask(const std::shared_ptr<container::MwTask>& task) {
  if (std::find(taskArray_.begin(), taskArray_.end(), task) == taskArray_.end()) taskArray_.push_back(task);
}

void PylWebnetPlugin::removeTaskById(const std::string& taskID) {
  const auto it = std::find_if(taskArray_.begin(), taskArray_.end(),
                               [&](const auto& task) { return task && task->taskID() == taskID; });
  if (it != taskArray_.end()) taskArray_.erase(it);
}

}  // namespace app
