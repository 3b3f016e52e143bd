#include "app/TnqAPIBaseManager.h"

#include <algorithm>

#include "app/TnqApiProxy.h"

namespace app {

namespace {

template <class A, class B>
bool sameObject(const std::shared_ptr<A>& a, const std::weak_ptr<B>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

TnqAPIBaseManager::~TnqAPIBaseManager() {
  if (!requestIdList.empty()) TnqApiProxy::sharedInstance()->cancelRequestWithRequestIDList(requestIdList);
}

std::int64_t TnqAPIBaseManager::loadData() {
  auto source = paramDataSource.lock();
  return loadDataWithParams(source ? source->paramsForApi(*this) : std::nullopt);
}

std::int64_t TnqAPIBaseManager::loadDataWithParams(const std::optional<pf::Value>& params) {
  const auto reformed = reformParams(params);
  if (!shouldCallAPIWithParams(reformed)) return 0;
  auto judge = validator.lock();
  if (!judge || !judge->managerIsCorrectWithParamsData(*this, reformed)) {
    failureOnCallingAPI(nullptr, WrongParameters);
    return 0;
  }
  auto concrete = child.lock();
  if (!concrete) return 0;
  switch (concrete->requestType()) {
    case TnqAPIManager::Get: return TnqCallAPiWithGetMethod(reformed);
    case TnqAPIManager::Post: return TnqCallApiWithPostMethod(reformed);
    default: return 0;
  }
}

std::optional<pf::Value> TnqAPIBaseManager::reformParams(const std::optional<pf::Value>& params) {
  auto concrete = child.lock();
  if (!concrete) return params;
  auto reformed = concrete->refromParams(params);
  return reformed ? reformed : params;
}

std::int64_t TnqAPIBaseManager::TnqCallAPiWithGetMethod(const std::optional<pf::Value>& params) {
  return call(false, params);
}

std::int64_t TnqAPIBaseManager::TnqCallApiWithPostMethod(const std::optional<pf::Value>& params) {
  return call(true, params);
}

std::int64_t TnqAPIBaseManager::call(bool post, const std::optional<pf::Value>& params) {
  auto concrete = child.lock();
  const std::string service = concrete ? concrete->serviceType() : std::string();
  const std::string method = concrete ? concrete->methodName() : std::string();
  auto self = shared_from_this();
  auto success = [self](const Response& response) { self->successedOnCallingAPI(response); };
  auto failure = [self](const Response& response) { self->failureOnCallingAPI(response, CallFailed); };
  auto proxy = TnqApiProxy::sharedInstance();
  const std::int64_t requestId = post ? proxy->callPostWithParams(params, service, method, success, failure)
                                      : proxy->callGetWithParams(params, service, method, success, failure);
  addRequestId(requestId);
  return requestId;
}

void TnqAPIBaseManager::apiCallBack(const Response& response) {
  if (response && response->status != TnqURLResponse::Success) failureOnCallingAPI(response, CallFailed);
  else if (response) successedOnCallingAPI(response);
}

void TnqAPIBaseManager::successedOnCallingAPI(const Response& response) {
  if (response && response->content) fetchedRawData = response->content;
  else if (response && response->responseData) fetchedRawData = pf::makeData(*response->responseData);
  else fetchedRawData.reset();
  // No response: id 0, which matches nothing.
  removeRequestIdWithRequestId(response ? response->requestId : 0);
  auto judge = validator.lock();
  if (judge && judge->managerIsCorrectWithCallBackData(*this, fetchedRawData)) {
    beforePerformSuccessWithResponse(response);
    if (auto listener = delegate.lock()) listener->managerCallAPIDidSuccess(*this);
    afterPerformSuccessWithResponse(response);
  } else {
    failureOnCallingAPI(response, WrongAnswer);
  }
}

void TnqAPIBaseManager::failureOnCallingAPI(const Response& responseOrNull, std::uint64_t type) {
  errorType = type;
  removeRequestIdWithRequestId(responseOrNull ? responseOrNull->requestId : 0);
  beforePerformFailWithResponse(responseOrNull);
  if (auto listener = delegate.lock()) listener->managerCallAPIDidFailed(*this);
  afterPerformFailWithResponse(responseOrNull);
}

std::shared_ptr<TnqAPIManagerInterceptor> TnqAPIBaseManager::outsideInterceptor() const {
  auto hooks = interceptor.lock();
  if (!hooks || sameObject(hooks, weak_from_this())) return nullptr;
  return hooks;
}

void TnqAPIBaseManager::beforePerformSuccessWithResponse(const Response& response) {
  errorType = Success;
  if (auto hooks = outsideInterceptor()) hooks->managerBeforePerformSuccessWithResponse(*this, response);
}

void TnqAPIBaseManager::afterPerformSuccessWithResponse(const Response& response) {
  if (auto hooks = outsideInterceptor()) hooks->managerAfterPerformSuccessWithResponse(*this, response);
}

void TnqAPIBaseManager::beforePerformFailWithResponse(const Response& response) {
  if (auto hooks = outsideInterceptor()) hooks->managerBeforePerformFailWithResponse(*this, response);
}

void TnqAPIBaseManager::afterPerformFailWithResponse(const Response& response) {
  if (auto hooks = outsideInterceptor()) hooks->managerAfterPerformFailWithResponse(*this, response);
}

bool TnqAPIBaseManager::shouldCallAPIWithParams(const std::optional<pf::Value>& params) {
  auto hooks = outsideInterceptor();
  if (!hooks) return true;
  return hooks->managerShouldCallAPIWithParams(*this, params).value_or(true);
}

void TnqAPIBaseManager::afterCallingAPIWithParams(const std::optional<pf::Value>& params) {
  if (auto hooks = outsideInterceptor()) hooks->managerAfterCallingAPIWithParams(*this, params);
}

void TnqAPIBaseManager::addRequestId(std::int64_t requestId) { requestIdList.push_back(requestId); }

void TnqAPIBaseManager::removeRequestIdWithRequestId(std::int64_t requestId) {
  std::erase(requestIdList, requestId);
}

void TnqAPIBaseManager::cancelRequestWithRequestId(std::int64_t requestId) {
  removeRequestIdWithRequestId(requestId);
  TnqApiProxy::sharedInstance()->cancelRequestWithRequestID(requestId);
}

void TnqAPIBaseManager::cancelAllRequests() {
  if (requestIdList.empty()) return;
  TnqApiProxy::sharedInstance()->cancelRequestWithRequestIDList(requestIdList);
  requestIdList.clear();
}

std::optional<pf::Value> TnqAPIBaseManager::fetchDataWithReformer(
    const std::shared_ptr<TnqAPIManagerCallbackDataReformer>& dataReformer) {
  if (dataReformer) return dataReformer->managerReformerData(*this, fetchedRawData);
  return fetchedRawData;
}

void TnqAPIBaseManager::cleanData() {
  auto concrete = child.lock();
  if (concrete && concrete->cleanData()) return;
  fetchedRawData.reset();
  errorMessage.reset();
  errorType = None;
}

}  // namespace app
