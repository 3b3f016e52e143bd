#include "app/TnqApiProxy.h"

#include <limits>

#include "app/TnqApiRequestBuilder.h"
#include "appnet/TnqHTTPSupport.h"
#include "platform/foundation/SharedInstance.h"

namespace app {

namespace {

pf::SharedInstance<TnqApiProxy> gProxy;

bool isSuccessStatus(const std::optional<pf::UrlResponse>& response) {
  return response && response->statusCode() >= 200 && response->statusCode() <= 299;
}

// The answer's text, read from its bytes as the operation reads it (the answer's character set,
// UTF-8 when it names none), made here for the record alone: asking the operation would leave a
// second copy in the operation's cache for as long as the operation lives.
std::optional<std::string> answerText(appnet::TnqHTTPRequestOperation& operation,
                                      const std::shared_ptr<const pf::Bytes>& data) {
  if (!data || !operation.response()) return std::nullopt;
  return appnet::TnqDecodeText(*data, operation.responseStringEncoding());
}

}  // namespace

std::shared_ptr<TnqApiProxy> TnqApiProxy::sharedInstance() {
  return gProxy.get([] { return std::make_shared<TnqApiProxy>(); });
}

void TnqApiProxy::resetSharedInstance() { gProxy.reset(); }

std::shared_ptr<appnet::TnqHTTPRequestOperationManager> TnqApiProxy::tnqNetManager() {
  pf::MutexLock lock(mutex_);
  if (!tnqNetManager_) {
    // Answers stay raw bytes; the security policy stays the default one (chain and host name
    // verified): a private server is trusted by pinning its certificate in this policy.
    tnqNetManager_ = appnet::TnqHTTPRequestOperationManager::manager();
    tnqNetManager_->responseSerializer = appnet::TnqHTTPResponseSerializer::serializer();
  }
  return tnqNetManager_;
}

std::shared_ptr<container::MwRequestFactory> TnqApiProxy::networkFactory() {
  pf::MutexLock lock(mutex_);
  if (!networkFactory_) networkFactory_ = container::MwRequestFactory::create();
  return networkFactory_;
}

std::int64_t TnqApiProxy::generateRequestId() {
  pf::MutexLock lock(mutex_);
  if (!noteRequestId_ || *noteRequestId_ == std::numeric_limits<std::int64_t>::max()) noteRequestId_ = 1;
  else ++*noteRequestId_;
  return *noteRequestId_;
}

std::optional<std::int64_t> TnqApiProxy::noteRequestId() const {
  pf::MutexLock lock(mutex_);
  return noteRequestId_;
}

void TnqApiProxy::setNoteRequestId(std::optional<std::int64_t> requestId) {
  pf::MutexLock lock(mutex_);
  noteRequestId_ = requestId;
}

std::vector<std::int64_t> TnqApiProxy::runningRequestIds() const {
  pf::MutexLock lock(mutex_);
  std::vector<std::int64_t> ids;
  for (const auto& [id, operation] : dispatchTable_) ids.push_back(id);
  return ids;
}

std::optional<pf::UrlRequest> TnqApiProxy::build(bool post, const std::optional<pf::Value>& params,
                                                 const std::string& serviceIdentifier,
                                                 const std::string& methodName) const {
  auto builder = TnqRequestBuilder::sharedInstance();
  return post ? builder->buildPostRequestWithServiceIdentifier(serviceIdentifier, params, methodName)
              : builder->buildGetRequestWithServiceIdentifier(serviceIdentifier, params, methodName);
}

std::int64_t TnqApiProxy::callGetWithParams(const std::optional<pf::Value>& params,
                                            const std::string& serviceIdentifier, const std::string& methodName,
                                            Callback success, Callback failure) {
  // A request without URL sends nothing and fails with the bad-URL error on the completion queue.
  return callApiWithRequest(build(false, params, serviceIdentifier, methodName).value_or(pf::UrlRequest()),
                            std::move(success), std::move(failure));
}

std::int64_t TnqApiProxy::callPostWithParams(const std::optional<pf::Value>& params,
                                             const std::string& serviceIdentifier, const std::string& methodName,
                                             Callback success, Callback failure) {
  return callApiWithRequest(build(true, params, serviceIdentifier, methodName).value_or(pf::UrlRequest()),
                            std::move(success), std::move(failure));
}

std::shared_ptr<appnet::TnqHTTPRequestOperation> TnqApiProxy::makeOperation(const pf::UrlRequest& request,
                                                                            std::int64_t requestId,
                                                                            Callback success, Callback failure) {
  auto self = shared_from_this();
  auto operation = tnqNetManager()->HTTPRequestOperationWithRequest(
      request,
      [self, requestId, success = std::move(success)](const std::shared_ptr<appnet::TnqHTTPRequestOperation>& op,
                                                      const appnet::TnqResponseObject&) {
        self->handleSuccess(op, requestId, success);
      },
      [self, requestId, failure = std::move(failure)](const std::shared_ptr<appnet::TnqHTTPRequestOperation>& op,
                                                      const pf::Error& error) {
        self->handleFailure(op, requestId, error, failure);
      });
  return operation;
}

std::int64_t TnqApiProxy::callApiWithRequest(const pf::UrlRequest& request, Callback success, Callback failure) {
  const std::int64_t requestId = generateRequestId();
  auto operation = makeOperation(request, requestId, std::move(success), std::move(failure));
  {
    pf::MutexLock lock(mutex_);
    dispatchTable_[requestId] = operation;
  }
  tnqNetManager()->operationQueue->addOperation(operation);
  return requestId;
}

void TnqApiProxy::handleSuccess(const std::shared_ptr<appnet::TnqHTTPRequestOperation>& operation,
                                std::int64_t requestId, const Callback& success) {
  {
    pf::MutexLock lock(mutex_);
    // A cancelled request's answer is dropped.
    if (dispatchTable_.erase(requestId) == 0) return;
  }
  auto data = operation->responseData();
  auto text = answerText(*operation, data);
  if (!TnqNetworkInterceptor::loginTimtoutInterceptor(text)) return;
  auto response = TnqURLResponse::initWithResponse(std::move(text), requestId, operation->request(), std::move(data),
                                                   TnqURLResponse::Success);
  if (success) success(response);
}

void TnqApiProxy::handleFailure(const std::shared_ptr<appnet::TnqHTTPRequestOperation>& operation,
                                std::int64_t requestId, const pf::Error& error, const Callback& failure) {
  {
    pf::MutexLock lock(mutex_);
    dispatchTable_.erase(requestId);
  }
  std::optional<pf::UrlRequest> request;
  std::optional<std::string> text;
  std::shared_ptr<const pf::Bytes> data;
  if (operation) {
    request = operation->request();
    data = operation->responseData();
    text = answerText(*operation, data);
  }
  auto response = TnqURLResponse::initWithResponseString(std::move(text), requestId, request, std::move(data), error);
  if (failure) failure(response);
}

void TnqApiProxy::cancelRequestWithRequestID(std::int64_t requestId) {
  std::shared_ptr<appnet::TnqHTTPRequestOperation> operation;
  {
    pf::MutexLock lock(mutex_);
    auto found = dispatchTable_.find(requestId);
    if (found == dispatchTable_.end()) return;
    operation = std::move(found->second);
    dispatchTable_.erase(found);
  }
  operation->cancel();
}

void TnqApiProxy::cancelRequestWithRequestIDList(const std::vector<std::int64_t>& requestIds) {
  for (std::int64_t id : requestIds) cancelRequestWithRequestID(id);
}

std::optional<pf::Bytes> TnqApiProxy::syncCallGetWithParams(const std::optional<pf::Value>& params,
                                                            const std::string& serviceIdentifier,
                                                            const std::string& methodName) {
  auto request = build(false, params, serviceIdentifier, methodName);
  return request ? callAPISyncWithRequest(*request) : std::nullopt;
}

std::optional<pf::Bytes> TnqApiProxy::syncCallPostWithParams(const std::optional<pf::Value>& params,
                                                             const std::string& serviceIdentifier,
                                                             const std::string& methodName) {
  auto request = build(true, params, serviceIdentifier, methodName);
  return request ? callAPISyncWithRequest(*request) : std::nullopt;
}

std::optional<pf::Bytes> TnqApiProxy::callAPISyncWithRequest(const pf::UrlRequest& request) {
  auto operation = appnet::TnqHTTPRequestOperation::make(request);
  operation->securityPolicy = tnqNetManager()->securityPolicy;
  operation->start();
  operation->waitUntilFinished();
  if (operation->error() || !isSuccessStatus(operation->response())) return std::nullopt;
  auto data = operation->responseData();
  return data ? *data : pf::Bytes();
}

std::optional<std::string> TnqApiProxy::callApiWithRequestWithSuccessBlock(
    const std::shared_ptr<container::MwHttpRequest>& request, container::MwHttpRequest::ResponseBlock block) {
  if (!request) return std::nullopt;
  request->asynchronousRequest(std::move(block));
  return request->getRequestID();
}

}  // namespace app
