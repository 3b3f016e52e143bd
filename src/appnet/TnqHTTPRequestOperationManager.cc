#include "appnet/TnqHTTPRequestOperationManager.h"

#include "platform/foundation/Format.h"

namespace appnet {

std::optional<pf::Url> TnqNormalizedBaseURL(const std::optional<pf::Url>& url) {
  if (!url) return url;
  const std::string& path = url->percentEncodedPath();
  const std::string& text = url->absoluteString();
  if (!path.empty() && path != "/" && !text.empty() && text.back() != '/') {
    if (auto withSlash = pf::Url::parse(path + "/", *url)) return withSlash;
  }
  return url;
}

std::shared_ptr<TnqHTTPRequestOperationManager> TnqHTTPRequestOperationManager::initWithBaseURL(
    const std::optional<pf::Url>& baseURL) {
  auto manager = std::make_shared<TnqHTTPRequestOperationManager>();
  manager->baseURL = TnqNormalizedBaseURL(baseURL);
  return manager;
}

TnqHTTPRequestOperationManager::TnqHTTPRequestOperationManager()
    : requestSerializer(TnqHTTPRequestSerializer::serializer()),
      responseSerializer(TnqJSONResponseSerializer::serializer()),
      operationQueue(pf::OperationQueue::make()),
      securityPolicy(TnqSecurityPolicy::defaultPolicy()),
      reachabilityManager(TnqNetworkReachabilityManager::sharedManager()) {}

std::string TnqHTTPRequestOperationManager::resolve(std::string_view URLString) const {
  if (baseURL) {
    if (auto url = pf::Url::parse(URLString, *baseURL)) return url->absoluteString();
    return std::string(URLString);
  }
  return std::string(URLString);
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::HTTPRequestOperationWithRequest(
    const pf::UrlRequest& request, Success success, Failure failure) {
  auto operation = TnqHTTPRequestOperation::make(request);
  operation->setResponseSerializer(responseSerializer);
  operation->shouldUseCredentialStorage = shouldUseCredentialStorage;
  operation->credential = credential;
  operation->securityPolicy = securityPolicy;
  operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  operation->completionQueue = completionQueue;
  operation->completionGroup = completionGroup;
  return operation;
}

void TnqHTTPRequestOperationManager::reportBuildFailure(const Failure& failure,
                                                        const std::optional<pf::Error>& error) const {
  if (!failure) return;
  auto queue = completionQueue ? completionQueue : pf::DispatchQueue::main();
  pf::Error reported = error ? *error : pf::Error(kTnqURLRequestSerializationErrorDomain, -1000);
  queue->async([failure, reported] { failure(nullptr, reported); });
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    std::string_view method, std::string_view URLString, const std::optional<pf::Value>& parameters, Success success,
    Failure failure) {
  std::optional<pf::Error> error;
  auto request = requestSerializer->requestWithMethod(method, resolve(URLString), parameters, &error);
  if (!request || error) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  return HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::enqueue(
    std::shared_ptr<TnqHTTPRequestOperation> operation) {
  if (operation) operationQueue->addOperation(operation);
  return operation;
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::GET(std::string_view URLString,
                                                                             const std::optional<pf::Value>& parameters,
                                                                             Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("GET", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::HEAD(std::string_view URLString,
                                                                              const std::optional<pf::Value>& parameters,
                                                                              HeadSuccess success, Failure failure) {
  Success wrapped;
  if (success) wrapped = [success](const std::shared_ptr<TnqHTTPRequestOperation>& op, const TnqResponseObject&) { success(op); };
  return enqueue(HTTPRequestOperationWithHTTPMethod("HEAD", URLString, parameters, wrapped, std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::POST(std::string_view URLString,
                                                                              const std::optional<pf::Value>& parameters,
                                                                              Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("POST", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::POST(
    std::string_view URLString, const std::optional<pf::Value>& parameters,
    const std::function<void(TnqMultipartFormData&)>& block, Success success, Failure failure) {
  std::optional<pf::Error> error;
  auto request = requestSerializer->multipartFormRequestWithMethod("POST", resolve(URLString), parameters, block, &error);
  if (!request || error) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  return enqueue(HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::PUT(std::string_view URLString,
                                                                             const std::optional<pf::Value>& parameters,
                                                                             Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("PUT", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::PATCH(std::string_view URLString,
                                                                               const std::optional<pf::Value>& parameters,
                                                                               Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("PATCH", URLString, parameters, std::move(success), std::move(failure)));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperationManager::DELETE(std::string_view URLString,
                                                                                const std::optional<pf::Value>& parameters,
                                                                                Success success, Failure failure) {
  return enqueue(HTTPRequestOperationWithHTTPMethod("DELETE", URLString, parameters, std::move(success), std::move(failure)));
}

std::string TnqHTTPRequestOperationManager::description() const {
  return pf::format("<%@: %@, baseURL: %@, operationQueue: %@>", std::string("TnqHTTPRequestOperationManager"),
                    TnqAddressText(this), baseURL ? baseURL->absoluteString() : std::string("(null)"),
                    TnqAddressText(operationQueue.get()));
}

pf::Value TnqHTTPRequestOperationManager::archive() const {
  pf::Value coder{{kTnqArchiveClassKey, "TnqHTTPRequestOperationManager"}};
  if (baseURL) coder["baseURL"] = baseURL->absoluteString();
  if (requestSerializer) coder["requestSerializer"] = requestSerializer->archive();
  if (responseSerializer) coder["responseSerializer"] = responseSerializer->archive();
  return coder;
}

std::shared_ptr<TnqHTTPRequestOperationManager> TnqHTTPRequestOperationManager::unarchive(const pf::Value& archive) {
  if (!archive.is_object()) return nullptr;
  std::optional<pf::Url> base;
  if (const pf::Value* b = pf::valueForKey(archive, "baseURL"); b && b->is_string()) base = pf::Url::parse(b->get<std::string>());
  auto manager = initWithBaseURL(base);
  if (const pf::Value* r = pf::valueForKey(archive, "requestSerializer"))
    manager->requestSerializer = TnqHTTPRequestSerializer::unarchive(*r);
  if (const pf::Value* r = pf::valueForKey(archive, "responseSerializer"))
    manager->responseSerializer = TnqHTTPResponseSerializer::unarchive(*r);
  if (!manager->requestSerializer) manager->requestSerializer = TnqHTTPRequestSerializer::serializer();
  if (!manager->responseSerializer) manager->responseSerializer = TnqJSONResponseSerializer::serializer();
  return manager;
}

std::shared_ptr<TnqHTTPRequestOperationManager> TnqHTTPRequestOperationManager::copy() const {
  auto manager = initWithBaseURL(baseURL);
  if (requestSerializer) manager->requestSerializer = requestSerializer->copy();
  if (responseSerializer) manager->responseSerializer = responseSerializer->copy();
  return manager;
}

}  // namespace appnet
