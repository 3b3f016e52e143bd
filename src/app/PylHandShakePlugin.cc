#include "app/PylHandShakePlugin.h"

#include <mutex>

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "container/MwFramework.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/Url.h"

namespace app {

namespace {

pf::Mutex gHostMutex;
std::string gFrontHost PF_GUARDED_BY(gHostMutex);

}  // namespace

void HandShakePlugin::setFrontHost(std::string host) {
  pf::MutexLock lock(gHostMutex);
  gFrontHost = std::move(host);
}

std::string HandShakePlugin::environmentBaseUrl(std::int64_t envirType) {
  std::string host;
  {
    pf::MutexLock lock(gHostMutex);
    host = gFrontHost;
  }
  if (host.empty()) {
    if (const auto url = pf::Url::parse(container::MwServerConfiguration::getInstance().getServerBaseUrl());
        url && !url->host().empty()) {
      host = url->scheme() + "://" + url->host();
      if (url->port()) host += ":" + std::to_string(*url->port());
    }
  }
  return host + (envirType == 1 ? "/front/" : "/mnfront/");
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
  pf::CookieStorage::shared().deleteAllCookies();
  container::MwServerConfiguration::getInstance().setServerBaseUrl(environmentBaseUrl(pf::integerValue(envirType)));
  container::MwSessionManager::getInstance().emptyServerRandom();
  container::MwFramework::getInstance().initialization();
}

void HandShakePlugin::handShakeResult(const pf::Notification& notification) {
  const pf::Value* object = notification.object.value();
  if (!object || !object->is_object()) return;
  const std::int64_t result = pf::integerValue(object->value("result", pf::Value()));
  if (result != 0 && result != 1) return;
  PylResult answer(pf::Value{{"success", result == 0 ? "success" : "failure"}});
  setContinueFlag(false);
  // The call is answered once: a later negotiation is not this call's.
  removeNotification();
  if (task()) task()->successWithResult(answer.getSuccessResult());
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
