#include "app/PylHandShakePlugin.h"

#include <optional>

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "container/MwConfiguration.h"
#include "container/MwFramework.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/Url.h"

namespace app {

std::string HandShakePlugin::environmentBaseUrl(std::int64_t envirType) {
  const char* path = envirType == 1 ? "/front/" : "/mnfront/";
  // The path replaces whatever the URL had, by URL resolution: scheme, user, host and port stay
  // as written.
  auto on = [path](const std::string& text) -> std::optional<std::string> {
    const auto base = pf::Url::parse(text);
    if (!base || !base->isHttp()) return std::nullopt;
    const auto url = pf::Url::parse(path, *base);
    if (!url) return std::nullopt;
    return url->absoluteString();
  };
  if (const auto front = container::MwConfiguration::getInstance().frontUrl())
    if (auto url = on(*front)) return *url;
  return on(container::MwServerConfiguration::getInstance().getServerBaseUrl()).value_or(std::string());
}

HandShakePlugin::~HandShakePlugin() { removeNotification(); }

bool HandShakePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  registNotification();
  if (request.getParameterValue() == "changeHandShake") {
    task()->setTimeoutValue(0.0);
    setContinueFlag(true);
    benginHandShake(PylPluginArguments::argument(request.getData(), "envirType"));
  } else {
    task()->successWithResult(pf::Value::object(), true);
  }
  return true;
}

void HandShakePlugin::benginHandShake(const pf::Value& envirType) {
  const std::string base = environmentBaseUrl(pf::integerValue(envirType));
  if (base.empty()) {
    // No front-end host is known: switching would leave the client on no server at all.
    pf::logLine("handshakemanager: no front-end host to switch to");
    answer(false);
    return;
  }
  pf::CookieStorage::shared().deleteAllCookies();
  container::MwServerConfiguration::getInstance().setServerBaseUrl(base);
  container::MwSessionManager::getInstance().emptyServerRandom();
  container::MwFramework::getInstance().initialization();
}

void HandShakePlugin::handShakeResult(const pf::Notification& notification) {
  const pf::Value* object = notification.object.value();
  if (!object || !object->is_object()) return;
  const std::int64_t result = pf::integerValue(object->value("result", pf::Value()));
  if (result != 0 && result != 1) return;
  answer(result == 0);
}

void HandShakePlugin::answer(bool success) {
  PylResult result(pf::Value{{"success", success ? "success" : "failure"}});
  setContinueFlag(false);
  // The call is answered once: a later negotiation is not this call's.
  removeNotification();
  if (task()) task()->successWithResult(result.getSuccessResult());
}

void HandShakePlugin::registNotification() {
  if (observer_) return;
  std::weak_ptr<container::MwServlet> weak = shared_from_this();
  observer_ = pf::NotificationCenter::defaultCenter().addObserver(
      kResultNotification, {}, [weak](const pf::Notification& notification) {
        // The framework's listener may post from the start-up thread: the page is answered on the
        // main thread.
        auto deliver = [weak, notification] {
          if (auto self = std::static_pointer_cast<HandShakePlugin>(weak.lock())) self->handShakeResult(notification);
        };
        if (pf::Thread::isMainThread())
          deliver();
        else
          pf::DispatchQueue::main()->async(deliver);
      });
}

void HandShakePlugin::removeNotification() {
  if (!observer_) return;
  pf::NotificationCenter::defaultCenter().removeObserver(observer_);
  observer_ = 0;
}

}  // namespace app
