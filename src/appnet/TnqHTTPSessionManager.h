#pragma once
// The verb-level front of the session manager: URL strings resolved against a base URL, requests
// built by the request serializer, data tasks (or streamed upload tasks for multipart bodies)
// started at once, results reported to success or failure blocks on the completion queue.

#include "appnet/TnqMultipartFormData.h"
#include "appnet/TnqURLRequestSerialization.h"
#include "appnet/TnqURLSessionManager.h"

namespace appnet {

class TnqHTTPSessionManager : public TnqURLSessionManager {
 public:
  using Success = std::function<void(const TnqSessionTask&, const TnqResponseObject&)>;
  using HeadSuccess = std::function<void(const TnqSessionTask&)>;
  using Failure = std::function<void(const TnqSessionTask& taskOrNull, const pf::Error&)>;

  static std::shared_ptr<TnqHTTPSessionManager> manager() { return initWithBaseURL(std::nullopt); }
  static std::shared_ptr<TnqHTTPSessionManager> initWithBaseURL(const std::optional<pf::Url>& baseURL,
                                                                std::optional<pf::UrlSessionConfiguration> configuration = std::nullopt);

  std::optional<pf::Url> baseURL;
  std::shared_ptr<TnqHTTPRequestSerializer> requestSerializer = TnqHTTPRequestSerializer::serializer();

  TnqSessionTask GET(std::string_view URLString, const std::optional<pf::Value>& parameters, Success success, Failure failure);
  TnqSessionTask HEAD(std::string_view URLString, const std::optional<pf::Value>& parameters, HeadSuccess success,
                      Failure failure);
  TnqSessionTask POST(std::string_view URLString, const std::optional<pf::Value>& parameters, Success success, Failure failure);
  TnqSessionTask POST(std::string_view URLString, const std::optional<pf::Value>& parameters,
                      const std::function<void(TnqMultipartFormData&)>& block, Success success, Failure failure);
  TnqSessionTask PUT(std::string_view URLString, const std::optional<pf::Value>& parameters, Success success, Failure failure);
  TnqSessionTask PATCH(std::string_view URLString, const std::optional<pf::Value>& parameters, Success success,
                       Failure failure);
  TnqSessionTask DELETE(std::string_view URLString, const std::optional<pf::Value>& parameters, Success success,
                        Failure failure);
  // The task, not started, or null when the request cannot be built.
  TnqSessionTask dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                        const std::optional<pf::Value>& parameters, Success success, Failure failure);

  std::string description() const override;
  pf::Value archive() const override;
  static std::shared_ptr<TnqHTTPSessionManager> unarchive(const pf::Value& archive);
  std::shared_ptr<TnqHTTPSessionManager> copy() const;

 private:
  TnqSessionCompletionHandler handlerFor(std::shared_ptr<TnqSessionTask> slot, Success success, Failure failure);
  void reportBuildFailure(const Failure& failure, const std::optional<pf::Error>& error) const;
  TnqSessionTask started(TnqSessionTask task);
};

}  // namespace appnet
