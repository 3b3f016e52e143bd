#include "container/MwHttpResponse.h"

#include <strings.h>

namespace container {

const pf::Value& MwHttpResponse::getHeaders() const {
  static const pf::Value empty = pf::Value::object();
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

std::optional<std::string> MwHttpResponse::headerValue(std::string_view name) const {
  return headerFieldValue(getHeaders(), name);
}

std::optional<std::string> headerFieldValue(const pf::Value& headers, std::string_view name) {
  if (!headers.is_object()) return std::nullopt;
  for (const auto& [key, value] : headers.items()) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
      if (value.is_string()) return value.get<std::string>();
      if (value.is_number()) return value.dump();
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace container
