// Page calls with arbitrary "data" through every plug-in operation that stays on this machine:
// never a crash; every call is answered, except those that wait by design (a subscription, an
// alert until its button, an unknown push or statistics operation).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/PylDialogPlugin.h"
#include "app/PylGesturePlugin.h"
#include "app/PylHttpEnginePlugin.h"
#include "app/PylNavigatePlugin.h"
#include "app/PylScreenPlugin.h"
#include "app/PylStatisticPlugin.h"
#include "app/PylStorePlugin.h"
#include "app/PylWebnetPlugin.h"
#include "appnet/TnqPushWebsocket.h"
#include "container/LoggerUtil.h"
#include "container/MwJSTaskListener.h"
#include "container/MwServletRequest.h"
#include "container/MwTask.h"
#include "kvstore/KeyValueStoreLib.h"
#include "kvstore/TnqMemoryStore.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"

namespace {

struct Recorder : container::MwJSTaskListener, container::MwJSTaskDelegate {
  int answers = 0;
  void onSuccessWithResult(const pf::Value&, int, const std::string&) override { ++answers; }
  void onErrorWithResult(const pf::Value&, int, const std::string&) override { ++answers; }
  void onCancelWithResult(const pf::Value&, int, const std::string&) override { ++answers; }
  void onTimeOutWithResult(const pf::Value&, int, const std::string&) override { ++answers; }
  void unregisterNativeToJSRequest(const std::string&) override {}
  void endNativeToJSRequest(const std::string&) override {}
};

struct Operation {
  const char* servlet;
  const char* action;
  std::shared_ptr<container::MwServlet> (*make)();
  bool mayWait;
};

template <class T>
std::shared_ptr<container::MwServlet> make() {
  return std::make_shared<T>();
}

// Operations that would reach the network or the messaging platform are left out.
const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = {
      {"webnet.do", "registerSelf", make<app::PylWebnetPlugin>, false},
      {"webnet.do", "unregisterSelf", make<app::PylWebnetPlugin>, false},
      {"webnet.do", "other", make<app::PylWebnetPlugin>, true},
      {"store.do", "memGet", make<app::StorePlugin>, false},
      {"store.do", "memSet", make<app::StorePlugin>, false},
      {"store.do", "get", make<app::StorePlugin>, false},
      {"store.do", "set", make<app::StorePlugin>, false},
      {"store.do", "other", make<app::StorePlugin>, false},
      {"nativedialog.do", "showAlert", make<app::PylDialogPlugin>, false},
      {"nativedialog.do", "other", make<app::PylDialogPlugin>, false},
      {"screenoperation.do", "screenShot", make<app::ScreenPlugin>, false},
      {"statistics.do", "getStatistic", make<app::StatisticPlugin>, false},
      {"statistics.do", "other", make<app::StatisticPlugin>, true},
      {"openapp.do", "opener", make<app::NavigatePlugin>, false},
      {"gesture.do", "registerGesture", make<app::GesturePlugin>, false},
      {"gesture.do", "unregisterGesture", make<app::GesturePlugin>, false},
      {"gesture.do", "hideGesture", make<app::GesturePlugin>, false},
      {"HttpEngine.do", "startWebnet", make<app::PylHttpEnginePlugin>, false},
      {"HttpEngine.do", "other", make<app::PylHttpEnginePlugin>, true},
  };
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  container::LoggerUtil::setDebugEnabled(false);
  pf::LogCapture quiet;
  if (size == 0) return 0;
  const Operation& op = operations()[data[0] % operations().size()];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  pf::Value arguments = pf::parseJson(text).value_or(pf::Value(text));

  auto stores = kvstore::KeyValueStoreLib::sharedInstance();
  stores->setMemStore(std::make_shared<kvstore::TnqMemoryStore>());
  stores->setSqlStore(std::make_shared<kvstore::TnqMemoryStore>());

  pf::Value message{{"url", std::string("client://") + op.servlet + "?action=" + op.action},
                    {"requestId", "fuzz1"},
                    {"data", arguments}};
  auto request = container::MwServletRequest::parse(message);
  if (!request) std::abort();
  auto recorder = std::make_shared<Recorder>();
  auto task = container::MwTask::make(container::kTaskTypePageCall, "fuzz1", recorder, recorder);
  auto servlet = op.make();
  servlet->handleRequestAndTask(*request, task);

  // An alert shown waits for its button: the first one answers it.
  for (auto& alert : pf::Application::shared().visibleAlerts()) alert->clickButtonAtIndex(0);
  if (recorder->answers == 0 && !op.mayWait) std::abort();

  if (auto* webnet = dynamic_cast<app::PylWebnetPlugin*>(servlet.get()); webnet && !webnet->servletId().empty())
    appnet::TnqPushWebsocket::sharedInstance()->removeListenerById(webnet->servletId());
  app::PylGestureManger::resetForTesting();
  return 0;
}
