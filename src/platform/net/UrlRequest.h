#pragma once
// A URL request: what to load and how. A value type; copies are independent (the body stream,
// an object with identity, is shared).

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"
#include "platform/net/HttpBodyStream.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/Url.h"

namespace pf {

class UrlRequest {
 public:
  // The platform's default time-out: 60 s without any byte moving.
  static constexpr double kDefaultTimeoutInterval = 60.0;

  UrlRequest() = default;
  explicit UrlRequest(std::optional<Url> url, double timeoutInterval = kDefaultTimeoutInterval)
      : url_(std::move(url)), timeoutInterval_(timeoutInterval) {}

  const std::optional<Url>& url() const { return url_; }
  void setUrl(std::optional<Url> url) { url_ = std::move(url); }

  const std::string& httpMethod() const { return method_; }
  // An empty method leaves "GET".
  void setHttpMethod(std::string method) { method_ = method.empty() ? "GET" : std::move(method); }

  const HttpHeaders& allHttpHeaderFields() const { return headers_; }
  void setAllHttpHeaderFields(HttpHeaders headers) { headers_ = std::move(headers); }
  std::optional<std::string> valueForHttpHeaderField(std::string_view name) const { return headers_.value(name); }
  // Sets the field (nullopt removes it).
  void setValue(std::optional<std::string> value, std::string_view field);
  // Appends to the field with a comma, or adds it.
  void addValue(std::string_view value, std::string_view field) { headers_.add(field, value); }

  // The body: bytes or a stream, never both (setting one drops the other).
  const std::optional<Bytes>& httpBody() const { return body_; }
  void setHttpBody(std::optional<Bytes> body);
  const std::shared_ptr<HttpBodyStream>& httpBodyStream() const { return bodyStream_; }
  void setHttpBodyStream(std::shared_ptr<HttpBodyStream> stream);

  // Seconds without any byte moving after which the load fails with -1001 (not a total limit).
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

  // Whether cookies of the shared jar are sent and cookies of the answer are stored.
  bool httpShouldHandleCookies() const { return handleCookies_; }
  void setHttpShouldHandleCookies(bool on) { handleCookies_ = on; }

  // Values that callers attach to the request (a dictionary); never read by the loader.
  const Value& properties() const;
  Value& properties();

 private:
  std::optional<Url> url_;
  std::string method_ = "GET";
  HttpHeaders headers_;
  std::optional<Bytes> body_;
  std::shared_ptr<HttpBodyStream> bodyStream_;
  double timeoutInterval_ = kDefaultTimeoutInterval;
  bool handleCookies_ = true;
  Value properties_;  // null until first used
};

}  // namespace pf
