#pragma once
// Talking to the demo bank's control page: a JSON command posted, the JSON answer read back
// (null when there is none, also when `timeout` seconds pass first).

#include <string>

#include "platform/foundation/Json.h"
#include "platform/net/UrlConnection.h"

inline pf::Value postToDemoBank(const std::string& url, const pf::Value& body, double timeout = 30) {
  pf::UrlRequest request(*pf::Url::parse(url), timeout);
  request.setHttpMethod("POST");
  request.setHttpBody(pf::toBytes(*pf::writeJson(body)));
  auto result = pf::UrlConnection::sendSynchronousRequest(request);
  auto parsed = pf::parseJson(std::string(result.data.begin(), result.data.end()));
  return parsed ? *parsed : pf::Value();
}
