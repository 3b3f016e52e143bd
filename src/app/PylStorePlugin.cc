#include "app/PylStorePlugin.h"

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "container/MwTask.h"
#include "kvstore/KeyValueStoreLib.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

// A key that is no text reads as "" and is refused for writes (nil).
std::optional<std::string> keyOf(const pf::Value& data) {
  if (!PylPluginArguments::isText(data, "key")) return std::nullopt;
  return PylPluginArguments::text(data, "key");
}

pf::Value read(const std::shared_ptr<kvstore::KeyValueProtocol>& store, const pf::Value& data) {
  const auto key = keyOf(data);
  if (!store || !key) return "";
  auto value = store->getStringById(*key);
  return value && !value->is_null() ? *value : pf::Value("");
}

bool write(const std::shared_ptr<kvstore::KeyValueProtocol>& store, const pf::Value& data) {
  const auto key = keyOf(data);
  const pf::Value& value = PylPluginArguments::argument(data, "value");
  if (!store || !key || value.is_null()) return false;
  return store->putString(value, *key);
}

}  // namespace

bool StorePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  const std::string& op = request.getParameterValue();
  const pf::Value& data = request.getData();
  auto stores = kvstore::KeyValueStoreLib::sharedInstance();
  const bool memory = op == "memGet" || op == "memSet";
  const auto& store = memory ? stores->memStore() : stores->sqlStore();
  if (op == "memGet" || op == "get") {
    task()->successWithResult(PylResult(pf::Value{{"wdata", read(store, data)}}).getSuccessResult());
  } else if (op == "memSet" || op == "set") {
    if (write(store, data))
      task()->successWithResult(PylResult(pf::Value{{"wdata", "success"}}).getSuccessResult());
    else
      task()->error(pf::Value::object());
  } else {
    task()->successWithResult(pf::Value::object());
  }
  return true;
}

}  // namespace app
