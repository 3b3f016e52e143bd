#include "app/TnqApiManagers.h"

namespace app {

bool TnqStandardManager::managerIsCorrectWithCallBackData(TnqAPIBaseManager&, const std::optional<pf::Value>& data) {
  if (!data || !data->is_object()) return false;
  const pf::Value* success = pf::valueForKey(*data, "success");
  return success && pf::integerValue(*success) == 1;
}

std::optional<pf::Value> TnqLoginManager::paramsForApi(TnqAPIBaseManager&) {
  return pf::Value{{"queryParam.custId", custId.value_or("")}, {"queryParam.Digest", digest.value_or("")}};
}

std::optional<pf::Value> TnqTokenManager::paramsForApi(TnqAPIBaseManager&) {
  return pf::Value{{"custId", custId.value_or("")}, {"token", deviceToken.value_or("")}};
}

std::optional<pf::Value> TnqPushTypeManager::paramsForApi(TnqAPIBaseManager&) {
  return pf::Value{{"custId", custId.value_or("")}, {"state", state}};
}

}  // namespace app
