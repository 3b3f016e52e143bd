#include "app/TnqURLResponse.h"

#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "platform/net/UrlError.h"

namespace app {

namespace {

constexpr const char* kRequestParamsKey = "requestParams";

enum class Kind { Null, String, Number, Array, Dictionary, Data, Date };

Kind kindOf(const pf::Value& v) {
  if (v.is_string()) return Kind::String;
  if (v.is_number() || v.is_boolean()) return Kind::Number;
  if (v.is_array()) return Kind::Array;
  if (v.is_object()) return Kind::Dictionary;
  if (pf::isDate(v)) return Kind::Date;
  if (v.is_binary()) return Kind::Data;
  return Kind::Null;
}

std::optional<pf::Value> parseContent(const std::shared_ptr<const pf::Bytes>& data) {
  if (!data || data->empty()) return std::nullopt;
  return pf::parseJson(*data);
}

}  // namespace

std::optional<pf::Value> TnqNetworkMethods::requestParams(const pf::UrlRequest& request) {
  const pf::Value* params = pf::valueForKey(request.properties(), kRequestParamsKey);
  if (!params) return std::nullopt;
  return *params;
}

void TnqNetworkMethods::setRequestParams(pf::UrlRequest& request, const std::optional<pf::Value>& params) {
  pf::Value& properties = request.properties();
  if (params) {
    if (!properties.is_object()) properties = pf::Value::object();
    properties[kRequestParamsKey] = *params;
  } else if (properties.is_object()) {
    properties.erase(kRequestParamsKey);
  }
}

bool TnqNetworkError::isEmptyObject(const pf::Value& object) {
  switch (kindOf(object)) {
    case Kind::Null: return true;
    case Kind::String: return object.get_ref<const std::string&>().empty();
    case Kind::Array: return object.empty();
    default: return false;
  }
}

pf::Value TnqNetworkError::defaultValue(const pf::Value& object, const pf::Value& defaultValue) {
  if (kindOf(defaultValue) == kindOf(object) && !isEmptyObject(object)) return object;
  return defaultValue;
}

std::uint64_t TnqURLResponse::responseStatusWithError(const std::optional<pf::Error>& error) {
  if (!error) return Success;
  return error->code == pf::UrlErrorCode::kTimedOut ? TimedOut : Failed;
}

void TnqURLResponse::fill(std::optional<std::string> responseString, std::int64_t id,
                          const std::optional<pf::UrlRequest>& sent, std::shared_ptr<const pf::Bytes> data) {
  contentString = responseString ? std::move(*responseString) : std::string();
  requestId = id;
  request = sent;
  responseData = std::move(data);
  if (sent) requestParams = TnqNetworkMethods::requestParams(*sent);
  content = parseContent(responseData);
}

std::shared_ptr<TnqURLResponse> TnqURLResponse::initWithResponse(std::optional<std::string> responseString,
                                                                 std::int64_t requestId,
                                                                 const std::optional<pf::UrlRequest>& request,
                                                                 std::shared_ptr<const pf::Bytes> responseData,
                                                                 std::uint64_t) {
  auto response = std::make_shared<TnqURLResponse>();
  response->fill(std::move(responseString), requestId, request, std::move(responseData));
  response->status = Success;
  return response;
}

std::shared_ptr<TnqURLResponse> TnqURLResponse::initWithResponseString(
    std::optional<std::string> responseString, std::int64_t requestId, const std::optional<pf::UrlRequest>& request,
    std::shared_ptr<const pf::Bytes> responseData, const std::optional<pf::Error>& error) {
  auto response = std::make_shared<TnqURLResponse>();
  response->fill(std::move(responseString), requestId, request, std::move(responseData));
  response->status = responseStatusWithError(error);
  response->error = error;
  return response;
}

std::shared_ptr<TnqURLResponse> TnqURLResponse::initWithData(const pf::Bytes& data) {
  auto response = std::make_shared<TnqURLResponse>();
  std::string text = pf::toString(data);
  response->fill(pf::isValidUtf8(text) ? std::optional<std::string>(std::move(text)) : std::nullopt, 0,
                 std::nullopt, std::make_shared<const pf::Bytes>(data));
  return response;
}

}  // namespace app
