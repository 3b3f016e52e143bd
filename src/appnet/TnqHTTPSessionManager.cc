#include "appnet/TnqHTTPSessionManager.h"

#include "appnet/TnqHTTPRequestOperationManager.h"
#include "platform/foundation/Format.h"

namespace appnet {

std::shared_ptr<TnqHTTPSessionManager> TnqHTTPSessionManager::initWithBaseURL(
    const std::optional<pf::Url>& baseURL, std::optional<pf::UrlSessionConfiguration> configuration) {
  auto manager = std::make_shared<TnqHTTPSessionManager>();
  manager->setUp(std::move(configuration));
  manager->baseURL = TnqNormalizedBaseURL(baseURL);
  manager->setResponseSerializer(TnqJSONResponseSerializer::serializer());
  return manager;
}

TnqSessionCompletionHandler TnqHTTPSessionManager::handlerFor(std::shared_ptr<TnqSessionTask> slot, Success success,
                                                              Failure failure) {
  return [slot, success, failure](const std::optional<pf::UrlResponse>&, const TnqResponseObject& object,
                                  const std::optional<pf::Error>& error) {
    if (error) {
      if (failure) failure(*slot, *error);
    } else if (success) {
      success(*slot, object);
    }
    slot->reset();  // the task and the handler no longer hold each other
  };
}

void TnqHTTPSessionManager::reportBuildFailure(const Failure& failure, const std::optional<pf::Error>& error) const {
  if (!failure) return;
  auto queue = completionQueue ? completionQueue : pf::DispatchQueue::main();
  pf::Error reported = error ? *error : pf::Error(kTnqURLRequestSerializationErrorDomain, -1000);
  queue->async([failure, reported] { failure(nullptr, reported); });
}

TnqSessionTask TnqHTTPSessionManager::dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                                             const std::optional<pf::Value>& parameters, Success success,
                                                             Failure failure) {
  std::string resolved(URLString);
  if (baseURL)
    if (auto url = pf::Url::parse(URLString, *baseURL)) resolved = url->absoluteString();
  std::optional<pf::Error> error;
  auto request = requestSerializer->requestWithMethod(method, resolved, parameters, &error);
  if (!request || error) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  auto slot = std::make_shared<TnqSessionTask>();
  auto task = dataTaskWithRequest(*request, handlerFor(slot, std::move(success), std::move(failure)));
  *slot = task;
  return task;
}

TnqSessionTask TnqHTTPSessionManager::started(TnqSessionTask task) {
  if (task) task->resume();
  return task;
}

TnqSessionTask TnqHTTPSessionManager::GET(std::string_view u, const std::optional<pf::Value>& p, Success s, Failure f) {
  return started(dataTaskWithHTTPMethod("GET", u, p, std::move(s), std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::HEAD(std::string_view u, const std::optional<pf::Value>& p, HeadSuccess s, Failure f) {
  Success wrapped;
  if (s) wrapped = [s](const TnqSessionTask& task, const TnqResponseObject&) { s(task); };
  return started(dataTaskWithHTTPMethod("HEAD", u, p, wrapped, std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::POST(std::string_view u, const std::optional<pf::Value>& p, Success s, Failure f) {
  return started(dataTaskWithHTTPMethod("POST", u, p, std::move(s), std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::PUT(std::string_view u, const std::optional<pf::Value>& p, Success s, Failure f) {
  return started(dataTaskWithHTTPMethod("PUT", u, p, std::move(s), std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::PATCH(std::string_view u, const std::optional<pf::Value>& p, Success s, Failure f) {
  return started(dataTaskWithHTTPMethod("PATCH", u, p, std::move(s), std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::DELETE(std::string_view u, const std::optional<pf::Value>& p, Success s, Failure f) {
  return started(dataTaskWithHTTPMethod("DELETE", u, p, std::move(s), std::move(f)));
}

TnqSessionTask TnqHTTPSessionManager::POST(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                           const std::function<void(TnqMultipartFormData&)>& block, Success success,
                                           Failure failure) {
  std::string resolved(URLString);
  if (baseURL)
    if (auto url = pf::Url::parse(URLString, *baseURL)) resolved = url->absoluteString();
  std::optional<pf::Error> error;
  auto request = requestSerializer->multipartFormRequestWithMethod("POST", resolved, parameters, block, &error);
  if (!request || error) {
    reportBuildFailure(failure, error);
    return nullptr;
  }
  auto slot = std::make_shared<TnqSessionTask>();
  auto task = uploadTaskWithStreamedRequest(*request, nullptr, handlerFor(slot, std::move(success), std::move(failure)));
  *slot = task;
  return started(task);
}

std::string TnqHTTPSessionManager::description() const {
  return pf::format("<%@: %@, baseURL: %@, session: %@, operationQueue: %@>", std::string("TnqHTTPSessionManager"),
                    TnqAddressText(this), baseURL ? baseURL->absoluteString() : std::string("(null)"),
                    TnqAddressText(session.get()), TnqAddressText(operationQueue.get()));
}

pf::Value TnqHTTPSessionManager::archive() const {
  pf::Value coder = TnqURLSessionManager::archive();
  coder[kTnqArchiveClassKey] = "TnqHTTPSessionManager";
  if (baseURL) coder["baseURL"] = baseURL->absoluteString();
  if (requestSerializer) coder["requestSerializer"] = requestSerializer->archive();
  if (auto r = responseSerializer()) coder["responseSerializer"] = r->archive();
  return coder;
}

std::shared_ptr<TnqHTTPSessionManager> TnqHTTPSessionManager::unarchive(const pf::Value& archive) {
  if (!archive.is_object()) return nullptr;
  std::optional<pf::Url> base;
  if (const pf::Value* b = pf::valueForKey(archive, "baseURL"); b && b->is_string()) base = pf::Url::parse(b->get<std::string>());
  auto manager = initWithBaseURL(base, TnqUnarchiveSessionConfiguration(pf::valueForKey(archive, "sessionConfiguration")));
  if (const pf::Value* r = pf::valueForKey(archive, "requestSerializer"))
    if (auto s = TnqHTTPRequestSerializer::unarchive(*r)) manager->requestSerializer = s;
  if (const pf::Value* r = pf::valueForKey(archive, "responseSerializer"))
    if (auto s = TnqHTTPResponseSerializer::unarchive(*r)) manager->setResponseSerializer(s);
  return manager;
}

std::shared_ptr<TnqHTTPSessionManager> TnqHTTPSessionManager::copy() const {
  auto manager = initWithBaseURL(baseURL, sessionConfiguration);
  if (requestSerializer) manager->requestSerializer = requestSerializer->copy();
  if (auto r = responseSerializer()) manager->setResponseSerializer(r->copy());
  return manager;
}

}  // namespace appnet
