#pragma once
// Requests of the REST API layer: the URL of a service's method, the "?requestJson=" query of a
// GET and the "reqJson=" body of a POST, and the check of an answer before it reaches a caller.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/net/UrlRequest.h"

namespace app {

class TnqRequestBuilder {
 public:
  // Seconds without any byte moving after which a call fails.
  static constexpr double kTimeoutInterval = 20.0;

  static std::shared_ptr<TnqRequestBuilder> sharedInstance();

  // The requests for a method of a service; nullopt when the identifier names no service or the
  // URL or parameters cannot be written.
  std::optional<pf::UrlRequest> buildGetRequestWithServiceIdentifier(const std::string& serviceIdentifier,
                                                                     const std::optional<pf::Value>& requestParams,
                                                                     const std::string& methodName) const;
  std::optional<pf::UrlRequest> buildPostRequestWithServiceIdentifier(const std::string& serviceIdentifier,
                                                                      const std::optional<pf::Value>& requestParams,
                                                                      const std::string& methodName) const;
};

class TnqCommonParamsBuilder {
 public:
  static std::shared_ptr<TnqCommonParamsBuilder> sharedInstance();
  // The parameters every request carries: none.
  static pf::Value commonParasDictionary() { return pf::Value::object(); }
  // "reqJson=" and the parameters as indented JSON text (unescaped); nullopt when they cannot be
  // written as JSON.
  static std::optional<std::string> paramPostWithServerIdentify(const std::string& serviceIdentifier,
                                                                const pf::Value& param);
};

namespace TnqNetworkInterceptor {
// Whether an answer is passed on to its caller (false for an answer that stands for an expired
// login; the server gives no such form, so every answer passes).
bool loginTimtoutInterceptor(const std::optional<std::string>& responseString);
}  // namespace TnqNetworkInterceptor

}  // namespace app
