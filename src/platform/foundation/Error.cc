#include "platform/foundation/Error.h"

#include <cstring>

namespace pf {

std::string Error::localizedDescription() const {
  if (userInfo.is_object()) {
    auto it = userInfo.find(kLocalizedDescriptionKey);
    if (it != userInfo.end() && it->is_string()) return it->get<std::string>();
  }
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::string Error::localizedFailureReason() const {
  if (userInfo.is_object()) {
    auto it = userInfo.find(kLocalizedFailureReasonKey);
    if (it != userInfo.end() && it->is_string()) return it->get<std::string>();
  }
  return {};
}

Error Error::withUnderlying(Error cause) const {
  Error copy = *this;
  copy.underlying = std::make_shared<const Error>(std::move(cause));
  return copy;
}

bool Error::operator==(const Error& other) const {
  if (domain != other.domain || code != other.code || userInfo != other.userInfo) return false;
  if (!underlying || !other.underlying) return !underlying && !other.underlying;
  return *underlying == *other.underlying;
}

std::string description(const Error& error) {
  std::string out = "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
                    error.localizedDescription() + "\" UserInfo={";
  bool first = true;
  if (error.userInfo.is_object()) {
    for (const auto& [key, value] : error.userInfo.items()) {
      if (!first) out += ", ";
      first = false;
      out += key + "=" + (value.is_string() ? value.get<std::string>() : description(value));
    }
  }
  if (error.underlying) {
    if (!first) out += ", ";
    out += std::string(kUnderlyingErrorKey) + "=" + description(*error.underlying);
  }
  return out + "}";
}

Error posixError(int errnoValue, const std::string& context) {
  char buf[256];
  const char* text = strerror_r(errnoValue, buf, sizeof buf);
  std::string message = context.empty() ? std::string(text) : context + ": " + text;
  return Error(kPosixErrorDomain, errnoValue, Value{{kLocalizedDescriptionKey, message}});
}

}  // namespace pf
