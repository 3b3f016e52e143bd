#pragma once
// One answer of the REST API layer, the request-parameter property of URL requests and the
// value helpers the layer uses (empty objects, defaults).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/net/UrlRequest.h"

namespace app {

// The parameters attached to a request: a copy kept in the request's properties.
namespace TnqNetworkMethods {
std::optional<pf::Value> requestParams(const pf::UrlRequest& request);
void setRequestParams(pf::UrlRequest& request, const std::optional<pf::Value>& params);
}  // namespace TnqNetworkMethods

// Kinds of values compare as the platform's classes: string, number, array, dictionary, null,
// data, date.
namespace TnqNetworkError {
// True for null, an empty string and an empty array.
bool isEmptyObject(const pf::Value& object);
// The object itself when the default is of the object's kind and the object is not empty;
// otherwise the default.
pf::Value defaultValue(const pf::Value& object, const pf::Value& defaultValue);
}  // namespace TnqNetworkError

class TnqURLResponse {
 public:
  enum Status : std::uint64_t { Success = 0, TimedOut = 1, Failed = 2 };

  // A success record (status 0 whatever `status` says).
  // The text is kept as given (moved in, when the caller moves it); the bytes are shared, not copied.
  static std::shared_ptr<TnqURLResponse> initWithResponse(std::optional<std::string> responseString,
                                                          std::int64_t requestId,
                                                          const std::optional<pf::UrlRequest>& request,
                                                          std::shared_ptr<const pf::Bytes> responseData,
                                                          std::uint64_t status);
  // A record with the status taken from the error.
  static std::shared_ptr<TnqURLResponse> initWithResponseString(std::optional<std::string> responseString,
                                                                std::int64_t requestId,
                                                                const std::optional<pf::UrlRequest>& request,
                                                                std::shared_ptr<const pf::Bytes> responseData,
                                                                const std::optional<pf::Error>& error);
  // A record of bare bytes: request id 0, no request, a copy of the bytes, read as UTF-8.
  static std::shared_ptr<TnqURLResponse> initWithData(const pf::Bytes& data);
  // 0 without error, 1 for a time-out (-1001), 2 for any other error.
  static std::uint64_t responseStatusWithError(const std::optional<pf::Error>& error);

  std::uint64_t status = Success;
  // The body as text ("" when there is none or it does not decode).
  std::string contentString;
  // The body read as JSON (a dictionary or array); absent for an empty or unreadable body.
  std::optional<pf::Value> content;
  std::int64_t requestId = 0;
  std::optional<pf::UrlRequest> request;
  // The raw body, shared with the operation that received it, not a copy; null when there is none.
  std::shared_ptr<const pf::Bytes> responseData;
  std::optional<pf::Value> requestParams;
  std::optional<pf::Error> error;

 private:
  void fill(std::optional<std::string> responseString, std::int64_t id, const std::optional<pf::UrlRequest>& sent,
            std::shared_ptr<const pf::Bytes> data);
};

}  // namespace app
