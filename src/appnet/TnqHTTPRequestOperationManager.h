#pragma once
// Settings shared by a family of HTTP request operations (base URL, serializers, security policy,
// credential, completion queue and group), an operation queue, and one operation per verb.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "appnet/TnqHTTPRequestOperation.h"
#include "appnet/TnqNetworkReachabilityManager.h"
#include "appnet/TnqMultipartFormData.h"
#include "appnet/TnqURLRequestSerialization.h"

namespace appnet {

// The base URL with "/" added when it has a path not ending in "/".
std::optional<pf::Url> TnqNormalizedBaseURL(const std::optional<pf::Url>& url);

class TnqHTTPRequestOperationManager : public std::enable_shared_from_this<TnqHTTPRequestOperationManager> {
 public:
  using Success = TnqHTTPRequestOperation::Success;
  using Failure = std::function<void(const std::shared_ptr<TnqHTTPRequestOperation>& operationOrNull, const pf::Error&)>;
  using HeadSuccess = std::function<void(const std::shared_ptr<TnqHTTPRequestOperation>&)>;

  static std::shared_ptr<TnqHTTPRequestOperationManager> manager() { return initWithBaseURL(std::nullopt); }
  static std::shared_ptr<TnqHTTPRequestOperationManager> initWithBaseURL(const std::optional<pf::Url>& baseURL);
  TnqHTTPRequestOperationManager();

  std::optional<pf::Url> baseURL;
  std::shared_ptr<TnqHTTPRequestSerializer> requestSerializer;
  std::shared_ptr<TnqHTTPResponseSerializer> responseSerializer;
  std::shared_ptr<pf::OperationQueue> operationQueue;
  bool shouldUseCredentialStorage = true;
  std::optional<pf::UrlCredential> credential;
  std::shared_ptr<TnqSecurityPolicy> securityPolicy;
  // The shared monitor, only held (nothing starts it).
  std::shared_ptr<TnqNetworkReachabilityManager> reachabilityManager;
  std::shared_ptr<pf::DispatchQueue> completionQueue;
  std::shared_ptr<pf::DispatchGroup> completionGroup;

  // A new operation for the request, not queued.
  std::shared_ptr<TnqHTTPRequestOperation> HTTPRequestOperationWithRequest(const pf::UrlRequest& request,
                                                                           Success success, Failure failure);
  // A new operation, or null when the request cannot be built (the failure block then hears of it
  // on the completion queue with no operation).
  std::shared_ptr<TnqHTTPRequestOperation> HTTPRequestOperationWithHTTPMethod(std::string_view method,
                                                                              std::string_view URLString,
                                                                              const std::optional<pf::Value>& parameters,
                                                                              Success success, Failure failure);

  // The verbs: make the operation, queue it and return it (null when it could not be made).
  std::shared_ptr<TnqHTTPRequestOperation> GET(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                               Success success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> HEAD(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                                HeadSuccess success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> POST(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                                Success success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> POST(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                                const std::function<void(TnqMultipartFormData&)>& block,
                                                Success success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> PUT(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                               Success success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> PATCH(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                                 Success success, Failure failure);
  std::shared_ptr<TnqHTTPRequestOperation> DELETE(std::string_view URLString, const std::optional<pf::Value>& parameters,
                                                  Success success, Failure failure);

  std::string description() const;

  static bool supportsSecureCoding() { return true; }
  pf::Value archive() const;
  static std::shared_ptr<TnqHTTPRequestOperationManager> unarchive(const pf::Value& archive);
  std::shared_ptr<TnqHTTPRequestOperationManager> copy() const;

 private:
  std::shared_ptr<TnqHTTPRequestOperation> enqueue(std::shared_ptr<TnqHTTPRequestOperation> operation);
  void reportBuildFailure(const Failure& failure, const std::optional<pf::Error>& error) const;
  std::string resolve(std::string_view URLString) const;
};

}  // namespace appnet
