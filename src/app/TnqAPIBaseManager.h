#pragma once
// One manager per server operation: it gathers its parameters from a parameter source, checks
// them, sends them through TnqApiProxy as a GET or POST of a named service, checks the answer and
// tells its delegate; an interceptor may veto a call and watch its outcome.
//
// Main-thread class: the proxy's callbacks arrive on the main queue. A concrete manager is made by
// its make() factory, which points child, validator, reformer and parameter source at the manager
// itself. Running calls hold the manager until their callback has run.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/TnqURLResponse.h"

namespace app {

class TnqAPIBaseManager;

// Optional members that give nothing back answer whether they respond (false: the object does not
// implement the member); optional members with an answer give nullopt when they do not respond.

class TnqAPIManager {
 public:
  enum RequestType : std::uint64_t { Get = 0, Post = 1 };
  virtual ~TnqAPIManager() = default;
  virtual std::string methodName() const = 0;
  virtual std::string serviceType() const = 0;
  virtual std::uint64_t requestType() const = 0;
  virtual bool cleanData() { return false; }
  virtual std::optional<pf::Value> refromParams(const std::optional<pf::Value>&) { return std::nullopt; }
  virtual std::optional<bool> shouldCache() { return std::nullopt; }
};

class TnqAPIManagerValidator {
 public:
  virtual ~TnqAPIManagerValidator() = default;
  virtual bool managerIsCorrectWithCallBackData(TnqAPIBaseManager& manager, const std::optional<pf::Value>& data) = 0;
  virtual bool managerIsCorrectWithParamsData(TnqAPIBaseManager& manager, const std::optional<pf::Value>& params) = 0;
};

class TnqAPIManagerParamSource {
 public:
  virtual ~TnqAPIManagerParamSource() = default;
  virtual std::optional<pf::Value> paramsForApi(TnqAPIBaseManager& manager) = 0;
};

class TnqAPIManagerCallbackDelegate {
 public:
  virtual ~TnqAPIManagerCallbackDelegate() = default;
  virtual void managerCallAPIDidSuccess(TnqAPIBaseManager& manager) = 0;
  virtual void managerCallAPIDidFailed(TnqAPIBaseManager& manager) = 0;
};

class TnqAPIManagerCallbackDataReformer {
 public:
  virtual ~TnqAPIManagerCallbackDataReformer() = default;
  virtual std::optional<pf::Value> managerReformerData(TnqAPIBaseManager& manager,
                                                       const std::optional<pf::Value>& data) = 0;
};

class TnqAPIManagerInterceptor {
 public:
  using Response = std::shared_ptr<TnqURLResponse>;
  virtual ~TnqAPIManagerInterceptor() = default;
  virtual std::optional<bool> managerShouldCallAPIWithParams(TnqAPIBaseManager&, const std::optional<pf::Value>&) {
    return std::nullopt;
  }
  virtual bool managerAfterCallingAPIWithParams(TnqAPIBaseManager&, const std::optional<pf::Value>&) { return false; }
  virtual bool managerBeforePerformSuccessWithResponse(TnqAPIBaseManager&, const Response&) { return false; }
  virtual bool managerAfterPerformSuccessWithResponse(TnqAPIBaseManager&, const Response&) { return false; }
  virtual bool managerBeforePerformFailWithResponse(TnqAPIBaseManager&, const Response&) { return false; }
  virtual bool managerAfterPerformFailWithResponse(TnqAPIBaseManager&, const Response&) { return false; }
};

class TnqAPIBaseManager : public std::enable_shared_from_this<TnqAPIBaseManager> {
 public:
  // Outcome of the last call.
  enum ErrorType : std::uint64_t { None = 0, Success = 1, WrongAnswer = 2, WrongParameters = 3, CallFailed = 4 };
  using Response = std::shared_ptr<TnqURLResponse>;

  TnqAPIBaseManager() = default;
  // Cancels the calls still running.
  virtual ~TnqAPIBaseManager();
  TnqAPIBaseManager(const TnqAPIBaseManager&) = delete;
  TnqAPIBaseManager& operator=(const TnqAPIBaseManager&) = delete;

  std::weak_ptr<TnqAPIManager> child;
  std::weak_ptr<TnqAPIManagerValidator> validator;
  std::weak_ptr<TnqAPIManagerParamSource> paramDataSource;
  std::weak_ptr<TnqAPIManagerCallbackDelegate> delegate;
  std::weak_ptr<TnqAPIManagerCallbackDataReformer> reformer;
  std::weak_ptr<TnqAPIManagerInterceptor> interceptor;
  std::optional<std::string> errorMessage;
  std::uint64_t errorType = None;
  std::vector<std::int64_t> requestIdList;
  // The last answer: its JSON content, or its bytes (as data) when it did not parse.
  std::optional<pf::Value> fetchedRawData;

  // Calls with the parameter source's parameters; the request id.
  std::int64_t loadData();
  // The request id, or 0 when no call was made.
  std::int64_t loadDataWithParams(const std::optional<pf::Value>& params);
  void cancelAllRequests();
  void cancelRequestWithRequestId(std::int64_t requestId);
  // The reformer's shape of the last answer, or the answer itself without a reformer.
  std::optional<pf::Value> fetchDataWithReformer(const std::shared_ptr<TnqAPIManagerCallbackDataReformer>& reformer);
  void cleanData();

  std::optional<pf::Value> reformParams(const std::optional<pf::Value>& params);
  void apiCallBack(const Response& response);
  // Either road takes a null response (as a call refused before it was sent has none).
  void successedOnCallingAPI(const Response& responseOrNull);
  void failureOnCallingAPI(const Response& responseOrNull, std::uint64_t errorType);

  void beforePerformSuccessWithResponse(const Response& response);
  void afterPerformSuccessWithResponse(const Response& response);
  void beforePerformFailWithResponse(const Response& response);
  void afterPerformFailWithResponse(const Response& response);
  bool shouldCallAPIWithParams(const std::optional<pf::Value>& params);
  void afterCallingAPIWithParams(const std::optional<pf::Value>& params);

  std::int64_t TnqCallAPiWithGetMethod(const std::optional<pf::Value>& params);
  std::int64_t TnqCallApiWithPostMethod(const std::optional<pf::Value>& params);

  void addRequestId(std::int64_t requestId);
  void removeRequestId(std::int64_t requestId) { removeRequestIdWithRequestId(requestId); }
  void removeRequestIdWithRequestId(std::int64_t requestId);

 protected:
  // Points the manager's roles at a concrete manager that plays them itself.
  template <class Manager>
  static std::shared_ptr<Manager> adopt(std::shared_ptr<Manager> manager) {
    manager->child = manager;
    manager->validator = manager;
    manager->reformer = manager;
    manager->paramDataSource = manager;
    return manager;
  }

 private:
  // The interceptor, unless absent or the manager itself.
  std::shared_ptr<TnqAPIManagerInterceptor> outsideInterceptor() const;
  std::int64_t call(bool post, const std::optional<pf::Value>& params);
};

}  // namespace app
