#include "app/TnqApiRequestBuilder.h"

#include "app/TnqApiServices.h"
#include "app/TnqURLResponse.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/Text.h"

namespace app {

namespace {

pf::SharedInstance<TnqRequestBuilder> gRequestBuilder;
pf::SharedInstance<TnqCommonParamsBuilder> gCommonParamsBuilder;

// Inside the JSON of a query or a form body "&", "+" and "#" are escaped as well, so that a query
// or form decoder reads back exactly the text sent; so are "[" and "]", which a query may not hold.
constexpr std::string_view kEscapedInValues = "&+#[]";

// The URL of a service's method keeps the reserved characters, "[" and "]" (an IPv6 host) among
// them, which the legacy escaping's older legal set lacks.
std::string escapedUrl(std::string_view url) { return pf::addPercentEscapes(url, "[]"); }

// A base URL may carry escapes of its own (the zone "%25lo" of an IPv6 host, "%20" in a path):
// each "%" with two hex digits stays as written; the rest is escaped as any URL text.
std::string escapedBaseUrl(std::string_view url) {
  std::string out;
  std::size_t done = 0;
  for (std::size_t i = 0; i + 2 < url.size(); ++i) {
    if (url[i] != '%' || pf::hexDigit(url[i + 1]) < 0 || pf::hexDigit(url[i + 2]) < 0) continue;
    out += escapedUrl(url.substr(done, i - done));
    out += url.substr(i, 3);
    done = i + 3;
    i += 2;
  }
  return out + escapedUrl(url.substr(done));
}

std::optional<std::string> prettyJson(const pf::Value& params) {
  pf::JsonWriteOptions options;
  options.pretty = true;
  return pf::writeJson(params, options);
}

// The escaped URL text of a service's method, or nullopt for an unknown service.
std::optional<std::string> methodUrl(const std::string& serviceIdentifier, const std::string& methodName) {
  auto service = TnqServiceFactory::sharedInstance()->serviceWithIdentifier(serviceIdentifier);
  if (!service) return std::nullopt;
  return escapedBaseUrl(service->apiBaseUrl()) + escapedUrl(service->apiService() + methodName);
}

std::optional<pf::UrlRequest> makeRequest(const std::string& escapedUrl, const std::optional<pf::Value>& params) {
  auto url = pf::Url::parse(escapedUrl);
  if (!url) return std::nullopt;
  pf::UrlRequest request(std::move(url), TnqRequestBuilder::kTimeoutInterval);
  request.properties()["cachePolicy"] = 0;  // the protocol's own policy
  TnqNetworkMethods::setRequestParams(request, params);
  request.setValue("XMLHttpRequest", "X-Requested-With");
  return request;
}

}  // namespace

std::shared_ptr<TnqRequestBuilder> TnqRequestBuilder::sharedInstance() {
  return gRequestBuilder.get([] { return std::make_shared<TnqRequestBuilder>(); });
}

std::optional<pf::UrlRequest> TnqRequestBuilder::buildGetRequestWithServiceIdentifier(
    const std::string& serviceIdentifier, const std::optional<pf::Value>& requestParams,
    const std::string& methodName) const {
  auto url = methodUrl(serviceIdentifier, methodName);
  if (!url) return std::nullopt;
  std::string text = *url;
  if (requestParams) {
    auto json = prettyJson(*requestParams);
    if (!json) return std::nullopt;
    text += "?requestJson=" + pf::addPercentEscapes(*json, {}, kEscapedInValues);
  }
  auto request = makeRequest(text, requestParams);
  if (request) request->setHttpMethod("GET");
  return request;
}

std::optional<pf::UrlRequest> TnqRequestBuilder::buildPostRequestWithServiceIdentifier(
    const std::string& serviceIdentifier, const std::optional<pf::Value>& requestParams,
    const std::string& methodName) const {
  auto url = methodUrl(serviceIdentifier, methodName);
  if (!url) return std::nullopt;
  auto request = makeRequest(*url, requestParams);
  if (!request) return std::nullopt;
  if (requestParams) {
    auto body = TnqCommonParamsBuilder::paramPostWithServerIdentify(serviceIdentifier, *requestParams);
    if (!body) return std::nullopt;
    request->setHttpBody(pf::toBytes(pf::addPercentEscapes(*body, {}, kEscapedInValues)));
  }
  request->setHttpMethod("POST");
  return request;
}

std::shared_ptr<TnqCommonParamsBuilder> TnqCommonParamsBuilder::sharedInstance() {
  return gCommonParamsBuilder.get([] { return std::make_shared<TnqCommonParamsBuilder>(); });
}

std::optional<std::string> TnqCommonParamsBuilder::paramPostWithServerIdentify(const std::string&,
                                                                               const pf::Value& param) {
  auto json = prettyJson(param);
  if (!json) return std::nullopt;
  return "reqJson=" + *json;
}

bool TnqNetworkInterceptor::loginTimtoutInterceptor(const std::optional<std::string>&) { return true; }

}  // namespace app
