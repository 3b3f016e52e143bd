#include "container/MwHttpResponse.h"

#include "container/HnNetworkOperation.h"
#include "platform/foundation/Clock.h"
#include "platform/net/Cookie.h"

namespace container {

const pf::HttpHeaders& MwHttpResponse::getHeaders() const {
  static const pf::HttpHeaders empty;
  return empty;
}

const std::optional<pf::Bytes>& MwHttpResponse::getResponseData() const {
  static const std::optional<pf::Bytes> none;
  return none;
}

const std::optional<std::string>& MwHttpResponse::getSessionId() const {
  static const std::optional<std::string> none;
  return none;
}

MwHttpResponseImp::MwHttpResponseImp(HnNetworkOperation& operation) {
  const auto& response = operation.readonlyResponse();
  if (!response) return;
  statusCode_ = response->statusCode();
  headers_ = response->allHeaderFields();
  data_ = operation.takeResponseData();
  const auto& url = operation.readonlyRequest().url();
  if (!url) return;
  for (const auto& cookie : pf::cookiesFromResponseHeaders(headers_, *url, pf::Clock::now())) {
    if (cookie.name.find("SESSIONID") == std::string::npos) continue;
    sessionId_ = cookie.value.substr(0, cookie.value.find(':'));
    break;
  }
}

}  // namespace container
