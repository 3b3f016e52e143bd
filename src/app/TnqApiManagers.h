#pragma once
// The application's API managers: sign-in, the device token and the push type. Each plays its own
// validator, reformer and parameter source; its delegate and interceptor are set by the caller.
// An answer is accepted when it is a dictionary whose "success" has the integer value 1.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/TnqAPIBaseManager.h"

namespace app {

// The roles every concrete manager plays for itself, with their plain answers: parameters are
// accepted and passed unchanged, answers shaped as they are, nothing cached or cleaned.
class TnqStandardManager : public TnqAPIBaseManager,
                           public TnqAPIManager,
                           public TnqAPIManagerCallbackDataReformer,
                           public TnqAPIManagerCallbackDelegate,
                           public TnqAPIManagerParamSource,
                           public TnqAPIManagerValidator {
 public:
  std::uint64_t requestType() const override { return Post; }
  bool cleanData() override { return true; }
  std::optional<pf::Value> refromParams(const std::optional<pf::Value>& params) override { return params; }
  std::optional<bool> shouldCache() override { return false; }
  std::optional<pf::Value> managerReformerData(TnqAPIBaseManager&, const std::optional<pf::Value>& data) override {
    return data;
  }
  void managerCallAPIDidSuccess(TnqAPIBaseManager&) override {}
  void managerCallAPIDidFailed(TnqAPIBaseManager&) override {}
  bool managerIsCorrectWithParamsData(TnqAPIBaseManager&, const std::optional<pf::Value>&) override { return true; }
  bool managerIsCorrectWithCallBackData(TnqAPIBaseManager&, const std::optional<pf::Value>& data) override;
};

class TnqLoginManager : public TnqStandardManager {
 public:
  static std::shared_ptr<TnqLoginManager> make() { return adopt(std::make_shared<TnqLoginManager>()); }
  std::optional<std::string> custId;
  std::optional<std::string> digest;

  std::string methodName() const override { return "/sign.action"; }
  std::string serviceType() const override { return "serviceTradePre"; }
  // {"queryParam.custId", "queryParam.Digest"}, "" for an absent value.
  std::optional<pf::Value> paramsForApi(TnqAPIBaseManager& manager) override;
};

class TnqTokenManager : public TnqStandardManager {
 public:
  static std::shared_ptr<TnqTokenManager> make() { return adopt(std::make_shared<TnqTokenManager>()); }
  std::optional<std::string> custId;
  std::optional<std::string> deviceToken;

  std::string methodName() const override { return "/refreshTheAppleUserToken.action"; }
  std::string serviceType() const override { return "serviceInfo"; }
  // {"custId", "token"}, "" for an absent value.
  std::optional<pf::Value> paramsForApi(TnqAPIBaseManager& manager) override;
};

class TnqPushTypeManager : public TnqStandardManager {
 public:
  static std::shared_ptr<TnqPushTypeManager> make() { return adopt(std::make_shared<TnqPushTypeManager>()); }
  std::optional<std::string> custId;
  std::int64_t state = 0;

  std::string methodName() const override { return "/refreshTheAppleUserState.action"; }
  std::string serviceType() const override { return "serviceInfo"; }
  // {"custId" ("" when absent), "state" as a number}.
  std::optional<pf::Value> paramsForApi(TnqAPIBaseManager& manager) override;
};

}  // namespace app
